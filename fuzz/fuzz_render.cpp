// Fuzzes the renderer behind the parser: any bytes, fed in pieces whose sizes
// come from the input itself, must render without a crash, give pictures
// inside the paper limits and transcripts that are one JSON object each, and
// the same labels as one whole feed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "session.h"

namespace {

// Labels are taken after every piece, so that a stream of many print commands
// never holds more than a few full-size canvases at once.
struct Summary {
    std::vector<std::string> transcripts;
    std::vector<size_t> dots;
};

void collect(render::Session &session, Summary &summary) {
    for (const render::LabelOutput &label : session.take()) {
        const render::Canvas &canvas = label.canvas;
        if (canvas.width() < 8 || canvas.width() > 8192 || canvas.height() < 8 || canvas.height() > 8192)
            std::abort();
        if (label.transcript.empty() || label.transcript.front() != '{')
            std::abort();
        summary.transcripts.push_back(label.transcript);
        summary.dots.push_back(canvas.countDots());
    }
}

Summary renderStream(const uint8_t *data, size_t size, unsigned split) {
    cmdparse::Limits limits;
    limits.maxLine = 256;
    limits.maxQuoted = 1024;
    limits.maxRaster = 64 * 1024;
    render::Session session(limits);
    Summary summary;
    size_t at = 0;
    while (at < size) {
        const size_t piece = split == 0 ? size - at : std::min<size_t>(size - at, 1 + split % 13);
        // Each piece is copied so that a read past it is caught.
        const std::vector<uint8_t> copy(data + at, data + at + piece);
        session.feed(copy.data(), copy.size());
        collect(session, summary);
        at += piece;
        split = split == 0 ? 0 : split * 31 + 7;
    }
    session.finish(true);
    collect(session, summary);
    return summary;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > 4096)
        return 0;
    const unsigned split = data[0] | 1u;
    const Summary whole = renderStream(data + 1, size - 1, 0);
    const Summary pieces = renderStream(data + 1, size - 1, split);
    if (whole.transcripts != pieces.transcripts || whole.dots != pieces.dots)
        std::abort();
    return 0;
}
