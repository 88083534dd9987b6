#include "platform/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

std::string ErrnoText() {
    return std::strerror(errno);
}

std::int64_t SeekBase(SeekOrigin origin, std::int64_t current, std::int64_t size) {
    switch (origin) {
        case SeekOrigin::Begin:
            return 0;
        case SeekOrigin::Current:
            return current;
        case SeekOrigin::End:
            return size;
    }
    return 0;
}

}  // namespace

FileStream::FileStream(const std::string& path, FileMode mode)
    : path_(path), writable_(mode != FileMode::OpenRead) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case FileMode::Create:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        case FileMode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
            break;
        case FileMode::OpenRead:
            flags |= O_RDONLY;
            break;
        case FileMode::OpenReadWrite:
            flags |= O_RDWR | O_NOFOLLOW;
            break;
    }
    do {
        fd_ = ::open(path.c_str(), flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        const bool creating = mode == FileMode::Create || mode == FileMode::CreateNew;
        const char* verb = creating ? "create" : "open";
        throw EStreamError("Cannot " + std::string(verb) + " file \"" + path + "\". " +
                           ErrnoText());
    }
}

FileStream::~FileStream() {
    try {
        Flush();
    } catch (const EStreamError&) {
        // Nothing can be reported from here; callers who care call Flush themselves.
    }
    ::close(fd_);
}

void FileStream::Flush() {
    const char* data = pending_.data();
    std::size_t left = pending_.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // Keep what was not written so that the stream still describes the file truthfully.
            pending_.erase(0, pending_.size() - left);
            throw EStreamError("Stream write error. " + ErrnoText());
        }
        data += n;
        left -= static_cast<std::size_t>(n);
        position_ += n;
    }
    pending_.clear();
}

std::int64_t FileStream::Read(void* buffer, std::int64_t count) {
    Flush();
    auto* out = static_cast<char*>(buffer);
    std::int64_t total = 0;
    while (total < count) {
        ssize_t n = ::read(fd_, out + total, static_cast<std::size_t>(count - total));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EStreamError("Stream read error. " + ErrnoText());
        if (n == 0) break;
        total += n;
        position_ += n;
    }
    return total;
}

void FileStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return;
    if (!writable_) throw EStreamError("Stream write error. \"" + path_ + "\" is open for reading");
    const auto* bytes = static_cast<const char*>(buffer);
    if (static_cast<std::int64_t>(pending_.size()) + count > writeBlock_) Flush();
    if (count >= writeBlock_) {
        pending_.assign(bytes, static_cast<std::size_t>(count));
        Flush();
        return;
    }
    if (pending_.capacity() < static_cast<std::size_t>(writeBlock_))
        pending_.reserve(static_cast<std::size_t>(writeBlock_));
    pending_.append(bytes, static_cast<std::size_t>(count));
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
    if (origin == SeekOrigin::Current && offset == 0)
        return position_ + static_cast<std::int64_t>(pending_.size());
    Flush();
    std::int64_t base = SeekBase(origin, position_, origin == SeekOrigin::End ? Size() : 0);
    std::int64_t target = base + offset;
    if (target < 0) throw EStreamError("Seek before the start of \"" + path_ + "\"");
    if (::lseek(fd_, target, SEEK_SET) < 0) throw EStreamError("Seek error. " + ErrnoText());
    position_ = target;
    return position_;
}

std::int64_t FileStream::Size() {
    Flush();
    struct stat info {};
    if (::fstat(fd_, &info) < 0) throw EStreamError("Cannot read the size of \"" + path_ + "\"");
    return info.st_size;
}

void FileStream::SetSize(std::int64_t size) {
    Flush();
    if (size < 0 || ::ftruncate(fd_, size) < 0)
        throw EStreamError("Cannot set the size of \"" + path_ + "\". " + ErrnoText());
    if (position_ > size) Seek(size, SeekOrigin::Begin);
}

std::int64_t MemoryStream::Read(void* buffer, std::int64_t count) {
    std::int64_t available = Size() - position_;
    std::int64_t n = std::max<std::int64_t>(0, std::min(count, available));
    if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

void MemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return;
    std::int64_t end = position_ + count;
    if (end > Size()) data_.resize(static_cast<std::size_t>(end));
    std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ = end;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
    std::int64_t target = SeekBase(origin, position_, Size()) + offset;
    if (target < 0) throw EStreamError("Seek before the start of a memory stream");
    position_ = target;
    return position_;
}

void MemoryStream::SetSize(std::int64_t size) {
    if (size < 0) throw EStreamError("Cannot set a negative size of a memory stream");
    data_.resize(static_cast<std::size_t>(size));
    position_ = std::min(position_, size);
}

}  // namespace platform
