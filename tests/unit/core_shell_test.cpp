#include <doctest.h>

#include <iterator>

#include "app/shell_core.h"

namespace {

using State = ShellRecorderState;

TrayMenuState Base() {
    TrayMenuState s;
    s.recordShortcut = L"Alt+Shift+R";
    s.pauseShortcut = L"Alt+Shift+P";
    s.screenshotShortcut = L"Alt+Shift+S";
    s.regionShortcut = L"Alt+Shift+A";
    s.cameraShortcut = L"Alt+Shift+C";
    return s;
}

// The menu as one line per item: text, id, "-" for grey ones and "*" for checked ones.
std::vector<std::wstring> Lines(const TrayMenuState& state) {
    std::vector<std::wstring> lines;
    for (const TrayMenuItem& item : TrayMenuItems(state)) {
        if (item.kind == TrayMenuItemKind::Separator) {
            lines.push_back(L"----");
            continue;
        }
        std::wstring line = item.text + L" #" + std::to_wstring(item.id);
        if (item.kind != TrayMenuItemKind::Command) line += L" >";
        if (item.grayed) line += L" -";
        if (item.checked) line += L" *";
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST_CASE("tray menu when idle and signed out") {
    const std::vector<std::wstring> expected = {
        L"Record full screen\tAlt+Shift+R #100",
        L"Record a monitor #0 >",
        L"Record a region\u2026 #110",
        L"Record a window #0 >",
        L"Pause\tAlt+Shift+P #101 -",
        L"Stop #102 -",
        L"Trim last recording\u2026 #113 -",
        L"----",
        L"Screenshot\tAlt+Shift+S #103",
        L"Screenshot of a monitor #0 >",
        L"Screenshot of a region\u2026\tAlt+Shift+A #111",
        L"Edit last screenshot\u2026 #112 -",
        L"Recent #0 >",
        L"----",
        L"Sign in with NIRA (to save to your library)\u2026 #120",
        L"----",
        L"Open captures folder #104",
        L"Open Ostrel web app (library, team, Pelk\u00e9) #105",
        L"Show camera\tAlt+Shift+C #114",
        L"Show toolbar #108",
        L"Settings\u2026 #106",
        L"----",
        L"Quit #107",
    };
    CHECK(Lines(Base()) == expected);
    TrayMenuState edited = Base();
    edited.lastScreenshot = L"C:\\caps\\Screenshot 2026-01-02 03-04-05.png";
    CHECK(Lines(edited)[11] == L"Edit last screenshot\u2026 #112");
    edited.lastRecording = L"C:\\caps\\Recording 2026-01-02 03-04-05.mp4";
    CHECK(Lines(edited)[6] == L"Trim last recording\u2026 #113");
    edited.cameraShowing = true;
    CHECK(Lines(edited)[18] == L"Show camera\tAlt+Shift+C #114 *");
}

TEST_CASE("a recent capture offers what its kind allows, and saving only when signed in and free") {
    const auto texts = [](const std::vector<RecentActionItem>& items) {
        std::vector<std::wstring> lines;
        for (const RecentActionItem& item : items) lines.push_back(item.text + (item.grayed ? L" -" : L""));
        return lines;
    };
    CHECK(texts(RecentActionItems(true, false, true, false)) ==
          std::vector<std::wstring>{L"Open", L"Show in folder", L"Copy", L"Edit\u2026", L"Save to library"});
    CHECK(texts(RecentActionItems(false, true, false, false)) ==
          std::vector<std::wstring>{L"Open", L"Show in folder", L"Copy", L"Trim\u2026",
                                    L"Save to library (sign in first) -"});
    CHECK(RecentActionItems(false, false, true, true).back().grayed);
}

TEST_CASE("tray menu while busy: countdown, recording, paused") {
    TrayMenuState s = Base();
    s.countdown = true;
    auto lines = Lines(s);
    CHECK(lines[0] == L"Record full screen\tAlt+Shift+R #100 -");
    CHECK(lines[1] == L"Record a monitor #0 > -");
    CHECK(lines[2] == L"Record a region\u2026 #110 -");
    CHECK(lines[3] == L"Record a window #0 > -");
    CHECK(lines[4] == L"Pause\tAlt+Shift+P #101 -");
    CHECK(lines[5] == L"Stop #102");
    CHECK(lines[9] == L"Screenshot of a monitor #0 >");
    CHECK(lines[10] == L"Screenshot of a region\u2026\tAlt+Shift+A #111");

    s.countdown = false;
    s.recorder = State::Recording;
    lines = Lines(s);
    CHECK(lines[0].back() == L'-');
    CHECK(lines[4] == L"Pause\tAlt+Shift+P #101");
    CHECK(lines[5] == L"Stop #102");

    s.recorder = State::Paused;
    lines = Lines(s);
    CHECK(lines[1] == L"Record a monitor #0 > -");
    CHECK(lines[4] == L"Resume\tAlt+Shift+P #101");
    CHECK(lines[5] == L"Stop #102");

    // While the file is being finished nothing can be paused or stopped again.
    s.recorder = State::Stopping;
    lines = Lines(s);
    CHECK(lines[0].back() == L'-');
    CHECK(lines[4].back() == L'-');
    CHECK(lines[5] == L"Stop #102 -");
}

TEST_CASE("tray menu when signed in, with and without a last capture and during an upload") {
    TrayMenuState s = Base();
    s.signedIn = true;
    s.email = L"ana@example.com";
    auto lines = Lines(s);
    REQUIRE(lines.size() == 26);
    CHECK(lines[14] == L"Save to library\u2026 #122");
    CHECK(lines[15] == L"Copy link to last saved capture #124 -");
    CHECK(lines[16] == L"Signed in as ana@example.com #0 -");
    CHECK(lines[17] == L"Sign out of NIRA #121");
    CHECK(lines[18] == L"----");

    s.lastCapture = L"C:\\Users\\u\\Videos\\Ostrel\\Screenshot 2025-03-07 09-05-41.png";
    s.haveLink = true;
    lines = Lines(s);
    CHECK(lines[15] == L"Save last capture to library (Screenshot 2025-03-07 09-05-41.png) #123");
    CHECK(lines[16] == L"Copy link to last saved capture #124");

    s.uploadInProgress = true;
    lines = Lines(s);
    CHECK(lines[14] == L"Save to library\u2026 #122 -");
    CHECK(lines[15].back() == L'-');
    CHECK(lines[16] == L"Copy link to last saved capture #124");
    CHECK(lines[18] == L"Sign out of NIRA #121");
}

TEST_CASE("record command and record shortcut") {
    CHECK(RecordCommandAction(State::Idle, false) == ShellAction::BeginRecording);
    CHECK(RecordCommandAction(State::Idle, true) == ShellAction::CancelCountdown);
    CHECK(RecordCommandAction(State::Recording, false) == ShellAction::TogglePause);
    CHECK(RecordCommandAction(State::Paused, false) == ShellAction::TogglePause);
    CHECK(RecordShortcutAction(State::Idle, false) == ShellAction::BeginRecording);
    CHECK(RecordShortcutAction(State::Idle, true) == ShellAction::StopOrCancel);
    CHECK(RecordShortcutAction(State::Paused, false) == ShellAction::StopOrCancel);
}

TEST_CASE("one tray click acts once, by the messages of the version the shell took") {
    using A = TrayEventAction;
    // WM_LBUTTONUP, NIN_SELECT, WM_RBUTTONUP, WM_CONTEXTMENU, NIN_KEYSELECT, WM_MOUSEMOVE.
    const uint32_t events[] = {0x0202, 0x0400, 0x0205, 0x007B, 0x0401, 0x0200};
    const A version4[] = {A::Nothing, A::ShowToolbar, A::Nothing, A::ShowMenu, A::ShowMenu, A::Nothing};
    const A older[] = {A::ShowToolbar, A::Nothing, A::ShowMenu, A::Nothing, A::ShowMenu, A::Nothing};
    for (size_t i = 0; i < std::size(events); ++i) {
        CHECK(TrayEventActionFor(events[i], true) == version4[i]);
        CHECK(TrayEventActionFor(events[i], false) == older[i]);
    }
}

TEST_CASE("a notification click opens only the latest notification's action, once, while it shows") {
    // NIN_BALLOONSHOW, NIN_BALLOONHIDE, NIN_BALLOONTIMEOUT, NIN_BALLOONUSERCLICK, in either version.
    for (const bool version4 : {true, false}) {
        CHECK(TrayEventActionFor(0x0402, version4) == TrayEventAction::NoticeShown);
        CHECK(TrayEventActionFor(0x0403, version4) == TrayEventAction::NoticeGone);
        CHECK(TrayEventActionFor(0x0404, version4) == TrayEventAction::NoticeGone);
        CHECK(TrayEventActionFor(0x0405, version4) == TrayEventAction::NoticeClicked);
    }
    NoticeClicks clicks;
    CHECK_FALSE(clicks.Clicked());  // nothing shown yet
    clicks.Posted();
    clicks.Shown();
    CHECK(clicks.Clicked());
    CHECK_FALSE(clicks.Clicked());  // once
    // A click on the older one that arrives after a newer was handed over, before it shows.
    clicks.Posted();
    clicks.Shown();
    clicks.Posted();
    CHECK_FALSE(clicks.Clicked());
    clicks.Shown();
    clicks.Gone();
    CHECK_FALSE(clicks.Clicked());  // it timed out
}

TEST_CASE("another copy runs when the mutex existed, or when it could not be opened") {
    CHECK(AnotherCopyRuns(true, 183));         // ERROR_ALREADY_EXISTS
    CHECK(AnotherCopyRuns(false, 5));          // ERROR_ACCESS_DENIED: a copy running elevated holds it
    CHECK_FALSE(AnotherCopyRuns(false, 8));    // no mutex for another reason: this copy runs alone
}

TEST_CASE("countdown ticks start the recording on the N-th tick") {
    int32_t remaining = 3;
    int ticks = 0;
    for (bool started = false; !started; ++ticks) {
        const CountdownStep step = CountdownTick(remaining);
        remaining = step.remaining;
        started = step.startNow;
    }
    CHECK(ticks == 3);
    CHECK(remaining == 0);
    // A tick posted for an immediate start.
    CHECK(CountdownTick(0).startNow);
}

TEST_CASE("sentences") {
    CHECK(HResultFromWin32(183) == 0x800700B7u);
    CHECK(HResultFromWin32(0) == 0u);
    CHECK(HResultFromWin32(0x80004005u) == 0x80004005u);
    CHECK(RecoveryQuestion(L"D:\\caps\\R.mp4.part", L"D:\\caps\\R (recovered).mp4") ==
          L"A recording was interrupted (Ostrel or the computer stopped before it finished):\n\nD:\\caps\\R.mp4.part"
          L"\n\nYes: keep it as\nD:\\caps\\R (recovered).mp4\nNo: delete it\nCancel: decide next time");
    CHECK(ShortcutConflictMessage(L"").empty());
    CHECK(ShortcutConflictMessage(L"\n  Alt+Shift+R (record or stop)") ==
          L"These keyboard shortcuts are already used by another app, so Ostrel can't use them:\n  Alt+Shift+R "
          L"(record or stop)\n\nChoose different ones in Settings. The tray menu and toolbar still work.");
    CHECK(SavedRecordingText(L"C:\\a.mp4", L"") == L"C:\\a.mp4");
    CHECK(SavedRecordingText(L"C:\\a.mp4", L"Sound stopped.") == L"C:\\a.mp4\nSound stopped.");
    CHECK(UploadProgressTip(50) == L"NIRA Ostrel: saving to library, 50%");
    CHECK(PathFileName(L"x.png") == L"x.png");
}
