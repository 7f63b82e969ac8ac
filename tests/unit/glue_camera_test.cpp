// The shipping camera against fakes of Media Foundation's device list, media
// source and source reader that refuse what Windows refuses: a device
// source without the video-capture type or with a link it does not know, RGB
// from a reader without its video processing or from a format no converter
// takes, any call once the source is shut down or after the reader
// reported an error. A reader's wait for a silent camera ends only when
// the source is shut down.
#include <doctest.h>

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstring>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "fakes/com_fake.h"
#include "fakes/platform_stubs.h"
#include "recorder/media_foundation.h"


namespace {

constexpr DWORD kVideo = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
constexpr DWORD kAll = static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS);

struct Offer {
    GUID subtype;
    int32_t width, height;
    UINT32 fps;
};

// What the fakes do, set by each test.
struct Script {
    std::vector<std::pair<std::wstring, std::wstring>> devices;  // name, link
    HRESULT openError = S_OK;
    std::vector<Offer> offers;
    bool bottomUp = false;
    int goneAfter = -1;  // pictures before the camera is unplugged; -1: never
    bool silent = false;  // sends nothing at all
    // Seen.
    std::wstring opened;
    bool processing = false;
    int chosen = -1;
    bool shutDown = false;
    bool waitedOut = false;
} S;

class FakeDevice final : public FakeUnknown<StubMFActivate, IMFActivate, IMFAttributes> {
public:
    FakeDevice(std::wstring name, std::wstring link) : name_(std::move(name)), link_(std::move(link)) {}
    HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override {
        if (value == nullptr || length == nullptr) return E_POINTER;
        const std::wstring* text = key == MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME                    ? &name_
                                   : key == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK ? &link_
                                                                                                   : nullptr;
        if (text == nullptr) return MF_E_ATTRIBUTENOTFOUND;
        *value = static_cast<LPWSTR>(CoTaskMemAlloc((text->size() + 1) * sizeof(wchar_t)));
        std::memcpy(*value, text->c_str(), (text->size() + 1) * sizeof(wchar_t));
        *length = static_cast<UINT32>(text->size());
        return S_OK;
    }

private:
    std::wstring name_, link_;
};

class FakeSource final : public FakeUnknown<StubMFMediaSource, IMFMediaSource, IMFMediaEventGenerator> {
public:
    FakeSource() : stopped_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~FakeSource() override { CloseHandle(stopped_); }
    HRESULT STDMETHODCALLTYPE Shutdown() override {
        S.shutDown = true;
        SetEvent(stopped_);
        return S_OK;
    }
    bool IsShut() const { return WaitForSingleObject(stopped_, 0) == WAIT_OBJECT_0; }
    // False when no shutdown came in ten seconds: nothing would have ended the wait.
    bool WaitForShutdown() const { return WaitForSingleObject(stopped_, 10000) == WAIT_OBJECT_0; }

private:
    HANDLE stopped_;
};

