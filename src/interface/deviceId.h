// The IEEE 1284 device ID that a USB printer reports, read without any I/O:
// it comes from the device, so every length in it is checked against the
// buffers it is read into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vren::usb {

// The driver fills a buffer of this size: a 16-bit big-endian length that
// counts its own two bytes, then the ID text ("KEY:value;" entries).
constexpr size_t kDeviceIdBufferSize = 1024;
// Manufacturer and model values keep at most this many characters (a 64-byte
// value buffer with its terminating NUL).
constexpr size_t kValueCapacity = 63;

// The ID text of a device-ID buffer: the bytes that the length prefix claims
// after itself, never more than the buffer holds, up to the first NUL. A
// length below 3 gives an empty text.
std::string_view deviceIdText(const unsigned char *buffer, size_t size) noexcept;

struct DeviceId {
    std::string_view manufacturer;  // value of "MFG:", else of "MANUFACTURE:"
    std::string_view model;         // value of "MDL:", else of "MODEL:"
};

// Values run up to the next ';' (or the end of the text) and are cut to
// kValueCapacity characters. Keys match case-sensitively anywhere in the text;
// a missing key gives an empty value.
DeviceId parseDeviceId(std::string_view text) noexcept;

// The manufacturer begins with the first 4 characters of the model table's
// manufacturer word, or with "TREMON" (the 6 characters compared of "TREMONA").
bool acceptedManufacturer(std::string_view manufacturer) noexcept;

// The lowest model-table index (1 to 199) whose entry begins with `model`; 0
// when none does. An empty model matches the first non-empty entry.
uint32_t matchModel(std::string_view model) noexcept;

}  // namespace vren::usb
