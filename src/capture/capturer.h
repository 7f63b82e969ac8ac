#pragma once
// Capture of one monitor that always holds a private copy of the newest
// frame, cropped to even width and height. Consumers take the latest frame
// when they need it; a still screen still yields pictures.
#include <windows.h>
#include <d3d11.h>
#include <wrl/client.h>

#include <cstdint>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/d3d.h"
#include "common/unique_handle.h"

// The part of a running capture that every frame source shares: the newest
// frame and the first-frame event. Frame sources derive their state from it.
struct FrameStore {
    // Held by the store itself: a frame callback that is still running when
    // the capture stops must never reach a device its starter already released.
    Microsoft::WRL::ComPtr<ID3D11Device> device;
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;
    std::mutex frameLock;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> latest;
    int32_t latestWidth = 0;
    int32_t latestHeight = 0;
    bool hasFrame = false;
    std::vector<uint8_t> pixels;  // a frame kept by StorePixels, rows of width * 4 bytes
    int32_t pixelsWidth = 0, pixelsHeight = 0;
    bool pixelsWaiting = false;
    // Set once the captured window has closed or the monitor is gone; no frame follows.
    std::atomic<bool> sourceClosed{false};
    // Why no frame can be had now, when the frame source knows (its buffers
    // could not be remade for a new size, say); S_OK otherwise.
    std::atomic<HRESULT> failure{S_OK};
    UniqueHandle frameEvent{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // Signalled whenever a consumer takes the newest frame; a frame source
    // that copies the screen itself can pace its copies by it.
    UniqueHandle frameTaken{CreateEventW(nullptr, FALSE, FALSE, nullptr)};

    // Copies a delivered frame of the given content size into `latest`,
    // cropping an odd last column or row, and signals the first frame.
    HRESULT StoreFrame(ID3D11Texture2D* frame, int32_t width, int32_t height);
    // The same for a frame that is in memory (B8G8R8A8 rows, top row first).
    // It is only kept here; the first consumer to take it puts it into
    // `latest` (a staging texture, which consumers that read the picture back
    // on the processor can map without a trip through the graphics chip). So
    // the thread that copies the screen never uses the device: under Wine
    // every short-lived thread that uses another thread's device keeps about
    // 2 MB for good.
    HRESULT StorePixels(const uint8_t* pixels, uint32_t pitch, int32_t width, int32_t height);
    // Puts kept pixels into `latest`; called under the frame lock.
    HRESULT TakePixels();
    // Drops the newest frame (under the lock).
    void Clear();
    // Makes `latest` a texture of `description` at the given size unless it
    // already is one of that size. Called under the frame lock.
    HRESULT EnsureLatest(D3D11_TEXTURE2D_DESC description, int32_t width, int32_t height);
};

class Capturer {
public:
    Capturer() = default;
    ~Capturer() { Stop(); }
    Capturer(const Capturer&) = delete;
    Capturer& operator=(const Capturer&) = delete;

    // Starts capturing `monitor` (an earlier capture of this object ends
    // first) on the device of `d3d`.
    bool Start(D3D& d3d, HMONITOR monitor, bool cursor, std::wstring& problem);
    // The same for one top-level window; frames follow the window's size.
    bool StartWindow(D3D& d3d, HWND window, bool cursor, std::wstring& problem);
    // True once the captured window has closed, or the captured monitor is gone.
    bool SourceClosed() const { return state_ && state_->sourceClosed.load(); }
    bool WaitForFirstFrame(DWORD milliseconds);
    // Copies the newest frame into `texture`, re-making it when it is null or
    // of another size and writing the new size back. On failure `error`, when
    // given, says why.
    bool CopyLatestFrame(Microsoft::WRL::ComPtr<ID3D11Texture2D>& texture, int32_t& width, int32_t& height,
                         HRESULT* error = nullptr);
    // Runs `use` on the newest frame under the frame lock; false before the
    // first frame or without a capture.
    bool WithLatestFrame(const std::function<bool(ID3D11Texture2D* latest, int32_t width, int32_t height)>& use);
    // Copies the newest frame when it is kept in memory (the screen-copy
    // stand-in's frames), so a short-lived thread can read it without the
    // device; false for frames that only a texture holds.
    bool CopyLatestPixels(std::vector<uint8_t>& pixels, int32_t& width, int32_t& height);
    void Stop();
    bool Running() const { return state_ != nullptr; }

private:
    // The system's capture of a monitor or, when `window` is set, of a window.
    bool StartItem(D3D& d3d, HMONITOR monitor, HWND window, bool cursor, std::wstring& problem);
    // Owned jointly with the frame source's callbacks, so a callback still
    // running when Stop returns never touches freed memory.
    std::shared_ptr<FrameStore> state_;
};

// Where a frame's top left pixel lies on the screen: the monitor's corner, or
// for a window, the corner of its visible frame or of its whole rectangle,
// whichever has the frame's size. False when neither can be told.
bool FrameOrigin(HMONITOR monitor, HWND window, int32_t frameWidth, int32_t frameHeight, POINT& origin);

// A copy of the screen in memory: B8G8R8A8 rows, top row first, even sides.
class ScreenCopy {
public:
    virtual ~ScreenCopy() = default;
    const uint8_t* pixels = nullptr;
    int32_t width = 0, height = 0;
    uint32_t pitch = 0;
};
// One copy of a monitor made at once on this thread, where the frame source
// copies the screen itself (the test build's stand-in): no capture to start,
// no frame to wait for and no second copy of the pixels. Null where frames
// come only through the system's capture, or when the copy failed.
std::unique_ptr<ScreenCopy> CopyScreenNow(HMONITOR monitor, bool cursor);
