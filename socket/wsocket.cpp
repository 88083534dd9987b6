// The socket object's life, settings, state, events and error reporting.
#include "socket/wsocket.h"

#include <cstdio>

#include "log/qtx_logger.h"
#include "socket/resolve.h"
#include "socket/socket_library.h"
#include "socket/socket_window.h"

using namespace platform;

TCustomWSocket::TCustomWSocket(TComponent* owner) : TComponent(owner) {
    FSocketHandle = INVALID_SOCKET;
    CreateHiddenWindow();
    FSendBufferChunkSize = 1460;
    FMultiCastIpTTL = 1;
    FListenBacklog = 5;
    FQueuedByteCount = 0;
    InitDefaults();
    FKeepAliveOnOff = wsKeepAliveOnSystem;
    FKeepAliveTime = 30000;
    FKeepAliveInterval = 1000;
    AddSocketUsage(1);
}

TCustomWSocket::~TCustomWSocket() {
    BeginDestroying();
    // Nothing may leave a destructor; a failing close is as good as closed here.
    try {
        CancelLookup();
    } catch (...) {
    }
    try {
        if (FState != wsClosed) Close();
    } catch (...) {
    }
    {
        std::lock_guard lock(SocketLibraryLock());
        AddSocketUsage(-1);
        if (SocketUsageCount() <= 0) UnloadSocketLibrary();
    }
    DiscardSendBuffers();
    DestroyHiddenWindow();
    std::lock_guard lock(SocketLibraryLock());
    if (SocketUsageCount() < 1) UnregisterSocketWindowClass();
}

void TCustomWSocket::InitDefaults() {
    FSockAddr = TSocketAddress{};
    FAddrFamily = AF_INET;
    FHasPort = false;
    FHasAddr = false;
    FAddrReady = false;
    FPortReady = false;
    FProtoReady = false;
    FLocalPortReady = false;
    FHasProto = true;
    FProtoNumber = IPPROTO_TCP;
    FProtoSpec = "tcp";
    FSocketType = SOCK_STREAM;
    FLocalPortSpec = "0";
    FLocalAddr = "0.0.0.0";
    FLingerOnOff = wsLingerOn;
    FLingerTimeout = 0;
    FSocketHandle = INVALID_SOCKET;
    FSelectEvents = 0;
    FState = wsClosed;
    FSendQueueEmpty = true;
    FPaused = false;
    FReadCount = 0;
    FCloseStarted = false;
    FFlushTimeout = 60;
}

// Settings -------------------------------------------------------------------------------------

namespace {

// Stores a trimmed Addr, Port or Proto text: assigned when not empty, not resolved either way.
void StoreSetting(const std::string& value, std::string& text, bool& has, bool& ready) {
    text = TrimBlanks(value);
    has = !text.empty();
    ready = false;
}

}  // namespace

void TCustomWSocket::SetAddr(const std::string& value) {
    if (value == FAddrSpec && FHasAddr) return;
    if (FState != wsClosed) return ReportError("Cannot change Addr if not closed");
    StoreSetting(value, FAddrSpec, FHasAddr, FAddrReady);
}

void TCustomWSocket::SetPort(const std::string& value) {
    if (value == FPortSpec && FHasPort) return;
    if (FState != wsClosed) return ReportError("Cannot change Port if not closed");
    StoreSetting(value, FPortSpec, FHasPort, FPortReady);
}

void TCustomWSocket::SetProto(const std::string& value) {
    if (value == FProtoSpec && FHasProto) return;
    if (FState != wsClosed) return ReportError("Cannot change Proto if not closed");
    StoreSetting(value, FProtoSpec, FHasProto, FProtoReady);
}

void TCustomWSocket::SetLocalPort(const std::string& value) {
    if (FState != wsClosed) return ReportError("Cannot change LocalPort if not closed");
    FLocalPortSpec = value;
    FLocalPortReady = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value) {
    if (FState != wsClosed) return ReportError("Cannot change LocalAddr if not closed");
    FLocalAddr = value.empty() ? "0.0.0.0" : value;
}

TSocketSendFlags TCustomWSocket::SendFlags() {
    if (FSendFlagsValue == 0) return wsSendNormal;
    if (FSendFlagsValue == MSG_OOB) return wsSendUrgent;
    ReportError("Invalid internal SendFlags");
    return wsSendNormal;
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags value) {
    switch (value) {
        case wsSendNormal:
            FSendFlagsValue = 0;
            break;
        case wsSendUrgent:
            FSendFlagsValue = MSG_OOB;
            break;
        default:
            ReportError("Invalid SendFlags");
    }
}

std::uint8_t TCustomWSocket::ReqVerLow() const {
    return ReqVerLowValue();
}
std::uint8_t TCustomWSocket::ReqVerHigh() const {
    return ReqVerHighValue();
}

void TCustomWSocket::SetReqVerLow(std::uint8_t value) {
    if (value == ReqVerLowValue()) return;
    if (SocketLibraryLoaded())
        return ReportSocketError("SetReqVerLow: WinSock version can't be changed now");
    StoreReqVerLow(value);
}

