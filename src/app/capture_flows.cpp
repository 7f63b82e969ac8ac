#include "app/capture_flows.h"

#include <objbase.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "common/posted.h"
#include "common/steady_clock.h"
#include "app/shell.h"
#include "app/recent_menu.h"
#include "app/trim_window.h"
#include "app/region_overlay.h"
#include "app/shell_core.h"
#include "app/toolbar.h"
#include "app/tray.h"
#include "capture/screenshot.h"
#include "app/save_flow.h"
#include "recorder/recorder.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/monitors.h"
#include "storage/settings.h"
#include "storage/storage_core.h"

namespace {

// A start posted as WM_TIMER for a countdown of 0 has not been handled yet.
// Counts as busy, so a second record command cannot queue a second start.
bool StartPosted = false;

// The Windows session is ending (WM_ENDSESSION): Windows ends the process
// soon, so nothing new is started that it would cut off mid-write.
bool SessionEnded = false;
bool Quitting = false;

// What the next recording and screenshot capture besides their monitor.
ScreenRect PendingRecordArea;
HWND PendingRecordWindow = nullptr;
ScreenRect PendingScreenshotArea;
// When the pending screenshot was asked for, for its step trace.
int64_t ScreenshotRequested = 0;
// The screenshot timer opens the region selection instead of capturing.
bool PendingRegionChoice = false;
// A region to record once the selection is off the screen.
bool RegionWaiting = false;
HMONITOR RegionMonitor = nullptr;
ScreenRect RegionArea;

// Time the desktop gets to repaint where the selection was before a recording starts.
constexpr UINT kRegionSettleMs = 250;

// Worker threads that may still run; only the user-interface thread keeps
// this list, so the end of the program can wait for them.
std::vector<HANDLE> Workers;

void ForgetEndedWorkers() {
    std::erase_if(Workers, [](HANDLE thread) {
        if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) return false;
        CloseHandle(thread);
        return true;
    });
}

DWORD WINAPI ThreadEntry(void* parameter) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
    try {
        (*work)();
    } catch (...) {
        // A worker reports through messages; an exception has nowhere to go.
    }
    return 0;
}

std::wstring ErrorSentence(const wchar_t* start, DWORD error) {
    return start + ErrorText(HResultFromWin32(error));
}

// Screenshots are taken one after another on one thread that lasts as long
// as the program: no thread is made per screenshot, and the graphics device
// is used from one thread only (under Wine each short-lived thread that uses
// another thread's device keeps about 2 MB for good).
class ScreenshotQueue {
public:
    bool Post(const ScreenshotJob& job, DWORD& error) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!started_) {
            if (!StartDetachedThread([this] { Run(); }, error)) return false;
            started_ = true;
        }
        jobs_.push_back(job);
        ready_.notify_one();
        return true;
    }
    // The thread takes what is waiting, then ends.
    void Stop() {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        ready_.notify_one();
    }

private:
    void Run() {
        // The multithreaded apartment: WIC and the capture work there, and a
        // thread that never takes messages must not be a single-threaded
        // one, which other programs' broadcasts would wait on.
        const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (;;) {
            ScreenshotJob job;
            {
                std::unique_lock<std::mutex> hold(lock_);
                ready_.wait(hold, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) break;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            if (FAILED(joined)) {
                PostText(job.reportTo, WM_SCREENSHOT_DONE, 0,
                         L"!The screenshot could not be taken: " + ErrorText(static_cast<uint32_t>(joined)));
                continue;
            }
            ScreenshotWorker(job);
        }
        if (SUCCEEDED(joined)) CoUninitialize();
    }

    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<ScreenshotJob> jobs_;
    bool started_ = false;
    bool stopping_ = false;
};

ScreenshotQueue& Screenshots() {
    static ScreenshotQueue* const queue = new ScreenshotQueue;  // used until the process ends
    return *queue;
}

void PostScreenshot(const ScreenshotJob& job) {
    DWORD error = ERROR_SUCCESS;
    if (!Screenshots().Post(job, error))
        MessageBoxW(MainWindow, ErrorSentence(L"The screenshot could not be started: ", error).c_str(),
                    L"NIRA Ostrel: screenshot", MB_ICONWARNING);
}

}  // namespace

void StopScreenshots() { Screenshots().Stop(); }

bool StartDetachedThread(std::function<void()> work, DWORD& error) {
    ForgetEndedWorkers();
    auto* copy = new (std::nothrow) std::function<void()>(std::move(work));
    if (copy == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, ThreadEntry, copy, 0, nullptr);
    if (thread == nullptr) {
        error = GetLastError();
        delete copy;
        return false;
    }
    try {
        Workers.push_back(thread);
    } catch (...) {
        CloseHandle(thread);  // runs on untracked
    }
    return true;
}

bool WaitForWorkers(DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (!Workers.empty()) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(Workers.back(), left) != WAIT_OBJECT_0) return false;
        CloseHandle(Workers.back());
        Workers.pop_back();
    }
    return true;
}

void PostText(HWND window, UINT message, WPARAM wParam, const std::wstring& text) {
    try {
        PostObject(window, message, wParam, std::make_unique<std::wstring>(text));
    } catch (...) {
        // Out of memory: the report is lost, the poster goes on.
    }
}

