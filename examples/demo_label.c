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
    failed |= printLogo("examples") != 0;
    failed |= check("Prints", Prints(1, 1)) < 0;

    DisconnectPrinter();
    printf(failed ? "demo label failed\n" : "demo label printed\n");
    return failed ? 1 : 0;
}
