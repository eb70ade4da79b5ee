// A printer's view of one byte stream: parses it as it arrives, cuts it into
// labels at the print commands, renders each label, and keeps per label the
// raw bytes and a JSON transcript of the parsed commands with the parser's and
// renderer's diagnostics.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "canvas.h"
#include "parser.h"
#include "renderer.h"

namespace render {

struct LabelOutput {
    int number = 0;   // 1, 2, ... within the session
    Canvas canvas;
    std::string raw;  // the label's bytes: from the end of the previous label to its print command
    std::string transcript;  // JSON, offsets counted from the first byte of `raw`
    bool printed = true;
    size_t diagnostics = 0;
};

class Session {
public:
    explicit Session(cmdparse::Limits limits = {});

    void feed(const void *data, size_t size);
    // End of the stream. With `renderUnprinted`, commands left without a print
    // command, and diagnostics of the bytes after the last one, are drawn as
    // one more label (marked "printed": false).
    void finish(bool renderUnprinted = false);
    std::vector<LabelOutput> take();
    // Diagnostics (JSON, as in a transcript) of the bytes after the last
    // label: they go with the next label, and are left here when the stream
    // ends without one, for the caller to report.
    std::vector<std::string> pendingDiagnostics() const;

    // Bytes received since the last label.
    uint64_t pendingBytes() const { return raw_.size(); }
    // Drawing commands received since the last print or clear command.
    size_t pendingComposition() const { return renderer_.pendingCount(); }

private:
    void handle(cmdparse::Event event);
    void emitLabel(RenderedLabel rendered, uint64_t end);

    cmdparse::Parser parser_;
    Renderer renderer_;
    std::string raw_;        // bytes of the label in progress
    uint64_t rawBase_ = 0;   // stream offset of raw_[0]
    bool rawTruncated_ = false;
    std::vector<std::string> commands_;     // JSON of the label's commands so far
    std::vector<std::string> diagnostics_;  // JSON of the parser's diagnostics so far
    int count_ = 0;
    std::vector<LabelOutput> labels_;
};

// The transcript's JSON text for one label.
std::string transcriptJson(int number, const RenderedLabel &label, const std::vector<std::string> &commands,
                           const std::vector<std::string> &diagnostics);

}  // namespace render
