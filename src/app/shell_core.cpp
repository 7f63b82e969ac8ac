#include "app/shell_core.h"

namespace {

constexpr uint32_t kRecord = 100, kPause = 101, kStop = 102, kScreenshot = 103, kOpenFolder = 104,
                   kOpenWebApp = 105, kSettings = 106, kQuit = 107, kShowToolbar = 108, kSignIn = 120,
                   kSignOut = 121, kSaveToLibrary = 122, kSaveLastCapture = 123, kCopyLink = 124, kRecordRegion = 110,
                   kScreenshotRegion = 111, kEditLastScreenshot = 112, kTrimLastRecording = 113,
                   kShowCamera = 114;

TrayMenuItem Command(std::wstring text, uint32_t id, bool grayed = false) {
    return {TrayMenuItemKind::Command, std::move(text), id, grayed};
}

TrayMenuItem Separator() { return {TrayMenuItemKind::Separator, {}, 0, false}; }

bool Running(ShellRecorderState state) {
    return state == ShellRecorderState::Recording || state == ShellRecorderState::Paused;
}

}  // namespace

std::vector<TrayMenuItem> TrayMenuItems(const TrayMenuState& s) {
    const bool busy = s.recorder != ShellRecorderState::Idle || s.countdown;
    std::vector<TrayMenuItem> items;
    items.push_back(Command(L"Record full screen\t" + s.recordShortcut, kRecord, busy));
    items.push_back({TrayMenuItemKind::RecordMonitorMenu, L"Record a monitor", 0, busy});
    items.push_back(Command(L"Record a region\u2026", kRecordRegion, busy));
    items.push_back({TrayMenuItemKind::RecordWindowMenu, L"Record a window", 0, busy});
    items.push_back(Command(std::wstring(s.recorder == ShellRecorderState::Paused ? L"Resume\t" : L"Pause\t") +
                                s.pauseShortcut,
                            kPause, !Running(s.recorder)));
    items.push_back(Command(L"Stop", kStop, !(Running(s.recorder) || s.countdown)));
    items.push_back(Command(L"Trim last recording\u2026", kTrimLastRecording, s.lastRecording.empty()));
    items.push_back(Separator());
    items.push_back(Command(L"Screenshot\t" + s.screenshotShortcut, kScreenshot));
    items.push_back({TrayMenuItemKind::ScreenshotMonitorMenu, L"Screenshot of a monitor", 0, false});
    items.push_back(Command(L"Screenshot of a region\u2026\t" + s.regionShortcut, kScreenshotRegion));
    items.push_back(Command(L"Edit last screenshot\u2026", kEditLastScreenshot, s.lastScreenshot.empty()));
    items.push_back({TrayMenuItemKind::RecentMenu, L"Recent", 0, false});
    items.push_back(Separator());
    if (s.signedIn) {
        items.push_back(Command(L"Save to library\u2026", kSaveToLibrary, s.uploadInProgress));
        if (!s.lastCapture.empty())
            items.push_back(Command(L"Save last capture to library (" + std::wstring(PathFileName(s.lastCapture)) + L")",
                                    kSaveLastCapture, s.uploadInProgress));
        items.push_back(Command(L"Copy link to last saved capture", kCopyLink, !s.haveLink));
        items.push_back(Command(L"Signed in as " + s.email, 0, true));
        items.push_back(Command(L"Sign out of NIRA", kSignOut));
    } else {
        items.push_back(Command(L"Sign in with NIRA (to save to your library)\u2026", kSignIn));
    }
    items.push_back(Separator());
    items.push_back(Command(L"Open captures folder", kOpenFolder));
    items.push_back(Command(L"Open Ostrel web app (library, team, Pelk\u00e9)", kOpenWebApp));
    TrayMenuItem camera = Command(L"Show camera\t" + s.cameraShortcut, kShowCamera);
    camera.checked = s.cameraShowing;
    items.push_back(camera);
    items.push_back(Command(L"Show toolbar", kShowToolbar));
    items.push_back(Command(L"Settings\u2026", kSettings));
    items.push_back(Separator());
    items.push_back(Command(L"Quit", kQuit));
    return items;
}

