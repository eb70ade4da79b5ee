#include "barcode.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace render {
namespace {

struct SymbolDeleter {
    void operator()(zint_symbol *symbol) const { ZBarcode_Delete(symbol); }
};

bool moduleSet(const zint_symbol &symbol, int row, int column) {
    return (symbol.encoded_data[row][column >> 3] >> (column & 7)) & 1;
}

}  // namespace

bool drawBarcode(const BarcodeRequest &request, std::string_view data, BarcodeImage &out, std::string &error) {
    std::unique_ptr<zint_symbol, SymbolDeleter> symbol(ZBarcode_Create());
    if (!symbol) {
        error = "out of memory";
        return false;
    }
    symbol->symbology = request.symbology;
    if (request.option1 != -1)
        symbol->option_1 = request.option1;
    symbol->option_2 = request.option2;
    symbol->option_3 = request.option3;
    if (request.inputMode >= 0)
        symbol->input_mode = request.inputMode;
    symbol->show_hrt = 1;
    if (data.size() > 8000) {
        error = "data too long";
        return false;
    }
    const int result = ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char *>(data.data()),
                                       static_cast<int>(data.size()));
    if (result >= ZINT_ERROR) {
        error = symbol->errtxt;
        return false;
    }
    if (result != 0)
        out.warning = symbol->errtxt;
    out.text = reinterpret_cast<const char *>(symbol->text);
    const int module = std::clamp(request.module, 1, 50);

    if (request.hexagonal) {
        // zint draws MaxiCode's hexagons only in its raster output; at scale s
        // the symbol is about 300 s dots wide, so scale 0.75 gives the
        // symbol's nominal 28 mm at 8 dots per mm.
        symbol->scale = 0.75f;
        if (ZBarcode_Buffer(symbol.get(), 0) >= ZINT_ERROR) {
            error = symbol->errtxt;
            return false;
        }
        out.canvas = Canvas(symbol->bitmap_width, symbol->bitmap_height);
        const unsigned char *rgb = symbol->bitmap;
        for (int y = 0; y < symbol->bitmap_height; ++y)
            for (int x = 0; x < symbol->bitmap_width; ++x)
                if (rgb[(static_cast<size_t>(y) * static_cast<size_t>(symbol->bitmap_width) + static_cast<size_t>(x)) * 3] < 128)
                    out.canvas.set(x, y);
        return true;
    }

    const int rows = std::clamp(symbol->rows, 1, 200);
    const int columns = std::clamp(symbol->width, 0, 144 * 8);
    const bool linear = rows == 1;
    // Row heights in dots.
    std::vector<int> heights(static_cast<size_t>(rows), module);
    // zint gives fixed rows a height and shares what is left of the symbol's
    // height among the rows it leaves at 0.
    float fixed = 0;
    int shared = 0;
    for (int r = 0; r < rows; ++r) {
        fixed += symbol->row_height[r];
        shared += symbol->row_height[r] <= 0 ? 1 : 0;
    }
    const float sharedHeight = shared > 0 ? std::max(1.0f, (symbol->height - fixed) / static_cast<float>(shared)) : 0;
    for (int r = 0; r < rows; ++r) {
        int height = module;
        if (linear && request.rowHeight > 0)
            height = request.rowHeight;
        else if (request.zintRowHeights)
            height = std::max(1, static_cast<int>(std::lround(
                                     (symbol->row_height[r] > 0 ? symbol->row_height[r] : sharedHeight) *
                                     static_cast<float>(module))));
        else if (request.rowHeight > 0)
            height = request.rowHeight;
        heights[static_cast<size_t>(r)] = std::clamp(height, 1, 4000);
    }
    int total = 0;
    for (int height : heights)
        total += height;
    out.canvas = Canvas(columns * module, total);
    int top = 0;
    for (int r = 0; r < rows; ++r) {
        const int height = heights[static_cast<size_t>(r)];
        for (int c = 0; c < columns; ++c)
            if (moduleSet(*symbol, r, c))
                out.canvas.fill(c * module, top, (c + 1) * module, top + height);
        top += height;
    }
    return true;
}

}  // namespace render
