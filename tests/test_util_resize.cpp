// Scaling a one-byte-per-pixel image: sampling positions, sizes, packing.
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "library_test.h"
#include "memory_limit.h"

namespace vren::test {
namespace {

struct Scaled {
    int result;
    VrenImageHeader header;
    std::string raster;  // the rows the header describes
    std::string tail;    // the rest of a target width x rows buffer after them
    size_t allocated;    // usable size of the buffer
};

// Scales a W x H image whose dots (value `dot`) are at the given (x, y) positions.
Scaled scale(uint32_t width, uint32_t height, int32_t target, const std::vector<std::pair<uint32_t, uint32_t>> &dots,
             unsigned char dot = 1) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height + 1, 0);
    for (const auto &[x, y] : dots)
        pixels[static_cast<size_t>(y) * width + x] = dot;
    VrenImageHeader header{};
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    header.biBitCount = 24;
    unsigned char *raster = nullptr;
    Scaled scaled{resizeImage(pixels.data(), &raster, target, &header), header, {}, {}, 0};
    if (scaled.result == 0) {
        const size_t rows = static_cast<size_t>((header.biWidth + 7) / 8) * static_cast<uint32_t>(header.biHeight);
        const size_t whole = static_cast<size_t>(header.biWidth) * static_cast<uint32_t>(header.biHeight);
        scaled.allocated = malloc_usable_size(raster);
        scaled.raster.assign(reinterpret_cast<const char *>(raster), rows);
        if (scaled.allocated >= whole)
            scaled.tail.assign(reinterpret_cast<const char *>(raster) + rows, whole - rows);
        std::free(raster);
    }
    return scaled;
}

std::vector<std::pair<uint32_t, uint32_t>> everyPixel(uint32_t width, uint32_t height) {
    std::vector<std::pair<uint32_t, uint32_t>> all;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            all.emplace_back(x, y);
    return all;
}

std::string repeated(const std::string &row, size_t times) {
    std::string all;
    for (size_t i = 0; i < times; ++i)
        all += row;
    return all;
}

using ResizeTest = LibraryTest;

TEST_F(ResizeTest, SamplesTheNearestSourcePixel) {
    struct Row {
        uint32_t width, height;
        int32_t target;
        std::vector<std::pair<uint32_t, uint32_t>> dots;
        int32_t newHeight;
        std::string raster;
    };
    const std::vector<Row> rows = {
        // Upscaling 3 columns to 8 samples 0 0 1 1 1 1 2 2 (two rows, each from row 0).
        /* 0 */ {3, 1, 8, {{0, 0}}, 2, "\xC0\xC0"},
        /* 1 */ {3, 1, 8, {{1, 0}}, 2, "\x3C\x3C"},
        /* 2 */ {3, 1, 8, {{2, 0}}, 2, "\x03\x03"},
        // Scaling 4 columns to 4 samples 0 1 2 2: column 3 is never taken.
        /* 3 */ {4, 1, 4, {{2, 0}}, 1, "\x30"},
        /* 4 */ {4, 1, 4, {{3, 0}}, 1, std::string(1, '\0')},
        // Same width is no identity; bits past the width stay 0.
        /* 5 */ {10, 1, 10, everyPixel(10, 1), 1, "\xFF\xC0"},
        // Height 1 to a smaller width: no rows at all.
        /* 6 */ {10, 1, 5, everyPixel(10, 1), 0, ""},
        // The row count is truncated: 5 x 2/3 gives 3.
        /* 7 */ {3, 5, 2, everyPixel(3, 5), 3, "\xC0\xC0\xC0"},
        // Width 8: one byte per row.
        /* 8 */ {16, 2, 8, {{0, 0}, {15, 1}}, 1, "\x80"},
        // Height 2 to less than half the width: 0.8 rows truncate to none.
        /* 9 */ {10, 2, 4, everyPixel(10, 2), 0, ""},
        // Single precision: 25 x 0.02f is 0.5 in a float (in double just below),
        // so output column 25 already samples source column 1.
        /* 10 */ {2, 1, 50, {{1, 0}}, 25, repeated(std::string("\0\0\0\x7F\xFF\xFF\xC0", 7), 25)},
        // 27 x (7 / 3) is 62.99... in single precision: 62 rows, not 63.
        /* 11 */ {3, 27, 7, everyPixel(3, 27), 62, std::string(62, '\xFE')},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        const Scaled scaled = scale(row.width, row.height, row.target, row.dots);
        ASSERT_EQ(scaled.result, 0);
        EXPECT_EQ(scaled.header.biWidth, row.target);
        EXPECT_EQ(scaled.header.biHeight, row.newHeight);
        EXPECT_EQ(scaled.header.biBitCount, 24);  // nothing else changes
        EXPECT_BYTES(row.raster, scaled.raster);
    }
}

