#pragma once
// Decisions of the tray program that need no window: the tray menu for a
// given state, what the record command and shortcut do, the countdown tick,
// and the sentences built from paths and shortcut texts.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "storage/storage_core.h"  // PathFileName

// Matches the Recorder's states.
enum class ShellRecorderState : int32_t { Idle = 0, Recording = 1, Paused = 2, Stopping = 3 };

struct TrayMenuState {
    ShellRecorderState recorder = ShellRecorderState::Idle;
    bool countdown = false;  // a recording countdown runs
    bool signedIn = false;
    std::wstring email;
    bool uploadInProgress = false;
    std::wstring lastCapture;  // full path, empty when nothing was saved in this run
    std::wstring lastScreenshot;  // the same for screenshots
    std::wstring lastRecording;   // and for recordings
    bool haveLink = false;        // a capture saved in this run has a link in the library
    std::wstring recordShortcut, pauseShortcut, screenshotShortcut, regionShortcut, cameraShortcut;  // their texts
    bool cameraShowing = false;   // the camera bubble is on the screen
};

enum class TrayMenuItemKind { Command, Separator, RecordMonitorMenu, ScreenshotMonitorMenu, RecordWindowMenu, RecentMenu };

struct TrayMenuItem {
    TrayMenuItemKind kind = TrayMenuItemKind::Command;
    std::wstring text;
    uint32_t id = 0;
    bool grayed = false;
    bool checked = false;
};

constexpr size_t kMaxMonitorMenuEntries = 50;

// What one recent capture offers, in its submenu.
enum class RecentAction : uint32_t { Open, ShowInFolder, Copy, Edit, Trim, SaveToLibrary };
constexpr uint32_t kRecentActions = 6;
struct RecentActionItem {
    RecentAction action;
    std::wstring text;
    bool grayed = false;
};
// A screenshot is edited, a recording trimmed; saving needs a sign-in and no save running.
std::vector<RecentActionItem> RecentActionItems(bool screenshot, bool recording, bool signedIn, bool uploading);

std::vector<TrayMenuItem> TrayMenuItems(const TrayMenuState& state);

enum class ShellAction { Nothing, CancelCountdown, BeginRecording, TogglePause, StopOrCancel };
// The record command (tray menu, toolbar primary button): pauses or resumes a running recording.
ShellAction RecordCommandAction(ShellRecorderState state, bool countdown);
// The record shortcut: stops a running or paused recording.
ShellAction RecordShortcutAction(ShellRecorderState state, bool countdown);

// One tick of the recording countdown: the seconds left afterwards, and
// whether the recording starts now (a posted tick with nothing left starts at once).
struct CountdownStep {
    int32_t remaining = 0;
    bool startNow = false;
};
CountdownStep CountdownTick(int32_t remaining);

// What a tray icon event asks for. With NOTIFYICON_VERSION_4 the shell may
// send both WM_LBUTTONUP and NIN_SELECT for one left click, and both
// WM_RBUTTONUP and WM_CONTEXTMENU for one right click; only one of each pair
// counts: the version 4 one when the shell took that version, else the plain
// mouse message.
enum class TrayEventAction { Nothing, ShowMenu, ShowToolbar, NoticeShown, NoticeGone, NoticeClicked };
TrayEventAction TrayEventActionFor(uint32_t event, bool version4);

// Which notification a click belongs to. The shell tells only that "the"
// notification was clicked; a click counts for the latest one, once the shell
// has shown it and until it has gone, so a click on an older notification
// that arrives late opens nothing.
class NoticeClicks {
public:
    void Posted() {  // a new notification was handed to the shell
        ++posted_;
        shown_ = false;
    }
    void Shown() { shown_ = posted_ != 0; }  // the shell shows the latest one
    void Gone() { shown_ = false; }          // it timed out or was closed
    // A click arrived: true when it is on the latest notification (once).
    bool Clicked() {
        const bool counts = shown_;
        shown_ = false;
        return counts;
    }

private:
    uint64_t posted_ = 0;
    bool shown_ = false;
};

// Whether the single-instance mutex says another copy runs: it existed
// already, or it belongs to a copy with more rights than this one (running
// elevated), so that it could not even be opened.
bool AnotherCopyRuns(bool gotMutex, uint32_t lastError);

// HRESULT_FROM_WIN32 for a Windows error code.
uint32_t HResultFromWin32(uint32_t code);

std::wstring RecoveryQuestion(std::wstring_view partPath, std::wstring_view keepPath);
// `refused` holds the lines of refused shortcuts, each "\n  " + text + label; empty: no message.
std::wstring ShortcutConflictMessage(std::wstring_view refused);
// Notification text of a saved recording: the path, and on the next line the problem, if any.
std::wstring SavedRecordingText(std::wstring_view path, std::wstring_view problem);
std::wstring UploadProgressTip(int percent);
