#include "socket/line_wsocket.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "socket/socket_library.h"

using namespace platform;

void TCustomLineWSocket::SetLineMode(bool value) {
    if (value == FLineMode) return;
    FLineMode = value;
    if (FLineBufferCount > 0 || FPendingLineLength > 0)
        PostMessage(FWindowHandle, RedeliverMessage, 0, 0);
}

void TCustomLineWSocket::SetLineLimit(int value) {
    FLineLimit = value;
    ResumeHeldReading();
}

int TCustomLineWSocket::GetRcvdCount() {
    return FLineMode ? FPendingLineLength : Inherited::GetRcvdCount();
}

namespace {

// The most one read takes: what is ready, bounded by the buffer rather than by LineLimit.
constexpr int kReadBlock = 64 * 1024;
// What a read asks for when the platform cannot tell what is ready.
constexpr int kSmallestRead = 255;

}  // namespace

int TCustomLineWSocket::FirstLineLength(int position) const {
    if (position >= 0) return position;
    // A terminator begun at the end of the held bytes is not part of the line.
    std::string_view held(FLineBuffer.data() + FLineBufferHead,
                          static_cast<std::size_t>(FLineBufferCount));
    for (std::size_t partial = std::min(FLineEnd.size() - 1, held.size()); partial > 0; --partial)
        if (held.ends_with(std::string_view(FLineEnd).substr(0, partial)))
            return FLineBufferCount - static_cast<int>(partial);
    return FLineBufferCount;
}

bool TCustomLineWSocket::OverLineLimit() const {
    return FLineMode && !FLineEnd.empty() && FLineLimit > 0 &&
           FirstLineLength(FindLineEnd(0)) > FLineLimit;
}

bool TCustomLineWSocket::HandleDataAvailable(std::uint16_t errCode) {
    if (!FLineMode || FLineEnd.empty() || Negotiating())
        return Inherited::HandleDataAvailable(errCode);

    // Bytes the handler kept over the limit last time are looked at again without reading more,
    // so that a peer that never ends its line cannot make them grow.
    const bool heldOverLimit = OverLineLimit();
    if (!heldOverLimit) {
        // Records a TLS session holds have no notification of their own to come: all are taken,
        // so that none is left behind when the close follows.
        int newCount;
        do {
            int ready = Inherited::GetRcvdCount();
            if (ready < 0) return true;
            newCount = ReadIntoLineBuffer(std::clamp(ready, kSmallestRead, kReadBlock));
            if (newCount > 0 && !TakeNewBytes(newCount)) return true;
        } while (newCount > 0 && HoldsUnreadRecords());
    }
    OfferHeldLines(heldOverLimit);
    return true;
}

int TCustomLineWSocket::ReadIntoLineBuffer(int size) {
    std::size_t needed = static_cast<std::size_t>(FLineBufferCount) + size + 1;
    if (FLineBufferHead + needed > FLineBuffer.size()) {
        if (FLineBufferHead > 0)
            std::memmove(FLineBuffer.data(), FLineBuffer.data() + FLineBufferHead,
                         static_cast<std::size_t>(FLineBufferCount));
        FLineBufferHead = 0;
        if (needed > FLineBuffer.size()) FLineBuffer.resize(needed);
    }
    int received = Inherited::ReceiveLowLevel(
        FLineBuffer.data() + FLineBufferHead + FLineBufferCount, size, 0);
    if (received < 0) {
        SetLastError(WSocket_WSAGetLastError());
        return 0;
    }
    return received;
}

bool TCustomLineWSocket::TakeNewBytes(int newCount) {
    // Echoing may end the connection (a peer that has reset it), and with it these bytes.
    const unsigned generation = FLineBufferGeneration;
    if (FLineEdit)
        EditLine(newCount);
    else if (FLineEcho)
        Send(FLineBuffer.data() + FLineBufferHead + FLineBufferCount, newCount);
    if (generation != FLineBufferGeneration) return false;
    // Editing may have taken back bytes already searched; a terminator split between two
    // receptions is found from its first byte.
    FLineSearchedTo = std::min(
        FLineSearchedTo, std::max(0, FLineBufferCount - static_cast<int>(FLineEnd.size()) + 1));
    FLineBufferCount += newCount;
    if (FSkippingLine) SkipDiscardedLine();
    return true;
}

