// The library exports exactly the names of its C interface, with C linkage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

namespace {

// One list per family of the interface.
const std::set<std::string> kConnection = {
    "ConnectToPrinter", "DisconnectPrinter", "openCheck", "modelCheck", "getModel",
    "openDeviceEthernet", "openDeviceSerial", "openDeviceParallel", "openDeviceUSB", "openDeviceBluetooth",
    "sdp_search_spp", "spp_connect",
    "gConnectedPrinter", "gPrinterModel", "KORVEL_DEVICE",
};
const std::set<std::string> kTransport = {
    "printDebugLog", "writeData", "readData", "initDataBuffer", "gPrintData", "gDataIndex",
};
const std::set<std::string> kJobOutput = {
    "bufferCheck", "Prints", "ClearBuffer", "DirectIO",
};
const std::set<std::string> kText = {
    "PrintDeviceFont", "PrintDeviceFontW", "PrintVectorFont", "PrintVectorFontW", "convertData",
};
const std::set<std::string> kGraphics = {
    "PrintBlock", "PrintCircle",
};
const std::set<std::string> kBarcodes = {
    "Print1DBarcode", "PrintMaxiCode", "PrintPDF417", "PrintQRCode", "PrintDataMatrix",
    "PrintAztec", "PrintCode49", "PrintCODABLOCK", "PrintMicroPDF", "PrintGS1DataBar",
};
const std::set<std::string> kSettings = {
    "SetSpeed", "SetDensity", "SetOrientation", "SetCutter", "SetRewinder", "SetOffset",
    "SetCutPostion", "SetPrintingType", "SetBackFeed", "SetPaper", "SetMargin", "SetCharacterSet",
    "gSpeed", "gDensity", "gOrientation", "gAutoCut", "gCutPeriod", "gRewind", "gOffset",
    "gCutPosition", "gPrintingType", "gBackFeeding", "gPaperWidth", "gPaperHeight", "gMediaType",
    "gGapLength", "gHorizontalMargin", "gVerticalMargin",
};
const std::set<std::string> kControlStatus = {
    "InitializePrinter", "CalibrateMedia", "ResetPrinter", "FeedOneLabel", "CheckPrinterStatus", "gStatus",
};
const std::set<std::string> kImage = {
    "PrintBitmap", "loadImage", "loadImage1", "GetImageBit", "resizeImage",
    "compressData", "printLD", "printLCR", "strToUpper",
};

std::set<std::string> expectedNames() {
    std::set<std::string> all;
    for (const auto *family : {&kConnection, &kTransport, &kJobOutput, &kText, &kGraphics, &kBarcodes, &kSettings,
                                &kControlStatus, &kImage})
        all.insert(family->begin(), family->end());
    return all;
}

std::set<std::string> exportedNames() {
    std::set<std::string> names;
    const std::string command = std::string("nm -D --defined-only ") + VREN_LIBRARY_FILE;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        const size_t blank = text.rfind(' ');
        names.insert(text.substr(blank + 1));
    }
    pclose(pipe);
    return names;
}

}  // namespace

TEST(Exports, ExactlyTheInterfaceNames) {
    const std::set<std::string> expected = expectedNames();
    const std::set<std::string> actual = exportedNames();
    std::set<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                        std::inserter(missing, missing.end()));
    std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                        std::inserter(extra, extra.end()));
    for (const auto &name : missing)
        ADD_FAILURE() << "not exported: " << name;
    for (const auto &name : extra)
        ADD_FAILURE() << "exported but not part of the interface: " << name;
}

TEST(Exports, LibraryHasVersionedSoname) {
    const std::string command = std::string("readelf -d ") + VREN_LIBRARY_FILE + " | grep SONAME";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    ASSERT_TRUE(read);
    EXPECT_NE(std::string(line).find("[libVrenLabelAPI.so.1]"), std::string::npos) << line;
}
