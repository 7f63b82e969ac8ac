#include <doctest.h>

#include "app/settings_form_core.h"
#include "app/toolbar_core.h"

using State = ShellRecorderState;

TEST_CASE("toolbar clock, status and captions") {
    CHECK(ElapsedText(7.9) == L"0:07");
    CHECK(ElapsedText(750) == L"12:30");
    CHECK(ElapsedText(3599.99) == L"59:59");
    CHECK(ElapsedText(3600) == L"1:00:00");
    CHECK(ElapsedText(-1) == L"0:00");

    CHECK(ToolbarStatusFor(State::Idle, 3, 0).text == L"Starting in 3");
    const ToolbarStatus recording = ToolbarStatusFor(State::Recording, 0, 3600);
    CHECK(recording.text == L"REC  1:00:00");
    CHECK(recording.mark == ToolbarMark::FilledCircle);
    CHECK(recording.markColour == Rgb{255, 77, 77});
    const ToolbarStatus paused = ToolbarStatusFor(State::Paused, 0, 61);
    CHECK(paused.text == L"PAUSED  1:01");
    CHECK(paused.mark == ToolbarMark::PauseBars);
    CHECK(paused.markColour == Rgb{255, 197, 61});
    CHECK(ToolbarStatusFor(State::Stopping, 0, 5).text == L"Saving\u2026");
    const ToolbarStatus idle = ToolbarStatusFor(State::Idle, 0, 0);
    CHECK(idle.text == L"Ready");
    CHECK(idle.mark == ToolbarMark::HollowCircle);
    CHECK(idle.markColour == Rgb{79, 214, 255});

    CHECK(PrimaryButtonText(State::Idle, false) == L"Record");
    CHECK(PrimaryButtonText(State::Idle, true) == L"Cancel");
    CHECK(PrimaryButtonText(State::Recording, false) == L"Pause");
    CHECK(PrimaryButtonText(State::Paused, false) == L"Resume");
    CHECK(StopButtonEnabled(State::Paused));
    CHECK_FALSE(StopButtonEnabled(State::Idle));
    CHECK_FALSE(StopButtonEnabled(State::Stopping));
}

TEST_CASE("toolbar button colours") {
    CHECK(ToolbarButtonColours(100, false, true).face == Rgb{204, 110, 33});
    CHECK(ToolbarButtonColours(100, false, false).text == Rgb{42, 17, 0});
    CHECK(ToolbarButtonColours(102, true, false).face == Rgb{42, 58, 85});
    CHECK(ToolbarButtonColours(102, true, false).text == Rgb{144, 164, 191});
    CHECK(ToolbarButtonColours(102, false, false).text == Rgb{255, 255, 255});
    CHECK(ToolbarButtonColours(109, false, false).face == Rgb{11, 44, 82});
}

TEST_CASE("settings window rows and values both ways") {
    const int32_t resolutions[] = {720, 1080, 0};
    const int32_t fps[] = {15, 30, 60};
    const int32_t seconds[] = {0, 3, 5, 10};
    for (int row = 0; row < 3; ++row) {
        CHECK(ResolutionRow(ResolutionForRow(row, -1)) == row);
        CHECK(ResolutionForRow(row, -1) == resolutions[row]);
        CHECK(FpsForRow(row, -1) == fps[row]);
        CHECK(FpsRow(fps[row]) == row);
    }
    for (int row = 0; row < 4; ++row) {
        CHECK(SecondsForRow(row, -1) == seconds[row]);
        CHECK(SecondsRow(seconds[row]) == row);
    }
    CHECK(ResolutionRow(1440) == 2);
    CHECK(FpsRow(24) == 2);
    CHECK(SecondsRow(7) == 3);
    CHECK(ResolutionForRow(-1, 1080) == 1080);  // no selection keeps the value

    const std::vector<std::wstring> ids = {L"{a}", L"{b}", L"{a}"};
    CHECK(MicrophoneRow(ids, L"{a}") == 3);
    CHECK(MicrophoneRow(ids, L"{b}") == 2);
    CHECK(MicrophoneRow(ids, L"{A}") == 0);
    CHECK(MicrophoneRow(ids, L"") == 0);
    CHECK(MicrophoneIdForRow(ids, 0).empty());
    CHECK(MicrophoneIdForRow(ids, 2) == L"{b}");
    CHECK(MicrophoneIdForRow(ids, 4).empty());
}

TEST_CASE("shortcut controls") {
    // Alt+Shift+R shows as HOTKEYF_ALT|HOTKEYF_SHIFT with 'R'; Win is dropped.
    CHECK(HotkeyControlValue(5, 0x52) == 0x0552);
    CHECK(HotkeyControlValue(8 | 2, 0x41) == 0x0241);
    CHECK(ModifiersFromHotkeyFlags(0x07) == 7);
    CHECK(ModifiersFromHotkeyFlags(0x08) == 0);  // HOTKEYF_EXT adds nothing

    int32_t mod = 5, key = 0x52;
    ApplyHotkeyControl(0x0000, mod, key);  // cleared control: kept
    CHECK((mod == 5 && key == 0x52));
    ApplyHotkeyControl(0x0341, mod, key);
    CHECK((mod == 6 && key == 0x41));
    ApplyHotkeyControl(0x0041, mod, key);
    CHECK(mod == 0);
    Settings settings;
    CHECK(ShortcutsHaveModifiers(settings));
    settings.hotkey_pause_mod = 0;
    CHECK_FALSE(ShortcutsHaveModifiers(settings));
}
