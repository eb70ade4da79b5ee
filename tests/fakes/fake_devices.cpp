// The descriptor side of the fakes: usblp nodes, RFCOMM sockets, and the
// system calls that reach them.
#include "fake_devices.h"
#include "fake_write.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "fake_internal.h"
#include "virtual_printer.h"

namespace vren::fake {
namespace {

using detail::next;

enum class Kind { Usb, Rfcomm };

struct Entry {
    Kind kind;
    int peer;          // the other end while the fakes hold it, else -1
    std::string node;  // USB: the node's name
    bool connected = false;
};

struct State {
    std::mutex mutex;
    vprinter::VirtualPrinter *printer = nullptr;
    std::map<std::string, UsbNode> nodes;
    std::map<int, Entry> descriptors;  // the library's ends
    std::vector<UsbOpen> opens;
    std::vector<unsigned long> requests;
    std::vector<size_t> writes;
    int socketFailures = 0;
    std::deque<int> bindErrors;
    std::deque<int> connectErrors;
    std::vector<RfcommCall> binds;
    std::vector<RfcommCall> connects;
    int created = 0;
    int closed = 0;
};

// Never destroyed: descriptors are still closed while the program exits.
State &state() {
    static State *const instance = new State;
    return *instance;
}

bool isUsbNodeName(const char *path) {
    return std::strncmp(path, "/dev/usblp", 10) == 0 || std::strncmp(path, "/dev/usb/", 9) == 0;
}

int takeError(std::deque<int> &errors) {
    if (errors.empty())
        return 0;
    const int error = errors.front();
    errors.pop_front();
    return error;
}

RfcommCall callOf(int fd, const sockaddr *address, socklen_t length) {
    RfcommCall call{fd, {}, length};
    if (address != nullptr)
        std::memcpy(&call.address, address, std::min<size_t>(length, sizeof call.address));
    return call;
}

// Hands the other end of a descriptor to the attached printer.
void serve(vprinter::VirtualPrinter *printer, int peer) {
    if (printer != nullptr && peer >= 0)
        printer->serveDescriptor(peer);
}

// A socketpair standing for a device; [0] for the library (inherited by child
// processes unless `closeOnExec`), [1] for the printer.
bool makePair(int pair[2], bool closeOnExec = true) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    if (!closeOnExec)
        fcntl(pair[0], F_SETFD, 0);
    return true;
}

int openUsbNode(const char *path, int flags) {
    State &s = state();
    std::unique_lock lock(s.mutex);
    s.opens.push_back({path, flags});
    const auto node = s.nodes.find(path);
    if (node == s.nodes.end()) {
        errno = ENOENT;
        return -1;
    }
    if (node->second.state == NodeState::Busy) {
        errno = EBUSY;
        return -1;
    }
    if (node->second.state == NodeState::Denied) {
        errno = EACCES;
        return -1;
    }
    int pair[2];
    if (!makePair(pair, (flags & O_CLOEXEC) != 0))
        return -1;
    if ((flags & O_NONBLOCK) != 0)
        fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    vprinter::VirtualPrinter *printer = node->second.printer ? s.printer : nullptr;
    s.descriptors[pair[0]] = {Kind::Usb, printer != nullptr ? -1 : pair[1], path};
    lock.unlock();
    serve(printer, pair[1]);
    return pair[0];
}

// Answers the usblp device-ID request; anything else is not a printer request.
int usbRequest(int fd, unsigned long request, void *argument) {
    State &s = state();
    std::lock_guard lock(s.mutex);
    s.requests.push_back(request);
    const UsbNode &node = s.nodes[s.descriptors.at(fd).node];
    if (_IOC_TYPE(request) != 'P' || _IOC_NR(request) != 1 || _IOC_DIR(request) != _IOC_READ) {
        errno = ENOTTY;
        return -1;
    }
    if (node.requestFails) {
        errno = EIO;
        return -1;
    }
    const size_t size = std::min<size_t>(_IOC_SIZE(request), node.deviceId.size());
    std::memcpy(argument, node.deviceId.data(), size);
    return 0;
}

// The kind of a descriptor the library holds, if it is one of the fakes'.
bool fakeKind(int fd, Kind &kind) {
    State &s = state();
    std::lock_guard lock(s.mutex);
    const auto entry = s.descriptors.find(fd);
    if (entry == s.descriptors.end())
        return false;
    kind = entry->second.kind;
    return true;
}

void recordWrite(int fd, size_t size) {
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (s.descriptors.count(fd) != 0)
        s.writes.push_back(size);
}

// The test programs' write() and send() report every call here.
const bool gObservingWrites = [] {
    vren::test::setWriteObserver(recordWrite);
    return true;
}();

}  // namespace

void reset() {
    State &s = state();
    std::vector<int> peers;
    {
        std::lock_guard lock(s.mutex);
        for (const auto &[fd, entry] : s.descriptors) {
            if (entry.peer >= 0)
                peers.push_back(entry.peer);
        }
        s.printer = nullptr;
        s.nodes.clear();
        s.descriptors.clear();
        s.opens.clear();
        s.requests.clear();
        s.writes.clear();
        s.socketFailures = 0;
        s.bindErrors.clear();
        s.connectErrors.clear();
        s.binds.clear();
        s.connects.clear();
        s.created = 0;
        s.closed = 0;
    }
    static auto *const realClose = next<decltype(::close)>("close");
    for (int peer : peers)
        realClose(peer);
    detail::resetSdp();
}

void attachPrinter(vprinter::VirtualPrinter *printer) {
    std::lock_guard lock(state().mutex);
    state().printer = printer;
}

