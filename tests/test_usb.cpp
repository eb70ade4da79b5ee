// The USB opener against fake usblp nodes: the node scan, the device ID read
// from the printer, the manufacturer and model rules, and a label printed
// through a fake node.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "fake_devices.h"
#include "library_test.h"
#include "log_records.h"
#include "sample_label.h"

namespace fake = vren::fake;
using vren::test::sleepsTaken;

namespace {

constexpr int kOpenFlags = O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC;
constexpr const char *kTag = "openDeviceUSB";
constexpr int kAccepted151 = 151;
constexpr int kAccepted152 = 152;
constexpr int kRejected = VREN_E_NOT_ACCEPTED;

class UsbTest : public vren::test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        fake::reset();
    }
    void TearDown() override {
        LibraryTest::TearDown();
        fake::reset();
    }

    static void addPrinter(const std::string &path, const std::string &deviceId, bool printer = false) {
        fake::addUsbNode(path, {fake::NodeState::Present, deviceId, false, printer});
    }

    // The model index the opener accepted (its descriptor is closed), or its
    // negative result; nothing may be left open either way, and a rejected
    // printer leaves the model index alone.
    static int acceptedModel() {
        gPrinterModel = 7;
        const int fd = openDeviceUSB();
        int result = fd;
        if (fd >= 0) {
            EXPECT_EQ(fake::openDescriptors(), 1);
            result = static_cast<int>(gPrinterModel);
            close(fd);
        } else {
            EXPECT_EQ(gPrinterModel, 7u) << "changed on failure";
        }
        EXPECT_EQ(fake::openDescriptors(), 0) << "descriptor left open";
        return result;
    }

    std::vector<std::string> modelLines() const {
        std::vector<std::string> lines;
        for (const std::string &message : logMessages(kTag)) {
            if (message.rfind("Model : ", 0) == 0)
                lines.push_back(message);
        }
        return lines;
    }
};

std::vector<std::string> pathsOf(const std::vector<fake::UsbOpen> &opens) {
    std::vector<std::string> paths;
    for (const auto &open : opens)
        paths.push_back(open.path);
    return paths;
}

TEST_F(UsbTest, NoNodeAtAllGivesMinus100WithEnodev) {
    gPrinterModel = 7;
    errno = 0;
    EXPECT_EQ(openDeviceUSB(), VREN_E_OPEN);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(gPrinterModel, 7u);

    std::vector<std::string> expectedLog = {"Start openDeviceUSB"};
    std::vector<std::string> expectedOpens;
    for (int n = 0; n < 16; ++n) {
        const std::string index = std::to_string(n);
        expectedLog.push_back("device = /dev/usblp" + index);
        for (const char *prefix : {"/dev/usblp", "/dev/usb/lp", "/dev/usb/usblp"})
            expectedOpens.push_back(prefix + index);
    }
    EXPECT_EQ(logMessages(kTag), expectedLog);
    EXPECT_EQ(pathsOf(fake::usbOpens()), expectedOpens);
    for (const auto &open : fake::usbOpens())
        EXPECT_EQ(open.flags, kOpenFlags) << open.path;
}

TEST_F(UsbTest, LaterNameIsTriedOnlyWhenTheEarlierDoesNotExist) {
    addPrinter("/dev/usb/lp0", fake::deviceId("MFG:VREN;MDL:LQ1;"));
    EXPECT_EQ(acceptedModel(), kAccepted151);
    EXPECT_EQ(pathsOf(fake::usbOpens()), (std::vector<std::string>{"/dev/usblp0", "/dev/usb/lp0"}));
    EXPECT_EQ(logMessages(kTag),
              (std::vector<std::string>{"Start openDeviceUSB", "device = /dev/usblp0", "Open usb port /dev/usb/lp0",
                                        "Model : LQ1, Manufacture : VREN", "Success port open."}));
    EXPECT_EQ(fake::usbRequests(), (std::vector<unsigned long>{0x84005001UL}));
}

