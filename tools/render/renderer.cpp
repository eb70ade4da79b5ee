#include "renderer.h"

#include <algorithm>
#include <climits>

#include "draw.h"
#include "fonts.h"

namespace render {
namespace {

using cmdparse::Command;
using cmdparse::Diagnostic;

// The command with its position moved by (dx, dy): margins move the origin.
// Moving each command, rather than drawing on a canvas enlarged by the
// margins, keeps memory to the label's size whatever the margins are.
Command moved(Command command, int dx, int dy) {
    const auto move = [](int &value, int by) {
        value = static_cast<int>(std::clamp<long long>(1LL * value + by, INT_MIN, INT_MAX));
    };
    const auto position = [&](auto &object) {
        move(object.x, dx);
        move(object.y, dy);
    };
    using namespace cmdparse;
    if (auto *t = std::get_if<DeviceText>(&command.body)) position(*t);
    if (auto *v = std::get_if<VectorText>(&command.body)) position(*v);
    if (auto *c = std::get_if<Circle>(&command.body)) position(*c);
    if (auto *b1 = std::get_if<Barcode1D>(&command.body)) position(*b1);
    if (auto *b2 = std::get_if<Barcode2D>(&command.body)) position(*b2);
    if (auto *bitmap = std::get_if<Bitmap>(&command.body)) position(*bitmap);
    if (auto *block = std::get_if<Block>(&command.body)) {
        move(block->startX, dx);
        move(block->endX, dx);
        move(block->startY, dy);
        move(block->endY, dy);
    }
    return command;
}

// Sends a command to the drawing of its family.
struct Family {
    const Drawing &drawing;
    void operator()(const cmdparse::DeviceText &text) const { drawDeviceText(drawing, text); }
    void operator()(const cmdparse::VectorText &text) const { drawVectorText(drawing, text); }
    void operator()(const cmdparse::Block &block) const { drawBlock(drawing, block); }
    void operator()(const cmdparse::Circle &circle) const { drawCircle(drawing, circle); }
    void operator()(const cmdparse::Bitmap &bitmap) const { drawBitmap(drawing, bitmap); }
    void operator()(const cmdparse::Barcode1D &barcode) const { drawBarcode1D(drawing, barcode); }
    void operator()(const cmdparse::Barcode2D &barcode) const { drawBarcode2D(drawing, barcode); }
    void operator()(const auto &) const {}  // settings, control commands and queries draw nothing
};

}  // namespace

Renderer::Renderer() : fonts_(std::make_unique<Fonts>()) {}
Renderer::~Renderer() = default;

std::optional<RenderedLabel> Renderer::apply(Command command) {
    using namespace cmdparse;
    if (const auto *print = std::get_if<Print>(&command.body))
        return render(true, print->labels, print->copies);
    if (std::holds_alternative<Clear>(command.body)) {
        pending_.clear();
        dropping_ = false;
        return std::nullopt;
    }
    if (const auto *control = std::get_if<Control>(&command.body)) {
        if (control->code == ControlCode::Initialize || control->code == ControlCode::Reset) {
            pending_.clear();
            dropping_ = false;
            state_ = PrinterState{};
        }
        return std::nullopt;
    }
    if (std::holds_alternative<Setting>(command.body)) {
        setting(command);
        return std::nullopt;
    }
    if (isComposition(command.body)) {
        // A label that is never printed must not hold memory without bound:
        // the first command dropped is named, and the note says the later
        // ones go the same way.
        if (pending_.size() >= kMaxPending) {
            if (!dropping_)
                stateNote(command.offset, cmdparse::commandName(command.body) + ": more than " +
                                              std::to_string(kMaxPending) +
                                              " drawing commands in one label; this one and the later ones are "
                                              "not drawn");
            dropping_ = true;
            return std::nullopt;
        }
        pending_.push_back(std::move(command));
    }
    return std::nullopt;
}

std::optional<RenderedLabel> Renderer::renderPending(bool always) {
    if (pending_.empty() && stateNotes_.empty() && !always)
        return std::nullopt;
    return render(false, 0, 0);
}

void Renderer::stateNote(uint64_t offset, std::string message) {
    if (stateNotes_.size() < kMaxStateNotes)
        stateNotes_.push_back({offset, std::move(message)});
    else if (stateNotes_.size() == kMaxStateNotes)
        stateNotes_.push_back({offset, "more notes of settings before this label are not listed"});
}

void Renderer::setting(const Command &command) {
    using cmdparse::SettingCode;
    const auto &s = std::get<cmdparse::Setting>(command.body);
    const auto side = [&](int value, int otherwise, const char *what) {
        if (value >= 8 && value <= kMaxSide)
            return value;
        const int used = value > kMaxSide ? kMaxSide : otherwise;
        stateNote(command.offset, cmdparse::commandName(command.body) + ": paper " + what + " " +
                                      std::to_string(value) + " out of range, using " + std::to_string(used));
        return used;
    };
    switch (s.code) {
    case SettingCode::PaperWidth: state_.paperWidth = side(field(s.fields, 0), kDefaultWidth, "width"); break;
    case SettingCode::PaperLength: state_.paperLength = side(field(s.fields, 0), kDefaultLength, "length"); break;
    case SettingCode::Orientation: {
        const char o = letterField(s.fields, 0);
        if (o == 'T' || o == 'B')
            state_.orientation = o;
        else
            stateNote(command.offset, "SO: unknown orientation, kept " + std::string(1, state_.orientation));
        break;
    }
    case SettingCode::Margin:
        state_.marginX = clampCoordinate(field(s.fields, 0));
        state_.marginY = clampCoordinate(field(s.fields, 1));
        break;
    default: break;  // speed, density, cutter, ... do not change the image
    }
}

RenderedLabel Renderer::render(bool printed, int labels, int copies) {
    RenderedLabel label;
    label.printed = printed;
    label.labels = labels;
    label.copies = copies;
    label.orientation = state_.orientation;
    label.notes = std::move(stateNotes_);
    stateNotes_.clear();
    dropping_ = false;
    label.canvas = Canvas(state_.paperWidth, state_.paperLength);
    for (const Command &command : pending_) {
        if (state_.marginX == 0 && state_.marginY == 0)
            draw(command, label.canvas, label.notes);
        else
            draw(moved(command, state_.marginX, state_.marginY), label.canvas, label.notes);
    }
    if (state_.orientation == 'B')
        label.canvas = label.canvas.rotated(2);
    pending_.clear();
    std::stable_sort(label.notes.begin(), label.notes.end(),
                     [](const Diagnostic &a, const Diagnostic &b) { return a.offset < b.offset; });
    return label;
}

void Renderer::draw(const Command &command, Canvas &canvas, std::vector<Diagnostic> &notes) {
    const Drawing drawing{*fonts_, canvas, command, notes};
    std::visit(Family{drawing}, command.body);
}

}  // namespace render
