// Connecting to a name of several addresses: the attempts run side by side, the next address
// starting a moment after the last one or at once when one fails; the first that connects is
// the connection and the others are closed. Only the outcome reaches the layers above.
#include <algorithm>

#include "socket/socket_library.h"
#include "socket/wsocket.h"

using namespace platform;

bool TCustomWSocket::ContinueAfterFailedAttempt() {
    if (FWaitingAddresses.empty() && FOtherAttempts.empty()) return false;
    if (FSocketHandle != INVALID_SOCKET) WSocket_closesocket(FSocketHandle);
    FSocketHandle = INVALID_SOCKET;
    KillTimer(FWindowHandle, kNextAttemptTimer);
    if (FWaitingAddresses.empty()) {
        FSocketHandle = FOtherAttempts.back().handle;
        FSockAddr = FOtherAttempts.back().address;
        FOtherAttempts.pop_back();
        return true;
    }
    FSockAddr = FWaitingAddresses.front();
    FSockAddr.SetPort(FPortNumber);
    FWaitingAddresses.erase(FWaitingAddresses.begin());
    OpenAttempt();
    return true;
}

void TCustomWSocket::StartNextAttempt() {
    KillTimer(FWindowHandle, kNextAttemptTimer);
    if (FState != wsConnecting || FWaitingAddresses.empty()) return;
    FOtherAttempts.push_back({FSocketHandle, FSockAddr});
    FSocketHandle = INVALID_SOCKET;
    FSockAddr = FWaitingAddresses.front();
    FSockAddr.SetPort(FPortNumber);
    FWaitingAddresses.erase(FWaitingAddresses.begin());
    OpenAttempt();
}

bool TCustomWSocket::TakeAttemptEvent(const TMessage& msg) {
    if (FState != wsConnecting || !(WSAGETSELECTEVENT(msg.LParam) & FD_CONNECT)) return false;
    if (FWaitingAddresses.empty() && FOtherAttempts.empty()) return false;
    WORD error = WSAGETSELECTERROR(msg.LParam);
    if (msg.WParam == FSocketHandle) {
        if (error == 0) {
            DropAttempts();
            return false;
        }
        FLastError = error;
        return ContinueAfterFailedAttempt();
    }
    auto attempt = std::find_if(FOtherAttempts.begin(), FOtherAttempts.end(),
                                [&](const TAttempt& a) { return a.handle == msg.WParam; });
    if (attempt == FOtherAttempts.end()) return false;
    TAttempt taken = *attempt;
    FOtherAttempts.erase(attempt);
    if (error == 0) {
        // The earlier attempt won: it becomes the connection, reported as the current one's.
        WSocket_closesocket(FSocketHandle);
        FSocketHandle = taken.handle;
        FSockAddr = taken.address;
        DropAttempts();
        return false;
    }
    WSocket_closesocket(taken.handle);
    if (!FWaitingAddresses.empty()) StartNextAttempt();
    return true;
}

void TCustomWSocket::DropAttempts() {
    if (FWindowHandle) KillTimer(FWindowHandle, kNextAttemptTimer);
    for (const auto& attempt : FOtherAttempts)
        WSocket_closesocket(attempt.handle);
    FOtherAttempts.clear();
    FWaitingAddresses.clear();
}
