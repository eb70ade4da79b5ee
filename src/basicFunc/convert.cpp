// UTF-8 to the printer's code pages through the C library's iconv.
#include "convert.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>

#include "VrenLabelAPI.h"
#include "compose.h"
#include "owned.h"

namespace {

constexpr const char *kTag = "convertData";

struct CodePage {
    const char *name;
    const char *logLine;
};

constexpr CodePage kCodePages[] = {
    {"EUC-KR", "conv EUC-KR"}, {"CP949", "conv CP949"}, {"EUC-CN", "conv EUC-CN"},
    {"GB18030", "conv GB18030"}, {"BIG5", "conv BIG5"},   {"CP950", "conv CP950"},
    {"EUC-JP", "conv EUC-JP"}, {"CP932", "conv CP932"}, {"CP874", "conv CP874"},
};
constexpr int kCodePageCount = static_cast<int>(sizeof kCodePages / sizeof kCodePages[0]);

struct IconvCloser {
    void operator()(void *converter) const noexcept { iconv_close(static_cast<iconv_t>(converter)); }
};
using Converter = std::unique_ptr<void, IconvCloser>;

int noOutputArea() noexcept {
    printDebugLog(kTag, "Failed to alloc memory for convData");
    return VREN_E_NOMEM;
}

int conversionFailed(int error) noexcept {
    printDebugLog(kTag, "Failed to convert. errno : %d", error);
    return VREN_E_WRITE;
}

}  // namespace

namespace vren {

// The converter and the output area are released when this returns, before
// the buffer check may send the buffer.
int appendConverted(std::string_view header, const char *data, size_t length, int codePage) noexcept {
    // Two output bytes per input byte hold the longest conversion of every
    // code page of the table. calloc keeps a large area cheap until it is used.
    const size_t room = 2 * length;
    const Allocated<char> output(static_cast<char *>(std::calloc(room == 0 ? 1 : room, 1)));
    if (!output)
        return noOutputArea();
    printDebugLog(kTag, "dataLen = %zu", length);

    if (codePage < 0 || codePage >= kCodePageCount) {
        printDebugLog(kTag, "Wrong code page.");
        return appendQuoted(kTag, header, data);
    }
    printDebugLog(kTag, "%s", kCodePages[codePage].logLine);
    // No transliteration or substitution: a character the code page lacks is
    // an error, not a replacement character.
    const iconv_t opened = iconv_open(kCodePages[codePage].name, "UTF-8");
    if (opened == reinterpret_cast<iconv_t>(-1))
        return conversionFailed(errno);
    const Converter converter(opened);

    char *in = const_cast<char *>(data);
    size_t inLeft = length;
    char *out = output.get();
    size_t outLeft = room;
    if (iconv(static_cast<iconv_t>(converter.get()), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
        return conversionFailed(errno);
    return appendQuoted(kTag, header, std::string_view(output.get(), room - outLeft));
}

}  // namespace vren

extern "C" VREN_API int convertData(const char *data, int length, int codePage) {
    // A negative length asks for an output area no allocation can give: it
    // fails like one.
    if (data != nullptr && length < 0)
        return noOutputArea();
    return vren::composeData(kTag, "", {data, vren::convertTo(codePage), static_cast<size_t>(length)});
}
