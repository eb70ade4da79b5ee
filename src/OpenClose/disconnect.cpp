// Closing the connection's descriptor without losing what was sent.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <linux/sockios.h>

#include <cerrno>
#include <chrono>

#include "VrenLabelAPI.h"
#include "connection.h"

namespace vren {
namespace {

using Clock = std::chrono::steady_clock;

// How long the printer may neither send nor take anything before the drain
// gives up, and how often it looks.
constexpr auto kStall = std::chrono::seconds(2);
constexpr int kLookEveryMs = 10;

// Bytes sent and not yet acknowledged by the printer (the end of the stream
// included once it was sent), or -1 when the system cannot tell.
int unacknowledged(int fd) noexcept {
    int count = 0;
    return ioctl(fd, SIOCOUTQ, &count) == 0 ? count : -1;
}

// Reads and drops what the printer sent. False once it closed its side, or
// the connection failed.
bool dropReceived(int fd, bool &progress) noexcept {
    char area[512];
    for (;;) {
        const ssize_t n = recv(fd, area, sizeof area, MSG_DONTWAIT);
        if (n > 0) {
            progress = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// Linux resets a TCP connection that is closed while bytes the printer sent
// are unread (a late status answer, for one), and drops what it still had to
// send: the end of a job reported as sent would never arrive. So the library
// stops sending, reads what comes in, and closes once the printer has taken
// everything (or closed its side), or when it stopped taking and sending
// anything for a while.
void drain(int fd) noexcept {
    if (shutdown(fd, SHUT_WR) != 0)
        return;
    int waiting = unacknowledged(fd);
    Clock::time_point lastProgress = Clock::now();
    for (;;) {
        bool progress = false;
        if (!dropReceived(fd, progress))
            return;
        const int now = unacknowledged(fd);
        if (now <= 0)
            return;
        if (now < waiting)
            progress = true;
        waiting = now;
        if (progress)
            lastProgress = Clock::now();
        else if (Clock::now() - lastProgress >= kStall)
            return;
        pollfd readable{fd, POLLIN, 0};
        poll(&readable, 1, kLookEveryMs);
    }
}

}  // namespace

int closeConnection(int fd, int kind) noexcept {
    if (kind == VREN_IF_NETWORK)
        drain(fd);
    return close(fd);
}

}  // namespace vren
