#include "platform/system.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace platform {

std::uint32_t GetTickCount() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void YieldThread() {
    std::this_thread::yield();
}

void OutputDebugString(const std::string& text) {
    std::cerr << text << '\n';
}

std::uint16_t LanguageIdFromLocale(const std::string& locale) {
    // Only the language and territory matter: "de_DE.UTF-8@euro" is German as used in Germany.
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    if (name == "de_DE") return 0x0407;
    if (name == "de_AT") return 0x0C07;
    if (name == "de_CH") return 0x0807;
    if (name == "de_LU") return 0x1007;
    if (name == "de_LI") return 0x1407;
    return 0x0409;
}

std::uint16_t GetSystemDefaultLangID() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return LanguageIdFromLocale(value);
    }
    return LanguageIdFromLocale("");
}

std::string ExecutableDirectory() {
    std::string path(4096, '\0');
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0) return {};
    path.resize(static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace platform
