// Table-driven checks of command functions: one row per call, the exact bytes
// it appends to the command buffer (or writes to the printer) and its result.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "library_test.h"
#include "test_io.h"

namespace vren::test {

struct CommandRow {
    std::function<int()> call;
    std::string bytes;
    int result = VREN_OK;
};

// Equal bytes; for long strings a failure shows the sizes and the first
// difference instead of every byte.
inline ::testing::AssertionResult sameLongBytes(std::string_view expected, std::string_view actual) {
    if (expected == actual)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    return ::testing::AssertionFailure() << "sizes " << expected.size() << " expected, " << actual.size()
                                         << " actual; first difference at " << at << ": expected "
                                         << hex(expected.substr(at, 16)) << ", actual " << hex(actual.substr(at, 16));
}

#define EXPECT_LONG_BYTES(expected, actual) EXPECT_TRUE(::vren::test::sameLongBytes((expected), (actual)))

// A command already waiting in the buffer: every row must append behind it.
inline constexpr char kPending[] = "PENDING\r";

// Runs each row on a buffer holding kPending and checks the result, the bytes
// appended and the growth of gDataIndex. Rows are numbered from 1.
inline void expectAppended(const std::vector<CommandRow> &rows) {
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        initDataBuffer();
        std::memcpy(gPrintData, kPending, sizeof kPending - 1);
        gDataIndex = sizeof kPending - 1;
        EXPECT_EQ(rows[i].call(), rows[i].result);
        EXPECT_EQ(gDataIndex, sizeof kPending - 1 + rows[i].bytes.size());
        EXPECT_BYTES(std::string(kPending) + rows[i].bytes, pendingBytes());
    }
}

// The fixture for composition commands that carry data.
class ComposeTest : public LibraryTest {
protected:
    // Each call passes null data: it must fail with VREN_E_WRITE, append
    // nothing, and log "start", "data is null", "end" under its own name.
    void expectNullDataRefused(const std::vector<std::pair<const char *, std::function<int()>>> &calls) {
        for (const auto &[name, call] : calls) {
            SCOPED_TRACE(name);
            EXPECT_EQ(call(), VREN_E_WRITE);
            EXPECT_EQ(gDataIndex, 0u);
            const std::vector<std::string> expected = {"start", "data is null", "end"};
            EXPECT_EQ(logMessages(name), expected);
        }
    }
};

// The fixture for commands written to the printer at once.
class WireTest : public LibraryTest {
protected:
    // Runs each row connected to the virtual printer and checks the result and
    // the bytes the printer received for it; the command buffer, holding
    // kPending, must be left alone.
    void expectWritten(const std::vector<CommandRow> &rows) {
        ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
        std::memcpy(gPrintData, kPending, sizeof kPending - 1);
        gDataIndex = sizeof kPending - 1;
        size_t total = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE("row " + std::to_string(i + 1));
            EXPECT_EQ(rows[i].call(), rows[i].result);
            const std::string received = printed(total + rows[i].bytes.size());
            EXPECT_BYTES(rows[i].bytes, received.substr(std::min(total, received.size())));
            total = received.size();
            EXPECT_BYTES(kPending, pendingBytes());
        }
    }

    // Connects to a printer that hangs up after the model query, and makes
    // sure the connection is dead: the first write after the hang-up still
    // reaches the socket, the peer answers it with a reset, and every write
    // after that fails.
    // Each call must fail with VREN_E_WRITE, its last log line under its own
    // name being "Failed to write".
    void expectFailedWrites(const std::vector<std::pair<const char *, std::function<int()>>> &calls) {
        for (const auto &[name, call] : calls) {
            SCOPED_TRACE(name);
            EXPECT_EQ(call(), VREN_E_WRITE);
            const std::vector<std::string> messages = logMessages(name);
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ(messages.back(), "Failed to write");
        }
    }

    void connectToHungUpPrinter() {
        vprinter::Behaviour behaviour;
        behaviour.closeAfter = 6;
        ASSERT_EQ(connectToVirtualPrinter(behaviour), VREN_OK);
        ASSERT_TRUE(printer_->waitForClosed(0, std::chrono::seconds(10)));
        // Probes until a write fails, which is once the reset has arrived.
        const char probe = '\r';
        ASSERT_TRUE(waitFor([&] { return DirectIO(&probe, 1, nullptr, nullptr) != VREN_OK; }))
            << "the connection stays usable";
    }
};

}  // namespace vren::test

namespace vren::test {

// Fill level that a command of a few bytes lifts over the flush threshold.
inline constexpr size_t kNearlyFull = VREN_FLUSH_THRESHOLD - 4;

// Runs each row, not connected, on a buffer holding kNearlyFull bytes: the
// command is appended, the buffer check's send fails, and the row's result
// must be VREN_E_WRITE with the buffer kept whole, the new command included.
inline void expectKeptAfterFailedSend(const std::vector<CommandRow> &rows) {
    const std::string pending(kNearlyFull, 'p');
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        initDataBuffer();
        std::memcpy(gPrintData, pending.data(), pending.size());
        gDataIndex = static_cast<uint32_t>(pending.size());
        EXPECT_EQ(rows[i].call(), VREN_E_WRITE);
        EXPECT_EQ(gDataIndex, pending.size() + rows[i].bytes.size());
        EXPECT_LONG_BYTES(pending + rows[i].bytes, pendingBytes());
    }
}

}  // namespace vren::test
