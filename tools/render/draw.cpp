#include "draw.h"

#include "fonts.h"

namespace render {
namespace {

constexpr int kOutlineWidth = 160;
constexpr int kOutlineHeight = 48;

}  // namespace

void Drawing::note(std::string message) const {
    notes.push_back({command.offset, cmdparse::commandName(command.body) + ": " + std::move(message)});
}

void Drawing::outline(int x, int y) const {
    x = clampCoordinate(x);
    y = clampCoordinate(y);
    canvas.frame(x, y, x + kOutlineWidth, y + kOutlineHeight, 2);
    const std::string name = cmdparse::commandName(command.body);
    TextImage text;
    std::string error;
    if (fonts.line(std::u32string(name.begin(), name.end()), TextStyle{Face::Mono, 20, 20, 0, false}, text, error))
        canvas.draw(text.canvas, x + 8, y + (kOutlineHeight - text.canvas.height()) / 2);
}

int Drawing::quarterTurns(int rotation) const {
    if (rotation >= 0 && rotation <= 3)
        return rotation;
    note("rotation " + std::to_string(rotation) + " drawn as 0");
    return 0;
}

void Drawing::place(const Canvas &image, int x, int y, int turns, int shift, Canvas::Mode mode) const {
    static const int dx[] = {1, 0, -1, 0};
    static const int dy[] = {0, 1, 0, -1};
    canvas.draw(image.rotated(turns), clampCoordinate(x) + shift * dx[turns], clampCoordinate(y) + shift * dy[turns],
                mode);
}

}  // namespace render
