#include "app/proxy_text.h"

#include "http/http_cli.h"
#include "http/url.h"

namespace app {

namespace {

// The SOCKS level a proxy text's scheme names, or "" when it names none.
std::string SocksLevelOf(const std::string& scheme) {
    if (scheme == "socks5") return "5";
    if (scheme == "socks4a") return "4A";
    if (scheme == "socks4") return "4";
    return "";
}

}  // namespace

void ApplyProxyText(THttpCli& client, const std::string& text) {
    std::string proto, user, password, host, port, path;
    SplitUrl(text, proto, user, password, host, port, path);
    std::string level = SocksLevelOf(proto);
    bool socks = !level.empty();
    bool socksLogin = level == "5" && !user.empty();
    // The client takes only host and port from Proxy; the credentials have properties of their own.
    client.Proxy = socks ? "" : text;
    client.ProxyUsername = socks ? "" : user;
    client.ProxyPassword = socks ? "" : password;
    client.SocksServer = socks ? host : "";
    client.SocksPort = socks ? (port.empty() ? "1080" : port) : "";
    client.SocksLevel = level;
    client.SocksUsercode = socksLogin ? user : "";
    client.SocksPassword = socksLogin ? password : "";
    client.SocksAuthentication = socksLogin ? socksAuthenticateUsercode : socksNoAuthentication;
}

}  // namespace app
