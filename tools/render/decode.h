// Text bytes of a label back to Unicode code points, for drawing.
#pragma once

#include <string>
#include <string_view>

namespace render {

// `encoding` is an iconv name ("CP949", "GB18030", ...) or empty for UTF-8.
// Bytes that do not decode become U+FFFD and set `replaced`; an encoding that
// the system lacks decodes as Latin-1 and sets `replaced` too.
std::u32string decodeText(std::string_view bytes, const std::string &encoding, bool &replaced);

}  // namespace render
