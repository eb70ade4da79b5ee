#include "parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <map>
#include <span>

namespace cmdparse {
namespace {

constexpr size_t npos = std::string::npos;

// Up to 16 bytes of `text`, printable, for messages.
std::string excerpt(std::string_view text) {
    std::string out;
    for (unsigned char c : text.substr(0, 16)) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            static const char digits[] = "0123456789ABCDEF";
            out += "\\x";
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
    }
    if (text.size() > 16)
        out += "...";
    return out;
}

using Fields = std::vector<Field>;

struct FieldError {
    size_t at = 0;  // offset within the parsed text
    std::string message;
};

// Splits `text` at commas and reads each field by `pattern`: n a number, c a
// letter, x either; fields after '?' are optional.
bool parseFields(std::string_view text, std::string_view pattern, Fields &out, FieldError &error) {
    out.clear();
    std::vector<std::pair<size_t, std::string_view>> parts;
    if (!text.empty()) {
        size_t start = 0;
        for (;;) {
            const size_t comma = text.find(',', start);
            parts.emplace_back(start, text.substr(start, comma == npos ? npos : comma - start));
            if (comma == npos)
                break;
            start = comma + 1;
        }
    }
    const size_t question = pattern.find('?');
    const size_t required = question == npos ? pattern.size() : question;
    const size_t total = question == npos ? pattern.size() : pattern.size() - 1;
    if (parts.size() < required || parts.size() > total) {
        error.at = 0;
        error.message = "expected " + std::to_string(required) +
                        (required == total ? "" : " or " + std::to_string(total)) + " fields, got " +
                        std::to_string(parts.size());
        return false;
    }
    size_t kind = 0;
    for (const auto &[at, part] : parts) {
        if (pattern[kind] == '?')
            ++kind;
        const char want = pattern[kind++];
        Field field;
        const bool numeric = !part.empty() && (part[0] == '-' || (part[0] >= '0' && part[0] <= '9'));
        if (want == 'c' || (want == 'x' && !numeric)) {
            if (part.size() != 1) {
                error = {at, "expected one letter, got \"" + excerpt(part) + "\""};
                return false;
            }
            field.letter = true;
            field.value = static_cast<unsigned char>(part[0]);
        } else {
            const char *first = part.data();
            const char *last = part.data() + part.size();
            const auto [end, code] = std::from_chars(first, last, field.value);
            if (code == std::errc::result_out_of_range) {
                error = {at, "number out of int range: \"" + excerpt(part) + "\""};
                return false;
            }
            if (code != std::errc() || end != last || part.empty()) {
                error = {at, "expected a number, got \"" + excerpt(part) + "\""};
                return false;
            }
        }
        out.push_back(field);
    }
    return true;
}

int number(const Fields &fields, size_t i) { return fields[i].value; }
char letter(const Fields &fields, size_t i) { return static_cast<char>(fields[i].value); }

// Builders: fill a row's prototype from the header fields (and the quoted
// data). A row without one takes its prototype as it is.

void settingFields(Body &body, const Fields &f, std::string &) { std::get<Setting>(body).fields = f; }

void print(Body &body, const Fields &f, std::string &) { body = Print{number(f, 0), number(f, 1)}; }

void circle(Body &body, const Fields &f, std::string &) {
    body = Circle{number(f, 0), number(f, 1), number(f, 2), number(f, 3)};
}

void block(Body &body, const Fields &f, std::string &) {
    Block block{number(f, 0), number(f, 1), number(f, 2), number(f, 3), letter(f, 4), std::nullopt};
    if (f.size() > 5)
        block.thickness = number(f, 5);
    body = block;
}

void deviceText(Body &body, const Fields &f, std::string &data) {
    body = DeviceText{number(f, 0), number(f, 1), f[2].value,   f[2].letter,  number(f, 3), number(f, 4),
                      number(f, 5), number(f, 6), letter(f, 7), letter(f, 8), std::move(data)};
}

void vectorText(Body &body, const Fields &f, std::string &data) {
    body = VectorText{number(f, 0), number(f, 1), letter(f, 2), number(f, 3),  number(f, 4), number(f, 5),
                      letter(f, 6), letter(f, 7), letter(f, 8), number(f, 9), letter(f, 10), number(f, 11),
                      std::move(data)};
}

void barcode1D(Body &body, const Fields &f, std::string &data) {
    body = Barcode1D{number(f, 0), number(f, 1), number(f, 2), number(f, 3), number(f, 4),
                     number(f, 5), number(f, 6), number(f, 7), std::move(data)};
}

void barcode2D(Body &body, const Fields &f, std::string &data) {
    auto &barcode = std::get<Barcode2D>(body);
    barcode.x = number(f, 0);
    barcode.y = number(f, 1);
    barcode.symbology = letter(f, 2);
    barcode.fields.assign(f.begin() + 3, f.end());
    barcode.data = std::move(data);
}

}  // namespace

