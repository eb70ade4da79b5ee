#include "session.h"

#include <nlohmann/json.hpp>

#include "json.h"

namespace render {

Session::Session(cmdparse::Limits limits, SessionLimits own) : parser_(limits), own_(own) {}

void Session::keepRaw(std::string_view bytes) {
    const size_t room = raw_.size() < own_.maxRawBytes ? own_.maxRawBytes - raw_.size() : 0;
    rawTruncated_ = rawTruncated_ || bytes.size() > room;
    raw_.append(bytes.data(), std::min(bytes.size(), room));
}

void Session::list(std::vector<std::string> &entries, size_t &omitted, std::string json) {
    if (entries.size() < own_.maxListed)
        entries.push_back(std::move(json));
    else
        ++omitted;
}

void Session::feed(const void *data, size_t size) {
    piece_ = std::string_view(static_cast<const char *>(data), size);
    pieceBase_ = parser_.fed();
    keepRaw(piece_);
    parser_.feed(data, size);
    for (cmdparse::Event &event : parser_.take())
        handle(std::move(event));
    piece_ = {};
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

std::vector<LabelOutput> Session::take() {
    std::vector<LabelOutput> out;
    out.swap(labels_);
    return out;
}

std::vector<std::string> Session::pendingDiagnostics() const {
    std::vector<std::string> out = diagnostics_;
    for (const cmdparse::Diagnostic &note : renderer_.pendingNotes())
        out.push_back(cmdparse::toJson(note, rawBase_, "renderer"));
    return out;
}

void Session::handle(cmdparse::Event event) {
    if (const auto *diagnostic = std::get_if<cmdparse::Diagnostic>(&event)) {
        list(diagnostics_, omittedDiagnostics_, cmdparse::toJson(*diagnostic, rawBase_));
        return;
    }
    auto &command = std::get<cmdparse::Command>(event);
    list(commands_, omittedCommands_, cmdparse::toJson(command, rawBase_));
    const uint64_t end = command.offset + command.length;
    if (auto label = renderer_.apply(std::move(command)))
        emitLabel(std::move(*label), end);
}

void Session::emitLabel(RenderedLabel rendered, uint64_t end) {
    LabelOutput out;
    out.number = ++count_;
    out.printed = rendered.printed;
    const uint64_t length = end - rawBase_;
    if (length > raw_.size())
        list(diagnostics_, omittedDiagnostics_,
             cmdparse::toJson(cmdparse::Diagnostic{rawBase_ + raw_.size(), "raw bytes of the label cut at " +
                                                                               std::to_string(own_.maxRawBytes) +
                                                                               " bytes"},
                              rawBase_, "printer"));
    for (const cmdparse::Diagnostic &note : rendered.notes)
        list(diagnostics_, omittedDiagnostics_, cmdparse::toJson(note, rawBase_, "renderer"));
    if (omittedCommands_ > 0 || omittedDiagnostics_ > 0)
        diagnostics_.push_back(cmdparse::toJson(
            cmdparse::Diagnostic{end, "the transcript lists the first " + std::to_string(own_.maxListed) +
                                          " commands and diagnostics; " + std::to_string(omittedCommands_) +
                                          " more commands and " + std::to_string(omittedDiagnostics_) +
                                          " more diagnostics are not listed"},
            rawBase_, "printer"));
    out.diagnostics = diagnostics_.size() + omittedDiagnostics_;
    out.transcript = transcriptJson(out.number, rendered, commands_, diagnostics_);
    out.raw = raw_.substr(0, static_cast<size_t>(std::min<uint64_t>(length, raw_.size())));
    out.canvas = std::move(rendered.canvas);
    commands_.clear();
    diagnostics_.clear();
    omittedCommands_ = omittedDiagnostics_ = 0;
    if (rawTruncated_) {
        // Bytes were left out at the limit: those after this label's end
        // come from the piece being fed (a label ends in the piece that holds
        // its last byte), and begin the next label.
        raw_.clear();
        rawTruncated_ = false;
        if (end >= pieceBase_ && end < pieceBase_ + piece_.size())
            keepRaw(piece_.substr(static_cast<size_t>(end - pieceBase_)));
    } else {
        raw_.erase(0, out.raw.size());
    }
    rawBase_ = end;
    labels_.push_back(std::move(out));
}

std::string transcriptJson(int number, const RenderedLabel &label, const std::vector<std::string> &commands,
                           const std::vector<std::string> &diagnostics) {
    const nlohmann::ordered_json head = {
        {"label", number},
        {"printed", label.printed},
        {"labels", label.labels},
        {"copies", label.copies},
        {"width", label.canvas.width()},
        {"height", label.canvas.height()},
        {"orientation", std::string(1, label.orientation)},
    };
    // The lists follow in the same object, one entry a line, each entry the
    // JSON text kept when its command or diagnostic came.
    std::string out = head.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    out.pop_back();
    out += ",\n\"commands\":[";
    for (size_t i = 0; i < commands.size(); ++i)
        out += (i ? ",\n" : "\n") + commands[i];
    out += "],\n\"diagnostics\":[";
    for (size_t i = 0; i < diagnostics.size(); ++i)
        out += (i ? ",\n" : "\n") + diagnostics[i];
    out += "]}\n";
    return out;
}

}  // namespace render
