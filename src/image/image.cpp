// Printing images: an image file is loaded into a raster and written straight
// to the printer as an LD or LCR bitmap command (not through the command
// buffer).
#include <cstdlib>

#include "OpenClose/connection.h"
#include "VrenLabelAPI.h"
#include "bitmapCommand.h"
#include "util/compress.h"
#include "util/raster.h"

namespace {

constexpr unsigned char kEnd[] = {'\r'};

struct RasterShape {
    uint32_t bytesPerRow;
    uint32_t rows;
    size_t size() const noexcept { return static_cast<size_t>(bytesPerRow) * rows; }
};

// The raster's shape from the header, refused (logged under tag) when it does
// not fit the commands' 16-bit fields.
int shapeOf(const unsigned char *raster, const VrenImageHeader *header, const char *tag, RasterShape &shape) noexcept {
    if (header == nullptr) {
        printDebugLog(tag, "Invalid argument");
        return VREN_E_IMAGE_FORMAT;
    }
    shape.bytesPerRow = static_cast<uint32_t>(vren::rasterRowBytes(static_cast<uint32_t>(header->biWidth)));
    shape.rows = static_cast<uint32_t>(header->biHeight);
    if (shape.bytesPerRow > vren::kMaxBitmapField || shape.rows > vren::kMaxBitmapField) {
        printDebugLog(tag, "Image is too large for the bitmap command : %u bytes per row, %u rows", shape.bytesPerRow,
                      shape.rows);
        return VREN_E_IMAGE_FORMAT;
    }
    if (raster == nullptr && shape.size() != 0) {
        printDebugLog(tag, "Invalid argument");
        return VREN_E_IMAGE_FORMAT;
    }
    return VREN_OK;
}

int failedWrite(const char *tag) noexcept {
    printDebugLog(tag, "Failed to write");
    return VREN_E_WRITE;
}

}  // namespace

extern "C" VREN_API int printLD(const unsigned char *raster, const VrenImageHeader *header, int x, int y) {
    constexpr const char *tag = "printLD";
    printDebugLog(tag, "start");
    RasterShape shape{};
    if (const int result = shapeOf(raster, header, tag, shape); result != VREN_OK)
        return result;
    const auto command = vren::ldHeader(x, y, shape.bytesPerRow, shape.rows);
    // Header, raster and end go out as three requests, each with its pacing.
    if (!vren::writeAll(command.data(), command.size()) || !vren::writeAll(raster, shape.size()) ||
        !vren::writeAll(kEnd, sizeof kEnd))
        return failedWrite(tag);
    printDebugLog(tag, "success");
    return VREN_OK;
}

extern "C" VREN_API int printLCR(const unsigned char *raster, const VrenImageHeader *header, int x, int y) {
    constexpr const char *tag = "printLCR";
    printDebugLog(tag, "start");
    RasterShape shape{};
    if (const int result = shapeOf(raster, header, tag, shape); result != VREN_OK)
        return result;
    // The compressor's room is reserved first: when memory runs out nothing
    // has been sent, and the printer is not left waiting for the data of a
    // header. Otherwise the compressor runs after the header, as it is sent.
    vren::CompressedStream stream;
    if (!stream.reserve(shape.size()))
        return vren::CompressedStream::reportNoMemory();
    const auto command = vren::lcrHeader(x, y, shape.bytesPerRow, shape.rows);
    if (!vren::writeAll(command.data(), command.size()))
        return failedWrite(tag);
    if (const int result = stream.encode(raster, shape.size()); result != VREN_OK)
        return result;
    if (stream.send() != VREN_OK || !vren::writeAll(kEnd, sizeof kEnd))
        return failedWrite(tag);
    printDebugLog(tag, "success");
    return VREN_OK;
}

extern "C" VREN_API int PrintBitmap(const char *path, int x, int y, unsigned char compress) {
    constexpr const char *tag = "PrintBitmap";
    printDebugLog(tag, "start");
    unsigned char *loaded = nullptr;
    VrenImageHeader header{};
    if (const int result = loadImage(path, &loaded, &header, 0); result != VREN_OK) {
        printDebugLog(tag, "Failed to load image");
        return result;
    }
    const vren::Raster raster(loaded);
    int result;
    if (compress != 0) {
        printDebugLog(tag, "LCR Command");
        result = printLCR(raster.get(), &header, x, y);
    } else {
        printDebugLog(tag, "LD Command");
        result = printLD(raster.get(), &header, x, y);
    }
    if (result != VREN_OK) {
        printDebugLog(tag, result == VREN_E_WRITE ? "Failed to write" : "Failed to print image");
        return result;
    }
    printDebugLog(tag, "success");
    return VREN_OK;
}
