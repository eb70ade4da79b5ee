// Barcode commands: the header, then the data as a quoted field, composed as
// one command whatever the data's length.
#include "VrenLabelAPI.h"
#include "barcodeCommands.h"
#include "compose.h"

using namespace vren::barcode;

extern "C" VREN_API int Print1DBarcode(const char *data, int x, int y, int field3, int field4, int field5,
                                       int field6, int field7, int field8) {
    return vren::compose("Print1DBarcode", oneDimensional(x, y, field3, field4, field5, field6, field7, field8).view(),
                         {.text = data, .logged = true});
}

extern "C" VREN_API int PrintMaxiCode(const char *data, int x, int y, int mode) {
    return vren::compose("PrintMaxiCode", maxiCode(x, y, mode).view(), {data});
}

extern "C" VREN_API int PrintPDF417(const char *data, int x, int y, int rows, int columns, int errorLevel, int field7,
                                    unsigned char field8, int field9, int field10, int field11, int field12) {
    return vren::compose(
        "PrintPDF417", pdf417(x, y, rows, columns, errorLevel, field7, field8, field9, field10, field11, field12).view(),
        {data});
}

extern "C" VREN_API int PrintQRCode(const char *data, int x, int y, int model, int errorLevel, int field6,
                                    int field7) {
    return vren::compose("PrintQRCode", qrCode(x, y, model, errorLevel, field6, field7).view(), {data});
}

extern "C" VREN_API int PrintDataMatrix(const char *data, int x, int y, int field4, unsigned char field5,
                                        int field6) {
    return vren::compose("PrintDataMatrix", dataMatrix(x, y, field4, field5, field6).view(), {data});
}

extern "C" VREN_API int PrintAztec(const char *data, int x, int y, int field4, int field5, int field6,
                                   unsigned char field7, int field8, int field9, int field10) {
    return vren::compose("PrintAztec", aztec(x, y, field4, field5, field6, field7, field8, field9, field10).view(),
                         {data});
}

extern "C" VREN_API int PrintCode49(const char *data, int x, int y, int field4, int field5, int field6, int field7,
                                    int field8, int field9) {
    return vren::compose("PrintCode49", code49(x, y, field4, field5, field6, field7, field8, field9).view(), {data});
}

extern "C" VREN_API int PrintCODABLOCK(const char *data, int x, int y, int field4, int field5, int field6,
                                       unsigned char field7, int field8, int mode, int field10) {
    return vren::compose("PrintCODABLOCK",
                         codablock(x, y, field4, field5, field6, field7, field8, mode, field10).view(), {data});
}

extern "C" VREN_API int PrintMicroPDF(const char *data, int x, int y, int field4, int field5, int field6,
                                      int field7) {
    return vren::compose("PrintMicroPDF", microPdf(x, y, field4, field5, field6, field7).view(), {data});
}

extern "C" VREN_API int PrintGS1DataBar(const char *data, int x, int y, int field4, int field5, int field6,
                                        int field7, int segmentsPerRow, int field9) {
    return vren::compose("PrintGS1DataBar",
                         gs1DataBar(x, y, field4, field5, field6, field7, segmentsPerRow, field9).view(), {data});
}
