// State of the one printer connection, shared by the files of this module and
// never exported.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vren {

constexpr int kNoDescriptor = -1;

// The descriptor of the open connection, or kNoDescriptor: never a number
// that the library does not own.
extern int gFD;
// Interface kind of the connection (enum VrenInterface); selects the pacing.
extern int gInterfaceType;

// Closes the descriptor of a connection of interface kind `kind`, as close()
// does and with its result. A network connection is first drained, so that
// what was sent still reaches the printer (bounded in time).
int closeConnection(int fd, int kind) noexcept;

// Pauses the calling thread for the whole time, however often signals
// interrupt it; a pause of 0 makes no system call.
void pause(unsigned microseconds) noexcept;

// One writeData() call, with how many bytes reached the device: its result
// alone does not tell that once it gave up.
struct Transfer {
    int result;      // writeData()'s result
    uint32_t bytes;  // bytes the device took, also when result is negative
};
Transfer transmit(const void *data, uint32_t count) noexcept;

// Reads and drops what waits on the connection, so that a query's answer is
// read after the query: an answer that came late to an earlier query would
// otherwise be taken for it, and every later answer would be one query late.
// Logs "Discarded <n> bytes of earlier input." under `tag` when there were any.
void discardInput(const char *tag) noexcept;

// Sends `size` bytes through writeData(). A request that one call can carry
// (200 chunks of the interface's chunk size; no bytes included, which is still
// a logged call) is one call, judged by its count;
// a longer one takes as many calls as it needs, each going on where the last
// stopped, so that it arrives whole unless the transport gives up. True when
// every byte went out.
bool writeAll(const void *data, size_t size) noexcept;

}  // namespace vren
