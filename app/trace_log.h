// The trace a user asks for (--trace FILE): the download client's and its socket's trace lines,
// connections and TLS included, and the detail behind each failed download, appended to a file
// with time stamps, for a report to whoever looks into a failure.
#pragma once

#include <memory>
#include <string>

#include "log/qtx_logger.h"

namespace app {

// A logger writing to path, which is opened (created if missing) now; throws platform::Exception
// naming the file when it cannot be.
std::unique_ptr<TQtxLogger> OpenTraceLog(const std::string& path);

}  // namespace app
