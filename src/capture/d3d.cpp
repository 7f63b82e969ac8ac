#include "capture/d3d.h"

#include <d3d10.h>

#include <mutex>

#include "storage/folders.h"

bool D3D::Create(std::wstring& problem) {
    context.Reset();
    device.Reset();
    winrtDevice.Reset();
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1};
    const HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr,
                                         D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_VIDEO_SUPPORT, levels,
                                         ARRAYSIZE(levels), D3D11_SDK_VERSION, &device, nullptr, &context);
    if (FAILED(hr)) {
        problem = L"This computer's graphics driver could not be used for screen capture: " + ErrorText(static_cast<uint32_t>(hr));
        return false;
    }
    // The context is used from the capture's thread, the video thread and the caller's.
    Microsoft::WRL::ComPtr<ID3D10Multithread> multithread;
    if (SUCCEEDED(context.As(&multithread))) multithread->SetMultithreadProtected(TRUE);
    return PrepareDeviceForCapture(*this, problem);
}

namespace {

struct Shared {
    std::mutex lock;
    D3D d3d;
};

// Never freed: released at exit, it could outlive the graphics driver.
Shared& TheShared() {
    static Shared* const shared = new Shared;
    return *shared;
}

}  // namespace

void ReleaseSharedD3D() {
    Shared& shared = TheShared();
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.d3d = D3D{};
}

bool SharedD3D(D3D& d3d, std::wstring& problem) {
    Shared& owner = TheShared();
    std::lock_guard<std::mutex> hold(owner.lock);
    D3D* const shared = &owner.d3d;
    if (!shared->device || FAILED(shared->device->GetDeviceRemovedReason())) {
        D3D made;
        if (!made.Create(problem)) return false;
        *shared = made;
    }
    d3d = *shared;
    return true;
}
