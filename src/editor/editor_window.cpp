#include "editor/editor_window.h"

#include <windowsx.h>
#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "app/shell.h"
#include "app/tray.h"
#include "capture/screenshot.h"
#include "cloud/save_flow.h"
#include "common/steady_clock.h"
#include "editor/editor_core.h"
#include "editor/editor_picture.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/step_trace_core.h"

namespace {

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

struct Editor {
    HWND window = nullptr;
    std::wstring opened;  // the file opened; never written
    std::wstring target;  // where the edited picture is saved
    std::unique_ptr<editor::Document> document;
    Tool tool = Tool::Select;
    uint32_t colour = editor::kColours[0];
    int32_t width = editor::kWidths[1];
    bool fit = true;
    double scale = 1;
    Surface base, view, back;  // the picture, the picture at the view's scale, the next paint

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
    int stripHeight = 40;  // one row of buttons, or more in a narrow window
};

constexpr UINT_PTR kSmoothView = 1;  // timer: the smooth copy of the picture at the view's scale

int Scaled(HWND window, int pixels) { return MulDiv(pixels, static_cast<int>(GetDpiForWindow(window)), 96); }
int StripHeight(const Editor& e) { return e.stripHeight; }

// Picture pixels to the window's and back.
POINT ToClient(const Editor& e, Point p) {
    return {static_cast<LONG>(std::lround(p.x * e.scale)), static_cast<LONG>(std::lround(p.y * e.scale)) + StripHeight(e)};
}
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

const Surface& ViewOf(const Editor& e) { return e.view.Dc() != nullptr ? e.view : e.base; }

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

// After the mouse's work changed: what it covered before and covers now is repainted.
void Changed(Editor& e) {
    InvalidatePicture(e, e.drawn);
    e.drawn = Covered(e);
    InvalidatePicture(e, e.drawn);
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

// ---- the strip ----

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

// ---- what the user does ----

Editor* Of(HWND window) { return reinterpret_cast<Editor*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

void EndText(Editor& e, bool keep) {
    if (!e.typing) return;
    e.typing = false;
    if (keep && !e.typed.empty()) {
        editor::Shape text;
        text.kind = editor::ShapeKind::Text;
        text.colour = e.colour;
        text.width = e.width;
        text.points = {e.textAt};
        text.text = e.typed;
        e.document->Add(text);
    }
    e.typed.clear();
    Changed(e);
    Title(e);
}

// Leaves whatever the current tool is in the middle of.
void Settle(Editor& e) {
    EndText(e, true);
    e.dragging = false;
    e.path.clear();
    if (e.cropping) {
        e.cropping = false;
        InvalidateRect(e.window, nullptr, FALSE);
    }
    Changed(e);
}

void ChooseTool(Editor& e, Tool tool) {
    Settle(e);
    e.tool = tool;
    if (tool != Tool::Select && e.selected != 0) {
        e.selected = 0;
        InvalidateRect(e.window, nullptr, FALSE);
    }
    if (tool == Tool::Crop) {
        e.cropping = true;
        e.crop = e.document->Base().Bounds();
        InvalidateRect(e.window, nullptr, FALSE);
    }
    ShowChoices(e);
}

void AfterHistory(Editor& e) {
    e.selected = 0;
    e.moved = {};
    Rebuild(e);
    Title(e);
}

bool SaveTo(Editor& e, const std::wstring& path) {
    EndText(e, true);
    const editor::Picture flat = Flatten(*e.document);
    std::wstring problem;
    if (!SavePicture(flat.pixels.data(), static_cast<uint32_t>(flat.width), static_cast<uint32_t>(flat.height),
                     static_cast<uint32_t>(flat.width) * 4, path, false, problem, nullptr, true)) {
        MessageBoxW(e.window, problem.c_str(), L"NIRA Ostrel: editor", MB_ICONWARNING);
        return false;
    }
    e.target = path;
    e.document->MarkSaved();
    Title(e);
    Log(L"Edited picture saved: %s", path.c_str());
    ShowBalloon(L"Edited picture saved", path, BALLOON_INFO);
    return true;
}

void SaveAs(Editor& e) {
    wchar_t file[MAX_PATH] = {};
    wcsncpy(file, e.target.c_str(), MAX_PATH - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = e.window;
    dialog.lpstrFilter = L"PNG picture (*.png)\0*.png\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = L"png";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) return;
    // The original stays as it was, whatever is chosen.
    if (lstrcmpiW(file, e.opened.c_str()) == 0) {
        MessageBoxW(e.window, L"The original picture is kept as it is. Choose another name.", L"NIRA Ostrel: editor",
                    MB_ICONINFORMATION);
        return;
    }
    SaveTo(e, file);
}

void Copy(Editor& e) {
    EndText(e, true);
    const editor::Picture flat = Flatten(*e.document);
    if (!CopyBitmapToClipboard(flat.pixels.data(), static_cast<uint32_t>(flat.width), static_cast<uint32_t>(flat.height),
                               static_cast<uint32_t>(flat.width) * 4))
        MessageBoxW(e.window, L"The picture could not be put on the clipboard. Try again.", L"NIRA Ostrel: editor",
                    MB_ICONWARNING);
}

void Command(Editor& e, WORD id) {
    if (id >= IDE_TOOL && id < IDE_TOOL + 9) {
        ChooseTool(e, static_cast<Tool>(id - IDE_TOOL));
    } else if (IsColour(id)) {
        e.colour = editor::kColours[id - IDE_COLOUR];
        if (e.selected != 0 && e.document->Recolour(e.selected, e.colour)) Title(e);
        if (e.typing) Changed(e);
        InvalidateRect(e.window, nullptr, FALSE);
        ShowChoices(e);
    } else if (id >= IDE_WIDTH && id < IDE_WIDTH + 3) {
        e.width = editor::kWidths[id - IDE_WIDTH];
        ShowChoices(e);
    } else if (id == IDE_UNDO || id == IDE_REDO) {
        Settle(e);
        if (id == IDE_UNDO ? e.document->Undo() : e.document->Redo()) AfterHistory(e);
    } else if (id == IDE_COPY) {
        Copy(e);
    } else if (id == IDE_SAVE) {
        SaveTo(e, e.target);
    } else if (id == IDE_SAVE_AS) {
        SaveAs(e);
    } else if (id == IDE_LIBRARY) {
        if (e.document->Modified() || GetFileAttributesW(e.target.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (!SaveTo(e, e.target)) return;
        }
        SaveToLibrary(e.target);
    } else if (id == IDE_FIT || id == IDE_ACTUAL) {
        e.fit = id == IDE_FIT;
        Rebuild(e);
    } else if (id == IDE_DELETE) {
        if (e.selected != 0 && e.document->Delete(e.selected)) {
            e.selected = 0;
            InvalidateRect(e.window, nullptr, FALSE);  // the steps after it renumber
            Title(e);
        }
    } else if (id == IDE_APPLY) {
        if (e.cropping && e.document->Crop(e.crop)) {
            e.cropping = false;
            AfterHistory(e);
            ChooseTool(e, Tool::Select);
        }
    }
}

void MouseDown(Editor& e, Point p) {
    SetFocus(e.window);
    if (e.typing) {
        // A click elsewhere commits the text.
        EndText(e, true);
        if (e.tool == Tool::Text) return;
    }
    switch (e.tool) {
        case Tool::Select: {
            const uint64_t hit = e.document->HitTest(p, std::max(3, static_cast<int>(4 / e.scale)));
            if (hit != e.selected) InvalidateRect(e.window, nullptr, FALSE);
            e.selected = hit;
            e.moved = {};
            e.dragging = hit != 0;
            e.start = e.now = p;
            break;
        }
        case Tool::Text:
            e.typing = true;
            e.textAt = p;
            e.typed.clear();
            break;
        case Tool::Step: {
            editor::Shape step;
            step.kind = editor::ShapeKind::Step;
            step.colour = e.colour;
            step.width = e.width;
            step.points = {p};
            InvalidatePicture(e, e.document->Bounds(*e.document->Find(e.document->Add(step))));
            Title(e);
            return;
        }
        case Tool::Crop:
            e.handle = editor::HandleAt(e.crop, p, std::max(6, static_cast<int>(10 / e.scale)));
            if (e.handle == editor::Handle::None) {
                // Outside the crop: a new one is dragged.
                e.crop = {p.x, p.y, p.x, p.y};
                e.handle = editor::Handle::BottomRight;
            }
            e.dragging = true;
            e.start = e.now = p;
            break;
        default:
            e.dragging = true;
            e.start = e.now = p;
            e.path = {p};
            break;
    }
    SetCapture(e.window);
    Changed(e);
}

void MouseMove(Editor& e, Point p) {
    if (!e.dragging || (p == e.now)) return;
    if (e.tool == Tool::Crop) {
        const Rect before = e.crop;
        e.crop = editor::DragHandle(e.crop, e.handle, p.x - e.now.x, p.y - e.now.y, e.document->Base().Bounds(), 1);
        e.now = p;
        if (!(before == e.crop)) InvalidateRect(e.window, nullptr, FALSE);
        return;
    }
    e.now = p;
    if (e.tool == Tool::Select) e.moved = {p.x - e.start.x, p.y - e.start.y};
    if (e.tool == Tool::Pen || e.tool == Tool::Highlighter) e.path.push_back(p);
    Changed(e);
}

void MouseUp(Editor& e, Point p) {
    if (!e.dragging) {
        if (GetCapture() == e.window) ReleaseCapture();
        return;
    }
    MouseMove(e, p);
    // Not dragging any more before the capture goes, which tells of it at once.
    e.dragging = false;
    if (GetCapture() == e.window) ReleaseCapture();
    const bool moved = std::abs(e.now.x - e.start.x) + std::abs(e.now.y - e.start.y) >= 3;
    switch (e.tool) {
        case Tool::Select:
            if (e.selected != 0 && (e.moved.x != 0 || e.moved.y != 0)) e.document->Move(e.selected, e.moved.x, e.moved.y);
            e.moved = {};
            break;
        case Tool::Arrow:
        case Tool::Rectangle:
            if (moved) {
                editor::Shape shape;
                Preview(e, shape);
                shape.kind = e.tool == Tool::Arrow ? editor::ShapeKind::Arrow : editor::ShapeKind::Rectangle;
                shape.points = {e.start, e.now};
                e.document->Add(shape);
            }
            break;
        case Tool::Pen:
        case Tool::Highlighter: {
            editor::Shape shape;
            shape.kind = e.tool == Tool::Pen ? editor::ShapeKind::Pen : editor::ShapeKind::Highlighter;
            shape.colour = e.colour;
            shape.width = e.width;
            shape.points = e.path;
            e.document->Add(shape);
            e.path.clear();
            break;
        }
        case Tool::Pixelate:
            if (e.document->Pixelate(editor::DragRect(e.start, e.now, e.document->Base().Bounds()))) Rebuild(e);
            break;
        default:
            break;
    }
    Changed(e);
    Title(e);
}

void KeyDown(Editor& e, WPARAM key) {
    const bool ctrl = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
    if (e.typing && !ctrl) {
        if (key == VK_RETURN) EndText(e, true);
        if (key == VK_ESCAPE) EndText(e, false);
        return;
    }
    if (ctrl) {
        switch (key) {
            case 'Z': Command(e, IDE_UNDO); break;
            case 'Y': Command(e, IDE_REDO); break;
            case 'C': Command(e, IDE_COPY); break;
            case 'S': Command(e, shift ? IDE_SAVE_AS : IDE_SAVE); break;
            case '0': Command(e, IDE_FIT); break;
            case '1': Command(e, IDE_ACTUAL); break;
            default: break;
        }
        return;
    }
    Tool tool;
    if (key == VK_DELETE) Command(e, IDE_DELETE);
    else if (key == VK_RETURN) Command(e, IDE_APPLY);
    else if (key == VK_ESCAPE) ChooseTool(e, Tool::Select);
    else if (editor::ToolForKey(static_cast<wchar_t>(key), tool)) ChooseTool(e, tool);
}

void Typed(Editor& e, wchar_t c) {
    if (!e.typing) return;
    if (c == L'\b') {
        if (!e.typed.empty()) e.typed.pop_back();
    } else if (c >= L' ' && e.typed.size() < 500) {
        e.typed += c;
    } else {
        return;
    }
    Changed(e);
}

bool Close(Editor& e) {
    EndText(e, true);
    if (!e.document->Modified()) return true;
    const std::wstring question = L"Save the changes to the picture before closing?\n\nYes: save them as " + e.target +
                                  L"\nNo: close without saving\nCancel: keep editing";
    switch (MessageBoxW(e.window, question.c_str(), L"NIRA Ostrel: editor", MB_YESNOCANCEL | MB_ICONQUESTION)) {
        case IDYES: return SaveTo(e, e.target);
        case IDNO: return true;
        default: return false;
    }
}

}  // namespace

bool OpenEditor(const std::wstring& path, std::wstring& problem) {
    if (!EditorGraphicsReady()) {
        problem = L"The editor could not start its drawing (GDI+).";
        return false;
    }
    StepTrace trace(SteadyTicks(), SteadyFrequency());
    editor::Picture picture;
    if (!LoadPicture(path, picture, problem)) return false;
    trace.Step(L"read", SteadyTicks());
    auto e = std::make_unique<Editor>();
    e->opened = path;
    e->target = editor::EditedPath(path);
    const int width = picture.width, height = picture.height;
    e->document = std::make_unique<editor::Document>(std::move(picture));

    // The picture at its size where the screen has room, else as much as fits.
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame{0, 0, std::max(width, 1500), height + 40};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    const int w = std::min<int>(frame.right - frame.left, (work.right - work.left) * 9 / 10);
    const int h = std::min<int>(frame.bottom - frame.top, (work.bottom - work.top) * 9 / 10);
    HWND window = CreateWindowExW(0, kEditorClass, L"NIRA Ostrel", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
                                  w, h, nullptr, nullptr, Instance, nullptr);
    if (window == nullptr) {
        problem = L"The editor window could not be opened: " + ErrorText(HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    e->window = window;
    Editor* const editorState = e.release();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(editorState));
    MakeStrip(*editorState);
    LayoutStrip(*editorState);
    ShowChoices(*editorState);
    Title(*editorState);
    trace.Step(L"window", SteadyTicks());
    Rebuild(*editorState);
    trace.Step(L"views", SteadyTicks());
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(window);
    UpdateWindow(window);
    trace.Step(L"paint", SteadyTicks());
    Log(L"Editor opened: %s", path.c_str());
    Log(L"%s", trace.Line(L"Editor open").c_str());
    return true;
}

namespace {
constexpr ULONG_PTR kEditRequestTag = 0x4F53454Eu;  // marks our own requests among WM_COPYDATA
constexpr DWORD kLongestPath = 32767;
}  // namespace

bool SendEditRequest(HWND running, const std::wstring& path) {
    if (path.empty() || path.size() > kLongestPath) return false;
    COPYDATASTRUCT data{};
    data.dwData = kEditRequestTag;
    data.cbData = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(path.data());
    DWORD_PTR answer = 0;
    // The running copy may let the foreground go to the editor it opens.
    DWORD process = 0;
    GetWindowThreadProcessId(running, &process);
    AllowSetForegroundWindow(process);
    return SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 15000,
                               &answer) != 0 &&
           answer == TRUE;
}

bool EditRequestFromCopy(const COPYDATASTRUCT* data, std::wstring& path) {
    if (data == nullptr || data->dwData != kEditRequestTag || data->lpData == nullptr || data->cbData == 0 ||
        data->cbData % sizeof(wchar_t) != 0 || data->cbData > kLongestPath * sizeof(wchar_t))
        return false;
    path.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    return path.find(L'\0') == std::wstring::npos;
}

void OpenEditorOrSay(const std::wstring& path) {
    std::wstring problem;
    if (!OpenEditor(path, problem)) MessageBoxW(nullptr, problem.c_str(), L"NIRA Ostrel: editor", MB_ICONWARNING);
}

LRESULT CALLBACK EditorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Editor* const e = Of(window);
    if (e == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            HRGN update = CreateRectRgn(0, 0, 0, 0);
            const bool parts = update != nullptr && GetUpdateRgn(window, update, FALSE) == COMPLEXREGION;
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            const DWORD bytes = parts ? GetRegionData(update, 0, nullptr) : 0;
            std::vector<uint8_t> data(bytes);
            auto* region = reinterpret_cast<RGNDATA*>(data.data());
            if (bytes != 0 && GetRegionData(update, bytes, region) == bytes) {
                const auto* rects = reinterpret_cast<const RECT*>(region->Buffer);
                for (DWORD i = 0; i < region->rdh.nCount; ++i) Paint(*e, dc, rects[i]);
            } else {
                Paint(*e, dc, paint.rcPaint);
            }
            EndPaint(window, &paint);
            if (update != nullptr) DeleteObject(update);
            return 0;
        }
        case WM_TIMER:
            if (wParam == kSmoothView) Smooth(*e);
            return 0;
        case WM_SIZE:
            LayoutStrip(*e);
            if (e->fit) Rebuild(*e);
            else InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item != nullptr && IsColour(static_cast<WORD>(item->CtlID))) DrawSwatch(*e, *item);
            return TRUE;
        }
        case WM_COMMAND:
            Command(*e, LOWORD(wParam));
            // The strip's buttons give the keys back to the picture.
            if (lParam != 0) SetFocus(window);
            return 0;
        case WM_LBUTTONDOWN:
            MouseDown(*e, ToPicture(*e, lParam));
            return 0;
        case WM_MOUSEMOVE:
            MouseMove(*e, ToPicture(*e, lParam));
            return 0;
        case WM_LBUTTONUP:
            MouseUp(*e, ToPicture(*e, lParam));
            return 0;
        case WM_CAPTURECHANGED:
            if (e->dragging && reinterpret_cast<HWND>(lParam) != window) Settle(*e);
            return 0;
        case WM_KEYDOWN:
            KeyDown(*e, wParam);
            return 0;
        case WM_CHAR:
            Typed(*e, static_cast<wchar_t>(wParam));
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) SetFocus(window);
            return 0;
        case WM_CLOSE:
            if (Close(*e)) DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            delete e;
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
