// The "vren" device scheme: URI parsing, the connection of a device, PAPPL's
// device callbacks, and the device list.
#include "device.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "VrenLabelAPI.h"
#include "library_lock.h"
#include "status.h"

namespace vrenapp {

namespace {

constexpr std::string_view kPrefix = "vren:";

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The value of "baud=N" in a query, "9600" when there is no query; nothing
// when the query is anything else.
std::optional<std::string> baudOf(std::string_view query) {
    if (query.empty())
        return "9600";
    if (!query.starts_with("baud=") || !allDigits(query.substr(5)))
        return std::nullopt;
    return std::string(query.substr(5));
}

bool isDottedIPv4(std::string_view host) {
    int parts = 0;
    size_t start = 0;
    while (start <= host.size()) {
        const size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view part = host.substr(start, dot - start);
        if (!allDigits(part) || part.size() > 3 || std::stoi(std::string(part)) > 255)
            return false;
        ++parts;
        start = dot + 1;
    }
    return parts == 4;
}

bool isBluetoothAddress(std::string_view text) {
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool colon = i % 3 == 2;
        if (colon ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

// "//HOST[:PORT][/]" or "//bt/ADDRESS".
std::optional<std::string> addressOfAuthority(std::string_view rest) {
    rest.remove_prefix(2);
    if (rest.starts_with("bt/")) {
        const std::string_view device = rest.substr(3);
        return isBluetoothAddress(device) ? std::optional<std::string>(device) : std::nullopt;
    }
    if (rest.ends_with('/'))
        rest.remove_suffix(1);
    const size_t colon = rest.find(':');
    const std::string_view host = rest.substr(0, colon);
    const std::string_view port = colon == std::string_view::npos ? "9100" : rest.substr(colon + 1);
    if (!isDottedIPv4(host) || !allDigits(port) || port.size() > 5 || std::stoi(std::string(port)) > 65535)
        return std::nullopt;
    return std::string(host) + ":" + std::string(port);
}

}  // namespace

std::optional<std::string> addressForUri(std::string_view uri) {
    if (!uri.starts_with(kPrefix))
        return std::nullopt;
    std::string_view rest = uri.substr(kPrefix.size());
    std::string_view query;
    if (const size_t mark = rest.find('?'); mark != std::string_view::npos) {
        query = rest.substr(mark + 1);
        rest = rest.substr(0, mark);
    }
    if (rest.starts_with("///dev/"))
        rest.remove_prefix(2);
    else if (rest.starts_with("//"))
        return query.empty() ? addressOfAuthority(rest) : std::nullopt;

    if (rest == "/usb" && query.empty())
        return "USB";
    if (rest == "/parallel" && query.empty())
        return "PARALLEL";
    if (rest == "/serial") {
        const auto baud = baudOf(query);
        return baud ? std::optional<std::string>("SERIAL:" + *baud) : std::nullopt;
    }
    if (rest.starts_with("/dev/ttyS") && allDigits(rest.substr(9))) {
        const auto baud = baudOf(query);
        return baud ? std::optional<std::string>(std::string(rest) + ":" + *baud) : std::nullopt;
    }
    if (rest.starts_with("/dev/lp") && allDigits(rest.substr(7)) && query.empty())
        return std::string(rest);
    return std::nullopt;
}

int Connection::open() {
    if (open_)
        return VREN_OK;
    libraryLock().acquire();
    return connectHoldingLock();
}

std::optional<int> Connection::tryOpen() {
    if (open_)
        return VREN_OK;
    if (!libraryLock().try_acquire())
        return std::nullopt;
    return connectHoldingLock();
}

int Connection::connectHoldingLock() {
    const int result = ConnectToPrinter(address_.c_str());
    if (result != VREN_OK) {
        libraryLock().release();
        return result;
    }
    open_ = true;
    return VREN_OK;
}

void Connection::close() {
    if (!open_)
        return;
    DisconnectPrinter();
    open_ = false;
    libraryLock().release();
}

Connection &connectionOf(pappl_device_t *device) {
    return *static_cast<Connection *>(papplDeviceGetData(device));
}

namespace {

// ---- PAPPL device callbacks -------------------------------------------------

bool openDevice(pappl_device_t *device, const char *uri, const char * /*name*/) {
    const auto address = addressForUri(uri);
    if (!address) {
        papplDeviceError(device, "Not a vren device URI: '%s'.", uri);
        return false;
    }
    papplDeviceSetData(device, new Connection(*address));
    return true;
}

void closeDevice(pappl_device_t *device) {
    delete &connectionOf(device);
}

bool ensureOpen(pappl_device_t *device) {
    Connection &connection = connectionOf(device);
    if (const int result = connection.open(); result != VREN_OK) {
        papplDeviceError(device, "Unable to connect to '%s': library result %d.", connection.address().c_str(), result);
        return false;
    }
    return true;
}

ssize_t writeDevice(pappl_device_t *device, const void *buffer, size_t bytes) {
    if (!ensureOpen(device))
        return -1;
    // DirectIO takes an int length; longer output goes in several calls.
    const auto *position = static_cast<const unsigned char *>(buffer);
    size_t left = bytes;
    while (left > 0) {
        const int piece = static_cast<int>(std::min<size_t>(left, INT_MAX));
        if (DirectIO(position, piece, nullptr, nullptr) != VREN_OK)
            return -1;
        position += piece;
        left -= static_cast<size_t>(piece);
    }
    return static_cast<ssize_t>(bytes);
}

ssize_t readDevice(pappl_device_t *device, void *buffer, size_t bytes) {
    if (!ensureOpen(device))
        return -1;
    int length = static_cast<int>(std::min<size_t>(bytes, 512));
    if (length == 0)
        return 0;
    return DirectIO(nullptr, 0, buffer, &length) == VREN_OK ? length : 0;
}

pappl_preason_t deviceStatus(pappl_device_t *device) {
    if (!ensureOpen(device))
        return PAPPL_PREASON_OFFLINE;
    return reasonsForStatus(CheckPrinterStatus());
}

char *deviceId(pappl_device_t *device, char *buffer, size_t size) {
    if (!ensureOpen(device) || gPrinterModel == 0)
        return nullptr;
    std::snprintf(buffer, size, "MFG:%s;MDL:%s;CMD:VREN;", KORVEL_DEVICE[0], KORVEL_DEVICE[gPrinterModel]);
    return buffer;
}

// ---- The device list --------------------------------------------------------

std::mutex gProbeMutex;
std::vector<std::string> gProbeAddresses;

std::string readFirstLine(const std::string &path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Value of KEY in an IEEE 1284 device ID ("MFG:VREN;MDL:LQ1;"), or "".
std::string idValue(const std::string &id, const char *key) {
    const std::string wanted = std::string(key) + ":";
    size_t at = 0;
    while (at < id.size()) {
        const size_t end = std::min(id.find(';', at), id.size());
        if (id.compare(at, wanted.size(), wanted) == 0)
            return id.substr(at + wanted.size(), end - at - wanted.size());
        at = end + 1;
    }
    return {};
}

// USB printers as the kernel's printer class driver describes them in sysfs:
// the node's IEEE 1284 device ID was read by the kernel when the printer was
// attached, so nothing is said to the printer here. The library connects to
// the first VREN printer it accepts, so that one is listed.
bool listUsb(pappl_device_cb_t callback, void *data) {
    std::vector<std::string> nodes;
    if (DIR *dir = opendir("/sys/class/usbmisc")) {
        while (const dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.starts_with("lp") || name.starts_with("usblp"))
                nodes.push_back(name);
        }
        closedir(dir);
    }
    std::sort(nodes.begin(), nodes.end());
    for (const std::string &node : nodes) {
        const std::string id = readFirstLine("/sys/class/usbmisc/" + node + "/device/ieee1284_id");
        std::string make = idValue(id, "MFG");
        if (make.empty())
            make = idValue(id, "MANUFACTURER");
        std::string model = idValue(id, "MDL");
        if (model.empty())
            model = idValue(id, "MODEL");
        if (!make.starts_with("VREN") && !make.starts_with("TREMON"))
            continue;
        const std::string info = make + " " + model + " (USB " + node + ")";
        return callback(info.c_str(), "vren:/usb", id.c_str(), data);
    }
    return false;
}

bool nodeOpens(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Serial and parallel nodes that open. Opening one says nothing to a
// printer; its line settings are left as they are.
bool listPorts(pappl_device_cb_t callback, void *data) {
    for (int n = 0; n < 10; ++n) {
        const std::string serial = "/dev/ttyS" + std::to_string(n);
        if (nodeOpens(serial) &&
            callback(("Serial port " + serial).c_str(), ("vren://" + serial + "?baud=9600").c_str(), "", data))
            return true;
    }
    for (int n = 0; n < 10; ++n) {
        const std::string parallel = "/dev/lp" + std::to_string(n);
        if (nodeOpens(parallel) &&
            callback(("Parallel port " + parallel).c_str(), ("vren://" + parallel).c_str(), "", data))
            return true;
    }
    return false;
}

// Network printers at the addresses asked for, when they name a model.
bool listNetwork(pappl_device_cb_t callback, void *data, pappl_deverror_cb_t errorCallback, void *errorData) {
    std::vector<std::string> addresses;
    {
        std::lock_guard lock(gProbeMutex);
        addresses = gProbeAddresses;
    }
    for (const std::string &address : addresses) {
        Connection connection(address);
        if (const int result = connection.open(); result != VREN_OK) {
            const std::string message = address + ": no printer answered (library result " + std::to_string(result) + ")";
            if (errorCallback)
                errorCallback(message.c_str(), errorData);
            continue;
        }
        const std::string model = KORVEL_DEVICE[gPrinterModel];
        connection.close();
        const std::string info = std::string(KORVEL_DEVICE[0]) + " " + model + " (" + address + ")";
        const std::string id = std::string("MFG:") + KORVEL_DEVICE[0] + ";MDL:" + model + ";CMD:VREN;";
        if (callback(info.c_str(), ("vren://" + address).c_str(), id.c_str(), data))
            return true;
    }
    return false;
}

bool listDevices(pappl_device_cb_t callback, void *data, pappl_deverror_cb_t errorCallback, void *errorData) {
    return listUsb(callback, data) || listPorts(callback, data) ||
           listNetwork(callback, data, errorCallback, errorData);
}

}  // namespace

void setProbeAddresses(std::string_view commaSeparated) {
    std::lock_guard lock(gProbeMutex);
    gProbeAddresses.clear();
    while (!commaSeparated.empty()) {
        const size_t comma = std::min(commaSeparated.find(','), commaSeparated.size());
        if (comma > 0)
            gProbeAddresses.emplace_back(commaSeparated.substr(0, comma));
        commaSeparated.remove_prefix(std::min(comma + 1, commaSeparated.size()));
    }
}

void addDeviceScheme() {
    papplDeviceAddScheme("vren", PAPPL_DEVTYPE_CUSTOM_LOCAL | PAPPL_DEVTYPE_CUSTOM_NETWORK, listDevices, openDevice,
                         closeDevice, readDevice, writeDevice, deviceStatus, deviceId);
}

}  // namespace vrenapp
