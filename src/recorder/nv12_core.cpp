#include "recorder/nv12_core.h"

#include <algorithm>
#include <cstring>

namespace {

// Fixed-point BT.709 with 8 fractional bits; each row of coefficients sums to
// the range it spans (219 for luma, 0 for chroma so grey stays neutral).
inline uint8_t Luma(int b, int g, int r) { return static_cast<uint8_t>(((47 * r + 157 * g + 16 * b + 128) >> 8) + 16); }
inline uint8_t Cb(int b, int g, int r) { return static_cast<uint8_t>(((-26 * r - 86 * g + 112 * b + 128) >> 8) + 128); }
inline uint8_t Cr(int b, int g, int r) { return static_cast<uint8_t>(((112 * r - 102 * g - 10 * b + 128) >> 8) + 128); }

// Row by row, in loops simple enough for the compiler to vectorise.
void LumaRow(const uint8_t* pixels, uint8_t* luma, int32_t count) {
    for (int32_t i = 0; i < count; ++i) luma[i] = Luma(pixels[4 * i], pixels[4 * i + 1], pixels[4 * i + 2]);
}

// One chroma pair per 2 x 2 block of the two rows.
void ChromaRow(const uint8_t* a, const uint8_t* b, uint8_t* uv, int32_t count) {
    for (int32_t i = 0; i + 1 < count; i += 2) {
        const int blue = (a[4 * i] + a[4 * i + 4] + b[4 * i] + b[4 * i + 4] + 2) >> 2;
        const int green = (a[4 * i + 1] + a[4 * i + 5] + b[4 * i + 1] + b[4 * i + 5] + 2) >> 2;
        const int red = (a[4 * i + 2] + a[4 * i + 6] + b[4 * i + 2] + b[4 * i + 6] + 2) >> 2;
        uv[i] = Cb(blue, green, red);
        uv[i + 1] = Cr(blue, green, red);
    }
}

}  // namespace

void Nv12Converter::Build(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height) {
    sourceWidth_ = sourceWidth;
    sourceHeight_ = sourceHeight;
    width_ = width;
    height_ = height;
    placement_ = LetterboxPlacement(sourceWidth, sourceHeight, width, height);
    const int32_t placedWidth = placement_.right - placement_.left;
    const int32_t placedHeight = placement_.bottom - placement_.top;
    // Byte offset of the nearest source sample at each output pixel's centre; -1 in the bars.
    columns_.assign(static_cast<size_t>(width), -1);
    for (int32_t x = placement_.left; x < placement_.right; ++x)
        columns_[static_cast<size_t>(x)] =
            4 * static_cast<int32_t>(((2 * static_cast<int64_t>(x - placement_.left) + 1) * sourceWidth) /
                                     (2 * static_cast<int64_t>(placedWidth)));
    rows_.assign(static_cast<size_t>(height), -1);
    for (int32_t y = placement_.top; y < placement_.bottom; ++y)
        rows_[static_cast<size_t>(y)] = static_cast<int32_t>(
            ((2 * static_cast<int64_t>(y - placement_.top) + 1) * sourceHeight) / (2 * static_cast<int64_t>(placedHeight)));
}

void Nv12Converter::Convert(const uint8_t* source, uint32_t pitch, uint8_t* out) const {
    const auto w = static_cast<size_t>(width_);
    uint8_t* chroma = out + w * static_cast<size_t>(height_);
    const bool identity = sourceWidth_ == width_ && sourceHeight_ == height_;
    if (!identity) {
        scratchA_.resize(w * 4);
        scratchB_.resize(w * 4);
    }
    // The output row's pixels: the source row itself when nothing is scaled,
    // otherwise gathered into a scratch row with black in the bars.
    auto row = [&](int32_t y, std::vector<uint8_t>& scratch) -> const uint8_t* {
        const int32_t sourceRow = rows_[static_cast<size_t>(y)];
        if (identity) return source + static_cast<size_t>(sourceRow) * pitch;
        uint8_t* target = scratch.data();
        if (sourceRow < 0) {
            std::memset(target, 0, w * 4);
            return target;
        }
        const uint8_t* line = source + static_cast<size_t>(sourceRow) * pitch;
        for (size_t x = 0; x < w; ++x) {
            const int32_t column = columns_[x];
            if (column >= 0)
                std::memcpy(target + 4 * x, line + column, 4);
            else
                std::memset(target + 4 * x, 0, 4);
        }
        return target;
    };
    for (int32_t y = 0; y + 1 < height_; y += 2) {
        const uint8_t* a = row(y, scratchA_);
        const uint8_t* b = row(y + 1, scratchB_);
        LumaRow(a, out + static_cast<size_t>(y) * w, width_);
        LumaRow(b, out + static_cast<size_t>(y + 1) * w, width_);
        ChromaRow(a, b, chroma + static_cast<size_t>(y / 2) * w, width_);
    }
}

void PackNv12(const uint8_t* mapped, size_t pitch, int32_t width, int32_t height, uint8_t* out) {
    const auto rowBytes = static_cast<size_t>(width);
    const auto rows = static_cast<size_t>(height);
    if (pitch == rowBytes) {
        std::memcpy(out, mapped, rowBytes * rows * 3 / 2);
        return;
    }
    for (size_t y = 0; y < rows + rows / 2; ++y) std::memcpy(out + y * rowBytes, mapped + y * pitch, rowBytes);
}

void Nv12ToBgra(const uint8_t* nv12, int32_t width, int32_t height, uint8_t* bgra) {
    // Fixed point, 16 fractional bits: 255/219 for luma, the BT.709 matrix for chroma.
    constexpr int32_t kY = 76309, kRv = 117489, kGu = 13975, kGv = 34924, kBu = 138437;
    const auto clamp = [](int32_t v) { return static_cast<uint8_t>(std::clamp(v >> 16, 0, 255)); };
    const uint8_t* chroma = nv12 + size_t(width) * height;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = nv12 + size_t(y) * width;
        const uint8_t* pairs = chroma + size_t(y / 2) * width;
        uint8_t* out = bgra + size_t(y) * width * 4;
        for (int32_t x = 0; x < width; ++x, out += 4) {
            const int32_t l = (row[x] - 16) * kY + (1 << 15);
            const int32_t u = pairs[x & ~1] - 128, v = pairs[(x & ~1) + 1] - 128;
            out[0] = clamp(l + kBu * u);
            out[1] = clamp(l - kGu * u - kGv * v);
            out[2] = clamp(l + kRv * v);
            out[3] = 255;
        }
    }
}
