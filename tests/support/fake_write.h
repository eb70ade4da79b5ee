// A fake of write() and send() at the C library boundary: the test programs
// define both and pass every call on to the C library, except the one a test
// scripts, which is cut short as a device that takes only part of a chunk.
// Scripts apply to devices (sockets, terminals), never to regular files.
#pragma once

#include <cstddef>

namespace vren::test {

// The next write() or send() of exactly `length` bytes hands only the first
// `accepted` bytes on and reports that count.
void shortenNextWrite(size_t length, size_t accepted);

// The same, and every later write() or send() on that descriptor then fails
// with EPIPE, as on a connection that broke mid-transfer, until restoreWrites().
void breakAfterNextWrite(size_t length, size_t accepted);
void restoreWrites();

// Called for every write() and send() with the descriptor and the length
// passed on, before the call; for fakes that record what reaches a device.
using WriteObserver = void (*)(int fd, size_t length);
void setWriteObserver(WriteObserver observer);

// Writes to regular files (the debug log) are never scripted and not told to
// the write observer; this one sees them, with their bytes, before the call.
using FileWriteObserver = void (*)(int fd, const void *bytes, size_t length);
void setFileWriteObserver(FileWriteObserver observer);

}  // namespace vren::test
