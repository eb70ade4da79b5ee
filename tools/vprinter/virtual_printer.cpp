#include "virtual_printer.h"

#include "parser.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <system_error>
#include <thread>

namespace vprinter {
namespace {

// Every printer of this process, for waitUntilAllIdle().
std::mutex gPrintersMutex;
std::vector<VirtualPrinter *> gPrinters;

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

[[noreturn]] void throwErrno(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Writes all of `bytes`, waiting while the descriptor is full.
void writeFully(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        const ssize_t m = (n < 0 && errno == ENOTSOCK) ? write(fd, bytes.data(), bytes.size()) : n;
        if (m > 0) {
            bytes.remove_prefix(static_cast<size_t>(m));
            continue;
        }
        if (m < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        return;  // the peer went away; its reply is lost like on a real line
    }
}

}  // namespace

struct VirtualPrinter::Connection {
    size_t index = 0;
    int fd = -1;
    bool open = true;
    std::string bytes;
    // Bytes received over the connection's life (bytes may be cleared).
    long long total = 0;
    // When the connection stopped reading, and whether it resumed since.
    std::chrono::steady_clock::time_point stalledAt{};
    bool stalled = false;
    bool resumed = false;
    // Whether the server thread reads it: false while it stopped reading on
    // purpose, or once the bytes it may receive before closing have come.
    bool polled = true;
    // Finds the queries where the printer would: as commands, not inside
    // another command's data, whatever the reads split.
    cmdparse::Parser parser;
    int record = -1;
};

VirtualPrinter::VirtualPrinter(Behaviour behaviour, std::string recordDir)
    : behaviour_(std::move(behaviour)), recordDir_(std::move(recordDir)), owner_(getpid()) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throwErrno("eventfd");
    thread_ = std::thread([this] { run(); });
    std::lock_guard lock(gPrintersMutex);
    gPrinters.push_back(this);
}

VirtualPrinter::~VirtualPrinter() {
    {
        std::lock_guard lock(gPrintersMutex);
        std::erase(gPrinters, this);
    }
    stop();
    close(wakeFd_);
    for (int fd : heldFds_)
        close(fd);
}

uint16_t VirtualPrinter::listenTcp(uint16_t port, const std::string &host) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throwErrno("socket");
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        close(fd);
        throw std::system_error(EINVAL, std::generic_category(), "listen address");
    }
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        const int error = errno;
        close(fd);
        throw std::system_error(error, std::generic_category(), "bind/listen");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    setNonBlocking(fd);
    {
        std::lock_guard lock(mutex_);
        listenFd_ = fd;
    }
    wake();
    return ntohs(address.sin_port);
}

void VirtualPrinter::serveDescriptor(int fd) {
    setNonBlocking(fd);
    {
        std::lock_guard lock(mutex_);
        auto connection = std::make_unique<Connection>();
        connection->index = connections_.size();
        connection->fd = fd;
        if (!recordDir_.empty()) {
            const std::string path = recordDir_ + "/connection-" + std::to_string(connection->index) + ".bin";
            connection->record = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        }
        connections_.push_back(std::move(connection));
    }
    changed_.notify_all();
    wake();
}

std::string VirtualPrinter::servePseudoTerminal() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        throwErrno("posix_openpt");
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        const int error = errno;
        close(master);
        throw std::system_error(error, std::generic_category(), "pseudo-terminal");
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const int error = errno;
        close(master);
        throw std::system_error(error, std::generic_category(), name);
    }
    // Raw mode: bytes pass unchanged in both directions (no CR/LF mapping, no echo).
    termios attributes{};
    if (tcgetattr(slave, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(slave, TCSANOW, &attributes);
    }
    {
        std::lock_guard lock(mutex_);
        heldFds_.push_back(slave);
    }
    serveDescriptor(master);
    return name;
}

void VirtualPrinter::onBytesReceived(std::function<bool(size_t, std::string_view)> callback) {
    std::lock_guard lock(mutex_);
    bytesCallback_ = std::move(callback);
}

