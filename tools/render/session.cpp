#include "session.h"

#include "json.h"

namespace render {
namespace {

// Raw bytes kept for one label at most; a stream that never prints is cut.
constexpr size_t kMaxRaw = 64 * 1024 * 1024;

}  // namespace

Session::Session(cmdparse::Limits limits) : parser_(limits) {}

void Session::feed(const void *data, size_t size) {
    const size_t room = raw_.size() < kMaxRaw ? kMaxRaw - raw_.size() : 0;
    if (size > room && !rawTruncated_) {
        rawTruncated_ = true;
        diagnostics_.push_back(cmdparse::toJson(cmdparse::Diagnostic{rawBase_ + raw_.size() + room,
                                                                     "raw bytes of the label cut at 64 MiB"},
                                                rawBase_, "printer"));
    }
    raw_.append(static_cast<const char *>(data), std::min(size, room));
    parser_.feed(data, size);
    for (cmdparse::Event &event : parser_.take())
        handle(std::move(event));
}

void Session::finish(bool renderUnprinted) {
    parser_.finish();
    for (cmdparse::Event &event : parser_.take())
        handle(std::move(event));
    if (renderUnprinted) {
        if (auto label = renderer_.renderPending(!diagnostics_.empty()))
            emitLabel(std::move(*label), parser_.fed());
    }
}

std::vector<std::string> Session::pendingDiagnostics() const {
    std::vector<std::string> out = diagnostics_;
    for (const cmdparse::Diagnostic &note : renderer_.pendingNotes())
        out.push_back(cmdparse::toJson(note, rawBase_, "renderer"));
    return out;
}

std::vector<LabelOutput> Session::take() {
    std::vector<LabelOutput> out;
    out.swap(labels_);
    return out;
}

void Session::handle(cmdparse::Event event) {
    if (const auto *diagnostic = std::get_if<cmdparse::Diagnostic>(&event)) {
        diagnostics_.push_back(cmdparse::toJson(*diagnostic, rawBase_));
        return;
    }
    auto &command = std::get<cmdparse::Command>(event);
    commands_.push_back(cmdparse::toJson(command, rawBase_));
    const uint64_t end = command.offset + command.length;
    if (auto label = renderer_.apply(std::move(command)))
        emitLabel(std::move(*label), end);
}

void Session::emitLabel(RenderedLabel rendered, uint64_t end) {
    LabelOutput out;
    out.number = ++count_;
    out.printed = rendered.printed;
    for (const cmdparse::Diagnostic &note : rendered.notes)
        diagnostics_.push_back(cmdparse::toJson(note, rawBase_, "renderer"));
    out.diagnostics = diagnostics_.size();
    out.transcript = transcriptJson(out.number, rendered, commands_, diagnostics_);
    const size_t cut = static_cast<size_t>(std::min<uint64_t>(end - rawBase_, raw_.size()));
    out.raw = raw_.substr(0, cut);
    raw_.erase(0, cut);
    rawBase_ = end;
    rawTruncated_ = false;
    out.canvas = std::move(rendered.canvas);
    commands_.clear();
    diagnostics_.clear();
    labels_.push_back(std::move(out));
}

std::string transcriptJson(int number, const RenderedLabel &label, const std::vector<std::string> &commands,
                           const std::vector<std::string> &diagnostics) {
    std::string out = "{\"label\":" + std::to_string(number);
    out += ",\"printed\":";
    out += label.printed ? "true" : "false";
    out += ",\"labels\":" + std::to_string(label.labels) + ",\"copies\":" + std::to_string(label.copies);
    out += ",\"width\":" + std::to_string(label.canvas.width()) + ",\"height\":" +
           std::to_string(label.canvas.height());
    out += ",\"orientation\":\"";
    out += label.orientation;
    out += "\",\n\"commands\":[";
    for (size_t i = 0; i < commands.size(); ++i)
        out += (i ? ",\n" : "\n") + commands[i];
    out += "],\n\"diagnostics\":[";
    for (size_t i = 0; i < diagnostics.size(); ++i)
        out += (i ? ",\n" : "\n") + diagnostics[i];
    out += "]}\n";
    return out;
}

}  // namespace render
