// Setting commands on the wire, and the settings cache.
#include <algorithm>
#include <climits>

#include "command_rows.h"
#include "log_records.h"

namespace {

using vren::test::CommandRow;

class SettingsTest : public vren::test::WireTest {
protected:
    void SetUp() override {
        WireTest::SetUp();
        // The cache lives for the process; every test starts from zero.
        gSpeed = gDensity = gOrientation = gCutPeriod = gOffset = gCutPosition = gPrintingType = gBackFeeding = 0;
        gPaperWidth = gPaperHeight = gMediaType = gGapLength = gHorizontalMargin = gVerticalMargin = 0;
        gAutoCut = gRewind = 0;
    }
};

TEST_F(SettingsTest, CommandsOnTheWire) {
    expectWritten({
        /* 1 */ {[] { return SetSpeed(9); }, "SS9\r"},
        /* 2 */ {[] { return SetSpeed(11); }, "SS11\r"},
        /* 3 */ {[] { return SetSpeed(-3); }, "SS0\r"},
        /* 4 */ {[] { return SetSpeed(40); }, "SS12\r"},
        /* 5 */ {[] { return SetDensity(25); }, "SD20\r"},
        /* 6 */ {[] { return SetDensity(-1); }, "SD0\r"},
        /* 7 */ {[] { return SetDensity(13); }, "SD13\r"},
        /* 8 */ {[] { return SetOrientation(0); }, "SOT\r"},
        /* 9 */ {[] { return SetOrientation(66); }, "SOB\r"},
        /* 10 */ {[] { return SetOrientation(84); }, "SOT\r"},
        /* 11 */ {[] { return SetCutter(1, 3); }, "CUTy,3\r\n"},
        /* 12 */ {[] { return SetCutter(1, 0); }, "CUTy\r\n"},
        /* 13 */ {[] { return SetCutter(0, 7); }, "CUTn\r\n"},
        /* 14 */ {[] { return SetCutter(9, -5); }, "CUTy,-5\r\n"},
        /* 15 */ {[] { return SetRewinder(1); }, "RWDy\r\n"},
        /* 16 */ {[] { return SetRewinder(0); }, "RWDn\r\n"},
        /* 17 */ {[] { return SetOffset(-150); }, "SA-100\r"},
        /* 18 */ {[] { return SetOffset(150); }, "SA100\r"},
        /* 19 */ {[] { return SetOffset(-7); }, "SA-7\r"},
        /* 20 */ {[] { return SetCutPostion(101); }, "TA100\r"},
        /* 21 */ {[] { return SetCutPostion(-101); }, "TA-100\r"},
        /* 22 */ {[] { return SetPrintingType(1); }, "STt\r"},
        /* 23 */ {[] { return SetPrintingType(5); }, "STd\r"},
        /* 24 */ {[] { return SetBackFeed(200); }, "SF1\r"},
        /* 25 */ {[] { return SetBackFeed(0); }, "SF0\r"},
        /* 26 */ {[] { return SetPaper(800, 1200, 0, 0, 24); }, "SL1200,24,G,0\rSW800\r"},
        /* 27 */ {[] { return SetPaper(400, 600, 1, -30, 0); }, "SL600,0,C,-30\rSW400\r"},
        /* 28 */ {[] { return SetPaper(400, 600, 2, 500, 3); }, "SL600,3,B,500\rSW400\r"},
        /* 29: the widest commands are not cut */
        {[] { return SetPaper(INT_MIN, INT_MIN, 3, INT_MIN, INT_MIN); },
         "SL-2147483648,-2147483648,G,-2147483648\rSW-2147483648\r"},
        /* 30 */ {[] { return SetMargin(INT_MIN, INT_MIN); }, "SM-2147483648,-2147483648\r"},
        /* 31 */ {[] { return SetMargin(10, -20); }, "SM10,-20\r"},
        /* 32 */ {[] { return SetCharacterSet(16, 300); }, "CS0,0\r"},
        /* 33 */ {[] { return SetCharacterSet(15, 255); }, "CS15,255\r"},
        /* 34 */ {[] { return SetCharacterSet(-1, -1); }, "CS0,0\r"},
        /* 35 */ {[] { return SetCutter(1, INT_MIN); }, "CUTy,-2147483648\r\n"},
        // The boundaries of every normalised argument, from both sides.
        /* 36 */ {[] { return SetSpeed(0); }, "SS0\r"},
        /* 37 */ {[] { return SetSpeed(10); }, "SS10\r"},
        /* 38 */ {[] { return SetSpeed(12); }, "SS12\r"},
        /* 39 */ {[] { return SetSpeed(13); }, "SS12\r"},
        /* 40 */ {[] { return SetSpeed(INT_MIN); }, "SS0\r"},
        /* 41 */ {[] { return SetDensity(0); }, "SD0\r"},
        /* 42 */ {[] { return SetDensity(20); }, "SD20\r"},
        /* 43 */ {[] { return SetDensity(21); }, "SD20\r"},
        /* 44 */ {[] { return SetDensity(INT_MAX); }, "SD20\r"},
        /* 45: only the capital letters' codes select */ {[] { return SetOrientation('b'); }, "SOT\r"},
        /* 46 */ {[] { return SetOrientation('B' + 256); }, "SOT\r"},
        /* 47 */ {[] { return SetOrientation('T'); }, "SOT\r"},
        /* 48 */ {[] { return SetOffset(100); }, "SA100\r"},
        /* 49 */ {[] { return SetOffset(101); }, "SA100\r"},
        /* 50 */ {[] { return SetOffset(-100); }, "SA-100\r"},
        /* 51 */ {[] { return SetOffset(-101); }, "SA-100\r"},
        /* 52 */ {[] { return SetOffset(0); }, "SA0\r"},
        /* 53 */ {[] { return SetCutPostion(100); }, "TA100\r"},
        /* 54 */ {[] { return SetCutPostion(-100); }, "TA-100\r"},
        /* 55 */ {[] { return SetCutPostion(INT_MAX); }, "TA100\r"},
        /* 56 */ {[] { return SetPrintingType(0); }, "STd\r"},
        /* 57 */ {[] { return SetPrintingType(2); }, "STd\r"},
        /* 58 */ {[] { return SetPrintingType(-1); }, "STd\r"},
        /* 59 */ {[] { return SetBackFeed(1); }, "SF1\r"},
        /* 60 */ {[] { return SetBackFeed(255); }, "SF1\r"},
        /* 61 */ {[] { return SetRewinder(255); }, "RWDy\r\n"},
        /* 62 */ {[] { return SetCutter(0, 0); }, "CUTn\r\n"},
        /* 63 */ {[] { return SetCutter(255, 1); }, "CUTy,1\r\n"},
        /* 64 */ {[] { return SetPaper(1, 2, 3, 4, 5); }, "SL2,5,G,4\rSW1\r"},
        /* 65 */ {[] { return SetPaper(1, 2, -1, 4, 5); }, "SL2,5,G,4\rSW1\r"},
        /* 66: the numbers go out unchanged */
        {[] { return SetPaper(INT_MAX, -1, 2, INT_MAX, -7); }, "SL-1,-7,B,2147483647\rSW2147483647\r"},
        /* 67 */ {[] { return SetMargin(0, 0); }, "SM0,0\r"},
        /* 68 */ {[] { return SetMargin(INT_MAX, INT_MIN); }, "SM2147483647,-2147483648\r"},
        /* 69 */ {[] { return SetCharacterSet(0, 0); }, "CS0,0\r"},
        /* 70 */ {[] { return SetCharacterSet(15, 256); }, "CS15,0\r"},
        /* 71 */ {[] { return SetCharacterSet(16, 255); }, "CS0,255\r"},
        /* 72 */ {[] { return SetCharacterSet(7, 0); }, "CS7,0\r"},
        /* 73 */ {[] { return SetCharacterSet(INT_MIN, INT_MAX); }, "CS0,0\r"},
    });
}

// What each setting records: the normalised value for the clamped numbers,
// the argument as passed for the flags, the printing type, the paper and the
// margins. Rows run in order on one connection, each after a complete write.
TEST_F(SettingsTest, CacheRecordsTheValuesWritten) {
    struct Row {
        std::function<int()> call;
        std::vector<std::pair<const int *, int>> ints;
        std::vector<std::pair<const unsigned char *, int>> flags;
    };
    const Row rows[] = {
        /* 1 */ {[] { return SetSpeed(40); }, {{&gSpeed, 12}}, {}},
        /* 2 */ {[] { return SetSpeed(-3); }, {{&gSpeed, 0}}, {}},
        /* 3 */ {[] { return SetSpeed(13); }, {{&gSpeed, 12}}, {}},
        /* 4 */ {[] { return SetSpeed(7); }, {{&gSpeed, 7}}, {}},
        /* 5 */ {[] { return SetDensity(25); }, {{&gDensity, 20}}, {}},
        /* 6 */ {[] { return SetDensity(-1); }, {{&gDensity, 0}}, {}},
        /* 7 */ {[] { return SetDensity(20); }, {{&gDensity, 20}}, {}},
        /* 8 */ {[] { return SetOrientation(0); }, {{&gOrientation, 84}}, {}},
        /* 9 */ {[] { return SetOrientation(66); }, {{&gOrientation, 66}}, {}},
        /* 10 */ {[] { return SetOrientation('b'); }, {{&gOrientation, 84}}, {}},
        /* 11 */ {[] { return SetCutter(0, 7); }, {{&gCutPeriod, 7}}, {{&gAutoCut, 0}}},
        /* 12 */ {[] { return SetCutter(5, 3); }, {{&gCutPeriod, 3}}, {{&gAutoCut, 5}}},
        /* 13 */ {[] { return SetCutter(1, -5); }, {{&gCutPeriod, -5}}, {{&gAutoCut, 1}}},
        /* 14 */ {[] { return SetRewinder(3); }, {}, {{&gRewind, 3}}},
        /* 15 */ {[] { return SetRewinder(0); }, {}, {{&gRewind, 0}}},
        /* 16 */ {[] { return SetOffset(-150); }, {{&gOffset, -100}}, {}},
        /* 17 */ {[] { return SetOffset(101); }, {{&gOffset, 100}}, {}},
        /* 18 */ {[] { return SetOffset(-9); }, {{&gOffset, -9}}, {}},
        /* 19 */ {[] { return SetCutPostion(120); }, {{&gCutPosition, 100}}, {}},
        /* 20 */ {[] { return SetCutPostion(-101); }, {{&gCutPosition, -100}}, {}},
        /* 21: the number, not the letter */ {[] { return SetPrintingType(1); }, {{&gPrintingType, 1}}, {}},
        /* 22 */ {[] { return SetPrintingType(5); }, {{&gPrintingType, 5}}, {}},
        /* 23 */ {[] { return SetBackFeed(200); }, {{&gBackFeeding, 200}}, {}},
        /* 24 */ {[] { return SetBackFeed(0); }, {{&gBackFeeding, 0}}, {}},
        /* 25: the paper's offset is recorded unclamped, over SetOffset's */
        {[] { return SetPaper(800, 1200, 7, 300, 24); },
         {{&gPaperWidth, 800}, {&gPaperHeight, 1200}, {&gMediaType, 7}, {&gOffset, 300}, {&gGapLength, 24}},
         {}},
        /* 26: and SetOffset's clamped one over the paper's */ {[] { return SetOffset(300); }, {{&gOffset, 100}}, {}},
        /* 27 */ {[] { return SetMargin(-4, 9); }, {{&gHorizontalMargin, -4}, {&gVerticalMargin, 9}}, {}},
    };
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        ASSERT_EQ(rows[i].call(), VREN_OK);
        for (const auto &[global, value] : rows[i].ints)
            EXPECT_EQ(*global, value);
        for (const auto &[global, value] : rows[i].flags)
            EXPECT_EQ(*global, value);
    }
}

