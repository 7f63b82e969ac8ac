#include "recorder/input_effects_core.h"

#include <algorithm>
#include <cmath>

namespace input_effects {
namespace {

// Keys shown by themselves as well as with modifiers.
std::wstring NamedKey(uint32_t vk) {
    switch (vk) {
        case 0x0D: return L"Enter";
        case 0x1B: return L"Esc";
        case 0x09: return L"Tab";
        case 0x08: return L"Backspace";
        case 0x2E: return L"Delete";
        case 0x25: return L"Left";
        case 0x26: return L"Up";
        case 0x27: return L"Right";
        case 0x28: return L"Down";
        default: break;
    }
    if (vk >= 0x70 && vk <= 0x87) return L"F" + std::to_wstring(vk - 0x70 + 1);
    return {};
}

// Keys shown only with Ctrl, Alt or the Windows key.
std::wstring OtherKey(uint32_t vk, wchar_t character) {
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::wstring(1, static_cast<wchar_t>(vk));
    switch (vk) {
        case 0x20: return L"Space";
        case 0x21: return L"Page Up";
        case 0x22: return L"Page Down";
        case 0x23: return L"End";
        case 0x24: return L"Home";
        case 0x2C: return L"Print Screen";
        case 0x2D: return L"Insert";
        case 0x13: return L"Pause";
        case 0x6A: return L"Num *";
        case 0x6B: return L"Num +";
        case 0x6D: return L"Num -";
        case 0x6E: return L"Num .";
        case 0x6F: return L"Num /";
        default: break;
    }
    if (vk >= 0x60 && vk <= 0x69) return L"Num " + std::to_wstring(vk - 0x60);
    // Punctuation as the layout writes it; "+" by name, as it joins the keys.
    if (vk >= 0xBA && vk <= 0xE2 && character > L' ' && character != 0x7F) {
        if (character == L'+') return L"Plus";
        const wchar_t upper = character >= L'a' && character <= L'z' ? static_cast<wchar_t>(character - 32) : character;
        return std::wstring(1, upper);
    }
    return {};
}

bool IsModifier(uint32_t vk) {
    return vk == 0x10 || vk == 0x11 || vk == 0x12 || (vk >= 0xA0 && vk <= 0xA5) || vk == 0x5B || vk == 0x5C ||
           vk == 0x14 || vk == 0x90 || vk == 0x91;
}

struct Colour {
    uint8_t y, cb, cr;
};

// BT.709, video levels.
constexpr Colour FromRgb(double r, double g, double b) {
    return Colour{static_cast<uint8_t>(16.5 + 219.0 * (0.2126 * r + 0.7152 * g + 0.0722 * b) / 255.0),
                  static_cast<uint8_t>(128.5 + 224.0 * (-0.1146 * r - 0.3854 * g + 0.5 * b) / 255.0),
                  static_cast<uint8_t>(128.5 + 224.0 * (0.5 * r - 0.4542 * g - 0.0458 * b) / 255.0)};
}
constexpr Colour kLeftColour = FromRgb(255, 196, 0);    // amber
constexpr Colour kRightColour = FromRgb(0, 140, 255);   // blue
constexpr Colour kLabelBox = FromRgb(0, 0, 0);
constexpr Colour kLabelText = FromRgb(255, 255, 255);

uint8_t Mix(uint8_t under, uint8_t over, double alpha) {
    return static_cast<uint8_t>(under + (over - under) * alpha + 0.5);
}

// The picture's pixels, with blending that keeps inside it. Chroma is
// blended once per 2 x 2 block, at the block's middle.
class Canvas {
public:
    Canvas(uint8_t* nv12, int32_t width, int32_t height) : data_(nv12), width_(width), height_(height) {}

