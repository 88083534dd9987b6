// The binding to the platform socket library, shared by all sockets of the process: loaded and
// started on the first call that needs it, each function looked up by name at its first call and
// kept, cleaned up and released when the last socket is gone.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/system.h"
#include "platform/winsock.h"

// The three process-wide locks.
platform::RecursiveLock& WindowClassLock();
platform::RecursiveLock& SocketLibraryLock();
platform::RecursiveLock& SendBufferLock();

// Binds one function of "wsock32.dll" (of "ws2_32.dll"), loading and starting the library first
// when needed; an empty name only loads and starts it. Failures raise ESocketException.
platform::FARPROC LookupSocketFunction(const std::string& name);
platform::FARPROC LookupSocket2Function(const std::string& name);
// Cleans up and releases the library when it is loaded and no socket is left.
void UnloadSocketLibrary();
bool SocketLibraryLoaded();

// Live socket objects, plus one for each call in progress inside HoldSocketLibrary.
int SocketUsageCount();
void AddSocketUsage(int delta);  // takes SocketLibraryLock

// Counts a library call as a user of the library while it runs.
template <typename Call>
auto HoldSocketLibrary(Call call) {
    struct Hold {
        Hold() { AddSocketUsage(1); }
        ~Hold() { AddSocketUsage(-1); }
    } hold;
    return call();
}

// The requested library version, process-wide (default 1.1).
std::uint8_t ReqVerLowValue();
std::uint8_t ReqVerHighValue();
void StoreReqVerLow(std::uint8_t value);
void StoreReqVerHigh(std::uint8_t value);

// One thin wrapper per library function: bound at its first call, then called straight through.
int WSocket_WSAStartup(platform::WORD version, platform::WSADATA* data);
int WSocket_WSACleanup();
int WSocket_WSAGetLastError();
void WSocket_WSASetLastError(int error);
int WSocket_WSAAsyncSelect(platform::SOCKET s, platform::HWND window, platform::UINT message,
                           long events);
platform::HANDLE WSocket_WSAAsyncGetHostByName(platform::HWND window, platform::UINT message,
                                               const char* name, char* buf, int buflen);
platform::HANDLE WSocket_WSAAsyncGetHostByAddr(platform::HWND window, platform::UINT message,
                                               const char* addr, int len, int type, char* buf,
                                               int buflen);
int WSocket_WSACancelAsyncRequest(platform::HANDLE request);
hostent* WSocket_gethostbyname(const char* name);
hostent* WSocket_gethostbyaddr(const char* addr, int len, int type);
servent* WSocket_getservbyname(const char* name, const char* proto);
protoent* WSocket_getprotobyname(const char* name);
int WSocket_gethostname(char* name, int namelen);
platform::u_long WSocket_inet_addr(const char* text);
char* WSocket_inet_ntoa(in_addr address);
platform::u_short WSocket_htons(platform::u_short value);
platform::u_short WSocket_ntohs(platform::u_short value);
platform::SOCKET WSocket_socket(int af, int type, int protocol);
int WSocket_bind(platform::SOCKET s, const sockaddr* name, int namelen);
int WSocket_connect(platform::SOCKET s, const sockaddr* name, int namelen);
int WSocket_listen(platform::SOCKET s, int backlog);
platform::SOCKET WSocket_accept(platform::SOCKET s, sockaddr* addr, int* addrlen);
int WSocket_shutdown(platform::SOCKET s, int how);
int WSocket_closesocket(platform::SOCKET s);
int WSocket_setsockopt(platform::SOCKET s, int level, int optname, const void* optval, int optlen);
int WSocket_getsockopt(platform::SOCKET s, int level, int optname, void* optval, int* optlen);
int WSocket_ioctlsocket(platform::SOCKET s, long cmd, platform::u_long* argp);
int WSocket_WSAIoctl(platform::SOCKET s, platform::DWORD code, const void* inBuffer,
                     platform::DWORD inLength, void* outBuffer, platform::DWORD outLength,
                     platform::DWORD* bytesReturned, void* overlapped, void* completionRoutine);
int WSocket_send(platform::SOCKET s, const void* buf, int len, int flags);
int WSocket_sendto(platform::SOCKET s, const void* buf, int len, int flags, const sockaddr* to,
                   int tolen);
int WSocket_recv(platform::SOCKET s, void* buf, int len, int flags);
int WSocket_recvfrom(platform::SOCKET s, void* buf, int len, int flags, sockaddr* from,
                     int* fromlen);
int WSocket_getsockname(platform::SOCKET s, sockaddr* name, int* namelen);
int WSocket_getpeername(platform::SOCKET s, sockaddr* name, int* namelen);
int WSocket_getaddresses(const char* name, platform::SOCKADDR_INET* list, int capacity);
platform::HANDLE WSocket_WSAAsyncGetAddresses(platform::HWND window, platform::UINT message,
                                              const char* name, char* buf, int buflen);
int WSocket_inet_pton(int af, const char* src, void* dst);
const char* WSocket_inet_ntop(int af, const void* src, char* dst, int size);
