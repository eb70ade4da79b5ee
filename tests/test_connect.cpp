// Connecting: address classification, printer identification, and what a
// connect or disconnect leaves behind.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <utility>

#include "fake_write.h"
#include "library_test.h"
#include "test_io.h"
#include "log_records.h"
#include "memory_limit.h"

// socket() and setsockopt() on their way to the C library: a test can make
// the next IPv4 stream socket, or the next setting of a socket option, fail.
namespace {

const char *gFailingCall = nullptr;  // "socket" or "setsockopt"
int gFailingError = 0;
bool gInterruptNextConnect = false;

bool failsNow(const char *call) {
    if (gFailingCall == nullptr || std::strcmp(gFailingCall, call) != 0)
        return false;
    gFailingCall = nullptr;
    errno = gFailingError;
    return true;
}

}  // namespace

extern "C" int socket(int domain, int type, int protocol) noexcept {
    static auto *const real = reinterpret_cast<int (*)(int, int, int)>(dlsym(RTLD_NEXT, "socket"));
    if (domain == AF_INET && failsNow("socket"))
        return -1;
    return real(domain, type, protocol);
}

// connect() on its way to the C library: a test can have the next IPv4
// connect report that a signal interrupted it once it had started, as the
// system does when one comes while the connection is being made.
extern "C" int connect(int fd, const sockaddr *address, socklen_t length) {
    static auto *const real = reinterpret_cast<int (*)(int, const sockaddr *, socklen_t)>(dlsym(RTLD_NEXT, "connect"));
    const int result = real(fd, address, length);
    if (result == 0 && address->sa_family == AF_INET && std::exchange(gInterruptNextConnect, false)) {
        errno = EINTR;
        return -1;
    }
    return result;
}

extern "C" int setsockopt(int fd, int level, int name, const void *value, socklen_t length) noexcept {
    static auto *const real =
        reinterpret_cast<int (*)(int, int, int, const void *, socklen_t)>(dlsym(RTLD_NEXT, "setsockopt"));
    if (failsNow("setsockopt"))
        return -1;
    return real(fd, level, name, value, length);
}

namespace vren::test {
namespace {

using namespace std::chrono_literals;

class Connect : public LibraryTest {};

bool contains(const std::vector<std::string> &messages, const std::string &message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

// A loopback port with nothing listening on it, held by a socket that is
// bound but does not listen: while it lives no other listener (of this
// program or of a test running beside it) can take the port, nor can a
// connect pick it as its own port and so connect to itself.
class ClosedPort {
public:
    ClosedPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
        EXPECT_NE(port_, 0) << "no port to hold";
    }
    ~ClosedPort() { close(fd_); }
    ClosedPort(const ClosedPort &) = delete;
    ClosedPort &operator=(const ClosedPort &) = delete;
    uint16_t port() const { return port_; }

private:
    int fd_;
    uint16_t port_ = 0;
};

// gPrinterModel holds 7 before each row: a reply that names no model of the
// table sets it to 0, a reply that is not usable leaves it alone.
TEST_F(Connect, IdentificationOutcomes) {
    // Usable without "read OK.": its second-to-last byte is CR.
    const std::string kLast20 = "LQ2" + std::string(15, '.') + "\rx";
    struct Row {
        std::string reply;
        bool answer;
        int result;
        uint32_t model;
        size_t reads;                            // read attempts made
        std::vector<std::string> modelCheckLog;  // after "start"
    };
    const Row rows[] = {
        /* 0 */ {"LQ1\r\n", true, 0, 151, 1, {"read OK.", "model = LQ1\r\n, 7", "model = LQ1\r\n, 151", "success"}},
        /* 1 */ {"lq2\r\n", true, 0, 152, 1, {"read OK.", "model = lq2\r\n, 7", "model = lq2\r\n, 152", "success"}},
        /* 2 */ {"VREN LQ2 LQ1\r\n", true, 0, 151, 1, {"read OK.", "model = VREN LQ2 LQ1\r\n, 7",
                                                      "model = VREN LQ2 LQ1\r\n, 151", "success"}},
        /* 3 */ {"XYZ9\r\n", true, VREN_E_NOT_ACCEPTED, 0, 1,
                 {"read OK.", "model = XYZ9\r\n, 7", "model = XYZ9\r\n, 0", "not supported model"}},
        /* 4 */ {"LQ\r\n", true, VREN_E_NOT_ACCEPTED, 7, 1, {"read OK.", "Failed to read the model name"}},
        /* 5 */ {"", false, VREN_E_NOT_ACCEPTED, 7, 5, {"Failed to read the model name"}},
        // Ends in neither CR LF nor LF LF: five attempts, the last brings nothing.
        /* 6 */ {"LQ1 ok\n", true, VREN_E_NOT_ACCEPTED, 7, 5, {"Failed to read the model name"}},
        /* 7 */ {"LQ2\n\n", true, 0, 152, 1, {"read OK.", "model = LQ2\n\n, 7", "model = LQ2\n\n, 152", "success"}},
        // A reply of 100 bytes: each attempt reads 20 of them, none ends in a
        // line end, and the outcome rests on the fifth attempt alone.
        /* 8 */ {std::string(80, 'z') + kLast20, true, 0, 152, 5,
                 {"model = " + kLast20 + ", 7", "model = " + kLast20 + ", 152", "success"}},
        /* 9 */ {"LQ1" + std::string(97, 'z'), true, VREN_E_NOT_ACCEPTED, 7, 5, {"Failed to read the model name"}},
        /* 10 */ {"\r\n", true, VREN_E_NOT_ACCEPTED, 7, 1, {"read OK.", "Failed to read the model name"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        gPrinterModel = 7;
        markLog();
        vprinter::Behaviour behaviour;
        behaviour.modelReply = row.reply;
        behaviour.answerModel = row.answer;
        EXPECT_EQ(connectToVirtualPrinter(behaviour), row.result);
        EXPECT_EQ(gPrinterModel, row.model);
        EXPECT_EQ(gConnectedPrinter, row.result == 0 ? 1 : 0);
        auto log = logMessages("modelCheck");
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), "start");
        EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.end()), row.modelCheckLog);
        const auto reads = logMessages("readData");
        EXPECT_EQ(static_cast<size_t>(std::count(reads.begin(), reads.end(), "START")), row.reads);
        if (row.result != 0) {
            EXPECT_EQ(logMessages("openCheck"), std::vector<std::string>{"Failed modelCheck()"});
            EXPECT_EQ(logMessages("ConnectToPrinter").back(), "Failed openCheck. -101");
        } else {
            EXPECT_EQ(logMessages("openCheck"), std::vector<std::string>{"success"});
            EXPECT_EQ(logMessages("ConnectToPrinter").back(), "Check model.");
        }
        DisconnectPrinter();
    }
}

