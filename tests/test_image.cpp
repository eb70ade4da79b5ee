// Bitmap commands on the wire: LD and LCR headers, the raster or its stream,
// PrintBitmap end to end, refusals and failed writes.
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>

#include "dev_nodes.h"
#include "fake_write.h"
#include "image_fixtures.h"
#include "library_test.h"
#include "memory_limit.h"

namespace vren::test {
namespace {

VrenImageHeader headerOf(int32_t width, int32_t height) {
    VrenImageHeader header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = 24;
    return header;
}

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (const int v : values)
        out += static_cast<char>(v);
    return out;
}

class ImageTest : public LibraryTest {
protected:
    // The records of the bitmap functions and the transport, in the order
    // written, as "tag: message"; writeData's per-byte lines are left out.
    std::vector<std::string> trace() const {
        std::vector<std::string> records;
        const std::string text = logText();
        const std::string open = "  : [";
        for (size_t at = 0; (at = text.find(open, at)) != std::string::npos;) {
            const size_t close = text.find("] ", at);
            std::string tag = text.substr(at + open.size(), close - at - open.size());
            tag.erase(tag.find_last_not_of(' ') + 1);
            size_t end = text.find("\n20", close);
            if (end == std::string::npos)
                end = text.size() - 1;
            const std::string message = text.substr(close + 2, end - close - 2);
            const bool bitmap = tag == "PrintBitmap" || tag == "printLD" || tag == "printLCR" ||
                                tag == "compressData" || tag == "loadImage";
            if (bitmap || (tag == "writeData" && message.rfind("i : ", 0) != 0))
                records.push_back(tag + ": " + message);
            at = close;
        }
        return records;
    }

    // Bytes the printer received since the previous call, waiting for `count`.
    std::string next(size_t count) {
        const std::string all = printed(seen_ + count);
        const std::string fresh = all.substr(std::min(seen_, all.size()));
        seen_ = all.size();
        return fresh;
    }
    size_t seen_ = 0;
};

TEST_F(ImageTest, CommandHeadersCarryPositionAndSize) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    struct Row {
        int32_t width, height;
        int x, y;
        std::string ldHeader;
    };
    const std::vector<Row> rows = {
        /* 0 */ {100, 50, 10, 20, bytes({'L', 'D', 0x0A, 0x00, 0x14, 0x00, 0x0D, 0x00, 0x32, 0x00})},
        /* 1 */ {8, 1, 300, 0, bytes({'L', 'D', 0x2C, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00})},
        /* 2 */ {9, 1, 0, 65535, bytes({'L', 'D', 0x00, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0x00})},
        /* 3 */ {1, 2, -1, -300, bytes({'L', 'D', 0xFF, 0x00, 0xD4, 0xFF, 0x01, 0x00, 0x02, 0x00})},
        /* 4 */ {16, 3, 70000, 256, bytes({'L', 'D', 0x70, 0x11, 0x00, 0x01, 0x02, 0x00, 0x03, 0x00})},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        const VrenImageHeader header = headerOf(row.width, row.height);
        const size_t size = static_cast<size_t>((row.width + 7) / 8) * static_cast<size_t>(row.height);
        std::string raster(size, '\0');
        for (size_t b = 0; b < size; ++b)
            raster[b] = static_cast<char>(0x10 + b % 0xE0);  // no runs: the stream equals the raster

        ASSERT_EQ(printLD(reinterpret_cast<const unsigned char *>(raster.data()), &header, row.x, row.y), 0);
        EXPECT_BYTES(row.ldHeader + raster + "\r", next(row.ldHeader.size() + size + 1));

        const std::string lcrHeader = "LCR" + std::string(1, '\0') + row.ldHeader.substr(2);
        ASSERT_EQ(printLCR(reinterpret_cast<const unsigned char *>(raster.data()), &header, row.x, row.y), 0);
        EXPECT_BYTES(lcrHeader + raster + "\r", next(lcrHeader.size() + size + 1));
    }
}

