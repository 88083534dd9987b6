#include "app/gui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>

#include "app/gui/about_window.h"
#include "app/gui/anchors.h"
#include "app/gui/controls.h"
#include "app/gui/gauge.h"
#include "app/gui/progress_window.h"

namespace app {
namespace {

constexpr int kPanelWidth = 1016;
constexpr int kPanelHeight = 717;
constexpr int kListRowHeight = 13;

}  // namespace

TForm1::TForm1(const std::string& programDir, std::uint16_t systemLanguageId)
    : monitor_(*this, programDir) {
    setObjectName("Form1");
    setWindowTitle("TOVEKA Vozuvor Ezirezodoz");
    BuildMenu();
    BuildPanel();
    SetCaptions(*this, Window::Main, 0);
    findChild<QAction*>("English1")->setText("English");  // the form's text until a switch
    resize(kPanelWidth, kPanelHeight + menuBar()->sizeHint().height());
    FormCreate(systemLanguageId);
}

void TForm1::BuildMenu() {
    QMenu* language = menuBar()->addMenu(QString());
    language->setObjectName("Sprache1");
    QAction* german = language->addAction(QString(), [this] { monitor_.Deutsch1Click(); });
    german->setObjectName("Deutsch1");
    german->setEnabled(false);
    QAction* english = language->addAction(QString(), [this] { monitor_.English1Click(); });
    english->setObjectName("English1");
    QAction* about = menuBar()->addAction(QString(), [this] { monitor_.AboutClick(); });
    about->setObjectName("About");
}

void TForm1::BuildPanel() {
    auto* panel = new QFrame(this);
    panel->setObjectName("Panel1");
    panel->setFrameStyle(QFrame::Box | QFrame::Plain);
    panel->setFont(SansSerifFont(11));  // the window's base font; the menu keeps the system's
    panel->resize(kPanelWidth, kPanelHeight);
    setCentralWidget(panel);
    anchors_ = new HorizontalAnchors(*panel);

    Place<QLabel>(panel, "Label1", {8, 8, 232, 24});
    auto* button2 = Place<QPushButton>(panel, "Button2", {760, 8, 241, 25});
    listBox1_ = Place<QListWidget>(panel, "ListBox1", {8, 40, 993, 385});
    listBox1_->setUniformItemSizes(true);
    Place<QLabel>(panel, "Label2", {8, 432, 309, 24});
    edit1_ = Place<QLineEdit>(panel, "Edit1", {8, 464, 889, 32});
    auto* button1 = Place<QPushButton>(panel, "Button1", {896, 464, 105, 33});
    Place<QLabel>(panel, "Label3", {8, 504, 332, 24});
    edit2_ = Place<QLineEdit>(panel, "Edit2", {8, 536, 889, 32});
    auto* button4 = Place<QPushButton>(panel, "Button4", {896, 536, 105, 33});
    auto* button3 = Place<QPushButton>(panel, "Button3", {281, 584, 537, 33});
    checkBox1_ = Place<QCheckBox>(panel, "CheckBox1", {8, 632, 425, 25});
    auto* label4 = Place<QLabel>(panel, "Label4", {8, 672, 186, 24});
    label4->setMaximumWidth(186);  // ProxyEdit begins right of it
    label4->hide();
    proxyEdit_ = Place<QLineEdit>(panel, "ProxyEdit", {208, 664, 793, 32});
    proxyEdit_->hide();
    // The list box keeps the window's small base font.
    for (QWidget* control : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control != listBox1_) control->setFont(SansSerifFont(kControlPixelSize));

    for (QWidget* stretching :
         std::initializer_list<QWidget*>{listBox1_, edit1_, edit2_, proxyEdit_})
        anchors_->Add(*stretching, HorizontalAnchor::LeftAndRight);
    for (QWidget* rightSide : {button1, button2, button4})
        anchors_->Add(*rightSide, HorizontalAnchor::Right);
    anchors_->Add(*button3, HorizontalAnchor::Neither);

    QWidget* tabOrder[] = {listBox1_, edit1_,     button1,    button2, edit2_,
                           button3,   proxyEdit_, checkBox1_, button4};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(button1, &QPushButton::clicked, this, [this] { monitor_.Button1Click(); });
    connect(button2, &QPushButton::clicked, this, [this] { monitor_.Button2Click(); });
    connect(button3, &QPushButton::clicked, this, [this] { monitor_.Button3Click(); });
    connect(button4, &QPushButton::clicked, this, [this] { monitor_.Button4Click(); });
    connect(checkBox1_, &QCheckBox::toggled, this, [this] { monitor_.CheckBox1Click(); });
}

void TForm1::FormCreate(std::uint16_t systemLanguageId) {
    CentreOnScreen(*this);
    setWindowTitle(windowTitle() + " 1.00");
    monitor_.FormCreate(systemLanguageId);
    WhenFrameKnown(*this, [this] {
        CentreOnScreen(*this);
        CentreHorizontally(*this, "Button3");
        anchors_->Remember(*findChild<QWidget*>("Button3"));
    });
}

void TForm1::SetProgressWindow(TForm3& window) {
    progress_ = &window;
    window.SetMonitor(monitor_);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (monitor_.RequestClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm1::AppendFeedRow(const std::string& url) {
    auto* row = new QListWidgetItem(ToQString(url), listBox1_);
    row->setSizeHint(QSize(0, kListRowHeight));
}

void TForm1::DeleteFeedRow(int index) {
    delete listBox1_->takeItem(index);
    // Qt would select the next row, and a second click on Delete would remove that feed too.
    listBox1_->setCurrentRow(-1);
    listBox1_->clearSelection();
}

int TForm1::SelectedFeedRow() const {
    QList<QListWidgetItem*> selected = listBox1_->selectedItems();
    return selected.isEmpty() ? -1 : listBox1_->row(selected.first());
}

std::string TForm1::NewFeedText() const {
    return edit1_->text().toStdString();
}

void TForm1::SetNewFeedText(const std::string& text) {
    edit1_->setText(ToQString(text));
}

std::string TForm1::FolderText() const {
    return edit2_->text().toStdString();
}

void TForm1::SetFolderText(const std::string& text) {
    edit2_->setText(ToQString(text));
}

std::string TForm1::ProxyText() const {
    return proxyEdit_->text().toStdString();
}

bool TForm1::ProxyChecked() const {
    return checkBox1_->isChecked();
}

void TForm1::ShowAboutModal() {
    if (about_) about_->exec();
}

QWidget* TForm1::WindowOf(Window window) const {
    if (window == Window::Main) return const_cast<TForm1*>(this);
    return progress_;
}

QWidget* TForm1::WidgetOf(Window window, const std::string& control) const {
    QWidget* form = WindowOf(window);
    return form ? qobject_cast<QWidget*>(FindControl(*form, control)) : nullptr;
}

void TForm1::SetCaption(Window window, const std::string& control, const std::string& text) {
    QWidget* form = WindowOf(window);
    if (QObject* target = form ? FindControl(*form, control) : nullptr)
        app::SetCaption(*target, ToQString(text));
}

void TForm1::SetEnabled(Window window, const std::string& control, bool enabled) {
    QWidget* form = WindowOf(window);
    QObject* target = form ? FindControl(*form, control) : nullptr;
    if (auto* action = qobject_cast<QAction*>(target)) action->setEnabled(enabled);
    if (auto* widget = qobject_cast<QWidget*>(target)) widget->setEnabled(enabled);
}

void TForm1::SetVisible(Window window, const std::string& control, bool visible) {
    if (QWidget* widget = WidgetOf(window, control)) widget->setVisible(visible);
}

void TForm1::SetGaugeValue(Window window, const std::string& control, int value) {
    if (auto* gauge = dynamic_cast<Gauge*>(WidgetOf(window, control))) gauge->SetProgress(value);
}

int TForm1::Width(Window window, const std::string& control) const {
    QWidget* widget = WidgetOf(window, control);
    if (!widget) return 0;
    return widget->isWindow() ? OuterWidth(*widget) : widget->width();
}

void TForm1::SetLeft(Window window, const std::string& control, int left) {
    QWidget* widget = WidgetOf(window, control);
    if (!widget) return;
    widget->move(left, widget->y());
    anchors_->Remember(*widget);
}

}  // namespace app
