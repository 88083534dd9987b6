// The thread message loop: hidden windows, posted messages, timers and watched descriptors.
//
// Every thread that uses it gets its own loop (one epoll instance with an eventfd for posts and a
// timerfd for timers). The loop's epoll descriptor is readable whenever work is pending, so another
// event loop (Qt's, in the program) can watch that single descriptor and call
// ProcessPendingMessages when it fires.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace platform {

using HWND = std::uint64_t;  // 0 is "no window"; handles are never reused within a process
using UINT = unsigned;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct MSG {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Window classes are process-wide, keyed by name.
bool RegisterWindowClass(const std::string& className, WindowProc proc);  // false when taken
// False when not registered, or while a window of the class still exists.
bool UnregisterWindowClass(const std::string& className);
bool IsWindowClassRegistered(const std::string& className);

// A hidden window belongs to the calling thread and receives the messages posted to it from that
// thread's loop. Returns 0 when the class is unknown.
HWND CreateHiddenWindow(const std::string& className);
// A window with its own procedure, for components that want their messages delivered to a method.
HWND AllocateHWnd(WindowProc proc);
// Destroys the window and drops its pending messages and timers. False for an unknown handle.
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);
void SetWindowData(HWND window, void* data);  // the per-window data slot (the owning object)
void* GetWindowData(HWND window);
std::thread::id GetWindowThread(HWND window);
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Queues a message for the window's thread and wakes its loop. Callable from any thread.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Queues WM_QUIT (wParam = exitCode) on the calling thread's queue.
void PostQuitMessage(int exitCode);

// Takes one message from the calling thread's queue, after collecting ready descriptors and due
// timers. False when nothing is pending.
bool PeekMessage(MSG& message);
// Runs the window's procedure. An exception that escapes it goes to the default error report.
LRESULT DispatchMessage(const MSG& message);
// Dispatches messages until none is pending. Returns true when WM_QUIT was taken (and stops there).
bool ProcessPendingMessages();
// Blocks until input is pending or timeoutMs passed (negative: no limit). True when input is
// pending.
bool WaitForInput(int timeoutMs);
// The calling thread's epoll descriptor, readable whenever work is pending.
int MessageLoopDescriptor();

// Periodic timers post WM_TIMER (wParam = id) to the window; at most one is pending per timer.
bool SetTimer(HWND window, std::uintptr_t id, unsigned intervalMs);
bool KillTimer(HWND window, std::uintptr_t id);

// Further descriptors watched by the calling thread's loop (epoll events, level-triggered). The
// handler runs from PeekMessage on that thread; it typically posts a message.
using DescriptorHandler = std::function<void(std::uint32_t epollEvents)>;
bool WatchDescriptor(int fd, std::uint32_t epollEvents, DescriptorHandler handler);
bool ModifyWatch(int fd, std::uint32_t epollEvents);  // 0 silences the descriptor
bool UnwatchDescriptor(int fd);

}  // namespace platform
