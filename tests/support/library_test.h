// Fixture for tests of the library: each test runs in a fresh working
// directory (so that it has its own debug log) and starts disconnected with an
// empty command buffer.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "VrenLabelAPI.h"
#include "bytes.h"
#include "fake_sleep.h"
#include "virtual_printer.h"

namespace vren::test {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The debug log written since the last markLog() (the whole log before
    // the first), and its records' messages for one tag.
    std::string logText() const;
    void markLog();
    std::vector<std::string> logMessages(const std::string &tag) const;

    // Starts a virtual printer on a free loopback port and connects to it.
    // Returns ConnectToPrinter's result.
    int connectToVirtualPrinter(vprinter::Behaviour behaviour = {});
    std::string addressOf(uint16_t port) const;

    // Bytes the virtual printer received on the current connection after the
    // model query, once at least `count` of them arrived (or the wait timed out).
    std::string printed(size_t count = 0, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::unique_ptr<vprinter::VirtualPrinter> printer_;
    uint16_t port_ = 0;
    std::string directory_;
    size_t logMark_ = 0;
    std::string previousDirectory_;
};

}  // namespace vren::test
