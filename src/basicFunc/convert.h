// Code-page conversion of text fields.
#pragma once

#include <cstddef>
#include <string_view>

namespace vren {

// Converts `length` bytes of UTF-8 `data` (not null) to code page `codePage`
// (0 to 8: EUC-KR, CP949, EUC-CN, GB18030, BIG5, CP950, EUC-JP, CP932, CP874)
// and appends `header` and the converted text as one quoted-field command. A
// code page outside the table appends the text unconverted, up to its NUL.
// Nothing is appended when the conversion fails (VREN_E_WRITE) or its output
// area cannot be allocated (VREN_E_NOMEM). Logs under "convertData". The
// composition front-end (compose.h) runs it and then the buffer check.
int appendConverted(std::string_view header, const char *data, size_t length, int codePage) noexcept;

}  // namespace vren
