#pragma once
// BGRA to NV12 on the processor: scales the source into its placement in the
// output frame (bars black), BT.709 matrix, luma 16-235 and chroma 16-240.
#include <cstdint>
#include <vector>

#include "recorder/recording_rules_core.h"

class Nv12Converter {
public:
    // Prepares for a source size and an output size (both output sides even).
    void Build(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height);
    // `source` is the top row of the B8G8R8A8 picture, `pitch` bytes per row;
    // `out` receives width x height x 3 / 2 bytes of tightly packed NV12.
    void Convert(const uint8_t* source, uint32_t pitch, uint8_t* out) const;

private:
    int32_t sourceWidth_ = 0, sourceHeight_ = 0, width_ = 0, height_ = 0;
    Placement placement_;
    // Source byte offset in a row and source row for each output column and
    // row inside the placement; -1 in the bars.
    std::vector<int32_t> columns_, rows_;
    mutable std::vector<uint8_t> scratchA_, scratchB_;  // gathered rows when scaling
};

// Packs an NV12 picture as the graphics chip lays it out (rows `pitch` bytes
// apart, the chroma rows straight after `height` luma rows) into `out`,
// width x height x 3 / 2 bytes with no gaps.
void PackNv12(const uint8_t* mapped, size_t pitch, int32_t width, int32_t height, uint8_t* out);

// A tightly packed NV12 picture (BT.709, video levels, as recordings are) to
// top-down BGRA, 4 bytes a pixel with opaque alpha, for showing it.
void Nv12ToBgra(const uint8_t* nv12, int32_t width, int32_t height, uint8_t* bgra);