// SetCharacterSet records nothing.
TEST_F(SettingsTest, CharacterSetLeavesTheCacheAlone) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    ASSERT_EQ(SetCharacterSet(3, 4), VREN_OK);
    const int *ints[] = {&gSpeed,        &gDensity,      &gOrientation, &gCutPeriod, &gOffset,
                         &gCutPosition,  &gPrintingType, &gBackFeeding, &gPaperWidth, &gPaperHeight,
                         &gMediaType,    &gGapLength,    &gHorizontalMargin, &gVerticalMargin};
    for (const int *global : ints)
        EXPECT_EQ(*global, 0);
    EXPECT_EQ(gAutoCut, 0);
    EXPECT_EQ(gRewind, 0);
}

// Each setting is one writeData() call of exactly its command, between the
// function's "start" (and the speed or density line) and its "end", with no
// pause but the transport's two over the network.
TEST_F(SettingsTest, OneWriteBetweenStartAndEnd) {
    struct Row {
        const char *name;
        std::function<int()> call;
        size_t length;
        std::vector<std::string> before;  // the function's own lines before the write
    };
    const Row rows[] = {
        /* 1 */ {"SetSpeed", [] { return SetSpeed(9); }, 4, {"start", "SPEED : SS9\r, 4"}},
        /* 2 */ {"SetSpeed", [] { return SetSpeed(12); }, 5, {"start", "SPEED : SS12\r, 5"}},
        /* 3 */ {"SetDensity", [] { return SetDensity(-4); }, 4, {"start", "DENSITY : SD0\r, 4"}},
        /* 4 */ {"SetDensity", [] { return SetDensity(15); }, 5, {"start", "DENSITY : SD15\r, 5"}},
        /* 5 */ {"SetOrientation", [] { return SetOrientation('B'); }, 4, {"start"}},
        /* 6 */ {"SetCutter", [] { return SetCutter(1, 3); }, 8, {"start"}},
        /* 7 */ {"SetRewinder", [] { return SetRewinder(1); }, 6, {"start"}},
        /* 8 */ {"SetOffset", [] { return SetOffset(-150); }, 7, {"start"}},
        /* 9 */ {"SetCutPostion", [] { return SetCutPostion(5); }, 4, {"start"}},
        /* 10 */ {"SetPrintingType", [] { return SetPrintingType(1); }, 4, {"start"}},
        /* 11 */ {"SetBackFeed", [] { return SetBackFeed(1); }, 4, {"start"}},
        /* 12: two commands, one write */ {"SetPaper", [] { return SetPaper(800, 1200, 0, 0, 24); }, 20, {"start"}},
        /* 13 */ {"SetMargin", [] { return SetMargin(10, -20); }, 9, {"start"}},
        /* 14 */ {"SetCharacterSet", [] { return SetCharacterSet(16, 300); }, 6, {"start"}},
    };
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        markLog();
        vren::test::clearSleeps();
        ASSERT_EQ(rows[i].call(), VREN_OK);
        EXPECT_EQ(vren::test::sleepsTaken(), (std::vector<unsigned>{10000, 10000}));
        const vren::test::LogRecords log = vren::test::parseLogRecords(logText());
        std::vector<std::string> expected;
        for (const std::string &line : rows[i].before)
            expected.push_back(std::string(rows[i].name) + ": " + line);
        expected.push_back("writeData: write data : ");
        expected.push_back("writeData: complete to write the data.");
        expected.push_back(std::string(rows[i].name) + ": end");
        EXPECT_EQ(log.records, expected);
        EXPECT_EQ(log.bytesWritten, rows[i].length);
    }
}

