// Transport I/O and the command buffer: paced, chunked writes with bounded
// retries, polled reads, and the buffer in which composed commands wait.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>

#include "VrenLabelAPI.h"
#include "connection.h"
#include "debugLog.h"

extern "C" {
VREN_API unsigned char gPrintData[VREN_PRINT_DATA_SIZE];
VREN_API uint32_t gDataIndex;
}

namespace vren {
int gFD = kNoDescriptor;
int gInterfaceType = VREN_IF_USB;
}  // namespace vren

using vren::gFD;
using vren::gInterfaceType;

namespace {

struct Pacing {
    uint32_t chunk;  // 0: the whole request as one chunk
    unsigned pause;  // µs before every write call and after every complete chunk
};

Pacing pacingFor(int kind) noexcept {
    switch (kind) {
    case VREN_IF_USB: return {4096, 10000};
    case VREN_IF_SERIAL: return {512, 30000};
    case VREN_IF_PARALLEL: return {1024, 0};
    case VREN_IF_NETWORK: return {0, 10000};
    case VREN_IF_BLUETOOTH: return {512, 30000};
    default: return {4096, 10000};
    }
}

constexpr unsigned kEntryPause = 10000;
constexpr int kMaxAttempts = 200;
constexpr int kFailureAllowance = 5;
constexpr unsigned kFailurePause = 200000;

constexpr int kReceiveArea = 512;
constexpr unsigned kReadEntryPause = 100000;
constexpr int kMaxPolls = 20;
constexpr unsigned kPollPause = 30000;

bool isSocketKind(int kind) noexcept {
    return kind == VREN_IF_NETWORK || kind == VREN_IF_BLUETOOTH;
}

// A peer that closed a socket must not kill the application with SIGPIPE:
// sockets are written with MSG_NOSIGNAL, everything else with write().
ssize_t writeChunk(int fd, int kind, const unsigned char *bytes, size_t size) noexcept {
    if (isSocketKind(kind)) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent >= 0 || errno != ENOTSOCK)
            return sent;
    }
    return write(fd, bytes, size);
}

bool wouldBlock(int error) noexcept {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Waits until the socket can take bytes again, for at most `microseconds`.
void waitWritable(int fd, unsigned microseconds) noexcept {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::microseconds(microseconds);
    pollfd writable{fd, POLLOUT, 0};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || poll(&writable, 1, static_cast<int>(left)) >= 0 || errno != EINTR)
            return;
    }
}

}  // namespace

