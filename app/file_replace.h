// Replacing a file's contents so that a crash or a full disk never leaves it truncated: the new
// contents go to a temporary file in the same folder, which is synced and renamed over the old one.
#pragma once

#include <string>
#include <string_view>

namespace app {

// Throws platform::Exception naming the file and the reason when the contents cannot be written;
// the old file is then left as it was.
void ReplaceFileContents(const std::string& path, std::string_view contents);

}  // namespace app
