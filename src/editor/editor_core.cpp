#include "editor/editor_core.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace editor {

Rect Union(const Rect& a, const Rect& b) {
    if (a.Empty()) return b.Empty() ? Rect{} : b;
    if (b.Empty()) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

Rect Intersection(const Rect& a, const Rect& b) {
    const Rect common{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                      std::min(a.bottom, b.bottom)};
    return common.Empty() ? Rect{} : common;
}

bool ToolForKey(wchar_t key, Tool& tool) {
    switch (key) {
        case L'V': case L'v': tool = Tool::Select; return true;
        case L'A': case L'a': tool = Tool::Arrow; return true;
        case L'R': case L'r': tool = Tool::Rectangle; return true;
        case L'P': case L'p': tool = Tool::Pen; return true;
        case L'H': case L'h': tool = Tool::Highlighter; return true;
        case L'T': case L't': tool = Tool::Text; return true;
        case L'N': case L'n': tool = Tool::Step; return true;
        case L'B': case L'b': tool = Tool::Pixelate; return true;
        case L'C': case L'c': tool = Tool::Crop; return true;
        case L'X': case L'x': tool = Tool::Redact; return true;
        default: return false;
    }
}

KeyAction ActionForKey(uint32_t key, bool ctrl, bool alt, bool shift, bool typing, Tool& tool) {
    constexpr uint32_t kReturn = 0x0D, kEscape = 0x1B, kDelete = 0x2E;
    if (ctrl && alt) return KeyAction::None;  // AltGr: a character is on its way
    if (ctrl) {
        switch (key) {
            case 'Z': return KeyAction::Undo;
            case 'Y': return KeyAction::Redo;
            case 'C': return KeyAction::Copy;
            case 'S': return shift ? KeyAction::SaveAs : KeyAction::Save;
            case '0': return KeyAction::Fit;
            case '1': return KeyAction::Actual;
            default: return KeyAction::None;
        }
    }
    if (alt) return KeyAction::None;
    if (typing) {
        if (key == kReturn) return KeyAction::KeepText;
        if (key == kEscape) return KeyAction::DropText;
        return KeyAction::None;
    }
    if (key == kDelete) return KeyAction::Delete;
    if (key == kReturn) return KeyAction::Apply;
    if (key == kEscape) return KeyAction::Leave;
    if (key < 0x80 && ToolForKey(static_cast<wchar_t>(key), tool)) return KeyAction::PickTool;
    return KeyAction::None;
}

ArrowHead ArrowHeadOf(Point tail, Point tip, int32_t width) {
    const double backX = static_cast<double>(tail.x) - tip.x, backY = static_cast<double>(tail.y) - tip.y;
    const double length = std::hypot(backX, backY);
    if (length == 0) return {tip, tip, tip};
    const double barb = std::max(16, width * 4);
    const double ux = backX / length * barb, uy = backY / length * barb;
    const double c = std::cos(std::numbers::pi / 6), s = std::sin(std::numbers::pi / 6);
    // With y pointing down, turning the backward direction by +30 degrees
    // lands on the left of the direction of travel.
    const auto end = [&](double x, double y) {
        return Point{static_cast<int32_t>(std::lround(tip.x + x)), static_cast<int32_t>(std::lround(tip.y + y))};
    };
    return {tip, end(ux * c - uy * s, ux * s + uy * c), end(ux * c + uy * s, -ux * s + uy * c)};
}

int32_t StepRadius(int32_t width) { return 10 + width * 3 / 2; }

int32_t TextHeight(int32_t width) { return 14 + width * 2; }

Rect DragRect(Point a, Point b, const Rect& bounds) {
    return Intersection({std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)}, bounds);
}

