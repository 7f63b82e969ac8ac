// Entry point of the tray program: process set-up, the self-test switches,
// the single-instance rule, the hidden main window, the tray icon, the
// message loop and the orderly end.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "app/capture_flows.h"
#include "app/command_line_core.h"
#include "app/hotkeys.h"
#include "app/recovery.h"
#include "app/region_overlay.h"
#include "app/trim_window.h"
#include "app/camera_bubble.h"
#include "app/editor_window.h"
#include "app/self_tests.h"
#include "app/shell_core.h"
#include "app/settings_window.h"
#include "app/shell.h"
#include "app/signin_window.h"
#include "app/toolbar.h"
#include "app/tray.h"
#include "common/command_line_args.h"
#include "common/unique_handle.h"
#include "recorder/media_foundation.h"
#include "recorder/recorder.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/settings.h"
#include "storage/sign_in_start.h"

namespace {

constexpr int kIconResource = 101;
constexpr DWORD kWorkerWaitMilliseconds = 5000;

void DeclareDpiAwareness() {
    // Looked up at run time: older systems and Wine may lack the export.
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return;
    auto set = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    if (set != nullptr) set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

void CreateFonts() {
    NONCLIENTMETRICSW metrics{};
    static_assert(sizeof(NONCLIENTMETRICSW) == 504, "the full record, padded border included");
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return;
    LOGFONTW font = metrics.lfMessageFont;
    lstrcpynW(font.lfFaceName, L"Segoe UI", LF_FACESIZE);
    UiFont = CreateFontIndirectW(&font);
    font.lfWeight = 600;
    UiFontBold = CreateFontIndirectW(&font);
}

void LoadIcons() {
    BigIcon = static_cast<HICON>(LoadImageW(Instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    SmallIcon = static_cast<HICON>(LoadImageW(Instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

void RegisterWindowClasses() {
    struct ClassRow {
        const wchar_t* name;
        WNDPROC procedure;
        HBRUSH background;
    };
    const ClassRow rows[] = {
        {kMainWindowClass, MainWindowProc, nullptr},
        {kToolbarClass, ToolbarWindowProc, nullptr},
        {kSettingsClass, SettingsWindowProc, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)},
        {kSignInClass, SignInWindowProc, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)},
        {kRegionClass, RegionOverlayProc, nullptr},
        {kEditorClass, EditorWindowProc, nullptr},
        {kTrimClass, TrimWindowProc, nullptr},
        {kCameraClass, CameraWindowProc, nullptr},
    };
    for (const ClassRow& row : rows) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = 0;
        windowClass.lpfnWndProc = row.procedure;
        windowClass.hInstance = Instance;
        windowClass.hIcon = BigIcon;
        windowClass.hIconSm = SmallIcon;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = row.background;
        windowClass.lpszClassName = row.name;
        RegisterClassExW(&windowClass);
    }
}

int RunMessageLoop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        bool taken = false;
        for (HWND dialog : {SettingsWindow, SignInWindow, ToolbarWindow}) {
            if (dialog != nullptr && IsDialogMessageW(dialog, &message)) {
                taken = true;
                break;
            }
        }
        if (taken) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

// A sign-in start meant for this program that is stale (an old path, an
// old form) is written again for it; one for another copy, or none, stays.
void MendSignInStart() {
    const std::wstring own = RunningProgramPath();
    const std::optional<std::wstring> value = ReadSignInStart();
    if (own.empty() || JudgeSignInStartValue(value, own) != SignInStart::Stale) return;
    const std::wstring before = value.value_or(L"");
    if (WriteSignInStart(own))
        Log(L"Start at sign-in mended: it was %s", before.c_str());
    else
        Log(L"Start at sign-in could not be mended: it is %s", before.c_str());
}

// The mutex is the caller's, so that it is held until after Media Foundation
// is shut down. `edit`: a picture to open in the editor, here or in the copy
// that runs already; `trim`: a recording to open in the trim window, the same
// way. `quiet`: the start at sign-in, which shows the tray icon only.
int RunTrayProgram(UniqueHandle& instanceMutex, const std::wstring& edit, const std::wstring& trim, bool quiet) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    const DWORD mutexError = GetLastError();
    instanceMutex.Reset(mutex);
    if (AnotherCopyRuns(mutex != nullptr, mutexError)) {
        HWND running = FindWindowW(kMainWindowClass, nullptr);
        if (running != nullptr && (!edit.empty() || !trim.empty())) {
            if (!(edit.empty() ? SendTrimRequest(running, trim) : SendEditRequest(running, edit)))
                MessageBoxW(nullptr, L"Ostrel is running but did not answer. Try again in a moment.",
                            edit.empty() ? L"NIRA Ostrel: trim" : L"NIRA Ostrel: editor", MB_ICONWARNING);
        } else if (running != nullptr && !quiet) {
            PostMessageW(running, WM_ANOTHER_INSTANCE, 0, 0);
        }
        return 0;
    }

    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    CurrentSettings = LoadSettings();
    Log(L"NIRA Ostrel %s started", kAppVersion);
    CreateFonts();
    LoadIcons();
    RegisterWindowClasses();

    MainWindow = CreateWindowExW(0, kMainWindowClass, L"NIRA Ostrel", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr,
                                 Instance, nullptr);
    AddTrayIcon();
    TheRecorder.notify = [window = MainWindow](int32_t code, const std::wstring& text) {
        PostText(window, WM_RECORDER_NOTIFY, static_cast<WPARAM>(code), text);
    };
    // Quietly, it waits hidden until a shortcut, the tray or a second start asks for it.
    CreateToolbar(!quiet);
    RegisterShortcuts(true);
    SetTimer(MainWindow, TIMER_TOOLBAR, 250, nullptr);
    EnsureFolder(CurrentSettings.folder);
    MendSignInStart();
    OfferRecoveries();

    if (!edit.empty()) OpenEditorOrSay(edit);
    if (!trim.empty()) OpenTrimWindowOrSay(trim);
    if (!quiet)
        ShowBalloon(L"NIRA Ostrel is ready",
                    L"Record with " +
                        HotkeyText(CurrentSettings.hotkey_record_mod,
                                   static_cast<uint32_t>(CurrentSettings.hotkey_record_key)) +
                        L", or use the toolbar or this tray icon.",
                    BALLOON_INFO);
    TellKeptEdits();

    RunMessageLoop();

    // The main window normally stopped the recording already; this is the last safeguard.
    if (TheRecorder.State() != Idle) TheRecorder.Stop();
    // Screenshot, sign-in, sign-out and save threads may still run, and
    // returning destroys the objects they use (the log, the hand-over of
    // posted objects, the Recorder). A sign-in stops with its window; the
    // others get a few seconds, then the process ends at once: a cut save
    // is resumed next time, and a cut screenshot's partial file is removed
    // at the next start.
    if (SignInWindow != nullptr) DestroyWindow(SignInWindow);
    StopScreenshots();
    if (!WaitForWorkers(kWorkerWaitMilliseconds)) {
        Log(L"NIRA Ostrel ended; work still running was cut off");
        TerminateProcess(GetCurrentProcess(), 0);
    }
    Log(L"NIRA Ostrel ended");
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    Instance = instance;
    DeclareDpiAwareness();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    // Its result is not examined: what fails without it says so when it is used.
    // A Windows without its media features has none of it, and still runs.
    const MediaFoundation& media = MediaFunctions();
    const bool mediaStarted = media.startup != nullptr && SUCCEEDED(media.startup(MF_VERSION, MFSTARTUP_FULL));
    const auto endMedia = [&] {
        if (mediaStarted && media.shutdown != nullptr) media.shutdown();
    };

    const SelfTestRequest request = ParseSelfTest(CommandLineArguments());
    if (std::optional<int> exitCode = RunSelfTest(request)) {
        endMedia();
        return *exitCode;
    }

    // "Open with": the file's full path, as this process sees it.
    const auto fullPath = [](std::wstring path) {
        if (path.empty()) return path;
        std::vector<wchar_t> full(32768);
        const DWORD length = GetFullPathNameW(path.c_str(), 32768, full.data(), nullptr);
        if (length > 0 && length < 32768) path = full.data();
        return path;
    };
    const std::wstring edit = fullPath(EditRequest(CommandLineArguments()));
    const std::wstring trim = fullPath(TrimRequest(CommandLineArguments()));
    UniqueHandle instanceMutex;
    const int exitCode = RunTrayProgram(instanceMutex, edit, trim, QuietStart(CommandLineArguments()));
    endMedia();
    instanceMutex.Reset();
    return exitCode;
}
