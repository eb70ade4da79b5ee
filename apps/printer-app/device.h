// The "vren" device URI scheme: PAPPL devices whose every byte goes through
// libVrenLabelAPI.
//
// URI forms and the library address each one stands for:
//   vren://192.168.0.50:9100            TCP, "192.168.0.50:9100" (port 9100 when left out)
//   vren:///dev/ttyS0?baud=115200       serial port, "/dev/ttyS0:115200" (baud 9600 when left out)
//   vren:/serial?baud=115200            first serial port that opens, "SERIAL:115200"
//   vren:///dev/lp0                     parallel port, "/dev/lp0"
//   vren:/parallel                      first parallel port that opens, "PARALLEL"
//   vren:/usb                           first VREN USB printer, "USB"
//   vren://bt/AA:BB:CC:DD:EE:FF         Bluetooth serial-port profile, "AA:BB:CC:DD:EE:FF"
//
// Opening a PAPPL device connects nothing: the connection (and with it the
// library lock) is taken on first use and given back by close(), or earlier
// by the driver between jobs and while it waits for a printer. PAPPL opens a
// job's device while it holds that printer's own lock, so a device open that
// waited for another printer's job, or for a printer that does not answer,
// would stall every client request to the printer meanwhile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pappl/pappl.h>

namespace vrenapp {

// The ConnectToPrinter() address of a vren: URI; nothing when `uri` is not
// one of the forms above.
std::optional<std::string> addressForUri(std::string_view uri);

// The library connection of one PAPPL device.
class Connection {
public:
    explicit Connection(std::string address) : address_(std::move(address)) {}
    ~Connection() { close(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Connects unless connected, waiting while another printer holds the
    // library. Returns 0 or the library's (negative) result.
    int open();
    // Like open(), but gives up at once, returning nothing, while another
    // printer holds the library.
    std::optional<int> tryOpen();
    // Disconnects and gives the library back; nothing when not connected.
    void close();
    bool isOpen() const { return open_; }
    const std::string &address() const { return address_; }

private:
    int connectHoldingLock();

    std::string address_;
    bool open_ = false;
};

// The connection behind a device of the vren scheme.
Connection &connectionOf(pappl_device_t *device);

// Registers the scheme with PAPPL. Call once, before papplMainloop().
void addDeviceScheme();

// Network addresses that `devices` asks for the printer's model, e.g.
// "192.168.0.50:9100"; set from the option "probe" before devices are listed.
void setProbeAddresses(std::string_view commaSeparated);

}  // namespace vrenapp
