// Pure builders of the block ("BD") and circle ("CD") commands.
#pragma once

#include "fieldFormat.h"

namespace vren::graphics {

constexpr bool validBlockOption(int option) noexcept { return option >= 0 && option <= 4; }

// `option` must be valid. Options 0 to 2 draw without a thickness field.
inline CommandText blockCommand(int startX, int startY, int endX, int endY, int option, int thickness) noexcept {
    constexpr char kLetters[] = {'O', 'E', 'D', 'S', 'B'};
    const char letter = kLetters[option];
    if (option <= 2)
        return formatFields("BD%d,%d,%d,%d,%c\r", startX, startY, endX, endY, letter);
    return formatFields("BD%d,%d,%d,%d,%c,%d\r", startX, startY, endX, endY, letter, thickness);
}

inline CommandText circleCommand(int x, int y, int size, int multiplier) noexcept {
    return formatFields("CD%d,%d,%d,%d\r", x, y, inRangeOr(size, 1, 6, 2), inRangeOr(multiplier, 1, 4, 1));
}

}  // namespace vren::graphics
