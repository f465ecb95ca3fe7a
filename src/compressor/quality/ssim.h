#pragma once

// Structural similarity of a compressed picture to its source, measured on the whole grey
// picture the way common video tools measure it (x264, ffmpeg): 8 x 8 windows every 4 pixels,
// so that block edges count as much as the inside of blocks.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/imaging/gray_image.h"

namespace calvoro::ssim {

// Pictures are scored in grey, as the imaging layer makes them.
using imaging::GrayImage;
using imaging::grayImage;
using imaging::grayValue;

// Scores a picture against a reference of the same size while the picture's rows arrive, top
// to bottom, keeping only a few rows of sums: a large photo needs no second copy in memory.
class Scorer {
public:
    explicit Scorer(const GrayImage& reference);
    // The next row of the picture: reference.w gray values. Rows past the last are ignored.
    void addRow(const uint8_t* row);
    // The mean SSIM (1.0 = identical) once every row is in; nothing before that, and nothing
    // for a picture under 8 pixels on a side, which has no whole window.
    std::optional<double> score() const;

private:
    void endBand();

    const GrayImage& reference_;
    int blocks_ = 0;  // whole 4-pixel blocks across
    int rows_ = 0;    // rows taken so far
    int bands_ = 0;   // whole 4-row bands summed so far
    // Per 4 x 4 block: Σa, Σb, Σa² + Σb², Σab, for the band before and the band being summed.
    std::vector<int32_t> previous_, current_;
    double total_ = 0;
    long windows_ = 0;
};

// The whole picture scored against the reference; nothing when the sizes differ or it has no
// whole window.
std::optional<double> ssim(const GrayImage& reference, const GrayImage& picture);

}  // namespace calvoro::ssim
