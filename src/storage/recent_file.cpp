#include "storage/recent_file.h"

#include <windows.h>

#include "common/unique_handle.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/whole_file.h"

namespace {

constexpr int64_t kWindowsToUnix = 11644473600;  // seconds from 1601 to 1970

}  // namespace

std::wstring RecentFilePath() { return DataFolder() + L"\\recent.txt"; }

std::vector<RecentCapture> LoadRecentCaptures() {
    UniqueHandle file(CreateFileW(RecentFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    // Only as much as a list can need is read; the rest is not looked at.
    std::string bytes(kRecentFileLimit, '\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
    bytes.resize(read);
    return ParseRecentFile(bytes);
}

bool SaveRecentCaptures(const std::vector<RecentCapture>& list) {
    EnsureFolder(DataFolder());
    const std::string text = RecentFileText(list);
    return ReplaceWholeFile(RecentFilePath(), text.data(), static_cast<uint32_t>(text.size()));
}

void NoteRecentCapture(const std::wstring& path) {
    if (path.empty()) return;
    if (!SaveRecentCaptures(WithRecent(LoadRecentCaptures(), {path, SecondsNow()})))
        Log(L"The list of recent captures could not be written: %s", ErrorText(GetLastError()).c_str());
}

int64_t SecondsNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const int64_t ticks = (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks / 10000000 - kWindowsToUnix;
}

LocalTime LocalTimeOf(int64_t seconds) {
    const int64_t ticks = (seconds + kWindowsToUnix) * 10000000;
    FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{}, local{};
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return {};
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute};
}
