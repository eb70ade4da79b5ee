// Helpers for comparing exact bytes in tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace vren::test {

inline std::string hex(std::string_view bytes) {
    std::string out;
    char cell[4];
    for (unsigned char c : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", c);
        out += cell;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

// Equal bytes, or a failure that shows both sides in hex.
inline ::testing::AssertionResult sameBytes(std::string_view expected, std::string_view actual) {
    if (expected == actual)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\n  expected (" << expected.size() << "): " << hex(expected)
                                         << "\n  actual   (" << actual.size() << "): " << hex(actual);
}

// The command buffer's pending bytes.
std::string pendingBytes();

}  // namespace vren::test

#define EXPECT_BYTES(expected, actual) EXPECT_TRUE(::vren::test::sameBytes((expected), (actual)))
