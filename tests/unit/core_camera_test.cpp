#include <doctest.h>

#include "camera/camera_core.h"

using namespace camera;

TEST_CASE("the bubble stays inside its monitor, a margin from the edges, and snaps into a corner near it") {
    const Area work{0, 0, 1920, 1040};
    const int32_t d = BubbleDiameter(BubbleSize::Medium, 96);
    CHECK(d == 220);
    CHECK(BubbleDiameter(BubbleSize::Medium, 144) == 330);  // 150 %: the same size to the eye
    CHECK(PlaceBubble(work, d, {900, 400}, 96) == Spot{900, 400});
    CHECK(PlaceBubble(work, d, {5000, 400}, 96) == Spot{1920 - 16 - d, 400});
    CHECK(PlaceBubble(work, d, {-300, -300}, 96) == Spot{16, 16});
    // Near the bottom right on both axes: into it. Near one edge only: left where it is.
    CHECK(PlaceBubble(work, d, {1920 - 16 - d - 40, 1040 - 16 - d - 30}, 96) == Spot{1920 - 16 - d, 1040 - 16 - d});
    CHECK(PlaceBubble(work, d, {1920 - 16 - d - 40, 500}, 96) == Spot{1920 - 16 - d - 40, 500});
    CHECK(PlaceBubble(work, d, {100, 100}, 96) == Spot{100, 100});
    // A monitor left of and above the primary one.
    const Area left{-1280, -200, 0, 824};
    CHECK(PlaceBubble(left, d, {-700, 300}, 96) == Spot{-700, 300});
    CHECK(PlaceBubble(left, d, {100, 300}, 96) == Spot{-16 - d, 300});
    CHECK(FirstBubbleSpot(left, d, 96) == Spot{-1280 + 16, 824 - 16 - d});
    // Larger than the area: its top left.
    CHECK(PlaceBubble({0, 0, 200, 150}, d, {50, 50}, 96) == Spot{0, 0});
}

TEST_CASE("the bubble's picture is the frame's middle square, mirrored, top down, from either row order") {
    // 8 x 4: blue tells the column, green the row.
    const int32_t w = 8, h = 4;
    std::vector<uint8_t> topDown(size_t(w) * h * 4), bottomUp(topDown.size());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = topDown.data() + (size_t(y) * w + x) * 4;
            p[0] = uint8_t(x * 10), p[1] = uint8_t(y * 10), p[2] = 7, p[3] = 0;
            std::copy(p, p + 4, bottomUp.data() + (size_t(h - 1 - y) * w + x) * 4);
        }
    std::vector<uint8_t> a, b;
    DrawBubblePicture({topDown.data(), w, h, w * 4}, 4, a);
    DrawBubblePicture({bottomUp.data() + size_t(h - 1) * w * 4, w, h, -ptrdiff_t(w) * 4}, 4, b);
    REQUIRE(a.size() == 4 * 4 * 4);
    CHECK(a == b);
    for (int x = 0; x < 4; ++x) CHECK(a[size_t(x) * 4] == (5 - x) * 10);      // columns 5 to 2, mirrored
    for (int y = 0; y < 4; ++y) CHECK(a[size_t(y) * 16 + 1] == y * 10);       // rows 0 to 3
    CHECK(a[2] == 7);
    CHECK(a[3] == 255);
    // Scaled down, the sides still come from the square's sides.
    DrawBubblePicture({topDown.data(), w, h, w * 4}, 2, a);
    CHECK(a[0] == 45);  // between columns 5 and 4
    CHECK(a[4] == 25);
}

TEST_CASE("a camera's formats are tried largest first within 1280 x 720 and 30 a second, the cheapest to convert first") {
    constexpr uint32_t nv12 = 0x3231564E, yuy2 = 0x32595559, mjpg = 0x47504A4D;
    const std::vector<CameraFormat> formats = {
        {1920, 1080, 30, 1, mjpg}, {1280, 720, 60, 1, mjpg}, {1280, 720, 30, 1, mjpg}, {1280, 720, 30, 1, yuy2},
        {640, 480, 30, 1, nv12},   {1280, 720, 10, 1, nv12}, {640, 480, 15, 1, nv12},  {320, 240, 0, 0, nv12},
    };
    CHECK(FormatsToTry(formats) == std::vector<size_t>{3, 2, 4, 6, 5, 7, 1, 0});
    CHECK(FourccText(mjpg) == L"MJPG");
    CHECK(FourccText(21) == L"21");
    CHECK(UnconvertibleText({{640, 480, 30, 1, 0x36313259}, {320, 240, 30, 1, 0x36313259}}) ==
          L"This camera sends its picture in a form Windows can't turn into one Ostrel can show (Y216). Choose "
          L"another camera in Settings.");
}

TEST_CASE("what went wrong with the camera, in the user's words") {
    const std::wstring denied = CameraProblemText(0x80070005, CameraStep::Opening, L"Access is denied.");
    CHECK(denied.find(L"Settings > Privacy & security > Camera") != std::wstring::npos);
    CHECK(CameraProblemText(0xC00D3704, CameraStep::Showing, L"") ==
          L"The camera is in use by another program. Close that program, then show the camera again.");
    CHECK(CameraProblemText(0xC00D3EA2, CameraStep::Showing, L"") ==
          L"The camera was disconnected. Connect it, then show the camera again.");
    // Windows closing the camera while it shows is the camera going; while opening it is not.
    CHECK(CameraProblemText(0xC00D3E85, CameraStep::Showing, L"x").find(L"disconnected") != std::wstring::npos);
    CHECK(CameraProblemText(0xC00D3E85, CameraStep::Opening, L"The object was shut down.") ==
          L"The camera could not be started: The object was shut down.");
}

TEST_CASE("the test camera's bars, and the square that shows it is live") {
    std::vector<uint8_t> first, later;
    ColourBars(70, 40, 0, first);
    ColourBars(70, 40, 30, later);
    auto at = [](const std::vector<uint8_t>& p, int x, int y) { return p.data() + (size_t(y) * 70 + x) * 4; };
    const uint8_t* white = at(first, 5, 5);
    const uint8_t* blue = at(first, 65, 5);
    CHECK((white[0] == 255 && white[1] == 255 && white[2] == 255));
    CHECK((blue[0] == 255 && blue[1] == 0 && blue[2] == 0));
    CHECK(at(first, 1, 31)[1] == 0);    // the square at the left, at first
    CHECK(at(later, 1, 31)[1] == 255);  // and gone from there a second later
}
