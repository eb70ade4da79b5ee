/* Proves that the public header is valid C and declares what the library
 * exports: every function is referenced, so a missing definition fails to link. */
#include "VrenLabelAPI.h"

#include <stdio.h>

/* The Bluetooth steps are declared once the BlueZ types are known, also when
 * the header was included before. */
#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include "VrenLabelAPI.h"

typedef void (*any_function)(void);

int main(void) {
    const any_function functions[] = {
        (any_function)ConnectToPrinter, (any_function)DisconnectPrinter,
        (any_function)Prints, (any_function)ClearBuffer, (any_function)DirectIO,
        (any_function)printDebugLog, (any_function)openCheck, (any_function)modelCheck,
        (any_function)getModel, (any_function)openDeviceEthernet, (any_function)openDeviceSerial,
        (any_function)openDeviceParallel, (any_function)openDeviceUSB, (any_function)writeData,
        (any_function)readData, (any_function)initDataBuffer, (any_function)bufferCheck,
        /* text */
        (any_function)PrintDeviceFont, (any_function)PrintDeviceFontW, (any_function)PrintVectorFont,
        (any_function)PrintVectorFontW, (any_function)convertData,
        /* graphics */
        (any_function)PrintBlock, (any_function)PrintCircle,
        /* barcodes */
        (any_function)Print1DBarcode, (any_function)PrintMaxiCode, (any_function)PrintPDF417,
        (any_function)PrintQRCode, (any_function)PrintDataMatrix, (any_function)PrintAztec,
        (any_function)PrintCode49, (any_function)PrintCODABLOCK, (any_function)PrintMicroPDF,
        (any_function)PrintGS1DataBar,
        /* settings */
        (any_function)SetSpeed, (any_function)SetDensity, (any_function)SetOrientation,
        (any_function)SetCutter, (any_function)SetRewinder, (any_function)SetOffset,
        (any_function)SetCutPostion, (any_function)SetPrintingType, (any_function)SetBackFeed,
        (any_function)SetPaper, (any_function)SetMargin, (any_function)SetCharacterSet,
        /* control and status */
        (any_function)InitializePrinter, (any_function)CalibrateMedia, (any_function)ResetPrinter,
        (any_function)FeedOneLabel, (any_function)CheckPrinterStatus,
        /* Bluetooth openers */
        (any_function)openDeviceBluetooth, (any_function)spp_connect, (any_function)sdp_search_spp,
        /* images */
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
    if (gSpeed != 0 || gDensity != 0 || gOrientation != 0 || gAutoCut != 0 || gCutPeriod != 0 || gRewind != 0 ||
        gOffset != 0 || gCutPosition != 0 || gPrintingType != 0 || gBackFeeding != 0 || gPaperWidth != 0 ||
        gPaperHeight != 0 || gMediaType != 0 || gGapLength != 0 || gHorizontalMargin != 0 ||
        gVerticalMargin != 0 || gStatus != 0)
        return 1;
    /* The image header is the 40-byte BMP information header. */
    if (sizeof(VrenImageHeader) != 40)
        return 1;
    if (KORVEL_DEVICE[0] == NULL || KORVEL_DEVICE[151] == NULL)
        return 1;
    printf("header ok: model table starts with %s\n", KORVEL_DEVICE[0]);
    return 0;
}
