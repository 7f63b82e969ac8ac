#include "app/region_overlay.h"

#include <windowsx.h>

#include <memory>
#include <string>

#include "app/shell.h"
#include "app/tray.h"

namespace {

// Time the desktop gets to repaint where the selection was before anything is captured.
constexpr UINT kSettleMs = 250;

// The monitor as it was when the selection opened, in a memory DC.
class Still {
public:
    Still() = default;
    Still(const Still&) = delete;
    Still& operator=(const Still&) = delete;
    ~Still() {
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
    uint8_t* Bits() const { return static_cast<uint8_t*>(bits_); }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

struct Selection {
    HWND window = nullptr;
    HMONITOR monitor = nullptr;
    int width = 0, height = 0;
    RegionUse use = RegionUse::Screenshot;
    Still frozen, dimmed;
    bool dragging = false;
    bool hasRect = false;
    POINT start{}, end{};

    ScreenRect Chosen() const { return DraggedRegion(start.x, start.y, end.x, end.y, {0, 0, width, height}); }
};

// Only the user-interface thread touches these.
Selection* Open = nullptr;
bool Pending = false;
RegionUse PendingUse = RegionUse::Screenshot;
HMONITOR PendingMonitor = nullptr;
ScreenRect PendingArea;

bool Freeze(Selection& s, const RECT& bounds) {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    const bool made = s.frozen.Make(screen, s.width, s.height) && s.dimmed.Make(screen, s.width, s.height) &&
                      BitBlt(s.frozen.Dc(), 0, 0, s.width, s.height, screen, bounds.left, bounds.top,
                             SRCCOPY | CAPTUREBLT);
    ReleaseDC(nullptr, screen);
    if (!made) return false;
    GdiFlush();
    const size_t bytes = static_cast<size_t>(s.width) * static_cast<size_t>(s.height) * 4;
    const uint8_t* from = s.frozen.Bits();
    uint8_t* to = s.dimmed.Bits();
    for (size_t i = 0; i < bytes; ++i) to[i] = static_cast<uint8_t>(from[i] * 100 / 256);
    return true;
}

void DrawHint(HDC dc, int width) {
    RECT line{0, 24, width, 56};
    SetTextColor(dc, RGB(255, 255, 255));
    DrawTextW(dc, L"Drag over the part of the screen to capture. Release the mouse or press Enter to take it; "
                  L"Esc or a right click cancels.",
              -1, &line, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

// The chosen part bright, framed, with its size in pixels beside it.
void DrawChosen(HDC dc, const Selection& s) {
    const ScreenRect r = s.Chosen();
    if (r.Width() <= 0 || r.Height() <= 0) return;
    BitBlt(dc, r.left, r.top, r.Width(), r.Height(), s.frozen.Dc(), r.left, r.top, SRCCOPY);
    RECT frame{r.left - 1, r.top - 1, r.right + 1, r.bottom + 1};
    FrameRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    const std::wstring label = std::to_wstring(r.Width()) + L" x " + std::to_wstring(r.Height());
    SIZE size{};
    GetTextExtentPoint32W(dc, label.c_str(), static_cast<int>(label.size()), &size);
    const int boxWidth = size.cx + 12, boxHeight = size.cy + 6;
    int x = r.left;
    int y = r.bottom + 6;
    if (y + boxHeight > s.height) y = r.top - boxHeight - 6;  // above, when there is no room below
    if (y < 0) y = r.top + 6;                                   // inside, when there is room nowhere else
    if (x + boxWidth > s.width) x = s.width - boxWidth;
    if (x < 0) x = 0;
    RECT box{x, y, x + boxWidth, y + boxHeight};
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutW(dc, x + 6, y + 3, label.c_str(), static_cast<int>(label.size()));
}

void Paint(const Selection& s, HDC target) {
    HDC buffer = CreateCompatibleDC(target);
    HBITMAP picture = CreateCompatibleBitmap(target, s.width, s.height);
    if (buffer == nullptr || picture == nullptr) {
        if (picture != nullptr) DeleteObject(picture);
        if (buffer != nullptr) DeleteDC(buffer);
        BitBlt(target, 0, 0, s.width, s.height, s.dimmed.Dc(), 0, 0, SRCCOPY);
        return;
    }
    const HGDIOBJ previousPicture = SelectObject(buffer, picture);
    const HGDIOBJ previousFont = SelectObject(buffer, UiFont != nullptr ? UiFont : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(buffer, TRANSPARENT);
    BitBlt(buffer, 0, 0, s.width, s.height, s.dimmed.Dc(), 0, 0, SRCCOPY);
    if (s.hasRect) DrawChosen(buffer, s);
    else DrawHint(buffer, s.width);
    BitBlt(target, 0, 0, s.width, s.height, buffer, 0, 0, SRCCOPY);
    SelectObject(buffer, previousFont);
    SelectObject(buffer, previousPicture);
    DeleteObject(picture);
    DeleteDC(buffer);
}

// Closes the selection; an accepted rectangle is handed on once the screen
// has had time to repaint where the selection was.
void Finish(bool accept) {
    const std::unique_ptr<Selection> s(Open);
    Open = nullptr;
    if (!s) return;
    const ScreenRect area = s->Chosen();
    const bool chosen = accept && s->hasRect;
    DestroyWindow(s->window);
    if (!chosen) return;
    const std::wstring problem = RegionProblem(area);
    if (!problem.empty()) {
        ShowBalloon(L"NIRA Ostrel", problem, BALLOON_INFO);
        return;
    }
    Pending = true;
    PendingUse = s->use;
    PendingMonitor = s->monitor;
    PendingArea = area;
    SetTimer(MainWindow, TIMER_REGION, kSettleMs, nullptr);
}

}  // namespace

void ChooseRegion(RegionUse use) {
    if (Open != nullptr) {
        SetForegroundWindow(Open->window);
        return;
    }
    if (Pending) return;
    POINT pointer{};
    GetCursorPos(&pointer);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    const HMONITOR monitor = MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY);
    if (!GetMonitorInfoW(monitor, &info)) return;
    auto s = std::make_unique<Selection>();
    s->monitor = monitor;
    s->use = use;
    s->width = info.rcMonitor.right - info.rcMonitor.left;
    s->height = info.rcMonitor.bottom - info.rcMonitor.top;
    if (s->width > 0 && s->height > 0 && Freeze(*s, info.rcMonitor))
        s->window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kRegionClass, L"NIRA Ostrel: choose a region",
                                    WS_POPUP, info.rcMonitor.left, info.rcMonitor.top, s->width, s->height, nullptr,
                                    nullptr, Instance, nullptr);
    if (s->window == nullptr) {
        ShowBalloon(L"NIRA Ostrel", L"The screen could not be read to choose a region. Try again.", BALLOON_WARNING);
        return;
    }
    // Kept out of captures like the toolbar, where Windows can: a recording may be running.
    SetWindowDisplayAffinity(s->window, kExcludeFromCapture);
    Open = s.release();
    ShowWindow(Open->window, SW_SHOW);
    SetForegroundWindow(Open->window);
    SetFocus(Open->window);
}

void RegionTimerFired() {
    KillTimer(MainWindow, TIMER_REGION);
    if (!Pending) return;
    Pending = false;
    RegionChosen(PendingUse, PendingMonitor, PendingArea);
}

void CancelRegion() {
    Finish(false);
    if (Pending) KillTimer(MainWindow, TIMER_REGION);
    Pending = false;
}

LRESULT CALLBACK RegionOverlayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Selection* const s = Open != nullptr && Open->window == window ? Open : nullptr;
    const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_CROSS));
            return TRUE;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (s != nullptr) Paint(*s, dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_LBUTTONDOWN:
            if (s == nullptr) return 0;
            SetCapture(window);
            s->dragging = true;
            s->hasRect = true;
            s->start = s->end = point;
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_MOUSEMOVE:
            if (s == nullptr || !s->dragging) return 0;
            s->end = point;
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_LBUTTONUP:
            if (s == nullptr || !s->dragging) return 0;
            s->end = point;
            s->dragging = false;
            ReleaseCapture();
            Finish(true);
            return 0;
        case WM_RBUTTONUP:
            Finish(false);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) Finish(false);
            if (wParam == VK_RETURN && s != nullptr && s->hasRect) Finish(true);
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
