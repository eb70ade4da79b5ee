// USB printer-class opener: scans the usblp device nodes and keeps the first
// printer whose IEEE 1284 device ID names an accepted manufacturer and a model
// of the model table.
#include <fcntl.h>
#include <sys/ioctl.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "VrenLabelAPI.h"
#include "deviceId.h"
#include "owned.h"

namespace {

constexpr const char *kTag = "openDeviceUSB";
constexpr int kNodeIndexes = 16;
// The names the driver's nodes may have, tried in this order for each index.
constexpr const char *kNodePatterns[] = {"/dev/usblp%d", "/dev/usb/lp%d", "/dev/usb/usblp%d"};
// The usblp device-ID request: read, type 'P', number 1, for the whole buffer.
constexpr unsigned long kGetDeviceId = _IOC(_IOC_READ, 'P', 1, vren::usb::kDeviceIdBufferSize);
static_assert(kGetDeviceId == 0x84005001);

struct Node {
    char path[32] = {};
    int fd = -1;
    int error = 0;  // of the open, when fd is -1
};

// Opens node `index` under the first name that exists: a later name is tried
// only when the earlier one does not exist (ENOENT), so a node that exists but
// is busy or not permitted is taken, unopened. False when no name exists.
bool openNode(int index, Node &node) {
    bool first = true;
    for (const char *pattern : kNodePatterns) {
        std::snprintf(node.path, sizeof node.path, pattern, index);
        if (first)
            printDebugLog(kTag, "device = %s", node.path);
        first = false;
        node.fd = open(node.path, O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC);
        node.error = node.fd < 0 ? errno : 0;
        if (node.fd >= 0 || node.error != ENOENT)
            return true;
    }
    return false;
}

// A node this user may not open: on Linux most often one who is not in the
// group that owns the printer nodes.
bool refusedForPermission(const Node &node) noexcept {
    return node.fd < 0 && (node.error == EACCES || node.error == EPERM);
}

// The device ID of an open node; empty when the node did not open or the
// request failed.
std::string_view readDeviceId(int fd, std::array<unsigned char, vren::usb::kDeviceIdBufferSize> &buffer) {
    if (fd < 0 || ioctl(fd, kGetDeviceId, buffer.data()) < 0)
        return {};
    return vren::usb::deviceIdText(buffer.data(), buffer.size());
}

// Length and characters of a value for a "%.*s" conversion.
int lengthOf(std::string_view value) noexcept {
    return static_cast<int>(value.size());
}
const char *charsOf(std::string_view value) noexcept {
    return value.empty() ? "" : value.data();
}

}  // namespace

extern "C" VREN_API int openDeviceUSB(void) {
    printDebugLog(kTag, "Start openDeviceUSB");
    bool found = false;
    bool refused = false;
    for (int index = 0; index < kNodeIndexes; ++index) {
        Node node;
        if (!openNode(index, node))
            continue;
        if (refusedForPermission(node)) {
            printDebugLog(kTag, "Cannot open %s : %s", node.path, std::strerror(node.error));
            refused = true;
            continue;
        }
        found = true;
        vren::Descriptor fd(node.fd);
        printDebugLog(kTag, "Open usb port %s", node.path);

        std::array<unsigned char, vren::usb::kDeviceIdBufferSize> buffer{};
        const vren::usb::DeviceId id = vren::usb::parseDeviceId(readDeviceId(fd.get(), buffer));
        printDebugLog(kTag, "Model : %.*s, Manufacture : %.*s", lengthOf(id.model), charsOf(id.model),
                      lengthOf(id.manufacturer), charsOf(id.manufacturer));
        if (!vren::usb::acceptedManufacturer(id.manufacturer)) {
            printDebugLog(kTag, "This printer is not the VREN printer.");
            continue;
        }
        const uint32_t model = vren::usb::matchModel(id.model);
        if (model == 0)
            continue;
        gPrinterModel = model;
        printDebugLog(kTag, "Success port open.");
        return fd.release();
    }
    // A printer may hide behind a node that could not be opened: that is
    // what the caller must hear about.
    if (refused) {
        errno = EACCES;
        return VREN_E_OPEN;
    }
    if (found)
        return VREN_E_NOT_ACCEPTED;
    errno = ENODEV;
    return VREN_E_OPEN;
}