enum class Framing {
    Line,    // up to the first CR
    Quoted,  // a header up to the first quote, then data up to a quote directly followed by CR
    Bitmap,  // a binary header announcing the raster that follows, then CR
};

// The command language, one row per command: its code as written (also its
// name), its framing, the pattern of its header fields (n a number, c a
// letter, x either; the fields after '?' optional; '*' the fields of the
// symbology named by the letter before it), the typed command it makes and
// whether it draws on the label. A code comes before the codes it begins.
struct CommandRow {
    std::string_view code;
    Framing framing;
    std::string_view pattern;
    Body prototype;
    void (*build)(Body &body, const Fields &fields, std::string &data);
    bool draws;
};

namespace {

Body barcode2DOf(int command) {
    Barcode2D barcode;
    barcode.command = command;
    return barcode;
}

Body bitmapOf(bool compressed) {
    cmdparse::Bitmap bitmap;
    bitmap.compressed = compressed;
    return bitmap;
}

std::span<const CommandRow> commandTable() {
    using enum Framing;
    static const CommandRow table[] = {
        {"^PI0", Line, "", ModelQuery{}, nullptr, false},
        {"^cu", Line, "", StatusQuery{}, nullptr, false},
        {"CUT", Line, "c?n", Setting{SettingCode::Cutter, {}}, settingFields, false},
        {"RWD", Line, "c", Setting{SettingCode::Rewinder, {}}, settingFields, false},
        {"~JC", Line, "", Control{ControlCode::Calibrate}, nullptr, false},
        {"~JR", Line, "", Control{ControlCode::Reset}, nullptr, false},
        {"~PH", Line, "", Control{ControlCode::FeedLabel}, nullptr, false},
        {"CB", Line, "", Clear{}, nullptr, false},
        {"CD", Line, "nnnn", Circle{}, circle, true},
        {"CS", Line, "nn", Setting{SettingCode::CharacterSet, {}}, settingFields, false},
        {"BD", Line, "nnnnc?n", Block{}, block, true},
        {"SS", Line, "n", Setting{SettingCode::Speed, {}}, settingFields, false},
        {"SD", Line, "n", Setting{SettingCode::Density, {}}, settingFields, false},
        {"SO", Line, "c", Setting{SettingCode::Orientation, {}}, settingFields, false},
        {"SA", Line, "n", Setting{SettingCode::Offset, {}}, settingFields, false},
        {"TA", Line, "n", Setting{SettingCode::CutPosition, {}}, settingFields, false},
        {"ST", Line, "c", Setting{SettingCode::PrintingType, {}}, settingFields, false},
        {"SF", Line, "n", Setting{SettingCode::BackFeed, {}}, settingFields, false},
        {"SL", Line, "nncn", Setting{SettingCode::PaperLength, {}}, settingFields, false},
        {"SW", Line, "n", Setting{SettingCode::PaperWidth, {}}, settingFields, false},
        {"SM", Line, "nn", Setting{SettingCode::Margin, {}}, settingFields, false},
        {"@", Line, "", Control{ControlCode::Initialize}, nullptr, false},
        {"P", Line, "nn", Print{}, print, false},
        {"T", Quoted, "nnxnnnncc", DeviceText{}, deviceText, true},
        {"V", Quoted, "nncnnncccncn", VectorText{}, vectorText, true},
        {"B1", Quoted, "nnnnnnnn", Barcode1D{}, barcode1D, true},
        {"B2", Quoted, "nnc*", barcode2DOf(2), barcode2D, true},
        {"B3", Quoted, "nnc*", barcode2DOf(3), barcode2D, true},
        {"LD", Bitmap, "", bitmapOf(false), nullptr, true},
        {"LCR", Bitmap, "", bitmapOf(true), nullptr, true},
    };
    return table;
}

// The rows whose code begins with `byte`, in table order.
std::span<const CommandRow *const> rowsBeginningWith(char byte) {
    static const auto index = [] {
        std::array<std::vector<const CommandRow *>, 256> rows;
        for (const CommandRow &entry : commandTable())
            rows[static_cast<unsigned char>(entry.code[0])].push_back(&entry);
        return rows;
    }();
    return index[static_cast<unsigned char>(byte)];
}

// Header fields after the symbology letter of B2 and B3.
struct Symbology {
    std::string_view code;
    char letter;
    std::string_view pattern;
};

constexpr Symbology kSymbologies[] = {
    {"B2", 'M', "n"},    {"B2", 'P', "nnnnnnnnn"}, {"B2", 'Q', "ncnn"},     {"B2", 'D', "ncn"},
    {"B2", 'A', "nnnnnnn"}, {"B2", 'F', "nnnnnn"}, {"B2", 'C', "nnnnncnn"}, {"B2", 'B', "nnnn"},
    {"B3", 'R', "nnnnnn"},
};

// What tells commands of one type apart: the type, and for the types that
// several codes make, which code made it.
std::pair<size_t, int> kind(const Body &body) {
    int code = 0;
    if (const auto *setting = std::get_if<Setting>(&body))
        code = static_cast<int>(setting->code);
    else if (const auto *control = std::get_if<Control>(&body))
        code = static_cast<int>(control->code);
    else if (const auto *barcode = std::get_if<Barcode2D>(&body))
        code = barcode->command == 3 ? 3 : 2;
    else if (const auto *bitmap = std::get_if<cmdparse::Bitmap>(&body))
        code = bitmap->compressed;
    return {body.index(), code};
}

const CommandRow &rowOf(const Body &body) {
    static const auto index = [] {
        std::map<std::pair<size_t, int>, const CommandRow *> rows;
        for (const CommandRow &entry : commandTable())
            rows.emplace(kind(entry.prototype), &entry);
        return rows;
    }();
    return *index.at(kind(body));  // every type of command has its row
}

}  // namespace

