#include "tests/support/read_only_folder.h"

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>

namespace test_support {
namespace {

struct Capabilities {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
};

Capabilities ThisThreadsCapabilities() {
    Capabilities caps;
    if (syscall(SYS_capget, &caps.header, caps.data) != 0)
        throw std::runtime_error("capget failed");
    return caps;
}

void SetEffective(const std::uint32_t (&effective)[2]) {
    Capabilities caps = ThisThreadsCapabilities();
    caps.data[0].effective = effective[0];
    caps.data[1].effective = effective[1];
    if (syscall(SYS_capset, &caps.header, caps.data) != 0)
        throw std::runtime_error("capset failed");
}

}  // namespace

ReadOnlyFolder::ReadOnlyFolder(std::string path) : path_(std::move(path)) {
    struct stat status {};
    if (::stat(path_.c_str(), &status) != 0) throw std::runtime_error("no folder " + path_);
    mode_ = status.st_mode & 07777;
    Capabilities caps = ThisThreadsCapabilities();
    effective_[0] = caps.data[0].effective;
    effective_[1] = caps.data[1].effective;
    std::uint32_t lowered[2] = {effective_[0], effective_[1]};
    for (int overriding : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        lowered[overriding / 32] &= ~(1u << (overriding % 32));
    ::chmod(path_.c_str(), mode_ & ~0222);
    SetEffective(lowered);
}

ReadOnlyFolder::~ReadOnlyFolder() {
    SetEffective(effective_);
    ::chmod(path_.c_str(), mode_);
}

}  // namespace test_support
