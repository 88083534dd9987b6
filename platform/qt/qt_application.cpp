#include "platform/qt/qt_application.h"

#include <QAbstractEventDispatcher>
#include <QDesktopServices>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include "platform/message_loop.h"
#include "platform/qt/directory_picker.h"

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
    DirectoryPicker picker(activeWindow(), Language(), FromUtf8(Title()));
    if (picker.exec() != QDialog::Accepted || picker.ChosenFolder().isEmpty()) return std::nullopt;
    return QFile::encodeName(picker.ChosenFolder()).toStdString();
}

void QtApplication::SetInterfaceLanguage(InterfaceLanguage language) {
    Application::SetInterfaceLanguage(language);
    removeTranslator(&qtTexts_);
    // Qt's texts come in English; German ones come with the system's Qt translations.
    if (language == InterfaceLanguage::German &&
        qtTexts_.load(QLocale(QLocale::German, QLocale::Germany), "qtbase", "_",
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(&qtTexts_);
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
