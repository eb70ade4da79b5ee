// The network opener's reading of an address.
#pragma once

#include <cstdint>

namespace vren {

// The port of a network address: the decimal number at the start of `text`,
// read as atoi() reads it (leading blanks and a sign allowed, whatever follows
// the digits ignored), accepted from 1 to 65535. False for a number outside
// that range, which would otherwise reach another port, or for no number.
bool parsePort(const char *text, uint16_t &port) noexcept;

}  // namespace vren