Parser::Parser(Limits limits) : limits_(limits) {}

void Parser::feed(const void *data, size_t size) {
    if (size == 0)
        return;
    buffer_.append(static_cast<const char *>(data), size);
    while (step()) {
    }
    compact();
}

void Parser::finish() {
    finishing_ = true;
    while (step()) {
    }
    finishing_ = false;
    compact();
}

std::vector<Event> Parser::take() {
    std::vector<Event> out;
    out.swap(events_);
    return out;
}

void Parser::compact() {
    if (pos_ == 0 || (pos_ < buffer_.size() && pos_ < 65536))
        return;
    buffer_.erase(0, pos_);
    base_ += pos_;
    pos_ = 0;
}

void Parser::consume(size_t count) {
    pos_ += count;
    scanned_ = 0;
    quote_ = npos;
}

void Parser::diagnose(uint64_t offset, std::string message) {
    events_.emplace_back(Diagnostic{offset, std::move(message)});
}

void Parser::emit(uint64_t offset, uint64_t end, Body body) {
    events_.emplace_back(Command{offset, end - offset, std::move(body)});
}

void Parser::discardLine(uint64_t offset, std::string message) {
    diagnose(offset, std::move(message));
    state_ = State::Discard;
}

// A command whose end has not arrived: wait for more input, or, at the end of
// the input, report the rest and drop it. Returns false (no progress).
bool Parser::waitForMore(uint64_t offset, size_t avail) {
    if (finishing_) {
        diagnose(offset, "incomplete command at end of input: \"" +
                             excerpt(std::string_view(buffer_).substr(pos_)) + "\"");
        consume(avail);
        return false;
    }
    scanned_ = avail;
    return false;
}

bool Parser::step() {
    switch (state_) {
    case State::Discard: {
        const size_t cr = buffer_.find('\r', pos_);
        if (cr == npos) {
            consume(buffer_.size() - pos_);
            if (finishing_)
                state_ = State::Start;
            return false;
        }
        consume(cr + 1 - pos_);
        state_ = State::Start;
        return true;
    }
    case State::BitmapData: return bitmapData();
    case State::BitmapEnd: return bitmapEnd();
    case State::Start: break;
    }
    return startCommand();
}