// Every record of a connect, in order across the functions it runs, and the
// pauses it takes. "{port}" stands for the virtual printer's port.
TEST_F(Connect, RecordsAndPausesOfAConnect) {
    const std::string banner = "ConnectToPrinter: \n\n\n               NEW                  \n\n\n";
    const std::vector<std::string> opening = {
        banner,
        "ConnectToPrinter: Request a network connection.",
        "ConnectToPrinter: address : 127.0.0.1:{port}",
        "openDeviceEthernet: Start",
        "openDeviceEthernet: addr : 127.0.0.1, port : {port}",
    };
    const std::vector<std::string> query = {
        "openDeviceEthernet: Success port open.",
        "ConnectToPrinter: Check model.",
        "modelCheck: start",
        "writeData: write data : ",
        "writeData: complete to write the data.",
    };
    const std::vector<std::string> read = {"readData: START", "readData: read data : "};
    auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto &part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    auto repeat = [](const std::vector<std::string> &part, int times) {
        std::vector<std::string> all;
        for (int i = 0; i < times; ++i)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    auto polls = [](int reads) {
        std::vector<unsigned> pauses{10000, 10000, 100000};  // query write, then 100 ms
        for (int i = 0; i < reads; ++i) {
            pauses.push_back(100000);
            pauses.insert(pauses.end(), 20, 30000);
        }
        return pauses;
    };
    struct Row {
        bool listening;
        bool answer;
        int result;
        std::vector<std::string> records;
        size_t bytesRead;
        std::vector<unsigned> pauses;
    };
    const Row rows[] = {
        /* 1 */ {true, true, VREN_OK,
                 join({opening, query, read,
                       {"modelCheck: read OK.", "modelCheck: model = LQ1\r\n, 0", "modelCheck: model = LQ1\r\n, 151",
                        "modelCheck: success", "openCheck: success"}}),
                 5, polls(1)},
        /* 2 */ {true, false, VREN_E_NOT_ACCEPTED,
                 join({opening, query, repeat(read, 5),
                       {"modelCheck: Failed to read the model name", "openCheck: Failed modelCheck()",
                        "ConnectToPrinter: Failed openCheck. -101"}}),
                 0, polls(5)},
        /* 3 */ {false, true, VREN_E_LINE_CONFIG,
                 join({opening, {"openDeviceEthernet: Failed to connect().", "ConnectToPrinter: Failed to open device."}}),
                 0, {}},
    };
    const ClosedPort closed;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1));
        gPrinterModel = 0;
        markLog();
        clearSleeps();
        vprinter::Behaviour behaviour;
        behaviour.answerModel = row.answer;
        printer_ = std::make_unique<vprinter::VirtualPrinter>(behaviour);
        const std::string port = std::to_string(row.listening ? printer_->listenTcp(0) : closed.port());
        EXPECT_EQ(ConnectToPrinter(addressOf(static_cast<uint16_t>(std::stoi(port))).c_str()), row.result);
        std::vector<std::string> expected = row.records;
        for (std::string &record : expected)
            if (const size_t at = record.find("{port}"); at != std::string::npos)
                record.replace(at, 6, port);
        const LogRecords log = parseLogRecords(logText());
        EXPECT_EQ(log.records, expected);
        EXPECT_EQ(log.bytesWritten, row.listening ? 6u : 0u);
        EXPECT_EQ(log.bytesRead, row.bytesRead);
        EXPECT_EQ(sleepsTaken(), row.pauses);
        DisconnectPrinter();
    }
}

