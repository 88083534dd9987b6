// The base class of the system's own errors: a message text. The default error report shows it,
// and every layer's exception class (ESocketException, EHttpException, ...) derives from it.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

}  // namespace platform
