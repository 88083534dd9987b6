// The centring rule of all three windows: each size is halved on its own, truncating, before the
// subtraction, so an even outer size and an odd inner size land one pixel right of the middle.
#pragma once

namespace app {

constexpr int CentredPosition(int outerSize, int innerSize) {
    return outerSize / 2 - innerSize / 2;
}

}  // namespace app