namespace {

// A picture whose buffer is shorter than its size claims is never touched.
bool Whole(const Picture& picture) {
    return picture.width > 0 && picture.height > 0 &&
           picture.pixels.size() >= static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 4;
}

size_t Offset(const Picture& picture, int32_t x, int32_t y) {
    return (static_cast<size_t>(y) * static_cast<size_t>(picture.width) + static_cast<size_t>(x)) * 4;
}

std::vector<uint8_t> ReadPatch(const Picture& picture, const Rect& area) {
    const size_t row = static_cast<size_t>(area.Width()) * 4;
    std::vector<uint8_t> patch(row * static_cast<size_t>(area.Height()));
    for (int32_t y = area.top; y < area.bottom; ++y)
        std::memcpy(patch.data() + row * static_cast<size_t>(y - area.top),
                    picture.pixels.data() + Offset(picture, area.left, y), row);
    return patch;
}

void WritePatch(Picture& picture, const Rect& area, const std::vector<uint8_t>& patch) {
    const size_t row = static_cast<size_t>(area.Width()) * 4;
    for (int32_t y = area.top; y < area.bottom; ++y)
        std::memcpy(picture.pixels.data() + Offset(picture, area.left, y),
                    patch.data() + row * static_cast<size_t>(y - area.top), row);
}

Picture CropOf(const Picture& picture, const Rect& area) {
    Picture cropped;
    cropped.width = area.Width();
    cropped.height = area.Height();
    cropped.pixels = ReadPatch(picture, area);
    return cropped;
}

double SegmentDistance(Point p, Point a, Point b) {
    const double abx = static_cast<double>(b.x) - a.x, aby = static_cast<double>(b.y) - a.y;
    const double apx = static_cast<double>(p.x) - a.x, apy = static_cast<double>(p.y) - a.y;
    const double lengthSquared = abx * abx + aby * aby;
    const double t = lengthSquared == 0 ? 0 : std::clamp((apx * abx + apy * aby) / lengthSquared, 0.0, 1.0);
    return std::hypot(apx - t * abx, apy - t * aby);
}

Rect Grown(const Rect& r, int32_t by) { return {r.left - by, r.top - by, r.right + by, r.bottom + by}; }

Rect TextBox(const Shape& shape) {
    const int32_t height = TextHeight(shape.width);
    const int32_t characters = static_cast<int32_t>(std::max<size_t>(1, shape.text.size()));
    const Point at = shape.points[0];
    return {at.x, at.y, at.x + characters * height * 3 / 4, at.y + height};
}

// The pixels on both sides of each point, so a one-point shape covers one pixel.
Rect PointBox(const std::vector<Point>& points) {
    Rect box{points[0].x, points[0].y, points[0].x + 1, points[0].y + 1};
    for (const Point& p : points) box = Union(box, {p.x, p.y, p.x + 1, p.y + 1});
    return box;
}

// Room for antialiased edges that spill a pixel or two beyond the geometry.
constexpr int32_t kSmoothing = 2;

constexpr size_t kNeverSaved = std::numeric_limits<size_t>::max();

}  // namespace

namespace {

uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint8_t MedianOf(std::vector<uint8_t>& values) {
    const auto middle = values.begin() + static_cast<ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The median colour (0xRRGGBB) of the pixels that border `inside` from
// outside, at most a few thousand of them; grey when nothing borders it.
uint32_t SurroundingColour(const Picture& picture, const Rect& inside) {
    std::vector<uint8_t> channel[3];
    const auto take = [&](int32_t x, int32_t y) {
        const uint8_t* pixel = picture.pixels.data() + Offset(picture, x, y);
        for (int c = 0; c < 3; ++c) channel[c].push_back(pixel[c]);
    };
    const int32_t perimeter = 2 * (inside.Width() + inside.Height());
    const int32_t step = std::max(1, perimeter / 4096);
    const int32_t left = std::max(inside.left - 1, 0), right = std::min(inside.right + 1, picture.width);
    for (int32_t x = left; x < right; x += step) {
        if (inside.top > 0) take(x, inside.top - 1);
        if (inside.bottom < picture.height) take(x, inside.bottom);
    }
    for (int32_t y = inside.top; y < inside.bottom; y += step) {
        if (inside.left > 0) take(inside.left - 1, y);
        if (inside.right < picture.width) take(inside.right, y);
    }
    if (channel[0].empty()) return 0x808080;
    return static_cast<uint32_t>(MedianOf(channel[2])) << 16 | static_cast<uint32_t>(MedianOf(channel[1])) << 8 |
           MedianOf(channel[0]);
}

void FillBlock(Picture& picture, const Rect& block, uint32_t rgb) {
    const uint8_t colour[4] = {static_cast<uint8_t>(rgb), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb >> 16),
                               255};
    for (int32_t y = block.top; y < block.bottom; ++y) {
        uint8_t* pixel = picture.pixels.data() + Offset(picture, block.left, y);
        for (int32_t x = block.left; x < block.right; ++x, pixel += 4) std::memcpy(pixel, colour, 4);
    }
}

}  // namespace

