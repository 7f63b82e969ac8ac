#pragma once
// The entry points through which the picture converter reaches the graphics
// chip's video processor. Their defaults are the system's own; only the glue
// tests put fakes of the platform objects there.
#include <windows.h>
#include <d3d11.h>

struct VideoPlatform {
    // The device's and its immediate context's video interfaces.
    HRESULT (*videoInterfaces)(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11VideoDevice** videoDevice,
                               ID3D11VideoContext** videoContext);
    // ID3D11Device::CreateTexture2D, for the NV12 pictures.
    HRESULT (*createTexture)(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* description, ID3D11Texture2D** texture);
    // ID3D11DeviceContext::CopyResource, Map and Unmap, for reading the pictures back.
    void (*copyResource)(ID3D11DeviceContext* context, ID3D11Resource* destination, ID3D11Resource* source);
    HRESULT (*map)(ID3D11DeviceContext* context, ID3D11Resource* resource, UINT subresource, D3D11_MAP type,
                   UINT flags, D3D11_MAPPED_SUBRESOURCE* mapped);
    void (*unmap)(ID3D11DeviceContext* context, ID3D11Resource* resource, UINT subresource);
};

VideoPlatform& VideoFunctions();
