// Media and print settings: each is written to the printer at once, and the
// value is recorded in the settings cache only when the whole command went out.
#include "VrenLabelAPI.h"
#include "basicFunc/immediate.h"
#include "basicFunc/settingCommands.h"

extern "C" {
VREN_API int gSpeed;
VREN_API int gDensity;
VREN_API int gOrientation;
VREN_API unsigned char gAutoCut;
VREN_API int gCutPeriod;
VREN_API unsigned char gRewind;
VREN_API int gOffset;
VREN_API int gCutPosition;
VREN_API int gPrintingType;
VREN_API int gBackFeeding;
VREN_API int gPaperWidth;
VREN_API int gPaperHeight;
VREN_API int gMediaType;
VREN_API int gGapLength;
VREN_API int gHorizontalMargin;
VREN_API int gVerticalMargin;
}

namespace {

// Writes the command; on success runs `record` and logs "end".
template <typename Record>
int applySetting(const char *tag, const vren::CommandText &command, Record record) noexcept {
    const int written = vren::writeImmediate(tag, command.view());
    if (written != VREN_OK)
        return written;
    record();
    printDebugLog(tag, "end");
    return VREN_OK;
}

}  // namespace

using namespace vren::settings;

extern "C" VREN_API int SetSpeed(int speed) {
    constexpr const char *tag = "SetSpeed";
    printDebugLog(tag, "start");
    const int value = vren::settings::speed(speed);
    const vren::CommandText command = speedCommand(value);
    printDebugLog(tag, "SPEED : %s, %d", command.bytes, static_cast<int>(command.size));
    return applySetting(tag, command, [&] { gSpeed = value; });
}

extern "C" VREN_API int SetDensity(int density) {
    constexpr const char *tag = "SetDensity";
    printDebugLog(tag, "start");
    const int value = vren::settings::density(density);
    const vren::CommandText command = densityCommand(value);
    printDebugLog(tag, "DENSITY : %s, %d", command.bytes, static_cast<int>(command.size));
    return applySetting(tag, command, [&] { gDensity = value; });
}

extern "C" VREN_API int SetOrientation(int orientation) {
    constexpr const char *tag = "SetOrientation";
    printDebugLog(tag, "start");
    const int value = vren::settings::orientation(orientation);
    return applySetting(tag, orientationCommand(value), [&] { gOrientation = value; });
}

extern "C" VREN_API int SetCutter(unsigned char autoCut, int cutPeriod) {
    constexpr const char *tag = "SetCutter";
    printDebugLog(tag, "start");
    return applySetting(tag, cutterCommand(autoCut, cutPeriod), [&] {
        gAutoCut = autoCut;
        gCutPeriod = cutPeriod;
    });
}

extern "C" VREN_API int SetRewinder(unsigned char rewind) {
    constexpr const char *tag = "SetRewinder";
    printDebugLog(tag, "start");
    return applySetting(tag, rewinderCommand(rewind), [&] { gRewind = rewind; });
}

extern "C" VREN_API int SetOffset(int offset) {
    constexpr const char *tag = "SetOffset";
    printDebugLog(tag, "start");
    const int value = vren::settings::offset(offset);
    return applySetting(tag, offsetCommand(value), [&] { gOffset = value; });
}

extern "C" VREN_API int SetCutPostion(int cutPosition) {
    constexpr const char *tag = "SetCutPostion";
    printDebugLog(tag, "start");
    const int value = vren::settings::offset(cutPosition);
    return applySetting(tag, cutPositionCommand(value), [&] { gCutPosition = value; });
}

extern "C" VREN_API int SetPrintingType(int printingType) {
    constexpr const char *tag = "SetPrintingType";
    printDebugLog(tag, "start");
    return applySetting(tag, printingTypeCommand(printingType), [&] { gPrintingType = printingType; });
}

extern "C" VREN_API int SetBackFeed(unsigned char backFeeding) {
    constexpr const char *tag = "SetBackFeed";
    printDebugLog(tag, "start");
    return applySetting(tag, backFeedCommand(backFeeding), [&] { gBackFeeding = backFeeding; });
}

extern "C" VREN_API int SetPaper(int paperWidth, int paperHeight, int mediaType, int offset, int gapLength) {
    constexpr const char *tag = "SetPaper";
    printDebugLog(tag, "start");
    return applySetting(tag, paperCommand(paperWidth, paperHeight, mediaType, offset, gapLength), [&] {
        gPaperWidth = paperWidth;
        gPaperHeight = paperHeight;
        gMediaType = mediaType;
        gOffset = offset;
        gGapLength = gapLength;
    });
}

extern "C" VREN_API int SetMargin(int horizontalMargin, int verticalMargin) {
    constexpr const char *tag = "SetMargin";
    printDebugLog(tag, "start");
    return applySetting(tag, marginCommand(horizontalMargin, verticalMargin), [&] {
        gHorizontalMargin = horizontalMargin;
        gVerticalMargin = verticalMargin;
    });
}

extern "C" VREN_API int SetCharacterSet(int characterSet, int codeTable) {
    constexpr const char *tag = "SetCharacterSet";
    printDebugLog(tag, "start");
    return applySetting(tag, characterSetCommand(characterSet, codeTable), [] {});
}
