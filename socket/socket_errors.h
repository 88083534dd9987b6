// The socket layer's exception and the texts of error numbers.
#pragma once

#include <string>

#include "platform/exception.h"

class ESocketException : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

// The text of a Windows Sockets number; "Not a WinSock error" for any other number.
std::string SocketErrorText(int code);
// SocketErrorText(code) + " (#" + code + ")".
std::string SocketErrorMessage(int code);
// The platform's text for a system error number + " (#" + code + ")".
std::string SystemErrorMessage(int code);
