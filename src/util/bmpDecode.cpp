// BMP decoding: validation of the headers against the file's real length, then
// reduction of every pixel to dot or no dot.
#include "bmpDecode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

namespace vren {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kHeadersSize = kFileHeaderSize + kInfoHeaderSize;
constexpr size_t kPixelOffsetField = 10;

uint16_t le16(const unsigned char *p) noexcept {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const unsigned char *p) noexcept {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The information header as it stands in the file's first bytes `head`, `size`
// of which the file has; what the file lacks reads as 0.
VrenImageHeader readInfoHeader(const unsigned char *head, uint64_t size) noexcept {
    unsigned char raw[kInfoHeaderSize] = {};
    if (size > kFileHeaderSize)
        std::memcpy(raw, head + kFileHeaderSize, std::min<uint64_t>(kInfoHeaderSize, size - kFileHeaderSize));
    VrenImageHeader header{};
    header.biSize = le32(raw);
    header.biWidth = static_cast<int32_t>(le32(raw + 4));
    header.biHeight = static_cast<int32_t>(le32(raw + 8));
    header.biPlanes = le16(raw + 12);
    header.biBitCount = le16(raw + 14);
    header.biCompression = le32(raw + 16);
    header.biSizeImage = le32(raw + 20);
    header.biXPelsPerMeter = static_cast<int32_t>(le32(raw + 24));
    header.biYPelsPerMeter = static_cast<int32_t>(le32(raw + 28));
    header.biClrUsed = le32(raw + 32);
    header.biClrImportant = le32(raw + 36);
    return header;
}

// Where the pixels are and how they are laid out, once every size has been
// checked against the file.
struct Layout {
    uint32_t width;
    uint32_t rows;
    bool topDown;
    unsigned bits;
    uint64_t storedRow;  // bytes of one stored row, padded to 4
    uint64_t pixelOffset;
    // For palette depths: whether each index prints a dot.
    std::array<unsigned char, 256> dotOfIndex;
};

// The dot rule: only pure white (255, 255, 255) stays blank.
constexpr unsigned char isDot(unsigned char blue, unsigned char green, unsigned char red) noexcept {
    return (blue & green & red) != 0xFF ? 1 : 0;
}

int fail(const char *tag, const char *message) noexcept {
    printDebugLog(tag, "%s", message);
    return VREN_E_IMAGE_FORMAT;
}

// Reads the colour table at `offset`: for both loaders it follows a longer
// information header (a fixed offset of 54 would read that header's own
// fields as colours). The entries the file declares (all
// of them when biClrUsed is 0) must lie inside the file; entries past its end
// that only the full table size implies count as black. A file found to end
// early here has its `size` lowered to where it ends.
int readPalette(const ByteSource &source, uint64_t &size, uint64_t offset, const VrenImageHeader &header,
                const char *tag, Layout &layout) noexcept {
    const uint32_t entries = 1u << layout.bits;
    const uint32_t declared = header.biClrUsed != 0 && header.biClrUsed < entries ? header.biClrUsed : entries;
    if (offset > size)
        return fail(tag, "Colour table runs past the end of the file.");
    unsigned char table[256 * 4];
    const size_t wanted = std::min<uint64_t>(size_t{4} * entries, size - offset);
    const size_t got = source.read(offset, table, wanted);
    if (got < wanted)
        size = offset + got;
    if ((size - offset) / 4 < declared)
        return fail(tag, "Colour table runs past the end of the file.");
    layout.dotOfIndex.fill(1);
    for (size_t i = 0; i < got / 4; ++i)
        layout.dotOfIndex[i] = isDot(table[4 * i], table[4 * i + 1], table[4 * i + 2]);
    return VREN_OK;
}

// `head` holds the file's first bytes; `size` is the file's length (lowered
// when the colour table shows the file ending early).
int checkLayout(const ByteSource &source, const unsigned char *head, uint64_t &size, ColourTableAt table,
                VrenImageHeader &header, const char *tag, Layout &layout) noexcept {
    // The depth first, as the file gives it (a file too short to hold the
    // field reads 0 there); then whether the headers are whole.
    const unsigned bits = header.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return fail(tag, "This is not supported bit image.");
    if (size < kHeadersSize)
        return fail(tag, "Image file is shorter than its headers.");
    // biSize only places the colour table.
    if (bits <= 8 && table == ColourTableAt::HeaderEnd && header.biSize < kInfoHeaderSize)
        return fail(tag, "Unsupported BMP header size.");
    if (header.biCompression != 0)
        return fail(tag, "Compressed BMP files are not supported.");
    if (header.biWidth < 0 || header.biHeight == INT32_MIN) {
        printDebugLog(tag, "Invalid image size : %d x %d", header.biWidth, header.biHeight);
        return VREN_E_IMAGE_FORMAT;
    }
    layout.bits = bits;
    layout.width = static_cast<uint32_t>(header.biWidth);
    layout.topDown = header.biHeight < 0;
    layout.rows = layout.topDown ? static_cast<uint32_t>(-header.biHeight) : static_cast<uint32_t>(header.biHeight);
    const uint64_t tableOffset = kFileHeaderSize + (table == ColourTableAt::HeaderEnd
                                                        ? header.biSize
                                                        : std::max<uint64_t>(header.biSize, kInfoHeaderSize));
    if (bits <= 8 && readPalette(source, size, tableOffset, header, tag, layout) != VREN_OK)
        return VREN_E_IMAGE_FORMAT;

    // Products in 64 bits: a width below 2^31 times 24 bits, times a row count
    // below 2^31, cannot overflow once the row is checked against the file.
    layout.storedRow = (static_cast<uint64_t>(layout.width) * bits + 31) / 32 * 4;
    uint64_t needed = 0;
    if (__builtin_mul_overflow(layout.storedRow, static_cast<uint64_t>(layout.rows), &needed))
        return fail(tag, "Pixel data runs past the end of the file.");
    // biSizeImage 0 is allowed for uncompressed files: the rows give the size.
    if (header.biSizeImage != 0 && header.biSizeImage < needed)
        return fail(tag, "Image size is smaller than its rows need.");
    const uint32_t pixelOffset = le32(head + kPixelOffsetField);
    if (pixelOffset > size || size - pixelOffset < needed)
        return fail(tag, "Pixel data runs past the end of the file.");
    layout.pixelOffset = pixelOffset;
    return VREN_OK;
}

// Packs one row: pixel x is bit 7 - x % 8 of byte x / 8; bits past the width
// stay 0. With Pixels, also stores each pixel's 0 or 1.
template <bool Pixels, class DotAt>
void packRow(uint32_t width, unsigned char *out, unsigned char *pixels, DotAt dotAt) noexcept {
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        unsigned byte = 0;
        for (unsigned i = 0; i < 8; ++i) {
            const unsigned dot = dotAt(x + i);
            byte |= dot << (7 - i);
            if constexpr (Pixels)
                pixels[x + i] = static_cast<unsigned char>(dot);
        }
        out[x / 8] = static_cast<unsigned char>(byte);
    }
    if (x == width)
        return;
    unsigned byte = 0;
    for (unsigned i = 0; x + i < width; ++i) {
        const unsigned dot = dotAt(x + i);
        byte |= dot << (7 - i);
        if constexpr (Pixels)
            pixels[x + i] = static_cast<unsigned char>(dot);
    }
    out[x / 8] = static_cast<unsigned char>(byte);
}

// Decodes `count` stored rows from `first` on, held one after the other in
// `chunk`. Bottom-up files store the image's last row first.
template <bool Pixels>
void decodeRows(const Layout &layout, const unsigned char *chunk, uint32_t first, uint32_t count,
                unsigned char *raster, unsigned char *pixels) noexcept {
    const size_t rowBytes = rasterRowBytes(layout.width);
    const unsigned char *dotOf = layout.dotOfIndex.data();
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t stored = first + i;
        const uint32_t r = layout.topDown ? stored : layout.rows - 1 - stored;
        const unsigned char *src = chunk + i * layout.storedRow;
        unsigned char *out = raster + r * rowBytes;
        unsigned char *pix = Pixels ? pixels + static_cast<size_t>(r) * layout.width : nullptr;
        switch (layout.bits) {
        case 1:
            packRow<Pixels>(layout.width, out, pix, [&](uint32_t x) { return dotOf[src[x / 8] >> (7 - x % 8) & 1]; });
            break;
        case 4:
            packRow<Pixels>(layout.width, out, pix,
                            [&](uint32_t x) { return dotOf[x % 2 == 0 ? src[x / 2] >> 4 : src[x / 2] & 0x0F]; });
            break;
        case 8:
            packRow<Pixels>(layout.width, out, pix, [&](uint32_t x) { return dotOf[src[x]]; });
            break;
        default:
            packRow<Pixels>(layout.width, out, pix, [&](uint32_t x) {
                const unsigned char *bgr = src + 3 * static_cast<size_t>(x);
                return static_cast<unsigned>(isDot(bgr[0], bgr[1], bgr[2]));
            });
            break;
        }
    }
}

