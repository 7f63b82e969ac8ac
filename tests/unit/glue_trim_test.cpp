// The trim window's pictures in the shipping build, through a fake of the
// Media Foundation source reader that refuses what the documentation says
// Windows refuses: RGB without the reader's video processing, a time that
// is not VT_I8 in 100-ns units, a read of a stream not selected, null out
// pointers. Its pictures tell their number and each pixel's place.
#include <doctest.h>

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstring>
#include <vector>

#include "fakes/com_fake.h"
#include "fakes/platform_stubs.h"
#include "recorder/media_foundation.h"
#include "trim/trim_pictures.h"


namespace {

constexpr DWORD kVideo = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
constexpr DWORD kAll = static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS);
constexpr int32_t kWidth = 64, kHeight = 36, kPictures = 90, kKeyEvery = 30;
constexpr LONGLONG kPicture = 10'000'000 / 30;

// Three seconds at 30 pictures a second, a key picture each second; stream 0
// is the picture, stream 1 the sound. Pixel (x, y) of picture n is blue n,
// green y, red x.
class FakeSourceReader final : public FakeUnknown<StubMFSourceReader, IMFSourceReader> {
public:
    FakeSourceReader(bool processing, bool bottomUp) : processing_(processing), bottomUp_(bottomUp) {}
    int reads = 0;

