#include "app/tray.h"

#include <dwmapi.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>

#include "app/camera_bubble.h"
#include "app/cloud_calls.h"
#include "app/hotkeys.h"
#include "app/recent_menu.h"
#include "app/shell.h"
#include "app/shell_core.h"
#include "capture/region_core.h"
#include "app/editor_window.h"
#include "recorder/recorder.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/monitors.h"
#include "storage/settings.h"

namespace {

// The latest notification's action, and whether a click may still do it.
NoticeAction LatestAction;
NoticeClicks Clicks;

// Explorer with the file selected; the folder alone when the file has gone
// (or cannot be selected), the captures folder when that has gone too.
void ShowInFolderFor(const wchar_t* cause, const std::wstring& file) {
    if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (PIDLIST_ABSOLUTE item = ILCreateFromPathW(file.c_str())) {
            const HRESULT shown = SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
            ILFree(item);
            if (SUCCEEDED(shown)) {
                Log(L"%s: showing %s in its folder", cause, file.c_str());
                return;
            }
            Log(L"%s: %s could not be selected (%s)", cause, file.c_str(),
                ErrorText(static_cast<uint32_t>(shown)).c_str());
        }
    }
    std::wstring folder = file.substr(0, file.size() - PathFileName(file).size());
    if (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (folder.empty() || GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) folder = CurrentSettings.folder;
    Log(L"%s: opening the folder %s", cause, folder.c_str());
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void DoNoticeAction(const NoticeAction& action) {
    switch (action.kind) {
        case NoticeAction::Kind::ShowInFolder:
            ShowInFolderFor(L"Notice clicked", action.target);
            break;
        case NoticeAction::Kind::OpenLink:
            // Only a link the library gave for its own page ever gets here.
            Log(L"Notice clicked: opening %s", action.target.c_str());
            ShellExecuteW(nullptr, L"open", action.target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            break;
        case NoticeAction::Kind::None:
            break;
    }
}

template <size_t N>
void CopyCut(wchar_t (&target)[N], const std::wstring& text) {
    size_t length = text.size() < N - 1 ? text.size() : N - 1;
    // Never leave half of a surrogate pair at the cut.
    if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
    text.copy(target, length);
    target[length] = L'\0';
}

// Whether the shell took NOTIFYICON_VERSION_4, which decides which of its
// messages stand for a click.
bool Version4 = false;

void AskForVersion4() {
    TrayIcon.uVersion = NOTIFYICON_VERSION_4;
    Version4 = Shell_NotifyIconW(NIM_SETVERSION, &TrayIcon) != FALSE;
}

}  // namespace

void AddTrayIcon() {
    static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full NOTIFYICONDATAW record");
    TrayIcon = {};
    TrayIcon.cbSize = sizeof(NOTIFYICONDATAW);
    TrayIcon.hWnd = MainWindow;
    TrayIcon.uID = 1;
    TrayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    TrayIcon.uCallbackMessage = WM_TRAYICON;
    TrayIcon.hIcon = SmallIcon;
    CopyCut(TrayIcon.szTip, kTrayTip);
    Shell_NotifyIconW(NIM_ADD, &TrayIcon);
    AskForVersion4();
}

void AddTrayIconAgain() {
    Shell_NotifyIconW(NIM_ADD, &TrayIcon);
    AskForVersion4();
}

void OnTrayIconEvent(LPARAM lParam) {
    switch (TrayEventActionFor(LOWORD(lParam), Version4)) {
        case TrayEventAction::NoticeShown:
            Clicks.Shown();
            break;
        case TrayEventAction::NoticeGone:
            Clicks.Gone();
            break;
        case TrayEventAction::NoticeClicked:
            if (Clicks.Clicked()) DoNoticeAction(LatestAction);
            break;
        case TrayEventAction::ShowMenu:
            ShowTrayMenu();
            break;
        case TrayEventAction::ShowToolbar:
            if (ToolbarWindow != nullptr) ShowWindow(ToolbarWindow, SW_SHOWNOACTIVATE);
            break;
        case TrayEventAction::Nothing:
            break;
    }
}

BOOL ShowBalloon(const std::wstring& title, const std::wstring& text, DWORD level, const NoticeAction& action) {
    LatestAction = action;
    Clicks.Posted();
    // Every notice is in the log too: a notification is gone once dismissed.
    std::wstring line = title + L": " + text;
    std::replace_if(line.begin(), line.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; }, L' ');
    Log(L"Notice: %s", line.c_str());
    NOTIFYICONDATAW copy = TrayIcon;
    copy.uFlags = NIF_INFO;
    copy.dwInfoFlags = level | NIIF_NOSOUND;
    CopyCut(copy.szInfoTitle, title);
    CopyCut(copy.szInfo, text);
    return Shell_NotifyIconW(NIM_MODIFY, &copy);
}

namespace {

// The windows offered by the last menu, by entry.
std::vector<HWND> WindowMenuHandles;

void AppendWindowEntries(HMENU menu) {
    WindowMenuHandles.clear();
    for (const WindowEntry& entry : WindowMenuEntries(VisibleTitledWindows())) {
        AppendMenuW(menu, MF_STRING, ID_RECORD_WINDOW + WindowMenuHandles.size(),
                    WindowMenuLabel(entry.title, entry.minimized).c_str());
        WindowMenuHandles.push_back(reinterpret_cast<HWND>(entry.handle));
    }
    if (WindowMenuHandles.empty()) AppendMenuW(menu, MF_STRING | MF_GRAYED, 0, L"No open windows to record");
}

void AppendMonitorEntries(HMENU menu, const std::vector<MonitorEntry>& monitors, UINT firstId) {
    for (size_t n = 0; n < monitors.size() && n < kMaxMonitorMenuEntries; ++n)
        AppendMenuW(menu, MF_STRING, firstId + n, monitors[n].label.c_str());
}

}  // namespace

void ShowTrayMenu() {
    HMENU menu = CreatePopupMenu();
    HMENU recordMenu = CreatePopupMenu();
    HMENU screenshotMenu = CreatePopupMenu();
    HMENU windowMenu = CreatePopupMenu();
    HMENU recentMenu = CreatePopupMenu();
    if (menu == nullptr || recordMenu == nullptr || screenshotMenu == nullptr || windowMenu == nullptr ||
        recentMenu == nullptr) {
        for (HMENU m : {menu, recordMenu, screenshotMenu, windowMenu, recentMenu})
            if (m != nullptr) DestroyMenu(m);
        return;
    }
    const std::vector<MonitorEntry> monitors = ListMonitors();
    AppendMonitorEntries(recordMenu, monitors, ID_RECORD_MONITOR);
    AppendMonitorEntries(screenshotMenu, monitors, ID_SCREENSHOT_MONITOR);
    AppendWindowEntries(windowMenu);

    TrayMenuState state;
    state.recorder = static_cast<ShellRecorderState>(TheRecorder.State());
    state.countdown = CountdownRemaining != 0;
    state.signedIn = IsSignedIn();
    if (state.signedIn) state.email = SignedInEmail();
    state.uploadInProgress = UploadInProgress.load();
    state.lastCapture = LastCapture;
    state.lastScreenshot = LastScreenshot;
    state.lastRecording = LastRecording;
    state.haveLink = !LastSavedLink().empty();
    state.recordShortcut = HotkeyText(CurrentSettings.hotkey_record_mod, static_cast<uint32_t>(CurrentSettings.hotkey_record_key));
    state.pauseShortcut = HotkeyText(CurrentSettings.hotkey_pause_mod, static_cast<uint32_t>(CurrentSettings.hotkey_pause_key));
    state.screenshotShortcut =
        HotkeyText(CurrentSettings.hotkey_screenshot_mod, static_cast<uint32_t>(CurrentSettings.hotkey_screenshot_key));
    state.regionShortcut =
        HotkeyText(CurrentSettings.hotkey_region_mod, static_cast<uint32_t>(CurrentSettings.hotkey_region_key));
    state.cameraShortcut =
        HotkeyText(CurrentSettings.hotkey_camera_mod, static_cast<uint32_t>(CurrentSettings.hotkey_camera_key));
    state.cameraShowing = CameraShowing();
    FillRecentMenu(recentMenu, state.signedIn, state.uploadInProgress);

    // Submenus not attached to the menu are destroyed by hand afterwards.
    bool recordAttached = false, screenshotAttached = false, windowAttached = false, recentAttached = false;
    for (const TrayMenuItem& item : TrayMenuItems(state)) {
        const UINT grey = item.grayed ? MF_GRAYED : 0u;
        switch (item.kind) {
            case TrayMenuItemKind::Separator:
                AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
                break;
            case TrayMenuItemKind::Command:
                AppendMenuW(menu, MF_STRING | grey | (item.checked ? MF_CHECKED : 0u), item.id, item.text.c_str());
                break;
            case TrayMenuItemKind::RecordMonitorMenu:
                recordAttached = AppendMenuW(menu, MF_POPUP | grey, reinterpret_cast<UINT_PTR>(recordMenu), item.text.c_str());
                break;
            case TrayMenuItemKind::ScreenshotMonitorMenu:
                screenshotAttached =
                    AppendMenuW(menu, MF_POPUP | grey, reinterpret_cast<UINT_PTR>(screenshotMenu), item.text.c_str());
                break;
            case TrayMenuItemKind::RecordWindowMenu:
                windowAttached = AppendMenuW(menu, MF_POPUP | grey, reinterpret_cast<UINT_PTR>(windowMenu), item.text.c_str());
                break;
            case TrayMenuItemKind::RecentMenu:
                recentAttached = AppendMenuW(menu, MF_POPUP | grey, reinterpret_cast<UINT_PTR>(recentMenu), item.text.c_str());
                break;
        }
    }

    POINT point{};
    GetCursorPos(&point);
    SetForegroundWindow(MainWindow);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, point.x, point.y, 0, MainWindow, nullptr);
    PostMessageW(MainWindow, WM_NULL, 0, 0);
    DestroyMenu(menu);
    if (!recordAttached) DestroyMenu(recordMenu);
    if (!screenshotAttached) DestroyMenu(screenshotMenu);
    if (!windowAttached) DestroyMenu(windowMenu);
    if (!recentAttached) DestroyMenu(recentMenu);
}

HWND WindowMenuEntry(size_t n) {
    if (n >= WindowMenuHandles.size() || !IsWindow(WindowMenuHandles[n])) return nullptr;
    return WindowMenuHandles[n];
}

void ShowUploadProgressTip(int percent) {
    NOTIFYICONDATAW copy = TrayIcon;
    copy.uFlags = NIF_TIP;
    CopyCut(copy.szTip, UploadProgressTip(percent));
    Shell_NotifyIconW(NIM_MODIFY, &copy);
}

void RestoreTrayTip() { Shell_NotifyIconW(NIM_MODIFY, &TrayIcon); }

void ShowCaptureInFolder(const std::wstring& file) { ShowInFolderFor(L"Recent capture", file); }
