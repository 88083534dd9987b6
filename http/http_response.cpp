// Reception: raw blocks from the socket into the receive buffer, split into lines while the
// header is read, handed on as blocks while the body is read; the status line, the recognised
// header fields, and the decision whether a body follows.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "http/http_cli.h"
#include "http/url.h"

namespace {

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    });
    return text;
}

// Without leading and trailing blanks and control characters.
std::string Trimmed(const std::string& text) {
    auto isSpace = [](unsigned char c) { return c <= ' '; };
    auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal number of digits only that fits 64 bits; nothing for anything else.
std::optional<std::int64_t> Decimal(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c) || value > (INT64_MAX - (c - '0')) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "Content-Length": a number, or a list of the same number repeated (a field line that was
// joined); nothing when the value is no such thing.
std::optional<std::int64_t> ContentLength(const std::string& value) {
    std::optional<std::int64_t> length;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        const std::optional<std::int64_t> item =
            Decimal(Trimmed(value.substr(start, comma - start)));
        if (!item || (length && *length != *item)) return std::nullopt;
        length = item;
        start = comma + 1;
    }
    return length;
}

// RFC 9112 section 4: "HTTP/1.", a digit, a space, three digits from 100 to 599, then a space
// before the reason or the end of the line.
bool IsStatusLine(const std::string& line) {
    if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0 || !IsDigit(line[7]) ||
        line[8] != ' ' || !IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11]))
        return false;
    if (line[9] < '1' || line[9] > '5') return false;
    return line.size() == 12 || line[12] == ' ';
}

// Characters from 1-based position index, count of them; nothing for a count of 0 or less.
std::string Copy(const std::string& text, int index, int count) {
    if (count <= 0 || index > static_cast<int>(text.size())) return {};
    index = std::max(index, 1);
    return text.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

bool IsHeaderlessDocument(const std::string& line) {
    return !line.empty() && line[0] == '<' &&
           (UpperCase(line.substr(0, 6)) == "<HTML>" ||
            UpperCase(line.substr(0, 9)) == "<!DOCTYPE");
}

}  // namespace

void THttpCli::ResetResponseState() {
    response_ = {};
    outcome_ = {};
    documentName_.clear();
    bodyBytesSent_ = 0;
    sendPermitted_ = false;
    location_ = URL;
    closeReq_ = requestVer_ == "1.0";
}

void THttpCli::ControlDataAvailable(std::uint16_t ErrCode) {
    int count;
    if (!ReceiveIntoBuffer(count)) return;
    Trace(loProtSpecInfo, "Data available. Len=", count);
    if (currentRequest_ == httpRqNone) return;
    if (count <= 0) {
        Trace(loProtSpecInfo, "**data available. Len=", count);
        return;
    }
    CountReceivedBytes(count);
    receiveFill_ += count;
    receiveBuffer_[receiveFill_] = 0;
    try {
        ProcessHeldData(ErrCode);
    } catch (const std::exception& error) {
        // The stream or an event handler failed: what was received cannot be trusted any more.
        FailRequest(httpErrLocalFailure, error.what());
    }
}

bool THttpCli::ReceiveIntoBuffer(int& count) {
    int room = kReceiveRoom - receiveFill_;
    if (room > 0) {
        count = ctrlSocket_->Receive(receiveBuffer_ + receiveFill_, room);
        return true;
    }
    // Held data the client has not taken cannot grow further: the trick below needs the buffer's
    // last bytes.
    if (receiveFill_ > kReceiveRoom) {
        FailProtocol("Data from the server that the client cannot take");
        return false;
    }
    // A line longer than the buffer: keep its end and what follows, drop the middle.
    char scratch[25];
    int scratchCount = ctrlSocket_->Receive(scratch, sizeof scratch);
    auto* lf =
        scratchCount > 0 ? static_cast<char*>(std::memchr(scratch, '\n', scratchCount)) : nullptr;
    if (!lf) return false;
    auto tail = static_cast<int>(scratch + scratchCount - lf);
    std::memcpy(receiveBuffer_ + receiveFill_ + 1 - tail, lf, static_cast<std::size_t>(tail));
    count = 1;
    return true;
}

