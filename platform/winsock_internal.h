// What the pieces of the socket library share: error mapping, the start-up state and the table
// of live sockets with their WSAAsyncSelect state.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"

namespace platform::winsock {

// Windows Sockets numbers for errno values and for getaddrinfo/getnameinfo results.
int ErrorFromErrno(int error);
int ErrorFromResolver(int eaiCode);

// Sets the calling thread's last error and returns SOCKET_ERROR.
int Fail(int wsaError);
int FailFromErrno();

// False (with WSANOTINITIALISED set) unless WSAStartup succeeded more often than WSACleanup.
bool RequireStartup();

// A host entry as the resolver found it; addresses in network order.
struct HostEntry {
    std::string name;
    std::vector<std::string> aliases;
    std::vector<std::uint32_t> addresses;
    // The addresses of both families, for the address lists.
    std::vector<SOCKADDR_INET> allAddresses;
};

// The blocking lookups behind gethostbyname/gethostbyaddr and their asynchronous forms. They
// return 0 or the Windows Sockets error.
int LookupName(const std::string& name, HostEntry& entry);
int LookupAddress(std::uint32_t address, HostEntry& entry);
// Every address of the name into entry.allAddresses, IPv4 ones first.
int LookupAllAddresses(const std::string& name, HostEntry& entry);
// Lays the addresses out as an int count and the SOCKADDR_INET records, as many as fit in
// length; returns the bytes written, 0 when not even one fits.
int PackAddressList(const std::vector<SOCKADDR_INET>& addresses, char* buffer, int length);

// Lays the entry out as a hostent with everything it points to inside buffer. Returns the size
// it needs; nothing is written when that is more than length.
int PackHostEntry(const HostEntry& entry, char* buffer, int length);

// What WSAAsyncSelect keeps for a socket.
struct SelectState {
    HWND window = 0;
    UINT message = 0;
    long events = 0;
    std::thread::id thread;  // whose loop watches the descriptor
    bool watched = false;
    std::uint32_t mask = 0;  // epoll events currently asked for
    // Events that may be posted now; each is re-enabled by its own call (recv, send, accept).
    bool readEnabled = false;
    bool writeEnabled = false;
    bool acceptEnabled = false;
    bool closeEnabled = false;
};

struct SocketRecord {
    int fd = -1;
    SOCKET handle = INVALID_SOCKET;
    int type = SOCK_STREAM;
    bool connecting = false;
    int connectError = 0;  // an outcome the connect call already knew
    bool connected = false;
    bool connectFailed = false;
    // The outcome FD_CONNECT reported; a new selection posts it again, in case the first message
    // was dropped (paused, or the window changed threads) before it was handled.
    bool connectCompleted = false;
    int connectResult = 0;
    bool listening = false;
    bool peerClosed = false;   // the peer closed or reset; no new data will arrive
    bool sendShut = false;     // shut down for sending by us
    bool receiveShut = false;  // shut down for receiving by us: its end of input is not the peer's
    SelectState select;
};

// The table of live sockets. Handles carry a serial number beside the descriptor, so that a
// reused descriptor never matches a message posted for an earlier socket.
std::mutex& TableMutex();
SocketRecord* FindRecord(SOCKET s);  // under TableMutex; nullptr when s is not live
SOCKET AddRecord(int fd, int type);  // under TableMutex
void RemoveRecord(SOCKET s);         // under TableMutex

// The descriptor of a live socket, or -1 with WSAENOTSOCK set.
int DescriptorOf(SOCKET s);

// WSAAsyncSelect's machinery, all under TableMutex.
void ReenableEvents(SocketRecord& record, long events);
// False when the loop refused to watch the descriptor.
bool UpdateWatch(SocketRecord& record);
void StopWatching(SocketRecord& record);

}  // namespace platform::winsock
