#include "fakes/fake_platform.h"

#include <mfapi.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <wrl/client.h>

#include <thread>

#include "audio/audio_source.h"
#include "capture/capture_platform.h"
#include "fakes/com_fake.h"
#include "fakes/platform_stubs.h"
#include "recorder/media_foundation.h"
#include "recorder/video_platform.h"

using Microsoft::WRL::ComPtr;
namespace wgc = ostrel::wgc;

namespace fake {
namespace {

FakePlatform* current = nullptr;
std::atomic<int> runningThreads{0};

// Runs `work` on a thread of its own that the fake platform waits for.
template <typename Work>
void Detach(Work work) {
    ++runningThreads;
    std::thread([work]() mutable {
        work();
        --runningThreads;
    }).detach();
}

template <typename Interface>
HRESULT Give(Interface* made, REFIID iid, void** out) {
    const HRESULT hr = made->QueryInterface(iid, out);
    made->Release();
    return hr;
}

// ---- Windows.Graphics.Capture ----

class RuntimeDevice final
    : public FakeInspectable<Join<wgc::IDirect3DDevice, wgc::IDirect3DDxgiInterfaceAccess>, wgc::IDirect3DDevice,
                             wgc::IDirect3DDxgiInterfaceAccess> {
public:
    explicit RuntimeDevice(IDXGIDevice* device) : device_(device) {}
    HRESULT STDMETHODCALLTYPE Trim() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) override {
        return device_->QueryInterface(iid, object);
    }

private:
    ComPtr<IDXGIDevice> device_;
};

class Surface final
    : public FakeInspectable<Join<wgc::IDirect3DSurface, wgc::IDirect3DDxgiInterfaceAccess>, wgc::IDirect3DSurface,
                             wgc::IDirect3DDxgiInterfaceAccess> {
public:
    explicit Surface(ID3D11Texture2D* texture) : texture_(texture) {}
    HRESULT STDMETHODCALLTYPE get_Description(wgc::Direct3DSurfaceDescription*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) override {
        return texture_->QueryInterface(iid, object);
    }

private:
    ComPtr<ID3D11Texture2D> texture_;
};

class Frame final
    : public FakeInspectable<Join<wgc::IDirect3D11CaptureFrame, wgc::IClosable>, wgc::IDirect3D11CaptureFrame,
                             wgc::IClosable> {
public:
    Frame(ID3D11Texture2D* texture, wgc::SizeInt32 size) : texture_(texture), size_(size) {}
    HRESULT STDMETHODCALLTYPE get_Surface(wgc::IDirect3DSurface** value) override {
        *value = new Surface(texture_.Get());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(wgc::TimeSpan* value) override {
        value->Duration = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ContentSize(wgc::SizeInt32* value) override {
        *value = size_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

private:
    ComPtr<ID3D11Texture2D> texture_;
    wgc::SizeInt32 size_;
};

class Pool;

class Session final
    : public FakeInspectable<Join<wgc::IGraphicsCaptureSession, wgc::IGraphicsCaptureSession2,
                                  wgc::IGraphicsCaptureSession3, wgc::IClosable>,
                             wgc::IGraphicsCaptureSession, wgc::IGraphicsCaptureSession2,
                             wgc::IGraphicsCaptureSession3, wgc::IClosable> {
public:
    explicit Session(Pool* pool);
    HRESULT STDMETHODCALLTYPE StartCapture() override;
    HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean* value) override {
        *value = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean* value) override {
        *value = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

private:
    ComPtr<wgc::IDirect3D11CaptureFramePool> pool_;
};

class Pool final
    : public FakeInspectable<Join<wgc::IDirect3D11CaptureFramePool, wgc::IClosable>,
                             wgc::IDirect3D11CaptureFramePool, wgc::IClosable> {
public:
    Pool(ID3D11Device* device, wgc::SizeInt32 size) : device_(device), size_(size) {}

    HRESULT STDMETHODCALLTYPE Recreate(wgc::IDirect3DDevice*, wgc::DirectXPixelFormat, int32_t,
                                       wgc::SizeInt32 size) override {
        std::lock_guard<std::mutex> lock(lock_);
        size_ = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TryGetNextFrame(wgc::IDirect3D11CaptureFrame** result) override {
        *result = nullptr;
        if (current != nullptr && current->capture.insideFrame) current->capture.insideFrame();
        std::lock_guard<std::mutex> lock(lock_);
        // A real frame texture of the content size, or a small one where
        // that size is beyond what a texture can be.
        const bool fits = content_.Width > 0 && content_.Height > 0 && content_.Width <= 4096 && content_.Height <= 4096;
        const UINT w = fits ? static_cast<UINT>(content_.Width) : 64u;
        const UINT h = fits ? static_cast<UINT>(content_.Height) : 64u;
        if (!texture_ || textureWidth_ != w || textureHeight_ != h) {
            D3D11_TEXTURE2D_DESC description{};
            description.Width = w;
            description.Height = h;
            description.MipLevels = 1;
            description.ArraySize = 1;
            description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
            description.SampleDesc.Count = 1;
            description.Usage = D3D11_USAGE_DEFAULT;
            description.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
            texture_.Reset();
            const HRESULT hr = device_->CreateTexture2D(&description, nullptr, &texture_);
            if (FAILED(hr)) return hr;
            textureWidth_ = w;
            textureHeight_ = h;
        }
        *result = new Frame(texture_.Get(), content_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_FrameArrived(wgc::IFrameArrivedHandler* handler,
                                               wgc::EventRegistrationToken* token) override {
        std::lock_guard<std::mutex> lock(lock_);
        handler_ = handler;
        token->value = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE remove_FrameArrived(wgc::EventRegistrationToken) override {
        std::lock_guard<std::mutex> lock(lock_);
        handler_.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateCaptureSession(wgc::IGraphicsCaptureItem*,
                                                   wgc::IGraphicsCaptureSession** result) override {
        *result = new Session(this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override {
        closed_ = true;
        return S_OK;
    }

    // Calls the handler registered now, if any, on the calling thread.
    void Deliver() {
        ComPtr<wgc::IFrameArrivedHandler> handler;
        {
            std::lock_guard<std::mutex> lock(lock_);
            handler = handler_;
        }
        if (handler) handler->Invoke(this, nullptr);
    }
    void SetContent(wgc::SizeInt32 size) {
        std::lock_guard<std::mutex> lock(lock_);
        content_ = size;
    }
    void FireAsync() {
        ComPtr<Pool> self(this);
        Detach([self] { self->Deliver(); });
    }
    void Start() {
        const CaptureScript& script = current->capture;
        std::vector<wgc::SizeInt32> sizes = script.firstFrames;
        if (sizes.empty()) sizes.push_back(script.itemSize);
        std::thread first([&] {
            for (const wgc::SizeInt32& size : sizes) {
                SetContent(size);
                Deliver();
            }
        });
        first.join();
        if (!script.keepSending) return;
        ComPtr<Pool> self(this);
        Detach([self] {
            ComPtr<wgc::IFrameArrivedHandler> last;
            while (!self->closed_) {
                {
                    std::lock_guard<std::mutex> lock(self->lock_);
                    if (self->handler_) last = self->handler_;
                }
                if (last) last->Invoke(self.Get(), nullptr);
                Sleep(2);
            }
            // Deliveries already under way when the pool closed still arrive.
            for (int late = 0; late < 2 && last; ++late) last->Invoke(self.Get(), nullptr);
        });
    }

private:
    std::mutex lock_;
    ComPtr<ID3D11Device> device_;
    wgc::SizeInt32 size_;
    wgc::SizeInt32 content_{0, 0};
    ComPtr<wgc::IFrameArrivedHandler> handler_;
    ComPtr<ID3D11Texture2D> texture_;
    UINT textureWidth_ = 0, textureHeight_ = 0;
    std::atomic<bool> closed_{false};
};

Session::Session(Pool* pool) : pool_(pool) {}
HRESULT Session::StartCapture() {
    static_cast<Pool*>(pool_.Get())->Start();
    return S_OK;
}

std::mutex poolLock;
ComPtr<Pool> lastPool;

std::mutex closedLock;
ComPtr<wgc::IItemClosedHandler> closedHandler;  // of the last window item

class Item final : public FakeInspectable<wgc::IGraphicsCaptureItem, wgc::IGraphicsCaptureItem> {
public:
    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Size(wgc::SizeInt32* value) override {
        *value = current->capture.itemSize;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_Closed(wgc::IItemClosedHandler* handler, wgc::EventRegistrationToken* token) override {
        std::lock_guard<std::mutex> lock(closedLock);
        closedHandler = handler;
        token->value = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE remove_Closed(wgc::EventRegistrationToken token) override {
        std::lock_guard<std::mutex> lock(closedLock);
        if (token.value != 7) return E_INVALIDARG;
        closedHandler.Reset();
        return S_OK;
    }
};

class SessionStatics final
    : public FakeInspectable<wgc::IGraphicsCaptureSessionStatics, wgc::IGraphicsCaptureSessionStatics> {
public:
    HRESULT STDMETHODCALLTYPE IsSupported(boolean* result) override {
        *result = current != nullptr && current->capture.supported;
        return S_OK;
    }
};

class ItemInterop final : public FakeUnknown<wgc::IGraphicsCaptureItemInterop, wgc::IGraphicsCaptureItemInterop> {
public:
    HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID iid, void** result) override {
        if (window == nullptr) return E_INVALIDARG;
        return Give(new Item, iid, result);
    }
    HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR, REFIID iid, void** result) override {
        if (FAILED(current->capture.createForMonitor)) return current->capture.createForMonitor;
        return Give(new Item, iid, result);
    }
};

class PoolStatics final
    : public FakeInspectable<wgc::IDirect3D11CaptureFramePoolStatics2, wgc::IDirect3D11CaptureFramePoolStatics2> {
public:
    HRESULT STDMETHODCALLTYPE CreateFreeThreaded(wgc::IDirect3DDevice* device, wgc::DirectXPixelFormat, int32_t,
                                                 wgc::SizeInt32 size, wgc::IDirect3D11CaptureFramePool** result) override {
        ComPtr<wgc::IDirect3DDxgiInterfaceAccess> access;
        ComPtr<ID3D11Device> d3d;
        HRESULT hr = device->QueryInterface(IID_PPV_ARGS(&access));
        if (SUCCEEDED(hr)) hr = access->GetInterface(IID_PPV_ARGS(&d3d));
        if (FAILED(hr)) return hr;
        ComPtr<Pool> pool;
        pool.Attach(new Pool(d3d.Get(), size));
        {
            std::lock_guard<std::mutex> lock(poolLock);
            lastPool = pool;
        }
        *result = pool.Detach();
        return S_OK;
    }
};

std::atomic<int> borderlessRequests{0};

class AsyncInfo final : public FakeInspectable<wgc::IAsyncInfo, wgc::IAsyncInfo> {
public:
    HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) override {
        *id = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Status(int32_t* status) override {
        *status = 1;  // completed
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override {
        *code = S_OK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
};

class AccessStatics final
    : public FakeInspectable<wgc::IGraphicsCaptureAccessStatics, wgc::IGraphicsCaptureAccessStatics> {
public:
    HRESULT STDMETHODCALLTYPE RequestAccessAsync(wgc::GraphicsCaptureAccessKind kind, IInspectable** operation) override {
        if (kind != wgc::GraphicsCaptureAccessKind_Borderless) return E_INVALIDARG;
        ++borderlessRequests;
        *operation = new AsyncInfo;
        return S_OK;
    }
};

HRESULT FakeActivationFactory(const wchar_t* className, REFIID iid, void** factory) {
    // Made once and kept, as the system's are.
    static IUnknown* const session = static_cast<wgc::IGraphicsCaptureSessionStatics*>(new SessionStatics);
    static IUnknown* const interop = static_cast<wgc::IGraphicsCaptureItemInterop*>(new ItemInterop);
    static IUnknown* const pools = static_cast<wgc::IDirect3D11CaptureFramePoolStatics2*>(new PoolStatics);
    static IUnknown* const access = static_cast<wgc::IGraphicsCaptureAccessStatics*>(new AccessStatics);
    const std::wstring name = className;
    if (name == wgc::kGraphicsCaptureSessionClass) return session->QueryInterface(iid, factory);
    if (name == wgc::kGraphicsCaptureItemClass) return interop->QueryInterface(iid, factory);
    if (name == wgc::kDirect3D11CaptureFramePoolClass) return pools->QueryInterface(iid, factory);
    if (name == wgc::kGraphicsCaptureAccessClass) return access->QueryInterface(iid, factory);
    return REGDB_E_CLASSNOTREG;
}

HRESULT FakeCreateDevice(IDXGIDevice* device, IInspectable** wrapper) {
    if (FAILED(current->capture.wrapDevice)) return current->capture.wrapDevice;
    *wrapper = static_cast<wgc::IDirect3DDevice*>(new RuntimeDevice(device));
    return S_OK;
}

// ---- Media Foundation ----

std::atomic<int> writersMade{0};
std::atomic<int> buffersMade{0};
MediaFoundation realMedia;

class SinkWriter final : public FakeUnknown<StubMFSinkWriter, IMFSinkWriter> {
public:
    SinkWriter(int number, IMFByteStream* file, IMFAttributes* attributes) : number_(number), file_(file) {
        WriterRecord record;
        if (attributes != nullptr) {
            attributes->GetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, &record.hardwareTransforms);
            attributes->GetGUID(MF_TRANSCODE_CONTAINERTYPE, &record.container);
            attributes->GetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, &record.throttlingDisabled);
        }
        std::lock_guard<std::mutex> lock(current->seen.lock);
        current->seen.writers.push_back(record);
    }
    HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* type, DWORD* index) override {
        if (const HRESULT hr = Fail("AddStream"); FAILED(hr)) return hr;
        GUID subtype{};
        type->GetGUID(MF_MT_SUBTYPE, &subtype);
        Record([&](WriterRecord& r) { r.outputSubtypes.push_back(subtype); });
        *index = streams_++;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD stream, IMFMediaType* type, IMFAttributes*) override {
        if (const HRESULT hr = Fail("SetInputMediaType"); FAILED(hr)) return hr;
        GUID subtype{};
        type->GetGUID(MF_MT_SUBTYPE, &subtype);
        UINT32 stride = 0;
        UINT64 size = 0;
        type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride);
        type->GetUINT64(MF_MT_FRAME_SIZE, &size);
        Record([&](WriterRecord& r) {
            r.inputSubtypes.push_back(subtype);
            if (stream == 0) {
                r.inputStride = stride;
                r.inputFrameSize = size;
            }
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginWriting() override { return Fail("BeginWriting"); }
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD stream, IMFSample* sample) override {
        if (const HRESULT hr = Fail("WriteSample:" + std::to_string(stream)); FAILED(hr)) return hr;
        SampleRecord record;
        record.stream = stream;
        sample->GetSampleTime(&record.time);
        sample->GetSampleDuration(&record.duration);
        if (received_[stream & 1]++ < 3) {
            ComPtr<IMFMediaBuffer> buffer;
            BYTE* data = nullptr;
            DWORD length = 0;
            if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) &&
                SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
                record.bytes.assign(reinterpret_cast<const char*>(data), length);
                buffer->Unlock();
            }
        }
        Record([&](WriterRecord& r) { r.samples.push_back(std::move(record)); });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Finalize() override {
        if (const HRESULT hr = Fail("Finalize"); FAILED(hr)) return hr;
        Record([](WriterRecord& r) { r.finalized = true; });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStatistics(DWORD stream, MF_SINK_WRITER_STATISTICS* statistics) override {
        if (statistics == nullptr || statistics->cb != sizeof *statistics) return E_INVALIDARG;
        statistics->qwNumSamplesReceived = received_[stream & 1];
        statistics->qwNumSamplesEncoded = current->media.encoderStalls ? 0 : received_[stream & 1];
        return S_OK;
    }

private:
    HRESULT Fail(const std::string& call) {
        const int nth = ++calls_[call];
        for (const WriterFailure& failure : current->media.failures) {
            if (failure.writer != number_ || failure.call != call || failure.nth != nth) continue;
            // A writer given up half-made may keep its file: the test asks for the worst case.
            if (current->media.failedWriterKeepsFile && file_) file_->AddRef();
            return failure.result;
        }
        return S_OK;
    }
    template <typename Change>
    void Record(Change change) {
        std::lock_guard<std::mutex> lock(current->seen.lock);
        change(current->seen.writers[static_cast<size_t>(number_ - 1)]);
    }

    int number_;
    ComPtr<IMFByteStream> file_;
    DWORD streams_ = 0;
    uint64_t received_[2] = {0, 0};
    std::map<std::string, int> calls_;
};

// The system's file stream as documented: its own handle on the file, shared
// for reading only, which Close lets go of whoever still holds the stream.
// (Wine's stream keeps its handle until the last reference goes.)
class FileStream final : public FakeUnknown<StubMFByteStream, IMFByteStream> {
public:
    explicit FileStream(HANDLE file) : file_(file) {}
    HRESULT STDMETHODCALLTYPE Close() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        return S_OK;
    }

private:
    ~FileStream() override { Close(); }
    HANDLE file_;
};

HRESULT WINAPI FakeCreateFile(MF_FILE_ACCESSMODE, MF_FILE_OPENMODE, MF_FILE_FLAGS, LPCWSTR path,
                              IMFByteStream** stream) {
    if (FAILED(current->media.createFile)) return current->media.createFile;
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    *stream = new FileStream(file);
    return S_OK;
}

HRESULT WINAPI FakeCreateSinkWriter(LPCWSTR, IMFByteStream* file, IMFAttributes* attributes, IMFSinkWriter** writer) {
    *writer = new SinkWriter(++writersMade, file, attributes);
    return S_OK;
}

HRESULT WINAPI FakeCreateMemoryBuffer(DWORD length, IMFMediaBuffer** buffer) {
    const int number = ++buffersMade;
    for (const int failed : current->media.failedBuffers)
        if (failed == number) return E_OUTOFMEMORY;
    return realMedia.createMemoryBuffer(length, buffer);
}

// ---- Direct3D 11 video processor ----

class Enumerator final : public FakeUnknown<StubD3D11VideoProcessorEnumerator, ID3D11VideoProcessorEnumerator> {};
class Processor final : public FakeUnknown<StubD3D11VideoProcessor, ID3D11VideoProcessor> {};

template <typename Stub, typename Interface>
class View final : public FakeUnknown<Stub, Interface> {
public:
    explicit View(ID3D11Resource* resource) : resource_(resource) {}
    void STDMETHODCALLTYPE GetResource(ID3D11Resource** resource) override {
        *resource = resource_.Get();
        resource_->AddRef();
    }
    ComPtr<ID3D11Resource> resource_;
};
using InputView = View<StubD3D11VideoProcessorInputView, ID3D11VideoProcessorInputView>;
using OutputView = View<StubD3D11VideoProcessorOutputView, ID3D11VideoProcessorOutputView>;

class VideoDevice final : public FakeUnknown<StubD3D11VideoDevice, ID3D11VideoDevice> {
public:
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorEnumerator(const D3D11_VIDEO_PROCESSOR_CONTENT_DESC*,
                                                             ID3D11VideoProcessorEnumerator** result) override {
        *result = new Enumerator;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessor(ID3D11VideoProcessorEnumerator*, UINT,
                                                   ID3D11VideoProcessor** result) override {
        *result = new Processor;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorInputView(ID3D11Resource* resource, ID3D11VideoProcessorEnumerator*,
                                                            const D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC*,
                                                            ID3D11VideoProcessorInputView** result) override {
        if (FAILED(current->video.inputView)) return current->video.inputView;
        *result = new InputView(resource);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorOutputView(ID3D11Resource* resource, ID3D11VideoProcessorEnumerator*,
                                                             const D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC*,
                                                             ID3D11VideoProcessorOutputView** result) override {
        *result = new OutputView(resource);
        return S_OK;
    }
};

class VideoContext final : public FakeUnknown<StubD3D11VideoContext, ID3D11VideoContext> {
public:
    explicit VideoContext(ID3D11DeviceContext* context) : context_(context) {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamAutoProcessingMode(ID3D11VideoProcessor*, UINT,
                                                                     WINBOOL enable) override {
        std::lock_guard<std::mutex> lock(current->seen.lock);
        if (!enable) ++current->seen.autoProcessingOff;
    }
    void STDMETHODCALLTYPE VideoProcessorSetStreamSourceRect(ID3D11VideoProcessor*, UINT, WINBOOL enable,
                                                             const RECT* rect) override {
        std::lock_guard<std::mutex> lock(current->seen.lock);
        if (enable && rect != nullptr) current->seen.sourceRect = *rect;
    }
    // Draws a known pattern into the NV12 output, so the tests can follow it to the encoder.
    HRESULT STDMETHODCALLTYPE VideoProcessorBlt(ID3D11VideoProcessor*, ID3D11VideoProcessorOutputView* view, UINT,
                                                UINT, const D3D11_VIDEO_PROCESSOR_STREAM*) override {
        ComPtr<ID3D11Texture2D> texture;
        HRESULT hr = static_cast<OutputView*>(view)->resource_.As(&texture);
        if (FAILED(hr)) return hr;
        D3D11_TEXTURE2D_DESC description{};
        texture->GetDesc(&description);
        std::string pattern(static_cast<size_t>(description.Width) * description.Height, '\0');
        for (UINT y = 0; y < description.Height; ++y)
            for (UINT x = 0; x < description.Width; ++x)
                pattern[y * description.Width + x] =
                    static_cast<char>(FakePlatform::PatternAt(static_cast<int>(x), static_cast<int>(y)));
        context_->UpdateSubresource(texture.Get(), 0, nullptr, pattern.data(), description.Width, 0);
        std::lock_guard<std::mutex> lock(current->seen.lock);
        ++current->seen.blts;
        return S_OK;
    }

private:
    ComPtr<ID3D11DeviceContext> context_;
};

HRESULT FakeVideoInterfaces(ID3D11Device*, ID3D11DeviceContext* context, ID3D11VideoDevice** videoDevice,
                            ID3D11VideoContext** videoContext) {
    *videoDevice = new VideoDevice;
    *videoContext = new VideoContext(context);
    return S_OK;
}

// Wine has no NV12 textures; one byte per texel, half as many rows again,
// has the same layout when mapped.
HRESULT FakeCreateTexture(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* description, ID3D11Texture2D** texture) {
    D3D11_TEXTURE2D_DESC changed = *description;
    if (changed.Format == DXGI_FORMAT_NV12) {
        changed.Format = DXGI_FORMAT_R8_UNORM;
        changed.Height = changed.Height * 3 / 2;
    }
    return device->CreateTexture2D(&changed, nullptr, texture);
}

// ---- Windows Core Audio ----

class CaptureClient final : public FakeUnknown<StubAudioCaptureClient, IAudioCaptureClient> {
public:
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        *frames = 0;
        return S_OK;
    }
};

class AudioClient final : public FakeUnknown<StubAudioClient, IAudioClient> {
public:
    explicit AudioClient(std::wstring id) : id_(std::move(id)) {}
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        auto* made = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        if (made == nullptr) return E_OUTOFMEMORY;
        *made = WAVEFORMATEX{WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 48000 * 8, 8, 32, 0};
        *format = made;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE, DWORD, REFERENCE_TIME, REFERENCE_TIME,
                                         const WAVEFORMATEX*, LPCGUID) override {
        return current->audio.devices[id_].initialize;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** service) override {
        if (iid != __uuidof(IAudioCaptureClient)) return E_NOINTERFACE;
        *service = static_cast<IAudioCaptureClient*>(new CaptureClient);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }

private:
    std::wstring id_;
};

class AudioEndpoint final : public FakeUnknown<StubMMDevice, IMMDevice> {
public:
    explicit AudioEndpoint(std::wstring id) : id_(std::move(id)) {}
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        const Endpoint settings = current->audio.devices[id_];
        if (FAILED(settings.activate)) return settings.activate;
        if (iid != __uuidof(IAudioClient)) return E_NOINTERFACE;
        {
            std::lock_guard<std::mutex> lock(current->seen.lock);
            current->seen.activatedEndpoints.push_back(id_);
        }
        *object = static_cast<IAudioClient*>(new AudioClient(id_));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        *state = current->audio.devices[id_].state;
        return S_OK;
    }

private:
    std::wstring id_;
};

class DeviceEnumerator final : public FakeUnknown<StubMMDeviceEnumerator, IMMDeviceEnumerator> {
public:
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
        if (current->audio.devices.count(id) == 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        *device = new AudioEndpoint(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice** device) override {
        return GetDevice(L"default", device);
    }
};

HRESULT FakeCreateEnumerator(IMMDeviceEnumerator** enumerator) {
    *enumerator = new DeviceEnumerator;
    return S_OK;
}

// The tables as the program had them before the first fake platform.
struct Saved {
    CapturePlatform capture = CaptureFunctions();
    MediaFoundation media = MediaFunctions();
    VideoPlatform video = VideoFunctions();
    AudioPlatform audio = AudioFunctions();
};

Saved& Originals() {
    static Saved saved;
    return saved;
}

}  // namespace

int WriterRecord::VideoSamples() const {
    int count = 0;
    for (const SampleRecord& sample : samples) count += sample.stream == 0 ? 1 : 0;
    return count;
}

int FakePlatform::NewestWriterPictures() {
    std::lock_guard<std::mutex> hold(seen.lock);
    return seen.writers.empty() ? 0 : seen.writers.back().VideoSamples();
}

FakePlatform* Current() { return current; }

int BorderlessRequests() { return borderlessRequests.load(); }

FakePlatform::FakePlatform() {
    const Saved& saved = Originals();
    realMedia = saved.media;
    // Media types and samples are the system's own; they work without a system encoder.
    static const bool started = realMedia.startup != nullptr && SUCCEEDED(realMedia.startup(MF_VERSION, MFSTARTUP_FULL));
    (void)started;
    writersMade = 0;
    buffersMade = 0;
    current = this;
    CaptureFunctions() = CapturePlatform{FakeActivationFactory, FakeCreateDevice};
    MediaFunctions().createFile = FakeCreateFile;
    MediaFunctions().createSinkWriterFromURL = FakeCreateSinkWriter;
    MediaFunctions().createMemoryBuffer = FakeCreateMemoryBuffer;
    VideoFunctions() = VideoPlatform{FakeVideoInterfaces, FakeCreateTexture};
    AudioFunctions() = AudioPlatform{FakeCreateEnumerator};
}

FakePlatform::~FakePlatform() {
    Quiesce();
    {
        std::lock_guard<std::mutex> lock(poolLock);
        lastPool.Reset();
    }
    {
        std::lock_guard<std::mutex> lock(closedLock);
        closedHandler.Reset();
    }
    const Saved& saved = Originals();
    CaptureFunctions() = saved.capture;
    MediaFunctions() = saved.media;
    VideoFunctions() = saved.video;
    AudioFunctions() = saved.audio;
    current = nullptr;
}

void FakePlatform::FireFrame() {
    ComPtr<Pool> pool;
    {
        std::lock_guard<std::mutex> lock(poolLock);
        pool = lastPool;
    }
    if (pool) pool->FireAsync();
}

void FakePlatform::CloseCapturedWindow() {
    ComPtr<wgc::IItemClosedHandler> handler;
    {
        std::lock_guard<std::mutex> lock(closedLock);
        handler = closedHandler;
    }
    if (handler) handler->Invoke(nullptr, nullptr);
}

void FakePlatform::Quiesce() {
    for (int i = 0; i < 500 && runningThreads.load() != 0; ++i) Sleep(10);
}

}  // namespace fake
