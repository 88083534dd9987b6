// Writing a whole byte string to a blocking POSIX socket, for the tests' own servers.
#pragma once

#include <string>

namespace test_support {

// Sends every byte (a peer that has gone raises no SIGPIPE); false when the connection fails first.
bool SendAll(int fd, const std::string& bytes);

}  // namespace test_support
