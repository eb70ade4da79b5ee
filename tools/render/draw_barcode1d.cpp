// One-dimensional barcodes (B1): symbols from zint, by the command's type.
#include <zint.h>

#include <algorithm>

#include "barcode.h"
#include "decode.h"
#include "draw.h"
#include "fonts.h"

namespace render {
namespace {

struct LinearSymbology {
    int type;
    int zint;
    const char *name;
};

constexpr LinearSymbology kLinear[] = {
    {0, BARCODE_CODE39, "Code 39"},          {1, BARCODE_CODE128, "Code 128"},
    {2, BARCODE_C25INTER, "Interleaved 2 of 5"}, {3, BARCODE_CODABAR, "Codabar"},
    {4, BARCODE_CODE93, "Code 93"},          {5, BARCODE_UPCA, "UPC-A"},
    {6, BARCODE_UPCE, "UPC-E"},              {7, BARCODE_EANX, "EAN-13"},
    {8, BARCODE_EANX, "EAN-8"},              {9, BARCODE_GS1_128, "GS1-128"},
    {10, BARCODE_CODE11, "Code 11"},         {11, BARCODE_MSI_PLESSEY, "MSI Plessey"},
    {12, BARCODE_C25IND, "Industrial 2 of 5"}, {13, BARCODE_C25STANDARD, "Standard 2 of 5"},
    {14, BARCODE_LOGMARS, "LOGMARS"},        {15, BARCODE_EXCODE39, "Code 39 full ASCII"},
    {16, BARCODE_ITF14, "ITF-14"},
};

// zint's EAN symbology chooses EAN-13, EAN-8, EAN-5 or EAN-2 by the length
// of the digits before any "+" add-on; here the type chooses. Shorter digits
// are padded with leading zeros, as zint pads them itself within a
// symbology. False for EAN-8 data of more than 8 digits.
bool padEan(int type, std::string &data) {
    const size_t digits = std::min(data.find('+'), data.size());
    const size_t wanted = type == 7 ? 12 : 7;
    if (type == 8 && digits > 8)
        return false;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (digits > 0 && digits < wanted && std::all_of(data.begin(), data.begin() + static_cast<long>(digits), digit))
        data.insert(0, wanted - digits, '0');
    return true;
}

// The symbol with zint's human-readable text centred under its bars.
Canvas withText(const Drawing &drawing, Canvas symbol, const std::string &text) {
    bool replaced = false;
    TextImage image;
    std::string error;
    if (!drawing.fonts.line(decodeText(text, "", replaced), TextStyle{Face::Mono, 20, 20, 0, false}, image, error)) {
        drawing.note("human-readable text not drawn: " + error);
        return symbol;
    }
    Canvas with(std::max(symbol.width(), image.canvas.width()), symbol.height() + 2 + image.canvas.height());
    with.draw(symbol, (with.width() - symbol.width()) / 2, 0);
    with.draw(image.canvas, (with.width() - image.canvas.width()) / 2, symbol.height() + 2);
    return with;
}

}  // namespace

void drawBarcode1D(const Drawing &drawing, const cmdparse::Barcode1D &b1) {
    const LinearSymbology *symbology =
        findEntry(kLinear, [&](const LinearSymbology &s) { return s.type == b1.type; });
    if (!symbology) {
        drawing.note("unknown type " + std::to_string(b1.type) + "; outlined");
        drawing.outline(b1.x, b1.y);
        return;
    }
    BarcodeRequest request;
    request.symbology = symbology->zint;
    request.module = b1.narrow >= 1 && b1.narrow <= 10 ? b1.narrow : 2;
    request.rowHeight = b1.height >= 1 && b1.height <= 4000 ? b1.height : 100;
    if (request.module != b1.narrow || request.rowHeight != b1.height)
        drawing.note("narrow width or height out of range, drawn as " + std::to_string(request.module) + " and " +
                     std::to_string(request.rowHeight));
    if (symbology->zint == BARCODE_GS1_128 && !b1.data.empty() && b1.data[0] == '(')
        request.inputMode = GS1_MODE | GS1PARENS_MODE;
    std::string data = b1.data;
    if (symbology->zint == BARCODE_EANX && !padEan(b1.type, data)) {
        drawing.note("EAN-8 not drawn: more than 8 digits; outlined");
        drawing.outline(b1.x, b1.y);
        return;
    }
    BarcodeImage image;
    std::string error;
    if (!drawBarcode(request, data, image, error)) {
        drawing.note(std::string(symbology->name) + " not drawn: " + error + "; outlined");
        drawing.outline(b1.x, b1.y);
        return;
    }
    if (!image.warning.empty())
        drawing.note(std::string(symbology->name) + ": " + image.warning);
    Canvas symbol = std::move(image.canvas);
    if (b1.readable != 0 && !image.text.empty())
        symbol = withText(drawing, std::move(symbol), image.text);
    drawing.place(symbol, b1.x, b1.y, drawing.quarterTurns(b1.rotation));
}

}  // namespace render
