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

// What one label may hold, so that a stream that never prints holds no more.
struct SessionLimits {
    size_t maxRawBytes = 64 * 1024 * 1024;  // raw bytes kept; the rest of the label is cut
    size_t maxListed = 100000;              // commands, and diagnostics, listed in one transcript
};

class Session {
public:
    explicit Session(cmdparse::Limits limits = {}, SessionLimits own = {});

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
    void keepRaw(std::string_view bytes);
    void list(std::vector<std::string> &entries, size_t &omitted, std::string json);

    cmdparse::Parser parser_;
    Renderer renderer_;
    SessionLimits own_;
    std::string raw_;        // bytes of the label in progress
    uint64_t rawBase_ = 0;   // stream offset of raw_[0]
    bool rawTruncated_ = false;
    // The piece being fed: a label cut short keeps its bytes only up to the
    // limit, and the next label's first bytes are taken from here.
    std::string_view piece_;
    uint64_t pieceBase_ = 0;
    std::vector<std::string> commands_;     // JSON of the label's commands so far
    std::vector<std::string> diagnostics_;  // JSON of the parser's diagnostics so far
    size_t omittedCommands_ = 0, omittedDiagnostics_ = 0;  // beyond maxListed
    int count_ = 0;
    std::vector<LabelOutput> labels_;
};

// The transcript's JSON text for one label.
std::string transcriptJson(int number, const RenderedLabel &label, const std::vector<std::string> &commands,
                           const std::vector<std::string> &diagnostics);

}  // namespace render