TEST_F(UsbTest, ThirdNameOfALaterIndex) {
    addPrinter("/dev/usb/usblp3", fake::deviceId("MFG:VREN;MDL:LQ2;"));
    EXPECT_EQ(acceptedModel(), kAccepted152);
    const auto paths = pathsOf(fake::usbOpens());
    ASSERT_EQ(paths.size(), 12u);
    EXPECT_EQ(paths.back(), "/dev/usb/usblp3");
}

// A node that exists but cannot be opened is taken: the later names of its
// index are never tried. A busy one is rejected with an empty device ID, and
// the scan ends in -101 rather than -100; one this user may not open is
// logged with the reason, and the scan ends in -100 with errno EACCES, also
// for ConnectToPrinter's caller.
TEST_F(UsbTest, BusyOrForbiddenNodeCountsAsFound) {
    struct Row {
        fake::NodeState state;
        int result;
        int error;  // errno afterwards (0: not examined)
        std::vector<std::string> log;  // after "device = /dev/usblp0"
    };
    const std::vector<std::string> busy = {"Open usb port /dev/usblp0", "Model : , Manufacture : ",
                                           "This printer is not the VREN printer."};
    const Row rows[] = {
        /* 1 */ {fake::NodeState::Busy, kRejected, 0, busy},
        /* 2 */ {fake::NodeState::Denied, VREN_E_OPEN, EACCES, {"Cannot open /dev/usblp0 : Permission denied"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        fake::reset();
        fake::addUsbNode("/dev/usblp0", {rows[i].state, fake::deviceId("MFG:VREN;MDL:LQ1;"), false, false});
        addPrinter("/dev/usb/lp0", fake::deviceId("MFG:VREN;MDL:LQ1;"));
        markLog();
        errno = 0;
        EXPECT_EQ(acceptedModel(), rows[i].result);
        if (rows[i].error != 0) {
            EXPECT_EQ(errno, rows[i].error);
        }
        const auto paths = pathsOf(fake::usbOpens());
        EXPECT_EQ(std::count(paths.begin(), paths.end(), "/dev/usb/lp0"), 0);
        EXPECT_TRUE(fake::usbRequests().empty());
        const auto log = logMessages(kTag);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(log.begin() + 2, log.begin() + 2 + std::min(log.size() - 2, rows[i].log.size())),
                  rows[i].log);
        errno = 0;
        EXPECT_EQ(ConnectToPrinter("USB"), rows[i].result);
        if (rows[i].error != 0) {
            EXPECT_EQ(errno, rows[i].error);
        }
    }
}

// Device ID text -> accepted model index or -101, the values logged, and what
// the opener did next.
TEST_F(UsbTest, ManufacturerAndModelRules) {
    constexpr const char *kSuccess = "Success port open.";
    constexpr const char *kNotOurs = "This printer is not the VREN printer.";
    constexpr const char *kNextNode = "device = /dev/usblp1";
    struct Row {
        const char *id;
        int expected;
        const char *logged;
        const char *then;
    };
    const Row rows[] = {
        /*  1 */ {"MFG:VREN;MDL:LQ1;", kAccepted151, "Model : LQ1, Manufacture : VREN", kSuccess},
        /*  2 */ {"MFG:TREMONA;MDL:LQ2;", kAccepted152, "Model : LQ2, Manufacture : TREMONA", kSuccess},
        /*  3 */ {"MFG:VREN;MDL:LQ;", kAccepted151, "Model : LQ, Manufacture : VREN", kSuccess},
        /*  4 */ {"MFG:VREN;MDL:LQ10;", kRejected, "Model : LQ10, Manufacture : VREN", kNextNode},
        /*  5 */ {"MFG:VREN;CMD:ZPL;", kAccepted151, "Model : , Manufacture : VREN", kSuccess},
        /*  6 */ {"MFG:VREN;MDL:;", kAccepted151, "Model : , Manufacture : VREN", kSuccess},
        /*  7 */ {"MFG:vren;MDL:LQ1;", kRejected, "Model : LQ1, Manufacture : vren", kNotOurs},
        /*  8 */ {"MFG:VRE;MDL:LQ1;", kRejected, "Model : LQ1, Manufacture : VRE", kNotOurs},
        /*  9 */ {"MFG:VRENDOR;MDL:LQ1;", kAccepted151, "Model : LQ1, Manufacture : VRENDOR", kSuccess},
        /* 10 */ {"MFG:TREMON;MDL:LQ2;", kAccepted152, "Model : LQ2, Manufacture : TREMON", kSuccess},
        /* 11 */ {"MFG:TREMO;MDL:LQ2;", kRejected, "Model : LQ2, Manufacture : TREMO", kNotOurs},
        /* 12 */ {"MANUFACTURE:VREN;MODEL:LQ2;", kAccepted152, "Model : LQ2, Manufacture : VREN", kSuccess},
        /* 13 */ {"MANUFACTURE:ACME;MFG:VREN;MDL:LQ2;", kAccepted152, "Model : LQ2, Manufacture : VREN", kSuccess},
        /* 14 */ {"MFG:ACME;MANUFACTURE:VREN;MDL:LQ1;", kRejected, "Model : LQ1, Manufacture : ACME", kNotOurs},
        /* 15 */ {"MODEL:LQ1;MDL:LQ2;MFG:VREN", kAccepted152, "Model : LQ2, Manufacture : VREN", kSuccess},
        /* 16 */ {"CLS:PRINTER;MODEL:LQ2;MFG:TREMONA LABELS", kAccepted152,
                  "Model : LQ2, Manufacture : TREMONA LABELS", kSuccess},
        /* 17 */ {"mfg:VREN;mdl:LQ1;", kRejected, "Model : , Manufacture : ", kNotOurs},
        /* 18 */ {"", kRejected, "Model : , Manufacture : ", kNotOurs},
        /* 19 */ {"MDL:LQ1;", kRejected, "Model : LQ1, Manufacture : ", kNotOurs},
        /* 20 */ {"MFG:VREN;MDL:lq1;", kRejected, "Model : lq1, Manufacture : VREN", kNextNode},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + rows[i].id);
        fake::reset();
        addPrinter("/dev/usblp0", fake::deviceId(rows[i].id));
        const size_t before = logMessages(kTag).size();
        EXPECT_EQ(acceptedModel(), rows[i].expected);
        const auto log = logMessages(kTag);
        const auto model = std::find(log.begin() + static_cast<long>(before), log.end(), rows[i].logged);
        ASSERT_NE(model, log.end()) << "no line: " << rows[i].logged;
        ASSERT_NE(model + 1, log.end());
        EXPECT_EQ(*(model + 1), rows[i].then);
    }
}

