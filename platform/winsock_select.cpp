// WSAAsyncSelect over the thread's epoll loop, with the Windows rules: each event is posted once
// and then waits for its re-enabling call (FD_READ for recv, FD_WRITE for a send that would block,
// FD_ACCEPT for accept); FD_CONNECT and FD_CLOSE come once. The descriptor is watched only for
// events that may be posted, so a level-triggered descriptor never keeps the loop spinning.
#include <sys/epoll.h>

#include "platform/winsock_internal.h"

namespace platform::winsock {
namespace {

constexpr std::uint32_t kHangup = EPOLLRDHUP | EPOLLHUP | EPOLLERR;

int BytesReady(int fd) {
    int count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? count : 0;
}

// The socket's pending error as a Windows Sockets number; reading it clears it.
int PendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    return ErrorFromErrno(error);
}

void Post(const SocketRecord& record, long event, int error) {
    PostMessage(record.select.window, record.select.message, record.handle,
                WSAMAKESELECTREPLY(static_cast<unsigned>(event), static_cast<unsigned>(error)));
}

bool IsStream(const SocketRecord& record) {
    return record.type == SOCK_STREAM;
}

// The events that tell of the peer's close. After our own shutdown of the receive side, its end
// of input is ours: only a reset still tells of the peer (and nothing once both sides are shut).
std::uint32_t PeerHangup(const SocketRecord& record) {
    if (!record.receiveShut) return kHangup;
    return record.sendShut ? 0 : std::uint32_t{EPOLLHUP | EPOLLERR};
}

std::uint32_t WantedMask(const SocketRecord& record) {
    const SelectState& select = record.select;
    if (!select.window || !select.events || record.connectFailed) return 0;
    if (record.connecting) return EPOLLOUT;
    if (record.listening) return select.acceptEnabled ? std::uint32_t{EPOLLIN} : 0u;
    bool stream = IsStream(record);
    // A stream that is not connected yet reports a hang-up that says nothing about a peer.
    if (stream && !record.connected) return 0;
    std::uint32_t mask = 0;
    // After the end of input only bytes already received can make a stream readable.
    bool inputEnded = record.peerClosed || record.receiveShut;
    if (select.readEnabled && (!stream || !inputEnded || BytesReady(record.fd) > 0))
        mask |= EPOLLIN;
    if (select.writeEnabled) mask |= EPOLLOUT;
    if (select.closeEnabled && stream) mask |= PeerHangup(record) & (EPOLLRDHUP | EPOLLERR);
    return mask;
}

void CompleteConnect(SocketRecord& record) {
    int error = record.connectError ? record.connectError : PendingError(record.fd);
    record.connecting = false;
    record.connectError = 0;
    record.connected = error == 0;
    record.connectFailed = error != 0;
    record.connectCompleted = true;
    record.connectResult = error;
    if (record.select.events & FD_CONNECT) Post(record, FD_CONNECT, error);
    if (error == 0 && (record.select.events & FD_WRITE)) Post(record, FD_WRITE, 0);
}

void ReportDataEvents(SocketRecord& record, std::uint32_t events) {
    SelectState& select = record.select;
    bool stream = IsStream(record);
    bool readable = (events & (EPOLLIN | kHangup)) != 0;
    // Plain EPOLLIN on a stream watched for the peer's close means bytes; otherwise count them,
    // since a stream that is readable without bytes has reached its end.
    bool countBytes = stream && readable &&
                      ((events & kHangup) || record.peerClosed || !(select.mask & EPOLLRDHUP));
    int bytes = countBytes ? BytesReady(record.fd) : 1;
    bool inputEnd = readable && bytes == 0 && !record.receiveShut;
    if (stream && record.connected && ((events & PeerHangup(record)) || inputEnd))
        record.peerClosed = true;
    if (readable && select.readEnabled && bytes > 0) {
        select.readEnabled = false;
        Post(record, FD_READ, 0);
    }
    if ((events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) && select.writeEnabled) {
        select.writeEnabled = false;
        Post(record, FD_WRITE, 0);
    }
    if (record.peerClosed && select.closeEnabled && stream && record.connected) {
        select.closeEnabled = false;
        Post(record, FD_CLOSE, (events & EPOLLERR) ? PendingError(record.fd) : 0);
    }
}

void OnDescriptorEvents(SOCKET handle, std::uint32_t events) {
    std::lock_guard lock(TableMutex());
    SocketRecord* record = FindRecord(handle);
    if (!record) return;
    if (record->connecting) {
        CompleteConnect(*record);
    } else if (record->listening) {
        if ((events & EPOLLIN) && record->select.acceptEnabled) {
            record->select.acceptEnabled = false;
            Post(*record, FD_ACCEPT, 0);
        }
    } else {
        ReportDataEvents(*record, events);
    }
    UpdateWatch(*record);
}

bool OnOwnThread(const SelectState& select) {
    return select.thread == std::this_thread::get_id();
}

}  // namespace

