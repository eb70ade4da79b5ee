// Decoding of BMP file contents into the 1-bit raster. The decoder reads what
// it needs from a ByteSource: the headers and the colour table, then the pixel
// rows in chunks of whole rows, so memory stays bounded by the raster (and the
// pixels for scaling) whatever the file's size. Every size and offset is
// checked against the source's size before anything past the headers is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "VrenLabelAPI.h"
#include "byteSource.h"
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

// Where a loader finds the colour table.
enum class ColourTableAt {
    // 14 + biSize, right after the information header as the file sizes it
    // (loadImage). A field below 40 would put the table among the header's
    // own fields: such palette files are refused.
    HeaderEnd,
    // 54, or after a longer information header (loadImage1): never among
    // the header's fields.
    HeaderEndOr54,
};

// Pixel rows are read in chunks of about this many bytes (at least one row).
constexpr size_t kPixelChunkBytes = 256 * 1024;

// Checks the file and decodes it. `header` receives the information header as
// soon as the file has passed the 'BM' test. Pixels for scaling are produced
// when targetWidth is non-zero and differs from the image's width. A source
// that ends before the size it announced (a file that shrank while being
// read) is refused like a file too short for its rows, and nothing is kept.
// Failures are logged under `tag`. Returns 0, VREN_E_IMAGE_FORMAT or
// VREN_E_NOMEM.
int decodeBmp(const ByteSource &source, const char *tag, ColourTableAt table, int32_t targetWidth,
              VrenImageHeader &header, DecodedImage &out) noexcept;

}  // namespace vren
