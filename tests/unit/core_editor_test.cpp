#include <doctest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "editor/editor_core.h"

using namespace editor;

namespace {

Picture Pattern(int32_t width, int32_t height) {
    Picture picture{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = static_cast<uint8_t>(i * 37 % 251);
    return picture;
}

const uint8_t* PixelAt(const Picture& picture, int32_t x, int32_t y) {
    return picture.pixels.data() + (static_cast<size_t>(y) * picture.width + x) * 4;
}

Shape Make(ShapeKind kind, std::vector<Point> points, int32_t width = 3) {
    return {0, kind, kColours[0], width, std::move(points), {}, 0};
}

}  // namespace

TEST_CASE("editor tool keys, rectangles, arrow heads, steps and drags") {
    Tool tool = Tool::Select;
    const Tool order[] = {Tool::Select, Tool::Arrow, Tool::Rectangle, Tool::Pen,  Tool::Highlighter,
                          Tool::Text,   Tool::Step,  Tool::Pixelate,  Tool::Crop, Tool::Redact};
    for (size_t i = 0; i < 10; ++i) {
        CHECK((ToolForKey(L"VARPHTNBCX"[i], tool) && tool == order[i]));
        CHECK((ToolForKey(L"varphtnbcx"[i], tool) && tool == order[i]));
    }
    CHECK_FALSE((ToolForKey(L'q', tool) || tool != Tool::Redact));

    // A shortcut is Ctrl without Alt: AltGr (Ctrl and Alt) types its letter.
    const struct {
        uint32_t key;
        bool ctrl, alt, shift, typing;
        KeyAction action;
    } keys[] = {{'S', true, false, false, false, KeyAction::Save},  {'S', true, false, true, true, KeyAction::SaveAs},
                {'S', true, true, false, true, KeyAction::None},    {'Z', true, true, false, false, KeyAction::None},
                {'C', true, true, false, false, KeyAction::None},   {'Z', true, false, false, true, KeyAction::Undo},
                {'1', true, false, false, false, KeyAction::Actual}, {'R', false, false, false, true, KeyAction::None},
                {'R', false, true, false, false, KeyAction::None},  {0x0D, false, false, false, true, KeyAction::KeepText},
                {0x1B, false, false, false, true, KeyAction::DropText}, {0x0D, false, false, false, false, KeyAction::Apply},
                {0x2E, false, false, false, false, KeyAction::Delete}, {'X', false, false, false, false, KeyAction::PickTool}};
    for (const auto& k : keys) CHECK(ActionForKey(k.key, k.ctrl, k.alt, k.shift, k.typing, tool) == k.action);
    CHECK(tool == Tool::Redact);

    CHECK(Union({0, 0, 0, 5}, {2, 3, 4, 5}) == Rect{2, 3, 4, 5});
    CHECK(Union({0, 0, 2, 2}, {5, 5, 6, 7}) == Rect{0, 0, 6, 7});
    CHECK(Intersection({0, 0, 4, 4}, {2, 1, 9, 9}) == Rect{2, 1, 4, 4});
    CHECK(Intersection({0, 0, 4, 4}, {4, 0, 9, 9}) == Rect{});

    const ArrowHead rightwards = ArrowHeadOf({0, 0}, {100, 0}, 3);
    // 16 long, 30 degrees either side; the left barb is above a rightward shaft.
    CHECK((rightwards.tip == Point{100, 0} && rightwards.left == Point{86, -8} && rightwards.right == Point{86, 8}));
    // Any direction: both barbs as long as the width asks, mirrored about the shaft.
    const ArrowHead slanted = ArrowHeadOf({130, 40}, {10, 200}, 12);
    for (const Point barb : {slanted.left, slanted.right})
        CHECK(std::hypot(barb.x - 10, barb.y - 200) == doctest::Approx(48).epsilon(0.03));
    CHECK(std::abs(std::hypot(slanted.left.x - 130, slanted.left.y - 40) -
                   std::hypot(slanted.right.x - 130, slanted.right.y - 40)) < 1.5);
    const ArrowHead dot = ArrowHeadOf({5, 5}, {5, 5}, 6);
    CHECK((dot.left == Point{5, 5} && dot.right == Point{5, 5}));

    CHECK((StepRadius(3) == 14 && StepRadius(6) == 19 && StepRadius(12) == 28));
    CHECK(TextHeight(6) == 26);

    const Rect bounds{0, 0, 100, 80};
    CHECK(DragRect({50, 60}, {10, 20}, bounds) == Rect{10, 20, 50, 60});
    CHECK(DragRect({10, 20}, {50, 60}, bounds) == Rect{10, 20, 50, 60});
    CHECK(DragRect({-30, 70}, {140, 10}, bounds) == Rect{0, 10, 100, 70});
    CHECK(DragRect({120, 10}, {150, 20}, bounds).Empty());
}

namespace {

// Digits 0-9 in a 5 x 7 grid, drawn 3 pixels a dot: text in a known face at
// a known place, as an attacker would render each guess.
constexpr const char* kDigits[10][7] = {
    {"01110", "10001", "10011", "10101", "11001", "10001", "01110"},
    {"00100", "01100", "00100", "00100", "00100", "00100", "01110"},
    {"01110", "10001", "00001", "00010", "00100", "01000", "11111"},
    {"11111", "00010", "00100", "00010", "00001", "10001", "01110"},
    {"00010", "00110", "01010", "10010", "11111", "00010", "00010"},
    {"11111", "10000", "11110", "00001", "00001", "10001", "01110"},
    {"00110", "01000", "10000", "11110", "10001", "10001", "01110"},
    {"11111", "00001", "00010", "00100", "01000", "01000", "01000"},
    {"01110", "10001", "10001", "01110", "10001", "10001", "01110"},
    {"01110", "10001", "10001", "01111", "00001", "00010", "01100"},
};

Picture Secret(int number) {
    Picture picture{96, 48, std::vector<uint8_t>(96 * 48 * 4, 245)};
    const std::string text = std::to_string(number);
    for (size_t i = 0; i < text.size(); ++i)
        for (int row = 0; row < 7; ++row)
            for (int column = 0; column < 5; ++column)
                if (kDigits[text[i] - '0'][row][column] == '1')
                    for (int dy = 0; dy < 3; ++dy)
                        for (int dx = 0; dx < 3; ++dx) {
                            uint8_t* pixel = picture.pixels.data() +
                                             ((13 + row * 3 + dy) * 96 + 14 + static_cast<int>(i) * 18 + column * 3 + dx) * 4;
                            pixel[0] = pixel[1] = pixel[2] = 30;
                        }
    return picture;
}

}  // namespace

TEST_CASE("a dictionary attack on pixelated text does no better than chance") {
    // The area covers the text; the attacker knows the face, the place, the
    // area and even the seed, renders every candidate, pixelates it the
    // same way and keeps the candidates whose result comes nearest.
    const Rect area{10, 10, 70, 36};
    constexpr int kCandidates = 300;  // 100 … 399
    std::vector<Picture> guesses;
    for (int candidate = 100; candidate < 100 + kCandidates; ++candidate) {
        guesses.push_back(Secret(candidate));
        PixelateArea(guesses.back(), area, 42);
    }
    double expectedHits = 0;
    for (const int secret : {104, 137, 188, 203, 256, 271, 310, 333, 342, 398}) {
        Picture shared = Secret(secret);
        PixelateArea(shared, area, 42);
        std::vector<uint64_t> distance;
        for (const Picture& guess : guesses) {
            uint64_t d = 0;
            for (size_t i = 0; i < shared.pixels.size(); ++i) {
                const int diff = int{shared.pixels[i]} - guess.pixels[i];
                d += static_cast<uint64_t>(diff * diff);
            }
            distance.push_back(d);
        }
        const uint64_t best = *std::min_element(distance.begin(), distance.end());
        const auto nearest = std::count(distance.begin(), distance.end(), best);
        if (distance[static_cast<size_t>(secret - 100)] == best) expectedHits += 1.0 / static_cast<double>(nearest);
    }
    // Chance is 10 / 300; averaged blocks give the secret away every time.
    CHECK(expectedHits < 0.5);
}

TEST_CASE("pixelation: opaque blocks from the area's corner in the surrounding's shades; redaction one colour") {
    Picture picture{30, 20, std::vector<uint8_t>(30 * 20 * 4)};
    for (size_t i = 0; i < picture.pixels.size(); i += 4) {
        picture.pixels[i] = 200, picture.pixels[i + 1] = 150, picture.pixels[i + 2] = 100, picture.pixels[i + 3] = 90;
    }
    for (int32_t y = 3; y < 20; ++y)  // something bright under the area that must not show
        for (int32_t x = 5; x < 30; ++x) std::memset(picture.pixels.data() + (y * 30 + x) * 4, 255, 4);
    const Picture original = picture;
    PixelateArea(picture, {5, 3, 40, 40}, 7);  // runs past the right and bottom edges
    // Blocks start at the area's corner: columns 5-16, 17-28, 29; rows 3-14, 15-19.
    std::vector<uint32_t> shades;
    for (const Rect& block : {Rect{5, 3, 17, 15}, Rect{17, 3, 29, 15}, Rect{29, 3, 30, 15}, Rect{5, 15, 17, 20},
                              Rect{17, 15, 29, 20}, Rect{29, 15, 30, 20}}) {
        const uint8_t* first = PixelAt(picture, block.left, block.top);
        for (int32_t y = block.top; y < block.bottom; ++y)
            for (int32_t x = block.left; x < block.right; ++x) REQUIRE(std::equal(first, first + 4, PixelAt(picture, x, y)));
        // Near the colour around the area (red 100, green 150, blue 200), opaque.
        CHECK(first[3] == 255);
        CHECK(std::abs(first[0] - 200) <= 40);
        CHECK(std::abs(first[2] - 100) <= 40);
        CHECK((first[0] - first[2] == 100 && first[1] - first[2] == 50));
        shades.push_back(first[0]);
    }
    CHECK(std::count(shades.begin(), shades.end(), shades[0]) < 6);  // they show as blocks
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 30; ++x)
            if (x < 5 || y < 3) REQUIRE(std::equal(PixelAt(picture, x, y), PixelAt(picture, x, y) + 4, PixelAt(original, x, y)));

