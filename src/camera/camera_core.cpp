#include "camera/camera_core.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace camera {

namespace {

int32_t Scale(int32_t pixels, uint32_t dpi) { return static_cast<int32_t>((int64_t(pixels) * (dpi ? dpi : 96)) / 96); }

// How cheaply Windows turns a format into RGB: uncompressed YUV first, RGB
// as it is, then the ones a decoder has to unpack.
int CostOf(uint32_t fourcc) {
    constexpr uint32_t kNv12 = 0x3231564E, kYuy2 = 0x32595559, kRgb32 = 22, kXrgb = 21, kMjpg = 0x47504A4D;
    if (fourcc == kNv12) return 0;
    if (fourcc == kYuy2) return 1;
    if (fourcc == kRgb32 || fourcc == kXrgb) return 2;
    if (fourcc == kMjpg) return 3;
    return 4;
}

double Fps(const CameraFormat& f) { return f.fpsDenominator == 0 ? 0.0 : double(f.fpsNumerator) / f.fpsDenominator; }

}  // namespace

std::wstring_view BubbleSizeName(BubbleSize size) {
    switch (size) {
        case BubbleSize::Small: return L"small";
        case BubbleSize::Large: return L"large";
        case BubbleSize::Medium: break;
    }
    return L"medium";
}

BubbleSize BubbleSizeNamed(std::wstring_view name) {
    if (name == L"small") return BubbleSize::Small;
    if (name == L"large") return BubbleSize::Large;
    return BubbleSize::Medium;
}

int32_t BubbleDiameter(BubbleSize size, uint32_t dpi) {
    const int32_t at96 = size == BubbleSize::Small ? 140 : size == BubbleSize::Large ? 320 : 220;
    return Scale(at96, dpi);
}

Spot PlaceBubble(const Area& work, int32_t diameter, Spot wanted, uint32_t dpi) {
    const int32_t margin = Scale(16, dpi), snap = Scale(48, dpi);
    // The room along each axis; a bubble that does not fit stands at the start.
    auto along = [&](int32_t start, int32_t end, int32_t at) {
        const int32_t first = start + margin, last = end - margin - diameter;
        if (last >= first) return std::clamp(at, first, last);
        const int32_t lastAtAll = end - diameter;
        return lastAtAll < start ? start : std::clamp(at, start, lastAtAll);
    };
    Spot spot{along(work.left, work.right, wanted.x), along(work.top, work.bottom, wanted.y)};
    // Near a corner on both axes: into the corner.
    const int32_t left = work.left + margin, right = work.right - margin - diameter;
    const int32_t top = work.top + margin, bottom = work.bottom - margin - diameter;
    if (right >= left && bottom >= top) {
        const bool nearLeft = spot.x - left <= snap, nearRight = right - spot.x <= snap;
        const bool nearTop = spot.y - top <= snap, nearBottom = bottom - spot.y <= snap;
        if ((nearLeft || nearRight) && (nearTop || nearBottom)) {
            spot.x = nearLeft ? left : right;
            spot.y = nearTop ? top : bottom;
        }
    }
    return spot;
}

Spot FirstBubbleSpot(const Area& work, int32_t diameter, uint32_t dpi) {
    return PlaceBubble(work, diameter, {work.left, work.bottom - diameter}, dpi);
}

void DrawBubblePicture(const FrameView& frame, int32_t diameter, std::vector<uint8_t>& out) {
    const size_t side = diameter > 0 ? static_cast<size_t>(diameter) : 0;
    out.assign(side * side * 4, 0);
    if (side == 0 || frame.bgra == nullptr || frame.width <= 0 || frame.height <= 0) {
        for (size_t i = 3; i < out.size(); i += 4) out[i] = 255;
        return;
    }
    const int32_t square = std::min(frame.width, frame.height);
    const int32_t x0 = (frame.width - square) / 2, y0 = (frame.height - square) / 2;
    const double step = double(square) / double(side);
    // Each output pixel samples the frame at its centre, between the four
    // nearest pixels; columns are taken from the right, as a mirror shows.
    struct Tap {
        int32_t a, b;
        uint32_t weight;  // of b, in 1/256
    };
    auto taps = [&](size_t n, int32_t origin, bool mirrored) {
        std::vector<Tap> list(n);
        for (size_t i = 0; i < n; ++i) {
            double at = (double(i) + 0.5) * step - 0.5;
            if (mirrored) at = double(square - 1) - at;
            at = std::clamp(at, 0.0, double(square - 1));
            const auto low = static_cast<int32_t>(std::floor(at));
            const int32_t high = std::min(low + 1, square - 1);
            list[i] = {origin + low, origin + high, static_cast<uint32_t>(std::lround((at - low) * 256))};
        }
        return list;
    };
    const std::vector<Tap> columns = taps(side, x0, true), rows = taps(side, y0, false);
    uint8_t* target = out.data();
    for (size_t y = 0; y < side; ++y) {
        const uint8_t* upper = frame.bgra + ptrdiff_t(rows[y].a) * frame.stride;
        const uint8_t* lower = frame.bgra + ptrdiff_t(rows[y].b) * frame.stride;
        const uint32_t wy = rows[y].weight;
        for (size_t x = 0; x < side; ++x, target += 4) {
            const Tap& c = columns[x];
            const uint8_t *p00 = upper + size_t(c.a) * 4, *p01 = upper + size_t(c.b) * 4;
            const uint8_t *p10 = lower + size_t(c.a) * 4, *p11 = lower + size_t(c.b) * 4;
            for (int k = 0; k < 3; ++k) {
                const uint32_t top = p00[k] * (256 - c.weight) + p01[k] * c.weight;
                const uint32_t bottom = p10[k] * (256 - c.weight) + p11[k] * c.weight;
                target[k] = static_cast<uint8_t>((top * (256 - wy) + bottom * wy + 32768) >> 16);
            }
            target[3] = 255;
        }
    }
}

