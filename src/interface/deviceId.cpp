#include "deviceId.h"

#include "VrenLabelAPI.h"

namespace vren::usb {
namespace {

constexpr size_t kLengthPrefix = 2;

std::string_view valueOf(std::string_view text, std::string_view key, std::string_view fallbackKey) noexcept {
    size_t at = text.find(key);
    size_t keyLength = key.size();
    if (at == std::string_view::npos) {
        at = text.find(fallbackKey);
        keyLength = fallbackKey.size();
    }
    if (at == std::string_view::npos)
        return {};
    std::string_view value = text.substr(at + keyLength);
    value = value.substr(0, value.find(';'));
    return value.substr(0, kValueCapacity);
}

}  // namespace

std::string_view deviceIdText(const unsigned char *buffer, size_t size) noexcept {
    if (buffer == nullptr || size <= kLengthPrefix)
        return {};
    size_t length = (static_cast<size_t>(buffer[0]) << 8) | buffer[1];
    // The length comes from the device: whatever it claims, the text ends
    // with the buffer.
    if (length > size)
        length = size;
    if (length <= kLengthPrefix)
        return {};
    std::string_view text(reinterpret_cast<const char *>(buffer) + kLengthPrefix, length - kLengthPrefix);
    return text.substr(0, text.find('\0'));
}

DeviceId parseDeviceId(std::string_view text) noexcept {
    return {valueOf(text, "MFG:", "MANUFACTURE:"), valueOf(text, "MDL:", "MODEL:")};
}

bool acceptedManufacturer(std::string_view manufacturer) noexcept {
    constexpr size_t kWordLength = 4;
    constexpr std::string_view kSecondWord = "TREMONA";
    constexpr size_t kSecondLength = 6;
    const std::string_view word = KORVEL_DEVICE[0] != nullptr ? KORVEL_DEVICE[0] : "";
    if (word.size() >= kWordLength && manufacturer.substr(0, kWordLength) == word.substr(0, kWordLength))
        return true;
    return manufacturer.substr(0, kSecondLength) == kSecondWord.substr(0, kSecondLength);
}

uint32_t matchModel(std::string_view model) noexcept {
    for (uint32_t index = 1; index < VREN_MODEL_TABLE_SIZE; ++index) {
        const char *entry = KORVEL_DEVICE[index];
        if (entry == nullptr || *entry == '\0')
            continue;
        if (std::string_view(entry).starts_with(model))
            return index;
    }
    return 0;
}

}  // namespace vren::usb
