#include "editor/editor_view.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/shell.h"
#include "editor/editor_picture.h"
#include "editor/editor_window.h"

namespace editor_ui {

namespace {

int Scaled(HWND window, int pixels) { return MulDiv(pixels, static_cast<int>(GetDpiForWindow(window)), 96); }

int StripHeight(const Editor& e) { return e.stripHeight; }

// Picture pixels to the window's and back.
POINT ToClient(const Editor& e, Point p) {
    return {static_cast<LONG>(std::lround(p.x * e.scale)), static_cast<LONG>(std::lround(p.y * e.scale)) + StripHeight(e)};
}

const Surface& ViewOf(const Editor& e) { return e.view.Dc() != nullptr ? e.view : e.base; }

// What the mouse's work covers now: the preview, the area being pixelated,
// the selection moving, the crop frame.
Rect Covered(const Editor& e) {
    Rect covered;
    editor::Shape shape;
    if (Preview(e, shape)) covered = e.document->Bounds(shape);
    if (e.typing) covered.right += editor::TextHeight(e.width);  // the caret after the last letter
    if (e.dragging && e.tool == Tool::Pixelate)
        covered = editor::Union(covered, editor::DragRect(e.start, e.now, e.document->Base().Bounds()));
    if (e.selected != 0)
        if (const editor::Shape* chosen = e.document->Find(e.selected)) {
            Rect r = e.document->Bounds(*chosen);
            r = {r.left + e.moved.x - 3, r.top + e.moved.y - 3, r.right + e.moved.x + 3, r.bottom + e.moved.y + 3};
            covered = editor::Union(covered, r);
        }
    return covered;
}

void PaintCanvas(const Editor& e, HDC dc, const RECT& clip, bool overlays) {
    const int strip = StripHeight(e);
    RECT area = clip;
    area.top = std::max<LONG>(area.top, strip);
    if (area.bottom <= area.top) return;
    const Surface& view = ViewOf(e);
    HBRUSH backdrop = CreateSolidBrush(RGB(64, 64, 64));
    FillRect(dc, &area, backdrop);
    DeleteObject(backdrop);
    RECT picture{0, strip, view.Width(), strip + view.Height()}, shown{};
    if (IntersectRect(&shown, &picture, &area))
        BitBlt(dc, shown.left, shown.top, shown.right - shown.left, shown.bottom - shown.top, view.Dc(), shown.left,
               shown.top - strip, SRCCOPY);
    if (!overlays) return;

    Gdiplus::Graphics g(dc);
    g.SetClip(Gdiplus::Rect(area.left, area.top, area.right - area.left, area.bottom - area.top));
    g.TranslateTransform(0, static_cast<Gdiplus::REAL>(strip));
    g.ScaleTransform(static_cast<Gdiplus::REAL>(e.scale), static_cast<Gdiplus::REAL>(e.scale));
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    for (const editor::Shape& shape : e.document->Shapes()) {
        if (shape.id != e.selected || (e.moved.x == 0 && e.moved.y == 0)) {
            DrawShape(g, shape);
            continue;
        }
        editor::Shape moving = shape;
        for (Point& p : moving.points) p = {p.x + e.moved.x, p.y + e.moved.y};
        DrawShape(g, moving);
    }
    editor::Shape shape;
    if (Preview(e, shape)) {
        DrawShape(g, shape);
        if (e.typing) {
            // The caret: where the next letter goes.
            Gdiplus::RectF box;
            const std::unique_ptr<Gdiplus::Font> font = TextFont(e.width);
            g.MeasureString(e.typed.c_str(), static_cast<INT>(e.typed.size()), font.get(),
                            Gdiplus::PointF(static_cast<Gdiplus::REAL>(e.textAt.x), static_cast<Gdiplus::REAL>(e.textAt.y)),
                            &box);
            Gdiplus::Pen caret(Gdiplus::Color(255, 30, 136, 229), 2.0f / static_cast<Gdiplus::REAL>(e.scale));
            const Gdiplus::REAL x = e.typed.empty() ? static_cast<Gdiplus::REAL>(e.textAt.x) : box.X + box.Width;
            g.DrawLine(&caret, x, static_cast<Gdiplus::REAL>(e.textAt.y), x,
                       static_cast<Gdiplus::REAL>(e.textAt.y + editor::TextHeight(e.width)));
        }
    }
    const Gdiplus::REAL hairline = 1.5f / static_cast<Gdiplus::REAL>(e.scale);
    if (e.dragging && e.tool == Tool::Pixelate) {
        const Rect r = editor::DragRect(e.start, e.now, e.document->Base().Bounds());
        Gdiplus::Pen dashed(Gdiplus::Color(255, 255, 255, 255), hairline);
        dashed.SetDashStyle(Gdiplus::DashStyleDash);
        g.DrawRectangle(&dashed, r.left, r.top, r.Width(), r.Height());
    }
    if (e.selected != 0)
        if (const editor::Shape* chosen = e.document->Find(e.selected)) {
            const Rect r = e.document->Bounds(*chosen);
            Gdiplus::Pen dashed(Gdiplus::Color(255, 30, 136, 229), hairline);
            dashed.SetDashStyle(Gdiplus::DashStyleDash);
            g.DrawRectangle(&dashed, r.left + e.moved.x, r.top + e.moved.y, r.Width(), r.Height());
        }
    if (e.cropping && !e.crop.Empty()) {
        // Outside the crop dimmed, the crop framed, its handles shown.
        const editor::Picture& p = e.document->Base();
        Gdiplus::SolidBrush shade(Gdiplus::Color(150, 0, 0, 0));
        const Rect c = e.crop;
        g.FillRectangle(&shade, 0, 0, p.width, c.top);
        g.FillRectangle(&shade, 0, c.bottom, p.width, p.height - c.bottom);
        g.FillRectangle(&shade, 0, c.top, c.left, c.Height());
        g.FillRectangle(&shade, c.right, c.top, p.width - c.right, c.Height());
        Gdiplus::Pen frame(Gdiplus::Color(255, 255, 255, 255), hairline);
        g.DrawRectangle(&frame, c.left, c.top, c.Width(), c.Height());
        const Gdiplus::REAL size = 8.0f / static_cast<Gdiplus::REAL>(e.scale);
        Gdiplus::SolidBrush white(Gdiplus::Color(255, 255, 255, 255));
        for (const Point h : {Point{c.left, c.top}, Point{(c.left + c.right) / 2, c.top}, Point{c.right, c.top},
                              Point{c.right, (c.top + c.bottom) / 2}, Point{c.right, c.bottom},
                              Point{(c.left + c.right) / 2, c.bottom}, Point{c.left, c.bottom},
                              Point{c.left, (c.top + c.bottom) / 2}})
            g.FillRectangle(&white, h.x - size / 2, h.y - size / 2, size, size);
    }
}

// Whether anything is drawn over the picture within `clip` (client pixels).
bool Overlaid(const Editor& e, const RECT& clip) {
    if (!e.document->Shapes().empty() || e.typing || e.dragging || e.cropping || e.selected != 0) return true;
    (void)clip;
    return false;
}

// The strip, left to right; a null label is a gap.
struct StripButton {
    WORD id;
    const wchar_t* label;
    int width;  // at 96 DPI
};

const StripButton kStrip[] = {
    {IDE_TOOL + static_cast<WORD>(Tool::Select), L"Select (V)", 74},
    {IDE_TOOL + static_cast<WORD>(Tool::Arrow), L"Arrow (A)", 70},
    {IDE_TOOL + static_cast<WORD>(Tool::Rectangle), L"Rectangle (R)", 90},
    {IDE_TOOL + static_cast<WORD>(Tool::Pen), L"Pen (P)", 58},
    {IDE_TOOL + static_cast<WORD>(Tool::Highlighter), L"Highlighter (H)", 96},
    {IDE_TOOL + static_cast<WORD>(Tool::Text), L"Text (T)", 60},
    {IDE_TOOL + static_cast<WORD>(Tool::Step), L"Step (N)", 62},
    {IDE_TOOL + static_cast<WORD>(Tool::Pixelate), L"Pixelate (B)", 82},
    {IDE_TOOL + static_cast<WORD>(Tool::Crop), L"Crop (C)", 62},
    {0, nullptr, 8},
    {IDE_COLOUR + 0, L"", 26},
    {IDE_COLOUR + 1, L"", 26},
    {IDE_COLOUR + 2, L"", 26},
    {IDE_COLOUR + 3, L"", 26},
    {IDE_COLOUR + 4, L"", 26},
    {IDE_COLOUR + 5, L"", 26},
    {0, nullptr, 8},
    {IDE_WIDTH + 0, L"Thin", 44},
    {IDE_WIDTH + 1, L"Medium", 56},
    {IDE_WIDTH + 2, L"Thick", 46},
    {0, nullptr, 8},
    {IDE_UNDO, L"Undo", 48},
    {IDE_REDO, L"Redo", 48},
    {IDE_COPY, L"Copy", 48},
    {IDE_SAVE, L"Save", 48},
    {IDE_LIBRARY, L"Save to library", 104},
};

}  // namespace

Point ToPicture(const Editor& e, LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam) - StripHeight(e);
    return {static_cast<int32_t>(std::floor(x / e.scale)), static_cast<int32_t>(std::floor(y / e.scale))};
}