void TCustomLineWSocket::SkipDiscardedLine() {
    int position = FindFirstLineEnd();
    if (position < 0) return DropHeldBytes(FirstLineLength(-1));
    FSkippingLine = false;
    DropHeldBytes(position + static_cast<int>(FLineEnd.size()));
}

void TCustomLineWSocket::OfferHeldLines(bool heldOverLimit) {
    while (FLineMode && !FLineEnd.empty() && !FPaused) {
        int position = FindFirstLineEnd();
        if (FLineLimit > 0 && FirstLineLength(position) > FLineLimit) {
            if (!DiscardLongLine(position, heldOverLimit)) return;
            continue;
        }
        if (position < 0) return;
        if (!OfferLine(position + static_cast<int>(FLineEnd.size()))) return;
        OfferHeldBytesRaw();
    }
}

bool TCustomLineWSocket::DiscardLongLine(int position, bool heldOverLimit) {
    const int lineBytes =
        position < 0 ? FLineBufferCount : position + static_cast<int>(FLineEnd.size());
    FClearDataFlag = true;
    TriggerLineLimitExceeded(lineBytes, FClearDataFlag);
    if (FClearDataFlag) {
        FClearDataFlag = false;
        FPendingLineLength = 0;
        // A terminator begun at the end stays, to be found when the rest of it comes.
        DropHeldBytes(position < 0 ? FirstLineLength(-1) : lineBytes);
        FSkippingLine = position < 0;
        ResumeHeldReading();
        return true;
    }
    if (heldOverLimit) {
        // Kept again: no reading until the held bytes go.
        FReadHeld = true;
        StopReceiveLoop();
    }
    return false;
}

int TCustomLineWSocket::FindFirstLineEnd() {
    int position = FindLineEnd(std::min(FLineSearchedTo, FLineBufferCount));
    if (position < 0)
        FLineSearchedTo = std::max(0, FLineBufferCount - static_cast<int>(FLineEnd.size()) + 1);
    return position;
}

int TCustomLineWSocket::FindLineEnd(int from) const {
    std::string_view held(FLineBuffer.data() + FLineBufferHead,
                          static_cast<std::size_t>(FLineBufferCount));
    std::size_t position = held.find(FLineEnd, static_cast<std::size_t>(from));
    return position == std::string_view::npos ? -1 : static_cast<int>(position);
}

bool TCustomLineWSocket::OfferLine(int length) {
    FPendingLineLength = length;
    // The held bytes are plain text already: the layers below have nothing more to do with them,
    // so the handler is called directly. Without a handler the line is dropped.
    while (FLineMode && FPendingLineLength > 0) {
        if (FPaused) return false;
        const int before = FPendingLineLength;
        if (!TCustomWSocket::HandleDataAvailable(0)) {
            DropHeldBytes(FPendingLineLength);
            FPendingLineLength = 0;
        } else if (FLineMode && FPendingLineLength == before) {
            return false;
        }
    }
    return true;
}

void TCustomLineWSocket::OfferHeldBytesRaw() {
    while (!FLineMode && FLineBufferCount > 0 && !FPaused) {
        const int before = FLineBufferCount;
        if (!TCustomWSocket::HandleDataAvailable(0))
            DropHeldBytes(FLineBufferCount);
        else if (!FLineMode && FLineBufferCount == before)
            return;
    }
}

void TCustomLineWSocket::DropHeldBytes(int count) {
    count = std::min(count, FLineBufferCount);
    FLineBufferHead += count;
    FLineBufferCount -= count;
    FLineSearchedTo = std::max(0, FLineSearchedTo - count);
    if (FLineBufferCount == 0) FLineBufferHead = 0;
}

int TCustomLineWSocket::ReceiveLowLevel(void* buffer, int size, int flags) {
    int available = FLineMode ? FPendingLineLength : FLineBufferCount;
    if (available <= 0) return Inherited::ReceiveLowLevel(buffer, size, flags);
    int count = std::clamp(size, 0, available);
    std::memcpy(buffer, FLineBuffer.data() + FLineBufferHead, static_cast<std::size_t>(count));
    DropHeldBytes(count);
    if (FLineMode) FPendingLineLength -= count;
    return count;
}

void TCustomLineWSocket::TriggerLineLimitExceeded(int rcvdLength, bool& clearData) {
    if (OnLineLimitExceeded) OnLineLimitExceeded(this, rcvdLength, clearData);
}

