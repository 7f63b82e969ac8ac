#pragma once
// The Direct3D 11 device that screen capture and picture conversion share.
#include <windows.h>
#include <d3d11.h>
#include <inspectable.h>
#include <wrl/client.h>

#include <string>

struct D3D {
    Microsoft::WRL::ComPtr<ID3D11Device> device;
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;
    // The same device wrapped for the system's capture API (null where the
    // frame source needs no wrapper).
    Microsoft::WRL::ComPtr<IInspectable> winrtDevice;

    // Hardware device with BGRA and video support; the context is made
    // thread-safe. Fills problem on failure.
    bool Create(std::wstring& problem);
};

// The process's one device, made on first use (about a fifth of a second,
// most of a screenshot's time when made each time) and made again once
// Windows has removed it (a driver update, a graphics chip unplugged). Any
// thread; the context is thread-safe. Fills problem on failure.
bool SharedD3D(D3D& d3d, std::wstring& problem);
// Lets go of the shared device; the next SharedD3D makes a new one. For a
// fresh start where the platform underneath changes: the glue tests' fakes.
void ReleaseSharedD3D();

// Provided by the frame source: whatever the device needs before a capture
// can use it. Fills problem on failure.
bool PrepareDeviceForCapture(D3D& d3d, std::wstring& problem);