bool Parser::startCommand() {
    while (pos_ < buffer_.size() && (buffer_[pos_] == '\r' || buffer_[pos_] == '\n'))
        consume(1);
    const size_t avail = buffer_.size() - pos_;
    if (avail == 0)
        return false;
    // The first code the bytes begin with decides the framing; a longer code
    // they may yet begin is waited for, unless the input ended.
    const std::string_view start = std::string_view(buffer_).substr(pos_);
    for (const CommandRow *row : rowsBeginningWith(start[0])) {
        const CommandRow &entry = *row;
        if (avail < entry.code.size()) {
            if (!finishing_ && entry.code.starts_with(start))
                return false;
            continue;
        }
        if (!start.starts_with(entry.code))
            continue;
        switch (entry.framing) {
        case Framing::Quoted: return quotedCommand(entry);
        case Framing::Bitmap: return bitmapHeader(entry);
        case Framing::Line: return lineCommand();
        }
    }
    return lineCommand();
}

bool Parser::lineCommand() {
    const uint64_t offset = base_ + pos_;
    const size_t avail = buffer_.size() - pos_;
    const size_t cr = buffer_.find('\r', pos_ + scanned_);
    if (cr == npos) {
        if (avail > limits_.maxLine) {
            discardLine(offset, "line longer than " + std::to_string(limits_.maxLine) + " bytes: \"" +
                                    excerpt(std::string_view(buffer_).substr(pos_)) + "\"");
            return true;
        }
        return waitForMore(offset, avail);
    }
    const std::string_view line = std::string_view(buffer_).substr(pos_, cr - pos_);
    const uint64_t end = offset + line.size() + 1;
    if (line.size() > limits_.maxLine) {
        diagnose(offset, "line longer than " + std::to_string(limits_.maxLine) + " bytes: \"" + excerpt(line) + "\"");
        consume(line.size() + 1);
        return true;
    }
    size_t at = 0;
    std::string message;
    for (const CommandRow *row : rowsBeginningWith(line.empty() ? '\0' : line[0])) {
        const CommandRow &entry = *row;
        if (entry.framing != Framing::Line || !line.starts_with(entry.code))
            continue;
        Fields fields;
        FieldError error;
        if (parseFields(line.substr(entry.code.size()), entry.pattern, fields, error)) {
            Body body = entry.prototype;
            std::string none;
            if (entry.build)
                entry.build(body, fields, none);
            emit(offset, end, std::move(body));
            consume(line.size() + 1);
            return true;
        }
        at = entry.code.size() + error.at;
        message = std::string(entry.code) + ": " + error.message;
        break;
    }
    if (message.empty())
        message = "unknown command \"" + excerpt(line) + "\"";
    diagnose(offset + at, std::move(message));
    // A '^' or '~' later in a line that is no command begins a command of its
    // own, as after bytes that came without their CR (a printer takes up the
    // stream at the prefixes of its queries and immediate commands).
    const size_t next = line.find_first_of("^~", 1);
    consume(next == npos ? line.size() + 1 : next);
    return true;
}

