#include <windows.h>
#include <shellapi.h>

#include "app/shell.h"
#include "app/tray.h"
#include "recorder/recorder.h"

namespace {

UINT TaskbarCreatedMessage() {
    // Registered once per process: Explorer broadcasts it when a new taskbar starts.
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void ShowToolbarWithoutFocus() {
    if (ToolbarWindow != nullptr) ShowWindow(ToolbarWindow, SW_SHOWNOACTIVATE);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const UINT taskbarCreated = TaskbarCreatedMessage();
    if (taskbarCreated != 0 && message == taskbarCreated) {
        // The icon was lost with the old taskbar; the version stays what the shell remembers.
        Shell_NotifyIconW(NIM_ADD, &TrayIcon);
        return 0;
    }

    switch (message) {
        case WM_DESTROY:
            // Every way of ending the program passes here: the recording is finished and kept.
            if (TheRecorder.State() != Idle) TheRecorder.Stop();
            Shell_NotifyIconW(NIM_DELETE, &TrayIcon);
            PostQuitMessage(0);
            return 0;
        case WM_QUERYENDSESSION:
            return 1;
        case WM_ENDSESSION:
            // Windows ends the process after this: finish the file now.
            if (wParam != 0 && TheRecorder.State() != Idle) TheRecorder.Stop();
            return 0;
        case WM_TIMER:
            if (wParam == TIMER_TOOLBAR) {
                if (ToolbarWindow != nullptr && IsWindowVisible(ToolbarWindow)) InvalidateRect(ToolbarWindow, nullptr, TRUE);
            }
            return 0;
        case WM_TRAYICON:
            switch (LOWORD(lParam)) {
                case WM_LBUTTONUP:
                case NIN_SELECT:
                    ShowToolbarWithoutFocus();
                    break;
                default:
                    break;
            }
            return 0;
        case WM_ANOTHER_INSTANCE:
            ShowToolbarWithoutFocus();
            ShowBalloon(L"NIRA Ostrel", L"Ostrel is already running. Use the tray icon or the toolbar.", BALLOON_INFO);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
