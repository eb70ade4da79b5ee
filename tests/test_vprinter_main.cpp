// The vren-vprinter program: its options and faults, run as a separate
// process and driven over loopback TCP and a pseudo-terminal.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "png_io.h"
#include "test_io.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using vren::test::connectTo;
using vren::test::Descriptor;
using vren::test::fileText;
using vren::test::readSome;
using vren::test::sendAll;
using vren::test::waitFor;

class PrinterProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vren-vprinter-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }

    // Starts the program with `args` in the test's directory.
    void start(std::vector<std::string> args) { child_ = vren::test::spawnIn(dir_, VREN_VPRINTER_PROGRAM, std::move(args)); }
    // Starts the program on a free TCP port and returns the port.
    int startTcp(std::vector<std::string> args) {
        args.insert(args.end(), {"--port", "0", "--ready-file", "port.txt"});
        fs::remove(dir_ / "port.txt");
        start(args);
        std::string port;
        waitFor([&] {
            port = fileText(dir_ / "port.txt");
            return port.ends_with("\n");
        });
        return port.empty() ? -1 : std::stoi(port);
    }
    // The exit status once the program ended by itself within `timeout`, or
    // -1 (it is then killed).
    int exitStatus(std::chrono::milliseconds timeout = 10s) {
        int status = 0;
        const bool ended = waitFor([&] { return waitpid(child_, &status, WNOHANG) == child_; }, timeout);
        if (!ended)
            return -1;
        child_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string err() const { return fileText(dir_ / "stderr.txt"); }

    fs::path dir_;
    pid_t child_ = -1;
};

const std::string kFirst = "SW100\rSL50,0,G,0\rBD0,0,10,10,O\rP1,1\r";
const std::string kSecond = "BD0,0,20,20,O\rP1,1\r";

TEST_F(PrinterProgram, ExitsAfterLabelsAndCopiesTheLastOne) {
    const int port = startTcp({"--job-dir", "jobs", "--label-png", "label.png", "--exit-after-labels", "2"});
    ASSERT_GT(port, 0) << err();
    {
        Descriptor client(connectTo(port));
        ASSERT_TRUE(sendAll(client.get(), kFirst));
        ASSERT_TRUE(waitFor([&] { return fs::exists(dir_ / "jobs" / "label-0001.json"); }));
        EXPECT_NE(-1, kill(child_, 0));  // still running after one label
        ASSERT_TRUE(sendAll(client.get(), kSecond));
        EXPECT_EQ(0, exitStatus()) << err();
    }
    render::Canvas canvas;
    ASSERT_TRUE(render::readPng((dir_ / "label.png").string(), canvas));
    EXPECT_EQ(400u, canvas.countDots());  // the second label
    EXPECT_EQ(fileText(dir_ / "jobs" / "label-0002.png"), fileText(dir_ / "label.png"));
    EXPECT_EQ(kFirst, fileText(dir_ / "jobs" / "label-0001.bin"));
}

TEST_F(PrinterProgram, LabelPngThatCannotBeWrittenIsReported) {
    const int port = startTcp({"--job-dir", "jobs", "--label-png", "no/such/dir/label.png", "--exit-after-labels",
                               "1"});
    ASSERT_GT(port, 0) << err();
    Descriptor client(connectTo(port));
    ASSERT_TRUE(sendAll(client.get(), kFirst));
    // The label is kept in the job directory; the failed copy is reported
    // and makes the exit status 1.
    EXPECT_EQ(1, exitStatus()) << err();
    EXPECT_NE(std::string::npos, err().find("label.png")) << err();
    EXPECT_TRUE(fs::exists(dir_ / "jobs" / "label-0001.png"));
}

TEST_F(PrinterProgram, JobFilesThatCannotBeWrittenAreReported) {
    const int port = startTcp({"--job-dir", "jobs"});
    ASSERT_GT(port, 0) << err();
    fs::remove_all(dir_ / "jobs");
    Descriptor client(connectTo(port));
    ASSERT_TRUE(sendAll(client.get(), kFirst));
    EXPECT_TRUE(waitFor([&] { return err().find("label-0001.json") != std::string::npos; })) << err();
    EXPECT_NE(std::string::npos, err().find("cannot write jobs/label-0001.png")) << err();
    EXPECT_NE(std::string::npos, err().find("cannot write jobs/label-0001.bin")) << err();
}

