#include "app/file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/exception.h"

namespace app {
namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

[[noreturn]] void Fail(const std::string& path, int error) {
    throw platform::Exception("Cannot write " + path + ": " + std::strerror(error));
}

}  // namespace

void ReplaceFileContents(const std::string& path, std::string_view contents) {
    const std::string temporary = path + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) Fail(path, errno);
    bool written = WriteAll(fd, contents) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return;
    if (written) error = errno;
    ::unlink(temporary.c_str());
    Fail(path, error);
}

}  // namespace app
