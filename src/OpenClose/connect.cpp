// Connecting and disconnecting: the address decides the interface, an opener
// produces a descriptor, and the printer must then name a known model.
#include <arpa/inet.h>
#include <bluetooth/bluetooth.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <strings.h>

#include "VrenLabelAPI.h"
#include "connection.h"
#include "interface/ethernet.h"

extern "C" {
VREN_API unsigned char gConnectedPrinter;
VREN_API uint32_t gPrinterModel;
}

using vren::gFD;
using vren::gInterfaceType;
using vren::kNoDescriptor;

namespace {

constexpr const char *kConnectTag = "ConnectToPrinter";

bool startsWith(const char *text, const char *prefix) noexcept {
    return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

int openSerial(const char *address) {
    printDebugLog(kConnectTag, "Request a serial connection.");
    gInterfaceType = VREN_IF_SERIAL;
    const char *colon = std::strchr(address, ':');
    const int baudRate = std::atoi(colon + 1);

    // The port is opened, closed and opened again; the second open is the
    // connection.
    if (startsWith(address, "/dev/ttyS")) {
        // The device is the text before the colon, of any length; copying it
        // is the one allocation of a connect, and running out of memory there
        // is a result, not an exception through the C interface.
        const size_t length = static_cast<size_t>(colon - address);
        const std::unique_ptr<char[]> device(new (std::nothrow) char[length + 1]);
        if (!device) {
            printDebugLog(kConnectTag, "Failed to allocate memory.");
            return VREN_E_NOMEM;
        }
        std::memcpy(device.get(), address, length);
        device[length] = '\0';
        const int first = openDeviceSerial(device.get(), baudRate);
        if (first >= 0)
            close(first);
        return openDeviceSerial(device.get(), baudRate);
    }
    int result = VREN_E_OPEN;
    for (int n = 0; n < 10; ++n) {
        char path[16];
        std::snprintf(path, sizeof path, "/dev/ttyS%d", n);
        result = openDeviceSerial(path, baudRate);
        if (result < 0) {
            printDebugLog(kConnectTag, "Failed to open %s", path);
            continue;
        }
        close(result);
        return openDeviceSerial(path, baudRate);
    }
    return result;
}

int openParallel(const char *address) {
    printDebugLog(kConnectTag, "Request a parallel connection.");
    gInterfaceType = VREN_IF_PARALLEL;
    if (startsWith(address, "/dev/lp"))
        return openDeviceParallel(address);
    int result = VREN_E_OPEN;
    for (int n = 0; n < 10; ++n) {
        char path[16];
        std::snprintf(path, sizeof path, "/dev/lp%d", n);
        result = openDeviceParallel(path);
        if (result >= 0)
            return result;
        printDebugLog(kConnectTag, "Failed to open %s", path);
    }
    return result;
}

bool isBluetoothAddress(const char *address, bdaddr_t *device) noexcept {
    return std::strlen(address) >= 9 && str2ba(address, device) == 0 && address[2] == ':' && address[8] == ':';
}

int openBluetooth(const char *address, const bdaddr_t &device) {
    printDebugLog(kConnectTag, "Request a bluetooth connection.");
    printDebugLog(kConnectTag, "bluetooth port : %s", address);
    gInterfaceType = VREN_IF_BLUETOOTH;
    const int result = openDeviceBluetooth(device);
    vren::pause(100000);
    return result;
}

// Returns the opener's result, or VREN_E_ADDRESS before anything was opened.
int openNetwork(const char *address) {
    // A work copy of at most 64 characters, split at its first colon into the
    // host and the port.
    char work[65];
    const size_t length = strnlen(address, 64);
    std::memcpy(work, address, length);
    work[length] = '\0';
    printDebugLog(kConnectTag, "Request a network connection.");
    printDebugLog(kConnectTag, "address : %s", address);
    char *colon = std::strchr(work, ':');
    if (colon == nullptr) {
        printDebugLog(kConnectTag, "Invalid IP address.");
        return VREN_E_ADDRESS;
    }
    *colon = '\0';
    const char *host = work;
    const char *port = colon + 1;
    in_addr parsed{};
    if (inet_pton(AF_INET, host, &parsed) != 1) {
        printDebugLog(kConnectTag, "Invalid IP address.");
        return VREN_E_ADDRESS;
    }
    uint16_t portNumber = 0;
    if (!vren::parsePort(port, portNumber)) {
        printDebugLog(kConnectTag, "Invalid port number : %s", port);
        return VREN_E_ADDRESS;
    }
    gInterfaceType = VREN_IF_NETWORK;
    return openDeviceEthernet(host, port);
}

int openByAddress(const char *address) {
    if (startsWith(address, "USB")) {
        printDebugLog(kConnectTag, "Request a usb connection.");
        gInterfaceType = VREN_IF_USB;
        return openDeviceUSB();
    }
    if (std::strchr(address, ':') != nullptr && (startsWith(address, "SERIAL") || startsWith(address, "/dev/ttyS")))
        return openSerial(address);
    if (startsWith(address, "PARALLEL") || startsWith(address, "/dev/lp"))
        return openParallel(address);
    bdaddr_t device{};
    if (isBluetoothAddress(address, &device))
        return openBluetooth(address, device);
    return openNetwork(address);
}

struct Connection {
    int fd;
    int kind;
    uint32_t model;
    unsigned char connected;
};

Connection current() noexcept {
    return {gFD, gInterfaceType, gPrinterModel, gConnectedPrinter};
}

void restore(const Connection &c) noexcept {
    gFD = c.fd;
    gInterfaceType = c.kind;
    gPrinterModel = c.model;
    gConnectedPrinter = c.connected;
}

// The line attributes of a kept serial connection. A new attempt on the same
// device sets the line's speed and attributes, which belong to the device and
// not to the descriptor, so they are put back when that attempt fails.
class KeptLine {
public:
    explicit KeptLine(int fd) noexcept : fd_(fd), saved_(fd >= 0 && isatty(fd) && tcgetattr(fd, &line_) == 0) {}
    void restore() const noexcept {
        if (saved_)
            tcsetattr(fd_, TCSANOW, &line_);
    }

private:
    int fd_;
    termios line_{};
    bool saved_;
};

}  // namespace

extern "C" VREN_API int ConnectToPrinter(const char *address) {
    printDebugLog(kConnectTag, "\n\n\n               NEW                  \n\n\n");
    if (address == nullptr) {
        printDebugLog(kConnectTag, "Invalid IP address.");
        return VREN_E_ADDRESS;
    }
    // A failed connect leaves an open earlier connection exactly as it was.
    const Connection earlier = current();
    const bool earlierOpen = earlier.fd != kNoDescriptor;
    const KeptLine earlierLine(earlier.fd);

    const int opened = openByAddress(address);
    if (opened == VREN_E_ADDRESS)
        return opened;
    if (opened < 0) {
        printDebugLog(kConnectTag, "Failed to open device.");
        if (earlierOpen)
            restore(earlier);
        earlierLine.restore();
        return opened;
    }

    gFD = opened;
    fcntl(opened, F_SETFL, fcntl(opened, F_GETFL) | O_NONBLOCK);
    printDebugLog(kConnectTag, "Check model.");
    const int checked = openCheck();
    if (checked != 0) {
        printDebugLog(kConnectTag, "Failed openCheck. %d", checked);
        DisconnectPrinter();
        if (earlierOpen)
            restore(earlier);
        earlierLine.restore();
        return checked;
    }
    if (earlierOpen)
        vren::closeConnection(earlier.fd, earlier.kind);
    gConnectedPrinter = 1;
    initDataBuffer();
    return VREN_OK;
}

extern "C" VREN_API int DisconnectPrinter(void) {
    gConnectedPrinter = 0;
    if (gFD == kNoDescriptor)
        return -1;
    const int result = vren::closeConnection(gFD, gInterfaceType);
    gFD = kNoDescriptor;
    return result == 0 ? 0 : -1;
}
