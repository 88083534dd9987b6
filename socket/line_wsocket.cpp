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

bool TCustomLineWSocket::OverLineLimit() const {
    return FLineMode && FLineLimit > 0 && FLineBufferCount > FLineLimit;
}

bool TCustomLineWSocket::HandleDataAvailable(std::uint16_t errCode) {
    if (!FLineMode || FLineEnd.empty() || Negotiating())
        return Inherited::HandleDataAvailable(errCode);

    // Bytes the handler kept over the limit last time are looked at again without reading more,
    // so that a peer that never ends its line cannot make them grow.
    bool heldOverLimit = OverLineLimit();
    int newCount = heldOverLimit ? 0 : ReadIntoLineBuffer();
    if (newCount < 0 || (newCount == 0 && FLineBufferCount < 1)) return true;
    if (newCount > 0) {
        if (FLineEdit)
            EditLine(newCount);
        else if (FLineEcho)
            Send(FLineBuffer.data() + FLineBufferHead + FLineBufferCount, newCount);
    }
    // A terminator split between two receptions is found from its first byte.
    int searchFrom = std::max(0, FLineBufferCount - static_cast<int>(FLineEnd.size()));
    FLineBufferCount += newCount;

    while (FLineMode && !FLineEnd.empty()) {
        int position = FindLineEnd(searchFrom);
        if (position < 0) {
            if (!OverLineLimit()) return true;
            FClearDataFlag = true;
            TriggerLineLimitExceeded(FLineBufferCount, FClearDataFlag);
            if (FClearDataFlag) {
                FPendingLineLength = 0;
                DropHeldBytes(FLineBufferCount);
                FClearDataFlag = false;
                ResumeHeldReading();
            } else if (heldOverLimit) {
                // Kept again: stop reading until the held bytes go (ends the receive loop).
                FReadHeld = true;
                FLastError = -1;
            }
            return true;
        }
        FLineDelivered = true;
        OfferLine(position + static_cast<int>(FLineEnd.size()));
        OfferHeldBytesRaw();
        searchFrom = 0;
    }
    return true;
}

int TCustomLineWSocket::ReadIntoLineBuffer() {
    int ready = Inherited::GetRcvdCount();
    if (ready < 0) return -1;
    if (ready == 0) ready = 255;
    // Never more than just passes the limit: the platform may hold megabytes of one line.
    if (FLineLimit > 0) ready = std::min(ready, FLineLimit + 1 - FLineBufferCount);
    std::size_t needed = static_cast<std::size_t>(FLineBufferCount) + ready + 1;
    if (FLineBufferHead + needed > FLineBuffer.size()) {
        if (FLineBufferHead > 0)
            std::memmove(FLineBuffer.data(), FLineBuffer.data() + FLineBufferHead,
                         static_cast<std::size_t>(FLineBufferCount));
        FLineBufferHead = 0;
        if (needed > FLineBuffer.size()) FLineBuffer.resize(needed);
    }
    int received = Inherited::ReceiveLowLevel(
        FLineBuffer.data() + FLineBufferHead + FLineBufferCount, ready, 0);
    if (received < 0) {
        FLastError = WSocket_WSAGetLastError();
        return 0;
    }
    return received;
}

int TCustomLineWSocket::FindLineEnd(int from) const {
    std::string_view held(FLineBuffer.data() + FLineBufferHead,
                          static_cast<std::size_t>(FLineBufferCount));
    std::size_t position = held.find(FLineEnd, static_cast<std::size_t>(from));
    return position == std::string_view::npos ? -1 : static_cast<int>(position);
}

void TCustomLineWSocket::OfferLine(int length) {
    FPendingLineLength = length;
    // Offered until the handler has read it or switched line mode off; without a handler the
    // line is dropped.
    while (FLineMode && FPendingLineLength > 0) {
        if (!Inherited::HandleDataAvailable(0)) {
            DropHeldBytes(FPendingLineLength);
            FPendingLineLength = 0;
        }
    }
}

void TCustomLineWSocket::OfferHeldBytesRaw() {
    while (!FLineMode && FLineBufferCount > 0)
        if (!Inherited::HandleDataAvailable(0)) DropHeldBytes(FLineBufferCount);
}

void TCustomLineWSocket::DropHeldBytes(int count) {
    count = std::min(count, FLineBufferCount);
    FLineBufferHead += count;
    FLineBufferCount -= count;
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
    // In line mode a few passes may read more; they stop once no complete line turns up.
    constexpr int kPassesWithoutLine = 3;
    for (int passes = 1; FLineBufferCount > 0; ++passes) {
        FLineDelivered = false;
        HandleDataAvailable(0);
        if (FLineMode && passes > kPassesWithoutLine && !FLineDelivered) break;
    }
    ResumeHeldReading();
}

void TCustomLineWSocket::ResumeHeldReading() {
    if (!FReadHeld || OverLineLimit()) return;
    FReadHeld = false;
    // The platform posts no new read event until the bytes it announced are read.
    PostMessage(FWindowHandle, SocketEventMessage, FSocketHandle, WSAMAKESELECTREPLY(FD_READ, 0));
}

void TCustomLineWSocket::HandleSessionClosed(std::uint16_t errCode) {
    // The unterminated rest is the last line, unless an over-limit handler is closing.
    if (FLineMode && FLineBufferCount > 0 && !FClearDataFlag) OfferLine(FLineBufferCount);
    ReleaseLineBuffer();
    Inherited::HandleSessionClosed(errCode);
}

void TCustomLineWSocket::ReleaseLineBuffer() {
    FLineBuffer = {};
    FLineBufferHead = 0;
    FLineBufferCount = 0;
    FPendingLineLength = 0;
    FReadHeld = false;
}
