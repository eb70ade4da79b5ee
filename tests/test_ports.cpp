// Serial and parallel connections end to end: pseudo-terminals stand in for
// /dev/ttyS* and /dev/lp* inside a private /dev, the virtual printer serves the
// other side. Skipped where this machine cannot give a process a private /dev.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "dev_nodes.h"
#include "fake_write.h"
#include "library_test.h"
#include "test_io.h"
#include "log_records.h"

namespace vren::test {
namespace {

using namespace std::chrono_literals;

// "0;1;2;..." cut to `size` bytes: output whose every part can be told apart.
std::string numberedText(size_t size) {
    std::string text;
    for (int i = 0; text.size() < size; ++i)
        text += std::to_string(i) + ";";
    text.resize(size);
    return text;
}

class Ports : public LibraryTest {
protected:
    // A printer behind a pseudo-terminal; returns the slave path to bind. The
    // printer starts in this process once the child that uses the port exists.
    std::string startPrinter(vprinter::Behaviour behaviour = {}) {
        behaviour_ = behaviour;
        return pty_.slavePath();
    }
    void run(const std::vector<std::pair<std::string, std::string>> &nodes, const std::function<void()> &body) {
        const int master = pty_.master();
        const auto paced = [&] {
            // A printer that stops reading holds up only the pauses after
            // failed attempts; one that never resumes, none.
            if (behaviour_.stopReadingAfter < 0)
                pauseUntilLineIsRead(master);
            else if (behaviour_.resumeAfterMs >= 0)
                pauseUntilLineIsRead(master, 200000);
            body();
        };
        const int status = runWithDevNodes(nodes, paced, [&] {
            printer_ = std::make_unique<vprinter::VirtualPrinter>(behaviour_);
            printer_->serveDescriptor(pty_.releaseMaster());
        });
        if (status == kNoPrivateDev)
            GTEST_SKIP() << "no private mount namespace for /dev on this machine";
        EXPECT_EQ(status, 0) << "the part that ran in the private /dev failed (see above)";
    }
    // What the tests check at the printer afterwards needs the run to have happened.
    bool ran() const { return !IsSkipped(); }
    PseudoTerminal pty_;
    vprinter::Behaviour behaviour_;
};

bool contains(const std::vector<std::string> &messages, const std::string &message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

TEST_F(Ports, SerialScanTakesTheFirstPortThatOpensAndReopensIt) {
    const std::string slave = startPrinter();
    run({{"ttyS3", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("SERIAL:115200"), 0);
        EXPECT_EQ(gPrinterModel, 151u);
        const auto log = logMessages("ConnectToPrinter");
        for (const char *port : {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2"})
            EXPECT_TRUE(contains(log, std::string("Failed to open ") + port)) << port;
        EXPECT_FALSE(contains(log, "Failed to open /dev/ttyS3"));
        const auto serial = logMessages("openDeviceSerial");
        EXPECT_EQ(std::count(serial.begin(), serial.end(), "Success port open."), 2);
        // The line translates the printer's CR to LF: the reply ends LF LF.
        EXPECT_TRUE(contains(logMessages("modelCheck"), "read OK."));
    });
}

// The records of the log since the last mark, "<tag>: <message>", after the
// new-connection banner, up to and including the first one that is `last`.
std::vector<std::string> recordsUpTo(const std::string &logText, const std::string &last) {
    std::vector<std::string> records = parseLogRecords(logText).records;
    if (!records.empty() && records.front().starts_with("ConnectToPrinter: \n\n\n"))
        records.erase(records.begin());
    const auto end = std::find(records.begin(), records.end(), last);
    if (end != records.end())
        records.erase(end + 1, records.end());
    return records;
}

// The serial opener's lines for one call that ends with `outcome`.
void serialCall(std::vector<std::string> &records, const std::string &path, const std::string &outcome) {
    records.push_back("openDeviceSerial: Start openDeviceSerial");
    records.push_back("openDeviceSerial: Serial port : " + path);
    records.push_back("openDeviceSerial: " + outcome);
}

void parallelCall(std::vector<std::string> &records, const std::string &path, const std::string &outcome) {
    records.push_back("openDeviceParallel: Start");
    records.push_back("openDeviceParallel: Parallel port : " + path);
    records.push_back("openDeviceParallel: " + outcome);
}

// The openers' lines and the caller's, in order, up to the model check: a
// scan logs each port that failed after the opener's own lines, and a serial
// port that opened is opened a second time (the first descriptor closed, so
// that the disconnect leaves nothing open).
TEST_F(Ports, OpeningIsLoggedInOrder) {
    const std::string slave = startPrinter();
    run({{"ttyS3", slave}, {"lp2", slave}}, [&] {
        std::vector<std::string> serialScan = {"ConnectToPrinter: Request a serial connection."};
        for (int n = 0; n < 3; ++n) {
            const std::string path = "/dev/ttyS" + std::to_string(n);
            serialCall(serialScan, path, "Failed to open serial port.");
            serialScan.push_back("ConnectToPrinter: Failed to open " + path);
        }
        serialCall(serialScan, "/dev/ttyS3", "Success port open.");
        serialCall(serialScan, "/dev/ttyS3", "Success port open.");
        serialScan.push_back("ConnectToPrinter: Check model.");

        std::vector<std::string> serialPath = {"ConnectToPrinter: Request a serial connection."};
        serialCall(serialPath, "/dev/ttyS3", "Success port open.");
        serialCall(serialPath, "/dev/ttyS3", "Success port open.");
        serialPath.push_back("ConnectToPrinter: Check model.");

        std::vector<std::string> parallelScan = {"ConnectToPrinter: Request a parallel connection."};
        for (int n = 0; n < 2; ++n) {
            const std::string path = "/dev/lp" + std::to_string(n);
            parallelCall(parallelScan, path, "Failed to open parallel port.");
            parallelScan.push_back("ConnectToPrinter: Failed to open " + path);
        }
        parallelCall(parallelScan, "/dev/lp2", "Success port open.");
        parallelScan.push_back("ConnectToPrinter: Check model.");

        std::vector<std::string> parallelPath = {"ConnectToPrinter: Request a parallel connection."};
        parallelCall(parallelPath, "/dev/lp2", "Success port open.");
        parallelPath.push_back("ConnectToPrinter: Check model.");

        const std::pair<const char *, const std::vector<std::string> &> rows[] = {
            /* 1 */ {"SERIAL:9600", serialScan},
            /* 2 */ {"/dev/ttyS3:9600", serialPath},
            /* 3 */ {"PARALLEL", parallelScan},
            /* 4 */ {"/dev/lp2", parallelPath},
        };
        for (size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + rows[i].first);
            markLog();
            const size_t before = openDescriptorCount();
            ASSERT_EQ(ConnectToPrinter(rows[i].first), 0);
            EXPECT_EQ(recordsUpTo(logText(), "ConnectToPrinter: Check model."), rows[i].second);
            EXPECT_EQ(DisconnectPrinter(), 0);
            EXPECT_EQ(openDescriptorCount(), before);
        }
    });
}

// Openers that fail: every line in order, and the code of the last failure
// as the result (a port that opens but is not a terminal fails with -99).
TEST_F(Ports, FailedOpeningIsLoggedInOrder) {
    auto serialScan = [](int notATerminal) {
        std::vector<std::string> records = {"ConnectToPrinter: Request a serial connection."};
        for (int n = 0; n < 10; ++n) {
            const std::string path = "/dev/ttyS" + std::to_string(n);
            serialCall(records, path,
                       n == notATerminal ? "Failed to call tcgetattr function." : "Failed to open serial port.");
            records.push_back("ConnectToPrinter: Failed to open " + path);
        }
        records.push_back("ConnectToPrinter: Failed to open device.");
        return records;
    };
    std::vector<std::string> serialPath = {"ConnectToPrinter: Request a serial connection."};
    serialCall(serialPath, "/dev/ttyS9", "Failed to call tcgetattr function.");
    serialCall(serialPath, "/dev/ttyS9", "Failed to call tcgetattr function.");
    serialPath.push_back("ConnectToPrinter: Failed to open device.");
    std::vector<std::string> parallelScan = {"ConnectToPrinter: Request a parallel connection."};
    for (int n = 0; n < 10; ++n) {
        const std::string path = "/dev/lp" + std::to_string(n);
        parallelCall(parallelScan, path, "Failed to open parallel port.");
        parallelScan.push_back("ConnectToPrinter: Failed to open " + path);
    }
    parallelScan.push_back("ConnectToPrinter: Failed to open device.");
    std::vector<std::string> parallelPath = {"ConnectToPrinter: Request a parallel connection."};
    parallelCall(parallelPath, "/dev/lp0 and more", "Failed to open parallel port.");
    parallelPath.push_back("ConnectToPrinter: Failed to open device.");

    struct Row {
        std::string notATerminal;  // a /dev name bound to /dev/null
        const char *address;
        int result;
        std::vector<std::string> records;
    };
    const Row rows[] = {
        /* 1 */ {"ttyS4", "SERIAL:9600", VREN_E_OPEN, serialScan(4)},
        /* 2 */ {"ttyS9", "SERIAL:9600", VREN_E_LINE_CONFIG, serialScan(9)},
        /* 3 */ {"ttyS9", "/dev/ttyS9:9600", VREN_E_LINE_CONFIG, serialPath},
        /* 4 */ {"ttyS9", "PARALLEL", VREN_E_OPEN, parallelScan},
        /* 5 */ {"ttyS9", "/dev/lp0 and more", VREN_E_OPEN, parallelPath},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + rows[i].address);
        markLog();
        const int status = runWithDevNodes({{rows[i].notATerminal, "/dev/null"}}, [&] {
            EXPECT_EQ(ConnectToPrinter(rows[i].address), rows[i].result);
            EXPECT_EQ(recordsUpTo(logText(), "ConnectToPrinter: Failed to open device."), rows[i].records);
        });
        if (status == kNoPrivateDev)
            GTEST_SKIP() << "no private mount namespace for /dev on this machine";
        EXPECT_EQ(status, 0);
    }
}

// The rate is read from the text after the first colon as atoi reads it, and
// the port runs at it (any rate the table lacks: 9600). The line is set to
// another speed before each connect.
TEST_F(Ports, SerialRateFromTheAddress) {
    const std::string slave = startPrinter();
    run({{"ttyS0", slave}}, [&] {
        struct Row {
            const char *address;
            speed_t line;
        };
        const Row rows[] = {
            /* 1 */ {"/dev/ttyS0:115200", B115200},
            /* 2 */ {"/dev/ttyS0: 57600", B57600},
            /* 3 */ {"/dev/ttyS0:+4800 baud", B4800},
            /* 4 */ {"/dev/ttyS0:19200:8N1", B19200},
            /* 5 */ {"/dev/ttyS0:38400x", B38400},
            /* 6 */ {"/dev/ttyS0:", B9600},
            /* 7 */ {"/dev/ttyS0:-2400", B9600},
            /* 8 */ {"/dev/ttyS0:fast", B9600},
            /* 9 */ {"SERIAL:2400", B2400},
            /* 10 */ {"serial:x:4800", B9600},
        };
        for (size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE(std::string("row ") + std::to_string(i + 1) + ": " + rows[i].address);
            const int probe = open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
            ASSERT_GE(probe, 0);
            termios line{};
            ASSERT_EQ(tcgetattr(probe, &line), 0);
            cfsetispeed(&line, B300);
            cfsetospeed(&line, B300);
            ASSERT_EQ(tcsetattr(probe, TCSANOW, &line), 0);

            ASSERT_EQ(ConnectToPrinter(rows[i].address), 0);
            ASSERT_EQ(tcgetattr(probe, &line), 0);
            EXPECT_EQ(cfgetispeed(&line), rows[i].line);
            EXPECT_EQ(cfgetospeed(&line), rows[i].line);
            close(probe);
            EXPECT_EQ(DisconnectPrinter(), 0);
        }
    });
}

// A failed connect to the device of the kept serial connection sets the
// line's speed on the way: the kept connection gets its own attributes back
// and goes on at its speed. Here the new attempt's model query never leaves.
TEST_F(Ports, FailedReconnectKeepsTheLineOfTheKeptConnection) {
    const std::string slave = startPrinter();
    run({{"ttyS0", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("/dev/ttyS0:115200"), 0);
        shortenNextWrite(6, 0);
        setWriteObserver([](int, size_t) { shortenNextWrite(6, 0); });
        EXPECT_EQ(ConnectToPrinter("/dev/ttyS0:2400"), VREN_E_NOT_ACCEPTED);
        setWriteObserver(nullptr);
        shortenNextWrite(0, 0);
        const int probe = open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(probe, 0);
        termios line{};
        ASSERT_EQ(tcgetattr(probe, &line), 0);
        close(probe);
        EXPECT_EQ(cfgetospeed(&line), B115200);
        EXPECT_EQ(DirectIO("kept", 4, nullptr, nullptr), 0);
    });
    if (!ran())
        return;
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + 4, 10s));
    EXPECT_EQ(printer_->received(0), "^PI0\r\nkept");
}

// A child process that the application starts does not inherit the printer's
// descriptor, which would keep the connection open after DisconnectPrinter.
TEST_F(Ports, ConnectionIsNotInherited) {
    const std::string slave = startPrinter();
    pty_.makeRaw();  // a parallel port does not translate line ends
    run({{"ttyS0", slave}, {"lp0", slave}}, [&] {
        for (const char *address : {"/dev/ttyS0:9600", "/dev/lp0"}) {
            SCOPED_TRACE(address);
            const size_t before = inheritableDescriptorCount();
            ASSERT_EQ(ConnectToPrinter(address), 0);
            EXPECT_EQ(inheritableDescriptorCount(), before);
            EXPECT_EQ(DisconnectPrinter(), 0);
        }
    });
}

TEST_F(Ports, SerialWithoutPortsFailsWithTheOpenersCode) {
    run({}, [&] {
        EXPECT_EQ(ConnectToPrinter("SERIAL:9600"), VREN_E_OPEN);
        EXPECT_EQ(ConnectToPrinter("PARALLEL"), VREN_E_OPEN);
        const auto log = logMessages("ConnectToPrinter");
        for (int n = 0; n < 10; ++n) {
            EXPECT_TRUE(contains(log, "Failed to open /dev/ttyS" + std::to_string(n)));
            EXPECT_TRUE(contains(log, "Failed to open /dev/lp" + std::to_string(n)));
        }
    });
}

TEST_F(Ports, SerialChunksAndPauses) {
    const std::string slave = startPrinter();
    run({{"ttyS0", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("/dev/ttyS0:9600"), 0);
        clearSleeps();
        static std::vector<size_t> writes;
        setWriteObserver([](int, size_t length) { writes.push_back(length); });
        const std::string label(1000, 'S');
        EXPECT_EQ(writeData(label.data(), 1000), 1000);
        setWriteObserver(nullptr);
        EXPECT_EQ(writes, (std::vector<size_t>{512, 488}));
        // Entry pause, then before each chunk and between the two chunks.
        EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 30000, 30000, 30000}));
    });
    if (!ran())
        return;
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + 1000, 10s));
    EXPECT_EQ(printer_->received(0).substr(6), std::string(1000, 'S'));
}