// Signals sent to this thread every millisecond, to a handler that does
// nothing: each one interrupts whatever blocking call the thread is in.
class SignalEveryMillisecond {
public:
    SignalEveryMillisecond() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, nullptr);
        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = SIGALRM;
        event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
        EXPECT_EQ(timer_create(CLOCK_MONOTONIC, &event, &timer_), 0);
        const itimerspec every{{0, 1000000}, {0, 1000000}};
        EXPECT_EQ(timer_settime(timer_, 0, &every, nullptr), 0);
    }
    ~SignalEveryMillisecond() {
        timer_delete(timer_);
        signal(SIGALRM, SIG_IGN);  // also drops one still pending
    }
    SignalEveryMillisecond(const SignalEveryMillisecond &) = delete;
    SignalEveryMillisecond &operator=(const SignalEveryMillisecond &) = delete;

private:
    timer_t timer_{};
};

// An application that has a signal every millisecond: every pause of a
// connect lasts its whole time (each is seen once, with its length), and a
// TCP connect that a signal interrupted completes instead of failing.
TEST_F(Connect, SignalsCutNeitherPausesNorTheConnectShort) {
    printer_ = std::make_unique<vprinter::VirtualPrinter>();
    const std::string address = addressOf(printer_->listenTcp(0));
    gInterruptNextConnect = true;
    const auto start = std::chrono::steady_clock::now();
    int result;
    {
        const SignalEveryMillisecond signals;
        result = ConnectToPrinter(address.c_str());
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    gInterruptNextConnect = false;
    EXPECT_EQ(result, VREN_OK);
    std::vector<unsigned> pauses{10000, 10000, 100000, 100000};  // the query, the wait for its reply, the read
    pauses.insert(pauses.end(), 20, 30000);
    EXPECT_EQ(sleepsTaken(), pauses);
    const double slept = std::chrono::duration<double, std::micro>(elapsed).count();
    EXPECT_GE(slept, 820000 * timeScale());
}

// Identification on its own: a model query that cannot be written is -105
// from modelCheck and -101 from openCheck.
TEST_F(Connect, ModelQueryNotWritten) {
    EXPECT_EQ(modelCheck(), VREN_E_WRITE);  // no connection: the write gives up
    EXPECT_EQ(logMessages("modelCheck"), (std::vector<std::string>{"start", "Failed to write model check cmd"}));
    markLog();
    EXPECT_EQ(openCheck(), VREN_E_NOT_ACCEPTED);
    EXPECT_EQ(logMessages("modelCheck"), (std::vector<std::string>{"start", "Failed to write model check cmd"}));
    EXPECT_EQ(logMessages("openCheck"), std::vector<std::string>{"Failed modelCheck()"});
    EXPECT_EQ(logMessages("readData"), std::vector<std::string>{}) << "no reply is read";
}

// Identification on its own over an open connection, the printer answering
// each row's reply: modelCheck's codes, and openCheck turning them into -101.
TEST_F(Connect, ModelCheckAndOpenCheckResults) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    struct Row {
        std::string reply;
        bool answer;
        int modelCheck;
        uint32_t model;  // gPrinterModel afterwards; 7 before
    };
    const Row rows[] = {
        /* 1 */ {"LQ2\r\n", true, VREN_OK, 152},
        /* 2 */ {"XYZ9\r\n", true, VREN_E_READ, 0},
        /* 3 */ {"", false, VREN_E_READ, 7},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        vprinter::Behaviour behaviour;
        behaviour.modelReply = rows[i].reply;
        behaviour.answerModel = rows[i].answer;
        printer_->setBehaviour(behaviour);
        gPrinterModel = 7;
        EXPECT_EQ(modelCheck(), rows[i].modelCheck);
        EXPECT_EQ(gPrinterModel, rows[i].model);
        gPrinterModel = 7;
        EXPECT_EQ(openCheck(), rows[i].modelCheck == VREN_OK ? VREN_OK : VREN_E_NOT_ACCEPTED);
        EXPECT_EQ(gPrinterModel, rows[i].model);
    }
}

