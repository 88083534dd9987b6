// Blocking resolution over the reentrant resolver calls, and address conversion.
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/winsock_internal.h"

namespace platform {
namespace winsock {

namespace {

using AddressInfo = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

// The resolver's addresses of name in the family, one per address; 0 or the socket error.
int ResolveStream(const std::string& name, int family, int flags, AddressInfo& found) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;  // one result per address
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (result != 0) return ErrorFromResolver(result);
    found.reset(list);
    return 0;
}

}  // namespace

int LookupName(const std::string& name, HostEntry& entry) {
    AddressInfo owner(nullptr, &::freeaddrinfo);
    if (int error = ResolveStream(name, AF_INET, AI_CANONNAME, owner)) return error;
    addrinfo* found = owner.get();
    entry = HostEntry{};
    entry.name = found->ai_canonname ? found->ai_canonname : name;
    for (addrinfo* info = found; info; info = info->ai_next) {
        auto* address = reinterpret_cast<const sockaddr_in*>(info->ai_addr);
        entry.addresses.push_back(address->sin_addr.s_addr);
    }
    return entry.addresses.empty() ? WSANO_DATA : 0;
}

int LookupAllAddresses(const std::string& name, HostEntry& entry) {
    AddressInfo owner(nullptr, &::freeaddrinfo);
    if (int error = ResolveStream(name, AF_UNSPEC, 0, owner)) return error;
    addrinfo* found = owner.get();
    entry = HostEntry{};
    std::vector<SOCKADDR_INET> ipv6;
    for (addrinfo* info = found; info; info = info->ai_next) {
        SOCKADDR_INET address{};
        if (info->ai_family == AF_INET && info->ai_addrlen >= sizeof address.Ipv4) {
            std::memcpy(&address.Ipv4, info->ai_addr, sizeof address.Ipv4);
            entry.allAddresses.push_back(address);
        } else if (info->ai_family == AF_INET6 && info->ai_addrlen >= sizeof address.Ipv6) {
            std::memcpy(&address.Ipv6, info->ai_addr, sizeof address.Ipv6);
            ipv6.push_back(address);
        }
    }
    entry.allAddresses.insert(entry.allAddresses.end(), ipv6.begin(), ipv6.end());
    return entry.allAddresses.empty() ? WSANO_DATA : 0;
}

int PackAddressList(const std::vector<SOCKADDR_INET>& addresses, char* buffer, int length) {
    if (length < static_cast<int>(sizeof(int))) return 0;
    std::size_t room = (static_cast<std::size_t>(length) - sizeof(int)) / sizeof(SOCKADDR_INET);
    int count = static_cast<int>(std::min(room, addresses.size()));
    if (count == 0 && !addresses.empty()) return 0;
    std::memcpy(buffer, &count, sizeof count);
    std::memcpy(buffer + sizeof count, addresses.data(),
                static_cast<std::size_t>(count) * sizeof(SOCKADDR_INET));
    return static_cast<int>(sizeof count + static_cast<std::size_t>(count) * sizeof(SOCKADDR_INET));
}

int LookupAddress(std::uint32_t address, HostEntry& entry) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    int result = ::getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress),
                               sizeof socketAddress, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    if (result != 0) return ErrorFromResolver(result);
    entry = HostEntry{};
    entry.name = host;
    entry.addresses.push_back(address);
    return 0;
}

int PackHostEntry(const HostEntry& entry, char* buffer, int length) {
    // hostent, then the alias and address pointer lists, the addresses and the strings.
    std::size_t aliasCount = entry.aliases.size();
    std::size_t addressCount = entry.addresses.size();
    std::size_t misalignment = reinterpret_cast<std::uintptr_t>(buffer) % alignof(hostent);
    std::size_t start = misalignment ? alignof(hostent) - misalignment : 0;
    std::size_t pointers = start + sizeof(hostent);
    std::size_t addresses = pointers + (aliasCount + 1 + addressCount + 1) * sizeof(char*);
    std::size_t strings = addresses + addressCount * 4;
    std::size_t size = strings + entry.name.size() + 1;
    for (const auto& alias : entry.aliases)
        size += alias.size() + 1;
    if (size > static_cast<std::size_t>(length)) return static_cast<int>(size);

    auto* host = reinterpret_cast<hostent*>(buffer + start);
    auto** aliasList = reinterpret_cast<char**>(buffer + pointers);
    char** addressList = aliasList + aliasCount + 1;
    char* next = buffer + strings;
    auto copyString = [&next](const std::string& text) {
        char* copy = next;
        std::memcpy(copy, text.c_str(), text.size() + 1);
        next += text.size() + 1;
        return copy;
    };
    host->h_name = copyString(entry.name);
    for (std::size_t i = 0; i < aliasCount; ++i)
        aliasList[i] = copyString(entry.aliases[i]);
    aliasList[aliasCount] = nullptr;
    for (std::size_t i = 0; i < addressCount; ++i) {
        addressList[i] = buffer + addresses + i * 4;
        std::memcpy(addressList[i], &entry.addresses[i], 4);
    }
    addressList[addressCount] = nullptr;
    host->h_aliases = aliasList;
    host->h_addrtype = AF_INET;
    host->h_length = 4;
    host->h_addr_list = addressList;
    return static_cast<int>(size);
}