    // `coverage(x, y)` at pixel middles gives 0 to 1; drawn in [x0, x1) x [y0, y1).
    template <typename Coverage>
    void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Colour colour, double opacity, Coverage coverage) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, width_);
        y1 = std::min(y1, height_);
        if (x0 >= x1 || y0 >= y1) return;
        for (int32_t y = y0; y < y1; ++y) {
            uint8_t* row = data_ + static_cast<size_t>(y) * width_;
            for (int32_t x = x0; x < x1; ++x) {
                const double a = coverage(x + 0.5, y + 0.5) * opacity;
                if (a > 0) row[x] = Mix(row[x], colour.y, std::min(a, 1.0));
            }
        }
        uint8_t* chroma = data_ + static_cast<size_t>(width_) * height_;
        for (int32_t cy = y0 / 2; cy < (y1 + 1) / 2 && cy < height_ / 2; ++cy) {
            uint8_t* row = chroma + static_cast<size_t>(cy) * width_;
            for (int32_t cx = x0 / 2; cx < (x1 + 1) / 2 && cx < width_ / 2; ++cx) {
                const double a = coverage(cx * 2.0 + 1.0, cy * 2.0 + 1.0) * opacity;
                if (a <= 0) continue;
                row[cx * 2] = Mix(row[cx * 2], colour.cb, std::min(a, 1.0));
                row[cx * 2 + 1] = Mix(row[cx * 2 + 1], colour.cr, std::min(a, 1.0));
            }
        }
    }

private:
    uint8_t* data_;
    int32_t width_, height_;
};

// A ring of `radius` and `thickness` around (cx, cy), its edges smoothed.
void DrawRing(Canvas& canvas, double cx, double cy, double radius, double thickness, Colour colour, double opacity) {
    const double reach = radius + thickness;
    canvas.Fill(static_cast<int32_t>(std::floor(cx - reach)), static_cast<int32_t>(std::floor(cy - reach)),
                static_cast<int32_t>(std::ceil(cx + reach)) + 1, static_cast<int32_t>(std::ceil(cy + reach)) + 1, colour,
                opacity, [&](double x, double y) {
                    const double d = std::hypot(x - cx, y - cy);
                    return std::clamp(thickness / 2 + 0.5 - std::fabs(d - radius), 0.0, 1.0);
                });
}

// Picture pixels per screen pixel.
double PictureScale(const PictureMapping& m) {
    if (m.areaWidth <= 0) return 1.0;
    return static_cast<double>(m.placement.right - m.placement.left) / m.areaWidth;
}

}  // namespace

std::wstring KeyCombinationText(uint32_t vk, wchar_t character, const KeyModifiers& mods, bool passwordFocused) {
    if (passwordFocused || mods.altGr || IsModifier(vk)) return {};
    std::wstring key = NamedKey(vk);
    const bool named = !key.empty();
    if (!named) {
        // Plain and Shift characters are what is typed; Ctrl with Alt makes them too.
        if (!mods.ctrl && !mods.alt && !mods.win) return {};
        if (mods.ctrl && mods.alt && !mods.win) return {};
        key = OtherKey(vk, character);
        if (key.empty()) return {};
    }
    std::wstring text;
    if (mods.win) text += L"Win + ";
    if (mods.ctrl) text += L"Ctrl + ";
    if (mods.alt) text += L"Alt + ";
    if (mods.shift) text += L"Shift + ";
    return text + key;
}

void InputLog::Press(Button button, int32_t x, int32_t y, int64_t time) {
    presses_.push_back({x, y, button, time});
    held_[static_cast<int>(button)] = true;
    pointerX_ = x;
    pointerY_ = y;
    // A flood of presses cannot grow without end; the oldest have faded.
    while (presses_.size() > 64) presses_.pop_front();
}

void InputLog::Release(Button button) { held_[static_cast<int>(button)] = false; }

void InputLog::Move(int32_t x, int32_t y) {
    pointerX_ = x;
    pointerY_ = y;
}

void InputLog::Keys(std::wstring label, int64_t time) {
    label_ = std::move(label);
    labelTime_ = time;
}

