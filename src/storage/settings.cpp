#include "storage/settings.h"

#include <windows.h>

#include <vector>

#include "common/unique_handle.h"
#include "storage/folders.h"

Settings CurrentSettings;

namespace {

constexpr wchar_t kSection[] = L"ostrel";
constexpr DWORD kTextBuffer = 2048;

bool FitsAnsiCodePage(const std::wstring& text) {
    if (text.empty()) return true;
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, &usedDefault);
    return length > 0 && !usedDefault;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, bool& exists) {
    exists = false;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    exists = true;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (64 << 20)) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() || (ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                             read == bytes.size());
}

bool WriteWholeFile(const std::wstring& path, const void* data, size_t size) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// The profile functions keep the encoding a file starts with: a file that
// begins with a UTF-16 byte-order mark stays UTF-16, anything else is written
// in the ANSI code page, which cannot hold every folder name. So a new file is
// started as UTF-16, and an ANSI file is turned into UTF-16 before a value it
// cannot hold would be written into it and lost.
void PrepareFileFor(const std::wstring& path, const Settings& settings) {
    std::string bytes;
    bool exists = false;
    if (!ReadWholeFile(path, bytes, exists)) return;
    const bool utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                       static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (utf16) return;
    const bool utf8 = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (!exists || bytes.empty()) {
        const wchar_t mark = 0xFEFF;
        WriteWholeFile(path, &mark, sizeof mark);
        return;
    }
    if (utf8 || (FitsAnsiCodePage(settings.folder) && FitsAnsiCodePage(settings.microphone_id))) return;
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return;
    std::vector<wchar_t> wide(static_cast<size_t>(length) + 1);
    wide[0] = 0xFEFF;
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data() + 1, length);
    // Written beside the file and moved over it, so a failure leaves the old file whole.
    const std::wstring temporary = path + L".part";
    if (WriteWholeFile(temporary, wide.data(), wide.size() * sizeof(wchar_t))) {
        if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            DeleteFileW(temporary.c_str());
    }
}

}  // namespace

std::wstring SettingsFilePath() { return DataFolder() + L"\\settings.ini"; }

int32_t ReadSettingInt(const std::wstring& key, int32_t fallback) {
    return static_cast<int32_t>(GetPrivateProfileIntW(kSection, key.c_str(), fallback, SettingsFilePath().c_str()));
}

std::wstring ReadSettingText(const std::wstring& key, const std::wstring& fallback) {
    std::vector<wchar_t> buffer(kTextBuffer, L'\0');
    const DWORD length = GetPrivateProfileStringW(kSection, key.c_str(), fallback.c_str(), buffer.data(), kTextBuffer,
                                                  SettingsFilePath().c_str());
    return std::wstring(buffer.data(), length < kTextBuffer ? length : kTextBuffer - 1);
}

void WriteSettingInt(const std::wstring& key, int32_t value) { WriteSettingText(key, DecimalText(value)); }

void WriteSettingText(const std::wstring& key, const std::wstring& text) {
    WritePrivateProfileStringW(kSection, key.c_str(), text.c_str(), SettingsFilePath().c_str());
}

Settings LoadSettings() {
    return SettingsFromReader(
        [](std::wstring_view key, int32_t fallback) { return ReadSettingInt(std::wstring(key), fallback); },
        [](std::wstring_view key, std::wstring_view fallback) {
            return ReadSettingText(std::wstring(key), std::wstring(fallback));
        },
        DefaultCapturesFolder());
}

void SaveSettings(const Settings& settings) {
    PrepareFileFor(SettingsFilePath(), settings);
    for (const auto& [key, value] : SettingsFileEntries(settings)) WriteSettingText(key, value);
}