bool Parser::quotedCommand(const CommandRow &entry) {
    const size_t codeLength = entry.code.size();
    const uint64_t offset = base_ + pos_;
    const size_t avail = buffer_.size() - pos_;
    if (quote_ == npos) {
        const size_t from = pos_ + std::max(scanned_, codeLength);
        const size_t found = buffer_.find_first_of("'\r", from);
        // A header longer than the limit is dropped up to the next carriage
        // return, whether or not its end has arrived yet.
        if ((found == npos && avail > limits_.maxLine) || (found != npos && found - pos_ > limits_.maxLine)) {
            discardLine(offset, "header longer than " + std::to_string(limits_.maxLine) + " bytes");
            return true;
        }
        if (found == npos)
            return waitForMore(offset, avail);
        if (buffer_[found] == '\r') {
            diagnose(offset, "command without quoted field: \"" +
                                 excerpt(std::string_view(buffer_).substr(pos_, found - pos_)) + "\"");
            consume(found + 1 - pos_);
            return true;
        }
        quote_ = found - pos_;
        scanned_ = quote_ + 1;
    }
    // The data ends at the first quote followed by a carriage return.
    size_t end = npos;
    for (size_t i = pos_ + scanned_; i + 1 < buffer_.size(); ++i) {
        i = buffer_.find('\'', i);
        if (i == npos || i + 1 >= buffer_.size())
            break;
        if (buffer_[i + 1] == '\r') {
            end = i;
            break;
        }
    }
    const uint64_t quoteOffset = offset + quote_;
    // Data longer than the limit is given up the same way whether its end has
    // arrived or not: the limit must not depend on how the stream was split.
    // Without the end in sight, a trailing quote may still be the closing one.
    size_t dataSoFar = end != npos ? end - pos_ - quote_ - 1 : avail - quote_ - 1;
    if (end == npos && dataSoFar > 0 && buffer_.back() == '\'')
        --dataSoFar;
    if (end == npos || dataSoFar > limits_.maxQuoted) {
        if (dataSoFar > limits_.maxQuoted || finishing_) {
            diagnose(quoteOffset, dataSoFar > limits_.maxQuoted
                                      ? "quoted field longer than " + std::to_string(limits_.maxQuoted) + " bytes"
                                      : std::string("unterminated quoted field at end of input"));
            // Resume after the first carriage return inside the field.
            const size_t cr = buffer_.find('\r', pos_ + quote_ + 1);
            if (cr == npos) {
                consume(avail);
                if (!finishing_)
                    state_ = State::Discard;
                return !finishing_;
            }
            consume(cr + 1 - pos_);
            return true;
        }
        // A trailing quote may yet be followed by its carriage return.
        scanned_ = std::max(quote_ + 1, avail - 1);
        return false;
    }
    const size_t quote = quote_;
    const size_t total = end + 2 - pos_;
    const std::string_view header = std::string_view(buffer_).substr(pos_ + codeLength, quote - codeLength);
    std::string data = buffer_.substr(pos_ + quote + 1, end - (pos_ + quote + 1));
    consume(total);
    const std::string code(entry.code);
    if (!header.ends_with(',')) {
        diagnose(offset, code + ": header does not end in a comma");
        return true;
    }
    const std::string_view fieldsText = header.substr(0, header.size() - 1);
    const uint64_t fieldsOffset = offset + codeLength;
    std::string pattern(entry.pattern);
    if (pattern.ends_with('*')) {
        // The symbology letter is the third field; it decides the rest.
        const size_t first = fieldsText.find(',');
        const size_t second = first == npos ? npos : fieldsText.find(',', first + 1);
        const std::string_view third =
            second == npos ? std::string_view()
                           : fieldsText.substr(second + 1, fieldsText.find(',', second + 1) - second - 1);
        const Symbology *symbology = nullptr;
        for (const Symbology &row : kSymbologies)
            if (row.code == entry.code && third.size() == 1 && row.letter == third[0])
                symbology = &row;
        if (!symbology) {
            diagnose(fieldsOffset + (second == npos ? 0 : second + 1),
                     code + ": unknown symbology \"" + excerpt(third) + "\"");
            return true;
        }
        pattern.pop_back();
        pattern += symbology->pattern;
    }
    Fields fields;
    FieldError error;
    if (!parseFields(fieldsText, pattern, fields, error)) {
        diagnose(fieldsOffset + error.at, code + ": " + error.message);
        return true;
    }
    Body body = entry.prototype;
    entry.build(body, fields, data);
    emit(offset, offset + total, std::move(body));
    return true;
}

bool Parser::bitmapHeader(const CommandRow &entry) {
    const bool compressed = std::get<Bitmap>(entry.prototype).compressed;
    const std::string code(entry.code);
    const uint64_t offset = base_ + pos_;
    const size_t avail = buffer_.size() - pos_;
    const size_t headerLength = compressed ? 12 : 10;
    if (avail < headerLength) {
        if (!finishing_)
            return false;
        diagnose(offset, code + ": bitmap header incomplete at end of input");
        consume(avail);
        return false;
    }
    const auto *h = reinterpret_cast<const unsigned char *>(buffer_.data() + pos_);
    const size_t at = compressed ? 4 : 2;
    if (compressed && h[3] != 0) {
        discardLine(offset + 3, "LCR: header byte 3 is not 0");
        consume(3);
        return true;
    }
    const auto word = [&](size_t i) { return static_cast<unsigned>(h[i] | (h[i + 1] << 8)); };
    bitmap_ = Bitmap{};
    bitmap_.compressed = compressed;
    bitmap_.x = static_cast<int>(word(at));
    bitmap_.y = static_cast<int>(word(at + 2));
    bitmap_.bytesPerRow = word(at + 4);
    bitmap_.rows = word(at + 6);
    bitmapTotal_ = static_cast<size_t>(bitmap_.bytesPerRow) * bitmap_.rows;
    bitmapOffset_ = offset;
    if (bitmapTotal_ > limits_.maxRaster) {
        discardLine(offset, code + ": bitmap of " + std::to_string(bitmapTotal_) +
                                " bytes exceeds the limit of " + std::to_string(limits_.maxRaster));
        consume(headerLength);
        return true;
    }
    bitmap_.raster.reserve(std::min<size_t>(bitmapTotal_, 1 << 16));
    consume(headerLength);
    state_ = bitmapTotal_ == 0 ? State::BitmapEnd : State::BitmapData;
    return true;
}

