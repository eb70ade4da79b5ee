// Draws labels from parsed commands, the way the virtual printer prints them:
// 203 dots per inch (8 dots per mm), origin top left, one label per print
// command. Where the command language leaves a field's meaning open, the
// renderer follows the table in tools/README.md; a command it cannot draw is
// outlined on the label and named in a note, never dropped silently.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "canvas.h"
#include "command.h"

namespace render {

constexpr int kDefaultWidth = 812;    // 4 in
constexpr int kDefaultLength = 1218;  // 6 in
constexpr int kMaxSide = 8192;        // dots; larger paper sizes are clamped

// Settings as the printer keeps them between labels.
struct PrinterState {
    int paperWidth = kDefaultWidth;
    int paperLength = kDefaultLength;
    char orientation = 'T';
    int marginX = 0;
    int marginY = 0;
};

struct RenderedLabel {
    Canvas canvas;
    int labels = 1;
    int copies = 1;
    char orientation = 'T';
    bool printed = true;  // false: commands left without a print command, drawn for preview
    // The renderer's own notes, offsets as in the stream.
    std::vector<cmdparse::Diagnostic> notes;
};

class Fonts;

class Renderer {
public:
    Renderer();
    ~Renderer();
    Renderer(const Renderer &) = delete;
    Renderer &operator=(const Renderer &) = delete;

    // Settings change the state, composition commands are kept for the label,
    // CB drops them, initialise and reset restore the defaults, and a print
    // command draws the label and returns it.
    std::optional<RenderedLabel> apply(cmdparse::Command command);
    // Draws the commands kept since the last print or clear without printing;
    // nothing when no command and no note is waiting, unless `always`.
    std::optional<RenderedLabel> renderPending(bool always = false);
    size_t pendingCount() const { return pending_.size(); }
    // Notes of settings since the last label, given with the next one.
    const std::vector<cmdparse::Diagnostic> &pendingNotes() const { return stateNotes_; }
    const PrinterState &state() const { return state_; }

    // Draws composition commands onto `canvas` (origin at the margins);
    // appends a note per command that was not drawn as sent.
    void draw(const cmdparse::Command &command, Canvas &canvas, std::vector<cmdparse::Diagnostic> &notes);

    // Drawing commands kept for one label at most, and notes of settings
    // kept between labels: a stream that never prints holds no more.
    static constexpr size_t kMaxPending = 100000;
    static constexpr size_t kMaxStateNotes = 1000;

private:
    RenderedLabel render(bool printed, int labels, int copies);
    void setting(const cmdparse::Command &command);
    void stateNote(uint64_t offset, std::string message);

    std::unique_ptr<Fonts> fonts_;
    PrinterState state_;
    std::vector<cmdparse::Command> pending_;
    std::vector<cmdparse::Diagnostic> stateNotes_;  // notes of settings, given with the next label
    bool dropping_ = false;                          // drawing commands beyond kMaxPending are being dropped
};

}  // namespace render
