#include "storage/sign_in_start.h"

#include <windows.h>

#include <vector>

bool SameFilePath(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::optional<std::wstring> ReadSignInStart() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, bytes = 0;
    std::optional<std::wstring> value;
    // A value of another type, or one longer than any path, is no command of ours.
    if (RegQueryValueExW(key, kRunValueName, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && bytes <= 8192) {
        std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, kRunValueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) ==
            ERROR_SUCCESS)
            value = std::wstring(text.data());  // up to its end, whether the registry kept one or not
    } else if (RegQueryValueExW(key, kRunValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        value = std::wstring();
    }
    RegCloseKey(key);
    return value;
}

bool WriteSignInStart(const std::wstring& programPath) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring command = SignInStartCommand(programPath);
    const bool written = RegSetValueExW(key, kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                        static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

bool RemoveSignInStart() {
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) return false;
    const LONG deleted = RegDeleteValueW(key, kRunValueName);
    RegCloseKey(key);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

SignInStart SignInStartFor(const std::wstring& programPath) { return JudgeSignInStartValue(ReadSignInStart(), programPath); }

SignInStart JudgeSignInStartValue(const std::optional<std::wstring>& value, const std::wstring& programPath) {
    return JudgeSignInStart(value, programPath, SameFilePath, [](const std::wstring& path) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    });
}

std::wstring RunningProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}
