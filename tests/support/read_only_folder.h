// A folder made read-only for the scope, as it is for a user who may not write there: its mode
// loses the write bits and, should the tests run as root, this thread drops the capabilities that
// would override file permissions. Both are restored at destruction.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace test_support {

class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(std::string path);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

  private:
    std::string path_;
    mode_t mode_ = 0;
    std::uint32_t effective_[2] = {};  // this thread's effective capabilities before
};

}  // namespace test_support
