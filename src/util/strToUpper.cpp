// A small string utility kept for applications.
#include <cstring>

#include "VrenLabelAPI.h"

extern "C" VREN_API void strToUpper(const char *source, char *destination, int32_t count) {
    if (source == nullptr || destination == nullptr)
        return;
    const size_t length = std::strlen(source);
    const size_t copied = count < 0 || static_cast<size_t>(count) > length ? length : static_cast<size_t>(count);
    for (size_t i = 0; i < copied; ++i) {
        const char c = source[i];
        destination[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
}
