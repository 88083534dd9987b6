// The texts of the application's own message boxes, German then English.
#pragma once

#include <array>
#include <string_view>

namespace app {

constexpr int kMessagesPerLanguage = 13;

// Text and caption of the refusal of a run while another run of the same list is under way.
constexpr int kAnotherRunMessage = 11;

// Entry language x kMessagesPerLanguage + k is message k in that language (0 German, 1 English).
extern const std::array<std::string_view, 2 * kMessagesPerLanguage> MessageTable;

}  // namespace app