void VirtualPrinter::setBehaviour(const Behaviour &behaviour) {
    {
        std::lock_guard lock(mutex_);
        behaviour_ = behaviour;
    }
    wake();
}

Behaviour VirtualPrinter::behaviour() const {
    std::lock_guard lock(mutex_);
    return behaviour_;
}

size_t VirtualPrinter::connectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

std::string VirtualPrinter::received(size_t index) const {
    std::lock_guard lock(mutex_);
    return index < connections_.size() ? connections_[index]->bytes : std::string();
}

std::string VirtualPrinter::lastReceived() const {
    std::lock_guard lock(mutex_);
    return connections_.empty() ? std::string() : connections_.back()->bytes;
}

bool VirtualPrinter::waitForBytes(size_t index, size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return index < connections_.size() && connections_[index]->bytes.size() >= count;
    });
}

bool VirtualPrinter::waitForClosed(size_t index, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return index < connections_.size() && !connections_[index]->open; });
}

bool VirtualPrinter::waitForConnections(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return connections_.size() >= count; });
}

bool VirtualPrinter::idle() const {
    if (stopping_)
        return true;
    // While busy the server thread may be closing descriptors: look at none.
    if (busy_)
        return false;
    if (listenFd_ >= 0 && readable(listenFd_))
        return false;
    for (const auto &connection : connections_)
        if (connection->open && connection->polled && readable(connection->fd))
            return false;
    return true;
}

bool VirtualPrinter::waitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return idle(); });
}

bool VirtualPrinter::waitUntilAllIdle(std::chrono::milliseconds timeout) {
    std::lock_guard lock(gPrintersMutex);
    bool all = true;
    for (const VirtualPrinter *printer : gPrinters)
        if (printer->owner_ == getpid())
            all = printer->waitUntilIdle(timeout) && all;
    return all;
}

void VirtualPrinter::clearReceived() {
    std::lock_guard lock(mutex_);
    for (auto &connection : connections_)
        connection->bytes.clear();
}

void VirtualPrinter::onConnectionClosed(std::function<void(size_t, const std::string &)> callback) {
    std::lock_guard lock(mutex_);
    closedCallback_ = std::move(callback);
}

void VirtualPrinter::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !thread_.joinable())
            return;
        stopping_ = true;
    }
    wake();
    if (thread_.joinable())
        thread_.join();
}

void VirtualPrinter::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void VirtualPrinter::closeConnection(Connection &connection) {
    if (!connection.open)
        return;
    close(connection.fd);
    if (connection.record >= 0)
        close(connection.record);
    std::function<void(size_t, const std::string &)> callback;
    std::string bytes;
    {
        std::lock_guard lock(mutex_);
        connection.open = false;
        callback = closedCallback_;
        bytes = connection.bytes;
    }
    if (callback)
        callback(connection.index, bytes);
    changed_.notify_all();
}

void VirtualPrinter::answerQueries(Connection &connection, const unsigned char *bytes, size_t size) {
    connection.parser.feed(bytes, size);
    const Behaviour behaviour = this->behaviour();
    for (const cmdparse::Event &event : connection.parser.take()) {
        const auto *command = std::get_if<cmdparse::Command>(&event);
        if (!command)
            continue;
        if (std::holds_alternative<cmdparse::ModelQuery>(command->body) && behaviour.answerModel) {
            writeFully(connection.fd, behaviour.modelReply);
        } else if (std::holds_alternative<cmdparse::StatusQuery>(command->body) && behaviour.status >= 0) {
            const char status = static_cast<char>(behaviour.status);
            writeFully(connection.fd, std::string_view(&status, 1));
        }
    }
}

