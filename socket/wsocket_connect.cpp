// Opening a connection: Connect with its resolution and options, and binding the local end.
#include <algorithm>
#include <cctype>

#include "socket/resolve.h"
#include "socket/socket_library.h"
#include "socket/wsocket.h"

using namespace platform;

namespace {

constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;

int SocketTypeOf(int protoNumber) {
    if (protoNumber == IPPROTO_TCP) return SOCK_STREAM;
    if (protoNumber == IPPROTO_UDP) return SOCK_DGRAM;
    return SOCK_RAW;
}

// "raw_" followed by a protocol name or number asks a listener for a raw socket of that protocol.
bool NamesRawProtocol(const std::string& proto) {
    static constexpr char kPrefix[] = "raw_";
    if (proto.size() < 4) return false;
    return std::equal(kPrefix, kPrefix + 4, proto.begin(), [](char expected, char c) {
        return expected == std::tolower(static_cast<unsigned char>(c));
    });
}

}  // namespace

void TCustomWSocket::SetConnectTarget(std::uint32_t address, int port) {
    FPortNumber = port;
    FSockAddr.sin_port = WSocket_htons(static_cast<platform::u_short>(port));
    FSockAddr.sin_addr.s_addr = address;
    FPortReady = true;
    FAddrReady = true;
}

bool TCustomWSocket::ResolveSettings(TOpening opening) {
    const bool listening = opening == TOpening::Listen;
    try {
        if (!FProtoReady) {
            if (listening && NamesRawProtocol(FProtoSpec)) {
                FProtoNumber = ResolveProto(FProtoSpec.substr(4, 10));
                FSocketType = SOCK_RAW;
            } else {
                FProtoNumber = ResolveProto(FProtoSpec);
                // A listener takes anything but UDP for a stream.
                FSocketType = !listening                   ? SocketTypeOf(FProtoNumber)
                              : FProtoNumber == IPPROTO_UDP ? SOCK_DGRAM
                                                            : SOCK_STREAM;
            }
            FProtoReady = true;
        }
        if (!FPortReady) {
            FPortNumber = ResolvePort(FPortSpec, FProtoSpec);
            FSockAddr.sin_port = WSocket_htons(static_cast<platform::u_short>(FPortNumber));
            FPortReady = true;
        }
        if (!listening && !FLocalPortReady) {
            FLocalPortNumber = ResolvePort(FLocalPortSpec, FProtoSpec);
            FLocalPortReady = true;
        }
        if (!FAddrReady) {
            FSockAddr.sin_addr.s_addr = ResolveHost(FAddrSpec);
            FAddrReady = true;
        }
    } catch (const ESocketException& e) {
        ReportError((listening ? "Listen: " : "connect: ") + e.Message());
        return false;
    }
    return true;
}

void TCustomWSocket::Connect() {
    if (InUse()) return ReportError("Connect: Socket already in use");
    if (!FHasPort) return ReportError("Connect: No Port Specified");
    if (!FHasAddr) return ReportError("Connect: No IP Address Specified");
    if (!FHasProto) return ReportError("Connect: No Protocol Specified");

    if (!ResolveSettings(TOpening::Connect)) return;

    DiscardSendBuffers();
    FSocketHandle = WSocket_socket(AF_INET, FSocketType, FProtoNumber);
    if (FSocketHandle == INVALID_SOCKET) return ReportSocketError("Connect (socket)");
    OpenGuard opening(*this);
    if (!ReadBufferSizes()) return;

    SetState(wsOpened);
    if (FState != wsOpened) {
        WSocket_WSASetLastError(WSAEINVAL);
        return ReportSocketError("Connect (Invalid operation in OnChangeState)");
    }

    auto setOption = [this](int level, int option, int value, const char* name) {
        if (WSocket_setsockopt(FSocketHandle, level, option, &value, sizeof value) == 0)
            return true;
        ReportSocketError(name);
        return false;
    };
    if (FSocketType == SOCK_DGRAM) {
        BindLocal();
        if (FMultiCast) {
            if (FMultiCastIpTTL != 1 && !setOption(IPPROTO_IP, IP_MULTICAST_TTL, FMultiCastIpTTL,
                                                   "setsockopt(IP_MULTICAST_TTL)"))
                return;
            if (FLocalAddr != "0.0.0.0") {
                in_addr multicastInterface{};
                try {
                    multicastInterface.s_addr = ResolveHost(FLocalAddr);
                } catch (const ESocketException& e) {
                    return ReportError("connect: " + e.Message());
                }
                if (WSocket_setsockopt(FSocketHandle, IPPROTO_IP, IP_MULTICAST_IF,
                                       &multicastInterface, sizeof multicastInterface) != 0)
                    return ReportSocketError("setsockopt(IP_MULTICAST_IF)");
            }
        }
        if (FSockAddr.sin_addr.s_addr == kBroadcast &&
            !setOption(SOL_SOCKET, SO_BROADCAST, 1, "setsockopt(SO_BROADCAST)"))
            return;
    } else {
        if (!setOption(SOL_SOCKET, SO_REUSEADDR, 1, "setsockopt(SO_REUSEADDR)")) return;
        if (FComponentOptions.Contains(wsoTcpNoDelay) &&
            !setOption(IPPROTO_TCP, TCP_NODELAY, 1, "setsockopt(IPPROTO_TCP, TCP_NODELAY)"))
            return;
        ApplyLinger();
        ApplyKeepAlive();
        if (FLocalPortNumber != 0 || FLocalAddr != "0.0.0.0") BindLocal();
    }

    FSelectEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
    if (WSocket_WSAAsyncSelect(FSocketHandle, FWindowHandle, SocketEventMessage, FSelectEvents) !=
        0)
        return ReportSocketError("WSAAsyncSelect");

    if (FSocketType == SOCK_DGRAM) {
        opening.Keep();
        SetState(wsConnected);
        return HandleConnected(0);
    }
    if (LogEnabled(loWsockInfo))
        LogLine(loWsockInfo, std::string("TWSocket will connect to ") +
                                 WSocket_inet_ntoa(FSockAddr.sin_addr) + ":" +
                                 std::to_string(FPortNumber));
    if (WSocket_connect(FSocketHandle, reinterpret_cast<const sockaddr*>(&FSockAddr),
                        sizeof FSockAddr) == 0 ||
        WSocket_WSAGetLastError() == WSAEWOULDBLOCK) {
        opening.Keep();
        SetState(wsConnecting);
        return;
    }
    FLastError = WSocket_WSAGetLastError();
    ReportSocketError("Connect");
}