void TCustomLineWSocket::EditLine(int& newCount) {
    constexpr char kBackspace = 8;
    constexpr char kTab = 9;
    constexpr int kTabWidth = 8;
    const char* held = FLineBuffer.data() + FLineBufferHead;
    int end = FLineBufferCount + newCount;
    // Bytes are edited in place until the first backspace or tab; from there on into a copy.
    std::string edited;
    bool copying = false;
    int output = FLineBufferCount;
    int lowest = FLineBufferCount;
    std::string echo;
    for (int position = FLineBufferCount; position < end; ++position) {
        char byte = held[position];
        if ((byte == kBackspace || byte == kTab) && !copying) {
            copying = true;
            edited.assign(held, static_cast<std::size_t>(output));
        }
        if (byte == kBackspace) {
            if (output > 0) {
                echo += "\b \b";
                lowest = std::min(lowest, --output);
                edited.resize(static_cast<std::size_t>(output));
            }
        } else if (byte == kTab) {
            do {
                edited += ' ';
                echo += ' ';
            } while (++output % kTabWidth != 0);
        } else {
            echo += byte;
            if (copying) edited += byte;
            ++output;
        }
    }
    if (copying) {
        std::size_t needed = FLineBufferHead + edited.size() + 1;
        if (FLineBuffer.size() < needed) FLineBuffer.resize(needed);
        std::memcpy(FLineBuffer.data() + FLineBufferHead, edited.data(), edited.size());
        // The search for a terminator restarts from the lowest point that editing touched.
        FLineBufferCount = lowest;
        newCount = output - lowest;
    }
    if (FLineEcho && !echo.empty()) Send(echo.data(), static_cast<int>(echo.size()));
}

int TCustomLineWSocket::SendTextLine(const std::string& str) {
    if (str.empty()) return 0;
    QueueSendData(str.data(), static_cast<int>(str.size()));
    Send(FLineEnd.data(), static_cast<int>(FLineEnd.size()));
    return static_cast<int>(str.size() + FLineEnd.size());
}

void TCustomLineWSocket::HandleWindowMessage(TMessage& msg) {
    if (msg.Msg != RedeliverMessage) return Inherited::HandleWindowMessage(msg);
    try {
        Redeliver();
    } catch (const platform::Exception& e) {
        HandleBgException(e);
    }
}

void TCustomLineWSocket::Redeliver() {
    // Only what is held is offered: bytes still in the platform come with their own notification.
    if (FLineMode && !FLineEnd.empty())
        OfferHeldLines(OverLineLimit());
    else
        OfferHeldBytesRaw();
    ResumeHeldReading();
}

int TCustomLineWSocket::Resume() {
    int result = Inherited::Resume();
    // What the pause held back is offered again once the caller's code has returned.
    if (FLineBufferCount > 0) PostMessage(FWindowHandle, RedeliverMessage, 0, 0);
    return result;
}

void TCustomLineWSocket::Dup(SOCKET newHandle) {
    // What the last connection left belongs to it, not to the one adopted.
    ReleaseLineBuffer();
    Inherited::Dup(newHandle);
}

void TCustomLineWSocket::ResumeHeldReading() {
    if (!FReadHeld || OverLineLimit()) return;
    FReadHeld = false;
    // The platform posts no new read event until the bytes it announced are read.
    PostMessage(FWindowHandle, SocketEventMessage, FSocketHandle, WSAMAKESELECTREPLY(FD_READ, 0));
}

void TCustomLineWSocket::HandleSessionClosed(std::uint16_t errCode) {
    if (FReadHeld) ReadRestBeforeClose();
    // The unterminated rest is the last line, unless an over-limit handler is closing.
    if (FLineMode && FLineBufferCount > 0 && !FClearDataFlag) OfferLine(FLineBufferCount);
    ReleaseLineBuffer();
    Inherited::HandleSessionClosed(errCode);
}

void TCustomLineWSocket::ReadRestBeforeClose() {
    // Once the peer has closed, what it sent is bounded by the platform's receive buffer.
    if (FSocketHandle == INVALID_SOCKET) return;
    for (int newCount; (newCount = ReadIntoLineBuffer(kReadBlock)) > 0;)
        if (!TakeNewBytes(newCount)) return;
}

void TCustomLineWSocket::ReleaseLineBuffer() {
    FLineBuffer = {};
    FLineBufferHead = 0;
    FLineBufferCount = 0;
    FPendingLineLength = 0;
    FReadHeld = false;
    FSkippingLine = false;
    FLineSearchedTo = 0;
    ++FLineBufferGeneration;
}
