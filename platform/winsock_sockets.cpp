// Socket life, options, data transfer and addresses over the POSIX calls.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include "platform/winsock_internal.h"

namespace platform {
namespace winsock {
namespace {

std::unordered_map<int, SocketRecord>& Records() {
    static std::unordered_map<int, SocketRecord> records;
    return records;
}
std::uint32_t nextSerial = 1;

int FdOf(SOCKET s) {
    return static_cast<int>(s & 0xFFFFFFFFu);
}

socklen_t LengthOf(int namelen) {
    return namelen < 0 ? 0 : static_cast<socklen_t>(namelen);
}

// The socket's descriptor after the common checks of every call.
int CheckedDescriptor(SOCKET s) {
    return RequireStartup() ? DescriptorOf(s) : -1;
}

int SetLinger(int fd, const void* optval, int optlen) {
    if (optlen < static_cast<int>(sizeof(LINGER))) return Fail(WSAEFAULT);
    auto* value = static_cast<const LINGER*>(optval);
    ::linger posix{value->l_onoff != 0, value->l_linger};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &posix, sizeof posix) != 0) return FailFromErrno();
    return 0;
}

int GetLinger(int fd, void* optval, int* optlen) {
    if (!optlen || *optlen < static_cast<int>(sizeof(LINGER))) return Fail(WSAEFAULT);
    ::linger posix{};
    socklen_t length = sizeof posix;
    if (::getsockopt(fd, SOL_SOCKET, SO_LINGER, &posix, &length) != 0) return FailFromErrno();
    auto* value = static_cast<LINGER*>(optval);
    value->l_onoff = posix.l_onoff != 0;
    value->l_linger = static_cast<u_short>(posix.l_linger);
    *optlen = sizeof(LINGER);
    return 0;
}

// Keep-alive times are whole seconds here; a part of a second counts as one.
int Seconds(u_long milliseconds) {
    return std::max(1, static_cast<int>((milliseconds + 999) / 1000));
}

int SetKeepAliveValues(int fd, const void* inBuffer, DWORD inLength) {
    if (!inBuffer || inLength < sizeof(tcp_keepalive)) return Fail(WSAEFAULT);
    auto* values = static_cast<const tcp_keepalive*>(inBuffer);
    int on = values->onoff != 0;
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) return FailFromErrno();
    if (!on) return 0;
    int idle = Seconds(values->keepalivetime);
    int interval = Seconds(values->keepaliveinterval);
    if (::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0)
        return FailFromErrno();
    return 0;
}

}  // namespace

std::mutex& TableMutex() {
    static std::mutex mutex;
    return mutex;
}

SocketRecord* FindRecord(SOCKET s) {
    auto it = Records().find(FdOf(s));
    return it == Records().end() || it->second.handle != s ? nullptr : &it->second;
}

SOCKET AddRecord(int fd, int type) {
    SOCKET handle = static_cast<SOCKET>(nextSerial++) << 32 | static_cast<std::uint32_t>(fd);
    SocketRecord& record = Records()[fd];
    record = SocketRecord{};
    record.fd = fd;
    record.handle = handle;
    record.type = type;
    return handle;
}

void RemoveRecord(SOCKET s) {
    Records().erase(FdOf(s));
}

int DescriptorOf(SOCKET s) {
    std::lock_guard lock(TableMutex());
    if (SocketRecord* record = FindRecord(s)) return record->fd;
    Fail(WSAENOTSOCK);
    return -1;
}

}  // namespace winsock

using namespace winsock;

