#pragma once
// The screenshot editor's document, in portable C++: the picture, the shapes
// drawn over it (editable until the picture is saved), the pixel changes made
// to it (pixelation, crop), and a history that undoes and redoes every one of
// them without limit. Also the geometry the window draws with: arrow heads,
// numbered steps, drag rectangles and crop handles.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace editor {

struct Point {
    int32_t x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

// Right and bottom are outside the rectangle.
struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    bool operator==(const Rect&) const = default;
};

// The smallest rectangle holding both; an empty one adds nothing.
Rect Union(const Rect& a, const Rect& b);
// What the two have in common; empty (all zero) when nothing.
Rect Intersection(const Rect& a, const Rect& b);

// A picture: B8G8R8A8 rows of width * 4 bytes, top row first.
struct Picture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    Rect Bounds() const { return {0, 0, width, height}; }
};

enum class Tool { Select, Arrow, Rectangle, Pen, Highlighter, Text, Step, Pixelate, Crop };

// The tool a key picks (V, A, R, P, H, T, N, B, C, either case); false for other keys.
bool ToolForKey(wchar_t key, Tool& tool);

// The strip's colours (0xRRGGBB): red, orange, yellow, green, blue, black.
constexpr uint32_t kColours[6] = {0xE53935, 0xFB8C00, 0xFDD835, 0x43A047, 0x1E88E5, 0x000000};
// The strip's stroke widths, in picture pixels.
constexpr int32_t kWidths[3] = {3, 6, 12};
// Pixelation blocks are this many pixels square (the last ones of a row or
// column may be smaller where the area ends).
constexpr int32_t kPixelBlock = 12;

enum class ShapeKind { Arrow, Rectangle, Pen, Highlighter, Text, Step };

struct Shape {
    uint64_t id = 0;  // given by the document, never 0
    ShapeKind kind = ShapeKind::Rectangle;
    uint32_t colour = kColours[0];
    int32_t width = kWidths[0];
    // Arrow: tail, tip. Rectangle: two opposite corners. Pen and highlighter:
    // the path. Text: its top left corner. Step: its centre.
    std::vector<Point> points;
    std::wstring text;   // a text shape's words, one line
    int32_t number = 0;  // a step's number: 1, 2, 3 … in the order placed
};

// Where an arrow's head is drawn: the tip and the two barb ends, at 30
// degrees either side of the shaft, long enough to see at any width.
struct ArrowHead {
    Point tip, left, right;
};
ArrowHead ArrowHeadOf(Point tail, Point tip, int32_t width);

// The radius of a numbered step's circle for a stroke width.
int32_t StepRadius(int32_t width);

// The text's height in picture pixels for a stroke width.
int32_t TextHeight(int32_t width);

// The rectangle a drag from `a` to `b` covers, in either direction, kept inside `bounds`.
Rect DragRect(Point a, Point b, const Rect& bounds);

// Replaces every kPixelBlock-square block of `area` (kept inside the
// picture) by the block's average colour, in place: nothing of the pixels
// that were there can be read back from the result.
void PixelateArea(Picture& picture, const Rect& area);

// The handles of a crop rectangle: its corners, its sides' middles, and its inside.
enum class Handle { None, TopLeft, Top, TopRight, Right, BottomRight, Bottom, BottomLeft, Left, Inside };
// The handle at `p`, each handle a square of `size` pixels centred on its point.
Handle HandleAt(const Rect& crop, Point p, int32_t size);
// The crop rectangle after dragging `handle` by (dx, dy): the edges the
// handle holds move (all four for Inside, which keeps the size), kept inside
// `bounds` and at least `minimum` wide and high.
Rect DragHandle(const Rect& crop, Handle handle, int32_t dx, int32_t dy, const Rect& bounds, int32_t minimum);

// The file an edited picture is saved to: "<name> (edited).png" beside
// "<name>.png" (any extension becomes .png); a file already so named keeps
// its name, so editing an edited picture never piles up suffixes.
std::wstring EditedPath(const std::wstring& original);

class Document {
public:
    explicit Document(Picture picture);

    const Picture& Base() const { return picture_; }
    const std::vector<Shape>& Shapes() const { return shapes_; }
    const Shape* Find(uint64_t id) const;

    // Each edit below is one step of the history; a failed one (unknown id,
    // an area with nothing of the picture in it) changes nothing and returns
    // false or 0. Redo is forgotten after an edit.

    // Adds a shape on top and returns its id. A step gets the next number.
    uint64_t Add(Shape shape);
    bool Move(uint64_t id, int32_t dx, int32_t dy);
    bool Recolour(uint64_t id, uint32_t colour);
    // Steps after a deleted step renumber, so they count 1, 2, 3 again.
    bool Delete(uint64_t id);
    // Burned into the picture at once.
    bool Pixelate(const Rect& area);
    // The picture becomes `area` (kept inside it); shapes move with it.
    bool Crop(const Rect& area);

    bool Undo();
    bool Redo();
    bool CanUndo() const { return done_ > 0; }
    bool CanRedo() const { return done_ < history_.size(); }

    // Changed since it was opened or last saved.
    bool Modified() const { return done_ != saved_; }
    void MarkSaved() { saved_ = done_; }

    // The topmost shape whose drawing passes within `tolerance` pixels of
    // `p` (a line's stroke, a rectangle's outline, a text's or step's box),
    // or 0.
    uint64_t HitTest(Point p, int32_t tolerance) const;
    // What a shape's drawing covers, its stroke and arrow head included; what
    // must be repainted when it changes.
    Rect Bounds(const Shape& shape) const;

private:
    struct Edit {
        std::vector<Shape> shapesBefore, shapesAfter;
        // Pixelation: the area and its pixels before and after.
        Rect area;
        std::vector<uint8_t> before, after;
        // Crop: the whole picture before it; redone by cropping to `area` again.
        bool crop = false;
        Picture pictureBefore;
    };
    void Record(Edit edit);
    void Renumber();

    Picture picture_;
    std::vector<Shape> shapes_;
    uint64_t nextId_ = 1;
    std::vector<Edit> history_;
    size_t done_ = 0;   // edits in force
    size_t saved_ = 0;  // edits in force when last saved
};

}  // namespace editor
