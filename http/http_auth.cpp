// Answers to 401 (server) and 407 (proxy) with Basic or NTLM: the states set at a request's start,
// the Authorization lines, the retry decided when a response has ended, and the rule that keeps
// the user's credentials from following a relocation to another server.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "auth/base64.h"
#include "http/http_cli.h"
#include "http/url.h"
#include "socket/resolve.h"

namespace {

// The last challenge that begins with the scheme's name (in any case), or null.
const std::string* LastChallengeFor(const std::vector<std::string>& challenges,
                                    std::string_view scheme) {
    auto begins = [scheme](const std::string& challenge) {
        return challenge.size() >= scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), challenge.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    };
    auto found = std::find_if(challenges.rbegin(), challenges.rend(), begins);
    return found == challenges.rend() ? nullptr : &*found;
}

// The Base64 text after "NTLM ", cut to the length the codec is ever given.
std::string NtlmChallengeText(const std::vector<std::string>& challenges) {
    const std::string* challenge = LastChallengeFor(challenges, "NTLM");
    if (!challenge || challenge->size() <= 5) return {};
    return challenge->substr(5, 1000);
}

std::string Workstation() {
    try {
        return LocalMachineName();
    } catch (const std::exception&) {
        return {};
    }
}

// Accepted credentials finish an exchange; a refusal of a finished one starts it again.
void AdvanceSide(THttpNtlmAuthState& ntlm, THttpBasicAuthState& basic, bool passed, bool refused) {
    if (ntlm == ntlmAuthenticateSent && passed)
        ntlm = ntlmFinished;
    else if (ntlm == ntlmFinished && refused)
        ntlm = ntlmIdle;
    if (basic == basicCredentialsSent && passed)
        basic = basicFinished;
    else if (basic == basicFinished && refused)
        basic = basicIdle;
}

std::string BasicCredentials(const std::string& user, const std::string& password) {
    return "Basic " + EncodeToBase64(user + ":" + password);
}

}  // namespace

THttpCli::Origin THttpCli::RequestOrigin() const {
    if (Proxy.empty()) return {urlScheme_, connectHost_, connectPort_};
    // Through a proxy the server is named by the absolute address in the request line.
    std::string proto, user, pass, host, port, path;
    SplitUrl(targetPath_, proto, user, pass, host, port, path);
    return {proto.empty() ? "http" : proto, host, port.empty() ? DefaultPort(proto) : port};
}

void THttpCli::PrearmAuthentication() {
    userScheme_ = urlScheme_;
    serverAuth_.ntlm = proxyAuth_.ntlm = ntlmIdle;
    serverAuth_.basic = proxyAuth_.basic = basicIdle;
    if (!Proxy.empty() && !ProxyUsername.empty() && !ProxyPassword.empty() &&
        ProxyAuthScheme != httpSchemeNone) {
        // NTLM authenticates the connection: an open one to the same proxy has been answered
        // already. Basic goes with every request, on any connection.
        const bool reused = ctrlSocket_->State() == wsConnected && SameAsLastConnection();
        if (ProxyAuthScheme == httpSchemeNtlm) {
            proxyAuth_.ntlm = reused ? ntlmFinished : ntlmNegotiateSent;
            if (KeepAliveNeededForNtlm()) effectiveProxyConnection_ = "Keep-alive";
        } else {
            proxyAuth_.basic = basicCredentialsSent;
        }
    }
    if (ServerAuthScheme != httpSchemeNone && !effectiveUser_.empty() &&
        !effectivePassword_.empty()) {
        if (ServerAuthScheme == httpSchemeNtlm) {
            serverAuth_.ntlm = ntlmNegotiateSent;
            if (KeepAliveNeededForNtlm()) effectiveConnection_ = "Keep-alive";
        } else {
            serverAuth_.basic = basicCredentialsSent;
        }
    }
}

// NTLM authenticates a connection, not a request: an HTTP/1.0 peer must be asked to keep it.
bool THttpCli::KeepAliveNeededForNtlm() const {
    return requestVer_ == "1.0" || responseVersion_.empty() || responseVersion_ == "1.0";
}

bool THttpCli::NtlmNegotiateOutstanding() const {
    return serverAuth_.ntlm == ntlmNegotiateSent || proxyAuth_.ntlm == ntlmNegotiateSent;
}

// Basic shows the password to anyone on the path: a secure address that relocates to a plain one
// does not get it there.
bool THttpCli::BasicRefusedOverPlainRelocation() const {
    return userScheme_ == "https" && RequestOrigin().scheme == "http";
}