TEST_F(ImageTest, AllWhiteImageCompressesToThreePairs) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    const VrenImageHeader header = headerOf(100, 50);
    const std::string white(650, '\0');
    clearSleeps();
    ASSERT_EQ(printLCR(reinterpret_cast<const unsigned char *>(white.data()), &header, 10, 20), 0);
    const std::string expected =
        bytes({'L', 'C', 'R', 0, 0x0A, 0, 0x14, 0, 0x0D, 0, 0x32, 0, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x8C, 0x0D});
    EXPECT_BYTES(expected, next(expected.size()));
    // Header, stream and end: three requests with the interface's pauses.
    EXPECT_EQ(sleepsTaken().size(), 6u);
    EXPECT_EQ(logMessages("printLCR"), (std::vector<std::string>{"start", "success"}));
}

TEST_F(ImageTest, RecordsFollowTheRequestsInOrder) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    const std::string write = "writeData: write data : ", done = "writeData: complete to write the data.";
    const std::string white(650, '\0');
    const auto *raster = reinterpret_cast<const unsigned char *>(white.data());
    struct Row {
        bool compress;
        int32_t height;
        std::vector<std::string> records;
    };
    const std::vector<Row> rows = {
        /* 0 */ {false, 50, {"printLD: start", write, done, write, done, write, done, "printLD: success"}},
        /* 1 */ {true, 50, {"printLCR: start", write, done, "compressData: compressData : start", write, done,
                            "compressData: compressData : success", write, done, "printLCR: success"}},
        // No rows: the raster (or its stream) is still a request, of no bytes.
        /* 2 */ {false, 0, {"printLD: start", write, done, write, write, done, "printLD: success"}},
        /* 3 */ {true, 0, {"printLCR: start", write, done, "compressData: compressData : start", write,
                           "compressData: compressData : success", write, done, "printLCR: success"}},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const VrenImageHeader header = headerOf(100, rows[i].height);
        markLog();
        ASSERT_EQ((rows[i].compress ? printLCR : printLD)(raster, &header, 1, 2), 0);
        EXPECT_EQ(trace(), rows[i].records);
    }
}

// PrintBitmap's records around the loader's and the command's, in order.
TEST_F(ImageTest, PrintBitmapRecordsInOrder) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    writeFile("logo.bmp", makeBmp(patternPicture(16, 4, {kWhite, kBlack})));
    const std::string write = "writeData: write data : ", done = "writeData: complete to write the data.";
    struct Row {
        std::string path;
        unsigned char compress;
        int result;
        std::vector<std::string> records;
    };
    const std::vector<Row> rows = {
        /* 0 */ {"logo.bmp", 0, 0,
                 {"PrintBitmap: start", "loadImage: success", "PrintBitmap: LD Command", "printLD: start", write, done,
                  write, done, write, done, "printLD: success", "PrintBitmap: success"}},
        /* 1 */ {"logo.bmp", 1, 0,
                 {"PrintBitmap: start", "loadImage: success", "PrintBitmap: LCR Command", "printLCR: start", write,
                  done, "compressData: compressData : start", write, done, "compressData: compressData : success",
                  write, done, "printLCR: success", "PrintBitmap: success"}},
        /* 2 */ {"missing.img", 1, VREN_E_IMAGE_OPEN,
                 {"PrintBitmap: start", "loadImage: Failed to open image file.", "PrintBitmap: Failed to load image"}},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        markLog();
        EXPECT_EQ(PrintBitmap(rows[i].path.c_str(), 3, 4, rows[i].compress), rows[i].result);
        EXPECT_EQ(trace(), rows[i].records);
    }
}

