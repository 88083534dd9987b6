#include "socket/socket_library.h"

#include <atomic>

#include "socket/socket_errors.h"

namespace {

using namespace platform;

enum Slot {
    slotWSAStartup,
    slotWSACleanup,
    slotWSAGetLastError,
    slotWSASetLastError,
    slotWSAAsyncSelect,
    slotWSAAsyncGetHostByName,
    slotWSAAsyncGetHostByAddr,
    slotWSACancelAsyncRequest,
    slotgethostbyname,
    slotgethostbyaddr,
    slotgetservbyname,
    slotgetprotobyname,
    slotgethostname,
    slotinet_addr,
    slotinet_ntoa,
    slothtons,
    slotntohs,
    slotsocket,
    slotbind,
    slotconnect,
    slotlisten,
    slotaccept,
    slotshutdown,
    slotclosesocket,
    slotsetsockopt,
    slotgetsockopt,
    slotioctlsocket,
    slotWSAIoctl,
    slotsend,
    slotsendto,
    slotrecv,
    slotrecvfrom,
    slotgetsockname,
    slotgetpeername,
    slotgetaddresses,
    slotWSAAsyncGetAddresses,
    slotinet_pton,
    slotinet_ntop,
    slotCount
};

constexpr const char* kSlotNames[slotCount] = {
    "WSAStartup",
    "WSACleanup",
    "WSAGetLastError",
    "WSASetLastError",
    "WSAAsyncSelect",
    "WSAAsyncGetHostByName",
    "WSAAsyncGetHostByAddr",
    "WSACancelAsyncRequest",
    "gethostbyname",
    "gethostbyaddr",
    "getservbyname",
    "getprotobyname",
    "gethostname",
    "inet_addr",
    "inet_ntoa",
    "htons",
    "ntohs",
    "socket",
    "bind",
    "connect",
    "listen",
    "accept",
    "shutdown",
    "closesocket",
    "setsockopt",
    "getsockopt",
    "ioctlsocket",
    "WSAIoctl",
    "send",
    "sendto",
    "recv",
    "recvfrom",
    "getsockname",
    "getpeername",
    "getaddresses",
    "WSAAsyncGetAddresses",
    "inet_pton",
    "inet_ntop",
};

const char* const kLibrary = "wsock32.dll";
const char* const kLibrary2 = "ws2_32.dll";

struct LibraryState {
    HMODULE library = 0;
    HMODULE library2 = 0;
    std::atomic<FARPROC> entryPoints[slotCount] = {};
    std::uint8_t reqVerLow = 1;
    std::uint8_t reqVerHigh = 1;
    int usageCount = 0;
    WSADATA startupData;
};

LibraryState& State() {
    static LibraryState state;
    return state;
}

// Every function lives in the first library except those of version 2.
bool InSecondLibrary(Slot slot) {
    return slot == slotWSAIoctl || slot >= slotgetaddresses;
}

template <typename Function>
Function* Bound(Slot slot) {
    FARPROC entry = State().entryPoints[slot].load(std::memory_order_acquire);
    if (!entry) {
        entry = InSecondLibrary(slot) ? LookupSocket2Function(kSlotNames[slot])
                                      : LookupSocketFunction(kSlotNames[slot]);
        State().entryPoints[slot].store(entry, std::memory_order_release);
    }
    return reinterpret_cast<Function*>(entry);
}

FARPROC LookUp(HMODULE library, const char* libraryName, const std::string& name) {
    FARPROC entry = GetProcAddress(library, name);
    if (!entry)
        throw ESocketException("Procedure " + name + " not found in " + libraryName + " - " +
                               SystemErrorMessage(GetLastError()));
    return entry;
}

// The socket layer's start-up and shutdown: the locks are made at program start, and the library
// is unloaded at program end when no socket is left. What the end uses is created first, so that
// it is still there then. Start-up announces nothing: the debug output here is standard error,
// which cron mails.
struct UnloadAtExit {
    UnloadAtExit() {
        WindowClassLock();
        SocketLibraryLock();
        SendBufferLock();
        State();
    }
    ~UnloadAtExit() {
        try {
            if (SocketUsageCount() < 1) UnloadSocketLibrary();
        } catch (const ESocketException&) {
            // Nothing is left to tell at program end.
        }
    }
} unloadAtExit;

}  // namespace

platform::RecursiveLock& WindowClassLock() {
    static platform::RecursiveLock lock;
    return lock;
}

platform::RecursiveLock& SocketLibraryLock() {
    static platform::RecursiveLock lock;
    return lock;
}

platform::RecursiveLock& SendBufferLock() {
    static platform::RecursiveLock lock;
    return lock;
}

