// The per-frame copy of a recording's picture on its way to the encoder: the
// graphics chip's NV12 picture, mapped from a staging texture, packed into a
// Media Foundation memory buffer; once directly (how recordings are made) and
// once through a buffer in between, as an earlier version did. Then the whole
// read-back of a picture just drawn, reading the copy just issued (Map waits
// for it) or, as recordings do, the copy issued a frame earlier. Run under Wine
// or on Windows. Wine has no NV12 textures, so a one-byte texture with half as
// many rows again stands in: mapped, both have the same layout and pitch.
//
//   frame_copy_bench.exe [FRAMES]
#include <windows.h>
#include <d3d11.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "recorder/media_foundation.h"
#include "recorder/nv12_core.h"

using Microsoft::WRL::ComPtr;

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// An NV12-sized single-channel texture: the luma rows, then half as many chroma rows.
D3D11_TEXTURE2D_DESC PlanesTexture(int width, int height) {
    D3D11_TEXTURE2D_DESC description{};
    description.Width = static_cast<UINT>(width);
    description.Height = static_cast<UINT>(height * 3 / 2);
    description.MipLevels = 1;
    description.ArraySize = 1;
    description.Format = DXGI_FORMAT_R8_UNORM;
    description.SampleDesc.Count = 1;
    return description;
}

