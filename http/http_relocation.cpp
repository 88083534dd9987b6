// Relocation: a "location" header sets the new target at once; once the response has ended the
// request is repeated there, on the same connection when it stays open to the same server, and
// otherwise on a new one.
#include <cctype>

#include "http/http_cli.h"
#include "http/url.h"

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

// Up to and including the last "/" or ":" before the first "?"; empty when there is none.
std::string DirPart(const std::string& target) {
    std::string beforeQuery = target.substr(0, target.find('?'));
    auto last = beforeQuery.find_last_of("/:");
    return last == std::string::npos ? std::string() : beforeQuery.substr(0, last + 1);
}

struct UrlParts {
    std::string proto, user, pass, host, port, path;
};

UrlParts Split(const std::string& url) {
    UrlParts parts;
    SplitUrl(url, parts.proto, parts.user, parts.pass, parts.host, parts.port, parts.path);
    return parts;
}

// An https address keeps its port through the proxy: the tunnel must reach that port.
std::string TunnelPortPart(const UrlParts& parts) {
    return parts.proto == "https" && !parts.port.empty() ? ":" + parts.port : "";
}

}  // namespace

void THttpCli::HandleLocationHeader(const std::string& value) {
    if (currentRequest_ == httpRqPut) {
        location_ = value;
        return;
    }
    if (!FollowRelocation) return;
    relocationPending_ = true;
    const Origin previous = RequestOrigin();
    if (Proxy.empty())
        RelocateDirect(value);
    else
        RelocateThroughProxy(value);
    GuardCredentialsOnRelocation(previous, value);
}

void THttpCli::RelocateDirect(const std::string& value) {
    const bool absolute = StartsWithNoCase(value, "http://") || StartsWithNoCase(value, "https://");
    if (!value.empty() && value[0] == '/') {
        targetPath_ = value;
        location_ = urlScheme_ + "://" + connectHost_ + targetPath_;
        return;
    }
    if (!absolute) {
        targetPath_ = DirPart(targetPath_) + value;
        location_ = urlScheme_ + "://" + connectHost_ + targetPath_;
        return;
    }
    UrlParts target = Split(value);
    if (!target.host.empty()) {
        targetPath_ = target.path.empty() ? "/" : target.path;
        location_ = target.proto + "://" + target.host + target.path;
        connectHost_ = urlHost_ = target.host;
    } else {
        targetPath_ = target.path;
        if (target.path.empty()) {
            location_ = target.proto + "://" + urlHost_ + "/" + target.host;
            targetPath_ = location_;
        } else {
            location_ = target.proto + "://" + urlHost_ + targetPath_;
        }
        connectHost_ = urlHost_;
    }
    connectPort_ = target.port.empty() ? DefaultPort(target.proto) : target.port;
    // The "Host:" line names the new server's port, not the first one's: across http and https
    // the old port would name another service.
    if (!target.host.empty()) urlPort_ = connectPort_;
    urlScheme_ = target.proto;
    if (!target.user.empty() && !target.pass.empty()) {
        effectiveUser_ = target.user;
        effectivePassword_ = target.pass;
    }
}

void THttpCli::RelocateThroughProxy(const std::string& value) {
    const bool absolute = StartsWithNoCase(value, "http://") || StartsWithNoCase(value, "https://");
    if (!value.empty() && value[0] == '/') {
        UrlParts current = Split(targetPath_);
        targetPath_ = (current.proto.empty() ? "http" : current.proto) + "://" + current.host +
                      TunnelPortPart(current) + value;
        location_ = targetPath_;
        if (!current.user.empty() && !current.pass.empty()) {
            effectiveUser_ = current.user;
            effectivePassword_ = current.pass;
        }
        return;
    }
    if (!absolute) {
        targetPath_ = DirPart(targetPath_) + value;
        location_ = targetPath_;
        return;
    }
    UrlParts target = Split(value);
    if (target.host.empty()) {
        location_ = target.proto + "://" + urlHost_ +
                    (targetPath_.empty() ? "/" + target.host : targetPath_);
        return;
    }
    targetPath_ = target.proto + "://" + target.host + TunnelPortPart(target) + target.path;
    location_ = targetPath_;
    urlHost_ = target.host;
    connectPort_ = target.port.empty() ? DefaultPort(target.proto) : target.port;
    urlPort_ = connectPort_;
    if (!target.user.empty() && !target.pass.empty()) {
        effectiveUser_ = target.user;
        effectivePassword_ = target.pass;
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
