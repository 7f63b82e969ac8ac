// Stand-in picture converter for the test build: reads the frame back and
// converts it on the processor with the same placement and colour rules as
// the graphics chip's video processor.
#include <wrl/client.h>


#include "recorder/backends.h"
#include "recorder/nv12_core.h"

using Microsoft::WRL::ComPtr;

namespace {

class CpuPictureConverter final : public PictureConverter {
public:
    HRESULT Build(D3D& d3d, ID3D11Texture2D* source, int32_t sourceWidth, int32_t sourceHeight,
                  const ScreenRect& area, int32_t width, int32_t height, int32_t) override {
        d3d_ = &d3d;
        source_ = source;
        staging_.Reset();
        D3D11_TEXTURE2D_DESC description{};
        description.Width = static_cast<UINT>(sourceWidth);
        description.Height = static_cast<UINT>(sourceHeight);
        description.MipLevels = 1;
        description.ArraySize = 1;
        description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        description.SampleDesc.Count = 1;
        description.Usage = D3D11_USAGE_STAGING;
        description.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        const HRESULT hr = d3d.device->CreateTexture2D(&description, nullptr, &staging_);
        if (FAILED(hr)) return hr;
        Prepare(area, width, height);
        return S_OK;
    }

    HRESULT ConvertPixels(const uint8_t* pixels, int32_t sourceWidth, const ScreenRect& area, int32_t width,
                          int32_t height, uint8_t* out) override {
        if (pixels == nullptr || out == nullptr) return E_POINTER;
        Prepare(area, width, height);
        const uint32_t pitch = static_cast<uint32_t>(sourceWidth) * 4;
        converter_.Convert(AreaStart(pixels, pitch), pitch, out);
        return S_OK;
    }

    // The conversion happens when the picture is collected, at once after its submission.
    HRESULT Submit() override { return d3d_ != nullptr && staging_ && source_ ? S_OK : E_UNEXPECTED; }

    HRESULT Collect(uint8_t* out) override {
        ID3D11Texture2D* const source = source_.Get();
        if (d3d_ == nullptr || !staging_ || source == nullptr) return E_UNEXPECTED;
        // A source the processor can read is read in place; others are copied out first.
        D3D11_TEXTURE2D_DESC description{};
        source->GetDesc(&description);
        ID3D11Texture2D* readable = source;
        if (description.Usage != D3D11_USAGE_STAGING || !(description.CPUAccessFlags & D3D11_CPU_ACCESS_READ)) {
            d3d_->context->CopyResource(staging_.Get(), source);
            readable = staging_.Get();
        }
        D3D11_MAPPED_SUBRESOURCE mapped{};
        const HRESULT hr = d3d_->context->Map(readable, 0, D3D11_MAP_READ, 0, &mapped);
        if (FAILED(hr)) return hr;
        converter_.Convert(AreaStart(static_cast<const uint8_t*>(mapped.pData), mapped.RowPitch), mapped.RowPitch, out);
        d3d_->context->Unmap(readable, 0);
        return S_OK;
    }

private:
    D3D* d3d_ = nullptr;
    ComPtr<ID3D11Texture2D> source_;
    ComPtr<ID3D11Texture2D> staging_;
    // Makes converter_ ready for the area and output size, unless it already is.
    void Prepare(const ScreenRect& area, int32_t width, int32_t height) {
        if (area == area_ && width == width_ && height == height_) return;
        converter_.Build(area.Width(), area.Height(), width, height);
        area_ = area;
        width_ = width;
        height_ = height;
    }
    const uint8_t* AreaStart(const uint8_t* rows, size_t pitch) const {
        return rows + static_cast<size_t>(area_.top) * pitch + static_cast<size_t>(area_.left) * 4;
    }

    Nv12Converter converter_;
    ScreenRect area_;  // the area and output size converter_ was built for
    int32_t width_ = 0, height_ = 0;
};

}  // namespace

std::unique_ptr<PictureConverter> MakePictureConverter() { return std::make_unique<CpuPictureConverter>(); }
