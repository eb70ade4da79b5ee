// The Bluetooth opener against a fake printer: its SDP server's records, the
// RFCOMM socket's bind and connect, the retry counts and pauses, and a label
// printed through the fake RFCOMM stream.
#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fake_devices.h"
#include "library_test.h"
#include "log_records.h"
#include "sample_label.h"
#include "test_io.h"

namespace fake = vren::fake;
using vren::test::sleepsTaken;
using vren::test::waitFor;

namespace {

constexpr const char *kTag = "openDeviceBluetooth";
constexpr const char *kAddress = "AA:BB:CC:DD:EE:FF";
constexpr unsigned kBusyPause = 10000000;

bdaddr_t printerAddress() {
    bdaddr_t address{};
    str2ba(kAddress, &address);
    return address;
}

bool sameAddress(const bdaddr_t &a, const bdaddr_t &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const bdaddr_t kAny{};

std::vector<fake::SdpService> serialPortOn(int channel) {
    return {fake::SdpService{SERIAL_PORT_SVCLASS_ID, channel, true}};
}

class BluetoothTest : public vren::test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        fake::reset();
        // The openers' pauses are asserted, not waited for.
        vren::test::setTimeScale(0.001);
    }
    void TearDown() override {
        LibraryTest::TearDown();
        fake::reset();
    }

    void attachPrinter() {
        printer_ = std::make_unique<vprinter::VirtualPrinter>();
        fake::attachPrinter(printer_.get());
    }

    // The opener's result; a returned socket is closed after the check that it
    // is the only descriptor left open.
    static int openAndClose() {
        const int result = openDeviceBluetooth(printerAddress());
        if (result >= 0) {
            EXPECT_EQ(fake::openDescriptors(), 1);
            EXPECT_NE(fcntl(result, F_GETFD) & FD_CLOEXEC, 0) << "inherited by child processes";
            close(result);
        }
        EXPECT_EQ(fake::openDescriptors(), 0) << "socket left open";
        EXPECT_EQ(fake::sdpSessionsOpen(), 0) << "SDP session left open";
        return result;
    }

    static int count(const std::vector<std::string> &lines, const std::string &line) {
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
};

// One session, one search for the Serial Port class asking for attribute
// 0x0004 alone, one RFCOMM socket bound to channel 0 of the any-address and
// connected to the channel found.
TEST_F(BluetoothTest, DiscoversTheChannelAndConnectsToIt) {
    fake::setSdpOffers({serialPortOn(3)});
    EXPECT_GE(openAndClose(), 0);

    const auto connects = fake::sdpConnects();
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_TRUE(sameAddress(connects[0].source, kAny));
    EXPECT_TRUE(sameAddress(connects[0].target, printerAddress()));
    EXPECT_EQ(connects[0].flags, static_cast<uint32_t>(SDP_RETRY_IF_BUSY));

    const auto searches = fake::sdpSearches();
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(searches[0].uuids, (std::vector<uint16_t>{0x1101}));
    EXPECT_EQ(searches[0].requestType, SDP_ATTR_REQ_INDIVIDUAL);
    EXPECT_EQ(searches[0].attributes, (std::vector<uint16_t>{0x0004}));

    const auto binds = fake::rfcommBinds();
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(binds[0].length, 10u);
    EXPECT_EQ(binds[0].address.rc_family, AF_BLUETOOTH);
    EXPECT_TRUE(sameAddress(binds[0].address.rc_bdaddr, kAny));
    EXPECT_EQ(binds[0].address.rc_channel, 0);

    const auto calls = fake::rfcommConnects();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].fd, binds[0].fd);
    EXPECT_EQ(calls[0].length, 10u);
    EXPECT_EQ(calls[0].address.rc_family, AF_BLUETOOTH);
    EXPECT_TRUE(sameAddress(calls[0].address.rc_bdaddr, printerAddress()));
    EXPECT_EQ(calls[0].address.rc_channel, 3);

    EXPECT_EQ(logMessages(kTag), (std::vector<std::string>{"start", "Success port open."}));
    EXPECT_TRUE(logMessages("spp_connect").empty());
    EXPECT_TRUE(sleepsTaken().empty());
}