// A relocation may name any server; the user's credentials are meant for the one they were given
// for, so another server gets only credentials that its own address carries.
void THttpCli::GuardCredentialsOnRelocation(const Origin& previous, const std::string& location) {
    if (RequestOrigin() != previous) {
        std::string proto, user, pass, host, port, path;
        SplitUrl(location, proto, user, pass, host, port, path);
        if (user.empty() || pass.empty()) {
            effectiveUser_.clear();
            effectivePassword_.clear();
            serverAuth_.ntlm = ntlmIdle;
            serverAuth_.basic = basicIdle;
        }
    }
    if (BasicRefusedOverPlainRelocation()) serverAuth_.basic = basicIdle;
}

void THttpCli::FinishNtlmOnRelocation() {
    // A relocating answer to the type-3 message accepted it: the connection is authenticated, and
    // the message, good for one challenge only, is not sent again.
    if (serverAuth_.ntlm == ntlmAuthenticateSent) serverAuth_.ntlm = ntlmFinished;
    if (proxyAuth_.ntlm == ntlmAuthenticateSent) proxyAuth_.ntlm = ntlmFinished;
}

std::string THttpCli::ServerAuthorizationLine() {
    if (proxyAuth_.ntlm == ntlmNegotiateSent) return {};
    if (serverAuth_.ntlm == ntlmNegotiateSent)
        return "Authorization: NTLM " + BuildNtlmNegotiate("", "");
    if (serverAuth_.ntlm == ntlmAuthenticateSent)
        return "Authorization: NTLM " + BuildNtlmAuthenticate("", Workstation(), effectiveUser_,
                                                              effectivePassword_,
                                                              serverAuth_.challenge.Challenge);
    if (serverAuth_.basic == basicCredentialsSent)
        return "Authorization: " + BasicCredentials(effectiveUser_, effectivePassword_);
    return {};
}

std::string THttpCli::ProxyAuthorizationLine() {
    if (proxyAuth_.ntlm == ntlmNegotiateSent)
        return "Proxy-Authorization: NTLM " + BuildNtlmNegotiate("", "");
    if (proxyAuth_.ntlm == ntlmAuthenticateSent)
        return "Proxy-Authorization: NTLM " + BuildNtlmAuthenticate("", Workstation(),
                                                                    ProxyUsername, ProxyPassword,
                                                                    proxyAuth_.challenge.Challenge);
    if (proxyAuth_.basic == basicCredentialsSent)
        return "Proxy-Authorization: " + BasicCredentials(ProxyUsername, ProxyPassword);
    return {};
}

bool THttpCli::AnswerChallenge() {
    AdvanceSide(serverAuth_.ntlm, serverAuth_.basic,
                response_.statusCode != 401 && response_.statusCode != 407,
                response_.statusCode == 401);
    AdvanceSide(proxyAuth_.ntlm, proxyAuth_.basic, response_.statusCode != 407,
                response_.statusCode == 407);
    // A request that failed on the way keeps its failure; no retry hides it.
    if (outcome_.failure != 0) return false;
    // A retry is posted exactly when the refused response is to be discarded.
    bool flush = false;
    if (!PrepareNTLMAuth(flush) && !ComposeBasicCredentials(flush)) return false;
    if (!flush) return false;
    if (response_.statusCode == 401) {
        // The proxy must be answered again on a new connection, and not at all on an open one.
        if (closeReq_) {
            if (proxyAuth_.ntlm == ntlmFinished)
                proxyAuth_.ntlm = ntlmNegotiateSent;
            else if (proxyAuth_.basic == basicFinished)
                proxyAuth_.basic = basicCredentialsSent;
        } else {
            if (proxyAuth_.ntlm < ntlmFinished)
                proxyAuth_.ntlm = ntlmIdle;
            else if (proxyAuth_.basic < basicFinished)
                proxyAuth_.basic = basicIdle;
        }
    }
    DiscardRefusedResponse();
    return true;
}

bool THttpCli::SchemeAllowed(THttpCliOption forbidding, THttpAuthScheme scheme) const {
    return !options_.Contains(forbidding) ||
           (response_.statusCode == 401 && ServerAuthScheme == scheme) ||
           (response_.statusCode == 407 && ProxyAuthScheme == scheme);
}

bool THttpCli::CanAnswer(const char* scheme, bool otherSchemeIdle) const {
    const bool server = response_.statusCode == 401;
    const std::string& user = server ? effectiveUser_ : ProxyUsername;
    const std::string& password = server ? effectivePassword_ : ProxyPassword;
    return otherSchemeIdle && !user.empty() && !password.empty() &&
           LastChallengeFor(response_.authChallenges, scheme) != nullptr;
}

