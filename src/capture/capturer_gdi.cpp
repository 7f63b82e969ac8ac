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

class GdiGrabber {
public:
    explicit GdiGrabber(CaptureState& state) : state_(state) {}
    ~GdiGrabber() { FreeBitmap(); }
    GdiGrabber(const GdiGrabber&) = delete;
    GdiGrabber& operator=(const GdiGrabber&) = delete;

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
        if (width != width_ || height != height_) {
            // A new size: re-make the buffers and drop this frame, as the system's capture does.
            const bool first = width_ == 0;
            if (!Resize(width, height) || !first) return;
        }
        HDC screen = GetDC(nullptr);
        if (screen == nullptr) return;
        const BOOL copied = BitBlt(memory_, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT);
        ReleaseDC(nullptr, screen);
        if (!copied) return;
        if (state_.cursor) DrawPointer(area.left, area.top);
        GdiFlush();
        state_.StorePixels(static_cast<const uint8_t*>(bits_), static_cast<uint32_t>(width) * 4, width, height);
    }

private:
    bool Resize(int width, int height) {
        FreeBitmap();
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

    void FreeBitmap() {
        if (memory_ != nullptr && previous_ != nullptr) SelectObject(memory_, previous_);
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        if (memory_ != nullptr) DeleteDC(memory_);
        memory_ = nullptr;
        bitmap_ = nullptr;
        previous_ = nullptr;
        bits_ = nullptr;
    }

    CaptureState& state_;
    int width_ = 0;
    int height_ = 0;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
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