// Records offered -> the channel connected to, or -108 after five searches.
TEST_F(BluetoothTest, FirstRecordWithANonZeroChannelWins) {
    constexpr uint16_t kObexPush = OBEX_OBJPUSH_SVCLASS_ID;
    constexpr uint16_t kSpp = SERIAL_PORT_SVCLASS_ID;
    struct Row {
        std::vector<fake::SdpService> offered;
        int channel;  // negative: the expected result
    };
    const Row rows[] = {
        /* 1 */ {{{kObexPush, 9, true}, {kSpp, 0, true}, {kSpp, 5, true}}, 5},
        /* 2 */ {{{kSpp, 4, false}, {kSpp, 7, true}}, 7},
        /* 3 */ {{{kSpp, -1, true}, {kSpp, 2, true}}, 2},
        /* 4 */ {{{kSpp, 4, true}, {kSpp, 6, true}}, 4},
        /* 5 */ {{{kSpp, 30, true}}, 30},
        /* 6 */ {{{kSpp, 0, true}, {kSpp, -1, true}, {kSpp, 1, false}}, VREN_E_BT_NO_SERVICE},
        /* 7 */ {{{kObexPush, 9, true}}, VREN_E_BT_NO_SERVICE},
        /* 8 */ {{}, VREN_E_BT_NO_SERVICE},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        fake::reset();
        fake::setSdpOffers({rows[i].offered});
        const int result = openAndClose();
        if (rows[i].channel < 0) {
            EXPECT_EQ(result, rows[i].channel);
            EXPECT_EQ(fake::sdpSearches().size(), 5u);
            EXPECT_TRUE(fake::rfcommConnects().empty());
            continue;
        }
        EXPECT_GE(result, 0);
        ASSERT_EQ(fake::rfcommConnects().size(), 1u);
        EXPECT_EQ(fake::rfcommConnects()[0].address.rc_channel, rows[i].channel);
    }
}

TEST_F(BluetoothTest, NoSerialPortServiceAfterFiveSearches) {
    fake::setSdpOffers({{}});
    EXPECT_EQ(openAndClose(), VREN_E_BT_NO_SERVICE);
    EXPECT_EQ(fake::sdpConnects().size(), 5u);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{300000, 300000, 300000, 300000}));
    std::vector<std::string> expected = {"start"};
    for (int i = 0; i < 4; ++i) {
        expected.push_back("Failed to get service info.");
        expected.push_back("Retry to get service info.");
    }
    expected.push_back("Failed to get service info.");
    EXPECT_EQ(logMessages(kTag), expected);
}

TEST_F(BluetoothTest, ServiceFoundOnTheThirdSearch) {
    fake::setSdpOffers({{}, {}, serialPortOn(6)});
    EXPECT_GE(openAndClose(), 0);
    EXPECT_EQ(fake::sdpSearches().size(), 3u);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{300000, 300000}));
    EXPECT_EQ(fake::rfcommConnects().at(0).address.rc_channel, 6);
}

TEST_F(BluetoothTest, UnreachableSdpServerIsNotRetried) {
    fake::setSdpReachable(false);
    EXPECT_EQ(openAndClose(), VREN_E_BT_SDP_CONNECT);
    EXPECT_EQ(fake::sdpConnects().size(), 1u);
    EXPECT_TRUE(fake::sdpSearches().empty());
    EXPECT_TRUE(sleepsTaken().empty());
    EXPECT_EQ(fake::rfcommSocketsCreated(), 0);
    EXPECT_EQ(logMessages(kTag), (std::vector<std::string>{"start", "Failed to sdp_connect()."}));
}

// A discovery attempt that cannot open its session ends the call with -107,
// also after earlier attempts found no service.
TEST_F(BluetoothTest, SdpServerLostBetweenSearches) {
    fake::setSdpOffers({{}});
    fake::setSdpReachableFor(2);
    EXPECT_EQ(openAndClose(), VREN_E_BT_SDP_CONNECT);
    EXPECT_EQ(fake::sdpConnects().size(), 3u);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{300000, 300000}));
    EXPECT_EQ(logMessages(kTag), (std::vector<std::string>{"start", "Failed to get service info.",
                                                            "Retry to get service info.", "Failed to get service info.",
                                                            "Retry to get service info.", "Failed to sdp_connect()."}));
}

TEST_F(BluetoothTest, FiveRefusedConnectsCloseFiveSockets) {
    fake::setSdpOffers({serialPortOn(1)});
    fake::setConnectErrors({ECONNREFUSED, ECONNREFUSED, ECONNREFUSED, ECONNREFUSED, ECONNREFUSED});
    EXPECT_EQ(openAndClose(), VREN_E_BT_CONNECT);
    EXPECT_EQ(fake::rfcommSocketsCreated(), 5);
    EXPECT_EQ(fake::rfcommSocketsClosed(), 5);
    EXPECT_EQ(fake::sdpSearches().size(), 1u);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{3, 3, 3, 3}));
    std::vector<std::string> expected = {"start"};
    for (int i = 0; i < 4; ++i) {
        expected.push_back("Failed to connect.");
        expected.push_back("Retry to connect.");
    }
    expected.push_back("Failed to connect.");
    EXPECT_EQ(logMessages(kTag), expected);
    EXPECT_EQ(logMessages("spp_connect"), std::vector<std::string>(5, "Failed to call connect()."));
}

