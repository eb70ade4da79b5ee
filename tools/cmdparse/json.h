// JSON form of parsed commands, for transcripts: one object per command, keys
// in a fixed order, no white space, so that equal commands give equal text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "command.h"

namespace cmdparse {

// A JSON string literal holding `bytes`: printable ASCII as is, every other
// byte as \u00XX (the byte's value), so any byte sequence round-trips.
std::string jsonString(std::string_view bytes);

// {"offset":..,"length":..,"command":"T",...fields...}; offsets are counted
// from `base`.
std::string toJson(const Command &command, uint64_t base = 0);
std::string toJson(const Diagnostic &diagnostic, uint64_t base = 0, std::string_view source = "parser");

// 64-bit FNV-1a of a raster, as 16 hexadecimal digits: identifies a bitmap in
// a transcript without listing its bytes.
std::string rasterDigest(const std::vector<uint8_t> &raster);

}  // namespace cmdparse
