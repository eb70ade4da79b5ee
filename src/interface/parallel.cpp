// Parallel-port opener: the node is only opened, never configured.
#include <fcntl.h>

#include "VrenLabelAPI.h"

extern "C" VREN_API int openDeviceParallel(const char *path) {
    constexpr const char *tag = "openDeviceParallel";
    printDebugLog(tag, "Start");
    printDebugLog(tag, "Parallel port : %s", path);
    const int fd = path == nullptr ? -1 : open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        printDebugLog(tag, "Failed to open parallel port.");
        return VREN_E_OPEN;
    }
    printDebugLog(tag, "Success port open.");
    return fd;
}
