#include "png_io.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace render {
namespace {

struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto *out = static_cast<std::string *>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char *>(data), length);
}

void noFlush(png_structp) {}

// libpng reports errors by longjmp; this object owns the structures on every path.
struct Writer {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~Writer() { png_destroy_write_struct(&png, &info); }
};

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~Reader() { png_destroy_read_struct(&png, &info, nullptr); }
};

}  // namespace

std::string encodePng(const Canvas &canvas) {
    std::string out;
    if (canvas.empty())
        return out;
    const size_t rowBytes = (static_cast<size_t>(canvas.width()) + 7) / 8;
    std::vector<png_byte> packed(rowBytes * static_cast<size_t>(canvas.height()), 0xFF);
    std::vector<png_bytep> rows(static_cast<size_t>(canvas.height()));
    const uint8_t *dots = canvas.dots().data();
    for (int y = 0; y < canvas.height(); ++y) {
        png_byte *row = &packed[rowBytes * static_cast<size_t>(y)];
        rows[static_cast<size_t>(y)] = row;
        for (int x = 0; x < canvas.width(); ++x)
            if (dots[static_cast<size_t>(y) * static_cast<size_t>(canvas.width()) + static_cast<size_t>(x)])
                row[x >> 3] = static_cast<png_byte>(row[x >> 3] & ~(0x80 >> (x & 7)));
    }
    Writer writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!writer.png)
        return out;
    writer.info = png_create_info_struct(writer.png);
    if (!writer.info)
        return out;
    if (setjmp(png_jmpbuf(writer.png))) {
        out.clear();
        return out;
    }
    png_set_write_fn(writer.png, &out, appendBytes, noFlush);
    png_set_IHDR(writer.png, writer.info, static_cast<png_uint_32>(canvas.width()),
                 static_cast<png_uint_32>(canvas.height()), 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // 203 dots per inch = 7992 per metre.
    png_set_pHYs(writer.png, writer.info, 7992, 7992, PNG_RESOLUTION_METER);
    png_set_filter(writer.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(writer.png, 6);
    png_write_info(writer.png, writer.info);
    png_write_image(writer.png, rows.data());
    png_write_end(writer.png, nullptr);
    return out;
}

bool writePng(const Canvas &canvas, const std::string &path, std::string *error) {
    const std::string bytes = encodePng(canvas);
    if (bytes.empty()) {
        if (error)
            *error = "cannot encode an empty canvas";
        return false;
    }
    File file(std::fopen(path.c_str(), "wb"));
    bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    // The stream buffers the bytes: a full disk may only show when they are
    // flushed on closing, so the close is part of the write.
    if (file)
        written = std::fclose(file.release()) == 0 && written;
    if (!written) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool readPng(const std::string &path, Canvas &canvas, std::string *error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
    Reader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!reader.png)
        return false;
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info)
        return false;
    std::vector<png_byte> pixels;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(reader.png))) {
        if (error)
            *error = "cannot decode " + path;
        return false;
    }
    png_init_io(reader.png, file.get());
    png_read_info(reader.png, reader.info);
    png_set_expand(reader.png);
    png_set_strip_16(reader.png);
    png_set_strip_alpha(reader.png);
    png_set_rgb_to_gray_fixed(reader.png, 1, -1, -1);
    png_read_update_info(reader.png, reader.info);
    const png_uint_32 width = png_get_image_width(reader.png, reader.info);
    const png_uint_32 height = png_get_image_height(reader.png, reader.info);
    const size_t rowBytes = png_get_rowbytes(reader.png, reader.info);
    if (width > 1u << 15 || height > 1u << 15 || rowBytes < width) {
        if (error)
            *error = "unexpected image size in " + path;
        return false;
    }
    pixels.resize(rowBytes * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = &pixels[rowBytes * y];
    png_read_image(reader.png, rows.data());
    canvas = Canvas(static_cast<int>(width), static_cast<int>(height));
    for (png_uint_32 y = 0; y < height; ++y)
        for (png_uint_32 x = 0; x < width; ++x)
            if (rows[y][x] < 128)
                canvas.set(static_cast<int>(x), static_cast<int>(y));
    return true;
}

}  // namespace render
