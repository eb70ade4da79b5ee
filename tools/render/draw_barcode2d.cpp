// Two-dimensional and stacked barcodes (B2, B3): symbols from zint, one row
// of the symbology table per letter, each with the rules by which it takes
// its fields.
#include <zint.h>

#include <string_view>

#include "barcode.h"
#include "draw.h"

namespace render {
namespace {

// A symbol's fields after its symbology letter (the command's field 4 is
// field 0 here), read against their ranges: a value out of range is drawn
// as a fallback, with a note naming the field.
class SymbolFields {
public:
    SymbolFields(const Drawing &drawing, const std::vector<cmdparse::Field> &fields)
        : drawing_(drawing), fields_(fields) {}

    int number(size_t i) const { return field(fields_, i); }
    char letter(size_t i) const { return letterField(fields_, i); }
    void note(std::string message) const { drawing_.note(std::move(message)); }

    // Field `i` within [low, high]; otherwise `fallback` (`instead` names a
    // fallback that is not a number).
    int ranged(size_t i, const char *what, int low, int high, int fallback, const char *instead = nullptr) const {
        const int value = number(i);
        if (value >= low && value <= high)
            return value;
        note(std::string(what) + " " + std::to_string(value) + " drawn as " +
             (instead ? std::string(instead) : std::to_string(fallback)));
        return fallback;
    }

