#include "platform/qt/directory_picker.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "platform/qt/qt_application.h"
#include "tests/support/modal_script.h"
#include "tests/support/read_only_folder.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace platform {
namespace {

using test_support::ModalScript;

enum class Confirm { WithEnter, WithTheButton };

// Types a name into the real picker, started in folder, and confirms it.
ModalScript::Step<QFileDialog> TypeInto(const QString& folder, const QString& name,
                                        Confirm confirm = Confirm::WithEnter) {
    return [folder, name, confirm](QFileDialog& picker) {
        picker.setDirectory(folder);
        auto* edit = picker.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        QTest::keyClicks(edit, name);
        if (confirm == Confirm::WithEnter) return QTest::keyClick(edit, Qt::Key_Return);
        QPushButton* choose = picker.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
        ASSERT_TRUE(choose->isEnabled());
        QTest::mouseClick(choose, Qt::LeftButton);
    };
}

ModalScript::Step<QMessageBox> Answer(QMessageBox::StandardButton button, QString* text = nullptr) {
    return [button, text](QMessageBox& box) {
        if (text) *text = box.text();
        if (!box.button(button)) {
            ADD_FAILURE() << "a box without that button: " << box.text().toStdString();
            return box.reject();
        }
        QTest::mouseClick(box.button(button), Qt::LeftButton);
    };
}

ModalScript::Step<QFileDialog> Cancel() {
    return [](QFileDialog& picker) { picker.reject(); };
}

QString CancelButtonText(QFileDialog& picker) {
    return picker.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->text();
}

class DirectoryPickerTest : public ::testing::Test {
  protected:
    QtApplication& App() { return *static_cast<QtApplication*>(QCoreApplication::instance()); }
    QTemporaryDir base_;
};

TEST_F(DirectoryPickerTest, ATypedNewFolderIsCreatedWithItsParentsOnYes) {
    QString question;
    ModalScript script;
    script.Then(TypeInto(base_.path(), "Neu/Podcasts")).Then(Answer(QMessageBox::Yes, &question));
    std::optional<std::string> chosen = App().SelectDirectory();
    EXPECT_EQ(question, "The specified directory does not exist. Create it?");
    EXPECT_EQ(chosen, base_.path().toStdString() + "/Neu/Podcasts");
    EXPECT_TRUE(QDir(base_.path() + "/Neu/Podcasts").exists());
}

TEST_F(DirectoryPickerTest, NoCreatesNothingAndLeavesThePickerOpen) {
    ModalScript script;
    script.Then(TypeInto(base_.path(), "Neu", Confirm::WithTheButton))
        .Then(Answer(QMessageBox::No))
        .Then(Cancel());
    EXPECT_EQ(App().SelectDirectory(), std::nullopt);
    EXPECT_FALSE(QDir(base_.path() + "/Neu").exists());
}

TEST_F(DirectoryPickerTest, AFolderThatCannotBeCreatedIsReportedAndThePickerStays) {
    QString report;
    ModalScript script;
    script.Then(TypeInto(base_.path(), "Neu"))
        .Then(Answer(QMessageBox::Yes))
        .Then(Answer(QMessageBox::Ok, &report))
        .Then(Cancel());
    {
        test_support::ReadOnlyFolder readOnly(base_.path().toStdString());
        EXPECT_EQ(App().SelectDirectory(), std::nullopt);
    }
    EXPECT_TRUE(report.startsWith("Cannot create " + base_.path() + "/Neu: "))
        << report.toStdString();
    EXPECT_FALSE(QDir(base_.path() + "/Neu").exists());
}

TEST_F(DirectoryPickerTest, AnExistingFolderIsTakenWithoutAQuestion) {
    ASSERT_TRUE(QDir(base_.path()).mkdir("Alt"));
    ModalScript script;
    script.Then(TypeInto(base_.path(), "Alt"));
    EXPECT_EQ(App().SelectDirectory(), base_.path().toStdString() + "/Alt");
}

TEST_F(DirectoryPickerTest, SpeaksTheInterfaceLanguageWithQtsOwnTexts) {
    App().SetInterfaceLanguage(InterfaceLanguage::German);
    QString question, yes, cancel;
    ModalScript script;
    script
        .Then<QFileDialog>([&](QFileDialog& picker) {
            cancel = CancelButtonText(picker);
            TypeInto(base_.path(), "Neu")(picker);
        })
        .Then<QMessageBox>([&](QMessageBox& box) {
            yes = box.button(QMessageBox::Yes)->text();
            Answer(QMessageBox::No, &question)(box);
        })
        .Then(Cancel());
    App().SelectDirectory();
    EXPECT_EQ(question, "Das angegebene Verzeichnis existiert nicht. Soll es erstellt werden?");
    EXPECT_EQ(yes, "&Ja");
    EXPECT_EQ(cancel, "Abbrechen");

    App().SetInterfaceLanguage(InterfaceLanguage::English);
    script.Then<QFileDialog>([&](QFileDialog& picker) {
        cancel = CancelButtonText(picker);
        picker.reject();
    });
    App().SelectDirectory();
    EXPECT_EQ(cancel, "Cancel");
}

}  // namespace
}  // namespace platform
