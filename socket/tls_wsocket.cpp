#include "socket/tls_wsocket.h"

#include <algorithm>

#include "socket/socket_library.h"

using namespace platform;

namespace {

// One TLS record at most, plus its header: what a pull from the connection reads at once.
constexpr int kPullBlock = 16 * 1024 + 512;
// Plain text is encrypted in pieces of one record, so the session never holds more.
constexpr int kEncryptBlock = 16 * 1024;

// Sets a scoped flag for the length of one call.
struct FlagScope {
    bool& flag;
    bool previous;
    explicit FlagScope(bool& f) : flag(f), previous(f) { flag = true; }
    ~FlagScope() { flag = previous; }
};

}  // namespace

TCustomTlsWSocket::~TCustomTlsWSocket() = default;

void TCustomTlsWSocket::Connect() {
    EndSession();
    Inherited::Connect();
}

void TCustomTlsWSocket::EnterPhase(TTlsPhase phase) {
    FTlsPhase = phase;
    // A handshake starts a session afresh: nothing of the last one's ending holds for it.
    if (phase == tlsHandshaking)
        FInputEnded = FCloseNotifyReceived = FCloseNotifySent = FDataSentHeld = false;
}

void TCustomTlsWSocket::Dup(SOCKET newHandle) {
    EndSession();
    Inherited::Dup(newHandle);
}

void TCustomTlsWSocket::EndSession() {
    FSession.reset();
    ++FTlsGeneration;
    EnterPhase(tlsOff);
    FPlainBeforeHandshake.clear();
    FOfferPosted = false;
}

void TCustomTlsWSocket::LogSsl(TLogOption option, const std::string& text) {
    if (LogEnabled(option)) LogLine(option, AddressText() + " " + text);
}

// Handshake --------------------------------------------------------------------------------------

void TCustomTlsWSocket::HandleSessionConnected(std::uint16_t errCode) {
    if (errCode != 0 || !FSslEnable || FTlsPhase != tlsOff)
        return Inherited::HandleSessionConnected(errCode);
    StartSslHandshake();
}

void TCustomTlsWSocket::StartSslHandshake() {
    FSslErrorText.clear();
    FSession = std::make_unique<TlsSession>();
    ++FTlsGeneration;
    EnterPhase(tlsHandshaking);
    LogSsl(loSslInfo, "TLS handshake with " + PeerName());
    auto alerts = [this](const std::string& line) { LogSsl(loSslInfo, line); };
    if (!FSession->Start(PeerName(), FSslExtraCaFile, alerts))
        return FailHandshake(tlsErrSetup, FSession->ErrorText());
    DriveHandshake();
}

void TCustomTlsWSocket::DriveHandshake() {
    const unsigned generation = FTlsGeneration;
    for (;;) {
        TlsStep step = FSession->Handshake();
        SendSessionOutput();
        if (!SessionIs(generation) || FTlsPhase != tlsHandshaking) return;
        if (step == TlsStep::Done) return HandshakeDone();
        if (step != TlsStep::WantInput || FInputEnded) {
            const bool rejected = FSession->CertificateRejected();
            std::string text = FSession->ErrorText();
            if (text.empty()) text = "connection closed during the TLS handshake";
            return FailHandshake(rejected ? tlsErrCertificate : tlsErrHandshake, text);
        }
        switch (PullInput()) {
            case TPull::Fed:
                continue;
            case TPull::WouldBlock:
                return;
            case TPull::Failed:
                return FailHandshake(static_cast<std::uint16_t>(LastError()),
                                     SocketErrorText(LastError()));
        }
    }
}

void TCustomTlsWSocket::HandshakeDone() {
    const unsigned generation = FTlsGeneration;
    EnterPhase(tlsEstablished);
    LogSsl(loSslInfo, "TLS session with " + PeerName() + ": " + FSession->Description());
    if (!FPlainBeforeHandshake.empty()) {
        std::string held;
        held.swap(FPlainBeforeHandshake);
        Encrypt(held.data(), static_cast<int>(held.size()));
        TryToSend();
        if (!SessionIs(generation)) return;
    }
    Inherited::HandleSessionConnected(0);
    if (!SessionIs(generation) || FTlsPhase != tlsEstablished) return;
    if (FSession->HasUnreadInput()) OfferLater();
    // The write event that a plain connection reports after its connect comes now.
    if (FDataSentHeld) PostWriteEvent();
}

void TCustomTlsWSocket::FailHandshake(std::uint16_t code, const std::string& text) {
    EnterPhase(tlsEnded);
    FSslErrorText = text;
    LogSsl(loSslErr, "TLS handshake with " + PeerName() + " failed: " + text);
    const SOCKET handle = FSocketHandle;
    Inherited::HandleSessionConnected(code);
    // As after a failed connect, the socket closes itself; a handler may have done so already.
    if (FSocketHandle == handle && FState != wsClosed) Close();
}

// Reception --------------------------------------------------------------------------------------

