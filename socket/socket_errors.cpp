#include "socket/socket_errors.h"

#include "platform/winsock.h"

namespace {

std::string WithCode(const std::string& text, int code) {
    return text + " (#" + std::to_string(code) + ")";
}

}  // namespace

std::string SocketErrorText(int code) {
    const char* text = platform::WinsockErrorText(code);
    return text ? text : "Not a WinSock error";
}

std::string SocketErrorMessage(int code) {
    return WithCode(SocketErrorText(code), code);
}

std::string SystemErrorMessage(int code) {
    return WithCode(platform::SystemErrorText(code), code);
}