    // A letter field that must be one of `letters`; otherwise the first of them.
    char choice(size_t i, const char *what, std::string_view letters) const {
        const char value = letter(i);
        if (value != '\0' && letters.find(value) != std::string_view::npos)
            return value;
        note(std::string(what) + " " + value + " drawn as " + letters[0]);
        return letters[0];
    }

private:
    const Drawing &drawing_;
    const std::vector<cmdparse::Field> &fields_;
};

void maxiCode(const SymbolFields &f, BarcodeRequest &request, std::string &) {
    request.symbology = BARCODE_MAXICODE;
    request.hexagonal = true;
    // Modes 2, 3, 5 and 6 as given; every other value (the library's default
    // 0 included) is the standard mode 4.
    const int mode = f.number(0);
    request.option1 = mode == 2 || mode == 3 || mode == 5 || mode == 6 ? mode : 4;
}

void pdf417(const SymbolFields &f, BarcodeRequest &request, std::string &) {
    request.symbology = f.number(3) == 1 ? BARCODE_PDF417COMP : BARCODE_PDF417;
    request.option3 = f.ranged(0, "rows", 3, 90, 0, "zint's choice");
    request.option2 = f.ranged(1, "columns", 1, 30, 0, "zint's choice");
    request.option1 = f.ranged(2, "error-correction level", 0, 8, -1, "zint's choice");
    request.module = f.ranged(6, "module width", 1, 20, 3);
    request.rowHeight = f.ranged(7, "row height", 1, 400, 10);
}

void qrCode(const SymbolFields &f, BarcodeRequest &request, std::string &) {
    request.symbology = BARCODE_QRCODE;
    const char level = f.choice(1, "error-correction level", "LMQH");
    request.option1 = level == 'M' ? 2 : level == 'Q' ? 3 : level == 'H' ? 4 : 1;
    request.module = 2 * f.ranged(2, "module size", 1, 10, 4);
}

void dataMatrix(const SymbolFields &f, BarcodeRequest &request, std::string &) {
    request.symbology = BARCODE_DATAMATRIX;
    request.module = 2 * f.ranged(0, "module size", 1, 10, 2);
    request.option3 = f.choice(1, "shape", "NR") == 'R' ? 0 : DM_SQUARE;
}

void aztec(const SymbolFields &f, BarcodeRequest &request, std::string &) {
    request.symbology = BARCODE_AZTEC;
    request.module = 2 * f.ranged(0, "module size", 1, 10, 2);
    // zint's four levels stand for 10, 23, 36 and 50 % error correction.
    const int percent = f.ranged(2, "error correction", 0, 100, 0, "zint's default");
    if (percent > 0)
        request.option1 = percent <= 10 ? 1 : percent <= 23 ? 2 : percent <= 36 ? 3 : 4;
}

void code49(const SymbolFields &f, BarcodeRequest &request, std::string &) {
    request.symbology = BARCODE_CODE49;
    request.module = f.ranged(0, "module width", 1, 20, 2);
    request.rowHeight = f.ranged(2, "row height", 1, 400, 20);
}

void codablockF(const SymbolFields &f, BarcodeRequest &request, std::string &) {
    request.symbology = BARCODE_CODABLOCKF;
    request.module = f.ranged(0, "module width", 1, 20, 2);
    request.rowHeight = f.ranged(2, "row height", 1, 400, 20);
    request.option2 = f.ranged(4, "columns", 9, 67, 0, "zint's choice");
    if (f.letter(5) != 'F')
        f.note(std::string("Codablock mode ") + f.letter(5) + " drawn as Codablock F");
}

void microPdf417(const SymbolFields &f, BarcodeRequest &request, std::string &) {
    request.symbology = BARCODE_MICROPDF417;
    request.module = f.ranged(0, "module width", 1, 20, 2);
    request.rowHeight = f.ranged(1, "row height", 1, 400, 2 * request.module);
}

void dataBar(const SymbolFields &f, BarcodeRequest &request, std::string &data) {
    static const int types[] = {BARCODE_DBAR_OMN,    BARCODE_DBAR_OMN, BARCODE_DBAR_STK,
                                BARCODE_DBAR_OMNSTK, BARCODE_DBAR_LTD, BARCODE_DBAR_EXP};
    static const int heights[] = {33, 13, 0, 0, 10, 34};  // in modules; 0: zint's rows
    const int type = f.ranged(0, "type", 0, 5, 5);
    request.module = f.ranged(1, "module width", 1, 10, 1);
    request.symbology = types[type];
    if (type == 5) {
        const int segments = f.number(4);
        if (segments >= 2 && segments <= 22 && segments % 2 == 0) {
            request.symbology = BARCODE_DBAR_EXPSTK;
            request.option2 = segments / 2;
        } else if (segments != 0) {
            f.note("segments per row " + std::to_string(segments) + " drawn as 0 (one row)");
        }
    }
    // The stacked symbols keep zint's row heights (their separator rows are
    // one module high); the height field sizes one-row symbols.
    const bool stacked = request.symbology != types[0] && request.symbology != BARCODE_DBAR_LTD &&
                         request.symbology != BARCODE_DBAR_EXP;
    request.zintRowHeights = stacked;
    if (!stacked)
        request.rowHeight = f.number(3) == 0 ? heights[type] * request.module
                                             : f.ranged(3, "height", 1, 4000, heights[type] * request.module);
    if (request.symbology == BARCODE_DBAR_EXP || request.symbology == BARCODE_DBAR_EXPSTK) {
        if (!data.empty() && data[0] == '(')
            request.inputMode = GS1_MODE | GS1PARENS_MODE;
    } else if (data.starts_with("(01)") || data.starts_with("[01]")) {
        data.erase(0, 4);  // the primary symbols carry the GTIN alone
    }
}

struct MatrixSymbology {
    char letter;        // the symbology letter of B2; R stands for B3
    const char *name;
    int rotationField;  // the field holding the rotation; -1: none, drawn unturned
    bool rowsMayNotFit;  // when the data does not fit the rows asked for, zint chooses them
    void (*configure)(const SymbolFields &fields, BarcodeRequest &request, std::string &data);
};

constexpr MatrixSymbology kMatrix[] = {
    {'M', "MaxiCode", -1, false, maxiCode},    {'P', "PDF417", 8, true, pdf417},
    {'Q', "QR Code", 3, false, qrCode},        {'D', "Data Matrix", 2, false, dataMatrix},
    {'A', "Aztec", 6, false, aztec},           {'F', "Code 49", 5, false, code49},
    {'C', "Codablock F", -1, false, codablockF}, {'B', "MicroPDF417", 3, false, microPdf417},
    {'R', "GS1 DataBar", 5, false, dataBar},
};

}  // namespace

void drawBarcode2D(const Drawing &drawing, const cmdparse::Barcode2D &b2) {
    const char letter = b2.command == 3 ? 'R' : b2.symbology;
    const MatrixSymbology *symbology = findEntry(kMatrix, [&](const MatrixSymbology &s) { return s.letter == letter; });
    if (!symbology) {
        drawing.note("unknown symbology; outlined");
        drawing.outline(b2.x, b2.y);
        return;
    }
    const SymbolFields fields(drawing, b2.fields);
    BarcodeRequest request;
    std::string data = b2.data;
    symbology->configure(fields, request, data);
    BarcodeImage image;
    std::string error;
    bool drawn = drawBarcode(request, data, image, error);
    if (!drawn && request.option3 != 0 && symbology->rowsMayNotFit) {
        // Rows and columns together may not fit the data: let zint choose rows.
        request.option3 = 0;
        drawn = drawBarcode(request, data, image, error);
        if (drawn)
            drawing.note("rows do not fit the data; zint chose the rows");
    }
    if (!drawn) {
        drawing.note(std::string(symbology->name) + " not drawn: " + error + "; outlined");
        drawing.outline(b2.x, b2.y);
        return;
    }
    if (!image.warning.empty())
        drawing.note(std::string(symbology->name) + ": " + image.warning);
    const int rotation =
        symbology->rotationField < 0 ? 0 : fields.number(static_cast<size_t>(symbology->rotationField));
    drawing.place(image.canvas, b2.x, b2.y, drawing.quarterTurns(rotation));
}

}  // namespace render