EffectsNow InputLog::At(int64_t time) {
    EffectsNow now;
    while (!presses_.empty() && time - presses_.front().time >= kRingDuration) presses_.pop_front();
    for (const Press_& press : presses_) {
        // A press a little after the picture was taken still shows on it, at its start.
        const double progress = std::max<int64_t>(time - press.time, 0) / static_cast<double>(kRingDuration);
        now.rings.push_back({press.x, press.y, press.button, progress, false});
    }
    for (const Button button : {Button::Left, Button::Right})
        if (held_[static_cast<int>(button)]) now.rings.push_back({pointerX_, pointerY_, button, 0, true});
    if (!label_.empty() && time - labelTime_ < kLabelDuration)
        now.label = label_;
    else
        label_.clear();
    return now;
}

int32_t LabelTextHeight(const PictureMapping& mapping) {
    const double pixels = 22.0 * mapping.dpiScale * PictureScale(mapping);
    return std::clamp(static_cast<int32_t>(std::lround(pixels)), 12, 160);
}

void DrawEffects(uint8_t* nv12, int32_t width, int32_t height, const PictureMapping& mapping, const EffectsNow& now,
                 const TextMask* text) {
    if (nv12 == nullptr || width <= 0 || height <= 0 || mapping.areaWidth <= 0 || mapping.areaHeight <= 0) return;
    Canvas canvas(nv12, width, height);
    const double scale = PictureScale(mapping);
    const double unit = mapping.dpiScale * scale;  // picture pixels per 96-DPI screen pixel
    const double thickness = std::max(2.0, 4.0 * unit);
    for (const Ring& ring : now.rings) {
        const double cx = mapping.placement.left + (ring.x - mapping.originX + 0.5) * scale;
        const double cy = mapping.placement.top + (ring.y - mapping.originY + 0.5) * scale;
        const Colour colour = ring.button == Button::Left ? kLeftColour : kRightColour;
        if (ring.held) {
            DrawRing(canvas, cx, cy, std::max(5.0, 12.0 * unit), thickness, colour, 0.75);
        } else {
            // Spreads fast, then slows, and fades as it goes.
            const double eased = 1.0 - (1.0 - ring.progress) * (1.0 - ring.progress);
            DrawRing(canvas, cx, cy, std::max(4.0, (8.0 + 22.0 * eased) * unit), thickness, colour,
                     0.9 * (1.0 - ring.progress));
        }
    }
    if (text == nullptr || now.label.empty() || text->width <= 0 || text->height <= 0 ||
        text->coverage.size() < static_cast<size_t>(text->width) * static_cast<size_t>(text->height))
        return;
    // A dark, rounded box near the bottom of the recorded part, the text white in it.
    const Placement& p = mapping.placement;
    const int32_t padX = text->height * 3 / 5, padY = text->height / 3;
    const int32_t boxWidth = text->width + 2 * padX, boxHeight = text->height + 2 * padY;
    const int32_t left = p.left + (p.right - p.left - boxWidth) / 2;
    const int32_t bottom = p.bottom - std::max(8, (p.bottom - p.top) / 16);
    const int32_t top = bottom - boxHeight;
    const double corner = boxHeight / 4.0;
    canvas.Fill(left, top, left + boxWidth, bottom, kLabelBox, 0.72, [&](double x, double y) {
        const double dx = std::max({left + corner - x, x - (left + boxWidth - corner), 0.0});
        const double dy = std::max({top + corner - y, y - (bottom - corner), 0.0});
        return std::clamp(corner + 0.5 - std::hypot(dx, dy), 0.0, 1.0);
    });
    const int32_t textLeft = left + padX, textTop = top + padY;
    canvas.Fill(textLeft, textTop, textLeft + text->width, textTop + text->height, kLabelText, 1.0,
                [&](double x, double y) {
                    const auto tx = static_cast<int32_t>(x) - textLeft, ty = static_cast<int32_t>(y) - textTop;
                    if (tx < 0 || ty < 0 || tx >= text->width || ty >= text->height) return 0.0;
                    return text->coverage[static_cast<size_t>(ty) * text->width + tx] / 255.0;
                });
}

}  // namespace input_effects
