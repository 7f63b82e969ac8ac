#pragma once
// What the recording toolbar shows for a state: the clock, the status text
// and mark, the primary button's caption, and the colours of its buttons.
#include <cstdint>
#include <string>

#include "app/shell_core.h"

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

namespace toolbar_colour {
constexpr Rgb kBackground{4, 22, 44};
constexpr Rgb kText{238, 246, 255};
constexpr Rgb kRecording{255, 77, 77};
constexpr Rgb kPaused{255, 197, 61};  // also the capture warning line
constexpr Rgb kIdle{79, 214, 255};    // also the focus outline
constexpr Rgb kOutline{79, 138, 192};
}  // namespace toolbar_colour

// "0:07", "59:59", "1:00:00": whole seconds, the fraction dropped.
std::wstring ElapsedText(double seconds);

enum class ToolbarMark { HollowCircle, FilledCircle, PauseBars };
struct ToolbarStatus {
    std::wstring text;
    ToolbarMark mark = ToolbarMark::HollowCircle;
    Rgb markColour;  // outside high-contrast mode
};
ToolbarStatus ToolbarStatusFor(ShellRecorderState state, int32_t countdownRemaining, double elapsedSeconds);

// "Record", "Cancel", "Pause" or "Resume".
std::wstring PrimaryButtonText(ShellRecorderState state, bool countdown);
bool StopButtonEnabled(ShellRecorderState state);

struct ButtonColours {
    Rgb face;
    Rgb text;
};
// Outside high-contrast mode; a pressed face is darkened to four fifths.
// `on`: the camera button while the camera shows.
ButtonColours ToolbarButtonColours(int32_t id, bool disabled, bool pressed, bool on = false);
