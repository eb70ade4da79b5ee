// Job output: the buffer check, printing, the clear command and raw I/O, on
// the wire at the virtual printer.
#include <algorithm>
#include <climits>
#include <cstring>

#include "command_rows.h"
#include "fake_write.h"
#include "library_test.h"

namespace vren::test {
namespace {

using namespace std::chrono_literals;

class Job : public LibraryTest {
protected:
    void connect(vprinter::Behaviour behaviour = {}) {
        ASSERT_EQ(connectToVirtualPrinter(behaviour), 0);
        clearSleeps();
        markLog();
    }
    // Puts `count` bytes of pending commands into the buffer.
    static std::string fill(uint32_t count, char c = 'c') {
        std::string pending(count, c);
        std::memcpy(gPrintData, pending.data(), count);
        gDataIndex = count;
        return pending;
    }
};

TEST_F(Job, BufferCheckSendsFromThreshold) {
    connect();
    const std::string below = fill(3583);
    EXPECT_EQ(bufferCheck(), 0);
    EXPECT_EQ(gDataIndex, 3583u);
    EXPECT_TRUE(sleepsTaken().empty());

    const std::string at = fill(3584, 'd');
    EXPECT_EQ(bufferCheck(), 0);
    EXPECT_EQ(gDataIndex, 0u);
    EXPECT_EQ(gPrintData[0], 0);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 10000}));  // one transport call, one chunk
    EXPECT_EQ(printed(3584), at);
    EXPECT_EQ(logMessages("bufferCheck"), (std::vector<std::string>{"start", "end", "start", "end"}));
}

TEST_F(Job, BufferCheckFailureKeepsTheBuffer) {
    const std::string pending = fill(4000);
    EXPECT_EQ(bufferCheck(), VREN_E_WRITE);  // not connected
    EXPECT_EQ(pendingBytes(), pending);
    EXPECT_EQ(logMessages("bufferCheck"), (std::vector<std::string>{"start", "Failed to write"}));
}

// A send of the buffer that moved part of it and then failed: the buffer keeps
// only what the printer did not take, and the next send goes on from there,
// so the printer gets every byte once and in order.
TEST_F(Job, FailedSendKeepsOnlyWhatDidNotArrive) {
    connect();
    std::string pending;
    for (int i = 0; pending.size() < VREN_FLUSH_THRESHOLD; ++i)
        pending += std::to_string(i) + ",";
    pending.resize(VREN_FLUSH_THRESHOLD);
    std::memcpy(gPrintData, pending.data(), pending.size());
    gDataIndex = VREN_FLUSH_THRESHOLD;
    breakAfterNextWrite(VREN_FLUSH_THRESHOLD, 1000);
    EXPECT_EQ(bufferCheck(), VREN_E_WRITE);
    restoreWrites();
    EXPECT_EQ(pendingBytes(), pending.substr(1000));
    EXPECT_EQ(gPrintData[gDataIndex], 0);
    EXPECT_EQ(Prints(1, 1), VREN_OK);
    EXPECT_LONG_BYTES(pending + "P1,1\r", printed(pending.size() + 5));
}

// The append path: a command that does not fit into the free space sends the
// buffer first; when that send fails, the command is not appended and the
// buffer is left exactly as it was. The circle command is 10 bytes.
TEST_F(Job, CommandThatDoesNotFitSendsTheBufferFirst) {
    const std::string circle = "CD1,1,1,1\r";
    struct Row {
        bool connected;
        uint32_t pending;
        int result;
        std::string sent;     // what the printer received
        std::string waiting;  // what the buffer holds afterwards
        std::vector<std::string> log;
    };
    const Row rows[] = {
        /* 1 */ {true, 4090, VREN_OK, std::string(4090, 'a'), circle, {"start", "end"}},
        // Exactly fits the room before that of a print command: appended, and
        // the buffer is sent by the check.
        /* 2 */ {true, 4061, VREN_OK, std::string(4061, 'a') + circle, "", {"start", "end"}},
        /* 3 */ {true, 100, VREN_OK, "", std::string(100, 'a') + circle, {"start", "end"}},
        /* 4 */ {false, 4090, VREN_E_WRITE, "", std::string(4090, 'a'), {"start", "Failed to write", "end"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1));
        if (row.connected)
            connect();
        else
            DisconnectPrinter();
        markLog();
        fill(row.pending, 'a');
        EXPECT_EQ(PrintCircle(1, 1, 1, 1), row.result);
        EXPECT_BYTES(row.waiting, pendingBytes());
        if (row.connected) {
            EXPECT_LONG_BYTES(row.sent, printed(row.sent.size(), row.sent.empty() ? 50ms : 10s));
        }
        EXPECT_EQ(logMessages("PrintCircle"), row.log);
        EXPECT_EQ(gPrintData[gDataIndex], 0) << "no byte written behind the fill level";
    }
}