void InvalidatePicture(const Editor& e, const Rect& r) {
    if (r.Empty()) return;
    const POINT a = ToClient(e, {r.left, r.top});
    const POINT b = ToClient(e, {r.right, r.bottom});
    RECT client{a.x - 3, a.y - 3, b.x + 3, b.y + 3};
    InvalidateRect(e.window, &client, FALSE);
}

void Title(const Editor& e) {
    const std::wstring& shown = e.target;
    const size_t slash = shown.find_last_of(L"\\/");
    std::wstring title = slash == std::wstring::npos ? shown : shown.substr(slash + 1);
    if (e.document->Modified()) title += L" *";
    title += L" - NIRA Ostrel";
    SetWindowTextW(e.window, title.c_str());
}

// The picture and its copy at the view's scale, after the picture or the scale changed.
void Rebuild(Editor& e) {
    const editor::Picture& picture = e.document->Base();
    if (e.base.Width() != picture.width || e.base.Height() != picture.height) e.base.Make(picture.width, picture.height);
    if (e.base.Bits() != nullptr) std::memcpy(e.base.Bits(), picture.pixels.data(), picture.pixels.size());
    RECT client{};
    GetClientRect(e.window, &client);
    const double roomX = std::max<LONG>(1, client.right), roomY = std::max<LONG>(1, client.bottom - StripHeight(e));
    e.scale = e.fit ? std::min({1.0, roomX / picture.width, roomY / picture.height}) : 1.0;
    if (e.scale < 1.0) {
        const int w = std::max(1, static_cast<int>(std::lround(picture.width * e.scale)));
        const int h = std::max(1, static_cast<int>(std::lround(picture.height * e.scale)));
        if (e.view.Width() != w || e.view.Height() != h) e.view.Make(w, h);
        // A quick copy first, so the window shows at once; the smooth one
        // follows (kSmoothView), and is what stays.
        SetStretchBltMode(e.view.Dc(), COLORONCOLOR);
        StretchBlt(e.view.Dc(), 0, 0, w, h, e.base.Dc(), 0, 0, picture.width, picture.height, SRCCOPY);
        KillTimer(e.window, kSmoothView);
        SetTimer(e.window, kSmoothView, 0, nullptr);
    } else {
        e.view.Reset();
    }
    InvalidateRect(e.window, nullptr, FALSE);
}