void ColourBars(int32_t width, int32_t height, int64_t pictureNumber, std::vector<uint8_t>& out) {
    static constexpr uint8_t kBars[7][3] = {
        {255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0}, {255, 0, 255}, {0, 0, 255}, {255, 0, 0},
    };  // B, G, R: white, yellow, cyan, green, magenta, red, blue
    const size_t w = width > 0 ? size_t(width) : 0, h = height > 0 ? size_t(height) : 0;
    out.resize(w * h * 4);
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) {
            uint8_t* p = out.data() + (y * w + x) * 4;
            const uint8_t* bar = kBars[std::min<size_t>(6, x * 7 / w)];
            p[0] = bar[0], p[1] = bar[1], p[2] = bar[2], p[3] = 255;
        }
    const size_t box = std::max<size_t>(1, h / 8), travel = w > box ? w - box : 0;
    const size_t left = travel * size_t(((pictureNumber % 60) + 60) % 60) / 59, top = h - std::min(h, box * 2);
    for (size_t y = top; y < std::min(h, top + box); ++y)
        for (size_t x = left; x < std::min(w, left + box); ++x) {
            uint8_t* p = out.data() + (y * w + x) * 4;
            p[0] = p[1] = p[2] = 0;
        }
}

std::vector<size_t> FormatsToTry(const std::vector<CameraFormat>& formats) {
    std::vector<size_t> order(formats.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    auto key = [&](size_t i) {
        const CameraFormat& f = formats[i];
        const double fps = Fps(f);
        const int64_t area = int64_t(f.width) * f.height;
        const bool fits = f.width <= 1280 && f.height <= 720 && fps <= 30.5 && f.width > 0 && f.height > 0;
        // Among those that fit: the largest, then the fastest (a slideshow
        // below 15 last). Among the rest: the least work.
        return std::make_tuple(fits ? 0 : 1, fits && fps < 14.5 ? 1 : 0, fits ? -area : area, fits ? -fps : fps,
                               CostOf(f.fourcc));
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
    return order;
}

std::wstring FourccText(uint32_t fourcc) {
    std::wstring text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<wchar_t>((fourcc >> (8 * i)) & 0xFF);
        if (c < 0x20 || c > 0x7E) return std::to_wstring(fourcc);
        text.push_back(c);
    }
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return text;
}

const wchar_t kNoCamera[] = L"No camera was found. Connect a camera, then show the camera again.";

std::wstring CameraProblemText(uint32_t hresult, CameraStep step, std::wstring_view errorText) {
    switch (hresult) {
        case 0x80070005:  // E_ACCESSDENIED: the privacy setting
            return L"Windows is keeping desktop apps away from the camera. Turn on camera access in Settings > "
                   L"Privacy & security > Camera (on Windows 10: Settings > Privacy > Camera), then show the camera "
                   L"again.";
        case 0xC00D3704:  // MF_E_HW_MFT_FAILED_START_STREAMING
        case 0xC00D3EA3:  // MF_E_VIDEO_RECORDING_DEVICE_PREEMPTED
        case 0x80070020:  // ERROR_SHARING_VIOLATION
        case 0x800700AA:  // ERROR_BUSY
            return L"The camera is in use by another program. Close that program, then show the camera again.";
        case 0xC00D3EA2:  // MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED
        case 0x8007048F:  // ERROR_DEVICE_NOT_CONNECTED
        case 0x80070651:  // ERROR_DEVICE_REMOVED
        case 0x80070037:  // ERROR_DEV_NOT_EXIST
            return L"The camera was disconnected. Connect it, then show the camera again.";
        case 0xC00D3E85:  // MF_E_SHUTDOWN: Windows closed the camera under us
            if (step == CameraStep::Showing)
                return L"The camera was disconnected. Connect it, then show the camera again.";
            break;
        default:
            break;
    }
    return std::wstring(step == CameraStep::Opening ? L"The camera could not be started: "
                                                    : L"The camera stopped sending its picture: ") +
           std::wstring(errorText);
}

std::wstring UnconvertibleText(const std::vector<CameraFormat>& formats) {
    std::vector<std::wstring> names;
    for (const CameraFormat& f : formats) {
        std::wstring name = FourccText(f.fourcc);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    }
    std::wstring list;
    for (size_t i = 0; i < names.size(); ++i) list += (i == 0 ? L"" : L", ") + names[i];
    return L"This camera sends its picture in a form Windows can't turn into one Ostrel can show" +
           (list.empty() ? std::wstring() : L" (" + list + L")") + L". Choose another camera in Settings.";
}

}  // namespace camera
