// The logger's file: opened on the first line, appended to in whole lines.
//
// Each line goes out in one write() on a descriptor opened with O_APPEND, so lines from several
// loggers or processes writing the same file land whole and one after another, never mixed
// within a line; other programs may read the file meanwhile.
#pragma once

#include <string>

#include "platform/exception.h"

// The logger's failures: no file name, or a file that cannot be opened or written.
class ELoggerException : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

class TLogFile {
  public:
    TLogFile() = default;
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Creates the file when missing; emptied first when truncate is set. Throws ELoggerException.
    void Open(const std::string& path, bool truncate);
    void Close();
    // Appends line in one write. Throws ELoggerException.
    void Append(const std::string& line);

  private:
    int fd_ = -1;
    std::string path_;
};
