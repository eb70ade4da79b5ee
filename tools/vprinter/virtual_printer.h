// A virtual label printer: serves connections over loopback TCP or on any
// descriptor it is given (the master side of a pseudo-terminal, one end of a
// socketpair), answers the model and status queries, records every byte it
// receives, and misbehaves on request.
//
// A query is answered as soon as the command parser finds it as a command of
// its own, at its carriage return (the model query's line feed need not have
// come): a query's bytes inside another command, such as a text field's
// data, are not one.
//
// It runs one thread of its own; all public members are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace vprinter {

struct Behaviour {
    // Bytes sent back for the model query "^PI0" CR LF.
    std::string modelReply = "LQ1\r\n";
    bool answerModel = true;
    // Byte sent back for the status query "^cu" CR; a negative value: no answer.
    int status = 0x00;
    // Close a connection once it has received this many bytes (negative: never).
    long long closeAfter = -1;
    // Stop reading a connection once it has received this many bytes, so that
    // the sender's writes eventually block (negative: never).
    long long stopReadingAfter = -1;
    // With stopReadingAfter: resume reading this many milliseconds after the
    // connection stalled (negative: never), a slow reader.
    long long resumeAfterMs = -1;
    // A slow reader: at most this many bytes per read (0: no limit), and a
    // pause after each read.
    size_t readChunk = 0;
    std::chrono::milliseconds readPause{0};
};

class VirtualPrinter {
public:
    // recordDir: when not empty, the bytes of connection n are appended to
    // "<recordDir>/connection-<n>.bin" as they arrive.
    explicit VirtualPrinter(Behaviour behaviour = {}, std::string recordDir = {});
    ~VirtualPrinter();
    VirtualPrinter(const VirtualPrinter &) = delete;
    VirtualPrinter &operator=(const VirtualPrinter &) = delete;

    // Listens on host:port (port 0: any free port) and returns the bound port.
    // Throws std::system_error when the socket cannot be bound.
    uint16_t listenTcp(uint16_t port = 9100, const std::string &host = "127.0.0.1");
    // Serves an already open descriptor as one connection; takes ownership.
    void serveDescriptor(int fd);
    // Opens a pseudo-terminal in raw mode, serves its master side as one
    // connection and returns the path of its slave side, which stands in for
    // a serial printer's device. The slave is held open as well, so that a
    // client closing it does not end the connection.
    // Throws std::system_error when no pseudo-terminal can be had.
    std::string servePseudoTerminal();

    void setBehaviour(const Behaviour &behaviour);
    Behaviour behaviour() const;

    size_t connectionCount() const;
    // Bytes received on connection `index` (in order of arrival), empty if none.
    std::string received(size_t index) const;
    // Bytes of the most recent connection.
    std::string lastReceived() const;
    // Waits until connection `index` has received at least `count` bytes.
    bool waitForBytes(size_t index, size_t count, std::chrono::milliseconds timeout) const;
    // Waits until connection `index` has been closed (by either side).
    bool waitForClosed(size_t index, std::chrono::milliseconds timeout) const;
    // Waits until `count` connections have been accepted.
    bool waitForConnections(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until the server thread has caught up: no connection waits to be
    // accepted, and every byte that arrived on a connection it reads has been
    // read and its queries answered. A connection that stopped reading on
    // purpose (closeAfter, stopReadingAfter) does not hold it up.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;
    // waitUntilIdle() for every printer of this process, one after the other.
    static bool waitUntilAllIdle(std::chrono::milliseconds timeout);
    // Drops what was recorded so far (connections stay open).
    void clearReceived();

    // Closes every connection and the listening socket; the thread ends.
    void stop();

    // Called from the server thread when a connection ends (peer closed,
    // closeAfter reached, or stop()). Set before traffic starts.
    void onConnectionClosed(std::function<void(size_t index, const std::string &bytes)> callback);
    // Called from the server thread with each piece of bytes read, before the
    // queries in it are answered (so that a fault a label starts holds for a
    // query behind it); returning false closes the connection unanswered.
    // Set before traffic starts.
    void onBytesReceived(std::function<bool(size_t index, std::string_view bytes)> callback);

private:
    struct Connection;
    void run();
    void serveReadable(Connection &connection);
    void answerQueries(Connection &connection, const unsigned char *bytes, size_t size);
    void closeConnection(Connection &connection);
    static bool isStalled(Connection &connection, const Behaviour &behaviour, int &timeout);
    bool idle() const;  // with mutex_ held
    void wake();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Behaviour behaviour_;
    std::string recordDir_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    bool stopping_ = false;
    bool busy_ = false;  // the server thread is handling what a poll reported
    pid_t owner_;        // a forked child's copy has no server thread
    std::vector<std::unique_ptr<Connection>> connections_;
    std::function<void(size_t, const std::string &)> closedCallback_;
    std::function<bool(size_t, std::string_view)> bytesCallback_;
    std::vector<int> heldFds_;  // slave sides of served pseudo-terminals
    std::thread thread_;
};

}  // namespace vprinter
