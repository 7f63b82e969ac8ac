// Speed of the test build's recording path without the screen: converting a
// 1920x1080 BGRA picture to NV12 at the output size and writing it as a
// fragment of the stand-in MP4 writer, on one core. Prints frames per second.
//
//   convert_write_bench [FRAMES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "recorder/mp4_writer_core.h"
#include "recorder/nv12_core.h"

namespace {

double FramesPerSecond(int width, int height, int frames) {
    constexpr int kSourceWidth = 1920, kSourceHeight = 1080;
    std::vector<uint8_t> source(static_cast<size_t>(kSourceWidth) * kSourceHeight * 4);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
    Nv12Converter converter;
    converter.Build(kSourceWidth, kSourceHeight, width, height);
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3 / 2);
    size_t bytes = 0;
    Mp4Config config;
    config.width = static_cast<uint32_t>(width);
    config.height = static_cast<uint32_t>(height);
    config.fps = 60;
    FragmentedMp4Writer writer(config, [&](const uint8_t*, size_t size) {
        bytes += size;
        return true;
    });
    writer.Begin();
    const auto began = std::chrono::steady_clock::now();
    for (int n = 0; n < frames; ++n) {
        converter.Convert(source.data(), kSourceWidth * 4, picture.data());
        writer.AddVideoFrame(picture.data(), picture.size(), int64_t{n} * 166666, 166666);
    }
    writer.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("%dx%d: %.0f frames/s (%.1f MB written per frame)\n", width, height, frames / seconds,
                static_cast<double>(bytes) / frames / 1e6);
    return frames / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    FramesPerSecond(1280, 720, frames);
    const double full = FramesPerSecond(1920, 1080, frames);
    std::printf("1080p60 real-time factor: %.1f\n", full / 60.0);
    return 0;
}