class FakeReader final : public FakeUnknown<StubMFSourceReader, IMFSourceReader> {
public:
    FakeReader(FakeSource* source, bool processing) : source_(source), processing_(processing) { source_->AddRef(); }
    ~FakeReader() override {
        source_->Shutdown();  // as the real reader does with its source
        source_->Release();
    }
    HRESULT STDMETHODCALLTYPE SetStreamSelection(DWORD index, WINBOOL) override {
        if (source_->IsShut()) return MF_E_SHUTDOWN;
        return index == kAll || index == kVideo || index == 0 ? S_OK : MF_E_INVALIDSTREAMNUMBER;
    }
    HRESULT STDMETHODCALLTYPE GetNativeMediaType(DWORD index, DWORD n, IMFMediaType** type) override {
        if (type == nullptr) return E_POINTER;
        if (index != kVideo && index != 0) return MF_E_INVALIDSTREAMNUMBER;
        if (n >= S.offers.size()) return MF_E_NO_MORE_TYPES;
        return Type(S.offers[n].subtype, S.offers[n], type);
    }
    HRESULT STDMETHODCALLTYPE SetCurrentMediaType(DWORD index, DWORD*, IMFMediaType* type) override {
        if (source_->IsShut()) return MF_E_SHUTDOWN;
        if (index != kVideo && index != 0) return MF_E_INVALIDSTREAMNUMBER;
        GUID subtype{};
        UINT64 size = 0;
        if (type == nullptr || FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) return MF_E_INVALIDMEDIATYPE;
        if (subtype == MFVideoFormat_RGB32) {
            // The reader turns YUV and MJPG into RGB only with its video processing.
            if (native_ < 0 || !processing_) return MF_E_INVALIDMEDIATYPE;
            const GUID from = S.offers[size_t(native_)].subtype;
            if (from != MFVideoFormat_NV12 && from != MFVideoFormat_YUY2 && from != MFVideoFormat_MJPG)
                return MF_E_TOPO_CODEC_NOT_FOUND;
            rgb_ = true;
            S.chosen = native_;
            return S_OK;
        }
        if (FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &size))) return MF_E_INVALIDMEDIATYPE;
        for (size_t i = 0; i < S.offers.size(); ++i)
            if (S.offers[i].subtype == subtype &&
                size == (static_cast<UINT64>(S.offers[i].width) << 32 | UINT32(S.offers[i].height))) {
                native_ = static_cast<int>(i);
                rgb_ = false;
                return S_OK;
            }
        return MF_E_INVALIDMEDIATYPE;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentMediaType(DWORD index, IMFMediaType** type) override {
        if (type == nullptr) return E_POINTER;
        if (index != kVideo && index != 0) return MF_E_INVALIDSTREAMNUMBER;
        if (native_ < 0) return MF_E_INVALIDREQUEST;
        const Offer& offer = S.offers[size_t(native_)];
        HRESULT hr = Type(rgb_ ? MFVideoFormat_RGB32 : offer.subtype, offer, type);
        if (SUCCEEDED(hr) && rgb_)
            (*type)->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(S.bottomUp ? -offer.width * 4 : offer.width * 4));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ReadSample(DWORD index, DWORD, DWORD* actual, DWORD* flags, LONGLONG* time,
                                         IMFSample** sample) override {
        if (flags == nullptr || sample == nullptr || time == nullptr) return E_POINTER;
        *sample = nullptr;
        *flags = 0;
        if (failed_) return MF_E_INVALIDREQUEST;  // no call after an error, the documentation says
        if (index != kVideo && index != 0) return MF_E_INVALIDSTREAMNUMBER;
        if (!rgb_) return MF_E_INVALIDREQUEST;
        if (S.silent && !source_->WaitForShutdown()) S.waitedOut = true;
        if (source_->IsShut()) return MF_E_SHUTDOWN;
        if (S.goneAfter >= 0 && reads_ >= S.goneAfter) {
            failed_ = true;
            *flags = MF_SOURCE_READERF_ERROR;
            return MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
        }
        if (actual != nullptr) *actual = 0;
        const Offer& offer = S.offers[size_t(native_)];
        const DWORD bytes = DWORD(offer.width) * DWORD(offer.height) * 4;
        IMFMediaBuffer* buffer = nullptr;
        HRESULT hr = MediaFunctions().createMemoryBuffer(bytes, &buffer);
        BYTE* data = nullptr;
        if (SUCCEEDED(hr)) hr = buffer->Lock(&data, nullptr, nullptr);
        if (FAILED(hr)) return hr;
        // Pixel (x, y) of the picture is blue x, green y, red the picture's number.
        for (int32_t y = 0; y < offer.height; ++y) {
            BYTE* row = data + size_t(S.bottomUp ? offer.height - 1 - y : y) * size_t(offer.width) * 4;
            for (int32_t x = 0; x < offer.width; ++x) {
                const BYTE pixel[4] = {BYTE(x), BYTE(y), BYTE(reads_), 0};
                std::memcpy(row + size_t(x) * 4, pixel, 4);
            }
        }
        buffer->Unlock();
        buffer->SetCurrentLength(bytes);
        hr = MediaFunctions().createSample(sample);
        if (SUCCEEDED(hr)) hr = (*sample)->AddBuffer(buffer);
        buffer->Release();
        *time = reads_++ * 333'333;
        return hr;
    }

