// Cutting a 1-bit page into bitmap commands that each fit one transport call.
//
// One writeData() call carries at most 200 chunks: 102,400 bytes over serial
// and Bluetooth (512-byte chunks). A 4 x 6 in page at 203 dpi is 812 x 1218
// dots, about 124 KB, so it goes out in horizontal bands, each as the shorter
// of the raw LD raster and the run-length LCR stream. Blank rows at a band's
// top and bottom are left out (the label is blank where nothing is drawn),
// and so are blank bands.
#pragma once

#include <cstddef>
#include <vector>

namespace vrenapp {

// What one writeData() call carries over serial or Bluetooth.
constexpr size_t kMaxBitmapBytes = 200 * 512;

struct Band {
    unsigned firstRow;
    unsigned rows;
    bool compressed;  // LCR when true, else LD
    size_t bytes;     // bytes of the raster or of the run-length stream
};

// Bytes of the library's run-length stream for `size` raster bytes: a run of
// 0x00 or 0xFF bytes becomes pairs of the byte and a count up to 255, every
// other byte stays one byte.
size_t runLengthSize(const unsigned char *data, size_t size);

// Bands of a page of `rows` rows of `bytesPerRow` bytes, top to bottom, none
// carrying more than `maxBytes` bytes.
std::vector<Band> planBands(const unsigned char *page, unsigned bytesPerRow, unsigned rows,
                            size_t maxBytes = kMaxBitmapBytes);

}  // namespace vrenapp
