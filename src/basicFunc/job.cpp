// Ending a label, clearing the printer's buffer, and raw I/O.
#include "VrenLabelAPI.h"
#include "OpenClose/connection.h"
#include "basicFunc/immediate.h"
#include "callLog.h"
#include "compose.h"
#include "fieldFormat.h"

extern "C" VREN_API int Prints(int labels, int copies) {
    constexpr const char *tag = "Prints";
    vren::CallLog log(tag);
    const vren::CommandText print = vren::formatFields("P%d,%d\r", labels, copies);
    int result = vren::appendPrintCommand(tag, print.view());
    if (result == VREN_OK)
        result = vren::sendBuffer(tag);
    return result != VREN_OK ? log.fails(result) : VREN_OK;
}

extern "C" VREN_API int ClearBuffer(void) {
    return vren::sendImmediate("ClearBuffer", "CB\r");
}

extern "C" VREN_API int DirectIO(const void *writeBuffer, int writeLength, void *readBuffer, int *readLength) {
    constexpr const char *tag = "DirectIO";
    vren::CallLog log(tag);
    const bool writing = writeBuffer != nullptr && writeLength != 0;
    const bool reading = readBuffer != nullptr;
    // Refuse bad lengths before anything is sent.
    if (writing && writeLength < 0) {
        printDebugLog(tag, "Invalid write length : %d", writeLength);
        return log.fails(VREN_E_WRITE);
    }
    if (reading && (readLength == nullptr || *readLength < 0)) {
        printDebugLog(tag, "Invalid read length");
        return log.fails(VREN_E_READ);
    }
    // Raw output of any length arrives whole: one transport call carries at
    // most 200 chunks, so a longer request takes several.
    if (writing && !vren::writeAll(writeBuffer, static_cast<size_t>(writeLength))) {
        printDebugLog(tag, "Failed to write");
        return log.fails(VREN_E_WRITE);
    }
    if (reading && *readLength != 0) {
        *readLength = readData(readBuffer, *readLength);
        if (*readLength == 0) {
            printDebugLog(tag, "Read len is 0");
            return log.fails(VREN_E_READ);
        }
    }
    return VREN_OK;
}