    // The whole picture: nothing around it, so grey shades; off the picture: nothing.
    Picture one{1, 1, {1, 2, 3, 4}};
    PixelateArea(one, {1, 1, 5, 5}, 1);
    CHECK(one.pixels == std::vector<uint8_t>{1, 2, 3, 4});
    PixelateArea(one, {-3, -3, 4, 4}, 1);
    CHECK((one.pixels[3] == 255 && one.pixels[0] == one.pixels[1] && std::abs(one.pixels[0] - 128) <= 20));

    Picture box = original;
    FillArea(box, {-5, 18, 8, 30}, 0x102030);
    CHECK(std::equal(PixelAt(box, 0, 19), PixelAt(box, 0, 19) + 4, std::vector<uint8_t>{0x30, 0x20, 0x10, 255}.begin()));
    CHECK(std::equal(PixelAt(box, 8, 19), PixelAt(box, 8, 19) + 4, PixelAt(original, 8, 19)));
}

TEST_CASE("crop handles: found by corner before side, dragged within bounds and never below the minimum") {
    const Rect crop{100, 100, 300, 200};
    const std::pair<Point, Handle> spots[] = {{{104, 96}, Handle::TopLeft}, {{300, 200}, Handle::BottomRight},
                                              {{200, 101}, Handle::Top},    {{298, 150}, Handle::Right},
                                              {{100, 152}, Handle::Left},   {{150, 150}, Handle::Inside},
                                              {{50, 50}, Handle::None},     {{310, 150}, Handle::None}};
    for (const auto& [p, handle] : spots) CHECK(HandleAt(crop, p, 10) == handle);
    // On a tiny rectangle every square overlaps: the nearest corner is meant.
    CHECK(HandleAt({100, 100, 104, 104}, {103, 104}, 10) == Handle::BottomRight);
    CHECK(HandleAt({100, 100, 104, 104}, {101, 100}, 10) == Handle::TopLeft);

    const Rect bounds{0, 0, 400, 300};
    CHECK(DragHandle(crop, Handle::TopLeft, -10, -20, bounds, 20) == Rect{90, 80, 300, 200});
    CHECK(DragHandle(crop, Handle::Right, 500, 40, bounds, 20) == Rect{100, 100, 400, 200});
    CHECK(DragHandle(crop, Handle::Left, 250, 0, bounds, 20) == Rect{280, 100, 300, 200});
    CHECK(DragHandle(crop, Handle::BottomLeft, -500, -300, bounds, 20) == Rect{0, 100, 300, 120});
    CHECK(DragHandle(crop, Handle::Inside, 150, -150, bounds, 20) == Rect{200, 0, 400, 100});
}