uint32_t ShadeOf(uint32_t base, uint64_t seed, uint32_t block) {
    const int r = static_cast<int>(base >> 16 & 0xFF), g = static_cast<int>(base >> 8 & 0xFF), b = static_cast<int>(base & 0xFF);
    // Blocks differ by up to 40 levels, darker on a light surrounding and
    // lighter on a dark one, so they always show as blocks.
    constexpr int kSpread = 40;
    const int light = (r * 3 + g * 6 + b) / 10;
    const int lowest = light > 255 - kSpread ? -kSpread : light < kSpread ? 0 : -kSpread / 2;
    const int shift = lowest + static_cast<int>(Mix(seed ^ Mix(block)) % (kSpread + 1));
    const auto channel = [shift](int value) { return static_cast<uint32_t>(std::clamp(value + shift, 0, 255)); };
    return channel(r) << 16 | channel(g) << 8 | channel(b);
}

void PixelateArea(Picture& picture, const Rect& area, uint64_t seed) {
    if (!Whole(picture)) return;
    const Rect inside = Intersection(area, picture.Bounds());
    if (inside.Empty()) return;
    const uint32_t base = SurroundingColour(picture, inside);
    uint32_t block = 0;
    for (int32_t top = inside.top; top < inside.bottom; top += kPixelBlock)
        for (int32_t left = inside.left; left < inside.right; left += kPixelBlock)
            FillBlock(picture,
                      {left, top, std::min(left + kPixelBlock, inside.right), std::min(top + kPixelBlock, inside.bottom)},
                      ShadeOf(base, seed, block++));
}

void FillArea(Picture& picture, const Rect& area, uint32_t colour) {
    if (!Whole(picture)) return;
    const Rect inside = Intersection(area, picture.Bounds());
    if (!inside.Empty()) FillBlock(picture, inside, colour);
}

Upright UprightFor(uint32_t orientation) {
    switch (orientation) {
        case 2: return {0, true};
        case 3: return {2, false};
        case 4: return {2, true};
        case 5: return {1, true};
        case 6: return {1, false};
        case 7: return {3, true};
        case 8: return {3, false};
        default: return {};
    }
}

void TurnUpright(Picture& picture, Upright upright) {
    if (!Whole(picture)) return;
    const int32_t turns = upright.quarterTurns & 3;
    const auto w = static_cast<size_t>(picture.width), h = static_cast<size_t>(picture.height);
    uint32_t* pixels = reinterpret_cast<uint32_t*>(picture.pixels.data());
    if (turns == 2) std::reverse(pixels, pixels + w * h);
    if (turns == 1 || turns == 3) {
        std::vector<uint8_t> turned(picture.pixels.size());
        auto* to = reinterpret_cast<uint32_t*>(turned.data());
        // Shown w' = h wide: a clockwise turn takes row y' from column y',
        // bottom up; an anticlockwise one from column w-1-y', top down.
        for (size_t y = 0; y < w; ++y)
            for (size_t x = 0; x < h; ++x)
                to[y * h + x] = turns == 1 ? pixels[(h - 1 - x) * w + y] : pixels[x * w + (w - 1 - y)];
        picture.pixels.swap(turned);
        std::swap(picture.width, picture.height);
        pixels = reinterpret_cast<uint32_t*>(picture.pixels.data());
    }
    if (upright.mirror)
        for (int32_t y = 0; y < picture.height; ++y) {
            uint32_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(picture.width);
            std::reverse(row, row + picture.width);
        }
}

