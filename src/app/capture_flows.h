#pragma once
// The user's side of recording and screenshots: countdown, start, pause,
// stop, delayed screenshots on a worker thread, and what the user is told.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/region_overlay.h"
#include "capture/region_core.h"

// Quit goes ahead: a recording stopped on the way out opens no window.
void QuitStarted();

// Starts the countdown for a recording of `monitor`, of `area` of it, or of
// `window` instead.
void BeginRecording(HMONITOR monitor, const ScreenRect& area = {}, HWND window = nullptr);
// When a recording runs, is being started or counts down, says so and returns true.
bool RefusedWhileRecording();
void StartRecordingNow();
void StopOrCancel();
void TogglePause();
// WM_ENDSESSION: the countdown, a start already posted and a screenshot not
// yet taken are cancelled, and no capture starts any more in this run.
void CancelForSessionEnd();
void RequestScreenshot(HMONITOR monitor, const ScreenRect& area = {});
// A screenshot of a region: the selection opens now, or after the
// screenshot delay, so a menu opened meanwhile is on the frozen screen.
void RequestRegionScreenshot();
// WM_REGION_DONE: a screenshot is saved from the frozen picture at once; a
// recording starts once the screen no longer shows the selection.
void RegionChosen(const RegionResult& result);
// TIMER_REGION: the screen has repainted where the selection was.
void RegionTimerFired();
// A tick of TIMER_COUNTDOWN, real or posted.
void CountdownTimerTick();
// TIMER_SCREENSHOT: starts the screenshot thread for PendingScreenshotMonitor.
void ScreenshotTimerFired();

struct ScreenshotJob {
    HWND reportTo = nullptr;
    HMONITOR monitor = nullptr;
    std::wstring folder;
    bool cursor = true;
    ScreenRect area;  // of the monitor; all zero for the whole
    // Saved as it is instead of a new picture of the screen.
    std::shared_ptr<const StillPicture> picture;
    int64_t requested = 0;  // steady ticks when the user asked for it
};
// Takes one screenshot on the screenshot thread (in a COM apartment); reports
// with WM_SCREENSHOT_DONE.
void ScreenshotWorker(const ScreenshotJob& job);
// Lets the screenshot thread end once it has taken what is waiting.
void StopScreenshots();

// Runs `work` on a new thread that nobody joins. False when no thread could
// be made; `error` then holds the Windows error code.
bool StartDetachedThread(std::function<void()> work, DWORD& error);
// Waits at most that long for every thread StartDetachedThread started;
// false when some still run. User-interface thread only.
bool WaitForWorkers(DWORD milliseconds);
// Posts a heap copy of `text` (see posted.h). Dropped when the window is gone.
void PostText(HWND window, UINT message, WPARAM wParam, const std::wstring& text);
