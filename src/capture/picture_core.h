#pragma once
// Pixel layouts of a screenshot, from the captured B8G8R8A8 rows.
#include <cstdint>
#include <vector>

// Tightly packed top-down 24-bit BGR rows for the PNG encoder; alpha dropped.
std::vector<uint8_t> PackBgr(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch);

// Size of the clipboard's CF_DIB block: a 40-byte header and 32-bit pixels.
uint64_t ClipboardDibSize(uint32_t width, uint32_t height);

// Fills `out` (ClipboardDibSize bytes) with the header and the rows bottom-up,
// blue, green, red and 255 per pixel.
void WriteClipboardDib(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch, uint8_t* out);
