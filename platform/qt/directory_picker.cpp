#include "platform/qt/directory_picker.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>
#include <system_error>

#include "platform/exception.h"

namespace platform {
namespace {

QString CreateQuestion(InterfaceLanguage language) {
    return language == InterfaceLanguage::German
               ? QString("Das angegebene Verzeichnis existiert nicht. Soll es erstellt werden?")
               : QString("The specified directory does not exist. Create it?");
}

std::string CannotCreateText(InterfaceLanguage language, const std::string& folder,
                             const std::string& reason) {
    return language == InterfaceLanguage::German ? folder + " kann nicht erstellt werden: " + reason
                                                 : "Cannot create " + folder + ": " + reason;
}

}  // namespace

DirectoryPicker::DirectoryPicker(QWidget* parent, InterfaceLanguage language, QString title)
    : QFileDialog(parent), language_(language), title_(std::move(title)) {
    // Only Qt's own dialog can be taught to take a new name.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly);
    if (auto* buttons = findChild<QDialogButtonBox*>("buttonBox")) {
        chooseButton_ = buttons->button(QDialogButtonBox::Open);
        if (chooseButton_) chooseButton_->installEventFilter(this);
    }
}

QString DirectoryPicker::ChosenFolder() const {
    return selectedFiles().value(0);
}

bool DirectoryPicker::NamesAMissingFolder() const {
    QStringList chosen = selectedFiles();
    return !chosen.isEmpty() && !QFileInfo::exists(chosen.first());
}

void DirectoryPicker::accept() {
    if (NamesAMissingFolder()) {
        if (QMessageBox::question(this, title_, CreateQuestion(language_)) != QMessageBox::Yes)
            return;
        if (!CreateFolder(ChosenFolder())) return;
    }
    QFileDialog::accept();
}

bool DirectoryPicker::CreateFolder(const QString& folder) {
    const std::string path = QFile::encodeName(folder).toStdString();
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (!error) return true;
    App().ShowException(Exception(CannotCreateText(language_, path, error.message())));
    return false;
}

bool DirectoryPicker::eventFilter(QObject* watched, QEvent* event) {
    // Qt disables its button for a name that does not exist; here that is a folder to create.
    if (watched == chooseButton_ && event->type() == QEvent::EnabledChange &&
        !chooseButton_->isEnabled() && NamesAMissingFolder())
        chooseButton_->setEnabled(true);
    return QFileDialog::eventFilter(watched, event);
}

}  // namespace platform
