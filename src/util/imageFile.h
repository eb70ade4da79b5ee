// Opening image files for the decoder, and the probes that read only their start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "byteSource.h"
#include "owned.h"

namespace vren {

// An open regular file, read in place with pread; its size is the one fstat
// gave at open. Owns the descriptor.
class FileSource final : public ByteSource {
public:
    FileSource() = default;
    ~FileSource() override = default;
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    uint64_t size() const noexcept override { return size_; }
    size_t read(uint64_t offset, unsigned char *bytes, size_t length) const noexcept override;

private:
    friend int openImageFile(const char *path, const char *tag, bool noFollow, FileSource &out) noexcept;
    Descriptor fd_;
    uint64_t size_ = 0;
};

// Opens a regular file for decoding. noFollow refuses a symbolic link at the
// last component of the path. Logs failures under `tag`. Returns 0,
// VREN_E_IMAGE_OPEN (missing, unreadable, not a regular file) or
// VREN_E_IMAGE_FORMAT (larger than 2 GiB).
int openImageFile(const char *path, const char *tag, bool noFollow, FileSource &out) noexcept;

// Reads at most `capacity` bytes from the start of a regular file into
// `bytes`; `got` receives the count. Returns 0 or VREN_E_IMAGE_OPEN.
int readFileStart(const char *path, const char *tag, unsigned char *bytes, size_t capacity, size_t &got) noexcept;

// True when path names a regular file that this process can open for reading.
bool isReadableFile(const char *path) noexcept;

}  // namespace vren
