// Internal interface for composing label commands: the area command text is
// formatted into (see fieldFormat.h), the composition front-end that every
// composition function goes through, and the one path by which commands enter
// the command buffer.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace vren {

// Command text formatted into an area that holds any command of the language
// whatever its int arguments: 20 numeric fields of 11 characters each and the
// letters between them stay well below the capacity.
struct CommandText {
    static constexpr size_t kCapacity = 320;
    char bytes[kCapacity];
    size_t size;

    std::string_view view() const noexcept { return {bytes, size}; }
};

// How the data of a command enters its quoted field: as it is, or converted
// from UTF-8 to code page `codePage` first (the table of convertData()).
struct Route {
    bool convert;
    int codePage;

    friend constexpr bool operator==(Route, Route) = default;
};

inline constexpr Route kUnchanged{false, 0};
constexpr Route convertTo(int codePage) noexcept { return {true, codePage}; }

// The data that follows a command's header as a quoted field.
struct Data {
    const char *text;  // NUL-terminated; null is refused ("data is null")
    Route route = kUnchanged;
    // Bytes of text to convert (npos: up to its NUL). Text that is not
    // converted goes out up to its NUL.
    size_t length = std::string_view::npos;
    // "barcode data : <text>, <length>" is logged before it is appended.
    bool logged = false;
};

// The composition front-end. One call is a whole composition function:
// "start" under `tag`; the command (a whole command, or a header and its
// data); the buffer check; "end" whatever the result. Returns 0 or the code
// of the step that failed: VREN_E_WRITE (null data, data that would end its
// field early, an incomplete send), VREN_E_NOMEM, or the conversion's code.
int compose(const char *tag, std::string_view command) noexcept;
int compose(const char *tag, std::string_view header, const Data &data) noexcept;
// The steps between "start" and "end" of a command that carries data: the
// null check, the header and the data, converted when the route says so
// (logged under "convertData"), then the buffer check.
int composeData(const char *tag, std::string_view header, const Data &data) noexcept;

// Appends one command, given as consecutive pieces, to gPrintData.
// The last bytes of the buffer are kept free for a print command (see
// appendPrintCommand()). When the command does not fit into the rest, the
// pending buffer is sent first; a command longer than that whole space is
// then sent straight to the printer, so order is kept and nothing is cut. Returns 0, or VREN_E_WRITE with
// "Failed to write" logged under `tag` when a send was incomplete (the command
// is then not appended; see sendBuffer() for what the buffer keeps).
int appendCommand(const char *tag, std::initializer_list<std::string_view> pieces) noexcept;

// Appends the print command of Prints, which may use the whole buffer. Only
// when the buffer holds print commands of earlier failed Prints calls may it
// lack the room: it is then sent first, and the command goes in behind what
// the printer did not take when there is room. Returns 0, or VREN_E_WRITE
// from that send.
int appendPrintCommand(const char *tag, std::string_view command) noexcept;

// Appends header, then data as a quoted field: ' data ' CR. The field ends at
// the first quote followed by a carriage return, so data holding that pair
// would end it early and have the printer run the rest as commands: such data
// is refused with VREN_E_WRITE, the pair's offset logged under `tag`, and
// nothing is appended. Every other byte goes out as it is.
int appendQuoted(const char *tag, std::string_view header, std::string_view data) noexcept;

// Sends the whole command buffer with one writeData() call and clears it when
// it went out completely. Returns 0, or VREN_E_WRITE ("Failed to write" under
// `tag`) with the buffer holding only the bytes that did not reach the
// printer, from the first one it did not take.
int sendBuffer(const char *tag) noexcept;

}  // namespace vren
