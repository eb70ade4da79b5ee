// Internal interface of the debug log.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <memory>

namespace vren {

// Writes the records of one call to the log with a single open and close.
// The file content is exactly what one printDebugLog() call per record would
// produce; each record carries its own time reading. Records are held in
// memory and written whole, many in one write, when the holding area is full,
// at flush() and when the batch ends; the file is opened on the first record.
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
    // Writes the records held so far, so that they are in the file while the
    // caller waits or talks to the printer: a call that hangs, or a process
    // killed in it, leaves its trace.
    void flush() noexcept;

private:
    bool open() noexcept;
    void message(const char *text, size_t length) noexcept;

    const char *tag_;
    // "  : [<tag padded to 25>] ", formatted once per batch.
    char tagField_[128];
    size_t tagFieldLength_ = 0;
    int fd_ = -1;
    bool failed_ = false;
    std::unique_ptr<char[]> held_;
    size_t heldLength_ = 0;
};

void vlogRecord(const char *tag, const char *format, std::va_list args) noexcept;

}  // namespace vren
