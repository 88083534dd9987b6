#include "app/documentation_page.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace app {

std::string FileUrl(const std::string& absolutePath) {
    std::string url = "file://";
    for (unsigned char c : absolutePath) {
        if (std::isalnum(c) ||
            std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos) {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

std::string DocumentationPageUrl(const std::string& programDir) {
    std::string installed = programDir + "README.md";
    std::error_code ignored;
    if (std::filesystem::is_regular_file(installed, ignored)) return FileUrl(installed);
    return FileUrl(std::string(PD_SOURCE_DIR) + "/README.md");
}

}  // namespace app
