#include "capture/region_core.h"

#include <algorithm>
#include <cwctype>

ScreenRect ClampRegion(const ScreenRect& region, const ScreenRect& bounds) {
    ScreenRect clamped{std::max(region.left, bounds.left), std::max(region.top, bounds.top),
                       std::min(region.right, bounds.right), std::min(region.bottom, bounds.bottom)};
    if (clamped.left >= clamped.right || clamped.top >= clamped.bottom) return {};
    return clamped;
}

ScreenRect DraggedRegion(int32_t x0, int32_t y0, int32_t x1, int32_t y1, const ScreenRect& bounds) {
    return ClampRegion({std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)}, bounds);
}

std::wstring RegionProblem(const ScreenRect& region) {
    if (region.Width() >= kMinimumRegionSide && region.Height() >= kMinimumRegionSide) return {};
    return L"That region is too small to capture. Drag a rectangle of at least 16 x 16 pixels.";
}

ScreenRect EvenRegion(const ScreenRect& region) {
    return {region.left, region.top, region.left + (region.Width() & ~1), region.top + (region.Height() & ~1)};
}

ScreenRect RecordedArea(const ScreenRect& requested, int32_t frameWidth, int32_t frameHeight) {
    const ScreenRect frame{0, 0, frameWidth, frameHeight};
    const ScreenRect area = EvenRegion(requested == ScreenRect{} ? frame : ClampRegion(requested, frame));
    return area.Width() > 0 && area.Height() > 0 ? area : ScreenRect{};
}

namespace {

bool Blank(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; });
}

bool TitleBefore(const WindowEntry& a, const WindowEntry& b) {
    return std::lexicographical_compare(a.title.begin(), a.title.end(), b.title.begin(), b.title.end(),
                                        [](wchar_t x, wchar_t y) {
                                            return std::towlower(static_cast<wint_t>(x)) <
                                                   std::towlower(static_cast<wint_t>(y));
                                        });
}

}  // namespace

std::vector<WindowEntry> WindowMenuEntries(std::vector<WindowEntry> windows) {
    std::erase_if(windows, [](const WindowEntry& w) {
        return w.handle == 0 || Blank(w.title) || ((w.toolWindow || w.owned) && !w.appWindow) || w.cloaked || w.ours ||
               w.shellDesktop ||
               w.width <= 0 || w.height <= 0;
    });
    std::stable_sort(windows.begin(), windows.end(), TitleBefore);
    if (windows.size() > kMaxWindowMenuEntries) windows.resize(kMaxWindowMenuEntries);
    return windows;
}

std::wstring WindowMenuLabel(const std::wstring& title, bool minimized) {
    std::wstring shown = title;
    constexpr size_t kLongest = 60;
    if (shown.size() > kLongest) {
        size_t cut = kLongest - 1;
        if (shown[cut - 1] >= 0xD800 && shown[cut - 1] <= 0xDBFF) --cut;  // never half a character
        shown = shown.substr(0, cut) + L"…";
    }
    std::wstring label;
    for (const wchar_t c : shown) {
        if (c == L'&') label += L"&&";
        else if (c == L'\t' || c == L'\r' || c == L'\n') label += L' ';
        else label += c;
    }
    if (minimized) label += L" (minimized)";
    return label;
}
