#include <doctest.h>

#include "storage/recent_core.h"

TEST_CASE("the recent list's file is read as far as it is sound, and never beyond ten entries") {
    const std::vector<RecentCapture> two = {{L"C:\\Caps\\Screenshot 1.png", 1765400000},
                                            {L"\\\\server\\share\\Recording \u00e9.mp4", 1765300000}};
    CHECK(ParseRecentFile(RecentFileText(two)) == two);
    CHECK(ParseRecentFile("1765400000\tC:\\a.png\r\n") == std::vector<RecentCapture>{{L"C:\\a.png", 1765400000}});

    const std::string good = "1765400000\tC:\\a.png\n";
    // Each of these ends the reading where it stands; what came before stays.
    for (const std::string bad : {"x\tC:\\b.png\n", "\tC:\\b.png\n", "1765400000 C:\\b.png\n", "12\tb.png\n",
                                  "12\t\\b.png\n", "12\tC:\\b\x01.png\n", "12\tC:\\b\xff.png\n",
                                  "99999999999999\tC:\\b.png\n", "12\tC:\\b.png"}) {
        CAPTURE(bad);
        CHECK(ParseRecentFile(good + bad + good) == ParseRecentFile(good));
    }
    CHECK(ParseRecentFile(std::string("\x89PNG\r\n\x1a\n\0\0", 10)).empty());

    std::string many;
    for (int i = 0; i < 30; ++i) many += std::to_string(i) + "\tC:\\" + std::to_string(i) + ".png\n";
    const std::vector<RecentCapture> ten = ParseRecentFile(many);
    REQUIRE(ten.size() == kRecentCaptures);
    CHECK(ten.back().path == L"C:\\9.png");
    // The same path twice (in another case) is one entry.
    CHECK(ParseRecentFile("1\tC:\\a.png\n2\tc:\\A.PNG\n3\tC:\\b.png\n").size() == 2);
    // A file larger than any list: only its start is read, and a line cut there is dropped.
    std::string huge = good + "2\tC:\\" + std::string(kRecentFileLimit, 'x') + ".png\n";
    CHECK(ParseRecentFile(huge).size() == 1);
}

TEST_CASE("a new capture goes first, once, and ten stay") {
    std::vector<RecentCapture> list;
    for (int i = 0; i < 10; ++i) list = WithRecent(list, {L"C:\\" + std::to_wstring(i) + L".png", i});
    CHECK(list.size() == 10);
    CHECK(list.front().path == L"C:\\9.png");
    list = WithRecent(list, {L"c:\\3.PNG", 50});
    CHECK(list.size() == 10);
    CHECK(list.front().taken == 50);
    CHECK((list[6].path == L"C:\\4.png" && list[7].path == L"C:\\2.png"));  // the old entry went; the rest keep their order
    list = WithRecent(list, {L"C:\\new.mp4", 60});
    CHECK(list.back().path == L"C:\\1.png");
}

TEST_CASE("recent entries say when they were taken in the user's words") {
    const LocalTime now{2027, 3, 1, 9, 5};
    CHECK(RecentWhen({2027, 3, 1, 8, 7}, now) == L"Today, 08:07");
    CHECK(RecentWhen({2027, 2, 28, 23, 59}, now) == L"Yesterday, 23:59");
    CHECK(RecentWhen({2027, 2, 27, 14, 0}, now) == L"27 Feb, 14:00");
    CHECK(RecentWhen({2026, 12, 31, 18, 30}, {2027, 1, 1, 0, 10}) == L"Yesterday, 18:30");
    CHECK(RecentWhen({2026, 12, 9, 18, 30}, now) == L"9 Dec 2026, 18:30");
    CHECK(RecentMenuLabel(L"C:\\Caps\\Tom & Jerry.png", {2027, 3, 1, 8, 7}, now) == L"Tom && Jerry.png\tToday, 08:07");
    CHECK(RecentKindOf(L"C:\\a\\Shot.PNG") == RecentKind::Screenshot);
    CHECK(RecentKindOf(L"C:\\a\\Rec.mp4") == RecentKind::Recording);
    CHECK(RecentKindOf(L"C:\\a\\notes.txt") == RecentKind::Other);
}

TEST_CASE("the menu looks for files on drives as it opens, never on shares") {
    CHECK(RecentDriveRoot(L"d:\\Caps\\Shot.png") == L"d:\\");
    CHECK(RecentDriveRoot(L"\\\\?\\C:\\Caps\\Shot.png") == L"C:\\");
    CHECK(RecentDriveRoot(L"\\\\server\\caps\\Shot.png").empty());
    CHECK(RecentDriveRoot(L"\\\\?\\unc\\server\\caps\\Shot.png").empty());
    CHECK(RecentDriveRoot(L"\\\\.\\C:\\Shot.png").empty());
    CHECK(RecentDriveRoot(L"C:").empty());
}
