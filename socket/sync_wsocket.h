// TCustomSyncWSocket: waits until a flag that the caller's event handlers set comes true, while
// the thread's messages (the socket's among them) go on being processed.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "socket/line_wsocket.h"

// The result of a wait that ended without its flag: time limit passed or the application ends.
constexpr int WaitEndedWithoutFlag = 12001;

class TCustomSyncWSocket : public TCustomLineWSocket {
    using Inherited = TCustomLineWSocket;

  public:
    using Inherited::Inherited;

    // Limit of one wait in milliseconds; 0 or less waits without a limit.
    int WaitTimeout() const { return FWaitTimeout; }
    void SetWaitTimeout(int value) { FWaitTimeout = value; }

    // Clears doneFlag, runs proc when given (Connect, say), then waits for the flag.
    virtual int RunAndWait(bool& doneFlag, const std::function<void()>& proc);
    // 0 once doneFlag is true (at once when it already is), WaitEndedWithoutFlag when the time
    // limit passed or the application (or, multi-threaded, the thread's loop) is terminating.
    // An exception that one of the socket's handlers throws during the wait ends it and is
    // thrown on to the caller.
    virtual int WaitForFlag(bool& doneFlag);

    void HandleWindowMessage(TMessage& msg) override;
    void HandleBgException(const std::exception& e) override;

  protected:
    int FWaitTimeout = 0;
    std::uint32_t FWaitStopTime = 0;

  private:
    int FWaitDepth = 0;
    std::exception_ptr FWaitException;
};
