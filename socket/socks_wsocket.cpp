#include "socket/socks_wsocket.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "socket/resolve.h"
#include "socket/socket_library.h"

using namespace platform;

namespace {

bool IsTcp(const std::string& proto) {
    std::string text = TrimBlanks(proto);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text == "tcp" || text == "6";
}

}  // namespace

// Settings -------------------------------------------------------------------------------------

void TCustomSocksWSocket::InitDefaults() {
    TCustomWSocket::InitDefaults();
    EnterPhase(socksIdle);
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel = "5";
    FSocksLeftoverCount = 0;
    FSocksInUse = false;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& value) {
    if (FState != wsClosed) return ReportError("Can't change socks server if not closed");
    FSocksServer = TrimBlanks(value);
    FSocksInUse = !FSocksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& value) {
    if (FState != wsClosed) return ReportError("Can't change socks port if not closed");
    FSocksPort = TrimBlanks(value);
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& value) {
    if (FState != wsClosed) return ReportError("Can't change socks level if not closed");
    if (value != "4" && value != "4A" && value != "4a" && value != "5")
        return ReportError("Invalid socks level. Must be 4, 4A or 5.");
    FSocksLevel = value == "4a" ? "4A" : value;
}

// Events ---------------------------------------------------------------------------------------

void TCustomSocksWSocket::HandleSocksConnected(std::uint16_t errCode) {
    if (OnSocksConnected) OnSocksConnected(this, errCode);
}

void TCustomSocksWSocket::HandleSocksError(int error, const std::string& msg) {
    if (OnSocksError) OnSocksError(this, error, msg);
}

void TCustomSocksWSocket::HandleSocksAuthState(TSocksAuthState state) {
    if (OnSocksAuthState) OnSocksAuthState(this, state);
}

// Connecting -----------------------------------------------------------------------------------

void TCustomSocksWSocket::Listen() {
    if (FSocksInUse) return ReportError("Listening is not supported thru socks server");
    TCustomWSocket::Listen();
}

void TCustomSocksWSocket::Connect() {
    // The base refuses a socket in use or a missing setting in its own words.
    bool baseRefuses = InUse() || !FHasPort || !FHasAddr;
    if (!FSocksInUse || baseRefuses) return TCustomWSocket::Connect();
    if (!IsTcp(FProtoSpec))
        return ReportError("TCP is the only protocol supported thru socks server");
    try {
        // The connection goes to the SOCKS server; the destination travels in the request, its
        // name unresolved.
        int serverPort = ResolvePort(FSocksPort, FProtoSpec);
        SetConnectTarget(ResolveHostAddresses(FSocksServer), serverPort);
        FSocksDestinationPort = static_cast<std::uint16_t>(ResolvePort(FPortSpec, FProtoSpec));
    } catch (const ESocketException& e) {
        return ReportError("Connect: " + e.Message());
    }
    EnterPhase(socksGreeting);
    FSocksDataSentHeld = false;
    TCustomWSocket::Connect();
}

void TCustomSocksWSocket::HandleConnected(std::uint16_t errCode) {
    if (FSocksPhase != socksGreeting) return TCustomWSocket::HandleConnected(errCode);
    HandleSocksConnected(errCode);
    if (errCode != 0) {
        EnterPhase(socksIdle);
        return TCustomWSocket::HandleConnected(errCode);
    }
    if (!Negotiating()) return;  // closed from the event
    if (Socks4Family()) return SendConnectRequest();
    FSocksOfferedMethod = FSocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
    SendRequest({socks::Socks5Greeting(FSocksOfferedMethod), {}});
}

void TCustomSocksWSocket::SendUsercode() {
    socks::Request message = socks::UsercodeMessage(FSocksUsercode, FSocksPassword);
    if (message.refusal) return Fail(message.refusal->code, message.refusal->message);
    EnterPhase(socksAuthenticating);
    HandleSocksAuthState(socksAuthBegin);
    if (Negotiating()) SendRequest(message);
}

