#include "storage/whole_file.h"

#include <windows.h>

#include "common/unique_handle.h"

namespace {

constexpr int kMoveAttempts = 40;
constexpr DWORD kMovePauseMs = 50;

}  // namespace

bool ReplaceWholeFile(const std::wstring& path, const void* bytes, uint32_t size) {
    const std::wstring fresh = path + L".new";
    UniqueHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const bool whole =
        WriteFile(file.Get(), bytes, size, &written, nullptr) && written == size && FlushFileBuffers(file.Get());
    file.Reset();
    for (int attempt = 0; whole && attempt < kMoveAttempts; ++attempt) {
        if (MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
        Sleep(kMovePauseMs);
    }
    DeleteFileW(fresh.c_str());
    return false;
}
