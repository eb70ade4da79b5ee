// The composition front-end, the command buffer's append path and the buffer
// check.
#include "compose.h"

#include <cstring>
#include <vector>

#include "OpenClose/connection.h"
#include "VrenLabelAPI.h"
#include "basicFunc/convert.h"
#include "callLog.h"

namespace vren {

namespace {

// gDataIndex is exported, so an application can set it past the buffer. Such
// an index is refused: nothing is read or written past gPrintData.
bool indexInBuffer(const char *tag) noexcept {
    if (gDataIndex <= sizeof gPrintData)
        return true;
    printDebugLog(tag, "Invalid buffer index : %u", gDataIndex);
    return false;
}

// Bytes that reached the printer leave the buffer, which then starts with the
// first byte the printer did not take: the next send goes on from there
// instead of sending the start of a command a second time.
void dropSent(uint32_t count) noexcept {
    const uint32_t kept = gDataIndex - count;
    std::memmove(gPrintData, gPrintData + count, kept);
    std::memset(gPrintData + kept, 0, count);
    gDataIndex = kept;
}

}  // namespace

int sendBuffer(const char *tag) noexcept {
    if (!indexInBuffer(tag))
        return VREN_E_WRITE;
    const Transfer sent = transmit(gPrintData, gDataIndex);
    if (sent.result < 0 || static_cast<uint32_t>(sent.result) != gDataIndex) {
        dropSent(sent.bytes);
        printDebugLog(tag, "Failed to write");
        return VREN_E_WRITE;
    }
    initDataBuffer();
    return VREN_OK;
}

namespace {

// Sends a command that is larger than the whole buffer in one request.
int streamCommand(const char *tag, std::initializer_list<std::string_view> pieces, size_t total) noexcept {
    std::vector<unsigned char> command;
    try {
        command.reserve(total);
    } catch (...) {
        printDebugLog(tag, "Failed to alloc memory for the command");
        return VREN_E_NOMEM;
    }
    for (std::string_view piece : pieces)
        command.insert(command.end(), piece.begin(), piece.end());
    if (!writeAll(command.data(), command.size())) {
        printDebugLog(tag, "Failed to write");
        return VREN_E_WRITE;
    }
    return VREN_OK;
}

}  // namespace

namespace {

// The longest print command: the composition commands leave room for it at the
// end of the buffer, so that Prints can keep its command in the buffer even
// after the sends of a label failed.
constexpr size_t kPrintCommandRoom = sizeof "P-2147483648,-2147483648\r" - 1;
constexpr size_t kComposeCapacity = sizeof gPrintData - kPrintCommandRoom;

bool fits(size_t size, size_t capacity) noexcept {
    return gDataIndex <= capacity && size <= capacity - gDataIndex;
}

void copyIn(std::initializer_list<std::string_view> pieces) noexcept {
    for (std::string_view piece : pieces) {
        if (piece.empty())
            continue;
        std::memcpy(gPrintData + gDataIndex, piece.data(), piece.size());
        gDataIndex += static_cast<uint32_t>(piece.size());
    }
}

}  // namespace

int appendCommand(const char *tag, std::initializer_list<std::string_view> pieces) noexcept {
    if (!indexInBuffer(tag))
        return VREN_E_WRITE;
    size_t total = 0;
    for (std::string_view piece : pieces)
        total += piece.size();

    if (!fits(total, kComposeCapacity)) {
        if (gDataIndex != 0) {
            const int sent = sendBuffer(tag);
            if (sent != VREN_OK)
                return sent;
        }
        if (total > kComposeCapacity)
            return streamCommand(tag, pieces, total);
    }
    copyIn(pieces);
    return VREN_OK;
}

int appendPrintCommand(const char *tag, std::string_view command) noexcept {
    if (!indexInBuffer(tag))
        return VREN_E_WRITE;
    int result = VREN_OK;
    if (!fits(command.size(), sizeof gPrintData))
        result = sendBuffer(tag);
    // A failed send leaves what the printer did not take: the print command
    // goes behind it whenever there is room.
    if (fits(command.size(), sizeof gPrintData))
        copyIn({command});
    return result;
}

int appendQuoted(const char *tag, std::string_view header, std::string_view data) noexcept {
    if (const size_t at = data.find("'\r"); at != std::string_view::npos) {
        printDebugLog(tag, "Quote followed by CR at offset %zu: data refused", at);
        return VREN_E_WRITE;
    }
    return appendCommand(tag, {header, "'", data, "'\r"});
}

namespace {

int checked(int appended) noexcept {
    return appended != VREN_OK ? appended : bufferCheck();
}

}  // namespace

int composeData(const char *tag, std::string_view header, const Data &data) noexcept {
    if (data.text == nullptr) {
        printDebugLog(tag, "data is null");
        return VREN_E_WRITE;
    }
    const size_t length = data.length != std::string_view::npos ? data.length : std::strlen(data.text);
    if (data.logged)
        printDebugLog(tag, "barcode data : %s, %zu", data.text, length);
    if (data.route.convert)
        return checked(appendConverted(header, data.text, length, data.route.codePage));
    return checked(appendQuoted(tag, header, data.text));
}

int compose(const char *tag, std::string_view command) noexcept {
    const CallLog log(tag);
    return checked(appendCommand(tag, {command}));
}

int compose(const char *tag, std::string_view header, const Data &data) noexcept {
    const CallLog log(tag);
    return composeData(tag, header, data);
}

}  // namespace vren

extern "C" VREN_API int bufferCheck(void) {
    constexpr const char *tag = "bufferCheck";
    vren::CallLog log(tag);
    if (gDataIndex < VREN_FLUSH_THRESHOLD)
        return VREN_OK;
    const int sent = vren::sendBuffer(tag);
    return sent != VREN_OK ? log.fails(sent) : VREN_OK;
}
