// PNG pictures of every bit depth.
//
// PAPPL 1.3's own PNG filter hands 1-, 2- and 4-bit grayscale pixels to its
// dithering unexpanded (a white pixel arrives as 1, not 255), so a black and
// white PNG, the usual output of label software, prints almost solid black.
// This filter decodes the picture with libpng into 8-bit gray, white behind
// any transparency, keeps the picture's resolution, and gives it to PAPPL's
// papplJobFilterImage() to scale, place and dither as PAPPL's filter would.
// Registered for image/png to the printer's own format, it is found before
// PAPPL's filter to PWG raster.
#pragma once

#include <pappl/pappl.h>

namespace vrenapp {

void addPngFilter(pappl_system_t *system);

}  // namespace vrenapp