TEST_F(UsbTest, RejectionsAreLoggedOnlyForTheManufacturer) {
    addPrinter("/dev/usblp0", fake::deviceId("MFG:ACME;MDL:LQ1;"));
    addPrinter("/dev/usblp1", fake::deviceId("MFG:VREN;MDL:LQ9;"));
    EXPECT_EQ(acceptedModel(), kRejected);
    EXPECT_EQ(logMessages(kTag),
              (std::vector<std::string>{"Start openDeviceUSB", "device = /dev/usblp0", "Open usb port /dev/usblp0",
                                        "Model : LQ1, Manufacture : ACME", "This printer is not the VREN printer.",
                                        "device = /dev/usblp1", "Open usb port /dev/usblp1",
                                        "Model : LQ9, Manufacture : VREN", "device = /dev/usblp2",
                                        "device = /dev/usblp3", "device = /dev/usblp4", "device = /dev/usblp5",
                                        "device = /dev/usblp6", "device = /dev/usblp7", "device = /dev/usblp8",
                                        "device = /dev/usblp9", "device = /dev/usblp10", "device = /dev/usblp11",
                                        "device = /dev/usblp12", "device = /dev/usblp13", "device = /dev/usblp14",
                                        "device = /dev/usblp15"}));
}

// The first printer is closed, and none of its values carry over to the
// second: had its model stayed behind, the second (no model key) would not
// have matched.
TEST_F(UsbTest, SecondPrinterAcceptedWithItsOwnValues) {
    addPrinter("/dev/usblp0", fake::deviceId("MFG:VREN;MDL:LQ10;"));
    addPrinter("/dev/usblp1", fake::deviceId("MFG:TREMONA;"));
    gPrinterModel = 0;
    const int fd = openDeviceUSB();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(gPrinterModel, 151u);
    EXPECT_EQ(fake::openDescriptors(), 1) << "the first printer was not closed";
    close(fd);
    EXPECT_EQ(modelLines(), (std::vector<std::string>{"Model : LQ10, Manufacture : VREN",
                                                      "Model : , Manufacture : TREMONA"}));
}

