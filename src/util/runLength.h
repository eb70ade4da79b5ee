// The run-length encoding of the bitmap stream: 0x00 and 0xFF bytes (eight
// white or eight black pixels) travel as the byte and a count of 1 to 255;
// every other byte travels as it is. Pure functions, no I/O.
#pragma once

#include <bit>
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

// High bit set in each byte of the word that is 0x00 (exact up to the lowest
// such byte, which is all the callers use).
inline uint64_t zeroBytes(uint64_t v) noexcept {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    return (v - kOnes) & ~v & kHighs;
}

// Index of the first byte, in memory order, that the mask marks.
inline size_t firstMarked(uint64_t mask) noexcept {
    return static_cast<size_t>(std::countr_zero(mask)) / 8;
}

// Run length of `byte` from in[start], counting at most up to in[limit].
inline size_t runEnd(const unsigned char *in, size_t start, size_t limit, unsigned char byte) noexcept {
    size_t end = start;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = byte == 0 ? 0 : ~uint64_t{0};
        for (; end + 8 <= limit; end += 8) {
            const uint64_t differs = load64(in + end) ^ pattern;
            if (differs != 0)
                return end + firstMarked(differs);
        }
    }
    while (end < limit && in[end] == byte)
        ++end;
    return end;
}

// Copies bytes that are neither 0x00 nor 0xFF from in[i] on; returns the new i
// and advances o.
inline size_t copyLiterals(const unsigned char *in, size_t i, size_t length, unsigned char *out, size_t &o) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes are stored at once and the output advanced only past the
        // literals among them; the output has room, as it holds two bytes
        // for every input byte.
        while (i + 8 <= length) {
            const uint64_t word = load64(in + i);
            std::memcpy(out + o, &word, sizeof word);
            const uint64_t runs = zeroBytes(word) | zeroBytes(~word);
            if (runs != 0) {
                const size_t literals = firstMarked(runs);
                o += literals;
                return i + literals;
            }
            o += 8;
            i += 8;
        }
    }
    while (i < length && in[i] != 0x00 && in[i] != 0xFF)
        out[o++] = in[i++];
    return i;
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
        if (byte != 0x00 && byte != 0xFF) {
            i = detail::copyLiterals(in, i, length, out, o);
            continue;
        }
        const size_t limit = length - i < 255 ? length : i + 255;
        const size_t end = detail::runEnd(in, i + 1, limit, byte);
        out[o++] = byte;
        out[o++] = static_cast<unsigned char>(end - i);
        i = end;
    }
    return o;
}

}  // namespace vren
