// Where a request goes: the server or the proxy to connect to, the request-line target, the
// document name, and whether the open connection can carry the request.
#include "http/http_cli.h"
#include "http/url.h"

void THttpCli::ComputeTarget() {
    std::string proto, user, pass, host, port, path = targetPath_;
    SplitUrl(URL, proto, user, pass, host, port, path);
    if (!user.empty()) effectiveUser_ = user;
    if (!pass.empty()) effectivePassword_ = pass;
    urlHost_ = host;
    urlScheme_ = proto;
    if (!Proxy.empty()) {
        // The request line carries the absolute address; the connection goes to the proxy.
        urlPort_ = port.empty() ? DefaultPort(proto) : port;
        documentName_ = path;
        targetPath_ = (proto.empty() ? "http" : proto) + "://" + UrlHost(host) +
                      (port.empty() ? "" : ":" + port) + path;
        std::string proxyProto, proxyUser, proxyPass, proxyHost, proxyPort, proxyPath;
        SplitUrl(Proxy, proxyProto, proxyUser, proxyPass, proxyHost, proxyPort, proxyPath);
        connectHost_ = proxyHost;
        connectPort_ = proxyPort.empty() ? ProxyPort : proxyPort;
        proxyConnectPort_ = connectPort_;
    } else {
        targetPath_ = path;
        documentName_ = targetPath_;
        urlPort_ = port.empty() ? DefaultPort(proto) : port;
        connectHost_ = host;
        connectPort_ = urlPort_;
    }
    if (urlScheme_.empty()) urlScheme_ = "http";
    if (targetPath_.empty()) targetPath_ = "/";
    NormaliseDocumentName();
}

bool THttpCli::SameAsLastConnection() const {
    // A tunnel through the proxy leads to one origin only.
    return connectHost_ == previousHost_ && connectPort_ == previousPort_ &&
           urlScheme_ == previousScheme_ && (!TunnelNeeded() || TunnelOrigin() == tunnelOrigin_);
}

void THttpCli::NormaliseDocumentName() {
    std::string name = documentName_.substr(0, documentName_.find('?'));
    if (name.empty() || name.back() == '/') {
        documentName_ = "document.htm";
        return;
    }
    name = name.substr(static_cast<std::size_t>(LastPos("/", name))).substr(0, 255);
    documentName_ = name.substr(0, name.find('?'));
}
