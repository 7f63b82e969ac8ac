#include "app/self_tests.h"

#include <algorithm>

#include <windows.h>

#include "capture/screenshot.h"
#include "cloud/account.h"
#include "cloud/device_signin.h"
#include "cloud/upload.h"
#include "recorder/recorder.h"
#include "common/unique_handle.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/monitors.h"
#include "storage/storage_core.h"
#include "trim/trim_file.h"

namespace {

// A result file as the runtime's "w, ccs=UTF-8" mode writes it: byte-order
// mark, then the text with CR LF line ends. Skipped when it cannot be created.
void WriteResultFile(const std::wstring& path, const std::wstring& text) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string bytes = TextModeUtf8(text, true);
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// One line appended the way the runtime's "a, ccs=UTF-8" mode writes it: a new
// or empty file starts with the byte-order mark. Skipped when it cannot be opened.
void AppendResultLine(const std::wstring& path, const std::wstring& line) {
    UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) return;
    const std::string bytes = TextModeUtf8(line + L"\n", size.QuadPart == 0);
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// The monitor a region in virtual-screen pixels lies on (the one it overlaps
// most, or the nearest), and the region in that monitor's pixels.
HMONITOR MonitorOfRegion(const ScreenRect& region, ScreenRect& inMonitor) {
    const RECT rect{region.left, region.top, region.right, region.bottom};
    const HMONITOR monitor = MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) return nullptr;
    const RECT& m = info.rcMonitor;
    const ScreenRect kept = ClampRegion(region, {m.left, m.top, m.right, m.bottom});
    inMonitor = {kept.left - m.left, kept.top - m.top, kept.right - m.left, kept.bottom - m.top};
    return monitor;
}

int SelfTestScreenshot(const std::wstring& folder, const ScreenRect* region) {
    EnsureFolder(folder);
    std::wstring message;
    DWORD error = ERROR_SUCCESS;
    // The name is chosen and its partial file made in one step, so two
    // screenshots in the same second never share a name.
    const std::wstring path = ReserveCaptureName(folder, L"Screenshot " + CaptureTimeStamp(), L".png", error);
    bool ok = false;
    HMONITOR monitor = PrimaryMonitor();
    ScreenRect area;
    if (region != nullptr) {
        monitor = MonitorOfRegion(*region, area);
        message = RegionProblem(area);
    }
    if (!message.empty()) {
        if (!path.empty()) ReleaseCaptureName(path);
    } else if (path.empty()) {
        message = L"The screenshot could not be saved: " + ErrorText(static_cast<uint32_t>(HRESULT_FROM_WIN32(error)));
    } else {
        ok = TakeScreenshot(monitor, true, path, true, message, area);
        if (!ok) ReleaseCaptureName(path);
    }
    WriteResultFile(folder + L"\\result.txt", (ok ? path : std::wstring()) + L"\n" + message + L"\n");
    return ok ? 0 : 1;
}

// Waits in steps short enough for Sleep, whatever the number of seconds.
void Wait(int64_t milliseconds) {
    while (milliseconds > 0) {
        const DWORD step = milliseconds > 3600000 ? 3600000 : static_cast<DWORD>(milliseconds);
        Sleep(step);
        milliseconds -= step;
    }
}

// The first visible top-level window with exactly this title, or null.
HWND WindowTitled(const std::wstring& title) {
    for (const WindowEntry& entry : VisibleTitledWindows())
        if (entry.title == title) return reinterpret_cast<HWND>(entry.handle);
    return nullptr;
}

// Waits like Wait, but ends early when the recorded window closes. Messages
// are handled meanwhile: the capture tells of a closed window through the
// thread that made it, as it does in the tray program.
void WaitWhileSourceLasts(int64_t milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds > 0 ? milliseconds : 0);
    for (ULONGLONG now = GetTickCount64(); now < deadline && !TheRecorder.capturer.SourceClosed();
         now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 100)),
                                  QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

