#pragma once
// What a recording shows of the user's input: a ring that spreads and fades
// at each press of a mouse button, a lasting mark while a button is held, and
// a label of the last key combination. They are drawn into the recording's
// pictures after conversion, so the user's own screen and screenshots never
// show them, and the shipping build and the test build draw them alike.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "recorder/recording_rules_core.h"

namespace input_effects {

// 100-ns units.
constexpr int64_t kRingDuration = 5'000'000;    // a press's ring spreads and fades in half a second
constexpr int64_t kLabelDuration = 15'000'000;  // a label stays 1.5 s after the last key shown

// The modifier keys held when a key goes down.
struct KeyModifiers {
    bool ctrl = false;
    bool alt = false;
    bool shift = false;
    bool win = false;
    bool altGr = false;  // right Alt, which makes characters on many layouts
};

// The label for a key going down (a Windows virtual-key code; `character` is
// what the key makes by itself on the keyboard layout, 0 when nothing), or
// "" when it is not shown. Shown: a key with Ctrl, Alt or the Windows key
// ("Ctrl + Shift + K"), and Enter, Esc, Tab, Backspace, Delete, the arrows
// and F1 to F24 with or without them. Never shown: modifiers alone, plain or
// Shift characters, anything with AltGr or with Ctrl and Alt together (which
// Windows takes for AltGr), and anything while a password field has the focus.
std::wstring KeyCombinationText(uint32_t vk, wchar_t character, const KeyModifiers& mods, bool passwordFocused);

enum class Button : uint8_t { Left, Right };

// How the screen lands in a picture: the recorded area (screen pixels) and
// where the picture shows it.
struct PictureMapping {
    int32_t originX = 0, originY = 0;       // the area's top left on the screen
    int32_t areaWidth = 0, areaHeight = 0;  // its size in screen pixels
    Placement placement;                    // where it lies in the picture (bars outside)
    double dpiScale = 1.0;                  // the recorded monitor's pixels per 96-DPI pixel
};

// What shows at one moment, in screen pixels.
struct Ring {
    int32_t x = 0, y = 0;
    Button button = Button::Left;
    double progress = 0;  // 0 at the press, 1 when it has faded
    bool held = false;    // the lasting mark of a button still down, at the pointer
};
struct EffectsNow {
    std::vector<Ring> rings;
    std::wstring label;
};

// The presses and the last label of a recording, as the input hooks report
// them; times on one clock (100-ns units). Not locked: its owner locks.
class InputLog {
public:
    void Press(Button button, int32_t x, int32_t y, int64_t time);
    void Release(Button button);
    void Move(int32_t x, int32_t y);
    void Keys(std::wstring label, int64_t time);
    // What shows at `time`; forgets what can no longer show at it or later.
    EffectsNow At(int64_t time);

private:
    struct Press_ {
        int32_t x, y;
        Button button;
        int64_t time;
    };
    std::deque<Press_> presses_;
    bool held_[2] = {false, false};
    int32_t pointerX_ = 0, pointerY_ = 0;
    std::wstring label_;
    int64_t labelTime_ = 0;
};

// Coverage of a label's text, one byte a pixel (0 to 255), rows top down.
struct TextMask {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> coverage;
};

// The pixel height at which a label's text is drawn into the picture.
int32_t LabelTextHeight(const PictureMapping& mapping);

// Draws `now` onto a tightly packed NV12 picture (BT.709, video levels);
// `text` is the label's text at LabelTextHeight, or null. Everything is kept
// inside the picture.
void DrawEffects(uint8_t* nv12, int32_t width, int32_t height, const PictureMapping& mapping, const EffectsNow& now,
                 const TextMask* text);

}  // namespace input_effects
