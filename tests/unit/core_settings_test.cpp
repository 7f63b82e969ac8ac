#include <doctest.h>

#include <map>

#include "storage/settings_core.h"

namespace {

// A settings file as key -> raw text, read the way the profile functions do:
// integers stop at the first non-digit, text without digits reads as 0.
struct FakeFile {
    std::map<std::wstring, std::wstring> keys;

    Settings Load(const std::wstring& defaultFolder = L"C:\\Users\\u\\Videos\\Ostrel") const {
        return SettingsFromReader(
            [this](std::wstring_view key, int32_t fallback) -> int32_t {
                auto it = keys.find(std::wstring(key));
                if (it == keys.end()) return fallback;
                try {
                    return static_cast<int32_t>(std::stol(it->second));
                } catch (...) {
                    return 0;
                }
            },
            [this](std::wstring_view key, std::wstring_view fallback) {
                auto it = keys.find(std::wstring(key));
                return it == keys.end() ? std::wstring(fallback) : it->second;
            },
            defaultFolder);
    }
};

}  // namespace

TEST_CASE("a missing settings file gives the defaults") {
    const Settings s = FakeFile{}.Load();
    CHECK(s.resolution == 720);
    CHECK(s.fps == 30);
    CHECK(s.system_audio);
    CHECK_FALSE(s.microphone);
    CHECK(s.microphone_id.empty());
    CHECK(s.cursor);
    CHECK(s.countdown == 3);
    CHECK(s.screenshot_delay == 0);
    CHECK(s.folder == L"C:\\Users\\u\\Videos\\Ostrel");
    CHECK(s.hotkey_record_mod == 5);
    CHECK(s.hotkey_record_key == 0x52);
    CHECK(s.hotkey_pause_mod == 5);
    CHECK(s.hotkey_pause_key == 0x50);
    CHECK(s.hotkey_screenshot_mod == 5);
    CHECK(s.hotkey_screenshot_key == 0x53);
    CHECK(s.hotkey_region_mod == 5);
    CHECK(s.hotkey_region_key == 0x41);
    CHECK(Settings{}.folder.empty());
}

TEST_CASE("values outside their sets fall back to the defaults") {
    FakeFile f;
    f.keys = {{L"resolution", L"0"}, {L"fps", L"25"}, {L"countdown", L"0"}, {L"screenshot_delay", L"7"},
              {L"system_audio", L"2"}, {L"cursor", L"0"}, {L"hotkey_record_mod", L"0"}};
    Settings s = f.Load();
    CHECK(s.resolution == 0);
    CHECK(s.fps == 30);
    CHECK(s.countdown == 0);
    CHECK(s.screenshot_delay == 0);
    CHECK(s.system_audio);
    CHECK_FALSE(s.cursor);
    CHECK(s.hotkey_record_mod == 0);

    f.keys = {{L"resolution", L"480"}, {L"countdown", L"4"}, {L"fps", L"60"}, {L"screenshot_delay", L"10"}};
    s = f.Load();
    CHECK(s.resolution == 720);
    CHECK(s.countdown == 3);
    CHECK(s.fps == 60);
    CHECK(s.screenshot_delay == 10);

    // Text where a number belongs reads as 0.
    f.keys = {{L"resolution", L"big"}, {L"fps", L"fast"}, {L"countdown", L"x"}, {L"screenshot_delay", L"y"}};
    s = f.Load();
    CHECK(s.resolution == 0);
    CHECK(s.fps == 30);
    CHECK(s.countdown == 0);
    CHECK(s.screenshot_delay == 0);
}

TEST_CASE("an empty folder key gives the default captures folder; a missing folder is kept") {
    FakeFile f;
    f.keys = {{L"folder", L""}};
    CHECK(f.Load().folder == L"C:\\Users\\u\\Videos\\Ostrel");
    f.keys = {{L"folder", L"D:\\does\\not\\exist"}};
    CHECK(f.Load().folder == L"D:\\does\\not\\exist");
    f.keys = {{L"folder", L"C:\\caps\\ "}};  // tidied as the settings window saves it
    CHECK(f.Load().folder == L"C:\\caps");
    CHECK(FakeFile{}.Load(L"").folder.empty());
}

TEST_CASE("the file entries hold every key in order, booleans as 0 or 1") {
    Settings s;
    s.system_audio = false;
    s.microphone = true;
    s.folder = L"E:\\caps";
    s.hotkey_pause_key = -7;
    const auto entries = SettingsFileEntries(s);
    const wchar_t* keys[] = {L"resolution",        L"fps",
                             L"system_audio",      L"microphone",
                             L"microphone_id",     L"cursor",
                             L"countdown",         L"screenshot_delay",
                             L"folder",            L"hotkey_record_mod",
                             L"hotkey_record_key", L"hotkey_pause_mod",
                             L"hotkey_pause_key",  L"hotkey_screenshot_mod",
                             L"hotkey_screenshot_key", L"hotkey_region_mod", L"hotkey_region_key",
                             L"editor_after_screenshot", L"save_new_to_library", L"trim_after_recording",
                             L"camera", L"camera_size", L"camera_x", L"camera_y", L"hotkey_camera_mod",
                             L"hotkey_camera_key", L"show_clicks", L"show_keys"};
    REQUIRE(entries.size() == 28);
    for (size_t i = 0; i < 28; ++i) CHECK(entries[i].first == keys[i]);
    CHECK(entries[0].second == L"720");
    CHECK(entries[2].second == L"0");
    CHECK(entries[3].second == L"1");
    CHECK(entries[5].second == L"1");
    CHECK(entries[8].second == L"E:\\caps");
    CHECK(entries[10].second == L"82");
    CHECK(entries[12].second == L"-7");
    CHECK(entries[17].second == L"0");  // the editor opens only when asked
    CHECK(entries[18].second == L"0");  // nothing is uploaded unless asked
}

TEST_CASE("decimal text") {
    CHECK(DecimalText(0) == L"0");
    CHECK(DecimalText(-2147483648LL) == L"-2147483648");
    CHECK(DecimalText(INT64_MIN) == L"-9223372036854775808");
    CHECK(DecimalText(1234567890123LL) == L"1234567890123");
}
