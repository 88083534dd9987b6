// Host name lookups: asynchronous by name or address, and the blocking reverse lookup.
#include <cstring>

#include "socket/resolve.h"
#include "socket/socket_library.h"
#include "socket/wsocket.h"

using namespace platform;

namespace {

constexpr std::size_t kMaxResults = 256;
constexpr std::size_t kMaxHostLength = 256;

}  // namespace

void TCustomWSocket::DropPendingLookup() {
    if (FLookupTaskHandle) {
        WSocket_WSACancelAsyncRequest(FLookupTaskHandle);
        FLookupTaskHandle = 0;
    }
    FDnsResult.clear();
    FDnsResultList.clear();
    FLookedUpName.clear();
}

void TCustomWSocket::StartLookup(const std::string& hostName) {
    if (hostName.empty()) {
        ReportError("DNS lookup: invalid host name.");
        return HandleDnsLookupDone(WSAEINVAL);
    }
    DropPendingLookup();
    // A dotted address needs no lookup; it is answered within the call.
    if (IsDottedAddress(hostName)) {
        in_addr address{};
        address.s_addr = WSocket_inet_addr(TrimBlanks(hostName).c_str());
        if (address.s_addr != INADDR_NONE) {
            FDnsResult = WSocket_inet_ntoa(address);
            FDnsResultList.push_back(FDnsResult);
            return HandleDnsLookupDone(0);
        }
    } else if (auto address = TSocketAddress::FromLiteral(hostName)) {
        FDnsResult = address->Text();
        FDnsResultList.push_back(FDnsResult);
        return HandleDnsLookupDone(0);
    }
    if (!FWindowHandle) return ReportError("DNS Lookup: Window not assigned");
    FEarlyLookupReply = false;
    FPendingLookupName = TrimBlanks(hostName);
    FLookupTaskHandle =
        WSocket_WSAAsyncGetAddresses(FWindowHandle, HostLookupDoneMessage, hostName.c_str(),
                                     FLookupReplyBuffer, sizeof FLookupReplyBuffer);
    if (!FLookupTaskHandle) {
        FLastError = WSocket_WSAGetLastError();
        return ReportError(hostName + ": can't start DNS lookup - " +
                           SocketErrorMessage(FLastError));
    }
    if (FEarlyLookupReply) {
        FEarlyLookupReply = false;
        HandleLookupDone(FSavedLookupMessage);
    }
}

void TCustomWSocket::HandleLookupDone(const TMessage& msg) {
    // A reply taken while its request was being made waits for the request's handle.
    if (FLookupTaskHandle == 0) {
        FSavedLookupMessage = msg;
        FEarlyLookupReply = true;
        return;
    }
    if (msg.WParam != FLookupTaskHandle) return;
    FLookupTaskHandle = 0;
    WORD error = WSAGETASYNCERROR(msg.LParam);
    if (error == 0) {
        CollectAddresses();
        FLookedUpName = FPendingLookupName;
    }
    HandleDnsLookupDone(error);
}

void TCustomWSocket::CollectAddresses() {
    int count = 0;
    std::memcpy(&count, FLookupReplyBuffer, sizeof count);
    for (int i = 0; i < count && static_cast<std::size_t>(i) < kMaxResults; ++i) {
        SOCKADDR_INET address;
        std::memcpy(&address, FLookupReplyBuffer + sizeof count + i * sizeof address,
                    sizeof address);
        FDnsResultList.push_back(HoldSocketLibrary([&] { return TSocketAddress(address).Text(); }));
    }
    if (!FDnsResultList.empty()) FDnsResult = FDnsResultList.front();
}

void TCustomWSocket::CollectNames(const hostent& entry) {
    FDnsResult = entry.h_name;
    FDnsResultList.push_back(FDnsResult);
    for (std::size_t i = 0; entry.h_aliases[i] && FDnsResultList.size() < kMaxResults; ++i)
        if (*entry.h_aliases[i]) FDnsResultList.push_back(entry.h_aliases[i]);
}

void TCustomWSocket::StartReverseLookup(const std::string& hostAddr) {
    if (hostAddr.empty() || hostAddr.size() > kMaxHostLength) {
        ReportError("Reverse DNS Lookup: Invalid host name.");
        return HandleDnsLookupDone(WSAEINVAL);
    }
    DropPendingLookup();
    platform::u_long address = WSocket_inet_addr(hostAddr.c_str());
    if (!FWindowHandle) return ReportError("Reverse DNS Lookup: Window not assigned");
    FLookupTaskHandle = WSocket_WSAAsyncGetHostByAddr(
        FWindowHandle, AddrLookupDoneMessage, reinterpret_cast<const char*>(&address),
        sizeof address, AF_INET, FLookupReplyBuffer, sizeof FLookupReplyBuffer);
    if (!FLookupTaskHandle)
        ReportError(hostAddr + ": can't start reverse DNS lookup - " +
                    SocketErrorMessage(WSocket_WSAGetLastError()));
}

void TCustomWSocket::HandleReverseLookupDone(const TMessage& msg) {
    if (msg.WParam != FLookupTaskHandle || FLookupTaskHandle == 0) return;
    FLookupTaskHandle = 0;
    WORD error = WSAGETASYNCERROR(msg.LParam);
    if (error == 0) CollectNames(*reinterpret_cast<const hostent*>(FLookupReplyBuffer));
    HandleDnsLookupDone(error);
}

void TCustomWSocket::ReverseLookupNow(const std::string& hostAddr) {
    if (hostAddr.empty() || hostAddr.size() > kMaxHostLength) {
        ReportError("Reverse DNS Lookup: Invalid host name.");
        return HandleDnsLookupDone(WSAEINVAL);
    }
    DropPendingLookup();
    platform::u_long address = WSocket_inet_addr(hostAddr.c_str());
    hostent* entry =
        WSocket_gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
    if (!entry) return HandleDnsLookupDone(static_cast<WORD>(WSocket_WSAGetLastError()));
    CollectNames(*entry);
    HandleDnsLookupDone(0);
}

void TCustomWSocket::CancelLookup() {
    if (!FLookupTaskHandle) return;
    if (WSocket_WSACancelAsyncRequest(FLookupTaskHandle) != 0) {
        FLookupTaskHandle = 0;
        return ReportSocketError("WSACancelAsyncRequest");
    }
    FLookupTaskHandle = 0;
    if (!Destroying()) HandleDnsLookupDone(WSAEINTR);
}
