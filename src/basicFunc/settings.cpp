// Media and print settings: each is written to the printer at once, and the
// value is recorded in the settings cache only when the whole command went out.
#include "VrenLabelAPI.h"
#include "basicFunc/immediate.h"
#include "basicFunc/settingCommands.h"
#include "callLog.h"

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

// Writes the command; on success runs `record`, else leaves out "end".
template <typename Record>
int applySetting(vren::CallLog &log, const char *tag, const vren::CommandText &command, Record record) noexcept {
    const int written = vren::writeImmediate(tag, command.view());
    if (written != VREN_OK)
        return log.fails(written);
    record();
    return VREN_OK;
}

}  // namespace

using namespace vren::settings;

extern "C" VREN_API int SetSpeed(int speed) {
    constexpr const char *tag = "SetSpeed";
    vren::CallLog log(tag);
    const int value = vren::settings::speed(speed);
    const vren::CommandText command = speedCommand(value);
    printDebugLog(tag, "SPEED : %s, %d", command.bytes, static_cast<int>(command.size));
    return applySetting(log, tag, command, [&] { gSpeed = value; });
}

extern "C" VREN_API int SetDensity(int density) {
    constexpr const char *tag = "SetDensity";
    vren::CallLog log(tag);
    const int value = vren::settings::density(density);
    const vren::CommandText command = densityCommand(value);
    printDebugLog(tag, "DENSITY : %s, %d", command.bytes, static_cast<int>(command.size));
    return applySetting(log, tag, command, [&] { gDensity = value; });
}

extern "C" VREN_API int SetOrientation(int orientation) {
    constexpr const char *tag = "SetOrientation";
    vren::CallLog log(tag);
    const int value = vren::settings::orientation(orientation);
    return applySetting(log, tag, orientationCommand(value), [&] { gOrientation = value; });
}

extern "C" VREN_API int SetCutter(unsigned char autoCut, int cutPeriod) {
    constexpr const char *tag = "SetCutter";
    vren::CallLog log(tag);
    return applySetting(log, tag, cutterCommand(autoCut, cutPeriod), [&] {
        gAutoCut = autoCut;
        gCutPeriod = cutPeriod;
    });
}

extern "C" VREN_API int SetRewinder(unsigned char rewind) {
    constexpr const char *tag = "SetRewinder";
    vren::CallLog log(tag);
    return applySetting(log, tag, rewinderCommand(rewind), [&] { gRewind = rewind; });
}

extern "C" VREN_API int SetOffset(int offset) {
    constexpr const char *tag = "SetOffset";
    vren::CallLog log(tag);
    const int value = vren::settings::offset(offset);
    return applySetting(log, tag, offsetCommand(value), [&] { gOffset = value; });
}

extern "C" VREN_API int SetCutPostion(int cutPosition) {
    constexpr const char *tag = "SetCutPostion";
    vren::CallLog log(tag);
    const int value = vren::settings::offset(cutPosition);
    return applySetting(log, tag, cutPositionCommand(value), [&] { gCutPosition = value; });
}

extern "C" VREN_API int SetPrintingType(int printingType) {
    constexpr const char *tag = "SetPrintingType";
    vren::CallLog log(tag);
    return applySetting(log, tag, printingTypeCommand(printingType), [&] { gPrintingType = printingType; });
}

extern "C" VREN_API int SetBackFeed(unsigned char backFeeding) {
    constexpr const char *tag = "SetBackFeed";
    vren::CallLog log(tag);
    return applySetting(log, tag, backFeedCommand(backFeeding), [&] { gBackFeeding = backFeeding; });
}

extern "C" VREN_API int SetPaper(int paperWidth, int paperHeight, int mediaType, int offset, int gapLength) {
    constexpr const char *tag = "SetPaper";
    vren::CallLog log(tag);
    return applySetting(log, tag, paperCommand(paperWidth, paperHeight, mediaType, offset, gapLength), [&] {
        gPaperWidth = paperWidth;
        gPaperHeight = paperHeight;
        gMediaType = mediaType;
        gOffset = offset;
        gGapLength = gapLength;
    });
}

extern "C" VREN_API int SetMargin(int horizontalMargin, int verticalMargin) {
    constexpr const char *tag = "SetMargin";
    vren::CallLog log(tag);
    return applySetting(log, tag, marginCommand(horizontalMargin, verticalMargin), [&] {
        gHorizontalMargin = horizontalMargin;
        gVerticalMargin = verticalMargin;
    });
}

extern "C" VREN_API int SetCharacterSet(int characterSet, int codeTable) {
    constexpr const char *tag = "SetCharacterSet";
    vren::CallLog log(tag);
    return applySetting(log, tag, characterSetCommand(characterSet, codeTable), [] {});
}