TEST_F(ImageTest, RefusesSizesTheCommandsCannotCarry) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    const unsigned char raster[1] = {0};
    struct Row {
        int32_t width, height;
    };
    // 65536 bytes per row, 65536 rows, and a negative height read as unsigned.
    for (const Row row : {Row{65535 * 8 + 1, 1}, Row{8, 65536}, Row{8, -1}}) {
        const VrenImageHeader header = headerOf(row.width, row.height);
        EXPECT_EQ(printLD(raster, &header, 0, 0), VREN_E_IMAGE_FORMAT);
        EXPECT_EQ(printLCR(raster, &header, 0, 0), VREN_E_IMAGE_FORMAT);
    }
    EXPECT_EQ(printLD(raster, nullptr, 0, 0), VREN_E_IMAGE_FORMAT);
    // A null raster is refused where the header describes bytes to send.
    const VrenImageHeader one = headerOf(8, 1);
    EXPECT_EQ(printLD(nullptr, &one, 0, 0), VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(printLCR(nullptr, &one, 0, 0), VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(logMessages("printLD")[1], "Image is too large for the bitmap command : 65536 bytes per row, 1 rows");
    // The largest sizes that fit are sent.
    const VrenImageHeader widest = headerOf(65535 * 8, 1);
    const std::string row(65535, '\0');
    EXPECT_EQ(printLD(reinterpret_cast<const unsigned char *>(row.data()), &widest, 0, 0), 0);
    EXPECT_EQ(next(10 + 65535 + 1).substr(0, 10), bytes({'L', 'D', 0, 0, 0, 0, 0xFF, 0xFF, 0x01, 0x00}));
}

// An image without rows needs no raster: each command is its header and its end.
TEST_F(ImageTest, ImageWithoutRowsNeedsNoRaster) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    const VrenImageHeader empty = headerOf(8, 0);
    EXPECT_EQ(printLD(nullptr, &empty, 1, 2), 0);
    EXPECT_BYTES(bytes({'L', 'D', 1, 0, 2, 0, 1, 0, 0, 0, '\r'}), next(11));
    EXPECT_EQ(printLCR(nullptr, &empty, 1, 2), 0);
    EXPECT_BYTES(bytes({'L', 'C', 'R', 0, 1, 0, 2, 0, 1, 0, 0, 0, '\r'}), next(13));
}

// An image too large for the commands' fields loads but is not printed: the
// refusal is not a write failure, and nothing is sent.
TEST_F(ImageTest, PrintBitmapOfAnImageTooWideForTheCommands) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    writeFile("wide.bmp", makeBmp(patternPicture(65535 * 8 + 1, 1, {kWhite})));
    for (const unsigned char compress : {0, 1}) {
        SCOPED_TRACE(int{compress});
        markLog();
        EXPECT_EQ(PrintBitmap("wide.bmp", 0, 0, compress), VREN_E_IMAGE_FORMAT);
        EXPECT_EQ(logMessages("PrintBitmap"),
                  (std::vector<std::string>{"start", compress != 0 ? "LCR Command" : "LD Command", "Failed to print image"}));
    }
    EXPECT_EQ(next(0), "");
}

TEST_F(ImageTest, PrintBitmapSendsTheLoadedImage) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    const Picture picture = patternPicture(21, 9, {kWhite, kBlack, {254, 255, 255}});
    writeFile("logo.bmp", makeBmp(picture));
    const std::string raster = expectedRaster(picture);
    const std::string ld = bytes({'L', 'D', 5, 0, 7, 0, 3, 0, 9, 0}) + raster + "\r";
    ASSERT_EQ(PrintBitmap("logo.bmp", 5, 7, 0), 0);
    EXPECT_BYTES(ld, next(ld.size()));
    EXPECT_EQ(logMessages("PrintBitmap"), (std::vector<std::string>{"start", "LD Command", "success"}));

    // Any true flag selects LCR.
    const std::string lcr = bytes({'L', 'C', 'R', 0, 5, 0, 7, 0, 3, 0, 9, 0}) + referenceStream(raster) + "\r";
    for (const unsigned char flag : {1, 2, 255}) {
        ASSERT_EQ(PrintBitmap("logo.bmp", 5, 7, flag), 0);
        EXPECT_BYTES(lcr, next(lcr.size())) << "flag " << int{flag};
    }
    EXPECT_EQ(logMessages("PrintBitmap")[4], "LCR Command");
}

