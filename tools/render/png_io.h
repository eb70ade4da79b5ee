// PNG files of 1-bit canvases: greyscale of bit depth 1, a printed dot black.
// No time stamp or other varying chunk is written, so equal canvases give
// equal files.
#pragma once

#include <string>

#include "canvas.h"

namespace render {

// The PNG file's bytes; empty on failure.
std::string encodePng(const Canvas &canvas);
// Writes the file; false with `error` set on failure.
bool writePng(const Canvas &canvas, const std::string &path, std::string *error = nullptr);
// Reads any PNG that libpng reads; a pixel darker than mid-grey is a dot.
bool readPng(const std::string &path, Canvas &canvas, std::string *error = nullptr);

}  // namespace render
