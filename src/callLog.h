// The "start" and "end" records of an exported function.
#pragma once

#include "VrenLabelAPI.h"

namespace vren {

// Logs "start" under the function's name when made and "end" when it goes,
// so "end" is the call's last record. A function whose failure is recorded
// by a line of its own ("Failed to write", say) returns through fails(): that
// line then stands where "end" would be.
class CallLog {
public:
    explicit CallLog(const char *tag) noexcept : tag_(tag) { printDebugLog(tag_, "start"); }
    ~CallLog() {
        if (ends_)
            printDebugLog(tag_, "end");
    }
    CallLog(const CallLog &) = delete;
    CallLog &operator=(const CallLog &) = delete;

    // Returns `result` and leaves out "end".
    int fails(int result) noexcept {
        ends_ = false;
        return result;
    }

private:
    const char *tag_;
    bool ends_ = true;
};

}  // namespace vren