namespace {

// The storage gethostbyname and gethostbyaddr hand out, one per thread.
hostent* ThreadHostEntry(const HostEntry& entry) {
    thread_local std::vector<char> storage;
    storage.resize(static_cast<std::size_t>(PackHostEntry(entry, nullptr, 0)) + alignof(hostent));
    char* buffer = storage.data();
    PackHostEntry(entry, buffer, static_cast<int>(storage.size()));
    std::size_t misalignment = reinterpret_cast<std::uintptr_t>(buffer) % alignof(hostent);
    return reinterpret_cast<hostent*>(buffer +
                                      (misalignment ? alignof(hostent) - misalignment : 0));
}

hostent* Resolved(int error, const HostEntry& entry) {
    if (error != 0) {
        Fail(error);
        return nullptr;
    }
    return ThreadHostEntry(entry);
}

}  // namespace
}  // namespace winsock

using namespace winsock;

hostent* gethostbyname(const char* name) {
    if (!RequireStartup()) return nullptr;
    if (!name) {
        Fail(WSAEFAULT);
        return nullptr;
    }
    HostEntry entry;
    int error = LookupName(name, entry);
    return Resolved(error, entry);
}

hostent* gethostbyaddr(const char* addr, int len, int type) {
    if (!RequireStartup()) return nullptr;
    if (!addr || len != 4 || type != AF_INET) {
        Fail(addr ? WSAEAFNOSUPPORT : WSAEFAULT);
        return nullptr;
    }
    std::uint32_t address;
    std::memcpy(&address, addr, 4);
    HostEntry entry;
    int error = LookupAddress(address, entry);
    return Resolved(error, entry);
}

int getaddresses(const char* name, SOCKADDR_INET* list, int capacity) {
    if (!RequireStartup()) return SOCKET_ERROR;
    if (!name || !list || capacity < 0) return Fail(WSAEFAULT);
    HostEntry entry;
    if (int error = LookupAllAddresses(name, entry); error != 0) return Fail(error);
    int count =
        static_cast<int>(std::min(entry.allAddresses.size(), static_cast<std::size_t>(capacity)));
    std::copy_n(entry.allAddresses.begin(), count, list);
    return count;
}

servent* getservbyname(const char* name, const char* proto) {
    if (!RequireStartup()) return nullptr;
    thread_local servent entry;
    thread_local char buffer[1024];
    servent* found = nullptr;
    int result = ::getservbyname_r(name, proto, &entry, buffer, sizeof buffer, &found);
    if (result != 0 || !found) {
        Fail(result == ERANGE ? WSAENOBUFS : WSANO_DATA);
        return nullptr;
    }
    return found;
}

protoent* getprotobyname(const char* name) {
    if (!RequireStartup()) return nullptr;
    thread_local protoent entry;
    thread_local char buffer[1024];
    protoent* found = nullptr;
    int result = ::getprotobyname_r(name, &entry, buffer, sizeof buffer, &found);
    if (result != 0 || !found) {
        Fail(result == ERANGE ? WSAENOBUFS : WSANO_DATA);
        return nullptr;
    }
    return found;
}

int gethostname(char* name, int namelen) {
    if (!RequireStartup()) return SOCKET_ERROR;
    if (!name || namelen <= 0) return Fail(WSAEFAULT);
    if (::gethostname(name, static_cast<std::size_t>(namelen)) != 0)
        return Fail(errno == ENAMETOOLONG ? WSAEFAULT : ErrorFromErrno(errno));
    // POSIX leaves a cut name unterminated; a cut name is a fault, as it is there.
    if (std::memchr(name, 0, static_cast<std::size_t>(namelen)) == nullptr) return Fail(WSAEFAULT);
    return 0;
}

u_long inet_addr(const char* text) {
    return text ? ::inet_addr(text) : INADDR_NONE;
}

char* inet_ntoa(in_addr address) {
    thread_local char text[INET_ADDRSTRLEN];
    return const_cast<char*>(::inet_ntop(AF_INET, &address, text, sizeof text));
}

int inet_pton(int af, const char* src, void* dst) {
    if (af != AF_INET && af != AF_INET6) return Fail(WSAEAFNOSUPPORT);
    if (!src || !dst) return Fail(WSAEFAULT);
    return ::inet_pton(af, src, dst);
}

const char* inet_ntop(int af, const void* src, char* dst, int size) {
    if (af != AF_INET && af != AF_INET6) {
        Fail(WSAEAFNOSUPPORT);
        return nullptr;
    }
    if (!src || !dst || size <= 0) {
        Fail(WSAEFAULT);
        return nullptr;
    }
    const char* text = ::inet_ntop(af, src, dst, static_cast<socklen_t>(size));
    if (!text) Fail(WSAEINVAL);
    return text;
}

u_short htons(u_short value) {
    return ::htons(value);
}
u_short ntohs(u_short value) {
    return ::ntohs(value);
}

}  // namespace platform
