// The cost per picture of drawing the input shown in recordings into a
// 1920x1080 NV12 picture: two rings spreading, a button held, and a label,
// its text a stand-in mask of the size the program renders at 1080p.
//
//   input_effects_bench [PICTURES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "recorder/input_effects_core.h"

int main(int argc, char** argv) {
    using namespace input_effects;
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 2000;
    constexpr int32_t kWidth = 1920, kHeight = 1080;
    std::vector<uint8_t> picture(static_cast<size_t>(kWidth) * kHeight * 3 / 2, 120);
    const PictureMapping mapping{0, 0, kWidth, kHeight, LetterboxPlacement(kWidth, kHeight, kWidth, kHeight), 1.0};
    TextMask text{190, LabelTextHeight(mapping), {}};
    text.coverage.resize(static_cast<size_t>(text.width) * text.height);
    for (size_t i = 0; i < text.coverage.size(); ++i) text.coverage[i] = static_cast<uint8_t>((i * 37) & 0xFF);
    EffectsNow now;
    now.label = L"Ctrl + Shift + K";
    now.rings = {{600, 400, Button::Left, 0, false}, {900, 500, Button::Right, 0, false}, {900, 520, Button::Left, 0, true}};
    const auto began = std::chrono::steady_clock::now();
    for (int n = 0; n < pictures; ++n) {
        now.rings[0].progress = now.rings[1].progress = (n % 30) / 30.0;
        DrawEffects(picture.data(), kWidth, kHeight, mapping, now, &text);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("1920x1080, three rings and a label: %.3f ms a picture\n", seconds * 1000 / pictures);
    now.label.clear();
    now.rings.resize(1);
    const auto ringBegan = std::chrono::steady_clock::now();
    for (int n = 0; n < pictures; ++n) {
        now.rings[0].progress = (n % 30) / 30.0;
        DrawEffects(picture.data(), kWidth, kHeight, mapping, now, nullptr);
    }
    const double ringSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - ringBegan).count();
    std::printf("1920x1080, one ring: %.3f ms a picture\n", ringSeconds * 1000 / pictures);
    return picture[0] == 0 ? 1 : 0;
}
