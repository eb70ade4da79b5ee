#include "parser.h"

#include <algorithm>
#include <charconv>
#include <cstring>

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

struct FieldError {
    size_t at = 0;  // offset within the parsed text
    std::string message;
};

// Splits `text` at commas and reads each field by `pattern`: n a number, c a
// letter, x either; fields after '?' are optional.
bool parseFields(std::string_view text, std::string_view pattern, std::vector<Field> &out, FieldError &error) {
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

int number(const std::vector<Field> &fields, size_t i) { return fields[i].value; }
char letter(const std::vector<Field> &fields, size_t i) { return static_cast<char>(fields[i].value); }

struct LineCode {
    std::string_view code;
    const char *pattern;
};

// Line commands, longest codes first where one is a prefix of another.
constexpr LineCode kLineCodes[] = {
    {"^PI0", ""}, {"^cu", ""}, {"CUT", "c?n"}, {"RWD", "c"}, {"~JC", ""}, {"~JR", ""}, {"~PH", ""},
    {"CB", ""},   {"CD", "nnnn"}, {"CS", "nn"}, {"BD", "nnnnc?n"}, {"SS", "n"}, {"SD", "n"},
    {"SO", "c"},  {"SA", "n"},  {"TA", "n"},  {"ST", "c"},  {"SF", "n"},  {"SL", "nncn"},
    {"SW", "n"},  {"SM", "nn"}, {"@", ""},    {"P", "nn"},
};

// Header fields after the symbology letter of B2 and B3.
const char *barcode2DPattern(int command, char symbology) {
    if (command == 3)
        return symbology == 'R' ? "nnnnnn" : nullptr;
    switch (symbology) {
    case 'M': return "n";
    case 'P': return "nnnnnnnnn";
    case 'Q': return "ncnn";
    case 'D': return "ncn";
    case 'A': return "nnnnnnn";
    case 'F': return "nnnnnn";
    case 'C': return "nnnnncnn";
    case 'B': return "nnnn";
    default: return nullptr;
    }
}

Body lineBody(std::string_view code, const std::vector<Field> &f) {
    if (code == "^PI0") return ModelQuery{};
    if (code == "^cu") return StatusQuery{};
    if (code == "CB") return Clear{};
    if (code == "P") return Print{number(f, 0), number(f, 1)};
    if (code == "CD") return Circle{number(f, 0), number(f, 1), number(f, 2), number(f, 3)};
    if (code == "BD") {
        Block block{number(f, 0), number(f, 1), number(f, 2), number(f, 3), letter(f, 4), std::nullopt};
        if (f.size() > 5)
            block.thickness = number(f, 5);
        return block;
    }
    if (code == "@") return Control{ControlCode::Initialize};
    if (code == "~JC") return Control{ControlCode::Calibrate};
    if (code == "~JR") return Control{ControlCode::Reset};
    if (code == "~PH") return Control{ControlCode::FeedLabel};
    static const std::pair<std::string_view, SettingCode> settings[] = {
        {"SS", SettingCode::Speed},        {"SD", SettingCode::Density},     {"SO", SettingCode::Orientation},
        {"CUT", SettingCode::Cutter},      {"RWD", SettingCode::Rewinder},   {"SA", SettingCode::Offset},
        {"TA", SettingCode::CutPosition},  {"ST", SettingCode::PrintingType}, {"SF", SettingCode::BackFeed},
        {"SL", SettingCode::PaperLength},  {"SW", SettingCode::PaperWidth},  {"SM", SettingCode::Margin},
        {"CS", SettingCode::CharacterSet},
    };
    for (const auto &[name, setting] : settings)
        if (name == code)
            return Setting{setting, f};
    return Clear{};  // not reached: every line code is listed above
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
    const char *p = buffer_.data() + pos_;
    // Waits for the bytes that tell commands apart, unless the input ended.
    const auto need = [&](size_t count) { return avail < count && !finishing_; };
    switch (p[0]) {
    case 'L':
        if (need(2)) return false;
        if (avail >= 2 && p[1] == 'D') return bitmapHeader(false);
        if (avail >= 2 && p[1] == 'C') {
            if (need(3)) return false;
            if (avail >= 3 && p[2] == 'R') return bitmapHeader(true);
        }
        return lineCommand();
    case 'T':
        if (need(2)) return false;
        if (avail >= 2 && p[1] == 'A') return lineCommand();
        return quotedCommand(1);
    case 'V':
        return quotedCommand(1);
    case 'B':
        if (need(2)) return false;
        if (avail >= 2 && (p[1] == '1' || p[1] == '2' || p[1] == '3')) return quotedCommand(2);
        return lineCommand();
    default:
        return lineCommand();
    }
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
    for (const LineCode &entry : kLineCodes) {
        if (!line.starts_with(entry.code))
            continue;
        std::vector<Field> fields;
        FieldError error;
        if (parseFields(line.substr(entry.code.size()), entry.pattern, fields, error)) {
            emit(offset, end, lineBody(entry.code, fields));
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

bool Parser::quotedCommand(size_t codeLength) {
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
    const std::string_view code = std::string_view(buffer_).substr(pos_, codeLength);
    std::string data = buffer_.substr(pos_ + quote + 1, end - (pos_ + quote + 1));
    consume(total);
    if (!header.ends_with(',')) {
        diagnose(offset, std::string(code) + ": header does not end in a comma");
        return true;
    }
    const std::string_view fieldsText = header.substr(0, header.size() - 1);
    const uint64_t fieldsOffset = offset + codeLength;
    std::vector<Field> f;
    FieldError error;
    const auto fail = [&] {
        diagnose(fieldsOffset + error.at, std::string(code) + ": " + error.message);
        return true;
    };
    if (code == "T") {
        if (!parseFields(fieldsText, "nnxnnnncc", f, error))
            return fail();
        DeviceText text{number(f, 0), number(f, 1), f[2].value, f[2].letter, number(f, 3), number(f, 4),
                        number(f, 5), number(f, 6), letter(f, 7), letter(f, 8), std::move(data)};
        emit(offset, offset + total, std::move(text));
    } else if (code == "V") {
        if (!parseFields(fieldsText, "nncnnncccncn", f, error))
            return fail();
        VectorText text{number(f, 0), number(f, 1), letter(f, 2), number(f, 3), number(f, 4), number(f, 5),
                        letter(f, 6), letter(f, 7), letter(f, 8), number(f, 9), letter(f, 10), number(f, 11),
                        std::move(data)};
        emit(offset, offset + total, std::move(text));
    } else if (code == "B1") {
        if (!parseFields(fieldsText, "nnnnnnnn", f, error))
            return fail();
        Barcode1D barcode{number(f, 0), number(f, 1), number(f, 2), number(f, 3), number(f, 4),
                          number(f, 5), number(f, 6), number(f, 7), std::move(data)};
        emit(offset, offset + total, std::move(barcode));
    } else {
        const int command = code[1] - '0';
        // The symbology letter is the third field; it decides the rest.
        const size_t first = fieldsText.find(',');
        const size_t second = first == npos ? npos : fieldsText.find(',', first + 1);
        const std::string_view third =
            second == npos ? std::string_view() : fieldsText.substr(second + 1, fieldsText.find(',', second + 1) - second - 1);
        const char *pattern = third.size() == 1 ? barcode2DPattern(command, third[0]) : nullptr;
        if (!pattern) {
            diagnose(fieldsOffset + (second == npos ? 0 : second + 1),
                     std::string(code) + ": unknown symbology \"" + excerpt(third) + "\"");
            return true;
        }
        if (!parseFields(fieldsText, std::string("nnc") + pattern, f, error))
            return fail();
        Barcode2D barcode{command, number(f, 0), number(f, 1), letter(f, 2),
                          std::vector<Field>(f.begin() + 3, f.end()), std::move(data)};
        emit(offset, offset + total, std::move(barcode));
    }
    return true;
}

bool Parser::bitmapHeader(bool compressed) {
    const uint64_t offset = base_ + pos_;
    const size_t avail = buffer_.size() - pos_;
    const size_t headerLength = compressed ? 12 : 10;
    if (avail < headerLength) {
        if (!finishing_)
            return false;
        diagnose(offset, std::string(compressed ? "LCR" : "LD") + ": bitmap header incomplete at end of input");
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
        discardLine(offset, std::string(compressed ? "LCR" : "LD") + ": bitmap of " + std::to_string(bitmapTotal_) +
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
        std::vector<uint8_t> &raster = bitmap_.raster;
        while (raster.size() < bitmapTotal_ && used < avail) {
            const auto byte = static_cast<unsigned char>(p[used]);
            if (byte != 0x00 && byte != 0xFF) {
                raster.push_back(byte);
                ++used;
                continue;
            }
            if (used + 1 >= avail)
                break;  // the count byte has not arrived yet
            const auto count = static_cast<unsigned char>(p[used + 1]);
            if (count == 0)
                diagnose(base_ + pos_ + used, "LCR: run of length 0");
            const size_t left = bitmapTotal_ - raster.size();
            overrun = overrun || count > left;
            raster.insert(raster.end(), std::min<size_t>(count, left), byte);
            used += 2;
        }
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
    diagnose(bitmapOffset_, std::string(bitmap_.compressed ? "LCR" : "LD") + ": bitmap data incomplete, " +
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

size_t decodeRunLength(std::string_view stream, size_t total, std::vector<uint8_t> &raster, bool &overrun) {
    overrun = false;
    raster.clear();
    size_t used = 0;
    while (raster.size() < total) {
        if (used >= stream.size())
            return 0;
        const auto byte = static_cast<unsigned char>(stream[used]);
        if (byte != 0x00 && byte != 0xFF) {
            raster.push_back(byte);
            ++used;
            continue;
        }
        if (used + 1 >= stream.size())
            return 0;
        const auto count = static_cast<unsigned char>(stream[used + 1]);
        const size_t left = total - raster.size();
        overrun = overrun || count > left;
        raster.insert(raster.end(), std::min<size_t>(count, left), byte);
        used += 2;
    }
    return used;
}

std::string commandName(const Body &body) {
    struct Visitor {
        std::string operator()(const ModelQuery &) const { return "^PI0"; }
        std::string operator()(const StatusQuery &) const { return "^cu"; }
        std::string operator()(const Print &) const { return "P"; }
        std::string operator()(const Clear &) const { return "CB"; }
        std::string operator()(const DeviceText &) const { return "T"; }
        std::string operator()(const VectorText &) const { return "V"; }
        std::string operator()(const Block &) const { return "BD"; }
        std::string operator()(const Circle &) const { return "CD"; }
        std::string operator()(const Barcode1D &) const { return "B1"; }
        std::string operator()(const Barcode2D &b) const { return b.command == 3 ? "B3" : "B2"; }
        std::string operator()(const Setting &s) const {
            static const char *const names[] = {"SS", "SD", "SO", "CUT", "RWD", "SA", "TA",
                                                "ST", "SF", "SL", "SW", "SM", "CS"};
            return names[static_cast<int>(s.code)];
        }
        std::string operator()(const Control &c) const {
            static const char *const names[] = {"@", "~JC", "~JR", "~PH"};
            return names[static_cast<int>(c.code)];
        }
        std::string operator()(const Bitmap &b) const { return b.compressed ? "LCR" : "LD"; }
    };
    return std::visit(Visitor{}, body);
}

bool isComposition(const Body &body) {
    return std::holds_alternative<DeviceText>(body) || std::holds_alternative<VectorText>(body) ||
           std::holds_alternative<Block>(body) || std::holds_alternative<Circle>(body) ||
           std::holds_alternative<Barcode1D>(body) || std::holds_alternative<Barcode2D>(body) ||
           std::holds_alternative<Bitmap>(body);
}

}  // namespace cmdparse
