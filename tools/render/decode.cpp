#include "decode.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

namespace render {
namespace {

struct IconvCloser {
    void operator()(void *cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// One UTF-8 sequence at `bytes[i]`; returns its length, 0 when invalid.
size_t utf8Sequence(std::string_view bytes, size_t i, char32_t &code) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    size_t length = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > bytes.size())
        return 0;
    code = length == 1 ? b0 : length == 2 ? (b0 & 0x1F) : length == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(bytes[i + k]);
        if ((b >> 6) != 2)
            return 0;
        code = (code << 6) | (b & 0x3F);
    }
    static const char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

std::u32string fromUtf8(std::string_view bytes, bool &replaced) {
    std::u32string out;
    for (size_t i = 0; i < bytes.size();) {
        char32_t code = 0;
        const size_t length = utf8Sequence(bytes, i, code);
        if (length == 0) {
            out.push_back(U'\uFFFD');
            replaced = true;
            ++i;
            continue;
        }
        out.push_back(code);
        i += length;
    }
    return out;
}

}  // namespace

std::u32string decodeText(std::string_view bytes, const std::string &encoding, bool &replaced) {
    replaced = false;
    if (encoding.empty())
        return fromUtf8(bytes, replaced);
    const iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        replaced = true;
        std::u32string out;
        for (unsigned char c : bytes)
            out.push_back(c);
        return out;
    }
    std::unique_ptr<void, IconvCloser> owner(cd);
    std::string utf8;
    char chunk[256];
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char *outPtr = chunk;
        size_t outLeft = sizeof chunk;
        const size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        utf8.append(chunk, static_cast<size_t>(outPtr - chunk));
        if (result != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // An invalid or incomplete sequence: one replacement, skip one byte.
        utf8 += "\xEF\xBF\xBD";
        replaced = true;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    bool invalid = false;
    std::u32string out = fromUtf8(utf8, invalid);
    return out;
}

}  // namespace render