bool Parser::bitmapData() {
    const size_t avail = buffer_.size() - pos_;
    const char *p = buffer_.data() + pos_;
    size_t used = 0;
    if (!bitmap_.compressed) {
        used = std::min(avail, bitmapTotal_ - bitmap_.raster.size());
        bitmap_.raster.insert(bitmap_.raster.end(), p, p + used);
    } else {
        bool overrun = false;
        std::vector<size_t> emptyRuns;
        used = decodeRuns(std::string_view(p, avail), bitmapTotal_, bitmap_.raster, overrun, &emptyRuns);
        for (size_t at : emptyRuns)
            diagnose(base_ + pos_ + at, "LCR: run of length 0");
        if (overrun)
            diagnose(base_ + pos_ + used - 2, "LCR: run-length stream goes past the raster");
    }
    bitmap_.streamBytes += used;
    consume(used);
    if (bitmap_.raster.size() == bitmapTotal_) {
        state_ = State::BitmapEnd;
        return true;
    }
    if (!finishing_)
        return false;
    diagnose(bitmapOffset_, commandName(bitmap_) + ": bitmap data incomplete, " +
                                std::to_string(bitmap_.raster.size()) + " of " + std::to_string(bitmapTotal_) +
                                " bytes");
    consume(buffer_.size() - pos_);
    bitmap_ = Bitmap{};
    state_ = State::Start;
    return false;
}

bool Parser::bitmapEnd() {
    const uint64_t here = base_ + pos_;
    if (pos_ >= buffer_.size()) {
        if (!finishing_)
            return false;
        diagnose(here, "bitmap not followed by a carriage return");
        emit(bitmapOffset_, here, std::move(bitmap_));
        state_ = State::Start;
        return false;
    }
    if (buffer_[pos_] == '\r') {
        consume(1);
        emit(bitmapOffset_, here + 1, std::move(bitmap_));
    } else {
        diagnose(here, "bitmap not followed by a carriage return");
        emit(bitmapOffset_, here, std::move(bitmap_));
    }
    bitmap_ = Bitmap{};
    state_ = State::Start;
    return true;
}

std::vector<Event> parseAll(std::string_view bytes, Limits limits) {
    Parser parser(limits);
    parser.feed(bytes);
    parser.finish();
    return parser.take();
}

size_t decodeRuns(std::string_view stream, size_t total, std::vector<uint8_t> &raster, bool &overrun,
                  std::vector<size_t> *emptyRuns) {
    size_t used = 0;
    while (raster.size() < total && used < stream.size()) {
        const auto byte = static_cast<unsigned char>(stream[used]);
        if (byte != 0x00 && byte != 0xFF) {
            raster.push_back(byte);
            ++used;
            continue;
        }
        if (used + 1 >= stream.size())
            break;  // the count byte has not come yet
        const auto count = static_cast<unsigned char>(stream[used + 1]);
        if (count == 0 && emptyRuns)
            emptyRuns->push_back(used);
        const size_t left = total - raster.size();
        overrun = overrun || count > left;
        raster.insert(raster.end(), std::min<size_t>(count, left), byte);
        used += 2;
    }
    return used;
}

size_t decodeRunLength(std::string_view stream, size_t total, std::vector<uint8_t> &raster, bool &overrun) {
    overrun = false;
    raster.clear();
    const size_t used = decodeRuns(stream, total, raster, overrun);
    return raster.size() == total ? used : 0;
}

std::string commandName(const Body &body) { return std::string(rowOf(body).code); }

bool isComposition(const Body &body) { return rowOf(body).draws; }

}  // namespace cmdparse
