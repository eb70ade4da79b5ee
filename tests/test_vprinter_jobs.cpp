// The virtual printer's job directory, pseudo-terminal and faults, driven
// over real descriptors.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bytes.h"
#include "job_directory.h"
#include "png_io.h"
#include "test_io.h"
#include "virtual_printer.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using vren::test::connectTo;
using vren::test::Descriptor;
using vren::test::fileText;
using vren::test::readSome;
using vren::test::sendAll;
using vren::test::waitFor;

class JobDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() /
                     ("vren-jobs-" + std::to_string(getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }
    fs::path directory_;
};

TEST_F(JobDirectoryTest, EachPrintedLabelLeavesPictureBytesAndTranscript) {
    vprinter::JobDirectory jobs(directory_.string());  // outlives the printer, whose thread calls it
    vprinter::VirtualPrinter printer;
    jobs.attach(printer);
    const uint16_t port = printer.listenTcp(0);
    Descriptor client(connectTo(port));
    ASSERT_GE(client.get(), 0);
    const std::string first = "^PI0\r\nSW200\rSL100,0,G,0\rBD0,0,10,10,O\rP1,1\r";
    const std::string second = "BD10,10,20,20,O\rP1,2\r";
    ASSERT_TRUE(sendAll(client.get(), first));
    // The model query is answered as before.
    EXPECT_EQ("LQ1\r\n", readSome(client.get(), 5, 10s));
    ASSERT_TRUE(sendAll(client.get(), second));
    ASSERT_TRUE(waitFor([&] { return jobs.labelCount() == 2; }));
    EXPECT_BYTES(first, fileText(directory_ / "label-0001.bin"));
    EXPECT_BYTES(second, fileText(directory_ / "label-0002.bin"));
    render::Canvas canvas;
    ASSERT_TRUE(render::readPng((directory_ / "label-0001.png").string(), canvas));
    EXPECT_EQ(200, canvas.width());
    EXPECT_EQ(100, canvas.height());
    EXPECT_EQ(100u, canvas.countDots());
    const std::string transcript = fileText(directory_ / "label-0002.json");
    EXPECT_NE(transcript.find(R"("copies":2)"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find(R"({"offset":0,"length":16,"command":"BD")"), std::string::npos) << transcript;
}

TEST_F(JobDirectoryTest, UnprintedCommandsAreKeptWhenTheConnectionEnds) {
    vprinter::JobDirectory jobs(directory_.string());  // outlives the printer, whose thread calls it
    vprinter::VirtualPrinter printer;
    jobs.attach(printer);
    const uint16_t port = printer.listenTcp(0);
    {
        Descriptor client(connectTo(port));
        ASSERT_TRUE(sendAll(client.get(), "BD0,0,10,10,O\r"));
        ASSERT_TRUE(printer.waitForBytes(0, 14, 10s));
    }
    ASSERT_TRUE(waitFor([&] { return fs::exists(directory_ / "unprinted-0001.json"); }));
    EXPECT_NE(fileText(directory_ / "unprinted-0001.json").find(R"("printed":false)"), std::string::npos);
}

TEST_F(JobDirectoryTest, FilesAreNumberedInPrintingOrderAcrossConnections) {
    vprinter::JobDirectory jobs(directory_.string());  // outlives the printer, whose thread calls it
    vprinter::VirtualPrinter printer;
    jobs.attach(printer);
    const uint16_t port = printer.listenTcp(0);
    Descriptor first(connectTo(port));
    Descriptor second(connectTo(port));
    // 1: the first connection's label; 2: the second's; 3: what the first
    // left unprinted when it closed; 4: the second's next label.
    ASSERT_TRUE(sendAll(first.get(), "BD0,0,1,1,O\rP1,1\rBD0,0,3,3,O\r"));
    ASSERT_TRUE(waitFor([&] { return jobs.labelCount() == 1; }));
    ASSERT_TRUE(sendAll(second.get(), "BD0,0,2,2,O\rP1,1\r"));
    ASSERT_TRUE(waitFor([&] { return jobs.labelCount() == 2; }));
    close(first.get());
    ASSERT_TRUE(waitFor([&] { return jobs.labelCount() == 3; }));
    ASSERT_TRUE(sendAll(second.get(), "BD0,0,4,4,O\rP1,1\r"));
    ASSERT_TRUE(waitFor([&] { return jobs.labelCount() == 4; }));
    const char *const names[] = {"label-0001", "label-0002", "unprinted-0003", "label-0004"};
    const char *const counts[] = {"{\"label\":1,", "{\"label\":1,", "{\"label\":2,", "{\"label\":2,"};
    for (int i = 0; i < 4; ++i) {
        render::Canvas canvas;
        ASSERT_TRUE(render::readPng((directory_ / (std::string(names[i]) + ".png")).string(), canvas)) << names[i];
        EXPECT_EQ(static_cast<size_t>((i + 1) * (i + 1)), canvas.countDots()) << names[i];
        // The transcript's label number counts the labels of its connection.
        EXPECT_NE(fileText(directory_ / (std::string(names[i]) + ".json")).find(counts[i]), std::string::npos)
            << names[i];
    }
}

TEST_F(JobDirectoryTest, CloseMidLabelFault) {
    vprinter::JobDirectory jobs(directory_.string(), true);  // outlives the printer, whose thread calls it
    vprinter::VirtualPrinter printer;
    jobs.attach(printer);
    const uint16_t port = printer.listenTcp(0);
    Descriptor client(connectTo(port));
    // Settings and queries pass; the first drawing command ends the connection.
    ASSERT_TRUE(sendAll(client.get(), "^PI0\r\nSW200\r"));
    EXPECT_EQ("LQ1\r\n", readSome(client.get(), 5, 10s));
    ASSERT_TRUE(sendAll(client.get(), "BD0,0,10,10,O\r"));
    char byte;
    pollfd p{client.get(), POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 10000));
    EXPECT_EQ(0, read(client.get(), &byte, 1));  // end of stream
    // What arrived is kept, marked as not printed. The count goes up once all
    // of the label's files are in place, so none is still being written below.
    ASSERT_TRUE(waitFor([&] { return jobs.labelCount() == 1; }));
    ASSERT_TRUE(fs::exists(directory_ / "unprinted-0001.bin"));
    EXPECT_BYTES("^PI0\r\nSW200\rBD0,0,10,10,O\r", fileText(directory_ / "unprinted-0001.bin"));
    EXPECT_FALSE(fs::exists(directory_ / "label-0001.png"));
    // Files are renamed into place whole: no temporary file is left behind.
    for (const fs::directory_entry &entry : fs::directory_iterator(directory_))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

TEST_F(JobDirectoryTest, StatusFaultsAndNoAnswer) {
    struct Row {
        int status;
        std::string answer;
    };
    const Row rows[] = {
        {0x80, "\x80"},          // 0: paper empty
        {0x40, "\x40"},          // 1: cover open
        {0x04, "\x04"},          // 2: ribbon end
        {-1, ""},                // 3: no answer
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        vprinter::Behaviour behaviour;
        behaviour.status = rows[i].status;
        vprinter::VirtualPrinter printer(behaviour);
        const uint16_t port = printer.listenTcp(0);
        Descriptor client(connectTo(port));
        ASSERT_TRUE(sendAll(client.get(), "^cu\r"));
        EXPECT_BYTES(rows[i].answer, readSome(client.get(), 1, rows[i].answer.empty() ? 300ms : 10s)) << "row " << i;
    }
}

TEST_F(JobDirectoryTest, QueriesInsideTextAreNotAnswered) {
    vprinter::VirtualPrinter printer;
    Descriptor client(connectTo(printer.listenTcp(0)));
    // Both queries inside the text's data are text; only the one after it is answered.
    ASSERT_TRUE(sendAll(client.get(), "T10,10,0,1,1,0,0,N,N,'a^cu\rb^PI0\r\nc'\r^cu\r"));
    ASSERT_TRUE(printer.waitUntilIdle(10s));
    EXPECT_BYTES(std::string(1, '\0'), readSome(client.get(), 16, 100ms));
}

TEST_F(JobDirectoryTest, SlowReaderTakesSmallPieces) {
    vprinter::Behaviour behaviour;
    behaviour.readChunk = 16;
    behaviour.readPause = 5ms;
    vprinter::VirtualPrinter printer(behaviour);
    std::vector<size_t> pieces;
    std::mutex mutex;
    printer.onBytesReceived([&](size_t, std::string_view bytes) {
        std::lock_guard lock(mutex);
        pieces.push_back(bytes.size());
        return true;
    });
    const uint16_t port = printer.listenTcp(0);
    Descriptor client(connectTo(port));
    ASSERT_TRUE(sendAll(client.get(), std::string(200, 'x')));
    // The callback runs after the bytes are recorded: wait for its total.
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        size_t total = 0;
        for (size_t size : pieces)
            total += size;
        return total == 200;
    }));
    std::lock_guard lock(mutex);
    EXPECT_GE(pieces.size(), 13u);
    for (size_t size : pieces)
        EXPECT_LE(size, 16u);
}

