#include "bands.h"

#include <algorithm>

namespace vrenapp {

namespace {

bool rowIsBlank(const unsigned char *row, unsigned bytesPerRow) {
    return std::all_of(row, row + bytesPerRow, [](unsigned char byte) { return byte == 0; });
}

}  // namespace

size_t runLengthSize(const unsigned char *data, size_t size) {
    size_t out = 0;
    for (size_t i = 0; i < size;) {
        const unsigned char byte = data[i];
        if (byte != 0x00 && byte != 0xFF) {
            ++out;
            ++i;
            continue;
        }
        size_t run = 1;
        while (i + run < size && data[i + run] == byte && run < 255)
            ++run;
        out += 2;
        i += run;
    }
    return out;
}

std::vector<Band> planBands(const unsigned char *page, unsigned bytesPerRow, unsigned rows, size_t maxBytes) {
    std::vector<Band> bands;
    if (bytesPerRow == 0)
        return bands;
    const unsigned perBand = static_cast<unsigned>(std::max<size_t>(1, maxBytes / bytesPerRow));
    for (unsigned start = 0; start < rows; start += perBand) {
        unsigned first = start;
        unsigned end = std::min(rows, start + perBand);
        while (first < end && rowIsBlank(page + static_cast<size_t>(first) * bytesPerRow, bytesPerRow))
            ++first;
        while (end > first && rowIsBlank(page + static_cast<size_t>(end - 1) * bytesPerRow, bytesPerRow))
            --end;
        if (first == end)
            continue;
        const size_t raw = static_cast<size_t>(end - first) * bytesPerRow;
        const size_t packed = runLengthSize(page + static_cast<size_t>(first) * bytesPerRow, raw);
        bands.push_back({first, end - first, packed < raw, std::min(packed, raw)});
    }
    return bands;
}

}  // namespace vrenapp
