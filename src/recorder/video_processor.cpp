// The Windows PictureConverter: the Direct3D 11 video processor scales the
// captured BGRA frame into a letterboxed NV12 picture on the graphics card,
// which is then read back through a staging texture.
#include <windows.h>
#include <d3d11.h>
#include <wrl/client.h>

#include <cstring>
#include <deque>

#include "recorder/backends.h"
#include "recorder/nv12_core.h"
#include "recorder/recording_rules_core.h"
#include "recorder/video_platform.h"

using Microsoft::WRL::ComPtr;

namespace {

HRESULT SystemVideoInterfaces(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11VideoDevice** videoDevice,
                              ID3D11VideoContext** videoContext) {
    const HRESULT hr = device->QueryInterface(IID_PPV_ARGS(videoDevice));
    return SUCCEEDED(hr) ? context->QueryInterface(IID_PPV_ARGS(videoContext)) : hr;
}

HRESULT SystemCreateTexture(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* description, ID3D11Texture2D** texture) {
    return device->CreateTexture2D(description, nullptr, texture);
}

void SystemCopyResource(ID3D11DeviceContext* context, ID3D11Resource* destination, ID3D11Resource* source) {
    context->CopyResource(destination, source);
}

HRESULT SystemMap(ID3D11DeviceContext* context, ID3D11Resource* resource, UINT subresource, D3D11_MAP type, UINT flags,
                  D3D11_MAPPED_SUBRESOURCE* mapped) {
    return context->Map(resource, subresource, type, flags, mapped);
}

void SystemUnmap(ID3D11DeviceContext* context, ID3D11Resource* resource, UINT subresource) {
    context->Unmap(resource, subresource);
}

class VideoProcessorConverter final : public PictureConverter {
public:
    HRESULT Build(D3D& d3d, ID3D11Texture2D* source, int32_t sourceWidth, int32_t sourceHeight,
                  const ScreenRect& area, int32_t width, int32_t height, int32_t fps) override {
        Reset();
        device_ = d3d.device;
        context_ = d3d.context;
        if (!device_ || !context_ || source == nullptr) return E_POINTER;
        const VideoPlatform& platform = VideoFunctions();
        videoDevice_.Reset();
        videoContext_.Reset();
        HRESULT hr = platform.videoInterfaces(device_.Get(), context_.Get(), &videoDevice_, &videoContext_);
        if (FAILED(hr)) return hr;

        D3D11_VIDEO_PROCESSOR_CONTENT_DESC content = {};
        content.InputFrameFormat = D3D11_VIDEO_FRAME_FORMAT_PROGRESSIVE;
        content.InputFrameRate = {static_cast<UINT>(fps), 1};
        content.InputWidth = static_cast<UINT>(sourceWidth);
        content.InputHeight = static_cast<UINT>(sourceHeight);
        content.OutputFrameRate = {static_cast<UINT>(fps), 1};
        content.OutputWidth = static_cast<UINT>(width);
        content.OutputHeight = static_cast<UINT>(height);
        content.Usage = D3D11_VIDEO_USAGE_PLAYBACK_NORMAL;
        hr = videoDevice_->CreateVideoProcessorEnumerator(&content, &enumerator_);
        if (FAILED(hr)) return hr;
        hr = videoDevice_->CreateVideoProcessor(enumerator_.Get(), 0, &processor_);
        if (FAILED(hr)) return hr;

        D3D11_TEXTURE2D_DESC desc = {};
        desc.Width = static_cast<UINT>(width);
        desc.Height = static_cast<UINT>(height);
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_NV12;
        desc.SampleDesc.Count = 1;
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_RENDER_TARGET;
        hr = platform.createTexture(device_.Get(), &desc, &nv12_);
        if (FAILED(hr)) return hr;
        // The processor can only draw into GPU memory, so the picture is read
        // back through copies, one more than are waiting to be read.
        desc.Usage = D3D11_USAGE_STAGING;
        desc.BindFlags = 0;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        for (ComPtr<ID3D11Texture2D>& staging : staging_) {
            hr = platform.createTexture(device_.Get(), &desc, &staging);
            if (FAILED(hr)) return hr;
        }

        D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC outputDesc = {};
        outputDesc.ViewDimension = D3D11_VPOV_DIMENSION_TEXTURE2D;
        outputDesc.Texture2D.MipSlice = 0;
        hr = videoDevice_->CreateVideoProcessorOutputView(nv12_.Get(), enumerator_.Get(), &outputDesc, &outputView_);
        if (FAILED(hr)) return hr;
        // Made here rather than on the first picture, so that a chip that
        // cannot read the captured frames says so instead of passing every slot.
        D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC inputDesc = {};
        inputDesc.FourCC = 0;
        inputDesc.ViewDimension = D3D11_VPIV_DIMENSION_TEXTURE2D;
        inputDesc.Texture2D.MipSlice = 0;
        inputDesc.Texture2D.ArraySlice = 0;
        hr = videoDevice_->CreateVideoProcessorInputView(source, enumerator_.Get(), &inputDesc, &inputView_);
        if (FAILED(hr)) return hr;

        // The processor reads only the area: a part of the monitor is cropped here.
        const Placement placement = LetterboxPlacement(area.Width(), area.Height(), width, height);
        const RECT sourceRect = {area.left, area.top, area.right, area.bottom};
        const RECT destRect = {placement.left, placement.top, placement.right, placement.bottom};
        const RECT targetRect = {0, 0, width, height};
        videoContext_->VideoProcessorSetStreamSourceRect(processor_.Get(), 0, TRUE, &sourceRect);
        videoContext_->VideoProcessorSetStreamDestRect(processor_.Get(), 0, TRUE, &destRect);
        // The target rectangle covers the whole picture so the bars are filled (black) too.
        videoContext_->VideoProcessorSetOutputTargetRect(processor_.Get(), TRUE, &targetRect);

        // Captured frames are full-range RGB; encoders and players expect BT.709 video levels.
        D3D11_VIDEO_PROCESSOR_COLOR_SPACE inputSpace = {};
        videoContext_->VideoProcessorSetStreamColorSpace(processor_.Get(), 0, &inputSpace);
        D3D11_VIDEO_PROCESSOR_COLOR_SPACE outputSpace = {};
        outputSpace.YCbCr_Matrix = 1;  // BT.709
        outputSpace.Nominal_Range = D3D11_VIDEO_PROCESSOR_NOMINAL_RANGE_16_235;
        videoContext_->VideoProcessorSetOutputColorSpace(processor_.Get(), &outputSpace);
        // Drivers may denoise or sharpen on their own; screen text must stay as it is.
        videoContext_->VideoProcessorSetStreamAutoProcessingMode(processor_.Get(), 0, FALSE);

        width_ = width;
        height_ = height;
        return S_OK;
    }

