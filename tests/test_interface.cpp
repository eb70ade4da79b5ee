// The serial and parallel openers on pseudo-terminals and plain files.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "dev_nodes.h"
#include "library_test.h"

namespace vren::test {
namespace {

class Openers : public LibraryTest {};

size_t openDescriptors() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator{}));
}

TEST_F(Openers, SerialSpeedTable) {
    struct Row {
        int requested;
        speed_t line;
    };
    const Row rows[] = {
        /* 0 */ {2400, B2400},   /* 1 */ {4800, B4800},     /* 2 */ {9600, B9600},  /* 3 */ {19200, B19200},
        /* 4 */ {38400, B38400}, /* 5 */ {57600, B57600},   /* 6 */ {115200, B115200},
        /* 7 */ {0, B9600},      /* 8 */ {1200, B9600},     /* 9 */ {9601, B9600},  /* 10 */ {230400, B9600},
        /* 11 */ {-1, B9600},
    };
    PseudoTerminal pty;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const int fd = openDeviceSerial(pty.slavePath().c_str(), rows[i].requested);
        ASSERT_GE(fd, 0) << "row " << i;
        termios attributes{};
        ASSERT_EQ(tcgetattr(fd, &attributes), 0);
        EXPECT_EQ(cfgetispeed(&attributes), rows[i].line) << "row " << i;
        EXPECT_EQ(cfgetospeed(&attributes), rows[i].line) << "row " << i;
        close(fd);
    }
}

TEST_F(Openers, SerialLineIsRaw8N1AndKeepsOtherSettings) {
    PseudoTerminal pty;
    termios before{};
    const int probe = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    ASSERT_EQ(tcgetattr(probe, &before), 0);
    before.c_cflag |= PARENB | CSTOPB | CRTSCTS;
    before.c_cflag = (before.c_cflag & ~CSIZE) | CS7;
    before.c_iflag |= IXON | IXOFF | IXANY | ICRNL;
    before.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    before.c_oflag |= OPOST | ONLCR;
    before.c_cc[VMIN] = 5;
    before.c_cc[VTIME] = 7;
    ASSERT_EQ(tcsetattr(probe, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(probe, &before), 0);

    const int fd = openDeviceSerial(pty.slavePath().c_str(), 9600);
    ASSERT_GE(fd, 0);
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(after.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(after.c_iflag, before.c_iflag & ~static_cast<tcflag_t>(IXON | IXOFF | IXANY));
    EXPECT_EQ(after.c_lflag, before.c_lflag & ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG));
    EXPECT_EQ(after.c_oflag, before.c_oflag & ~static_cast<tcflag_t>(OPOST));
    EXPECT_EQ(after.c_cc[VMIN], 5);
    EXPECT_EQ(after.c_cc[VTIME], 7);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    close(fd);
    close(probe);
    EXPECT_EQ(logMessages("openDeviceSerial"),
              (std::vector<std::string>{"Start openDeviceSerial", "Serial port : " + pty.slavePath(),
                                        "Success port open."}));
}

TEST_F(Openers, SerialOpenDiscardsUnreadInput) {
    PseudoTerminal pty;
    ASSERT_EQ(write(pty.master(), "stale", 5), 5);
    const int fd = openDeviceSerial(pty.slavePath().c_str(), 9600);
    ASSERT_GE(fd, 0);
    char buffer[8];
    EXPECT_EQ(read(fd, buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, EAGAIN);
    close(fd);
}

TEST_F(Openers, SerialFailuresCloseWhatTheyOpened) {
    const size_t before = openDescriptors();
    EXPECT_EQ(openDeviceSerial("/dev/null", 9600), VREN_E_LINE_CONFIG);  // not a terminal
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(openDeviceSerial("/nonexistent/ttyS0", 9600), VREN_E_OPEN);
    EXPECT_EQ(openDeviceSerial(nullptr, 9600), VREN_E_OPEN);
    const auto log = logMessages("openDeviceSerial");
    EXPECT_EQ(log[2], "Failed to call tcgetattr function.");
    EXPECT_EQ(log[5], "Failed to open serial port.");
}

TEST_F(Openers, ParallelOnlyOpens) {
    const std::string node = directory_ + "/lp0";
    { std::ofstream(node) << ""; }
    const int fd = openDeviceParallel(node.c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDWR);
    close(fd);
    EXPECT_EQ(openDeviceParallel((directory_ + "/missing").c_str()), VREN_E_OPEN);
    EXPECT_EQ(logMessages("openDeviceParallel"),
              (std::vector<std::string>{"Start", "Parallel port : " + node, "Success port open.", "Start",
                                        "Parallel port : " + directory_ + "/missing",
                                        "Failed to open parallel port."}));
}

}  // namespace
}  // namespace vren::test