// Stored rows per chunk: as many whole rows as fit in kPixelChunkBytes, at
// least one, never more than the image has. 0 when there is nothing to read.
uint32_t rowsPerChunk(const Layout &layout) noexcept {
    if (layout.storedRow == 0 || layout.rows == 0)
        return 0;
    const uint64_t fit = std::max<uint64_t>(1, kPixelChunkBytes / layout.storedRow);
    return static_cast<uint32_t>(std::min<uint64_t>(fit, layout.rows));
}

// Reads the pixel rows in order, chunk by chunk, and decodes each. False when
// the source ends before the rows do. No chunk means nothing to read (no
// rows, or rows of width 0).
template <bool Pixels>
bool streamRows(const ByteSource &source, const Layout &layout, unsigned char *chunk, uint32_t chunkRows,
                unsigned char *raster, unsigned char *pixels) noexcept {
    if (chunkRows == 0)
        return true;
    for (uint32_t first = 0; first < layout.rows;) {
        const uint32_t count = std::min(chunkRows, layout.rows - first);
        const size_t bytes = count * layout.storedRow;
        if (source.read(layout.pixelOffset + first * layout.storedRow, chunk, bytes) != bytes)
            return false;
        decodeRows<Pixels>(layout, chunk, first, count, raster, pixels);
        first += count;
    }
    return true;
}

}  // namespace

