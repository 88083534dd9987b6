// The main window's proxy field, as the download client takes it.
#pragma once

#include <string>

class THttpCli;

namespace app {

// The text names the proxy ("host", "host:port" or "http://host:port"); written with
// "user:password@" before the host it also gives the credentials the proxy is answered with.
// A text without them leaves the client with none.
void ApplyProxyText(THttpCli& client, const std::string& text);

}  // namespace app
