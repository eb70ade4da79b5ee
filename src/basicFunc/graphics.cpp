// Blocks, lines and circles.
#include "VrenLabelAPI.h"
#include "basicFunc/graphicsCommands.h"
#include "compose.h"

namespace {

int appendGraphic(const char *tag, const vren::CommandText &command) noexcept {
    const int appended = vren::appendCommand(tag, {command.view()});
    const int result = appended != VREN_OK ? appended : bufferCheck();
    printDebugLog(tag, "end");
    return result;
}

}  // namespace

extern "C" VREN_API int PrintBlock(int startX, int startY, int endX, int endY, int option, int thickness) {
    constexpr const char *tag = "PrintBlock";
    printDebugLog(tag, "start");
    if (!vren::graphics::validBlockOption(option)) {
        printDebugLog(tag, "wrong block option");
        return VREN_E_BLOCK_OPTION;
    }
    return appendGraphic(tag, vren::graphics::blockCommand(startX, startY, endX, endY, option, thickness));
}

extern "C" VREN_API int PrintCircle(int x, int y, int size, int multiplier) {
    constexpr const char *tag = "PrintCircle";
    printDebugLog(tag, "start");
    return appendGraphic(tag, vren::graphics::circleCommand(x, y, size, multiplier));
}
