#include "library_test.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_write.h"
#include "log_records.h"

namespace vren::test {

std::string pendingBytes() {
    return std::string(reinterpret_cast<const char *>(gPrintData), gDataIndex);
}

void LibraryTest::SetUp() {
    char cwd[4096];
    previousDirectory_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    char pattern[] = "/tmp/vren-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    ASSERT_EQ(chdir(directory_.c_str()), 0);
    DisconnectPrinter();
    initDataBuffer();
    clearSleeps();
    // The library paces its writes and polls for replies with pauses, within
    // which a real printer answers; the virtual printers run on threads that a
    // loaded machine may leave waiting for longer than a pause. Each pause
    // therefore ends only once every virtual printer has caught up, so that
    // what the library reads does not depend on the scheduler.
    setPauseHook([](unsigned) { vprinter::VirtualPrinter::waitUntilAllIdle(std::chrono::seconds(10)); });
}

void LibraryTest::TearDown() {
    setPauseHook(nullptr);
    restoreWrites();
    DisconnectPrinter();
    initDataBuffer();
    printer_.reset();
    if (chdir(previousDirectory_.c_str()) != 0)
        ADD_FAILURE() << "cannot return to " << previousDirectory_;
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string LibraryTest::logText() const {
    std::ifstream in(directory_ + "/VRENLinuxSDKLog.txt", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    return logMark_ < all.size() ? all.substr(logMark_) : std::string();
}

void LibraryTest::markLog() {
    logMark_ = 0;
    logMark_ = logText().size();
}

std::vector<std::string> LibraryTest::logMessages(const std::string &tag) const {
    std::vector<std::string> messages;
    for (LogRecord &record : splitLogRecords(logText()))
        if (record.tag == tag)
            messages.push_back(std::move(record.message));
    return messages;
}

std::string LibraryTest::addressOf(uint16_t port) const {
    return "127.0.0.1:" + std::to_string(port);
}

int LibraryTest::connectToVirtualPrinter(vprinter::Behaviour behaviour) {
    printer_ = std::make_unique<vprinter::VirtualPrinter>(behaviour);
    port_ = printer_->listenTcp(0);
    return ConnectToPrinter(addressOf(port_).c_str());
}

std::string LibraryTest::printed(size_t count, std::chrono::milliseconds timeout) {
    if (!printer_ || printer_->connectionCount() == 0)
        return {};
    const size_t index = printer_->connectionCount() - 1;
    constexpr size_t kQuery = 6;
    printer_->waitForBytes(index, kQuery + count, timeout);
    const std::string bytes = printer_->received(index);
    return bytes.size() >= kQuery ? bytes.substr(kQuery) : std::string();
}

}  // namespace vren::test
