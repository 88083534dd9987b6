// Opening a connection: Connect with its resolution and options, and binding the local end.
#include <algorithm>
#include <cctype>

#include "socket/resolve.h"
#include "socket/socket_library.h"
#include "socket/wsocket.h"

using namespace platform;

namespace {

constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;
// How long an attempt to one address has before the next address is tried beside it.
constexpr unsigned kAttemptDelayMs = 250;

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

void TCustomWSocket::SetConnectTarget(const std::vector<TSocketAddress>& addresses, int port) {
    FPortNumber = port;
    FConnectAddresses = addresses;
    FPortReady = true;
    FAddrReady = true;
}

std::vector<TSocketAddress> TCustomWSocket::ConnectAddresses() {
    std::string name = TrimBlanks(FAddrSpec);
    if (!name.empty() && name == FLookedUpName && !TSocketAddress::FromLiteral(name)) {
        std::vector<TSocketAddress> found;
        for (const auto& text : FDnsResultList)
            if (auto address = TSocketAddress::FromLiteral(text)) found.push_back(*address);
        if (!found.empty()) return found;
    }
    return ResolveHostAddresses(FAddrSpec);
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
                FSocketType = !listening                    ? SocketTypeOf(FProtoNumber)
                              : FProtoNumber == IPPROTO_UDP ? SOCK_DGRAM
                                                            : SOCK_STREAM;
            }
            FProtoReady = true;
        }
        if (!FPortReady) {
            FPortNumber = ResolvePort(FPortSpec, FProtoSpec);
            FPortReady = true;
        }
        if (!listening && !FLocalPortReady) {
            FLocalPortNumber = ResolvePort(FLocalPortSpec, FProtoSpec);
            FLocalPortReady = true;
        }
        if (!FAddrReady) {
            // A listener takes the first address of a name, as a blocking lookup gives it.
            FConnectAddresses = listening ? std::vector{ResolveHostAddresses(FAddrSpec).front()}
                                          : ConnectAddresses();
            FAddrReady = true;
        }
    } catch (const ESocketException& e) {
        ReportError((listening ? "Listen: " : "connect: ") + e.Message());
        return false;
    }
    FSockAddr = FConnectAddresses.front();
    FSockAddr.SetPort(FPortNumber);
    FAddrFamily = FSockAddr.Family();
    return true;
}

void TCustomWSocket::Connect() {
    if (InUse()) return ReportError("Connect: Socket already in use");
    if (!FHasPort) return ReportError("Connect: No Port Specified");
    if (!FHasAddr) return ReportError("Connect: No IP Address Specified");
    if (!FHasProto) return ReportError("Connect: No Protocol Specified");

    if (!ResolveSettings(TOpening::Connect)) return;

    DropAttempts();
    if (FSocketType == SOCK_STREAM && FConnectAddresses.size() > 1) {
        std::vector<TSocketAddress> candidates;
        // A local address chosen binds every attempt: only its family can connect.
        auto local = TSocketAddress::FromLiteral(FLocalAddr);
        for (const auto& address : FConnectAddresses)
            if (FLocalAddr == "0.0.0.0" || !local || local->Family() == address.Family())
                candidates.push_back(address);
        if (!candidates.empty()) {
            FWaitingAddresses = AttemptOrder(candidates);
            FSockAddr = FWaitingAddresses.front();
            FSockAddr.SetPort(FPortNumber);
            FWaitingAddresses.erase(FWaitingAddresses.begin());
        }
    }
    DiscardSendBuffers();
    OpenAttempt();
}

void TCustomWSocket::OpenAttempt() {
    FSocketHandle = WSocket_socket(FSockAddr.Family(), FSocketType, FProtoNumber);
    if (FSocketHandle == INVALID_SOCKET) {
        if (ContinueAfterFailedAttempt()) return;
        return ReportSocketError("Connect (socket)");
    }
    OpenGuard opening(*this);
    if (!ReadBufferSizes()) return;

    // Only the first attempt opens; the next ones join a connect under way.
    if (FState != wsConnecting) {
        SetState(wsOpened);
        if (FState != wsOpened) {
            WSocket_WSASetLastError(WSAEINVAL);
            return ReportSocketError("Connect (Invalid operation in OnChangeState)");
        }
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
        if (!FSockAddr.IsIPv6() && FSockAddr.IPv4Address() == kBroadcast &&
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
        LogLine(loWsockInfo,
                "TWSocket will connect to " + FSockAddr.Text() + ":" + std::to_string(FPortNumber));
    if (WSocket_connect(FSocketHandle, FSockAddr.Raw(), FSockAddr.Length()) == 0 ||
        WSocket_WSAGetLastError() == WSAEWOULDBLOCK) {
        opening.Keep();
        SetState(wsConnecting);
        // The next address gets its turn when this one has not answered in a moment.
        if (!FWaitingAddresses.empty()) SetTimer(FWindowHandle, kNextAttemptTimer, kAttemptDelayMs);
        return;
    }
    FLastError = WSocket_WSAGetLastError();
    if (ContinueAfterFailedAttempt()) return;
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
    TSocketAddress local;
    try {
        // The default local address is "any" of the family the socket connects with.
        local = FLocalAddr == "0.0.0.0" ? TSocketAddress::Any(FSockAddr.Family())
                                        : ResolveHostAddresses(FLocalAddr).front();
    } catch (const ESocketException& e) {
        return ReportError("Bind socket failed - " + e.Message());
    }
    local.SetPort(FLocalPortNumber);
    if (WSocket_bind(FSocketHandle, local.Raw(), local.Length()) != 0)
        return ReportError("Bind socket failed - " + SocketErrorMessage(WSocket_WSAGetLastError()));
    int length = TSocketAddress::kCapacity;
    if (WSocket_getsockname(FSocketHandle, local.Raw(), &length) != 0)
        return ReportError("Winsock get socket name failed - " +
                           SocketErrorMessage(WSocket_WSAGetLastError()));
    FLocalPortNumber = local.Port();
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
