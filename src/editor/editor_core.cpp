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
        default: return false;
    }
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

void PixelateArea(Picture& picture, const Rect& area) {
    if (!Whole(picture)) return;
    const Rect inside = Intersection(area, picture.Bounds());
    for (int32_t top = inside.top; top < inside.bottom; top += kPixelBlock) {
        const int32_t bottom = std::min(top + kPixelBlock, inside.bottom);
        for (int32_t left = inside.left; left < inside.right; left += kPixelBlock) {
            const int32_t right = std::min(left + kPixelBlock, inside.right);
            uint32_t sum[4] = {};
            for (int32_t y = top; y < bottom; ++y) {
                const uint8_t* pixel = picture.pixels.data() + Offset(picture, left, y);
                for (int32_t x = left; x < right; ++x, pixel += 4)
                    for (int c = 0; c < 4; ++c) sum[c] += pixel[c];
            }
            const uint32_t count = static_cast<uint32_t>((right - left) * (bottom - top));
            uint8_t average[4];
            for (int c = 0; c < 4; ++c) average[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
            for (int32_t y = top; y < bottom; ++y) {
                uint8_t* pixel = picture.pixels.data() + Offset(picture, left, y);
                for (int32_t x = left; x < right; ++x, pixel += 4) std::memcpy(pixel, average, 4);
            }
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
    const std::wstring stem = extension ? original.substr(0, dot) : original;
    const std::wstring suffix = L" (edited)";
    if (stem.ends_with(suffix)) return stem + L".png";
    return stem + suffix + L".png";
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

bool Document::Pixelate(const Rect& area) {
    if (!Whole(picture_)) return false;
    Edit edit;
    edit.area = Intersection(area, picture_.Bounds());
    if (edit.area.Empty()) return false;
    edit.before = ReadPatch(picture_, edit.area);
    PixelateArea(picture_, edit.area);
    edit.after = ReadPatch(picture_, edit.area);
    edit.shapesBefore = edit.shapesAfter = shapes_;
    Record(std::move(edit));
    return true;
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
    } else if (!edit.after.empty()) {
        WritePatch(picture_, edit.area, edit.after);
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
