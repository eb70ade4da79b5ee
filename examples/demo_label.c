/*
 * demo_label: prints a sample label through libVrenLabelAPI, using every
 * command family: settings, device and vector text, blocks, a circle,
 * one-dimensional, two-dimensional and stacked barcodes, a bitmap, the status
 * query and raw I/O.
 *
 *   demo_label [address]      (default 127.0.0.1:9100)
 */
#include <stdio.h>
#include <string.h>

#include "VrenLabelAPI.h"

static int failed = 0;

static int check(const char *what, int result) {
    if (result < 0) {
        fprintf(stderr, "demo_label: %s failed: %d\n", what, result);
        failed = 1;
    }
    return result;
}

/* The logo examples/logo.bmp (run from the repository root) twice: as a raw
 * bitmap (LD) and run-length compressed (LCR). Bitmaps go to the printer at
 * once, ahead of the composed commands still in the buffer. */
static void printLogo(int x, int y) {
    check("PrintBitmap (LD)", PrintBitmap("examples/logo.bmp", x, y, 0));
    check("PrintBitmap (LCR)", PrintBitmap("examples/logo.bmp", x, y + 60, 1));
}

int main(int argc, char **argv) {
    const char *address = argc > 1 ? argv[1] : "127.0.0.1:9100";

    if (ConnectToPrinter(address) != 0) {
        fprintf(stderr, "demo_label: cannot connect to %s\n", address);
        return 1;
    }
    printf("connected to %s, model %s\n", address, KORVEL_DEVICE[gPrinterModel]);

    /* Settings go out at once. 4 x 6 in at 203 dpi. */
    check("SetPaper", SetPaper(812, 1218, 0, 0, 24));
    check("SetOrientation", SetOrientation('T'));
    check("SetSpeed", SetSpeed(4));
    check("SetDensity", SetDensity(10));
    check("ClearBuffer", ClearBuffer());

    /* Status through the library, and the same query as raw I/O. */
    int status = check("CheckPrinterStatus", CheckPrinterStatus());
    unsigned char answer = 0;
    int answerLength = 1;
    check("DirectIO", DirectIO("^cu\r", 4, &answer, &answerLength));
    printf("status %d, raw answer 0x%02x\n", status, answer);

    /* Text: vector fonts (heading, italic serif, reverse) and device fonts. */
    check("heading", PrintVectorFont("VREN LABEL DEMO", 406, 20, 0, 60, 60, 0, 1, 0, 0, 0, 1, 0));
    check("device font", PrintDeviceFont("Device font 3, bold", 20, 110, 3, 1, 1, 0, 1));
    check("device font x2", PrintDeviceFont("x2", 380, 100, 3, 2, 2, 0, 0));
    check("Korean", PrintDeviceFont("\xed\x95\x9c\xea\xb8\x80 \xeb\x9d\xbc\xeb\xb2\xa8", 20, 150, 99, 1, 1, 0, 0));
    check("italic", PrintVectorFont("Vector serif, italic", 20, 190, 5, 34, 34, 0, 0, 0, 1, 0, 0, 0));
    check("reverse", PrintVectorFont(" REVERSE ", 640, 190, 0, 34, 34, 0, 1, 1, 0, 0, 1, 0));
    check("turned", PrintDeviceFont("turned 90", 790, 250, 2, 1, 1, 1, 0));

    /* Graphics. */
    check("rule", PrintBlock(20, 244, 760, 250, 0, 0));
    check("circle", PrintCircle(600, 270, 5, 1));
    check("rule", PrintBlock(20, 430, 760, 436, 0, 0));

    /* Barcodes. */
    check("Code 128", Print1DBarcode("VREN-0001", 20, 270, 1, 3, 9, 110, 0, 1));
    check("QR", PrintQRCode("https://example.org/vren", 20, 460, 2, 1, 3, 0));
    check("Data Matrix", PrintDataMatrix("VREN DEMO", 230, 460, 3, 0, 0));
    check("Aztec", PrintAztec("VREN AZTEC", 380, 460, 3, 0, 23, 0, 15, 0, 0));
    check("MaxiCode", PrintMaxiCode("VREN MAXICODE", 560, 452, 4));
    check("PDF417", PrintPDF417("VREN PDF417", 20, 700, 6, 3, 2, 0, 0, 1, 2, 10, 0));
    check("MicroPDF", PrintMicroPDF("VREN", 330, 700, 2, 6, 0, 0));
    check("Code 49", PrintCode49("VREN 49", 480, 700, 2, 4, 16, 0, 0, 0));
    check("Codablock", PrintCODABLOCK("VREN CODABLOCK F", 20, 800, 2, 4, 14, 0, 10, 2, 4));
    check("DataBar", PrintGS1DataBar("(01)09501101530003", 480, 800, 0, 2, 1, 0, 0, 0));

    /* Blocks in their other options. */
    check("box", PrintBlock(20, 940, 500, 1190, 4, 4));
    check("slope", PrintBlock(40, 1170, 480, 960, 3, 3));
    check("filled", PrintBlock(60, 980, 240, 1040, 0, 0));
    check("erased", PrintBlock(80, 995, 120, 1025, 2, 0));
    check("inverted", PrintBlock(180, 1000, 300, 1100, 1, 0));

    /* Bitmaps, and a caption for them. */
    printLogo(600, 980);
    check("caption", PrintDeviceFont("LD / LCR", 600, 1110, 2, 1, 1, 0, 0));

    check("Prints", Prints(1, 1));

    DisconnectPrinter();
    printf(failed ? "demo label failed\n" : "demo label printed\n");
    return failed ? 1 : 0;
}
