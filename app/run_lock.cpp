#include "app/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "app/list_location.h"

namespace app {

RunLock::RunLock(const std::string& listFile) {
    const std::string path = listFile + ".lock";
    CreateFolderOf(path);
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    // The lock is the kernel's and goes with the descriptor, so a run that crashes never leaves a
    // stale lock behind; the file itself stays, as removing it would race with the next run.
    int result;
    do {
        result = flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        acquired_ = errno != EWOULDBLOCK;
        close(fd_);
        fd_ = -1;
    }
}

RunLock::~RunLock() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace app
