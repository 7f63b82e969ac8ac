#include "app/camera_bubble.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "app/capture_flows.h"
#include "app/shell.h"
#include "app/shell_core.h"
#include "app/toolbar.h"
#include "app/tray.h"
#include "camera/camera.h"
#include "common/com_apartment.h"
#include "common/steady_clock.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/monitors.h"
#include "storage/settings.h"

namespace {

constexpr UINT WM_CAMERA_PICTURE = WM_APP + 60;  // a new picture waits in the slot
constexpr UINT WM_CAMERA_FAILED = WM_APP + 61;   // the camera could not be had, or went; the slot says why
constexpr WORD ID_SIZE_SMALL = 1, ID_SIZE_MEDIUM = 2, ID_SIZE_LARGE = 3, ID_HIDE = 4;

// What the window and its reading thread share. The thread holds it until
// it ends, so it outlives the window when the camera is slow to let go.
struct CameraSlot {
    std::mutex lock;
    bool quit = false;
    CameraSource* source = nullptr;  // while the camera is open, for Interrupt
    std::atomic<int32_t> diameter{0};
    std::vector<uint8_t> picture;  // the latest, side x side
    int32_t side = 0;
    bool waiting = false;  // a WM_CAMERA_PICTURE is on its way
    std::wstring problem;
};

struct Bubble {
    HWND window = nullptr;
    std::shared_ptr<CameraSlot> slot;
    int32_t diameter = 0;
    std::vector<uint8_t> picture;
    int32_t side = 0;
    int64_t shownAt = 0;
    bool firstLogged = false;
    // Dragging: where in the bubble it was taken.
    bool dragging = false;
    POINT grip{};
    // Painting, for the log.
    int64_t paints = 0, paintTicks = 0;
};

HWND CameraWindow = nullptr;

Bubble* Of(HWND window) { return reinterpret_cast<Bubble*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

camera::Area WorkArea(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &info.rcWork, 0);
    return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

camera::BubbleSize SizeSetting() { return camera::BubbleSizeNamed(CurrentSettings.camera_size); }

// Moves and sizes the bubble so its top left is as near `wanted` as its
// monitor allows; the monitor is the one under `anchor`.
void Place(Bubble& b, POINT anchor, camera::Spot wanted) {
    const HMONITOR monitor = MonitorFromPoint(anchor, MONITOR_DEFAULTTONEAREST);
    const uint32_t dpi = MonitorDpi(monitor);
    const int32_t diameter = camera::BubbleDiameter(SizeSetting(), dpi);
    const camera::Spot spot = camera::PlaceBubble(WorkArea(monitor), diameter, wanted, dpi);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (diameter == b.diameter) flags |= SWP_NOSIZE;
    SetWindowPos(b.window, nullptr, spot.x, spot.y, diameter, diameter, flags);
    if (diameter != b.diameter) {
        b.diameter = diameter;
        b.slot->diameter = diameter;
        // One pixel more: the region's right and bottom edges are not its own.
        SetWindowRgn(b.window, CreateEllipticRgn(0, 0, diameter + 1, diameter + 1), TRUE);
        InvalidateRect(b.window, nullptr, FALSE);
    }
}

// Keeps where the bubble stands in the settings; true when that changed them.
bool KeepPlace(const Bubble& b) {
    RECT r{};
    GetWindowRect(b.window, &r);
    if (CurrentSettings.camera_x == r.left && CurrentSettings.camera_y == r.top) return false;
    CurrentSettings.camera_x = r.left;
    CurrentSettings.camera_y = r.top;
    return true;
}

void SavePlace(const Bubble& b) {
    if (KeepPlace(b)) SaveSettings(CurrentSettings);
}

// The reading thread: opens the camera, then turns each of its pictures into
// the bubble's until told to stop or the camera goes.
void ReadCamera(const std::shared_ptr<CameraSlot>& slot, HWND window, const std::wstring& link) {
    ComApartment apartment;
    std::wstring name, problem;
    std::unique_ptr<CameraSource> source;
    try {
        source = OpenCamera(link, name, problem);
    } catch (const std::bad_alloc&) {
        problem = L"There is not enough memory free to show the camera. Close some programs and try again.";
    }
    bool quit = false;
    {
        std::lock_guard<std::mutex> hold(slot->lock);
        quit = slot->quit;
        if (source && !quit) slot->source = source.get();
        if (!source && !quit) slot->problem = problem;
    }
    if (quit) return;  // hidden while it opened: released here, unseen
    if (!source) {
        PostMessageW(window, WM_CAMERA_FAILED, 0, 0);
        return;
    }
    Log(L"Camera opened: %s", name.c_str());
    std::vector<uint8_t> drawn;
    int64_t pictures = 0, drawing = 0;
    try {
        while (source->Next(
            [&](const camera::FrameView& frame) {
                const int32_t side = slot->diameter.load();
                const int64_t start = SteadyTicks();
                camera::DrawBubblePicture(frame, side, drawn);
                drawing += SteadyTicks() - start;
                ++pictures;
                std::lock_guard<std::mutex> hold(slot->lock);
                slot->picture.swap(drawn);
                slot->side = side;
                if (!slot->waiting) slot->waiting = PostMessageW(window, WM_CAMERA_PICTURE, 0, 0) != FALSE;
            },
            problem)) {
        }
    } catch (const std::bad_alloc&) {
        problem = L"There is not enough memory free to show the camera. Close some programs and try again.";
    }
    bool told = false;
    {
        std::lock_guard<std::mutex> hold(slot->lock);
        slot->source = nullptr;
        told = slot->quit;
        if (!told) slot->problem = problem;
    }
    source.reset();
    Log(L"Camera released after %lld pictures, each turned into the bubble's in %.2f ms on average",
        static_cast<long long>(pictures),
        pictures == 0 ? 0.0 : double(drawing) * 1000.0 / double(SteadyFrequency()) / double(pictures));
    if (!told) PostMessageW(window, WM_CAMERA_FAILED, 0, 0);
}

void Paint(Bubble& b, HDC dc) {
    const int32_t d = b.diameter;
    if (b.side == d && b.picture.size() == size_t(d) * size_t(d) * 4) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = d;
        info.bmiHeader.biHeight = -d;  // top down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        const int64_t start = SteadyTicks();
        SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(d), static_cast<DWORD>(d), 0, 0, 0, static_cast<UINT>(d),
                          b.picture.data(), &info, DIB_RGB_COLORS);
        b.paintTicks += SteadyTicks() - start;
        ++b.paints;
    } else {
        // Until the camera's first picture, and while a new size waits for one.
        RECT all{0, 0, d, d};
        HBRUSH dark = CreateSolidBrush(RGB(32, 32, 36));
        FillRect(dc, &all, dark);
        DeleteObject(dark);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(230, 230, 230));
        HGDIOBJ old = SelectObject(dc, UiFont);
        DrawTextW(dc, L"Starting the camera\u2026", -1, &all, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(dc, old);
    }
    // A thin ring: the region's edge is not smoothed, the ring hides its steps.
    const int ring = std::max(2, MulDiv(2, static_cast<int>(GetDpiForWindow(b.window)), 96));
    HPEN pen = CreatePen(PS_INSIDEFRAME, ring, RGB(245, 245, 245));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Ellipse(dc, 0, 0, d + 1, d + 1);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

void PictureArrived(Bubble& b) {
    {
        std::lock_guard<std::mutex> hold(b.slot->lock);
        b.slot->waiting = false;
        b.picture.swap(b.slot->picture);
        b.side = b.slot->side;
    }
    InvalidateRect(b.window, nullptr, FALSE);
    UpdateWindow(b.window);
    if (!b.firstLogged && b.side == b.diameter) {
        b.firstLogged = true;
        Log(L"Camera bubble: first picture shown %lld ms after it was asked for",
            static_cast<long long>((SteadyTicks() - b.shownAt) * 1000 / SteadyFrequency()));
    }
}

void ChooseSize(Bubble& b, camera::BubbleSize size) {
    if (SizeSetting() == size) return;
    RECT r{};
    GetWindowRect(b.window, &r);
    const POINT middle{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    CurrentSettings.camera_size = std::wstring(camera::BubbleSizeName(size));
    const uint32_t dpi = MonitorDpi(MonitorFromPoint(middle, MONITOR_DEFAULTTONEAREST));
    const int32_t d = camera::BubbleDiameter(size, dpi);
    // It grows or shrinks about its middle, then keeps to its corner if it was in one.
    Place(b, middle, {middle.x - d / 2, middle.y - d / 2});
    KeepPlace(b);
    SaveSettings(CurrentSettings);
}

void ShowMenu(Bubble& b, POINT at) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    const camera::BubbleSize size = SizeSetting();
    AppendMenuW(menu, MF_STRING | (size == camera::BubbleSize::Small ? MF_CHECKED : 0u), ID_SIZE_SMALL, L"&Small");
    AppendMenuW(menu, MF_STRING | (size == camera::BubbleSize::Medium ? MF_CHECKED : 0u), ID_SIZE_MEDIUM, L"&Medium");
    AppendMenuW(menu, MF_STRING | (size == camera::BubbleSize::Large ? MF_CHECKED : 0u), ID_SIZE_LARGE, L"&Large");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, ID_HIDE, L"&Hide camera");
    SetForegroundWindow(b.window);
    const auto chosen = static_cast<WORD>(
        TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, b.window, nullptr));
    PostMessageW(b.window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    switch (chosen) {
        case ID_SIZE_SMALL: ChooseSize(b, camera::BubbleSize::Small); break;
        case ID_SIZE_MEDIUM: ChooseSize(b, camera::BubbleSize::Medium); break;
        case ID_SIZE_LARGE: ChooseSize(b, camera::BubbleSize::Large); break;
        case ID_HIDE: HideCamera(); break;
        default: break;
    }
}

}  // namespace

