#include "storage/log.h"

#include <windows.h>

#include <cstdarg>
#include <mutex>
#include <string>

#include "common/unique_handle.h"
#include "common/wide_format.h"
#include "storage/folders.h"
#include "storage/storage_core.h"

namespace {

std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void Log(const wchar_t* format, ...) {
    std::lock_guard<std::mutex> lock(LogMutex());

    va_list args;
    va_start(args, format);
    const std::wstring message = FormatWideV(kLogMessageMax, format, args);
    va_end(args);

    const std::wstring path = DataFolder() + L"\\ostrel.log";
    // Opened and closed per line so each line is on disk when Log returns and
    // other programs may read or delete the file in between.
    UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) return;

    SYSTEMTIME now{};
    GetLocalTime(&now);
    const std::wstring stamp = TimeStampText(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    const std::string bytes = LogFileBytes(stamp, message, size.QuadPart == 0);
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
