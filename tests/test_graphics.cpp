// Block and circle commands.
#include <algorithm>
#include <climits>

#include "command_rows.h"
#include "log_records.h"

namespace {

using vren::test::expectAppended;

class GraphicsTest : public vren::test::LibraryTest {};

TEST_F(GraphicsTest, BlocksAndCircles) {
    expectAppended({
        /* 1: no thickness for options 0 to 2 */
        {[] { return PrintBlock(10, 20, 300, 400, 0, 5); }, "BD10,20,300,400,O\r"},
        /* 2 */ {[] { return PrintBlock(10, 20, 300, 400, 1, 5); }, "BD10,20,300,400,E\r"},
        /* 3 */ {[] { return PrintBlock(10, 20, 300, 400, 2, 5); }, "BD10,20,300,400,D\r"},
        /* 4 */ {[] { return PrintBlock(10, 20, 300, 400, 3, 3); }, "BD10,20,300,400,S,3\r"},
        /* 5 */ {[] { return PrintBlock(10, 20, 300, 400, 4, 3); }, "BD10,20,300,400,B,3\r"},
        /* 6 */ {[] { return PrintBlock(-1, -2, -3, -4, 4, -5); }, "BD-1,-2,-3,-4,B,-5\r"},
        /* 7: 64 characters, the widest block command, not cut */
        {[] { return PrintBlock(INT_MIN, INT_MIN, INT_MIN, INT_MIN, 3, INT_MIN); },
         "BD-2147483648,-2147483648,-2147483648,-2147483648,S,-2147483648\r"},
        /* 8: invalid options append nothing */
        {[] { return PrintBlock(10, 20, 300, 400, 5, 3); }, "", VREN_E_BLOCK_OPTION},
        /* 9 */ {[] { return PrintBlock(10, 20, 300, 400, -1, 3); }, "", VREN_E_BLOCK_OPTION},
        /* 10 */ {[] { return PrintCircle(100, 100, 0, 9); }, "CD100,100,2,1\r"},
        /* 11 */ {[] { return PrintCircle(100, 100, 6, 4); }, "CD100,100,6,4\r"},
        /* 12 */ {[] { return PrintCircle(100, 100, 1, 1); }, "CD100,100,1,1\r"},
        /* 13 */ {[] { return PrintCircle(-100, -5, 7, 5); }, "CD-100,-5,2,1\r"},
        /* 14 */ {[] { return PrintCircle(INT_MIN, INT_MIN, -1, 0); }, "CD-2147483648,-2147483648,2,1\r"},
        /* 15 */ {[] { return PrintBlock(1, 2, 3, 4, INT_MAX, 3); }, "", VREN_E_BLOCK_OPTION},
        /* 16 */ {[] { return PrintBlock(1, 2, 3, 4, INT_MIN, 3); }, "", VREN_E_BLOCK_OPTION},
        /* 17 */ {[] { return PrintCircle(0, 0, 5, 2); }, "CD0,0,5,2\r"},
        /* 18 */ {[] { return PrintCircle(0, 0, 2, 3); }, "CD0,0,2,3\r"},
    });
}

// The records of each call in order: the buffer check runs between the
// function's "start" and "end"; an invalid option runs none and logs no "end".
struct Row {
    std::function<int()> call;
    std::vector<std::string> records;
};

TEST_F(GraphicsTest, RecordsInOrder) {
    const Row rows[] = {
        /* 1 */ {[] { return PrintBlock(1, 2, 3, 4, 0, 0); },
                 {"PrintBlock: start", "bufferCheck: start", "bufferCheck: end", "PrintBlock: end"}},
        /* 2 */ {[] { return PrintCircle(1, 2, 3, 4); },
                 {"PrintCircle: start", "bufferCheck: start", "bufferCheck: end", "PrintCircle: end"}},
        /* 3 */ {[] { return PrintBlock(1, 2, 3, 4, 5, 0); }, {"PrintBlock: start", "PrintBlock: wrong block option"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        markLog();
        vren::test::clearSleeps();
        rows[i].call();
        EXPECT_EQ(vren::test::parseLogRecords(logText()).records, rows[i].records);
        EXPECT_TRUE(vren::test::sleepsTaken().empty()) << "composing waits for nothing";
    }
}

// A command that does not fit into the free space sends the buffer first; not
// connected, that send fails: -105, the buffer left as it was, no buffer
// check, and the function's own "Failed to write" before its "end".
TEST_F(GraphicsTest, FailedSendBeforeTheCommand) {
    const std::string pending(4090, 'p');
    const Row rows[] = {
        /* 1 */ {[] { return PrintBlock(1, 2, 3, 4, 3, 5); },
                 {"PrintBlock: start", "writeData: write data : ", "PrintBlock: Failed to write", "PrintBlock: end"}},
        /* 2 */ {[] { return PrintCircle(1, 2, 3, 4); },
                 {"PrintCircle: start", "writeData: write data : ", "PrintCircle: Failed to write", "PrintCircle: end"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        std::memcpy(gPrintData, pending.data(), pending.size());
        gDataIndex = static_cast<uint32_t>(pending.size());
        markLog();
        EXPECT_EQ(rows[i].call(), VREN_E_WRITE);
        EXPECT_EQ(vren::test::pendingBytes(), pending);
        EXPECT_EQ(vren::test::parseLogRecords(logText()).records, rows[i].records);
    }
}

TEST_F(GraphicsTest, InvalidBlockOptionLogsNoEnd) {
    EXPECT_EQ(PrintBlock(0, 0, 1, 1, 9, 0), VREN_E_BLOCK_OPTION);
    const std::vector<std::string> expected = {"start", "wrong block option"};
    EXPECT_EQ(logMessages("PrintBlock"), expected);
    EXPECT_TRUE(logMessages("bufferCheck").empty());
}

// A command that lifts the buffer over the threshold stays in it when the
// send fails, and the function still logs "end".
TEST_F(GraphicsTest, FailedSendKeepsTheCommand) {
    vren::test::expectKeptAfterFailedSend({
        /* 1 */ {[] { return PrintBlock(10, 20, 300, 400, 0, 5); }, "BD10,20,300,400,O\r"},
        /* 2 */ {[] { return PrintBlock(10, 20, 300, 400, 3, 5); }, "BD10,20,300,400,S,5\r"},
        /* 3 */ {[] { return PrintCircle(100, 100, 0, 9); }, "CD100,100,2,1\r"},
    });
    EXPECT_EQ(logMessages("PrintBlock"), (std::vector<std::string>{"start", "end", "start", "end"}));
    EXPECT_EQ(logMessages("PrintCircle"), (std::vector<std::string>{"start", "end"}));
    EXPECT_EQ(std::ranges::count(logMessages("bufferCheck"), "Failed to write"), 3);
}

}  // namespace
