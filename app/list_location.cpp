#include "app/list_location.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace app {
namespace {

constexpr const char* kListFileName = "liste.pdl";
constexpr const char* kProgramFolderName = "podcast-downloader";

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool SameFolder(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

// Even a user who may write there (root) must not fill the system's program folder with lists and
// episodes.
bool IsInstalledProgramFolder(const std::string& folder) {
#ifdef PD_INSTALL_BINDIR
    return SameFolder(folder, PD_INSTALL_BINDIR);
#else
    (void)folder;
    return false;
#endif
}

}  // namespace

std::string UserDataFolder() {
    // A relative value is to be ignored, as the base directory rules say.
    std::string base = EnvironmentValue("XDG_DATA_HOME");
    if (base.empty() || base.front() != '/') base = EnvironmentValue("HOME") + "/.local/share";
    return base + "/" + kProgramFolderName + "/";
}

std::string ListFileLocation(const std::string& programDir) {
    std::error_code error;
    const std::string besideProgram = programDir + kListFileName;
    if (std::filesystem::exists(besideProgram, error)) return besideProgram;
    if (access(programDir.c_str(), W_OK) == 0 && !IsInstalledProgramFolder(programDir))
        return besideProgram;
    return UserDataFolder() + kListFileName;
}

std::string FolderOf(const std::string& file) {
    return file.substr(0, file.rfind('/') + 1);
}

void CreateFolderOf(const std::string& file) {
    const std::string folder = FolderOf(file);
    if (folder.empty()) return;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
}

}  // namespace app