    HRESULT Submit() override {
        if (!processor_ || !outputView_ || !inputView_ || !staging_[0]) return E_UNEXPECTED;
        if (submitted_.size() >= kCopies) return E_UNEXPECTED;
        D3D11_VIDEO_PROCESSOR_STREAM stream = {};
        stream.Enable = TRUE;
        stream.OutputIndex = 0;
        stream.InputFrameOrField = 0;
        stream.pInputSurface = inputView_.Get();
        const HRESULT hr = videoContext_->VideoProcessorBlt(processor_.Get(), outputView_.Get(), 0, 1, &stream);
        if (FAILED(hr)) return hr;
        VideoFunctions().copyResource(context_.Get(), staging_[next_].Get(), nv12_.Get());
        submitted_.push_back(next_);
        next_ = (next_ + 1) % kCopies;
        return S_OK;
    }

    HRESULT Collect(uint8_t* out) override {
        if (submitted_.empty()) return E_UNEXPECTED;
        ID3D11Texture2D* const staging = staging_[submitted_.front()].Get();
        submitted_.pop_front();
        if (!out) return E_POINTER;
        const VideoPlatform& platform = VideoFunctions();
        D3D11_MAPPED_SUBRESOURCE mapped = {};
        const HRESULT hr = platform.map(context_.Get(), staging, 0, D3D11_MAP_READ, 0, &mapped);
        if (FAILED(hr)) return hr;
        PackNv12(static_cast<const uint8_t*>(mapped.pData), mapped.RowPitch, width_, height_, out);
        platform.unmap(context_.Get(), staging, 0);
        return S_OK;
    }

    size_t Depth() const override { return kCopies - 1; }

private:
    // Releases everything built for an earlier size; the device and its
    // video interfaces are replaced by the next Build.
    void Reset() {
        inputView_.Reset();
        outputView_.Reset();
        for (ComPtr<ID3D11Texture2D>& staging : staging_) staging.Reset();
        submitted_.clear();
        next_ = 0;
        nv12_.Reset();
        processor_.Reset();
        enumerator_.Reset();
        width_ = 0;
        height_ = 0;
    }

    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<ID3D11VideoDevice> videoDevice_;
    ComPtr<ID3D11VideoContext> videoContext_;
    ComPtr<ID3D11VideoProcessorEnumerator> enumerator_;
    ComPtr<ID3D11VideoProcessor> processor_;
    ComPtr<ID3D11Texture2D> nv12_;
    static constexpr size_t kCopies = 2;
    ComPtr<ID3D11Texture2D> staging_[kCopies];
    std::deque<size_t> submitted_;  // staging textures holding pictures not yet read, oldest first
    size_t next_ = 0;                // the staging texture the next picture is copied into
    ComPtr<ID3D11VideoProcessorOutputView> outputView_;
    ComPtr<ID3D11VideoProcessorInputView> inputView_;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

}  // namespace

VideoPlatform& VideoFunctions() {
    static VideoPlatform functions{SystemVideoInterfaces, SystemCreateTexture, SystemCopyResource, SystemMap,
                                   SystemUnmap};
    return functions;
}

std::unique_ptr<PictureConverter> MakePictureConverter() { return std::make_unique<VideoProcessorConverter>(); }
