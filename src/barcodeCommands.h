// Pure builders of the barcode command headers: "B1" (one-dimensional), "B2"
// (two-dimensional and stacked symbologies, with a symbology letter) and "B3"
// (GS1 DataBar). Every header ends in a comma; the data follows as a quoted
// field. Out-of-range arguments are replaced by the field's default.
#pragma once

#include "fieldFormat.h"

namespace vren::barcode {

constexpr int flag(unsigned char value) noexcept { return value != 0 ? 1 : 0; }

// Field 7 accepts 0 only: it is always written as 0.
inline CommandText oneDimensional(int x, int y, int field3, int field4, int field5, int field6, int /*field7*/,
                                  int field8) noexcept {
    return formatFields("B1%d,%d,%d,%d,%d,%d,%d,%d,", x, y, inRangeOr(field3, 0, 16, 1), field4, field5, field6, 0,
                        inRangeOr(field8, 0, 8, 0));
}

inline CommandText maxiCode(int x, int y, int mode) noexcept {
    const bool known = mode == 0 || mode == 2 || mode == 3 || mode == 4;
    return formatFields("B2%d,%d,M,%d,", x, y, known ? mode : 0);
}

inline CommandText pdf417(int x, int y, int rows, int columns, int errorLevel, int field7, unsigned char field8,
                          int field9, int field10, int field11, int field12) noexcept {
    return formatFields("B2%d,%d,P,%d,%d,%d,%d,%d,%d,%d,%d,%d,", x, y, inRangeOr(rows, 3, 90, 30),
                        inRangeOr(columns, 1, 30, 5), inRangeOr(errorLevel, 0, 8, 0), inRangeOr(field7, 0, 2, 0),
                        flag(field8), field9 != 0 ? 1 : 0, inRangeOr(field10, 2, 9, 3), inRangeOr(field11, 4, 99, 10),
                        inRangeOr(field12, 0, 3, 0));
}

constexpr char qrLevelLetter(int level) noexcept {
    switch (level) {
    case 1: return 'M';
    case 2: return 'Q';
    case 3: return 'H';
    default: return 'L';
    }
}

inline CommandText qrCode(int x, int y, int model, int level, int field6, int field7) noexcept {
    return formatFields("B2%d,%d,Q,%d,%c,%d,%d,", x, y, inRangeOr(model, 1, 2, 1), qrLevelLetter(level),
                        inRangeOr(field6, 1, 4, 4), inRangeOr(field7, 0, 3, 0));
}

inline CommandText dataMatrix(int x, int y, int field4, unsigned char field5, int field6) noexcept {
    return formatFields("B2%d,%d,D,%d,%c,%d,", x, y, inRangeOr(field4, 1, 4, 2), field5 != 0 ? 'R' : 'N',
                        inRangeOr(field6, 0, 3, 0));
}

inline CommandText aztec(int x, int y, int field4, int field5, int field6, unsigned char field7, int field8,
                         int field9, int field10) noexcept {
    return formatFields("B2%d,%d,A,%d,%d,%d,%d,%d,%d,%d,", x, y, inRangeOr(field4, 1, 10, 2),
                        inRangeOr(field5, 0, 1, 0), inRangeOr(field6, 0, 300, 0), flag(field7),
                        inRangeOr(field8, 1, 26, 15), field9, inRangeOr(field10, 0, 3, 0));
}

inline CommandText code49(int x, int y, int field4, int field5, int field6, int field7, int field8,
                          int field9) noexcept {
    return formatFields("B2%d,%d,F,%d,%d,%d,%d,%d,%d,", x, y, field4, field5, field6, inRangeOr(field7, 0, 2, 0),
                        inRangeOr(field8, 0, 7, 0), inRangeOr(field9, 0, 3, 0));
}

constexpr char codablockModeLetter(int mode) noexcept {
    return mode == 0 ? 'A' : (mode == 2 ? 'F' : 'E');
}

// The mode decides the accepted range and default of field 10.
constexpr int codablockField10(int mode, int value) noexcept {
    return mode == 0 ? inRangeOr(value, 1, 18, 10) : inRangeOr(value, 2, 4, 3);
}

inline CommandText codablock(int x, int y, int field4, int field5, int field6, unsigned char field7, int field8,
                             int mode, int field10) noexcept {
    return formatFields("B2%d,%d,C,%d,%d,%d,%d,%d,%c,%d,0,", x, y, field4, field5, field6, flag(field7),
                        inRangeOr(field8, 2, 62, 30), codablockModeLetter(mode), codablockField10(mode, field10));
}

inline CommandText microPdf(int x, int y, int field4, int field5, int field6, int field7) noexcept {
    return formatFields("B2%d,%d,B,%d,%d,%d,%d,", x, y, inRangeOr(field4, 2, 8, 5), inRangeOr(field5, 1, 99, 50),
                        inRangeOr(field6, 0, 33, 0), inRangeOr(field7, 0, 3, 0));
}

// Segments per row: an even number from 0 to 22.
constexpr int gs1Segments(int segments) noexcept {
    return segments >= 0 && segments <= 22 && segments % 2 == 0 ? segments : 6;
}

inline CommandText gs1DataBar(int x, int y, int field4, int field5, int field6, int field7, int segmentsPerRow,
                              int field9) noexcept {
    return formatFields("B3%d,%d,R,%d,%d,%d,%d,%d,%d,", x, y, inRangeOr(field4, 0, 5, 5), inRangeOr(field5, 1, 10, 1),
                        inRangeOr(field6, 1, 2, 1), field7, gs1Segments(segmentsPerRow), inRangeOr(field9, 0, 3, 0));
}

}  // namespace vren::barcode
