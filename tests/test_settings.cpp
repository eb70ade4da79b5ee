// Setting commands on the wire, and the settings cache.
#include <climits>

#include "command_rows.h"

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
    });
}

// What each setting records, as its bytes reach the printer.
TEST_F(SettingsTest, CacheRecordsTheValuesWritten) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    ASSERT_EQ(SetSpeed(40), VREN_OK);
    EXPECT_EQ(gSpeed, 12);
    ASSERT_EQ(SetDensity(25), VREN_OK);
    EXPECT_EQ(gDensity, 20);
    ASSERT_EQ(SetOrientation(0), VREN_OK);
    EXPECT_EQ(gOrientation, 84);
    ASSERT_EQ(SetOrientation(66), VREN_OK);
    EXPECT_EQ(gOrientation, 66);
    ASSERT_EQ(SetCutter(0, 7), VREN_OK);
    EXPECT_EQ(gAutoCut, 0);
    EXPECT_EQ(gCutPeriod, 7);
    ASSERT_EQ(SetCutter(5, 3), VREN_OK);
    EXPECT_EQ(gAutoCut, 5);
    ASSERT_EQ(SetRewinder(3), VREN_OK);
    EXPECT_EQ(gRewind, 3);
    ASSERT_EQ(SetOffset(-150), VREN_OK);
    EXPECT_EQ(gOffset, -100);
    ASSERT_EQ(SetCutPostion(120), VREN_OK);
    EXPECT_EQ(gCutPosition, 100);
    ASSERT_EQ(SetPrintingType(5), VREN_OK);
    EXPECT_EQ(gPrintingType, 5);
    ASSERT_EQ(SetBackFeed(200), VREN_OK);
    EXPECT_EQ(gBackFeeding, 200);
    // SetPaper records its offset unclamped, over SetOffset's.
    ASSERT_EQ(SetPaper(800, 1200, 7, 300, 24), VREN_OK);
    EXPECT_EQ(gPaperWidth, 800);
    EXPECT_EQ(gPaperHeight, 1200);
    EXPECT_EQ(gMediaType, 7);
    EXPECT_EQ(gOffset, 300);
    EXPECT_EQ(gGapLength, 24);
    ASSERT_EQ(SetMargin(-4, 9), VREN_OK);
    EXPECT_EQ(gHorizontalMargin, -4);
    EXPECT_EQ(gVerticalMargin, 9);
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
}

}  // namespace