// A text command as long as the whole buffer or longer, behind pending bytes:
// the pending bytes go first, then the command, whole and in order, and the
// buffer is left empty.
TEST_F(Job, LongCommandBehindPendingBytes) {
    connect();
    ASSERT_EQ(PrintDeviceFont("x", 1, 1, 0, 1, 1, 0, 0), 0);
    const std::string header = pendingBytes().substr(0, gDataIndex - 4);  // then 'x' CR
    initDataBuffer();
    struct Row {
        uint32_t pending;
        size_t command;  // header, quotes and CR included
    };
    const Row rows[] = {
        /* 1 */ {1, 4071},  // fits the emptied buffer exactly, but for the room of a print command
        /* 2 */ {1, 5000},  // sent straight after the pending byte
        /* 3 */ {4095, 4097},
    };
    size_t total = 0;
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        const std::string pending = fill(rows[i].pending, 'a');
        const std::string data(rows[i].command - header.size() - 3, 'x');
        EXPECT_EQ(PrintDeviceFont(data.c_str(), 1, 1, 0, 1, 1, 0, 0), 0);
        EXPECT_EQ(gDataIndex, 0u);
        const std::string expected = pending + header + "'" + data + "'\r";
        total += expected.size();
        const std::string all = printed(total);
        ASSERT_GE(all.size(), total);
        EXPECT_LONG_BYTES(expected, std::string_view(all).substr(total - expected.size()));
    }
}

// A quote followed by CR ends a quoted field, so inside data it would have the
// printer run the rest as commands: every function that carries data refuses
// it, names the pair's offset (in the bytes of the field: the converted text
// for a converted one) and appends nothing. A quote or a CR alone goes out.
TEST_F(Job, QuoteFollowedByCrInDataIsRefused) {
    const std::string data = "O'\rP5,1\rT10,10,3,1,1,0,0,N,N,'x";
    struct Row {
        const char *tag;  // that logs the refusal
        std::function<int(const char *)> call;
    };
    const Row rows[] = {
        /* 1 */ {"PrintDeviceFont", [](const char *d) { return PrintDeviceFont(d, 1, 1, 0, 1, 1, 0, 0); }},
        /* 2 */ {"convertData", [](const char *d) { return PrintDeviceFont(d, 1, 1, 'a', 1, 1, 0, 0); }},
        /* 3 */ {"convertData", [](const char *d) { return PrintDeviceFontW(d, 1, 1, 0, 1, 1, 0, 0, 99); }},
        /* 4 */ {"PrintVectorFont", [](const char *d) { return PrintVectorFont(d, 1, 1, 0, 8, 8, 0, 0, 0, 0, 0, 0, 0); }},
        /* 5 */ {"convertData", [](const char *d) { return PrintVectorFontW(d, 1, 1, 7, 8, 8, 0, 0, 0, 0, 0, 0, 0, 6); }},
        /* 6 */ {"convertData", [](const char *d) { return convertData(d, static_cast<int>(std::strlen(d)), 3); }},
        /* 7 */ {"Print1DBarcode", [](const char *d) { return Print1DBarcode(d, 0, 0, 1, 2, 6, 100, 0, 0); }},
        /* 8 */ {"PrintMaxiCode", [](const char *d) { return PrintMaxiCode(d, 0, 0, 0); }},
        /* 9 */ {"PrintPDF417", [](const char *d) { return PrintPDF417(d, 0, 0, 3, 1, 0, 0, 0, 0, 2, 4, 0); }},
        /* 10 */ {"PrintQRCode", [](const char *d) { return PrintQRCode(d, 0, 0, 1, 0, 4, 0); }},
        /* 11 */ {"PrintDataMatrix", [](const char *d) { return PrintDataMatrix(d, 0, 0, 1, 0, 0); }},
        /* 12 */ {"PrintAztec", [](const char *d) { return PrintAztec(d, 0, 0, 1, 0, 0, 0, 1, 0, 0); }},
        /* 13 */ {"PrintCode49", [](const char *d) { return PrintCode49(d, 0, 0, 0, 0, 0, 0, 0, 0); }},
        /* 14 */ {"PrintCODABLOCK", [](const char *d) { return PrintCODABLOCK(d, 0, 0, 0, 0, 0, 0, 30, 0, 10); }},
        /* 15 */ {"PrintMicroPDF", [](const char *d) { return PrintMicroPDF(d, 0, 0, 5, 50, 0, 0); }},
        /* 16 */ {"PrintGS1DataBar", [](const char *d) { return PrintGS1DataBar(d, 0, 0, 5, 1, 1, 0, 6, 0); }},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        const std::string pending = fill(8, 'p');
        markLog();
        EXPECT_EQ(rows[i].call(data.c_str()), VREN_E_WRITE);
        EXPECT_EQ(pendingBytes(), pending);
        const auto messages = logMessages(rows[i].tag);
        EXPECT_NE(std::find(messages.begin(), messages.end(), "Quote followed by CR at offset 1: data refused"),
                  messages.end());
    }
    initDataBuffer();
    EXPECT_EQ(PrintDeviceFont("a'b\rc'", 1, 1, 0, 1, 1, 0, 0), VREN_OK);
    EXPECT_BYTES("T1,1,0,1,1,0,0,N,N,'a'b\rc''\r", pendingBytes());
}