// A socket that cannot be created or bound is a failed attempt like a refused
// connect; the opener goes on with a new socket.
TEST_F(BluetoothTest, SocketAndBindFailuresCountAsFailedAttempts) {
    attachPrinter();
    fake::setSdpOffers({serialPortOn(1)});
    fake::failSockets(1);
    fake::setBindErrors({EADDRINUSE});
    fake::setConnectErrors({EHOSTDOWN});
    EXPECT_GE(openAndClose(), 0);
    EXPECT_EQ(fake::rfcommSocketsCreated(), 3);
    EXPECT_EQ(fake::rfcommSocketsClosed(), 3);  // two failed, and the returned one
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{3, 3, 3}));
    EXPECT_EQ(logMessages("spp_connect"), (std::vector<std::string>{"Failed to call socket().", "Failed to call bind().",
                                                                     "Failed to call connect()."}));
    EXPECT_EQ(count(logMessages(kTag), "Failed to connect."), 3);
    EXPECT_EQ(printer_->connectionCount(), 1u);
}

// spp_connect's own results: the socket it leaves in *sock for each outcome.
TEST_F(BluetoothTest, SppConnectResults) {
    struct Row {
        int socketFailures;
        std::vector<int> bindErrors;
        std::vector<int> connectErrors;
        int expected;
        bool socketKept;
    };
    const Row rows[] = {
        /* 1 */ {0, {}, {}, VREN_OK, true},
        /* 2 */ {1, {}, {}, VREN_E_BT_SOCKET, false},
        /* 3 */ {0, {EADDRNOTAVAIL}, {}, VREN_E_BT_BIND, false},
        /* 4 */ {0, {}, {ECONNREFUSED}, VREN_E_BT_CONNECT, false},
        /* 5 */ {0, {}, {EHOSTUNREACH}, VREN_E_BT_CONNECT, false},
        /* 6 */ {0, {}, {EAGAIN}, VREN_E_BT_CONNECT, false},  // only EBUSY is waited out
    };
    const bdaddr_t remote = printerAddress();
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        fake::reset();
        fake::failSockets(rows[i].socketFailures);
        fake::setBindErrors(rows[i].bindErrors);
        fake::setConnectErrors(rows[i].connectErrors);
        int sock = 12345;
        EXPECT_EQ(spp_connect(&kAny, &remote, 9, &sock), rows[i].expected);
        if (rows[i].socketKept) {
            EXPECT_GE(sock, 0);
            EXPECT_EQ(fake::openDescriptors(), 1);
            close(sock);
        } else {
            EXPECT_EQ(sock, -1);
        }
        EXPECT_EQ(fake::openDescriptors(), 0);
        EXPECT_EQ(fake::rfcommSocketsCreated() - fake::rfcommSocketsClosed(), 0);
    }
}

TEST_F(BluetoothTest, BusyThenConnected) {
    attachPrinter();
    fake::setSdpOffers({serialPortOn(2)});
    fake::setConnectErrors({EBUSY, 0});
    EXPECT_GE(openAndClose(), 0);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{kBusyPause}));
    EXPECT_EQ(fake::rfcommSocketsCreated(), 1);
    const auto calls = fake::rfcommConnects();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].fd, calls[1].fd) << "the busy connect is repeated on the same socket";
    EXPECT_EQ(logMessages("spp_connect"), (std::vector<std::string>{
                                              "Failed to call connect().",
                                              "Bluetooth device is busy. Reconnect after 10 secs.",
                                          }));
    EXPECT_EQ(logMessages(kTag), (std::vector<std::string>{"start", "Success port open."}));
}

// Busy waits are bounded: after five of them within one attempt the attempt
// has failed, and the next attempt starts with a new socket.
TEST_F(BluetoothTest, BusyWaitsAreBoundedPerAttempt) {
    attachPrinter();
    fake::setSdpOffers({serialPortOn(2)});
    fake::setConnectErrors(std::vector<int>(6, EBUSY));
    EXPECT_GE(openAndClose(), 0);
    std::vector<unsigned> expected(5, kBusyPause);
    expected.push_back(3);
    EXPECT_EQ(sleepsTaken(), expected);
    EXPECT_EQ(fake::rfcommSocketsCreated(), 2);
    EXPECT_EQ(fake::rfcommConnects().size(), 7u);
    const auto log = logMessages("spp_connect");
    EXPECT_EQ(count(log, "Bluetooth device is busy. Reconnect after 10 secs."), 5);
    EXPECT_EQ(count(log, "Bluetooth device is still busy after 5 retries."), 1);
    EXPECT_EQ(count(logMessages(kTag), "Failed to connect."), 1);
}

