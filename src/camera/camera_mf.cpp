// The shipping program's cameras: Media Foundation's video capture devices,
// read through a source reader whose video processing turns whatever the
// camera sends (NV12, YUY2, MJPG...) into 32-bit RGB.
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <mutex>

#include "camera/camera.h"
#include "recorder/media_foundation.h"
#include "storage/folders.h"
#include "storage/log.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kVideo = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
constexpr int32_t kLargestSide = 8192;

std::wstring Problem(HRESULT hr, camera::CameraStep step) {
    return camera::CameraProblemText(static_cast<uint32_t>(hr), step, ErrorText(static_cast<uint32_t>(hr)));
}

std::wstring TextOf(IMFActivate* device, const GUID& key) {
    wchar_t* text = nullptr;
    UINT32 length = 0;
    if (FAILED(device->GetAllocatedString(key, &text, &length)) || text == nullptr) return {};
    std::wstring copy(text, length);
    CoTaskMemFree(text);
    return copy;
}

// The video capture devices; every one handed back is released.
HRESULT Devices(std::vector<CameraEntry>& cameras) {
    const MediaFoundation& media = MediaFunctions();
    if (media.enumDeviceSources == nullptr || media.createAttributes == nullptr) return MF_E_NOT_INITIALIZED;
    ComPtr<IMFAttributes> query;
    HRESULT hr = media.createAttributes(&query, 1);
    if (SUCCEEDED(hr))
        hr = query->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    IMFActivate** devices = nullptr;
    UINT32 count = 0;
    if (SUCCEEDED(hr)) hr = media.enumDeviceSources(query.Get(), &devices, &count);
    if (FAILED(hr)) return hr;
    for (UINT32 i = 0; i < count; ++i) {
        if (devices[i] == nullptr) continue;
        CameraEntry entry{TextOf(devices[i], MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME),
                          TextOf(devices[i], MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK)};
        if (!entry.link.empty()) cameras.push_back(std::move(entry));
        devices[i]->Release();
    }
    CoTaskMemFree(devices);
    return S_OK;
}

class DeviceCamera final : public CameraSource {
public:
    DeviceCamera(ComPtr<IMFMediaSource> source, ComPtr<IMFSourceReader> reader, int32_t width, int32_t height,
                 bool bottomUp)
        : source_(std::move(source)), reader_(std::move(reader)), width_(width), height_(height), bottomUp_(bottomUp) {}
    ~DeviceCamera() override {
        reader_.Reset();
        // The camera's light goes off here, whoever else still holds the source.
        source_->Shutdown();
    }

    bool Next(const std::function<void(const camera::FrameView&)>& use, std::wstring& problem) override {
        for (;;) {
            if (Interrupted()) return false;
            DWORD stream = 0, flags = 0;
            LONGLONG time = 0;
            ComPtr<IMFSample> sample;
            HRESULT hr = reader_->ReadSample(kVideo, 0, &stream, &flags, &time, &sample);
            if (Interrupted()) return false;
            if (SUCCEEDED(hr) && (flags & MF_SOURCE_READERF_ERROR) != 0) hr = MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
            if (SUCCEEDED(hr) && (flags & MF_SOURCE_READERF_ENDOFSTREAM) != 0) hr = MF_E_END_OF_STREAM;
            if (FAILED(hr)) {
                problem = Problem(hr, camera::CameraStep::Showing);
                return false;
            }
            if (!sample) continue;  // a gap in the stream
            ComPtr<IMFMediaBuffer> buffer;
            BYTE* data = nullptr;
            DWORD length = 0;
            if (FAILED(sample->ConvertToContiguousBuffer(&buffer)) || FAILED(buffer->Lock(&data, nullptr, &length)))
                continue;  // this picture only
            const size_t row = size_t(width_) * 4;
            if (length >= row * size_t(height_)) {
                // A negative stride: the rows are stored bottom up.
                const uint8_t* top = bottomUp_ ? data + row * size_t(height_ - 1) : data;
                use({top, width_, height_, bottomUp_ ? -ptrdiff_t(row) : ptrdiff_t(row)});
            }
            buffer->Unlock();
            return true;
        }
    }

    void Interrupt() override {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (interrupted_) return;
            interrupted_ = true;
        }
        // Ends a read that waits for a camera that sends nothing.
        source_->Shutdown();
    }

private:
    bool Interrupted() {
        std::lock_guard<std::mutex> hold(lock_);
        return interrupted_;
    }

    ComPtr<IMFMediaSource> source_;
    ComPtr<IMFSourceReader> reader_;
    int32_t width_, height_;
    bool bottomUp_;
    std::mutex lock_;
    bool interrupted_ = false;
};

