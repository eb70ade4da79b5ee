// Headers of the bitmap commands LD (raw raster) and LCR (run-length
// compressed raster). Pure functions from arguments to bytes.
#pragma once

#include <array>
#include <cstdint>

namespace vren {

constexpr uint32_t kMaxBitmapField = 0xFFFF;

// A position as the printer reads it: the low byte is x % 256 and the high
// byte x / 256 (signed division truncating toward zero), each cut to 8 bits.
constexpr void putPosition(unsigned char *out, int value) noexcept {
    out[0] = static_cast<unsigned char>(value % 256);
    out[1] = static_cast<unsigned char>(value / 256);
}

// Bits 0..15 of a size field, low byte first.
constexpr void putSize(unsigned char *out, uint32_t value) noexcept {
    out[0] = static_cast<unsigned char>(value & 0xFF);
    out[1] = static_cast<unsigned char>(value >> 8 & 0xFF);
}

// 'L' 'D' x y bytesPerRow rows: 10 bytes.
constexpr std::array<unsigned char, 10> ldHeader(int x, int y, uint32_t bytesPerRow, uint32_t rows) noexcept {
    std::array<unsigned char, 10> header{'L', 'D'};
    putPosition(&header[2], x);
    putPosition(&header[4], y);
    putSize(&header[6], bytesPerRow);
    putSize(&header[8], rows);
    return header;
}

// 'L' 'C' 'R' 0x00 x y bytesPerRow rows: 12 bytes.
constexpr std::array<unsigned char, 12> lcrHeader(int x, int y, uint32_t bytesPerRow, uint32_t rows) noexcept {
    std::array<unsigned char, 12> header{'L', 'C', 'R', 0x00};
    putPosition(&header[4], x);
    putPosition(&header[6], y);
    putSize(&header[8], bytesPerRow);
    putSize(&header[10], rows);
    return header;
}

}  // namespace vren
