// One run at a time per list: the window program and the command-line program each hold a lock on
// a file beside the list for the length of a run, so two runs never download the same episodes.
#pragma once

#include <string>

namespace app {

class RunLock {
  public:
    // Tries to take the lock "listFile.lock" without waiting. When the lock file cannot be made
    // (a folder nobody may write), the run goes on unguarded: it could not save its list there
    // either, and refusing would make a read-only copy useless.
    explicit RunLock(const std::string& listFile);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // False when another run, in this process or another, holds the lock.
    bool Acquired() const { return acquired_; }

  private:
    int fd_ = -1;
    bool acquired_ = true;
};

}  // namespace app