    HRESULT STDMETHODCALLTYPE SetStreamSelection(DWORD index, WINBOOL selected) override {
        if (index == kAll) {
            video_ = sound_ = selected != FALSE;
        } else if (index == kVideo || index == 0) {
            video_ = selected != FALSE;
        } else if (index == 1) {
            sound_ = selected != FALSE;
        } else {
            return MF_E_INVALIDSTREAMNUMBER;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentMediaType(DWORD index, DWORD*, IMFMediaType* type) override {
        if (index != kVideo && index != 0) return MF_E_INVALIDSTREAMNUMBER;
        GUID major{}, subtype{};
        if (type == nullptr || FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) ||
            FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || major != MFMediaType_Video)
            return MF_E_INVALIDMEDIATYPE;
        // Only the reader's video processing turns the decoder's YUV into RGB.
        if (subtype == MFVideoFormat_RGB32 && !processing_) return MF_E_INVALIDMEDIATYPE;
        if (subtype != MFVideoFormat_RGB32 && subtype != MFVideoFormat_NV12) return MF_E_INVALIDMEDIATYPE;
        subtype_ = subtype;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentMediaType(DWORD index, IMFMediaType** type) override {
        if (type == nullptr) return E_POINTER;
        if (index != kVideo && index != 0) return MF_E_INVALIDSTREAMNUMBER;
        HRESULT hr = MediaFunctions().createMediaType(type);
        if (FAILED(hr)) return hr;
        (*type)->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        (*type)->SetGUID(MF_MT_SUBTYPE, subtype_);
        (*type)->SetUINT64(MF_MT_FRAME_SIZE, static_cast<UINT64>(kWidth) << 32 | kHeight);
        (*type)->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(bottomUp_ ? -kWidth * 4 : kWidth * 4));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(REFGUID format, REFPROPVARIANT position) override {
        if (format != GUID_NULL) return MF_E_UNSUPPORTED_TIME_FORMAT;
        if (position.vt != VT_I8) return MF_E_UNSUPPORTED_TIME_FORMAT;
        // To the key picture at or before the time.
        const LONGLONG picture = std::min<LONGLONG>(position.hVal.QuadPart / kPicture, kPictures - 1);
        next_ = static_cast<int32_t>(picture / kKeyEvery * kKeyEvery);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadSample(DWORD index, DWORD, DWORD* actual, DWORD* flags, LONGLONG* time,
                                         IMFSample** sample) override {
        if (flags == nullptr || sample == nullptr) return E_POINTER;
        *sample = nullptr;
        *flags = 0;
        if ((index != kVideo && index != 0) || !video_) return MF_E_INVALIDREQUEST;
        ++reads;
        if (actual != nullptr) *actual = 0;
        if (next_ == 15 && !ticked_) {  // a gap in the stream: a tick, no sample
            ticked_ = true;
            *flags = MF_SOURCE_READERF_STREAMTICK;
            return S_OK;
        }
        if (next_ >= kPictures) {
            *flags = MF_SOURCE_READERF_ENDOFSTREAM;
            return S_OK;
        }
        const int32_t n = next_++;
        IMFMediaBuffer* buffer = nullptr;
        HRESULT hr = MediaFunctions().createMemoryBuffer(kWidth * kHeight * 4, &buffer);
        BYTE* bytes = nullptr;
        if (SUCCEEDED(hr)) hr = buffer->Lock(&bytes, nullptr, nullptr);
        if (FAILED(hr)) return hr;
        for (int32_t y = 0; y < kHeight; ++y) {
            BYTE* row = bytes + size_t(bottomUp_ ? kHeight - 1 - y : y) * kWidth * 4;
            for (int32_t x = 0; x < kWidth; ++x) {
                const BYTE pixel[4] = {static_cast<BYTE>(n), static_cast<BYTE>(y), static_cast<BYTE>(x), 0};
                std::memcpy(row + x * 4, pixel, 4);
            }
        }
        buffer->Unlock();
        buffer->SetCurrentLength(kWidth * kHeight * 4);
        hr = MediaFunctions().createSample(sample);
        if (SUCCEEDED(hr)) hr = (*sample)->AddBuffer(buffer);
        buffer->Release();
        if (FAILED(hr)) return hr;
        (*sample)->SetSampleTime(n * kPicture);
        (*sample)->SetSampleDuration(kPicture);
        *time = n * kPicture;
        return S_OK;
    }

private:
    bool processing_, bottomUp_;
    bool video_ = true, sound_ = true, ticked_ = false;
    GUID subtype_ = MFVideoFormat_NV12;
    int32_t next_ = 0;
};

bool BottomUp = false;
FakeSourceReader* Made = nullptr;

HRESULT WINAPI FakeCreateSourceReader(LPCWSTR, IMFAttributes* attributes, IMFSourceReader** reader) {
    UINT32 processing = FALSE;
    if (attributes != nullptr) attributes->GetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, &processing);
    Made = new FakeSourceReader(processing != FALSE, BottomUp);
    *reader = Made;
    return S_OK;
}

}  // namespace

TEST_CASE("the trim window's picture: the one shown at the time, read on from the key picture, top down") {
    static const bool started = SUCCEEDED(MediaFunctions().startup(MF_VERSION, MFSTARTUP_FULL));
    REQUIRE(started);
    const auto original = MediaFunctions().createSourceReaderFromURL;
    MediaFunctions().createSourceReaderFromURL = FakeCreateSourceReader;
    trim::Movie movie;
    for (bool bottomUp : {false, true}) {
        CAPTURE(bottomUp);
        BottomUp = bottomUp;
        std::wstring why;
        std::unique_ptr<TrimPictures> pictures = OpenTrimPictures(L"C:\\talk.mp4", movie, why);
        REQUIRE_MESSAGE(pictures != nullptr, why);
        const auto pixel = [](const TrimPicture& p, int x, int y) {
            const uint8_t* at = p.bgra.data() + (size_t(y) * p.width + x) * 4;
            return std::vector<int>{at[0], at[1], at[2], at[3]};
        };
        TrimPicture picture;
        // 2.55 s is in picture 76 (2.533 to 2.567 s); the key picture before it is 60.
        Made->reads = 0;
        REQUIRE(pictures->At(2'550'000, picture, why));
        CHECK((picture.width == kWidth && picture.height == kHeight));
        CHECK(pixel(picture, 0, 0) == std::vector<int>{76, 0, 0, 255});
        CHECK(pixel(picture, 10, 20) == std::vector<int>{76, 20, 10, 255});
        CHECK(Made->reads == 17);
        // Across the stream's tick, and past the end: the last picture there is.
        REQUIRE(pictures->At(600'000, picture, why));
        CHECK(pixel(picture, 0, 0)[0] == 18);
        REQUIRE(pictures->At(9'000'000, picture, why));
        CHECK(pixel(picture, 1, 1) == std::vector<int>{89, 1, 1, 255});
    }
    MediaFunctions().createSourceReaderFromURL = original;
}
