// Run-length compression of a raster and sending of the stream.
#include <new>

#include "OpenClose/connection.h"
#include "VrenLabelAPI.h"
#include "compress.h"
#include "runLength.h"

namespace vren {
namespace {
constexpr const char *kTag = "compressData";
}

bool CompressedStream::reserve(size_t length) noexcept {
    size_ = 0;
    room_ = 0;
    bytes_.reset(new (std::nothrow) unsigned char[runLengthBound(length) + 1]);
    if (!bytes_)
        return false;
    room_ = length;
    return true;
}

int CompressedStream::reportNoMemory() noexcept {
    printDebugLog(kTag, "compressData : start");
    printDebugLog(kTag, "compressData : Failed to allocate memory");
    return VREN_E_NOMEM;
}

int CompressedStream::encode(const unsigned char *data, size_t length) noexcept {
    printDebugLog(kTag, "compressData : start");
    if ((!bytes_ || room_ < length) && !reserve(length)) {
        printDebugLog(kTag, "compressData : Failed to allocate memory");
        return VREN_E_NOMEM;
    }
    size_ = runLengthEncode(data, length, bytes_.get());
    return VREN_OK;
}

int CompressedStream::send() const noexcept {
    if (!writeAll(bytes_.get(), size_)) {
        printDebugLog(kTag, "compressData : Failed to write");
        return VREN_E_WRITE;
    }
    printDebugLog(kTag, "compressData : success");
    return VREN_OK;
}

}  // namespace vren

extern "C" VREN_API int compressData(const unsigned char *data, uint32_t length) {
    if (data == nullptr && length != 0) {
        printDebugLog(vren::kTag, "compressData : start");
        printDebugLog(vren::kTag, "compressData : no data");
        return VREN_E_IMAGE_FORMAT;
    }
    vren::CompressedStream stream;
    if (const int result = stream.encode(data, length); result != VREN_OK)
        return result;
    return stream.send();
}
