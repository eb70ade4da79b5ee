// The status query: one request, a one-byte answer whose high six bits are
// error conditions.
#include "OpenClose/connection.h"
#include "VrenLabelAPI.h"
#include "basicFunc/immediate.h"
#include "callLog.h"

extern "C" {
VREN_API unsigned char gStatus;
}

namespace {

struct Condition {
    unsigned char bit;
    const char *logLine;
};

// In the order they are reported.
constexpr Condition kConditions[] = {
    {VREN_STATUS_RIBBON_END, "error - ribon end"},     {VREN_STATUS_GAP_ERROR, "error - gap error"},
    {VREN_STATUS_HEAD_OVERHEAT, "error - TPH overhead"}, {VREN_STATUS_CUTTER_JAM, "error - cutter jam"},
    {VREN_STATUS_COVER_OPEN, "error - cover open"},    {VREN_STATUS_PAPER_EMPTY, "error - paper empty"},
};

}  // namespace

extern "C" VREN_API int CheckPrinterStatus(void) {
    constexpr const char *tag = "CheckPrinterStatus";
    gStatus = 0;
    unsigned char answer = 0;
    vren::CallLog log(tag);
    vren::discardInput(tag);
    const int written = vren::writeImmediate(tag, "^cu\r");
    if (written != VREN_OK)
        return log.fails(written);
    if (readData(&answer, 1) != 1) {
        printDebugLog(tag, "Failed to read");
        return log.fails(VREN_E_READ);
    }
    printDebugLog(tag, "status : %02x", static_cast<unsigned>(answer));
    unsigned char status = 0;
    for (const Condition &condition : kConditions) {
        if ((answer & condition.bit) == 0)
            continue;
        printDebugLog(tag, "%s", condition.logLine);
        status |= condition.bit;
    }
    gStatus = status;
    return gStatus;
}