void Smooth(Editor& e) {
    KillTimer(e.window, kSmoothView);
    if (e.view.Dc() == nullptr) return;
    const editor::Picture& picture = e.document->Base();
    SetStretchBltMode(e.view.Dc(), HALFTONE);
    SetBrushOrgEx(e.view.Dc(), 0, 0, nullptr);
    StretchBlt(e.view.Dc(), 0, 0, e.view.Width(), e.view.Height(), e.base.Dc(), 0, 0, picture.width, picture.height,
               SRCCOPY);
    InvalidateRect(e.window, nullptr, FALSE);
}

// The shape the mouse is making now, if any.
bool Preview(const Editor& e, editor::Shape& shape) {
    shape.colour = e.colour;
    shape.width = e.width;
    if (e.typing) {
        shape.kind = editor::ShapeKind::Text;
        shape.points = {e.textAt};
        shape.text = e.typed;
        return true;
    }
    if (!e.dragging) return false;
    switch (e.tool) {
        case Tool::Arrow:
            shape.kind = editor::ShapeKind::Arrow;
            shape.points = {e.start, e.now};
            return true;
        case Tool::Rectangle:
            shape.kind = editor::ShapeKind::Rectangle;
            shape.points = {e.start, e.now};
            return true;
        case Tool::Pen:
        case Tool::Highlighter:
            shape.kind = e.tool == Tool::Pen ? editor::ShapeKind::Pen : editor::ShapeKind::Highlighter;
            shape.points = e.path;
            return true;
        default:
            return false;
    }
}

