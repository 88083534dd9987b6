// Text for the windows from bytes of a file: lists written on older systems hold lines in code
// page 1252, which are not UTF-8 and would otherwise show as replacement characters.
#pragma once

#include <string>
#include <string_view>

namespace app {

// UTF-8 stays as it is; otherwise every byte is read as a code page 1252 character (the five
// bytes that code page leaves free as the control characters of the same number).
std::string LegibleText(std::string_view bytes);

// Every byte read as a code page 1252 character, as UTF-8.
std::string Cp1252AsUtf8(std::string_view bytes);

}  // namespace app
