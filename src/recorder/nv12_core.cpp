#include "recorder/nv12_core.h"

#include <cstring>

namespace {

// Fixed-point BT.709 with 8 fractional bits; each row of coefficients sums to
// the range it spans (219 for luma, 0 for chroma so grey stays neutral).
inline uint8_t Luma(int b, int g, int r) { return static_cast<uint8_t>(((47 * r + 157 * g + 16 * b + 128) >> 8) + 16); }
inline uint8_t Cb(int b, int g, int r) { return static_cast<uint8_t>(((-26 * r - 86 * g + 112 * b + 128) >> 8) + 128); }
inline uint8_t Cr(int b, int g, int r) { return static_cast<uint8_t>(((112 * r - 102 * g - 10 * b + 128) >> 8) + 128); }

}  // namespace

void Nv12Converter::Build(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height) {
    sourceWidth_ = sourceWidth;
    sourceHeight_ = sourceHeight;
    width_ = width;
    height_ = height;
    placement_ = LetterboxPlacement(sourceWidth, sourceHeight, width, height);
    const int32_t placedWidth = placement_.right - placement_.left;
    const int32_t placedHeight = placement_.bottom - placement_.top;
    // Nearest source sample at each output pixel's centre.
    columns_.assign(static_cast<size_t>(width), -1);
    for (int32_t x = placement_.left; x < placement_.right; ++x)
        columns_[static_cast<size_t>(x)] = static_cast<int32_t>(
            ((2 * static_cast<int64_t>(x - placement_.left) + 1) * sourceWidth) / (2 * static_cast<int64_t>(placedWidth)));
    rows_.assign(static_cast<size_t>(height), -1);
    for (int32_t y = placement_.top; y < placement_.bottom; ++y)
        rows_[static_cast<size_t>(y)] = static_cast<int32_t>(
            ((2 * static_cast<int64_t>(y - placement_.top) + 1) * sourceHeight) / (2 * static_cast<int64_t>(placedHeight)));
}

void Nv12Converter::Convert(const uint8_t* source, uint32_t pitch, uint8_t* out) const {
    const auto w = static_cast<size_t>(width_);
    uint8_t* luma = out;
    uint8_t* chroma = out + w * static_cast<size_t>(height_);
    // Two rows at a time: chroma is one sample per 2 x 2 block.
    for (int32_t y = 0; y + 1 < height_; y += 2) {
        const int32_t rowA = rows_[static_cast<size_t>(y)];
        const int32_t rowB = rows_[static_cast<size_t>(y + 1)];
        const uint8_t* a = rowA >= 0 ? source + static_cast<size_t>(rowA) * pitch : nullptr;
        const uint8_t* b = rowB >= 0 ? source + static_cast<size_t>(rowB) * pitch : nullptr;
        uint8_t* yA = luma + static_cast<size_t>(y) * w;
        uint8_t* yB = yA + w;
        uint8_t* uv = chroma + static_cast<size_t>(y / 2) * w;
        for (int32_t x = 0; x + 1 < width_; x += 2) {
            int sb = 0, sg = 0, sr = 0;
            const int32_t cols[2] = {columns_[static_cast<size_t>(x)], columns_[static_cast<size_t>(x + 1)]};
            const uint8_t* lines[2] = {a, b};
            uint8_t* targets[2] = {yA, yB};
            for (int i = 0; i < 2; ++i) {
                for (int j = 0; j < 2; ++j) {
                    int pb = 0, pg = 0, pr = 0;  // bars are black
                    if (lines[i] != nullptr && cols[j] >= 0) {
                        const uint8_t* p = lines[i] + static_cast<size_t>(cols[j]) * 4;
                        pb = p[0];
                        pg = p[1];
                        pr = p[2];
                    }
                    targets[i][x + j] = Luma(pb, pg, pr);
                    sb += pb;
                    sg += pg;
                    sr += pr;
                }
            }
            uv[x] = Cb((sb + 2) >> 2, (sg + 2) >> 2, (sr + 2) >> 2);
            uv[x + 1] = Cr((sb + 2) >> 2, (sg + 2) >> 2, (sr + 2) >> 2);
        }
    }
}