TEST_F(ImageTest, PrintBitmapOfAFullLabelArrivesWhole) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    // 4 x 6 inches at 203 dpi: 102 bytes per row, 1218 rows, 124236 bytes.
    const Picture picture = patternPicture(812, 1218, {kWhite, kWhite, kWhite, kBlack});
    writeFile("label.bmp", makeBmp(picture));
    ASSERT_EQ(PrintBitmap("label.bmp", 0, 0, 0), 0);
    const std::string expected = bytes({'L', 'D', 0, 0, 0, 0, 102, 0, 0xC2, 0x04}) + expectedRaster(picture) + "\r";
    const std::string got = next(expected.size());
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the label arrived altered";
}

// Over a serial line one writeData() call carries 102,400 bytes: a larger
// raster (LD) or stream (LCR) takes several calls and arrives whole.
TEST_F(ImageTest, RasterLargerThanOneCallArrivesWholeOverSerial) {
    PseudoTerminal pty;
    const VrenImageHeader header = headerOf(800, 1100);  // 100 bytes per row, 110,000 bytes
    std::string raster(110000, '\0');
    for (size_t b = 0; b < raster.size(); ++b)
        raster[b] = static_cast<char>(0x10 + b % 0xE0);  // no runs, no line ends
    const auto *data = reinterpret_cast<const unsigned char *>(raster.data());
    const int status = runWithDevNodes(
        {{"ttyS0", pty.slavePath()}},
        [&] {
            pauseUntilLineIsRead(pty.master());
            ASSERT_EQ(ConnectToPrinter("/dev/ttyS0:115200"), 0);
            EXPECT_EQ(printLD(data, &header, 1, 2), 0);
            EXPECT_EQ(printLCR(data, &header, 1, 2), 0);
        },
        [&] {
            printer_ = std::make_unique<vprinter::VirtualPrinter>();
            printer_->serveDescriptor(pty.releaseMaster());
        });
    if (status == kNoPrivateDev)
        GTEST_SKIP() << "no private mount namespace for /dev on this machine";
    ASSERT_EQ(status, 0);
    const std::string ld = bytes({'L', 'D', 1, 0, 2, 0, 100, 0, 0x4C, 0x04}) + raster + "\r";
    const std::string lcr = bytes({'L', 'C', 'R', 0, 1, 0, 2, 0, 100, 0, 0x4C, 0x04}) + raster + "\r";
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + ld.size() + lcr.size(), std::chrono::seconds(10)));
    EXPECT_TRUE(printer_->received(0).substr(6) == ld + lcr) << "the bitmap arrived altered";
}

TEST_F(ImageTest, PrintBitmapReportsWhatWentWrong) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    EXPECT_EQ(PrintBitmap("missing.bmp", 0, 0, 0), VREN_E_IMAGE_OPEN);
    writeFile("text.img", "not an image");
    EXPECT_EQ(PrintBitmap("text.img", 0, 0, 1), VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(logMessages("PrintBitmap").back(), "Failed to load image");
    EXPECT_EQ(next(0), "");  // nothing was sent
}

TEST_F(ImageTest, WriteFailureIsNeverSuccess) {
    vprinter::Behaviour closing;
    closing.closeAfter = 6 + 10;  // the model query and an LD header
    ASSERT_EQ(connectToVirtualPrinter(closing), 0);
    writeFile("label.bmp", makeBmp(patternPicture(400, 300, {kWhite, kBlack})));
    int ld = PrintBitmap("label.bmp", 0, 0, 0);
    EXPECT_EQ(ld, VREN_E_WRITE);
    EXPECT_EQ(logMessages("printLD").back(), "Failed to write");
    EXPECT_EQ(logMessages("PrintBitmap").back(), "Failed to write");
    EXPECT_EQ(PrintBitmap("label.bmp", 0, 0, 1), VREN_E_WRITE);
    EXPECT_EQ(logMessages("printLCR").back(), "Failed to write");
}

