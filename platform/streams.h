// Byte streams: the receiving and sending ends of the HTTP client and anything else that reads or
// writes a body. A file stream (with buffered writes) and a memory stream share one interface.
// Users that are handed a stream never own it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/exception.h"

namespace platform {

class EStreamError : public Exception {
  public:
    using Exception::Exception;
};

enum class SeekOrigin { Begin, Current, End };

class Stream {
  public:
    virtual ~Stream() = default;
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Reads up to count bytes at the position; returns the count read (0 at the end).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Writes all count bytes at the position or raises EStreamError.
    virtual void Write(const void* buffer, std::int64_t count) = 0;
    // Moves the position and returns it. A position before the start raises EStreamError; one past
    // the end is allowed (a later write fills the gap with zeros).
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
    virtual std::int64_t Size() = 0;
    // Cuts or extends the stream; the position is kept unless it lies past the new end.
    virtual void SetSize(std::int64_t size) = 0;

    std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Begin); }
};

enum class FileMode {
    Create,         // a new empty file, replacing any file of that name; read and write
    CreateNew,      // a new empty file where nothing is at that name, not even a link; read and write
    OpenRead,       // an existing file, read only
    OpenReadWrite,  // an existing file, not through a link; read and write
};

// A file on disk. Writes are gathered in memory and reach the file in large blocks; any other
// operation, Flush and destruction write them out first.
class FileStream : public Stream {
  public:
    FileStream(const std::string& path, FileMode mode);
    ~FileStream() override;  // flushes; a failure here is lost, so call Flush to see it

    std::int64_t Read(void* buffer, std::int64_t count) override;
    void Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override;
    void SetSize(std::int64_t size) override;

    // Writes the gathered bytes out; raises EStreamError when the file does not take them.
    void Flush();
    const std::string& Path() const { return path_; }

    // How many bytes are gathered before they are written out; files written side by side may
    // share the memory of one.
    static constexpr std::int64_t kDefaultWriteBlock = 256 * 1024;
    void SetWriteBlock(std::int64_t bytes) { writeBlock_ = bytes; }

  private:
    std::int64_t writeBlock_ = kDefaultWriteBlock;
    std::string path_;
    int fd_ = -1;
    bool writable_ = true;
    std::int64_t position_ = 0;  // of the file descriptor, pending bytes not counted
    std::string pending_;        // bytes written at position_, not yet in the file
};

// A growable block of memory.
class MemoryStream : public Stream {
  public:
    MemoryStream() = default;
    explicit MemoryStream(std::string initial) : data_(std::move(initial)) {}

    std::int64_t Read(void* buffer, std::int64_t count) override;
    void Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    void SetSize(std::int64_t size) override;

    const std::string& Data() const { return data_; }
    void Clear() {
        data_.clear();
        position_ = 0;
    }

  private:
    std::string data_;
    std::int64_t position_ = 0;
};

}  // namespace platform
