#include "png_filter.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include <png.h>

#include "raster.h"

namespace vrenapp {

namespace {

struct Picture {
    std::vector<unsigned char> gray;  // 8 bits per pixel, top row first
    int width = 0;
    int height = 0;
    int ppi = 0;  // 0 when the file does not say
};

void onPngError(png_structp png, png_const_charp message) {
    auto *job = static_cast<pappl_job_t *>(png_get_error_ptr(png));
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "PNG: %s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp png, png_const_charp message) {
    papplLogJob(static_cast<pappl_job_t *>(png_get_error_ptr(png)), PAPPL_LOGLEVEL_WARN, "PNG: %s", message);
}

// Largest picture decoded: 64 megapixels.
constexpr png_uint_32 kMaxPixels = 64u * 1024 * 1024;

bool decode(pappl_job_t *job, FILE *file, Picture &picture) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, onPngError, onPngWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    // Nothing with a destructor is created between here and the last call
    // that may jump back.
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || width > kMaxPixels / height)
        png_error(png, "picture too large");
    const int unit = png_get_pHYs(png, info, nullptr, nullptr, nullptr) ? 1 : 0;
    picture.ppi = unit ? static_cast<int>(png_get_x_pixels_per_inch(png, info)) : 0;

    // Everything to 8-bit gray, transparency over white.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_rgb_to_gray_fixed(png, 1, -1, -1);
    png_color_16 white{};
    white.red = white.green = white.blue = white.gray = 255;
    png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_channels(png, info) != 1 || png_get_bit_depth(png, info) != 8)
        png_error(png, "unexpected pixel layout");

    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.gray.resize(static_cast<size_t>(width) * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = picture.gray.data() + static_cast<size_t>(y) * width;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool printPng(pappl_job_t *job, pappl_device_t *device, void *) {
    FILE *file = std::fopen(papplJobGetFilename(job), "rb");
    if (file == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the PNG file.");
        return false;
    }
    Picture picture;
    const bool decoded = decode(job, file, picture);
    std::fclose(file);
    if (!decoded) {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "PNG picture is %dx%d pixels at %d ppi.", picture.width, picture.height,
                picture.ppi);
    std::unique_ptr<pappl_pr_options_t, void (*)(pappl_pr_options_t *)> options(
        papplJobCreatePrintOptions(job, 1, false), papplJobDeletePrintOptions);
    if (!options)
        return false;
    return papplJobFilterImage(job, device, options.get(), picture.gray.data(), picture.width, picture.height, 1,
                               picture.ppi, false);
}

}  // namespace

void addPngFilter(pappl_system_t *system) {
    papplSystemAddMIMEFilter(system, "image/png", kRawFormat, printPng, nullptr);
}

}  // namespace vrenapp
