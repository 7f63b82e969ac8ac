#include "storage/settings_core.h"

#include <algorithm>
#include <initializer_list>

#include "storage/storage_core.h"

namespace {

int32_t OneOf(int32_t value, std::initializer_list<int32_t> allowed, int32_t fallback) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end() ? value : fallback;
}

// "-123" or "45"; anything else, or a number beyond 32 bits, is `fallback`.
int32_t SignedNumber(std::wstring_view text, int32_t fallback) {
    const bool negative = !text.empty() && text[0] == L'-';
    if (negative) text.remove_prefix(1);
    if (text.empty() || text.size() > 10) return fallback;
    int64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return fallback;
        value = value * 10 + (c - L'0');
    }
    if (negative) value = -value;
    return value < INT32_MIN || value > INT32_MAX ? fallback : static_cast<int32_t>(value);
}

}  // namespace

std::wstring DecimalText(int64_t value) {
    const bool negative = value < 0;
    // Work in unsigned so the most negative value does not overflow.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::wstring digits;
    do {
        digits.push_back(static_cast<wchar_t>(L'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits.push_back(L'-');
    std::reverse(digits.begin(), digits.end());
    return digits;
}

Settings SettingsFromReader(const ReadIntFn& readInt, const ReadTextFn& readText, std::wstring_view defaultFolder) {
    const Settings d;
    Settings s;
    s.resolution = OneOf(readInt(L"resolution", d.resolution), {720, 1080, 0}, d.resolution);
    s.fps = OneOf(readInt(L"fps", d.fps), {15, 30, 60}, d.fps);
    s.system_audio = readInt(L"system_audio", 1) != 0;
    s.microphone = readInt(L"microphone", 0) != 0;
    s.microphone_id = readText(L"microphone_id", L"");
    s.cursor = readInt(L"cursor", 1) != 0;
    s.countdown = OneOf(readInt(L"countdown", d.countdown), {0, 3, 5, 10}, d.countdown);
    s.screenshot_delay = OneOf(readInt(L"screenshot_delay", d.screenshot_delay), {0, 3, 5, 10}, d.screenshot_delay);
    s.folder = TidyFolderPath(readText(L"folder", defaultFolder));
    if (s.folder.empty()) s.folder = std::wstring(defaultFolder);
    s.hotkey_record_mod = readInt(L"hotkey_record_mod", d.hotkey_record_mod);
    s.hotkey_record_key = readInt(L"hotkey_record_key", d.hotkey_record_key);
    s.hotkey_pause_mod = readInt(L"hotkey_pause_mod", d.hotkey_pause_mod);
    s.hotkey_pause_key = readInt(L"hotkey_pause_key", d.hotkey_pause_key);
    s.hotkey_screenshot_mod = readInt(L"hotkey_screenshot_mod", d.hotkey_screenshot_mod);
    s.hotkey_screenshot_key = readInt(L"hotkey_screenshot_key", d.hotkey_screenshot_key);
    s.hotkey_region_mod = readInt(L"hotkey_region_mod", d.hotkey_region_mod);
    s.hotkey_region_key = readInt(L"hotkey_region_key", d.hotkey_region_key);
    s.editor_after_screenshot = readInt(L"editor_after_screenshot", 0) != 0;
    s.save_new_to_library = readInt(L"save_new_to_library", 0) != 0;
    s.trim_after_recording = readInt(L"trim_after_recording", 0) != 0;
    s.camera = readText(L"camera", L"");
    const std::wstring size = readText(L"camera_size", d.camera_size);
    s.camera_size = size == L"small" || size == L"medium" || size == L"large" ? size : d.camera_size;
    // Read as text: the system's reading of numbers turns negative ones,
    // the places left of and above the primary monitor, into 0.
    s.camera_x = SignedNumber(readText(L"camera_x", L""), d.camera_x);
    s.camera_y = SignedNumber(readText(L"camera_y", L""), d.camera_y);
    // One half of a place is no place.
    if (s.camera_x == kBubbleNotPlaced || s.camera_y == kBubbleNotPlaced) s.camera_x = s.camera_y = kBubbleNotPlaced;
    s.hotkey_camera_mod = readInt(L"hotkey_camera_mod", d.hotkey_camera_mod);
    s.hotkey_camera_key = readInt(L"hotkey_camera_key", d.hotkey_camera_key);
    s.show_clicks = readInt(L"show_clicks", 0) != 0;
    s.show_keys = readInt(L"show_keys", 0) != 0;
    return s;
}

std::vector<std::pair<std::wstring, std::wstring>> SettingsFileEntries(const Settings& s) {
    auto flag = [](bool b) { return std::wstring(b ? L"1" : L"0"); };
    return {
        {L"resolution", DecimalText(s.resolution)},
        {L"fps", DecimalText(s.fps)},
        {L"system_audio", flag(s.system_audio)},
        {L"microphone", flag(s.microphone)},
        {L"microphone_id", s.microphone_id},
        {L"cursor", flag(s.cursor)},
        {L"countdown", DecimalText(s.countdown)},
        {L"screenshot_delay", DecimalText(s.screenshot_delay)},
        {L"folder", s.folder},
        {L"hotkey_record_mod", DecimalText(s.hotkey_record_mod)},
        {L"hotkey_record_key", DecimalText(s.hotkey_record_key)},
        {L"hotkey_pause_mod", DecimalText(s.hotkey_pause_mod)},
        {L"hotkey_pause_key", DecimalText(s.hotkey_pause_key)},
        {L"hotkey_screenshot_mod", DecimalText(s.hotkey_screenshot_mod)},
        {L"hotkey_screenshot_key", DecimalText(s.hotkey_screenshot_key)},
        // Added later; a version that does not know them ignores them.
        {L"hotkey_region_mod", DecimalText(s.hotkey_region_mod)},
        {L"hotkey_region_key", DecimalText(s.hotkey_region_key)},
        {L"editor_after_screenshot", flag(s.editor_after_screenshot)},
        {L"save_new_to_library", flag(s.save_new_to_library)},
        {L"trim_after_recording", flag(s.trim_after_recording)},
        {L"camera", s.camera},
        {L"camera_size", s.camera_size},
        {L"camera_x", DecimalText(s.camera_x)},
        {L"camera_y", DecimalText(s.camera_y)},
        {L"hotkey_camera_mod", DecimalText(s.hotkey_camera_mod)},
        {L"hotkey_camera_key", DecimalText(s.hotkey_camera_key)},
        {L"show_clicks", flag(s.show_clicks)},
        {L"show_keys", flag(s.show_keys)},
    };
}