TEST_F(JobDirectoryTest, PseudoTerminalStandsInForASerialPrinter) {
    vprinter::JobDirectory jobs(directory_.string());  // outlives the printer, whose thread calls it
    vprinter::VirtualPrinter printer;
    jobs.attach(printer);
    std::string slave;
    try {
        slave = printer.servePseudoTerminal();
    } catch (const std::exception &error) {
        GTEST_SKIP() << "no pseudo-terminal: " << error.what();
    }
    EXPECT_TRUE(slave.starts_with("/dev/pts/")) << slave;
    Descriptor line(open(slave.c_str(), O_RDWR | O_NOCTTY));
    ASSERT_GE(line.get(), 0);
    // Bytes pass unchanged: CR is not turned into LF on the way.
    ASSERT_TRUE(sendAll(line.get(), "^PI0\r\n"));
    EXPECT_EQ("LQ1\r\n", readSome(line.get(), 5, 10s));
    ASSERT_TRUE(sendAll(line.get(), "SW100\rSL50,0,G,0\rBD0,0,10,10,O\rP1,1\r"));
    ASSERT_TRUE(waitFor([&] { return jobs.labelCount() == 1; }));
    render::Canvas canvas;
    ASSERT_TRUE(render::readPng((directory_ / "label-0001.png").string(), canvas));
    EXPECT_EQ(100u, canvas.countDots());
}

}  // namespace
