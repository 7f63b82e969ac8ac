#pragma once
// Monitors, capture time stamps and names, and the partial files that
// interrupted recordings leave behind.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/region_core.h"
#include "storage/capture_names_core.h"

struct MonitorEntry {
    HMONITOR monitor = nullptr;
    int32_t left = 0, top = 0, right = 0, bottom = 0;  // full rectangle, virtual-screen pixels
    bool primary = false;
    std::wstring label;
};

std::vector<MonitorEntry> ListMonitors();
// The visible top-level windows that have a title, front to back.
std::vector<WindowEntry> VisibleTitledWindows();
HMONITOR PrimaryMonitor();
// A monitor's effective DPI (96 at 100 %); the system's when it does not say.
uint32_t MonitorDpi(HMONITOR monitor);
std::wstring CaptureTimeStamp();
// A free capture path; nothing is created.
std::wstring UniqueCaptureName(const std::wstring& folder, const std::wstring& stem, const std::wstring& extension);
// A free capture path whose ".part" file this call has created (empty), so a
// second caller, in this process or another, can never get the same name.
// Empty when no ".part" file could be created; `error` then holds the code.
std::wstring ReserveCaptureName(const std::wstring& folder, const std::wstring& stem, const std::wstring& extension,
                                DWORD& error);
// Gives up a reservation: deletes path + ".part" if it is still empty.
void ReleaseCaptureName(const std::wstring& path);
// Files in the captures folder matching a pattern such as "*.mp4.part", as
// full paths; none when the folder is empty or not a full path.
std::vector<std::wstring> FindCaptureFiles(const std::wstring& folder, const std::wstring& pattern);
// The partial files of interrupted recordings.
std::vector<std::wstring> FindPartFiles(const std::wstring& folder);

// A minimized window sends no picture: it is restored before its capture starts.
void RestoreForCapture(HWND window);
