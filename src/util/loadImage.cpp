// Image loaders: an image file (BMP directly, JPEG, GIF and some BMP files
// through the converter) becomes a 1-bit raster and its image header.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "VrenLabelAPI.h"
#include "bmpDecode.h"
#include "converter.h"
#include "imageFile.h"

namespace {

struct Loader {
    const char *tag;
    // Probe files named *.bmp* and convert the depths the decoder does not take.
    bool probesBmp;
    vren::Conversion conversion;
    vren::ColourTableAt table;
};

constexpr Loader kLoadImage{"loadImage", true, vren::Conversion::TrueColor, vren::ColourTableAt::HeaderEnd};
constexpr Loader kLoadImage1{"loadImage1", false, vren::Conversion::Monochrome, vren::ColourTableAt::HeaderEndOr54};
constexpr const char *kProbeTag = "GetImageBit";

// The text after the last '.', or null when the path has none.
const char *extensionOf(const char *path) noexcept {
    const char *dot = std::strrchr(path, '.');
    return dot != nullptr ? dot + 1 : nullptr;
}

bool extensionStartsWith(const char *extension, const char *prefix) noexcept {
    return extension != nullptr && std::strncmp(extension, prefix, 3) == 0;
}

struct Probe {
    int result;  // 0, or the failure code
    unsigned bits;
    uint32_t compression;
};

// Reads the start of a file for its bit depth and compression.
Probe probeBmp(const char *path) noexcept {
    unsigned char start[vren::kCompressionOffset + 4] = {};
    size_t got = 0;
    if (const int result = vren::readFileStart(path, kProbeTag, start, sizeof start, got); result != VREN_OK)
        return {result, 0, 0};
    if (!vren::hasBmpSignature(start, got)) {
        printDebugLog(kProbeTag, "This is not BMP file.");
        return {VREN_E_IMAGE_FORMAT, 0, 0};
    }
    if (got < vren::kBitCountOffset + 2) {
        printDebugLog(kProbeTag, "Image file is shorter than its headers.");
        return {VREN_E_IMAGE_FORMAT, 0, 0};
    }
    const unsigned bits = start[vren::kBitCountOffset] | start[vren::kBitCountOffset + 1] << 8;
    uint32_t compression = 0;
    if (got >= sizeof start) {
        const unsigned char *field = start + vren::kCompressionOffset;
        compression = field[0] | field[1] << 8 | field[2] << 16 | static_cast<uint32_t>(field[3]) << 24;
    }
    return {VREN_OK, bits, compression};
}

// loadImage converts what its decoder does not take: 1- and 32-bit files,
// and compressed files of the depths it decodes (16-bit files are refused).
bool needsConversion(const Probe &probe) noexcept {
    if (probe.bits == 1 || probe.bits == 32)
        return true;
    return probe.compression != 0 && (probe.bits == 4 || probe.bits == 8 || probe.bits == 24);
}

// Converts the source into a temporary image and opens it for decoding; the
// temporary image's name is gone when this returns (the open descriptor still
// reads its data).
int openConverted(const Loader &loader, const char *path, vren::FileSource &file) {
    printDebugLog(loader.tag, "CONVERT");
    if (!vren::isReadableFile(path)) {
        printDebugLog(loader.tag, "Failed to open image file.");
        return VREN_E_IMAGE_OPEN;
    }
    // A temporary image that cannot be made is one the converter cannot
    // write: the open failure. Its cause goes where the converter's own
    // complaint would have gone, the standard error.
    vren::TemporaryImage temporary;
    const std::string name = vren::temporaryImageName(path);
    if (const int error = temporary.create(name); error != 0) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), std::strerror(error));
        printDebugLog(loader.tag, "Failed to open image file.");
        return VREN_E_IMAGE_OPEN;
    }
    vren::runConverter(loader.conversion, path, temporary.path());
    // The file was created empty: nothing in it means the converter wrote
    // nothing, which is the open failure. Only a file that was opened is
    // reported deleted; the temporary image goes on every path.
    const int result = vren::openImageFile(temporary.path().c_str(), loader.tag, true, file);
    if (result != VREN_OK)
        return result;
    if (file.size() == 0) {
        printDebugLog(loader.tag, "Failed to open image file.");
        return VREN_E_IMAGE_OPEN;
    }
    printDebugLog(loader.tag, "delete the converted file");
    temporary.remove();
    return VREN_OK;
}

int load(const Loader &loader, const char *path, unsigned char **raster, VrenImageHeader *header,
         int32_t targetWidth) {
    if (path == nullptr) {
        printDebugLog(loader.tag, "Failed to open image file.");
        return VREN_E_IMAGE_OPEN;
    }
    if (raster == nullptr || header == nullptr) {
        printDebugLog(loader.tag, "Invalid argument");
        return VREN_E_IMAGE_FORMAT;
    }
    const char *extension = extensionOf(path);
    bool convert = extensionStartsWith(extension, "jpg") || extensionStartsWith(extension, "gif");
    if (loader.probesBmp && extensionStartsWith(extension, "bmp")) {
        const Probe probe = probeBmp(path);
        if (probe.result != VREN_OK)
            return probe.result;
        convert = convert || needsConversion(probe);
    }

    vren::DecodedImage image;
    {
        vren::FileSource file;
        const int opened = convert ? openConverted(loader, path, file) : vren::openImageFile(path, loader.tag, false, file);
        if (opened != VREN_OK)
            return opened;
        const int decoded = vren::decodeBmp(file, loader.tag, loader.table, targetWidth, *header, image);
        if (decoded != VREN_OK)
            return decoded;
    }  // the file is closed before scaling

    if (image.pixels) {
        printDebugLog(loader.tag, "pixel index : %zu",
                      static_cast<size_t>(static_cast<uint32_t>(header->biWidth)) * static_cast<uint32_t>(header->biHeight));
        printDebugLog(loader.tag, "resize image.");
        unsigned char *scaled = nullptr;
        const int resized = resizeImage(image.pixels.get(), &scaled, targetWidth, header);
        if (resized != VREN_OK)
            return resized;
        image.raster.reset(scaled);
    }
    *raster = image.raster.release();
    printDebugLog(loader.tag, "success");
    return VREN_OK;
}

int loadGuarded(const Loader &loader, const char *path, unsigned char **raster, VrenImageHeader *header,
                int32_t targetWidth) noexcept {
    try {
        return load(loader, path, raster, header, targetWidth);
    } catch (const std::bad_alloc &) {
        printDebugLog(loader.tag, "Failed to alloc memory");
        return VREN_E_NOMEM;
    }
}

}  // namespace

extern "C" VREN_API int loadImage(const char *path, unsigned char **raster, VrenImageHeader *header, int32_t width) {
    return loadGuarded(kLoadImage, path, raster, header, width);
}

extern "C" VREN_API int loadImage1(const char *path, unsigned char **raster, VrenImageHeader *header) {
    return loadGuarded(kLoadImage1, path, raster, header, 0);
}

extern "C" VREN_API int GetImageBit(const char *path) {
    const Probe probe = probeBmp(path);
    return probe.result != VREN_OK ? probe.result : static_cast<int>(probe.bits);
}
