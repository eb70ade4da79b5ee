#include "basicFunc/immediate.h"

#include "VrenLabelAPI.h"

namespace vren {

int writeImmediate(const char *tag, std::string_view command) noexcept {
    const int written = writeData(command.data(), static_cast<uint32_t>(command.size()));
    if (written < 0 || static_cast<size_t>(written) != command.size()) {
        printDebugLog(tag, "Failed to write");
        return VREN_E_WRITE;
    }
    return VREN_OK;
}

}  // namespace vren
