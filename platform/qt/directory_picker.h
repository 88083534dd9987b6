// The folder picker: Qt's own dialog, which in directory mode refuses the name of a folder that
// does not exist yet. This one accepts such a name, asks whether to create the folder and creates
// it with its parents on yes.
#pragma once

#include <QFileDialog>

#include "platform/application.h"

class QPushButton;

namespace platform {

class DirectoryPicker : public QFileDialog {
  public:
    // Starts in the process's working folder; its own questions are in language, with title as
    // their caption.
    DirectoryPicker(QWidget* parent, InterfaceLanguage language, QString title);

    // The folder confirmed, once exec() returned Accepted.
    QString ChosenFolder() const;

  protected:
    void accept() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool NamesAMissingFolder() const;
    bool CreateFolder(const QString& folder);

    InterfaceLanguage language_;
    QString title_;
    QPushButton* chooseButton_ = nullptr;
};

}  // namespace platform
