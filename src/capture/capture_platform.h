#pragma once
// The entry points through which the system's screen capture reaches the
// Windows Runtime. Their defaults are the system's own functions, looked up
// at run time; only the glue tests put fakes of the platform objects there.
#include <windows.h>
#include <dxgi.h>
#include <inspectable.h>

struct CapturePlatform {
    // The activation factory of a Windows Runtime class, as the interface `iid`.
    HRESULT (*activationFactory)(const wchar_t* className, REFIID iid, void** factory);
    // CreateDirect3D11DeviceFromDXGIDevice.
    HRESULT (*createDevice)(IDXGIDevice* device, IInspectable** wrapper);
};

CapturePlatform& CaptureFunctions();
