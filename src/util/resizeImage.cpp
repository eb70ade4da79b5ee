// Nearest-neighbour scaling of a one-byte-per-pixel image to a target width,
// packed into a 1-bit raster.
#include <cstdint>
#include <memory>
#include <new>

#include "VrenLabelAPI.h"
#include "raster.h"

namespace {

constexpr const char *kTag = "resizeImage";

// Source index of output position i: i x ratio in single precision, widened,
// plus one half in double precision, truncated, and kept below `limit`.
inline uint32_t sampleIndex(int32_t i, float ratio, uint32_t last) noexcept {
    const float product = static_cast<float>(i) * ratio;
    const auto index = static_cast<uint32_t>(static_cast<double>(product) + 0.5);
    return index > last ? last : index;
}

}  // namespace

extern "C" VREN_API int resizeImage(const unsigned char *pixels, unsigned char **scaled, int32_t width,
                                    VrenImageHeader *header) {
    if (scaled == nullptr || header == nullptr) {
        printDebugLog(kTag, "Invalid argument");
        return VREN_E_IMAGE_FORMAT;
    }
    const auto sourceWidth = static_cast<uint32_t>(header->biWidth);
    const auto sourceHeight = static_cast<uint32_t>(header->biHeight);
    if (width <= 0 || sourceWidth == 0) {
        printDebugLog(kTag, "Invalid width : %d (image width %u)", width, sourceWidth);
        return VREN_E_IMAGE_FORMAT;
    }

    const float scale = static_cast<float>(width) / static_cast<float>(sourceWidth);
    const float heightF = static_cast<float>(sourceHeight) * scale;
    // A row count beyond an int is shown as the largest int and fails as the
    // allocation it could never get.
    const bool tooTall = !(heightF < 2147483648.0f);
    const int32_t newHeight = tooTall ? INT32_MAX : static_cast<int32_t>(heightF);
    const float xRatio = static_cast<float>(sourceWidth - 1) / static_cast<float>(width);
    // With no rows this divides by zero: the log shows the infinity (or NaN)
    // that comes out, and no row ever uses it.
    const float yRatio = static_cast<float>(sourceHeight - 1) / static_cast<float>(newHeight);
    printDebugLog(kTag, "biWidth : %d, biHeight : %d", static_cast<int>(sourceWidth), static_cast<int>(sourceHeight));
    printDebugLog(kTag, "x_ratio : %f, height : %d, y_ratio: %f", static_cast<double>(xRatio), newHeight,
                  static_cast<double>(yRatio));
    printDebugLog(kTag, "start");

    // The buffer has a byte per target column on every row, of which the
    // packed rows use the first eighth; the rest stays 0.
    const size_t rowBytes = vren::rasterRowBytes(static_cast<size_t>(width));
    vren::Raster out;
    if (!tooTall)
        out = vren::allocateRaster(static_cast<size_t>(width) * static_cast<size_t>(newHeight));
    // The source column of every output column is the same on each row.
    std::unique_ptr<uint32_t[]> columns(newHeight > 0 ? new (std::nothrow) uint32_t[static_cast<size_t>(width)] : nullptr);
    if (!out || (newHeight > 0 && !columns)) {
        *scaled = nullptr;
        printDebugLog(kTag, "Failed to alloc memory");
        return VREN_E_NOMEM;
    }
    if (newHeight > 0 && pixels == nullptr) {
        printDebugLog(kTag, "Invalid argument");
        return VREN_E_IMAGE_FORMAT;
    }
    for (int32_t k = 0; k < width && newHeight > 0; ++k)
        columns[k] = sampleIndex(k, xRatio, sourceWidth - 1);

    for (int32_t j = 0; j < newHeight; ++j) {
        const uint32_t sy = sampleIndex(j, yRatio, sourceHeight - 1);
        const unsigned char *source = pixels + static_cast<size_t>(sy) * sourceWidth;
        unsigned char *row = out.get() + static_cast<size_t>(j) * rowBytes;
        // Any pixel byte other than 0 is one dot in its own column (added
        // into the byte, a value above 1 would spill into its neighbours).
        for (int32_t k = 0; k < width; ++k) {
            if (source[columns[k]] != 0)
                row[k / 8] |= static_cast<unsigned char>(0x80u >> (k % 8));
        }
    }
    header->biWidth = width;
    header->biHeight = newHeight;
    *scaled = out.release();
    printDebugLog(kTag, "end");
    return VREN_OK;
}
