// Bluetooth serial-port-profile opener.
#include <bluetooth/bluetooth.h>

#include "VrenLabelAPI.h"

extern "C" VREN_API int openDeviceBluetooth(bdaddr_t device) {
    (void)device;
    printDebugLog("openDeviceBluetooth", "start");
    printDebugLog("openDeviceBluetooth", "Bluetooth connections are not available in this build.");
    return VREN_E_OPEN;
}