// Milliseconds per frame for `frames` copies of a width x height picture.
double Measure(ID3D11Device* device, ID3D11DeviceContext* context, int width, int height, int frames, bool between) {
    D3D11_TEXTURE2D_DESC description = PlanesTexture(width, height);
    description.Usage = D3D11_USAGE_STAGING;
    description.CPUAccessFlags = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;
    ComPtr<ID3D11Texture2D> staging;
    if (FAILED(device->CreateTexture2D(&description, nullptr, &staging))) return -1;
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context->Map(staging.Get(), 0, D3D11_MAP_WRITE, 0, &mapped))) return -1;
    for (UINT y = 0; y < description.Height; ++y)
        std::memset(static_cast<uint8_t*>(mapped.pData) + y * mapped.RowPitch, static_cast<int>(y), mapped.RowPitch);
    context->Unmap(staging.Get(), 0);

    const MediaFoundation& mf = MediaFunctions();
    const size_t size = static_cast<size_t>(width) * height * 3 / 2;
    std::vector<uint8_t> middle(size);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < frames; ++i) {
        if (FAILED(context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return -1;
        ComPtr<IMFMediaBuffer> buffer;
        BYTE* data = nullptr;
        if (FAILED(mf.createMemoryBuffer(static_cast<DWORD>(size), &buffer)) ||
            FAILED(buffer->Lock(&data, nullptr, nullptr)))
            return -1;
        const auto* picture = static_cast<const uint8_t*>(mapped.pData);
        if (between) {
            PackNv12(picture, mapped.RowPitch, width, height, middle.data());
            std::memcpy(data, middle.data(), size);
        } else {
            PackNv12(picture, mapped.RowPitch, width, height, data);
        }
        buffer->Unlock();
        buffer->SetCurrentLength(static_cast<DWORD>(size));
        context->Unmap(staging.Get(), 0);
    }
    QueryPerformanceCounter(&end);
    return Seconds(start, end) * 1000.0 / frames;
}

// Milliseconds per frame for the read-back of a picture the chip has just
// drawn: a copy into a staging texture, then Map and the copy into the
// encoder's buffer. With `ring`, the copy goes into the next of two staging
// textures and the one copied a frame earlier is read, as recordings do;
// without, the texture just copied is read, and Map waits for that copy.
double MeasureReadBack(ID3D11Device* device, ID3D11DeviceContext* context, int width, int height, int frames,
                       bool ring) {
    D3D11_TEXTURE2D_DESC description = PlanesTexture(width, height);
    description.Usage = D3D11_USAGE_DEFAULT;
    description.BindFlags = D3D11_BIND_RENDER_TARGET;
    ComPtr<ID3D11Texture2D> drawn;
    if (FAILED(device->CreateTexture2D(&description, nullptr, &drawn))) return -1;
    description.Usage = D3D11_USAGE_STAGING;
    description.BindFlags = 0;
    description.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    ComPtr<ID3D11Texture2D> staging[2];
    for (auto& texture : staging)
        if (FAILED(device->CreateTexture2D(&description, nullptr, &texture))) return -1;
    std::vector<uint8_t> picture(static_cast<size_t>(width) * description.Height);
    const MediaFoundation& mf = MediaFunctions();
    const size_t size = static_cast<size_t>(width) * height * 3 / 2;
    const auto readBack = [&](ID3D11Texture2D* texture) {
        D3D11_MAPPED_SUBRESOURCE mapped{};
        ComPtr<IMFMediaBuffer> buffer;
        BYTE* data = nullptr;
        if (FAILED(context->Map(texture, 0, D3D11_MAP_READ, 0, &mapped))) return false;
        if (FAILED(mf.createMemoryBuffer(static_cast<DWORD>(size), &buffer)) ||
            FAILED(buffer->Lock(&data, nullptr, nullptr)))
            return false;
        PackNv12(static_cast<const uint8_t*>(mapped.pData), mapped.RowPitch, width, height, data);
        buffer->Unlock();
        context->Unmap(texture, 0);
        return true;
    };
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < frames; ++i) {
        std::memset(picture.data(), i, picture.size());  // the chip's next picture
        context->UpdateSubresource(drawn.Get(), 0, nullptr, picture.data(), static_cast<UINT>(width), 0);
        ID3D11Texture2D* const target = staging[ring ? i % 2 : 0].Get();
        context->CopyResource(target, drawn.Get());
        if (ring && i == 0) continue;
        if (!readBack(ring ? staging[(i + 1) % 2].Get() : target)) return -1;
    }
    if (ring && !readBack(staging[(frames + 1) % 2].Get())) return -1;
    QueryPerformanceCounter(&end);
    return Seconds(start, end) * 1000.0 / frames;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int frames = argc > 1 ? _wtoi(argv[1]) : 600;
    const MediaFoundation& mf = MediaFunctions();
    if (mf.createMemoryBuffer == nullptr || mf.startup == nullptr) {
        std::puts("Media Foundation is missing");
        return 1;
    }
    mf.startup(MF_VERSION, MFSTARTUP_FULL);
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0,
                                 D3D11_SDK_VERSION, &device, nullptr, &context))) {
        std::puts("no Direct3D 11 device");
        return 1;
    }
    const struct {
        const char* name;
        int width, height;
    } sizes[] = {{"1080p", 1920, 1080}, {"1440p", 2560, 1440}};
    for (const auto& s : sizes) {
        const double once = Measure(device.Get(), context.Get(), s.width, s.height, frames, false);
        const double twice = Measure(device.Get(), context.Get(), s.width, s.height, frames, true);
        if (once < 0 || twice < 0) {
            std::puts("the copy could not be set up");
            return 1;
        }
        const double mb = s.width * s.height * 1.5 / 1e6;
        std::printf("%s: %.2f ms a frame (%.0f MB/s) copied once into the encoder's buffer; %.2f ms through a buffer "
                    "in between; at 60 fps the single copy is %.0f MB/s of copying\n",
                    s.name, once, mb / once * 1000, twice, mb * 60);
        const double waiting = MeasureReadBack(device.Get(), context.Get(), s.width, s.height, frames, false);
        const double ring = MeasureReadBack(device.Get(), context.Get(), s.width, s.height, frames, true);
        if (waiting < 0 || ring < 0) {
            std::puts("the read-back could not be set up");
            return 1;
        }
        std::printf("%s: drawn, copied and read back: %.2f ms a frame reading the copy just issued; %.2f ms reading "
                    "the one issued a frame earlier (two staging textures)\n",
                    s.name, waiting, ring);
    }
    return 0;
}
