#include <doctest.h>

#include <set>

#include "capture/picture_core.h"
#include "capture/region_core.h"
#include "recorder/recording_rules_core.h"
#include "storage/capture_names_core.h"

TEST_CASE("monitor labels") {
    CHECK(MonitorLabel(1, 1920, 1080, false) == L"Monitor 1 (1920 x 1080)");
    CHECK(MonitorLabel(2, 2560, 1440, true) == L"Monitor 2 (2560 x 1440, main)");
    CHECK(MonitorLabel(1, 0, 0, false) == L"Monitor 1 (0 x 0)");
}

TEST_CASE("capture names skip taken names and names of partial files") {
    std::set<std::wstring> files;
    auto exists = [&](const std::wstring& p) { return files.count(p) != 0; };
    const std::wstring stem = L"Recording 2025-03-07 09-05-41";
    CHECK(FirstFreeCaptureName(L"D:\\caps", stem, L".mp4", exists) == L"D:\\caps\\" + stem + L".mp4");
    files.insert(L"D:\\caps\\" + stem + L".mp4");
    CHECK(FirstFreeCaptureName(L"D:\\caps", stem, L".mp4", exists) == L"D:\\caps\\" + stem + L" (2).mp4");
    files.insert(L"D:\\caps\\" + stem + L" (2).mp4.part");
    CHECK(FirstFreeCaptureName(L"D:\\caps", stem, L".mp4", exists) == L"D:\\caps\\" + stem + L" (3).mp4");
    // A screenshot of the same second has its own stem and extension.
    CHECK(FirstFreeCaptureName(L"D:\\caps", L"Screenshot 2025-03-07 09-05-41", L".png", exists) ==
          L"D:\\caps\\Screenshot 2025-03-07 09-05-41.png");
    // A drive root keeps its one separator.
    CHECK(FirstFreeCaptureName(L"D:\\", stem, L".mp4", exists) == L"D:\\" + stem + L".mp4");
}

TEST_CASE("partial captures of our own naming, and nothing else, are ours") {
    CHECK(IsScreenshotLeftover(L"Screenshot 2025-03-07 09-05-41.png.part"));
    CHECK(IsScreenshotLeftover(L"Screenshot 2025-03-07 09-05-41 (12).png.part"));
    for (const wchar_t* other : {L"Screenshot of the cat.png.part", L"Screenshot 2025-03-07 09-05-41.png",
                                 L"Screenshot 2025-03-07 09-05-41 ().png.part", L"Screenshot 2025-03-07 09-05-4x.png.part",
                                 L"Recording 2025-03-07 09-05-41.mp4.part"})
        CHECK_FALSE(IsScreenshotLeftover(other));
    CHECK(IsRecordingPartName(L"Recording 2025-03-07 09-05-41 (2).mp4.part"));
    CHECK_FALSE(IsRecordingPartName(L"video.mp4.part"));
}

TEST_CASE("recovery names") {
    CHECK(RecoveryName(L"D:\\caps\\Recording 2025-03-07 09-05-41.mp4.part") ==
          L"D:\\caps\\Recording 2025-03-07 09-05-41 (recovered).mp4");
    CHECK(RecoveryName(L"x.mp4") == L" (recovered).mp4");
    CHECK(RecoveryName(L".part") == L" (recovered).mp4");
    CHECK(RecoveryName(L"abc") == L"abc (recovered).mp4");
}

TEST_CASE("screenshot pixels: BGR rows for the file, bottom-up opaque rows for the clipboard") {
    // 2 x 2 picture with a padded pitch of 12 bytes; alpha 0 as screen copies deliver it.
    const uint8_t pixels[24] = {1, 2, 3, 0, 4, 5, 6, 0, 99, 99, 99, 99,  //
                                7, 8, 9, 0, 10, 11, 12, 0, 99, 99, 99, 99};
    CHECK(PackBgr(pixels, 2, 2, 12) == std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});

    std::vector<uint8_t> dib(ClipboardDibSize(2, 2));
    REQUIRE(dib.size() == 56);
    WriteClipboardDib(pixels, 2, 2, 12, dib.data());
    const std::vector<uint8_t> header(dib.begin(), dib.begin() + 40);
    std::vector<uint8_t> expected(40, 0);
    expected[0] = 40;
    expected[4] = 2;
    expected[8] = 2;
    expected[12] = 1;
    expected[14] = 32;
    expected[20] = 16;
    CHECK(header == expected);
    const std::vector<uint8_t> rows(dib.begin() + 40, dib.end());
    CHECK(rows == std::vector<uint8_t>{7, 8, 9, 255, 10, 11, 12, 255, 1, 2, 3, 255, 4, 5, 6, 255});
}