bool RefusedWhileRecording() {
    if (TheRecorder.State() == Idle && CountdownRemaining == 0 && !StartPosted) return false;
    ShowBalloon(L"NIRA Ostrel", L"A recording is already running.", BALLOON_INFO);
    return true;
}

void RegionChosen(const RegionResult& result) {
    if (SessionEnded) return;
    if (result.use == RegionUse::Recording) {
        RegionWaiting = true;
        RegionMonitor = result.monitor;
        RegionArea = result.area;
        SetTimer(MainWindow, TIMER_REGION, kRegionSettleMs, nullptr);
        return;
    }
    if (!result.picture) return;
    PostScreenshot({MainWindow, result.monitor, CurrentSettings.folder, CurrentSettings.cursor, result.area,
                    result.picture, SteadyTicks()});
}

void RegionTimerFired() {
    KillTimer(MainWindow, TIMER_REGION);
    if (!RegionWaiting) return;
    RegionWaiting = false;
    BeginRecording(RegionMonitor, RegionArea);
}

void RequestRegionScreenshot() {
    if (SessionEnded) return;
    ScreenshotDelaySeconds = CurrentSettings.screenshot_delay > 0 ? CurrentSettings.screenshot_delay : 0;
    if (ScreenshotDelaySeconds == 0) {
        ChooseRegion(RegionUse::Screenshot);
        return;
    }
    PendingRegionChoice = true;
    ShowBalloon(L"Screenshot", L"Choosing a region in " + DecimalText(ScreenshotDelaySeconds) + L" seconds.",
                BALLOON_INFO);
    SetTimer(MainWindow, TIMER_SCREENSHOT, static_cast<UINT>(ScreenshotDelaySeconds) * 1000u, nullptr);
}

void BeginRecording(HMONITOR monitor, const ScreenRect& area, HWND window) {
    if (SessionEnded || RefusedWhileRecording()) return;
    if (!HideFromCaptureOk && !HideWarningShown) {
        HideWarningShown = true;
        MessageBoxW(MainWindow,
                    L"This version of Windows can't hide the Ostrel toolbar from recordings. Drag it out of the way, "
                    L"or hide it with \u00d7 and use the tray icon or keyboard shortcuts.",
                    L"NIRA Ostrel", MB_ICONINFORMATION);
        // Another command may have started something while the box was open.
        if (TheRecorder.State() != Idle || CountdownRemaining != 0 || StartPosted) return;
    }
    // Restored now, so its first frame has come by the start, which waits for it.
    RestoreForCapture(window);
    PendingRecordMonitor = monitor;
    PendingRecordArea = area;
    PendingRecordWindow = window;
    CountdownRemaining = CurrentSettings.countdown > 0 ? CurrentSettings.countdown : 0;
    if (CountdownRemaining == 0) {
        StartPosted = PostMessageW(MainWindow, WM_TIMER, TIMER_COUNTDOWN, 0) != FALSE;
        return;
    }
    if (ToolbarWindow != nullptr) ShowWindow(ToolbarWindow, SW_SHOWNOACTIVATE);
    SetTimer(MainWindow, TIMER_COUNTDOWN, 1000, nullptr);
    UpdateToolbar();
}

void CountdownTimerTick() {
    // A tick left over from a cancelled countdown starts nothing.
    if (CountdownRemaining == 0 && !StartPosted) {
        KillTimer(MainWindow, TIMER_COUNTDOWN);
        return;
    }
    const CountdownStep step = CountdownTick(CountdownRemaining);
    CountdownRemaining = step.remaining;
    if (!step.startNow) {
        UpdateToolbar();
        return;
    }
    KillTimer(MainWindow, TIMER_COUNTDOWN);
    StartPosted = false;
    CountdownRemaining = 0;
    if (SessionEnded) return;
    StartRecordingNow();
    UpdateToolbar();
}

void StartRecordingNow() {
    RecordingOptions options;
    options.monitor = PendingRecordMonitor != nullptr ? PendingRecordMonitor : PrimaryMonitor();
    options.resolution = CurrentSettings.resolution;
    options.fps = CurrentSettings.fps;
    options.systemAudio = CurrentSettings.system_audio;
    options.microphone = CurrentSettings.microphone;
    options.microphoneId = CurrentSettings.microphone_id;
    options.cursor = CurrentSettings.cursor;
    options.showClicks = CurrentSettings.show_clicks;
    options.showKeys = CurrentSettings.show_keys;
    options.folder = CurrentSettings.folder;
    options.syncTest = false;
    options.area = PendingRecordArea;
    options.window = PendingRecordWindow;
    if (options.window != nullptr && !IsWindow(options.window)) {
        MessageBoxW(MainWindow, L"The window to record has closed.", L"NIRA Ostrel: recording did not start",
                    MB_ICONERROR);
        UpdateToolbar();
        return;
    }
    const std::wstring message = TheRecorder.Start(options);
    if (!message.empty()) MessageBoxW(MainWindow, message.c_str(), L"NIRA Ostrel: recording did not start", MB_ICONERROR);
    UpdateToolbar();
}

