// Pure builders of the setting commands. The normalising helpers give the
// value that is both written and recorded in the settings cache.
#pragma once

#include "fieldFormat.h"

namespace vren::settings {

constexpr int speed(int value) noexcept { return clampTo(value, 0, 12); }
constexpr int density(int value) noexcept { return clampTo(value, 0, 20); }
constexpr int orientation(int value) noexcept { return value == 'B' ? 'B' : 'T'; }
constexpr int offset(int value) noexcept { return clampTo(value, -100, 100); }

inline CommandText speedCommand(int clamped) noexcept { return formatFields("SS%d\r", clamped); }
inline CommandText densityCommand(int clamped) noexcept { return formatFields("SD%d\r", clamped); }
inline CommandText orientationCommand(int letter) noexcept {
    return formatFields("SO%c\r", static_cast<char>(letter));
}

inline CommandText cutterCommand(unsigned char autoCut, int cutPeriod) noexcept {
    if (autoCut == 0)
        return formatFields("CUTn\r\n");
    if (cutPeriod == 0)
        return formatFields("CUTy\r\n");
    return formatFields("CUTy,%d\r\n", cutPeriod);
}

inline CommandText rewinderCommand(unsigned char rewind) noexcept {
    return rewind != 0 ? formatFields("RWDy\r\n") : formatFields("RWDn\r\n");
}

inline CommandText offsetCommand(int clamped) noexcept { return formatFields("SA%d\r", clamped); }
inline CommandText cutPositionCommand(int clamped) noexcept { return formatFields("TA%d\r", clamped); }

inline CommandText printingTypeCommand(int printingType) noexcept {
    return formatFields("ST%c\r", printingType == 1 ? 't' : 'd');
}

inline CommandText backFeedCommand(unsigned char backFeeding) noexcept {
    return formatFields("SF%d\r", backFeeding != 0 ? 1 : 0);
}

constexpr char mediaLetter(int mediaType) noexcept {
    return mediaType == 1 ? 'C' : (mediaType == 2 ? 'B' : 'G');
}

// Two commands in one: label length, gap and media, then the paper width.
inline CommandText paperCommand(int paperWidth, int paperHeight, int mediaType, int offset, int gapLength) noexcept {
    return formatFields("SL%d,%d,%c,%d\rSW%d\r", paperHeight, gapLength, mediaLetter(mediaType), offset, paperWidth);
}

inline CommandText marginCommand(int horizontalMargin, int verticalMargin) noexcept {
    return formatFields("SM%d,%d\r", horizontalMargin, verticalMargin);
}

inline CommandText characterSetCommand(int characterSet, int codeTable) noexcept {
    return formatFields("CS%d,%d\r", inRangeOr(characterSet, 0, 15, 0), inRangeOr(codeTable, 0, 255, 0));
}

}  // namespace vren::settings
