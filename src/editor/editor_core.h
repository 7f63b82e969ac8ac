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

enum class Tool { Select, Arrow, Rectangle, Pen, Highlighter, Text, Step, Pixelate, Crop, Redact };
constexpr int kToolCount = 10;

// The tool a key picks (V, A, R, P, H, T, N, B, C, X, either case); false for other keys.
bool ToolForKey(wchar_t key, Tool& tool);

// What a key pressed in the editor does. Windows reports AltGr as Ctrl and
// Alt together, so a shortcut is Ctrl without Alt: AltGr+S is a letter to
// type, never Save. Letters reach the text tool as characters, not here.
enum class KeyAction {
    None, Undo, Redo, Copy, Save, SaveAs, Fit, Actual, Delete, Apply, Leave, KeepText, DropText, PickTool
};
// `key` is the virtual-key code (letters and digits as their upper-case
// characters); `tool` is filled for PickTool.
KeyAction ActionForKey(uint32_t key, bool ctrl, bool alt, bool shift, bool typing, Tool& tool);

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

// Covers `area` (kept inside the picture) with opaque kPixelBlock-square
// blocks counted from its corner. Their colours come from the pixels just
// outside the area (their median), each block lightened or darkened by an
// amount drawn from `seed`: nothing under the area goes into them, so no
// guess of what was there fits the result better than another. Averaging
// the blocks instead would leave a fingerprint of the text that a search
// over candidate texts matches.
void PixelateArea(Picture& picture, const Rect& area, uint64_t seed);
// The block colours as PixelateArea makes them, for a base colour (0xRRGGBB).
uint32_t ShadeOf(uint32_t base, uint64_t seed, uint32_t block);

// Fills `area` (kept inside the picture) with one opaque colour (0xRRGGBB).
void FillArea(Picture& picture, const Rect& area, uint32_t colour);

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
// The first of "<name> (edited).png", "<name> (edited 2).png", … for which
// `taken` is false: the opened file and files the user has are never
// replaced. An edited picture's own suffix is not repeated. Empty when a
// thousand names are taken.
template <class Taken>
std::wstring FreeEditedPath(const std::wstring& original, Taken taken) {
    const std::wstring first = EditedPath(original);
    if (!taken(first)) return first;
    const std::wstring stem = first.substr(0, first.size() - 5);  // without ").png"
    for (int n = 2; n <= 1000; ++n) {
        std::wstring candidate = stem + L" " + std::to_wstring(n) + L").png";
        if (!taken(candidate)) return candidate;
    }
    return {};
}

// How a picture whose EXIF orientation is `orientation` (1 to 8) is made
// upright: turned clockwise by quarter turns, then mirrored left to right.
// Anything else leaves it as it is.
struct Upright {
    int32_t quarterTurns = 0;
    bool mirror = false;
};
Upright UprightFor(uint32_t orientation);
// Turns `picture` upright in place (a quarter turn goes through one more
// buffer for the moment it takes; it may throw std::bad_alloc).
void TurnUpright(Picture& picture, Upright upright);
// The EXIF orientation a JPEG file's first `size` bytes declare (1 to 8),
// or 1 when they declare none or are not what they claim to be. Every
// offset is checked against the bytes given.
uint32_t JpegOrientation(const uint8_t* data, size_t size);

// Whether a picture of this size may be opened when `available` bytes of
// memory are free: the editor holds it twice at most (the document and the
// copy being saved), and leaves at least half of what is free to the rest
// of the program, a recording among it.
bool PictureFitsMemory(uint64_t width, uint64_t height, uint64_t available);

// Where the editor's window puts the picture: the client area it asks for,
// and the scale that fits the picture below the strip. `room` is the largest
// client area the screen allows; the strip is `stripWidth` wide on one row,
// `stripHeight` high. A picture that fits is shown at 1.
struct Layout {
    int32_t clientWidth = 0, clientHeight = 0;
    double scale = 1;
};
Layout LayoutFor(int32_t pictureWidth, int32_t pictureHeight, int32_t stripWidth, int32_t stripHeight,
                 int32_t roomWidth, int32_t roomHeight);
// The scale at which the picture fits `width` x `height`, never above 1.
double FitScale(int32_t pictureWidth, int32_t pictureHeight, int32_t width, int32_t height);

// The picture as the window shows it at `scale`: `out` (B8G8R8A8, `stride`
// bytes a row, `width` x `height`) gets the part from the picture's top left
// corner, see-through pixels over a grey checkerboard. `smooth` averages up
// to 4 x 4 samples of each shown pixel's share of the picture, which bounds
// the time by the shown size, not the picture's; otherwise the nearest
// sample is taken.
void RenderView(const Picture& picture, double scale, int32_t width, int32_t height, bool smooth, uint8_t* out,
                size_t stride);

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
    // Burned into the picture at once; redone the same way.
    bool Pixelate(const Rect& area, uint64_t seed);
    bool Redact(const Rect& area, uint32_t colour);
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
        // Pixelation and redaction: the area and its pixels before; redone
        // from the seed or colour, which needs no second copy.
        Rect area;
        std::vector<uint8_t> before;
        bool pixelate = false;
        uint64_t seed = 0;
        uint32_t colour = 0;
        // Crop: the whole picture before it; redone by cropping to `area` again.
        bool crop = false;
        Picture pictureBefore;
    };
    void Record(Edit edit);
    void Burn(const Edit& edit);
    bool BurnNew(const Rect& area, Edit edit);
    void Renumber();

    Picture picture_;
    std::vector<Shape> shapes_;
    uint64_t nextId_ = 1;
    std::vector<Edit> history_;
    size_t done_ = 0;   // edits in force
    size_t saved_ = 0;  // edits in force when last saved
};

}  // namespace editor