TEST_F(Job, PrintsSendsTheBufferAndThePrintCommand) {
    struct Row {
        uint32_t pending;
        int labels;
        int copies;
        std::string command;
    };
    const Row rows[] = {
        /* 0 */ {0, 2, 3, "P2,3\r"},
        /* 1 */ {100, 1, 1, "P1,1\r"},
        /* 2 */ {0, -1, 0, "P-1,0\r"},
        /* 3 */ {10, INT_MIN, INT_MAX, "P-2147483648,2147483647\r"},
        // The buffer may hold up to its full size after failed sends: it is
        // sent first, then the print command, in order.
        /* 4 */ {4094, 1, 1, "P1,1\r"},
    };
    connect();
    size_t total = 0;
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const std::string pending = fill(rows[i].pending, static_cast<char>('a' + i));
        markLog();
        EXPECT_EQ(Prints(rows[i].labels, rows[i].copies), 0);
        EXPECT_EQ(gDataIndex, 0u);
        EXPECT_TRUE(std::all_of(std::begin(gPrintData), std::end(gPrintData), [](unsigned char c) { return c == 0; }));
        EXPECT_EQ(logMessages("Prints"), (std::vector<std::string>{"start", "end"}));
        total += pending.size() + rows[i].command.size();
        const std::string all = printed(total);
        ASSERT_GE(all.size(), total);
        EXPECT_BYTES(pending + rows[i].command, std::string_view(all).substr(total - pending.size() - rows[i].command.size()));
    }
}

TEST_F(Job, FailedPrintKeepsTheBufferWithThePrintCommand) {
    fill(10);
    EXPECT_EQ(Prints(1, 2), VREN_E_WRITE);
    EXPECT_EQ(pendingBytes(), std::string(10, 'c') + "P1,2\r");
    EXPECT_EQ(Prints(1, 2), VREN_E_WRITE);
    EXPECT_EQ(pendingBytes(), std::string(10, 'c') + "P1,2\rP1,2\r");
    EXPECT_EQ(logMessages("Prints"), (std::vector<std::string>{"start", "Failed to write", "start", "Failed to write"}));
}

// A label whose sends failed keeps its print command: composition leaves room
// for it at the end of the buffer, so no send has to make room for it first.
TEST_F(Job, FailedPrintKeepsItsCommandInANearlyFullBuffer) {
    fill(4000);
    const std::string text(74, 't');  // with its header, quotes and CR: the last 96 bytes of the buffer
    EXPECT_EQ(PrintDeviceFont(text.c_str(), 1, 1, 0, 1, 1, 0, 0), VREN_E_WRITE);
    EXPECT_EQ(Prints(1, 1), VREN_E_WRITE);
    EXPECT_TRUE(pendingBytes().ends_with("P1,1\r")) << pendingBytes().substr(3990);
}

// gDataIndex is exported: an index past the buffer, set by the application,
// is refused by every path that would read or write the buffer with it.
TEST_F(Job, IndexPastTheBufferIsRefused) {
    connect();
    struct Row {
        const char *tag;
        int (*call)();
    };
    const Row rows[] = {
        {"bufferCheck", [] { return bufferCheck(); }},                          // 0: would send it
        {"Prints", [] { return Prints(1, 1); }},                                // 1: would append and send
        {"PrintCircle", [] { return PrintCircle(1, 1, 1, 1); }},                // 2: would append
        {"PrintDeviceFont", [] { return PrintDeviceFont("x", 1, 1, 0, 1, 1, 0, 0); }},  // 3: quoted field
    };
    for (uint32_t index : {4097u, 0xFFFFFFFFu}) {
        for (size_t i = 0; i < std::size(rows); ++i) {
            markLog();
            gDataIndex = index;
            EXPECT_EQ(rows[i].call(), VREN_E_WRITE) << "row " << i;
            EXPECT_EQ(gDataIndex, index) << "row " << i;
            const std::vector<std::string> messages = logMessages(rows[i].tag);
            EXPECT_NE(std::find(messages.begin(), messages.end(), "Invalid buffer index : " + std::to_string(index)),
                      messages.end())
                << "row " << i;
        }
    }
    gDataIndex = 0;
    EXPECT_EQ(printed(0), "");
}

