// Image files are opened without following surprises: only regular files are
// read, so a path naming a FIFO or a device cannot block or feed endless data.
#include "imageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "VrenLabelAPI.h"

namespace vren {
namespace {

// The largest file a loader accepts: the size of the file is a 32-bit int.
constexpr uint64_t kMaxFileSize = INT32_MAX;

int openRegular(const char *path, bool noFollow, struct stat &info) noexcept {
    if (path == nullptr)
        return -1;
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0)
        return -1;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads up to `length` bytes from `offset`, retrying interrupted reads.
// Fewer only where the file ends or cannot be read.
size_t readAt(int fd, uint64_t offset, unsigned char *bytes, size_t length) noexcept {
    size_t got = 0;
    while (got < length) {
        const ssize_t n = pread(fd, bytes + got, length - got, static_cast<off_t>(offset + got));
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    return got;
}

}  // namespace

size_t FileSource::read(uint64_t offset, unsigned char *bytes, size_t length) const noexcept {
    if (offset >= size_)
        return 0;
    return readAt(fd_.get(), offset, bytes, static_cast<size_t>(std::min<uint64_t>(length, size_ - offset)));
}

int openImageFile(const char *path, const char *tag, bool noFollow, FileSource &out) noexcept {
    struct stat info {};
    Descriptor file(openRegular(path, noFollow, info));
    if (file.get() < 0) {
        printDebugLog(tag, "Failed to open image file.");
        return VREN_E_IMAGE_OPEN;
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxFileSize) {
        printDebugLog(tag, "Image file is too large.");
        return VREN_E_IMAGE_FORMAT;
    }
    out.fd_ = std::move(file);
    out.size_ = static_cast<uint64_t>(info.st_size);
    return VREN_OK;
}

int readFileStart(const char *path, const char *tag, unsigned char *bytes, size_t capacity, size_t &got) noexcept {
    struct stat info {};
    Descriptor file(openRegular(path, false, info));
    if (file.get() < 0) {
        printDebugLog(tag, "Failed to open image file.");
        return VREN_E_IMAGE_OPEN;
    }
    got = readAt(file.get(), 0, bytes, capacity);
    return VREN_OK;
}

bool isReadableFile(const char *path) noexcept {
    struct stat info {};
    Descriptor file(openRegular(path, false, info));
    return file.get() >= 0;
}

}  // namespace vren
