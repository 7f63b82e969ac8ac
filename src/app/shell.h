#pragma once
// Shell state shared by the tray program's windows, and the identifiers of
// its messages, commands, timers and shortcuts. Everything here is touched
// only on the user-interface thread unless it says otherwise.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <string>

#include "cloud/cloud_events.h"
#include "common/version.h"

// Custom messages of MainWindow.
constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT WM_ANOTHER_INSTANCE = WM_APP + 2;
constexpr UINT WM_RECORDER_NOTIFY = WM_APP + 3;
constexpr UINT WM_SCREENSHOT_DONE = WM_APP + 4;
constexpr WPARAM kScreenshotNotCopied = 1;  // WM_SCREENSHOT_DONE's wParam: saved, but the clipboard did not take it
constexpr UINT WM_REGION_DONE = WM_APP + 6;  // a RegionResult, posted (common/posted.h)
constexpr UINT WM_EDIT_REQUEST = WM_APP + 7;  // a picture to edit (a std::wstring, posted), from a second start
constexpr UINT WM_TRIM_REQUEST = WM_APP + 8;  // a recording to trim, the same way


// Commands (low word of WM_COMMAND's wParam).
constexpr WORD ID_RECORD = 100;
constexpr WORD ID_PAUSE = 101;
constexpr WORD ID_STOP = 102;
constexpr WORD ID_SCREENSHOT = 103;
constexpr WORD ID_OPEN_FOLDER = 104;
constexpr WORD ID_OPEN_WEB_APP = 105;
constexpr WORD ID_SETTINGS = 106;
constexpr WORD ID_QUIT = 107;
constexpr WORD ID_SHOW_TOOLBAR = 108;
constexpr WORD ID_HIDE_TOOLBAR = 109;
constexpr WORD ID_SIGN_IN = 120;
constexpr WORD ID_SIGN_OUT = 121;
constexpr WORD ID_SAVE_TO_LIBRARY = 122;
constexpr WORD ID_SAVE_LAST_CAPTURE = 123;
constexpr WORD ID_COPY_LINK = 124;
constexpr WORD ID_RECORD_REGION = 110;
constexpr WORD ID_SCREENSHOT_REGION = 111;
constexpr WORD ID_EDIT_LAST_SCREENSHOT = 112;
constexpr WORD ID_TRIM_LAST_RECORDING = 113;
constexpr WORD ID_SHOW_CAMERA = 114;  // shows the camera bubble, or takes it away
constexpr WORD ID_RECORD_MONITOR = 200;
constexpr WORD ID_SCREENSHOT_MONITOR = 300;
constexpr WORD ID_RECORD_WINDOW = 400;  // to 449: the entries of "Record a window"
constexpr WORD ID_RECENT = 700;  // to 759: a recent capture's actions, kRecentActions apart

// Timers on MainWindow.
constexpr UINT_PTR TIMER_TOOLBAR = 1;
constexpr UINT_PTR TIMER_COUNTDOWN = 2;
constexpr UINT_PTR TIMER_SCREENSHOT = 3;
constexpr UINT_PTR TIMER_REGION = 4;  // an accepted region, once the screen has repainted

// Shortcut ids.
constexpr int HOTKEY_RECORD = 1;
constexpr int HOTKEY_PAUSE = 2;
constexpr int HOTKEY_SCREENSHOT = 3;
constexpr int HOTKEY_REGION = 4;
constexpr int HOTKEY_CAMERA = 5;

// SetWindowDisplayAffinity's WDA_EXCLUDEFROMCAPTURE (Windows 10 2004 and later).
constexpr DWORD kExcludeFromCapture = 0x11;

// Window classes.
constexpr wchar_t kMainWindowClass[] = L"NIRAOstrelWindowsMain";
constexpr wchar_t kToolbarClass[] = L"NIRAOstrelToolbar";
constexpr wchar_t kSettingsClass[] = L"NIRAOstrelSettings";
constexpr wchar_t kSignInClass[] = L"NIRAOstrelSignIn";
constexpr wchar_t kRegionClass[] = L"NIRAOstrelRegion";
constexpr wchar_t kEditorClass[] = L"NIRAOstrelEditor";
constexpr wchar_t kTrimClass[] = L"NIRAOstrelTrim";
constexpr wchar_t kCameraClass[] = L"NIRAOstrelCamera";

constexpr wchar_t kInstanceMutexName[] = L"Local\\NIRAOstrelWindows";
constexpr wchar_t kTrayTip[] = L"NIRA Ostrel: screen recorder and capture";

extern HINSTANCE Instance;
extern HWND MainWindow;
extern HWND ToolbarWindow;
extern HWND SettingsWindow;
extern HWND SignInWindow;
extern HFONT UiFont;
extern HFONT UiFontBold;
extern HICON BigIcon;
extern HICON SmallIcon;
extern NOTIFYICONDATAW TrayIcon;
extern std::wstring LastCapture;
extern std::wstring LastScreenshot;
extern std::wstring LastRecording;
extern int32_t CountdownRemaining;
extern HMONITOR PendingRecordMonitor;
extern HMONITOR PendingScreenshotMonitor;
extern int32_t ScreenshotDelaySeconds;
extern bool HideFromCaptureOk;
extern bool HideWarningShown;
extern std::atomic<bool> UploadInProgress;  // any thread, atomically

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
