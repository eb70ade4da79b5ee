// The device ID comes from the printer: any bytes, any length prefix. The
// parser must stay inside the buffer it is given and keep its values inside
// their 63-character bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// The parser is internal to the library (hidden), so the target builds it in.
#include "interface/deviceId.cpp"

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// A value is empty or lies inside the text, holds no ';' and is not too long.
void checkValue(std::string_view value, std::string_view text) {
    if (value.empty())
        return;
    check(value.size() <= vren::usb::kValueCapacity);
    check(value.data() >= text.data() && value.data() + value.size() <= text.data() + text.size());
    check(value.find(';') == std::string_view::npos);
}

void parse(const unsigned char *buffer, size_t size) {
    const std::string_view text = vren::usb::deviceIdText(buffer, size);
    if (!text.empty()) {
        check(text.data() == reinterpret_cast<const char *>(buffer) + 2);
        check(text.size() + 2 <= size);
        check(text.find('\0') == std::string_view::npos);
    }
    const vren::usb::DeviceId id = vren::usb::parseDeviceId(text);
    checkValue(id.manufacturer, text);
    checkValue(id.model, text);
    (void)vren::usb::acceptedManufacturer(id.manufacturer);
    const uint32_t model = vren::usb::matchModel(id.model);
    check(model < VREN_MODEL_TABLE_SIZE);
    if (model != 0)
        check(KORVEL_DEVICE[model] != nullptr && std::string_view(KORVEL_DEVICE[model]).starts_with(id.model));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Exactly the bytes given, so that any read past them is caught...
    const std::vector<unsigned char> exact(data, data + size);
    parse(exact.data(), exact.size());
    // ...and as the driver hands them over: a cleared 1024-byte buffer.
    std::vector<unsigned char> driver(vren::usb::kDeviceIdBufferSize, 0);
    std::memcpy(driver.data(), data, size < driver.size() ? size : driver.size());
    parse(driver.data(), driver.size());
    return 0;
}