// The reply of an attempt is looked up alone: bytes an earlier, longer
// attempt left in the reply buffer do not name a model.
TEST_F(Connect, ModelLookupSeesOnlyTheLastAttempt) {
    vprinter::Behaviour behaviour;
    behaviour.modelReply = std::string("LQ1-padding-12345678") + "ABCD\r\n";
    EXPECT_EQ(connectToVirtualPrinter(behaviour), VREN_E_NOT_ACCEPTED);
    EXPECT_TRUE(contains(logMessages("modelCheck"), "model = ABCD\r\n, 0"));
    EXPECT_TRUE(contains(logMessages("modelCheck"), "not supported model"));
}

TEST_F(Connect, AddressesThatAreRefusedBeforeOpening) {
    const std::string tooLong = "127.0.0.1" + std::string(60, '0');  // no colon in the first 64 characters
    const char *rows[] = {
        /* 0 */ "/dev/ttyS0",  // serial needs a colon and a rate
        /* 1 */ "SERIAL",
        /* 2 */ "12345678",  // shorter than 9 characters: never Bluetooth
        /* 3 */ "localhost:9100",  // host names are not resolved
        /* 4 */ "127.0.0.1",
        /* 5 */ "AA:BB:CC:DD:EE",
        /* 6 */ "",
        /* 7 */ tooLong.c_str(),
        /* 8 */ "300.1.1.1:9100",
        /* 9 */ "127.1:9100",  // only the full dotted-decimal form
        /* 10 */ "0x7f.0.0.1:9100",
        /* 11 */ "SERIA:9600",  // not the serial prefix
        /* 12 */ "PARALLE",
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        markLog();
        EXPECT_EQ(ConnectToPrinter(rows[i]), VREN_E_ADDRESS);
        const auto log = logMessages("ConnectToPrinter");
        ASSERT_EQ(log.size(), 4u);
        EXPECT_EQ(log[1], "Request a network connection.");
        EXPECT_EQ(log[2], std::string("address : ") + rows[i]);
        EXPECT_EQ(log[3], "Invalid IP address.");
    }
    EXPECT_EQ(ConnectToPrinter(nullptr), VREN_E_ADDRESS);
}

TEST_F(Connect, NewConnectionBannerIsTheFirstRecord) {
    ConnectToPrinter("127.0.0.1");
    EXPECT_EQ(logMessages("ConnectToPrinter").front(), "\n\n\n               NEW                  \n\n\n");
}

TEST_F(Connect, AddressClassification) {
    struct Row {
        std::string address;
        std::string request;  // the "Request a ... connection." line
        int result;
    };
    const ClosedPort closed;
    const Row rows[] = {
        /* 0 */ {"USB", "Request a usb connection.", VREN_E_OPEN},
        /* 1 */ {"usb:anything", "Request a usb connection.", VREN_E_OPEN},
        /* 2 */ {"/dev/ttyS97:9600", "Request a serial connection.", VREN_E_OPEN},
        /* 3 */ {"/dev/lp97", "Request a parallel connection.", VREN_E_OPEN},
        /* 4 */ {"127.0.0.1:" + std::to_string(closed.port()), "Request a network connection.", VREN_E_LINE_CONFIG},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + rows[i].address);
        markLog();
        EXPECT_EQ(ConnectToPrinter(rows[i].address.c_str()), rows[i].result);
        const auto log = logMessages("ConnectToPrinter");
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log[1], rows[i].request);
        EXPECT_EQ(log.back(), "Failed to open device.");
        EXPECT_EQ(gConnectedPrinter, 0);
    }
}