bool THttpCli::PrepareNTLMAuth(bool& FlushFlag) {
    auto traceStates = [this] {
        if (!LogEnabled(loProtSpecDump)) return;
        char line[120];
        std::snprintf(line, sizeof line,
                      "PrepareNTLMAuth end, FStatusCode = %d FProxyAuthNTLMState=%d "
                      "FAuthNTLMState=%d",
                      response_.statusCode, proxyAuth_.ntlm, serverAuth_.ntlm);
        LogLine(loProtSpecDump, line);
    };
    traceStates();
    bool accepted = false;
    if (response_.statusCode == 401 || response_.statusCode == 407) {
        AuthSide& side = response_.statusCode == 401 ? serverAuth_ : proxyAuth_;
        accepted = SchemeAllowed(httpoNoNTLMAuth, httpSchemeNtlm) &&
                   CanAnswer("NTLM", side.basic == basicIdle);
        if (accepted) {
            response_.statusCode == 401 ? BeginServerNtlm() : BeginProxyNtlm();
            FlushFlag = side.ntlm == ntlmNegotiateSent || side.ntlm == ntlmAuthenticateSent;
        }
    }
    traceStates();
    return accepted;
}

bool THttpCli::ComposeBasicCredentials(bool& FlushFlag) {
    if (response_.statusCode != 401 && response_.statusCode != 407) return false;
    if (response_.statusCode == 401 && BasicRefusedOverPlainRelocation()) return false;
    AuthSide& side = response_.statusCode == 401 ? serverAuth_ : proxyAuth_;
    if (!SchemeAllowed(httpoNoBasicAuth, httpSchemeBasic) ||
        !CanAnswer("Basic", side.ntlm == ntlmIdle))
        return false;
    response_.statusCode == 401 ? BeginServerBasic() : BeginProxyBasic();
    FlushFlag = side.basic == basicCredentialsSent;
    return true;
}

void THttpCli::BeginServerNtlm() {
    StepNtlm(serverAuth_, effectiveConnection_, "Starting NTLM authentication",
             "Unexpected AuthNTLMState");
}

void THttpCli::BeginProxyNtlm() {
    StepNtlm(proxyAuth_, effectiveProxyConnection_, "Starting Proxy NTLM authentication",
             "Unexpected ProxyAuthNTLMState");
}

void THttpCli::BeginServerBasic() {
    StepBasic(serverAuth_, "Starting Basic authentication", "Unexpected AuthBasicState");
}

void THttpCli::BeginProxyBasic() {
    StepBasic(proxyAuth_, "Starting Proxy Basic authentication", "Unexpected ProxyAuthBasicState");
}

void THttpCli::StepNtlm(AuthSide& side, std::string& connection, const char* startTrace,
                        const char* unexpected) {
    switch (side.ntlm) {
        case ntlmIdle:
            Trace(loProtSpecInfo, startTrace);
            side.ntlm = ntlmNegotiateSent;
            side.basic = basicIdle;
            if (KeepAliveNeededForNtlm()) connection = "Keep-alive";
            PostLogin();
            return;
        case ntlmNegotiateSent:
            side.challenge = ParseNtlmChallenge(NtlmChallengeText(response_.authChallenges));
            side.ntlm = ntlmAuthenticateSent;
            PostLogin();
            return;
        case ntlmAuthenticateSent:
            // The answer to the challenge was refused: the request ends with the refusal.
            response_.authChallenges.clear();
            side.ntlm = ntlmIdle;
            return;
        default:
            throw EHttpException(unexpected, httpErrAuthState);
    }
}

void THttpCli::StepBasic(AuthSide& side, const char* startTrace, const char* unexpected) {
    switch (side.basic) {
        case basicIdle:
            Trace(loProtSpecInfo, startTrace);
            side.basic = basicCredentialsSent;
            side.ntlm = ntlmIdle;
            PostLogin();
            return;
        case basicCredentialsSent:
            response_.authChallenges.clear();
            side.basic = basicIdle;
            return;
        default:
            throw EHttpException(unexpected, httpErrAuthState);
    }
}

// The refusal's body is no part of the document: the stream loses it, and the upload starts again.
void THttpCli::DiscardRefusedResponse() {
    CutBodyStreamBack();
    RewindUploadStream();
    receiveFill_ = 0;
    const std::string keptName = documentName_;
    const std::string keptLocation = location_;
    ResetResponseState();
    documentName_ = keptName;
    location_ = keptLocation;
}