TEST_F(PrinterProgram, PictureThatCannotBeWrittenIsNotAnnounced) {
    // A directory where the picture should go: the picture fails, the
    // label's bytes and transcript are still kept.
    fs::create_directories(dir_ / "jobs" / "label-0001.png" / "in-the-way");
    // A picture of an earlier run whose new one cannot be written is removed,
    // so that it is not taken for this run's second label.
    fs::create_directories(dir_ / "jobs" / "label-0002.png.part" / "in-the-way");
    std::ofstream(dir_ / "jobs" / "label-0002.png") << "stale";
    const int port = startTcp({"--job-dir", "jobs", "--exit-after-labels", "2"});
    ASSERT_GT(port, 0) << err();
    Descriptor client(connectTo(port));
    ASSERT_TRUE(sendAll(client.get(), kFirst + kFirst));
    EXPECT_EQ(0, exitStatus()) << err();
    EXPECT_NE(std::string::npos, err().find("cannot write jobs/label-0001.png")) << err();
    EXPECT_EQ(std::string::npos, err().find("label-0001.png (")) << err();
    EXPECT_EQ(kFirst, fileText(dir_ / "jobs" / "label-0001.bin"));
    EXPECT_TRUE(fs::exists(dir_ / "jobs" / "label-0001.png" / "in-the-way"));
    EXPECT_NE(std::string::npos, err().find("cannot write jobs/label-0002.png")) << err();
    EXPECT_FALSE(fs::exists(dir_ / "jobs" / "label-0002.png"));
}

TEST_F(PrinterProgram, StatusFaultsAndNoAnswer) {
    struct Row {
        const char *kind;
        std::string model, status;  // what the queries bring back
    };
    const Row rows[] = {
        {"paper-empty", "LQ1\r\n", "\x80"},  // 0
        {"cover-open", "LQ1\r\n", "\x40"},   // 1
        {"ribbon-end", "LQ1\r\n", "\x04"},   // 2
        {"no-answer", "", ""},               // 3
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const int port = startTcp({"--fault", rows[i].kind});
        ASSERT_GT(port, 0) << "row " << i << ": " << err();
        Descriptor client(connectTo(port));
        ASSERT_TRUE(sendAll(client.get(), "^PI0\r\n"));
        EXPECT_EQ(rows[i].model, readSome(client.get(), 5, rows[i].model.empty() ? 300ms : 2s)) << "row " << i;
        ASSERT_TRUE(sendAll(client.get(), "^cu\r"));
        EXPECT_EQ(rows[i].status, readSome(client.get(), 1, rows[i].status.empty() ? 300ms : 2s)) << "row " << i;
        kill(child_, SIGTERM);
        EXPECT_EQ(0, exitStatus()) << "row " << i;
    }
}

TEST_F(PrinterProgram, FaultsThatStartWhileRunning) {
    // A paper-empty fault after one label, then a status file that clears it
    // and then silences the printer.
    const int port = startTcp({"--job-dir", "jobs", "--fault", "paper-empty", "--fault-after-labels", "1",
                               "--status-file", "status.txt"});
    ASSERT_GT(port, 0) << err();
    Descriptor client(connectTo(port));
    auto status = [&](std::chrono::milliseconds wait) {
        EXPECT_TRUE(sendAll(client.get(), "^cu\r"));
        return readSome(client.get(), 1, wait);
    };
    EXPECT_EQ(std::string(1, '\0'), status(2s));
    ASSERT_TRUE(sendAll(client.get(), kFirst));
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir_ / "jobs" / "label-0001.json"); }));
    EXPECT_EQ("\x80", status(2s));
    std::ofstream(dir_ / "status.txt") << "0x40\n";
    ASSERT_TRUE(waitFor([&] { return err().find("status now 0x40") != std::string::npos; })) << err();
    EXPECT_EQ("\x40", status(2s));
    std::ofstream(dir_ / "status.txt") << "none\n";
    ASSERT_TRUE(waitFor([&] { return err().find("status now none") != std::string::npos; })) << err();
    EXPECT_EQ("", status(300ms));
}

