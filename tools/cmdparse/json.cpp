#include "json.h"

#include <cstdio>
#include <variant>

namespace cmdparse {
namespace {

class Object {
public:
    explicit Object(std::string &out) : out_(out) { out_ += '{'; }
    ~Object() { out_ += '}'; }
    Object &number(const char *key, long long value) {
        this->key(key);
        out_ += std::to_string(value);
        return *this;
    }
    Object &text(const char *key, std::string_view value) {
        this->key(key);
        out_ += jsonString(value);
        return *this;
    }
    Object &letter(const char *key, char value) { return text(key, std::string_view(&value, 1)); }
    Object &raw(const char *key, std::string_view json) {
        this->key(key);
        out_ += json;
        return *this;
    }

private:
    void key(const char *name) {
        if (!first_)
            out_ += ',';
        first_ = false;
        out_ += '"';
        out_ += name;
        out_ += "\":";
    }
    std::string &out_;
    bool first_ = true;
};

std::string fieldList(const std::vector<Field> &fields) {
    std::string out = "[";
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            out += ',';
        if (fields[i].letter) {
            const char c = static_cast<char>(fields[i].value);
            out += jsonString(std::string_view(&c, 1));
        } else {
            out += std::to_string(fields[i].value);
        }
    }
    out += ']';
    return out;
}

struct Writer {
    Object &o;

    void operator()(const ModelQuery &) const {}
    void operator()(const StatusQuery &) const {}
    void operator()(const Clear &) const {}
    void operator()(const Print &c) const { o.number("labels", c.labels).number("copies", c.copies); }
    void operator()(const DeviceText &c) const {
        o.number("x", c.x).number("y", c.y);
        if (c.fontIsLetter)
            o.letter("font", static_cast<char>(c.font));
        else
            o.number("font", c.font);
        o.number("xMultiplier", c.xMultiplier).number("yMultiplier", c.yMultiplier).number("reserved", c.reserved);
        o.number("rotation", c.rotation).letter("fixed", c.fixed).letter("bold", c.bold).text("data", c.data);
    }
    void operator()(const VectorText &c) const {
        o.number("x", c.x).number("y", c.y).letter("font", c.font).number("width", c.width);
        o.number("height", c.height).number("spacing", c.spacing).letter("bold", c.bold);
        o.letter("reverse", c.reverse).letter("italic", c.italic).number("rotation", c.rotation);
        o.letter("alignment", c.alignment).number("lastOption", c.lastOption).text("data", c.data);
    }
    void operator()(const Block &c) const {
        o.number("startX", c.startX).number("startY", c.startY).number("endX", c.endX).number("endY", c.endY);
        o.letter("option", c.option);
        if (c.thickness)
            o.number("thickness", *c.thickness);
    }
    void operator()(const Circle &c) const {
        o.number("x", c.x).number("y", c.y).number("size", c.size).number("multiplier", c.multiplier);
    }
    void operator()(const Barcode1D &c) const {
        o.number("x", c.x).number("y", c.y).number("type", c.type).number("narrow", c.narrow);
        o.number("wide", c.wide).number("height", c.height).number("rotation", c.rotation);
        o.number("readable", c.readable).text("data", c.data);
    }
    void operator()(const Barcode2D &c) const {
        o.number("x", c.x).number("y", c.y).letter("symbology", c.symbology);
        o.raw("fields", fieldList(c.fields)).text("data", c.data);
    }
    void operator()(const Setting &c) const {
        o.raw("fields", fieldList(c.fields));
    }
    void operator()(const Control &) const {}
    void operator()(const Bitmap &c) const {
        o.number("x", c.x).number("y", c.y).number("bytesPerRow", c.bytesPerRow).number("rows", c.rows);
        o.number("streamBytes", static_cast<long long>(c.streamBytes)).text("raster", rasterDigest(c.raster));
    }
};

}  // namespace

std::string jsonString(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char cell[8];
            std::snprintf(cell, sizeof cell, "\\u%04x", c);
            out += cell;
        }
    }
    out += '"';
    return out;
}

std::string toJson(const Command &command, uint64_t base) {
    std::string out;
    {
        Object o(out);
        o.number("offset", static_cast<long long>(command.offset - base));
        o.number("length", static_cast<long long>(command.length));
        o.text("command", commandName(command.body));
        std::visit(Writer{o}, command.body);
    }
    return out;
}

std::string toJson(const Diagnostic &diagnostic, uint64_t base, std::string_view source) {
    std::string out;
    {
        Object o(out);
        o.number("offset", static_cast<long long>(diagnostic.offset - base));
        o.text("source", source).text("message", diagnostic.message);
    }
    return out;
}

std::string rasterDigest(const std::vector<uint8_t> &raster) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (uint8_t byte : raster) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

}  // namespace cmdparse
