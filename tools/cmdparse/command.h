// Typed commands of the printer's command language, as the parser produces them.
//
// Numeric fields keep the value that was written; letter fields keep their
// character. Meaning and ranges are the renderer's business: the parser only
// checks the syntax (field count, numbers within int range, quoting, bitmap
// framing).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cmdparse {

// One header field: a decimal number or a single letter.
struct Field {
    bool letter = false;
    int value = 0;  // the number, or the letter's character code

    bool operator==(const Field &) const = default;
};

// "^PI0" CR LF: asks for the model name.
struct ModelQuery {};
// "^cu" CR: asks for the one-byte status.
struct StatusQuery {};
// "P<labels>,<copies>" CR: prints the composed label.
struct Print {
    int labels = 0;
    int copies = 0;
};
// "CB" CR: discards the composed label.
struct Clear {};

// "T": text in a device font.
struct DeviceText {
    int x = 0, y = 0;
    int font = 0;             // 0 to 9 when written as a number, else the letter's code
    bool fontIsLetter = false;
    int xMultiplier = 1, yMultiplier = 1;
    int reserved = 0;         // always 0 from the library
    int rotation = 0;
    char fixed = 'N';         // always N from the library
    char bold = 'N';          // B or N
    std::string data;
};

// "V": text in a vector font.
struct VectorText {
    int x = 0, y = 0;
    char font = 'U';
    int width = 0, height = 0, spacing = 0;
    char bold = 'N', reverse = 'N', italic = 'N';
    int rotation = 0;
    char alignment = 'L';
    int lastOption = 0;
    std::string data;
};

// "BD": block between two corners; thickness only with options S and B.
struct Block {
    int startX = 0, startY = 0, endX = 0, endY = 0;
    char option = 'O';
    std::optional<int> thickness;
};

// "CD": circle.
struct Circle {
    int x = 0, y = 0, size = 0, multiplier = 0;
};

// "B1": one-dimensional barcode.
struct Barcode1D {
    int x = 0, y = 0;
    int type = 0;
    int narrow = 0, wide = 0, height = 0, rotation = 0, readable = 0;
    std::string data;
};

// "B2" (letters M, P, Q, D, A, F, C, B) and "B3" (letter R): two-dimensional
// and stacked barcodes. `fields` are the header fields after the letter.
struct Barcode2D {
    int command = 2;  // 2 for B2, 3 for B3
    int x = 0, y = 0;
    char symbology = 'Q';
    std::vector<Field> fields;
    std::string data;
};

// Setting commands, sent at once by the library.
enum class SettingCode { Speed, Density, Orientation, Cutter, Rewinder, Offset, CutPosition,
                         PrintingType, BackFeed, PaperLength, PaperWidth, Margin, CharacterSet };
struct Setting {
    SettingCode code = SettingCode::Speed;
    std::vector<Field> fields;
};

// Control commands: "@", "~JC", "~JR", "~PH".
enum class ControlCode { Initialize, Calibrate, Reset, FeedLabel };
struct Control {
    ControlCode code = ControlCode::Initialize;
};

// "LD" (raw) and "LCR" (run-length compressed) bitmaps, decoded to the raster:
// `rows` rows of `bytesPerRow` bytes, top row first, most significant bit
// leftmost, 1 a printed dot.
struct Bitmap {
    bool compressed = false;
    int x = 0, y = 0;  // the 16-bit fields as unsigned values
    unsigned bytesPerRow = 0;
    unsigned rows = 0;
    size_t streamBytes = 0;  // bytes of data as sent (the run-length stream for LCR)
    std::vector<uint8_t> raster;
};

using Body = std::variant<ModelQuery, StatusQuery, Print, Clear, DeviceText, VectorText, Block, Circle,
                          Barcode1D, Barcode2D, Setting, Control, Bitmap>;

struct Command {
    uint64_t offset = 0;  // of the command's first byte in the stream
    uint64_t length = 0;  // bytes the command took, terminator included
    Body body;
};

struct Diagnostic {
    uint64_t offset = 0;  // of the byte where the problem was found
    std::string message;
};

using Event = std::variant<Command, Diagnostic>;

// The command's code as written ("T", "B2", "SS", "CUT", "LCR", ...).
std::string commandName(const Body &body);
// True for the commands that draw on the label.
bool isComposition(const Body &body);

}  // namespace cmdparse
