// Controls of a container that follow its width as their anchors say: anchored left and right,
// a control stretches; anchored right only, it moves with the right edge; anchored on neither
// side, its horizontal centre keeps its share of the width. Vertical places stay, as every
// anchored control here hangs from the top.
#pragma once

#include <QObject>
#include <QRect>
#include <QWidget>
#include <vector>

namespace app {

enum class HorizontalAnchor { LeftAndRight, Right, Neither };

class HorizontalAnchors : public QObject {
  public:
    explicit HorizontalAnchors(QWidget& container);

    // The control's present bounds and the container's present width are its reference.
    void Add(QWidget& control, HorizontalAnchor anchor);
    // Takes the present bounds as the new reference after code moved the control.
    void Remember(QWidget& control);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Reference {
        QWidget* control;
        HorizontalAnchor anchor;
        QRect bounds;
        int containerWidth;
    };
    void Follow();

    QWidget& container_;
    std::vector<Reference> references_;
};

}  // namespace app
