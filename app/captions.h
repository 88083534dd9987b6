// The captions the language switches rewrite, in the order they are set.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "app/feed_monitor.h"

namespace app {

struct SwitchableCaption {
    Window window;
    std::string_view control;  // object name
    std::string_view german;
    std::string_view english;

    std::string_view In(std::uint8_t language) const { return language == 0 ? german : english; }
};

extern const std::array<SwitchableCaption, 17> SwitchableCaptions;

}  // namespace app
