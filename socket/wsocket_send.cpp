// Buffered sending: Send copies into the chain of fixed-size buffers and drains it as far as the
// platform takes; the rest goes out on the write event. OnDataSent always comes from the loop.
#include <algorithm>

#include "socket/socket_library.h"
#include "socket/wsocket.h"

using namespace platform;

namespace {

// Send failures that end the connection rather than being reported.
bool EndsConnection(int error) {
    return error == WSAECONNRESET || error == WSAENOTSOCK || error == WSAENOTCONN ||
           error == WSAEINVAL || error == WSAECONNABORTED;
}

}  // namespace

int TCustomWSocket::Send(const void* data, int len) {
    if (FState != wsConnected && FState != wsSocksConnected) {
        WSocket_WSASetLastError(WSAENOTCONN);
        ReportSocketError("Send");
        return -1;
    }
    FSendQueueEmpty = false;
    int result = 0;
    if (len > 0) {
        result = len;
        QueueSendData(data, len);
    }
    TryToSend();
    if (FSendQueueEmpty) PostWriteEvent();
    return result;
}

int TCustomWSocket::SendText(const std::string& str) {
    if (str.empty()) return 0;
    return Send(str.data(), static_cast<int>(str.size()));
}

void TCustomWSocket::QueueSendData(const void* data, int len) {
    if (len <= 0 || !data) return;
    std::lock_guard lock(SendBufferLock());
    if (FSendBuffers.empty())
        FSendBuffers.push_back(std::make_unique<TBuffer>(FSendBufferChunkSize));
    TBuffer* buffer = FSendBuffers.back().get();
    FQueuedByteCount += len;
    auto* bytes = static_cast<const char*>(data);
    for (;;) {
        int taken = buffer->Append(bytes, len);
        if (taken == len) break;
        bytes += taken;
        len -= taken;
        FSendBuffers.push_back(std::make_unique<TBuffer>(FSendBufferChunkSize));
        buffer = FSendBuffers.back().get();
    }
    FSendQueueEmpty = false;
}

void TCustomWSocket::TryToSend() {
    std::lock_guard lock(SendBufferLock());
    if (FSocketHandle == INVALID_SOCKET || FSendBuffers.empty()) {
        FSendQueueEmpty = true;
        return;
    }
    // A Send from an OnSendData handler only queues; this drain sends it on.
    if (FTryingToSend) return;
    FTryingToSend = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{FTryingToSend};

    for (;;) {
        TBuffer& buffer = *FSendBuffers.front();
        int len = 0;
        const char* data = buffer.ReadablePart(len);
        if (len == 0) {
            if (FSendBuffers.size() == 1) {
                FSendQueueEmpty = true;
                return;
            }
            FSendBuffers.pop_front();
            continue;
        }
        unsigned generation = FSendChainGeneration;
        SOCKET handle = FSocketHandle;
        int count = SendLowLevel(data, len);
        if (count > 0) FQueuedByteCount = std::max(0, FQueuedByteCount - count);
        if (count == 0) return;
        if (count < 0) {
            int error = WSocket_WSAGetLastError();
            if (EndsConnection(error)) {
                if (LogEnabled(loWsockErr))
                    LogLine(loWsockErr,
                            Name() + " Winsock Send failed - " + SocketErrorMessage(error));
                FCloseStarted = true;
                Close();
                HandleSessionClosed(static_cast<std::uint16_t>(error));
            } else if (error != WSAEWOULDBLOCK) {
                ReportSocketError("TryToSend failed");
            }
            return;
        }
        // An OnSendData handler that aborted has taken the chain away.
        if (generation != FSendChainGeneration) return;
        buffer.Consume(count);
        // One that closed has ended this connection; the rest waits for the next Connect.
        if (count < len || FSocketHandle != handle) return;
    }
}

int TCustomWSocket::SendLowLevel(const void* data, int len) {
    int result = FSocketType == SOCK_DGRAM
                     ? WSocket_sendto(FSocketHandle, data, len, FSendFlagsValue, FSockAddr.Raw(),
                                      FSockAddr.Length())
                     : WSocket_send(FSocketHandle, data, len, FSendFlagsValue);
    if (result > 0) HandleSendData(result);
    return result;
}

int TCustomWSocket::SendTo(const sockaddr* dest, int destLen, const void* data, int len) {
    int result = WSocket_sendto(FSocketHandle, data, len, FSendFlagsValue, dest, destLen);
    if (result > 0) {
        HandleSendData(result);
        if (FSendQueueEmpty && FSocketType == SOCK_DGRAM) PostWriteEvent();
    }
    return result;
}

void TCustomWSocket::PostWriteEvent() {
    PostMessage(FWindowHandle, SocketEventMessage, FSocketHandle, WSAMAKESELECTREPLY(FD_WRITE, 0));
}

void TCustomWSocket::Flush() {
    // Called from an OnSendData handler, the drain that raised it goes on once the handler
    // returns; waiting here for that drain would wait for ever.
    if (FTryingToSend) return;
    while (FSocketHandle != INVALID_SOCKET && !FSendQueueEmpty) {
        TryToSend();
        PumpMessages();
    }
}

void TCustomWSocket::DiscardSendBuffers() {
    std::lock_guard lock(SendBufferLock());
    FSendBuffers.clear();
    FQueuedByteCount = 0;
    ++FSendChainGeneration;
}

void TCustomWSocket::TriggerDataSent(std::uint16_t errCode) {
    if (LogEnabled(loWsockDump))
        LogLine(loWsockDump, AddressText() + " TriggerDataSent " + std::to_string(FSocketHandle));
    if (OnDataSent) OnDataSent(this, errCode);
}

void TCustomWSocket::ProcessWriteEvent(const TMessage& msg) {
    SOCKET handle = FSocketHandle;
    TryToSend();
    // A send that met the peer's reset has closed the connection: nothing more is reported of it.
    if (FSendQueueEmpty && FSocketHandle == handle && FState != wsClosed)
        TriggerDataSent(WSAGETSELECTERROR(msg.LParam));
}