TEST_CASE("a dragged region: either direction, kept on its monitor, refused when small, even for recording") {
    const ScreenRect monitor{-1920, 0, 0, 1080};  // left of the main monitor
    CHECK(DraggedRegion(-100, 500, -1000, 200, monitor) == ScreenRect{-1000, 200, -100, 500});
    CHECK(DraggedRegion(-50, -40, 300, 90, monitor) == ScreenRect{-50, 0, 0, 90});
    CHECK(DraggedRegion(10, 10, 300, 300, monitor) == ScreenRect{});
    CHECK(RegionProblem(ScreenRect{}) == L"That region is too small to capture. Drag a rectangle of at least 16 x 16 pixels.");
    CHECK(RegionProblem({0, 0, 16, 15}) != L"");
    CHECK(RegionProblem({0, 0, 16, 16}) == L"");
    // A recording also refuses a strip that scaling down to 720 would make thinner than 16.
    CHECK(RecordingRegionProblem({0, 0, 20, 1000}, 720) == RegionProblem(ScreenRect{}));
    CHECK(RecordingRegionProblem({0, 0, 20, 1000}, 0) == L"");
    CHECK(RecordingRegionProblem({0, 0, 24, 1000}, 720) == L"");
    CHECK(EvenRegion({-1001, 201, -100, 500}) == ScreenRect{-1001, 201, -101, 499});
    CHECK(EvenRegion({0, 0, 16, 16}) == ScreenRect{0, 0, 16, 16});
    // What a recording reads from each frame: the whole frame, or the area kept inside a frame that shrank.
    CHECK(RecordedArea({}, 1365, 767) == ScreenRect{0, 0, 1364, 766});
    CHECK(RecordedArea({100, 50, 901, 651}, 800, 600) == ScreenRect{100, 50, 800, 600});
    CHECK(RecordedArea({900, 50, 1000, 651}, 800, 600) == ScreenRect{});
}

TEST_CASE("the window submenu: titled windows that can be captured, by title, at most fifty, labels as written") {
    const auto window = [](uintptr_t handle, std::wstring title) {
        WindowEntry entry;
        entry.handle = handle;
        entry.title = std::move(title);
        entry.width = 640;
        entry.height = 480;
        return entry;
    };
    std::vector<WindowEntry> windows{window(1, L"beta"), window(2, L""),     window(3, L"  \t"),
                                     window(4, L"Alpha"), window(0, L"gone"), window(5, L"alpha")};
    // None of these can be captured, so none is offered.
    for (const auto mark : {&WindowEntry::toolWindow, &WindowEntry::owned, &WindowEntry::cloaked, &WindowEntry::ours,
                            &WindowEntry::shellDesktop}) {
        windows.push_back(window(50, L"aaa"));
        windows.back().*mark = true;
    }
    windows.push_back(window(51, L"aaa"));
    windows.back().height = 0;
    // An owned window or a tool window that asks for the taskbar is offered, as the taskbar shows it.
    windows.push_back(window(52, L"Ab owned app"));
    windows.back().owned = windows.back().appWindow = true;
    windows.push_back(window(53, L"Ac tool app"));
    windows.back().toolWindow = windows.back().appWindow = true;
    for (uintptr_t n = 0; n < 60; ++n) windows.push_back(window(100 + n, L"zz " + std::to_wstring(n)));
    const std::vector<WindowEntry> shown = WindowMenuEntries(windows);
    REQUIRE(shown.size() == kMaxWindowMenuEntries);
    CHECK(shown[0].handle == 52);
    CHECK(shown[1].handle == 53);
    CHECK(shown[2].handle == 4);
    CHECK(shown[3].handle == 5);
    CHECK(shown[4].handle == 1);
    CHECK(shown[5].title == L"zz 0");

    CHECK(WindowMenuLabel(L"Q&A\tnotes\r\n") == L"Q&&A notes  ");
    CHECK(WindowMenuLabel(L"Notes", true) == L"Notes (minimized)");
    const std::wstring longTitle(58, L'a');
    CHECK(WindowMenuLabel(longTitle + L"bc") == longTitle + L"bc");
    CHECK(WindowMenuLabel(longTitle + L"\xD83D\xDE00" + L"d") == longTitle + L"…");  // never half a character
}