TEST_F(UsbTest, FailedDeviceIdRequestRejectsTheNode) {
    fake::addUsbNode("/dev/usblp0", {fake::NodeState::Present, fake::deviceId("MFG:VREN;MDL:LQ1;"), true, false});
    EXPECT_EQ(acceptedModel(), kRejected);
    EXPECT_EQ(fake::usbRequests().size(), 1u);
    EXPECT_EQ(modelLines(), (std::vector<std::string>{"Model : , Manufacture : "}));
}

// The length prefix comes from the device; the text never reaches past the
// 1024-byte buffer, whatever it claims (under AddressSanitizer a read past it
// would stop the test).
TEST_F(UsbTest, HostileLengthPrefixes) {
    const std::string id = "MFG:VREN;MDL:LQ2;";
    std::string full = id;
    full.resize(1022, 'x');  // fills the buffer: no NUL anywhere after the prefix
    std::string atTheEnd(1022 - 16, 'x');
    atTheEnd += ";MFG:VREN;MDL:LQ";  // the model value ends with the buffer
    struct Row {
        unsigned claimed;
        std::string text;
        int expected;
        const char *logged;
    };
    const Row rows[] = {
        /*  1 */ {0, id, kRejected, "Model : , Manufacture : "},
        /*  2 */ {1, id, kRejected, "Model : , Manufacture : "},
        /*  3 */ {2, id, kRejected, "Model : , Manufacture : "},
        /*  4 */ {2 + 8, id, kAccepted151, "Model : , Manufacture : VREN"},
        /*  5 */ {2 + 15, id, kAccepted151, "Model : LQ, Manufacture : VREN"},
        /*  6 */ {1024, full, kAccepted152, "Model : LQ2, Manufacture : VREN"},
        /*  7 */ {1026, full, kAccepted152, "Model : LQ2, Manufacture : VREN"},
        /*  8 */ {65535, full + "MORE BYTES THAN THE BUFFER", kAccepted152, "Model : LQ2, Manufacture : VREN"},
        /*  9 */ {65535, atTheEnd, kAccepted151, "Model : LQ, Manufacture : VREN"},
        /* 10 */ {1024, atTheEnd.substr(0, 1021), kAccepted151, "Model : L, Manufacture : VREN"},
        /* 11 */ {65535, "", kRejected, "Model : , Manufacture : "},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1) + ": length " + std::to_string(rows[i].claimed));
        fake::reset();
        addPrinter("/dev/usblp0", fake::deviceIdClaiming(rows[i].claimed, rows[i].text));
        EXPECT_EQ(acceptedModel(), rows[i].expected);
        ASSERT_FALSE(modelLines().empty());
        EXPECT_EQ(modelLines().back(), rows[i].logged);
    }
}

