#pragma once
// The user's settings record, its defaults and allowed values, and the
// mapping to and from the keys of settings.ini.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The stored place of a camera bubble never moved.
constexpr int32_t kBubbleNotPlaced = INT32_MIN;

struct Settings {
    int32_t resolution = 720;  // picture height 720 or 1080, or 0 for the monitor's own size
    int32_t fps = 30;          // 15, 30 or 60
    bool system_audio = true;
    bool microphone = false;
    std::wstring microphone_id;  // empty: the default microphone
    bool cursor = true;
    int32_t countdown = 3;         // 0, 3, 5 or 10 seconds
    int32_t screenshot_delay = 0;  // 0, 3, 5 or 10 seconds
    std::wstring folder;           // filled by loading; empty in a fresh record
    // (modifiers, virtual key) pairs: record, pause, screenshot, region screenshot; the camera's below.
    int32_t hotkey_record_mod = 5;
    int32_t hotkey_record_key = 0x52;
    int32_t hotkey_pause_mod = 5;
    int32_t hotkey_pause_key = 0x50;
    int32_t hotkey_screenshot_mod = 5;
    int32_t hotkey_screenshot_key = 0x53;
    int32_t hotkey_region_mod = 5;
    int32_t hotkey_region_key = 0x41;
    bool editor_after_screenshot = false;  // open each new screenshot in the editor
    bool save_new_to_library = false;      // save each new capture to the library by itself
    bool trim_after_recording = false;     // open each new recording in the trim window
    bool show_clicks = false;              // rings at the pointer's presses in recordings
    bool show_keys = false;                // labels of key combinations in recordings
    // The camera bubble: the camera's symbolic link (empty: the first one),
    // "small", "medium" or "large", and its top left on the screen
    // (kBubbleNotPlaced until it is first moved), and its shortcut.
    std::wstring camera;
    std::wstring camera_size = L"medium";
    int32_t camera_x = kBubbleNotPlaced;
    int32_t camera_y = kBubbleNotPlaced;
    int32_t hotkey_camera_mod = 5;
    int32_t hotkey_camera_key = 0x43;

    bool operator==(const Settings&) const = default;
};

// Longest text value read back, in characters (a 2048-character buffer).
constexpr size_t kSettingTextMax = 2047;

using ReadIntFn = std::function<int32_t(std::wstring_view key, int32_t fallback)>;
using ReadTextFn = std::function<std::wstring(std::wstring_view key, std::wstring_view fallback)>;

// Builds the record from a key reader, applying the allowed sets; the folder
// is tidied (TidyFolderPath), and one that is missing or empty becomes defaultFolder.
Settings SettingsFromReader(const ReadIntFn& readInt, const ReadTextFn& readText, std::wstring_view defaultFolder);

// Every key with its value as written to the file, in the file's order.
std::vector<std::pair<std::wstring, std::wstring>> SettingsFileEntries(const Settings& settings);

// Decimal text of a number, with a leading "-" when negative.
std::wstring DecimalText(int64_t value);
