// Commands written to the printer at once, bypassing the command buffer.
#pragma once

#include <string_view>

namespace vren {

// Writes the command with one writeData() call. Returns 0 when every byte
// went out, else VREN_E_WRITE with "Failed to write" logged under `tag`.
int writeImmediate(const char *tag, std::string_view command) noexcept;

// A function that only writes a fixed command at once: "start", the command,
// then "end", or "Failed to write" in its place. Returns writeImmediate()'s
// result.
int sendImmediate(const char *tag, std::string_view command) noexcept;

}  // namespace vren
