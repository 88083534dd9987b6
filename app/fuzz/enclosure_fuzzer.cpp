// Scans arbitrary bytes as a feed document and checks what the download relies on: every URL
// found comes from an "<enclosure" element and is no longer than the document, the newest is one
// of them, and a file name that passes the safety check can only name a file inside the download
// folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/enclosure_scan.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

std::size_t Occurrences(std::string_view text, std::string_view word) {
    std::size_t count = 0;
    for (auto at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view document(reinterpret_cast<const char*>(data), size);

    Require(app::DecodeXmlReferences(document).size() <= size);

    const app::FeedEnclosures found = app::FindEnclosures(document);
    const auto& urls = found.urls;
    Require(urls.size() <= Occurrences(document, "<enclosure"));
    Require(urls.empty() ? found.newest == 0 : found.newest < urls.size());
    for (const std::string& url : urls) {
        Require(url.size() <= size);
        const std::string name = app::EnclosureFileName(url);
        if (!app::IsSafeFileName(name)) continue;
        Require(name != "." && name != "..");
        Require(std::none_of(name.begin(), name.end(), [](char c) {
            auto byte = static_cast<unsigned char>(c);
            return c == '/' || byte < 0x20 || byte == 0x7F;
        }));
    }
    return 0;
}
