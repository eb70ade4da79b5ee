#include "renderer.h"

#include <zint.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "barcode.h"
#include "decode.h"
#include "fonts.h"

namespace render {
namespace {

// The entry of a table that matches, or nullptr.
template <typename Entry, size_t N, typename Match>
const Entry *findEntry(const Entry (&table)[N], Match match) {
    for (const Entry &entry : table)
        if (match(entry))
            return &entry;
    return nullptr;
}

using cmdparse::Command;
using cmdparse::Diagnostic;

constexpr int kOutlineWidth = 160;
constexpr int kOutlineHeight = 48;

struct DeviceFont {
    int code;          // 0 to 9, or a letter
    Face face;
    Face boldFace;
    int em;            // em height in dots at multiplier 1
    const char *encoding;  // of the text bytes; empty: UTF-8
};

// Device fonts: numbered fonts and g, h, i, k, l carry text as sent
// (UTF-8); the lettered CJK fonts carry their code page.
constexpr DeviceFont kDeviceFonts[] = {
    {0, Face::Mono, Face::MonoBold, 12, ""},      {1, Face::Mono, Face::MonoBold, 16, ""},
    {2, Face::Mono, Face::MonoBold, 20, ""},      {3, Face::Mono, Face::MonoBold, 24, ""},
    {4, Face::Mono, Face::MonoBold, 32, ""},      {5, Face::Mono, Face::MonoBold, 40, ""},
    {6, Face::Mono, Face::MonoBold, 48, ""},      {7, Face::Mono, Face::MonoBold, 56, ""},
    {8, Face::Mono, Face::MonoBold, 64, ""},      {9, Face::Mono, Face::MonoBold, 80, ""},
    {'a', Face::Cjk, Face::CjkBold, 16, "CP949"}, {'b', Face::Cjk, Face::CjkBold, 20, "CP949"},
    {'c', Face::Cjk, Face::CjkBold, 24, "CP949"}, {'d', Face::Cjk, Face::CjkBold, 32, "CP949"},
    {'e', Face::Cjk, Face::CjkBold, 40, "CP949"}, {'f', Face::Cjk, Face::CjkBold, 48, "CP949"},
    {'g', Face::Mono, Face::MonoBold, 24, ""},    {'h', Face::Mono, Face::MonoBold, 32, ""},
    {'i', Face::Mono, Face::MonoBold, 48, ""},    {'j', Face::Cjk, Face::CjkBold, 24, "CP932"},
    {'k', Face::Mono, Face::MonoBold, 24, ""},    {'l', Face::Mono, Face::MonoBold, 32, ""},
    {'m', Face::Cjk, Face::CjkBold, 24, "GB18030"}, {'n', Face::Cjk, Face::CjkBold, 24, "CP950"},
};

struct VectorFont {
    char letter;
    Face face;
    Face boldFace;
    const char *encoding;
};

constexpr VectorFont kVectorFonts[] = {
    {'U', Face::Sans, Face::SansBold, ""},        {'a', Face::Serif, Face::SerifBold, ""},
    {'b', Face::Mono, Face::MonoBold, ""},        {'K', Face::Cjk, Face::CjkBold, "CP949"},
    {'B', Face::Cjk, Face::CjkBold, "CP950"},     {'G', Face::Cjk, Face::CjkBold, "GB18030"},
    {'J', Face::Cjk, Face::CjkBold, "CP932"},
};

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

void note(std::vector<Diagnostic> &notes, const Command &command, std::string message) {
    notes.push_back({command.offset, cmdparse::commandName(command.body) + ": " + std::move(message)});
}

int field(const std::vector<cmdparse::Field> &fields, size_t i, int otherwise = 0) {
    return i < fields.size() && !fields[i].letter ? fields[i].value : otherwise;
}

char letterField(const std::vector<cmdparse::Field> &fields, size_t i) {
    return i < fields.size() && fields[i].letter ? static_cast<char>(fields[i].value) : '\0';
}

// A quarter-turn count, 0 when out of range (with a note).
int quarterTurns(int rotation, const Command &command, std::vector<Diagnostic> &notes) {
    if (rotation >= 0 && rotation <= 3)
        return rotation;
    note(notes, command, "rotation " + std::to_string(rotation) + " drawn as 0");
    return 0;
}

// Coordinates far off the label are clamped so that offsets stay in int range.
int clampCoordinate(int value) { return std::clamp(value, -100000, 100000); }

// Puts `image` turned by `turns` with its top-left corner at (x, y), moved by
// `shift` dots along the direction the unturned image's width runs in.
void place(Canvas &canvas, const Canvas &image, int x, int y, int turns, int shift = 0,
           Canvas::Mode mode = Canvas::Mode::Or) {
    static const int dx[] = {1, 0, -1, 0};
    static const int dy[] = {0, 1, 0, -1};
    canvas.draw(image.rotated(turns), clampCoordinate(x) + shift * dx[turns], clampCoordinate(y) + shift * dy[turns],
                mode);
}

// The command with its position moved by (dx, dy): margins move the origin.
// Moving each command, rather than drawing on a canvas enlarged by the
// margins, keeps memory to the label's size whatever the margins are.
Command moved(Command command, int dx, int dy) {
    const auto move = [](int &value, int by) {
        value = static_cast<int>(std::clamp<long long>(1LL * value + by, INT_MIN, INT_MAX));
    };
    const auto position = [&](auto &object) {
        move(object.x, dx);
        move(object.y, dy);
    };
    using namespace cmdparse;
    if (auto *t = std::get_if<DeviceText>(&command.body)) position(*t);
    if (auto *v = std::get_if<VectorText>(&command.body)) position(*v);
    if (auto *c = std::get_if<Circle>(&command.body)) position(*c);
    if (auto *b1 = std::get_if<Barcode1D>(&command.body)) position(*b1);
    if (auto *b2 = std::get_if<Barcode2D>(&command.body)) position(*b2);
    if (auto *bitmap = std::get_if<Bitmap>(&command.body)) position(*bitmap);
    if (auto *block = std::get_if<Block>(&command.body)) {
        move(block->startX, dx);
        move(block->endX, dx);
        move(block->startY, dy);
        move(block->endY, dy);
    }
    return command;
}

}  // namespace

Renderer::Renderer() : fonts_(std::make_unique<Fonts>()) {}
Renderer::~Renderer() = default;

std::optional<RenderedLabel> Renderer::apply(Command command) {
    using namespace cmdparse;
    if (const auto *print = std::get_if<Print>(&command.body))
        return render(true, print->labels, print->copies);
    if (std::holds_alternative<Clear>(command.body)) {
        pending_.clear();
        dropping_ = false;
        return std::nullopt;
    }
    if (const auto *control = std::get_if<Control>(&command.body)) {
        if (control->code == ControlCode::Initialize || control->code == ControlCode::Reset) {
            pending_.clear();
            dropping_ = false;
            state_ = PrinterState{};
        }
        return std::nullopt;
    }
    if (std::holds_alternative<Setting>(command.body)) {
        setting(command);
        return std::nullopt;
    }
    if (isComposition(command.body)) {
        // A label that is never printed must not hold memory without bound:
        // the first command dropped is named, and the note says the later
        // ones go the same way.
        if (pending_.size() >= kMaxPending) {
            if (!dropping_)
                stateNote(command.offset, cmdparse::commandName(command.body) + ": more than " +
                                              std::to_string(kMaxPending) +
                                              " drawing commands in one label; this one and the later ones are "
                                              "not drawn");
            dropping_ = true;
            return std::nullopt;
        }
        pending_.push_back(std::move(command));
    }
    return std::nullopt;
}

std::optional<RenderedLabel> Renderer::renderPending(bool always) {
    if (pending_.empty() && stateNotes_.empty() && !always)
        return std::nullopt;
    return render(false, 0, 0);
}

void Renderer::stateNote(uint64_t offset, std::string message) {
    if (stateNotes_.size() < kMaxStateNotes)
        stateNotes_.push_back({offset, std::move(message)});
    else if (stateNotes_.size() == kMaxStateNotes)
        stateNotes_.push_back({offset, "more notes of settings before this label are not listed"});
}

void Renderer::setting(const Command &command) {
    using cmdparse::SettingCode;
    const auto &s = std::get<cmdparse::Setting>(command.body);
    const auto side = [&](int value, int otherwise, const char *what) {
        if (value >= 8 && value <= kMaxSide)
            return value;
        const int used = value > kMaxSide ? kMaxSide : otherwise;
        stateNote(command.offset, cmdparse::commandName(command.body) + ": paper " + what + " " +
                                      std::to_string(value) + " out of range, using " + std::to_string(used));
        return used;
    };
    switch (s.code) {
    case SettingCode::PaperWidth: state_.paperWidth = side(field(s.fields, 0), kDefaultWidth, "width"); break;
    case SettingCode::PaperLength: state_.paperLength = side(field(s.fields, 0), kDefaultLength, "length"); break;
    case SettingCode::Orientation: {
        const char o = letterField(s.fields, 0);
        if (o == 'T' || o == 'B')
            state_.orientation = o;
        else
            stateNote(command.offset, "SO: unknown orientation, kept " + std::string(1, state_.orientation));
        break;
    }
    case SettingCode::Margin:
        state_.marginX = clampCoordinate(field(s.fields, 0));
        state_.marginY = clampCoordinate(field(s.fields, 1));
        break;
    default: break;  // speed, density, cutter, ... do not change the image
    }
}

RenderedLabel Renderer::render(bool printed, int labels, int copies) {
    RenderedLabel label;
    label.printed = printed;
    label.labels = labels;
    label.copies = copies;
    label.orientation = state_.orientation;
    label.notes = std::move(stateNotes_);
    stateNotes_.clear();
    dropping_ = false;
    label.canvas = Canvas(state_.paperWidth, state_.paperLength);
    for (const Command &command : pending_) {
        if (state_.marginX == 0 && state_.marginY == 0)
            draw(command, label.canvas, label.notes);
        else
            draw(moved(command, state_.marginX, state_.marginY), label.canvas, label.notes);
    }
    if (state_.orientation == 'B')
        label.canvas = label.canvas.rotated(2);
    pending_.clear();
    std::stable_sort(label.notes.begin(), label.notes.end(),
                     [](const Diagnostic &a, const Diagnostic &b) { return a.offset < b.offset; });
    return label;
}

namespace {

// Frame and name of a command that cannot be drawn.
void outline(Fonts &fonts, Canvas &canvas, int x, int y, const std::string &name) {
    x = clampCoordinate(x);
    y = clampCoordinate(y);
    canvas.frame(x, y, x + kOutlineWidth, y + kOutlineHeight, 2);
    TextImage text;
    std::string error;
    std::u32string label(name.begin(), name.end());
    if (fonts.line(label, TextStyle{Face::Mono, 20, 20, 0, false}, text, error))
        canvas.draw(text.canvas, x + 8, y + (kOutlineHeight - text.canvas.height()) / 2);
}

void drawText(Fonts &fonts, Canvas &canvas, const Command &command, std::vector<Diagnostic> &notes,
              const std::string &bytes, const std::string &encoding, const TextStyle &style, int x, int y, int turns,
              char alignment, bool reverse) {
    bool replaced = false;
    const std::u32string text = decodeText(bytes, encoding, replaced);
    if (replaced)
        note(notes, command, "text is not valid " + (encoding.empty() ? std::string("UTF-8") : encoding) +
                                 "; shown with replacement characters");
    TextImage image;
    std::string error;
    if (!fonts.line(text, style, image, error)) {
        note(notes, command, "not drawn: " + error);
        outline(fonts, canvas, x, y, cmdparse::commandName(command.body));
        return;
    }
    if (image.missingGlyphs)
        note(notes, command, "some characters have no glyph in the font");
    if (image.cut)
        note(notes, command, "text too long for one line; the rest is not drawn");
    const int width = image.canvas.width();
    const int shift = alignment == 'C' ? -width / 2 : alignment == 'R' ? -width : 0;
    if (reverse) {
        image.canvas.invert(0, 0, image.canvas.width(), image.canvas.height());
        place(canvas, image.canvas, x, y, turns, shift, Canvas::Mode::Copy);
        return;
    }
    place(canvas, image.canvas, x, y, turns, shift);
}

}  // namespace

void Renderer::draw(const Command &command, Canvas &canvas, std::vector<Diagnostic> &notes) {
    using namespace cmdparse;
    Fonts &fonts = *fonts_;
    const auto multiplier = [&](int value, const char *what) {
        if (value >= 1 && value <= 9)
            return value;
        note(notes, command, std::string(what) + " " + std::to_string(value) + " drawn as 1");
        return 1;
    };

    if (const auto *t = std::get_if<DeviceText>(&command.body)) {
        const DeviceFont *font =
            findEntry(kDeviceFonts, [&](const DeviceFont &f) { return f.code == t->font && t->fontIsLetter == (f.code >= 'a'); });
        if (!font) {
            note(notes, command, "unknown device font; outlined");
            outline(fonts, canvas, t->x, t->y, "T");
            return;
        }
        const int xm = multiplier(t->xMultiplier, "x multiplier");
        const int ym = multiplier(t->yMultiplier, "y multiplier");
        const TextStyle style{t->bold == 'B' ? font->boldFace : font->face, font->em * xm, font->em * ym, 0, false};
        drawText(fonts, canvas, command, notes, t->data, font->encoding, style, t->x, t->y,
                 quarterTurns(t->rotation, command, notes), 'L', false);
        return;
    }

    if (const auto *v = std::get_if<VectorText>(&command.body)) {
        const VectorFont *font = findEntry(kVectorFonts, [&](const VectorFont &f) { return f.letter == v->font; });
        if (!font) {
            note(notes, command, std::string("unknown vector font ") + v->font + "; outlined");
            outline(fonts, canvas, v->x, v->y, "V");
            return;
        }
        int width = v->width > 0 ? v->width : v->height;
        int height = v->height > 0 ? v->height : v->width;
        if (width <= 0) {
            width = height = 24;
            note(notes, command, "no character size; drawn at 24 dots");
        }
        if (width > 1000 || height > 1000) {
            note(notes, command, "character size clamped to 1000 dots");
            width = std::min(width, 1000);
            height = std::min(height, 1000);
        }
        const TextStyle style{v->bold == 'B' ? font->boldFace : font->face, width, height,
                              std::clamp(v->spacing, -1000, 1000), v->italic == 'I'};
        drawText(fonts, canvas, command, notes, v->data, font->encoding, style, v->x, v->y,
                 quarterTurns(v->rotation, command, notes), v->alignment, v->reverse == 'R');
        return;
    }

    if (const auto *b = std::get_if<Block>(&command.body)) {
        const int x0 = clampCoordinate(std::min(b->startX, b->endX));
        const int x1 = clampCoordinate(std::max(b->startX, b->endX));
        const int y0 = clampCoordinate(std::min(b->startY, b->endY));
        const int y1 = clampCoordinate(std::max(b->startY, b->endY));
        int thickness = b->thickness.value_or(1);
        if ((b->option == 'S' || b->option == 'B') && (!b->thickness || thickness < 1 || thickness > 1000)) {
            note(notes, command, "thickness missing or out of range, drawn as 1");
            thickness = 1;
        }
        switch (b->option) {
        case 'O': canvas.fill(x0, y0, x1, y1); return;
        case 'E': canvas.invert(x0, y0, x1, y1); return;
        case 'D': canvas.fill(x0, y0, x1, y1, false); return;
        case 'B': canvas.frame(x0, y0, x1, y1, thickness); return;
        case 'S': {
            // A line from start to end, a thickness-wide square stamped at
            // every step of Bresenham's walk. A step moves the square by one
            // dot across and/or down, so after the first square only the
            // column and row it moves into are new: filling those keeps a
            // thick line across a large label linear in its length.
            int x = clampCoordinate(b->startX), y = clampCoordinate(b->startY);
            const int ex = clampCoordinate(b->endX), ey = clampCoordinate(b->endY);
            const int dx = std::abs(ex - x), dy = -std::abs(ey - y);
            const int sx = x < ex ? 1 : -1, sy = y < ey ? 1 : -1;
            int error = dx + dy;
            canvas.fill(x, y, x + thickness, y + thickness);
            while (x != ex || y != ey) {
                const int twice = 2 * error;
                const bool across = twice >= dy, down = twice <= dx;
                if (across) {
                    error += dy;
                    x += sx;
                }
                if (down) {
                    error += dx;
                    y += sy;
                }
                if (across) {
                    const int column = sx > 0 ? x + thickness - 1 : x;
                    canvas.fill(column, y, column + 1, y + thickness);
                }
                if (down) {
                    const int row = sy > 0 ? y + thickness - 1 : y;
                    canvas.fill(x, row, x + thickness, row + 1);
                }
            }
            return;
        }
        default:
            note(notes, command, std::string("unknown block option ") + b->option + "; outlined");
            outline(fonts, canvas, x0, y0, "BD");
            return;
        }
    }

    if (const auto *c = std::get_if<Circle>(&command.body)) {
        static const int diameters[] = {24, 48, 72, 96, 128, 160};
        int size = c->size, times = c->multiplier;
        if (size < 1 || size > 6) {
            note(notes, command, "size " + std::to_string(size) + " drawn as 2");
            size = 2;
        }
        if (times < 1 || times > 4) {
            note(notes, command, "multiplier " + std::to_string(times) + " drawn as 1");
            times = 1;
        }
        const int d = diameters[size - 1] * times;
        const int inner = d - 4 * times;  // a ring 2 x multiplier dots wide
        const int x = clampCoordinate(c->x), y = clampCoordinate(c->y);
        // Dot centres in doubled coordinates, so the test is exact.
        for (int py = 0; py < d; ++py) {
            for (int px = 0; px < d; ++px) {
                const long long u = 2LL * px + 1 - d, w = 2LL * py + 1 - d;
                const long long r = u * u + w * w;
                if (r <= 1LL * d * d && r > 1LL * inner * inner)
                    canvas.set(x + px, y + py);
            }
        }
        return;
    }

    if (const auto *bitmap = std::get_if<Bitmap>(&command.body)) {
        const int rowBits = static_cast<int>(bitmap->bytesPerRow) * 8;
        for (unsigned row = 0; row < bitmap->rows; ++row) {
            const uint8_t *bytes = bitmap->raster.data() + static_cast<size_t>(row) * bitmap->bytesPerRow;
            for (int bit = 0; bit < rowBits; ++bit)
                if (bytes[bit >> 3] & (0x80 >> (bit & 7)))
                    canvas.set(bitmap->x + bit, bitmap->y + static_cast<int>(row));
        }
        return;
    }

    if (const auto *b1 = std::get_if<Barcode1D>(&command.body)) {
        const LinearSymbology *symbology =
            findEntry(kLinear, [&](const LinearSymbology &s) { return s.type == b1->type; });
        if (!symbology) {
            note(notes, command, "unknown type " + std::to_string(b1->type) + "; outlined");
            outline(fonts, canvas, b1->x, b1->y, "B1");
            return;
        }
        BarcodeRequest request;
        request.symbology = symbology->zint;
        request.module = b1->narrow >= 1 && b1->narrow <= 10 ? b1->narrow : 2;
        request.rowHeight = b1->height >= 1 && b1->height <= 4000 ? b1->height : 100;
        if (request.module != b1->narrow || request.rowHeight != b1->height)
            note(notes, command, "narrow width or height out of range, drawn as " + std::to_string(request.module) +
                                     " and " + std::to_string(request.rowHeight));
        if (symbology->zint == BARCODE_GS1_128 && !b1->data.empty() && b1->data[0] == '(')
            request.inputMode = GS1_MODE | GS1PARENS_MODE;
        std::string data = b1->data;
        if (symbology->zint == BARCODE_EANX) {
            // zint's EAN symbology chooses EAN-13, EAN-8, EAN-5 or EAN-2 by
            // the length of the digits before any "+" add-on; here the type
            // chooses. Shorter digits are padded with leading zeros, as zint
            // pads them itself within a symbology; EAN-8 takes at most 8.
            const size_t digits = std::min(data.find('+'), data.size());
            const size_t wanted = b1->type == 7 ? 12 : 7;
            if (b1->type == 8 && digits > 8) {
                note(notes, command, "EAN-8 not drawn: more than 8 digits; outlined");
                outline(fonts, canvas, b1->x, b1->y, "B1");
                return;
            }
            const auto digit = [](char c) { return c >= '0' && c <= '9'; };
            if (digits > 0 && digits < wanted && std::all_of(data.begin(), data.begin() + static_cast<long>(digits), digit))
                data.insert(0, wanted - digits, '0');
        }
        BarcodeImage image;
        std::string error;
        if (!drawBarcode(request, data, image, error)) {
            note(notes, command, std::string(symbology->name) + " not drawn: " + error + "; outlined");
            outline(fonts, canvas, b1->x, b1->y, "B1");
            return;
        }
        if (!image.warning.empty())
            note(notes, command, std::string(symbology->name) + ": " + image.warning);
        Canvas symbol = std::move(image.canvas);
        if (b1->readable != 0 && !image.text.empty()) {
            bool replaced = false;
            TextImage text;
            std::string fontError;
            if (fonts.line(decodeText(image.text, "", replaced), TextStyle{Face::Mono, 20, 20, 0, false}, text,
                           fontError)) {
                Canvas with(std::max(symbol.width(), text.canvas.width()), symbol.height() + 2 + text.canvas.height());
                with.draw(symbol, (with.width() - symbol.width()) / 2, 0);
                with.draw(text.canvas, (with.width() - text.canvas.width()) / 2, symbol.height() + 2);
                symbol = std::move(with);
            } else {
                note(notes, command, "human-readable text not drawn: " + fontError);
            }
        }
        place(canvas, symbol, b1->x, b1->y, quarterTurns(b1->rotation, command, notes));
        return;
    }

    if (const auto *b2 = std::get_if<Barcode2D>(&command.body)) {
        const auto &f = b2->fields;
        BarcodeRequest request;
        std::string data = b2->data;
        int rotation = 0;
        const char *name = "";
        // Field `i` (counted from field 4) within [low, high]; otherwise
        // `fallback`, drawn with a note that names the field (`instead`
        // describes a fallback that is not a number).
        const auto ranged = [&](size_t i, const char *what, int low, int high, int fallback,
                                const char *instead = nullptr) {
            const int value = field(f, i);
            if (value >= low && value <= high)
                return value;
            note(notes, command, std::string(what) + " " + std::to_string(value) + " drawn as " +
                                     (instead ? std::string(instead) : std::to_string(fallback)));
            return fallback;
        };
        // A letter field that must be one of `letters`; otherwise the first of them, with a note.
        const auto choice = [&](size_t i, const char *what, std::string_view letters) {
            const char value = letterField(f, i);
            if (value != '\0' && letters.find(value) != std::string_view::npos)
                return value;
            note(notes, command, std::string(what) + " " + value + " drawn as " + letters[0]);
            return letters[0];
        };
        switch (b2->command == 3 ? 'R' : b2->symbology) {
        case 'M': {
            name = "MaxiCode";
            request.symbology = BARCODE_MAXICODE;
            request.hexagonal = true;
            // Modes 2, 3, 5 and 6 as given; every other value (the library's
            // default 0 included) is the standard mode 4.
            const int mode = field(f, 0);
            request.option1 = mode == 2 || mode == 3 || mode == 5 || mode == 6 ? mode : 4;
            break;
        }
        case 'P': {
            name = "PDF417";
            request.symbology = field(f, 3) == 1 ? BARCODE_PDF417COMP : BARCODE_PDF417;
            request.option3 = ranged(0, "rows", 3, 90, 0, "zint's choice");
            request.option2 = ranged(1, "columns", 1, 30, 0, "zint's choice");
            request.option1 = ranged(2, "error-correction level", 0, 8, -1, "zint's choice");
            request.module = ranged(6, "module width", 1, 20, 3);
            request.rowHeight = ranged(7, "row height", 1, 400, 10);
            rotation = field(f, 8);
            break;
        }
        case 'Q': {
            name = "QR Code";
            request.symbology = BARCODE_QRCODE;
            const char level = choice(1, "error-correction level", "LMQH");
            request.option1 = level == 'M' ? 2 : level == 'Q' ? 3 : level == 'H' ? 4 : 1;
            request.module = 2 * ranged(2, "module size", 1, 10, 4);
            rotation = field(f, 3);
            break;
        }
        case 'D': {
            name = "Data Matrix";
            request.symbology = BARCODE_DATAMATRIX;
            request.module = 2 * ranged(0, "module size", 1, 10, 2);
            request.option3 = choice(1, "shape", "NR") == 'R' ? 0 : DM_SQUARE;
            rotation = field(f, 2);
            break;
        }
        case 'A': {
            name = "Aztec";
            request.symbology = BARCODE_AZTEC;
            request.module = 2 * ranged(0, "module size", 1, 10, 2);
            // zint's four levels stand for 10, 23, 36 and 50 % error correction.
            const int percent = ranged(2, "error correction", 0, 100, 0, "zint's default");
            if (percent > 0)
                request.option1 = percent <= 10 ? 1 : percent <= 23 ? 2 : percent <= 36 ? 3 : 4;
            rotation = field(f, 6);
            break;
        }
        case 'F': {
            name = "Code 49";
            request.symbology = BARCODE_CODE49;
            request.module = ranged(0, "module width", 1, 20, 2);
            request.rowHeight = ranged(2, "row height", 1, 400, 20);
            rotation = field(f, 5);
            break;
        }
        case 'C': {
            name = "Codablock F";
            request.symbology = BARCODE_CODABLOCKF;
            request.module = ranged(0, "module width", 1, 20, 2);
            request.rowHeight = ranged(2, "row height", 1, 400, 20);
            request.option2 = ranged(4, "columns", 9, 67, 0, "zint's choice");
            if (letterField(f, 5) != 'F')
                note(notes, command, std::string("Codablock mode ") + letterField(f, 5) + " drawn as Codablock F");
            break;
        }
        case 'B': {
            name = "MicroPDF417";
            request.symbology = BARCODE_MICROPDF417;
            request.module = ranged(0, "module width", 1, 20, 2);
            request.rowHeight = ranged(1, "row height", 1, 400, 2 * request.module);
            rotation = field(f, 3);
            break;
        }
        case 'R': {
            name = "GS1 DataBar";
            static const int types[] = {BARCODE_DBAR_OMN, BARCODE_DBAR_OMN,    BARCODE_DBAR_STK,
                                        BARCODE_DBAR_OMNSTK, BARCODE_DBAR_LTD, BARCODE_DBAR_EXP};
            static const int heights[] = {33, 13, 0, 0, 10, 34};  // in modules; 0: zint's rows
            const int type = ranged(0, "type", 0, 5, 5);
            request.module = ranged(1, "module width", 1, 10, 1);
            request.symbology = types[type];
            if (type == 5) {
                const int segments = field(f, 4);
                if (segments >= 2 && segments <= 22 && segments % 2 == 0) {
                    request.symbology = BARCODE_DBAR_EXPSTK;
                    request.option2 = segments / 2;
                } else if (segments != 0) {
                    note(notes, command, "segments per row " + std::to_string(segments) + " drawn as 0 (one row)");
                }
            }
            // The stacked symbols keep zint's row heights (their separator
            // rows are one module high); the height field sizes one-row
            // symbols.
            const bool stacked = request.symbology != types[0] && request.symbology != BARCODE_DBAR_LTD &&
                                 request.symbology != BARCODE_DBAR_EXP;
            request.zintRowHeights = stacked;
            if (!stacked)
                request.rowHeight = field(f, 3) == 0 ? heights[type] * request.module
                                                     : ranged(3, "height", 1, 4000, heights[type] * request.module);
            if (request.symbology == BARCODE_DBAR_EXP || request.symbology == BARCODE_DBAR_EXPSTK) {
                if (!data.empty() && data[0] == '(')
                    request.inputMode = GS1_MODE | GS1PARENS_MODE;
            } else if (data.starts_with("(01)") || data.starts_with("[01]")) {
                data.erase(0, 4);  // the primary symbols carry the GTIN alone
            }
            rotation = field(f, 5);
            break;
        }
        default:
            note(notes, command, "unknown symbology; outlined");
            outline(fonts, canvas, b2->x, b2->y, cmdparse::commandName(command.body));
            return;
        }
        BarcodeImage image;
        std::string error;
        bool drawn = drawBarcode(request, data, image, error);
        if (!drawn && request.option3 != 0 && b2->symbology == 'P') {
            // Rows and columns together may not fit the data: let zint choose rows.
            request.option3 = 0;
            drawn = drawBarcode(request, data, image, error);
            if (drawn)
                note(notes, command, "rows do not fit the data; zint chose the rows");
        }
        if (!drawn) {
            note(notes, command, std::string(name) + " not drawn: " + error + "; outlined");
            outline(fonts, canvas, b2->x, b2->y, cmdparse::commandName(command.body));
            return;
        }
        if (!image.warning.empty())
            note(notes, command, std::string(name) + ": " + image.warning);
        place(canvas, image.canvas, b2->x, b2->y, quarterTurns(rotation, command, notes));
        return;
    }
}

}  // namespace render