FARPROC LookupSocketFunction(const std::string& name) {
    std::lock_guard lock(SocketLibraryLock());
    LibraryState& state = State();
    if (!state.library) {
        HMODULE library = LoadLibrary(kLibrary);
        if (!library)
            throw ESocketException(std::string("Unable to load ") + kLibrary + " - " +
                                   SystemErrorMessage(GetLastError()));
        // Stored before starting, so that binding WSAStartup below does not load again.
        state.library = library;
        WORD version = static_cast<WORD>(state.reqVerLow + 256 * state.reqVerHigh);
        int result = WSocket_WSAStartup(version, &state.startupData);
        if (result != 0)
            throw ESocketException(std::string("Winsock startup error ") + kLibrary + " - " +
                                   SystemErrorMessage(result));
    }
    if (name.empty()) return nullptr;
    return LookUp(state.library, kLibrary, name);
}

FARPROC LookupSocket2Function(const std::string& name) {
    std::lock_guard lock(SocketLibraryLock());
    LibraryState& state = State();
    if (!state.library2) {
        LookupSocketFunction("");
        HMODULE library = LoadLibrary(kLibrary2);
        if (!library)
            throw ESocketException(std::string("Unable to load ") + kLibrary2 + " - " +
                                   SystemErrorMessage(GetLastError()));
        state.library2 = library;
    }
    return LookUp(state.library2, kLibrary2, name);
}

void UnloadSocketLibrary() {
    std::lock_guard lock(SocketLibraryLock());
    LibraryState& state = State();
    if (!state.library || state.usageCount != 0) return;
    WSocket_WSACleanup();
    if (state.library2) {
        FreeLibrary(state.library2);
        state.library2 = 0;
        for (int slot = 0; slot < slotCount; ++slot)
            if (InSecondLibrary(static_cast<Slot>(slot))) state.entryPoints[slot].store(nullptr);
    }
    FreeLibrary(state.library);
    state.library = 0;
    for (auto& entry : state.entryPoints)
        entry.store(nullptr);
}

bool SocketLibraryLoaded() {
    std::lock_guard lock(SocketLibraryLock());
    return State().library != 0;
}

int SocketUsageCount() {
    std::lock_guard lock(SocketLibraryLock());
    return State().usageCount;
}

void AddSocketUsage(int delta) {
    std::lock_guard lock(SocketLibraryLock());
    State().usageCount += delta;
}

std::uint8_t ReqVerLowValue() {
    return State().reqVerLow;
}
std::uint8_t ReqVerHighValue() {
    return State().reqVerHigh;
}
void StoreReqVerLow(std::uint8_t value) {
    State().reqVerLow = value;
}
void StoreReqVerHigh(std::uint8_t value) {
    State().reqVerHigh = value;
}