TEST_CASE("an edited picture takes a free name: the opened file and the user's files are never replaced") {
    const std::vector<std::wstring> there = {L"C:\\a\\shot (edited).png", L"C:\\a\\shot (edited 2).png"};
    const auto taken = [&](const std::wstring& path) { return std::find(there.begin(), there.end(), path) != there.end(); };
    CHECK(FreeEditedPath(L"C:\\a\\shot.png", taken) == L"C:\\a\\shot (edited 3).png");
    CHECK(FreeEditedPath(L"C:\\a\\shot (edited).png", taken) == L"C:\\a\\shot (edited 3).png");
    CHECK(FreeEditedPath(L"C:\\a\\shot (edited 2).png", taken) == L"C:\\a\\shot (edited 3).png");
    CHECK(FreeEditedPath(L"C:\\a\\other.jpg", taken) == L"C:\\a\\other (edited).png");
    CHECK(FreeEditedPath(L"C:\\a\\x.png", [](const std::wstring&) { return true; }).empty());

    // Two copies of a 16384 x 16384 picture are 2 GiB: they must fit in half of what is free.
    CHECK(PictureFitsMemory(16384, 16384, 8ull << 30));
    CHECK_FALSE(PictureFitsMemory(16384, 16384, 3ull << 30));
    CHECK_FALSE((PictureFitsMemory(0, 10, ~0ull) || PictureFitsMemory(1u << 25, 1, ~0ull)));

    // A screenshot that fits the screen is shown at its size, below a strip
    // laid out on one row; one too large for it is fitted.
    const Layout small = LayoutFor(640, 400, 1180, 40, 1270, 740);
    CHECK((small.scale == 1 && small.clientWidth == 1180 && small.clientHeight == 440));
    const Layout large = LayoutFor(3840, 2160, 1180, 40, 1270, 740);
    CHECK((large.clientWidth == 1270 && large.clientHeight == 740 && large.scale == doctest::Approx(700.0 / 2160)));
}