// A stream that did not go out ends the command: no carriage return follows.
TEST_F(ImageTest, LcrStopsAtAStreamThatFailed) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    const VrenImageHeader header = headerOf(100, 50);
    const std::string white(650, '\0');  // a stream of 6 bytes
    setWriteObserver([](int fd, size_t length) {
        if (length == 6)
            shutdown(fd, SHUT_WR);
    });
    markLog();
    EXPECT_EQ(printLCR(reinterpret_cast<const unsigned char *>(white.data()), &header, 0, 0), VREN_E_WRITE);
    setWriteObserver(nullptr);
    const auto records = trace();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(records.end() - 2, records.end()),
              (std::vector<std::string>{"compressData: compressData : Failed to write", "printLCR: Failed to write"}));
}

// Any request that fails ends the command: nothing of it is written after
// the failed request, not even the carriage return.
size_t gFailingLength = 0;

TEST_F(ImageTest, FailedRequestEndsTheCommand) {
    const VrenImageHeader header = headerOf(100, 50);
    std::string raster(650, '\0');
    for (size_t b = 0; b < raster.size(); ++b)
        raster[b] = static_cast<char>(0x10 + b % 0xE0);  // no runs: a stream of 650 bytes
    struct Row {
        bool compress;
        size_t failing;   // length of the request that fails
        size_t requests;  // requests made, the failed one included
    };
    const std::vector<Row> rows = {
        /* 0: LD header */ {false, 10, 1},
        /* 1: LD raster */ {false, 650, 2},
        /* 2: LCR header */ {true, 12, 1},
        /* 3: LCR stream */ {true, 650, 2},
        /* 4: LD end */ {false, 1, 3},
        /* 5: LCR end */ {true, 1, 3},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        ASSERT_EQ(connectToVirtualPrinter(), 0);
        gFailingLength = rows[i].failing;
        setWriteObserver([](int fd, size_t length) {
            if (length == gFailingLength)
                shutdown(fd, SHUT_WR);
        });
        markLog();
        const auto print = rows[i].compress ? printLCR : printLD;
        EXPECT_EQ(print(reinterpret_cast<const unsigned char *>(raster.data()), &header, 0, 0), VREN_E_WRITE);
        setWriteObserver(nullptr);
        const std::vector<std::string> records = trace();
        EXPECT_EQ(std::ranges::count(records, "writeData: write data : "), static_cast<long>(rows[i].requests));
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.back(), std::string(rows[i].compress ? "printLCR" : "printLD") + ": Failed to write");
        if (rows[i].compress && rows[i].requests == 1) {
            EXPECT_TRUE(logMessages("compressData").empty()) << "compressed after the header failed";
        }
        DisconnectPrinter();
    }
}

TEST_F(ImageTest, LcrThatCannotCompressSendsNothing) {
    if (!kCanLimitMemory)
        GTEST_SKIP() << "address-space limits do not mix with AddressSanitizer";
    EXPECT_EXIT(
        {
            // 60 MB of raster: more than any memory freed earlier in the process.
            const VrenImageHeader header = headerOf(8000, 60000);
            std::string raster(1000 * 60000, '\x12');
            limitAddressSpace(4 << 20);
            const int result = printLCR(reinterpret_cast<const unsigned char *>(raster.data()), &header, 0, 0);
            const bool written = !logMessages("writeData").empty();
            std::vector<std::string> failed;
            failed.push_back("compressData : start");
            failed.push_back("compressData : Failed to allocate memory");
            const bool logged = logMessages("compressData") == failed;
            std::exit(result == VREN_E_NOMEM && !written && logged ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vren::test
