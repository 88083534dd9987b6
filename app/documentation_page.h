// The project's documentation page, which the about window opens as the maker's web page.
#pragma once

#include <string>

namespace app {

// A file:// address of the README.md beside the program when it was installed with one, else of
// the README.md of the source tree the program was built from.
std::string DocumentationPageUrl(const std::string& programDir);

// The file:// address of an absolute path, with every byte an address cannot hold percent-encoded.
std::string FileUrl(const std::string& absolutePath);

}  // namespace app