void THttpCli::ProcessHeldData(std::uint16_t ErrCode) {
    if (state_ == httpWaitingBody) {
        if (receiveFill_ > 0) {
            if (currentRequest_ == httpRqHead) {
                receiveFill_ = 0;
                ctrlSocket_->Abort();
                return;
            }
            OfferHeldDataToBody();
        }
        FinishOfferedBody();
        return;
    }
    while (receiveFill_ > 0 && TakeLine()) {
        if (state_ == httpWaitingHeader || state_ == httpWaitingProxyConnect) {
            const THttpCliState lineState = state_;
            if (nextStep_) {
                (this->*nextStep_)();
            } else if (relocationPending_) {
                // Bytes after a response whose relocation is under way belong to no response:
                // whether they came in the same read must not end the request.
                receiveFill_ = 0;
                break;
            } else {
                BecomeReady();
            }
            // The header reader hands the rest to the body itself, or the response has ended.
            if (state_ != lineState) break;
        } else if (OnDataPush) {
            OnDataPush(this, ErrCode);
        }
    }
}

bool THttpCli::TakeLine() {
    auto* lf = static_cast<char*>(std::memchr(receiveBuffer_, '\n', receiveFill_));
    if (!lf) return false;
    auto length = static_cast<int>(lf - receiveBuffer_);
    int lineLength = length > 0 && receiveBuffer_[length - 1] == '\r' ? length - 1 : length;
    lastResponseLine_.assign(receiveBuffer_, static_cast<std::size_t>(lineLength));
    Trace(loProtSpecDump, ">|", lastResponseLine_, "|");
    ConsumeHeld(length + 1);
    return true;
}

void THttpCli::ConsumeHeld(int count) {
    count = std::min(count, receiveFill_);
    receiveFill_ -= count;
    std::memmove(receiveBuffer_, receiveBuffer_ + count, static_cast<std::size_t>(receiveFill_));
    receiveBuffer_[receiveFill_] = 0;
}

void THttpCli::OfferHeldDataToBody() {
    std::int64_t length = receiveFill_;
    // With chunks the length counts decoded bytes, and only the chunks tell where the body ends.
    if (response_.documentLength != -1 && !response_.chunked)
        length =
            std::min<std::int64_t>(length, response_.documentLength - response_.bodyReceivedCount);
    bodyBlock_ = receiveBuffer_;
    bodyDataLen_ = static_cast<int>(std::max<std::int64_t>(length, 0));
    GetBodyLineNext();
    ConsumeHeld(bodyDataLen_);
}

void THttpCli::FinishOfferedBody() {
    if (nextStep_ != nullptr || AbortedDuringEvent()) return;
    if (relocationPending_)
        BeginRelocation();
    else
        BecomeReady();
}

void THttpCli::HandleHeaderLine() {
    if (response_.headerLinesSeen == 0) {
        RaiseHeaderBegin();
        if (AbortedDuringEvent()) return;
    } else if (response_.headerLinesSeen == -1)
        response_.headerLinesSeen = 0;
    ++response_.headerLinesSeen;
    const std::string line = lastResponseLine_;

    if (response_.headerLinesSeen == 1 && IsHeaderlessDocument(line)) {
        StartHeaderlessDocument(line);
        return;
    }
    if (line.empty()) {
        EndOfHeader();
        return;
    }
    response_.headerLines.push_back(line);
    if (response_.headerLinesSeen == 1)
        ParseStatusLine(line);
    else
        ParseHeaderField(line);
    if (nextStep_ == &THttpCli::HandleHeaderLine && OnHeaderData) OnHeaderData(this);
}

void THttpCli::StartHeaderlessDocument(const std::string& line) {
    if (response_.contentType.empty()) response_.contentType = "text/html";
    EnterState(httpWaitingBody);
    if (AbortedDuringEvent()) return;
    nextStep_ = &THttpCli::GetBodyLineNext;
    RaiseHeaderEnd();
    if (AbortedDuringEvent()) return;
    bodyBlock_ = line.data();
    bodyDataLen_ = static_cast<int>(line.size());
    GetBodyLineNext();
    if (receiveFill_ > 0 && nextStep_ != nullptr && !AbortedDuringEvent()) OfferHeldDataToBody();
    FinishOfferedBody();
}

void THttpCli::ParseStatusLine(const std::string& line) {
    // A first line that does not even claim to be HTTP is read on as header lines; one that claims
    // it falsely would be taken for a status it does not give.
    if (line.compare(0, 5, "HTTP/") != 0) {
        if (OnDataPush2) OnDataPush2(this);
        return;
    }
    if (!IsStatusLine(line)) {
        FailProtocol("Invalid status line from the server: " + line);
        return;
    }
    responseVersion_ = line.substr(5, 3);
    closeReq_ = requestVer_ == "1.0" || responseVersion_ == "1.0";
    Trace(loProtSpecDump, "FCloseReq=", closeReq_ ? "1" : "0");
    response_.statusCode = std::stoi(line.substr(9, 3));
    response_.statusReason = line.size() > 13 ? line.substr(13) : std::string();
}

