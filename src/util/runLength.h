// The run-length encoding of the bitmap stream: 0x00 and 0xFF bytes (eight
// white or eight black pixels) travel as the byte and a count of 1 to 255;
// every other byte travels as it is. Pure functions, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vren {

// Output room runLengthEncode() may need: every byte a run of one.
constexpr size_t runLengthBound(size_t length) noexcept {
    return 2 * length;
}

namespace detail {

inline uint64_t load64(const unsigned char *p) noexcept {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// True when some byte of the word is 0x00 or 0xFF.
inline bool hasRunByte(uint64_t word) noexcept {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    const auto hasZero = [](uint64_t v) { return ((v - kOnes) & ~v & kHighs) != 0; };
    return hasZero(word) || hasZero(~word);
}

}  // namespace detail

// Encodes `length` bytes into `out`, which holds runLengthBound(length) bytes.
// Returns the length of the stream. Runs cross row boundaries; a run longer
// than 255 bytes is written as several pairs.
inline size_t runLengthEncode(const unsigned char *in, size_t length, unsigned char *out) noexcept {
    size_t i = 0;
    size_t o = 0;
    while (i < length) {
        const unsigned char byte = in[i];
        if (byte == 0x00 || byte == 0xFF) {
            const size_t limit = length - i < 255 ? length : i + 255;
            const uint64_t pattern = byte == 0 ? 0 : ~uint64_t{0};
            size_t end = i + 1;
            while (end + 8 <= limit && detail::load64(in + end) == pattern)
                end += 8;
            while (end < limit && in[end] == byte)
                ++end;
            out[o++] = byte;
            out[o++] = static_cast<unsigned char>(end - i);
            i = end;
            continue;
        }
        out[o++] = byte;
        ++i;
        // Stretches of bytes that are neither 0x00 nor 0xFF are copied a word at a time.
        while (i + 8 <= length) {
            const uint64_t word = detail::load64(in + i);
            if (detail::hasRunByte(word))
                break;
            std::memcpy(out + o, &word, sizeof word);
            o += 8;
            i += 8;
        }
    }
    return o;
}

}  // namespace vren
