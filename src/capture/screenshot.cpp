#include "capture/screenshot.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "capture/capturer.h"
#include "capture/d3d.h"
#include "capture/picture_core.h"
#include "common/clipboard.h"
#include "common/steady_clock.h"
#include "storage/folders.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kFirstFrameWaitMs = 3000;

HRESULT EncodePng(const std::wstring& file, const std::vector<uint8_t>& bgr, uint32_t width, uint32_t height) {
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    HRESULT hr = StartPng(file, width, height, GUID_WICPixelFormat24bppBGR, encoder, frame);
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(height, width * 3, static_cast<UINT>(bgr.size()), const_cast<BYTE*>(bgr.data()));
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}

}  // namespace

HRESULT StartPng(const std::wstring& file, uint32_t width, uint32_t height, const WICPixelFormatGUID& format,
                 ComPtr<IWICBitmapEncoder>& encoder, ComPtr<IWICBitmapFrameEncode>& frame) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    ComPtr<IWICStream> stream;
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    ComPtr<IPropertyBag2> options;
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr) && options) {
        // Each row from the one above: on screens of flat areas and text it
        // encodes in less than half the time of the adaptive default, for
        // about 2 % more bytes (bench/png_encode.sh). An encoder that does
        // not know the option keeps its own choice.
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"FilterOption");
        VARIANT value{};
        value.vt = VT_UI1;
        value.bVal = WICPngFilterUp;
        (void)options->Write(1, &option, &value);
    }
    if (SUCCEEDED(hr)) hr = frame->Initialize(options.Get());
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    WICPixelFormatGUID offered = format;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&offered);
    // The encoder may offer a different format; writing our rows into it would garble the picture.
    if (SUCCEEDED(hr) && !IsEqualGUID(offered, format)) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    return hr;
}

bool CopyBitmapToClipboard(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch, int attempts) {
    const uint64_t size = ClipboardDibSize(width, height);
    if (size > SIZE_MAX) return false;
    return PutOnClipboard(CF_DIB, static_cast<size_t>(size),
                          [&](uint8_t* target) { WriteClipboardDib(pixels, width, height, pitch, target); }, nullptr,
                          attempts);
}

