#include "app/editor_view.h"

#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/shell.h"
#include "editor/editor_picture.h"
#include "app/editor_window.h"

namespace editor_ui {

namespace {

int Scaled(HWND window, int pixels) { return MulDiv(pixels, static_cast<int>(GetDpiForWindow(window)), 96); }

int StripHeight(const Editor& e) { return e.stripHeight; }

// Picture pixels to the window's and back.
POINT ToClient(const Editor& e, Point p) {
    return {static_cast<LONG>(std::lround(p.x * e.scale)) + e.origin.x,
            static_cast<LONG>(std::lround(p.y * e.scale)) + e.origin.y};
}

// What the mouse's work covers now: the preview, the area being pixelated,
// the selection moving, the crop frame.
Rect Covered(const Editor& e) {
    Rect covered;
    editor::Shape shape;
    if (Preview(e, shape)) covered = e.document->Bounds(shape);
    if (e.typing) covered.right += editor::TextHeight(e.width);  // the caret after the last letter
    if (e.dragging && (e.tool == Tool::Pixelate || e.tool == Tool::Redact))
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
    const Surface& view = e.view;
    HBRUSH backdrop = CreateSolidBrush(RGB(64, 64, 64));
    FillRect(dc, &area, backdrop);
    DeleteObject(backdrop);
    const POINT o = e.origin;
    RECT picture{o.x, o.y, o.x + view.Width(), o.y + view.Height()}, shown{};
    if (view.Dc() != nullptr && IntersectRect(&shown, &picture, &area))
        BitBlt(dc, shown.left, shown.top, shown.right - shown.left, shown.bottom - shown.top, view.Dc(),
               shown.left - o.x, shown.top - o.y, SRCCOPY);
    if (!overlays) return;

    Gdiplus::Graphics g(dc);
    g.SetClip(Gdiplus::Rect(area.left, area.top, area.right - area.left, area.bottom - area.top));
    g.TranslateTransform(static_cast<Gdiplus::REAL>(o.x), static_cast<Gdiplus::REAL>(o.y));
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
    if (e.dragging && (e.tool == Tool::Pixelate || e.tool == Tool::Redact)) {
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

// Short labels keep the strip on one row; the tips name each key.
const StripButton kStrip[] = {
    {IDE_TOOL + static_cast<WORD>(Tool::Select), L"Select", 52},
    {IDE_TOOL + static_cast<WORD>(Tool::Arrow), L"Arrow", 48},
    {IDE_TOOL + static_cast<WORD>(Tool::Rectangle), L"Rectangle", 68},
    {IDE_TOOL + static_cast<WORD>(Tool::Pen), L"Pen", 38},
    {IDE_TOOL + static_cast<WORD>(Tool::Highlighter), L"Highlighter", 74},
    {IDE_TOOL + static_cast<WORD>(Tool::Text), L"Text", 40},
    {IDE_TOOL + static_cast<WORD>(Tool::Step), L"Step", 40},
    {IDE_TOOL + static_cast<WORD>(Tool::Pixelate), L"Pixelate", 60},
    {IDE_TOOL + static_cast<WORD>(Tool::Redact), L"Redact", 54},
    {IDE_TOOL + static_cast<WORD>(Tool::Crop), L"Crop", 42},
    {0, nullptr, 8},
    {IDE_COLOUR + 0, L"", 24},
    {IDE_COLOUR + 1, L"", 24},
    {IDE_COLOUR + 2, L"", 24},
    {IDE_COLOUR + 3, L"", 24},
    {IDE_COLOUR + 4, L"", 24},
    {IDE_COLOUR + 5, L"", 24},
    {0, nullptr, 8},
    {IDE_WIDTH + 0, L"Thin", 40},
    {IDE_WIDTH + 1, L"Medium", 54},
    {IDE_WIDTH + 2, L"Thick", 44},
    {0, nullptr, 8},
    {IDE_UNDO, L"Undo", 44},
    {IDE_REDO, L"Redo", 44},
    {IDE_COPY, L"Copy", 44},
    {IDE_SAVE, L"Save", 44},
    {IDE_LIBRARY, L"Save to library", 100},
};

// What each button does, with its key.
const wchar_t* TipFor(WORD id) {
    switch (id) {
        case IDE_TOOL + static_cast<WORD>(Tool::Select): return L"Select, move and recolour shapes (V)";
        case IDE_TOOL + static_cast<WORD>(Tool::Arrow): return L"Arrow (A)";
        case IDE_TOOL + static_cast<WORD>(Tool::Rectangle): return L"Rectangle (R)";
        case IDE_TOOL + static_cast<WORD>(Tool::Pen): return L"Pen (P)";
        case IDE_TOOL + static_cast<WORD>(Tool::Highlighter): return L"Highlighter (H)";
        case IDE_TOOL + static_cast<WORD>(Tool::Text): return L"Text (T)";
        case IDE_TOOL + static_cast<WORD>(Tool::Step): return L"Numbered step (N)";
        case IDE_TOOL + static_cast<WORD>(Tool::Pixelate): return L"Pixelate an area (B)";
        case IDE_TOOL + static_cast<WORD>(Tool::Redact): return L"Cover an area with a solid box in the chosen colour (X)";
        case IDE_TOOL + static_cast<WORD>(Tool::Crop): return L"Crop (C)";
        case IDE_UNDO: return L"Undo (Ctrl+Z)";
        case IDE_REDO: return L"Redo (Ctrl+Y)";
        case IDE_COPY: return L"Copy the picture (Ctrl+C)";
        case IDE_SAVE: return L"Save beside the original (Ctrl+S; Ctrl+Shift+S to choose where)";
        case IDE_LIBRARY: return L"Save to the workspace library";
        default: return nullptr;
    }
}

}  // namespace

Point ToPicture(const Editor& e, LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam) - e.origin.x, y = GET_Y_LPARAM(lParam) - e.origin.y;
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
    const std::wstring& shown = e.document ? e.target : e.opened;
    const size_t slash = shown.find_last_of(L"\\/");
    std::wstring title = slash == std::wstring::npos ? shown : shown.substr(slash + 1);
    if (!e.document) title = L"Opening " + title + L"\u2026";
    else if (e.document->Modified()) title += L" *";
    if (e.document && e.frames > 1)
        title += L" (the first of the " + std::to_wstring(e.frames) + L" pictures in the file)";
    title += L" - NIRA Ostrel";
    SetWindowTextW(e.window, title.c_str());
}

void Rebuild(Editor& e) {
    if (!e.document) return;
    const editor::Picture& picture = e.document->Base();
    RECT client{};
    GetClientRect(e.window, &client);
    const int strip = StripHeight(e);
    const int roomX = std::max<int>(1, client.right), roomY = std::max<int>(1, client.bottom - strip);
    e.scale = e.fit ? editor::FitScale(picture.width, picture.height, roomX, roomY) : 1.0;
    // Only what the window can show is made, never a copy of a huge picture.
    const int w = std::clamp(static_cast<int>(std::lround(picture.width * e.scale)), 1, roomX);
    const int h = std::clamp(static_cast<int>(std::lround(picture.height * e.scale)), 1, roomY);
    e.origin = {(roomX - w) / 2, strip + (roomY - h) / 2};
    if ((e.view.Width() != w || e.view.Height() != h) && !e.view.Make(w, h)) {
        InvalidateRect(e.window, nullptr, FALSE);
        return;
    }
    // A quick picture first, so the window shows at once; the smooth one
    // follows (kSmoothView), and is what stays.
    editor::RenderView(picture, e.scale, w, h, false, e.view.Bits(), static_cast<size_t>(w) * 4);
    KillTimer(e.window, kSmoothView);
    if (e.scale < 1.0) SetTimer(e.window, kSmoothView, 0, nullptr);
    InvalidateRect(e.window, nullptr, FALSE);
}

void Smooth(Editor& e) {
    KillTimer(e.window, kSmoothView);
    if (e.view.Dc() == nullptr || !e.document) return;
    editor::RenderView(e.document->Base(), e.scale, e.view.Width(), e.view.Height(), true, e.view.Bits(),
                       static_cast<size_t>(e.view.Width()) * 4);
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
    if (!e.document) {
        // The picture is being read.
        RECT client{};
        GetClientRect(e.window, &client);
        FillRect(target, &clip, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        HGDIOBJ font = UiFont != nullptr ? SelectObject(target, UiFont) : nullptr;
        SetBkMode(target, TRANSPARENT);
        DrawTextW(target, L"Opening the picture\u2026", -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        if (font != nullptr) SelectObject(target, font);
        return;
    }
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
    e.tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0,
                             0, e.window, nullptr, Instance, nullptr);
    for (const StripButton& b : kStrip) {
        if (b.label == nullptr) continue;
        const DWORD style = WS_CHILD | WS_VISIBLE | (IsColour(b.id) ? BS_OWNERDRAW : BS_PUSHBUTTON);
        HWND button = CreateWindowExW(0, L"BUTTON", b.label, style, 0, 0, 10, 10, e.window,
                                      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(b.id)), Instance, nullptr);
        if (button != nullptr && UiFont != nullptr) SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont), FALSE);
        e.buttons.push_back(button);
        if (e.tips != nullptr && button != nullptr && TipFor(b.id) != nullptr) {
            TTTOOLINFOW tip{};
            tip.cbSize = sizeof tip;
            tip.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tip.hwnd = e.window;
            tip.uId = reinterpret_cast<UINT_PTR>(button);
            tip.lpszText = const_cast<wchar_t*>(TipFor(b.id));
            SendMessageW(e.tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));
        }
    }
}

SIZE StripRow(HWND window) {
    const int gap = Scaled(window, 3), margin = Scaled(window, 6), h = Scaled(window, 28);
    int x = margin;
    for (const StripButton& b : kStrip) x += Scaled(window, b.width) + gap;
    return {x - gap + margin, h + 2 * margin};
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
        if (id >= IDE_TOOL && id < IDE_TOOL + editor::kToolCount) on = id - IDE_TOOL == static_cast<int>(e.tool);
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
