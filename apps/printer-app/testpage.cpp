#include "testpage.h"

#include <unistd.h>

#include <cstring>

#include "VrenLabelAPI.h"
#include "driver.h"
#include "raster.h"

namespace vrenapp {

namespace {

constexpr char kMarker[] = "VREN-TEST-PAGE\n";

// The demonstration label on 4 x 6 in media, as examples/demo_label.c
// composes it, less the logo bitmaps. False when a command did not go out.
bool composeDemoLabel() {
    const int results[] = {
        PrintVectorFont("VREN LABEL DEMO", 406, 20, 0, 60, 60, 0, 1, 0, 0, 0, 1, 0),
        PrintDeviceFont("Device font 3, bold", 20, 110, 3, 1, 1, 0, 1),
        PrintDeviceFont("x2", 380, 100, 3, 2, 2, 0, 0),
        PrintDeviceFont("\xed\x95\x9c\xea\xb8\x80 \xeb\x9d\xbc\xeb\xb2\xa8", 20, 150, 99, 1, 1, 0, 0),
        PrintVectorFont("Vector serif, italic", 20, 190, 5, 34, 34, 0, 0, 0, 1, 0, 0, 0),
        PrintVectorFont(" REVERSE ", 640, 190, 0, 34, 34, 0, 1, 1, 0, 0, 1, 0),
        PrintDeviceFont("turned 90", 790, 250, 2, 1, 1, 1, 0),
        PrintBlock(20, 244, 760, 250, 0, 0),
        PrintCircle(600, 270, 5, 1),
        PrintBlock(20, 430, 760, 436, 0, 0),
        Print1DBarcode("VREN-0001", 20, 270, 1, 3, 9, 110, 0, 1),
        PrintQRCode("https://example.org/vren", 20, 460, 2, 1, 3, 0),
        PrintDataMatrix("VREN DEMO", 230, 460, 3, 0, 0),
        PrintAztec("VREN AZTEC", 380, 460, 3, 0, 23, 0, 15, 0, 0),
        PrintMaxiCode("VREN MAXICODE", 560, 452, 4),
        PrintPDF417("VREN PDF417", 20, 700, 6, 3, 2, 0, 0, 1, 2, 10, 0),
        PrintMicroPDF("VREN", 330, 700, 2, 6, 0, 0),
        PrintCode49("VREN 49", 480, 700, 2, 4, 16, 0, 0, 0),
        PrintCODABLOCK("VREN CODABLOCK F", 20, 800, 2, 4, 14, 0, 10, 2, 4),
        PrintGS1DataBar("(01)09501101530003", 480, 800, 0, 2, 1, 0, 0, 0),
        PrintBlock(20, 940, 500, 1190, 4, 4),
        PrintBlock(40, 1170, 480, 960, 3, 3),
        PrintBlock(60, 980, 240, 1040, 0, 0),
        PrintBlock(80, 995, 120, 1025, 2, 0),
        PrintBlock(180, 1000, 300, 1100, 1, 0),
        PrintDeviceFont("Test page", 600, 1110, 2, 1, 1, 0, 0),
    };
    for (const int result : results)
        if (result != VREN_OK)
            return false;
    return Prints(1, 1) == VREN_OK;
}

const char *detectTestPage(const unsigned char *header, size_t size, void *) {
    const size_t length = sizeof kMarker - 1;
    return size >= length && std::memcmp(header, kMarker, length) == 0 ? kTestPageFormat : nullptr;
}

bool printTestPage(pappl_job_t *job, pappl_device_t *device, void *) {
    papplJobSetImpressions(job, 1);
    pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, false);
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    const JobSettings settings = settingsFor(*options, data.mode_configured);
    papplJobDeletePrintOptions(options);
    bool settingsSent = false;
    const bool printed = sendUntilDone(job, device, [&] {
        // A failed attempt may have left commands in the library's buffer.
        initDataBuffer();
        if (!settingsSent && !sendSettings(settings))
            return false;
        settingsSent = true;
        if (composeDemoLabel())
            return true;
        settingsSent = false;
        return false;
    });
    if (!printed)
        return false;
    papplJobSetImpressionsCompleted(job, 1);
    finishJob(job, device);
    return true;
}

}  // namespace

const char *testPageFile(pappl_printer_t *printer, char *buffer, size_t size) {
    const int fd = papplPrinterOpenFile(printer, buffer, size, nullptr, "testpage", "txt", "w");
    if (fd < 0)
        return nullptr;
    const ssize_t length = static_cast<ssize_t>(sizeof kMarker - 1);
    const bool written = write(fd, kMarker, sizeof kMarker - 1) == length;
    return close(fd) == 0 && written ? buffer : nullptr;
}

void addTestPageFormat(pappl_system_t *system) {
    papplSystemSetMIMECallback(system, detectTestPage, nullptr);
    papplSystemAddMIMEFilter(system, kTestPageFormat, "image/pwg-raster", printTestPage, nullptr);
}

}  // namespace vrenapp
