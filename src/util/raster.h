// Memory of the image subsystem: rasters are handed to C callers, who release
// them with free(), so they are allocated with calloc and owned until then.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "owned.h"

namespace vren {

using Raster = Allocated<unsigned char>;

// A zero-filled raster of `size` bytes; a size of 0 still gives a pointer the
// caller can free. Empty when memory runs out.
inline Raster allocateRaster(size_t size) noexcept {
    return Raster(static_cast<unsigned char *>(std::calloc(size == 0 ? 1 : size, 1)));
}

// Bytes of one raster row: one bit per pixel, rows start on a byte boundary.
constexpr size_t rasterRowBytes(size_t width) noexcept {
    return width / 8 + (width % 8 != 0 ? 1 : 0);
}

}  // namespace vren