void TCustomSocksWSocket::SendConnectRequest() {
    socks::Request request;
    auto literal = TSocketAddress::FromLiteral(FAddrSpec);
    const bool ipv6 = literal && literal->IsIPv6();
    // An IPv6 address travels as its text to a SOCKS 4A server, which takes names only.
    std::string destination = ipv6 ? literal->Text() : FAddrSpec;
    if (!Socks4Family() && ipv6) {
        std::array<std::uint8_t, 16> address;
        std::copy_n(literal->IPv6Bytes(), address.size(), address.begin());
        request.bytes = socks::Socks5ConnectRequest(address, FSocksDestinationPort);
    } else if (!Socks4Family()) {
        request = socks::Socks5ConnectRequest(FAddrSpec, FSocksDestinationPort);
    } else if (FSocksLevel == "4A") {
        request =
            socks::Socks4ConnectRequest(FSocksDestinationPort, 0, FSocksUsercode, destination);
    } else if (ipv6) {
        HandleSocksError(socks::errAddressType, "SOCKS 4 cannot carry the IPv6 address " +
                                                    destination + ": use SOCKS 4A or 5");
        EnterPhase(socksIdle);
        return CloseWithError(true, socks::errAddressType);
    } else {
        std::uint32_t address;
        try {
            address = ResolveHost(FAddrSpec);
        } catch (const ESocketException& e) {
            // No session was ever up: only the error and the close are reported.
            HandleSocksError(socks::errHostResolution, "ESocketException " + e.Message());
            EnterPhase(socksIdle);
            return CloseWithError(true, socks::errHostResolution);
        }
        request = socks::Socks4ConnectRequest(FSocksDestinationPort, address, FSocksUsercode);
    }
    if (request.refusal) return Fail(request.refusal->code, request.refusal->message);
    EnterPhase(socksRequesting);
    SendRequest(request);
}

void TCustomSocksWSocket::SendRequest(const socks::Request& request) {
    // Straight onto the connection, below any layer that would transform what is sent. A failed
    // send closes the connection, and its close ends the negotiation.
    try {
        TCustomWSocket::Send(request.bytes.data(), static_cast<int>(request.bytes.size()));
    } catch (const ESocketException&) {
    }
}

// Answers --------------------------------------------------------------------------------------

bool TCustomSocksWSocket::HandleDataAvailable(std::uint16_t errCode) {
    if (FSocksPhase == socksIdle) return TCustomWSocket::HandleDataAvailable(errCode);
    // The answers are taken here in every case: nothing is left for the receive loop to drop,
    // which after a failure could be a new connection's data.
    if (errCode != 0) {
        Fail(errCode, "data receive error");
        return true;
    }
    switch (FSocksPhase) {
        case socksGreeting:
            TakeMethodSelection();
            break;
        case socksAuthenticating:
            TakeAuthAnswer();
            break;
        case socksRequesting:
            return TakeConnectAnswer();
        case socksIdle:
            break;
    }
    return true;
}

bool TCustomSocksWSocket::ReadReply(socks::ReplyKind kind) {
    int limit = socks::ReadLimit(kind, FSocksReplyCount, kReplyBufferSize - FSocksReplyCount);
    int count = TCustomWSocket::ReceiveLowLevel(FSocksReplyBuffer + FSocksReplyCount, limit, 0);
    if (count < 0) SetLastError(WSocket_WSAGetLastError());
    if (count <= 0) return false;
    CountReceived(count);
    FSocksReplyCount += count;
    return true;
}

void TCustomSocksWSocket::TakeMethodSelection() {
    if (!ReadReply(socks::ReplyKind::MethodSelection)) return;
    if (Socks4Family()) return Fail(socks::errProtocol, "TWSocket logic error");
    socks::Verdict verdict =
        socks::JudgeReply(socks::ReplyKind::MethodSelection, FSocksReplyBuffer, FSocksReplyCount);
    if (verdict.outcome == socks::Verdict::NeedMore) return;
    if (verdict.outcome == socks::Verdict::Failed)
        return Fail(verdict.failure.code, verdict.failure.message);
    switch (FSocksReplyBuffer[1]) {
        case 0:
            if (FSocksOfferedMethod != 0) HandleSocksAuthState(socksAuthNotNeeded);
            if (Negotiating()) SendConnectRequest();
            return;
        case 2:
            return SendUsercode();
        default:
            return Fail(socks::errAuthMethod, "authentification method not acceptable");
    }
}

