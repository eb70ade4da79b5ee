// JSON form of parsed commands, for transcripts: one object per command, keys
// in a fixed order, no white space, so that equal commands give equal text.
//
// Text and barcode data are given twice: "data" as text when the bytes are
// valid UTF-8 (else null: text in a code page, or any other bytes), and
// "dataHex", the exact bytes in hexadecimal. A letter field holds the
// character whose code is the field's byte; in messages, bytes that are not
// UTF-8 become U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"

namespace cmdparse {

// {"offset":..,"length":..,"command":"T",...fields...}; offsets are counted
// from `base`.
std::string toJson(const Command &command, uint64_t base = 0);
std::string toJson(const Diagnostic &diagnostic, uint64_t base = 0, std::string_view source = "parser");

// 64-bit FNV-1a of a raster, as 16 hexadecimal digits: identifies a bitmap in
// a transcript without listing its bytes.
std::string rasterDigest(const std::vector<uint8_t> &raster);

}  // namespace cmdparse
