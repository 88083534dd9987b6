#include "app/trace_log.h"

namespace app {

std::unique_ptr<TQtxLogger> OpenTraceLog(const std::string& path) {
    auto log = std::make_unique<TQtxLogger>();
    log->SetLogFileName(path);
    log->SetLogFileOption(lfoAppend);
    log->SetLogOptions(
        {loDestFile, loAddStamp, loWsockErr, loSslErr, loSslInfo, loProtSpecErr, loProtSpecInfo});
    try {
        log->Log(nullptr, loProtSpecInfo, "Trace started");
    } catch (const std::exception& error) {
        throw platform::Exception("Cannot write the trace " + path + ": " + error.what());
    }
    return log;
}

}  // namespace app
