// Locks on a list shared by the window program and the command-line program: each is an flock on
// a file beside the list. The kernel drops it with the descriptor, so a program that crashes never
// leaves a stale lock behind; the file itself stays, as removing it would race with the next
// holder.
#pragma once

#include <chrono>
#include <string>

namespace app {

class ListLock {
  public:
    ~ListLock();
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

    // False when another holder, in this process or another, kept the lock for all of the wait.
    bool Acquired() const { return acquired_; }

  protected:
    // Makes the folder of lockFile and the file. When they cannot be made (a folder nobody may
    // write), the work goes on unguarded: it could not save its list there either, and refusing
    // would make a read-only copy useless.
    ListLock(const std::string& lockFile, std::chrono::milliseconds wait);

  private:
    int fd_ = -1;
    bool acquired_ = true;
};

// One run at a time per list, so two runs never download the same episodes: "listFile.lock",
// taken without waiting.
class RunLock : public ListLock {
  public:
    explicit RunLock(const std::string& listFile) : ListLock(listFile + ".lock", {}) {}
};

// One save at a time per list, so that re-reading, merging and writing the list is never
// interleaved with another program's save: "listFile.save.lock". It is held for milliseconds, so
// unlike the run lock, which a scan holds for minutes, a program may wait for it.
class SaveLock : public ListLock {
  public:
    SaveLock(const std::string& listFile, std::chrono::milliseconds wait)
        : ListLock(listFile + ".save.lock", wait) {}
};

}  // namespace app