void TCustomSocksWSocket::TakeAuthAnswer() {
    if (!ReadReply(socks::ReplyKind::AuthAnswer)) return;
    socks::Verdict verdict =
        socks::JudgeReply(socks::ReplyKind::AuthAnswer, FSocksReplyBuffer, FSocksReplyCount);
    if (verdict.outcome == socks::Verdict::NeedMore) return;
    if (verdict.outcome == socks::Verdict::Failed)
        return Fail(verdict.failure.code, verdict.failure.message);
    HandleSocksAuthState(socksAuthAccepted);
    if (Negotiating()) SendConnectRequest();
}

bool TCustomSocksWSocket::TakeConnectAnswer() {
    auto kind = Socks4Family() ? socks::ReplyKind::Socks4Answer : socks::ReplyKind::Socks5Answer;
    if (!ReadReply(kind)) return true;
    socks::Verdict verdict = socks::JudgeReply(kind, FSocksReplyBuffer, FSocksReplyCount);
    switch (verdict.outcome) {
        case socks::Verdict::NeedMore:
            return true;
        case socks::Verdict::Failed:
            Fail(verdict.failure.code, verdict.failure.message);
            return true;
        case socks::Verdict::Complete:
            break;
    }
    return Succeed(verdict.length);
}

bool TCustomSocksWSocket::Succeed(int replyLength) {
    FSocksLeftoverCount = FSocksReplyCount - replyLength;
    FSocksLeftoverPtr = FSocksReplyBuffer + replyLength;
    EnterPhase(socksIdle);
    const SOCKET handle = FSocketHandle;
    TCustomWSocket::HandleConnected(0);
    // The write event that a direct connection reports after its connect comes now.
    if (FSocksDataSentHeld && FSocketHandle == handle && FState == wsConnected) PostWriteEvent();
    FSocksDataSentHeld = false;
    // Bytes that came with the answer are offered at once: the connection may bring nothing
    // more that would announce them. A handler that reads nothing of them is not asked again.
    while (FSocksLeftoverCount > 0) {
        int before = FSocksLeftoverCount;
        if (!HandleDataAvailable(0)) return false;
        if (FSocksLeftoverCount == before) break;
    }
    return true;
}

void TCustomSocksWSocket::Fail(std::uint16_t code, const std::string& message) {
    HandleSocksError(code, message);
    EnterPhase(socksIdle);
    if (FState == wsConnected) TCustomWSocket::HandleConnected(code);
    CloseWithError(true, code);
}

// Closing and reading --------------------------------------------------------------------------

void TCustomSocksWSocket::HandleSessionClosed(std::uint16_t errCode) {
    if (FSocksPhase == socksAuthenticating) HandleSocksAuthState(socksAuthClosed);
    // Still connected here means the server ended the connection (an own close has already left
    // wsConnected): without its final answer the session never came up, and saying so keeps a
    // failed negotiation from ending like an empty success.
    if (FSocksPhase != socksIdle && FState == wsConnected) {
        if (errCode == 0) errCode = socks::errProtocol;
        HandleSocksError(errCode, "connection closed by the socks server during negotiation");
        EnterPhase(socksIdle);
        TCustomWSocket::HandleConnected(errCode);
    }
    TCustomWSocket::HandleSessionClosed(errCode);
}

void TCustomSocksWSocket::TriggerDataSent(std::uint16_t errCode) {
    // The negotiation's own messages are not the user's data.
    if (FSocksPhase != socksIdle) {
        FSocksDataSentHeld = true;
        return;
    }
    TCustomWSocket::TriggerDataSent(errCode);
}

int TCustomSocksWSocket::GetRcvdCount() {
    if (FSocksLeftoverCount > 0) return FSocksLeftoverCount;
    return TCustomWSocket::GetRcvdCount();
}

int TCustomSocksWSocket::ReceiveLowLevel(void* buffer, int size, int flags) {
    if (FSocksLeftoverCount <= 0) return TCustomWSocket::ReceiveLowLevel(buffer, size, flags);
    int count = std::min(size, FSocksLeftoverCount);
    if (count <= 0) return 0;
    std::memcpy(buffer, FSocksLeftoverPtr, static_cast<std::size_t>(count));
    FSocksLeftoverPtr += count;
    FSocksLeftoverCount -= count;
    return count;
}

void TCustomSocksWSocket::EnterPhase(TSocksPhase phase) {
    FSocksPhase = phase;
    // Each phase waits for a reply of its own.
    FSocksReplyCount = 0;
}
