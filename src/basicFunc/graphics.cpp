// Blocks, lines and circles.
#include "VrenLabelAPI.h"
#include "basicFunc/graphicsCommands.h"
#include "callLog.h"
#include "compose.h"

extern "C" VREN_API int PrintBlock(int startX, int startY, int endX, int endY, int option, int thickness) {
    constexpr const char *tag = "PrintBlock";
    if (!vren::graphics::validBlockOption(option)) {
        vren::CallLog log(tag);
        printDebugLog(tag, "wrong block option");
        return log.fails(VREN_E_BLOCK_OPTION);
    }
    return vren::compose(tag, vren::graphics::blockCommand(startX, startY, endX, endY, option, thickness).view());
}

extern "C" VREN_API int PrintCircle(int x, int y, int size, int multiplier) {
    return vren::compose("PrintCircle", vren::graphics::circleCommand(x, y, size, multiplier).view());
}
