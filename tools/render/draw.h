// Drawing the composition commands, one family per file: text (draw_text.cpp),
// blocks, circles and bitmaps (draw_shapes.cpp), one-dimensional barcodes
// (draw_barcode1d.cpp) and two-dimensional and stacked ones
// (draw_barcode2d.cpp). Renderer::draw picks the family; what the families
// share is here.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "canvas.h"
#include "command.h"

namespace render {

class Fonts;

// One command being drawn: where it goes, and where its notes go.
struct Drawing {
    Fonts &fonts;
    Canvas &canvas;
    const cmdparse::Command &command;
    std::vector<cmdparse::Diagnostic> &notes;

    // A note about the command, after its name.
    void note(std::string message) const;
    // A frame at (x, y) with the command's name: it could not be drawn.
    void outline(int x, int y) const;
    // `rotation` as a quarter-turn count; out of 0 to 3: 0, with a note.
    int quarterTurns(int rotation) const;
    // Puts `image` turned by `turns` with its top-left corner at (x, y),
    // moved by `shift` dots along the direction the unturned image's width
    // runs in.
    void place(const Canvas &image, int x, int y, int turns, int shift = 0,
               Canvas::Mode mode = Canvas::Mode::Or) const;
};

void drawDeviceText(const Drawing &drawing, const cmdparse::DeviceText &text);
void drawVectorText(const Drawing &drawing, const cmdparse::VectorText &text);
void drawBlock(const Drawing &drawing, const cmdparse::Block &block);
void drawCircle(const Drawing &drawing, const cmdparse::Circle &circle);
void drawBitmap(const Drawing &drawing, const cmdparse::Bitmap &bitmap);
void drawBarcode1D(const Drawing &drawing, const cmdparse::Barcode1D &barcode);
void drawBarcode2D(const Drawing &drawing, const cmdparse::Barcode2D &barcode);

// Coordinates far off the label are clamped so that offsets stay in int range.
inline int clampCoordinate(int value) { return std::clamp(value, -100000, 100000); }

// Field `i` of a setting or symbol as a number, `otherwise` when it is
// missing or a letter.
inline int field(const std::vector<cmdparse::Field> &fields, size_t i, int otherwise = 0) {
    return i < fields.size() && !fields[i].letter ? fields[i].value : otherwise;
}

// Field `i` as a letter, '\0' when it is missing or a number.
inline char letterField(const std::vector<cmdparse::Field> &fields, size_t i) {
    return i < fields.size() && fields[i].letter ? static_cast<char>(fields[i].value) : '\0';
}

// The entry of a table that matches, or nullptr.
template <typename Entry, size_t N, typename Match>
const Entry *findEntry(const Entry (&table)[N], Match match) {
    for (const Entry &entry : table)
        if (match(entry))
            return &entry;
    return nullptr;
}

}  // namespace render
