#include <doctest.h>

#include "cloud/utf8_core.h"
#include "storage/folders.h"
#include "storage/settings.h"
#include "win_test_support.h"

namespace {

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return bytes;
}

// Key names in the order their lines stand in the file.
std::vector<std::wstring> KeyOrder(const std::wstring& file) {
    std::vector<wchar_t> buffer(8192, L'\0');
    const DWORD length = GetPrivateProfileStringW(L"ostrel", nullptr, L"", buffer.data(), 8192, file.c_str());
    std::vector<std::wstring> keys;
    for (size_t i = 0; i < length;) {
        std::wstring key(buffer.data() + i);
        if (key.empty()) break;
        i += key.size() + 1;
        keys.push_back(key);
    }
    return keys;
}

}  // namespace

TEST_CASE("no settings file gives the defaults with the Videos captures folder") {
    ScratchFolder scratch;
    DataDirOverride env(scratch.Path().c_str());
    const Settings s = LoadSettings();
    Settings expected;
    expected.folder = DefaultCapturesFolder();
    CHECK(s == expected);
    CHECK(s.folder.size() > 7);
    CHECK(s.folder.substr(s.folder.size() - 7) == L"\\Ostrel");
}

TEST_CASE("saving writes every key in order and loads back the same record") {
    ScratchFolder scratch;
    DataDirOverride env(scratch.Path().c_str());
    Settings s;
    s.resolution = 0;
    s.fps = 60;
    s.system_audio = false;
    s.microphone = true;
    s.microphone_id = L"{0.0.1.00000000}.{abc}";
    s.cursor = false;
    s.countdown = 10;
    s.screenshot_delay = 5;
    s.folder = L"C:\\Users\\Zo\u00eb\\\u0412\u0438\u0434\u0435\u043e \u5f55\u50cf";
    s.hotkey_record_mod = 6;
    s.hotkey_record_key = 0x70;
    s.editor_after_screenshot = true;
    s.save_new_to_library = true;
    s.trim_after_recording = true;
    s.show_keys = true;
    s.camera = L"\\\\?\\usb#vid_046d&pid_0825#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
    s.camera_size = L"large";
    s.camera_x = -1500;  // on a monitor left of the primary one
    s.camera_y = 40;
    SaveSettings(s);
    CHECK(LoadSettings() == s);

    const std::wstring file = scratch / L"settings.ini";
    const std::vector<std::wstring> order = KeyOrder(file);
    const std::vector<std::wstring> expected = {
        L"resolution",       L"fps",           L"system_audio",      L"microphone",       L"microphone_id",
        L"cursor",           L"countdown",     L"screenshot_delay",  L"folder",           L"hotkey_record_mod",
        L"hotkey_record_key", L"hotkey_pause_mod", L"hotkey_pause_key", L"hotkey_screenshot_mod",
        L"hotkey_screenshot_key", L"hotkey_region_mod", L"hotkey_region_key", L"editor_after_screenshot",
        L"save_new_to_library", L"trim_after_recording", L"camera", L"camera_size", L"camera_x", L"camera_y",
        L"hotkey_camera_mod", L"hotkey_camera_key", L"show_clicks", L"show_keys"};
    CHECK(order == expected);
    wchar_t value[16] = {};
    GetPrivateProfileStringW(L"ostrel", L"microphone", L"", value, 16, file.c_str());
    CHECK(std::wstring(value) == L"1");
    GetPrivateProfileStringW(L"ostrel", L"system_audio", L"", value, 16, file.c_str());
    CHECK(std::wstring(value) == L"0");
}

TEST_CASE("saving into an existing file keeps other sections, foreign keys and line order") {
    ScratchFolder scratch;
    DataDirOverride env(scratch.Path().c_str());
    const std::wstring file = scratch / L"settings.ini";
    WriteBytes(file, "[other]\r\nkeep=me\r\n[ostrel]\r\nfps=15\r\nmine=yes\r\n");
    Settings s;
    s.folder = L"D:\\caps";
    SaveSettings(s);
    wchar_t value[16] = {};
    GetPrivateProfileStringW(L"other", L"keep", L"", value, 16, file.c_str());
    CHECK(std::wstring(value) == L"me");
    GetPrivateProfileStringW(L"ostrel", L"mine", L"", value, 16, file.c_str());
    CHECK(std::wstring(value) == L"yes");
    const auto order = KeyOrder(file);
    REQUIRE(order.size() == 29);
    CHECK(order[0] == L"fps");
    CHECK(order[1] == L"mine");
    CHECK(LoadSettings() == s);
}

TEST_CASE("an ANSI file that cannot hold a new folder name is turned into UTF-16 first") {
    ScratchFolder scratch;
    DataDirOverride env(scratch.Path().c_str());
    const std::wstring file = scratch / L"settings.ini";
    WriteBytes(file, "[ostrel]\r\nmicrophone_id=caf\xE9\r\n[other]\r\nkeep=1\r\n");
    Settings s = LoadSettings();
    CHECK(s.microphone_id == L"caf\u00e9");
    s.folder = L"C:\\\u5f55\u50cf";
    SaveSettings(s);
    CHECK(LoadSettings() == s);
    CHECK(ReadBytes(file).compare(0, 2, "\xFF\xFE") == 0);
    CHECK(GetPrivateProfileIntW(L"other", L"keep", 0, file.c_str()) == 1);
}

TEST_CASE("settings files in the ANSI code page and in UTF-16 are read") {
    ScratchFolder scratch;
    DataDirOverride env(scratch.Path().c_str());
    const std::wstring file = scratch / L"settings.ini";

    WriteBytes(file, "[ostrel]\r\nfolder=C:\\Vid\xE9os\r\nfps=60\r\n");
    Settings s = LoadSettings();
    CHECK(s.folder == L"C:\\Vid\u00e9os");
    CHECK(s.fps == 60);

    WriteBytes(file, Utf16File(L"[ostrel]\r\nfolder=C:\\\u5f55\u50cf\r\ncountdown=5\r\n"));
    s = LoadSettings();
    CHECK(s.folder == L"C:\\\u5f55\u50cf");
    CHECK(s.countdown == 5);
}

TEST_CASE("garbage values, empty folder and over-long texts") {
    ScratchFolder scratch;
    DataDirOverride env(scratch.Path().c_str());
    const std::wstring file = scratch / L"settings.ini";
    const std::string longText(3000, 'q');
    WriteBytes(file, "[ostrel]\r\nresolution=huge\r\nfps=25\r\ncountdown=4\r\nscreenshot_delay=7\r\nsystem_audio=2\r\n"
                     "cursor=0\r\nfolder=\r\nhotkey_record_mod=0\r\nmicrophone_id=" + longText + "\r\n\x01\x02garbage\r\n");
    const Settings s = LoadSettings();
    CHECK(s.resolution == 0);
    CHECK(s.fps == 30);
    CHECK(s.countdown == 3);
    CHECK(s.screenshot_delay == 0);
    CHECK(s.system_audio);
    CHECK_FALSE(s.cursor);
    CHECK(s.folder == DefaultCapturesFolder());
    CHECK(s.hotkey_record_mod == 0);
    CHECK(s.microphone_id == std::wstring(2047, L'q'));
}