// A connect records the interface kind it was asked for before the opener
// runs, so it holds even when the opener fails; an address refused as invalid
// leaves the kind as it was. The kind shows in the pacing of the next write:
// without a connection every attempt fails, so the transport offers its first
// chunk six times, with the kind's write pause around the 200 ms pauses.
TEST_F(Connect, RequestedKindSetsThePacingOfLaterWrites) {
    const ClosedPort closed;
    struct Row {
        std::string address;
        int result;
        size_t chunk;  // of a 5000-byte request
        unsigned pause;
    };
    const Row rows[] = {
        /* 1 */ {"/dev/ttyS97:9600", VREN_E_OPEN, 512, 30000},
        /* 2 */ {"localhost:9100", VREN_E_ADDRESS, 512, 30000},  // kind left as it was
        /* 3 */ {"/dev/lp97", VREN_E_OPEN, 1024, 0},
        /* 4 */ {"127.0.0.1:" + std::to_string(closed.port()), VREN_E_LINE_CONFIG, 5000, 10000},
        /* 5 */ {"SERIAL", VREN_E_ADDRESS, 5000, 10000},  // no colon: a network address, refused
        /* 6 */ {"usb", VREN_E_OPEN, 4096, 10000},
        /* 7 */ {"00:11:22:33:44:55", VREN_E_BT_SDP_CONNECT, 512, 30000},
    };
    static std::vector<size_t> writes;
    const std::string request(5000, 'w');
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + row.address);
        EXPECT_EQ(ConnectToPrinter(row.address.c_str()), row.result);
        clearSleeps();
        writes.clear();
        setWriteObserver([](int, size_t length) { writes.push_back(length); });
        EXPECT_EQ(writeData(request.data(), 5000), VREN_E_WRITE_GAVE_UP);
        setWriteObserver(nullptr);
        EXPECT_EQ(writes, std::vector<size_t>(6, row.chunk));
        std::vector<unsigned> pauses{10000};
        for (int attempt = 0; attempt < 6; ++attempt) {
            if (row.pause != 0)
                pauses.push_back(row.pause);
            if (attempt < 5)
                pauses.push_back(200000);
        }
        EXPECT_EQ(sleepsTaken(), pauses);
    }
}

// An address that begins with "/dev/lp" (in any case) is the parallel
// opener's path as it stands, colon and all; it is opened once.
TEST_F(Connect, ParallelAddressIsThePathAsGiven) {
    for (const char *address : {"/dev/lp97:9600", "/DEV/LP97/x"}) {
        SCOPED_TRACE(address);
        markLog();
        EXPECT_EQ(ConnectToPrinter(address), VREN_E_OPEN);
        EXPECT_EQ(logMessages("ConnectToPrinter")[1], "Request a parallel connection.");
        const auto log = logMessages("openDeviceParallel");
        EXPECT_EQ(std::count(log.begin(), log.end(), std::string("Parallel port : ") + address), 1);
    }
}