void VirtualPrinter::serveReadable(Connection &connection) {
    const Behaviour behaviour = this->behaviour();
    size_t room = 1 << 16;
    const long long limit =
        behaviour.closeAfter >= 0 ? behaviour.closeAfter : (connection.resumed ? -1 : behaviour.stopReadingAfter);
    if (limit >= 0) {
        const long long left = limit - connection.total;
        if (left <= 0)
            return;
        room = std::min<size_t>(room, static_cast<size_t>(left));
    }
    if (behaviour.readChunk > 0)
        room = std::min(room, behaviour.readChunk);
    unsigned char buffer[1 << 16];
    const ssize_t n = read(connection.fd, buffer, room);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)) {
        closeConnection(connection);
        return;
    }
    if (n < 0)
        return;
    connection.total += n;
    if (connection.record >= 0) {
        [[maybe_unused]] const ssize_t w = write(connection.record, buffer, static_cast<size_t>(n));
    }
    {
        std::lock_guard lock(mutex_);
        connection.bytes.append(reinterpret_cast<const char *>(buffer), static_cast<size_t>(n));
    }
    changed_.notify_all();
    // The bytes go to the callback first: what a label changes (a fault that
    // starts after it) already holds for a query read together with it.
    std::function<bool(size_t, std::string_view)> callback;
    {
        std::lock_guard lock(mutex_);
        callback = bytesCallback_;
    }
    if (callback && !callback(connection.index, std::string_view(reinterpret_cast<const char *>(buffer),
                                                                  static_cast<size_t>(n)))) {
        closeConnection(connection);
        return;
    }
    answerQueries(connection, buffer, static_cast<size_t>(n));
    if (behaviour.closeAfter >= 0 && connection.total >= behaviour.closeAfter)
        closeConnection(connection);
    else if (behaviour.readPause.count() > 0)
        std::this_thread::sleep_for(behaviour.readPause);
}

bool VirtualPrinter::isStalled(Connection &connection, const Behaviour &behaviour, int &timeout) {
    if (connection.resumed || behaviour.stopReadingAfter < 0 || connection.total < behaviour.stopReadingAfter)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (!connection.stalled) {
        connection.stalled = true;
        connection.stalledAt = now;
    }
    if (behaviour.resumeAfterMs < 0)
        return true;
    const auto resumeAt = connection.stalledAt + std::chrono::milliseconds(behaviour.resumeAfterMs);
    if (now >= resumeAt) {
        connection.resumed = true;
        return false;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(resumeAt - now).count() + 1;
    timeout = std::min(timeout, static_cast<int>(wait));
    return true;
}

void VirtualPrinter::run() {
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Connection *> served;
        Behaviour behaviour;
        int timeout = 200;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                break;
            busy_ = false;
            behaviour = behaviour_;
            fds.push_back({wakeFd_, POLLIN, 0});
            fds.push_back({listenFd_, POLLIN, 0});
            for (auto &connection : connections_) {
                if (!connection->open)
                    continue;
                const bool full = behaviour.closeAfter >= 0 && connection->total >= behaviour.closeAfter;
                connection->polled = !full && !isStalled(*connection, behaviour, timeout);
                if (!connection->polled)
                    continue;
                fds.push_back({connection->fd, POLLIN, 0});
                served.push_back(connection.get());
            }
        }
        changed_.notify_all();  // waiters for idleness
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break;
        {
            std::lock_guard lock(mutex_);
            busy_ = true;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
        }
        if (fds[1].fd >= 0 && (fds[1].revents & POLLIN)) {
            const int client = accept4(fds[1].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                serveDescriptor(client);
        }
        for (size_t i = 0; i < served.size(); ++i) {
            const short events = fds[i + 2].revents;
            if (events & POLLIN) {
                serveReadable(*served[i]);
            } else if (events & (POLLHUP | POLLERR)) {
                // A pseudo-terminal whose other side is not open reports a
                // hang-up until it is opened again: wait instead of spinning.
                if (served[i]->fd >= 0 && isatty(served[i]->fd))
                    poll(nullptr, 0, 20);
                else
                    closeConnection(*served[i]);
            }
        }
    }
    std::vector<Connection *> all;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;  // also after a failed poll: the descriptors are closed now
        for (auto &connection : connections_)
            all.push_back(connection.get());
        if (listenFd_ >= 0)
            close(listenFd_);
        listenFd_ = -1;
    }
    for (Connection *connection : all)
        closeConnection(*connection);
}

}  // namespace vprinter
