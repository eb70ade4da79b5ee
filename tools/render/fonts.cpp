#include "fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <vector>

namespace render {

const char *facePath(Face face) {
    switch (face) {
    case Face::Sans: return "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    case Face::SansBold: return "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
    case Face::Mono: return "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
    case Face::MonoBold: return "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf";
    case Face::Serif: return "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
    case Face::SerifBold: return "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
    case Face::Cjk:
    case Face::CjkBold: return "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
    }
    return "";
}

struct Fonts::State {
    FT_Library library = nullptr;
    std::array<FT_Face, 8> faces{};
    std::array<bool, 8> tried{};

    ~State() {
        for (FT_Face face : faces)
            if (face)
                FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }

    FT_Face face(Face which, std::string &error) {
        const auto i = static_cast<size_t>(which);
        if (!tried[i]) {
            tried[i] = true;
            if (library && FT_New_Face(library, facePath(which), 0, &faces[i]) != 0)
                faces[i] = nullptr;
        }
        if (!faces[i])
            error = std::string("cannot load font ") + facePath(which);
        return faces[i];
    }
};

namespace {

constexpr int kMaxLineWidth = 1 << 15;       // dots
constexpr size_t kGlyphBudget = size_t{1} << 26;  // dots of glyph images held for one line

struct Placed {
    Canvas glyph;
    int left = 0;  // from the pen origin of the line
    int top = 0;   // dots above the baseline
};

// Bold for the CJK face, which has no bold file: the glyph drawn twice, one
// dot apart.
Canvas embolden(const Canvas &glyph) {
    Canvas out(glyph.width() + 1, glyph.height());
    out.draw(glyph, 0, 0);
    out.draw(glyph, 1, 0);
    return out;
}

}  // namespace

Fonts::Fonts() : state_(std::make_unique<State>()) {
    if (FT_Init_FreeType(&state_->library) != 0)
        state_->library = nullptr;
}

Fonts::~Fonts() = default;

bool Fonts::line(const std::u32string &text, const TextStyle &style, TextImage &out, std::string &error) {
    out = TextImage{};
    FT_Face primary = state_->face(style.face, error);
    if (!primary)
        return false;
    const bool cjkBold = style.face == Face::CjkBold;
    std::string fallbackError;
    FT_Face fallback = state_->face(Face::Cjk, fallbackError);
    const int emWidth = std::clamp(style.emWidth, 1, 2000);
    const int emHeight = std::clamp(style.emHeight, 1, 2000);
    FT_Matrix shear{0x10000, style.italic ? 0x3333 : 0, 0, 0x10000};
    for (FT_Face face : {primary, fallback}) {
        if (!face)
            continue;
        FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(emWidth), static_cast<FT_UInt>(emHeight));
        FT_Set_Transform(face, &shear, nullptr);
    }
    const int ascender = static_cast<int>((primary->size->metrics.ascender + 63) >> 6);
    const int descender = static_cast<int>((-primary->size->metrics.descender + 63) >> 6);
    std::vector<Placed> placed;
    int pen = 0;
    int right = 0;
    size_t held = 0;  // dots of the glyph images in `placed`
    for (size_t i = 0; i < text.size(); ++i) {
        // Glyphs are held until the line's size is known: a line that has
        // left the widest line drawn, or whose glyphs would hold more than
        // the budget, is cut here rather than holding memory without bound.
        if (pen > kMaxLineWidth || pen < -kMaxLineWidth || held > kGlyphBudget) {
            out.cut = true;
            break;
        }
        FT_Face face = primary;
        FT_UInt index = FT_Get_Char_Index(primary, text[i]);
        if (index == 0 && fallback) {
            const FT_UInt other = FT_Get_Char_Index(fallback, text[i]);
            if (other != 0) {
                face = fallback;
                index = other;
            }
        }
        if (index == 0 && text[i] != U' ')
            out.missingGlyphs = true;
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) {
            out.missingGlyphs = true;  // not drawn: said in the line's note
            continue;
        }
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap &bitmap = slot->bitmap;
        Placed glyph{Canvas(static_cast<int>(bitmap.width), static_cast<int>(bitmap.rows)), pen + slot->bitmap_left,
                     slot->bitmap_top};
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const unsigned char *bits = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
            for (unsigned column = 0; column < bitmap.width; ++column) {
                const bool dot = bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? (bits[column >> 3] & (0x80 >> (column & 7)))
                                                                         : bits[column] >= 128;
                if (dot)
                    glyph.glyph.set(static_cast<int>(column), static_cast<int>(row));
            }
        }
        if (cjkBold || (face == fallback && (style.face == Face::MonoBold || style.face == Face::SansBold ||
                                             style.face == Face::SerifBold)))
            glyph.glyph = embolden(glyph.glyph);
        held += glyph.glyph.dots().size();
        right = std::max(right, glyph.left + glyph.glyph.width());
        pen += static_cast<int>((slot->advance.x + 32) >> 6);
        if (i + 1 < text.size())
            pen += style.spacing;
        placed.push_back(std::move(glyph));
    }
    for (FT_Face face : {primary, fallback})
        if (face)
            FT_Set_Transform(face, nullptr, nullptr);
    const int width = std::clamp(std::max(pen, right), 1, kMaxLineWidth);
    out.canvas = Canvas(width, std::max(1, ascender + descender));
    out.baseline = ascender;
    for (const Placed &glyph : placed)
        out.canvas.draw(glyph.glyph, glyph.left, ascender - glyph.top);
    return true;
}

}  // namespace render