bool hasBmpSignature(const unsigned char *file, size_t size) noexcept {
    return size >= 2 && file[0] == 'B' && file[1] == 'M';
}

int decodeBmp(const ByteSource &source, const char *tag, ColourTableAt table, int32_t targetWidth,
              VrenImageHeader &header, DecodedImage &out) noexcept {
    uint64_t size = source.size();
    unsigned char head[kHeadersSize] = {};
    const size_t wanted = std::min<uint64_t>(kHeadersSize, size);
    const size_t got = source.read(0, head, wanted);
    if (got < wanted)
        size = got;
    if (!hasBmpSignature(head, size))
        return fail(tag, "This is not BMP file.");
    header = readInfoHeader(head, size);
    Layout layout{};
    if (const int result = checkLayout(source, head, size, table, header, tag, layout); result != VREN_OK)
        return result;

    // The only buffer for the file's bytes: a few rows at a time.
    const uint32_t chunkRows = rowsPerChunk(layout);
    std::unique_ptr<unsigned char[]> chunk;
    if (chunkRows != 0) {
        chunk.reset(new (std::nothrow) unsigned char[chunkRows * layout.storedRow]);
        if (!chunk) {
            printDebugLog(tag, "Failed to alloc memory for bmpFileBuff");
            return VREN_E_NOMEM;
        }
    }
    const bool scaling = targetWidth != 0 && targetWidth != header.biWidth;
    if (scaling) {
        out.pixels.reset(new (std::nothrow) unsigned char[static_cast<size_t>(layout.width) * layout.rows + 1]);
        if (!out.pixels) {
            printDebugLog(tag, "Failed to alloc memory for pixelBuff");
            return VREN_E_NOMEM;
        }
    }
    out.raster = allocateRaster(rasterRowBytes(layout.width) * layout.rows);
    if (!out.raster) {
        out.pixels.reset();
        printDebugLog(tag, "Failed to alloc memory for imageBuff");
        return VREN_E_NOMEM;
    }
    const bool complete = scaling ? streamRows<true>(source, layout, chunk.get(), chunkRows, out.raster.get(),
                                                     out.pixels.get())
                                  : streamRows<false>(source, layout, chunk.get(), chunkRows, out.raster.get(), nullptr);
    if (!complete) {
        // The file shrank after its size was checked: none of it is kept.
        out.raster.reset();
        out.pixels.reset();
        return fail(tag, "Pixel data runs past the end of the file.");
    }
    // The raster is top row first whatever the file's order.
    header.biHeight = static_cast<int32_t>(layout.rows);
    return VREN_OK;
}

}  // namespace vren
