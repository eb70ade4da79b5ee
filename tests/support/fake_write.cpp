#include "fake_write.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vren::test {
namespace {

std::atomic<size_t> gLength{0};
std::atomic<size_t> gAccepted{0};
std::atomic<WriteObserver> gObserver{nullptr};
std::atomic<bool> gBreakAfter{false};
std::atomic<int> gBroken{-1};
std::atomic<FileWriteObserver> gFileObserver{nullptr};

bool isRegularFile(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

// The length to pass on for a call of `length` bytes on `fd`; disarms the
// script, and tells the observer.
size_t scripted(int fd, size_t length) {
    size_t expected = length;
    if (length != 0 && gLength.compare_exchange_strong(expected, 0)) {
        length = gAccepted.load();
        if (gBreakAfter.exchange(false))
            gBroken = fd;
    }
    if (const WriteObserver observer = gObserver.load())
        observer(fd, length);
    return length;
}

namespace {

template <typename Function>
Function next(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void setWriteObserver(WriteObserver observer) {
    gObserver = observer;
}

void setFileWriteObserver(FileWriteObserver observer) {
    gFileObserver = observer;
}

// True for a write to a regular file, which goes on unscripted.
bool toFile(int fd, const void *bytes, size_t length) {
    if (!isRegularFile(fd))
        return false;
    if (const FileWriteObserver observer = gFileObserver.load())
        observer(fd, bytes, length);
    return true;
}

void shortenNextWrite(size_t length, size_t accepted) {
    gAccepted = accepted;
    gLength = length;
}

void breakAfterNextWrite(size_t length, size_t accepted) {
    gBreakAfter = true;
    shortenNextWrite(length, accepted);
}

void restoreWrites() {
    gBreakAfter = false;
    gBroken = -1;
}

// True when writes on `fd` fail, as on a broken connection.
bool broken(int fd) {
    if (fd < 0 || fd != gBroken.load())
        return false;
    errno = EPIPE;
    return true;
}

}  // namespace vren::test

extern "C" ssize_t write(int fd, const void *bytes, size_t length) {
    static const auto real = vren::test::next<ssize_t (*)(int, const void *, size_t)>("write");
    if (vren::test::toFile(fd, bytes, length))
        return real(fd, bytes, length);
    if (vren::test::broken(fd))
        return -1;
    return real(fd, bytes, vren::test::scripted(fd, length));
}

extern "C" ssize_t send(int fd, const void *bytes, size_t length, int flags) {
    static const auto real = vren::test::next<ssize_t (*)(int, const void *, size_t, int)>("send");
    if (vren::test::broken(fd))
        return -1;
    return real(fd, bytes, vren::test::scripted(fd, length), flags);
}