TEST_CASE("a JPEG's EXIF orientation is read within its bounds and turns it upright") {
    std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00,  // an APP0 before it
                                 0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8,
                                 0, 2, 0x01, 0x0F, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0,  // another tag first
                                 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 6, 0, 0};
    jpeg[11] = static_cast<uint8_t>(jpeg.size() - 10);
    CHECK(JpegOrientation(jpeg.data(), jpeg.size()) == 6);
    // Cut anywhere, or lying about its lengths, it says nothing.
    for (size_t cut = 0; cut < jpeg.size(); ++cut) REQUIRE(JpegOrientation(jpeg.data(), cut) == 1);
    std::vector<uint8_t> lying = jpeg;
    lying[27] = 200;  // more entries than there are
    lying[41] = 0x0F;  // and not the orientation among those there
    CHECK(JpegOrientation(lying.data(), lying.size()) == 1);
    lying = jpeg;
    lying[25] = 0xF0;  // the directory far past the end
    CHECK(JpegOrientation(lying.data(), lying.size()) == 1);
    // A 3 x 2 picture of numbered pixels, turned as each orientation asks:
    // the pixel shown at the top left, and the size shown.
    const auto turned = [](uint32_t orientation) {
        Picture p{3, 2, {}};
        for (uint8_t i = 0; i < 6; ++i) p.pixels.insert(p.pixels.end(), {i, 0, 0, 255});
        TurnUpright(p, UprightFor(orientation));
        std::vector<uint8_t> order;
        for (size_t i = 0; i < p.pixels.size(); i += 4) order.push_back(p.pixels[i]);
        return std::pair{std::pair{p.width, p.height}, order};
    };
    // 0 1 2
    // 3 4 5
    CHECK(turned(1).second == std::vector<uint8_t>{0, 1, 2, 3, 4, 5});
    CHECK(turned(2).second == std::vector<uint8_t>{2, 1, 0, 5, 4, 3});
    CHECK(turned(3).second == std::vector<uint8_t>{5, 4, 3, 2, 1, 0});
    CHECK(turned(4).second == std::vector<uint8_t>{3, 4, 5, 0, 1, 2});
    CHECK(turned(5).second == std::vector<uint8_t>{0, 3, 1, 4, 2, 5});  // transposed
    CHECK(turned(6).second == std::vector<uint8_t>{3, 0, 4, 1, 5, 2});  // a quarter turn clockwise
    CHECK(turned(7).second == std::vector<uint8_t>{5, 2, 4, 1, 3, 0});
    CHECK(turned(8).second == std::vector<uint8_t>{2, 5, 1, 4, 0, 3});
    CHECK((turned(6).first == std::pair{2, 3} && turned(9).first == std::pair{3, 2}));
}

