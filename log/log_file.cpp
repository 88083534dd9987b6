#include "log/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

[[noreturn]] void ThrowErrno(const std::string& what, const std::string& path) {
    throw ELoggerException(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

TLogFile::~TLogFile() {
    Close();
}

void TLogFile::Open(const std::string& path, bool truncate) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno("Cannot open the log file", path);
    if (truncate && ::ftruncate(fd, 0) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        ThrowErrno("Cannot empty the log file", path);
    }
    fd_ = fd;
    path_ = path;
}

void TLogFile::Close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

void TLogFile::Append(const std::string& line) {
    const char* data = line.data();
    std::size_t left = line.size();
    // A regular file takes the whole line at once; only a full disk or a signal splits it.
    while (left > 0) {
        ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowErrno("Cannot write to the log file", path_);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}
