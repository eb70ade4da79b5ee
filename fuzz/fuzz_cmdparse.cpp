// Fuzzes the command parser: any bytes, cut into pieces whose sizes come from
// the input itself, must parse without a crash, without reading past the
// input and within the limits, and give the same events as one whole feed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "json.h"
#include "parser.h"

namespace {

std::string transcript(const std::vector<cmdparse::Event> &events, uint64_t total) {
    std::string out;
    uint64_t lastCommandEnd = 0;
    for (const cmdparse::Event &event : events) {
        if (const auto *command = std::get_if<cmdparse::Command>(&event)) {
            // Commands come in stream order and lie inside the input.
            if (command->offset + command->length > total || command->offset < lastCommandEnd)
                std::abort();
            lastCommandEnd = command->offset + command->length;
            if (const auto *bitmap = std::get_if<cmdparse::Bitmap>(&command->body))
                if (bitmap->raster.size() != static_cast<size_t>(bitmap->bytesPerRow) * bitmap->rows)
                    std::abort();
            out += cmdparse::toJson(*command);
        } else {
            const auto &diagnostic = std::get<cmdparse::Diagnostic>(event);
            if (diagnostic.offset > total)
                std::abort();
            out += cmdparse::toJson(diagnostic);
        }
        out += '\n';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    // Small limits, so that the fuzzer reaches them with short inputs.
    cmdparse::Limits limits;
    limits.maxLine = 256;
    limits.maxQuoted = 512;
    limits.maxRaster = 4096;
    const unsigned split = data[0];
    ++data;
    --size;
    const std::string whole = transcript(cmdparse::parseAll(
                                             std::string_view(reinterpret_cast<const char *>(data), size), limits),
                                         size);

    cmdparse::Parser parser(limits);
    std::vector<cmdparse::Event> events;
    size_t at = 0;
    unsigned step = split;
    while (at < size) {
        const size_t piece = std::min<size_t>(size - at, 1 + step % 17);
        // Each piece is copied so that a read past it is caught.
        std::vector<uint8_t> copy(data + at, data + at + piece);
        parser.feed(copy.data(), copy.size());
        at += piece;
        step = step * 31 + 7;
        for (cmdparse::Event &event : parser.take())
            events.push_back(std::move(event));
    }
    parser.finish();
    for (cmdparse::Event &event : parser.take())
        events.push_back(std::move(event));
    if (transcript(events, size) != whole)
        std::abort();
    return 0;
}
