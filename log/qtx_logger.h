// TQtxLogger: receives trace lines from sockets and the HTTP client and passes each one to its
// event, the debug output (stderr) and a log file, as LogOptions selects. Every operation holds
// the logger's own recursive lock, so one logger may serve sockets on several threads.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include "log/log_file.h"
#include "log/log_options.h"
#include "platform/component.h"

enum TLogFileOption { lfoAppend, lfoOverwrite };

using TQtxLogEvent =
    std::function<void(platform::TComponent* Sender, TLogOption LogOption, const std::string& Msg)>;

// "hh:nn:ss:zzz" of a local time of day.
std::string LogTimeStamp(const std::tm& time, int milliseconds);

class TQtxLogger : public platform::TComponent {
  public:
    explicit TQtxLogger(platform::TComponent* owner = nullptr);
    ~TQtxLogger() override;

    std::string LogFileName() const;
    // A different name closes the open file; the next file line opens the new one.
    void SetLogFileName(const std::string& value);
    TLogFileOption LogFileOption() const;
    // Takes effect at the next opening of the file.
    void SetLogFileOption(TLogFileOption value);
    TLogOptions LogOptions() const;
    void SetLogOptions(TLogOptions value);
    TQtxLogEvent OnQtxLogEvent() const;
    void SetOnQtxLogEvent(TQtxLogEvent value);

    // Hands one line of kind logOption, produced by sender, to the chosen destinations. Failures
    // to open or write the file reach the caller.
    void Log(platform::TComponent* sender, TLogOption logOption, const std::string& msg);

  private:
    void WriteToFile(const std::string& line);

    mutable std::recursive_mutex lock_;
    std::string logFileName_;
    TLogFileOption logFileOption_ = lfoAppend;
    TLogOptions logOptions_;
    TQtxLogEvent onQtxLogEvent_;
    TLogFile file_;
};