TCustomTlsWSocket::TPull TCustomTlsWSocket::PullInput() {
    char block[kPullBlock];
    int count = Inherited::ReceiveLowLevel(block, kPullBlock, 0);
    if (count > 0) {
        LogSsl(loSslDump, "TLS received " + std::to_string(count) + " bytes");
        FSession->PutInput(block, count);
        return TPull::Fed;
    }
    if (count == 0) {
        // The peer has closed: the session is told, and decides whether that was in order.
        FInputEnded = true;
        FSession->EndInput();
        return TPull::Fed;
    }
    SetLastError(WSocket_WSAGetLastError());
    return LastError() == WSAEWOULDBLOCK ? TPull::WouldBlock : TPull::Failed;
}

int TCustomTlsWSocket::ReceiveLowLevel(void* buffer, int size, int flags) {
    switch (FTlsPhase) {
        case tlsOff:
            return Inherited::ReceiveLowLevel(buffer, size, flags);
        case tlsHandshaking:
            // A layer above that reads for itself drives the handshake through its reads.
            DriveHandshake();
            WSocket_WSASetLastError(WSAEWOULDBLOCK);
            return -1;
        case tlsEnded:
            return 0;
        case tlsEstablished:
            break;
    }
    return ReadPlain(static_cast<char*>(buffer), size);
}

int TCustomTlsWSocket::ReadPlain(char* buffer, int size) {
    const unsigned generation = FTlsGeneration;
    for (;;) {
        TlsStep step;
        int count = FSession->Read(buffer, size, step);
        if (!FSession->Output().empty()) {
            SendSessionOutput();
            if (!SessionIs(generation)) return count > 0 ? count : 0;
        }
        if (count > 0) {
            FPlainReadCount += count;
            // Plain text left in the session has no notification of its own to come.
            if (!FOffering && FSession->HasUnreadInput()) OfferLater();
            return count;
        }
        switch (step) {
            case TlsStep::WantInput:
                if (FInputEnded) return 0;
                switch (PullInput()) {
                    case TPull::Fed:
                        continue;
                    case TPull::WouldBlock:
                        WSocket_WSASetLastError(WSAEWOULDBLOCK);
                        return -1;
                    case TPull::Failed:
                        WSocket_WSASetLastError(LastError());
                        return -1;
                }
                break;
            case TlsStep::Closed:
                FCloseNotifyReceived = true;
                EnterPhase(tlsEnded);
                LogSsl(loSslInfo, "TLS session closed by the peer");
                PostCloseEvent(0);
                return 0;
            case TlsStep::Failed:
                // An end without close_notify is told apart when the session closes.
                if (FInputEnded) return 0;
                EnterPhase(tlsEnded);
                FSslErrorText = FSession->ErrorText();
                LogSsl(loSslErr, "TLS session with " + PeerName() + " failed: " + FSslErrorText);
                PostCloseEvent(tlsErrProtocol);
                return 0;
            case TlsStep::Done:
                break;
        }
        return 0;
    }
}

bool TCustomTlsWSocket::HandleDataAvailable(std::uint16_t errCode) {
    FOfferPosted = false;
    switch (FTlsPhase) {
        case tlsOff:
            return Inherited::HandleDataAvailable(errCode);
        case tlsHandshaking:
            DriveHandshake();
            return true;
        case tlsEnded: {
            char dropped[1024];
            Inherited::ReceiveLowLevel(dropped, sizeof dropped, 0);
            return true;
        }
        case tlsEstablished:
            break;
    }
    const unsigned generation = FTlsGeneration;
    const bool oneOffer = FComponentOptions.Contains(wsoNoReceiveLoop) && !FDrainingForClose;
    FlagScope offering(FOffering);
    for (;;) {
        const long long readBefore = FPlainReadCount;
        if (!Inherited::HandleDataAvailable(errCode)) DrainPlain();
        if (!SessionIs(generation) || FTlsPhase != tlsEstablished) return true;
        // A handler that read nothing is not offered the same bytes again.
        if (FPlainReadCount == readBefore || !FSession->HasUnreadInput()) return true;
        // Even the drain before a close stops at a pause: the rest is offered on Resume.
        if (oneOffer || FPaused) break;
    }
    OfferLater();
    return true;
}

bool TCustomTlsWSocket::HoldsUnreadRecords() const {
    return FTlsPhase == tlsEstablished && FSession->HasUnreadInput();
}

void TCustomTlsWSocket::DrainPlain() {
    char dropped[4096];
    while (FTlsPhase == tlsEstablished && ReadPlain(dropped, sizeof dropped) > 0) {
    }
}

void TCustomTlsWSocket::OfferLater() {
    if (FOfferPosted || FTlsPhase != tlsEstablished) return;
    FOfferPosted = true;
    PostMessage(FWindowHandle, SocketEventMessage, FSocketHandle, WSAMAKESELECTREPLY(FD_READ, 0));
}

