// Barcode symbols drawn from libzint's encoded module grid, so that module
// sizes are exact whole dots.
#pragma once

#include <string>
#include <string_view>

#include "canvas.h"

namespace render {

struct BarcodeRequest {
    int symbology = 0;     // a zint BARCODE_* number
    int option1 = -1;      // zint's option_1..3 when not the defaults below
    int option2 = 0;
    int option3 = 0;
    int module = 2;        // dots per module, both ways for matrix symbols
    int rowHeight = 0;     // dots per row for linear and stacked symbols; 0: zint's row heights
    bool zintRowHeights = false;  // stacked symbols whose rows differ (DataBar stacked)
    bool hexagonal = false;       // MaxiCode: drawn from zint's raster
    int inputMode = -1;           // zint input_mode, -1 for zint's default
};

struct BarcodeImage {
    Canvas canvas;
    std::string text;  // human-readable text zint derived (linear symbols), UTF-8
    std::string warning;  // zint's warning when it drew the symbol differently than asked
};

// False with `error` (zint's message) when zint cannot encode the data.
bool drawBarcode(const BarcodeRequest &request, std::string_view data, BarcodeImage &out, std::string &error);

}  // namespace render
