#pragma once
#include <windows.h>

#include <string>

// Notification levels: the shell icon shown with a notification.
constexpr DWORD BALLOON_INFO = 1;     // NIIF_INFO
constexpr DWORD BALLOON_WARNING = 2;  // NIIF_WARNING

// Adds the tray icon and asks for the version 4 events.
void AddTrayIcon();
// Adds the icon again, unchanged, to a new taskbar (Explorer restarted) and
// asks for version 4 again: the new shell knows nothing of the old request.
void AddTrayIconAgain();
// WM_TRAYICON: shows the menu or the toolbar for one click, however many
// messages the shell sends for it.
void OnTrayIconEvent(LPARAM lParam);
// What a click on a notification does: nothing, or open what it announces.
struct NoticeAction {
    enum class Kind { None, ShowInFolder, OpenLink } kind = Kind::None;
    std::wstring target;  // the file shown in Explorer, or the library's link
};

// Shows a silent notification from the tray icon; long titles and texts are
// cut. A click on it while it shows does `action`; a click on an older one
// does nothing.
BOOL ShowBalloon(const std::wstring& title, const std::wstring& text, DWORD level, const NoticeAction& action = {});
// Builds the tray menu for the state of this moment and shows it at the
// pointer; the chosen command arrives afterwards as WM_COMMAND.
void ShowTrayMenu();
// The window of entry n of the last "Record a window" submenu, or null when
// there is no such entry or the window has closed since.
HWND WindowMenuEntry(size_t n);
// Explorer with the file selected, or its folder when it has gone.
void ShowCaptureInFolder(const std::wstring& file);
// The tool tip shows the save's progress; TrayIcon keeps the normal one.
void ShowUploadProgressTip(int percent);
void RestoreTrayTip();