TEST_F(Connect, SerialDevicePathIsOpenedTwice) {
    EXPECT_EQ(ConnectToPrinter("/dev/ttyS97:9600"), VREN_E_OPEN);
    const auto log = logMessages("openDeviceSerial");
    EXPECT_EQ(std::count(log.begin(), log.end(), "Serial port : /dev/ttyS97"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Failed to open serial port."), 2);
}

// The device text before the colon is used whole, however long; where it
// cannot be copied for lack of memory the connect fails with VREN_E_NOMEM
// instead of throwing through the C interface.
TEST_F(Connect, SerialDevicePathOfAnyLength) {
    const std::string device = "/dev/ttyS" + std::string(5000, '7');
    EXPECT_EQ(ConnectToPrinter((device + ":9600").c_str()), VREN_E_OPEN);
    const auto log = logMessages("openDeviceSerial");
    EXPECT_EQ(std::count(log.begin(), log.end(), "Serial port : " + device), 2);

    if (!kCanLimitMemory)
        GTEST_SKIP() << "address-space limits do not mix with AddressSanitizer";
    const std::string huge = "/dev/ttyS" + std::string(64 << 20, '7') + ":9600";
    const auto failsForLackOfMemory = [&] {
        markLog();
        limitAddressSpace(8 << 20);
        const int result = ConnectToPrinter(huge.c_str());
        const std::vector<std::string> expected = {"\n\n\n               NEW                  \n\n\n",
                                                   "Request a serial connection.", "Failed to allocate memory.",
                                                   "Failed to open device."};
        return result == VREN_E_NOMEM && logMessages("ConnectToPrinter") == expected;
    };
    EXPECT_EXIT(std::exit(failsForLackOfMemory() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST_F(Connect, BluetoothAddressIsRecognised) {
    const int result = ConnectToPrinter("00:11:22:33:44:55");
    EXPECT_LT(result, 0);
    EXPECT_NE(result, VREN_E_ADDRESS);
    const auto log = logMessages("ConnectToPrinter");
    EXPECT_EQ(log[1], "Request a bluetooth connection.");
    EXPECT_EQ(log[2], "bluetooth port : 00:11:22:33:44:55");
}

// Only the first 64 characters are split into host and port; the log shows
// the whole address.
TEST_F(Connect, LongNetworkAddressIsCutAt64Characters) {
    printer_ = std::make_unique<vprinter::VirtualPrinter>();
    const std::string port = std::to_string(printer_->listenTcp(0));
    std::string address = "127.0.0.1:" + std::string(54 - port.size(), '0') + port;
    ASSERT_EQ(address.size(), 64u);
    address += "99";
    EXPECT_EQ(ConnectToPrinter(address.c_str()), 0);
    EXPECT_TRUE(contains(logMessages("ConnectToPrinter"), "address : " + address));
    EXPECT_TRUE(contains(logMessages("openDeviceEthernet"), "addr : 127.0.0.1, port : " + address.substr(10, 54)));
}

// The opener is exported: a null host or port is refused, not dereferenced.
TEST_F(Connect, EthernetOpenerRefusesNullAddressParts) {
    EXPECT_EQ(openDeviceEthernet(nullptr, "9100"), VREN_E_ADDRESS);
    EXPECT_EQ(openDeviceEthernet("127.0.0.1", nullptr), VREN_E_ADDRESS);
    const auto log = logMessages("openDeviceEthernet");
    EXPECT_EQ(std::count(log.begin(), log.end(), "Invalid IP address."), 2);
}

// A socket that cannot be created is -113, one whose option cannot be set is
// -99 and is closed again; either code comes back from ConnectToPrinter
// unchanged, after the opener's line.
TEST_F(Connect, EthernetOpenerFailures) {
    struct Row {
        const char *call;
        int error;
        int result;
        std::string logged;
    };
    const Row rows[] = {
        /* 1 */ {"socket", EMFILE, VREN_E_SOCKET, "Failed to create socket."},
        /* 2 */ {"setsockopt", ENOPROTOOPT, VREN_E_LINE_CONFIG, "Failed setsockopt()."},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(std::string("row ") + std::to_string(i + 1) + ": " + rows[i].call);
        const std::vector<std::string> opener = {"Start", "addr : 127.0.0.1, port : 9100", rows[i].logged};
        markLog();
        const size_t before = openDescriptorCount();
        gFailingError = rows[i].error;
        gFailingCall = rows[i].call;
        EXPECT_EQ(openDeviceEthernet("127.0.0.1", "9100"), rows[i].result);
        EXPECT_EQ(openDescriptorCount(), before) << "socket left open";
        EXPECT_EQ(logMessages("openDeviceEthernet"), opener);

        markLog();
        gFailingCall = rows[i].call;
        EXPECT_EQ(ConnectToPrinter("127.0.0.1:9100"), rows[i].result);
        gFailingCall = nullptr;
        EXPECT_EQ(openDescriptorCount(), before) << "socket left open";
        EXPECT_EQ(logMessages("openDeviceEthernet"), opener);
        EXPECT_EQ(logMessages("ConnectToPrinter").back(), "Failed to open device.");
        EXPECT_EQ(gConnectedPrinter, 0);
    }
}

// The network opener on its own: it connects to the host and to the low 16
// bits of the port number as atoi reads them, with SO_REUSEADDR set on the
// socket; a refused connect leaves no socket open. The refused rows come
// first: once a printer has taken a connection, its own thread closes that
// connection's descriptors whenever it notices the peer went, which would
// move the count under a later row.
TEST_F(Connect, EthernetOpenerConnectsToHostAndPort) {
    printer_ = std::make_unique<vprinter::VirtualPrinter>();
    const uint16_t port = printer_->listenTcp(0);
    vprinter::VirtualPrinter other;
    const uint16_t otherPort = other.listenTcp(0, "127.0.0.2");
    ASSERT_NE(otherPort, port);
    const ClosedPort closed;
    struct Row {
        const char *host;
        std::string port;
        uint16_t connectedTo;  // 0: refused
    };
    const Row rows[] = {
        /* 1 */ {"127.0.0.2", std::to_string(port), 0},  // that printer listens on 127.0.0.1 only
        /* 2 */ {"127.0.0.1", std::to_string(closed.port()), 0},
        /* 3 */ {"127.0.0.1", std::to_string(port), port},
        /* 4 */ {"127.0.0.2", std::to_string(otherPort), otherPort},
        /* 5 */ {"127.0.0.1", std::to_string(port) + "/tcp", port},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        const size_t before = openDescriptorCount();
        const int fd = openDeviceEthernet(rows[i].host, rows[i].port.c_str());
        if (rows[i].connectedTo == 0) {
            EXPECT_EQ(fd, VREN_E_LINE_CONFIG);
            EXPECT_EQ(logMessages("openDeviceEthernet").back(), "Failed to connect().");
            EXPECT_EQ(openDescriptorCount(), before) << "socket left open";
            continue;
        }
        ASSERT_GE(fd, 0);
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        ASSERT_EQ(getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length), 0);
        EXPECT_EQ(ntohs(peer.sin_port), rows[i].connectedTo);
        char host[INET_ADDRSTRLEN] = {};
        EXPECT_STREQ(inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host), rows[i].host);
        int reuse = 0;
        length = sizeof reuse;
        ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, &length), 0);
        EXPECT_EQ(reuse, 1);
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "inherited by child processes";
        close(fd);
    }
}

// A port outside 1..65535 would reach another one (the low 16 bits of a
// port plus 65536 are that port): it is refused before anything is opened,
// by the connect and by the opener.
TEST_F(Connect, PortsOutsideTheRangeAreRefused) {
    printer_ = std::make_unique<vprinter::VirtualPrinter>();
    const uint16_t port = printer_->listenTcp(0);
    const std::string rows[] = {
        /* 1 */ std::to_string(port + 65536),
        /* 2 */ "0",
        /* 3 */ "",
        /* 4 */ "-" + std::to_string(port),
        /* 5 */ "99999999999999999999" + std::to_string(port),
        /* 6 */ "x" + std::to_string(port),
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + rows[i]);
        markLog();
        const size_t before = openDescriptorCount();
        EXPECT_EQ(ConnectToPrinter(("127.0.0.1:" + rows[i]).c_str()), VREN_E_ADDRESS);
        EXPECT_EQ(logMessages("ConnectToPrinter").back(), "Invalid port number : " + rows[i]);
        EXPECT_EQ(openDeviceEthernet("127.0.0.1", rows[i].c_str()), VREN_E_ADDRESS);
        EXPECT_EQ(logMessages("openDeviceEthernet").back(), "Invalid port number : " + rows[i]);
        EXPECT_EQ(openDescriptorCount(), before);
    }
    EXPECT_EQ(printer_->connectionCount(), 0u);
}

