// Resident memory of a process that makes a Direct3D 11 device, uses its
// context from one thread and releases it, over and over. Under Wine with its
// command-stream thread off (as the tests run it), every short-lived thread
// that uses a device another thread made keeps about 2 MB for good; a thread
// that uses only its own device keeps nothing. Prints a line every ten rounds;
// read the process's resident memory beside it (bench/d3d_thread_memory.sh).
//
//   d3d_thread_memory.exe MODE ROUNDS
//   MODE own:   each round a new thread makes a device and uses it
//   MODE other: the main thread makes the device, a new thread uses it
#include <windows.h>
#include <d3d11.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <thread>

using Microsoft::WRL::ComPtr;

namespace {

bool MakeDevice(ComPtr<ID3D11Device>& device, ComPtr<ID3D11DeviceContext>& context, ComPtr<ID3D11Texture2D>& texture) {
    if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr,
                                 0, D3D11_SDK_VERSION, &device, nullptr, &context)))
        return false;
    D3D11_TEXTURE2D_DESC description{};
    description.Width = 1920;
    description.Height = 1080;
    description.MipLevels = 1;
    description.ArraySize = 1;
    description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    description.SampleDesc.Count = 1;
    description.Usage = D3D11_USAGE_STAGING;
    description.CPUAccessFlags = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;
    return SUCCEEDED(device->CreateTexture2D(&description, nullptr, &texture));
}

void Use(ID3D11DeviceContext* context, ID3D11Texture2D* texture) {
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context->Map(texture, 0, D3D11_MAP_WRITE, 0, &mapped))) return;
    std::memset(mapped.pData, 1, mapped.RowPitch * 100);
    context->Unmap(texture, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const bool other = std::wcscmp(argv[1], L"other") == 0;
    const int rounds = _wtoi(argv[2]);
    for (int round = 1; round <= rounds; ++round) {
        if (other) {
            ComPtr<ID3D11Device> device;
            ComPtr<ID3D11DeviceContext> context;
            ComPtr<ID3D11Texture2D> texture;
            if (!MakeDevice(device, context, texture)) return 1;
            std::thread([&] { Use(context.Get(), texture.Get()); }).join();
        } else {
            std::thread([] {
                ComPtr<ID3D11Device> device;
                ComPtr<ID3D11DeviceContext> context;
                ComPtr<ID3D11Texture2D> texture;
                if (MakeDevice(device, context, texture)) Use(context.Get(), texture.Get());
            }).join();
        }
        if (round % 10 == 0) {
            std::printf("%d rounds\n", round);
            std::fflush(stdout);
            Sleep(500);
        }
    }
    return 0;
}