void TCustomTlsWSocket::PostCloseEvent(std::uint16_t errCode) {
    PostMessage(FWindowHandle, SocketEventMessage, FSocketHandle,
                WSAMAKESELECTREPLY(FD_CLOSE, errCode));
}

int TCustomTlsWSocket::Resume() {
    int result = Inherited::Resume();
    // An offer posted while paused was dropped with the other notifications.
    FOfferPosted = false;
    if (FTlsPhase == tlsEstablished && FSession->HasUnreadInput()) OfferLater();
    return result;
}

int TCustomTlsWSocket::GetRcvdCount() {
    if (FTlsPhase != tlsEstablished) return FTlsPhase == tlsOff ? Inherited::GetRcvdCount() : 0;
    int ready = FSession->PlainBytesReady();
    // Otherwise the records waiting on the connection bound what a read can give.
    return ready > 0 ? ready : Inherited::GetRcvdCount();
}

// Closing ----------------------------------------------------------------------------------------

void TCustomTlsWSocket::ProcessCloseEvent(const TMessage& msg) {
    // Everything the peer sent before closing is offered, whatever the receive options say.
    FlagScope draining(FDrainingForClose);
    Inherited::ProcessCloseEvent(msg);
}

void TCustomTlsWSocket::CloseWithError(bool shutdown, std::uint16_t errCode) {
    FlagScope closing(FClosingLocally);
    Inherited::CloseWithError(shutdown, errCode);
}

void TCustomTlsWSocket::HandleSessionClosed(std::uint16_t errCode) {
    if (FTlsPhase == tlsHandshaking && !(FClosingLocally && errCode == 0)) {
        // The connection broke before the handshake ended: for the user the connect failed.
        EnterPhase(tlsEnded);
        FSslErrorText = errCode ? SocketErrorText(errCode)
                                : std::string("connection closed during the TLS handshake");
        LogSsl(loSslErr, "TLS handshake with " + PeerName() + " failed: " + FSslErrorText);
        Inherited::HandleSessionConnected(errCode ? errCode : tlsErrHandshake);
    } else if (FTlsPhase == tlsEstablished && errCode == 0 && !FClosingLocally &&
               !FCloseNotifyReceived) {
        // Without close_notify nobody can tell a complete stream from a cut one.
        FSslErrorText = "connection closed without close_notify";
        LogSsl(loSslErr, "TLS session with " + PeerName() + " ended without close_notify");
        errCode = tlsErrUncleanClose;
    }
    // The session ends with its connection, before a handler may connect again.
    EndSession();
    Inherited::HandleSessionClosed(errCode);
}

void TCustomTlsWSocket::Shutdown(int how) {
    if (FTlsPhase == tlsEstablished && how != SD_RECEIVE && !FCloseNotifySent) {
        FCloseNotifySent = true;
        FSession->Shutdown();
        // Sent straight away when nothing waits before it, and otherwise lost with the queue that
        // a close discards; a failure here is the close's business, not a send error to report.
        std::string_view notify = FSession->Output();
        if (FQueuedByteCount == 0 && FSocketHandle != INVALID_SOCKET)
            WSocket_send(FSocketHandle, notify.data(), static_cast<int>(notify.size()), 0);
        FSession->ClearOutput();
    }
    Inherited::Shutdown(how);
}

// Sending ----------------------------------------------------------------------------------------

void TCustomTlsWSocket::QueueSendData(const void* data, int len) {
    if (FTlsPhase == tlsOff) return Inherited::QueueSendData(data, len);
    if (len <= 0 || !data) return;
    auto* bytes = static_cast<const char*>(data);
    if (FTlsPhase == tlsHandshaking)
        FPlainBeforeHandshake.append(bytes, static_cast<std::size_t>(len));
    else if (FTlsPhase == tlsEstablished)
        Encrypt(bytes, len);
    // After the session ended nothing more can be sent; the close is on its way.
}

void TCustomTlsWSocket::Encrypt(const char* data, int len) {
    while (len > 0) {
        int piece = std::min(len, kEncryptBlock);
        if (!FSession->Write(data, piece)) return;
        MoveOutputToChain();
        data += piece;
        len -= piece;
    }
}

void TCustomTlsWSocket::MoveOutputToChain() {
    std::string_view output = FSession->Output();
    if (output.empty()) return;
    LogSsl(loSslDump, "TLS sending " + std::to_string(output.size()) + " bytes");
    Inherited::QueueSendData(output.data(), static_cast<int>(output.size()));
    FSession->ClearOutput();
}

void TCustomTlsWSocket::SendSessionOutput() {
    if (FSession->Output().empty()) return;
    MoveOutputToChain();
    MarkSendQueued();
    TryToSend();
}

void TCustomTlsWSocket::TriggerDataSent(std::uint16_t errCode) {
    // The handshake's own records are not the user's data.
    if (FTlsPhase == tlsHandshaking) {
        FDataSentHeld = true;
        return;
    }
    Inherited::TriggerDataSent(errCode);
}
