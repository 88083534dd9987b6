// Relocation: a "location" header of a relocating answer names the new target, resolved against
// the request's own address; once the response has ended the request is repeated there, on the
// same connection when it stays open to the same server, and otherwise on a new one.
#include "http/http_cli.h"
#include "http/uri_reference.h"
#include "http/url.h"
#include "socket/resolve.h"

namespace {

struct UrlParts {
    std::string proto, user, pass, host, port, path;
};

UrlParts Split(const std::string& url) {
    UrlParts parts;
    SplitUrl(url, parts.proto, parts.user, parts.pass, parts.host, parts.port, parts.path);
    return parts;
}

// 304 names no other place: it says the copy the client holds is still good.
bool IsRelocation(int status) {
    return status >= 300 && status < 400 && status != 304;
}

}  // namespace

std::string THttpCli::RequestAddress() const {
    // Through a proxy the target is the absolute address already.
    if (!Proxy.empty()) return targetPath_;
    const bool defaultPort = urlPort_.empty() || urlPort_ == DefaultPort(urlScheme_);
    return urlScheme_ + "://" + UrlHost(urlHost_) + (defaultPort ? "" : ":" + urlPort_) +
           targetPath_;
}

void THttpCli::HandleLocationHeader(const std::string& value) {
    if (currentRequest_ == httpRqPut) {
        location_ = value;
        return;
    }
    // Blanks around the value are no part of the address; an empty one names no other place, and
    // following it would ask for the same document again until the limit.
    const std::string reference = TrimBlanks(value);
    if (reference.empty()) return;
    const std::string target = ResolveUriReference(RequestAddress(), reference);
    // A created document's address is noted; only a relocating answer is followed.
    if (!IsRelocation(response_.statusCode)) {
        if (response_.statusCode == 201) location_ = target;
        return;
    }
    if (!FollowRelocation) return;
    relocationPending_ = true;
    const Origin previous = RequestOrigin();
    SetRelocationTarget(target);
    GuardCredentialsOnRelocation(previous, target);
}

void THttpCli::SetRelocationTarget(const std::string& target) {
    UrlParts parts = Split(target);
    std::string path = parts.path.empty() || parts.path[0] != '/' ? "/" + parts.path : parts.path;
    location_ = target;
    urlScheme_ = parts.proto;
    urlHost_ = parts.host;
    // The "Host:" line names the new server's port: across http and https the old one would name
    // another service.
    urlPort_ = parts.port.empty() ? DefaultPort(parts.proto) : parts.port;
    if (Proxy.empty()) {
        targetPath_ = path;
        connectHost_ = urlHost_;
        connectPort_ = urlPort_;
    } else {
        // The connection stays with the proxy; the request line carries the absolute address.
        targetPath_ = parts.proto + "://" + UrlHost(parts.host) +
                      (parts.port.empty() ? "" : ":" + parts.port) + path;
    }
    if (!parts.user.empty() && !parts.pass.empty()) {
        effectiveUser_ = parts.user;
        effectivePassword_ = parts.pass;
    }
}

bool THttpCli::RelocationAllowed() {
    if (locationChangeCurCount_ <= LocationChangeMaxCount) return true;
    bool allowMore = false;
    if (OnLocationChangeExceeded)
        OnLocationChangeExceeded(this, locationChangeCurCount_, allowMore);
    if (!allowMore) relocationPending_ = false;
    return allowMore;
}

void THttpCli::CutBodyStreamBack() {
    if (BodyStream) BodyStream->SetSize(streamStartSize_);
}

void THttpCli::RewindUploadStream() {
    if (bodyBytesSent_ > 0 && UploadStream)
        UploadStream->Seek(-bodyBytesSent_, platform::SeekOrigin::Current);
}

void THttpCli::BeginRelocation() {
    Trace(loProtSpecInfo, "Starting relocation process");
    response_.bodyReceivedCount = 0;
    receiveFill_ = 0;
    response_.headerLinesSeen = 0;
    response_.bodyLinesSeen = 0;
    ++locationChangeCurCount_;
    if (!RelocationAllowed()) {
        BecomeReady();
        return;
    }
    FinishNtlmOnRelocation();
    if (SameAsLastConnection() && !closeReq_) {
        if (OnLocationChange) OnLocationChange(this);
        if (AbortedDuringEvent()) return;
        std::string keptLocation = location_;
        ResetResponseState();
        location_ = keptLocation;
        documentName_ = targetPath_;
        NormaliseDocumentName();
        if (currentRequest_ == httpRqPost) currentRequest_ = httpRqGet;
        CutBodyStreamBack();
        PostLogin();
        return;
    }
    if (ctrlSocket_->State() == wsClosed) {
        // The server has closed already: no session-closed will come to continue from.
        RelocationSessionClosed(0);
        return;
    }
    ctrlSocket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
        RelocationSessionClosed(e);
    };
    ctrlSocket_->CloseLater();
}

void THttpCli::RelocationSessionClosed(std::uint16_t) {
    documentName_ = Split(location_.substr(0, location_.find('#'))).path;
    NormaliseDocumentName();
    relocationPending_ = false;
    if (currentRequest_ == httpRqPost) currentRequest_ = httpRqGet;
    HookControlSessionClosed();
    ++locationChangeCurCount_;
    if (!RelocationAllowed()) {
        BecomeReady();
        return;
    }
    if (OnLocationChange) OnLocationChange(this);
    if (AbortedDuringEvent()) return;
    response_ = {};
    // Nothing held from the closed connection belongs to the response on the new one.
    receiveFill_ = 0;
    // Through a proxy the new connection goes to the proxy again, at its own port.
    if (!Proxy.empty()) connectPort_ = proxyConnectPort_;
    CutBodyStreamBack();
    RewindUploadStream();
    PostLogin();
}
