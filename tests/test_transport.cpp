// Transport over loopback TCP: chunking, pacing, retries and polled reads,
// checked on the wire at the virtual printer and through the recorded pauses.
#include <atomic>
#include <thread>

#include "fake_write.h"
#include "library_test.h"
#include "test_io.h"

namespace vren::test {
namespace {

using namespace std::chrono_literals;

class Transport : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        behaviour_.status = -1;
    }
    // Connects, then forgets the pauses of the connect.
    void connect() {
        ASSERT_EQ(connectToVirtualPrinter(behaviour_), 0);
        clearSleeps();
        markLog();
    }
    // Sends a model query, so that the printer answers with the model reply.
    void askForReply(const std::string &reply) {
        vprinter::Behaviour b = printer_->behaviour();
        b.modelReply = reply;
        printer_->setBehaviour(b);
        const unsigned char query[] = {'^', 'P', 'I', '0', '\r', '\n'};
        ASSERT_EQ(writeData(query, sizeof query), 6);
        ASSERT_TRUE(printer_->waitForBytes(0, 12, 10s));
        clearSleeps();
        markLog();
    }
    vprinter::Behaviour behaviour_;
};

TEST_F(Transport, SixBytesOverTheNetworkAreOneChunk) {
    connect();
    EXPECT_EQ(writeData("ABCDEF", 6), 6);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 10000}));
    EXPECT_BYTES("ABCDEF", printed(6));
    EXPECT_EQ(logMessages("writeData").back(), "complete to write the data.");
}

TEST_F(Transport, TheWholeRequestIsOneChunkOverTheNetwork) {
    connect();
    const std::string request(10000, 'x');
    EXPECT_EQ(writeData(request.data(), static_cast<uint32_t>(request.size())), 10000);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 10000}));
    EXPECT_EQ(printed(10000), request);
}

// A printer that reads more slowly than the library writes takes only part of
// each send. A send that moved bytes is progress, not a failed attempt: more
// short sends than the allowance of five still deliver the whole request,
// each byte once, without the pause of a failed attempt.
TEST_F(Transport, ShortSendsOverTheNetworkAreProgress) {
    connect();
    std::string label;
    for (int i = 0; label.size() < 1000; ++i)
        label += std::to_string(i) + ",";
    label.resize(1000);
    static size_t left;
    left = 1000;
    shortenNextWrite(1000, 100);  // each send takes 100 bytes
    setWriteObserver([](int, size_t length) {
        left -= length;
        if (left > 100)
            shortenNextWrite(left, 100);
    });
    EXPECT_EQ(writeData(label.data(), 1000), 1000);
    setWriteObserver(nullptr);
    EXPECT_EQ(sleepsTaken(), std::vector<unsigned>(11, 10000));  // entry, then before each of ten sends
    EXPECT_EQ(printed(1000), label);
}

TEST_F(Transport, CountZeroReturnsAtOnce) {
    connect();
    EXPECT_EQ(writeData("x", 0), 0);
    EXPECT_TRUE(sleepsTaken().empty());
    EXPECT_EQ(logMessages("writeData"), (std::vector<std::string>{"write data : "}));
    EXPECT_EQ(printed(), "");
}

// Nothing to send from or to read into: a null pointer moves nothing, at
// once, without a pause; the reply stays on the connection.
TEST_F(Transport, NullPointersMoveNothing) {
    connect();
    askForReply("LQ1\r\n");
    EXPECT_EQ(writeData(nullptr, 5), 0);
    EXPECT_EQ(readData(nullptr, 5), 0);
    EXPECT_TRUE(sleepsTaken().empty());
    EXPECT_EQ(logMessages("writeData"), (std::vector<std::string>{"write data : "}));
    EXPECT_EQ(logMessages("readData"), (std::vector<std::string>{"Nothing to read into: length 5"}));
    unsigned char reply[8] = {};
    EXPECT_EQ(readData(reply, 8), 5);
}

// Without a connection every attempt fails: five are absorbed with a pause of
// 200 ms each, the sixth gives up.
TEST_F(Transport, SixthFailedAttemptGivesUp) {
    EXPECT_EQ(writeData("abc", 3), VREN_E_WRITE_GAVE_UP);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{10000, 10000, 200000, 10000, 200000, 10000, 200000, 10000,
                                                    200000, 10000, 200000, 10000}));
    // Every byte is logged before the first attempt; giving up adds no record.
    EXPECT_EQ(logMessages("writeData"),
              (std::vector<std::string>{"write data : ", "i : 0, 61, a ", "i : 1, 62, b ", "i : 2, 63, c "}));
}

// A peer that closed the connection must not kill the process with SIGPIPE;
// the writes fail like any failed attempt.
TEST_F(Transport, PeerClosedMidLabelFailsWithoutSignal) {
    behaviour_.closeAfter = 6 + 10;
    connect();
    const std::string part(1000, 'L');
    // Writes go on succeeding until the peer's reset has arrived.
    int result = 0;
    waitFor([&] { return (result = DirectIO(part.data(), static_cast<int>(part.size()), nullptr, nullptr)) != 0; });
    EXPECT_EQ(result, VREN_E_WRITE);
    EXPECT_EQ(logMessages("DirectIO").back(), "Failed to write");
}

