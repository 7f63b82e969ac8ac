#include "app/settings_form_core.h"

namespace {

constexpr int32_t kResolutions[] = {720, 1080, 0};
constexpr int32_t kFps[] = {15, 30, 60};
constexpr int32_t kSeconds[] = {0, 3, 5, 10};

template <size_t N>
int32_t ForRow(const int32_t (&values)[N], int row, int32_t current) {
    return row >= 0 && static_cast<size_t>(row) < N ? values[row] : current;
}

constexpr uint8_t kHotkeyShift = 0x01, kHotkeyControl = 0x02, kHotkeyAlt = 0x04;
constexpr int32_t kModAlt = 1, kModControl = 2, kModShift = 4;

}  // namespace

int ResolutionRow(int32_t resolution) { return resolution == 720 ? 0 : resolution == 1080 ? 1 : 2; }
int FpsRow(int32_t fps) { return fps == 15 ? 0 : fps == 30 ? 1 : 2; }
int SecondsRow(int32_t seconds) { return seconds == 0 ? 0 : seconds == 3 ? 1 : seconds == 5 ? 2 : 3; }
int32_t ResolutionForRow(int row, int32_t current) { return ForRow(kResolutions, row, current); }
int32_t FpsForRow(int row, int32_t current) { return ForRow(kFps, row, current); }
int32_t SecondsForRow(int row, int32_t current) { return ForRow(kSeconds, row, current); }

int MicrophoneRow(const std::vector<std::wstring>& ids, const std::wstring& id) {
    int row = 0;
    for (size_t i = 0; i < ids.size(); ++i)
        if (ids[i] == id) row = static_cast<int>(i) + 1;
    return row;
}

std::wstring MicrophoneIdForRow(const std::vector<std::wstring>& ids, int row) {
    if (row < 1 || static_cast<size_t>(row) > ids.size()) return {};
    return ids[static_cast<size_t>(row) - 1];
}

uint8_t HotkeyControlFlags(int32_t modifiers) {
    uint8_t flags = 0;
    if (modifiers & kModShift) flags |= kHotkeyShift;
    if (modifiers & kModControl) flags |= kHotkeyControl;
    if (modifiers & kModAlt) flags |= kHotkeyAlt;
    return flags;
}

int32_t ModifiersFromHotkeyFlags(uint8_t flags) {
    int32_t modifiers = 0;
    if (flags & kHotkeyShift) modifiers |= kModShift;
    if (flags & kHotkeyControl) modifiers |= kModControl;
    if (flags & kHotkeyAlt) modifiers |= kModAlt;
    return modifiers;
}

uint16_t HotkeyControlValue(int32_t modifiers, int32_t key) {
    return static_cast<uint16_t>((HotkeyControlFlags(modifiers) << 8) | (key & 0xFF));
}

void ApplyHotkeyControl(uint16_t value, int32_t& modifiers, int32_t& key) {
    const uint8_t keyByte = static_cast<uint8_t>(value & 0xFF);
    if (keyByte == 0) return;
    key = keyByte;
    modifiers = ModifiersFromHotkeyFlags(static_cast<uint8_t>(value >> 8));
}

bool ShortcutsHaveModifiers(const Settings& s) {
    return s.hotkey_record_mod != 0 && s.hotkey_pause_mod != 0 && s.hotkey_screenshot_mod != 0 &&
           s.hotkey_region_mod != 0 && s.hotkey_camera_mod != 0;
}