TEST_F(ResizeTest, LogsTheRatiosAsDivided) {
    // No rows: the row ratio divides by zero, and the log shows what came out.
    ASSERT_EQ(scale(10, 2, 4, {}).result, 0);
    EXPECT_EQ(logMessages("resizeImage")[1], "x_ratio : 2.250000, height : 0, y_ratio: inf");
    markLog();
    ASSERT_EQ(scale(10, 1, 5, {}).result, 0);
    EXPECT_NE(logMessages("resizeImage")[1].find("height : 0, y_ratio: "), std::string::npos);
    EXPECT_NE(logMessages("resizeImage")[1].find("nan"), std::string::npos);
}

TEST_F(ResizeTest, BufferHoldsTargetWidthBytesPerRow) {
    // 100 x 50 bytes, of which the first 650 hold the rows and the rest stay 0.
    const Scaled scaled = scale(200, 100, 100, everyPixel(200, 100));
    ASSERT_EQ(scaled.result, 0);
    EXPECT_GE(scaled.allocated, 5000u);
    std::string rows;
    for (int row = 0; row < 50; ++row)
        rows += std::string(12, '\xFF') + '\xF0';
    EXPECT_BYTES(rows, scaled.raster);
    EXPECT_TRUE(scaled.tail == std::string(5000 - 650, '\0')) << "bytes after the rows must exist and be 0";
}

TEST_F(ResizeTest, AnyNonZeroPixelIsOneDot) {
    // A pixel byte other than 0 or 1 marks its own column only; it is never
    // shifted into the bits of its neighbours.
    const Scaled scaled = scale(8, 1, 16, {{3, 0}}, 2);
    ASSERT_EQ(scaled.result, 0);
    EXPECT_BYTES(std::string("\x03\x00\x03\x00", 4), scaled.raster);
}

TEST_F(ResizeTest, WorkedExampleHalvesTwoHundredColumns) {
    // Output row 1 samples source row 2 (1.98 + 0.5), output column 3 source
    // column 6 (5.97 + 0.5); no other output pixel samples (6, 2).
    const Scaled scaled = scale(200, 100, 100, {{6, 2}});
    ASSERT_EQ(scaled.result, 0);
    EXPECT_EQ(scaled.header.biHeight, 50);
    std::string expected(13 * 50, '\0');
    expected[13 * 1 + 0] = 0x10;
    EXPECT_BYTES(expected, scaled.raster);
    const auto log = logMessages("resizeImage");
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "biWidth : 200, biHeight : 100");
    EXPECT_EQ(log[1], "x_ratio : 1.990000, height : 50, y_ratio: 1.980000");
    EXPECT_EQ(log[2], "start");
    EXPECT_EQ(log[3], "end");
}

TEST_F(ResizeTest, RefusesWidthsItCannotScaleTo) {
    for (const auto &[width, target] : std::vector<std::pair<uint32_t, int32_t>>{{10, 0}, {10, -3}, {0, 8}}) {
        const Scaled scaled = scale(width, 2, target, {});
        EXPECT_EQ(scaled.result, VREN_E_IMAGE_FORMAT) << width << " -> " << target;
        EXPECT_EQ(scaled.header.biWidth, static_cast<int32_t>(width));
    }
}

