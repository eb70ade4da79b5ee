// The run-length stream of compressData(), as the printer receives it.
#include <random>

#include "image_fixtures.h"
#include "library_test.h"
#include "memory_limit.h"
#include "test_io.h"

namespace vren::test {
namespace {

std::string repeat(char byte, size_t count) {
    return std::string(count, byte);
}

class CompressTest : public LibraryTest {
protected:
    std::string compressed(const std::string &raster, size_t expectedSize) {
        clearSleeps();
        EXPECT_EQ(compressData(reinterpret_cast<const unsigned char *>(raster.data()),
                               static_cast<uint32_t>(raster.size())),
                  0);
        const std::string bytes = printed(sent_ + expectedSize).substr(sent_);
        sent_ += bytes.size();
        return bytes;
    }
    size_t sent_ = 0;
};

TEST_F(CompressTest, EncodesRunsOfWhiteAndBlack) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    struct Row {
        std::string raster;
        std::string stream;
    };
    const std::vector<Row> rows = {
        /* 0 */ {std::string("\x00\x00\x00\x12\xFF\x34", 6), std::string("\x00\x03\x12\xFF\x01\x34", 6)},
        /* 1 */ {repeat('\x00', 600), std::string("\x00\xFF\x00\xFF\x00\x5A", 6)},
        /* 2 */ {repeat('\x00', 650), std::string("\x00\xFF\x00\xFF\x00\x8C", 6)},  // all-white 100 x 50
        /* 3 */ {repeat('\xFF', 255), std::string("\xFF\xFF", 2)},
        /* 4 */ {repeat('\xFF', 256), std::string("\xFF\xFF\xFF\x01", 4)},
        /* 5 */ {std::string("\x11\x12\x00\x00\x00", 5), std::string("\x11\x12\x00\x03", 4)},  // run at the end
        /* 6 */ {std::string("\x01\x00\x02\xFF\x03", 5), std::string("\x01\x00\x01\x02\xFF\x01\x03", 7)},
        /* 7 */ {std::string("\x00\xFF\x00\xFF", 4), std::string("\x00\x01\xFF\x01\x00\x01\xFF\x01", 8)},  // doubles
        /* 8 */ {"ABCDEFGHIJKLMNOPQRS", "ABCDEFGHIJKLMNOPQRS"},
        /* 9 */ {"ABCDEFGHIJ" + repeat('\x00', 9) + "KLMNOPQRSTU", "ABCDEFGHIJ" + std::string("\x00\x09", 2) + "KLMNOPQRSTU"},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_BYTES(rows[i].stream, compressed(rows[i].raster, rows[i].stream.size()));
    }
    // One request per stream, each with the interface's pauses.
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 10000}));
    EXPECT_EQ(logMessages("compressData").back(), "compressData : success");
    EXPECT_EQ(compressData(nullptr, 0), 0);  // no bytes: an empty stream, whatever the pointer
}

// Bytes announced without data: refused before anything is written.
TEST_F(CompressTest, NullDataWithALengthIsRefused) {
    EXPECT_EQ(compressData(nullptr, 5), VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(logMessages("compressData"), (std::vector<std::string>{"compressData : start", "compressData : no data"}));
    EXPECT_TRUE(logMessages("writeData").empty());
}

TEST_F(CompressTest, MatchesThePlainEncodingOnMixedRasters) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    std::mt19937 random(7);
    // Label-like rasters: long white runs, black bars, edges and noise.
    for (int round = 0; round < 4; ++round) {
        std::string raster;
        while (raster.size() < 20000) {
            const unsigned kind = random() % 4;
            const size_t length = random() % (round == 0 ? 20 : 700);
            if (kind == 0)
                raster += repeat('\x00', length);
            else if (kind == 1)
                raster += repeat('\xFF', length);
            else
                for (size_t i = 0; i < length; ++i)
                    raster += static_cast<char>(kind == 2 ? random() : random() % 3 == 0 ? 0 : 0x0F);
        }
        const std::string expected = referenceStream(raster);
        EXPECT_BYTES(expected, compressed(raster, expected.size())) << "round " << round;
    }
}

TEST_F(CompressTest, ReportsAStreamThatDidNotGoOut) {
    vprinter::Behaviour closing;
    closing.closeAfter = 6;  // the model query, then nothing more
    ASSERT_EQ(connectToVirtualPrinter(closing), 0);
    const std::string raster = repeat('\x12', 4096);
    // The first stream after the hang-up may still reach the socket; the
    // printer's reset fails a later one, whenever it arrives.
    int result = 0;
    waitFor([&] { return (result = compressData(reinterpret_cast<const unsigned char *>(raster.data()), 4096)) != 0; });
    EXPECT_EQ(result, VREN_E_WRITE);
    EXPECT_EQ(logMessages("compressData").back(), "compressData : Failed to write");
}

TEST_F(CompressTest, OutOfMemoryWritesNothing) {
    if (!kCanLimitMemory)
        GTEST_SKIP() << "address-space limits do not mix with AddressSanitizer";
    EXPECT_EXIT(
        {
            std::string raster(64 << 20, '\x12');
            limitAddressSpace(32 << 20);
            const int result =
                compressData(reinterpret_cast<const unsigned char *>(raster.data()), static_cast<uint32_t>(raster.size()));
            const auto log = logMessages("compressData");
            const bool written = !logMessages("writeData").empty();
            std::exit(result == VREN_E_NOMEM && log.back() == "compressData : Failed to allocate memory" && !written ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vren::test
