// Control commands on the wire, and the status query against the virtual
// printer's answers.
#include "command_rows.h"

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
    };
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        vprinter::Behaviour behaviour;
        behaviour.status = rows[i].answer;
        printer_->setBehaviour(behaviour);
        const size_t logged = logMessages("CheckPrinterStatus").size();
        EXPECT_EQ(CheckPrinterStatus(), rows[i].result);
        EXPECT_EQ(gStatus, rows[i].result < 0 ? 0 : rows[i].result);
        const std::vector<std::string> messages = logMessages("CheckPrinterStatus");
        EXPECT_EQ(std::vector<std::string>(messages.begin() + static_cast<long>(logged), messages.end()), rows[i].log);
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
    expectFailedWrites({
        {"InitializePrinter", [] { return InitializePrinter(); }},
        {"CalibrateMedia", [] { return CalibrateMedia(); }},
        {"ResetPrinter", [] { return ResetPrinter(); }},
        {"FeedOneLabel", [] { return FeedOneLabel(); }},
        {"CheckPrinterStatus", [] { return CheckPrinterStatus(); }},
    });
    EXPECT_EQ(gStatus, 0);
}

}  // namespace
