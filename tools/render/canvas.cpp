#include "canvas.h"

#include <algorithm>
#include <cstring>

namespace render {

Canvas::Canvas(int width, int height)
    : width_(std::max(0, width)), height_(std::max(0, height)),
      dots_(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0) {}

void Canvas::fill(int x0, int y0, int x1, int y1, bool dot) {
    x0 = std::clamp(x0, 0, width_);
    x1 = std::clamp(x1, 0, width_);
    y0 = std::clamp(y0, 0, height_);
    y1 = std::clamp(y1, 0, height_);
    if (x0 >= x1)
        return;
    for (int y = y0; y < y1; ++y)
        std::memset(&dots_[index(x0, y)], dot ? 1 : 0, static_cast<size_t>(x1 - x0));
}

void Canvas::invert(int x0, int y0, int x1, int y1) {
    x0 = std::clamp(x0, 0, width_);
    x1 = std::clamp(x1, 0, width_);
    y0 = std::clamp(y0, 0, height_);
    y1 = std::clamp(y1, 0, height_);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            dots_[index(x, y)] ^= 1;
}

void Canvas::frame(int x0, int y0, int x1, int y1, int thickness) {
    thickness = std::max(1, thickness);
    if (x1 - x0 <= 2 * thickness || y1 - y0 <= 2 * thickness) {
        fill(x0, y0, x1, y1);
        return;
    }
    fill(x0, y0, x1, y0 + thickness);
    fill(x0, y1 - thickness, x1, y1);
    fill(x0, y0 + thickness, x0 + thickness, y1 - thickness);
    fill(x1 - thickness, y0 + thickness, x1, y1 - thickness);
}

void Canvas::draw(const Canvas &image, int x, int y, Mode mode) {
    const int sx0 = std::max(0, -x);
    const int sy0 = std::max(0, -y);
    const int sx1 = std::min(image.width_, width_ - x);
    const int sy1 = std::min(image.height_, height_ - y);
    for (int sy = sy0; sy < sy1; ++sy) {
        const uint8_t *from = &image.dots_[image.index(sx0, sy)];
        uint8_t *to = &dots_[index(x + sx0, y + sy)];
        if (mode == Mode::Copy) {
            if (sx1 > sx0)
                std::memcpy(to, from, static_cast<size_t>(sx1 - sx0));
            continue;
        }
        for (int i = 0; i < sx1 - sx0; ++i)
            to[i] |= from[i];
    }
}

Canvas Canvas::rotated(int quarterTurns) const {
    quarterTurns &= 3;
    if (quarterTurns == 0)
        return *this;
    const bool swap = quarterTurns % 2 == 1;
    Canvas out(swap ? height_ : width_, swap ? width_ : height_);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            if (!dots_[index(x, y)])
                continue;
            switch (quarterTurns) {
            case 1: out.dots_[out.index(height_ - 1 - y, x)] = 1; break;
            case 2: out.dots_[out.index(width_ - 1 - x, height_ - 1 - y)] = 1; break;
            default: out.dots_[out.index(y, width_ - 1 - x)] = 1; break;
            }
        }
    }
    return out;
}

size_t Canvas::countDots() const {
    return static_cast<size_t>(std::count(dots_.begin(), dots_.end(), uint8_t{1}));
}

}  // namespace render
