#include "capture/picture_core.h"

#include <cstring>

std::vector<uint8_t> PackBgr(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch) {
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* source = pixels + static_cast<size_t>(y) * pitch;
        uint8_t* target = out.data() + static_cast<size_t>(y) * width * 3;
        for (uint32_t x = 0; x < width; ++x) {
            target[x * 3 + 0] = source[x * 4 + 0];
            target[x * 3 + 1] = source[x * 4 + 1];
            target[x * 3 + 2] = source[x * 4 + 2];
        }
    }
    return out;
}

uint64_t ClipboardDibSize(uint32_t width, uint32_t height) { return uint64_t{width} * height * 4 + 40; }

namespace {
void Put32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}
}  // namespace

void WriteClipboardDib(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch, uint8_t* out) {
    // BITMAPINFOHEADER, little-endian: positive height means bottom-up rows.
    std::memset(out, 0, 40);
    Put32(out + 0, 40);
    Put32(out + 4, width);
    Put32(out + 8, height);
    out[12] = 1;   // planes
    out[14] = 32;  // bits per pixel; compression BI_RGB is 0
    Put32(out + 20, width * height * 4);
    uint8_t* rows = out + 40;
    for (uint32_t i = 0; i < height; ++i) {
        const uint8_t* source = pixels + static_cast<size_t>(height - 1 - i) * pitch;
        uint8_t* target = rows + static_cast<size_t>(i) * width * 4;
        for (uint32_t x = 0; x < width; ++x) {
            target[x * 4 + 0] = source[x * 4 + 0];
            target[x * 4 + 1] = source[x * 4 + 1];
            target[x * 4 + 2] = source[x * 4 + 2];
            target[x * 4 + 3] = 255;
        }
    }
}
