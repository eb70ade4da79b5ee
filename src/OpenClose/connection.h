// State of the one printer connection, shared by the files of this module and
// never exported.
#pragma once

#include <cstddef>

namespace vren {

constexpr int kNoDescriptor = -1;

// The descriptor of the open connection, or kNoDescriptor: never a number
// that the library does not own.
extern int gFD;
// Interface kind of the connection (enum VrenInterface); selects the pacing.
extern int gInterfaceType;

// Pauses the calling thread; a pause of 0 makes no system call.
void pause(unsigned microseconds) noexcept;

// Sends `size` bytes through writeData(), in as many calls as one call's
// attempt limit requires (200 chunks of the interface's chunk size), so that a
// request of any length can arrive whole. True when every byte went out.
bool writeAll(const void *data, size_t size) noexcept;

}  // namespace vren