TEST_F(Job, ClearBufferWritesAtOnceAndLeavesTheBuffer) {
    connect();
    const std::string pending = fill(200);
    EXPECT_EQ(ClearBuffer(), 0);
    EXPECT_BYTES("CB\r", printed(3));
    EXPECT_EQ(pendingBytes(), pending);
    EXPECT_EQ(logMessages("ClearBuffer"), (std::vector<std::string>{"start", "end"}));
    DisconnectPrinter();
    markLog();
    EXPECT_EQ(ClearBuffer(), VREN_E_WRITE);
    EXPECT_EQ(logMessages("ClearBuffer"), (std::vector<std::string>{"start", "Failed to write"}));
    EXPECT_EQ(pendingBytes(), pending);
}

TEST_F(Job, DirectIO) {
    // Every row writes `write` (if any), then reads up to `wanted` bytes; the
    // printer answers the status query with one byte.
    struct Row {
        std::string write;
        bool writeBuffer;
        bool readBuffer;
        int wanted;
        int result;
        int read;  // *readLength afterwards
        std::string sent;
        std::vector<std::string> log;
    };
    const std::vector<std::string> done = {"start", "end"};
    const Row rows[] = {
        /* 0 */ {"^cu\r", true, true, 10, 0, 1, "^cu\r", done},
        /* 1 */ {"", false, true, 10, VREN_E_READ, 0, "", {"start", "Read len is 0"}},  // only reads: nothing comes
        /* 2 */ {"", true, false, 0, 0, 0, "", done},  // nothing to do
        /* 3 */ {"RAW\r", true, false, 0, 0, 0, "RAW\r", done},
        /* 4 */ {"^cu\r", true, true, 0, 0, 0, "^cu\r", done},  // read length 0: no read
        /* 5 */ {"^cu\r", true, true, -1, VREN_E_READ, -1, "", {"start", "Invalid read length"}},  // refused before writing
        /* 6 */ {"^cu\r", true, true, 1, 0, 1, "^cu\r", done},  // one byte wanted
        // A write length without a write buffer: only reads, and gets the
        // answer to row 4's query, which row 6 left on the connection.
        /* 7 */ {"^cu\r", false, true, 10, 0, 1, "", done},
    };
    vprinter::Behaviour behaviour;
    behaviour.status = 0x44;
    connect(behaviour);
    size_t total = 0;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        markLog();
        unsigned char answer[16] = {};
        int length = row.wanted;
        EXPECT_EQ(DirectIO(row.writeBuffer ? row.write.data() : nullptr, static_cast<int>(row.write.size()),
                           row.readBuffer ? answer : nullptr, &length),
                  row.result);
        EXPECT_EQ(length, row.read);
        if (row.read == 1) {
            EXPECT_EQ(answer[0], 0x44);
        }
        total += row.sent.size();
        EXPECT_BYTES(row.sent, printed(total).substr(total - row.sent.size()));
        EXPECT_EQ(logMessages("DirectIO"), row.log);
        const auto writes = logMessages("writeData");
        EXPECT_EQ(writes.empty(), row.sent.empty()) << "the transport is called only to send";
        EXPECT_EQ(logMessages("readData").empty(), i > 1 && i < 6) << "and only to read (rows 0, 1, 6 and 7)";
    }
}

TEST_F(Job, DirectIORefusesBadLengths) {
    connect();
    unsigned char answer[4];
    EXPECT_EQ(DirectIO("abc", -3, nullptr, nullptr), VREN_E_WRITE);
    EXPECT_EQ(DirectIO("abc", 3, answer, nullptr), VREN_E_READ);
    EXPECT_EQ(printed(), "");  // nothing was sent
    EXPECT_EQ(logMessages("DirectIO"), (std::vector<std::string>{"start", "Invalid write length : -3", "start",
                                                                  "Invalid read length"}));
}

TEST_F(Job, DirectIOReadsAtMost512Bytes) {
    vprinter::Behaviour behaviour;
    behaviour.modelReply = std::string(700, 'm');
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    printer_->setBehaviour(behaviour);
    std::string answer(1000, '\0');
    int length = 1000;
    EXPECT_EQ(DirectIO("^PI0\r\n", 6, answer.data(), &length), 0);
    EXPECT_EQ(length, 512);
}

TEST_F(Job, DirectIOWriteFailure) {
    int length = 4;
    unsigned char answer[4];
    EXPECT_EQ(DirectIO("abc", 3, answer, &length), VREN_E_WRITE);  // not connected
    EXPECT_EQ(length, 4);  // the read step did not run
}

}  // namespace
}  // namespace vren::test
