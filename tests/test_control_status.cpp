// Control commands on the wire, and the status query against the virtual
// printer's answers.
#include <algorithm>

#include "command_rows.h"
#include "log_records.h"

namespace {

class ControlStatusTest : public vren::test::WireTest {};

TEST_F(ControlStatusTest, ControlCommandsOnTheWire) {
    expectWritten({
        /* 1 */ {[] { return InitializePrinter(); }, "@\r"},
        /* 2 */ {[] { return CalibrateMedia(); }, "~JC\r\n"},
        /* 3 */ {[] { return ResetPrinter(); }, "~JR\r\n"},
        /* 4 */ {[] { return FeedOneLabel(); }, "~PH\r\n"},
        /* 5 */ {[] { return CheckPrinterStatus(); }, "^cu\r"},
    });
}

TEST_F(ControlStatusTest, StatusAnswers) {
    struct Row {
        int answer;  // <0: the printer does not answer
        int result;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        /* 1 */ {0x00, 0, {"start", "status : 00", "end"}},
        /* 2: the two low bits carry no condition */
        {0x03, 0, {"start", "status : 03", "end"}},
        /* 3 */ {0x44, 0x44, {"start", "status : 44", "error - ribon end", "error - cover open", "end"}},
        /* 4 */ {0x80, 0x80, {"start", "status : 80", "error - paper empty", "end"}},
        /* 5 */ {0xFF, 0xFC, {"start", "status : ff", "error - ribon end", "error - gap error", "error - TPH overhead",
                             "error - cutter jam", "error - cover open", "error - paper empty", "end"}},
        /* 6: no answer clears what the previous query found */
        {-1, VREN_E_READ, {"start", "Failed to read"}},
        /* 7 */ {0x08, 0x08, {"start", "status : 08", "error - gap error", "end"}},
        // Each bit alone, with its own line; the low bits alone give nothing.
        /* 8 */ {0x01, 0, {"start", "status : 01", "end"}},
        /* 9 */ {0x02, 0, {"start", "status : 02", "end"}},
        /* 10 */ {0x04, 0x04, {"start", "status : 04", "error - ribon end", "end"}},
        /* 11 */ {0x10, 0x10, {"start", "status : 10", "error - TPH overhead", "end"}},
        /* 12 */ {0x20, 0x20, {"start", "status : 20", "error - cutter jam", "end"}},
        /* 13 */ {0x40, 0x40, {"start", "status : 40", "error - cover open", "end"}},
        /* 14 */ {0xA3, 0xA0, {"start", "status : a3", "error - cutter jam", "error - paper empty", "end"}},
    };
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        vprinter::Behaviour behaviour;
        behaviour.status = rows[i].answer;
        printer_->setBehaviour(behaviour);
        markLog();
        const size_t logged = logMessages("CheckPrinterStatus").size();
        EXPECT_EQ(CheckPrinterStatus(), rows[i].result);
        EXPECT_EQ(gStatus, rows[i].result < 0 ? 0 : rows[i].result);
        const std::vector<std::string> messages = logMessages("CheckPrinterStatus");
        EXPECT_EQ(std::vector<std::string>(messages.begin() + static_cast<long>(logged), messages.end()), rows[i].log);
        EXPECT_EQ(std::ranges::count(logMessages("readData"), "START"), 1) << "one read, not retried";
    }
}

// An answer that came late, to a query whose caller did not wait for it, is
// not taken for the answer to the next query: the status query and the model
// query each get their own.
TEST_F(ControlStatusTest, LateAnswerIsNotTakenForTheNextOne) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    vprinter::Behaviour behaviour;
    behaviour.status = 0x00;
    printer_->setBehaviour(behaviour);
    ASSERT_EQ(DirectIO("^cu\r", 4, nullptr, nullptr), VREN_OK);  // its answer is never read
    ASSERT_TRUE(printer_->waitUntilIdle(std::chrono::seconds(10)));
    behaviour.status = 0x80;
    printer_->setBehaviour(behaviour);
    markLog();
    EXPECT_EQ(CheckPrinterStatus(), 0x80);
    EXPECT_EQ(logMessages("CheckPrinterStatus")[1], "Discarded 1 bytes of earlier input.");

    ASSERT_EQ(DirectIO("^PI0\r\n", 6, nullptr, nullptr), VREN_OK);  // answered LQ1, never read
    ASSERT_TRUE(printer_->waitUntilIdle(std::chrono::seconds(10)));
    behaviour.modelReply = "LQ2\r\n";
    printer_->setBehaviour(behaviour);
    EXPECT_EQ(modelCheck(), VREN_OK);
    EXPECT_EQ(gPrinterModel, 152u);
}

