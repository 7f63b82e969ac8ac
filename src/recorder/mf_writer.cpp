// The Windows SampleWriter: a Media Foundation sink writer producing a
// fragmented MP4 with H.264 video and, when asked, AAC sound.
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mferror.h>
#include <codecapi.h>
#include <wrl/client.h>

#include <cstring>

#include "recorder/backends.h"
#include "recorder/media_foundation.h"
#include "recorder/recording_rules_core.h"
#include "storage/folders.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr uint32_t kAudioRate = 48000;
constexpr uint32_t kAudioChannels = 2;
constexpr uint32_t kAudioBits = 16;
constexpr uint32_t kAudioFrameBytes = kAudioChannels * kAudioBits / 8;

// ICodecAPI's interface id. The MinGW header that declares the interface
// gives it no __uuidof, so IID_PPV_ARGS cannot be used for it.
constexpr GUID kCodecApiId = {0x901db4c7, 0x31ce, 0x41a2, {0x85, 0xdc, 0x8f, 0xa0, 0xbf, 0x41, 0xb8, 0xda}};

std::wstring Describe(HRESULT hr) { return ErrorText(static_cast<uint32_t>(hr)); }

// Applies the picture geometry shared by the encoded and the raw video types.
HRESULT SetPictureShape(IMFMediaType* type, const WriterSetup& setup) {
    HRESULT hr = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (SUCCEEDED(hr))
        hr = MFSetAttributeSize(type, MF_MT_FRAME_SIZE, static_cast<UINT32>(setup.width),
                                static_cast<UINT32>(setup.height));
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(type, MF_MT_FRAME_RATE, static_cast<UINT32>(setup.fps), 1);
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(type, MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    // What the video processor makes: BT.709 colours at video levels, which
    // the encoder then writes into the stream for players to honour.
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_YUV_MATRIX, MFVideoTransferMatrix_BT709);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_16_235);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_VIDEO_PRIMARIES, MFVideoPrimaries_BT709);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_TRANSFER_FUNCTION, MFVideoTransFunc_709);
    return hr;
}

HRESULT MakeVideoOutputType(const WriterSetup& setup, ComPtr<IMFMediaType>& type) {
    HRESULT hr = MediaFunctions().createMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AVG_BITRATE, VideoBitRate(setup.height, setup.fps));
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_MPEG2_PROFILE, eAVEncH264VProfile_Main);
    if (SUCCEEDED(hr)) hr = SetPictureShape(type.Get(), setup);
    return hr;
}

HRESULT MakeVideoInputType(const WriterSetup& setup, ComPtr<IMFMediaType>& type) {
    HRESULT hr = MediaFunctions().createMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
    // The pictures arrive tightly packed, so a row is exactly the width.
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(setup.width));
    if (SUCCEEDED(hr)) hr = SetPictureShape(type.Get(), setup);
    return hr;
}

HRESULT MakeAudioOutputType(ComPtr<IMFMediaType>& type) {
    HRESULT hr = MediaFunctions().createMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_AAC);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, kAudioBits);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, kAudioRate);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, kAudioChannels);
    // 128 kbit/s, one of the rates the system AAC encoder accepts.
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 16000);
    return hr;
}

HRESULT MakeAudioInputType(ComPtr<IMFMediaType>& type) {
    HRESULT hr = MediaFunctions().createMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, kAudioBits);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, kAudioRate);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, kAudioChannels);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, kAudioFrameBytes);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, kAudioRate * kAudioFrameBytes);
    return hr;
}

// Wraps `buffer` in a sample stamped with its time and duration.
HRESULT MakeSample(IMFMediaBuffer* buffer, int64_t time, int64_t duration, ComPtr<IMFSample>& sample) {
    HRESULT hr = MediaFunctions().createSample(&sample);
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer);
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(time);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(duration);
    return hr;
}

