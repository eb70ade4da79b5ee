// Code-page conversion of text fields.
#pragma once

#include <cstddef>
#include <string_view>

namespace vren {

// Converts `length` bytes of UTF-8 `data` to code page `codePage` (0 to 8: EUC-KR,
// CP949, EUC-CN, GB18030, BIG5, CP950, EUC-JP, CP932, CP874) and appends
// `header` and the converted text as one quoted-field command, then runs the
// buffer check. A code page outside the table appends the text unconverted.
// Nothing is appended when the conversion fails (VREN_E_WRITE) or its output
// area cannot be allocated (VREN_E_NOMEM). Logs under "convertData".
int appendConverted(std::string_view header, const char *data, size_t length, int codePage) noexcept;

}  // namespace vren
