// A label of commands, of an exact size, placed in the command buffer the way
// the composition functions leave it.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "VrenLabelAPI.h"

namespace vren::test {

// Text lines, then one last line whose text fills the label to `size` bytes
// (size of at least 40).
inline std::string labelOfSize(size_t size) {
    std::string label = "BD10,10,780,580,O\r";
    char line[64];
    for (int y = 40; label.size() + 80 < size; y += 30) {
        std::snprintf(line, sizeof line, "T20,%d,0,1,1,0,0,N,N,'LINE %04d'\r", y, y);
        label += line;
    }
    const std::string head = "T20,999,0,1,1,0,0,N,N,'";
    label += head;
    label.append(size - label.size() - 2, 'x');
    label += "'\r";
    return label;
}

inline void putInBuffer(const std::string &commands) {
    std::memcpy(gPrintData, commands.data(), commands.size());
    gDataIndex = static_cast<uint32_t>(commands.size());
}

}  // namespace vren::test
