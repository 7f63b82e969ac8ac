#include <doctest.h>

#include "app/command_line_core.h"

TEST_CASE("command-line numbers read like the C runtime's, without overflow") {
    CHECK(CommandLineNumber(L"4") == 4);
    CHECK(CommandLineNumber(L"  \t+12") == 12);
    CHECK(CommandLineNumber(L"-3") == -3);
    CHECK(CommandLineNumber(L"1080p") == 1080);
    CHECK(CommandLineNumber(L"abc") == 0);
    CHECK(CommandLineNumber(L"") == 0);
    CHECK(CommandLineNumber(L"- 5") == 0);
    CHECK(CommandLineNumber(L"99999999999999999999") == 2147483647);
    CHECK(CommandLineNumber(L"-99999999999999999999") == -2147483647 - 1);
}

TEST_CASE("self-test switches need their arguments and match exactly") {
    const std::wstring exe = L"C:\\Ostrel\\OstrelWindows.exe";

    SUBCASE("record with only a number is no switch") {
        CHECK(ParseSelfTest({exe, L"--selftest-record", L"4"}).kind == SelfTestKind::None);
    }
    SUBCASE("record defaults to 720 at 30 frames a second") {
        const auto r = ParseSelfTest({exe, L"--selftest-record", L"4", L"C:\\out"});
        CHECK(r.kind == SelfTestKind::Record);
        CHECK(r.seconds == 4);
        CHECK(r.folder == L"C:\\out");
        CHECK(r.resolution == 720);
        CHECK(r.fps == 30);
        CHECK_FALSE(r.syncTest);
    }
    SUBCASE("record takes a height and a frame rate") {
        auto r = ParseSelfTest({exe, L"--selftest-record", L"4", L"C:\\out", L"1080"});
        CHECK(r.resolution == 1080);
        CHECK(r.fps == 30);
        r = ParseSelfTest({exe, L"--selftest-record", L"4", L"C:\\out", L"1080", L"60"});
        CHECK(r.resolution == 1080);
        CHECK(r.fps == 60);
    }
    SUBCASE("sync always records 720 at 30, pausing once or as often as asked") {
        auto r = ParseSelfTest({exe, L"--selftest-sync", L"6", L"C:\\out"});
        CHECK(r.kind == SelfTestKind::Sync);
        CHECK(r.syncTest);
        CHECK(r.resolution == 720);
        CHECK(r.fps == 30);
        CHECK(r.pauses == 1);
        r = ParseSelfTest({exe, L"--selftest-sync", L"60", L"C:\\out", L"50"});
        CHECK(r.pauses == 50);
        CHECK(r.resolution == 720);
        CHECK(ParseSelfTest({exe, L"--selftest-sync", L"6", L"C:\\out", L"-3"}).pauses == 0);
    }
    SUBCASE("the other switches and their argument counts") {
        CHECK(ParseSelfTest({exe, L"--selftest-screenshot"}).kind == SelfTestKind::None);
        CHECK(ParseSelfTest({exe, L"--selftest-screenshot", L"C:\\s"}).folder == L"C:\\s");
        CHECK(ParseSelfTest({exe, L"--selftest-signin"}).kind == SelfTestKind::None);
        CHECK(ParseSelfTest({exe, L"--selftest-signin", L"r.txt"}).resultFile == L"r.txt");
        CHECK(ParseSelfTest({exe, L"--selftest-save", L"a.mp4"}).kind == SelfTestKind::None);
        const auto save = ParseSelfTest({exe, L"--selftest-save", L"a.mp4", L"r.txt"});
        CHECK(save.kind == SelfTestKind::Save);
        CHECK(save.captureFile == L"a.mp4");
        CHECK(save.resultFile == L"r.txt");
        CHECK(ParseSelfTest({exe, L"--selftest-signout"}).kind == SelfTestKind::SignOut);
        CHECK(ParseSelfTest({exe, L"--selftest-window-list"}).kind == SelfTestKind::None);
        CHECK(ParseSelfTest({exe, L"--selftest-window-list", L"w.txt"}).resultFile == L"w.txt");
        CHECK(ParseSelfTest({exe, L"--selftest-region-screenshot", L"C:\\s", L"1", L"2", L"3"}).kind == SelfTestKind::None);
        const auto shot = ParseSelfTest({exe, L"--selftest-region-screenshot", L"C:\\s", L"-1920", L"10", L"300", L"200"});
        CHECK(shot.kind == SelfTestKind::RegionScreenshot);
        CHECK(shot.region == ScreenRect{-1920, 10, -1620, 210});
        // Sizes past 32 bits saturate; a negative size is no area.
        const auto clip = ParseSelfTest({exe, L"--selftest-region-record", L"2", L"C:\\s", L"2147483000", L"5",
                                         L"9999999999", L"-4"});
        CHECK(clip.kind == SelfTestKind::RegionRecord);
        CHECK(clip.seconds == 2);
        CHECK(clip.region == ScreenRect{2147483000, 5, 2147483647, 5});
        const auto window = ParseSelfTest({exe, L"--selftest-window-record", L"3", L"C:\\s", L"Notes - Draft"});
        CHECK((window.kind == SelfTestKind::WindowRecord && window.title == L"Notes - Draft"));
    }
    SUBCASE("capitals, suffixes and no arguments are no switch") {
        CHECK(ParseSelfTest({exe, L"--SELFTEST-RECORD", L"4", L"C:\\out"}).kind == SelfTestKind::None);
        CHECK(ParseSelfTest({exe, L"--selftest-recordx", L"4", L"C:\\out"}).kind == SelfTestKind::None);
        CHECK(ParseSelfTest({exe, L"--selftest-signout2"}).kind == SelfTestKind::None);
        CHECK(ParseSelfTest({exe}).kind == SelfTestKind::None);
        CHECK(ParseSelfTest({}).kind == SelfTestKind::None);
    }
}

TEST_CASE("a self-test's pauses: spread evenly, shorter when many") {
    const PausePlan once = PlanPauses(6, 1);  // as it always was: three seconds, a one-second pause, three seconds
    CHECK((once.pauses == 1 && once.stretchMs == 3000 && once.pauseMs == 1000));
    const PausePlan many = PlanPauses(60, 50);
    CHECK((many.pauses == 50 && many.stretchMs == 1176 && many.pauseMs == 200));
    CHECK(PlanPauses(2, 1000).pauses == 20);
    const PausePlan none = PlanPauses(-5, 3);
    CHECK((none.pauses == 0 && none.stretchMs == 0 && none.pauseMs == 0));
}

TEST_CASE("the picture to edit, and nothing else") {
    const std::wstring exe = L"C:\\Ostrel\\OstrelWindows.exe";
    CHECK(EditRequest({exe, L"--edit", L"D:\\shots\\a b.png"}) == L"D:\\shots\\a b.png");
    CHECK(EditRequest({exe, L"--edit"}).empty());
    CHECK(EditRequest({exe, L"--edit", L"a.png", L"b.png"}).empty());
    CHECK(EditRequest({exe, L"--EDIT", L"a.png"}).empty());
    CHECK(EditRequest({exe}).empty());
}
