#include "platform/application.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/exception.h"
#include "platform/headless_application.h"

namespace platform {
namespace {

TEST(ErrorReportText, AddsAPeriodOnlyAfterCharactersAbovePeriod) {
    const std::pair<const char*, const char*> cases[] = {
        {"Disk full", "Disk full."},
        {"Error 42", "Error 42."},
        {"Done.", "Done."},
        {"Really!", "Really!"},
        {"(a)", "(a)"},
        {"x/", "x/."},  // '/' comes after '.'
        {"Gr\xC3\xBC\xC3\x9F", "Gr\xC3\xBC\xC3\x9F."},
        {"", ""}};
    for (const auto& [text, report] : cases)
        EXPECT_EQ(ErrorReportText(Exception(text)), report) << text;
}

TEST(HeadlessApplication, AnswersFromTheScriptAndReportsWhatIsUnexpected) {
    HeadlessApplication app;
    app.ScriptAnswer(MessageBoxResult::Yes);
    EXPECT_EQ(app.MessageBox("Delete?", "Q", MessageBoxButtons::YesNo), MessageBoxResult::Yes);
    std::vector<std::string> unexpected;
    app.OnUnexpectedBox = [&](const ShownBox& box) { unexpected.push_back(box.text); };
    EXPECT_EQ(app.MessageBox("Again?", "Q", MessageBoxButtons::YesNo), MessageBoxResult::No);
    EXPECT_EQ(app.MessageBox("Done", "S", MessageBoxButtons::Ok), MessageBoxResult::Ok);
    EXPECT_EQ(unexpected, (std::vector<std::string>{"Again?", "Done"}));
    ASSERT_EQ(app.ShownBoxes().size(), 3u);
    EXPECT_EQ(app.ShownBoxes()[0].caption, "Q");
}

TEST(HeadlessApplication, DirectoryPickerCreatesATypedInDirectory) {
    auto root = std::filesystem::temp_directory_path() / "pd_picker_test";
    std::filesystem::remove_all(root);
    HeadlessApplication app;
    app.ScriptDirectory((root / "a" / "b").string());
    app.ScriptDirectory(std::nullopt);
    EXPECT_EQ(app.SelectDirectory(), (root / "a" / "b").string());
    EXPECT_TRUE(std::filesystem::is_directory(root / "a" / "b"));
    EXPECT_EQ(app.SelectDirectory(), std::nullopt);
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace platform