TEST_CASE("the view shows see-through pixels on a checkerboard and averages when it shrinks") {
    // Left column opaque red, right column see-through, in a 2 x 1 picture.
    Picture picture{2, 1, {0, 0, 255, 255, 0, 255, 0, 0}};
    std::vector<uint8_t> out(16 * 8 * 4);
    RenderView(picture, 8, 16, 8, true, out.data(), 16 * 4);
    CHECK(std::equal(out.begin(), out.begin() + 4, std::vector<uint8_t>{0, 0, 255, 255}.begin()));
    CHECK(std::equal(out.begin() + 8 * 4, out.begin() + 9 * 4, std::vector<uint8_t>{204, 204, 204, 255}.begin()));
    // Shrunk to one pixel: half red, half the checker's white.
    std::vector<uint8_t> one(4);
    RenderView(picture, 0.5, 1, 1, true, one.data(), 4);
    CHECK(one == std::vector<uint8_t>{128, 128, 255, 255});
    RenderView(picture, 0.5, 1, 1, false, one.data(), 4);
    CHECK(((one == std::vector<uint8_t>{0, 0, 255, 255}) || (one == std::vector<uint8_t>{255, 255, 255, 255})));
}

TEST_CASE("edited pictures are saved beside the original as PNG, with one suffix") {
    CHECK(EditedPath(L"C:\\a\\shot.png") == L"C:\\a\\shot (edited).png");
    CHECK(EditedPath(L"C:\\a\\shot.jpg") == L"C:\\a\\shot (edited).png");
    CHECK(EditedPath(L"C:\\a\\shot (edited).png") == L"C:\\a\\shot (edited).png");
    CHECK(EditedPath(L"C:\\a\\shot (edited 12).png") == L"C:\\a\\shot (edited).png");
    CHECK(EditedPath(L"C:\\a\\shot (edited x).png") == L"C:\\a\\shot (edited x) (edited).png");
    CHECK(EditedPath(L"C:\\a (edited)\\x") == L"C:\\a (edited)\\x (edited).png");
    CHECK(EditedPath(L"C:\\a\\shot") == L"C:\\a\\shot (edited).png");
    CHECK(EditedPath(L"C:\\v1.2\\shot") == L"C:\\v1.2\\shot (edited).png");
    CHECK(EditedPath(L"C:\\a\\\U0001F600.png") == L"C:\\a\\\U0001F600 (edited).png");
}

