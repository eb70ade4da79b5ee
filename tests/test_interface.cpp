// The serial and parallel openers on pseudo-terminals and plain files.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "dev_nodes.h"
#include "library_test.h"
#include "test_io.h"

// The terminal calls of the serial opener, caught on their way to the C
// library while a test watches. A pseudo-terminal forces 8 data bits, no
// parity and the receiver on whatever it is given, so reading its attributes
// back cannot show whether the opener set those; what the opener hands to
// tcsetattr can. A watched call can also be made to fail.
namespace {

struct TermiosWatch {
    bool active = false;
    std::optional<termios> port;     // what tcgetattr reports instead of the port's own attributes
    std::map<std::string, int> fail;  // call -> errno it fails with
    std::vector<std::string> calls;   // in order, with the argument that matters
    termios applied{};
};

TermiosWatch gWatch;

template <typename Function>
Function *realCall(const char *name) {
    return reinterpret_cast<Function *>(dlsym(RTLD_NEXT, name));
}

// True when the call is to fail (errno set).
bool watched(const std::string &call) {
    gWatch.calls.push_back(call);
    const auto failure = gWatch.fail.find(call.substr(0, call.find(' ')));
    if (failure == gWatch.fail.end())
        return false;
    errno = failure->second;
    return true;
}

}  // namespace

extern "C" int tcgetattr(int fd, termios *attributes) noexcept {
    static auto *const real = realCall<decltype(::tcgetattr)>("tcgetattr");
    if (!gWatch.active)
        return real(fd, attributes);
    if (watched("tcgetattr"))
        return -1;
    const int result = real(fd, attributes);
    if (result == 0 && gWatch.port)
        *attributes = *gWatch.port;
    return result;
}

extern "C" int cfsetispeed(termios *attributes, speed_t speed) noexcept {
    static auto *const real = realCall<decltype(::cfsetispeed)>("cfsetispeed");
    if (gWatch.active && watched("cfsetispeed " + std::to_string(speed)))
        return -1;
    return real(attributes, speed);
}

extern "C" int cfsetospeed(termios *attributes, speed_t speed) noexcept {
    static auto *const real = realCall<decltype(::cfsetospeed)>("cfsetospeed");
    if (gWatch.active && watched("cfsetospeed " + std::to_string(speed)))
        return -1;
    return real(attributes, speed);
}

extern "C" int tcflush(int fd, int queue) noexcept {
    static auto *const real = realCall<decltype(::tcflush)>("tcflush");
    if (gWatch.active && watched("tcflush " + std::to_string(queue)))
        return -1;
    return real(fd, queue);
}

extern "C" int tcsetattr(int fd, int action, const termios *attributes) noexcept {
    static auto *const real = realCall<decltype(::tcsetattr)>("tcsetattr");
    if (!gWatch.active)
        return real(fd, action, attributes);
    gWatch.applied = *attributes;
    if (watched("tcsetattr " + std::to_string(action)))
        return -1;
    return real(fd, action, attributes);
}

namespace vren::test {
namespace {

class Openers : public LibraryTest {};

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

// Read back from the line. A pseudo-terminal itself keeps 8 data bits, no
// parity and the receiver on, so those three are proved by the next test.
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

// What the opener hands to the line, from port attributes that have every
// flag it changes the other way round (and a few it must leave alone): exactly
// its own flags change, the speed is set for input and then output, only
// unread input is discarded, and the attributes apply at once.
TEST_F(Openers, SerialAttributesHandedToTheLine) {
    PseudoTerminal pty;
    termios port{};
    const int probe = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    ASSERT_EQ(tcgetattr(probe, &port), 0);
    close(probe);
    port.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CLOCAL | CREAD);
    port.c_cflag |= CS7 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL;
    port.c_iflag |= IXON | IXOFF | IXANY | ICRNL | INPCK | ISTRIP;
    port.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN | ECHOK;
    port.c_oflag |= OPOST | ONLCR;
    port.c_cc[VMIN] = 5;
    port.c_cc[VTIME] = 7;
    port.c_cc[VINTR] = 9;
    ASSERT_EQ(cfsetispeed(&port, B1200), 0);
    ASSERT_EQ(cfsetospeed(&port, B1200), 0);