// Codings add up over the fields, and only the last tells whether chunks frame the body; without
// them the body ends with the connection. Other codings are passed on as they come, as the bytes
// of a content coding are.
void THttpCli::TakeTransferCodings(const std::string& value) {
    for (const std::string& name : CodingNames(value))
        response_.chunked = LowerCase(name) == "chunked";
}

void THttpCli::ParseHeaderField(const std::string& line) {
    auto colon = line.find(':');
    if (colon == std::string::npos) return;
    std::string name = LowerCase(line.substr(0, colon));
    std::size_t start = colon + 1;
    while (start + 1 < line.size() && line[start] == ' ')
        ++start;
    std::string value = line.substr(std::min(start, line.size()));

    if (name == "location") {
        response_.location = value;
    } else if (name == "content-length") {
        // A length that cannot be read, or two that disagree, leave the end of the body unknown:
        // reading it to the close would keep a cut document as complete.
        const std::optional<std::int64_t> length = ContentLength(value);
        if (!length || (response_.documentLength != -1 && response_.documentLength != *length)) {
            FailProtocol("Invalid Content-Length from the server: " + line);
            return;
        }
        response_.documentLength = *length;
    } else if (name == "transfer-encoding") {
        TakeTransferCodings(value);
    } else if (name == "content-range") {
        int dash = static_cast<int>(value.find('-')) + 1;  // 1-based, 0 when absent
        int slash = static_cast<int>(value.find('/')) + 1;
        ContentRangeBegin = Copy(value, 7, dash - 7);
        ContentRangeEnd = Copy(value, dash + 1, slash - dash - 1);
    } else if (name == "accept-ranges") {
        acceptRanges_ = value;
    } else if (name == "content-type") {
        response_.contentType = LowerCase(value);
    } else if (name == "set-cookie") {
        bool accept = true;
        RaiseCookie(value, accept);
    } else if (name == "connection" || name == "proxy-connection") {
        std::string token = LowerCase(Trimmed(value));
        if (token == "close")
            closeReq_ = true;
        else if (token == "keep-alive")
            closeReq_ = false;
    } else if (name == "content-encoding") {
        response_.contentCodingHeader = value;
    } else if (name == "www-authenticate" || name == "proxy-authenticate") {
        response_.authChallenges.push_back(value);
    }
}

void THttpCli::EndOfHeader() {
    Trace(loProtSpecInfo, "End of header");
    if (response_.statusCode >= 100 && response_.statusCode < 200) {
        // An interim answer: nothing of it, its length and its location included, applies to the
        // final one that follows.
        response_ = {};
        response_.headerLinesSeen = -1;
        return;
    }
    if (response_.location) HandleLocationHeader(*response_.location);
    RaiseHeaderEnd();
    if (AbortedDuringEvent()) {
        receiveFill_ = 0;
        return;
    }

    const bool chunked = response_.chunked;
    // These never carry a body, whatever their Content-Length says.
    const bool statusForbidsBody = response_.statusCode == 204 || response_.statusCode == 304;
    const bool statusWithoutBody = response_.statusCode < 200 || response_.statusCode == 204 ||
                                   response_.statusCode == 301 || response_.statusCode == 302 ||
                                   response_.statusCode == 304 || response_.statusCode == 401 ||
                                   response_.statusCode == 407;
    if (statusForbidsBody || (response_.documentLength == -1 && !chunked && statusWithoutBody) ||
        response_.documentLength == 0 || currentRequest_ == httpRqHead) {
        nextStep_ = nullptr;
        if (relocationPending_) {
            BeginRelocation();
        } else if (!closeReq_) {
            BecomeReady();
        } else {
            if (currentRequest_ == httpRqHead) {
                receiveFill_ = 0;
                EnterState(httpWaitingBody);
            }
            ctrlSocket_->CloseLater();
        }
        return;
    }

    if (response_.contentType == "text/html") {
        int dot = LastPos(".", documentName_);
        std::string extension = dot > 0 ? LowerCase(documentName_.substr(dot - 1)) : "";
        if (extension.empty() || extension == ".exe")
            documentName_ = (dot > 0 ? documentName_.substr(0, dot) : documentName_ + ".") + "htm";
    }
    EnterState(httpWaitingBody);
    if (AbortedDuringEvent()) {
        receiveFill_ = 0;
        return;
    }
    nextStep_ = &THttpCli::GetBodyLineNext;
    if (receiveFill_ > 0) OfferHeldDataToBody();
    FinishOfferedBody();
}

void THttpCli::FailProtocol(const std::string& reason) {
    response_.statusCode = httpStatusProtocolError;
    response_.statusReason = reason;
    FailRequest(httpErrProtocol, reason);
}