// The allowance of five failed attempts holds for the whole call, not for each
// chunk: three failures on the first chunk and three on the second give up.
TEST_F(Ports, FailureAllowanceCoversTheWholeCall) {
    const std::string slave = startPrinter();
    run({{"ttyS0", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("/dev/ttyS0:9600"), 0);
        // Write calls in order: a chunk the line takes nothing of, or one it takes whole.
        static const std::string plan = "FFFWFFFWW";
        static size_t call = 0;
        call = 0;
        shortenNextWrite(512, 0);
        setWriteObserver([](int, size_t) {
            if (++call < plan.size() && plan[call] == 'F')
                shortenNextWrite(512, 0);
        });
        const std::string label(1536, 'F');
        EXPECT_EQ(writeData(label.data(), 1536), VREN_E_WRITE_GAVE_UP);
        setWriteObserver(nullptr);
        EXPECT_EQ(call, 7u);
    });
}

// One transport call makes at most 200 attempts: over serial that is 102,400
// bytes. Raw output longer than that goes out in several calls.
TEST_F(Ports, OneWriteCarriesAtMost200Chunks) {
    const std::string slave = startPrinter();
    const std::string label = numberedText(150000);
    run({{"ttyS0", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("/dev/ttyS0:115200"), 0);
        EXPECT_EQ(writeData(label.data(), 150000), 102400);
        // One byte more than a call carries already takes a second call.
        EXPECT_EQ(DirectIO(label.data(), 102401, nullptr, nullptr), 0);
        EXPECT_EQ(DirectIO(label.data(), 150000, nullptr, nullptr), 0);
    });
    if (!ran())
        return;
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + 102400 + 102401 + 150000, 10s));
    EXPECT_EQ(printer_->received(0), "^PI0\r\n" + label.substr(0, 102400) + label.substr(0, 102401) + label);
}