bool CameraShowing() { return CameraWindow != nullptr; }

void ToggleCamera() {
    if (CameraShowing()) {
        HideCamera();
        return;
    }
    auto bubble = std::make_unique<Bubble>();
    bubble->slot = std::make_shared<CameraSlot>();
    bubble->shownAt = SteadyTicks();
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kCameraClass,
                                  L"NIRA Ostrel camera", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, Instance, nullptr);
    if (window == nullptr) {
        ShowBalloon(L"Camera", L"The camera bubble could not be opened: " + ErrorText(HResultFromWin32(GetLastError())),
                    BALLOON_WARNING);
        return;
    }
    Bubble& b = *bubble;
    b.window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bubble.release()));
    CameraWindow = window;

    // Where it stood last time, on the monitor it stood on; the primary
    // monitor's bottom left corner the first time.
    if (CurrentSettings.camera_x != camera::kNotPlaced && CurrentSettings.camera_y != camera::kNotPlaced) {
        const POINT at{CurrentSettings.camera_x, CurrentSettings.camera_y};
        Place(b, at, {at.x, at.y});
    } else {
        const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
        const uint32_t dpi = MonitorDpi(primary);
        const camera::Area work = WorkArea(primary);
        const camera::Spot first = camera::FirstBubbleSpot(work, camera::BubbleDiameter(SizeSetting(), dpi), dpi);
        Place(b, POINT{first.x, first.y}, first);
    }
    ShowWindow(window, SW_SHOWNOACTIVATE);
    Log(L"Camera bubble shown");

    DWORD error = ERROR_SUCCESS;
    if (!StartDetachedThread([slot = b.slot, window, link = CurrentSettings.camera] { ReadCamera(slot, window, link); },
                             error)) {
        DestroyWindow(window);
        ShowBalloon(L"Camera", L"The camera could not be started: " + ErrorText(HResultFromWin32(error)),
                    BALLOON_WARNING);
    }
    UpdateToolbar();
}

