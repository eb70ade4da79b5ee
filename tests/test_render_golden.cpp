// Golden labels: one label per command family, composed through the public
// API, sent to the in-process virtual printer, rendered, and compared with the
// reference files in tests/golden/: the picture (exact where no font is drawn,
// within a small tolerance of dots otherwise), the transcript exactly, and the
// bytes exactly.
//
// To review a change of the renderer, regenerate the references with
//   VREN_UPDATE_GOLDEN=1 build/tests/test_render_golden
// and look at the pictures and the diff before committing them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "json.h"
#include "library_test.h"
#include "parser.h"
#include "png_io.h"
#include "session.h"
#include "test_io.h"

namespace {

namespace fs = std::filesystem;

const fs::path kGolden = fs::path(VREN_SOURCE_DIR) / "tests" / "golden";

using vren::test::fileText;

bool updating() {
    const char *value = std::getenv("VREN_UPDATE_GOLDEN");
    return value && *value && std::string(value) != "0";
}

// A 24-bit BMP of width x height: a frame, a diagonal and a checker, black
// on white; written into the test's working directory.
std::string writePattern(const char *name, int width, int height) {
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    std::string file(54 + static_cast<size_t>(rowBytes) * static_cast<size_t>(height), '\0');
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<uint32_t>(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    file[26] = 1;
    file[28] = 24;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool dot = x < 3 || y < 3 || x >= width - 3 || y >= height - 3 || x * height / width == y ||
                             (x > width / 2 && y > height / 2 && ((x / 6 + y / 6) % 2 == 0));
            // Rows are stored bottom-up.
            const size_t at = 54 + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(rowBytes) +
                              static_cast<size_t>(x) * 3;
            file[at] = file[at + 1] = file[at + 2] = dot ? '\0' : '\xFF';
        }
    std::ofstream(name, std::ios::binary) << file;
    return name;
}

const std::string kLogo = std::string(VREN_SOURCE_DIR) + "/examples/logo.bmp";

struct Golden {
    const char *name;
    bool exact;  // no font or symbol drawn: the picture must match dot for dot
    std::function<void()> compose;
};

void check(const char *what, int result) { ASSERT_EQ(0, result) << what; }

const std::vector<Golden> &goldens() {
    static const std::vector<Golden> table = {
        {"text_device", false,
         [] {
             check("font 0", PrintDeviceFont("Font 0: 12 dots", 20, 20, 0, 1, 1, 0, 0));
             check("font 3", PrintDeviceFont("Font 3: 24 dots", 20, 50, 3, 1, 1, 0, 0));
             check("font 5 bold", PrintDeviceFont("Font 5 bold", 20, 90, 5, 1, 1, 0, 1));
             check("multipliers", PrintDeviceFont("x3 y2", 20, 150, 3, 3, 2, 0, 0));
             check("font 9", PrintDeviceFont("Nine", 20, 230, 9, 1, 1, 0, 0));
             check("rotation 1", PrintDeviceFont("Turned 90", 760, 20, 3, 1, 1, 1, 0));
             check("rotation 2", PrintDeviceFont("Turned 180", 400, 340, 3, 1, 1, 2, 0));
             check("rotation 3", PrintDeviceFont("Turned 270", 700, 400, 3, 1, 1, 3, 0));
             check("Korean font c", PrintDeviceFont("\xed\x95\x9c\xea\xb8\x80 \xeb\x9d\xbc\xeb\xb2\xa8", 20, 420, 99, 1, 1, 0, 0));
             check("Japanese font j", PrintDeviceFont("\xe3\x83\xa9\xe3\x83\x99\xe3\x83\xab", 20, 470, 106, 1, 1, 0, 0));
             check("Chinese font m", PrintDeviceFont("\xe6\xa0\x87\xe7\xad\xbe", 20, 520, 109, 1, 1, 0, 0));
             check("Traditional font n", PrintDeviceFont("\xe6\xa8\x99\xe7\xb1\xa4", 20, 570, 110, 1, 1, 0, 0));
             check("W with code page", PrintDeviceFontW("\xed\x95\x9c", 20, 620, 98, 2, 2, 0, 1, 1));
             check("out of range", PrintDeviceFont("defaults", 20, 700, 42, 0, 10, 7, 0));
         }},
        {"text_vector", false,
         [] {
             check("sans", PrintVectorFont("Vector Sans 40", 20, 20, 0, 40, 40, 0, 0, 0, 0, 0, 0, 0));
             check("bold", PrintVectorFont("Bold", 20, 80, 5, 48, 48, 0, 1, 0, 0, 0, 0, 0));
             check("italic", PrintVectorFont("Italic serif", 20, 150, 5, 40, 40, 0, 0, 0, 1, 0, 0, 0));
             check("wide and spaced", PrintVectorFont("WIDE", 20, 210, 6, 60, 30, 8, 0, 0, 0, 0, 0, 0));
             check("reverse centred", PrintVectorFont("REVERSE", 406, 260, 0, 44, 44, 0, 1, 1, 0, 0, 1, 0));
             check("right aligned", PrintVectorFont("right edge", 792, 330, 0, 32, 32, 0, 0, 0, 0, 0, 2, 0));
             check("rotated", PrintVectorFont("Rotated", 60, 400, 0, 36, 36, 0, 0, 0, 0, 1, 0, 0));
             check("Korean K", PrintVectorFont("\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4", 200, 420, 1, 40, 40, 0, 0, 0, 0, 0, 0, 0));
             check("Big5 B", PrintVectorFont("\xe6\xa8\x99\xe7\xb1\xa4", 200, 480, 2, 40, 40, 0, 0, 0, 0, 0, 0, 0));
             check("GB18030 G", PrintVectorFont("\xe6\xa0\x87\xe7\xad\xbe", 200, 540, 3, 40, 40, 0, 0, 0, 0, 0, 0, 0));
             check("CP932 J", PrintVectorFont("\xe3\x83\xa9\xe3\x83\x99\xe3\x83\xab", 200, 600, 4, 40, 40, 0, 0, 0, 0, 0, 0, 0));
             check("W code page", PrintVectorFontW("\xed\x95\x9c", 200, 660, 1, 40, 40, 0, 0, 0, 0, 0, 0, 0, 1));
         }},
        {"graphics", true,
         [] {
             check("O", PrintBlock(20, 20, 300, 60, 0, 9));
             check("E", PrintBlock(200, 40, 400, 120, 1, 0));
             check("D", PrintBlock(40, 30, 80, 50, 2, 0));
             check("S", PrintBlock(20, 200, 780, 320, 3, 5));
             check("B", PrintBlock(420, 20, 780, 160, 4, 6));
             check("circle 1", PrintCircle(20, 400, 1, 1));
             check("circle 3", PrintCircle(100, 400, 3, 1));
             check("circle 6 x2", PrintCircle(250, 400, 6, 2));
             check("circle defaults", PrintCircle(600, 400, 0, 9));
             check("negative", PrintBlock(-50, 900, 100, 950, 0, 0));
         }},
        {"barcode_1d", false,
         [] {
             check("Code 39", Print1DBarcode("VREN39", 20, 20, 0, 2, 6, 80, 0, 1));
             check("Code 128", Print1DBarcode("Code 128", 20, 140, 1, 2, 6, 80, 0, 1));
             check("I2of5", Print1DBarcode("12345678", 20, 260, 2, 3, 9, 80, 0, 1));
             check("Codabar", Print1DBarcode("A12345B", 420, 20, 3, 2, 6, 80, 0, 1));
             check("Code 93", Print1DBarcode("CODE93", 420, 140, 4, 2, 6, 80, 0, 1));
             check("UPC-A", Print1DBarcode("01234567890", 420, 260, 5, 2, 6, 80, 0, 1));
             check("EAN-13", Print1DBarcode("590123412345", 20, 380, 7, 2, 6, 80, 0, 1));
             check("EAN-8", Print1DBarcode("1234567", 420, 380, 8, 2, 6, 80, 0, 1));
             check("GS1-128", Print1DBarcode("(01)09501101530003", 20, 500, 9, 2, 6, 80, 0, 1));
             check("ITF-14", Print1DBarcode("1234567890123", 20, 640, 16, 2, 6, 80, 0, 0));
             check("unknown type", Print1DBarcode("X", 20, 760, 17, 2, 6, 80, 0, 0));
         }},
        {"barcode_2d", false,
         [] {
             check("MaxiCode", PrintMaxiCode("VREN MAXICODE SAMPLE", 20, 20, 4));
             check("PDF417", PrintPDF417("VREN PDF417 SAMPLE", 300, 20, 10, 4, 2, 0, 0, 1, 2, 6, 0));
             check("QR", PrintQRCode("https://example.org/vren", 20, 300, 2, 1, 3, 0));
             check("Data Matrix", PrintDataMatrix("VREN DATA MATRIX", 300, 300, 3, 0, 0));
             check("Data Matrix rect", PrintDataMatrix("VREN", 480, 300, 3, 1, 0));
             check("Aztec", PrintAztec("VREN AZTEC", 620, 300, 3, 0, 23, 0, 15, 0, 0));
             check("QR turned", PrintQRCode("TURNED", 300, 500, 2, 3, 2, 1));
         }},
        {"barcode_stacked", false,
         [] {
             check("Code 49", PrintCode49("VREN CODE 49", 20, 20, 2, 4, 20, 0, 0, 0));
             check("Codablock F", PrintCODABLOCK("VREN CODABLOCK F SAMPLE", 20, 160, 2, 4, 16, 0, 30, 2, 4));
             check("Codablock A", PrintCODABLOCK("MODE A", 20, 320, 2, 4, 16, 0, 30, 0, 5));
             check("MicroPDF", PrintMicroPDF("VREN MICRO", 420, 20, 2, 6, 0, 0));
             check("DataBar omni", PrintGS1DataBar("(01)09501101530003", 20, 480, 0, 2, 1, 0, 0, 0));
             check("DataBar limited", PrintGS1DataBar("(01)09501101530003", 420, 480, 4, 2, 1, 0, 0, 0));
             check("DataBar expanded", PrintGS1DataBar("(01)98898765432106(3202)012345", 20, 620, 5, 2, 1, 0, 0, 0));
             check("DataBar expanded stacked",
                   PrintGS1DataBar("(01)98898765432106(3202)012345(15)991231", 20, 760, 5, 2, 1, 0, 4, 0));
         }},
        {"settings", true,
         [] {
             check("speed", SetSpeed(5));
             check("density", SetDensity(12));
             check("cutter", SetCutter(1, 3));
             check("rewinder", SetRewinder(0));
             check("offset", SetOffset(-10));
             check("cut position", SetCutPostion(4));
             check("printing type", SetPrintingType(1));
             check("back feed", SetBackFeed(1));
             check("character set", SetCharacterSet(1, 2));
             check("paper", SetPaper(400, 300, 0, 0, 24));
             check("margin", SetMargin(16, 8));
             check("orientation", SetOrientation('B'));
             check("block", PrintBlock(0, 0, 100, 40, 0, 0));
             check("frame", PrintBlock(0, 0, 384, 292, 4, 2));
         }},
        {"bitmap", true,
         [] {
             const std::string pattern = writePattern("pattern.bmp", 203, 101);
             check("LD", PrintBitmap(pattern.c_str(), 20, 20, 0));
             check("LCR", PrintBitmap(pattern.c_str(), 300, 20, 1));
             check("logo LD", PrintBitmap(kLogo.c_str(), 20, 200, 0));
             check("logo LCR", PrintBitmap(kLogo.c_str(), 300, 200, 1));
             check("block over the bitmaps", PrintBlock(10, 215, 600, 225, 1, 0));
         }},
        {"control", true,
         [] {
             check("paper", SetPaper(300, 200, 0, 0, 24));
             check("block before clear", PrintBlock(0, 0, 300, 200, 0, 0));
             check("clear", ClearBuffer());
             check("calibrate", CalibrateMedia());
             check("feed", FeedOneLabel());
             ASSERT_EQ(0, CheckPrinterStatus());
             check("block", PrintBlock(10, 10, 60, 60, 0, 0));
         }},
    };
    return table;
}

class GoldenLabel : public vren::test::LibraryTest, public ::testing::WithParamInterface<size_t> {
protected:
    // The bytes of the label, once its print command has arrived.
    std::string labelBytes() {
        std::string bytes;
        vren::test::waitFor([&] {
            bytes = printer_->received(0);
            return bytes.ends_with("P1,1\r");
        });
        return bytes;
    }
};

// Dots that differ between two pictures of the same size.
size_t differingDots(const render::Canvas &a, const render::Canvas &b) {
    size_t count = 0;
    for (size_t i = 0; i < a.dots().size(); ++i)
        count += a.dots()[i] != b.dots()[i];
    return count;
}

TEST_P(GoldenLabel, MatchesTheReference) {
    const Golden &golden = goldens()[GetParam()];
    ASSERT_EQ(0, connectToVirtualPrinter());
    golden.compose();
    if (HasFatalFailure())
        return;
    ASSERT_EQ(0, Prints(1, 1));
    const std::string bytes = labelBytes();
    ASSERT_TRUE(bytes.ends_with("P1,1\r"));

    render::Session session;
    session.feed(bytes.data(), bytes.size());
    session.finish();
    std::vector<render::LabelOutput> labels = session.take();
    ASSERT_EQ(1u, labels.size());
    const render::LabelOutput &label = labels[0];
    const fs::path base = kGolden / golden.name;

    if (updating()) {
        std::ofstream(base.string() + ".bin", std::ios::binary) << bytes;
        std::ofstream(base.string() + ".json", std::ios::binary) << label.transcript;
        ASSERT_TRUE(render::writePng(label.canvas, base.string() + ".png"));
        GTEST_SKIP() << "reference written: " << base.string();
    }

    EXPECT_BYTES(fileText(base.string() + ".bin"), bytes);
    EXPECT_EQ(fileText(base.string() + ".json"), label.transcript);
    render::Canvas reference;
    std::string error;
    ASSERT_TRUE(render::readPng(base.string() + ".png", reference, &error)) << error;
    ASSERT_EQ(reference.width(), label.canvas.width());
    ASSERT_EQ(reference.height(), label.canvas.height());
    const size_t differing = differingDots(reference, label.canvas);
    // Font rasterisation may vary slightly between FreeType builds.
    const size_t tolerance = golden.exact ? 0 : reference.countDots() / 100;
    EXPECT_LE(differing, tolerance) << golden.name << ": " << differing
                                    << " dots differ from the reference; see " << golden.name << ".actual.png in the build directory";
    if (differing > tolerance)
        render::writePng(label.canvas, std::string(VREN_BINARY_DIR) + "/" + golden.name + ".actual.png");
}

// Every raster sent as LD or LCR decodes back to the loader's raster, bit
// for bit.
class BitmapRoundTrip : public GoldenLabel {};

TEST_F(BitmapRoundTrip, DecodedRasterIsTheLoadedRaster) {
    ASSERT_EQ(0, connectToVirtualPrinter());
    const std::string files[] = {writePattern("a.bmp", 203, 101), writePattern("b.bmp", 8, 1),
                                 writePattern("c.bmp", 9, 300), writePattern("d.bmp", 640, 2), kLogo};
    std::vector<std::vector<uint8_t>> expected;
    for (const std::string &file : files) {
        unsigned char *raster = nullptr;
        VrenImageHeader header{};
        ASSERT_EQ(0, loadImage(file.c_str(), &raster, &header, 0)) << file;
        const size_t size = static_cast<size_t>((header.biWidth + 7) / 8) * static_cast<size_t>(header.biHeight);
        expected.emplace_back(raster, raster + size);
        std::free(raster);
        for (unsigned char compress : {0, 1})
            ASSERT_EQ(0, PrintBitmap(file.c_str(), 7, 9, compress)) << file;
    }
    ASSERT_EQ(0, Prints(1, 1));
    const std::string bytes = labelBytes();
    std::vector<std::vector<uint8_t>> decoded;
    for (const cmdparse::Event &event : cmdparse::parseAll(bytes)) {
        ASSERT_TRUE(std::holds_alternative<cmdparse::Command>(event)) << cmdparse::toJson(std::get<cmdparse::Diagnostic>(event));
        if (const auto *bitmap = std::get_if<cmdparse::Bitmap>(&std::get<cmdparse::Command>(event).body)) {
            EXPECT_EQ(7, bitmap->x);
            EXPECT_EQ(9, bitmap->y);
            decoded.push_back(bitmap->raster);
        }
    }
    ASSERT_EQ(2 * expected.size(), decoded.size());
    for (size_t i = 0; i < decoded.size(); ++i)
        EXPECT_TRUE(decoded[i] == expected[i / 2]) << files[i / 2] << (i % 2 ? " (LCR)" : " (LD)");
}

INSTANTIATE_TEST_SUITE_P(Families, GoldenLabel, ::testing::Range<size_t>(0, goldens().size()),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             return std::string(goldens()[info.param].name);
                         });

}  // namespace