std::vector<RecentActionItem> RecentActionItems(bool screenshot, bool recording, bool signedIn, bool uploading) {
    std::vector<RecentActionItem> items = {{RecentAction::Open, L"Open"},
                                           {RecentAction::ShowInFolder, L"Show in folder"},
                                           {RecentAction::Copy, L"Copy"}};
    if (screenshot) items.push_back({RecentAction::Edit, L"Edit\u2026"});
    if (recording) items.push_back({RecentAction::Trim, L"Trim\u2026"});
    items.push_back({RecentAction::SaveToLibrary, signedIn ? L"Save to library" : L"Save to library (sign in first)",
                     !signedIn || uploading});
    return items;
}

ShellAction RecordCommandAction(ShellRecorderState state, bool countdown) {
    if (countdown) return ShellAction::CancelCountdown;
    if (state == ShellRecorderState::Idle) return ShellAction::BeginRecording;
    return ShellAction::TogglePause;
}

ShellAction RecordShortcutAction(ShellRecorderState state, bool countdown) {
    if (state != ShellRecorderState::Idle || countdown) return ShellAction::StopOrCancel;
    return ShellAction::BeginRecording;
}

CountdownStep CountdownTick(int32_t remaining) {
    if (remaining > 0) {
        --remaining;
        if (remaining > 0) return {remaining, false};
    }
    return {0, true};
}

TrayEventAction TrayEventActionFor(uint32_t event, bool version4) {
    constexpr uint32_t kContextMenu = 0x007B, kLeftUp = 0x0202, kRightUp = 0x0205, kSelect = 0x0400,
                       kKeySelect = 0x0401, kBalloonShow = 0x0402, kBalloonHide = 0x0403, kBalloonTimeout = 0x0404,
                       kBalloonClick = 0x0405;
    switch (event) {
        case kBalloonShow:
            return TrayEventAction::NoticeShown;
        case kBalloonHide:
        case kBalloonTimeout:
            return TrayEventAction::NoticeGone;
        case kBalloonClick:
            return TrayEventAction::NoticeClicked;
        case kKeySelect:
            return TrayEventAction::ShowMenu;
        case kContextMenu:
            return version4 ? TrayEventAction::ShowMenu : TrayEventAction::Nothing;
        case kRightUp:
            return version4 ? TrayEventAction::Nothing : TrayEventAction::ShowMenu;
        case kSelect:
            return version4 ? TrayEventAction::ShowToolbar : TrayEventAction::Nothing;
        case kLeftUp:
            return version4 ? TrayEventAction::Nothing : TrayEventAction::ShowToolbar;
        default:
            return TrayEventAction::Nothing;
    }
}

bool AnotherCopyRuns(bool gotMutex, uint32_t lastError) {
    constexpr uint32_t kAccessDenied = 5, kAlreadyExists = 183;
    return lastError == kAlreadyExists || (!gotMutex && lastError == kAccessDenied);
}

uint32_t HResultFromWin32(uint32_t code) {
    const int32_t signedCode = static_cast<int32_t>(code);
    return signedCode <= 0 ? code : ((code & 0xFFFF) | 0x80070000u);
}

std::wstring RecoveryQuestion(std::wstring_view partPath, std::wstring_view keepPath) {
    std::wstring text = L"A recording was interrupted (Ostrel or the computer stopped before it finished):\n\n";
    text += partPath;
    text += L"\n\nYes: keep it as\n";
    text += keepPath;
    text += L"\nNo: delete it\nCancel: decide next time";
    return text;
}

std::wstring ShortcutConflictMessage(std::wstring_view refused) {
    if (refused.empty()) return {};
    std::wstring text = L"These keyboard shortcuts are already used by another app, so Ostrel can't use them:";
    text += refused;
    text += L"\n\nChoose different ones in Settings. The tray menu and toolbar still work.";
    return text;
}

std::wstring SavedRecordingText(std::wstring_view path, std::wstring_view problem) {
    std::wstring text(path);
    if (!problem.empty()) {
        text += L'\n';
        text += problem;
    }
    return text;
}

std::wstring UploadProgressTip(int percent) {
    std::wstring text = L"NIRA Ostrel: saving to library, " + std::to_wstring(percent) + L"%";
    if (text.size() > 127) text.resize(127);
    return text;
}
