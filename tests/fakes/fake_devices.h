// Fake USB printers and a fake Bluetooth printer at the system-call and BlueZ
// boundary, for a machine that has neither.
//
// The test program that links these fakes defines open, ioctl, close,
// socket, bind and connect, and BlueZ's sdp_connect, sdp_close and
// sdp_service_search_attr_req (write and send come from the support fakes,
// which report each call to these fakes). Definitions in the executable take precedence
// over the C library's and libbluetooth's for the calls the library makes, so
// the library runs unchanged against them. Calls about anything the fakes do
// not own are passed on to the real functions.
//
// - USB: the usblp node names ("/dev/usblp<n>", "/dev/usb/lp<n>",
//   "/dev/usb/usblp<n>") exist only when a test adds them. An added node is
//   present (open gives one end of a socketpair, and LPIOC_GET_DEVICE_ID
//   answers with the node's device ID bytes), busy (EBUSY) or not permitted
//   (EACCES).
// - Bluetooth: an SDP server that is reachable or not and offers configurable
//   service records (built with BlueZ's own functions, so the real
//   sdp_get_access_protos and sdp_record_free work on them), and AF_BLUETOOTH
//   sockets that are socketpair ends whose bind and connect follow a script.
// - A descriptor that reached the printer (an open USB node marked `printer`,
//   a connected RFCOMM socket) has its other end served by the attached
//   virtual printer.
#pragma once

#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter {
class VirtualPrinter;
}

namespace vren::fake {

// Forgets every configured device and everything observed; closes the fakes'
// own ends of descriptors still open.
void reset();

// The printer that serves fake devices once they reach it (nullptr: none).
// The printer must outlive the connection.
void attachPrinter(vprinter::VirtualPrinter *printer);

// ---- USB printer-class nodes ---------------------------------------------

enum class NodeState { Present, Busy, Denied };

struct UsbNode {
    NodeState state = NodeState::Present;
    // The bytes LPIOC_GET_DEVICE_ID hands out, length prefix included (see
    // deviceId()); at most the request's size of them is copied.
    std::string deviceId;
    bool requestFails = false;  // the device-ID request fails with EIO
    bool printer = false;       // served by the attached printer once open
};

void addUsbNode(const std::string &path, UsbNode node);
// A device-ID buffer as a printer sends it: a 16-bit big-endian length that
// counts itself, then the text.
std::string deviceId(std::string_view text);
// The same with any length prefix, true or not.
std::string deviceIdClaiming(unsigned length, std::string_view text);

struct UsbOpen {
    std::string path;
    int flags;
};
// Every open of a usblp node name, in order, also of names that do not exist.
std::vector<UsbOpen> usbOpens();
// Requests of the ioctl calls on fake USB descriptors, in order.
std::vector<unsigned long> usbRequests();

// ---- Descriptors ---------------------------------------------------------

// Fake descriptors (USB nodes, RFCOMM sockets) the library holds open now.
int openDescriptors();
// Sizes of the write and send calls on fake descriptors, in order.
std::vector<size_t> writeSizes();
void clearWriteSizes();

// ---- Bluetooth -------------------------------------------------------------

struct SdpService {
    uint16_t serviceClass = SERIAL_PORT_SVCLASS_ID;
    // RFCOMM channel in the protocol list; negative: L2CAP only.
    int channel = 1;
    // False: the record carries no protocol descriptor list at all.
    bool protocols = true;
};

// sdp_connect fails (EHOSTDOWN) while the server is unreachable.
void setSdpReachable(bool reachable);
// The server answers this many sdp_connect calls and is unreachable after
// them (a printer going out of range); reset() lifts the limit.
void setSdpReachableFor(int sessions);
// What the server offers, one list per search in order; the last list
// answers every later search. Only services of the searched class, with only
// the requested attribute, are returned.
void setSdpOffers(std::vector<std::vector<SdpService>> perSearch);

struct SdpConnect {
    bdaddr_t source;
    bdaddr_t target;
    uint32_t flags;
};
struct SdpSearch {
    std::vector<uint16_t> uuids;  // 16-bit UUIDs searched
    int requestType;
    std::vector<uint16_t> attributes;
};
std::vector<SdpConnect> sdpConnects();
std::vector<SdpSearch> sdpSearches();
// Sessions opened and not closed.
int sdpSessionsOpen();

// The next `count` AF_BLUETOOTH socket() calls fail with EAFNOSUPPORT.
void failSockets(int count);
// errno of each bind call in turn (0: success); success once the list is used up.
void setBindErrors(std::vector<int> errors);
// errno of each connect call in turn (0: success); success once the list is used up.
void setConnectErrors(std::vector<int> errors);

struct RfcommCall {
    int fd;
    sockaddr_rc address;
    socklen_t length;
};
std::vector<RfcommCall> rfcommBinds();
std::vector<RfcommCall> rfcommConnects();
int rfcommSocketsCreated();
int rfcommSocketsClosed();

}  // namespace vren::fake
