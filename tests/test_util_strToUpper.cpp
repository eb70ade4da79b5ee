// strToUpper: bounded copy with 'a'..'z' turned into capitals, no terminator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VrenLabelAPI.h"

namespace {

TEST(StrToUpper, CopiesAtMostTheCountAndNeverPastTheEnd) {
    struct Row {
        std::string source;
        int32_t count;
        std::string destination;  // after copying into "########"
    };
    const std::vector<Row> rows = {
        /* 0 */ {"abc", 3, "ABC#####"},
        /* 1 */ {"abcdef", 2, "AB######"},
        /* 2 */ {"abc", 7, "ABC#####"},     // never past the string's end
        /* 3 */ {"aZ{`z0\xE4", -1, "AZ{`Z0\xE4#"},  // negative: all; only a..z change
        /* 4 */ {"abc", 0, "########"},
        /* 5 */ {"", 5, "########"},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string destination = "########";
        strToUpper(rows[i].source.c_str(), destination.data(), rows[i].count);
        EXPECT_EQ(destination, rows[i].destination) << "row " << i;
    }
    strToUpper(nullptr, nullptr, 3);  // nothing to do, nothing to crash
}

}  // namespace
