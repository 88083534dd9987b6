// Start-up, clean-up and the library's name table.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/winsock_internal.h"

namespace platform {
namespace {

// The versions served: 1.0 up to 2.2.
constexpr WORD kHighestVersion = 0x0202;

std::atomic<int> startupCount{0};

constexpr HMODULE kWsock32 = 1;
constexpr HMODULE kWs2_32 = 2;

template <typename Function>
FARPROC Entry(Function* function) {
    return reinterpret_cast<FARPROC>(function);
}

// The name tables are never destroyed, so that the library can still be cleaned up while the
// program's static objects go.
const std::map<std::string, FARPROC>& Wsock32Functions() {
    static const auto* functions = new std::map<std::string, FARPROC>{
        {"WSAStartup", Entry(&WSAStartup)},
        {"WSACleanup", Entry(&WSACleanup)},
        {"WSAGetLastError", Entry(&WSAGetLastError)},
        {"WSASetLastError", Entry(&WSASetLastError)},
        {"WSAAsyncSelect", Entry(&WSAAsyncSelect)},
        {"WSAAsyncGetHostByName", Entry(&WSAAsyncGetHostByName)},
        {"WSAAsyncGetHostByAddr", Entry(&WSAAsyncGetHostByAddr)},
        {"WSACancelAsyncRequest", Entry(&WSACancelAsyncRequest)},
        {"gethostbyname", Entry(&platform::gethostbyname)},
        {"gethostbyaddr", Entry(&platform::gethostbyaddr)},
        {"getservbyname", Entry(&platform::getservbyname)},
        {"getprotobyname", Entry(&platform::getprotobyname)},
        {"gethostname", Entry(&platform::gethostname)},
        {"inet_addr", Entry(&platform::inet_addr)},
        {"inet_ntoa", Entry(&platform::inet_ntoa)},
        {"htons", Entry(&platform::htons)},
        {"ntohs", Entry(&platform::ntohs)},
        {"socket", Entry(&platform::socket)},
        {"bind", Entry(&platform::bind)},
        {"connect", Entry(&platform::connect)},
        {"listen", Entry(&platform::listen)},
        {"accept", Entry(&platform::accept)},
        {"shutdown", Entry(&platform::shutdown)},
        {"closesocket", Entry(&closesocket)},
        {"setsockopt", Entry(&platform::setsockopt)},
        {"getsockopt", Entry(&platform::getsockopt)},
        {"ioctlsocket", Entry(&ioctlsocket)},
        {"send", Entry(&platform::send)},
        {"sendto", Entry(&platform::sendto)},
        {"recv", Entry(&platform::recv)},
        {"recvfrom", Entry(&platform::recvfrom)},
        {"getsockname", Entry(&platform::getsockname)},
        {"getpeername", Entry(&platform::getpeername)},
    };
    return *functions;
}

const std::map<std::string, FARPROC>& Ws2_32Functions() {
    static const auto* functions = new std::map<std::string, FARPROC>{
        {"WSAIoctl", Entry(&WSAIoctl)},
        {"getaddresses", Entry(&platform::getaddresses)},
        {"WSAAsyncGetAddresses", Entry(&WSAAsyncGetAddresses)},
        {"inet_pton", Entry(&platform::inet_pton)},
        {"inet_ntop", Entry(&platform::inet_ntop)},
    };
    return *functions;
}

}  // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
    // The version word holds the major number in its low byte, the minor in its high byte.
    int major = versionRequested & 0xFF;
    int minor = versionRequested >> 8;
    if (major < 1) return WSAVERNOTSUPPORTED;
    if (!data) return WSAEFAULT;
    bool aboveHighest = major > 2 || (major == 2 && minor > 2);
    *data = WSADATA{};
    data->wVersion = aboveHighest ? kHighestVersion : versionRequested;
    data->wHighVersion = kHighestVersion;
    std::strcpy(data->szDescription, "POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0xFFFF;
    data->iMaxUdpDg = 0xFFFF;
    ++startupCount;
    return 0;
}

int WSACleanup() {
    int count = startupCount.load();
    while (count > 0 && !startupCount.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0) return winsock::Fail(WSANOTINITIALISED);
    return 0;
}

HMODULE LoadLibrary(const std::string& name) {
    if (name == "wsock32.dll") return kWsock32;
    if (name == "ws2_32.dll") return kWs2_32;
    WSASetLastError(ENOENT);
    return 0;
}

FARPROC GetProcAddress(HMODULE module, const std::string& name) {
    const std::map<std::string, FARPROC>* functions = nullptr;
    if (module == kWsock32) functions = &Wsock32Functions();
    if (module == kWs2_32) functions = &Ws2_32Functions();
    if (!functions) {
        WSASetLastError(EBADF);
        return nullptr;
    }
    auto it = functions->find(name);
    if (it == functions->end()) {
        WSASetLastError(ENOSYS);
        return nullptr;
    }
    return it->second;
}

bool FreeLibrary(HMODULE module) {
    if (module == kWsock32 || module == kWs2_32) return true;
    WSASetLastError(EBADF);
    return false;
}

namespace winsock {

bool RequireStartup() {
    if (startupCount.load() > 0) return true;
    Fail(WSANOTINITIALISED);
    return false;
}

}  // namespace winsock
}  // namespace platform
