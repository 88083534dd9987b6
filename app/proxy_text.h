// The main window's proxy field, as the download client takes it.
#pragma once

#include <string>

class THttpCli;

namespace app {

// A text beginning with "socks5://", "socks4a://" or "socks4://" (any case) names a SOCKS server
// as host[:port], port 1080 when none is given; "socks5://" may carry "user:password@" before the
// host, which the client logs in with. Any other text names the HTTP proxy ("host", "host:port" or
// "http://host:port"), the empty text a direct connection; written with "user:password@" before
// the host it also gives the credentials the proxy is answered with. Every call sets all proxy
// settings of the client, so nothing of an earlier text is left behind. An IPv6 host stands in
// brackets ("[::1]:3128"), or without them when no port follows ("::1").
void ApplyProxyText(THttpCli& client, const std::string& text);

}  // namespace app
