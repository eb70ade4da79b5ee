// Barcode commands: the header, then the data as a quoted field, appended as
// one command whatever the data's length.
#include <cstring>

#include "VrenLabelAPI.h"
#include "barcodeCommands.h"
#include "compose.h"

namespace {

int appendBarcode(const char *tag, const char *data, const vren::CommandText &header) noexcept {
    if (data == nullptr) {
        printDebugLog(tag, "data is null");
        return VREN_E_WRITE;
    }
    const int appended = vren::appendQuoted(tag, header.view(), data);
    return appended != VREN_OK ? appended : bufferCheck();
}

// One barcode command: "start", the command, "end" whatever the result.
int printBarcode(const char *tag, const char *data, const vren::CommandText &header) noexcept {
    printDebugLog(tag, "start");
    const int result = appendBarcode(tag, data, header);
    printDebugLog(tag, "end");
    return result;
}

}  // namespace

using namespace vren::barcode;

extern "C" VREN_API int Print1DBarcode(const char *data, int x, int y, int field3, int field4, int field5,
                                       int field6, int field7, int field8) {
    constexpr const char *tag = "Print1DBarcode";
    printDebugLog(tag, "start");
    int result = VREN_E_WRITE;
    if (data == nullptr) {
        printDebugLog(tag, "data is null");
    } else {
        const vren::CommandText header = oneDimensional(x, y, field3, field4, field5, field6, field7, field8);
        printDebugLog(tag, "barcode data : %s, %zu", data, std::strlen(data));
        result = appendBarcode(tag, data, header);
    }
    printDebugLog(tag, "end");
    return result;
}

extern "C" VREN_API int PrintMaxiCode(const char *data, int x, int y, int mode) {
    return printBarcode("PrintMaxiCode", data, maxiCode(x, y, mode));
}

extern "C" VREN_API int PrintPDF417(const char *data, int x, int y, int rows, int columns, int errorLevel, int field7,
                                    unsigned char field8, int field9, int field10, int field11, int field12) {
    return printBarcode("PrintPDF417", data,
                        pdf417(x, y, rows, columns, errorLevel, field7, field8, field9, field10, field11, field12));
}

extern "C" VREN_API int PrintQRCode(const char *data, int x, int y, int model, int errorLevel, int field6,
                                    int field7) {
    return printBarcode("PrintQRCode", data, qrCode(x, y, model, errorLevel, field6, field7));
}

extern "C" VREN_API int PrintDataMatrix(const char *data, int x, int y, int field4, unsigned char field5,
                                        int field6) {
    return printBarcode("PrintDataMatrix", data, dataMatrix(x, y, field4, field5, field6));
}

extern "C" VREN_API int PrintAztec(const char *data, int x, int y, int field4, int field5, int field6,
                                   unsigned char field7, int field8, int field9, int field10) {
    return printBarcode("PrintAztec", data, aztec(x, y, field4, field5, field6, field7, field8, field9, field10));
}

extern "C" VREN_API int PrintCode49(const char *data, int x, int y, int field4, int field5, int field6, int field7,
                                    int field8, int field9) {
    return printBarcode("PrintCode49", data, code49(x, y, field4, field5, field6, field7, field8, field9));
}

extern "C" VREN_API int PrintCODABLOCK(const char *data, int x, int y, int field4, int field5, int field6,
                                       unsigned char field7, int field8, int mode, int field10) {
    return printBarcode("PrintCODABLOCK", data,
                        codablock(x, y, field4, field5, field6, field7, field8, mode, field10));
}

extern "C" VREN_API int PrintMicroPDF(const char *data, int x, int y, int field4, int field5, int field6,
                                      int field7) {
    return printBarcode("PrintMicroPDF", data, microPdf(x, y, field4, field5, field6, field7));
}

extern "C" VREN_API int PrintGS1DataBar(const char *data, int x, int y, int field4, int field5, int field6,
                                        int field7, int segmentsPerRow, int field9) {
    return printBarcode("PrintGS1DataBar", data,
                        gs1DataBar(x, y, field4, field5, field6, field7, segmentsPerRow, field9));
}
