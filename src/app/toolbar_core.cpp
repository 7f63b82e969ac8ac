#include "app/toolbar_core.h"

#include <cstdio>

std::wstring ElapsedText(double seconds) {
    const int64_t s = seconds > 0 ? static_cast<int64_t>(seconds) : 0;
    wchar_t text[32];
    if (s < 3600)
        std::swprintf(text, 32, L"%d:%02d", static_cast<int>(s / 60), static_cast<int>(s % 60));
    else
        std::swprintf(text, 32, L"%lld:%02d:%02d", static_cast<long long>(s / 3600), static_cast<int>(s / 60 % 60),
                      static_cast<int>(s % 60));
    return text;
}

ToolbarStatus ToolbarStatusFor(ShellRecorderState state, int32_t countdownRemaining, double elapsedSeconds) {
    ToolbarStatus status;
    status.markColour = state == ShellRecorderState::Paused      ? toolbar_colour::kPaused
                        : state == ShellRecorderState::Recording ? toolbar_colour::kRecording
                                                                 : toolbar_colour::kIdle;
    status.mark = state == ShellRecorderState::Paused      ? ToolbarMark::PauseBars
                  : state == ShellRecorderState::Recording ? ToolbarMark::FilledCircle
                                                           : ToolbarMark::HollowCircle;
    if (countdownRemaining != 0)
        status.text = L"Starting in " + std::to_wstring(countdownRemaining);
    else if (state == ShellRecorderState::Recording)
        status.text = L"REC  " + ElapsedText(elapsedSeconds);
    else if (state == ShellRecorderState::Paused)
        status.text = L"PAUSED  " + ElapsedText(elapsedSeconds);
    else if (state == ShellRecorderState::Stopping)
        status.text = L"Saving\u2026";
    else
        status.text = L"Ready";
    return status;
}

std::wstring PrimaryButtonText(ShellRecorderState state, bool countdown) {
    if (state == ShellRecorderState::Recording) return L"Pause";
    if (state == ShellRecorderState::Paused) return L"Resume";
    return countdown ? L"Cancel" : L"Record";
}

bool StopButtonEnabled(ShellRecorderState state) {
    return state == ShellRecorderState::Recording || state == ShellRecorderState::Paused;
}

ButtonColours ToolbarButtonColours(int32_t id, bool disabled, bool pressed, bool on) {
    ButtonColours colours;
    if (on)
        colours = {toolbar_colour::kIdle, toolbar_colour::kBackground};
    else if (id == 102)
        colours = disabled ? ButtonColours{{42, 58, 85}, {144, 164, 191}} : ButtonColours{{255, 77, 77}, {255, 255, 255}};
    else if (id == 100)
        colours = {{255, 138, 42}, {42, 17, 0}};
    else
        colours = {{11, 44, 82}, toolbar_colour::kText};
    if (pressed) {
        colours.face.r = static_cast<uint8_t>(colours.face.r * 4 / 5);
        colours.face.g = static_cast<uint8_t>(colours.face.g * 4 / 5);
        colours.face.b = static_cast<uint8_t>(colours.face.b * 4 / 5);
    }
    return colours;
}