TEST_F(Connect, SuccessClearsTheCommandBuffer) {
    gPrintData[0] = 'X';
    gDataIndex = 1;
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    EXPECT_EQ(gDataIndex, 0u);
    EXPECT_EQ(gPrintData[0], 0);
    EXPECT_EQ(gConnectedPrinter, 1);
}

TEST_F(Connect, DisconnectWithoutConnectionClosesNothing) {
    EXPECT_EQ(DisconnectPrinter(), -1);
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    EXPECT_EQ(DisconnectPrinter(), 0);
    EXPECT_EQ(gConnectedPrinter, 0);
    EXPECT_EQ(DisconnectPrinter(), -1);  // a second disconnect does not close a stranger's descriptor
    gConnectedPrinter = 1;  // the flag is cleared even when there is nothing to close
    EXPECT_EQ(DisconnectPrinter(), -1);
    EXPECT_EQ(gConnectedPrinter, 0);
}

// The descriptor of this process's TCP connection to 127.0.0.1:`port` (the
// client side), or -1.
int descriptorConnectedTo(uint16_t port) {
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 && peer.sin_family == AF_INET &&
            ntohs(peer.sin_port) == port)
            return fd;
    }
    return -1;
}

// A close that fails is reported as -1: here the connection's descriptor was
// closed behind the library's back. The flag is cleared all the same, and the
// number is not closed a second time.
TEST_F(Connect, DisconnectReportsAFailedClose) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    const int fd = descriptorConnectedTo(port_);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(close(fd), 0);
    EXPECT_EQ(DisconnectPrinter(), -1);
    EXPECT_EQ(gConnectedPrinter, 0);
    EXPECT_EQ(DisconnectPrinter(), -1);
}

TEST_F(Connect, DisconnectClosesTheConnection) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    EXPECT_FALSE(printer_->waitForClosed(0, 10ms));
    EXPECT_EQ(DisconnectPrinter(), 0);
    EXPECT_TRUE(printer_->waitForClosed(0, 10s));
}

