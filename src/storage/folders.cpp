#include "storage/folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "storage/storage_core.h"

namespace {

std::wstring KnownFolderPath(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path != nullptr) result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring DataDirFromEnvironment() {
    wchar_t buffer[kDataDirEnvBuffer];
    const DWORD length = GetEnvironmentVariableW(L"OSTREL_DATA_DIR", buffer, kDataDirEnvBuffer);
    // A length of the buffer or more means the value did not fit: treated as unset.
    if (length == 0 || length >= kDataDirEnvBuffer) return {};
    return std::wstring(buffer, length);
}

std::wstring SystemMessage(uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    const DWORD length = FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
    return text;
}

}  // namespace

std::wstring DataFolder() {
    const std::wstring env = DataDirFromEnvironment();
    const std::wstring folder = env.empty() ? ChooseDataFolder({}, KnownFolderPath(FOLDERID_RoamingAppData))
                                            : ChooseDataFolder(env, {});
    if (!folder.empty()) EnsureFolder(folder);
    return folder;
}

std::wstring DefaultCapturesFolder() { return CapturesFolderBelow(KnownFolderPath(FOLDERID_Videos)); }

bool EnsureFolder(const std::wstring& path) {
    if (!IsFullyQualifiedPath(path)) return false;
    const int result = SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    if (result == ERROR_SUCCESS) return true;
    if (result != ERROR_ALREADY_EXISTS && result != ERROR_FILE_EXISTS) return false;
    // "Already exists" is also the answer for a file of that name, which is no folder to save into.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint64_t FreeBytes(const std::wstring& path) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) return UINT64_MAX;
    return available.QuadPart;
}

std::wstring ErrorText(uint32_t code) { return ComposeErrorText(SystemMessage(code), code); }
