// Writes a fragmented MP4 with a known picture and sound pattern for the
// end-to-end tests, or (--bench) times converting and writing pictures.
//   mp4_sample OUT.mp4 WIDTH HEIGHT FPS FRAMES [--audio] [--audio-group N] [--gap-at N] [--truncate-last]
//   mp4_sample --bench [FRAMES]
//   mp4_sample --repair FILE.mp4
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "recorder/mp4_recovery_core.h"
#include "recorder/mp4_writer_core.h"

namespace {

// The pattern the tests recompute: luma, then interleaved Cb,Cr at half resolution.
void FillPattern(std::vector<uint8_t>& nv12, uint32_t width, uint32_t height, uint32_t n) {
    nv12.resize(size_t{width} * height * 3 / 2);
    uint8_t* p = nv12.data();
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) *p++ = static_cast<uint8_t>(16 + (x + 2 * y + 7 * n) % 220);
    for (uint32_t y = 0; y < height / 2; ++y)
        for (uint32_t x = 0; x < width / 2; ++x) {
            *p++ = static_cast<uint8_t>(16 + (x + y + 3 * n) % 225);
            *p++ = static_cast<uint8_t>(16 + (2 * x + 3 * y + 5 * n) % 225);
        }
}

// 1 kHz at 48 kHz: left at amplitude 8000, right at half of it.
int16_t Sine(uint64_t frame) {
    constexpr double kTwoPi = 6.283185307179586;
    return static_cast<int16_t>(std::lround(8000.0 * std::sin(kTwoPi * static_cast<double>(frame % 48) / 48.0)));
}

int Bench(uint32_t frames) {
    for (const auto& [width, height] : {std::pair<uint32_t, uint32_t>{1280, 720}, {1920, 1080}}) {
        std::vector<uint8_t> a, b;
        FillPattern(a, width, height, 0);
        FillPattern(b, width, height, 1);
        uint64_t written = 0;
        FragmentedMp4Writer writer({width, height, 60, false}, [&](const uint8_t* data, size_t size) {
            written += size + (size != 0 ? data[size - 1] & 1 : 0);  // read the bytes so nothing is elided
            return true;
        });
        if (!writer.Begin()) return 1;
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t n = 0; n < frames; ++n) {
            const std::vector<uint8_t>& frame = n % 2 ? b : a;
            if (!writer.AddVideoFrame(frame.data(), frame.size(), int64_t{n} * 166666, 166666)) return 1;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        writer.Finish();
        std::printf("%ux%u: %u frames in %.3f s = %.1f frames/s (%.1f MB/s written)\n", width, height, frames,
                    seconds, frames / seconds, static_cast<double>(written) / seconds / 1e6);
    }
    return 0;
}

// Cuts a recording to its playable length, as recovery of a cut-short file does.
int Repair(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return 1;
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(path, error);
    const uint64_t keep = error ? 0 : mp4::PlayableLength(size, [&](uint64_t offset, uint8_t* out, size_t n) {
        return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(out, 1, n, file) == n;
    });
    std::fclose(file);
    if (keep == 0) return 1;
    std::filesystem::resize_file(path, keep, error);
    std::printf("%llu of %llu bytes kept\n", static_cast<unsigned long long>(keep),
                static_cast<unsigned long long>(size));
    return error ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--repair") == 0) return Repair(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "--bench") == 0)
        return Bench(argc >= 3 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 300);
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: mp4_sample OUT.mp4 WIDTH HEIGHT FPS FRAMES [--audio] [--audio-group N] [--gap-at N]\n"
                     "       [--truncate-last]\n"
                     "       mp4_sample --bench [FRAMES]\n"
                     "       mp4_sample --repair FILE.mp4\n");
        return 2;
    }
    const std::string path = argv[1];
    Mp4Config config;
    config.width = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    config.height = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    config.fps = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
    const uint32_t frames = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));
    long gapAt = -1;
    bool truncateLast = false;
    for (int i = 6; i < argc; ++i) {
        if (std::strcmp(argv[i], "--audio") == 0) {
            config.audio = true;
        } else if (std::strcmp(argv[i], "--gap-at") == 0 && i + 1 < argc) {
            gapAt = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--audio-group") == 0 && i + 1 < argc) {
            config.audioFramesPerSample = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--truncate-last") == 0) {
            truncateLast = true;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (config.fps == 0) return 2;

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        return 1;
    }
    uint64_t position = 0;
    FragmentedMp4Writer writer(config, [&](const uint8_t* data, size_t size) {
        position += size;
        return std::fwrite(data, 1, size, file) == size;
    });
    if (!writer.Begin()) {
        std::fprintf(stderr, "Begin failed\n");
        return 1;
    }

    const int64_t interval = 10'000'000 / config.fps;
    const uint64_t slots = frames + (gapAt >= 0 ? 3 : 0);
    const uint64_t audioFrames = slots * static_cast<uint64_t>(interval) * 3 / 625;  // 48 kHz, rounded down
    uint64_t audioDone = 0;
    std::vector<int16_t> block;
    auto addAudioUntil = [&](int64_t time) {
        while (audioDone < audioFrames && static_cast<int64_t>(audioDone * 625 / 3) < time) {
            const uint64_t count = std::min<uint64_t>(480, audioFrames - audioDone);
            block.resize(count * 2);
            for (uint64_t i = 0; i < count; ++i) {
                block[2 * i] = Sine(audioDone + i);
                block[2 * i + 1] = static_cast<int16_t>(Sine(audioDone + i) / 2);
            }
            if (!writer.AddAudio(block.data(), count, static_cast<int64_t>(audioDone * 625 / 3))) return false;
            audioDone += count;
        }
        return true;
    };

    std::vector<uint8_t> picture;
    uint64_t lastStart = 0;
    uint64_t lastSize = 0;
    int64_t slot = 0;
    for (uint32_t n = 0; n < frames; ++n, ++slot) {
        const int64_t time = slot * interval;
        if (config.audio && !addAudioUntil(time + interval)) {
            std::fprintf(stderr, "AddAudio failed\n");
            return 1;
        }
        FillPattern(picture, config.width, config.height, n);
        lastStart = position;
        if (!writer.AddVideoFrame(picture.data(), picture.size(), time, interval)) {
            std::fprintf(stderr, "AddVideoFrame failed at frame %u\n", n);
            return 1;
        }
        lastSize = position - lastStart;
        if (static_cast<long>(n) == gapAt) slot += 3;
    }
    if (config.audio && !addAudioUntil(slot * interval + 1)) return 1;
    if (!writer.Finish()) {
        std::fprintf(stderr, "Finish failed\n");
        return 1;
    }
    if (std::fclose(file) != 0) return 1;
    if (truncateLast && frames > 0) {
        // A recording killed while writing its last picture: cut that fragment in half.
        std::error_code error;
        std::filesystem::resize_file(path, lastStart + lastSize / 2, error);
        if (error) return 1;
    }
    return 0;
}
