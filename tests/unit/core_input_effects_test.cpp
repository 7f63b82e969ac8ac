#include <doctest.h>

#include <cmath>

#include "recorder/input_effects_core.h"

using namespace input_effects;

TEST_CASE("key labels: combinations and named keys are shown; what is typed, AltGr and password fields never") {
    const KeyModifiers none, ctrl{true}, ctrlShift{true, false, true}, alt{false, true}, shift{false, false, true};
    const KeyModifiers winShift{false, false, true, true}, ctrlAlt{true, true}, altGr{true, true, false, false, true};
    CHECK(KeyCombinationText('K', L'k', ctrlShift, false) == L"Ctrl + Shift + K");
    CHECK(KeyCombinationText(0x09, L'\t', alt, false) == L"Alt + Tab");
    CHECK(KeyCombinationText('S', L's', winShift, false) == L"Win + Shift + S");
    CHECK(KeyCombinationText(0x2E, 0, ctrlAlt, false) == L"Ctrl + Alt + Delete");
    CHECK(KeyCombinationText(0x0D, L'\r', none, false) == L"Enter");
    CHECK(KeyCombinationText(0x09, L'\t', shift, false) == L"Shift + Tab");
    CHECK(KeyCombinationText(0x7B, 0, none, false) == L"F12");
    CHECK(KeyCombinationText(0xBF, L'/', ctrl, false) == L"Ctrl + /");
    CHECK(KeyCombinationText(0xBB, L'+', ctrl, false) == L"Ctrl + Plus");
    CHECK(KeyCombinationText(0x20, L' ', ctrl, false) == L"Ctrl + Space");
    // What is typed: plain and Shift letters, digits, punctuation and spaces.
    CHECK(KeyCombinationText('K', L'k', none, false).empty());
    CHECK(KeyCombinationText('K', L'k', shift, false).empty());
    CHECK(KeyCombinationText('7', L'7', shift, false).empty());
    CHECK(KeyCombinationText(0xBF, L'/', none, false).empty());
    CHECK(KeyCombinationText(0x20, L' ', shift, false).empty());
    // AltGr, and Ctrl with Alt, which Windows takes for it, make characters.
    CHECK(KeyCombinationText('Q', L'q', altGr, false).empty());
    CHECK(KeyCombinationText('Q', L'q', ctrlAlt, false).empty());
    CHECK(KeyCombinationText(0x0D, L'\r', altGr, false).empty());
    // Nothing at all while a password field has the focus.
    CHECK(KeyCombinationText('V', L'v', ctrl, true).empty());
    CHECK(KeyCombinationText(0x0D, L'\r', none, true).empty());
    // Modifiers by themselves, and keys without a name.
    for (const uint32_t vk : {0x10u, 0x11u, 0x12u, 0xA0u, 0xA3u, 0xA5u, 0x5Bu, 0x14u})
        CHECK(KeyCombinationText(vk, 0, ctrlShift, false).empty());
    CHECK(KeyCombinationText(0xFF, 0, ctrl, false).empty());
}

TEST_CASE("the input log: a press shorter than a frame still rings, a held button marks the pointer, labels expire") {
    InputLog log;
    log.Press(Button::Left, 100, 200, 1'000'000);
    log.Release(Button::Left);  // up again before the next picture
    EffectsNow now = log.At(1'300'000);
    REQUIRE(now.rings.size() == 1);
    CHECK(now.rings[0].x == 100);
    CHECK(now.rings[0].progress == doctest::Approx(0.06));
    // A picture taken just before the press shows it at its start.
    CHECK(log.At(900'000).rings.at(0).progress == 0);
    CHECK(log.At(1'000'000 + kRingDuration).rings.empty());

    log.Press(Button::Right, 10, 10, 20'000'000);
    log.Move(400, 300);
    now = log.At(20'000'000 + 3 * kRingDuration);
    REQUIRE(now.rings.size() == 1);
    CHECK((now.rings[0].held && now.rings[0].x == 400 && now.rings[0].button == Button::Right));
    log.Release(Button::Right);
    CHECK(log.At(20'000'000 + 3 * kRingDuration).rings.empty());

    log.Keys(L"Ctrl + C", 30'000'000);
    CHECK(log.At(30'000'000 + kLabelDuration - 1).label == L"Ctrl + C");
    CHECK(log.At(30'000'000 + kLabelDuration).label.empty());
}

namespace {

constexpr uint8_t kGrey = 120;

// The middle of the pixels a ring changed in a flat grey picture.
struct Changed {
    double x = 0, y = 0;
    int count = 0;
};
Changed ChangedMiddle(const std::vector<uint8_t>& picture, int32_t width, int32_t height) {
    Changed c;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            if (picture[static_cast<size_t>(y) * width + x] != kGrey) {
                c.x += x + 0.5;
                c.y += y + 0.5;
                ++c.count;
            }
    if (c.count > 0) {
        c.x /= c.count;
        c.y /= c.count;
    }
    return c;
}

}  // namespace

TEST_CASE("a ring lands where the press was in a scaled region with bars, and nothing is drawn outside the picture") {
    // A 960 x 960 region at (500, 100) of the screen, in a 1280 x 720 picture: 720 x 720 between bars.
    const int32_t width = 1280, height = 720;
    PictureMapping mapping{500, 100, 960, 960, LetterboxPlacement(960, 960, width, height), 1.5};
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3 / 2, kGrey);
    EffectsNow now;
    now.rings.push_back({500 + 480, 100 + 240, Button::Left, 0.5, false});
    DrawEffects(picture.data(), width, height, mapping, now, nullptr);
    const Changed c = ChangedMiddle(picture, width, height);
    CHECK(c.count > 100);
    CHECK(c.x == doctest::Approx(280 + 360).epsilon(0.005));
    CHECK(c.y == doctest::Approx(180).epsilon(0.005));
    // A left press is amber: more red than blue in the chroma under the ring.
    const size_t chroma = static_cast<size_t>(width) * height;
    bool amber = false;
    for (size_t i = chroma; i < picture.size(); i += 2) amber |= picture[i] < 100 && picture[i + 1] > 130;
    CHECK(amber);

    // At the corners of the picture and far outside it, with a label wider
    // than the picture: kept inside it (the sanitizers see any stray write).
    std::vector<uint8_t> small(64 * 32 * 3 / 2, kGrey);
    PictureMapping tiny{0, 0, 64, 32, LetterboxPlacement(64, 32, 64, 32), 1.0};
    EffectsNow edges;
    for (const auto& [x, y] : {std::pair{0, 0}, {63, 31}, {-500, 9000}, {64, 0}})
        edges.rings.push_back({x, y, Button::Right, 0, true});
    edges.label = L"Ctrl + Shift + K";
    TextMask text{300, LabelTextHeight(tiny), {}};
    text.coverage.assign(static_cast<size_t>(text.width) * text.height, 255);
    DrawEffects(small.data(), 64, 32, tiny, edges, &text);
    CHECK(small[0] != kGrey);
}
