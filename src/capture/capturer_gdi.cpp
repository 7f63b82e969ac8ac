// Stand-in frame source for the test build: copies the monitor (or one
// window's rectangle) with GDI into memory on a thread of its own, under the
// same contract as the system's capture (newest frame only, even crop, first-frame event, a
// change of size followed with that frame dropped). Used where the system's
// capture API is missing, as under Wine. Its textures are staging textures:
// under Wine every trip through the graphics chip costs a copy on the
// processor, and the test build's converter reads the picture there anyway.
#include <windows.h>

#include <atomic>
#include <thread>

#include "capture/capturer.h"

namespace {

// Copies follow the consumers: a new one as soon as the newest was taken, but
// not more often than this, and at least this often so the picture stays fresh.
constexpr DWORD kFrameIntervalMs = 15;
constexpr DWORD kIdleIntervalMs = 100;

struct CaptureState : FrameStore {
    HMONITOR monitor = nullptr;
    HWND window = nullptr;  // when set, the window's rectangle is copied instead
    bool cursor = true;
    std::atomic<bool> stopRequested{false};
    UniqueHandle wake{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread thread;
};

// A top-down 32-bit DIB section selected into a memory DC, that the screen
// is copied into, the pointer drawn over it.
class DibCanvas {
public:
    DibCanvas() = default;
    ~DibCanvas() { Free(); }
    DibCanvas(const DibCanvas&) = delete;
    DibCanvas& operator=(const DibCanvas&) = delete;

    bool Make(int width, int height) {
        Free();
        width_ = width;
        height_ = height;
        BITMAPINFO bitmapInfo{};
        bitmapInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bitmapInfo.bmiHeader.biWidth = width;
        bitmapInfo.bmiHeader.biHeight = -height;  // top-down, like a texture
        bitmapInfo.bmiHeader.biPlanes = 1;
        bitmapInfo.bmiHeader.biBitCount = 32;
        bitmapInfo.bmiHeader.biCompression = BI_RGB;
        memory_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(memory_, &bitmapInfo, DIB_RGB_COLORS, &bits_, nullptr, 0);
        if (memory_ == nullptr || bitmap_ == nullptr) return false;
        previous_ = SelectObject(memory_, bitmap_);
        return true;
    }

    // Copies the screen from (left, top), the pointer drawn when asked.
    bool CopyScreen(int left, int top, bool cursor) {
        HDC screen = GetDC(nullptr);
        if (screen == nullptr) return false;
        const BOOL copied = BitBlt(memory_, 0, 0, width_, height_, screen, left, top, SRCCOPY | CAPTUREBLT);
        ReleaseDC(nullptr, screen);
        if (!copied) return false;
        if (cursor) DrawPointer(left, top);
        GdiFlush();
        return true;
    }

    int Width() const { return width_; }
    int Height() const { return height_; }
    const uint8_t* Bits() const { return static_cast<const uint8_t*>(bits_); }

private:
    void DrawPointer(int originX, int originY) {
        CURSORINFO cursor{};
        cursor.cbSize = sizeof cursor;
        if (!GetCursorInfo(&cursor) || !(cursor.flags & CURSOR_SHOWING) || cursor.hCursor == nullptr) return;
        ICONINFO icon{};
        if (!GetIconInfo(cursor.hCursor, &icon)) return;
        DrawIconEx(memory_, cursor.ptScreenPos.x - originX - static_cast<int>(icon.xHotspot),
                   cursor.ptScreenPos.y - originY - static_cast<int>(icon.yHotspot), cursor.hCursor, 0, 0, 0, nullptr,
                   DI_NORMAL);
        if (icon.hbmMask) DeleteObject(icon.hbmMask);
        if (icon.hbmColor) DeleteObject(icon.hbmColor);
    }

    void Free() {
        if (memory_ != nullptr && previous_ != nullptr) SelectObject(memory_, previous_);
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        if (memory_ != nullptr) DeleteDC(memory_);
        memory_ = nullptr;
        bitmap_ = nullptr;
        previous_ = nullptr;
        bits_ = nullptr;
        width_ = height_ = 0;
    }

    int width_ = 0;
    int height_ = 0;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

class GdiGrabber {
public:
    explicit GdiGrabber(CaptureState& state) : state_(state) {}