int WSocket_WSAStartup(WORD version, WSADATA* data) {
    return Bound<decltype(WSAStartup)>(slotWSAStartup)(version, data);
}
int WSocket_WSACleanup() {
    return Bound<decltype(WSACleanup)>(slotWSACleanup)();
}
int WSocket_WSAGetLastError() {
    return Bound<decltype(WSAGetLastError)>(slotWSAGetLastError)();
}
void WSocket_WSASetLastError(int error) {
    Bound<decltype(WSASetLastError)>(slotWSASetLastError)(error);
}
int WSocket_WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events) {
    return Bound<decltype(WSAAsyncSelect)>(slotWSAAsyncSelect)(s, window, message, events);
}
HANDLE WSocket_WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buf,
                                     int buflen) {
    return Bound<decltype(WSAAsyncGetHostByName)>(slotWSAAsyncGetHostByName)(window, message, name,
                                                                             buf, buflen);
}
HANDLE WSocket_WSAAsyncGetHostByAddr(HWND window, UINT message, const char* addr, int len, int type,
                                     char* buf, int buflen) {
    return Bound<decltype(WSAAsyncGetHostByAddr)>(slotWSAAsyncGetHostByAddr)(
        window, message, addr, len, type, buf, buflen);
}
int WSocket_WSACancelAsyncRequest(HANDLE request) {
    return Bound<decltype(WSACancelAsyncRequest)>(slotWSACancelAsyncRequest)(request);
}
hostent* WSocket_gethostbyname(const char* name) {
    return Bound<decltype(platform::gethostbyname)>(slotgethostbyname)(name);
}
hostent* WSocket_gethostbyaddr(const char* addr, int len, int type) {
    return Bound<decltype(platform::gethostbyaddr)>(slotgethostbyaddr)(addr, len, type);
}
servent* WSocket_getservbyname(const char* name, const char* proto) {
    return Bound<decltype(platform::getservbyname)>(slotgetservbyname)(name, proto);
}
protoent* WSocket_getprotobyname(const char* name) {
    return Bound<decltype(platform::getprotobyname)>(slotgetprotobyname)(name);
}
int WSocket_gethostname(char* name, int namelen) {
    return Bound<decltype(platform::gethostname)>(slotgethostname)(name, namelen);
}
platform::u_long WSocket_inet_addr(const char* text) {
    return Bound<decltype(platform::inet_addr)>(slotinet_addr)(text);
}
char* WSocket_inet_ntoa(in_addr address) {
    return Bound<decltype(platform::inet_ntoa)>(slotinet_ntoa)(address);
}
platform::u_short WSocket_htons(platform::u_short value) {
    return Bound<decltype(platform::htons)>(slothtons)(value);
}
platform::u_short WSocket_ntohs(platform::u_short value) {
    return Bound<decltype(platform::ntohs)>(slotntohs)(value);
}
SOCKET WSocket_socket(int af, int type, int protocol) {
    return Bound<decltype(platform::socket)>(slotsocket)(af, type, protocol);
}
int WSocket_bind(SOCKET s, const sockaddr* name, int namelen) {
    return Bound<decltype(platform::bind)>(slotbind)(s, name, namelen);
}
int WSocket_connect(SOCKET s, const sockaddr* name, int namelen) {
    return Bound<decltype(platform::connect)>(slotconnect)(s, name, namelen);
}
int WSocket_listen(SOCKET s, int backlog) {
    return Bound<decltype(platform::listen)>(slotlisten)(s, backlog);
}
SOCKET WSocket_accept(SOCKET s, sockaddr* addr, int* addrlen) {
    return Bound<decltype(platform::accept)>(slotaccept)(s, addr, addrlen);
}
int WSocket_shutdown(SOCKET s, int how) {
    return Bound<decltype(platform::shutdown)>(slotshutdown)(s, how);
}
int WSocket_closesocket(SOCKET s) {
    return Bound<decltype(closesocket)>(slotclosesocket)(s);
}
int WSocket_setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen) {
    return Bound<decltype(platform::setsockopt)>(slotsetsockopt)(s, level, optname, optval, optlen);
}
int WSocket_getsockopt(SOCKET s, int level, int optname, void* optval, int* optlen) {
    return Bound<decltype(platform::getsockopt)>(slotgetsockopt)(s, level, optname, optval, optlen);
}
int WSocket_ioctlsocket(SOCKET s, long cmd, platform::u_long* argp) {
    return Bound<decltype(ioctlsocket)>(slotioctlsocket)(s, cmd, argp);
}
int WSocket_WSAIoctl(SOCKET s, DWORD code, const void* inBuffer, DWORD inLength, void* outBuffer,
                     DWORD outLength, DWORD* bytesReturned, void* overlapped,
                     void* completionRoutine) {
    return Bound<decltype(WSAIoctl)>(slotWSAIoctl)(s, code, inBuffer, inLength, outBuffer,
                                                   outLength, bytesReturned, overlapped,
                                                   completionRoutine);
}
int WSocket_send(SOCKET s, const void* buf, int len, int flags) {
    return Bound<decltype(platform::send)>(slotsend)(s, buf, len, flags);
}
int WSocket_sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, int tolen) {
    return Bound<decltype(platform::sendto)>(slotsendto)(s, buf, len, flags, to, tolen);
}
int WSocket_recv(SOCKET s, void* buf, int len, int flags) {
    return Bound<decltype(platform::recv)>(slotrecv)(s, buf, len, flags);
}
int WSocket_recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, int* fromlen) {
    return Bound<decltype(platform::recvfrom)>(slotrecvfrom)(s, buf, len, flags, from, fromlen);
}
int WSocket_getsockname(SOCKET s, sockaddr* name, int* namelen) {
    return Bound<decltype(platform::getsockname)>(slotgetsockname)(s, name, namelen);
}
int WSocket_getpeername(SOCKET s, sockaddr* name, int* namelen) {
    return Bound<decltype(platform::getpeername)>(slotgetpeername)(s, name, namelen);
}
int WSocket_getaddresses(const char* name, SOCKADDR_INET* list, int capacity) {
    return Bound<decltype(platform::getaddresses)>(slotgetaddresses)(name, list, capacity);
}
HANDLE WSocket_WSAAsyncGetAddresses(HWND window, UINT message, const char* name, char* buf,
                                    int buflen) {
    return Bound<decltype(WSAAsyncGetAddresses)>(slotWSAAsyncGetAddresses)(window, message, name,
                                                                           buf, buflen);
}
int WSocket_inet_pton(int af, const char* src, void* dst) {
    return Bound<decltype(platform::inet_pton)>(slotinet_pton)(af, src, dst);
}
const char* WSocket_inet_ntop(int af, const void* src, char* dst, int size) {
    return Bound<decltype(platform::inet_ntop)>(slotinet_ntop)(af, src, dst, size);
}