TEST_F(BluetoothTest, DeviceBusyForeverEndsWithMinus111) {
    fake::setSdpOffers({serialPortOn(2)});
    fake::setConnectErrors(std::vector<int>(100, EBUSY));
    EXPECT_EQ(openAndClose(), VREN_E_BT_CONNECT);
    EXPECT_EQ(fake::rfcommSocketsCreated(), 5);
    EXPECT_EQ(fake::rfcommConnects().size(), 30u);
    const auto sleeps = sleepsTaken();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), kBusyPause), 25);
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 3u), 4);
}

TEST_F(BluetoothTest, NullArguments) {
    int sock = 5;
    EXPECT_EQ(spp_connect(&kAny, nullptr, 1, &sock), VREN_E_BT_CONNECT);
    EXPECT_EQ(spp_connect(nullptr, &kAny, 1, &sock), VREN_E_BT_CONNECT);
    EXPECT_EQ(spp_connect(&kAny, &kAny, 1, nullptr), VREN_E_BT_CONNECT);
    EXPECT_EQ(sock, 5);
    EXPECT_EQ(fake::rfcommSocketsCreated(), 0);
    EXPECT_EQ(logMessages("spp_connect"), std::vector<std::string>(3, "Invalid argument."));

    const size_t logged = logText().size();
    uint8_t channel = 0;
    EXPECT_EQ(sdp_search_spp(nullptr, &channel), -1);
    EXPECT_TRUE(fake::sdpSearches().empty());
    sdp_session_t *session = sdp_connect(&kAny, &kAny, SDP_RETRY_IF_BUSY);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(sdp_search_spp(session, nullptr), -1);
    fake::setSdpOffers({serialPortOn(11)});
    EXPECT_EQ(sdp_search_spp(session, &channel), 0);
    EXPECT_EQ(channel, 11);
    sdp_close(session);
    EXPECT_EQ(logText().size(), logged) << "sdp_search_spp logs nothing";
}

// ConnectToPrinter reaches the opener with a colon-separated device address,
// pauses 100 ms after it, identifies the printer, and then writes in chunks
// of at most 512 bytes, 30 ms apart.
TEST_F(BluetoothTest, LabelPrintedThroughTheRfcommStream) {
    vren::test::setTimeScale(0.1);  // the printer must answer within the read polls
    attachPrinter();
    fake::setSdpOffers({serialPortOn(1)});

    ASSERT_EQ(ConnectToPrinter(kAddress), VREN_OK);
    EXPECT_EQ(gConnectedPrinter, 1);
    EXPECT_EQ(gPrinterModel, 151u);
    ASSERT_FALSE(sleepsTaken().empty());
    EXPECT_EQ(sleepsTaken()[0], 100000u);
    EXPECT_EQ(fake::writeSizes(), (std::vector<size_t>{6}));
    const auto connectLog = logMessages("ConnectToPrinter");
    EXPECT_EQ(count(connectLog, "Request a bluetooth connection."), 1);
    EXPECT_EQ(count(connectLog, std::string("bluetooth port : ") + kAddress), 1);

    const std::string label = vren::test::labelOfSize(1300);
    vren::test::putInBuffer(label);
    fake::clearWriteSizes();
    vren::test::clearSleeps();
    ASSERT_EQ(Prints(2, 1), VREN_OK);
    EXPECT_EQ(fake::writeSizes(), (std::vector<size_t>{512, 512, 281}));
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 30000, 30000, 30000, 30000, 30000}));
    EXPECT_BYTES(label + "P2,1\r", printed(1305));

    EXPECT_EQ(DisconnectPrinter(), 0);
    EXPECT_EQ(fake::openDescriptors(), 0);
}

