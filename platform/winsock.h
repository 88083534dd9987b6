// The platform socket library: a Windows Sockets 1.1 shaped interface over POSIX sockets, IPv4
// and IPv6.
//
// The socket layer above is written against this interface: errors come back through
// WSAGetLastError as the Windows Sockets numbers (10004 to 11004), network events are posted to a
// hidden window with WSAAsyncSelect, and host lookups run in the background with
// WSAAsyncGetHostByName. Level and option names (SOL_SOCKET, SO_LINGER, IPPROTO_TCP, FIONREAD...)
// are the POSIX ones; the option records that differ (linger, keep-alive values) have the Windows
// shape and are translated here. Sockets are non-blocking from creation, and sending never
// raises SIGPIPE.
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

#include "platform/message_loop.h"

// glibc turns these into macros when optimising; the facade declares functions of the same names.
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

namespace platform {

using SOCKET = std::uintptr_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using u_short = std::uint16_t;
using u_long = std::uint32_t;
using HANDLE = std::uintptr_t;  // an asynchronous request; 0 is "none"

constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

// Error numbers.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Network events of WSAAsyncSelect.
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

// How of shutdown.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

// WSAIoctl control codes.
constexpr DWORD SIO_RCVALL = 0x98000001;
constexpr DWORD SIO_KEEPALIVE_VALS = 0x98000004;

// The reply of WSAAsyncSelect and of the asynchronous lookups: event (or buffer length) in the low
// word of lParam, error in the high word.
constexpr LPARAM WSAMAKESELECTREPLY(unsigned event, unsigned error) {
    return static_cast<LPARAM>((error & 0xFFFFu) << 16 | (event & 0xFFFFu));
}
constexpr WORD WSAGETSELECTEVENT(LPARAM lParam) {
    return static_cast<WORD>(lParam & 0xFFFF);
}
constexpr WORD WSAGETSELECTERROR(LPARAM lParam) {
    return static_cast<WORD>((lParam >> 16) & 0xFFFF);
}
constexpr WORD WSAGETASYNCERROR(LPARAM lParam) {
    return WSAGETSELECTERROR(lParam);
}

// The room a host entry needs at most in an asynchronous lookup's buffer.
constexpr int MAXGETHOSTSTRUCT = 1024;

struct WSADATA {
    WORD wVersion = 0;
    WORD wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    unsigned short iMaxSockets = 0;
    unsigned short iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

// The Windows shape of SO_LINGER's value.
struct LINGER {
    u_short l_onoff;
    u_short l_linger;
};

// The input of SIO_KEEPALIVE_VALS; times in milliseconds.
struct tcp_keepalive {
    u_long onoff;
    u_long keepalivetime;
    u_long keepaliveinterval;
};

// Start-up and errors.
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// Network events posted as wMsg to window (wParam = socket, lParam = WSAMAKESELECTREPLY). Must be
// called on the window's thread. lEvent 0 stops all messages for the socket.
int WSAAsyncSelect(SOCKET s, HWND window, UINT wMsg, long lEvent);

// Background lookups: the host entry is copied into buf on the window's thread right before wMsg
// (wParam = request, lParam = WSAMAKESELECTREPLY(entry size, error)) is handled there.
HANDLE WSAAsyncGetHostByName(HWND window, UINT wMsg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetHostByAddr(HWND window, UINT wMsg, const char* addr, int len, int type, char* buf,
                             int buflen);
// A cancelled request posts nothing. Fails (WSAEINVAL) once its reply has been delivered.
int WSACancelAsyncRequest(HANDLE request);

// An address of either family, told apart by si_family; ports in network order.
union SOCKADDR_INET {
    sockaddr_in Ipv4;
    sockaddr_in6 Ipv6;
    sa_family_t si_family;
};

// Every address of a name, of both families: the IPv4 ones first, each family in the resolver's
// order, with port 0. Stores up to capacity of them and returns their count, or SOCKET_ERROR.
int getaddresses(const char* name, SOCKADDR_INET* list, int capacity);
// getaddresses in the background, as WSAAsyncGetHostByName: buf receives an int count followed
// by that many SOCKADDR_INET (as many as fit) right before wMsg is handled.
HANDLE WSAAsyncGetAddresses(HWND window, UINT wMsg, const char* name, char* buf, int buflen);

// Blocking resolution. The entries live in storage of the calling thread until its next call.
hostent* gethostbyname(const char* name);
hostent* gethostbyaddr(const char* addr, int len, int type);
servent* getservbyname(const char* name, const char* proto);
protoent* getprotobyname(const char* name);
int gethostname(char* name, int namelen);

// Address and byte order conversion. inet_ntoa's text lives in storage of the calling thread.
u_long inet_addr(const char* text);
char* inet_ntoa(in_addr address);
// Text of either family: 1 when src is an address of family af, 0 when not, SOCKET_ERROR for
// another family; inet_ntop returns dst, or nullptr when it is too small.
int inet_pton(int af, const char* src, void* dst);
const char* inet_ntop(int af, const void* src, char* dst, int size);
u_short htons(u_short value);
u_short ntohs(u_short value);

// Socket life.
SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int namelen);
int connect(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);

// Options and controls.
int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, void* optval, int* optlen);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);
int WSAIoctl(SOCKET s, DWORD code, const void* inBuffer, DWORD inLength, void* outBuffer,
             DWORD outLength, DWORD* bytesReturned, void* overlapped, void* completionRoutine);

// Data transfer.
int send(SOCKET s, const void* buf, int len, int flags);
int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, int tolen);
int recv(SOCKET s, void* buf, int len, int flags);
int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, int* fromlen);

// Addresses.
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);

// The library as a loadable module: "wsock32.dll" holds every function above but those of
// version 2, which "ws2_32.dll" holds: WSAIoctl, the address lists and inet_pton/inet_ntop.
// Functions are found by their names. Failures leave GetLastError set.
using HMODULE = std::uintptr_t;
using FARPROC = void (*)();
HMODULE LoadLibrary(const std::string& name);
FARPROC GetProcAddress(HMODULE module, const std::string& name);
bool FreeLibrary(HMODULE module);
int GetLastError();  // the calling thread's last error, shared with WSAGetLastError

// Texts: a Windows Sockets number's text (nullptr for other numbers), and the text of any error
// number of this platform (Windows Sockets numbers and errno values).
const char* WinsockErrorText(int code);
std::string SystemErrorText(int code);

}  // namespace platform
