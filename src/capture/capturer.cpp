#include "capture/capturer.h"

#include <dwmapi.h>

#include <cstring>

using Microsoft::WRL::ComPtr;

HRESULT FrameStore::EnsureLatest(D3D11_TEXTURE2D_DESC description, int32_t width, int32_t height) {
    if (latest && latestWidth == width && latestHeight == height) return S_OK;
    description.Width = static_cast<UINT>(width);
    description.Height = static_cast<UINT>(height);
    description.MipLevels = 1;
    description.ArraySize = 1;
    description.MiscFlags = 0;
    latest.Reset();
    const HRESULT hr = device->CreateTexture2D(&description, nullptr, &latest);
    if (FAILED(hr)) {
        latestWidth = latestHeight = 0;
        hasFrame = false;
        return hr;
    }
    latestWidth = width;
    latestHeight = height;
    return S_OK;
}

HRESULT FrameStore::StoreFrame(ID3D11Texture2D* frame, int32_t width, int32_t height) {
    if (frame == nullptr || !device || !context) return E_POINTER;
    const int32_t w = width & ~1;
    const int32_t h = height & ~1;
    if (w <= 0 || h <= 0) return S_FALSE;
    std::lock_guard<std::mutex> lock(frameLock);
    D3D11_TEXTURE2D_DESC description{};
    frame->GetDesc(&description);
    description.Usage = D3D11_USAGE_DEFAULT;
    description.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
    description.CPUAccessFlags = 0;
    const HRESULT hr = EnsureLatest(description, w, h);
    if (FAILED(hr)) return hr;
    const D3D11_BOX box{0, 0, 0, static_cast<UINT>(w), static_cast<UINT>(h), 1};
    context->CopySubresourceRegion(latest.Get(), 0, 0, 0, 0, frame, 0, &box);
    hasFrame = true;
    SetEvent(frameEvent.Get());
    return S_OK;
}

HRESULT FrameStore::StorePixels(const uint8_t* source, uint32_t pitch, int32_t width, int32_t height) {
    if (source == nullptr) return E_POINTER;
    const int32_t w = width & ~1;
    const int32_t h = height & ~1;
    if (w <= 0 || h <= 0) return S_FALSE;
    const size_t row = static_cast<size_t>(w) * 4;
    std::lock_guard<std::mutex> lock(frameLock);
    pixels.resize(row * static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(pixels.data() + static_cast<size_t>(y) * row, source + static_cast<size_t>(y) * pitch, row);
    pixelsWidth = w;
    pixelsHeight = h;
    pixelsWaiting = true;
    hasFrame = true;
    SetEvent(frameEvent.Get());
    return S_OK;
}

HRESULT FrameStore::TakePixels() {
    if (!pixelsWaiting) return S_OK;
    if (!device || !context) return E_POINTER;
    D3D11_TEXTURE2D_DESC description{};
    description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    description.SampleDesc.Count = 1;
    description.Usage = D3D11_USAGE_STAGING;
    description.CPUAccessFlags = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;
    HRESULT hr = EnsureLatest(description, pixelsWidth, pixelsHeight);
    if (FAILED(hr)) return hr;
    D3D11_MAPPED_SUBRESOURCE mapped{};
    hr = context->Map(latest.Get(), 0, D3D11_MAP_WRITE, 0, &mapped);
    if (FAILED(hr)) return hr;
    const size_t row = static_cast<size_t>(pixelsWidth) * 4;
    for (int32_t y = 0; y < pixelsHeight; ++y)
        std::memcpy(static_cast<uint8_t*>(mapped.pData) + static_cast<size_t>(y) * mapped.RowPitch,
                    pixels.data() + static_cast<size_t>(y) * row, row);
    context->Unmap(latest.Get(), 0);
    pixelsWaiting = false;
    hasFrame = true;
    return S_OK;
}

void FrameStore::Clear() {
    std::lock_guard<std::mutex> lock(frameLock);
    latest.Reset();
    hasFrame = false;
    pixelsWaiting = false;
    pixels = {};
}

bool Capturer::WaitForFirstFrame(DWORD milliseconds) {
    if (!state_) return false;
    return WaitForSingleObject(state_->frameEvent.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool Capturer::WithLatestFrame(const std::function<bool(ID3D11Texture2D*, int32_t, int32_t)>& use) {
    if (!state_) return false;
    std::lock_guard<std::mutex> lock(state_->frameLock);
    if (FAILED(state_->TakePixels())) return false;
    if (!state_->hasFrame || !state_->latest) return false;
    const bool used = use(state_->latest.Get(), state_->latestWidth, state_->latestHeight);
    SetEvent(state_->frameTaken.Get());
    return used;
}

bool Capturer::CopyLatestPixels(std::vector<uint8_t>& pixels, int32_t& width, int32_t& height) {
    if (!state_) return false;
    std::lock_guard<std::mutex> lock(state_->frameLock);
    if (state_->pixels.empty()) return false;
    pixels = state_->pixels;
    width = state_->pixelsWidth;
    height = state_->pixelsHeight;
    SetEvent(state_->frameTaken.Get());
    return true;
}

bool Capturer::CopyLatestFrame(ComPtr<ID3D11Texture2D>& texture, int32_t& width, int32_t& height, HRESULT* error) {
    HRESULT hr = S_OK;
    const bool copied = WithLatestFrame([&](ID3D11Texture2D* latest, int32_t w, int32_t h) {
        if (!texture || width != w || height != h) {
            D3D11_TEXTURE2D_DESC description{};
            latest->GetDesc(&description);
            texture.Reset();
            hr = state_->device->CreateTexture2D(&description, nullptr, &texture);
            if (FAILED(hr)) return false;
            width = w;
            height = h;
        }
        state_->context->CopyResource(texture.Get(), latest);
        return true;
    });
    if (!copied && error != nullptr) {
        if (SUCCEEDED(hr) && state_) hr = state_->failure.load();
        *error = FAILED(hr) ? hr : E_PENDING;  // no frame yet, for no reason the source gave
    }
    return copied;
}

bool FrameOrigin(HMONITOR monitor, HWND window, int32_t frameWidth, int32_t frameHeight, POINT& origin) {
    if (window == nullptr) {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (!GetMonitorInfoW(monitor, &info)) return false;
        origin = {info.rcMonitor.left, info.rcMonitor.top};
        return true;
    }
    RECT visible{}, whole{};
    const bool haveVisible =
        SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &visible, sizeof visible));
    if (!GetWindowRect(window, &whole)) return false;
    // A frame cropped to even sides is a pixel smaller than the window at most.
    const auto fits = [&](const RECT& r) {
        const int32_t w = r.right - r.left, h = r.bottom - r.top;
        return w - frameWidth >= 0 && w - frameWidth <= 1 && h - frameHeight >= 0 && h - frameHeight <= 1;
    };
    const RECT& chosen = haveVisible && fits(visible) && !fits(whole) ? visible : whole;
    origin = {chosen.left, chosen.top};
    return true;
}
