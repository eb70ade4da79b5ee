// USB printer-class opener.
#include "VrenLabelAPI.h"

extern "C" VREN_API int openDeviceUSB(void) {
    printDebugLog("openDeviceUSB", "Start openDeviceUSB");
    printDebugLog("openDeviceUSB", "USB connections are not available in this build.");
    return VREN_E_OPEN;
}