void HideCamera() {
    if (CameraWindow != nullptr) DestroyWindow(CameraWindow);
}

LRESULT CALLBACK CameraWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Bubble* b = Of(window);
    if (b == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            Paint(*b, dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_LBUTTONDOWN: {
            b->dragging = true;
            b->grip = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            SetCapture(window);
            return 0;
        }
        case WM_MOUSEMOVE:
            if (b->dragging) {
                POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                ClientToScreen(window, &at);
                Place(*b, at, {at.x - b->grip.x, at.y - b->grip.y});
            }
            return 0;
        case WM_LBUTTONUP:
            if (b->dragging) ReleaseCapture();
            return 0;
        case WM_CAPTURECHANGED:
            if (b->dragging) {
                b->dragging = false;
                SavePlace(*b);
            }
            return 0;
        case WM_CONTEXTMENU: {
            POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (lParam == -1) {
                RECT r{};
                GetWindowRect(window, &r);
                at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
            }
            ShowMenu(*b, at);
            return 0;
        }
        case WM_DPICHANGED: {
            // Another monitor, another size: the bubble's middle stays put.
            RECT r{};
            GetWindowRect(window, &r);
            const POINT middle{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
            const int32_t d = camera::BubbleDiameter(SizeSetting(), HIWORD(wParam));
            Place(*b, middle, {middle.x - d / 2, middle.y - d / 2});
            return 0;
        }
        case WM_CAMERA_PICTURE:
            PictureArrived(*b);
            return 0;
        case WM_CAMERA_FAILED: {
            std::wstring problem;
            {
                std::lock_guard<std::mutex> hold(b->slot->lock);
                problem = b->slot->problem;
            }
            if (!problem.empty()) {
                Log(L"Camera: %s", problem.c_str());
                ShowBalloon(L"Camera", problem, BALLOON_WARNING);
            }
            DestroyWindow(window);
            return 0;
        }
        case WM_DESTROY: {
            {
                std::lock_guard<std::mutex> hold(b->slot->lock);
                b->slot->quit = true;
                if (b->slot->source != nullptr) b->slot->source->Interrupt();
            }
            if (b->paints > 0)
                Log(L"Camera bubble closed: %lld pictures painted at %d pixels, %.2f ms each on average",
                    static_cast<long long>(b->paints), b->diameter,
                    double(b->paintTicks) * 1000.0 / double(SteadyFrequency()) / double(b->paints));
            else
                Log(L"Camera bubble closed");
            if (CameraWindow == window) CameraWindow = nullptr;
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            delete b;
            UpdateToolbar();
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
