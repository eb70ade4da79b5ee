/*
 * demo_label: prints a sample label through libVrenLabelAPI.
 *
 *   demo_label [address]      (default 127.0.0.1:9100)
 */
#include <stdio.h>
#include <string.h>

#include "VrenLabelAPI.h"

static int check(const char *what, int result) {
    if (result < 0)
        fprintf(stderr, "demo_label: %s failed: %d\n", what, result);
    return result;
}

/*
 * The label's vocabulary: settings and a status query go to the printer at
 * once; text, barcodes and graphics wait in the command buffer for Prints().
 */
static int composeVocabulary(void) {
    int failed = 0;
    failed |= check("SetSpeed", SetSpeed(4)) < 0;
    failed |= check("SetDensity", SetDensity(12)) < 0;
    failed |= check("SetPaper", SetPaper(800, 600, 0, 0, 24)) < 0;

    const int status = CheckPrinterStatus();
    if (check("CheckPrinterStatus", status) >= 0)
        printf("printer status: 0x%02x%s\n", status, status == 0 ? " (no error)" : "");
    else
        failed = 1;

    failed |= check("PrintBlock", PrintBlock(10, 10, 790, 590, 1, 0)) < 0;
    failed |= check("PrintDeviceFont", PrintDeviceFont("VREN DEMO LABEL", 40, 40, 3, 1, 1, 0, 1)) < 0;
    failed |= check("PrintVectorFont",
                    PrintVectorFont("Vector text", 40, 100, 5, 40, 40, 0, 0, 0, 1, 0, 0, 0)) < 0;
    /* UTF-8 in, EUC-KR out: device font 'a' is a Korean font. */
    failed |= check("PrintDeviceFont (Korean)", PrintDeviceFont("한글 라벨", 40, 160, 'a', 1, 1, 0, 0)) < 0;
    failed |= check("Print1DBarcode", Print1DBarcode("1234567890", 40, 240, 1, 2, 6, 100, 0, 0)) < 0;
    failed |= check("PrintQRCode", PrintQRCode("https://example.com/vren", 520, 240, 2, 1, 4, 0)) < 0;
    failed |= check("PrintCircle", PrintCircle(700, 80, 3, 1)) < 0;
    return failed;
}

/* Prints the logo dir/logo.bmp twice: as a raw bitmap (LD) at the top left,
 * and run-length compressed (LCR) beside it. */
static int printLogo(const char *dir) {
    char path[1024];
    if (snprintf(path, sizeof path, "%s/logo.bmp", dir) >= (int)sizeof path) {
        fprintf(stderr, "demo_label: logo path too long\n");
        return -1;
    }
    if (check("PrintBitmap (LD)", PrintBitmap(path, 20, 20, 0)) != 0)
        return -1;
    if (check("PrintBitmap (LCR)", PrintBitmap(path, 140, 20, 1)) != 0)
        return -1;
    return 0;
}

int main(int argc, char **argv) {
    const char *address = argc > 1 ? argv[1] : "127.0.0.1:9100";

    if (check("ConnectToPrinter", ConnectToPrinter(address)) != 0)
        return 1;
    printf("connected to %s, model %s\n", address, KORVEL_DEVICE[gPrinterModel]);

    static const char hello[] = "HELLO FROM THE DEMO\r";
    int failed = 0;
    failed |= check("ClearBuffer", ClearBuffer()) < 0;
    failed |= check("DirectIO", DirectIO(hello, (int)strlen(hello), NULL, NULL)) < 0;
    failed |= composeVocabulary();
    failed |= printLogo("examples") != 0;
    failed |= check("Prints", Prints(1, 1)) < 0;

    DisconnectPrinter();
    printf(failed ? "demo label failed\n" : "demo label printed\n");
    return failed ? 1 : 0;
}