int SelfTestRecord(int32_t seconds, const std::wstring& folder, int32_t resolution, int32_t fps, bool syncTest,
                   const ScreenRect* region = nullptr, const std::wstring* title = nullptr, int32_t pauses = 1) {
    const auto refuse = [&](const std::wstring& sentence) {
        EnsureFolder(folder);
        WriteResultFile(folder + L"\\result.txt", L"\n" + sentence + L"\n0x0\n");
        return 1;
    };
    RecordingOptions options;
    options.monitor = PrimaryMonitor();
    if (title != nullptr) {
        options.window = WindowTitled(*title);
        if (options.window == nullptr) return refuse(L"There is no open window called \"" + *title + L"\".");
        RestoreForCapture(options.window);
    }
    if (region != nullptr) {
        options.monitor = MonitorOfRegion(*region, options.area);
        const std::wstring small = RegionProblem(options.area);
        if (!small.empty()) return refuse(small);
    }
    options.resolution = resolution;
    options.fps = fps;
    options.systemAudio = true;
    options.microphone = false;
    options.cursor = true;
    options.folder = folder;
    options.syncTest = syncTest;
    std::wstring message = TheRecorder.Start(options);
    std::wstring path;
    if (message.empty()) {
        const PausePlan plan = PlanPauses(seconds, pauses);
        for (int32_t n = 0; n < plan.pauses; ++n) {
            WaitWhileSourceLasts(plan.stretchMs);
            TheRecorder.Pause();
            if (syncTest) Log(L"sync pause at_us=%lld", static_cast<long long>(TheRecorder.RecordingTime() / 10));
            WaitWhileSourceLasts(plan.pauseMs);
            TheRecorder.Resume();
        }
        WaitWhileSourceLasts(plan.stretchMs);
        const bool closed = TheRecorder.capturer.SourceClosed();
        path = TheRecorder.Stop(&message);
        if (closed && message.empty()) message = kWindowClosedText;
        if (TheRecorder.Stop() != path) message += L" second stop returned a different answer";
    }
    WriteResultFile(folder + L"\\result.txt", path + L"\n" + message + L"\n0x0\n");
    return path.empty() ? 1 : 0;
}

// No window and no browser: the code goes to the result file at once, so a
// harness can read it and approve it.
int SelfTestSignIn(const std::wstring& resultFile) {
    DeviceCode code;
    std::wstring message;
    if (!StartDeviceSignIn(code, message)) {
        AppendResultLine(resultFile, L"error=" + message);
        return 1;
    }
    AppendResultLine(resultFile, L"code=" + code.userCode);
    std::wstring status = L"pending";
    while (status == L"pending" && GetTickCount64() < code.deadline) {
        Wait(static_cast<int64_t>(PollWaitMilliseconds(code.interval, GetTickCount64(), code.deadline)));
        status = PollDeviceToken(code, message);
    }
    AppendResultLine(resultFile, L"result=" + status + L" email=" + SignedInEmail() + L" workspace=" + SignedInWorkspace());
    return status == L"approved" ? 0 : 2;
}

int SelfTestSave(const std::wstring& captureFile, const std::wstring& resultFile) {
    std::wstring state, message, link;
    const bool ok = UploadCapture(captureFile, nullptr, state, message, &link);
    AppendResultLine(resultFile, ok ? L"saved state=" + state + (link.empty() ? L"" : L" link=" + link)
                                    : L"error=" + message + L" signed_in=" + (IsSignedIn() ? L"yes" : L"no"));
    return ok ? 0 : 1;
}

// Cuts as the trim window's Save does, and says what came of it in a line.
int SelfTestTrim(const SelfTestRequest& request) {
    TrimOutcome outcome;
    std::wstring problem;
    if (!TrimRecording(request.captureFile, request.startMs, request.endMs, outcome, problem)) {
        AppendResultLine(request.resultFile, L"error=" + problem);
        return 1;
    }
    AppendResultLine(request.resultFile, L"trimmed path=" + outcome.path + L" start_ms=" +
                                             std::to_wstring(outcome.startMs) + L" end_ms=" +
                                             std::to_wstring(outcome.endMs));
    return 0;
}

}  // namespace

std::optional<int> RunSelfTest(const SelfTestRequest& request) {
    switch (request.kind) {
        case SelfTestKind::Record:
        case SelfTestKind::Sync:
            return SelfTestRecord(request.seconds, request.folder, request.resolution, request.fps, request.syncTest,
                                  nullptr, nullptr, request.pauses);
        case SelfTestKind::Screenshot:
            return SelfTestScreenshot(request.folder, nullptr);
        case SelfTestKind::RegionScreenshot:
            return SelfTestScreenshot(request.folder, &request.region);
        case SelfTestKind::RegionRecord:
            return SelfTestRecord(request.seconds, request.folder, 720, 30, false, &request.region);
        case SelfTestKind::WindowRecord:
            return SelfTestRecord(request.seconds, request.folder, 720, 30, false, nullptr, &request.title);
        case SelfTestKind::WindowList: {
            // The labels "Record a window" would offer now, one a line.
            std::wstring labels;
            for (const WindowEntry& entry : WindowMenuEntries(VisibleTitledWindows()))
                labels += WindowMenuLabel(entry.title, entry.minimized) + L"\n";
            WriteResultFile(request.resultFile, labels);
            return 0;
        }
        case SelfTestKind::SignIn:
            return SelfTestSignIn(request.resultFile);
        case SelfTestKind::Save:
            return SelfTestSave(request.captureFile, request.resultFile);
        case SelfTestKind::Trim:
            return SelfTestTrim(request);
        case SelfTestKind::SignOut:
            SignOut();
            return IsSignedIn() ? 1 : 0;
        default:
            return std::nullopt;
    }
}