// Values run to the next ';' and keep at most 63 characters.
TEST_F(UsbTest, LongValuesAreCutAt63Characters) {
    const std::string maker = "VREN" + std::string(100, 'M');
    const std::string model = "LQ1" + std::string(70, 'Z');
    struct Row {
        std::string id;
        int expected;
        std::string logged;
    };
    const Row rows[] = {
        /* 1 */ {"MFG:" + maker + ";MDL:LQ1;", kAccepted151,
                 "Model : LQ1, Manufacture : " + maker.substr(0, 63)},
        /* 2 */ {"MFG:VREN;MDL:" + model + ";", kRejected, "Model : " + model.substr(0, 63) + ", Manufacture : VREN"},
        /* 3 */ {"MDL:" + model + ";MFG:" + maker, kRejected,
                 "Model : " + model.substr(0, 63) + ", Manufacture : " + maker.substr(0, 63)},
        /* 4 */ {"MFG:" + maker.substr(0, 63) + ";MDL:LQ2", kAccepted152,
                 "Model : LQ2, Manufacture : " + maker.substr(0, 63)},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        fake::reset();
        addPrinter("/dev/usblp0", fake::deviceId(rows[i].id));
        EXPECT_EQ(acceptedModel(), rows[i].expected);
        ASSERT_FALSE(modelLines().empty());
        EXPECT_EQ(modelLines().back(), rows[i].logged);
    }
}

// ConnectToPrinter finds the printer by its device ID, identifies it with the
// model query like every other interface, and then writes in chunks of at
// most 4096 bytes.
TEST_F(UsbTest, LabelPrintedThroughAFakeNode) {
    printer_ = std::make_unique<vprinter::VirtualPrinter>(vprinter::Behaviour{.modelReply = "LQ2\r\n"});
    fake::attachPrinter(printer_.get());
    addPrinter("/dev/usblp0", fake::deviceId("MFG:ACME;MDL:LQ2;"));
    addPrinter("/dev/usblp1", fake::deviceId("MFG:VREN;MDL:LQ2;CMD:VREN;"), true);

    ASSERT_EQ(ConnectToPrinter("usb:anything after it is ignored"), VREN_OK);
    EXPECT_EQ(gConnectedPrinter, 1);
    EXPECT_EQ(gPrinterModel, 152u);
    EXPECT_EQ(fake::writeSizes(), (std::vector<size_t>{6}));  // the model query
    EXPECT_EQ(printer_->received(0).substr(0, 6), "^PI0\r\n");

    // A label that fills the buffer exactly goes out as one chunk.
    const std::string label = vren::test::labelOfSize(4096 - 5);
    vren::test::putInBuffer(label);
    fake::clearWriteSizes();
    vren::test::clearSleeps();
    ASSERT_EQ(Prints(1, 1), VREN_OK);
    EXPECT_EQ(fake::writeSizes(), (std::vector<size_t>{4096}));
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 10000}));
    EXPECT_BYTES(label + "P1,1\r", printed(4096));

    // Raw bytes beyond one chunk: 4096, 4096, the rest.
    std::string raw(9000, '\0');
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<char>(i * 7);
    fake::clearWriteSizes();
    ASSERT_EQ(DirectIO(raw.data(), static_cast<int>(raw.size()), nullptr, nullptr), VREN_OK);
    EXPECT_EQ(fake::writeSizes(), (std::vector<size_t>{4096, 4096, 808}));
    EXPECT_BYTES(label + "P1,1\r" + raw, printed(4096 + raw.size()));

    EXPECT_EQ(DisconnectPrinter(), 0);
    EXPECT_EQ(fake::openDescriptors(), 0);
}

