// Text rasterised with FreeType, one bit per dot (FreeType's monochrome
// renderer, so the result does not depend on a grey threshold).
#pragma once

#include <memory>
#include <string>

#include "canvas.h"

namespace render {

// The font files used, at their Debian paths (fonts-dejavu-core, fonts-wqy-microhei).
enum class Face { Sans, SansBold, Mono, MonoBold, Serif, SerifBold, Cjk, CjkBold };
const char *facePath(Face face);

struct TextStyle {
    Face face = Face::Mono;
    int emWidth = 24;   // horizontal size of the em square, in dots
    int emHeight = 24;  // vertical size of the em square, in dots
    int spacing = 0;    // extra dots after each character
    bool italic = false;
};

// A line of text: the canvas is ascender + descender high, the baseline at
// `baseline` dots from its top.
struct TextImage {
    Canvas canvas;
    int baseline = 0;
    bool missingGlyphs = false;  // some character has no glyph in any face, or its glyph did not load
    bool cut = false;            // the line was too long: the characters after some point are not drawn
};

class Fonts {
public:
    Fonts();
    ~Fonts();
    Fonts(const Fonts &) = delete;
    Fonts &operator=(const Fonts &) = delete;

    // Characters missing from the style's face are taken from the CJK face.
    // False with `error` set when a font file cannot be loaded.
    bool line(const std::u32string &text, const TextStyle &style, TextImage &out, std::string &error);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace render
