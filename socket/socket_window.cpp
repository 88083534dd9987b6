#include "socket/socket_window.h"

#include <mutex>

#include "socket/socket_library.h"
#include "socket/wsocket.h"

using namespace platform;

namespace {

const char* const kClassName = "XSocketWindowClass";

LRESULT SocketWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* socket = static_cast<TCustomWSocket*>(GetWindowData(window));
    if (!socket) return DefWindowProc(window, message, wParam, lParam);
    TMessage msg{message, wParam, lParam, 0};
    socket->HandleWindowMessage(msg);
    return msg.Result;
}

}  // namespace

HWND CreateSocketWindow(TCustomWSocket* owner) {
    HWND window;
    {
        // The window is made while the class is held: another thread's last socket would
        // otherwise unregister the class between the two steps.
        std::lock_guard lock(WindowClassLock());
        if (!IsWindowClassRegistered(kClassName) &&
            !RegisterWindowClass(kClassName, SocketWindowProc))
            return 0;
        window = platform::CreateHiddenWindow(kClassName);
    }
    if (window && owner) SetWindowData(window, owner);
    return window;
}

void UnregisterSocketWindowClass() {
    std::lock_guard lock(WindowClassLock());
    UnregisterWindowClass(kClassName);
}