// Missing buffers are refused and nothing changes; the source pixels are
// needed only when there are rows to sample.
TEST_F(ResizeTest, RefusesMissingBuffers) {
    const unsigned char pixels[16] = {1};
    unsigned char *raster = nullptr;
    struct Row {
        const unsigned char *pixels;
        unsigned char **scaled;
        bool header;
    };
    const std::vector<Row> rows = {
        /* 0 */ {nullptr, &raster, true},
        /* 1 */ {pixels, nullptr, true},
        /* 2 */ {pixels, &raster, false},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        VrenImageHeader header{};
        header.biWidth = 4;
        header.biHeight = 4;
        markLog();
        EXPECT_EQ(resizeImage(rows[i].pixels, rows[i].scaled, 8, rows[i].header ? &header : nullptr),
                  VREN_E_IMAGE_FORMAT);
        EXPECT_EQ(raster, nullptr);
        EXPECT_EQ(header.biWidth, 4);
        EXPECT_EQ(header.biHeight, 4);
        EXPECT_EQ(logMessages("resizeImage").back(), "Invalid argument");
    }
    VrenImageHeader noRows{};
    noRows.biWidth = 10;
    noRows.biHeight = 1;
    ASSERT_EQ(resizeImage(nullptr, &raster, 5, &noRows), 0);
    EXPECT_EQ(noRows.biHeight, 0);
    std::free(raster);
}

// So many rows that the row ratio rounds to 1 in single precision: the last
// output row's sample position rounds past the last source row and is kept
// on it, never on the byte after the image.
TEST_F(ResizeTest, SamplePositionsStayOnTheImage) {
    constexpr uint32_t kRows = 1u << 25;
    std::vector<unsigned char> pixels(kRows + 1, 0);
    pixels[kRows - 1] = 1;
    VrenImageHeader header{};
    header.biWidth = 1;
    header.biHeight = static_cast<int32_t>(kRows);
    unsigned char *raster = nullptr;
    ASSERT_EQ(resizeImage(pixels.data(), &raster, 1, &header), 0);
    ASSERT_EQ(header.biHeight, static_cast<int32_t>(kRows));
    EXPECT_EQ(logMessages("resizeImage")[1], "x_ratio : 0.000000, height : 33554432, y_ratio: 1.000000");
    const size_t dots = static_cast<size_t>(std::count_if(raster, raster + kRows, [](unsigned char b) { return b != 0; }));
    EXPECT_EQ(dots, 1u);
    EXPECT_EQ(raster[kRows - 1], 0x80);
    std::free(raster);
}

// A row count beyond an int cannot be allocated: the failure of the
// allocation, after the usual records (the count shown saturated), with a null
// raster and the header as it was.
TEST_F(ResizeTest, RowCountBeyondAnIntIsAnAllocationFailure) {
    const unsigned char pixel = 1;
    VrenImageHeader header{};
    header.biWidth = 1;
    header.biHeight = -1;  // 4294967295 rows, read as unsigned
    unsigned char stale = 0;
    unsigned char *raster = &stale;
    EXPECT_EQ(resizeImage(&pixel, &raster, 1, &header), VREN_E_NOMEM);
    EXPECT_EQ(raster, nullptr);
    EXPECT_EQ(header.biWidth, 1);
    EXPECT_EQ(header.biHeight, -1);
    EXPECT_EQ(logMessages("resizeImage"),
              (std::vector<std::string>{"biWidth : 1, biHeight : -1",
                                        "x_ratio : 0.000000, height : 2147483647, y_ratio: 2.000000", "start",
                                        "Failed to alloc memory"}));
}

TEST_F(ResizeTest, OutOfMemoryLeavesTheHeaderAlone) {
    if (!kCanLimitMemory)
        GTEST_SKIP() << "address-space limits do not mix with AddressSanitizer";
    EXPECT_EXIT(
        {
            limitAddressSpace(64 << 20);
            const unsigned char pixel = 1;
            VrenImageHeader header{};
            header.biWidth = 1;
            header.biHeight = 1;
            unsigned char stale = 0;
            unsigned char *raster = &stale;
            const int result = resizeImage(&pixel, &raster, 100000, &header);  // 100000 rows
            const bool untouched = header.biWidth == 1 && header.biHeight == 1;
            const bool failedLine = logMessages("resizeImage").back() == "Failed to alloc memory";
            std::exit(result == VREN_E_NOMEM && untouched && raster == nullptr && failedLine ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vren::test
