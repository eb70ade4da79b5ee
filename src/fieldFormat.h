// Fast bounded formatting of command text from a format string that holds
// only "%d" (an int in signed decimal) and "%c" (one letter) fields.
//
// The format string is checked against the argument types at compile time,
// and formatting never writes past the CommandText area. It is header-only, so
// the pure command builders built on it can be measured and tested without the
// library's append path.
#pragma once

#include <charconv>
#include <cstddef>
#include <type_traits>

#include "compose.h"

namespace vren {

namespace fieldformat {

template <typename T>
consteval char fieldKindOf() {
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, char>,
                  "command fields are int (%d) or char (%c)");
    return std::is_same_v<T, int> ? 'd' : 'c';
}

// Throwing in a consteval function makes a mismatched format a compile error.
template <typename... Args>
consteval void check(const char *format) {
    constexpr char kinds[] = {fieldKindOf<Args>()..., '\0'};
    size_t next = 0;
    for (size_t i = 0; format[i] != '\0'; ++i) {
        if (format[i] != '%')
            continue;
        ++i;
        if (next >= sizeof...(Args) || format[i] != kinds[next])
            throw "format fields do not match the argument types";
        ++next;
    }
    if (next != sizeof...(Args))
        throw "format has fewer fields than arguments";
}

struct Field {
    int number;
    char letter;
};

inline Field toField(int number) noexcept { return {number, '\0'}; }
inline Field toField(char letter) noexcept { return {0, letter}; }

inline CommandText format(const char *format, const Field *fields) noexcept {
    CommandText text;
    char *out = text.bytes;
    char *const end = text.bytes + CommandText::kCapacity - 1;  // room for the NUL
    for (const char *p = format; *p != '\0' && out < end; ++p) {
        if (*p != '%') {
            *out++ = *p;
            continue;
        }
        const Field &field = *fields++;
        if (*++p == 'c') {
            *out++ = field.letter;
            continue;
        }
        const std::to_chars_result written = std::to_chars(out, end, field.number);
        if (written.ec != std::errc())
            break;  // out of room: the text ends before the number
        out = written.ptr;
    }
    *out = '\0';
    text.size = static_cast<size_t>(out - text.bytes);
    return text;
}

}  // namespace fieldformat

// A format string whose fields match Args; only a literal that passes the
// compile-time check converts to it.
template <typename... Args>
class FieldFormat {
public:
    template <size_t N>
    consteval FieldFormat(const char (&format)[N]) : text_(format) {  // NOLINT: implicit by design
        fieldformat::check<Args...>(format);
    }
    const char *text() const noexcept { return text_; }

private:
    const char *text_;
};

// A field accepted from low to high: the value itself, else the fallback.
constexpr int inRangeOr(int value, int low, int high, int fallback) noexcept {
    return value >= low && value <= high ? value : fallback;
}

// A field clamped to low..high.
constexpr int clampTo(int value, int low, int high) noexcept {
    return value < low ? low : (value > high ? high : value);
}

// Formats a command into a CommandText (NUL-terminated, size without it), as
// snprintf would with the same format and arguments, but faster and bounded.
template <typename... Args>
CommandText formatFields(FieldFormat<std::type_identity_t<Args>...> format, Args... args) noexcept {
    if constexpr (sizeof...(Args) == 0) {
        return fieldformat::format(format.text(), nullptr);
    } else {
        const fieldformat::Field fields[] = {fieldformat::toField(args)...};
        return fieldformat::format(format.text(), fields);
    }
}

}  // namespace vren
