// Printer identification: the model query and the lookup of its reply in the
// model table.
#include "VrenLabelAPI.h"
#include "connection.h"

#include <strings.h>

#include <cstring>

extern "C" VREN_API uint32_t getModel(const char *reply) {
    if (reply == nullptr)
        return 0;
    for (uint32_t index = 151; index < VREN_MODEL_TABLE_SIZE; ++index) {
        const char *name = KORVEL_DEVICE[index];
        if (name != nullptr && strcasestr(reply, name) != nullptr)
            return index;
    }
    return 0;
}

namespace {

constexpr unsigned char kModelQuery[] = {'^', 'P', 'I', '0', '\r', '\n'};
constexpr int kModelReplyLength = 20;

bool endsReadOk(const char *reply, int n) noexcept {
    if (n < 2)
        return false;
    const char last = reply[n - 1];
    const char before = reply[n - 2];
    return last == '\n' && (before == '\r' || before == '\n');
}

bool usableReply(const char *reply, int n) noexcept {
    return n >= 5 && (reply[n - 2] == '\r' || reply[n - 1] == '\n');
}

}  // namespace

extern "C" VREN_API int modelCheck(void) {
    constexpr const char *tag = "modelCheck";
    printDebugLog(tag, "start");
    vren::discardInput(tag);
    if (writeData(kModelQuery, sizeof kModelQuery) != static_cast<int>(sizeof kModelQuery)) {
        printDebugLog(tag, "Failed to write model check cmd");
        return VREN_E_WRITE;
    }
    vren::pause(100000);

    // One byte more than a reply can bring, so the reply is always a string.
    char reply[kModelReplyLength + 1] = {};
    int n = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        n = readData(reply, kModelReplyLength);
        // Only the bytes of this attempt count: cut off what an earlier,
        // longer attempt left behind.
        reply[n] = '\0';
        if (endsReadOk(reply, n)) {
            printDebugLog(tag, "read OK.");
            break;
        }
    }
    if (!usableReply(reply, n)) {
        printDebugLog(tag, "Failed to read the model name");
        return VREN_E_READ;
    }
    printDebugLog(tag, "model = %s, %d", reply, static_cast<int>(gPrinterModel));
    gPrinterModel = getModel(reply);
    printDebugLog(tag, "model = %s, %d", reply, static_cast<int>(gPrinterModel));
    if (gPrinterModel > 150) {
        printDebugLog(tag, "success");
        return VREN_OK;
    }
    printDebugLog(tag, "not supported model");
    return VREN_E_READ;
}

extern "C" VREN_API int openCheck(void) {
    constexpr const char *tag = "openCheck";
    if (modelCheck() != 0) {
        printDebugLog(tag, "Failed modelCheck()");
        return VREN_E_NOT_ACCEPTED;
    }
    printDebugLog(tag, "success");
    return VREN_OK;
}

