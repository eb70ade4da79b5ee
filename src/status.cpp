// The status query: one request, a one-byte answer whose high six bits are
// error conditions.
#include "OpenClose/connection.h"
#include "VrenLabelAPI.h"
#include "basicFunc/immediate.h"

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
    {0x04, "error - ribon end"},    {0x08, "error - gap error"},  {0x10, "error - TPH overhead"},
    {0x20, "error - cutter jam"},   {0x40, "error - cover open"}, {0x80, "error - paper empty"},
};

}  // namespace

extern "C" VREN_API int CheckPrinterStatus(void) {
    constexpr const char *tag = "CheckPrinterStatus";
    gStatus = 0;
    unsigned char answer = 0;
    printDebugLog(tag, "start");
    vren::discardInput(tag);
    const int written = vren::writeImmediate(tag, "^cu\r");
    if (written != VREN_OK)
        return written;
    if (readData(&answer, 1) != 1) {
        printDebugLog(tag, "Failed to read");
        return VREN_E_READ;
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
    printDebugLog(tag, "end");
    return gStatus;
}
