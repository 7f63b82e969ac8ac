#include "app/region_overlay.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/tray.h"
#include "common/paint_parts.h"
#include "common/posted.h"
#include "recorder/recording_rules_core.h"
#include "storage/log.h"
#include "storage/settings.h"

namespace {

// A top-down 32-bit picture selected into a memory DC.
class Canvas {
public:
    Canvas() = default;
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    ~Canvas() {
        if (dc_ != nullptr) {
            SelectObject(dc_, previous_);
            DeleteDC(dc_);
        }
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
    }
    bool Make(HDC like, int width, int height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_ = CreateDIBSection(like, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        dc_ = CreateCompatibleDC(like);
        if (bitmap_ == nullptr || dc_ == nullptr) return false;
        previous_ = SelectObject(dc_, bitmap_);
        return true;
    }
    HDC Dc() const { return dc_; }
    uint32_t* Bits() const { return static_cast<uint32_t*>(bits_); }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

// The pointer as it was when the screen was frozen.
struct Pointer {
    HICON icon = nullptr;  // our own copy
    POINT hotspot{};       // in screen pixels, where the pointer points
    POINT offset{};        // from the image's corner to the hotspot
    ~Pointer() {
        if (icon != nullptr) DestroyIcon(icon);
    }
};

struct Selection {
    HWND window = nullptr;
    HMONITOR monitor = nullptr;
    RECT bounds{};  // of the monitor, in screen pixels
    int width = 0, height = 0;
    RegionUse use = RegionUse::Screenshot;
    // The screen as it was, the same dimmed, and what the next paint is made in.
    Canvas frozen, dimmed, back;
    Pointer pointer;
    HFONT font = nullptr;  // for this monitor's DPI
    HBRUSH frameBrush = CreateSolidBrush(RGB(0, 120, 215));
    bool dragging = false;
    bool hasRect = false;
    POINT start{}, end{};
    // What the last change drew over the dimmed picture: the rectangle with
    // its frame, its label, or the hint.
    RECT frame{}, label{}, hint{};
    // Opened after a delay, the selection seldom gets the foreground (the
    // last input went to another program), so neither its keys nor WM_ACTIVATE
    // come. Another window coming forward is watched for instead, and Esc is
    // taken for the selection while it is open.
    HWINEVENTHOOK foregroundHook = nullptr;
    bool escapeTaken = false;

    ~Selection() {
        if (foregroundHook != nullptr) UnhookWinEvent(foregroundHook);
        if (escapeTaken && window != nullptr) UnregisterHotKey(window, kEscapeHotkey);
        if (font != nullptr) DeleteObject(font);
        if (frameBrush != nullptr) DeleteObject(frameBrush);
    }
    static constexpr int kEscapeHotkey = 1;
    ScreenRect Chosen() const { return DraggedRegion(start.x, start.y, end.x, end.y, {0, 0, width, height}); }
};

// Only the user-interface thread touches it.
Selection* Open = nullptr;

const wchar_t* HintText(RegionUse use) {
    return use == RegionUse::Recording
               ? L"Drag over the part of the screen to record. Release the mouse or press Enter to start; Esc or a "
                 L"right click cancels."
               : L"Drag over the part of the screen to capture. Release the mouse or press Enter to take the "
                 L"screenshot; Esc or a right click cancels.";
}

// Copies the monitor and makes its dimmed copy, about 40 % bright.
bool Freeze(Selection& s) {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    const bool made = s.frozen.Make(screen, s.width, s.height) && s.dimmed.Make(screen, s.width, s.height) &&
                      s.back.Make(screen, s.width, s.height) &&
                      BitBlt(s.frozen.Dc(), 0, 0, s.width, s.height, screen, s.bounds.left, s.bounds.top,
                             SRCCOPY | CAPTUREBLT);
    ReleaseDC(nullptr, screen);
    if (!made) return false;
    GdiFlush();
    const size_t count = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
    const uint32_t* from = s.frozen.Bits();
    uint32_t* to = s.dimmed.Bits();
    for (size_t i = 0; i < count; ++i) to[i] = ((from[i] >> 2) & 0x3F3F3F3Fu) + ((from[i] >> 3) & 0x1F1F1F1Fu);
    return true;
}

// Keeps the pointer, when it shows and the screenshot is to hold it.
void RememberPointer(Selection& s) {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    if (!CurrentSettings.cursor || !GetCursorInfo(&info) || !(info.flags & CURSOR_SHOWING) || info.hCursor == nullptr)
        return;
    ICONINFO parts{};
    if (!GetIconInfo(info.hCursor, &parts)) return;
    if (parts.hbmMask != nullptr) DeleteObject(parts.hbmMask);
    if (parts.hbmColor != nullptr) DeleteObject(parts.hbmColor);
    s.pointer.icon = CopyIcon(info.hCursor);
    s.pointer.hotspot = info.ptScreenPos;
    s.pointer.offset = {static_cast<LONG>(parts.xHotspot), static_cast<LONG>(parts.yHotspot)};
}

// The chosen rectangle as the frozen screen showed it, with the pointer.
std::shared_ptr<StillPicture> Cut(const Selection& s, const ScreenRect& area) {
    auto picture = std::make_shared<StillPicture>();
    picture->width = static_cast<uint32_t>(area.Width());
    picture->height = static_cast<uint32_t>(area.Height());
    picture->pixels.resize(static_cast<size_t>(picture->width) * picture->height * 4);
    if (s.pointer.icon != nullptr) {
        // Drawn on the rectangle's own copy, so the frozen screen stays as it was.
        Canvas cut;
        HDC screen = GetDC(nullptr);
        const bool made = screen != nullptr && cut.Make(screen, area.Width(), area.Height());
        if (screen != nullptr) ReleaseDC(nullptr, screen);
        if (made) {
            BitBlt(cut.Dc(), 0, 0, area.Width(), area.Height(), s.frozen.Dc(), area.left, area.top, SRCCOPY);
            DrawIconEx(cut.Dc(), s.pointer.hotspot.x - s.pointer.offset.x - s.bounds.left - area.left,
                       s.pointer.hotspot.y - s.pointer.offset.y - s.bounds.top - area.top, s.pointer.icon, 0, 0, 0,
                       nullptr, DI_NORMAL);
            GdiFlush();
            std::memcpy(picture->pixels.data(), cut.Bits(), picture->pixels.size());
            return picture;
        }
    }
    for (int32_t y = 0; y < area.Height(); ++y)
        std::memcpy(picture->pixels.data() + static_cast<size_t>(y) * picture->width * 4,
                    s.frozen.Bits() + static_cast<size_t>(area.top + y) * static_cast<size_t>(s.width) + area.left,
                    static_cast<size_t>(picture->width) * 4);
    return picture;
}

int Scaled(const Selection& s, int pixels) { return MulDiv(pixels, static_cast<int>(GetDpiForWindow(s.window)), 96); }

// Where the hint goes: its box at the top of the monitor, or at the bottom
// when our toolbar sits there.
RECT HintBox(const Selection& s, HDC dc) {
    const wchar_t* text = HintText(s.use);
    RECT measure{0, 0, s.width, 0};
    DrawTextW(dc, text, -1, &measure, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    const int pad = Scaled(s, 10);
    const int boxWidth = std::min<int>(s.width, measure.right + 2 * pad);
    const int boxHeight = measure.bottom + pad;
    const int left = (s.width - boxWidth) / 2;
    RECT box{left, Scaled(s, 24), left + boxWidth, Scaled(s, 24) + boxHeight};
    RECT toolbar{};
    if (ToolbarWindow != nullptr && IsWindowVisible(ToolbarWindow) && GetWindowRect(ToolbarWindow, &toolbar)) {
        OffsetRect(&toolbar, -s.bounds.left, -s.bounds.top);
        RECT overlap{};
        if (IntersectRect(&overlap, &box, &toolbar)) OffsetRect(&box, 0, s.height - boxHeight - 2 * Scaled(s, 24));
    }
    return box;
}

// The size label beside the rectangle: below it, else above, else inside.
RECT LabelBox(const Selection& s, HDC dc, const ScreenRect& r, const std::wstring& label) {
    SIZE size{};
    GetTextExtentPoint32W(dc, label.c_str(), static_cast<int>(label.size()), &size);
    const int pad = Scaled(s, 6);
    const int boxWidth = size.cx + 2 * pad, boxHeight = size.cy + pad;
    int x = r.left;
    int y = r.bottom + pad;
    if (y + boxHeight > s.height) y = r.top - boxHeight - pad;
    if (y < 0) y = r.top + pad;
    if (x + boxWidth > s.width) x = s.width - boxWidth;
    if (x < 0) x = 0;
    return {x, y, x + boxWidth, y + boxHeight};
}

std::wstring SizeLabel(const ScreenRect& r) { return std::to_wstring(r.Width()) + L" x " + std::to_wstring(r.Height()); }

// Works out what the current state draws over the dimmed picture.
void Place(Selection& s) {
    HDC dc = s.back.Dc();
    const HGDIOBJ previous = SelectObject(dc, s.font);
    s.frame = s.label = s.hint = RECT{};
    if (!s.hasRect) {
        s.hint = HintBox(s, dc);
    } else {
        const ScreenRect r = s.Chosen();
        if (r.Width() > 0 && r.Height() > 0) {
            s.frame = {r.left - 1, r.top - 1, r.right + 1, r.bottom + 1};
            s.label = LabelBox(s, dc, r, SizeLabel(r));
        }
    }
    SelectObject(dc, previous);
}

// Repaints `clip` of the back picture, then shows it.
void Compose(const Selection& s, HDC target, const RECT& clip) {
    HDC dc = s.back.Dc();
    const int w = clip.right - clip.left, h = clip.bottom - clip.top;
    if (w <= 0 || h <= 0) return;
    BitBlt(dc, clip.left, clip.top, w, h, s.dimmed.Dc(), clip.left, clip.top, SRCCOPY);
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
    SelectObject(dc, s.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    const HBRUSH dark = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    if (!s.hasRect) {
        RECT box = HintBox(s, dc);
        FillRect(dc, &box, dark);
        FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        DrawTextW(dc, HintText(s.use), -1, &box, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    } else {
        const ScreenRect r = s.Chosen();
        if (r.Width() > 0 && r.Height() > 0) {
            BitBlt(dc, r.left, r.top, r.Width(), r.Height(), s.frozen.Dc(), r.left, r.top, SRCCOPY);
            // Blue, which shows against a white page as well as a dark one.
            RECT frame{r.left - 1, r.top - 1, r.right + 1, r.bottom + 1};
            FrameRect(dc, &frame, s.frameBrush);
            const std::wstring label = SizeLabel(r);
            RECT box = LabelBox(s, dc, r, label);
            FillRect(dc, &box, dark);
            FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
            DrawTextW(dc, label.c_str(), -1, &box, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        }
    }
    RestoreDC(dc, saved);
    BitBlt(target, clip.left, clip.top, w, h, dc, clip.left, clip.top, SRCCOPY);
}

// The ring a frame of `outer` (the rectangle grown by one pixel) draws.
HRGN Ring(const RECT& outer) {
    HRGN ring = CreateRectRgnIndirect(&outer);
    HRGN inner = CreateRectRgn(outer.left + 1, outer.top + 1, outer.right - 1, outer.bottom - 1);
    CombineRgn(ring, ring, inner, RGN_DIFF);
    DeleteObject(inner);
    return ring;
}

void Add(HRGN to, HRGN part) {
    CombineRgn(to, to, part, RGN_OR);
    DeleteObject(part);
}

// Shows `clip`: what lies outside the rectangle, its label and the hint
// straight from the dimmed picture, the rest composed first.
void Paint(const Selection& s, HDC target, const RECT& clip) {
    RECT elements{}, composed{};
    for (const RECT& part : {s.frame, s.label, s.hint}) UnionRect(&elements, &elements, &part);
    if (!IntersectRect(&composed, &clip, &elements)) {
        BitBlt(target, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, s.dimmed.Dc(), clip.left,
               clip.top, SRCCOPY);
        return;
    }
    const RECT around[] = {{clip.left, clip.top, clip.right, composed.top},
                           {clip.left, composed.bottom, clip.right, clip.bottom},
                           {clip.left, composed.top, composed.left, composed.bottom},
                           {composed.right, composed.top, clip.right, composed.bottom}};
    for (const RECT& part : around)
        if (part.right > part.left && part.bottom > part.top)
            BitBlt(target, part.left, part.top, part.right - part.left, part.bottom - part.top, s.dimmed.Dc(), part.left,
                   part.top, SRCCOPY);
    Compose(s, target, composed);
}

// After a change only the pixels that change are repainted: where the bright
// rectangle grew or shrank, both frames, both labels, and the hint. A drag
// over a 4K monitor then repaints thin strips, not the rectangle.
void Changed(Selection& s) {
    const RECT oldFrame = s.frame, oldLabel = s.label, oldHint = s.hint;
    Place(s);
    HRGN changed = CreateRectRgnIndirect(&oldFrame);
    HRGN now = CreateRectRgnIndirect(&s.frame);
    CombineRgn(changed, changed, now, RGN_XOR);
    DeleteObject(now);
    if (!IsRectEmpty(&oldFrame)) Add(changed, Ring(oldFrame));
    if (!IsRectEmpty(&s.frame)) Add(changed, Ring(s.frame));
    for (const RECT& box : {oldLabel, s.label, oldHint, s.hint})
        if (!IsRectEmpty(&box)) Add(changed, CreateRectRgnIndirect(&box));
    InvalidateRgn(s.window, changed, FALSE);
    DeleteObject(changed);
}

// Closes the selection; an accepted rectangle goes to the main window.
void Finish(bool accept) {
    const std::unique_ptr<Selection> s(Open);
    Open = nullptr;
    if (!s) return;
    const ScreenRect area = s->Chosen();
    const bool chosen = accept && s->hasRect;
    if (GetCapture() == s->window) ReleaseCapture();
    if (s->foregroundHook != nullptr) UnhookWinEvent(s->foregroundHook);
    s->foregroundHook = nullptr;
    if (s->escapeTaken) UnregisterHotKey(s->window, Selection::kEscapeHotkey);
    s->escapeTaken = false;
    DestroyWindow(s->window);
    s->window = nullptr;
    if (!chosen) return;
    const std::wstring problem =
        s->use == RegionUse::Recording ? RecordingRegionProblem(area, CurrentSettings.resolution) : RegionProblem(area);
    if (!problem.empty()) {
        ShowBalloon(L"NIRA Ostrel", problem, BALLOON_INFO);
        return;
    }
    auto result = std::make_unique<RegionResult>();
    result->use = s->use;
    result->monitor = s->monitor;
    result->area = area;
    if (s->use == RegionUse::Screenshot) result->picture = Cut(*s, area);
    PostObject(MainWindow, WM_REGION_DONE, 0, std::move(result));
}

// Runs on the user-interface thread, from its message loop.
void CALLBACK ForegroundChanged(HWINEVENTHOOK, DWORD event, HWND window, LONG, LONG, DWORD, DWORD) {
    if (event != EVENT_SYSTEM_FOREGROUND || Open == nullptr || window == nullptr || window == Open->window) return;
    Finish(false);
}

}  // namespace

void ChooseRegion(RegionUse use) {
    if (Open != nullptr) {
        // The newer request is the one that counts, and the hint says what it is.
        if (Open->use != use) {
            Open->use = use;
            if (!Open->hasRect) Changed(*Open);
        }
        SetForegroundWindow(Open->window);
        return;
    }
    POINT cursor{};
    GetCursorPos(&cursor);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    const HMONITOR monitor = MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY);
    if (!GetMonitorInfoW(monitor, &info)) return;
    auto s = std::make_unique<Selection>();
    s->monitor = monitor;
    s->use = use;
    s->bounds = info.rcMonitor;
    s->width = info.rcMonitor.right - info.rcMonitor.left;
    s->height = info.rcMonitor.bottom - info.rcMonitor.top;
    if (s->width > 0 && s->height > 0 && Freeze(*s)) {
        RememberPointer(*s);
        s->window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kRegionClass, L"NIRA Ostrel: choose a region",
                                    WS_POPUP, info.rcMonitor.left, info.rcMonitor.top, s->width, s->height, nullptr,
                                    nullptr, Instance, nullptr);
    }
    if (s->window == nullptr) {
        ShowBalloon(L"NIRA Ostrel", L"The screen could not be read to choose a region. Try again.", BALLOON_WARNING);
        return;
    }
    // The hint and size label at the size the rest of Windows shows text on this monitor.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, GetDpiForWindow(s->window)))
        s->font = CreateFontIndirectW(&metrics.lfMessageFont);
    if (s->font == nullptr) s->font = CreateFontW(-Scaled(*s, 13), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                                  CLEARTYPE_QUALITY, 0, L"Segoe UI");
    // Kept out of captures like the toolbar, where Windows can: a recording may be running.
    SetWindowDisplayAffinity(s->window, kExcludeFromCapture);
    Open = s.release();
    Place(*Open);
    ShowWindow(Open->window, SW_SHOW);
    SetForegroundWindow(Open->window);
    SetFocus(Open->window);
    Open->foregroundHook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, ForegroundChanged,
                                           0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    if (GetForegroundWindow() != Open->window) {
        Open->escapeTaken = RegisterHotKey(Open->window, Selection::kEscapeHotkey, MOD_NOREPEAT, VK_ESCAPE) != FALSE;
        Log(L"Region selection opened behind another program; %s",
            Open->escapeTaken ? L"Esc is taken for it until it closes" : L"Esc reaches it once it is clicked");
    }
}

void CancelRegion() { Finish(false); }

LRESULT CALLBACK RegionOverlayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Selection* const s = Open != nullptr && Open->window == window ? Open : nullptr;
    const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_CROSS));
            return TRUE;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            PaintUpdatedParts(window, [s](HDC dc, const RECT& rect) {
                if (s != nullptr) Paint(*s, dc, rect);
            });
            return 0;
        case WM_LBUTTONDOWN:
            if (s == nullptr) return 0;
            SetCapture(window);
            s->dragging = true;
            s->hasRect = true;
            s->start = s->end = point;
            Changed(*s);
            return 0;
        case WM_MOUSEMOVE:
            if (s == nullptr || !s->dragging || (point.x == s->end.x && point.y == s->end.y)) return 0;
            s->end = point;
            Changed(*s);
            return 0;
        case WM_LBUTTONUP:
            if (s == nullptr || !s->dragging) return 0;
            s->end = point;
            s->dragging = false;
            Finish(true);
            return 0;
        case WM_RBUTTONUP:
            Finish(false);
            return 0;
        case WM_HOTKEY:
            if (wParam == Selection::kEscapeHotkey && s != nullptr) Finish(false);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) Finish(false);
            if (wParam == VK_RETURN && s != nullptr && s->hasRect) Finish(true);
            return 0;
        case WM_ACTIVATE:
            // Another window came forward (Alt+Tab, a click elsewhere): the
            // selection would stay on top without its keys, half done.
            if (LOWORD(wParam) == WA_INACTIVE && s != nullptr) Finish(false);
            return 0;
        case WM_CAPTURECHANGED:
            // The drag was taken away by the system (a window came forward mid-drag).
            if (s != nullptr && s->dragging && reinterpret_cast<HWND>(lParam) != window) Finish(false);
            return 0;
        case WM_CLOSE:
            if (s != nullptr) Finish(false);
            else DestroyWindow(window);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