namespace vren {

void pause(unsigned microseconds) noexcept {
    if (microseconds == 0)
        return;
    // A signal cuts a sleep short: sleep on for the time that is left.
    timespec left{static_cast<time_t>(microseconds / 1000000), static_cast<long>(microseconds % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
    }
}

bool writeAll(const void *data, size_t size) noexcept {
    const Pacing pacing = pacingFor(gInterfaceType);
    // What one call can carry: 200 chunks, or over the network one chunk of
    // any length whose count still fits the int result.
    const size_t perCall =
        pacing.chunk == 0 ? static_cast<size_t>(INT_MAX) : static_cast<size_t>(pacing.chunk) * kMaxAttempts;
    const auto *bytes = static_cast<const unsigned char *>(data);
    // A request that one call can carry is judged by that call, like every
    // command the library writes.
    if (size <= perCall)
        return writeData(bytes, static_cast<uint32_t>(size)) == static_cast<int>(size);
    // A longer one takes as many calls as it needs. A call may end short of
    // its piece when failed attempts used up some of its 200; the bytes it
    // counts went out exactly once, so the next call goes on from there. Only
    // the transport giving up ends the request early.
    while (size > 0) {
        const size_t piece = size < perCall ? size : perCall;
        const int written = writeData(bytes, static_cast<uint32_t>(piece));
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace vren

namespace vren {

Transfer transmit(const void *data, uint32_t count) noexcept {
    vren::LogBatch log("writeData");
    // Nothing to send: nothing to wait for.
    if (count == 0 || data == nullptr) {
        log.record("write data : ");
        return {0, 0};
    }
    const int fd = gFD;
    const int kind = gInterfaceType;
    vren::pause(kEntryPause);
    const Pacing pacing = pacingFor(kind);
    const auto *position = static_cast<const unsigned char *>(data);

    log.record("write data : ");
    for (uint32_t i = 0; i < count; ++i)
        log.writtenByte(i, position[i]);
    log.flush();

    uint32_t remaining = count;
    uint32_t written = 0;
    int failuresLeft = kFailureAllowance;
    for (int attempts = 0; attempts < kMaxAttempts;) {
        const uint32_t chunk = (pacing.chunk == 0 || remaining < pacing.chunk) ? remaining : pacing.chunk;
        vren::pause(pacing.pause);
        const ssize_t n = writeChunk(fd, kind, position, chunk);
        const int error = errno;
        // What the device took stays taken: the next attempt starts at the
        // first byte it did not take, so nothing is sent twice.
        if (n > 0) {
            position += n;
            remaining -= static_cast<uint32_t>(n);
            written += static_cast<uint32_t>(n);
        }
        if (n == static_cast<ssize_t>(chunk)) {
            ++attempts;
            if (remaining == 0) {
                log.record("complete to write the data.");
                return {static_cast<int>(written), written};
            }
            vren::pause(pacing.pause);
            continue;
        }
        // A printer on the network that reads more slowly than the library
        // writes takes part of a send: that is progress, not a failure. The
        // next send waits until the socket takes bytes again.
        if (kind == VREN_IF_NETWORK && n > 0) {
            waitWritable(fd, kFailurePause);
            continue;
        }
        ++attempts;
        if (failuresLeft == 0)
            return {VREN_E_WRITE_GAVE_UP, written};
        --failuresLeft;
        // A socket that took nothing is waited on until it takes bytes again,
        // at most for the pause of a failed attempt.
        if (kind == VREN_IF_NETWORK && (n == 0 || wouldBlock(error)))
            waitWritable(fd, kFailurePause);
        else
            vren::pause(kFailurePause);
        log.flush();
    }
    return {static_cast<int>(written), written};
}

}  // namespace vren

extern "C" VREN_API int writeData(const void *data, uint32_t count) {
    return vren::transmit(data, count).result;
}

namespace vren {

void discardInput(const char *tag) noexcept {
    // Bounded, for a device that never stops sending.
    constexpr int kMostReads = 128;
    unsigned char area[kReceiveArea];
    size_t dropped = 0;
    for (int reads = 0; reads < kMostReads;) {
        const ssize_t n = read(gFD, area, sizeof area);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        dropped += static_cast<size_t>(n);
        ++reads;
    }
    if (dropped != 0)
        printDebugLog(tag, "Discarded %zu bytes of earlier input.", dropped);
}

}  // namespace vren

extern "C" VREN_API int readData(void *data, int32_t count) {
    vren::LogBatch log("readData");
    if (count < 0 || data == nullptr) {
        log.record("Nothing to read into: length %d", count);
        return 0;
    }
    unsigned char area[kReceiveArea] = {};
    const int fd = gFD;
    log.record("START");
    log.flush();
    vren::pause(kReadEntryPause);

    auto *destination = static_cast<unsigned char *>(data);
    int wanted = count < kReceiveArea ? count : kReceiveArea;
    int received = 0;
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        const ssize_t n = read(fd, area, static_cast<size_t>(wanted));
        vren::pause(kPollPause);
        if (n <= 0)
            continue;
        std::memcpy(destination + received, area, static_cast<size_t>(n));
        received += static_cast<int>(n);
        wanted -= static_cast<int>(n);
        if (wanted <= 0) {
            log.record("Complete to read the data.");
            break;
        }
        if (area[n - 1] == 0) {
            log.record("The last of data is a null.");
            break;
        }
    }
    log.record("read data : ");
    for (int i = 0; i < received; ++i)
        log.readByte(destination[i]);
    return received;
}

extern "C" VREN_API void initDataBuffer(void) {
    std::memset(gPrintData, 0, sizeof gPrintData);
    gDataIndex = 0;
}


