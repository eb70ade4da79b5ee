// Internal interface for composing label commands: the area command text is
// formatted into (see fieldFormat.h) and the one path by which commands enter
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
