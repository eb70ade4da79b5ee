// Text in the device fonts (T) and the vector fonts (V).
#include <algorithm>

#include "decode.h"
#include "draw.h"
#include "fonts.h"

namespace render {
namespace {

struct DeviceFont {
    int code;          // 0 to 9, or a letter
    Face face;
    Face boldFace;
    int em;            // em height in dots at multiplier 1
    const char *encoding;  // of the text bytes; empty: UTF-8
};

// Device fonts: numbered fonts and g, h, i, k, l carry text as sent
// (UTF-8); the lettered CJK fonts carry their code page.
constexpr DeviceFont kDeviceFonts[] = {
    {0, Face::Mono, Face::MonoBold, 12, ""},      {1, Face::Mono, Face::MonoBold, 16, ""},
    {2, Face::Mono, Face::MonoBold, 20, ""},      {3, Face::Mono, Face::MonoBold, 24, ""},
    {4, Face::Mono, Face::MonoBold, 32, ""},      {5, Face::Mono, Face::MonoBold, 40, ""},
    {6, Face::Mono, Face::MonoBold, 48, ""},      {7, Face::Mono, Face::MonoBold, 56, ""},
    {8, Face::Mono, Face::MonoBold, 64, ""},      {9, Face::Mono, Face::MonoBold, 80, ""},
    {'a', Face::Cjk, Face::CjkBold, 16, "CP949"}, {'b', Face::Cjk, Face::CjkBold, 20, "CP949"},
    {'c', Face::Cjk, Face::CjkBold, 24, "CP949"}, {'d', Face::Cjk, Face::CjkBold, 32, "CP949"},
    {'e', Face::Cjk, Face::CjkBold, 40, "CP949"}, {'f', Face::Cjk, Face::CjkBold, 48, "CP949"},
    {'g', Face::Mono, Face::MonoBold, 24, ""},    {'h', Face::Mono, Face::MonoBold, 32, ""},
    {'i', Face::Mono, Face::MonoBold, 48, ""},    {'j', Face::Cjk, Face::CjkBold, 24, "CP932"},
    {'k', Face::Mono, Face::MonoBold, 24, ""},    {'l', Face::Mono, Face::MonoBold, 32, ""},
    {'m', Face::Cjk, Face::CjkBold, 24, "GB18030"}, {'n', Face::Cjk, Face::CjkBold, 24, "CP950"},
};

struct VectorFont {
    char letter;
    Face face;
    Face boldFace;
    const char *encoding;
};

constexpr VectorFont kVectorFonts[] = {
    {'U', Face::Sans, Face::SansBold, ""},        {'a', Face::Serif, Face::SerifBold, ""},
    {'b', Face::Mono, Face::MonoBold, ""},        {'K', Face::Cjk, Face::CjkBold, "CP949"},
    {'B', Face::Cjk, Face::CjkBold, "CP950"},     {'G', Face::Cjk, Face::CjkBold, "GB18030"},
    {'J', Face::Cjk, Face::CjkBold, "CP932"},
};

// One line of text: decoded from its encoding, set in `style`, aligned by
// `alignment` (L, C, R) along its writing direction and turned.
void drawText(const Drawing &drawing, const std::string &bytes, const std::string &encoding, const TextStyle &style,
              int x, int y, int turns, char alignment, bool reverse) {
    bool replaced = false;
    const std::u32string text = decodeText(bytes, encoding, replaced);
    if (replaced)
        drawing.note("text is not valid " + (encoding.empty() ? std::string("UTF-8") : encoding) +
                     "; shown with replacement characters");
    TextImage image;
    std::string error;
    if (!drawing.fonts.line(text, style, image, error)) {
        drawing.note("not drawn: " + error);
        drawing.outline(x, y);
        return;
    }
    if (image.missingGlyphs)
        drawing.note("some characters have no glyph in the font");
    if (image.cut)
        drawing.note("text too long for one line; the rest is not drawn");
    const int width = image.canvas.width();
    const int shift = alignment == 'C' ? -width / 2 : alignment == 'R' ? -width : 0;
    if (reverse) {
        image.canvas.invert(0, 0, image.canvas.width(), image.canvas.height());
        drawing.place(image.canvas, x, y, turns, shift, Canvas::Mode::Copy);
        return;
    }
    drawing.place(image.canvas, x, y, turns, shift);
}

}  // namespace

void drawDeviceText(const Drawing &drawing, const cmdparse::DeviceText &t) {
    const DeviceFont *font = findEntry(
        kDeviceFonts, [&](const DeviceFont &f) { return f.code == t.font && t.fontIsLetter == (f.code >= 'a'); });
    if (!font) {
        drawing.note("unknown device font; outlined");
        drawing.outline(t.x, t.y);
        return;
    }
    const auto multiplier = [&](int value, const char *what) {
        if (value >= 1 && value <= 9)
            return value;
        drawing.note(std::string(what) + " " + std::to_string(value) + " drawn as 1");
        return 1;
    };
    const int xm = multiplier(t.xMultiplier, "x multiplier");
    const int ym = multiplier(t.yMultiplier, "y multiplier");
    const TextStyle style{t.bold == 'B' ? font->boldFace : font->face, font->em * xm, font->em * ym, 0, false};
    drawText(drawing, t.data, font->encoding, style, t.x, t.y, drawing.quarterTurns(t.rotation), 'L', false);
}

void drawVectorText(const Drawing &drawing, const cmdparse::VectorText &v) {
    const VectorFont *font = findEntry(kVectorFonts, [&](const VectorFont &f) { return f.letter == v.font; });
    if (!font) {
        drawing.note(std::string("unknown vector font ") + v.font + "; outlined");
        drawing.outline(v.x, v.y);
        return;
    }
    int width = v.width > 0 ? v.width : v.height;
    int height = v.height > 0 ? v.height : v.width;
    if (width <= 0) {
        width = height = 24;
        drawing.note("no character size; drawn at 24 dots");
    }
    if (width > 1000 || height > 1000) {
        drawing.note("character size clamped to 1000 dots");
        width = std::min(width, 1000);
        height = std::min(height, 1000);
    }
    const TextStyle style{v.bold == 'B' ? font->boldFace : font->face, width, height,
                          std::clamp(v.spacing, -1000, 1000), v.italic == 'I'};
    drawText(drawing, v.data, font->encoding, style, v.x, v.y, drawing.quarterTurns(v.rotation), v.alignment,
             v.reverse == 'R');
}

}  // namespace render
