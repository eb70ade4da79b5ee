// Small I/O helpers for tests: whole files, waiting for a condition, and a
// loopback TCP client of the virtual printer.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vren::test {

// The whole content of a file ("" when it cannot be read).
inline std::string fileText(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Polls `condition` every `interval` until it holds or `timeout` has passed.
inline bool waitFor(const std::function<bool()> &condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10),
                    std::chrono::microseconds interval = std::chrono::milliseconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

// The number of descriptors this process has open.
inline size_t openDescriptorCount() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator{}));
}

// The number of descriptors this process has open that a child process it
// starts would inherit (not close-on-exec).
inline size_t inheritableDescriptorCount() {
    size_t count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int flags = fcntl(std::stoi(entry.path().filename().string()), F_GETFD);
        count += flags >= 0 && (flags & FD_CLOEXEC) == 0 ? 1 : 0;
    }
    return count;
}

// An owned descriptor, closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A TCP connection to 127.0.0.1:`port`, or -1.
inline int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Reads what arrives within `timeout`, up to `count` bytes; stops at the end
// of the stream, which `ended` reports.
inline std::string readSome(int fd, size_t count, std::chrono::milliseconds timeout, bool *ended = nullptr) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) {
            if (ended)
                *ended = true;
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

// Starts `program` with `args` in `directory`, its standard output and error
// going to "stdout.txt" and "stderr.txt" there. Returns the child's pid.
inline pid_t spawnIn(const std::filesystem::path &directory, const char *program, std::vector<std::string> args) {
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(directory.c_str()) != 0)
            _exit(127);
        const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> argv{const_cast<char *>(program)};
        for (std::string &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

}  // namespace vren::test