namespace {

// The orientation entry of a TIFF header's first directory, as EXIF keeps it.
uint32_t TiffOrientation(const uint8_t* t, size_t n) {
    if (n < 8) return 1;
    const bool little = t[0] == 'I' && t[1] == 'I';
    if (!little && !(t[0] == 'M' && t[1] == 'M')) return 1;
    const auto u16 = [&](size_t at) -> uint32_t {
        return little ? t[at] | t[at + 1] << 8 : t[at] << 8 | t[at + 1];
    };
    const auto u32 = [&](size_t at) -> uint64_t { return little ? u16(at) | uint64_t{u16(at + 2)} << 16 : uint64_t{u16(at)} << 16 | u16(at + 2); };
    if (u16(2) != 42) return 1;
    const uint64_t directory = u32(4);
    if (directory + 2 > n) return 1;
    const uint32_t entries = u16(static_cast<size_t>(directory));
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t entry = directory + 2 + uint64_t{i} * 12;
        if (entry + 12 > n) return 1;
        const auto at = static_cast<size_t>(entry);
        if (u16(at) != 0x0112) continue;
        const uint32_t value = u16(at + 2) == 3 && u32(at + 4) == 1 ? u16(at + 8) : 0;  // one SHORT
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

}  // namespace

uint32_t JpegOrientation(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 1;
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return 1;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill
            ++at;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return 1;  // the picture itself: no more metadata
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const size_t length = static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || length > size - at - 2) return 1;
        const uint8_t* segment = data + at + 4;
        const size_t bytes = length - 2;
        if (marker == 0xE1 && bytes >= 6 && std::memcmp(segment, "Exif\0\0", 6) == 0)
            return TiffOrientation(segment + 6, bytes - 6);
        at += 2 + length;
    }
    return 1;
}

bool PictureFitsMemory(uint64_t width, uint64_t height, uint64_t available) {
    if (width == 0 || height == 0 || width > (1u << 24) || height > (1u << 24)) return false;
    const uint64_t copy = width * height * 4;
    return copy <= available / 4;  // two copies in at most half of it
}

double FitScale(int32_t pictureWidth, int32_t pictureHeight, int32_t width, int32_t height) {
    if (pictureWidth <= 0 || pictureHeight <= 0) return 1;
    return std::min({1.0, static_cast<double>(std::max(width, 1)) / pictureWidth,
                     static_cast<double>(std::max(height, 1)) / pictureHeight});
}

Layout LayoutFor(int32_t pictureWidth, int32_t pictureHeight, int32_t stripWidth, int32_t stripHeight,
                 int32_t roomWidth, int32_t roomHeight) {
    Layout layout;
    layout.clientWidth = std::max(1, std::min(std::max(pictureWidth, stripWidth), roomWidth));
    layout.clientHeight = std::max(stripHeight + 1, std::min(pictureHeight + stripHeight, roomHeight));
    layout.scale = FitScale(pictureWidth, pictureHeight, layout.clientWidth, layout.clientHeight - stripHeight);
    return layout;
}

void RenderView(const Picture& picture, double scale, int32_t width, int32_t height, bool smooth, uint8_t* out,
                size_t stride) {
    if (!Whole(picture) || width <= 0 || height <= 0 || out == nullptr || !(scale > 0)) return;
    // Each shown pixel's samples, as picture columns and rows.
    const double footprint = 1 / scale;
    const int32_t samples = smooth && footprint > 1 ? std::min(4, static_cast<int32_t>(std::ceil(footprint))) : 1;
    const auto positions = [&](int32_t count, int32_t limit) {
        std::vector<int32_t> at(static_cast<size_t>(count) * samples);
        for (int32_t i = 0; i < count; ++i)
            for (int32_t k = 0; k < samples; ++k) {
                const double p = (i + (k + 0.5) / samples) * footprint;
                at[static_cast<size_t>(i) * samples + k] = std::clamp(static_cast<int32_t>(p), 0, limit - 1);
            }
        return at;
    };
    const std::vector<int32_t> columns = positions(width, picture.width), rows = positions(height, picture.height);
    const uint32_t count = static_cast<uint32_t>(samples * samples);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* target = out + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < width; ++x, target += 4) {
            uint32_t premultiplied[3] = {}, alpha = 0;
            for (int32_t j = 0; j < samples; ++j) {
                const uint8_t* row = picture.pixels.data() +
                                     Offset(picture, 0, rows[static_cast<size_t>(y) * samples + j]);
                for (int32_t k = 0; k < samples; ++k) {
                    const uint8_t* pixel = row + static_cast<size_t>(columns[static_cast<size_t>(x) * samples + k]) * 4;
                    for (int c = 0; c < 3; ++c) premultiplied[c] += pixel[c] * pixel[3];
                    alpha += pixel[3];
                }
            }
            // See-through parts over squares of 8 shown pixels.
            const uint32_t checker = ((x / 8 + y / 8) & 1) ? 204 : 255;
            for (int c = 0; c < 3; ++c)
                target[c] = static_cast<uint8_t>((premultiplied[c] + checker * (255 * count - alpha) + 255 * count / 2) /
                                                 (255 * count));
            target[3] = 255;
        }
    }
}

