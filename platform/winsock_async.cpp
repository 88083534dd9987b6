// Background host lookups. A worker thread runs the blocking resolver and hands the entry over
// through the requesting thread's loop: only there, right before the reply message is handled, is
// the entry copied into the caller's buffer. A worker therefore never writes into memory of a
// cancelled request, whose buffer may be gone.
#include <cstring>
#include <memory>
#include <unordered_map>

#include "platform/winsock_internal.h"

namespace platform {
namespace {

using winsock::HostEntry;

struct Request {
    HANDLE handle = 0;
    HWND window = 0;
    UINT message = 0;
    char* buffer = nullptr;
    int length = 0;
    HWND completionWindow = 0;  // the requesting thread's, which takes the worker's result
    int error = 0;
    HostEntry entry;
    bool addressList = false;  // the reply is the entry's address list, not a host entry
};

// Pending requests. Workers keep the registry alive, so one that outlives its requester finds
// its request gone and posts nothing.
struct Registry {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<Request>> requests;
    HANDLE nextHandle = 1;
};

std::shared_ptr<Registry> Requests() {
    static auto registry = std::make_shared<Registry>();
    return registry;
}

constexpr UINT kLookupCompleted = WM_USER + 1;

LRESULT DeliverCompletion(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message != kLookupCompleted) return 0;
    std::shared_ptr<Request> request;
    {
        auto registry = Requests();
        std::lock_guard lock(registry->mutex);
        auto it = registry->requests.find(wParam);
        if (it == registry->requests.end()) return 0;  // cancelled meanwhile
        request = std::move(it->second);
        registry->requests.erase(it);
    }
    if (!IsWindow(request->window)) return 0;
    int error = request->error;
    int size = 0;
    if (error == 0 && request->addressList) {
        size =
            winsock::PackAddressList(request->entry.allAddresses, request->buffer, request->length);
        if (size == 0) error = WSAENOBUFS;
    } else if (error == 0) {
        size = winsock::PackHostEntry(request->entry, request->buffer, request->length);
        if (size > request->length) error = WSAENOBUFS;
    }
    // Handled at once, so the buffer is filled exactly when the reply is taken.
    DispatchMessage(
        {request->window, request->message, request->handle,
         WSAMAKESELECTREPLY(static_cast<unsigned>(size), static_cast<unsigned>(error))});
    return 0;
}

HWND CompletionWindow() {
    struct Holder {
        HWND window = AllocateHWnd(DeliverCompletion);
        ~Holder() { DestroyWindow(window); }
    };
    thread_local Holder holder;
    return holder.window;
}

template <typename Lookup>
HANDLE StartRequest(HWND window, UINT message, char* buffer, int length, Lookup lookup,
                    bool addressList = false) {
    if (!winsock::RequireStartup()) return 0;
    if (!buffer || length <= 0) {
        winsock::Fail(WSAEFAULT);
        return 0;
    }
    if (GetWindowThread(window) != std::this_thread::get_id()) {
        winsock::Fail(WSAEINVAL);
        return 0;
    }
    auto request = std::make_shared<Request>();
    request->window = window;
    request->message = message;
    request->buffer = buffer;
    request->length = length;
    request->completionWindow = CompletionWindow();
    request->addressList = addressList;
    auto registry = Requests();
    {
        std::lock_guard lock(registry->mutex);
        request->handle = registry->nextHandle++;
        registry->requests[request->handle] = request;
    }
    std::thread([registry, request, lookup] {
        HostEntry entry;
        int error = lookup(entry);
        std::lock_guard lock(registry->mutex);
        if (!registry->requests.count(request->handle)) return;
        request->entry = std::move(entry);
        request->error = error;
        PostMessage(request->completionWindow, kLookupCompleted, request->handle, 0);
    }).detach();
    return request->handle;
}

}  // namespace

HANDLE WSAAsyncGetHostByName(HWND window, UINT wMsg, const char* name, char* buf, int buflen) {
    if (!name) {
        winsock::Fail(WSAEFAULT);
        return 0;
    }
    return StartRequest(window, wMsg, buf, buflen, [host = std::string(name)](HostEntry& entry) {
        return winsock::LookupName(host, entry);
    });
}

HANDLE WSAAsyncGetAddresses(HWND window, UINT wMsg, const char* name, char* buf, int buflen) {
    if (!name) {
        winsock::Fail(WSAEFAULT);
        return 0;
    }
    return StartRequest(
        window, wMsg, buf, buflen,
        [host = std::string(name)](HostEntry& entry) {
            return winsock::LookupAllAddresses(host, entry);
        },
        true);
}

HANDLE WSAAsyncGetHostByAddr(HWND window, UINT wMsg, const char* addr, int len, int type, char* buf,
                             int buflen) {
    if (!addr || len != 4 || type != AF_INET) {
        winsock::Fail(addr ? WSAEAFNOSUPPORT : WSAEFAULT);
        return 0;
    }
    std::uint32_t address;
    std::memcpy(&address, addr, 4);
    return StartRequest(window, wMsg, buf, buflen, [address](HostEntry& entry) {
        return winsock::LookupAddress(address, entry);
    });
}

int WSACancelAsyncRequest(HANDLE request) {
    if (!winsock::RequireStartup()) return SOCKET_ERROR;
    auto registry = Requests();
    std::lock_guard lock(registry->mutex);
    if (registry->requests.erase(request) == 0) return winsock::Fail(WSAEINVAL);
    return 0;
}

}  // namespace platform