bool TCustomWSocket::ReadBufferSizes() {
    auto readSize = [this](int option, int& size) {
        int length = sizeof size;
        return HoldSocketLibrary([&] {
                   return WSocket_getsockopt(FSocketHandle, SOL_SOCKET, option, &size, &length);
               }) == 0;
    };
    if (!readSize(SO_SNDBUF, FSndBufSize)) {
        ReportSocketError("getsockopt(SO_SNDBUF)");
        return false;
    }
    if (!readSize(SO_RCVBUF, FRcvBufSize)) {
        ReportSocketError("getsockopt(SO_RCVBUF)");
        return false;
    }
    return true;
}

void TCustomWSocket::BindLocal() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = WSocket_htons(static_cast<platform::u_short>(FLocalPortNumber));
    try {
        local.sin_addr.s_addr = ResolveHost(FLocalAddr);
    } catch (const ESocketException& e) {
        return ReportError("Bind socket failed - " + e.Message());
    }
    if (WSocket_bind(FSocketHandle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return ReportError("Bind socket failed - " + SocketErrorMessage(WSocket_WSAGetLastError()));
    int length = sizeof local;
    if (WSocket_getsockname(FSocketHandle, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return ReportError("Winsock get socket name failed - " +
                           SocketErrorMessage(WSocket_WSAGetLastError()));
    FLocalPortNumber = WSocket_ntohs(local.sin_port);
    FLocalPortSpec = std::to_string(FLocalPortNumber);
}

void TCustomWSocket::ApplyLinger() {
    if (FLingerOnOff == wsLingerNoSet) return;
    if (FSocketHandle == INVALID_SOCKET)
        return ReportError("Cannot set linger option at this time");
    LINGER linger{static_cast<platform::u_short>(FLingerOnOff),
                  static_cast<platform::u_short>(std::clamp(FLingerTimeout, 0, 65535))};
    if (WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_LINGER, &linger, sizeof linger) != 0)
        ReportSocketError("setsockopt(SO_LINGER)");
}

void TCustomWSocket::ApplyKeepAlive() {
    if (FKeepAliveOnOff == wsKeepAliveOff) return;
    if (FKeepAliveOnOff == wsKeepAliveOnSystem) {
        int on = 1;
        if (WSocket_setsockopt(FSocketHandle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
            ReportSocketError("setsockopt(SO_KEEPALIVE)");
        return;
    }
    tcp_keepalive values{1, static_cast<platform::u_long>(FKeepAliveTime),
                         static_cast<platform::u_long>(FKeepAliveInterval)};
    char output[12];
    DWORD returned = 0;
    int result = HoldSocketLibrary([&] {
        return WSocket_WSAIoctl(FSocketHandle, SIO_KEEPALIVE_VALS, &values, sizeof values, output,
                                sizeof output, &returned, nullptr, nullptr);
    });
    if (result != 0) ReportSocketError("WSocket_WSAIoctl(SIO_KEEPALIVE_VALS)");
}
