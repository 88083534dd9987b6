// Runs a program as a child process with the given arguments and environment, its standard output
// and error captured through pipes (so neither is a terminal) and no standard input.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace app::cli::testing {

struct ProgramResult {
    int status = -1;  // the exit status; 128 + the signal when a signal ended it
    std::string out;
    std::string err;
};

class ProgramRun {
  public:
    ProgramRun(const std::vector<std::string>& argv, const std::vector<std::string>& environment);
    ~ProgramRun();  // kills a child still running
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int signal);
    // Collects the output until the child ends; throws std::runtime_error (after killing it) when
    // it has not ended within timeout.
    ProgramResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
};

}  // namespace app::cli::testing
