// Text fields in the printer's device fonts ("T") and vector fonts ("V").
#include <cstring>

#include "VrenLabelAPI.h"
#include "basicFunc/convert.h"
#include "basicFunc/textCommands.h"
#include "compose.h"

namespace {

// Appends the header and the text, converted or not, as one command; the
// header never stays behind without its text.
int appendText(const char *tag, const char *data, const vren::CommandText &header, vren::text::Route route) noexcept {
    if (data == nullptr) {
        printDebugLog(tag, "data is null");
        return VREN_E_WRITE;
    }
    if (route.convert)
        return vren::appendConverted(header.view(), data, std::strlen(data), route.codePage);
    const int appended = vren::appendQuoted(tag, header.view(), data);
    return appended != VREN_OK ? appended : bufferCheck();
}

// One text command: "start", the command, "end" whatever the result.
int printText(const char *tag, const char *data, const vren::CommandText &header, vren::text::Route route) noexcept {
    printDebugLog(tag, "start");
    const int result = appendText(tag, data, header, route);
    printDebugLog(tag, "end");
    return result;
}

}  // namespace

using namespace vren::text;

extern "C" VREN_API int PrintDeviceFont(const char *data, int x, int y, int font, int xMultiplier, int yMultiplier,
                                        int rotation, unsigned char bold) {
    return printText("PrintDeviceFont", data,
                     deviceFontHeader(x, y, font, xMultiplier, yMultiplier, rotation, bold),
                     deviceFontRoute(deviceFont(font)));
}

extern "C" VREN_API int PrintDeviceFontW(const char *data, int x, int y, int font, int xMultiplier, int yMultiplier,
                                         int rotation, unsigned char bold, int codePage) {
    return printText("PrintDeviceFontW", data,
                     deviceFontHeader(x, y, font, xMultiplier, yMultiplier, rotation, bold),
                     deviceFontWRoute(deviceFont(font), codePage));
}

extern "C" VREN_API int PrintVectorFont(const char *data, int x, int y, int font, int width, int height, int spacing,
                                        unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                                        int alignment, int lastOption) {
    return printText("PrintVectorFont", data,
                     vectorFontHeader(x, y, font, width, height, spacing, bold, reverse, italic, rotation, alignment,
                                      lastOption),
                     vectorFontRoute(font));
}

extern "C" VREN_API int PrintVectorFontW(const char *data, int x, int y, int font, int width, int height,
                                         int spacing, unsigned char bold, unsigned char reverse, unsigned char italic,
                                         int rotation, int alignment, int lastOption, int codePage) {
    return printText("PrintVectorFontW", data,
                     vectorFontHeader(x, y, font, width, height, spacing, bold, reverse, italic, rotation, alignment,
                                      lastOption),
                     vectorFontWRoute(font, codePage));
}
