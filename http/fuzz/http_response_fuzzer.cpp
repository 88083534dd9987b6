// The HTTP client's response path against servers whose bytes are the input (the script that
// http_response_check.h describes).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/fuzz/http_response_check.h"
#include "platform/headless_application.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static platform::HeadlessApplication application;
    static auto* previous = platform::SetApplication(&application);
    (void)previous;
    if (size < 2) return -1;
    const std::string violated =
        CheckHttpResponseScript({reinterpret_cast<const char*>(data), size});
    if (violated.empty()) return 0;
    std::fprintf(stderr, "violated: %s\n", violated.c_str());
    std::abort();
}