TEST_F(Ports, ParallelScanWritesWithoutPauses) {
    const std::string slave = startPrinter();
    pty_.makeRaw();  // a parallel port does not translate line ends
    run({{"lp2", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("PARALLEL"), 0);
        const auto log = logMessages("ConnectToPrinter");
        EXPECT_TRUE(contains(log, "Failed to open /dev/lp0"));
        EXPECT_TRUE(contains(log, "Failed to open /dev/lp1"));
        clearSleeps();
        const std::string label(3000, 'P');
        EXPECT_EQ(writeData(label.data(), 3000), 3000);
        EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000}));
        EXPECT_EQ(DisconnectPrinter(), 0);
        ASSERT_EQ(ConnectToPrinter("/dev/lp2"), 0);
    });
    if (!ran())
        return;
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + 3000 + 6, 10s));
    EXPECT_EQ(printer_->received(0).substr(6, 3000), std::string(3000, 'P'));
}

// A printer that stops reading: the line fills up, the transport gives up
// after its sixth failed attempt, and the caller reports an incomplete write.
TEST_F(Ports, PrinterThatStopsReading) {
    vprinter::Behaviour behaviour;
    behaviour.stopReadingAfter = 6 + 1000;
    const std::string slave = startPrinter(behaviour);
    run({{"ttyS1", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("/dev/ttyS1:9600"), 0);
        clearSleeps();
        markLog();
        const std::string label(60000, 'x');
        EXPECT_EQ(writeData(label.data(), static_cast<uint32_t>(label.size())), VREN_E_WRITE_GAVE_UP);
        const auto sleeps = sleepsTaken();
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 200000u), 5);
        EXPECT_EQ(DirectIO(label.data(), static_cast<int>(label.size()), nullptr, nullptr), VREN_E_WRITE);
        EXPECT_EQ(logMessages("DirectIO").back(), "Failed to write");
    });
}

