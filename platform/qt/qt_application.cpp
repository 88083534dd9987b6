#include "platform/qt/qt_application.h"

#include <QAbstractEventDispatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include "platform/message_loop.h"

namespace platform {
namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), text.size());
}

}  // namespace

QtApplication::QtApplication(int& argc, char** argv) : QApplication(argc, argv) {
    loopNotifier_ =
        std::make_unique<QSocketNotifier>(MessageLoopDescriptor(), QSocketNotifier::Read);
    connect(loopNotifier_.get(), &QSocketNotifier::activated, this,
            [this] { DispatchOurMessages(); });
    SetApplication(this);
}

QtApplication::~QtApplication() {
    SetApplication(nullptr);
}

void QtApplication::DispatchOurMessages() {
    if (ProcessPendingMessages()) Terminate();
}

void QtApplication::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    DispatchOurMessages();
}

void QtApplication::WaitForInput(int timeoutMs) {
    // Qt's dispatcher watches our descriptor too, so either kind of input ends the wait.
    if (platform::WaitForInput(0)) return;
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(timeoutMs);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtApplication::Terminate() {
    Application::Terminate();
    quit();
}

void QtApplication::ShowException(const std::exception& error) {
    QMessageBox box(QMessageBox::Critical, FromUtf8(Title()), FromUtf8(ErrorReportText(error)),
                    QMessageBox::Ok, activeWindow());
    box.exec();
}

MessageBoxResult QtApplication::MessageBox(const std::string& text, const std::string& caption,
                                           MessageBoxButtons buttons) {
    bool yesNo = buttons != MessageBoxButtons::Ok;
    QMessageBox box(QMessageBox::NoIcon, FromUtf8(caption), FromUtf8(text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, activeWindow());
    if (buttons == MessageBoxButtons::YesNoDefaultNo) box.setDefaultButton(QMessageBox::No);
    int answer = box.exec();
    if (!yesNo) return MessageBoxResult::Ok;
    return answer == QMessageBox::Yes ? MessageBoxResult::Yes : MessageBoxResult::No;
}

std::optional<std::string> QtApplication::SelectDirectory() {
    QFileDialog dialog(activeWindow());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    QString chosen = dialog.selectedFiles().first();
    if (!QDir(chosen).exists()) {
        auto answer = QMessageBox::question(activeWindow(), FromUtf8(Title()),
                                            "The specified directory does not exist. Create it?");
        if (answer != QMessageBox::Yes || !QDir().mkpath(chosen)) return std::nullopt;
    }
    return chosen.toStdString();
}

bool QtApplication::OpenUrl(const std::string& url) {
    return QDesktopServices::openUrl(QUrl(FromUtf8(url)));
}

bool QtApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
        return false;
    }
}

}  // namespace platform
