// The Windows PictureConverter: the Direct3D 11 video processor scales the
// captured BGRA frame into a letterboxed NV12 picture on the graphics card,
// which is then read back through a staging texture.
#include <windows.h>
#include <d3d11.h>
#include <wrl/client.h>

#include <cstring>

#include "recorder/backends.h"
#include "recorder/recording_rules_core.h"

using Microsoft::WRL::ComPtr;

namespace {

class VideoProcessorConverter final : public PictureConverter {
public:
    HRESULT Build(D3D& d3d, int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height,
                  int32_t fps) override {
        Reset();
        device_ = d3d.device;
        context_ = d3d.context;
        if (!device_ || !context_) return E_POINTER;
        HRESULT hr = device_.As(&videoDevice_);
        if (FAILED(hr)) return hr;
        hr = context_.As(&videoContext_);
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
        hr = device_->CreateTexture2D(&desc, nullptr, &nv12_);
        if (FAILED(hr)) return hr;
        // The processor can only draw into GPU memory, so the picture is read back through a copy.
        desc.Usage = D3D11_USAGE_STAGING;
        desc.BindFlags = 0;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        hr = device_->CreateTexture2D(&desc, nullptr, &staging_);
        if (FAILED(hr)) return hr;

        D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC outputDesc = {};
        outputDesc.ViewDimension = D3D11_VPOV_DIMENSION_TEXTURE2D;
        outputDesc.Texture2D.MipSlice = 0;
        hr = videoDevice_->CreateVideoProcessorOutputView(nv12_.Get(), enumerator_.Get(), &outputDesc, &outputView_);
        if (FAILED(hr)) return hr;

        const Placement placement = LetterboxPlacement(sourceWidth, sourceHeight, width, height);
        const RECT sourceRect = {0, 0, sourceWidth, sourceHeight};
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

        width_ = width;
        height_ = height;
        return S_OK;
    }

    HRESULT Convert(ID3D11Texture2D* source, uint8_t* out) override {
        if (!processor_ || !outputView_ || !staging_) return E_UNEXPECTED;
        if (!source || !out) return E_POINTER;
        // The caller keeps one source texture while the size holds, so its view is kept too.
        if (!inputView_ || inputSource_ != source) {
            inputView_.Reset();
            inputSource_ = nullptr;
            D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC inputDesc = {};
            inputDesc.FourCC = 0;
            inputDesc.ViewDimension = D3D11_VPIV_DIMENSION_TEXTURE2D;
            inputDesc.Texture2D.MipSlice = 0;
            inputDesc.Texture2D.ArraySlice = 0;
            const HRESULT hr =
                videoDevice_->CreateVideoProcessorInputView(source, enumerator_.Get(), &inputDesc, &inputView_);
            if (FAILED(hr)) return hr;
            inputSource_ = source;
        }

        D3D11_VIDEO_PROCESSOR_STREAM stream = {};
        stream.Enable = TRUE;
        stream.OutputIndex = 0;
        stream.InputFrameOrField = 0;
        stream.pInputSurface = inputView_.Get();
        HRESULT hr = videoContext_->VideoProcessorBlt(processor_.Get(), outputView_.Get(), 0, 1, &stream);
        if (FAILED(hr)) return hr;

        context_->CopyResource(staging_.Get(), nv12_.Get());
        D3D11_MAPPED_SUBRESOURCE mapped = {};
        hr = context_->Map(staging_.Get(), 0, D3D11_MAP_READ, 0, &mapped);
        if (FAILED(hr)) return hr;
        const auto* data = static_cast<const uint8_t*>(mapped.pData);
        const size_t pitch = mapped.RowPitch;
        const size_t rowBytes = static_cast<size_t>(width_);
        const size_t rows = static_cast<size_t>(height_);
        for (size_t y = 0; y < rows; ++y) std::memcpy(out + y * rowBytes, data + y * pitch, rowBytes);
        // The chroma plane follows the luma rows at the same pitch.
        const uint8_t* chroma = data + rows * pitch;
        for (size_t y = 0; y < rows / 2; ++y)
            std::memcpy(out + (rows + y) * rowBytes, chroma + y * pitch, rowBytes);
        context_->Unmap(staging_.Get(), 0);
        return S_OK;
    }

private:
    // Releases everything built for an earlier size; the device and its
    // video interfaces are replaced by the next Build.
    void Reset() {
        inputView_.Reset();
        inputSource_ = nullptr;
        outputView_.Reset();
        staging_.Reset();
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
    ComPtr<ID3D11Texture2D> staging_;
    ComPtr<ID3D11VideoProcessorOutputView> outputView_;
    ComPtr<ID3D11VideoProcessorInputView> inputView_;
    // Compared only, never dereferenced: tells whether inputView_ still fits.
    // The view holds a reference to that texture, so the address cannot be
    // reused by a new texture while the view lives.
    ID3D11Texture2D* inputSource_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

}  // namespace

std::unique_ptr<PictureConverter> MakePictureConverter() { return std::make_unique<VideoProcessorConverter>(); }