bool UpdateWatch(SocketRecord& record) {
    SelectState& select = record.select;
    // Only the thread that selected the socket may change its own loop's watch.
    if (!OnOwnThread(select)) return true;
    std::uint32_t mask = WantedMask(record);
    if (mask == 0) {
        StopWatching(record);
    } else if (!select.watched) {
        SOCKET handle = record.handle;
        if (!WatchDescriptor(record.fd, mask, [handle](std::uint32_t events) {
                OnDescriptorEvents(handle, events);
            }))
            return false;
        select.watched = true;
        select.mask = mask;
    } else if (mask != select.mask) {
        if (!ModifyWatch(record.fd, mask)) return false;
        select.mask = mask;
    }
    return true;
}

void StopWatching(SocketRecord& record) {
    SelectState& select = record.select;
    if (select.watched && OnOwnThread(select)) UnwatchDescriptor(record.fd);
    select.watched = false;
    select.mask = 0;
}

void ReenableEvents(SocketRecord& record, long events) {
    SelectState& select = record.select;
    bool changed = false;
    auto enable = [&](long event, bool& flag) {
        if ((events & event) && (select.events & event) && !flag) flag = changed = true;
    };
    enable(FD_READ, select.readEnabled);
    enable(FD_WRITE, select.writeEnabled);
    enable(FD_ACCEPT, select.acceptEnabled);
    if (changed) UpdateWatch(record);
}

}  // namespace platform::winsock

namespace platform {

int WSAAsyncSelect(SOCKET s, HWND window, UINT wMsg, long lEvent) {
    using namespace winsock;
    if (!RequireStartup()) return SOCKET_ERROR;
    std::lock_guard lock(TableMutex());
    SocketRecord* record = FindRecord(s);
    if (!record) return Fail(WSAENOTSOCK);
    SelectState& select = record->select;
    auto self = std::this_thread::get_id();
    if (select.watched && select.thread != self) return Fail(WSAEINVAL);
    if (lEvent != 0 && GetWindowThread(window) != self) return Fail(WSAEINVAL);
    select.window = lEvent ? window : 0;
    select.message = wMsg;
    select.events = lEvent;
    select.thread = self;
    // A new selection re-enables every event it names, as its conditions hold now.
    select.readEnabled = (lEvent & FD_READ) != 0;
    select.acceptEnabled = (lEvent & FD_ACCEPT) != 0;
    select.writeEnabled = (lEvent & FD_WRITE) && record->connected;
    select.closeEnabled = (lEvent & FD_CLOSE) != 0;
    // Without its watch the socket would never report anything.
    if (!UpdateWatch(*record)) return Fail(WSAENOBUFS);
    if ((lEvent & FD_CONNECT) && record->connectCompleted)
        Post(*record, FD_CONNECT, record->connectResult);
    return 0;
}

}  // namespace platform
