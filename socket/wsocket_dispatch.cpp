// The socket's hidden window, the dispatch of its messages, the network-event handlers, the
// receive loop, the message pumps and moving a socket to another thread.
#include "platform/application.h"
#include "socket/socket_library.h"
#include "socket/socket_window.h"
#include "socket/wsocket.h"

using namespace platform;

void TCustomWSocket::CreateHiddenWindow() {
    FWindowHandle = CreateSocketWindow(this);
    FThreadId = std::this_thread::get_id();
    if (!FWindowHandle) ReportError("Cannot create a hidden window for TWSocket");
}

void TCustomWSocket::DestroyHiddenWindow() {
    if (!FWindowHandle) return;
    SetWindowData(FWindowHandle, nullptr);
    if (DestroyWindow(FWindowHandle)) FWindowHandle = 0;
}

namespace {

std::string EventNames(WORD events) {
    std::string names;
    if (events & FD_CONNECT) names += " FD_CONNECT";
    if (events & FD_READ) names += " FD_READ";
    if (events & FD_WRITE) names += " FD_WRITE";
    if (events & FD_CLOSE) names += " FD_CLOSE";
    if (events & FD_ACCEPT) names += " FD_ACCEPT";
    return names;
}

}  // namespace

void TCustomWSocket::HandleWindowMessage(TMessage& msg) {
    try {
        switch (msg.Msg) {
            case SocketEventMessage: {
                WORD events = WSAGETSELECTEVENT(msg.LParam);
                if (LogEnabled(loWsockDump))
                    LogLine(loProtSpecDump, "AsyncSelect CtrlSocket" + std::to_string(msg.WParam) +
                                                ", " + std::to_string(events) + EventNames(events));
                if (TakeAttemptEvent(msg)) break;
                // A message for an earlier handle, or one taken while paused, is dropped.
                // So is the rest of one whose handler ended the connection it tells of.
                auto current = [&](WORD event) {
                    return (events & event) && msg.WParam == FSocketHandle && !FPaused;
                };
                if (current(FD_CONNECT)) ProcessConnectEvent(msg);
                if (current(FD_READ)) ProcessReadEvent(msg);
                if (current(FD_WRITE)) ProcessWriteEvent(msg);
                if (current(FD_ACCEPT)) ProcessAcceptEvent(msg);
                if (current(FD_CLOSE)) ProcessCloseEvent(msg);
                break;
            }
            case HostLookupDoneMessage:
                HandleLookupDone(msg);
                break;
            case AddrLookupDoneMessage:
                HandleReverseLookupDone(msg);
                break;
            case WM_TIMER:
                if (msg.WParam == kNextAttemptTimer)
                    StartNextAttempt();
                else
                    ResumeAccepting();
                break;
            case CloseLaterMessage:
                Close();
                break;
            case FreeLaterMessage:
                delete this;
                return;
            case TestExceptionMessage:
                throw ESocketException("Test exception in WSocket");
            default:
                msg.Result = DefWindowProc(FWindowHandle, msg.Msg, msg.WParam, msg.LParam);
        }
    } catch (const platform::Exception& e) {
        HandleBgException(e);
    }
}

void TCustomWSocket::ProcessConnectEvent(const TMessage& msg) {
    if (FState == wsConnected) return;
    WORD errCode = WSAGETSELECTERROR(msg.LParam);
    SetState(wsConnected);
    HandleConnected(errCode);
    if (errCode != 0 && FState != wsClosed) Close();
}

void TCustomWSocket::ProcessReadEvent(const TMessage& msg) {
    WORD errCode = WSAGETSELECTERROR(msg.LParam);
    // Data means the connection is up, even before its connect event.
    if (FState != wsConnected) {
        SetState(wsConnected);
        HandleConnected(errCode);
    }
    ReceiveLoop(errCode, FComponentOptions);
}

void TCustomWSocket::ProcessCloseEvent(const TMessage& msg) {
    if (FState == wsConnecting || FSocketHandle == INVALID_SOCKET) return;
    // Everything still pending is offered before the close is reported.
    SOCKET handle = FSocketHandle;
    ReceiveLoop(0, FComponentOptions.Without(wsoNoReceiveLoop));
    // A handler that closed (and perhaps connected again) has already ended this connection.
    if (FSocketHandle != handle) return;
    // Paused with data still pending: the platform signals the close again once the socket is
    // resumed, and the rest is offered then.
    if (FPaused) return;
    if (!FCloseStarted) {
        FCloseStarted = true;
        HandleSessionClosed(WSAGETSELECTERROR(msg.LParam));
    }
    if (FState != wsClosed && FSocketHandle == handle) Close();
}

void TCustomWSocket::ReceiveLoop(std::uint16_t errCode, TWSocketOptions options) {
    constexpr int kDropBlock = 1024;
    for (;;) {
        try {
            FLastError = 0;
            FReceiveLoopStopped = false;
            if (!HandleDataAvailable(errCode)) {
                char dropped[kDropBlock];
                if (ReceiveLowLevel(dropped, kDropBlock, 0) < 0) {
                    FLastError = WSocket_WSAGetLastError();
                    if (FLastError == WSAEWOULDBLOCK) {
                        FLastError = 0;
                        return;
                    }
                }
            }
            if (options.Contains(wsoNoReceiveLoop) || FPaused || FReceiveLoopStopped) return;
            if (FLastError != 0) return;
            platform::u_long count = 0;
            if (WSocket_ioctlsocket(FSocketHandle, FIONREAD, &count) == SOCKET_ERROR) {
                FLastError = WSocket_WSAGetLastError();
                return;
            }
            if (count == 0) return;
        } catch (const std::exception&) {
            return;
        }
    }
}

void TCustomWSocket::MarkConnected() {
    SetState(wsConnected);
}

// Pumps and threads ----------------------------------------------------------------------------

void TCustomWSocket::PumpMessages() {
    if (FMultiThreaded)
        ProcessThreadMessages();
    else
        App().ProcessMessages();
}

void TCustomWSocket::WaitForMessages(int timeoutMs) {
    if (FMultiThreaded)
        WaitForInput(timeoutMs);
    else
        App().WaitForInput(timeoutMs);
}

bool TCustomWSocket::ProcessOneMessage() {
    MSG message;
    if (!PeekMessage(message)) return false;
    if (message.message == WM_QUIT)
        FTerminated = true;
    else
        DispatchMessage(message);
    return true;
}

void TCustomWSocket::ProcessThreadMessages() {
    while (ProcessOneMessage()) {
    }
}

void TCustomWSocket::AttachThread() {
    // Going on would leave the current window behind with the events still routed to it.
    if (FWindowHandle) return ReportError("Cannot attach when not detached");
    CreateHiddenWindow();
    if (FSocketHandle != INVALID_SOCKET)
        WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, SocketEventMessage, FSelectEvents);
}

void TCustomWSocket::DetachThread() {
    // Only the owning thread may stop its loop's watch and destroy its window.
    if (std::this_thread::get_id() != FThreadId)
        return ReportError("Cannot detach from other thread");
    if (FSocketHandle != INVALID_SOCKET) WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, 0, 0);
    DestroyHiddenWindow();
}