// ConnectToPrinter and the opener, their lines in order up to the end of
// opening: the opener's -100 and -101 are returned unchanged after "Failed to
// open device.", with no model check and the model index as it was.
TEST_F(UsbTest, ConnectLogsTheOpenerInOrder) {
    auto scan = [](int from) {
        std::vector<std::string> records;
        for (int n = from; n < 16; ++n)
            records.push_back("openDeviceUSB: device = /dev/usblp" + std::to_string(n));
        return records;
    };
    std::vector<std::string> none = {"ConnectToPrinter: Request a usb connection.", "openDeviceUSB: Start openDeviceUSB"};
    for (const std::string &record : scan(0))
        none.push_back(record);
    none.push_back("ConnectToPrinter: Failed to open device.");
    std::vector<std::string> rejected = {"ConnectToPrinter: Request a usb connection.",
                                         "openDeviceUSB: Start openDeviceUSB", "openDeviceUSB: device = /dev/usblp0",
                                         "openDeviceUSB: Open usb port /dev/usblp0",
                                         "openDeviceUSB: Model : LQ1, Manufacture : ACME",
                                         "openDeviceUSB: This printer is not the VREN printer."};
    for (const std::string &record : scan(1))
        rejected.push_back(record);
    rejected.push_back("ConnectToPrinter: Failed to open device.");
    const std::vector<std::string> accepted = {
        "ConnectToPrinter: Request a usb connection.", "openDeviceUSB: Start openDeviceUSB",
        "openDeviceUSB: device = /dev/usblp0",         "openDeviceUSB: Open usb port /dev/usblp0",
        "openDeviceUSB: Model : LQ1, Manufacture : VREN", "openDeviceUSB: Success port open.",
        "ConnectToPrinter: Check model."};
    struct Row {
        const char *id;  // of /dev/usblp0; null: no node
        int result;
        uint32_t model;
        const std::vector<std::string> &records;
    };
    const Row rows[] = {
        /* 1 */ {nullptr, VREN_E_OPEN, 7, none},
        /* 2 */ {"MFG:ACME;MDL:LQ1;", VREN_E_NOT_ACCEPTED, 7, rejected},
        /* 3 */ {"MFG:VREN;MDL:LQ1;", VREN_OK, 151, accepted},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        fake::reset();
        printer_ = std::make_unique<vprinter::VirtualPrinter>();
        fake::attachPrinter(printer_.get());
        if (rows[i].id != nullptr)
            addPrinter("/dev/usblp0", fake::deviceId(rows[i].id), true);
        gPrinterModel = 7;
        markLog();
        EXPECT_EQ(ConnectToPrinter("USB"), rows[i].result);
        EXPECT_EQ(gPrinterModel, rows[i].model);
        auto records = vren::test::parseLogRecords(logText()).records;
        ASSERT_FALSE(records.empty());
        records.erase(records.begin());  // the new-connection banner
        const auto last = std::find(records.begin(), records.end(), rows[i].records.back());
        ASSERT_NE(last, records.end());
        EXPECT_EQ(std::vector<std::string>(records.begin(), last + 1), rows[i].records);
        DisconnectPrinter();
    }
}

TEST_F(UsbTest, ConnectWithoutAnyNodeFails) {
    EXPECT_EQ(ConnectToPrinter("USB"), VREN_E_OPEN);
    EXPECT_EQ(gConnectedPrinter, 0);
    const auto log = logMessages("ConnectToPrinter");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Failed to open device.");
}

// Accepted by its device ID, but the printer names no model of the table in
// its reply: identification fails and the node is closed.
TEST_F(UsbTest, ConnectRejectsAnUnknownModelReply) {
    printer_ = std::make_unique<vprinter::VirtualPrinter>(vprinter::Behaviour{.modelReply = "XY9\r\n"});
    fake::attachPrinter(printer_.get());
    addPrinter("/dev/usblp0", fake::deviceId("MFG:VREN;MDL:LQ1;"), true);
    EXPECT_EQ(ConnectToPrinter("USB"), VREN_E_NOT_ACCEPTED);
    EXPECT_EQ(gConnectedPrinter, 0);
    EXPECT_EQ(fake::openDescriptors(), 0);
}

}  // namespace
