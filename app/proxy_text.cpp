#include "app/proxy_text.h"

#include "http/http_cli.h"
#include "http/url.h"

namespace app {

void ApplyProxyText(THttpCli& client, const std::string& text) {
    std::string proto, user, password, host, port, path;
    SplitUrl(text, proto, user, password, host, port, path);
    // The client takes only host and port from Proxy; the credentials have properties of their own.
    client.Proxy = text;
    client.ProxyUsername = user;
    client.ProxyPassword = password;
}

}  // namespace app
