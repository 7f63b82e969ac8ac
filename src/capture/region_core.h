#pragma once
// Rules for capturing part of the screen: a dragged region, a single window,
// and the list of windows the tray offers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A rectangle in virtual-screen pixels; right and bottom are outside it.
struct ScreenRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const ScreenRect&) const = default;
};

// Regions narrower or lower than this are refused.
constexpr int32_t kMinimumRegionSide = 16;

// The rectangle a drag from (x0, y0) to (x1, y1) covers, in either direction,
// kept inside `bounds` (the monitor the drag is on).
ScreenRect DraggedRegion(int32_t x0, int32_t y0, int32_t x1, int32_t y1, const ScreenRect& bounds);

// The part of `region` inside `bounds`; empty (all zero) when they do not meet.
ScreenRect ClampRegion(const ScreenRect& region, const ScreenRect& bounds);

// The sentence that refuses a region too small to capture, or "".
std::wstring RegionProblem(const ScreenRect& region);

// The area a recording of `region` reads: its width and height rounded down
// to even numbers, from its top left corner.
ScreenRect EvenRegion(const ScreenRect& region);

// The part of a frame of the given size a recording converts: `requested`
// (frame pixels; all zero for the whole frame) kept inside the frame, with
// even sides. Empty when nothing of it is left.
ScreenRect RecordedArea(const ScreenRect& requested, int32_t frameWidth, int32_t frameHeight);

// A visible top-level window, as the tray lists it.
struct WindowEntry {
    uintptr_t handle = 0;
    std::wstring title;
    // What the system says of it; none of these can be recorded.
    bool toolWindow = false;    // a palette or floating bar
    bool owned = false;         // a dialog or pop-up of another window
    bool appWindow = false;     // WS_EX_APPWINDOW: on the taskbar even when owned or a tool window
    bool cloaked = false;       // on another virtual desktop, or hidden by the shell
    bool ours = false;          // this program's own
    bool shellDesktop = false;  // the desktop behind everything ("Program Manager")
    bool minimized = false;     // offered, and restored before it is recorded
    int32_t width = 0, height = 0;  // of its normal place when minimized
};

constexpr size_t kMaxWindowMenuEntries = 50;

// The windows the "Record a window" submenu offers: those with a title that
// is not blank and of some size, that can be captured (no tool, owned,
// cloaked or shell window, none of ours; a tool or owned window that asks
// for the taskbar, as the taskbar shows it, is offered), ordered by title (ignoring case;
// equal titles keep their order), at most kMaxWindowMenuEntries.
std::vector<WindowEntry> WindowMenuEntries(std::vector<WindowEntry> windows);

// A title as a menu shows it: "&" doubled so it is not taken for a shortcut
// letter, tabs and line breaks as spaces, and more than 60 characters cut
// to 59 and "…"; " (minimized)" after a minimized window's.
std::wstring WindowMenuLabel(const std::wstring& title, bool minimized = false);