// A picture in a Media Foundation buffer, locked while it is being filled.
class BufferPicture final : public Picture {
public:
    ~BufferPicture() override { Unlock(); }
    HRESULT Make(size_t bytes) {
        if (bytes > MAXDWORD) return E_INVALIDARG;
        HRESULT hr = MediaFunctions().createMemoryBuffer(static_cast<DWORD>(bytes), &buffer);
        if (SUCCEEDED(hr)) hr = buffer->Lock(&data, nullptr, nullptr);
        if (FAILED(hr)) return hr;
        locked_ = true;
        size = bytes;
        return S_OK;
    }
    void Unlock() {
        if (locked_) buffer->Unlock();
        locked_ = false;
    }
    ComPtr<IMFMediaBuffer> buffer;

private:
    bool locked_ = false;
};

class MediaFoundationWriter final : public SampleWriter {
public:
    ~MediaFoundationWriter() override { Release(); }

    bool Open(const WriterSetup& setup, bool allowHardware, std::wstring& problem) override {
        Release();

        const MediaFoundation& mf = MediaFunctions();
        ComPtr<IMFAttributes> attributes;
        HRESULT hr = mf.createAttributes(&attributes, 4);
        if (SUCCEEDED(hr)) {
            // Unset choices fall back to the system's defaults, so results are not examined.
            attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, allowHardware ? 1 : 0);
            attributes->SetGUID(MF_TRANSCODE_CONTAINERTYPE, MFTranscodeContainerType_FMPEG4);
            // Screen pictures arrive in real time; waiting on the encoder would drop them upstream.
            attributes->SetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, 1);
        }

        if (SUCCEEDED(hr))
            hr = mf.createFile(MF_ACCESSMODE_WRITE, MF_OPENMODE_DELETE_IF_EXIST, MF_FILEFLAGS_NONE,
                               setup.partPath.c_str(), &file_);
        if (SUCCEEDED(hr)) hr = mf.createSinkWriterFromURL(L".mp4", file_.Get(), attributes.Get(), &writer_);
        if (FAILED(hr)) {
            Release();
            problem = L"The recording file could not be created in " + setup.folder + L": " + Describe(hr);
            return false;
        }

        ComPtr<IMFMediaType> videoOut;
        ComPtr<IMFMediaType> videoIn;
        hr = MakeVideoOutputType(setup, videoOut);
        if (SUCCEEDED(hr)) hr = writer_->AddStream(videoOut.Get(), &videoStream_);
        if (SUCCEEDED(hr)) hr = MakeVideoInputType(setup, videoIn);
        if (SUCCEEDED(hr)) hr = writer_->SetInputMediaType(videoStream_, videoIn.Get(), nullptr);
        if (FAILED(hr)) {
            problem = L"The H.264 encoder could not be set up: " + Describe(hr);
            Release();
            return false;
        }

        // One key picture a second keeps seeking quick; an encoder that does
        // not take the setting keeps its own interval.
        ComPtr<ICodecAPI> codecApi;
        if (SUCCEEDED(writer_->GetServiceForStream(videoStream_, GUID_NULL, kCodecApiId,
                                                   reinterpret_cast<void**>(codecApi.GetAddressOf()))) &&
            codecApi) {
            VARIANT value = {};  // zeroed is what VariantInit gives, without oleaut32
            value.vt = VT_UI4;
            value.ulVal = static_cast<ULONG>(setup.fps);
            codecApi->SetValue(&CODECAPI_AVEncMPVGOPSize, &value);
        }

        if (setup.audioEnabled) {
            ComPtr<IMFMediaType> audioOut;
            ComPtr<IMFMediaType> audioIn;
            DWORD stream = 0;
            hr = MakeAudioOutputType(audioOut);
            if (SUCCEEDED(hr)) hr = writer_->AddStream(audioOut.Get(), &stream);
            if (SUCCEEDED(hr)) hr = MakeAudioInputType(audioIn);
            if (SUCCEEDED(hr)) hr = writer_->SetInputMediaType(stream, audioIn.Get(), nullptr);
            if (FAILED(hr)) {
                problem = L"The AAC sound encoder could not be set up: " + Describe(hr);
                Release();
                return false;
            }
            audioStream_ = stream;
            hasAudio_ = true;
        }

        hr = writer_->BeginWriting();
        if (FAILED(hr)) {
            problem = L"The recording could not start: " + Describe(hr);
            Release();
            return false;
        }
        return true;
    }

    HRESULT NewPicture(size_t size, std::unique_ptr<Picture>& picture) override {
        auto made = std::make_unique<BufferPicture>();
        const HRESULT hr = made->Make(size);
        if (FAILED(hr)) return hr;
        picture = std::move(made);
        return S_OK;
    }

    HRESULT WriteVideo(Picture& picture, int64_t time, int64_t duration) override {
        if (!writer_) return E_UNEXPECTED;
        auto& filled = static_cast<BufferPicture&>(picture);
        filled.Unlock();
        HRESULT hr = filled.buffer->SetCurrentLength(static_cast<DWORD>(filled.size));
        ComPtr<IMFSample> sample;
        if (SUCCEEDED(hr)) hr = MakeSample(filled.buffer.Get(), time, duration, sample);
        if (FAILED(hr)) return hr;
        return writer_->WriteSample(videoStream_, sample.Get());
    }

    HRESULT WriteAudio(const int16_t* frames, size_t frameCount, int64_t time, int64_t duration) override {
        if (!writer_ || !hasAudio_) return E_UNEXPECTED;
        if (frameCount > MAXDWORD / kAudioFrameBytes) return E_INVALIDARG;
        const auto length = static_cast<DWORD>(frameCount * kAudioFrameBytes);
        ComPtr<IMFMediaBuffer> buffer;
        BYTE* data = nullptr;
        // Memory that cannot be had now may be there on the next turn.
        if (FAILED(MediaFunctions().createMemoryBuffer(length, &buffer)) || FAILED(buffer->Lock(&data, nullptr, nullptr)))
            return S_FALSE;
        if (length != 0) std::memcpy(data, frames, length);
        buffer->Unlock();
        HRESULT hr = buffer->SetCurrentLength(length);
        ComPtr<IMFSample> sample;
        if (SUCCEEDED(hr)) hr = MakeSample(buffer.Get(), time, duration, sample);
        if (FAILED(hr)) return S_FALSE;
        return writer_->WriteSample(audioStream_, sample.Get());
    }

    uint64_t PicturesWaiting() override {
        if (!writer_) return 0;
        MF_SINK_WRITER_STATISTICS statistics{};
        statistics.cb = sizeof statistics;
        if (FAILED(writer_->GetStatistics(videoStream_, &statistics))) return 0;
        return statistics.qwNumSamplesReceived > statistics.qwNumSamplesEncoded
                   ? statistics.qwNumSamplesReceived - statistics.qwNumSamplesEncoded
                   : 0;
    }

    HRESULT Finalize() override {
        if (!writer_) return S_OK;
        const HRESULT hr = writer_->Finalize();
        Release();
        return hr;
    }

private:
    // Lets go of the file as well: a writer given up half-made may still hold
    // its stream, and the next attempt opens the same name.
    void Release() {
        writer_.Reset();
        if (file_) file_->Close();
        file_.Reset();
        videoStream_ = 0;
        audioStream_ = 0;
        hasAudio_ = false;
    }

    ComPtr<IMFByteStream> file_;
    ComPtr<IMFSinkWriter> writer_;
    DWORD videoStream_ = 0;
    DWORD audioStream_ = 0;
    bool hasAudio_ = false;
};

}  // namespace

std::unique_ptr<SampleWriter> MakeSampleWriter() { return std::make_unique<MediaFoundationWriter>(); }

std::wstring SampleWriterUnavailable() { return MediaFunctions().CanRecord() ? std::wstring() : kMediaFeaturesMissing; }
