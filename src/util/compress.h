// The compressed bitmap stream as the library sends it.
#pragma once

#include <cstddef>
#include <memory>

namespace vren {

class CompressedStream {
public:
    // Encodes `length` bytes. Logs "compressData : start"; returns 0, or
    // VREN_E_NOMEM ("compressData : Failed to allocate memory") with nothing
    // encoded.
    int encode(const unsigned char *data, size_t length) noexcept;
    // Writes the stream to the printer, in as many writeData() calls as it
    // needs. Returns 0, or VREN_E_WRITE ("compressData : Failed to write").
    int send() const noexcept;

    const unsigned char *data() const noexcept { return bytes_.get(); }
    size_t size() const noexcept { return size_; }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    size_t size_ = 0;
};

}  // namespace vren