Handle HandleAt(const Rect& crop, Point p, int32_t size) {
    const int32_t midX = crop.left + crop.Width() / 2, midY = crop.top + crop.Height() / 2;
    struct Spot {
        Handle handle;
        Point at;
    };
    const Spot corners[] = {{Handle::TopLeft, {crop.left, crop.top}},
                            {Handle::TopRight, {crop.right, crop.top}},
                            {Handle::BottomRight, {crop.right, crop.bottom}},
                            {Handle::BottomLeft, {crop.left, crop.bottom}}};
    const Spot sides[] = {{Handle::Top, {midX, crop.top}},
                          {Handle::Right, {crop.right, midY}},
                          {Handle::Bottom, {midX, crop.bottom}},
                          {Handle::Left, {crop.left, midY}}};
    // On a small rectangle the squares overlap: the nearest one is meant.
    const auto nearest = [&](const auto& spots) {
        Handle found = Handle::None;
        int64_t best = std::numeric_limits<int64_t>::max();
        for (const Spot& spot : spots) {
            const Rect square{spot.at.x - size / 2, spot.at.y - size / 2, spot.at.x - size / 2 + size,
                              spot.at.y - size / 2 + size};
            if (!square.Contains(p)) continue;
            const int64_t dx = int64_t{p.x} - spot.at.x, dy = int64_t{p.y} - spot.at.y;
            if (dx * dx + dy * dy < best) {
                best = dx * dx + dy * dy;
                found = spot.handle;
            }
        }
        return found;
    };
    if (const Handle corner = nearest(corners); corner != Handle::None) return corner;
    if (const Handle side = nearest(sides); side != Handle::None) return side;
    return crop.Contains(p) ? Handle::Inside : Handle::None;
}

Rect DragHandle(const Rect& crop, Handle handle, int32_t dx, int32_t dy, const Rect& bounds, int32_t minimum) {
    minimum = std::max(minimum, 1);
    Rect r = crop;
    if (handle == Handle::None) return r;
    if (handle == Handle::Inside) {
        const int32_t x = std::max(std::min(crop.left + dx, bounds.right - crop.Width()), bounds.left);
        const int32_t y = std::max(std::min(crop.top + dy, bounds.bottom - crop.Height()), bounds.top);
        return Intersection({x, y, x + crop.Width(), y + crop.Height()}, bounds);
    }
    const bool left = handle == Handle::TopLeft || handle == Handle::Left || handle == Handle::BottomLeft;
    const bool right = handle == Handle::TopRight || handle == Handle::Right || handle == Handle::BottomRight;
    const bool top = handle == Handle::TopLeft || handle == Handle::Top || handle == Handle::TopRight;
    const bool bottom = handle == Handle::BottomLeft || handle == Handle::Bottom || handle == Handle::BottomRight;
    // An edge stops short of the opposite one rather than turning the rectangle inside out.
    if (left) r.left = std::max(std::min(crop.left + dx, crop.right - minimum), bounds.left);
    if (right) r.right = std::min(std::max(crop.right + dx, crop.left + minimum), bounds.right);
    if (top) r.top = std::max(std::min(crop.top + dy, crop.bottom - minimum), bounds.top);
    if (bottom) r.bottom = std::min(std::max(crop.bottom + dy, crop.top + minimum), bounds.bottom);
    return r;
}

