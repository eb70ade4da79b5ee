// Internal interface of the debug log.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace vren {

// Writes the records of one call to the log with a single open/append/close.
// The file content is exactly what one printDebugLog() call per record would
// produce; each record carries its own time reading. The file is opened on the
// first record and closed when the batch ends, so every record is in the file
// once the owner returns.
class LogBatch {
public:
    explicit LogBatch(const char *tag) noexcept : tag_(tag) {}
    ~LogBatch();
    LogBatch(const LogBatch &) = delete;
    LogBatch &operator=(const LogBatch &) = delete;

    void record(const char *format, ...) noexcept __attribute__((format(printf, 2, 3)));
    // "i : %d, %02x, %c " for byte `index` of a request being written.
    void writtenByte(unsigned index, unsigned char byte) noexcept;
    // "%02x, %c " for a byte that was read.
    void readByte(unsigned char byte) noexcept;

private:
    bool open() noexcept;
    void message(const char *text, size_t length) noexcept;

    const char *tag_;
    // "  : [<tag padded to 25>] ", formatted once per batch.
    char tagField_[128];
    size_t tagFieldLength_ = 0;
    std::FILE *file_ = nullptr;
    bool failed_ = false;
};

void vlogRecord(const char *tag, const char *format, std::va_list args) noexcept;

}  // namespace vren