TEST_F(Transport, ReadStopsWhenTheWantedCountArrived) {
    connect();
    askForReply(std::string(20, 'a') + "BCDEF");
    unsigned char reply[32] = {};
    EXPECT_EQ(readData(reply, 20), 20);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{100000, 30000}));
    EXPECT_EQ(logMessages("readData")[1], "Complete to read the data.");
    // The rest stays on the connection for the next read.
    EXPECT_EQ(readData(reply, 20), 5);
    EXPECT_BYTES("BCDEF", std::string_view(reinterpret_cast<char *>(reply), 5));
}

TEST_F(Transport, ShortReplyPollsTwentyTimes) {
    connect();
    askForReply("LQ1\r\n");
    unsigned char reply[20] = {};
    EXPECT_EQ(readData(reply, 20), 5);
    const auto sleeps = sleepsTaken();
    ASSERT_EQ(sleeps.size(), 21u);
    EXPECT_EQ(sleeps.front(), 100000u);
    const auto messages = logMessages("readData");
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(messages[0], "START");
    EXPECT_EQ(messages[1], "read data : ");
    EXPECT_EQ(messages[2], "4c, L ");
    EXPECT_EQ(messages[5], "0d, \r ");
}

TEST_F(Transport, ReadEndsAfterAReadWhoseLastByteIsNul) {
    connect();
    askForReply(std::string("AB\0", 3));
    unsigned char reply[20] = {};
    EXPECT_EQ(readData(reply, 20), 3);
    EXPECT_EQ(sleepsTaken(), (std::vector<unsigned>{100000, 30000}));
    EXPECT_EQ(logMessages("readData"), (std::vector<std::string>{"START", "The last of data is a null.", "read data : ",
                                                                  "41, A ", "42, B ", "00, "}));
    // A read that brings the count and ends in NUL stops for the count.
    askForReply(std::string("CD\0", 3));
    EXPECT_EQ(readData(reply, 3), 3);
    EXPECT_EQ(logMessages("readData")[1], "Complete to read the data.");
}

TEST_F(Transport, NulInsideAReadDoesNotStopPolling) {
    connect();
    askForReply(std::string("A\0B", 3));
    unsigned char reply[20] = {};
    EXPECT_EQ(readData(reply, 20), 3);
    EXPECT_EQ(sleepsTaken().size(), 21u);
}

// A reply that comes in more than one read is put together in order, and its
// records show the bytes as they arrived. The printer here is the test itself:
// it sends the second part in the pause after the first read.
TEST_F(Transport, ReplyInSeveralReadsIsKeptInOrder) {
    Descriptor listener(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener.get(), 1), 0);
    ASSERT_EQ(getsockname(listener.get(), reinterpret_cast<sockaddr *>(&address), &length), 0);
    int accepted = -1;
    std::atomic<bool> answered{false};
    std::thread identify([&] {
        accepted = accept(listener.get(), nullptr, nullptr);
        readSome(accepted, 6, 10s);  // the model query
        sendAll(accepted, "LQ1\r\n");
        answered = true;
    });
    // The pause after the model query ends once the answer is on its way.
    setPauseHook([&](unsigned pause) {
        if (pause == 100000u)
            waitFor([&] { return answered.load(); }, 10s);
    });
    const int connected = ConnectToPrinter(addressOf(ntohs(address.sin_port)).c_str());
    setPauseHook(nullptr);
    identify.join();
    ASSERT_EQ(connected, 0);
    Descriptor peer(accepted);

    ASSERT_TRUE(sendAll(peer.get(), "AB"));
    clearSleeps();
    markLog();
    int pauses = 0;
    setPauseHook([&](unsigned) {
        if (++pauses == 2)  // entry pause, first read, its pause
            sendAll(peer.get(), "CD");
    });
    unsigned char reply[8] = {};
    const int received = readData(reply, 4);
    setPauseHook(nullptr);
    EXPECT_EQ(received, 4);
    EXPECT_BYTES("ABCD", std::string_view(reinterpret_cast<char *>(reply), 4));
    EXPECT_EQ(logMessages("readData"), (std::vector<std::string>{"START", "Complete to read the data.", "read data : ",
                                                                  "41, A ", "42, B ", "43, C ", "44, D "}));
}

TEST_F(Transport, ReadReturnsAtMost512BytesAndWritesNoFurther) {
    connect();
    askForReply(std::string(600, 'r'));
    std::string area(600, '\xAA');
    EXPECT_EQ(readData(area.data(), 600), 512);
    EXPECT_EQ(area.substr(0, 512), std::string(512, 'r'));
    EXPECT_EQ(area.substr(512), std::string(88, '\xAA'));
}

TEST_F(Transport, NegativeOrZeroCountsReadNothing) {
    connect();
    askForReply("LQ1\r\n");
    unsigned char reply[8] = {};
    EXPECT_EQ(readData(reply, -1), 0);
    EXPECT_TRUE(sleepsTaken().empty());
    EXPECT_EQ(readData(reply, 0), 0);  // twenty empty polls
    EXPECT_EQ(sleepsTaken().size(), 21u);
    EXPECT_EQ(readData(reply, 8), 5);  // the reply was left on the connection
}

TEST_F(Transport, InitDataBufferClearsEveryByte) {
    std::fill(std::begin(gPrintData), std::end(gPrintData), 0x5A);
    gDataIndex = 1234;
    initDataBuffer();
    EXPECT_EQ(gDataIndex, 0u);
    EXPECT_TRUE(std::all_of(std::begin(gPrintData), std::end(gPrintData), [](unsigned char c) { return c == 0; }));
}

}  // namespace
}  // namespace vren::test
