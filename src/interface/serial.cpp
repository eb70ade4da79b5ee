// RS-232 opener: 8 data bits, no parity, one stop bit, no flow control, raw
// input and output, at one of seven speeds.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "VrenLabelAPI.h"

namespace {

speed_t lineSpeed(int baudRate) noexcept {
    switch (baudRate) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

// Every flag not named here, and the control characters, keep the values the
// port already had.
void makeRaw8N1(termios &attributes) noexcept {
    attributes.c_cflag |= CLOCAL | CREAD;
    attributes.c_cflag &= ~CSIZE;
    attributes.c_cflag |= CS8;
    attributes.c_cflag &= ~(PARENB | CSTOPB | CRTSCTS);
    attributes.c_iflag &= ~(IXON | IXOFF | IXANY);
    attributes.c_lflag &= ~(ICANON | ECHO | ECHOE | ISIG);
    attributes.c_oflag &= ~OPOST;
}

}  // namespace

extern "C" VREN_API int openDeviceSerial(const char *path, int baudRate) {
    constexpr const char *tag = "openDeviceSerial";
    printDebugLog(tag, "Start openDeviceSerial");
    printDebugLog(tag, "Serial port : %s", path);

    const int fd = path == nullptr ? -1 : open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        printDebugLog(tag, "Failed to open serial port.");
        return VREN_E_OPEN;
    }
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0) {
        printDebugLog(tag, "Failed to call tcgetattr function.");
        close(fd);
        return VREN_E_LINE_CONFIG;
    }
    const speed_t speed = lineSpeed(baudRate);
    if (cfsetispeed(&attributes, speed) != 0 || cfsetospeed(&attributes, speed) != 0) {
        printDebugLog(tag, "Failed to call cfsetispeed function. %d", errno);
        close(fd);
        return VREN_E_LINE_CONFIG;
    }
    makeRaw8N1(attributes);
    tcflush(fd, TCIFLUSH);
    if (tcsetattr(fd, TCSANOW, &attributes) != 0) {
        printDebugLog(tag, "Failed to call tcsetattr function.");
        close(fd);
        return VREN_E_SERIAL_ATTR;
    }
    printDebugLog(tag, "Success port open.");
    return fd;
}