TEST_F(SettingsTest, SpeedAndDensityLogTheirCommand) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    ASSERT_EQ(SetSpeed(11), VREN_OK);
    ASSERT_EQ(SetDensity(3), VREN_OK);
    const std::vector<std::string> speed = {"start", "SPEED : SS11\r, 5", "end"};
    const std::vector<std::string> density = {"start", "DENSITY : SD3\r, 4", "end"};
    EXPECT_EQ(logMessages("SetSpeed"), speed);
    EXPECT_EQ(logMessages("SetDensity"), density);
}

// A write that fails leaves every cached value as it was.
TEST_F(SettingsTest, FailedWriteKeepsTheCache) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    ASSERT_EQ(SetSpeed(5), VREN_OK);
    ASSERT_EQ(SetDensity(6), VREN_OK);
    ASSERT_EQ(SetOrientation('B'), VREN_OK);
    ASSERT_EQ(SetCutter(1, 2), VREN_OK);
    ASSERT_EQ(SetRewinder(1), VREN_OK);
    ASSERT_EQ(SetCutPostion(8), VREN_OK);
    ASSERT_EQ(SetPrintingType(1), VREN_OK);
    ASSERT_EQ(SetBackFeed(1), VREN_OK);
    ASSERT_EQ(SetPaper(1, 2, 1, 4, 5), VREN_OK);
    ASSERT_EQ(SetMargin(6, 7), VREN_OK);
    DisconnectPrinter();

    connectToHungUpPrinter();
    markLog();
    expectFailedWrites({
        {"SetSpeed", [] { return SetSpeed(9); }},
        {"SetDensity", [] { return SetDensity(9); }},
        {"SetOrientation", [] { return SetOrientation('T'); }},
        {"SetCutter", [] { return SetCutter(0, 9); }},
        {"SetRewinder", [] { return SetRewinder(0); }},
        {"SetOffset", [] { return SetOffset(9); }},
        {"SetCutPostion", [] { return SetCutPostion(9); }},
        {"SetPrintingType", [] { return SetPrintingType(9); }},
        {"SetBackFeed", [] { return SetBackFeed(0); }},
        {"SetPaper", [] { return SetPaper(9, 9, 9, 9, 9); }},
        {"SetMargin", [] { return SetMargin(9, 9); }},
        {"SetCharacterSet", [] { return SetCharacterSet(9, 9); }},
    });
    EXPECT_EQ(gSpeed, 5);
    EXPECT_EQ(gDensity, 6);
    EXPECT_EQ(gOrientation, 'B');
    EXPECT_EQ(gAutoCut, 1);
    EXPECT_EQ(gCutPeriod, 2);
    EXPECT_EQ(gRewind, 1);
    EXPECT_EQ(gCutPosition, 8);
    EXPECT_EQ(gPrintingType, 1);
    EXPECT_EQ(gBackFeeding, 1);
    EXPECT_EQ(gPaperWidth, 1);
    EXPECT_EQ(gPaperHeight, 2);
    EXPECT_EQ(gMediaType, 1);
    EXPECT_EQ(gOffset, 4);
    EXPECT_EQ(gGapLength, 5);
    EXPECT_EQ(gHorizontalMargin, 6);
    EXPECT_EQ(gVerticalMargin, 7);
    // One write each, not retried.
    EXPECT_EQ(std::ranges::count(logMessages("writeData"), "write data : "), 12);
    // No "end" after a failure; the speed line still comes before the write.
    const std::vector<std::string> failed = {"start", "Failed to write"};
    const std::vector<std::string> speedFailed = {"start", "SPEED : SS9\r, 4", "Failed to write"};
    const std::vector<std::string> densityFailed = {"start", "DENSITY : SD9\r, 4", "Failed to write"};
    EXPECT_EQ(logMessages("SetSpeed"), speedFailed);
    EXPECT_EQ(logMessages("SetDensity"), densityFailed);
    for (const char *name : {"SetOrientation", "SetCutter", "SetRewinder", "SetOffset", "SetCutPostion",
                             "SetPrintingType", "SetBackFeed", "SetPaper", "SetMargin", "SetCharacterSet"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(logMessages(name), failed);
    }
}

}  // namespace
