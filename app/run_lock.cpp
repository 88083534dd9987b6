#include "app/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "app/list_location.h"

namespace app {
namespace {

// flock waits without a time-out, so a bounded wait asks again at this interval.
constexpr std::chrono::milliseconds kRetryInterval{5};

// 0 once the lock is taken, otherwise the error that ended the wait.
int LockWithin(int fd, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return error;
        std::this_thread::sleep_for(kRetryInterval);
    }
}

}  // namespace

ListLock::ListLock(const std::string& lockFile, std::chrono::milliseconds wait) {
    CreateFolderOf(lockFile);
    fd_ = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    const int error = LockWithin(fd_, wait);
    if (error != 0) {
        acquired_ = error != EWOULDBLOCK;
        close(fd_);
        fd_ = -1;
    }
}

ListLock::~ListLock() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace app
