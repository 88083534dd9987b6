#include "app/partial_file.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace app {
namespace {

bool IsPlainFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
}

// Clears the temporary name of a file or link left there (by a crashed run, or planted). A
// directory is left alone.
void Clear(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, error)))
        std::filesystem::remove(path, error);
}

platform::FileMode OpeningMode(const std::string& path, bool continueKept) {
    if (continueKept && IsPlainFile(path)) return platform::FileMode::OpenReadWrite;
    Clear(path);
    return platform::FileMode::CreateNew;
}

}  // namespace

std::string TemporaryPathOf(const std::string& path) {
    constexpr std::size_t kMaxNameBytes = 255;
    constexpr std::string_view kSuffix = ".part";
    const std::size_t nameStart = path.rfind('/') + 1;
    const std::size_t nameBytes = std::min(path.size() - nameStart, kMaxNameBytes - kSuffix.size());
    return path.substr(0, nameStart + nameBytes) + std::string(kSuffix);
}

PartialFile::PartialFile(const std::string& path, bool continueKept)
    : path_(TemporaryPathOf(path)), stream_(path_, OpeningMode(path_, continueKept)) {
    keptBytes_ = stream_.Seek(0, platform::SeekOrigin::End);
}

PartialFile::~PartialFile() {
    if (kept_) return;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void PartialFile::StartOver() {
    stream_.SetSize(0);
    keptBytes_ = 0;
}

void PartialFile::KeepKeptBytes() {
    stream_.SetSize(keptBytes_);
    Keep();
}

void PartialFile::Keep() {
    stream_.Flush();
    kept_ = true;
}

void PartialFile::Complete(const std::string& finalPath) {
    stream_.Flush();
    std::filesystem::rename(path_, finalPath);
    kept_ = true;
}

}  // namespace app