private:
    static HRESULT Type(const GUID& subtype, const Offer& offer, IMFMediaType** type) {
        HRESULT hr = MediaFunctions().createMediaType(type);
        if (FAILED(hr)) return hr;
        (*type)->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        (*type)->SetGUID(MF_MT_SUBTYPE, subtype);
        (*type)->SetUINT64(MF_MT_FRAME_SIZE, static_cast<UINT64>(offer.width) << 32 | UINT32(offer.height));
        (*type)->SetUINT64(MF_MT_FRAME_RATE, static_cast<UINT64>(offer.fps) << 32 | 1);
        return S_OK;
    }

    FakeSource* source_;
    bool processing_;
    int native_ = -1;
    bool rgb_ = false, failed_ = false;
    int reads_ = 0;
};

bool IsVideoCapture(IMFAttributes* attributes) {
    GUID type{};
    return attributes != nullptr && SUCCEEDED(attributes->GetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, &type)) &&
           type == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID;
}

HRESULT WINAPI FakeEnumDevices(IMFAttributes* attributes, IMFActivate*** devices, UINT32* count) {
    if (devices == nullptr || count == nullptr) return E_POINTER;
    if (!IsVideoCapture(attributes)) return E_INVALIDARG;
    *count = static_cast<UINT32>(S.devices.size());
    *devices = static_cast<IMFActivate**>(CoTaskMemAlloc(sizeof(IMFActivate*) * (S.devices.size() + 1)));
    for (size_t i = 0; i < S.devices.size(); ++i) (*devices)[i] = new FakeDevice(S.devices[i].first, S.devices[i].second);
    return S_OK;
}

HRESULT WINAPI FakeCreateDeviceSource(IMFAttributes* attributes, IMFMediaSource** source) {
    if (source == nullptr) return E_POINTER;
    if (!IsVideoCapture(attributes)) return E_INVALIDARG;
    wchar_t link[512] = {};
    if (FAILED(attributes->GetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, link, 512, nullptr)))
        return E_INVALIDARG;
    bool known = false;
    for (const auto& device : S.devices) known = known || device.second == link;
    if (!known) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (FAILED(S.openError)) return S.openError;
    S.opened = link;
    *source = new FakeSource();
    return S_OK;
}

HRESULT WINAPI FakeCreateReader(IMFMediaSource* source, IMFAttributes* attributes, IMFSourceReader** reader) {
    if (source == nullptr || reader == nullptr) return E_POINTER;
    UINT32 processing = FALSE;
    if (attributes != nullptr) attributes->GetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, &processing);
    S.processing = processing != FALSE;
    *reader = new FakeReader(static_cast<FakeSource*>(source), S.processing);
    return S_OK;
}

// The fakes in the table for one test, the system's entries back after it.
struct FakeCameras {
    MediaFoundation saved = MediaFunctions();
    explicit FakeCameras(Script script) {
        static const bool started = SUCCEEDED(MediaFunctions().startup(MF_VERSION, MFSTARTUP_FULL));
        REQUIRE(started);
        S = std::move(script);
        MediaFunctions().enumDeviceSources = FakeEnumDevices;
        MediaFunctions().createDeviceSource = FakeCreateDeviceSource;
        MediaFunctions().createSourceReaderFromMediaSource = FakeCreateReader;
    }
    ~FakeCameras() { MediaFunctions() = saved; }
};

Script TwoCameras() {
    Script s;
    s.devices = {{L"Front camera", L"\\\\?\\usb#front"}, {L"Desk camera", L"\\\\?\\usb#desk"}};
    s.offers = {{MFVideoFormat_MJPG, 1920, 1080, 30}, {MFVideoFormat_YUY2, 1280, 720, 30}, {MFVideoFormat_NV12, 640, 480, 30}};
    return s;
}

}  // namespace

