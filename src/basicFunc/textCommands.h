// Pure builders of the text commands: the headers of the device-font ("T")
// and vector-font ("V") commands, and the choice of the code page the text is
// converted to.
#pragma once

#include "fieldFormat.h"

namespace vren::text {

// Device fonts 0 to 9 are written as numbers, 97 to 110 as the letters a to n.
constexpr int deviceFont(int font) noexcept {
    return (font >= 0 && font <= 9) || (font >= 'a' && font <= 'n') ? font : 3;
}

inline CommandText deviceFontHeader(int x, int y, int font, int xMultiplier, int yMultiplier, int rotation,
                                    unsigned char bold) noexcept {
    font = deviceFont(font);
    xMultiplier = inRangeOr(xMultiplier, 1, 9, 1);
    yMultiplier = inRangeOr(yMultiplier, 1, 9, 1);
    rotation = inRangeOr(rotation, 0, 3, 0);
    const char boldLetter = bold != 0 ? 'B' : 'N';
    if (font <= 9)
        return formatFields("T%d,%d,%d,%d,%d,0,%d,N,%c,", x, y, font, xMultiplier, yMultiplier, rotation, boldLetter);
    return formatFields("T%d,%d,%c,%d,%d,0,%d,N,%c,", x, y, static_cast<char>(font), xMultiplier, yMultiplier,
                        rotation, boldLetter);
}

constexpr char vectorFontLetter(int font) noexcept {
    switch (font) {
    case 1: return 'K';
    case 2: return 'B';
    case 3: return 'G';
    case 4: return 'J';
    case 5: return 'a';
    case 6: return 'b';
    default: return 'U';
    }
}

constexpr char alignmentLetter(int alignment) noexcept {
    return alignment == 1 ? 'C' : (alignment == 2 ? 'R' : 'L');
}

inline CommandText vectorFontHeader(int x, int y, int font, int width, int height, int spacing, unsigned char bold,
                                    unsigned char reverse, unsigned char italic, int rotation, int alignment,
                                    int lastOption) noexcept {
    return formatFields("V%d,%d,%c,%d,%d,%d,%c,%c,%c,%d,%c,%d,", x, y, vectorFontLetter(font), width, height, spacing,
                        bold != 0 ? 'B' : 'N', reverse != 0 ? 'R' : 'N', italic != 0 ? 'I' : 'N',
                        inRangeOr(rotation, 0, 3, 0), alignmentLetter(alignment), inRangeOr(lastOption, 0, 1, 0));
}

// How the text of each font goes out (Route, in compose.h): unchanged, or
// converted to a code page.

// The code page of each Korean, Japanese and Chinese device font; `font` is
// normalised.
constexpr Route deviceFontRoute(int font) noexcept {
    if (font >= 'a' && font <= 'f')
        return convertTo(0);  // EUC-KR
    switch (font) {
    case 'j': return convertTo(7);  // CP932
    case 'm': return convertTo(3);  // GB18030
    case 'n': return convertTo(4);  // BIG5
    default: return kUnchanged;
    }
}

// The W variant converts with the caller's code page except for the plain
// fonts 1 to 8; `font` is normalised.
constexpr Route deviceFontWRoute(int font, int codePage) noexcept {
    return font >= 1 && font <= 8 ? kUnchanged : convertTo(codePage);
}

// The vector fonts are routed by the font argument itself, not its letter.
constexpr Route vectorFontRoute(int font) noexcept {
    switch (font) {
    case 1: return convertTo(0);  // K: EUC-KR
    case 2: return convertTo(4);  // B: BIG5
    case 3: return convertTo(3);  // G: GB18030
    case 4: return convertTo(7);  // J: CP932
    default: return kUnchanged;
    }
}

constexpr Route vectorFontWRoute(int font, int codePage) noexcept {
    return font == 0 ? kUnchanged : convertTo(codePage);
}

}  // namespace vren::text