TEST_F(PrinterProgram, SlowReaderTakesItsTime) {
    // 638 bytes (one unknown command) at most 64 bytes a read, 20 ms apart:
    // the status query behind them, split between two reads, is answered
    // after at least nine pauses.
    const int port = startTcp({"--fault", "slow-reader"});
    ASSERT_GT(port, 0) << err();
    Descriptor client(connectTo(port));
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(sendAll(client.get(), std::string(637, 'x') + "\r^cu\r"));
    EXPECT_EQ(std::string(1, '\0'), readSome(client.get(), 1, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 180ms);
}

TEST_F(PrinterProgram, CloseMidLabel) {
    const int port = startTcp({"--job-dir", "jobs", "--fault", "close-mid-label"});
    ASSERT_GT(port, 0) << err();
    Descriptor client(connectTo(port));
    // The whole label in one write, as the library sends it: the printer
    // still closes after the drawing command, before the print command.
    ASSERT_TRUE(sendAll(client.get(), kFirst));
    bool ended = false;
    readSome(client.get(), 1, 5s, &ended);
    EXPECT_TRUE(ended);
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir_ / "jobs" / "unprinted-0001.json"); }));
    EXPECT_EQ("SW100\rSL50,0,G,0\rBD0,0,10,10,O\r", fileText(dir_ / "jobs" / "unprinted-0001.bin"));
    EXPECT_FALSE(fs::exists(dir_ / "jobs" / "label-0001.png"));
}

TEST_F(PrinterProgram, RecordsEachConnectionAndAnswersAsConfigured) {
    fs::create_directories(dir_ / "rec");
    const int port = startTcp({"--record-dir", "rec", "--model", "LQ2", "--status", "0x44", "--close-after", "40",
                               "--exit-after", "2"});
    ASSERT_GT(port, 0) << err();
    const std::string first = std::string("^PI0\r\n^cu\r\x00\xFF", 12);
    {
        Descriptor client(connectTo(port));
        ASSERT_TRUE(sendAll(client.get(), first));
        EXPECT_EQ("LQ2\r\n\x44", readSome(client.get(), 6, 2s));
    }
    {
        // Closed by the printer after 40 bytes.
        Descriptor client(connectTo(port));
        ASSERT_TRUE(sendAll(client.get(), std::string(40, 'a')));
        bool ended = false;
        readSome(client.get(), 1, 5s, &ended);
        EXPECT_TRUE(ended);
    }
    EXPECT_EQ(0, exitStatus()) << err();
    EXPECT_EQ(first, fileText(dir_ / "rec" / "connection-0.bin"));
    EXPECT_EQ(std::string(40, 'a'), fileText(dir_ / "rec" / "connection-1.bin"));
}

TEST_F(PrinterProgram, BadOptionsExitWithTwo) {
    const std::vector<std::string> rows[] = {
        {"--fault", "on-fire"},                  // 0: unknown fault
        {"--fault", "close-mid-label"},          // 1: needs --job-dir
        {"--label-png", "x.png"},                // 2: needs --job-dir
        {"--exit-after-labels", "1"},            // 3: needs --job-dir
        {"--no-tcp"},                            // 4: needs --pty
        {"--port"},                              // 5: missing value
        {"--bogus"},                             // 6: unknown option
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        start(rows[i]);
        EXPECT_EQ(2, exitStatus()) << "row " << i << ": " << err();
    }
}

