#include "app/gui/about_window.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QVBoxLayout>
#include <functional>

#include "app/gui/about_picture.h"
#include "app/gui/controls.h"
#include "platform/application.h"

namespace app {
namespace {

class ClickableLabel : public QLabel {
  public:
    using QLabel::QLabel;
    std::function<void()> OnClick;

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            OnClick)
            OnClick();
    }
};

}  // namespace

TForm2::TForm2(std::string pageUrl) : pageUrl_(std::move(pageUrl)) {
    setObjectName("Form2");
    setWindowTitle("TOVEKA Vededezevirivedo");
    setFont(SansSerifFont(10));
    setFixedSize(365, 260);

    auto* panel = new QFrame(this);
    panel->setObjectName("Panel1");
    panel->setAutoFillBackground(true);
    QPalette colours = panel->palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::HighlightedText));
    panel->setPalette(colours);
    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(panel);

    auto* image = Place<ClickableLabel>(panel, "Image1", {64, -1, 265, 170});
    image->setPixmap(QPixmap::fromImage(MakeAboutPicture()));
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* name = Place<ClickableLabel>(panel, "Label2", {35, 172, 302, 42});
    name->setFont(NamedFont("Times New Roman", 37));
    name->setText("Vozuvor Ezirezodoz");
    // The name shows whole even where a wider font stands in for the one asked for; then the
    // label takes the width of its text.
    FitFont(*name, 37);
    name->resize(name->sizeHint().width(), name->height());
    image->OnClick = [this] { Image1Click(); };
    name->OnClick = [this] { Label2Click(); };
    image->setCursor(Qt::PointingHandCursor);
    name->setCursor(Qt::PointingHandCursor);
    FormCreate();
    WhenFrameKnown(*this, [this] { FormCreate(); });
}

void TForm2::FormCreate() {
    CentreOnScreen(*this);
    CentreHorizontally(*this, "Image1");
    CentreHorizontally(*this, "Label2");
}

void TForm2::OpenPage() const {
    platform::App().OpenUrl(pageUrl_);  // a failure says nothing
}

}  // namespace app