    constexpr tcflag_t kSpeedBits = CBAUD | CIBAUD;
    const tcflag_t controlFlags =
        ((port.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CLOCAL | CREAD) &
        ~kSpeedBits;
    struct Row {
        int requested;
        speed_t line;
    };
    const Row rows[] = {
        /* 1 */ {115200, B115200},
        /* 2 */ {2400, B2400},
        /* 3 */ {0, B9600},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        gWatch = {};
        gWatch.port = port;
        gWatch.active = true;
        const int fd = openDeviceSerial(pty.slavePath().c_str(), rows[i].requested);
        gWatch.active = false;
        ASSERT_GE(fd, 0);
        close(fd);
        const std::string speed = std::to_string(rows[i].line);
        EXPECT_EQ(gWatch.calls, (std::vector<std::string>{"tcgetattr", "cfsetispeed " + speed, "cfsetospeed " + speed,
                                                          "tcflush " + std::to_string(TCIFLUSH),
                                                          "tcsetattr " + std::to_string(TCSANOW)}));
        const termios &applied = gWatch.applied;
        EXPECT_EQ(cfgetispeed(&applied), rows[i].line);
        EXPECT_EQ(cfgetospeed(&applied), rows[i].line);
        EXPECT_EQ(applied.c_cflag & ~kSpeedBits, controlFlags);
        EXPECT_EQ(applied.c_iflag, port.c_iflag & ~static_cast<tcflag_t>(IXON | IXOFF | IXANY));
        EXPECT_EQ(applied.c_lflag, port.c_lflag & ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG));
        EXPECT_EQ(applied.c_oflag, port.c_oflag & ~static_cast<tcflag_t>(OPOST));
        EXPECT_EQ(applied.c_line, port.c_line);
        EXPECT_EQ(std::vector<cc_t>(applied.c_cc, applied.c_cc + NCCS), std::vector<cc_t>(port.c_cc, port.c_cc + NCCS));
    }
}

// A terminal call that fails -> the result, the line logged, and nothing
// called after it; the port is closed again. The flush's result is not looked at.
TEST_F(Openers, SerialLineFailures) {
    PseudoTerminal pty;
    struct Row {
        const char *call;
        int error;
        int expected;  // 0: a descriptor
        std::string logged;
    };
    const Row rows[] = {
        /* 1 */ {"tcgetattr", ENOTTY, VREN_E_LINE_CONFIG, "Failed to call tcgetattr function."},
        /* 2 */ {"cfsetispeed", EINVAL, VREN_E_LINE_CONFIG,
                 "Failed to call cfsetispeed function. " + std::to_string(EINVAL)},
        /* 3 */ {"cfsetospeed", EDOM, VREN_E_LINE_CONFIG,
                 "Failed to call cfsetispeed function. " + std::to_string(EDOM)},
        /* 4 */ {"tcsetattr", EIO, VREN_E_SERIAL_ATTR, "Failed to call tcsetattr function."},
        /* 5 */ {"tcflush", EIO, 0, "Success port open."},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(std::string("row ") + std::to_string(i + 1) + ": " + rows[i].call);
        const size_t before = openDescriptorCount();
        markLog();
        gWatch = {};
        gWatch.fail[rows[i].call] = rows[i].error;
        gWatch.active = true;
        const int result = openDeviceSerial(pty.slavePath().c_str(), 19200);
        gWatch.active = false;
        if (rows[i].expected == 0) {
            ASSERT_GE(result, 0);
            EXPECT_EQ(gWatch.calls.back(), "tcsetattr " + std::to_string(TCSANOW));
            close(result);
        } else {
            EXPECT_EQ(result, rows[i].expected);
            ASSERT_FALSE(gWatch.calls.empty());
            EXPECT_EQ(gWatch.calls.back().rfind(rows[i].call, 0), 0u) << "called after the failure";
        }
        EXPECT_EQ(openDescriptorCount(), before);
        EXPECT_EQ(logMessages("openDeviceSerial"),
                  (std::vector<std::string>{"Start openDeviceSerial", "Serial port : " + pty.slavePath(),
                                            rows[i].logged}));
    }
}

// A session leader without a controlling terminal (a daemon) does not get the
// printer's port as one, and with it the port's hang-up signals.
TEST_F(Openers, SerialPortDoesNotBecomeTheControllingTerminal) {
    PseudoTerminal pty;
    const pid_t child = fork();
    if (child == 0) {
        if (setsid() < 0)
            _exit(2);
        const int fd = openDeviceSerial(pty.slavePath().c_str(), 9600);
        if (fd < 0)
            _exit(3);
        _exit(open("/dev/tty", O_RDWR | O_NOCTTY) < 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the port became the controlling terminal";
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
    const size_t before = openDescriptorCount();
    EXPECT_EQ(openDeviceSerial("/dev/null", 9600), VREN_E_LINE_CONFIG);  // not a terminal
    EXPECT_EQ(openDescriptorCount(), before);
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
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    close(fd);
    EXPECT_EQ(openDeviceParallel((directory_ + "/missing").c_str()), VREN_E_OPEN);
    EXPECT_EQ(logMessages("openDeviceParallel"),
              (std::vector<std::string>{"Start", "Parallel port : " + node, "Success port open.", "Start",
                                        "Parallel port : " + directory_ + "/missing",
                                        "Failed to open parallel port."}));
}

// A parallel port that is a terminal all the same: no attribute is read or set.
TEST_F(Openers, ParallelLeavesTheLineAlone) {
    PseudoTerminal pty;
    gWatch = {};
    gWatch.active = true;
    const int fd = openDeviceParallel(pty.slavePath().c_str());
    gWatch.active = false;
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    close(fd);
    EXPECT_TRUE(gWatch.calls.empty());
}

}  // namespace
}  // namespace vren::test
