#include <doctest.h>

#include <algorithm>
#include <cmath>

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
    const Tool order[] = {Tool::Select, Tool::Arrow, Tool::Rectangle, Tool::Pen,     Tool::Highlighter,
                          Tool::Text,   Tool::Step,  Tool::Pixelate,  Tool::Crop};
    for (size_t i = 0; i < 9; ++i) {
        CHECK((ToolForKey(L"VARPHTNBC"[i], tool) && tool == order[i]));
        CHECK((ToolForKey(L"varphtnbc"[i], tool) && tool == order[i]));
    }
    CHECK_FALSE((ToolForKey(L'x', tool) || tool != Tool::Crop));

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

TEST_CASE("pixelation gives each block its average and leaves the rest alone") {
    const Picture original = Pattern(30, 20);
    Picture picture = original;
    PixelateArea(picture, {5, 3, 40, 40});  // runs past the right and bottom edges
    // Blocks start at the area's corner: columns 5-16, 17-28, 29; rows 3-14, 15-19.
    for (const Rect& block : {Rect{5, 3, 17, 15}, Rect{17, 3, 29, 15}, Rect{29, 3, 30, 15}, Rect{5, 15, 17, 20},
                              Rect{17, 15, 29, 20}, Rect{29, 15, 30, 20}})
        for (int c = 0; c < 4; ++c) {
            double sum = 0;
            for (int32_t y = block.top; y < block.bottom; ++y)
                for (int32_t x = block.left; x < block.right; ++x) sum += PixelAt(original, x, y)[c];
            const int expected = static_cast<int>(std::floor(sum / (block.Width() * block.Height()) + 0.5));
            for (int32_t y = block.top; y < block.bottom; ++y)
                for (int32_t x = block.left; x < block.right; ++x) REQUIRE(PixelAt(picture, x, y)[c] == expected);
        }
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 30; ++x)
            if (x < 5 || y < 3) REQUIRE(std::equal(PixelAt(picture, x, y), PixelAt(picture, x, y) + 4, PixelAt(original, x, y)));

    // Halves round up; a single pixel is its own average; areas off the picture do nothing.
    Picture pair{2, 1, {0, 10, 255, 1, 255, 11, 0, 2}};
    PixelateArea(pair, {-4, -4, 9, 9});
    CHECK(pair.pixels == std::vector<uint8_t>{128, 11, 128, 2, 128, 11, 128, 2});
    Picture one{1, 1, {1, 2, 3, 4}};
    for (const Rect& area : {Rect{0, 0, 1, 1}, Rect{1, 1, 5, 5}, Rect{-3, -3, 0, 0}}) PixelateArea(one, area);
    CHECK(one.pixels == std::vector<uint8_t>{1, 2, 3, 4});

    Picture large = Pattern(3840, 2160);
    PixelateArea(large, {1, 1, 3840, 2160});
    CHECK(std::equal(PixelAt(large, 3829, 2149), PixelAt(large, 3829, 2149) + 4, PixelAt(large, 3839, 2159)));
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

TEST_CASE("edited pictures are saved beside the original as PNG, with one suffix") {
    CHECK(EditedPath(L"C:\\a\\shot.png") == L"C:\\a\\shot (edited).png");
    CHECK(EditedPath(L"C:\\a\\shot.jpg") == L"C:\\a\\shot (edited).png");
    CHECK(EditedPath(L"C:\\a\\shot (edited).png") == L"C:\\a\\shot (edited).png");
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

    CHECK(document.Pixelate({5, 5, 30, 20}));
    const Picture pixelated = document.Base();
    CHECK(pixelated.pixels != original.pixels);
    CHECK_FALSE(document.Pixelate({50, 0, 90, 10}));
    CHECK((document.Undo() && document.Base().pixels == original.pixels));
    CHECK((document.Redo() && document.Base().pixels == pixelated.pixels));
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
    CHECK((document.Undo() && document.Undo() && document.Base().pixels == original.pixels));

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
