// Where the BMP decoder gets its bytes: an open file (see imageFile.h) or a
// block of memory. The decoder asks for the ranges it needs, so a large file
// is never held in memory whole.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vren {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The length the source announced; reads may still come up short of it
    // (a file that shrank).
    virtual uint64_t size() const noexcept = 0;
    // Copies up to `length` bytes from `offset` into `bytes`. Returns the count
    // copied: fewer than asked only where the data ends or cannot be read.
    virtual size_t read(uint64_t offset, unsigned char *bytes, size_t length) const noexcept = 0;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const unsigned char *bytes, size_t size) noexcept : bytes_(bytes), size_(size) {}
    uint64_t size() const noexcept override { return size_; }
    size_t read(uint64_t offset, unsigned char *bytes, size_t length) const noexcept override {
        if (offset >= size_)
            return 0;
        const size_t count = std::min<uint64_t>(length, size_ - offset);
        std::memcpy(bytes, bytes_ + offset, count);
        return count;
    }

private:
    const unsigned char *bytes_;
    size_t size_;
};

}  // namespace vren
