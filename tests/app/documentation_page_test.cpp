#include "app/documentation_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace app {
namespace {

TEST(DocumentationPage, IsAFileAddressOfTheReadme) {
    EXPECT_EQ(FileUrl("/a b/Gr\xC3\xBC\xC3\x9F#1/README.md"),
              "file:///a%20b/Gr%C3%BC%C3%9F%231/README.md");

    auto dir = std::filesystem::temp_directory_path() / "pd_documentation_page";
    std::filesystem::create_directories(dir);
    std::string programDir = dir.string() + "/";
    std::string fromSourceTree = DocumentationPageUrl(programDir);
    EXPECT_TRUE(fromSourceTree.starts_with("file:///")) << fromSourceTree;
    EXPECT_TRUE(fromSourceTree.ends_with("/README.md")) << fromSourceTree;

    std::ofstream(programDir + "README.md") << "installed";
    EXPECT_EQ(DocumentationPageUrl(programDir), FileUrl(programDir + "README.md"));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace app
