// One-shot control commands, written to the printer at once.
#include "VrenLabelAPI.h"
#include "basicFunc/immediate.h"

namespace {

int sendControl(const char *tag, std::string_view command) noexcept {
    printDebugLog(tag, "start");
    const int written = vren::writeImmediate(tag, command);
    if (written != VREN_OK)
        return written;
    printDebugLog(tag, "end");
    return VREN_OK;
}

}  // namespace

extern "C" VREN_API int InitializePrinter(void) { return sendControl("InitializePrinter", "@\r"); }
extern "C" VREN_API int CalibrateMedia(void) { return sendControl("CalibrateMedia", "~JC\r\n"); }
extern "C" VREN_API int ResetPrinter(void) { return sendControl("ResetPrinter", "~JR\r\n"); }
extern "C" VREN_API int FeedOneLabel(void) { return sendControl("FeedOneLabel", "~PH\r\n"); }