// ConnectToPrinter around the opener: its two lines, the opener's lines in
// order, the opener's code unchanged after "Failed to open device.", and the
// 100 ms pause after the opener whatever it returned.
TEST_F(BluetoothTest, ConnectLogsTheOpenerInOrder) {
    const std::vector<std::string> start = {"ConnectToPrinter: Request a bluetooth connection.",
                                            std::string("ConnectToPrinter: bluetooth port : ") + kAddress,
                                            "openDeviceBluetooth: start"};
    auto records = [&](const std::vector<std::string> &opener, const char *last) {
        std::vector<std::string> all = start;
        all.insert(all.end(), opener.begin(), opener.end());
        all.push_back(last);
        return all;
    };
    std::vector<std::string> noService;
    std::vector<std::string> refused;
    for (int i = 0; i < 5; ++i) {
        noService.push_back("openDeviceBluetooth: Failed to get service info.");
        refused.push_back("spp_connect: Failed to call connect().");
        refused.push_back("openDeviceBluetooth: Failed to connect.");
        if (i < 4) {
            noService.push_back("openDeviceBluetooth: Retry to get service info.");
            refused.push_back("openDeviceBluetooth: Retry to connect.");
        }
    }
    constexpr const char *kFailed = "ConnectToPrinter: Failed to open device.";
    struct Row {
        bool reachable;
        std::vector<fake::SdpService> offered;
        std::vector<int> connectErrors;
        int result;
        std::vector<std::string> records;
        std::vector<unsigned> sleeps;  // up to and including the 100 ms pause
    };
    const Row rows[] = {
        /* 1 */ {false, serialPortOn(1), {}, VREN_E_BT_SDP_CONNECT,
                 records({"openDeviceBluetooth: Failed to sdp_connect()."}, kFailed), {100000}},
        /* 2 */ {true, {}, {}, VREN_E_BT_NO_SERVICE, records(noService, kFailed),
                 {300000, 300000, 300000, 300000, 100000}},
        /* 3 */ {true, serialPortOn(1), std::vector<int>(5, ECONNREFUSED), VREN_E_BT_CONNECT,
                 records(refused, kFailed), {3, 3, 3, 3, 100000}},
        /* 4 */ {true, serialPortOn(1), {}, VREN_OK,
                 records({"openDeviceBluetooth: Success port open."}, "ConnectToPrinter: Check model."), {100000}},
    };
    vren::test::setTimeScale(0.1);  // the printer must answer within the read polls
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        fake::reset();
        attachPrinter();
        fake::setSdpReachable(rows[i].reachable);
        fake::setSdpOffers({rows[i].offered});
        fake::setConnectErrors(rows[i].connectErrors);
        vren::test::clearSleeps();
        markLog();
        EXPECT_EQ(ConnectToPrinter(kAddress), rows[i].result);
        auto logged = vren::test::parseLogRecords(logText()).records;
        ASSERT_FALSE(logged.empty());
        logged.erase(logged.begin());  // the new-connection banner
        const auto last = std::find(logged.begin(), logged.end(), rows[i].records.back());
        ASSERT_NE(last, logged.end());
        EXPECT_EQ(std::vector<std::string>(logged.begin(), last + 1), rows[i].records);
        const auto sleeps = sleepsTaken();
        ASSERT_GE(sleeps.size(), rows[i].sleeps.size());
        EXPECT_EQ(std::vector<unsigned>(sleeps.begin(), sleeps.begin() + static_cast<long>(rows[i].sleeps.size())),
                  rows[i].sleeps);
        if (rows[i].result != VREN_OK) {
            EXPECT_EQ(sleeps.size(), rows[i].sleeps.size());
        }
        DisconnectPrinter();
    }
}

// The connection is a socket: a printer that closed it makes the writes fail,
// without a SIGPIPE that would end the application.
TEST_F(BluetoothTest, PeerClosedFailsWithoutSignal) {
    vren::test::setTimeScale(0.1);  // the printer must answer within the read polls
    printer_ = std::make_unique<vprinter::VirtualPrinter>(vprinter::Behaviour{.closeAfter = 6 + 10});
    fake::attachPrinter(printer_.get());
    fake::setSdpOffers({serialPortOn(1)});
    ASSERT_EQ(ConnectToPrinter(kAddress), VREN_OK);
    const std::string part(1000, 'L');
    // Writes go on succeeding until the printer has read its ten bytes and
    // closed its end, however long its thread takes for that.
    int result = 0;
    waitFor([&] { return (result = DirectIO(part.data(), static_cast<int>(part.size()), nullptr, nullptr)) != 0; });
    EXPECT_EQ(result, VREN_E_WRITE);
}

TEST_F(BluetoothTest, ConnectReportsTheOpenersCode) {
    fake::setSdpReachable(false);
    EXPECT_EQ(ConnectToPrinter(kAddress), VREN_E_BT_SDP_CONNECT);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{100000}));
    const auto log = logMessages("ConnectToPrinter");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Failed to open device.");
    EXPECT_EQ(gConnectedPrinter, 0);
}

}  // namespace
