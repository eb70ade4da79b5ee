// Text fields in the printer's device fonts ("T") and vector fonts ("V").
#include "VrenLabelAPI.h"
#include "basicFunc/textCommands.h"
#include "compose.h"

using namespace vren::text;

extern "C" VREN_API int PrintDeviceFont(const char *data, int x, int y, int font, int xMultiplier, int yMultiplier,
                                        int rotation, unsigned char bold) {
    return vren::compose("PrintDeviceFont",
                         deviceFontHeader(x, y, font, xMultiplier, yMultiplier, rotation, bold).view(),
                         {data, deviceFontRoute(deviceFont(font))});
}

extern "C" VREN_API int PrintDeviceFontW(const char *data, int x, int y, int font, int xMultiplier, int yMultiplier,
                                         int rotation, unsigned char bold, int codePage) {
    return vren::compose("PrintDeviceFontW",
                         deviceFontHeader(x, y, font, xMultiplier, yMultiplier, rotation, bold).view(),
                         {data, deviceFontWRoute(deviceFont(font), codePage)});
}

extern "C" VREN_API int PrintVectorFont(const char *data, int x, int y, int font, int width, int height, int spacing,
                                        unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                                        int alignment, int lastOption) {
    return vren::compose("PrintVectorFont",
                         vectorFontHeader(x, y, font, width, height, spacing, bold, reverse, italic, rotation,
                                          alignment, lastOption)
                             .view(),
                         {data, vectorFontRoute(font)});
}

extern "C" VREN_API int PrintVectorFontW(const char *data, int x, int y, int font, int width, int height,
                                         int spacing, unsigned char bold, unsigned char reverse, unsigned char italic,
                                         int rotation, int alignment, int lastOption, int codePage) {
    return vren::compose("PrintVectorFontW",
                         vectorFontHeader(x, y, font, width, height, spacing, bold, reverse, italic, rotation,
                                          alignment, lastOption)
                             .view(),
                         {data, vectorFontWRoute(font, codePage)});
}