SOCKET socket(int af, int type, int protocol) {
    if (!RequireStartup()) return INVALID_SOCKET;
    int fd = ::socket(af, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailFromErrno();
        return INVALID_SOCKET;
    }
    std::lock_guard lock(TableMutex());
    return AddRecord(fd, type);
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (::bind(fd, name, LengthOf(namelen)) != 0) return FailFromErrno();
    return 0;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    int error = ::connect(fd, name, LengthOf(namelen)) == 0 ? 0 : errno;
    // The kernel may settle a loopback connect within the call; its outcome still arrives as
    // FD_CONNECT, as for every non-blocking connect.
    bool settled = error == ECONNREFUSED || error == ETIMEDOUT || error == ECONNRESET ||
                   error == EHOSTUNREACH || error == ENETUNREACH;
    if (error != 0 && error != EINPROGRESS && !settled) return Fail(ErrorFromErrno(error));
    {
        std::lock_guard lock(TableMutex());
        if (SocketRecord* record = FindRecord(s)) {
            record->connecting = true;
            record->connectError = settled ? ErrorFromErrno(error) : 0;
            UpdateWatch(*record);
        }
    }
    return error == 0 ? 0 : Fail(WSAEWOULDBLOCK);
}

int listen(SOCKET s, int backlog) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (::listen(fd, backlog) != 0) return FailFromErrno();
    std::lock_guard lock(TableMutex());
    if (SocketRecord* record = FindRecord(s)) {
        record->listening = true;
        record->select.acceptEnabled = (record->select.events & FD_ACCEPT) != 0;
        UpdateWatch(*record);
    }
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return INVALID_SOCKET;
    socklen_t length = addrlen ? LengthOf(*addrlen) : 0;
    int accepted = ::accept4(fd, addrlen ? addr : nullptr, addrlen ? &length : nullptr,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    int error = errno;
    std::lock_guard lock(TableMutex());
    if (SocketRecord* record = FindRecord(s)) ReenableEvents(*record, FD_ACCEPT);
    if (accepted < 0) {
        Fail(ErrorFromErrno(error));
        return INVALID_SOCKET;
    }
    if (addrlen) *addrlen = static_cast<int>(length);
    SOCKET handle = AddRecord(accepted, SOCK_STREAM);
    FindRecord(handle)->connected = true;
    return handle;
}

int shutdown(SOCKET s, int how) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (::shutdown(fd, how) != 0) return FailFromErrno();
    std::lock_guard lock(TableMutex());
    if (SocketRecord* record = FindRecord(s)) {
        if (how == SD_SEND || how == SD_BOTH) record->sendShut = true;
        if (how == SD_RECEIVE || how == SD_BOTH) {
            record->receiveShut = true;
            UpdateWatch(*record);
        }
    }
    return 0;
}

int closesocket(SOCKET s) {
    if (!RequireStartup()) return SOCKET_ERROR;
    int fd;
    {
        std::lock_guard lock(TableMutex());
        SocketRecord* record = FindRecord(s);
        if (!record) return Fail(WSAENOTSOCK);
        fd = record->fd;
        StopWatching(*record);
        RemoveRecord(s);
    }
    // The descriptor is released even when close reports an error.
    if (::close(fd) != 0 && errno != EINTR) return FailFromErrno();
    return 0;
}

int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (!optval) return Fail(WSAEFAULT);
    if (level == SOL_SOCKET && optname == SO_LINGER) return SetLinger(fd, optval, optlen);
    if (::setsockopt(fd, level, optname, optval, LengthOf(optlen)) != 0) return FailFromErrno();
    return 0;
}

int getsockopt(SOCKET s, int level, int optname, void* optval, int* optlen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (!optval || !optlen) return Fail(WSAEFAULT);
    if (level == SOL_SOCKET && optname == SO_LINGER) return GetLinger(fd, optval, optlen);
    socklen_t length = LengthOf(*optlen);
    if (::getsockopt(fd, level, optname, optval, &length) != 0) return FailFromErrno();
    if (level == SOL_SOCKET && optname == SO_ERROR && length == sizeof(int)) {
        auto* error = static_cast<int*>(optval);
        *error = ErrorFromErrno(*error);
    }
    *optlen = static_cast<int>(length);
    return 0;
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (!argp) return Fail(WSAEFAULT);
    if (cmd == static_cast<long>(FIONREAD)) {
        int count = 0;
        if (::ioctl(fd, FIONREAD, &count) != 0) return FailFromErrno();
        *argp = static_cast<u_long>(count);
        return 0;
    }
    if (cmd == static_cast<long>(FIONBIO)) {
        int flags = ::fcntl(fd, F_GETFL);
        flags = *argp ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
        if (::fcntl(fd, F_SETFL, flags) != 0) return FailFromErrno();
        return 0;
    }
    return Fail(WSAEINVAL);
}

