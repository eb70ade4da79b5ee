// Table-driven tests of the application's pure parts: device URIs, page
// bands and the status reasons.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "VrenLabelAPI.h"
#include "bands.h"
#include "device.h"
#include "status.h"

namespace {

struct UriRow {
    const char *uri;
    std::optional<std::string> address;
};

const UriRow kUris[] = {
    /* 1 */ {"vren://192.168.0.50:9100", "192.168.0.50:9100"},
    /* 2 */ {"vren://10.0.0.7", "10.0.0.7:9100"},
    /* 3 */ {"vren://10.0.0.7:9101/", "10.0.0.7:9101"},
    /* 4 */ {"vren:///dev/ttyS0?baud=115200", "/dev/ttyS0:115200"},
    /* 5 */ {"vren:///dev/ttyS3", "/dev/ttyS3:9600"},
    /* 6 */ {"vren:/serial?baud=19200", "SERIAL:19200"},
    /* 7 */ {"vren:///dev/lp0", "/dev/lp0"},
    /* 8 */ {"vren:/parallel", "PARALLEL"},
    /* 9 */ {"vren:/usb", "USB"},
    /* 10 */ {"vren://bt/AA:BB:CC:DD:EE:FF", "AA:BB:CC:DD:EE:FF"},
    /* 11 */ {"vren://printer.local:9100", std::nullopt},  // the library resolves no names
    /* 12 */ {"vren://192.168.0.256:9100", std::nullopt},
    /* 13 */ {"vren://192.168.0.50:70000", std::nullopt},
    /* 14 */ {"vren:///dev/ttyS0?baud=fast", std::nullopt},
    /* 15 */ {"vren:///dev/sda", std::nullopt},
    /* 16 */ {"vren://bt/AA:BB:CC:DD:EE", std::nullopt},
    /* 17 */ {"socket://192.168.0.50:9100", std::nullopt},
    /* 18 */ {"vren:/usb?x=1", std::nullopt},
    /* 19 */ {"vren:///dev/lp0?baud=9600", std::nullopt},
};

TEST(DeviceUri, AddressForEachForm) {
    for (size_t row = 0; row < std::size(kUris); ++row)
        EXPECT_EQ(vrenapp::addressForUri(kUris[row].uri), kUris[row].address) << "row " << row + 1;
}

struct RunLengthRow {
    std::vector<unsigned char> data;
    size_t size;
};

TEST(Bands, RunLengthSizeMatchesTheLibrarysStream) {
    const RunLengthRow rows[] = {
        /* 1 */ {{0x00, 0x00, 0x00, 0x12, 0xFF, 0x34}, 6},  // 00 03 12 FF 01 34
        /* 2 */ {std::vector<unsigned char>(600, 0x00), 6},  // 00 FF 00 FF 00 5A
        /* 3 */ {{0x12, 0x34}, 2},
        /* 4 */ {{0x00, 0x12, 0xFF}, 5},
        /* 5 */ {{}, 0},
    };
    for (size_t row = 0; row < std::size(rows); ++row)
        EXPECT_EQ(vrenapp::runLengthSize(rows[row].data.data(), rows[row].data.size()), rows[row].size)
            << "row " << row + 1;
}

TEST(Bands, APageIsCutIntoBandsThatFitOneSerialCall) {
    // 812 x 1218 dots of incompressible pattern: 124,236 bytes.
    const unsigned perRow = 102, rows = 1218;
    std::vector<unsigned char> page(perRow * rows);
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<unsigned char>(0x55 ^ (i * 7));
    const auto bands = vrenapp::planBands(page.data(), perRow, rows);
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_EQ(bands[0].firstRow, 0u);
    EXPECT_EQ(bands[0].rows, 1003u);  // 102,400 / 102
    EXPECT_EQ(bands[1].firstRow, 1003u);
    EXPECT_EQ(bands[1].rows, 215u);
    for (const auto &band : bands) {
        EXPECT_LE(band.bytes, vrenapp::kMaxBitmapBytes);
        EXPECT_FALSE(band.compressed);
    }
}

TEST(Bands, BlankRowsAreLeftOutAndRunsAreCompressed) {
    const unsigned perRow = 10, rows = 100;
    std::vector<unsigned char> page(perRow * rows, 0);
    std::memset(page.data() + 40 * perRow, 0xFF, 5 * perRow);  // rows 40..44 black
    const auto bands = vrenapp::planBands(page.data(), perRow, rows);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0].firstRow, 40u);
    EXPECT_EQ(bands[0].rows, 5u);
    EXPECT_TRUE(bands[0].compressed);
    EXPECT_EQ(bands[0].bytes, 2u);
    EXPECT_TRUE(vrenapp::planBands(std::vector<unsigned char>(perRow * rows).data(), perRow, rows).empty());
}

TEST(Status, BitsBecomeReasons) {
    const struct {
        int status;
        pappl_preason_t reasons;
        const char *text;
    } rows[] = {
        /* 1 */ {0, PAPPL_PREASON_NONE, ""},
        /* 2 */ {VREN_STATUS_PAPER_EMPTY, PAPPL_PREASON_MEDIA_EMPTY, "paper empty"},
        /* 3 */ {VREN_STATUS_COVER_OPEN, PAPPL_PREASON_COVER_OPEN, "cover open"},
        /* 4 */ {VREN_STATUS_RIBBON_END, PAPPL_PREASON_MARKER_SUPPLY_EMPTY, "ribbon end"},
        /* 5 */ {VREN_STATUS_CUTTER_JAM, PAPPL_PREASON_MEDIA_JAM, "cutter jam"},
        /* 6 */ {VREN_STATUS_GAP_ERROR | VREN_STATUS_HEAD_OVERHEAT, PAPPL_PREASON_OTHER, "gap error, head overheat"},
        /* 7 */ {VREN_E_READ, PAPPL_PREASON_OFFLINE, "no answer"},
        /* 8 */ {0x44, PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_COVER_OPEN, "ribbon end, cover open"},
    };
    for (size_t row = 0; row < std::size(rows); ++row) {
        EXPECT_EQ(vrenapp::reasonsForStatus(rows[row].status), rows[row].reasons) << "row " << row + 1;
        EXPECT_EQ(vrenapp::describeStatus(rows[row].status), rows[row].text) << "row " << row + 1;
    }
}

}  // namespace
