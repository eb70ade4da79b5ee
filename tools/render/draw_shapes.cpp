// Blocks (BD), circles (CD) and bitmaps (LD, LCR).
#include <cstdlib>

#include "draw.h"

namespace render {

void drawBlock(const Drawing &drawing, const cmdparse::Block &b) {
    Canvas &canvas = drawing.canvas;
    const int x0 = clampCoordinate(std::min(b.startX, b.endX));
    const int x1 = clampCoordinate(std::max(b.startX, b.endX));
    const int y0 = clampCoordinate(std::min(b.startY, b.endY));
    const int y1 = clampCoordinate(std::max(b.startY, b.endY));
    int thickness = b.thickness.value_or(1);
    if ((b.option == 'S' || b.option == 'B') && (!b.thickness || thickness < 1 || thickness > 1000)) {
        drawing.note("thickness missing or out of range, drawn as 1");
        thickness = 1;
    }
    switch (b.option) {
    case 'O': canvas.fill(x0, y0, x1, y1); return;
    case 'E': canvas.invert(x0, y0, x1, y1); return;
    case 'D': canvas.fill(x0, y0, x1, y1, false); return;
    case 'B': canvas.frame(x0, y0, x1, y1, thickness); return;
    case 'S': break;
    default:
        drawing.note(std::string("unknown block option ") + b.option + "; outlined");
        drawing.outline(x0, y0);
        return;
    }
    // A line from start to end, a thickness-wide square stamped at every step
    // of Bresenham's walk. A step moves the square by one dot across and/or
    // down, so after the first square only the column and row it moves into
    // are new: filling those keeps a thick line across a large label linear
    // in its length.
    int x = clampCoordinate(b.startX), y = clampCoordinate(b.startY);
    const int ex = clampCoordinate(b.endX), ey = clampCoordinate(b.endY);
    const int dx = std::abs(ex - x), dy = -std::abs(ey - y);
    const int sx = x < ex ? 1 : -1, sy = y < ey ? 1 : -1;
    int error = dx + dy;
    canvas.fill(x, y, x + thickness, y + thickness);
    while (x != ex || y != ey) {
        const int twice = 2 * error;
        const bool across = twice >= dy, down = twice <= dx;
        if (across) {
            error += dy;
            x += sx;
        }
        if (down) {
            error += dx;
            y += sy;
        }
        if (across) {
            const int column = sx > 0 ? x + thickness - 1 : x;
            canvas.fill(column, y, column + 1, y + thickness);
        }
        if (down) {
            const int row = sy > 0 ? y + thickness - 1 : y;
            canvas.fill(x, row, x + thickness, row + 1);
        }
    }
}

void drawCircle(const Drawing &drawing, const cmdparse::Circle &c) {
    static const int diameters[] = {24, 48, 72, 96, 128, 160};
    int size = c.size, times = c.multiplier;
    if (size < 1 || size > 6) {
        drawing.note("size " + std::to_string(size) + " drawn as 2");
        size = 2;
    }
    if (times < 1 || times > 4) {
        drawing.note("multiplier " + std::to_string(times) + " drawn as 1");
        times = 1;
    }
    const int d = diameters[size - 1] * times;
    const int inner = d - 4 * times;  // a ring 2 x multiplier dots wide
    const int x = clampCoordinate(c.x), y = clampCoordinate(c.y);
    // Dot centres in doubled coordinates, so the test is exact.
    for (int py = 0; py < d; ++py) {
        for (int px = 0; px < d; ++px) {
            const long long u = 2LL * px + 1 - d, w = 2LL * py + 1 - d;
            const long long r = u * u + w * w;
            if (r <= 1LL * d * d && r > 1LL * inner * inner)
                drawing.canvas.set(x + px, y + py);
        }
    }
}

void drawBitmap(const Drawing &drawing, const cmdparse::Bitmap &bitmap) {
    const int rowBits = static_cast<int>(bitmap.bytesPerRow) * 8;
    for (unsigned row = 0; row < bitmap.rows; ++row) {
        const uint8_t *bytes = bitmap.raster.data() + static_cast<size_t>(row) * bitmap.bytesPerRow;
        for (int bit = 0; bit < rowBits; ++bit)
            if (bytes[bit >> 3] & (0x80 >> (bit & 7)))
                drawing.canvas.set(bitmap.x + bit, bitmap.y + static_cast<int>(row));
    }
}

}  // namespace render
