#include "platform/media/gif_palette.h"

#include <algorithm>
#include <limits>

namespace calvoro::media {

namespace {

struct Colour {
    double c[3];
    uint32_t weight;
};

// A run of colours that becomes one palette entry, split where it spreads the most.
struct Box {
    size_t begin, end;
    double error;  // weighted squared distance of its colours from their mean
    int axis;      // the channel along which that spread is largest
    std::array<double, 3> mean;
};

Box measure(const std::vector<Colour>& colours, size_t begin, size_t end) {
    double total = 0, sum[3] = {0, 0, 0}, squares[3] = {0, 0, 0};
    for (size_t i = begin; i < end; ++i) {
        const Colour& c = colours[i];
        total += c.weight;
        for (int k = 0; k < 3; ++k) {
            sum[k] += c.c[k] * c.weight;
            squares[k] += c.c[k] * c.c[k] * c.weight;
        }
    }
    Box box{begin, end, 0, 0, {0, 0, 0}};
    double widest = -1;
    for (int k = 0; k < 3; ++k) {
        box.mean[k] = total > 0 ? sum[k] / total : 0;
        const double spread = total > 0 ? squares[k] - sum[k] * sum[k] / total : 0;
        box.error += spread;
        if (spread > widest) widest = spread, box.axis = k;
    }
    if (end - begin < 2) box.error = 0;
    return box;
}

// The picture's colours gathered in cells of 6 bits a channel, each the mean of what fell in
// it: fine enough for smooth gradients, coarse enough that noise does not take the palette.
// Large pictures are sampled on a grid.
std::vector<Colour> gatherColours(const imaging::RgbaImage& image, int width, int height) {
    struct Cell {
        uint32_t count = 0;
        uint32_t sum[3] = {0, 0, 0};
    };
    std::vector<Cell> cells(1 << 18);
    std::vector<uint32_t> used;
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const int stride = pixels > 600'000 ? 2 : 1;
    for (int y = 0; y < height; y += stride) {
        const uint8_t* p = image.row(y);
        for (int x = 0; x < width; x += stride) {
            const uint8_t* q = p + x * 4;
            const uint32_t key = uint32_t(q[0] >> 2) << 12 | uint32_t(q[1] >> 2) << 6 | uint32_t(q[2] >> 2);
            Cell& cell = cells[key];
            if (cell.count++ == 0) used.push_back(key);
            cell.sum[0] += q[0];
            cell.sum[1] += q[1];
            cell.sum[2] += q[2];
        }
    }
    std::vector<Colour> colours;
    colours.reserve(used.size());
    for (uint32_t key : used) {
        const Cell& cell = cells[key];
        const double n = cell.count;
        colours.push_back({{cell.sum[0] / n, cell.sum[1] / n, cell.sum[2] / n}, cell.count});
    }
    return colours;
}

std::vector<std::array<uint8_t, 3>> fitPalette(const imaging::RgbaImage& image, int width, int height) {
    std::vector<Colour> colours = gatherColours(image, width, height);
    // Median cut: the box with the largest error is halved by weight along its widest channel.
    std::vector<Box> boxes{measure(colours, 0, colours.size())};
    while (boxes.size() < 256) {
        auto worst = std::max_element(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.error < b.error; });
        if (worst->error <= 0) break;
        const Box box = *worst;
        const int axis = box.axis;
        std::sort(colours.begin() + static_cast<std::ptrdiff_t>(box.begin), colours.begin() + static_cast<std::ptrdiff_t>(box.end),
                  [axis](const Colour& a, const Colour& b) { return a.c[axis] < b.c[axis]; });
        uint64_t total = 0;
        for (size_t i = box.begin; i < box.end; ++i) total += colours[i].weight;
        uint64_t running = 0;
        size_t split = box.begin + 1;
        for (size_t i = box.begin; i + 1 < box.end; ++i) {
            running += colours[i].weight;
            split = i + 1;
            if (running * 2 >= total) break;
        }
        *worst = measure(colours, box.begin, split);
        boxes.push_back(measure(colours, split, box.end));
    }
    std::vector<std::array<uint8_t, 3>> palette;
    for (const Box& box : boxes) {
        std::array<uint8_t, 3> entry{};
        for (int k = 0; k < 3; ++k) entry[k] = static_cast<uint8_t>(std::clamp(box.mean[k] + 0.5, 0.0, 255.0));
        palette.push_back(entry);
    }
    return palette;
}

// The nearest palette entry of a colour, remembered per 7-bit cell: neighbouring colours of a
// picture mostly share their answer.
class NearestEntry {
public:
    explicit NearestEntry(const std::vector<std::array<uint8_t, 3>>& palette) : palette_(palette), cache_(1 << 21, -1) {}
    uint8_t operator()(int r, int g, int b) {
        int16_t& known = cache_[static_cast<size_t>((r >> 1) << 14 | (g >> 1) << 7 | (b >> 1))];
        if (known >= 0) return static_cast<uint8_t>(known);
        // Searched from the cell's centre, so that the answer holds for the whole cell.
        const int cr = r | 1, cg = g | 1, cb = b | 1;
        int best = 0, bestDistance = std::numeric_limits<int>::max();
        for (size_t i = 0; i < palette_.size(); ++i) {
            const int dr = palette_[i][0] - cr, dg = palette_[i][1] - cg, db = palette_[i][2] - cb;
            const int d = 2 * dr * dr + 4 * dg * dg + 3 * db * db;
            if (d < bestDistance) bestDistance = d, best = static_cast<int>(i);
        }
        known = static_cast<int16_t>(best);
        return static_cast<uint8_t>(best);
    }

private:
    const std::vector<std::array<uint8_t, 3>>& palette_;
    std::vector<int16_t> cache_;
};

}  // namespace

IndexedPicture quantizePicture(const imaging::RgbaImage& image, int width, int height) {
    IndexedPicture out;
    out.palette = fitPalette(image, width, height);
    out.indices.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    NearestEntry nearest(out.palette);
    // Floyd-Steinberg, serpentine, passing on three quarters of the error: the full amount
    // scatters visible noise over smooth areas. Errors in sixteenths, one row ahead, with a
    // pixel of margin either side.
    const size_t stride = static_cast<size_t>(width) + 2;
    std::vector<int> currentRow(stride * 3, 0), nextRow(stride * 3, 0);
    int* current = currentRow.data();
    int* next = nextRow.data();
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = image.row(y);
        uint8_t* indices = out.indices.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        std::fill(next, next + stride * 3, 0);
        const bool forward = y % 2 == 0;
        const int step = forward ? 1 : -1;
        for (int i = 0; i < width; ++i) {
            const int x = forward ? i : width - 1 - i;
            const int at = (x + 1) * 3;
            int want[3];
            for (int k = 0; k < 3; ++k) want[k] = std::clamp(row[x * 4 + k] + (current[at + k] + 8) / 16, 0, 255);
            const uint8_t index = nearest(want[0], want[1], want[2]);
            indices[x] = index;
            const auto& got = out.palette[index];
            for (int k = 0; k < 3; ++k) {
                const int e = (want[k] - got[k]) * 3 / 4;
                current[at + step * 3 + k] += e * 7;
                next[at - step * 3 + k] += e * 3;
                next[at + k] += e * 5;
                next[at + step * 3 + k] += e;
            }
        }
        std::swap(current, next);
    }
    return out;
}

}  // namespace calvoro::media
