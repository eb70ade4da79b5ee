#include "basicFunc/immediate.h"

#include "VrenLabelAPI.h"
#include "callLog.h"

namespace vren {

int writeImmediate(const char *tag, std::string_view command) noexcept {
    const int written = writeData(command.data(), static_cast<uint32_t>(command.size()));
    if (written < 0 || static_cast<size_t>(written) != command.size()) {
        printDebugLog(tag, "Failed to write");
        return VREN_E_WRITE;
    }
    return VREN_OK;
}

int sendImmediate(const char *tag, std::string_view command) noexcept {
    CallLog log(tag);
    const int written = writeImmediate(tag, command);
    return written != VREN_OK ? log.fails(written) : VREN_OK;
}

}  // namespace vren
