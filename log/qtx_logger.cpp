#include "log/qtx_logger.h"

#include <chrono>
#include <cstdio>

#include "platform/system.h"

namespace {

// The line behind the current local time of day, when stamps are wanted.
std::string Stamped(TLogOptions options, const std::string& msg) {
    if (!options.Contains(loAddStamp)) return msg;
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    return LogTimeStamp(local, static_cast<int>(milliseconds.count())) + " " + msg;
}

}  // namespace

std::string LogTimeStamp(const std::tm& time, int milliseconds) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%03d", time.tm_hour, time.tm_min, time.tm_sec,
                  milliseconds);
    return text;
}

TQtxLogger::TQtxLogger(platform::TComponent* owner) : platform::TComponent(owner) {}

TQtxLogger::~TQtxLogger() {
    BeginDestroying();
    std::lock_guard guard(lock_);
    file_.Close();
}

std::string TQtxLogger::LogFileName() const {
    std::lock_guard guard(lock_);
    return logFileName_;
}

void TQtxLogger::SetLogFileName(const std::string& value) {
    std::lock_guard guard(lock_);
    if (value == logFileName_) return;
    logFileName_ = value;
    file_.Close();
}

TLogFileOption TQtxLogger::LogFileOption() const {
    std::lock_guard guard(lock_);
    return logFileOption_;
}

void TQtxLogger::SetLogFileOption(TLogFileOption value) {
    std::lock_guard guard(lock_);
    logFileOption_ = value;
}

TLogOptions TQtxLogger::LogOptions() const {
    std::lock_guard guard(lock_);
    return logOptions_;
}

void TQtxLogger::SetLogOptions(TLogOptions value) {
    std::lock_guard guard(lock_);
    logOptions_ = value;
}

TQtxLogEvent TQtxLogger::OnQtxLogEvent() const {
    std::lock_guard guard(lock_);
    return onQtxLogEvent_;
}

void TQtxLogger::SetOnQtxLogEvent(TQtxLogEvent value) {
    std::lock_guard guard(lock_);
    onQtxLogEvent_ = std::move(value);
}

void TQtxLogger::Log(platform::TComponent* sender, TLogOption logOption, const std::string& msg) {
    std::lock_guard guard(lock_);
    if (Destroying()) return;
    // Each destination reads the clock anew, so the stamps of one line may differ slightly.
    if (logOptions_.Contains(loDestEvent) && onQtxLogEvent_) {
        // A handler may replace itself, which frees the one running: a copy runs instead.
        TQtxLogEvent handler = onQtxLogEvent_;
        handler(sender, logOption, Stamped(logOptions_, msg));
    }
    if (logOptions_.Contains(loDestOutDebug))
        platform::OutputDebugString(Stamped(logOptions_, msg));
    if (logOptions_.Contains(loDestFile)) WriteToFile(Stamped(logOptions_, msg) + "\r\n");
}

void TQtxLogger::WriteToFile(const std::string& line) {
    if (!file_.IsOpen()) {
        if (logFileName_.empty()) throw ELoggerException("File name empty");
        file_.Open(logFileName_, logFileOption_ == lfoOverwrite);
    }
    file_.Append(line);
}