std::wstring EditedPath(const std::wstring& original) {
    const size_t slash = original.find_last_of(L"\\/");
    const size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    const size_t dot = original.rfind(L'.');
    // A leading dot names a file rather than starting its extension.
    const bool extension = dot != std::wstring::npos && dot > nameStart;
    std::wstring stem = extension ? original.substr(0, dot) : original;
    // " (edited)" or " (edited N)" already there is not added to.
    const std::wstring lead = L" (edited";
    const size_t at = stem.rfind(lead);
    if (at != std::wstring::npos && at >= nameStart && stem.ends_with(L")")) {
        const std::wstring number = stem.substr(at + lead.size(), stem.size() - 1 - at - lead.size());
        const bool numbered = number.size() >= 2 && number[0] == L' ' &&
                              std::all_of(number.begin() + 1, number.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
        if (number.empty() || numbered) stem.resize(at);
    }
    return stem + L" (edited).png";
}

Document::Document(Picture picture) : picture_(std::move(picture)) {}

const Shape* Document::Find(uint64_t id) const {
    for (const Shape& shape : shapes_)
        if (shape.id == id) return &shape;
    return nullptr;
}

uint64_t Document::Add(Shape shape) {
    if (shape.points.empty()) return 0;
    Edit edit;
    edit.shapesBefore = shapes_;
    shape.id = nextId_++;
    if (shape.kind == ShapeKind::Step)
        shape.number = 1 + static_cast<int32_t>(std::count_if(
                               shapes_.begin(), shapes_.end(), [](const Shape& s) { return s.kind == ShapeKind::Step; }));
    shapes_.push_back(std::move(shape));
    edit.shapesAfter = shapes_;
    Record(std::move(edit));
    return shapes_.back().id;
}

bool Document::Move(uint64_t id, int32_t dx, int32_t dy) {
    if (!Find(id)) return false;
    if (dx == 0 && dy == 0) return true;  // a click without a drag is not a change
    Edit edit;
    edit.shapesBefore = shapes_;
    for (Shape& shape : shapes_)
        if (shape.id == id)
            for (Point& p : shape.points) p = {p.x + dx, p.y + dy};
    edit.shapesAfter = shapes_;
    Record(std::move(edit));
    return true;
}

bool Document::Recolour(uint64_t id, uint32_t colour) {
    const Shape* found = Find(id);
    if (!found) return false;
    if (found->colour == colour) return true;
    Edit edit;
    edit.shapesBefore = shapes_;
    for (Shape& shape : shapes_)
        if (shape.id == id) shape.colour = colour;
    edit.shapesAfter = shapes_;
    Record(std::move(edit));
    return true;
}

bool Document::Delete(uint64_t id) {
    if (!Find(id)) return false;
    Edit edit;
    edit.shapesBefore = shapes_;
    std::erase_if(shapes_, [id](const Shape& s) { return s.id == id; });
    Renumber();
    edit.shapesAfter = shapes_;
    Record(std::move(edit));
    return true;
}

bool Document::Pixelate(const Rect& area, uint64_t seed) {
    Edit edit;
    edit.pixelate = true;
    edit.seed = seed;
    return BurnNew(area, std::move(edit));
}

bool Document::Redact(const Rect& area, uint32_t colour) {
    Edit edit;
    edit.colour = colour;
    return BurnNew(area, std::move(edit));
}

bool Document::BurnNew(const Rect& area, Edit edit) {
    if (!Whole(picture_)) return false;
    edit.area = Intersection(area, picture_.Bounds());
    if (edit.area.Empty()) return false;
    edit.before = ReadPatch(picture_, edit.area);
    Burn(edit);
    edit.shapesBefore = edit.shapesAfter = shapes_;
    Record(std::move(edit));
    return true;
}

void Document::Burn(const Edit& edit) {
    if (edit.pixelate) PixelateArea(picture_, edit.area, edit.seed);
    else FillArea(picture_, edit.area, edit.colour);
}

bool Document::Crop(const Rect& area) {
    if (!Whole(picture_)) return false;
    Edit edit;
    edit.area = Intersection(area, picture_.Bounds());
    if (edit.area.Empty()) return false;
    if (edit.area == picture_.Bounds()) return true;  // the picture as it is: nothing to undo
    edit.crop = true;
    edit.shapesBefore = shapes_;
    for (Shape& shape : shapes_)
        for (Point& p : shape.points) p = {p.x - edit.area.left, p.y - edit.area.top};
    edit.shapesAfter = shapes_;
    Picture cropped = CropOf(picture_, edit.area);
    edit.pictureBefore = std::move(picture_);
    picture_ = std::move(cropped);
    Record(std::move(edit));
    return true;
}

bool Document::Undo() {
    if (!CanUndo()) return false;
    Edit& edit = history_[--done_];
    if (edit.crop) {
        // The whole picture moves back out of the history rather than being
        // copied; redoing the crop hands it back.
        picture_ = std::move(edit.pictureBefore);
        edit.pictureBefore = {};
    } else if (!edit.before.empty()) {
        WritePatch(picture_, edit.area, edit.before);
    }
    shapes_ = edit.shapesBefore;
    return true;
}

bool Document::Redo() {
    if (!CanRedo()) return false;
    Edit& edit = history_[done_++];
    if (edit.crop) {
        Picture cropped = CropOf(picture_, edit.area);
        edit.pictureBefore = std::move(picture_);
        picture_ = std::move(cropped);
    } else if (!edit.before.empty()) {
        // The picture is as it was when the edit was first made, around the
        // area too, so it burns the same again.
        Burn(edit);
    }
    shapes_ = edit.shapesAfter;
    return true;
}

void Document::Record(Edit edit) {
    // Dropping the redo tail that held the saved state means no state from
    // now on can be the saved one.
    if (saved_ > done_) saved_ = kNeverSaved;
    history_.resize(done_);
    history_.push_back(std::move(edit));
    done_ = history_.size();
}

void Document::Renumber() {
    int32_t number = 0;
    for (Shape& shape : shapes_)
        if (shape.kind == ShapeKind::Step) shape.number = ++number;
}

uint64_t Document::HitTest(Point p, int32_t tolerance) const {
    for (auto it = shapes_.rbegin(); it != shapes_.rend(); ++it) {
        const Shape& shape = *it;
        if (shape.points.empty()) continue;
        const double reach = tolerance + shape.width / 2.0;
        const auto nearPath = [&](const std::vector<Point>& path) {
            if (path.size() == 1) return SegmentDistance(p, path[0], path[0]) <= reach;
            for (size_t i = 1; i < path.size(); ++i)
                if (SegmentDistance(p, path[i - 1], path[i]) <= reach) return true;
            return false;
        };
        bool hit = false;
        switch (shape.kind) {
            case ShapeKind::Arrow: {
                hit = nearPath(shape.points);
                if (!hit && shape.points.size() >= 2) {
                    const ArrowHead head = ArrowHeadOf(shape.points[0], shape.points[1], shape.width);
                    hit = nearPath({head.left, head.tip, head.right});
                }
                break;
            }
            case ShapeKind::Pen:
            case ShapeKind::Highlighter: hit = nearPath(shape.points); break;
            case ShapeKind::Rectangle: {
                const Point a = shape.points[0], b = shape.points.size() > 1 ? shape.points[1] : a;
                hit = nearPath({a, {b.x, a.y}, b, {a.x, b.y}, a});
                break;
            }
            case ShapeKind::Text: hit = Grown(TextBox(shape), tolerance).Contains(p); break;
            case ShapeKind::Step: {
                const int64_t dx = int64_t{p.x} - shape.points[0].x, dy = int64_t{p.y} - shape.points[0].y;
                const int64_t r = StepRadius(shape.width) + tolerance;
                hit = dx * dx + dy * dy <= r * r;
                break;
            }
        }
        if (hit) return shape.id;
    }
    return 0;
}

Rect Document::Bounds(const Shape& shape) const {
    if (shape.points.empty()) return {};
    Rect drawn;
    switch (shape.kind) {
        case ShapeKind::Text: drawn = TextBox(shape); break;
        case ShapeKind::Step: {
            const int32_t r = StepRadius(shape.width);
            const Point c = shape.points[0];
            drawn = {c.x - r, c.y - r, c.x + r + 1, c.y + r + 1};
            break;
        }
        case ShapeKind::Arrow:
            drawn = Grown(PointBox(shape.points), shape.width);
            if (shape.points.size() >= 2) {
                const ArrowHead head = ArrowHeadOf(shape.points[0], shape.points[1], shape.width);
                drawn = Union(drawn, Grown(PointBox({head.left, head.right}), shape.width));
            }
            break;
        default: drawn = Grown(PointBox(shape.points), shape.width); break;
    }
    return Grown(drawn, kSmoothing);
}

}  // namespace editor
