// Serving: listening on a local address (TCP, UDP and raw sockets), accepting a connection,
// adopting a connected handle, and waiting for the peer's close.
#include "socket/resolve.h"
#include "socket/socket_library.h"
#include "socket/wsocket.h"

using namespace platform;

void TCustomWSocket::Listen() {
    auto refuse = [this](const char* funcName) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError(funcName);
    };
    // A second listener on the same object would leave the first one accepting.
    if (InUse()) return ReportError("Listen: Socket already in use");
    if (!FHasPort) return refuse("listen: port not assigned");
    if (!FHasProto) return refuse("listen: protocol not assigned");
    if (!FHasAddr) return refuse("listen: address not assigned");

    if (!ResolveSettings(TOpening::Listen)) return;

    DiscardSendBuffers();
    FSocketHandle = WSocket_socket(FSockAddr.Family(), FSocketType, FProtoNumber);
    if (FSocketHandle == INVALID_SOCKET) return ReportSocketError("socket");
    OpenGuard opening(*this);
    if (FSocketType == SOCK_DGRAM && FReuseAddr) {
        int on = 1;
        if (WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
            return ReportSocketError("setsockopt(SO_REUSEADDR)");
    }
    if (WSocket_bind(FSocketHandle, FSockAddr.Raw(), FSockAddr.Length()) != 0)
        return ReportSocketError("Bind");
    SetState(wsBound);

    if (FSocketType == SOCK_STREAM) {
        if (WSocket_listen(FSocketHandle, FListenBacklog) != 0) return ReportSocketError("Listen");
        SetState(wsListening);
    } else {
        if (FSocketType == SOCK_DGRAM && FMultiCast) {
            ip_mreq membership{};
            membership.imr_multiaddr.s_addr = WSocket_inet_addr(FMultiCastAddrStr.c_str());
            try {
                membership.imr_interface.s_addr = ResolveHost(FAddrSpec);
            } catch (const ESocketException& e) {
                return ReportError("Listen: " + e.Message());
            }
            if (WSocket_setsockopt(FSocketHandle, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership,
                                   sizeof membership) != 0)
                return ReportSocketError("setsockopt(IP_ADD_MEMBERSHIP)");
        }
        if (FSocketType == SOCK_RAW && FComponentOptions.Contains(wsoSIO_RCVALL)) {
            platform::u_long on = 1;
            DWORD returned = 0;
            if (WSocket_WSAIoctl(FSocketHandle, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned,
                                 nullptr, nullptr) != 0) {
                return ReportSocketError("WSAIoctl(SIO_RCVALL)");
            }
        }
        SOCKET handle = FSocketHandle;
        SetState(wsListening);
        SetState(wsConnected);
        opening.Keep();
        HandleConnected(0);
        // A handler that closed the socket has ended this Listen.
        if (FSocketHandle != handle) return;
    }

    FSelectEvents = FD_ACCEPT | FD_CLOSE;
    if (FSocketType != SOCK_STREAM) FSelectEvents |= FD_READ | FD_WRITE;
    if (WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, SocketEventMessage, FSelectEvents) !=
        0)
        return ReportSocketError("WSAASyncSelect");
    opening.Keep();
}

TCustomWSocket::OpenGuard::~OpenGuard() {
    if (handle_ == INVALID_SOCKET || socket_.FSocketHandle != handle_) return;
    // The error being reported stays the platform's last one.
    int error = WSocket_WSAGetLastError();
    WSocket_closesocket(handle_);
    socket_.FSocketHandle = INVALID_SOCKET;
    socket_.DropAttempts();
    WSocket_WSASetLastError(error);
    if (socket_.FState == wsClosed) return;
    try {
        socket_.SetState(wsClosed);
    } catch (...) {
    }
}

SOCKET TCustomWSocket::Accept() {
    if (FState != wsListening) {
        WSocket_WSASetLastError(WSAEINVAL);
        ReportSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    int length = TSocketAddress::kCapacity;
    FAcceptedHandle = WSocket_accept(FSocketHandle, FSockAddr.Raw(), &length);
    if (FAcceptedHandle != INVALID_SOCKET) return FAcceptedHandle;
    int error = WSocket_WSAGetLastError();
    // Without a descriptor to spare the waiting connection would be announced again at once.
    if (error == WSAEMFILE || error == WSAENOBUFS) RestAccepting();
    FAcceptFailed = true;
    WSocket_WSASetLastError(error);
    ReportSocketError("Accept");
    return INVALID_SOCKET;
}

namespace {

constexpr unsigned kAcceptRestMs = 100;

}  // namespace

void TCustomWSocket::RestAccepting() {
    WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, SocketEventMessage,
                           FSelectEvents & ~FD_ACCEPT);
    SetTimer(FWindowHandle, kAcceptRestTimer, kAcceptRestMs);
}

void TCustomWSocket::ResumeAccepting() {
    KillTimer(FWindowHandle, kAcceptRestTimer);
    if (FState == wsListening && FSocketHandle != INVALID_SOCKET && !FPaused)
        WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, SocketEventMessage, FSelectEvents);
}

void TCustomWSocket::ProcessAcceptEvent(const TMessage& msg) {
    FAcceptFailed = false;
    try {
        HandleSessionAvailable(WSAGETSELECTERROR(msg.LParam));
    } catch (const ESocketException&) {
        // The handler has heard of its failed Accept; the listener goes on listening.
        if (!FAcceptFailed) throw;
    }
}

void TCustomWSocket::Dup(SOCKET newHandle) {
    if (newHandle == 0 || newHandle == INVALID_SOCKET) {
        WSocket_WSASetLastError(WSAEINVAL);
        return ReportSocketError("Dup");
    }
    if (FState != wsClosed) {
        int result = WSocket_closesocket(FSocketHandle);
        FSocketHandle = INVALID_SOCKET;
        if (result != 0) return ReportSocketError("Dup (closesocket)");
        SetState(wsClosed);
    }
    FSocketHandle = newHandle;
    if (!ReadBufferSizes()) return;
    ApplyLinger();
    FSelectEvents = FD_READ | FD_WRITE | FD_CLOSE;
    if (WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, SocketEventMessage, FSelectEvents) !=
        0)
        return ReportSocketError("WSAAsyncSelect");
    MarkConnected();
}

void TCustomWSocket::WaitUntilClosed() {
    // Short waits between the rounds, so that a wait for a quiet peer does not spin.
    constexpr int kRoundMs = 100;
    while (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
        PumpMessages();
        platform::u_long count = 0;
        if (WSocket_ioctlsocket(FSocketHandle, FIONREAD, &count) != 0) return;
        if (count > 0) HandleDataAvailable(0);
        if (FSocketHandle == INVALID_SOCKET) return;
        // A peek of one byte tells the peer's end of input (0) from nothing yet (would block);
        // a read of no bytes, as elsewhere, would always return 0 here.
        char probe;
        int peeked = WSocket_recv(FSocketHandle, &probe, 1, MSG_PEEK);
        if (peeked == 0) return;
        if (peeked < 0) {
            FLastError = WSocket_WSAGetLastError();
            if (FLastError != WSAEWOULDBLOCK) return;
        }
        PumpMessages();
        WaitForMessages(kRoundMs);
    }
}