// A disconnect right after a job, with the answer to a status query still
// unread: everything reported as sent reaches a printer that reads slowly.
TEST_F(Connect, DisconnectDeliversWhatWasSent) {
    vprinter::Behaviour behaviour;
    behaviour.stopReadingAfter = 6 + 4;  // the model query and a status query
    behaviour.resumeAfterMs = 300;
    ASSERT_EQ(connectToVirtualPrinter(behaviour), 0);
    ASSERT_EQ(DirectIO("^cu\r", 4, nullptr, nullptr), 0);  // its answer is never read
    std::string job;
    for (int i = 0; job.size() < 200000; ++i)
        job += std::to_string(i) + ",";
    ASSERT_EQ(DirectIO(job.data(), static_cast<int>(job.size()), nullptr, nullptr), 0);
    EXPECT_EQ(DisconnectPrinter(), 0);
    EXPECT_TRUE(printer_->waitForBytes(0, 10 + job.size(), 10s));
    EXPECT_TRUE(printer_->received(0).substr(10) == job) << printer_->received(0).size() << " bytes received";
}

TEST_F(Connect, FailedIdentificationClosesTheNewConnection) {
    vprinter::Behaviour behaviour;
    behaviour.modelReply = "NOPE\r\n";
    ASSERT_EQ(connectToVirtualPrinter(behaviour), VREN_E_NOT_ACCEPTED);
    EXPECT_TRUE(printer_->waitForClosed(0, 10s));
    EXPECT_EQ(DisconnectPrinter(), -1);
}

// A successful connect replaces an open connection and closes it; a failed
// one leaves it in use, as it was.
TEST_F(Connect, ReconnectKeepsOrReplacesTheEarlierConnection) {
    vprinter::VirtualPrinter first;
    ASSERT_EQ(ConnectToPrinter(addressOf(first.listenTcp(0)).c_str()), 0);

    vprinter::Behaviour refusing;
    refusing.modelReply = "OTHER\r\n";
    vprinter::VirtualPrinter wrongModel(refusing);
    EXPECT_EQ(ConnectToPrinter(addressOf(wrongModel.listenTcp(0)).c_str()), VREN_E_NOT_ACCEPTED);
    EXPECT_EQ(ConnectToPrinter("127.0.0.1:"), VREN_E_ADDRESS);
    EXPECT_EQ(ConnectToPrinter("/dev/lp97"), VREN_E_OPEN);
    EXPECT_EQ(gConnectedPrinter, 1);
    EXPECT_EQ(gPrinterModel, 151u);
    clearSleeps();
    ASSERT_EQ(DirectIO("still here", 10, nullptr, nullptr), 0);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 10000})) << "paced as a network connection";
    EXPECT_TRUE(first.waitForBytes(0, 16, 10s));
    EXPECT_EQ(first.received(0).substr(6), "still here");

    vprinter::Behaviour second;
    second.modelReply = "LQ2\r\n";
    vprinter::VirtualPrinter replacement(second);
    EXPECT_FALSE(first.waitForClosed(0, 10ms));
    ASSERT_EQ(ConnectToPrinter(addressOf(replacement.listenTcp(0)).c_str()), 0);
    EXPECT_EQ(gPrinterModel, 152u);
    EXPECT_TRUE(first.waitForClosed(0, 10s));
    ASSERT_EQ(DirectIO("new", 3, nullptr, nullptr), 0);
    EXPECT_TRUE(replacement.waitForBytes(0, 9, 10s));
    EXPECT_EQ(replacement.received(0).substr(6), "new");
}

TEST(GetModel, LowestMatchingIndexIgnoringCase) {
    struct Row {
        const char *reply;
        uint32_t model;
    };
    const Row rows[] = {
        /* 0 */ {"LQ1\r\n", 151},
        /* 1 */ {"xx lq2 yy", 152},
        /* 2 */ {"LQ2 LQ1", 151},
        /* 3 */ {"LQ3", 0},
        /* 4 */ {"", 0},
        /* 5 */ {nullptr, 0},
    };
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(getModel(rows[i].reply), rows[i].model) << "row " << i;
}

TEST(ModelTable, HoldsTheManufacturerAndTheModels) {
    EXPECT_STREQ(KORVEL_DEVICE[0], "VREN");
    EXPECT_STREQ(KORVEL_DEVICE[151], "LQ1");
    EXPECT_STREQ(KORVEL_DEVICE[152], "LQ2");
    for (int i = 1; i < 200; ++i)
        if (i != 151 && i != 152) {
            EXPECT_EQ(KORVEL_DEVICE[i], nullptr) << i;
        }
}

}  // namespace
}  // namespace vren::test