// After the mouse's work changed: what it covered before and covers now is repainted.
void Changed(Editor& e) {
    InvalidatePicture(e, e.drawn);
    e.drawn = Covered(e);
    InvalidatePicture(e, e.drawn);
}

void Paint(Editor& e, HDC target, const RECT& clip) {
    if (!Overlaid(e, clip)) {
        // Nothing over the picture: straight to the window, no composing.
        PaintCanvas(e, target, clip, false);
        return;
    }
    RECT client{};
    GetClientRect(e.window, &client);
    if (e.back.Width() != client.right || e.back.Height() != client.bottom) e.back.Make(client.right, client.bottom);
    if (e.back.Dc() == nullptr) return;
    PaintCanvas(e, e.back.Dc(), clip, true);
    BitBlt(target, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, e.back.Dc(), clip.left, clip.top,
           SRCCOPY);
}

bool IsColour(WORD id) { return id >= IDE_COLOUR && id < IDE_COLOUR + 6; }

void MakeStrip(Editor& e) {
    for (const StripButton& b : kStrip) {
        if (b.label == nullptr) continue;
        const DWORD style = WS_CHILD | WS_VISIBLE | (IsColour(b.id) ? BS_OWNERDRAW : BS_PUSHBUTTON);
        HWND button = CreateWindowExW(0, L"BUTTON", b.label, style, 0, 0, 10, 10, e.window,
                                      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(b.id)), Instance, nullptr);
        if (button != nullptr && UiFont != nullptr) SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont), FALSE);
        e.buttons.push_back(button);
    }
}

// Places the strip's buttons in a row, in more rows when the window is narrow.
void LayoutStrip(Editor& e) {
    RECT client{};
    GetClientRect(e.window, &client);
    const int gap = Scaled(e.window, 3), margin = Scaled(e.window, 6), h = Scaled(e.window, 28);
    int x = margin, y = margin;
    size_t n = 0;
    for (const StripButton& b : kStrip) {
        const int w = Scaled(e.window, b.width);
        if (x + w + margin > client.right && x > margin && b.label != nullptr) {
            x = margin;
            y += h + margin;
        }
        if (b.label != nullptr && n < e.buttons.size()) MoveWindow(e.buttons[n++], x, y, w, h, TRUE);
        x += w + gap;
    }
    e.stripHeight = y + h + margin;
}

// The current tool and width show pressed.
void ShowChoices(const Editor& e) {
    for (HWND button : e.buttons) {
        const auto id = static_cast<WORD>(GetDlgCtrlID(button));
        bool on = false;
        if (id >= IDE_TOOL && id < IDE_TOOL + 9) on = id - IDE_TOOL == static_cast<int>(e.tool);
        else if (id >= IDE_WIDTH && id < IDE_WIDTH + 3) on = editor::kWidths[id - IDE_WIDTH] == e.width;
        else if (IsColour(id)) {
            InvalidateRect(button, nullptr, FALSE);
            continue;
        } else {
            continue;
        }
        SendMessageW(button, BM_SETSTATE, on ? TRUE : FALSE, 0);
    }
}

void DrawSwatch(const Editor& e, const DRAWITEMSTRUCT& item) {
    const uint32_t rgb = editor::kColours[item.CtlID - IDE_COLOUR];
    HBRUSH fill = CreateSolidBrush(RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF));
    RECT r = item.rcItem;
    FillRect(item.hDC, &r, static_cast<HBRUSH>(GetStockObject(rgb == e.colour ? BLACK_BRUSH : WHITE_BRUSH)));
    InflateRect(&r, -3, -3);
    FillRect(item.hDC, &r, fill);
    DeleteObject(fill);
}

}  // namespace editor_ui
