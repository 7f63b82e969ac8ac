// The shipping build's pictures: Windows' own decoder, through the Media
// Foundation source reader, which also turns them into 32-bit RGB.
#include "trim/trim_pictures.h"

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mferror.h>
#include <wrl/client.h>

#include <cstring>

#include "recorder/media_foundation.h"
#include "storage/folders.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kVideo = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

std::wstring Cannot(HRESULT hr) {
    return L"Windows could not show this recording's pictures: " + ErrorText(static_cast<uint32_t>(hr)) + L" " +
           kTrimWithoutPictures;
}

class SourceReaderPictures final : public TrimPictures {
public:
    SourceReaderPictures(ComPtr<IMFSourceReader> reader, int32_t width, int32_t height, bool bottomUp)
        : reader_(std::move(reader)), width_(width), height_(height), bottomUp_(bottomUp) {}

    bool At(int64_t us, TrimPicture& picture, std::wstring& why) override {
        PROPVARIANT position;
        PropVariantInit(&position);
        position.vt = VT_I8;
        position.hVal.QuadPart = us * 10;
        // The reader goes to the key picture before, then decodes up to the time.
        HRESULT hr = reader_->SetCurrentPosition(GUID_NULL, position);
        ComPtr<IMFSample> kept;
        for (int reads = 0; SUCCEEDED(hr) && reads < 100000; ++reads) {
            DWORD stream = 0, flags = 0;
            LONGLONG time = 0;
            ComPtr<IMFSample> sample;
            hr = reader_->ReadSample(kVideo, 0, &stream, &flags, &time, &sample);
            if (FAILED(hr) || (flags & (MF_SOURCE_READERF_ENDOFSTREAM | MF_SOURCE_READERF_ERROR)) != 0) break;
            if (!sample) continue;
            LONGLONG duration = 0;
            sample->GetSampleDuration(&duration);
            kept = sample;
            if (time + duration > us * 10) break;
        }
        if (!kept) {
            why = Cannot(FAILED(hr) ? hr : MF_E_END_OF_STREAM);
            return false;
        }
        ComPtr<IMFMediaBuffer> buffer;
        hr = kept->ConvertToContiguousBuffer(&buffer);
        BYTE* data = nullptr;
        DWORD length = 0;
        if (SUCCEEDED(hr)) hr = buffer->Lock(&data, nullptr, &length);
        if (FAILED(hr)) {
            why = Cannot(hr);
            return false;
        }
        const size_t row = size_t(width_) * 4;
        if (length < row * height_) {
            buffer->Unlock();
            why = Cannot(MF_E_INVALID_FORMAT);
            return false;
        }
        picture.width = width_;
        picture.height = height_;
        picture.bgra.resize(row * height_);
        for (int32_t y = 0; y < height_; ++y)
            std::memcpy(picture.bgra.data() + row * y, data + row * (bottomUp_ ? height_ - 1 - y : y), row);
        buffer->Unlock();
        for (size_t i = 3; i < picture.bgra.size(); i += 4) picture.bgra[i] = 255;  // RGB32 leaves it undefined
        return true;
    }

private:
    ComPtr<IMFSourceReader> reader_;
    int32_t width_, height_;
    bool bottomUp_;
};

}  // namespace

std::unique_ptr<TrimPictures> OpenTrimPictures(const std::wstring& path, const trim::Movie&, std::wstring& why) {
    const MediaFoundation& media = MediaFunctions();
    if (media.createSourceReaderFromURL == nullptr || media.createAttributes == nullptr ||
        media.createMediaType == nullptr) {
        why = std::wstring(L"This Windows has no media features to show the pictures with. ") + kTrimWithoutPictures;
        return nullptr;
    }
    ComPtr<IMFAttributes> attributes;
    HRESULT hr = media.createAttributes(&attributes, 1);
    if (SUCCEEDED(hr)) hr = attributes->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE);
    ComPtr<IMFSourceReader> reader;
    if (SUCCEEDED(hr)) hr = media.createSourceReaderFromURL(path.c_str(), attributes.Get(), &reader);
    if (SUCCEEDED(hr)) hr = reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    if (SUCCEEDED(hr)) hr = reader->SetStreamSelection(kVideo, TRUE);
    ComPtr<IMFMediaType> wanted;
    if (SUCCEEDED(hr)) hr = media.createMediaType(&wanted);
    if (SUCCEEDED(hr)) hr = wanted->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = wanted->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    if (SUCCEEDED(hr)) hr = reader->SetCurrentMediaType(kVideo, nullptr, wanted.Get());
    int32_t width = 0, height = 0;
    bool bottomUp = false;
    if (SUCCEEDED(hr)) hr = RgbPictureOf(reader.Get(), width, height, bottomUp);
    if (FAILED(hr)) {
        why = Cannot(hr);
        return nullptr;
    }
    return std::make_unique<SourceReaderPictures>(std::move(reader), width, height, bottomUp);
}
