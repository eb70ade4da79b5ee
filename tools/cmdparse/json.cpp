#include "json.h"

#include <cstdio>
#include <variant>

#include <nlohmann/json.hpp>

namespace cmdparse {
namespace {

using Json = nlohmann::ordered_json;

// A letter field's byte as the character of that code, so that every byte
// stays one character (and the JSON text valid UTF-8).
std::string letter(char value) {
    const auto byte = static_cast<unsigned char>(value);
    if (byte < 0x80)
        return std::string(1, value);
    return {static_cast<char>(0xC0 | (byte >> 6)), static_cast<char>(0x80 | (byte & 0x3F))};
}

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// Whether `bytes` are valid UTF-8, as the JSON writer checks them.
bool isUtf8(const std::string &bytes) {
    try {
        Json(bytes).dump();
        return true;
    } catch (const Json::type_error &) {
        return false;
    }
}

Json fieldList(const std::vector<Field> &fields) {
    Json out = Json::array();
    for (const Field &field : fields) {
        if (field.letter)
            out.push_back(letter(static_cast<char>(field.value)));
        else
            out.push_back(field.value);
    }
    return out;
}

struct Writer {
    Json &o;

    // Text or barcode data: as text when it is UTF-8 (else null), and its
    // exact bytes.
    void data(const std::string &bytes) const {
        o["data"] = isUtf8(bytes) ? Json(bytes) : Json(nullptr);
        o["dataHex"] = hex(bytes);
    }

    void operator()(const ModelQuery &) const {}
    void operator()(const StatusQuery &) const {}
    void operator()(const Clear &) const {}
    void operator()(const Print &c) const {
        o["labels"] = c.labels;
        o["copies"] = c.copies;
    }
    void operator()(const DeviceText &c) const {
        o["x"] = c.x;
        o["y"] = c.y;
        if (c.fontIsLetter)
            o["font"] = letter(static_cast<char>(c.font));
        else
            o["font"] = c.font;
        o["xMultiplier"] = c.xMultiplier;
        o["yMultiplier"] = c.yMultiplier;
        o["reserved"] = c.reserved;
        o["rotation"] = c.rotation;
        o["fixed"] = letter(c.fixed);
        o["bold"] = letter(c.bold);
        data(c.data);
    }
    void operator()(const VectorText &c) const {
        o["x"] = c.x;
        o["y"] = c.y;
        o["font"] = letter(c.font);
        o["width"] = c.width;
        o["height"] = c.height;
        o["spacing"] = c.spacing;
        o["bold"] = letter(c.bold);
        o["reverse"] = letter(c.reverse);
        o["italic"] = letter(c.italic);
        o["rotation"] = c.rotation;
        o["alignment"] = letter(c.alignment);
        o["lastOption"] = c.lastOption;
        data(c.data);
    }
    void operator()(const Block &c) const {
        o["startX"] = c.startX;
        o["startY"] = c.startY;
        o["endX"] = c.endX;
        o["endY"] = c.endY;
        o["option"] = letter(c.option);
        if (c.thickness)
            o["thickness"] = *c.thickness;
    }
    void operator()(const Circle &c) const {
        o["x"] = c.x;
        o["y"] = c.y;
        o["size"] = c.size;
        o["multiplier"] = c.multiplier;
    }
    void operator()(const Barcode1D &c) const {
        o["x"] = c.x;
        o["y"] = c.y;
        o["type"] = c.type;
        o["narrow"] = c.narrow;
        o["wide"] = c.wide;
        o["height"] = c.height;
        o["rotation"] = c.rotation;
        o["readable"] = c.readable;
        data(c.data);
    }
    void operator()(const Barcode2D &c) const {
        o["x"] = c.x;
        o["y"] = c.y;
        o["symbology"] = letter(c.symbology);
        o["fields"] = fieldList(c.fields);
        data(c.data);
    }
    void operator()(const Setting &c) const { o["fields"] = fieldList(c.fields); }
    void operator()(const Control &) const {}
    void operator()(const Bitmap &c) const {
        o["x"] = c.x;
        o["y"] = c.y;
        o["bytesPerRow"] = c.bytesPerRow;
        o["rows"] = c.rows;
        o["streamBytes"] = c.streamBytes;
        o["raster"] = rasterDigest(c.raster);
    }
};

// One line of JSON; bytes of a string that are not UTF-8 become U+FFFD.
std::string text(const Json &json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string toJson(const Command &command, uint64_t base) {
    Json o;
    o["offset"] = static_cast<long long>(command.offset - base);
    o["length"] = command.length;
    o["command"] = commandName(command.body);
    std::visit(Writer{o}, command.body);
    return text(o);
}

std::string toJson(const Diagnostic &diagnostic, uint64_t base, std::string_view source) {
    Json o;
    o["offset"] = static_cast<long long>(diagnostic.offset - base);
    o["source"] = source;
    o["message"] = diagnostic.message;
    return text(o);
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
