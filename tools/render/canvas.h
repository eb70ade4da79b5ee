// A 1-bit image: one byte per dot (0 blank, 1 printed), rows top to bottom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace render {

class Canvas {
public:
    Canvas() = default;
    Canvas(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }

    bool at(int x, int y) const {
        return x >= 0 && y >= 0 && x < width_ && y < height_ && dots_[index(x, y)] != 0;
    }
    void set(int x, int y, bool dot = true) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            dots_[index(x, y)] = dot ? 1 : 0;
    }
    // Rectangle [x0, x1) x [y0, y1), clipped.
    void fill(int x0, int y0, int x1, int y1, bool dot = true);
    void invert(int x0, int y0, int x1, int y1);
    // Outline of the rectangle [x0, x1) x [y0, y1) with the given thickness.
    void frame(int x0, int y0, int x1, int y1, int thickness);

    // How `image` is put onto this canvas at (x, y): its printed dots added
    // (Or), or its whole area copied (Copy, used for reverse text).
    enum class Mode { Or, Copy };
    void draw(const Canvas &image, int x, int y, Mode mode = Mode::Or);

    // Turned clockwise by quarter turns (0 to 3).
    Canvas rotated(int quarterTurns) const;

    size_t countDots() const;
    const std::vector<uint8_t> &dots() const { return dots_; }
    bool operator==(const Canvas &) const = default;

private:
    size_t index(int x, int y) const { return static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x); }
    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> dots_;
};

}  // namespace render
