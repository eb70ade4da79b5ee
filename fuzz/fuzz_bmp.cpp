// Fuzzes the BMP loaders with arbitrary file contents. The file is held in
// memory and reached through a path without a '.', so no extension matches
// and the external converter is never started. The decoder is also fed the
// same bytes from memory: it must give what loadImage1 gives from the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "VrenLabelAPI.h"
// The decoder is internal to the library (hidden), so the target builds it in.
#include "util/bmpDecode.cpp"

namespace {

int gFile = -1;
std::string gPath;
char gDirectory[] = "/tmp/fuzz-bmp-XXXXXX";

void removeDirectory() {
    unlink((std::string(gDirectory) + "/VRENLinuxSDKLog.txt").c_str());
    rmdir(gDirectory);
}

// The debug log goes to /dev/null: every call writes records.
void quietLog() {
    if (mkdtemp(gDirectory) == nullptr || chdir(gDirectory) != 0)
        std::abort();
    if (symlink("/dev/null", "VRENLinuxSDKLog.txt") != 0)
        std::abort();
    std::atexit(removeDirectory);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    quietLog();
    gFile = memfd_create("fuzz-bmp", 0);
    if (gFile < 0)
        std::abort();
    gPath = "/proc/self/fd/" + std::to_string(gFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (ftruncate(gFile, 0) != 0 || pwrite(gFile, data, size, 0) != static_cast<ssize_t>(size))
        return 0;

    unsigned char *raster = nullptr;
    VrenImageHeader header{};
    if (loadImage(gPath.c_str(), &raster, &header, 0) == 0)
        std::free(raster);
    // Scaling to a small width taken from the input's last byte.
    const int32_t width = size > 0 ? 1 + data[size - 1] % 96 : 8;
    raster = nullptr;
    if (loadImage(gPath.c_str(), &raster, &header, width) == 0)
        std::free(raster);
    raster = nullptr;
    const int fromFile = loadImage1(gPath.c_str(), &raster, &header);

    VrenImageHeader memoryHeader{};
    vren::DecodedImage image;
    const int fromMemory = vren::decodeBmp(vren::MemorySource(data, size), "fuzz",
                                           vren::ColourTableAt::HeaderEndOr54, 0, memoryHeader, image);
    if (fromMemory != fromFile)
        __builtin_trap();
    if (fromFile == 0) {
        const size_t bytes = vren::rasterRowBytes(static_cast<uint32_t>(header.biWidth)) *
                             static_cast<uint32_t>(header.biHeight);
        if (std::memcmp(&memoryHeader, &header, sizeof header) != 0 ||
            (bytes != 0 && std::memcmp(image.raster.get(), raster, bytes) != 0))
            __builtin_trap();
        std::free(raster);
    }
    GetImageBit(gPath.c_str());
    return 0;
}
