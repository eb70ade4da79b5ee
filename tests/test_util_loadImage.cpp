// The image loaders: BMP decoding of every depth, bad files, and files that go
// through ImageMagick's convert.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "image_fixtures.h"
#include "library_test.h"

// A file that shrinks while the loader reads it: pread() is interposed in this
// program. Once armed, the first pread at or past `gTruncateAt` first cuts the
// file being read to `gTruncateTo` bytes (through /proc, so that a file
// whose name is already gone shrinks too), then reads.
namespace {

std::atomic<long long> gTruncateAt{-1};
std::atomic<long long> gTruncateTo{0};
// When set, called before every pread: a test's look at the directory while
// the loader reads.
void (*gOnRead)() = nullptr;

void shrinkBeforeRead(int fd, long long offset) {
    long long at = gTruncateAt.load();
    if (at < 0 || offset < at || !gTruncateAt.compare_exchange_strong(at, -1))
        return;
    const int writable = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_CLOEXEC);
    if (writable < 0 || ftruncate(writable, static_cast<off_t>(gTruncateTo.load())) != 0)
        std::abort();
    close(writable);
}

}  // namespace

extern "C" ssize_t pread(int fd, void *bytes, size_t length, off_t offset) {
    static const auto real = reinterpret_cast<ssize_t (*)(int, void *, size_t, off_t)>(dlsym(RTLD_NEXT, "pread"));
    if (gOnRead != nullptr)
        gOnRead();
    shrinkBeforeRead(fd, offset);
    return real(fd, bytes, length, offset);
}

extern "C" ssize_t pread64(int fd, void *bytes, size_t length, off64_t offset) {
    static const auto real = reinterpret_cast<ssize_t (*)(int, void *, size_t, off64_t)>(dlsym(RTLD_NEXT, "pread64"));
    if (gOnRead != nullptr)
        gOnRead();
    shrinkBeforeRead(fd, offset);
    return real(fd, bytes, length, offset);
}

