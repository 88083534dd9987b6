#include "app/gui/anchors.h"

#include <QEvent>

namespace app {

HorizontalAnchors::HorizontalAnchors(QWidget& container)
    : QObject(&container), container_(container) {
    container.installEventFilter(this);
}

void HorizontalAnchors::Add(QWidget& control, HorizontalAnchor anchor) {
    references_.push_back({&control, anchor, control.geometry(), container_.width()});
}

void HorizontalAnchors::Remember(QWidget& control) {
    for (Reference& reference : references_) {
        if (reference.control != &control) continue;
        reference.bounds = control.geometry();
        reference.containerWidth = container_.width();
    }
}

bool HorizontalAnchors::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &container_ && event->type() == QEvent::Resize) Follow();
    return false;
}

void HorizontalAnchors::Follow() {
    int width = container_.width();
    for (const Reference& reference : references_) {
        QRect bounds = reference.bounds;
        int growth = width - reference.containerWidth;
        switch (reference.anchor) {
            case HorizontalAnchor::LeftAndRight:
                bounds.setWidth(bounds.width() + growth);
                break;
            case HorizontalAnchor::Right:
                bounds.moveLeft(bounds.left() + growth);
                break;
            case HorizontalAnchor::Neither:
                if (reference.containerWidth > 0) {
                    int centre =
                        (bounds.left() + bounds.width() / 2) * width / reference.containerWidth;
                    bounds.moveLeft(centre - bounds.width() / 2);
                }
                break;
        }
        reference.control->setGeometry(bounds);
    }
}

}  // namespace app