// Each control command is one writeData() call of exactly its bytes between
// "start" and "end"; the status query writes, then reads one byte, then
// reports. No pause but the transport's: two for the write over the network,
// the read's entry pause and one per poll.
TEST_F(ControlStatusTest, RecordsInOrder) {
    const std::vector<std::string> written = {"writeData: write data : ", "writeData: complete to write the data."};
    struct Row {
        const char *name;
        std::function<int()> call;
        int result;
        size_t length;
        std::vector<std::string> after;  // records after the write
    };
    const Row rows[] = {
        /* 1 */ {"InitializePrinter", [] { return InitializePrinter(); }, 0, 2, {"InitializePrinter: end"}},
        /* 2 */ {"CalibrateMedia", [] { return CalibrateMedia(); }, 0, 5, {"CalibrateMedia: end"}},
        /* 3 */ {"ResetPrinter", [] { return ResetPrinter(); }, 0, 5, {"ResetPrinter: end"}},
        /* 4 */ {"FeedOneLabel", [] { return FeedOneLabel(); }, 0, 5, {"FeedOneLabel: end"}},
        /* 5 */
        {"CheckPrinterStatus",
         [] { return CheckPrinterStatus(); },
         0x44,
         4,
         {"readData: START", "readData: Complete to read the data.", "readData: read data : ",
          "CheckPrinterStatus: status : 44", "CheckPrinterStatus: error - ribon end",
          "CheckPrinterStatus: error - cover open", "CheckPrinterStatus: end"}},
    };
    vprinter::Behaviour behaviour;
    behaviour.status = 0x44;
    ASSERT_EQ(connectToVirtualPrinter(behaviour), VREN_OK);
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        markLog();
        vren::test::clearSleeps();
        ASSERT_EQ(rows[i].call(), rows[i].result);
        const std::vector<unsigned> sleeps = vren::test::sleepsTaken();
        std::vector<unsigned> pauses = {10000, 10000};
        if (rows[i].name == std::string("CheckPrinterStatus")) {
            pauses.push_back(100000);
            pauses.resize(std::max<size_t>(sleeps.size(), 4), 30000);
        }
        EXPECT_EQ(sleeps, pauses);
        const vren::test::LogRecords log = vren::test::parseLogRecords(logText());
        std::vector<std::string> expected = {std::string(rows[i].name) + ": start"};
        expected.insert(expected.end(), written.begin(), written.end());
        expected.insert(expected.end(), rows[i].after.begin(), rows[i].after.end());
        EXPECT_EQ(log.records, expected);
        EXPECT_EQ(log.bytesWritten, rows[i].length);
        EXPECT_EQ(log.bytesRead, rows[i].name == std::string("CheckPrinterStatus") ? 1u : 0u);
    }
}

TEST_F(ControlStatusTest, FailedWrites) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    vprinter::Behaviour answering;
    answering.status = 0x10;
    printer_->setBehaviour(answering);
    ASSERT_EQ(CheckPrinterStatus(), 0x10);
    DisconnectPrinter();

    connectToHungUpPrinter();
    markLog();
    expectFailedWrites({
        {"InitializePrinter", [] { return InitializePrinter(); }},
        {"CalibrateMedia", [] { return CalibrateMedia(); }},
        {"ResetPrinter", [] { return ResetPrinter(); }},
        {"FeedOneLabel", [] { return FeedOneLabel(); }},
        {"CheckPrinterStatus", [] { return CheckPrinterStatus(); }},
    });
    EXPECT_EQ(gStatus, 0);
    // One write each, not retried.
    EXPECT_EQ(std::ranges::count(logMessages("writeData"), "write data : "), 5);
    // No "end" after a failure, and a status request that did not go out is
    // not followed by a read.
    const std::vector<std::string> failed = {"start", "Failed to write"};
    for (const char *name :
         {"InitializePrinter", "CalibrateMedia", "ResetPrinter", "FeedOneLabel", "CheckPrinterStatus"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(logMessages(name), failed);
    }
    EXPECT_TRUE(logMessages("readData").empty());
}

}  // namespace