namespace vren::test {
namespace {

// Arms the interposed pread: see above.
void shrinkFileOnReadAt(long long offset, long long length) {
    gTruncateTo = length;
    gTruncateAt = offset;
}

const std::vector<Rgb> kColours = {kWhite, kBlack, {254, 255, 255}, {255, 254, 255}, {255, 255, 254}, {200, 10, 90}};

struct Loaded {
    int result;
    std::string raster;
    VrenImageHeader header;
};

// The packed raster a successful call handed back, copied and released.
std::string takeRaster(unsigned char *raster, const VrenImageHeader &header) {
    const size_t size = static_cast<size_t>((header.biWidth + 7) / 8) * static_cast<uint32_t>(header.biHeight);
    std::string bytes(reinterpret_cast<const char *>(raster), size);
    std::free(raster);
    return bytes;
}

Loaded load(const std::string &path, int32_t width = 0) {
    unsigned char *raster = nullptr;
    VrenImageHeader header{};
    Loaded loaded{loadImage(path.c_str(), &raster, &header, width), {}, header};
    if (loaded.result == 0)
        loaded.raster = takeRaster(raster, header);
    return loaded;
}

Loaded load1(const std::string &path) {
    unsigned char *raster = nullptr;
    VrenImageHeader header{};
    Loaded loaded{loadImage1(path.c_str(), &raster, &header), {}, header};
    if (loaded.result == 0)
        loaded.raster = takeRaster(raster, header);
    return loaded;
}

// What resizeImage itself makes of `picture` scaled to `width`: the expected
// result of a load that scales.
Loaded scaledByResizeImage(const Picture &picture, int32_t width) {
    std::vector<unsigned char> dots;
    for (const Rgb c : picture.pixels)
        dots.push_back(c == kWhite ? 0 : 1);
    Loaded scaled{0, {}, {}};
    scaled.header.biWidth = static_cast<int32_t>(picture.width);
    scaled.header.biHeight = static_cast<int32_t>(picture.height);
    unsigned char *raster = nullptr;
    scaled.result = resizeImage(dots.data(), &raster, width, &scaled.header);
    if (scaled.result == 0)
        scaled.raster = takeRaster(raster, scaled.header);
    return scaled;
}

std::set<std::string> filesIn(const std::string &directory) {
    std::set<std::string> names;
    if (DIR *dir = opendir(directory.c_str())) {
        while (const dirent *entry = readdir(dir))
            names.insert(entry->d_name);
        closedir(dir);
    }
    names.erase(".");
    names.erase("..");
    names.erase("VRENLinuxSDKLog.txt");
    return names;
}

// The directory's names before a load, and whether a read of the load found
// them changed (see gOnRead).
std::set<std::string> gNamesBeforeRead;
bool gNamesChangedWhileRead = false;

void noteNamesOnRead() {
    if (filesIn(".") != gNamesBeforeRead)
        gNamesChangedWhileRead = true;
}

bool logHas(const std::vector<std::string> &messages, const std::string &message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

using LoadImageTest = LibraryTest;

// ---------------------------------------------------------------------------
// Decoding of files the tests write themselves.

struct DecodeRow {
    unsigned bits;
    uint32_t width, height;
    std::vector<Rgb> palette;  // empty for 24 bits
    bool topDown;
    uint32_t infoSize;
    bool zeroSizeImage;
};

TEST_F(LoadImageTest, DecodesEveryDepthToTheDotRule) {
    std::vector<Rgb> palette256 = kColours;
    for (int i = 0; palette256.size() < 256; ++i)
        palette256.push_back({static_cast<unsigned char>(i), 7, 7});
    std::vector<Rgb> blackFirst256 = palette256;
    std::swap(blackFirst256[0], blackFirst256[1]);
    const std::vector<DecodeRow> rows = {
        /* 0 */ {24, 9, 3, {}, false, 40, false},  // stored row 28 bytes, raster rows 2 bytes
        /* 1 */ {24, 1, 1, {}, false, 40, false},
        /* 2 */ {24, 17, 5, {}, true, 40, false},  // top-down
        /* 3 */ {24, 5, 4, {}, false, 40, true},   // biSizeImage 0
        /* 4 */ {24, 8, 0, {}, false, 40, false},  // no rows: empty raster
        /* 5 */ {8, 13, 4, palette256, false, 40, false},      // entry 0 white
        /* 6 */ {8, 13, 4, blackFirst256, false, 40, false},   // entry 0 black
        /* 7 */ {8, 11, 3, palette256, false, 124, false},     // long information header
        /* 8 */ {4, 7, 3, {kColours.begin(), kColours.end()}, false, 40, false},  // odd width
        /* 9 */ {4, 8, 2, {kColours.begin(), kColours.end()}, true, 40, false},
        /* 10 */ {1, 9, 3, {kWhite, kBlack}, false, 40, false},
        /* 11 */ {1, 9, 3, {kBlack, kWhite}, false, 40, false},  // the 0 bits print
        /* 12 */ {1, 33, 2, {kWhite, kBlack}, true, 40, false},
        /* 13 */ {8, 4, 0, palette256, false, 40, false},  // no rows: the colour table ends the file
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const DecodeRow &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        const std::vector<Rgb> colours =
            row.bits == 1 ? std::vector<Rgb>{kWhite, kBlack}
                          : std::vector<Rgb>(row.palette.empty() ? kColours.begin() : row.palette.begin(),
                                             row.palette.empty() ? kColours.end() : row.palette.begin() + 6);
        const Picture picture = patternPicture(row.width, row.height, colours, static_cast<unsigned>(i + 1));
        // 1-bit files named *.bmp go through the converter; these are read directly.
        const std::string path = row.bits == 1 ? "picture.img" : "picture.bmp";
        writeFile(path, makeBmp(picture, {row.bits, row.palette, row.topDown, row.infoSize, row.zeroSizeImage}));
        const Loaded loaded = load(path);
        ASSERT_EQ(loaded.result, 0);
        EXPECT_BYTES(expectedRaster(picture), loaded.raster);
        EXPECT_EQ(loaded.header.biWidth, static_cast<int32_t>(row.width));
        EXPECT_EQ(loaded.header.biHeight, static_cast<int32_t>(row.height));
        EXPECT_EQ(loaded.header.biBitCount, row.bits);
        EXPECT_EQ(loaded.header.biSize, row.infoSize);
    }
    EXPECT_FALSE(logHas(logMessages("loadImage"), "CONVERT"));
}

// Pixel rows are read in chunks of whole rows (about 256 KiB, at least one
// row): rows that do not divide the chunk, a last chunk that is partly
// filled, a single row larger than a chunk, in both row orders.
TEST_F(LoadImageTest, DecodesRowsSpanningSeveralChunks) {
    std::vector<Rgb> palette256 = kColours;
    palette256.resize(256, kBlack);
    struct Row {
        unsigned bits;
        uint32_t width, height;
        bool topDown;
    };
    const std::vector<Row> rows = {
        /* 0 */ {24, 1001, 200, false},   // stored row 3004 bytes: 87 rows a chunk, 3 chunks
        /* 1 */ {24, 1001, 200, true},
        /* 2 */ {24, 90001, 3, false},    // stored row 270004 bytes: one row a chunk
        /* 3 */ {24, 90001, 3, true},
        /* 4 */ {8, 1025, 600, false},    // stored row 1028 bytes: 255 rows a chunk
        /* 5 */ {8, 1025, 600, true},
        /* 6 */ {4, 3001, 500, false},    // stored row 1504 bytes: 174 rows a chunk
        /* 7 */ {24, 21846, 9, true},     // stored row 65540 bytes: 3 rows a chunk
        /* 8 */ {24, 0, 100000, false},   // rows of no bytes: nothing to read, empty raster
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        const Picture picture = patternPicture(row.width, row.height, kColours, static_cast<unsigned>(i + 7));
        BmpOptions options;
        options.bits = row.bits;
        options.topDown = row.topDown;
        if (row.bits != 24)
            options.palette = row.bits == 8 ? palette256 : std::vector<Rgb>(kColours);
        writeFile("large.bmp", makeBmp(picture, options));
        const Loaded loaded = load("large.bmp");
        ASSERT_EQ(loaded.result, 0);
        EXPECT_EQ(loaded.raster, expectedRaster(picture));  // no hex dump of a megabyte
        EXPECT_EQ(loaded.header.biHeight, static_cast<int32_t>(row.height));
    }
}

// Scaling from a file of several chunks: the pixels handed to the scaler are
// the picture's, top row first, as resizeImage itself scales them.
TEST_F(LoadImageTest, ScalesFilesOfSeveralChunks) {
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        const Picture picture = patternPicture(1001, 200, {kWhite, kBlack, kWhite}, topDown ? 3 : 4);
        BmpOptions options;
        options.topDown = topDown;
        writeFile("scaled.bmp", makeBmp(picture, options));
        const Loaded expected = scaledByResizeImage(picture, 333);
        ASSERT_EQ(expected.result, 0);

        const Loaded loaded = load("scaled.bmp", 333);
        ASSERT_EQ(loaded.result, 0);
        EXPECT_EQ(loaded.header.biWidth, expected.header.biWidth);
        EXPECT_EQ(loaded.header.biHeight, expected.header.biHeight);
        EXPECT_EQ(loaded.raster, expected.raster);
    }
}

// Scaled up far enough (to at least twice the width), the last source column
// is sampled: the pixels of each row's last, partly filled byte reach the
// scaler like all the others, at every depth.
TEST_F(LoadImageTest, ScalingSamplesTheLastPartialByte) {
    struct Row {
        unsigned bits;
        uint32_t width, height;
        int32_t target;
    };
    const std::vector<Row> rows = {
        /* 0 */ {24, 9, 3, 20},
        /* 1 */ {8, 13, 2, 30},
        /* 2 */ {4, 7, 2, 16},
        /* 3 */ {1, 9, 3, 17},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        Picture picture = patternPicture(row.width, row.height, {kWhite, kBlack}, static_cast<unsigned>(i + 2));
        for (uint32_t y = 0; y < row.height; ++y)
            picture.pixels[static_cast<size_t>(y) * row.width + row.width - 1] = kBlack;
        BmpOptions options;
        options.bits = row.bits;
        if (row.bits != 24)
            options.palette = {kWhite, kBlack};
        // 1-bit files named *.bmp go through the converter; this one is read directly.
        const std::string path = row.bits == 1 ? "narrow.img" : "narrow.bmp";
        writeFile(path, makeBmp(picture, options));

        const Loaded expected = scaledByResizeImage(picture, row.target);
        ASSERT_EQ(expected.result, 0);

        const Loaded loaded = load(path, row.target);
        ASSERT_EQ(loaded.result, 0);
        EXPECT_EQ(loaded.header.biWidth, row.target);
        EXPECT_EQ(loaded.header.biHeight, expected.header.biHeight);
        EXPECT_BYTES(expected.raster, loaded.raster);
    }
}

// A file larger than 2 GiB is refused before anything is read; one of 2 GiB
// less a byte (a small image followed by a sparse tail) is read.
TEST_F(LoadImageTest, FilesOverTwoGibibytesAreRefused) {
    const Picture picture = patternPicture(5, 3, kColours);
    struct Row {
        off_t size;
        int result;
    };
    const std::vector<Row> rows = {
        /* 0 */ {INT32_MAX, 0},
        /* 1 */ {off_t{INT32_MAX} + 1, VREN_E_IMAGE_FORMAT},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        writeFile("huge.img", makeBmp(picture));
        ASSERT_EQ(truncate("huge.img", rows[i].size), 0);
        markLog();
        const Loaded loaded = load("huge.img");
        unlink("huge.img");
        EXPECT_EQ(loaded.result, rows[i].result);
        if (loaded.result == 0) {
            EXPECT_BYTES(expectedRaster(picture), loaded.raster);
        } else {
            EXPECT_EQ(logMessages("loadImage"), std::vector<std::string>{"Image file is too large."});
        }
    }
}

// A file that shrinks after its size was taken at open: the loader reads
// only what is there, refuses the file with the line of a file too short,
// and hands nothing back.
TEST_F(LoadImageTest, FileThatShrinksWhileReadIsRefused) {
    std::vector<Rgb> palette256 = kColours;
    palette256.resize(256, kBlack);
    const Picture bigPicture = patternPicture(1001, 200, kColours);
    const std::string big24 = makeBmp(bigPicture);  // 3 chunks of rows
    const std::string small8 = makeBmp(patternPicture(5, 3, kColours), paletted(8, palette256));
    struct Row {
        std::string bytes;
        long long readAt;  // the first read at or past this offset finds the file cut
        long long cutTo;
        std::string logLine;
    };
    const long long chunk = 87 * 3004;
    const std::vector<Row> rows = {
        /* 0 */ {big24, 54, 54 + 10, "Pixel data runs past the end of the file."},  // before the first row
        /* 1 */ {big24, 54 + chunk, 54 + chunk + 3004, "Pixel data runs past the end of the file."},
        /* 2 */ {big24, 54 + 2 * chunk, 54 + 2 * chunk, "Pixel data runs past the end of the file."},
        /* 3 */ {big24, 54 + 2 * chunk, static_cast<long long>(big24.size()) - 1, "Pixel data runs past the end of the file."},
        /* 4 */ {big24, 0, 30, "Image file is shorter than its headers."},
        /* 5 */ {big24, 0, 1, "This is not BMP file."},
        /* 6 */ {small8, 54, 54 + 100, "Colour table runs past the end of the file."},
        /* 7 */ {small8, 54, 54 + 1024, "Pixel data runs past the end of the file."},  // whole table, no rows
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        writeFile("shrinks.img", rows[i].bytes);
        shrinkFileOnReadAt(rows[i].readAt, rows[i].cutTo);
        unsigned char *raster = nullptr;
        VrenImageHeader header{};
        EXPECT_EQ(loadImage("shrinks.img", &raster, &header, i % 2 == 0 ? 0 : 500), VREN_E_IMAGE_FORMAT);
        EXPECT_EQ(raster, nullptr);
        EXPECT_EQ(logMessages("loadImage").back(), rows[i].logLine);
        shrinkFileOnReadAt(-1, 0);
        EXPECT_EQ(readFile("shrinks.img").size(), static_cast<size_t>(rows[i].cutTo)) << "the file was not cut";
    }
    // Cut after the rows (trailing bytes only): nothing the image needs is missing.
    writeFile("shrinks.img", big24 + "tail");
    shrinkFileOnReadAt(54, static_cast<long long>(big24.size()));
    const Loaded cut = load("shrinks.img");
    ASSERT_EQ(cut.result, 0);
    EXPECT_EQ(cut.raster, expectedRaster(bigPicture));
}

TEST_F(LoadImageTest, LoadImage1DecodesOneBitFilesAndRefusesThirtyTwo) {
    const Picture picture = patternPicture(10, 3, {kWhite, kBlack});
    writeFile("mono.bmp", makeBmp(picture, paletted(1, {kBlack, kWhite})));
    const Loaded loaded = load1("mono.bmp");
    ASSERT_EQ(loaded.result, 0);
    EXPECT_BYTES(expectedRaster(picture), loaded.raster);
    EXPECT_FALSE(logHas(logMessages("loadImage1"), "CONVERT"));

    // The colour table follows the information header whatever its size (a
    // fixed offset of 54 would read a longer header's own fields as colours).
    std::vector<Rgb> palette(kColours);
    palette.resize(256, kWhite);
    const Picture coloured = patternPicture(11, 3, kColours, 4);
    writeFile("v5.bmp", makeBmp(coloured, {8, palette, false, 124, false}));
    const Loaded v5 = load1("v5.bmp");
    ASSERT_EQ(v5.result, 0);
    EXPECT_BYTES(expectedRaster(coloured), v5.raster);
    EXPECT_EQ(logMessages("loadImage1").back(), "success");

    std::string wide = makeBmp(patternPicture(2, 2, kColours));
    put16(wide, 28, 32);
    writeFile("wide.bmp", wide);
    EXPECT_EQ(load1("wide.bmp").result, VREN_E_IMAGE_FORMAT);
    EXPECT_TRUE(logHas(logMessages("loadImage1"), "This is not supported bit image."));
}

TEST_F(LoadImageTest, GetImageBitReportsTheDepth) {
    struct Row {
        std::string bytes;
        int expected;
    };
    std::string depth16 = makeBmp(patternPicture(2, 2, kColours));
    put16(depth16, 28, 16);
    std::string depth280 = depth16;
    put16(depth280, 28, 280);
    const std::vector<Row> rows = {
        /* 0 */ {makeBmp(patternPicture(2, 2, kColours)), 24},
        /* 1 */ {depth16, 16},
        /* 2 */ {"BM" + std::string(28, '\0'), 0},  // just long enough
        /* 3 */ {"BM" + std::string(27, '\0'), VREN_E_IMAGE_FORMAT},
        /* 4 */ {"PNG", VREN_E_IMAGE_FORMAT},
        /* 5 */ {"", VREN_E_IMAGE_FORMAT},
        /* 6 */ {depth280, 280},  // both bytes of the field
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        writeFile("probe.bmp", rows[i].bytes);
        EXPECT_EQ(GetImageBit("probe.bmp"), rows[i].expected) << "row " << i;
    }
    // A 16-bit file named *.bmp is probed, not converted, and refused.
    writeFile("depth16.bmp", depth16);
    markLog();
    unsigned char *raster = nullptr;
    VrenImageHeader header{};
    EXPECT_EQ(loadImage("depth16.bmp", &raster, &header, 0), VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(logMessages("loadImage"), std::vector<std::string>{"This is not supported bit image."});
    put32(depth16, 30, 3);  // with bit-field masks, as 16-bit files often are: still no conversion
    writeFile("depth16.bmp", depth16);
    markLog();
    EXPECT_EQ(loadImage("depth16.bmp", &raster, &header, 0), VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(logMessages("loadImage"), std::vector<std::string>{"This is not supported bit image."});
    EXPECT_EQ(GetImageBit("missing.bmp"), VREN_E_IMAGE_OPEN);
    EXPECT_EQ(GetImageBit(nullptr), VREN_E_IMAGE_OPEN);

    // A failed probe of loadImage is returned unchanged, with the probe's
    // own record under its tag and none of the loader's.
    writeFile("text.bmp", "PNG");
    struct ProbeRow {
        std::string path;
        int result;
        std::string record;
    };
    const std::vector<ProbeRow> probes = {
        /* 0 */ {"missing.bmp", VREN_E_IMAGE_OPEN, "Failed to open image file."},
        /* 1 */ {"text.bmp", VREN_E_IMAGE_FORMAT, "This is not BMP file."},
    };
    for (size_t i = 0; i < probes.size(); ++i) {
        SCOPED_TRACE("probe row " + std::to_string(i));
        markLog();
        EXPECT_EQ(GetImageBit(probes[i].path.c_str()), probes[i].result);
        EXPECT_EQ(logMessages("GetImageBit"), std::vector<std::string>{probes[i].record});
        markLog();
        EXPECT_EQ(load(probes[i].path).result, probes[i].result);
        EXPECT_EQ(logMessages("GetImageBit"), std::vector<std::string>{probes[i].record});
        EXPECT_TRUE(logMessages("loadImage").empty());
    }
}

// ---------------------------------------------------------------------------
// Files that lie about themselves: refused, never read past their end.

TEST_F(LoadImageTest, RefusesTruncatedAndLyingFiles) {
    const std::string good24 = makeBmp(patternPicture(4, 2, kColours));  // stored rows of 12 bytes
    std::vector<Rgb> palette(kColours);
    palette.resize(256, kBlack);
    const std::string good8 = makeBmp(patternPicture(4, 2, kColours), paletted(8, palette));
    auto with32 = [](std::string bytes, size_t at, uint32_t value) {
        put32(bytes, at, value);
        return bytes;
    };
    auto with16 = [](std::string bytes, size_t at, uint32_t value) {
        put16(bytes, at, value);
        return bytes;
    };
    struct Row {
        std::string bytes;
        std::string logLine;
    };
    const std::vector<Row> rows = {
        /* 0 */ {"BN" + good24.substr(2), "This is not BMP file."},
        /* 1 */ {"", "This is not BMP file."},
        /* 2 */ {good24.substr(0, 53), "Image file is shorter than its headers."},
        /* 3 */ {with16(good24, 28, 16), "This is not supported bit image."},
        /* 4 */ {with16(good24, 28, 32), "This is not supported bit image."},
        /* 5 */ {with32(good8, 14, 12), "Unsupported BMP header size."},  // the table would lie in the header
        /* 6 */ {with32(good8, 30, 1), "Compressed BMP files are not supported."},
        /* 7 */ {with32(good24, 18, 0xFFFFFFFF), "Invalid image size : -1 x 2"},
        /* 8 */ {with32(good24, 22, 0x80000000), "Invalid image size : 4 x -2147483648"},
        /* 9 */ {good24.substr(0, good24.size() - 1), "Pixel data runs past the end of the file."},
        /* 10 */ {with32(good24, 10, static_cast<uint32_t>(good24.size()) - 23), "Pixel data runs past the end of the file."},
        /* 11 */ {with32(good24, 10, 0xFFFFFFF0), "Pixel data runs past the end of the file."},
        /* 12 */ {with32(good24, 34, 23), "Image size is smaller than its rows need."},
        /* 13 */ {with32(good8, 14, 0x7FFFFFF0), "Colour table runs past the end of the file."},
        /* 14 */ {good8.substr(0, 54 + 1000), "Colour table runs past the end of the file."},
        /* 15 */ {with32(with32(with32(good24, 34, 0), 18, 0x7FFFFFFF), 22, 0x7FFFFFFF), "Pixel data runs past the end of the file."},
        /* 16 */ {with32(with32(with32(good24, 34, 0), 18, 0x40000000), 22, 0xC0000000), "Pixel data runs past the end of the file."},
        /* 17 */ {with32(with32(good8, 34, 0), 22, 0x7FFFFFFF), "Pixel data runs past the end of the file."},
        // The depth is judged on what the file holds before its length is.
        /* 18 */ {with16(good24, 28, 16).substr(0, 40), "This is not supported bit image."},
        /* 19 */ {with16(good24, 28, 24).substr(0, 40), "Image file is shorter than its headers."},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const std::string name = "bad" + std::to_string(i) + ".img";
        writeFile(name, rows[i].bytes);
        const Loaded loaded = load(name);
        EXPECT_EQ(loaded.result, VREN_E_IMAGE_FORMAT);
        EXPECT_EQ(logMessages("loadImage").back(), rows[i].logLine);
    }
}

// biSize places the colour table and nothing else: loadImage reads the table
// at 14 + biSize, loadImage1 at 54 or after a longer header. A field below 40
// changes nothing in a true-colour file, and nothing for loadImage1, whose
// table stays at 54; only loadImage would find its table among the header's
// own fields, and refuses the file.
TEST_F(LoadImageTest, HeaderSizeOnlyPlacesTheColourTable) {
    std::vector<Rgb> palette(kColours);
    palette.resize(256, kWhite);
    const Picture picture = patternPicture(6, 3, kColours, 5);
    struct Row {
        unsigned bits;
        uint32_t biSize;  // written over the 40-byte header's field
        int loadImageResult;
        int loadImage1Result;
    };
    const std::vector<Row> rows = {
        /* 0 */ {24, 0, 0, 0},
        /* 1 */ {24, 12, 0, 0},
        /* 2 */ {24, 39, 0, 0},
        /* 3 */ {8, 12, VREN_E_IMAGE_FORMAT, 0},
        /* 4 */ {8, 39, VREN_E_IMAGE_FORMAT, 0},
        /* 5 */ {8, 40, 0, 0},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        std::string file = makeBmp(picture, row.bits == 8 ? paletted(8, palette) : BmpOptions{});
        put32(file, 14, row.biSize);
        writeFile("sized.img", file);
        markLog();
        const Loaded loaded = load("sized.img");
        EXPECT_EQ(loaded.result, row.loadImageResult);
        if (loaded.result == 0) {
            EXPECT_BYTES(expectedRaster(picture), loaded.raster);
        } else {
            EXPECT_EQ(logMessages("loadImage"), std::vector<std::string>{"Unsupported BMP header size."});
        }
        const Loaded loaded1 = load1("sized.img");
        ASSERT_EQ(loaded1.result, row.loadImage1Result);
        EXPECT_BYTES(expectedRaster(picture), loaded1.raster);
        EXPECT_EQ(loaded1.header.biSize, row.biSize);
    }
}

TEST_F(LoadImageTest, ShortPaletteCountsOnlyWhatTheFileDeclares) {
    // biClrUsed 6 of 256: the six entries are in the file, the rest of the full
    // table would run past its end (here the pixels follow right after).
    Picture picture = patternPicture(4, 2, kColours);
    std::string file = makeBmp(picture, paletted(8, kColours));
    const size_t pixelOffset = 14 + 40 + 256 * 4;
    file = file.substr(0, 14 + 40 + 6 * 4) + file.substr(pixelOffset);
    put32(file, 10, 14 + 40 + 6 * 4);
    put32(file, 46, 6);
    // An index past what the file holds reads a zero-filled entry: black, a dot.
    file[14 + 40 + 6 * 4] = static_cast<char>(200);  // bottom row, column 0
    picture.pixels[4] = kBlack;
    writeFile("short.img", file);
    const Loaded loaded = load("short.img");
    ASSERT_EQ(loaded.result, 0);
    EXPECT_BYTES(expectedRaster(picture), loaded.raster);
}

TEST_F(LoadImageTest, HeaderIsFilledEvenWhenALaterStepFails) {
    std::string file = makeBmp(patternPicture(4, 2, kColours));
    writeFile("cut.img", file.substr(0, file.size() - 4));
    const Loaded loaded = load("cut.img");
    EXPECT_EQ(loaded.result, VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(loaded.header.biWidth, 4);
    EXPECT_EQ(loaded.header.biBitCount, 24);
}

TEST_F(LoadImageTest, UnreadablePathsFailToOpen) {
    mkdir("folder.img", 0700);
    mkfifo("pipe.img", 0600);  // would block a reader that does not check
    for (const std::string path : {"missing.img", "folder.img", "pipe.img"}) {
        EXPECT_EQ(load(path).result, VREN_E_IMAGE_OPEN) << path;
        EXPECT_EQ(logMessages("loadImage").back(), "Failed to open image file.") << path;
    }
    unsigned char *raster = nullptr;
    VrenImageHeader header{};
    markLog();
    EXPECT_EQ(loadImage(nullptr, &raster, &header, 0), VREN_E_IMAGE_OPEN);
    EXPECT_EQ(logMessages("loadImage"), std::vector<std::string>{"Failed to open image file."});
    writeFile("x.img", makeBmp(patternPicture(3, 3, kColours)));
    EXPECT_EQ(loadImage("x.img", nullptr, &header, 0), VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(loadImage("x.img", &raster, nullptr, 0), VREN_E_IMAGE_FORMAT);
}

TEST_F(LoadImageTest, ExtensionsDecideWhatIsConverted) {
    const std::string bmp = makeBmp(patternPicture(3, 3, kColours));
    mkdir("a", 0700);
    mkdir("a/b.c", 0700);
    writeFile("a/b.c/logo", bmp);  // extension "c/logo": read as it is
    EXPECT_EQ(load("a/b.c/logo").result, 0);
    writeFile("logo.BMP", bmp);  // not "bmp": no probe
    EXPECT_EQ(load("logo.BMP").result, 0);
    // Three characters decide: "bmz" is no "bmp" (a 1-bit file is decoded
    // directly), and the extension is the text after the last '.'.
    writeFile("mono.bmz", makeBmp(patternPicture(9, 2, {kWhite, kBlack}), paletted(1, {kWhite, kBlack})));
    EXPECT_EQ(load("mono.bmz").result, 0);
    writeFile("photo.jpg.img", bmp);
    EXPECT_EQ(load("photo.jpg.img").result, 0);
    EXPECT_TRUE(logMessages("GetImageBit").empty());
    EXPECT_FALSE(logHas(logMessages("loadImage"), "CONVERT"));
    // A JPEG whose extension is not "jpg" is read as a BMP file.
    ASSERT_TRUE(imageMagick({"-size", "4x4", "xc:black", "photo.JPG"}));
    EXPECT_EQ(load("photo.JPG").result, VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(logMessages("loadImage").back(), "This is not BMP file.");
}

// ---------------------------------------------------------------------------
// Scaling on request.

TEST_F(LoadImageTest, ScalesOnlyWhenTheTargetDiffers) {
    const Picture picture = patternPicture(20, 10, {kBlack});
    writeFile("black.bmp", makeBmp(picture));
    for (const int32_t width : {0, 20}) {
        const Loaded loaded = load("black.bmp", width);
        ASSERT_EQ(loaded.result, 0);
        EXPECT_BYTES(expectedRaster(picture), loaded.raster);
    }
    EXPECT_FALSE(logHas(logMessages("loadImage"), "resize image."));

    const Loaded half = load("black.bmp", 10);
    ASSERT_EQ(half.result, 0);
    EXPECT_EQ(half.header.biWidth, 10);
    EXPECT_EQ(half.header.biHeight, 5);
    EXPECT_BYTES(std::string("\xFF\xC0\xFF\xC0\xFF\xC0\xFF\xC0\xFF\xC0", 10), half.raster);
    EXPECT_EQ(logMessages("loadImage"), (std::vector<std::string>{"success", "success", "pixel index : 200",
                                                                   "resize image.", "success"}));

    EXPECT_EQ(load("black.bmp", -5).result, VREN_E_IMAGE_FORMAT);
}

// ---------------------------------------------------------------------------
// Files converted by ImageMagick.

class ConvertTest : public LoadImageTest {
protected:
    // Loads with loadImage and compares with ImageMagick's own reading of the file.
    void expectLikeImageMagick(const std::string &path, uint32_t width, uint32_t height) {
        const auto before = filesIn(".");
        const Loaded loaded = load(path);
        ASSERT_EQ(loaded.result, 0) << path;
        EXPECT_BYTES(expectedRaster(pictureByImageMagick(path, width, height)), loaded.raster);
        EXPECT_EQ(filesIn("."), before) << "the temporary image must be gone";
    }
};

TEST_F(ConvertTest, ImageMagickFilesOfEveryKind) {
    std::vector<Rgb> many(kColours);
    for (unsigned char i = 0; i < 30; ++i)
        many.push_back({i, static_cast<unsigned char>(255 - i), 40});
    writeFile("few.ppm", makePpm(patternPicture(13, 7, kColours)));
    writeFile("many.ppm", makePpm(patternPicture(21, 6, many)));
    struct Row {
        std::vector<std::string> arguments;
        std::string output;
        uint32_t width, height;
        bool converted;
    };
    const std::vector<Row> rows = {
        /* 0 */ {{"few.ppm", "-type", "Palette"}, "BMP3:p4.bmp", 13, 7, false},           // 4 bits
        /* 1 */ {{"many.ppm", "-type", "Palette", "-compress", "None"}, "BMP3:p8.bmp", 21, 6, false},          // 8 bits
        /* 2 */ {{"few.ppm", "-type", "TrueColor"}, "BMP3:t24.bmp", 13, 7, false},
        /* 3 */ {{"few.ppm", "-type", "Palette"}, "BMP:v5.bmp", 13, 7, false},            // 124-byte header
        /* 4 */ {{"few.ppm", "-type", "Bilevel"}, "BMP3:b1.bmp", 13, 7, true},            // 1 bit
        /* 5 */ {{"few.ppm", "-type", "TrueColorAlpha"}, "BMP:a32.bmp", 13, 7, true},     // 32 bits
        /* 6 */ {{"many.ppm", "-type", "Palette", "-compress", "RLE"}, "BMP3:rle8.bmp", 21, 6, true},
        /* 7 */ {{"few.ppm", "-quality", "60"}, "photo.jpg", 13, 7, true},
        /* 8 */ {{"few.ppm"}, "icon.gif", 13, 7, true},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        std::vector<std::string> arguments = rows[i].arguments;
        arguments.push_back(rows[i].output);
        ASSERT_TRUE(imageMagick(arguments));
        const std::string path = rows[i].output.substr(rows[i].output.find(':') + 1);
        markLog();
        expectLikeImageMagick(path, rows[i].width, rows[i].height);
        const std::vector<std::string> log = rows[i].converted
                                                 ? std::vector<std::string>{"CONVERT", "delete the converted file", "success"}
                                                 : std::vector<std::string>{"success"};
        EXPECT_EQ(logMessages("loadImage"), log);
        EXPECT_TRUE(logMessages("GetImageBit").empty());
    }
}

// The converted image is decoded from its descriptor after its name is
// removed: a large one (rows over several chunks) still decodes whole, and
// one that shrinks while read fails with no temporary file left.
TEST_F(ConvertTest, ConvertedFileIsDecodedAfterItsNameIsGone) {
    writeFile("big.ppm", makePpm(patternPicture(1001, 150, kColours)));
    ASSERT_TRUE(imageMagick({"big.ppm", "big.gif"}));
    markLog();
    expectLikeImageMagick("big.gif", 1001, 150);
    EXPECT_EQ(logMessages("loadImage"), (std::vector<std::string>{"CONVERT", "delete the converted file", "success"}));

    // While the loader reads, no name of the temporary image is left.
    gNamesBeforeRead = filesIn(".");
    gNamesChangedWhileRead = false;
    gOnRead = noteNamesOnRead;
    const Loaded whole = load("big.gif");
    gOnRead = nullptr;
    ASSERT_EQ(whole.result, 0);
    EXPECT_FALSE(gNamesChangedWhileRead) << "the temporary image still had its name while it was read";

    markLog();
    const auto before = filesIn(".");
    shrinkFileOnReadAt(54 + 87 * 3004, 54 + 87 * 3004 + 5);
    const Loaded loaded = load("big.gif");
    shrinkFileOnReadAt(-1, 0);
    EXPECT_EQ(loaded.result, VREN_E_IMAGE_FORMAT);
    EXPECT_EQ(logMessages("loadImage"), (std::vector<std::string>{"CONVERT", "delete the converted file",
                                                                   "Pixel data runs past the end of the file."}));
    EXPECT_EQ(filesIn("."), before);
}

TEST_F(ConvertTest, LoadImage1ConvertsToMonochrome) {
    writeFile("few.ppm", makePpm(patternPicture(13, 7, kColours)));
    ASSERT_TRUE(imageMagick({"few.ppm", "photo.jpg"}));
    ASSERT_TRUE(imageMagick({"photo.jpg", "-monochrome", "mono.ppm"}));
    const Loaded loaded = load1("photo.jpg");
    ASSERT_EQ(loaded.result, 0);
    EXPECT_BYTES(expectedRaster(pictureByImageMagick("mono.ppm", 13, 7)), loaded.raster);
    EXPECT_EQ(logMessages("loadImage1"), (std::vector<std::string>{"CONVERT", "delete the converted file", "success"}));
}

// The converter reads nothing of the application's standard input: a
// stand-in that writes its output only when its input ends at once.
TEST_F(ConvertTest, ConverterGetsNoStandardInput) {
    writeFile("logo.jpg", "not really a JPEG: the stand-in converter never reads it");
    const Picture picture = patternPicture(7, 3, kColours);
    writeFile("prepared.bmp", makeBmp(picture));
    mkdir("bin", 0700);
    writeFile("bin/convert", "#!/bin/sh\nfor last; do :; done\nread -r line && exit 0\ncp '" + directory_ +
                                 "/prepared.bmp' \"$last\"\n");
    chmod("bin/convert", 0700);
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    const std::string typed = "typed by the user\n";
    ASSERT_EQ(write(input[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    const int savedInput = dup(STDIN_FILENO);
    ASSERT_GE(savedInput, 0);
    ASSERT_EQ(dup2(input[0], STDIN_FILENO), STDIN_FILENO);
    const std::string path = std::getenv("PATH");
    setenv("PATH", (directory_ + "/bin:" + path).c_str(), 1);
    const Loaded loaded = load("logo.jpg");
    setenv("PATH", path.c_str(), 1);
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);
    close(input[1]);
    const std::string left = readFile("/proc/self/fd/" + std::to_string(input[0]));
    close(input[0]);
    EXPECT_EQ(loaded.result, 0);
    if (loaded.result == 0) {
        EXPECT_BYTES(expectedRaster(picture), loaded.raster);
    }
    EXPECT_EQ(left, typed) << "the application's input was read";
}

// A wrapper around the real convert on PATH that records its arguments.
class RecordedConvertTest : public ConvertTest {
protected:
    void SetUp() override {
        ConvertTest::SetUp();
        previousPath_ = std::getenv("PATH");
        std::string real;
        for (size_t start = 0; start <= previousPath_.size();) {
            const size_t end = std::min(previousPath_.find(':', start), previousPath_.size());
            const std::string candidate = previousPath_.substr(start, end - start) + "/convert";
            if (access(candidate.c_str(), X_OK) == 0) {
                real = candidate;
                break;
            }
            start = end + 1;
        }
        ASSERT_FALSE(real.empty());
        mkdir((directory_ + "/bin").c_str(), 0700);
        const std::string wrapper = directory_ + "/bin/convert";
        writeFile(wrapper, "#!/bin/sh\nprintf '%s\\n' \"$@\" -- >> '" + directory_ + "/bin/arguments'\nexec '" + real +
                               "' \"$@\"\n");
        chmod(wrapper.c_str(), 0700);
        setenv("PATH", (directory_ + "/bin:" + previousPath_).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", previousPath_.c_str(), 1);
        ConvertTest::TearDown();
    }
    // Every recorded call, one argument a line, each call ending in "--".
    std::string arguments() { return readFile(directory_ + "/bin/arguments"); }
    void forgetArguments() { std::remove((directory_ + "/bin/arguments").c_str()); }
    std::string firstCall() {
        const std::string all = arguments();
        return all.substr(0, all.find("--\n"));
    }

    std::string previousPath_;
};

TEST_F(RecordedConvertTest, ShellMetacharactersAreOneArgumentAndRunNothing) {
    writeFile("few.ppm", makePpm(patternPicture(13, 7, kColours)));
    const std::string name = "a b 'c\" ;$(touch made1) `touch made2` | touch made3 & x.gif";
    ASSERT_TRUE(imageMagick({"few.ppm", name}));
    forgetArguments();
    expectLikeImageMagick(name, 13, 7);
    const std::string temporary = "a b 'c\" ;$(touch made1) `touch made2` | touch made3 & x.temp1sa3.bmp";
    EXPECT_EQ(firstCall(), "-type\nTrueColor\n./" + name + "[0]\n./" + temporary + "\n");
    for (const char *marker : {"made1", "made2", "made3"})
        EXPECT_FALSE(exists(marker)) << marker;
}

TEST_F(RecordedConvertTest, NamesTheConverterWouldReadAsItsOwnSyntax) {
    writeFile("few.ppm", makePpm(patternPicture(5, 3, kColours)));
    // "png:" is a format prefix and '%' a frame number to the converter.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"png:logo.gif", "GIF:./png:logo.gif"},
        {"x%d.gif", "GIF:x%%d.gif"},
        {"tail.gifabcdefghijklmnop", "GIF:tail.gifabcdefghijklmnop"},
        {"logo.v2.gif", "GIF:logo.v2.gif"},  // the last '.' names the temporary image
    };
    for (const auto &[name, output] : names) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(imageMagick({"few.ppm", output}));
        ASSERT_TRUE(exists(name));
        expectLikeImageMagick(name, 5, 3);
    }
    EXPECT_NE(arguments().find("./x%%d.gif[0]\n./x%%d.temp1sa3.bmp\n"), std::string::npos);
    // An extension longer than the suffix does not leave a tail after ".bmp".
    EXPECT_NE(arguments().find("./tail.temp1sa3.bmp\n"), std::string::npos);
    EXPECT_NE(arguments().find("./logo.v2.gif[0]\n./logo.v2.temp1sa3.bmp\n"), std::string::npos);
    forgetArguments();
    // The first frame of an animation, and no numbered files left behind.
    ASSERT_TRUE(imageMagick({"-size", "6x6", "xc:black", "xc:white", "anim.gif"}));
    expectLikeImageMagick("anim.gif", 6, 6);
}

// An absolute path goes to the converter as it is. A name ending in ']' is
// given literally: the converter reads such a name as it stands when the file
// exists, and a frame selector after it would make it look for another name.
TEST_F(RecordedConvertTest, AbsolutePathsAndNamesEndingInABracket) {
    writeFile("few.ppm", makePpm(patternPicture(5, 3, kColours)));
    ASSERT_TRUE(imageMagick({"few.ppm", "logo.gif"}));
    const Picture picture = pictureByImageMagick("logo.gif", 5, 3);
    const std::string absolute = directory_ + "/logo.gif";
    ASSERT_EQ(absolute[0], '/');
    forgetArguments();
    expectLikeImageMagick(absolute, 5, 3);
    EXPECT_EQ(firstCall(), "-type\nTrueColor\n" + absolute + "[0]\n" + directory_ + "/logo.temp1sa3.bmp\n");

    ASSERT_EQ(std::rename("logo.gif", "logo.gif[1]"), 0);
    forgetArguments();
    const auto before = filesIn(".");
    const Loaded loaded = load("logo.gif[1]");
    ASSERT_EQ(loaded.result, 0);
    EXPECT_BYTES(expectedRaster(picture), loaded.raster);
    EXPECT_EQ(firstCall(), "-type\nTrueColor\n./logo.gif[1]\n-delete\n1--1\n./logo.temp1sa3.bmp\n");
    EXPECT_EQ(filesIn("."), before) << "the temporary image must be gone";
}

// An image of several frames whose name ends in ']' is still written as one
// image into the temporary file: no numbered files appear beside it, and a
// file of the user's at such a name is left alone.
TEST_F(RecordedConvertTest, SeveralFramesBehindANameEndingInABracket) {
    ASSERT_TRUE(imageMagick({"-size", "6x6", "xc:black", "xc:white", "anim.gif"}));
    ASSERT_EQ(std::rename("anim.gif", "anim.gif[1]"), 0);
    writeFile("anim.temp1sa3-0.bmp", "the user's");
    const auto before = filesIn(".");
    const Loaded loaded = load("anim.gif[1]");
    EXPECT_EQ(loaded.result, 0);
    EXPECT_EQ(loaded.raster, std::string(6, '\xFC'));
    EXPECT_EQ(readFile("anim.temp1sa3-0.bmp"), "the user's");
    EXPECT_EQ(filesIn("."), before) << "files left behind";
}

// A source that cannot be read is never handed to the converter: a missing
// file, a directory, or a FIFO, on which the converter would wait for a writer.
TEST_F(RecordedConvertTest, SourceThatCannotBeReadIsNeverConverted) {
    mkdir("folder.gif", 0700);
    mkfifo("pipe.gif", 0600);
    for (const std::string path : {"missing.gif", "folder.gif", "pipe.gif"}) {
        SCOPED_TRACE(path);
        forgetArguments();
        markLog();
        EXPECT_EQ(load(path).result, VREN_E_IMAGE_OPEN);
        EXPECT_EQ(logMessages("loadImage"), (std::vector<std::string>{"CONVERT", "Failed to open image file."}));
        ASSERT_EQ(arguments(), "") << "the converter ran";
    }
}

TEST_F(RecordedConvertTest, NeverWritesThroughWhatIsAlreadyAtTheTemporaryName) {
    writeFile("few.ppm", makePpm(patternPicture(5, 3, kColours)));
    ASSERT_TRUE(imageMagick({"few.ppm", "logo.gif"}));
    writeFile("victim.txt", "keep me");
    ASSERT_EQ(symlink("victim.txt", "logo.temp1sa3.bmp"), 0);
    expectLikeImageMagick("logo.gif", 5, 3);
    EXPECT_EQ(readFile("victim.txt"), "keep me");
    char target[64] = {};
    EXPECT_GT(readlink("logo.temp1sa3.bmp", target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "victim.txt");

    // A file at the name (another conversion of the same source under way).
    unlink("logo.temp1sa3.bmp");
    writeFile("logo.temp1sa3.bmp", "busy");
    forgetArguments();
    expectLikeImageMagick("logo.gif", 5, 3);
    EXPECT_EQ(readFile("logo.temp1sa3.bmp"), "busy");
    const std::string call = firstCall();
    const std::string used = call.substr(call.rfind('\n', call.size() - 2) + 1);
    EXPECT_EQ(used.size(), std::string("./logo.temp1sa3-XXXXXX.bmp\n").size()) << used;
    EXPECT_EQ(used.substr(0, 16), "./logo.temp1sa3-") << used;
    EXPECT_EQ(used.substr(used.size() - 5), ".bmp\n") << used;
}

TEST_F(ConvertTest, ConverterThatWritesNothingGivesOpenFailure) {
    writeFile("few.ppm", makePpm(patternPicture(5, 3, kColours)));
    ASSERT_TRUE(imageMagick({"few.ppm", "logo.jpg"}));
    const std::string path = std::getenv("PATH");
    setenv("PATH", "/nonexistent", 1);
    const auto before = filesIn(".");
    ::testing::internal::CaptureStderr();
    const int result = load("logo.jpg").result;
    const std::string complaint = ::testing::internal::GetCapturedStderr();
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(result, VREN_E_IMAGE_OPEN);
    // Nothing was read, so nothing is reported deleted (the empty file made
    // for the converter is removed all the same). The log has the records of
    // any failed conversion; why it failed goes to the standard error, where
    // a shell that cannot find the program says so.
    const std::vector<std::string> failed = {"CONVERT", "Failed to open image file."};
    EXPECT_EQ(logMessages("loadImage"), failed);
    EXPECT_EQ(complaint, "convert: No such file or directory\n");
    EXPECT_EQ(filesIn("."), before);
    // A temporary name that cannot be made: the open failure, its cause on
    // the standard error.
    const std::string longName = std::string(250, 'n') + ".jpg";  // the temporary name is too long
    ASSERT_TRUE(imageMagick({"few.ppm", "JPEG:" + longName}));
    markLog();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(load(longName).result, VREN_E_IMAGE_OPEN);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string(250, 'n') + ".temp1sa3.bmp: File name too long\n");
    EXPECT_EQ(logMessages("loadImage"), failed);
    unlink(longName.c_str());
    // A source that does not exist is never handed to the converter.
    markLog();
    EXPECT_EQ(load("nothing.jpg").result, VREN_E_IMAGE_OPEN);
    EXPECT_EQ(logMessages("loadImage"), failed);
    EXPECT_FALSE(exists("nothing.temp1sa3.bmp"));
}

// The converter's exit status is not examined: only what it wrote counts.
TEST_F(ConvertTest, ConverterExitStatusIsNotExamined) {
    ASSERT_EQ(connectToVirtualPrinter(), 0);  // a connection the converter must not inherit
    writeFile("logo.jpg", "not really a JPEG: the stand-in converters below never read it");
    const Picture picture = patternPicture(7, 3, kColours);
    writeFile("prepared.bmp", makeBmp(picture));
    mkdir("bin", 0700);
    struct Row {
        std::string script;  // body of the stand-in "convert"; its last argument is the output
        int result;
        std::vector<std::string> records;
    };
    const std::vector<Row> rows = {
        /* 0 */ {"exit 3", VREN_E_IMAGE_OPEN, {"CONVERT", "Failed to open image file."}},
        /* 1 */ {"for last; do :; done; cp '" + directory_ + "/prepared.bmp' \"$last\"; exit 1", 0,
                 {"CONVERT", "delete the converted file", "success"}},
        /* 2 */ {"for last; do :; done; printf 'GIF89a' > \"$last\"; exit 0", VREN_E_IMAGE_FORMAT,
                 {"CONVERT", "delete the converted file", "This is not BMP file."}},
        // Writes its output only when it holds no socket (the printer's).
        /* 3 */ {"for last; do :; done; ls -l /proc/$$/fd | grep -q socket: || cp '" + directory_ +
                     "/prepared.bmp' \"$last\"",
                 0, {"CONVERT", "delete the converted file", "success"}},
        // An output swapped for a symbolic link is not followed.
        /* 4 */ {"for last; do :; done; ln -sf '" + directory_ + "/prepared.bmp' \"$last\"", VREN_E_IMAGE_OPEN,
                 {"CONVERT", "Failed to open image file."}},
        // Writes its output only into the empty private file made for it.
        /* 5 */ {"for last; do :; done; [ -f \"$last\" ] && [ ! -s \"$last\" ] && [ \"$(stat -c %a \"$last\")\" = 600 ] && cp '" +
                     directory_ + "/prepared.bmp' \"$last\"",
                 0, {"CONVERT", "delete the converted file", "success"}},
    };
    const std::string path = std::getenv("PATH");
    setenv("PATH", (directory_ + "/bin:" + path).c_str(), 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        writeFile("bin/convert", "#!/bin/sh\n" + rows[i].script + "\n");
        chmod("bin/convert", 0700);
        const auto before = filesIn(".");
        markLog();
        const Loaded loaded = load("logo.jpg");
        EXPECT_EQ(loaded.result, rows[i].result);
        EXPECT_EQ(logMessages("loadImage"), rows[i].records);
        if (loaded.result == 0) {
            EXPECT_BYTES(expectedRaster(picture), loaded.raster);
        }
        EXPECT_EQ(filesIn("."), before) << "the temporary image must be gone";
    }
    setenv("PATH", path.c_str(), 1);
}

}  // namespace
}  // namespace vren::test