void TCustomWSocket::SetReqVerHigh(std::uint8_t value) {
    if (value == ReqVerHighValue()) return;
    if (SocketLibraryLoaded())
        return ReportSocketError("SetReqVerHigh: WinSock version can't be changed now");
    StoreReqVerHigh(value);
}

// State and events -----------------------------------------------------------------------------

void TCustomWSocket::SetState(TSocketState newState) {
    TSocketState oldState = FState;
    FState = newState;
    if (oldState != newState) HandleChangeState(oldState, newState);
}

void TCustomWSocket::HandleChangeState(TSocketState oldState, TSocketState newState) {
    if (OnChangeState) OnChangeState(this, oldState, newState);
}

bool TCustomWSocket::HandleDataAvailable(std::uint16_t errCode) {
    if (!OnDataAvailable) return false;
    OnDataAvailable(this, errCode);
    return true;
}

void TCustomWSocket::HandleSessionAvailable(std::uint16_t errCode) {
    if (OnSessionAvailable) OnSessionAvailable(this, errCode);
}

void TCustomWSocket::HandleConnected(std::uint16_t errCode) {
    HandleSessionConnected(errCode);
}

void TCustomWSocket::HandleSessionConnected(std::uint16_t errCode) {
    if (OnSessionConnected) OnSessionConnected(this, errCode);
}

void TCustomWSocket::HandleSessionClosed(std::uint16_t errCode) {
    if (OnSessionClosed) OnSessionClosed(this, errCode);
}

void TCustomWSocket::HandleDnsLookupDone(std::uint16_t errCode) {
    if (OnDnsLookupDone) OnDnsLookupDone(this, errCode);
}

void TCustomWSocket::HandleError() {
    if (OnError) OnError(this);
}

void TCustomWSocket::HandleSendData(int bytesSent) {
    if (OnSendData) OnSendData(this, bytesSent);
}

std::string TCustomWSocket::AddressText() const {
    char text[2 * sizeof(void*) + 1];
    std::snprintf(text, sizeof text, "%08llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(this)));
    return text;
}

// Diagnostics --------------------------------------------------------------------------------

void TCustomWSocket::SetQtxLogger(TQtxLogger* value) {
    if (value == FQtxLogger) return;
    if (FQtxLogger) FQtxLogger->RemoveFreeNotification(this);
    FQtxLogger = value;
    if (FQtxLogger) FQtxLogger->FreeNotification(this);
}

void TCustomWSocket::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == FQtxLogger) FQtxLogger = nullptr;
}

bool TCustomWSocket::LogEnabled(TLogOption option) {
    return FQtxLogger && FQtxLogger->LogOptions().Contains(option);
}

void TCustomWSocket::LogLine(TLogOption option, const std::string& msg) {
    if (FQtxLogger) FQtxLogger->Log(this, option, msg);
}

// Failures -------------------------------------------------------------------------------------

void TCustomWSocket::ReportError(const std::string& msg) {
    if (!OnError) throw ESocketException(msg);
    HandleError();
}

void TCustomWSocket::ReportSocketError(const std::string& funcName) {
    int code = WSocket_WSAGetLastError();
    std::string message =
        SocketErrorText(code) + " (#" + std::to_string(code) + " in " + funcName + ")";
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        WSocket_closesocket(FSocketHandle);
        FSocketHandle = INVALID_SOCKET;
        if (FState != wsClosed) HandleSessionClosed(static_cast<std::uint16_t>(code));
        SetState(wsClosed);
    }
    FLastError = code;
    ReportError(message);
}

void TCustomWSocket::HandleBgException(const std::exception& e) {
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, e, canClose);
        } catch (...) {
        }
    }
    if (!canClose) return;
    try {
        Abort();
    } catch (...) {
    }
}

// Closing --------------------------------------------------------------------------------------

void TCustomWSocket::Close() {
    CloseWithError(true, 0);
}

void TCustomWSocket::CloseWithError(bool shutdown, std::uint16_t errCode) {
    DropAttempts();
    if (FSocketHandle == INVALID_SOCKET) {
        if (FState != wsClosed) {
            SetState(wsClosed);
            InitDefaults();
        }
        return;
    }
    if (FState == wsClosed) return;
    if (shutdown) {
        Shutdown(SD_SEND);
        KeepQueuedBytesAtClose();
    }
    while (WSocket_closesocket(FSocketHandle) != 0) {
        int error = WSocket_WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            PumpMessages();
            continue;
        }
        FLastError = error;
        FSocketHandle = INVALID_SOCKET;
        if (error != WSANOTINITIALISED) return ReportSocketError("Disconnect (closesocket)");
        break;
    }
    FSocketHandle = INVALID_SOCKET;
    SetState(wsClosed);
    if (!Destroying() && !FCloseStarted) {
        FCloseStarted = true;
        HandleSessionClosed(errCode);
    }
    // A handler that connected again keeps its new connection, which has not closed yet.
    if (FSocketHandle != INVALID_SOCKET) {
        FCloseStarted = false;
        return;
    }
    try {
        InitDefaults();
    } catch (...) {
    }
}

