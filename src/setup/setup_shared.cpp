// What installing and uninstalling share: closing a running OstrelWindows,
// writing out the carried program, the shortcut, the registry and folders.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "common/unique_handle.h"
#include "setup/setup.h"
#include "storage/sign_in_start.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kProgramResource = 101;
constexpr int kCloseAttempts = 3;
constexpr DWORD kCloseWaitMs = 15000;
constexpr DWORD kUnopenedProcessPauseMs = 2000;
constexpr DWORD kRegStringBytes = 2048;

}  // namespace

bool CloseRunningApp(const std::wstring& reg_key) {
    if (reg_key != kDefaultRegKey) return true;
    for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
        HWND window = FindWindowW(kAppWindowClass, nullptr);
        if (window == nullptr) return true;
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        UniqueHandle process(processId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr);
        PostMessageW(window, WM_CLOSE, 0, 0);
        if (process) {
            if (WaitForSingleObject(process.Get(), kCloseWaitMs) == WAIT_OBJECT_0) return true;
        } else {
            Sleep(kUnopenedProcessPauseMs);
        }
    }
    return FindWindowW(kAppWindowClass, nullptr) == nullptr;
}

bool ExtractApp(const std::wstring& path) {
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kProgramResource), RT_RCDATA);
    if (resource == nullptr) return false;
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(nullptr, resource);
    if (bytes == nullptr || size == 0) return false;

    // The program appears under its own name only complete: written beside it, then moved.
    const std::wstring fresh = path + L".new";
    UniqueHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file.Get(), bytes, size, &written, nullptr) && written == size && FlushFileBuffers(file.Get());
    file.Reset();
    if (!whole) {
        DeleteFileW(fresh.c_str());
        return false;
    }
    return MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool MakeShortcut(const std::wstring& linkPath, const std::wstring& targetPath) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)))) return false;
    link->SetPath(targetPath.c_str());
    link->SetIconLocation(targetPath.c_str(), 0);
    link->SetDescription(kShortcutDescription);
    link->SetWorkingDirectory(FolderOf(targetPath).c_str());
    ComPtr<IPersistFile> file;
    if (FAILED(link.As(&file))) return false;
    return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

std::wstring ReadRegString(HKEY key, const wchar_t* valueName) {
    constexpr DWORD kChars = kRegStringBytes / sizeof(wchar_t);
    wchar_t text[kChars + 1] = {};
    DWORD type = 0;
    DWORD bytes = kRegStringBytes;
    if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    // A full buffer without a terminator may hold a longer text cut short, so
    // it counts as not fitting. (Wine answers ERROR_MORE_DATA for it anyway.)
    const DWORD chars = bytes / sizeof(wchar_t);
    if (chars == kChars && text[kChars - 1] != L'\0') return {};
    text[chars] = L'\0';
    return text;
}

void WriteRegValues(HKEY key, const std::vector<RegistryValue>& values) {
    for (const RegistryValue& value : values) {
        if (value.kind == RegistryValue::Kind::String) {
            // Stored with its terminator.
            const DWORD bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
            RegSetValueExW(key, value.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()), bytes);
        } else {
            const DWORD number = value.number;
            RegSetValueExW(key, value.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
        }
    }
}

std::wstring KnownFolder(const KNOWNFOLDERID& id) {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path)) && path != nullptr) result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring OwnPath() { return RunningProgramPath(); }

bool SamePath(const std::wstring& a, const std::wstring& b) { return SameFilePath(a, b); }

std::wstring FullFolderPath(const std::wstring& folder) {
    if (folder.empty()) return {};
    const DWORD needed = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return TrimTrailingSeparators(folder);
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(folder.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return TrimTrailingSeparators(folder);
    full.resize(length);
    return TrimTrailingSeparators(full);
}

int SetupMessage(const std::wstring& text, UINT flags) {
    return MessageBoxW(nullptr, text.c_str(), kSetupDisplayName, flags);
}
