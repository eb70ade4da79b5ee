// Decoding of BMP file contents held in memory into the 1-bit raster. No file
// access here: the loaders read the file, the decoder checks every size and
// offset against the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "VrenLabelAPI.h"
#include "raster.h"

namespace vren {

struct DecodedImage {
    Raster raster;
    // One byte per pixel (0 or 1), width x rows, top row first; only when the
    // image is to be scaled.
    std::unique_ptr<unsigned char[]> pixels;
};

// Offset of biBitCount and biCompression in the file.
constexpr size_t kBitCountOffset = 28;
constexpr size_t kCompressionOffset = 30;

bool hasBmpSignature(const unsigned char *file, size_t size) noexcept;

// Checks the file and decodes it. `header` receives the information header as
// soon as the file has passed the 'BM' test. Pixels for scaling are produced
// when targetWidth is non-zero and differs from the image's width. Failures
// are logged under `tag`. Returns 0, VREN_E_IMAGE_FORMAT or VREN_E_NOMEM.
int decodeBmp(const unsigned char *file, size_t size, const char *tag, int32_t targetWidth,
              VrenImageHeader &header, DecodedImage &out) noexcept;

}  // namespace vren