TEST_F(PrinterProgram, HelpAndVersionOnStandardOutput) {
    start({"--version"});
    EXPECT_EQ(0, exitStatus());
    EXPECT_TRUE(std::regex_match(fileText(dir_ / "stdout.txt"), std::regex("vren-vprinter [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << fileText(dir_ / "stdout.txt");
    start({"--help"});
    EXPECT_EQ(0, exitStatus());
    EXPECT_TRUE(fileText(dir_ / "stdout.txt").starts_with("Usage: vren-vprinter [OPTION]...\n"));
    EXPECT_EQ("", err());
}

TEST_F(PrinterProgram, BadNumbersAndUnknownOptionsAreNamed) {
    const std::vector<std::string> rows[] = {
        {"--port", "abc"},              // 0: not a number
        {"--port", "70000"},            // 1: not a port
        {"--status", "0x1ff"},          // 2: more than a byte
        {"--close-after", "-5"},        // 3: negative
        {"--exit-after", "2x"},         // 4: not a whole number
        {"--bogus"},                    // 5: unknown option
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        start(rows[i]);
        EXPECT_EQ(2, exitStatus()) << "row " << i << ": " << err();
        EXPECT_NE(std::string::npos, err().find(rows[i][0])) << "row " << i << ": " << err();
    }
}

TEST_F(PrinterProgram, PseudoTerminalWithLink) {
    const fs::path link = dir_ / "ttyS9";
    start({"--pty", "--no-tcp", "--pty-link", link.string(), "--job-dir", "jobs", "--exit-after-labels", "1"});
    std::string slave;
    ASSERT_TRUE(waitFor([&] {
        slave = fileText(dir_ / "stdout.txt");
        return slave.ends_with("\n");
    })) << err();
    slave.pop_back();
    if (slave.empty() || !slave.starts_with("/dev/"))
        GTEST_SKIP() << "no pseudo-terminal: " << err();
    EXPECT_EQ(fs::path(slave), fs::read_symlink(link));
    {
        Descriptor line(open(link.c_str(), O_RDWR | O_NOCTTY));
        ASSERT_GE(line.get(), 0);
        ASSERT_TRUE(sendAll(line.get(), "^PI0\r\n"));
        EXPECT_EQ("LQ1\r\n", readSome(line.get(), 5, 10s));
        ASSERT_TRUE(sendAll(line.get(), kFirst));
        EXPECT_EQ(0, exitStatus()) << err();
    }
    EXPECT_TRUE(fs::exists(dir_ / "jobs" / "label-0001.png"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));  // removed on exit
}

TEST_F(PrinterProgram, PseudoTerminalLinkReplacesOnlyItsOwn) {
    const fs::path link = dir_ / "ttyS9";
    const std::vector<std::string> args = {"--pty", "--no-tcp", "--pty-link", link.string()};
    // What is at the link's path, not following a link (a terminal would block a read).
    const auto atLink = [&] {
        const fs::file_status status = fs::symlink_status(link);
        if (fs::is_symlink(status))
            return "-> " + fs::read_symlink(link).string();
        return fs::is_regular_file(status) ? fileText(link) : std::string("nothing");
    };
    // 0: a file, 1: a link to something else than a pseudo-terminal: kept, not served.
    std::ofstream(dir_ / "file") << "keep";
    fs::copy_file(dir_ / "file", link);
    start(args);
    EXPECT_EQ(2, exitStatus()) << err();
    EXPECT_NE(std::string::npos, err().find(link.string())) << err();
    EXPECT_EQ("keep", atLink());
    fs::remove(link);
    fs::create_symlink(dir_ / "file", link);
    start(args);
    EXPECT_EQ(2, exitStatus()) << err();
    EXPECT_EQ("-> " + (dir_ / "file").string(), atLink());
    // 2: a link an earlier run left behind is replaced; a file put in place
    // of this run's link is not removed on exit.
    fs::remove(link);
    fs::create_symlink("/dev/pts/9999", link);
    start(args);
    std::string slave;
    ASSERT_TRUE(waitFor([&] { return (slave = fileText(dir_ / "stdout.txt")).ends_with("\n"); })) << err();
    slave.pop_back();
    if (!slave.starts_with("/dev/"))
        GTEST_SKIP() << "no pseudo-terminal: " << err();
    EXPECT_EQ("-> " + slave, atLink());
    fs::remove(link);
    std::ofstream(link) << "mine";
    kill(child_, SIGTERM);
    EXPECT_EQ(0, exitStatus()) << err();
    EXPECT_EQ("mine", atLink());
}

}  // namespace