void QuitStarted() { Quitting = true; }

void StopOrCancel() {
    if (CountdownRemaining != 0 || StartPosted) {
        KillTimer(MainWindow, TIMER_COUNTDOWN);
        CountdownRemaining = 0;
        StartPosted = false;
        UpdateToolbar();
        return;
    }
    if (TheRecorder.State() == Idle) return;
    UpdateToolbar();
    std::wstring problem;
    const std::wstring path = TheRecorder.Stop(&problem);
    if (!path.empty()) {
        NoteCapture(path);
        LastRecording = path;
        ShowBalloon(L"Recording saved", SavedRecordingText(path, problem), BALLOON_INFO,
                    {NoticeAction::Kind::ShowInFolder, path});
        SaveNewCapture(path);
        if (CurrentSettings.trim_after_recording && !SessionEnded && !Quitting) OpenTrimWindowOrSay(path);
    } else if (!problem.empty()) {
        MessageBoxW(MainWindow, problem.c_str(), L"NIRA Ostrel", MB_ICONWARNING);
    }
    UpdateToolbar();
}

void CancelForSessionEnd() {
    SessionEnded = true;
    StopSavingNewCaptures();
    CancelRegion();
    RegionWaiting = false;
    PendingRegionChoice = false;
    KillTimer(MainWindow, TIMER_REGION);
    KillTimer(MainWindow, TIMER_SCREENSHOT);
    if (CountdownRemaining != 0 || StartPosted) {
        KillTimer(MainWindow, TIMER_COUNTDOWN);
        CountdownRemaining = 0;
        StartPosted = false;
        UpdateToolbar();
    }
}

void TogglePause() {
    if (TheRecorder.State() == Recording)
        TheRecorder.Pause();
    else if (TheRecorder.State() == Paused)
        TheRecorder.Resume();
    UpdateToolbar();
}

void RequestScreenshot(HMONITOR monitor, const ScreenRect& area) {
    ScreenshotRequested = SteadyTicks();
    // The recorded monitor, or the primary one (also while a window is recorded).
    if (monitor == nullptr && TheRecorder.State() != Idle) monitor = TheRecorder.options.monitor;
    if (monitor == nullptr) monitor = PrimaryMonitor();
    PendingScreenshotMonitor = monitor;
    PendingScreenshotArea = area;
    PendingRegionChoice = false;
    ScreenshotDelaySeconds = CurrentSettings.screenshot_delay > 0 ? CurrentSettings.screenshot_delay : 0;
    if (ScreenshotDelaySeconds != 0) {
        ShowBalloon(L"Screenshot", L"Taking a screenshot in " + DecimalText(ScreenshotDelaySeconds) + L" seconds.",
                    BALLOON_INFO);
        SetTimer(MainWindow, TIMER_SCREENSHOT, static_cast<UINT>(ScreenshotDelaySeconds) * 1000u, nullptr);
    } else {
        PostMessageW(MainWindow, WM_TIMER, TIMER_SCREENSHOT, 0);
    }
}

void ScreenshotTimerFired() {
    KillTimer(MainWindow, TIMER_SCREENSHOT);
    if (SessionEnded) return;
    if (PendingRegionChoice) {
        PendingRegionChoice = false;
        ChooseRegion(RegionUse::Screenshot);
        return;
    }
    PostScreenshot({MainWindow, PendingScreenshotMonitor, CurrentSettings.folder, CurrentSettings.cursor,
                    PendingScreenshotArea, nullptr, ScreenshotRequested});
}

void ScreenshotWorker(const ScreenshotJob& job) {
    std::wstring path;
    std::wstring problem;
    bool copied = false;
    StepTrace trace(job.requested != 0 ? job.requested : SteadyTicks(), SteadyFrequency());
    trace.Step(L"start", SteadyTicks());
    if (EnsureFolder(job.folder)) {
        // The name is chosen and its partial file made in one step, so two
        // screenshots in the same second never share a name.
        DWORD error = ERROR_SUCCESS;
        path = ReserveCaptureName(job.folder, L"Screenshot " + CaptureTimeStamp(), L".png", error);
        if (path.empty()) {
            problem = ErrorSentence(L"The screenshot could not be saved: ", error);
        } else if (job.picture ? !SavePicture(job.picture->pixels.data(), job.picture->width, job.picture->height,
                                              job.picture->width * 4, path, true, problem, &trace, false, &copied)
                               : !TakeScreenshot(job.monitor, job.cursor, path, true, problem, job.area, &trace, &copied)) {
            ReleaseCaptureName(path);
            path.clear();
        } else if (!copied) {
            Log(L"Screenshot not copied: another program kept the clipboard for half a second");
        }
    } else {
        problem = L"The captures folder could not be created: " + job.folder;
    }
    Log(L"%s", trace.Line(job.picture ? L"Region screenshot" : L"Screenshot").c_str());
    PostText(job.reportTo, WM_SCREENSHOT_DONE, path.empty() || copied ? 0 : kScreenshotNotCopied,
             path.empty() ? L"!" + problem : path);
}
