// The compressed bitmap stream as the library sends it.
#pragma once

#include <cstddef>
#include <memory>

namespace vren {

class CompressedStream {
public:
    // Makes room for the stream of `length` input bytes without logging, so
    // that a caller can learn before sending anything whether memory suffices.
    // False when it does not.
    bool reserve(size_t length) noexcept;
    // Logs "compressData : start" and encodes `length` bytes into the room
    // reserved (made now when none was). Returns 0, or VREN_E_NOMEM
    // ("compressData : Failed to allocate memory") with nothing encoded.
    int encode(const unsigned char *data, size_t length) noexcept;
    // The records of a compressor whose room could not be reserved: its start
    // and its allocation failure. Returns VREN_E_NOMEM.
    static int reportNoMemory() noexcept;
    // Writes the stream to the printer, in as many writeData() calls as it
    // needs. Returns 0, or VREN_E_WRITE ("compressData : Failed to write").
    int send() const noexcept;

    const unsigned char *data() const noexcept { return bytes_.get(); }
    size_t size() const noexcept { return size_; }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    size_t room_ = 0;  // input bytes the buffer has room for
    size_t size_ = 0;
};

}  // namespace vren
