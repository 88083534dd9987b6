// Small process services the upper layers ask of the platform.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32.
std::uint32_t GetTickCount();
// Gives up the rest of the time slice (a zero-length sleep).
void YieldThread();
// Debug output: one line on stderr.
void OutputDebugString(const std::string& text);

// The system's default language identifier from LC_ALL, LC_MESSAGES, then LANG.
std::uint16_t GetSystemDefaultLangID();
// The same rule over a given locale name, e.g. "de_DE.UTF-8" gives 0x0407.
std::uint16_t LanguageIdFromLocale(const std::string& locale);

// The directory of the running executable, ending in "/".
std::string ExecutableDirectory();

// A recursive lock, as a critical section of the upper layers.
using RecursiveLock = std::recursive_mutex;

}  // namespace platform
