// MainWindowProc: the switchboard of the tray program. Commands, shortcuts,
// timers, tray events and the reports of worker threads all arrive here.
#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "app/camera_bubble.h"
#include "app/capture_flows.h"
#include "app/cloud_calls.h"
#include "app/recent_menu.h"
#include "common/posted.h"
#include "app/region_overlay.h"
#include "app/settings_window.h"
#include "app/shell.h"
#include "app/shell_core.h"
#include "app/toolbar.h"
#include "app/tray.h"
#include "app/trim_window.h"
#include "app/editor_window.h"
#include "recorder/recorder.h"
#include "storage/folders.h"
#include "storage/monitors.h"
#include "storage/settings.h"

namespace {

UINT TaskbarCreatedMessage() {
    // Registered once per process: Explorer broadcasts it when a new taskbar starts.
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void ShowToolbarWithoutFocus() {
    if (ToolbarWindow != nullptr) ShowWindow(ToolbarWindow, SW_SHOWNOACTIVATE);
}

ShellRecorderState RecorderState() { return static_cast<ShellRecorderState>(TheRecorder.State()); }

void Perform(ShellAction action) {
    switch (action) {
        case ShellAction::CancelCountdown:
        case ShellAction::StopOrCancel:
            StopOrCancel();
            break;
        case ShellAction::BeginRecording:
            BeginRecording(PrimaryMonitor());
            break;
        case ShellAction::TogglePause:
            TogglePause();
            break;
        case ShellAction::Nothing:
            break;
    }
}

// The monitor chosen in a submenu, as the monitors are now; null when entry n is gone.
HMONITOR MonitorNumber(size_t n) {
    const std::vector<MonitorEntry> monitors = ListMonitors();
    return n < monitors.size() ? monitors[n].monitor : nullptr;
}

void StartSignOut() {
    const HWND window = MainWindow;
    DWORD error = ERROR_SUCCESS;
    if (!StartDetachedThread(
            [window] {
                SignOut();
                PostMessageW(window, WM_CLOUD_EVENT, CLOUD_SIGNED_OUT, 0);
            },
            error)) {
        const std::wstring text = L"Ostrel could not sign out: " + ErrorText(HResultFromWin32(error));
        MessageBoxW(MainWindow, text.c_str(), L"NIRA Ostrel", MB_ICONWARNING);
    }
}

void OnCommand(WORD id) {
    const bool countdown = CountdownRemaining != 0;
    switch (id) {
        case ID_RECORD:
            Perform(RecordCommandAction(RecorderState(), countdown));
            return;
        case ID_PAUSE:
            TogglePause();
            return;
        case ID_STOP:
            StopOrCancel();
            return;
        case ID_SCREENSHOT:
            RequestScreenshot(nullptr);
            return;
        case ID_OPEN_FOLDER:
            EnsureFolder(CurrentSettings.folder);
            ShellExecuteW(nullptr, L"open", CurrentSettings.folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return;
        case ID_OPEN_WEB_APP:
            ShellExecuteW(nullptr, L"open", WebAppAddress().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return;
        case ID_SETTINGS:
            OpenSettingsWindow();
            return;
        case ID_QUIT:
            if (TheRecorder.State() != Idle &&
                MessageBoxW(MainWindow, L"A recording is running. Stop and save it, then quit?", L"NIRA Ostrel",
                            MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
                return;
            // Each editor with changes asks first; Cancel on any keeps the program.
            if (!CloseEditorsForQuit() || !CloseTrimWindowsForQuit()) return;
            // A recording saved on the way out is not sent: the program ends now.
            StopSavingNewCaptures();
            QuitStarted();
            StopOrCancel();
            DestroyWindow(MainWindow);
            return;
        case ID_SHOW_TOOLBAR:
            ShowToolbarWithoutFocus();
            return;
        case ID_HIDE_TOOLBAR:
            if (ToolbarWindow != nullptr) ShowWindow(ToolbarWindow, SW_HIDE);
            return;
        case ID_SIGN_IN:
            ShowSignInWindow();
            return;
        case ID_SIGN_OUT:
            ForgetWaitingSaves();
            StartSignOut();
            return;
        case ID_SAVE_TO_LIBRARY:
            SaveWithPicker();
            return;
        case ID_SAVE_LAST_CAPTURE:
            if (!LastCapture.empty()) SaveToLibrary(LastCapture);
            return;
        case ID_SCREENSHOT_REGION:
            RequestRegionScreenshot();
            return;
        case ID_COPY_LINK:
            CopyLastSavedLink();
            return;
        case ID_EDIT_LAST_SCREENSHOT:
            if (!LastScreenshot.empty()) OpenEditorOrSay(LastScreenshot);
            return;
        case ID_TRIM_LAST_RECORDING:
            if (!LastRecording.empty()) OpenTrimWindowOrSay(LastRecording);
            return;
        case ID_SHOW_CAMERA:
            ToggleCamera();
            return;
        case ID_RECORD_REGION:
            if (!RefusedWhileRecording()) ChooseRegion(RegionUse::Recording);
            return;
        default:
            break;
    }
    if (DoRecentCommand(id)) return;
    if (id >= ID_RECORD_MONITOR && id < ID_RECORD_MONITOR + kMaxMonitorMenuEntries) {
        if (HMONITOR monitor = MonitorNumber(id - ID_RECORD_MONITOR)) BeginRecording(monitor);
    } else if (id >= ID_SCREENSHOT_MONITOR && id < ID_SCREENSHOT_MONITOR + kMaxMonitorMenuEntries) {
        if (HMONITOR monitor = MonitorNumber(id - ID_SCREENSHOT_MONITOR)) RequestScreenshot(monitor);
    } else if (id >= ID_RECORD_WINDOW && id < ID_RECORD_WINDOW + kMaxWindowMenuEntries) {
        const HWND window = WindowMenuEntry(id - ID_RECORD_WINDOW);
        if (window == nullptr)
            ShowBalloon(L"NIRA Ostrel", L"That window has closed. Choose another from the menu.", BALLOON_INFO);
        else
            BeginRecording(nullptr, {}, window);
    }
}

void OnHotkey(WPARAM id) {
    switch (id) {
        case HOTKEY_RECORD:
            Perform(RecordShortcutAction(RecorderState(), CountdownRemaining != 0));
            break;
        case HOTKEY_PAUSE:
            TogglePause();
            break;
        case HOTKEY_SCREENSHOT:
            RequestScreenshot(nullptr);
            break;
        case HOTKEY_REGION:
            RequestRegionScreenshot();
            break;
        case HOTKEY_CAMERA:
            ToggleCamera();
            break;
        default:
            break;
    }
}

void OnTimer(WPARAM id) {
    switch (id) {
        case TIMER_TOOLBAR:
            if (ToolbarWindow != nullptr && IsWindowVisible(ToolbarWindow)) InvalidateRect(ToolbarWindow, nullptr, TRUE);
            break;
        case TIMER_COUNTDOWN:
            CountdownTimerTick();
            break;
        case TIMER_SCREENSHOT:
            ScreenshotTimerFired();
            break;
        case TIMER_REGION:
            RegionTimerFired();
            break;
        default:
            break;
    }
}

std::unique_ptr<std::wstring> TakeText(LPARAM lParam) { return TakePosted<std::wstring>(lParam); }

void OnRecorderNotify(WPARAM code, LPARAM lParam) {
    // A report without a text handed over by the recorder is forged or
    // stale: it stops nothing and shows no empty notice.
    const std::unique_ptr<std::wstring> text = TakeText(lParam);
    if (!text) return;
    // The picture stopped for good: the recording is saved, and "Recording
    // saved" (or the message of a recording with nothing in it) says why.
    if (code == NotifyStopped) {
        StopOrCancel();
        return;
    }
    // Out of space or the recorded window or monitor gone: the recording is
    // saved first, then the notice replaces "Recording saved".
    if (code == NotifyOutOfSpace || code == NotifyWindowClosed) StopOrCancel();
    ShowBalloon(L"NIRA Ostrel", *text,
                code == NotifyDeviceProblem || code == NotifyWindowClosed ? BALLOON_INFO : BALLOON_WARNING);
}

void OnScreenshotDone(WPARAM wParam, LPARAM lParam) {
    const std::unique_ptr<std::wstring> text = TakeText(lParam);
    if (!text) return;
    if (!text->empty() && (*text)[0] == L'!') {
        MessageBoxW(MainWindow, text->c_str() + 1, L"NIRA Ostrel: screenshot", MB_ICONWARNING);
        return;
    }
    NoteCapture(*text);
    LastScreenshot = *text;
    if (wParam == kScreenshotNotCopied)
        ShowBalloon(L"Screenshot saved",
                    L"Saved as " + *text + L". It was not copied: another program was using the clipboard.",
                    BALLOON_WARNING, {NoticeAction::Kind::ShowInFolder, *text});
    else
        ShowBalloon(L"Screenshot saved and copied", *text, BALLOON_INFO, {NoticeAction::Kind::ShowInFolder, *text});
    if (CurrentSettings.editor_after_screenshot) OpenEditorOrSay(*text);
    SaveNewCapture(*text);
}

void OnCloudEvent(WPARAM code, LPARAM lParam) {
    switch (code) {
        // A report without an object handed over by our worker is forged
        // or stale: it must not close a sign-in still working, nor end the
        // "saving" state of a save still running.
        case CLOUD_SIGNIN_DONE: {
            const std::unique_ptr<std::wstring> text = TakeText(lParam);
            if (!text) break;
            if (SignInWindow != nullptr) DestroyWindow(SignInWindow);
            if (!text->empty())
                MessageBoxW(nullptr, text->c_str(), L"NIRA Ostrel: sign in", MB_ICONWARNING);
            else
                ShowBalloon(L"Signed in to NIRA",
                            L"Signed in as " + SignedInEmail() +
                                L". Use Save to library in this tray menu to share a capture with your workspace.",
                            BALLOON_INFO);
            break;
        }
        case CLOUD_UPLOAD_PROGRESS:
            ShowUploadProgressTip(static_cast<int>(lParam));
            break;
        case CLOUD_UPLOAD_SAVED:
        case CLOUD_UPLOAD_FAILED:
            SaveEnded(code, lParam);
            break;
        case CLOUD_SIGNIN_CODE:
            HandleSignInCodeEvent(lParam);
            break;
        case CLOUD_SIGNED_OUT:
            ForgetWaitingSaves();
            ShowBalloon(L"Signed out of NIRA", L"Captures on this computer and in the library are not affected.",
                        BALLOON_INFO);
            break;
        default:
            break;
    }
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const UINT taskbarCreated = TaskbarCreatedMessage();
    if (taskbarCreated != 0 && message == taskbarCreated) {
        // The icon was lost with the old taskbar.
        AddTrayIconAgain();
        return 0;
    }

    switch (message) {
        case WM_DESTROY:
            // Every way of ending the program passes here: the recording is
            // finished and kept, and so are changes in an editor.
            if (TheRecorder.State() != Idle) TheRecorder.Stop();
            KeepEditorChanges();
            CloseTrimWindows();
            HideCamera();
            Shell_NotifyIconW(NIM_DELETE, &TrayIcon);
            PostQuitMessage(0);
            return 0;
        case WM_QUERYENDSESSION:
            return 1;
        case WM_ENDSESSION:
            // Windows ends the process after this: finish the file now, start
            // nothing that would be cut off after it, and end here, so that a
            // session that goes on after all never keeps a program that
            // refuses every capture.
            if (wParam != 0) {
                CancelForSessionEnd();
                if (TheRecorder.State() != Idle) TheRecorder.Stop();
                DestroyWindow(window);
            }
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_TIMER:
            OnTimer(wParam);
            return 0;
        case WM_HOTKEY:
            OnHotkey(wParam);
            return 0;
        case WM_TRAYICON:
            OnTrayIconEvent(lParam);
            return 0;
        case WM_ANOTHER_INSTANCE:
            ShowToolbarWithoutFocus();
            ShowBalloon(L"NIRA Ostrel", L"Ostrel is already running. Use the tray icon or the toolbar.", BALLOON_INFO);
            return 0;
        case WM_COPYDATA: {
            // Another start of the program asks for a picture to be edited
            // here, or a recording to be trimmed.
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            std::wstring path;
            UINT request = WM_EDIT_REQUEST;
            if (!EditRequestFromCopy(data, path)) {
                if (!TrimRequestFromCopy(data, path)) return FALSE;
                request = WM_TRIM_REQUEST;
            }
            // The sender waits for the answer: it has it now, and the file
            // is opened once this message is done.
            ReplyMessage(TRUE);
            PostObject(window, request, 0, std::make_unique<std::wstring>(std::move(path)));
            return TRUE;
        }
        case WM_EDIT_REQUEST:
            if (const std::unique_ptr<std::wstring> path = TakePosted<std::wstring>(lParam)) OpenEditorOrSay(*path);
            return 0;
        case WM_TRIM_REQUEST:
            if (const std::unique_ptr<std::wstring> path = TakePosted<std::wstring>(lParam)) OpenTrimWindowOrSay(*path);
            return 0;
        case WM_REGION_DONE:
            if (const std::unique_ptr<RegionResult> result = TakePosted<RegionResult>(lParam)) RegionChosen(*result);
            return 0;
        case WM_RECORDER_NOTIFY:
            OnRecorderNotify(wParam, lParam);
            return 0;
        case WM_SCREENSHOT_DONE:
            OnScreenshotDone(wParam, lParam);
            return 0;
        case WM_CLOUD_EVENT:
            OnCloudEvent(wParam, lParam);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