int WSAIoctl(SOCKET s, DWORD code, const void* inBuffer, DWORD inLength, void* /*outBuffer*/,
             DWORD /*outLength*/, DWORD* bytesReturned, void* /*overlapped*/,
             void* /*completionRoutine*/) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (bytesReturned) *bytesReturned = 0;
    if (code == SIO_KEEPALIVE_VALS) return SetKeepAliveValues(fd, inBuffer, inLength);
    // Receiving every packet of an interface has no equivalent for a plain socket here.
    return Fail(WSAEOPNOTSUPP);
}

int send(SOCKET s, const void* buf, int len, int flags) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    ssize_t sent = ::send(fd, buf, len < 0 ? 0 : len, flags | MSG_NOSIGNAL);
    int error = errno;
    if (sent == len) return static_cast<int>(sent);
    // A send the kernel took only in part is one that would block for the rest.
    std::lock_guard lock(TableMutex());
    SocketRecord* record = FindRecord(s);
    if (record && (sent >= 0 || error == EAGAIN)) ReenableEvents(*record, FD_WRITE);
    if (sent >= 0) return static_cast<int>(sent);
    if (error == EPIPE && record && record->sendShut) return Fail(WSAESHUTDOWN);
    return Fail(ErrorFromErrno(error));
}

int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, int tolen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    ssize_t sent = ::sendto(fd, buf, len < 0 ? 0 : len, flags | MSG_NOSIGNAL, to, LengthOf(tolen));
    if (sent >= 0) return static_cast<int>(sent);
    int error = errno;
    std::lock_guard lock(TableMutex());
    if (SocketRecord* record = FindRecord(s); record && error == EAGAIN)
        ReenableEvents(*record, FD_WRITE);
    return Fail(ErrorFromErrno(error));
}

int recv(SOCKET s, void* buf, int len, int flags) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    ssize_t received = ::recv(fd, buf, len < 0 ? 0 : len, flags);
    int error = errno;
    {
        std::lock_guard lock(TableMutex());
        if (SocketRecord* record = FindRecord(s)) ReenableEvents(*record, FD_READ);
    }
    if (received >= 0) return static_cast<int>(received);
    return Fail(ErrorFromErrno(error));
}

int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, int* fromlen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    socklen_t length = fromlen ? LengthOf(*fromlen) : 0;
    ssize_t received = ::recvfrom(fd, buf, len < 0 ? 0 : len, flags, fromlen ? from : nullptr,
                                  fromlen ? &length : nullptr);
    int error = errno;
    {
        std::lock_guard lock(TableMutex());
        if (SocketRecord* record = FindRecord(s)) ReenableEvents(*record, FD_READ);
    }
    if (received < 0) return Fail(ErrorFromErrno(error));
    if (fromlen) *fromlen = static_cast<int>(length);
    return static_cast<int>(received);
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (!namelen) return Fail(WSAEFAULT);
    socklen_t length = LengthOf(*namelen);
    if (::getsockname(fd, name, &length) != 0) return FailFromErrno();
    *namelen = static_cast<int>(length);
    return 0;
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    int fd = CheckedDescriptor(s);
    if (fd < 0) return SOCKET_ERROR;
    if (!namelen) return Fail(WSAEFAULT);
    socklen_t length = LengthOf(*namelen);
    if (::getpeername(fd, name, &length) != 0) return FailFromErrno();
    *namelen = static_cast<int>(length);
    return 0;
}

}  // namespace platform