    void Grab() {
        RECT area{};
        if (state_.window != nullptr) {
            // A window is copied where it shows on the screen, whatever covers it.
            if (!IsWindow(state_.window)) {
                state_.sourceClosed = true;
                SetEvent(state_.frameEvent.Get());
                return;
            }
            if (!GetWindowRect(state_.window, &area)) return;
        } else {
            MONITORINFO info{};
            info.cbSize = sizeof info;
            if (!GetMonitorInfoW(state_.monitor, &info)) return;
            area = info.rcMonitor;
        }
        const int width = area.right - area.left;
        const int height = area.bottom - area.top;
        if (width <= 0 || height <= 0) return;
        if (width != canvas_.Width() || height != canvas_.Height()) {
            // A new size: re-make the buffers and drop this frame, as the system's capture does.
            const bool first = canvas_.Width() == 0;
            if (!canvas_.Make(width, height) || !first) return;
        }
        if (!canvas_.CopyScreen(area.left, area.top, state_.cursor)) return;
        state_.StorePixels(canvas_.Bits(), static_cast<uint32_t>(width) * 4, width, height);
    }

private:
    CaptureState& state_;
    DibCanvas canvas_;
};

// One copy of a monitor, kept in its DIB section: the screenshot reads it there.
class GdiScreenCopy : public ScreenCopy {
public:
    bool Take(HMONITOR monitor, bool cursor) {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (!GetMonitorInfoW(monitor, &info)) return false;
        const int width = info.rcMonitor.right - info.rcMonitor.left, height = info.rcMonitor.bottom - info.rcMonitor.top;
        if (width < 2 || height < 2 || !canvas_.Make(width, height) ||
            !canvas_.CopyScreen(info.rcMonitor.left, info.rcMonitor.top, cursor))
            return false;
        // An odd last column or row is left out, as the capture's frames leave it.
        pixels = canvas_.Bits();
        this->width = width & ~1;
        this->height = height & ~1;
        pitch = static_cast<uint32_t>(width) * 4;
        return true;
    }

private:
    DibCanvas canvas_;
};

void GrabLoop(std::shared_ptr<CaptureState> state) {
    GdiGrabber grabber(*state);
    while (!state->stopRequested.load()) {
        const ULONGLONG began = GetTickCount64();
        grabber.Grab();
        const ULONGLONG spent = GetTickCount64() - began;
        if (spent < kFrameIntervalMs && WaitForSingleObject(state->wake.Get(), static_cast<DWORD>(kFrameIntervalMs - spent)) == WAIT_OBJECT_0)
            break;
        const HANDLE events[] = {state->wake.Get(), state->frameTaken.Get()};
        WaitForMultipleObjects(2, events, FALSE, kIdleIntervalMs);
    }
}

}  // namespace

bool PrepareDeviceForCapture(D3D&, std::wstring&) { return true; }

std::unique_ptr<ScreenCopy> CopyScreenNow(HMONITOR monitor, bool cursor) {
    auto copy = std::make_unique<GdiScreenCopy>();
    if (!copy->Take(monitor, cursor)) return nullptr;
    return copy;
}

namespace {

bool StartGrabbing(std::shared_ptr<FrameStore>& started, D3D& d3d, HMONITOR monitor, HWND window, bool cursor,
                   std::wstring& problem) {
    auto state = std::make_shared<CaptureState>();
    state->device = d3d.device;
    state->context = d3d.context;
    state->monitor = monitor;
    state->window = window;
    state->cursor = cursor;
    try {
        state->thread = std::thread(GrabLoop, state);
    } catch (const std::system_error&) {
        problem = L"Screen capture could not start: the capture thread could not be created.";
        return false;
    }
    started = state;
    return true;
}

}  // namespace

bool Capturer::Start(D3D& d3d, HMONITOR monitor, bool cursor, std::wstring& problem) {
    Stop();
    return StartGrabbing(state_, d3d, monitor, nullptr, cursor, problem);
}

bool Capturer::StartWindow(D3D& d3d, HWND window, bool cursor, std::wstring& problem) {
    Stop();
    return StartGrabbing(state_, d3d, nullptr, window, cursor, problem);
}

void Capturer::Stop() {
    if (!state_) return;
    auto state = std::static_pointer_cast<CaptureState>(state_);
    state->stopRequested = true;
    SetEvent(state->wake.Get());
    if (state->thread.joinable()) state->thread.join();
    state->Clear();
    state_.reset();
}