// A slow reader: the line fills, a few attempts fail, and once the printer
// reads again the transport goes on where the line stopped taking bytes, so
// the printer gets every byte exactly once.
TEST_F(Ports, SlowReaderGetsTheWholeLabelOnce) {
    vprinter::Behaviour behaviour;
    behaviour.stopReadingAfter = 6 + 4000;
    behaviour.resumeAfterMs = 50;  // about two failed attempts at the test's time scale
    const std::string slave = startPrinter(behaviour);
    std::string label;
    for (int i = 0; label.size() < 30000; ++i)
        label += std::to_string(i) + ",";
    run({{"ttyS2", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("/dev/ttyS2:9600"), 0);
        clearSleeps();
        EXPECT_EQ(writeData(label.data(), static_cast<uint32_t>(label.size())), static_cast<int>(label.size()));
    });
    if (!ran())
        return;
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + label.size(), 10s));
    EXPECT_EQ(printer_->received(0).substr(6), label);
}

// Raw output longer than one transport call can carry, over a line that
// takes only part of the first chunk: that failed attempt uses up one of the
// first call's 200, which then ends 412 bytes short of its 102,400, and the
// next call goes on where it stopped, so the printer gets every byte once.
TEST_F(Ports, LongRawOutputWithAFailedAttemptArrivesWhole) {
    const std::string slave = startPrinter();
    pty_.makeRaw();
    const std::string label = numberedText(150000);
    run({{"ttyS0", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("/dev/ttyS0:115200"), 0);
        clearSleeps();
        shortenNextWrite(512, 100);
        EXPECT_EQ(DirectIO(label.data(), static_cast<int>(label.size()), nullptr, nullptr), 0);
        const auto sleeps = sleepsTaken();
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 200000u), 1);
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10000u), 2) << "two transport calls";
    });
    if (!ran())
        return;
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + label.size(), 10s));
    EXPECT_EQ(printer_->received(0).substr(6), label);
}

}  // namespace
}  // namespace vren::test