void TCustomWSocket::KeepQueuedBytesAtClose() {
    // Linger on with no time turns the platform's close into a reset, which throws away what is
    // still on its way to the peer: a graceful close lingers in the background instead.
    if (FLingerOnOff != wsLingerOn || FLingerTimeout != 0 || FSocketType != SOCK_STREAM) return;
    LINGER background{0, 0};
    WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_LINGER, &background, sizeof background);
}

void TCustomWSocket::AbortWithError(std::uint16_t errCode) {
    CancelLookup();
    DiscardSendBuffers();
    // A reset instead of a graceful close; InitDefaults restores the linger setting.
    if (FState == wsConnected && FProtoNumber == IPPROTO_TCP) {
        FLingerOnOff = wsLingerOff;
        ApplyLinger();
    }
    CloseWithError(false, errCode);
}

void TCustomWSocket::Abort() {
    AbortWithError(0);
}

void TCustomWSocket::CloseLater() {
    PostMessage(FWindowHandle, CloseLaterMessage, 0, 0);
}

void TCustomWSocket::FreeLater() {
    PostMessage(FWindowHandle, FreeLaterMessage, 0, 0);
}

void TCustomWSocket::Shutdown(int how) {
    if (LogEnabled(loWsockInfo))
        LogLine(loWsockInfo, AddressText() + " TCustomWSocket.Shutdown " + std::to_string(how) +
                                 " " + std::to_string(FSocketHandle));
    if (FSocketHandle != INVALID_SOCKET) WSocket_shutdown(FSocketHandle, how);
}

int TCustomWSocket::Pause() {
    FPaused = true;
    return WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, 0, 0);
}

int TCustomWSocket::Resume() {
    FPaused = false;
    return WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, SocketEventMessage, FSelectEvents);
}

// Reception and addresses ----------------------------------------------------------------------

int TCustomWSocket::ReceiveLowLevel(void* buffer, int size, int flags) {
    return WSocket_recv(FSocketHandle, buffer, size, flags);
}

int TCustomWSocket::ReceiveFromLowLevel(SOCKET handle, void* buffer, int size, int flags,
                                        sockaddr* from, int* fromLen) {
    return WSocket_recvfrom(handle, buffer, size, flags, from, fromLen);
}

int TCustomWSocket::Receive(void* buffer, int size) {
    int count = ReceiveLowLevel(buffer, size, 0);
    if (count < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += count;
    return count;
}

int TCustomWSocket::ReceiveFrom(void* buffer, int size, sockaddr* from, int* fromLen) {
    int count = ReceiveFromLowLevel(FSocketHandle, buffer, size, 0, from, fromLen);
    if (count < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += count;
    return count;
}

std::string TCustomWSocket::ReceiveText() {
    int count = RcvdCount();
    if (count < 0) return {};
    if (count == 0) count = 255;
    std::string text(static_cast<std::size_t>(count), '\0');
    int received = Receive(text.data(), count);
    text.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
    return text;
}

int TCustomWSocket::GetRcvdCount() {
    platform::u_long count = 0;
    if (WSocket_ioctlsocket(FSocketHandle, FIONREAD, &count) == SOCKET_ERROR) {
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(count);
}

std::string TCustomWSocket::GetPeerAddr() {
    if (FState != wsConnected) return "error";
    TSocketAddress address;
    int length = TSocketAddress::kCapacity;
    if (WSocket_getpeername(FSocketHandle, address.Raw(), &length) != 0) {
        ReportSocketError("GetPeerAddr");
        return "error";
    }
    return address.Text();
}

std::string TCustomWSocket::GetPeerPort() {
    if (FState != wsConnected) return "error";
    TSocketAddress address;
    int length = TSocketAddress::kCapacity;
    if (WSocket_getpeername(FSocketHandle, address.Raw(), &length) != 0) {
        ReportSocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(address.Port());
}

int TCustomWSocket::PeerSockAddr(sockaddr* name, int* nameLen) {
    if (FState != wsConnected) return -1;
    return WSocket_getpeername(FSocketHandle, name, nameLen);
}

int TCustomWSocket::LocalSockAddr(sockaddr* name, int* nameLen) {
    return WSocket_getsockname(FSocketHandle, name, nameLen);
}

namespace {

bool HasLocalAddress(TSocketState state) {
    return state == wsBound || state == wsConnected || state == wsListening;
}

}  // namespace

std::string TCustomWSocket::LocalPortText() {
    TSocketAddress address;
    int length = TSocketAddress::kCapacity;
    if (!HasLocalAddress(FState) || LocalSockAddr(address.Raw(), &length) != 0) return "error";
    return std::to_string(address.Port());
}

std::string TCustomWSocket::LocalAddrText() {
    TSocketAddress address;
    int length = TSocketAddress::kCapacity;
    if (!HasLocalAddress(FState) || LocalSockAddr(address.Raw(), &length) != 0) return "error";
    return address.Text();
}
