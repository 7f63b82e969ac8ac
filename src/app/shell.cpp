#include "app/shell.h"

HINSTANCE Instance = nullptr;
HWND MainWindow = nullptr;
HWND ToolbarWindow = nullptr;
HWND SettingsWindow = nullptr;
HWND SignInWindow = nullptr;
HFONT UiFont = nullptr;
HFONT UiFontBold = nullptr;
HICON BigIcon = nullptr;
HICON SmallIcon = nullptr;
NOTIFYICONDATAW TrayIcon{};
std::wstring LastCapture;
std::wstring LastScreenshot;
std::wstring LastRecording;
int32_t CountdownRemaining = 0;
HMONITOR PendingRecordMonitor = nullptr;
HMONITOR PendingScreenshotMonitor = nullptr;
int32_t ScreenshotDelaySeconds = 0;
bool HideFromCaptureOk = false;
bool HideWarningShown = false;
std::atomic<bool> UploadInProgress{false};