// Sets the first of the camera's formats, in the order to try them, that
// the reader can turn into RGB32; MF_E_INVALIDMEDIATYPE, with the formats it
// offered, when none.
HRESULT ChooseFormat(IMFSourceReader* reader, std::vector<camera::CameraFormat>& offered) {
    const MediaFoundation& media = MediaFunctions();
    std::vector<ComPtr<IMFMediaType>> types;
    for (DWORD i = 0; i < 1000; ++i) {
        ComPtr<IMFMediaType> type;
        const HRESULT hr = reader->GetNativeMediaType(kVideo, i, &type);
        if (hr == MF_E_NO_MORE_TYPES) break;
        if (FAILED(hr)) return hr;
        camera::CameraFormat format;
        GUID subtype{};
        UINT64 size = 0, rate = 0;
        if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &size)))
            continue;
        format.fourcc = subtype.Data1;
        format.width = static_cast<int32_t>(size >> 32);
        format.height = static_cast<int32_t>(size & 0xFFFFFFFF);
        if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_RATE, &rate))) {
            format.fpsNumerator = static_cast<uint32_t>(rate >> 32);
            format.fpsDenominator = static_cast<uint32_t>(rate & 0xFFFFFFFF);
        }
        offered.push_back(format);
        types.push_back(type);
    }
    if (types.empty()) return MF_E_INVALIDMEDIATYPE;
    ComPtr<IMFMediaType> rgb;
    HRESULT hr = media.createMediaType(&rgb);
    if (SUCCEEDED(hr)) hr = rgb->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = rgb->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    if (FAILED(hr)) return hr;
    for (size_t index : camera::FormatsToTry(offered)) {
        const camera::CameraFormat& f = offered[index];
        if (f.width <= 0 || f.height <= 0 || f.width > kLargestSide || f.height > kLargestSide) continue;
        if (FAILED(reader->SetCurrentMediaType(kVideo, nullptr, types[index].Get()))) continue;
        if (SUCCEEDED(reader->SetCurrentMediaType(kVideo, nullptr, rgb.Get()))) {
            Log(L"Camera format: %s %dx%d at %u/%u pictures a second", camera::FourccText(f.fourcc).c_str(), f.width,
                f.height, f.fpsNumerator, f.fpsDenominator);
            return S_OK;
        }
    }
    return MF_E_INVALIDMEDIATYPE;
}

}  // namespace

std::vector<CameraEntry> ListCameras() {
    std::vector<CameraEntry> cameras;
    const HRESULT hr = Devices(cameras);
    if (FAILED(hr)) Log(L"Cameras could not be listed: %s", ErrorText(static_cast<uint32_t>(hr)).c_str());
    return cameras;
}

std::unique_ptr<CameraSource> OpenCamera(const std::wstring& link, std::wstring& name, std::wstring& problem) {
    const MediaFoundation& media = MediaFunctions();
    if (media.enumDeviceSources == nullptr || media.createDeviceSource == nullptr ||
        media.createSourceReaderFromMediaSource == nullptr || media.createAttributes == nullptr ||
        media.createMediaType == nullptr) {
        problem = L"This edition of Windows lacks the media features the camera needs. Add the Media Feature Pack "
                  L"in Settings > Apps > Optional features, then show the camera again.";
        return nullptr;
    }
    std::vector<CameraEntry> cameras;
    HRESULT hr = Devices(cameras);
    if (FAILED(hr)) {
        problem = Problem(hr, camera::CameraStep::Opening);
        return nullptr;
    }
    if (cameras.empty()) {
        problem = camera::kNoCamera;
        return nullptr;
    }
    const CameraEntry* chosen = &cameras.front();
    for (const CameraEntry& entry : cameras)
        if (entry.link == link) chosen = &entry;
    if (!link.empty() && chosen->link != link) Log(L"The chosen camera is not connected; using %s", chosen->name.c_str());
    name = chosen->name;

    ComPtr<IMFAttributes> which;
    hr = media.createAttributes(&which, 2);
    if (SUCCEEDED(hr))
        hr = which->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    if (SUCCEEDED(hr)) hr = which->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, chosen->link.c_str());
    ComPtr<IMFMediaSource> source;
    if (SUCCEEDED(hr)) hr = media.createDeviceSource(which.Get(), &source);
    if (FAILED(hr)) {
        problem = Problem(hr, camera::CameraStep::Opening);
        return nullptr;
    }
    ComPtr<IMFAttributes> options;
    hr = media.createAttributes(&options, 1);
    if (SUCCEEDED(hr)) hr = options->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE);
    ComPtr<IMFSourceReader> reader;
    if (SUCCEEDED(hr)) hr = media.createSourceReaderFromMediaSource(source.Get(), options.Get(), &reader);
    if (SUCCEEDED(hr)) hr = reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    if (SUCCEEDED(hr)) hr = reader->SetStreamSelection(kVideo, TRUE);
    std::vector<camera::CameraFormat> offered;
    if (SUCCEEDED(hr)) {
        hr = ChooseFormat(reader.Get(), offered);
        if (hr == MF_E_INVALIDMEDIATYPE) {
            reader.Reset();
            source->Shutdown();
            problem = camera::UnconvertibleText(offered);
            return nullptr;
        }
    }
    int32_t width = 0, height = 0;
    bool bottomUp = false;
    if (SUCCEEDED(hr)) hr = RgbPictureOf(reader.Get(), width, height, bottomUp);
    if (FAILED(hr)) {
        reader.Reset();
        source->Shutdown();
        problem = Problem(hr, camera::CameraStep::Opening);
        return nullptr;
    }
    return std::make_unique<DeviceCamera>(std::move(source), std::move(reader), width, height, bottomUp);
}