TEST_CASE("the chosen camera at its best format within 1280 x 720, as RGB through the reader, top down; then let go") {
    for (bool bottomUp : {false, true}) {
        CAPTURE(bottomUp);
        Script script = TwoCameras();
        script.bottomUp = bottomUp;
        FakeCameras fakes(script);
        CHECK(ListCameras().size() == 2);
        std::wstring name, problem;
        std::unique_ptr<CameraSource> source = OpenCamera(L"\\\\?\\usb#desk", name, problem);
        REQUIRE_MESSAGE(source != nullptr, problem);
        CHECK(name == L"Desk camera");
        CHECK(S.opened == L"\\\\?\\usb#desk");
        CHECK(S.processing);
        CHECK(S.chosen == 1);
        std::vector<int> seen;
        for (int picture = 0; picture < 2; ++picture)
            REQUIRE(source->Next(
                [&](const camera::FrameView& frame) {
                    CHECK((frame.width == 1280 && frame.height == 720));
                    const uint8_t* p = frame.bgra + 5 * frame.stride + 300 * 4;
                    seen = {p[0], p[1], p[2]};
                },
                problem));
        CHECK(seen == std::vector<int>{300 % 256, 5, 1});
        source.reset();
        CHECK(S.shutDown);
        CHECK(fake::liveObjects == 0);
    }
    // A link no longer connected: the first camera.
    FakeCameras fakes(TwoCameras());
    std::wstring name, problem;
    CHECK(OpenCamera(L"\\\\?\\usb#gone", name, problem) != nullptr);
    CHECK(name == L"Front camera");
    CHECK(fake::liveObjects == 0);
}

TEST_CASE("no camera, access turned off, a format nothing converts: said, and nothing left open") {
    std::wstring name, problem;
    {
        Script none;
        FakeCameras fakes(none);
        CHECK(OpenCamera(L"", name, problem) == nullptr);
        CHECK(problem == camera::kNoCamera);
    }
    {
        Script denied = TwoCameras();
        denied.openError = E_ACCESSDENIED;
        FakeCameras fakes(denied);
        CHECK(OpenCamera(L"", name, problem) == nullptr);
        CHECK(problem.find(L"Privacy") != std::wstring::npos);
    }
    {
        Script odd = TwoCameras();
        odd.offers = {{MFVideoFormat_Y216, 1280, 720, 30}};
        FakeCameras fakes(odd);
        CHECK(OpenCamera(L"", name, problem) == nullptr);
        CHECK(problem.find(L"(Y216)") != std::wstring::npos);
        CHECK(S.shutDown);
    }
    CHECK(fake::liveObjects == 0);
}

TEST_CASE("a camera unplugged while it shows is said once; a silent one is let go when asked") {
    std::wstring name, problem;
    {
        Script unplugged = TwoCameras();
        unplugged.goneAfter = 3;
        FakeCameras fakes(unplugged);
        std::unique_ptr<CameraSource> source = OpenCamera(L"", name, problem);
        REQUIRE(source != nullptr);
        int pictures = 0;
        while (source->Next([&](const camera::FrameView&) { ++pictures; }, problem)) {
        }
        CHECK(pictures == 3);
        CHECK(problem == L"The camera was disconnected. Connect it, then show the camera again.");
    }
    {
        Script silent = TwoCameras();
        silent.silent = true;
        FakeCameras fakes(silent);
        std::unique_ptr<CameraSource> source = OpenCamera(L"", name, problem);
        REQUIRE(source != nullptr);
        problem.clear();
        std::thread stopper([&] {
            Sleep(100);
            source->Interrupt();
        });
        CHECK_FALSE(source->Next([](const camera::FrameView&) {}, problem));
        stopper.join();
        CHECK_FALSE(S.waitedOut);
        CHECK(problem.empty());
    }
    CHECK(fake::liveObjects == 0);
}
