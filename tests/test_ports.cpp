// Serial and parallel connections end to end: pseudo-terminals stand in for
// /dev/ttyS* and /dev/lp* inside a private /dev, the virtual printer serves the
// other side. Skipped where this machine cannot give a process a private /dev.
#include <thread>

#include "dev_nodes.h"
#include "fake_write.h"
#include "library_test.h"

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
        const int status = runWithDevNodes(nodes, body, [&] {
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
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + 1000, 2s));
    EXPECT_EQ(printer_->received(0).substr(6), std::string(1000, 'S'));
}

// One transport call makes at most 200 attempts: over serial that is 102,400
// bytes. Raw output longer than that goes out in several calls.
TEST_F(Ports, OneWriteCarriesAtMost200Chunks) {
    const std::string slave = startPrinter();
    const std::string label = numberedText(150000);
    run({{"ttyS0", slave}}, [&] {
        ASSERT_EQ(ConnectToPrinter("/dev/ttyS0:115200"), 0);
        EXPECT_EQ(writeData(label.data(), 150000), 102400);
        EXPECT_EQ(DirectIO(label.data(), 150000, nullptr, nullptr), 0);
    });
    if (!ran())
        return;
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + 102400 + 150000, 5s));
    EXPECT_EQ(printer_->received(0), "^PI0\r\n" + label.substr(0, 102400) + label);
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
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + 3000 + 6, 2s));
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
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + label.size(), 5s));
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
    ASSERT_TRUE(printer_->waitForBytes(0, 6 + label.size(), 5s));
    EXPECT_EQ(printer_->received(0).substr(6), label);
}

}  // namespace
}  // namespace vren::test
