// The test build's picture reader on arbitrary samples: the first two bytes
// give the picture's size in macroblocks, the rest is the sample.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "recorder/h264_pcm_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint32_t width = 2u * (1 + data[0] % 40), height = 2u * (1 + data[1] % 40);
    std::vector<uint8_t> nv12;
    if (mp4::DecodeIdrPcm(data + 2, size - 2, width, height, nv12) && nv12.size() != size_t{width} * height * 3 / 2)
        __builtin_trap();
    return 0;
}

#ifdef OSTREL_SEED_MAIN
// Built on its own, it writes a seed: a 32 x 16 picture as the writer makes it.
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    std::vector<uint8_t> nv12(32 * 16 * 3 / 2), frame, header;
    for (size_t i = 0; i < nv12.size(); ++i) nv12[i] = static_cast<uint8_t>(16 + i % 200);
    std::vector<size_t> spots;
    uint32_t idr = 0;
    const size_t size = mp4::EncodeIdrPcm(nv12.data(), 32, 16, idr, frame, header, spots);
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) return 1;
    const uint8_t dims[2] = {15, 7};
    std::fwrite(dims, 1, 2, out);
    std::fwrite(frame.data(), 1, size, out);
    return std::fclose(out) == 0 ? 0 : 1;
}
#endif