TEST_CASE("editor document shapes: ids, step numbers, topmost hits, repaint bounds") {
    Document document(Pattern(200, 100));
    const uint64_t box = document.Add(Make(ShapeKind::Rectangle, {{60, 40}, {10, 10}}));
    const uint64_t first = document.Add(Make(ShapeKind::Step, {{100, 50}}));
    const uint64_t second = document.Add(Make(ShapeKind::Step, {{150, 50}}));
    const uint64_t third = document.Add(Make(ShapeKind::Step, {{180, 80}}));
    CHECK((box == 1 && first == 2 && second == 3 && third == 4 && document.Find(third)->number == 3));
    CHECK(document.Add(Make(ShapeKind::Pen, {})) == 0);

    CHECK(document.Delete(first));
    CHECK((document.Find(second)->number == 1 && document.Find(third)->number == 2));
    CHECK(document.Add(Make(ShapeKind::Step, {{20, 80}})) == 5);
    CHECK((document.Undo() && document.Undo()));
    CHECK((document.Find(first)->number == 1 && document.Find(third)->number == 3));
    CHECK((document.Redo() && document.Find(third)->number == 2));
    CHECK(document.Add(Make(ShapeKind::Step, {{20, 80}})) == 6);  // ids are never reused

    CHECK((document.Move(box, 5, 5) && document.Recolour(box, kColours[4])));
    CHECK(document.Find(box)->points == std::vector<Point>{{65, 45}, {15, 15}});
    CHECK(document.Find(box)->colour == kColours[4]);
    CHECK_FALSE((document.Move(99, 1, 1) || document.Recolour(99, kColours[1]) || document.Delete(99)));

    // A rectangle is hit on its outline only; a later shape wins where both are.
    CHECK(document.HitTest({16, 30}, 2) == box);
    CHECK(document.HitTest({40, 30}, 2) == 0);
    const uint64_t pen = document.Add(Make(ShapeKind::Pen, {{0, 30}, {30, 30}, {30, 0}}, 6));
    CHECK(document.HitTest({16, 30}, 2) == pen);
    CHECK((document.HitTest({166, 50}, 2) == second && document.HitTest({167, 50}, 2) == 0));
    Shape words = Make(ShapeKind::Text, {{100, 5}});
    words.text = L"Hello";
    const uint64_t text = document.Add(words);  // 75 x 20
    CHECK((document.HitTest({174, 24}, 0) == text && document.HitTest({176, 24}, 0) == 0));
    const uint64_t arrow = document.Add(Make(ShapeKind::Arrow, {{100, 90}, {190, 90}}));
    CHECK(document.HitTest({176, 82}, 1) == arrow);  // a barb, over the third step

    // Whatever is hit lies inside what gets repainted.
    for (int32_t y = -10; y < 110; ++y)
        for (int32_t x = -10; x < 210; ++x)
            if (const uint64_t id = document.HitTest({x, y}, 0)) REQUIRE(document.Bounds(*document.Find(id)).Contains({x, y}));
}

TEST_CASE("editor document history: pixelation and crop round-trip, redo forgotten, saved state tracked") {
    const Picture original = Pattern(40, 30);
    Document document(original);
    CHECK_FALSE((document.Modified() || document.Undo()));
    const uint64_t box = document.Add(Make(ShapeKind::Rectangle, {{12, 8}, {20, 20}}));

    CHECK(document.Redact({0, 0, 3, 3}, 0));
    CHECK(document.Pixelate({5, 5, 30, 20}, 9));
    const Picture pixelated = document.Base();
    CHECK(pixelated.pixels != original.pixels);
    CHECK_FALSE(document.Pixelate({50, 0, 90, 10}, 9));
    CHECK((document.Undo() && document.Undo() && document.Base().pixels == original.pixels));
    CHECK((document.Redo() && document.Redo() && document.Base().pixels == pixelated.pixels));
    CHECK_FALSE(document.Redo());

    CHECK_FALSE(document.Crop({-20, -20, 0, 0}));
    CHECK(document.Crop({10, 5, 50, 25}));
    const Picture cropped = document.Base();
    CHECK((cropped.width == 30 && cropped.height == 20));
    CHECK(std::equal(PixelAt(cropped, 29, 19), PixelAt(cropped, 29, 19) + 4, PixelAt(pixelated, 39, 24)));
    CHECK(document.Find(box)->points == std::vector<Point>{{2, 3}, {10, 15}});
    CHECK((document.Undo() && document.Base().width == 40 && document.Base().pixels == pixelated.pixels));
    CHECK(document.Find(box)->points == std::vector<Point>{{12, 8}, {20, 20}});
    CHECK((document.Redo() && document.Base().width == 30 && document.Base().pixels == cropped.pixels));
    CHECK(document.Find(box)->points == std::vector<Point>{{2, 3}, {10, 15}});
    CHECK((document.Undo() && document.Undo() && document.Undo() && document.Base().pixels == original.pixels));

    document.MarkSaved();
    CHECK((document.Redo() && document.Modified()));
    CHECK((document.Undo() && !document.Modified()));
    CHECK(document.Move(box, 1, 0));  // the pixelation and crop are gone for good
    CHECK_FALSE((document.CanRedo() || document.Redo()));

    document.MarkSaved();
    CHECK((document.Undo() && document.Recolour(box, kColours[2])));
    CHECK(document.Modified());  // the saved state cannot come back
    CHECK((document.Undo() && document.Modified()));
    CHECK((document.Undo() && !document.Undo() && document.Find(box) == nullptr));
}
