#pragma once
// The editor window's state and what it shows: the picture at the view's
// scale with the shapes over it, painted by the rectangles that changed, and
// the strip of tools above it. What the user does with it is in
// editor_window.cpp; the document itself is the core's.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "editor/editor_core.h"

namespace editor_ui {

using editor::Point;
using editor::Rect;
using editor::Tool;

// A 32-bit top-down DIB in a memory DC.
class Surface {
public:
    Surface() = default;
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    ~Surface() { Reset(); }
    bool Make(int width, int height) {
        Reset();
        if (width <= 0 || height <= 0) return false;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        dc_ = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        if (bitmap_ == nullptr || dc_ == nullptr) {
            Reset();
            return false;
        }
        previous_ = SelectObject(dc_, bitmap_);
        width_ = width;
        height_ = height;
        return true;
    }
    void Reset() {
        if (dc_ != nullptr) {
            SelectObject(dc_, previous_);
            DeleteDC(dc_);
        }
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        dc_ = nullptr;
        bitmap_ = nullptr;
        bits_ = nullptr;
        width_ = height_ = 0;
    }
    HDC Dc() const { return dc_; }
    uint8_t* Bits() const { return static_cast<uint8_t*>(bits_); }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
    int width_ = 0, height_ = 0;
};

// A file as the volume knows it, whatever path spells it.
struct FileIdentity {
    bool known = false;
    uint32_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct LoadSlot;  // a picture read away from the user-interface thread

struct Editor {
    HWND window = nullptr;
    std::wstring opened;  // the file opened; never written
    std::wstring target;  // where the edited picture is saved
    FileIdentity written;  // the file this window last wrote at `target`
    uint32_t frames = 1;   // pictures in the opened file; the first is edited
    std::shared_ptr<LoadSlot> loading;  // while the picture is read
    std::unique_ptr<editor::Document> document;  // null until it is read
    Tool tool = Tool::Select;
    uint32_t colour = editor::kColours[0];
    int32_t width = editor::kWidths[1];
    bool fit = true;
    double scale = 1;
    POINT origin{0, 40};  // where the picture's top left corner is shown
    Surface view, back;  // the shown part of the picture at the view's scale, the next paint
    bool blocking = false;  // Windows was told why we are still busy at the session's end

    // What the mouse is doing.
    bool dragging = false;
    Point start, now;
    std::vector<Point> path;  // pen and highlighter
    uint64_t selected = 0;
    Point moved;  // a selected shape's offset while it is dragged
    bool typing = false;
    Point textAt;
    std::wstring typed;
    bool cropping = false;
    Rect crop;
    editor::Handle handle = editor::Handle::None;
    Rect drawn;  // what the last preview covered, in picture pixels

    std::vector<HWND> buttons;
    HWND tips = nullptr;
    int stripHeight = 40;  // one row of buttons, or more in a narrow window
};


constexpr UINT_PTR kSmoothView = 1;  // timer: the smooth copy of the picture at the view's scale

// Window pixels to the picture's.
Point ToPicture(const Editor& e, LPARAM lParam);
// Repaints what `r` (picture pixels) covers on the screen.
void InvalidatePicture(const Editor& e, const Rect& r);
// The window title: the file saved to, with " *" while changed.
void Title(const Editor& e);
// The shown part of the picture at the view's scale, after the picture, the
// window's size or the scale changed.
void Rebuild(Editor& e);
// The smooth copy at the view's scale, in place of the quick one.
void Smooth(Editor& e);
// The shape the mouse is making now, if any.
bool Preview(const Editor& e, editor::Shape& shape);
// After the mouse's work changed: what it covered before and covers now is repainted.
void Changed(Editor& e);
// Paints `clip` (client pixels): the picture, and over it the shapes and the mouse's work.
void Paint(Editor& e, HDC target, const RECT& clip);

// The strip: its buttons made, laid out in rows that fit the window, the
// current tool and width shown pressed, the colour swatches drawn.
void MakeStrip(Editor& e);
void LayoutStrip(Editor& e);
// The strip's size on one row, at the window's DPI.
SIZE StripRow(HWND window);
void ShowChoices(const Editor& e);
bool IsColour(WORD id);
void DrawSwatch(const Editor& e, const DRAWITEMSTRUCT& item);

}  // namespace editor_ui
