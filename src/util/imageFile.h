// Reading an image file whole into memory.
#pragma once

#include <cstddef>
#include <memory>

namespace vren {

struct FileBytes {
    std::unique_ptr<unsigned char[]> bytes;
    size_t size = 0;
};

// Reads a regular file whole. noFollow refuses a symbolic link at the last
// component of the path. Logs failures under `tag`. Returns 0,
// VREN_E_IMAGE_OPEN (missing, unreadable, not a regular file),
// VREN_E_IMAGE_FORMAT (larger than 2 GiB) or VREN_E_NOMEM.
int readImageFile(const char *path, const char *tag, bool noFollow, FileBytes &out) noexcept;

// Reads at most `capacity` bytes from the start of a regular file into
// `bytes`; `got` receives the count. Returns 0 or VREN_E_IMAGE_OPEN.
int readFileStart(const char *path, const char *tag, unsigned char *bytes, size_t capacity, size_t &got) noexcept;

// True when path names a regular file that this process can open for reading.
bool isReadableFile(const char *path) noexcept;

}  // namespace vren
