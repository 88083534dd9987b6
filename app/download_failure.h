// What the download client reported about a request that did not bring an episode: gathered
// when the request has ended into a DownloadFailure, whose reason failure_reason.h words for the
// user, and written out in full for the client's trace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/failure_reason.h"

class THttpCli;

namespace app {

// The end of the client's last request, whose OnRequestDone carried requestDoneError: nothing for
// a request that ended normally with a final status from 200 to 299, and otherwise what was known
// of its end. The client's own failures (an error status, an abort, a body cut short) are failures
// of the download. A failure of our own side (the file refused a write, say on a full disk) is no
// failure of the request: its EHttpException is raised, to end the run.
std::optional<DownloadFailure> RequestEndFailure(THttpCli& client, std::uint16_t requestDoneError);

// The host the request was talking to when it ended: the proxy's through one, otherwise that of
// the address the relocations led to.
std::string ConnectedHost(const THttpCli& client);

// Writes the detail of failure, of the download of url, to the client's logger when it keeps
// protocol errors. Credentials in url are left out.
void TraceFailure(THttpCli& client, const std::string& url, const DownloadFailure& failure);

}  // namespace app
