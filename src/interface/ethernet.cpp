// TCP over IPv4 opener.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "VrenLabelAPI.h"
#include "interface/ethernet.h"

namespace vren {

bool parsePort(const char *text, uint16_t &port) noexcept {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || value < 1 || value > UINT16_MAX)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

namespace {

// Connects the blocking socket. A signal that interrupts the connect does not
// end it: it goes on in the background, and its outcome is waited for.
bool connectTo(int fd, const sockaddr_in &address) noexcept {
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return true;
    if (errno != EINTR)
        return false;
    pollfd done{fd, POLLOUT, 0};
    while (poll(&done, 1, -1) < 0) {
        if (errno != EINTR)
            return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

}  // namespace vren

extern "C" VREN_API int openDeviceEthernet(const char *host, const char *port) {
    constexpr const char *tag = "openDeviceEthernet";
    printDebugLog(tag, "Start");
    printDebugLog(tag, "addr : %s, port : %s", host, port);
    if (host == nullptr || port == nullptr) {
        printDebugLog(tag, "Invalid IP address.");
        return VREN_E_ADDRESS;
    }

    uint16_t portNumber = 0;
    if (!vren::parsePort(port, portNumber)) {
        printDebugLog(tag, "Invalid port number : %s", port);
        return VREN_E_ADDRESS;
    }

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        printDebugLog(tag, "Failed to create socket.");
        return VREN_E_SOCKET;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(portNumber);
    address.sin_addr.s_addr = inet_addr(host);

    const int reuse = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) {
        printDebugLog(tag, "Failed setsockopt().");
        close(fd);
        return VREN_E_LINE_CONFIG;
    }
    // Blocking connect: it waits as long as the system's connect time-out.
    if (!vren::connectTo(fd, address)) {
        printDebugLog(tag, "Failed to connect().");
        close(fd);
        return VREN_E_LINE_CONFIG;
    }
    printDebugLog(tag, "Success port open.");
    return fd;
}
