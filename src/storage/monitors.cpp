#include "storage/monitors.h"

#include <dwmapi.h>

#include "common/unique_handle.h"
#include "storage/storage_core.h"

namespace {

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    auto& list = *reinterpret_cast<std::vector<MonitorEntry>*>(data);
    MonitorEntry entry;
    entry.monitor = monitor;
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) {
        entry.left = info.rcMonitor.left;
        entry.top = info.rcMonitor.top;
        entry.right = info.rcMonitor.right;
        entry.bottom = info.rcMonitor.bottom;
        entry.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    }
    entry.label = MonitorLabel(static_cast<int>(list.size()) + 1, entry.right - entry.left, entry.bottom - entry.top,
                               entry.primary);
    list.push_back(std::move(entry));
    return TRUE;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

std::vector<MonitorEntry> ListMonitors() {
    std::vector<MonitorEntry> list;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&list));
    return list;
}

HMONITOR PrimaryMonitor() { return MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY); }

std::wstring CaptureTimeStamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return TimeStampText(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

std::wstring UniqueCaptureName(const std::wstring& folder, const std::wstring& stem, const std::wstring& extension) {
    return FirstFreeCaptureName(folder, stem, extension, Exists);
}

std::wstring ReserveCaptureName(const std::wstring& folder, const std::wstring& stem, const std::wstring& extension,
                                DWORD& error) {
    error = ERROR_SUCCESS;
    // CREATE_NEW is the lock: it fails when another caller made the file first,
    // and then the search goes on past that name.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring path = UniqueCaptureName(folder, stem, extension);
        UniqueHandle part(CreateFileW((path + L".part").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (part) return path;
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

void ReleaseCaptureName(const std::wstring& path) {
    const std::wstring part = path + L".part";
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(part.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
        data.nFileSizeLow == 0 && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW(part.c_str());
}

std::vector<std::wstring> FindCaptureFiles(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> paths;
    // An empty or relative folder would search the drive's root or the working folder.
    if (!IsFullyQualifiedPath(folder)) return paths;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(JoinPath(folder, pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return paths;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) paths.push_back(JoinPath(folder, found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return paths;
}

std::vector<std::wstring> FindPartFiles(const std::wstring& folder) { return FindCaptureFiles(folder, L"*.mp4.part"); }

std::vector<WindowEntry> VisibleTitledWindows() {
    std::vector<WindowEntry> found;
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            if (!IsWindowVisible(window)) return TRUE;
            wchar_t title[512] = {};
            const int length = GetWindowTextW(window, title, 512);
            if (length <= 0) return TRUE;
            WindowEntry entry;
            entry.handle = reinterpret_cast<uintptr_t>(window);
            entry.title.assign(title, static_cast<size_t>(length));
            const LONG_PTR extended = GetWindowLongPtrW(window, GWL_EXSTYLE);
            entry.toolWindow = (extended & WS_EX_TOOLWINDOW) != 0;
            entry.appWindow = (extended & WS_EX_APPWINDOW) != 0;
            entry.owned = GetWindow(window, GW_OWNER) != nullptr;
            DWORD cloaked = 0;
            entry.cloaked = SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof cloaked)) && cloaked != 0;
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            entry.ours = process == GetCurrentProcessId();
            entry.shellDesktop = window == GetShellWindow();
            entry.minimized = IsIconic(window) != FALSE;
            // A minimized window's own rectangle is a stub; its normal place counts.
            WINDOWPLACEMENT place{};
            place.length = sizeof place;
            RECT bounds{};
            if (entry.minimized && GetWindowPlacement(window, &place)) bounds = place.rcNormalPosition;
            else GetWindowRect(window, &bounds);
            entry.width = bounds.right - bounds.left;
            entry.height = bounds.bottom - bounds.top;
            reinterpret_cast<std::vector<WindowEntry>*>(parameter)->push_back(std::move(entry));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

void RestoreForCapture(HWND window) {
    // Asked, not waited for: ShowWindow on another program's window waits
    // for that program, which may not be answering. The first frame is
    // awaited afterwards as it is for any window.
    if (window == nullptr || !IsIconic(window)) return;
    ShowWindowAsync(window, SW_RESTORE);
    // A program that answers restores it within a few frames; one that does
    // not is given a second, then its first frame is awaited as usual.
    for (int waited = 0; waited < 100 && IsIconic(window); ++waited) Sleep(10);
}

uint32_t MonitorDpi(HMONITOR monitor) {
    // Looked up at run time, as the process's own DPI declaration is.
    using MonitorDpiFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto forMonitor = [] {
        HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return shcore == nullptr ? nullptr
                                 : reinterpret_cast<MonitorDpiFn>(
                                       reinterpret_cast<void (*)()>(GetProcAddress(shcore, "GetDpiForMonitor")));
    }();
    UINT x = 96, y = 96;
    if (forMonitor != nullptr && SUCCEEDED(forMonitor(monitor, 0 /* MDT_EFFECTIVE_DPI */, &x, &y)) && x != 0) return x;
    return GetDpiForSystem();
}
