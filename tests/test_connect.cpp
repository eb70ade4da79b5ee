// Connecting: address classification, printer identification, and what a
// connect or disconnect leaves behind.
#include <sys/socket.h>

#include <climits>

#include "library_test.h"

namespace vren::test {
namespace {

using namespace std::chrono_literals;

class Connect : public LibraryTest {};

bool contains(const std::vector<std::string> &messages, const std::string &message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

// A loopback port with nothing listening on it.
uint16_t closedPort() {
    vprinter::VirtualPrinter probe;
    return probe.listenTcp(0);  // closed again when the probe goes
}

TEST_F(Connect, IdentificationOutcomes) {
    struct Row {
        std::string reply;
        bool answer;
        int result;
        uint32_t model;
        std::vector<std::string> modelCheckLog;  // after "start"
    };
    const Row rows[] = {
        /* 0 */ {"LQ1\r\n", true, 0, 151, {"read OK.", "model = LQ1\r\n, 0", "model = LQ1\r\n, 151", "success"}},
        /* 1 */ {"lq2\r\n", true, 0, 152, {"read OK.", "model = lq2\r\n, 0", "model = lq2\r\n, 152", "success"}},
        /* 2 */ {"VREN LQ2 LQ1\r\n", true, 0, 151, {"read OK.", "model = VREN LQ2 LQ1\r\n, 0",
                                                   "model = VREN LQ2 LQ1\r\n, 151", "success"}},
        /* 3 */ {"XYZ9\r\n", true, VREN_E_NOT_ACCEPTED, 0,
                 {"read OK.", "model = XYZ9\r\n, 0", "model = XYZ9\r\n, 0", "not supported model"}},
        /* 4 */ {"LQ\r\n", true, VREN_E_NOT_ACCEPTED, 0, {"read OK.", "Failed to read the model name"}},
        /* 5 */ {"", false, VREN_E_NOT_ACCEPTED, 0, {"Failed to read the model name"}},
        // Ends in neither CR LF nor LF LF: five attempts, the last brings nothing.
        /* 6 */ {"LQ1 ok\n", true, VREN_E_NOT_ACCEPTED, 0, {"Failed to read the model name"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        gPrinterModel = 0;
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
        if (row.result != 0) {
            EXPECT_EQ(logMessages("openCheck"), std::vector<std::string>{"Failed modelCheck()"});
            EXPECT_TRUE(contains(logMessages("ConnectToPrinter"), "Failed openCheck. -101"));
        }
        DisconnectPrinter();
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
    const Row rows[] = {
        /* 0 */ {"USB", "Request a usb connection.", VREN_E_OPEN},
        /* 1 */ {"usb:anything", "Request a usb connection.", VREN_E_OPEN},
        /* 2 */ {"/dev/ttyS97:9600", "Request a serial connection.", VREN_E_OPEN},
        /* 3 */ {"/dev/lp97", "Request a parallel connection.", VREN_E_OPEN},
        /* 4 */ {"127.0.0.1:", "Request a network connection.", VREN_E_LINE_CONFIG},
        /* 5 */ {"127.0.0.1:" + std::to_string(closedPort()), "Request a network connection.", VREN_E_LINE_CONFIG},
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

TEST_F(Connect, SerialDevicePathIsOpenedTwice) {
    EXPECT_EQ(ConnectToPrinter("/dev/ttyS97:9600"), VREN_E_OPEN);
    const auto log = logMessages("openDeviceSerial");
    EXPECT_EQ(std::count(log.begin(), log.end(), "Serial port : /dev/ttyS97"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Failed to open serial port."), 2);
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
}

TEST_F(Connect, DisconnectClosesTheConnection) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);
    EXPECT_FALSE(printer_->waitForClosed(0, 10ms));
    EXPECT_EQ(DisconnectPrinter(), 0);
    EXPECT_TRUE(printer_->waitForClosed(0, 2s));
}

TEST_F(Connect, FailedIdentificationClosesTheNewConnection) {
    vprinter::Behaviour behaviour;
    behaviour.modelReply = "NOPE\r\n";
    ASSERT_EQ(connectToVirtualPrinter(behaviour), VREN_E_NOT_ACCEPTED);
    EXPECT_TRUE(printer_->waitForClosed(0, 2s));
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
    EXPECT_EQ(ConnectToPrinter("127.0.0.1:"), VREN_E_LINE_CONFIG);
    EXPECT_EQ(gConnectedPrinter, 1);
    EXPECT_EQ(gPrinterModel, 151u);
    ASSERT_EQ(DirectIO("still here", 10, nullptr, nullptr), 0);
    EXPECT_TRUE(first.waitForBytes(0, 16, 2s));
    EXPECT_EQ(first.received(0).substr(6), "still here");

    vprinter::Behaviour second;
    second.modelReply = "LQ2\r\n";
    vprinter::VirtualPrinter replacement(second);
    EXPECT_FALSE(first.waitForClosed(0, 10ms));
    ASSERT_EQ(ConnectToPrinter(addressOf(replacement.listenTcp(0)).c_str()), 0);
    EXPECT_EQ(gPrinterModel, 152u);
    EXPECT_TRUE(first.waitForClosed(0, 2s));
    ASSERT_EQ(DirectIO("new", 3, nullptr, nullptr), 0);
    EXPECT_TRUE(replacement.waitForBytes(0, 9, 2s));
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