void addUsbNode(const std::string &path, UsbNode node) {
    std::lock_guard lock(state().mutex);
    state().nodes[path] = std::move(node);
}

std::string deviceId(std::string_view text) {
    return deviceIdClaiming(static_cast<unsigned>(text.size() + 2), text);
}

std::string deviceIdClaiming(unsigned length, std::string_view text) {
    std::string bytes;
    bytes += static_cast<char>((length >> 8) & 0xFF);
    bytes += static_cast<char>(length & 0xFF);
    bytes += text;
    return bytes;
}

std::vector<UsbOpen> usbOpens() {
    std::lock_guard lock(state().mutex);
    return state().opens;
}

std::vector<unsigned long> usbRequests() {
    std::lock_guard lock(state().mutex);
    return state().requests;
}

int openDescriptors() {
    std::lock_guard lock(state().mutex);
    return static_cast<int>(state().descriptors.size());
}

std::vector<size_t> writeSizes() {
    std::lock_guard lock(state().mutex);
    return state().writes;
}

void clearWriteSizes() {
    std::lock_guard lock(state().mutex);
    state().writes.clear();
}

void failSockets(int count) {
    std::lock_guard lock(state().mutex);
    state().socketFailures = count;
}

void setBindErrors(std::vector<int> errors) {
    std::lock_guard lock(state().mutex);
    state().bindErrors.assign(errors.begin(), errors.end());
}

void setConnectErrors(std::vector<int> errors) {
    std::lock_guard lock(state().mutex);
    state().connectErrors.assign(errors.begin(), errors.end());
}

std::vector<RfcommCall> rfcommBinds() {
    std::lock_guard lock(state().mutex);
    return state().binds;
}

std::vector<RfcommCall> rfcommConnects() {
    std::lock_guard lock(state().mutex);
    return state().connects;
}

int rfcommSocketsCreated() {
    std::lock_guard lock(state().mutex);
    return state().created;
}

int rfcommSocketsClosed() {
    std::lock_guard lock(state().mutex);
    return state().closed;
}

}  // namespace vren::fake

using vren::fake::detail::next;
using vren::fake::Kind;
using vren::fake::state;

extern "C" int open(const char *path, int flags, ...) {
    static auto *const realOpen = next<decltype(::open)>("open");
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if (vren::fake::isUsbNodeName(path))
        return vren::fake::openUsbNode(path, flags);
    return realOpen(path, flags, mode);
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    static auto *const realIoctl = next<decltype(::ioctl)>("ioctl");
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    Kind kind;
    if (vren::fake::fakeKind(fd, kind) && kind == Kind::Usb)
        return vren::fake::usbRequest(fd, request, argument);
    return realIoctl(fd, request, argument);
}

extern "C" int close(int fd) {
    static auto *const realClose = next<decltype(::close)>("close");
    int peer = -1;
    {
        auto &s = state();
        std::lock_guard lock(s.mutex);
        const auto entry = s.descriptors.find(fd);
        if (entry != s.descriptors.end()) {
            peer = entry->second.peer;
            if (entry->second.kind == Kind::Rfcomm)
                ++s.closed;
            s.descriptors.erase(entry);
        }
    }
    if (peer >= 0)
        realClose(peer);
    return realClose(fd);
}


extern "C" int socket(int domain, int type, int protocol) noexcept {
    static auto *const realSocket = next<decltype(::socket)>("socket");
    if (domain != AF_BLUETOOTH)
        return realSocket(domain, type, protocol);
    auto &s = state();
    std::lock_guard lock(s.mutex);
    if (s.socketFailures > 0) {
        --s.socketFailures;
        errno = EAFNOSUPPORT;
        return -1;
    }
    if ((type & ~SOCK_CLOEXEC) != SOCK_STREAM || protocol != BTPROTO_RFCOMM) {
        errno = EPROTONOSUPPORT;
        return -1;
    }
    int pair[2];
    if (!vren::fake::makePair(pair, (type & SOCK_CLOEXEC) != 0))
        return -1;
    s.descriptors[pair[0]] = {Kind::Rfcomm, pair[1], {}};
    ++s.created;
    return pair[0];
}

extern "C" int bind(int fd, const sockaddr *address, socklen_t length) noexcept {
    static auto *const realBind = next<decltype(::bind)>("bind");
    Kind kind;
    if (!vren::fake::fakeKind(fd, kind) || kind != Kind::Rfcomm)
        return realBind(fd, address, length);
    auto &s = state();
    std::lock_guard lock(s.mutex);
    s.binds.push_back(vren::fake::callOf(fd, address, length));
    const int error = vren::fake::takeError(s.bindErrors);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return 0;
}

extern "C" int connect(int fd, const sockaddr *address, socklen_t length) {
    static auto *const realConnect = next<decltype(::connect)>("connect");
    Kind kind;
    if (!vren::fake::fakeKind(fd, kind) || kind != Kind::Rfcomm)
        return realConnect(fd, address, length);
    auto &s = state();
    std::unique_lock lock(s.mutex);
    s.connects.push_back(vren::fake::callOf(fd, address, length));
    vren::fake::Entry &entry = s.descriptors.at(fd);
    const int error = entry.connected ? EISCONN : vren::fake::takeError(s.connectErrors);
    if (error != 0) {
        errno = error;
        return -1;
    }
    entry.connected = true;
    vprinter::VirtualPrinter *printer = s.printer;
    const int peer = printer != nullptr ? entry.peer : -1;
    if (printer != nullptr)
        entry.peer = -1;
    lock.unlock();
    vren::fake::serve(printer, peer);
    return 0;
}