bool TakeScreenshot(HMONITOR monitor, bool cursor, const std::wstring& path, bool copyToClipboard, std::wstring& problem,
                    const ScreenRect& area, StepTrace* trace, bool* copied) {
    const auto step = [trace](const wchar_t* name) {
        if (trace != nullptr) trace->Step(name, SteadyTicks());
    };
    // The stand-in copies the screen here and now, into memory the picture is saved from.
    if (const std::unique_ptr<ScreenCopy> screen = CopyScreenNow(monitor, cursor)) {
        const ScreenRect frame{0, 0, screen->width, screen->height};
        const ScreenRect kept = area == ScreenRect{} ? frame : ClampRegion(area, frame);
        if (kept == ScreenRect{}) {
            problem = L"The screen picture could not be read.";
            return false;
        }
        step(L"copy");
        return SavePicture(screen->pixels + static_cast<size_t>(kept.top) * screen->pitch +
                               static_cast<size_t>(kept.left) * 4,
                           static_cast<uint32_t>(kept.Width()), static_cast<uint32_t>(kept.Height()), screen->pitch,
                           path, copyToClipboard, problem, trace, false, copied);
    }
    D3D d3d;
    if (!SharedD3D(d3d, problem)) return false;
    step(L"device");
    ComPtr<ID3D11Texture2D> copy;
    uint32_t width = 0;
    uint32_t height = 0;
    {
        Capturer capturer;
        if (!capturer.Start(d3d, monitor, cursor, problem)) return false;
        step(L"capture start");
        if (!capturer.WaitForFirstFrame(kFirstFrameWaitMs)) {
            problem = L"The screen did not send a picture in time. Try again.";
            return false;
        }
        step(L"first frame");
        // A frame source that keeps its frames in memory (the screen-copy
        // stand-in) hands it over as it is: no trip through the device.
        std::vector<uint8_t> pixels;
        int32_t w = 0, h = 0;
        if (capturer.CopyLatestPixels(pixels, w, h)) {
            capturer.Stop();
            const ScreenRect frame{0, 0, w, h};
            const ScreenRect kept = area == ScreenRect{} ? frame : ClampRegion(area, frame);
            if (kept == ScreenRect{}) {
                problem = L"The screen picture could not be read.";
                return false;
            }
            step(L"copy");
            const size_t pitch = static_cast<size_t>(w) * 4;
            return SavePicture(pixels.data() + static_cast<size_t>(kept.top) * pitch + static_cast<size_t>(kept.left) * 4,
                               static_cast<uint32_t>(kept.Width()), static_cast<uint32_t>(kept.Height()),
                               static_cast<uint32_t>(pitch), path, copyToClipboard, problem, trace, false, copied);
        }
        const bool copied = capturer.WithLatestFrame([&](ID3D11Texture2D* latest, int32_t w, int32_t h) {
            D3D11_TEXTURE2D_DESC description{};
            latest->GetDesc(&description);
            if (FAILED(d3d.device->CreateTexture2D(&description, nullptr, &copy))) return false;
            d3d.context->CopyResource(copy.Get(), latest);
            width = static_cast<uint32_t>(w);
            height = static_cast<uint32_t>(h);
            return true;
        });
        if (!copied) {
            problem = L"The screen picture could not be read.";
            return false;
        }
    }  // only this one frame is used: the capture stops here

    D3D11_TEXTURE2D_DESC description{};
    copy->GetDesc(&description);
    description.Usage = D3D11_USAGE_STAGING;
    description.BindFlags = 0;
    description.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    description.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> staging;
    HRESULT hr = d3d.device->CreateTexture2D(&description, nullptr, &staging);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (SUCCEEDED(hr)) {
        d3d.context->CopyResource(staging.Get(), copy.Get());
        hr = d3d.context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    }
    if (FAILED(hr)) {
        problem = L"The screen picture could not be read: " + ErrorText(static_cast<uint32_t>(hr));
        return false;
    }
    // Only the area is kept; a monitor that shrank meanwhile keeps what is left of it.
    const ScreenRect frame{0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
    const ScreenRect kept = area == ScreenRect{} ? frame : ClampRegion(area, frame);
    if (kept == ScreenRect{}) {
        d3d.context->Unmap(staging.Get(), 0);
        problem = L"The screen picture could not be read.";
        return false;
    }
    const auto* pixels = static_cast<const uint8_t*>(mapped.pData) + static_cast<size_t>(kept.top) * mapped.RowPitch +
                         static_cast<size_t>(kept.left) * 4;
    step(L"copy");
    const bool saved = SavePicture(pixels, static_cast<uint32_t>(kept.Width()), static_cast<uint32_t>(kept.Height()),
                                   mapped.RowPitch, path, copyToClipboard, problem, trace, false, copied);
    d3d.context->Unmap(staging.Get(), 0);
    return saved;
}

bool SavePicture(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch, const std::wstring& path,
                 bool copyToClipboard, std::wstring& problem, StepTrace* trace, bool replace, bool* copied) {
    // The clipboard and the file are made side by side: the user can paste as
    // soon as the clipboard has the picture, and the file does not wait for it.
    // The answer waits for both.
    bool taken = false;
    int64_t clipboardAt = 0;
    std::thread clipboard;
    if (copyToClipboard) {
        const auto copy = [&] {
            taken = CopyBitmapToClipboard(pixels, width, height, pitch, kScreenshotClipboardTries);
            clipboardAt = SteadyTicks();
        };
        try {
            clipboard = std::thread(copy);
        } catch (const std::system_error&) {
            copy();
        }
    }
    HRESULT hr = S_OK;
    int64_t encodedAt = 0, renamedAt = 0;
    const std::wstring part = path + L".part";
    {
        struct Joined {
            std::thread& thread;
            ~Joined() {
                if (thread.joinable()) thread.join();
            }
        } joined{clipboard};
        try {
            const std::vector<uint8_t> bgr = PackBgr(pixels, width, height, pitch);
            hr = EncodePng(part, bgr, width, height);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        encodedAt = SteadyTicks();
        if (FAILED(hr)) {
            DeleteFileW(part.c_str());
            problem = L"The screenshot could not be saved: " + ErrorText(static_cast<uint32_t>(hr));
        } else if (!MoveFileExW(part.c_str(), path.c_str(),
                                MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0))) {
            hr = HRESULT_FROM_WIN32(GetLastError());
            DeleteFileW(part.c_str());
            problem = L"The screenshot could not be saved: " + ErrorText(static_cast<uint32_t>(hr));
        }
        renamedAt = SteadyTicks();
    }
    if (copied != nullptr) *copied = taken;
    if (trace != nullptr) {
        // In the order they ended, each since the one before.
        if (copyToClipboard && clipboardAt <= encodedAt) trace->Step(L"clipboard", clipboardAt);
        trace->Step(L"encode", encodedAt);
        if (copyToClipboard && clipboardAt > encodedAt && clipboardAt <= renamedAt) trace->Step(L"clipboard", clipboardAt);
        trace->Step(L"rename", renamedAt);
        if (copyToClipboard && clipboardAt > renamedAt) trace->Step(L"clipboard", clipboardAt);
    }
    return SUCCEEDED(hr);
}
