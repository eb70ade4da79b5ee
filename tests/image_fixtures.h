// Test images: pictures described pixel by pixel, BMP files written from them
// byte by byte, the raster a picture must give (computed from its colours, not
// from any file), and ImageMagick for files the tests do not write themselves.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_io.h"

namespace vren::test {

struct Rgb {
    unsigned char r, g, b;
    bool operator==(const Rgb &) const = default;
};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

// A picture: width x height colours, top row first.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<Rgb> pixels;
    Rgb at(uint32_t x, uint32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A deterministic picture drawn from the given colours.
inline Picture patternPicture(uint32_t width, uint32_t height, const std::vector<Rgb> &colours, unsigned seed = 1) {
    Picture picture{width, height, {}};
    uint32_t state = seed * 2654435761u + 12345;
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        state = state * 1103515245u + 12345u;
        picture.pixels.push_back(colours[(state >> 16) % colours.size()]);
    }
    return picture;
}

// What the loader must produce: a dot wherever the colour is not pure white.
inline std::string expectedRaster(const Picture &picture) {
    const size_t rowBytes = (picture.width + 7) / 8;
    std::string raster(rowBytes * picture.height, '\0');
    for (uint32_t y = 0; y < picture.height; ++y)
        for (uint32_t x = 0; x < picture.width; ++x)
            if (!(picture.at(x, y) == kWhite))
                raster[y * rowBytes + x / 8] = static_cast<char>(raster[y * rowBytes + x / 8] | (0x80 >> (x % 8)));
    return raster;
}

struct BmpOptions {
    unsigned bits = 24;
    std::vector<Rgb> palette;  // for 1, 4, 8 bits; the picture's colours must be in it
    bool topDown = false;
    uint32_t infoSize = 40;     // bytes of the information header
    bool zeroSizeImage = false; // biSizeImage 0, as uncompressed files may have
};

inline BmpOptions paletted(unsigned bits, std::vector<Rgb> palette) {
    BmpOptions options;
    options.bits = bits;
    options.palette = std::move(palette);
    return options;
}

inline void put16(std::string &out, size_t at, uint32_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}
inline void put32(std::string &out, size_t at, uint32_t v) {
    put16(out, at, v & 0xFFFF);
    put16(out, at + 2, v >> 16);
}

// Writes a picture as a BMP file of the given depth.
inline std::string makeBmp(const Picture &picture, const BmpOptions &options = {}) {
    const unsigned bits = options.bits;
    const size_t paletteBytes = bits <= 8 ? (size_t{1} << bits) * 4 : 0;
    const size_t stride = (static_cast<size_t>(picture.width) * bits + 31) / 32 * 4;
    const size_t pixelOffset = 14 + options.infoSize + paletteBytes;
    std::string file(pixelOffset + stride * picture.height, '\0');
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, static_cast<uint32_t>(file.size()));
    put32(file, 10, static_cast<uint32_t>(pixelOffset));
    put32(file, 14, options.infoSize);
    put32(file, 18, picture.width);
    put32(file, 22, options.topDown ? static_cast<uint32_t>(-static_cast<int32_t>(picture.height)) : picture.height);
    put16(file, 26, 1);
    put16(file, 28, bits);
    put32(file, 34, options.zeroSizeImage ? 0 : static_cast<uint32_t>(stride * picture.height));
    for (size_t i = 0; i < options.palette.size() && i < paletteBytes / 4; ++i) {
        const Rgb c = options.palette[i];
        file[14 + options.infoSize + 4 * i] = static_cast<char>(c.b);
        file[14 + options.infoSize + 4 * i + 1] = static_cast<char>(c.g);
        file[14 + options.infoSize + 4 * i + 2] = static_cast<char>(c.r);
    }
    auto indexOf = [&](Rgb c) {
        for (size_t i = 0; i < options.palette.size(); ++i)
            if (options.palette[i] == c)
                return static_cast<unsigned>(i);
        throw std::logic_error("colour not in palette");
    };
    for (uint32_t y = 0; y < picture.height; ++y) {
        const uint32_t stored = options.topDown ? y : picture.height - 1 - y;
        const size_t row = pixelOffset + stored * stride;
        for (uint32_t x = 0; x < picture.width; ++x) {
            const Rgb c = picture.at(x, y);
            switch (bits) {
            case 24:
                file[row + 3 * x] = static_cast<char>(c.b);
                file[row + 3 * x + 1] = static_cast<char>(c.g);
                file[row + 3 * x + 2] = static_cast<char>(c.r);
                break;
            case 8: file[row + x] = static_cast<char>(indexOf(c)); break;
            case 4: file[row + x / 2] = static_cast<char>(file[row + x / 2] | indexOf(c) << (x % 2 ? 0 : 4)); break;
            case 1: file[row + x / 8] = static_cast<char>(file[row + x / 8] | indexOf(c) << (7 - x % 8)); break;
            default: throw std::logic_error("depth");
            }
        }
    }
    return file;
}

inline void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string &path) { return vren::test::fileText(path); }

inline bool exists(const std::string &path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// A binary PPM of the picture, as input for ImageMagick.
inline std::string makePpm(const Picture &picture) {
    std::string file = "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
    for (const Rgb c : picture.pixels) {
        file += static_cast<char>(c.r);
        file += static_cast<char>(c.g);
        file += static_cast<char>(c.b);
    }
    return file;
}

// Runs ImageMagick's convert with the given arguments (no shell). True when it
// exited with 0.
inline bool imageMagick(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "convert");
    std::vector<char *> argv;
    for (auto &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execvp("convert", argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The picture of any image file as ImageMagick decodes it (first frame).
inline Picture pictureByImageMagick(const std::string &path, uint32_t width, uint32_t height) {
    const std::string raw = "imagemagick-pixels.rgb";
    // With a frame selector ImageMagick expands '%' in the name.
    std::string source = path[0] == '/' ? "" : "./";
    for (const char c : path)
        source += c == '%' ? std::string("%%") : std::string(1, c);
    if (!imageMagick({source + "[0]", "-depth", "8", "rgb:" + raw}))
        throw std::runtime_error("convert failed on " + path);
    const std::string bytes = readFile(raw);
    unlink(raw.c_str());
    if (bytes.size() != static_cast<size_t>(width) * height * 3)
        throw std::runtime_error("unexpected size of " + raw);
    Picture picture{width, height, {}};
    for (size_t i = 0; i < bytes.size(); i += 3)
        picture.pixels.push_back(Rgb{static_cast<unsigned char>(bytes[i]), static_cast<unsigned char>(bytes[i + 1]),
                                     static_cast<unsigned char>(bytes[i + 2])});
    return picture;
}

// The run-length stream written out plainly, one byte at a time: 0x00 and
// 0xFF runs as the byte and a count up to 255, other bytes as they are.
inline std::string referenceStream(const std::string &raster) {
    std::string out;
    for (size_t i = 0; i < raster.size();) {
        const char byte = raster[i];
        if (byte != '\x00' && byte != '\xFF') {
            out += byte;
            ++i;
            continue;
        }
        size_t count = 0;
        while (i < raster.size() && raster[i] == byte && count < 255) {
            ++i;
            ++count;
        }
        out += byte;
        out += static_cast<char>(count);
    }
    return out;
}

}  // namespace vren::test
