/* Proves that the public header is valid C and declares what the library
 * exports: every function is referenced, so a missing definition fails to link. */
#include "VrenLabelAPI.h"

#include <stdio.h>

typedef void (*any_function)(void);

int main(void) {
    const any_function functions[] = {
        (any_function)ConnectToPrinter, (any_function)DisconnectPrinter,
        (any_function)Prints, (any_function)ClearBuffer, (any_function)DirectIO,
        (any_function)printDebugLog, (any_function)openCheck, (any_function)modelCheck,
        (any_function)getModel, (any_function)openDeviceEthernet, (any_function)openDeviceSerial,
        (any_function)openDeviceParallel, (any_function)openDeviceUSB, (any_function)writeData,
        (any_function)readData, (any_function)initDataBuffer, (any_function)bufferCheck,
        (any_function)PrintBitmap, (any_function)loadImage, (any_function)loadImage1,
        (any_function)GetImageBit, (any_function)resizeImage, (any_function)compressData,
        (any_function)printLD, (any_function)printLCR, (any_function)strToUpper,
    };
    size_t i;
    for (i = 0; i < sizeof functions / sizeof functions[0]; ++i) {
        if (functions[i] == NULL)
            return 1;
    }
    /* The globals are real objects of the declared types. */
    if (sizeof gPrintData != 4096 || gDataIndex != 0 || gConnectedPrinter != 0 || gPrinterModel != 0)
        return 1;
    /* The image header is the 40-byte BMP information header. */
    if (sizeof(VrenImageHeader) != 40)
        return 1;
    if (KORVEL_DEVICE[0] == NULL || KORVEL_DEVICE[151] == NULL)
        return 1;
    printf("header ok: model table starts with %s\n", KORVEL_DEVICE[0]);
    return 0;
}
