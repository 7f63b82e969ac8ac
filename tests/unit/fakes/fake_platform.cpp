#include "fakes/fake_platform.h"

#include <mfapi.h>
#include <mferror.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <thread>

#include <doctest.h>

#include "audio/audio_source.h"
#include "capture/capture_platform.h"
#include "capture/d3d.h"
#include "common/com_adopt.h"
#include "fakes/com_fake.h"
#include "fakes/platform_stubs.h"
#include "recorder/media_foundation.h"
#include "recorder/recorder.h"
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
    std::thread([work = std::move(work)]() mutable {
        {
            // What the work holds is let go of before it counts as done.
            Work done = std::move(work);
            done();
        }
        --runningThreads;
    }).detach();
}

template <typename Interface>
HRESULT Give(Interface* made, REFIID iid, void** out) {
    const HRESULT hr = made->QueryInterface(iid, out);
    made->Release();
    return hr;
}

template <typename Change>
void See(Change change) {
    if (current == nullptr) return;
    std::lock_guard<std::mutex> lock(current->seen.lock);
    change(current->seen);
}

// Counts a platform object that a fake made (a texture, a sample) as a fake
// object for as long as it lives: it rides along as the object's private
// data, which the object lets go of when it is destroyed.
std::atomic<int> trackersAlive{0};
class Tracker final : public FakeUnknown<IUnknown, IUnknown> {
public:
    Tracker() { ++trackersAlive; }
    ~Tracker() override { --trackersAlive; }
};
constexpr GUID kTrackerKey = {0x5c1e6a0f, 0x9d3b, 0x4c47, {0x8e, 0x21, 0x3a, 0x55, 0x0b, 0x7d, 0x62, 0x19}};

void TrackTexture(ID3D11Texture2D* texture) {
    ComPtr<IUnknown> tracker;
    tracker = Adopt(static_cast<IUnknown*>(new Tracker));
    texture->SetPrivateDataInterface(kTrackerKey, tracker.Get());
}

// ---- Windows.Graphics.Capture ----

// Direct3D 11's largest two-dimensional texture side.
constexpr int32_t kMaxTextureSide = 16384;
// RO_E_CLOSED: what a closed Windows Runtime object answers.
constexpr HRESULT kClosed = static_cast<HRESULT>(0x80000013);

bool UsableSize(wgc::SizeInt32 size) {
    return size.Width > 0 && size.Height > 0 && size.Width <= kMaxTextureSide && size.Height <= kMaxTextureSide;
}

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

class Pool;

// Every handler the glue registered, held to the end of the test, when only
// this reference may be left: any other is one the glue leaked.
std::mutex handlersLock;
std::vector<ComPtr<IUnknown>> handlersSeen;

void Registered(IUnknown* handler) {
    std::lock_guard<std::mutex> lock(handlersLock);
    handlersSeen.emplace_back(handler);
}

// A frame holds one of its pool's buffers until it is closed. Only Close
// gives it back: the pool cannot tell when a frame's surface is last used.
class Frame final
    : public FakeInspectable<Join<wgc::IDirect3D11CaptureFrame, wgc::IClosable>, wgc::IDirect3D11CaptureFrame,
                             wgc::IClosable> {
public:
    Frame(Pool* pool, uint64_t generation, size_t slot, ID3D11Texture2D* texture, wgc::SizeInt32 size);
    HRESULT STDMETHODCALLTYPE get_Surface(wgc::IDirect3DSurface** value) override {
        if (closed_) return kClosed;
        *value = new Surface(texture_.Get());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(wgc::TimeSpan* value) override {
        value->Duration = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ContentSize(wgc::SizeInt32* value) override {
        if (closed_) return kClosed;
        *value = size_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override;

private:
    ComPtr<Pool> pool_;
    uint64_t generation_;
    size_t slot_;
    ComPtr<ID3D11Texture2D> texture_;
    wgc::SizeInt32 size_;
    std::atomic<bool> closed_{false};
};

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
    HRESULT STDMETHODCALLTYPE Close() override;

private:
    ComPtr<Pool> pool_;
    bool started_ = false;
};

// A free-threaded frame pool with a fixed number of buffers. The capture
// puts a new frame into a free buffer and raises FrameArrived on a thread of
// its own; with every buffer held by a frame not yet closed, no frame comes.
class Pool final
    : public FakeInspectable<Join<wgc::IDirect3D11CaptureFramePool, wgc::IClosable>,
                             wgc::IDirect3D11CaptureFramePool, wgc::IClosable> {
public:
    Pool(ID3D11Device* device, int32_t buffers, wgc::SizeInt32 size) : device_(device) { Reset(buffers, size); }

    HRESULT STDMETHODCALLTYPE Recreate(wgc::IDirect3DDevice* device, wgc::DirectXPixelFormat, int32_t buffers,
                                       wgc::SizeInt32 size) override {
        if (device == nullptr || buffers <= 0 || !UsableSize(size)) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(lock_);
        if (closed_) return kClosed;
        Reset(buffers, size);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TryGetNextFrame(wgc::IDirect3D11CaptureFrame** result) override {
        if (result == nullptr) return E_POINTER;
        *result = nullptr;
        if (current != nullptr && current->capture.insideFrame) current->capture.insideFrame();
        std::lock_guard<std::mutex> lock(lock_);
        if (closed_) return kClosed;
        if (ready_.empty()) return S_OK;  // no frame is waiting
        const Ready next = ready_.front();
        ComPtr<ID3D11Texture2D>& texture = textures_[next.slot];
        if (!texture) {
            D3D11_TEXTURE2D_DESC description{};
            description.Width = static_cast<UINT>(size_.Width);
            description.Height = static_cast<UINT>(size_.Height);
            description.MipLevels = 1;
            description.ArraySize = 1;
            description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
            description.SampleDesc.Count = 1;
            description.Usage = D3D11_USAGE_DEFAULT;
            description.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
            const HRESULT hr = device_->CreateTexture2D(&description, nullptr, &texture);
            if (FAILED(hr)) return hr;
            TrackTexture(texture.Get());
        }
        ready_.pop_front();
        *result = new Frame(this, generation_, next.slot, texture.Get(), next.content);
        See([](Seen& seen) { ++seen.framesTaken; });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_FrameArrived(wgc::IFrameArrivedHandler* handler,
                                               wgc::EventRegistrationToken* token) override {
        if (handler == nullptr) return E_INVALIDARG;
        Registered(handler);
        std::lock_guard<std::mutex> lock(lock_);
        handler_ = handler;
        token->value = 7;
        return S_OK;
    }
    // Like the system's, this returns at once: a call of the handler that is
    // already running goes on.
    HRESULT STDMETHODCALLTYPE remove_FrameArrived(wgc::EventRegistrationToken) override {
        std::lock_guard<std::mutex> lock(lock_);
        handler_.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateCaptureSession(wgc::IGraphicsCaptureItem* item,
                                                   wgc::IGraphicsCaptureSession** result) override {
        if (item == nullptr) return E_INVALIDARG;
        *result = new Session(this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override {
        std::lock_guard<std::mutex> lock(lock_);
        closed_ = true;
        ready_.clear();
        textures_.clear();
        return S_OK;
    }

    void GiveBack(uint64_t generation, size_t slot) {
        std::lock_guard<std::mutex> lock(lock_);
        if (generation == generation_ && slot < busy_.size()) busy_[slot] = false;
    }

    // Puts a frame of `content` into a free buffer and raises FrameArrived
    // on this thread. False when every buffer is held or the pool is closed.
    bool Produce(wgc::SizeInt32 content) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (closed_ || stopped_) return false;
            const auto free = std::find(busy_.begin(), busy_.end(), false);
            if (free == busy_.end()) return false;
            *free = true;
            ready_.push_back({static_cast<size_t>(free - busy_.begin()), content});
        }
        Deliver();
        return true;
    }

    // Calls the handler registered now, if any, on the calling thread.
    void Deliver() {
        ComPtr<wgc::IFrameArrivedHandler> handler;
        {
            std::lock_guard<std::mutex> lock(lock_);
            handler = handler_;
        }
        Invoke(handler.Get());
    }
    void Invoke(wgc::IFrameArrivedHandler* handler) {
        if (handler == nullptr) return;
        handler->Invoke(this, nullptr);
    }

    void FireAsync() {
        ComPtr<Pool> self(this);
        Detach([self] { self->Deliver(); });
    }

    // The capture runs: frames come from a thread of the capture's own,
    // the first ones after StartCapture has returned.
    void Start() {
        const CaptureScript& script = current->capture;
        std::vector<wgc::SizeInt32> sizes = script.firstFrames;
        if (sizes.empty()) sizes.push_back(script.itemSize);
        const bool keepSending = script.keepSending;
        const int apart = script.firstFramesApartMs;
        ComPtr<Pool> self(this);
        Detach([self, sizes, keepSending, apart] {
            Sleep(1);
            // Each scripted frame waits (a while) for a buffer to be free.
            for (const wgc::SizeInt32& size : sizes) {
                if (&size != &sizes.front()) Sleep(static_cast<DWORD>(apart));
                for (int wait = 0; wait < 2000 && !self->Produce(size); ++wait) {
                    if (self->Over()) break;
                    Sleep(1);
                }
            }
            if (!keepSending) return;
            ComPtr<wgc::IFrameArrivedHandler> last;
            while (!self->Over()) {
                {
                    std::lock_guard<std::mutex> lock(self->lock_);
                    if (self->handler_) last = self->handler_;
                }
                self->Produce(sizes.back());
                Sleep(2);
            }
            // Deliveries already under way when the pool closed still arrive.
            for (int late = 0; late < 2; ++late) self->Invoke(last.Get());
        });
    }
    void StopProducing() {
        std::lock_guard<std::mutex> lock(lock_);
        stopped_ = true;
    }

private:
    struct Ready {
        size_t slot;
        wgc::SizeInt32 content;
    };

    bool Over() {
        std::lock_guard<std::mutex> lock(lock_);
        return closed_ || stopped_;
    }
    // Under the lock: new buffers; frames of the old ones no longer count.
    void Reset(int32_t buffers, wgc::SizeInt32 size) {
        ++generation_;
        size_ = size;
        busy_.assign(static_cast<size_t>(buffers), false);
        textures_.assign(static_cast<size_t>(buffers), nullptr);
        ready_.clear();
    }

    std::mutex lock_;
    ComPtr<ID3D11Device> device_;
    uint64_t generation_ = 0;
    wgc::SizeInt32 size_{};
    std::vector<bool> busy_;  // a buffer holds a frame waiting or not yet closed
    std::vector<ComPtr<ID3D11Texture2D>> textures_;
    std::deque<Ready> ready_;
    ComPtr<wgc::IFrameArrivedHandler> handler_;
    bool closed_ = false;
    bool stopped_ = false;
};

Frame::Frame(Pool* pool, uint64_t generation, size_t slot, ID3D11Texture2D* texture, wgc::SizeInt32 size)
    : pool_(pool), generation_(generation), slot_(slot), texture_(texture), size_(size) {}

HRESULT Frame::Close() {
    if (!closed_.exchange(true)) {
        pool_->GiveBack(generation_, slot_);
        texture_.Reset();
    }
    return S_OK;
}

Session::Session(Pool* pool) : pool_(pool) {}

HRESULT Session::StartCapture() {
    if (started_) return static_cast<HRESULT>(0x8000000E);  // E_ILLEGAL_METHOD_CALL
    started_ = true;
    pool_->Start();
    return S_OK;
}

HRESULT Session::Close() {
    pool_->StopProducing();
    return S_OK;
}

class Item final : public FakeInspectable<wgc::IGraphicsCaptureItem, wgc::IGraphicsCaptureItem> {
public:
    explicit Item(wgc::SizeInt32 size) : size_(size) {}

    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Size(wgc::SizeInt32* value) override {
        *value = size_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_Closed(wgc::IItemClosedHandler* handler, wgc::EventRegistrationToken* token) override {
        if (handler == nullptr) return E_INVALIDARG;
        Registered(handler);
        std::lock_guard<std::mutex> lock(lock_);
        token->value = ++lastToken_;
        handlers_[token->value] = handler;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE remove_Closed(wgc::EventRegistrationToken token) override {
        std::lock_guard<std::mutex> lock(lock_);
        handlers_.erase(token.value);
        return S_OK;
    }
    void RaiseClosed() {
        std::vector<ComPtr<wgc::IItemClosedHandler>> handlers;
        {
            std::lock_guard<std::mutex> lock(lock_);
            for (const auto& entry : handlers_) handlers.push_back(entry.second);
        }
        for (const auto& handler : handlers) handler->Invoke(this, nullptr);
    }

private:
    wgc::SizeInt32 size_;
    std::mutex lock_;
    int64_t lastToken_ = 0;
    std::map<int64_t, ComPtr<wgc::IItemClosedHandler>> handlers_;
};

std::mutex itemsLock;
ComPtr<Pool> lastPool;
ComPtr<Item> lastItem;

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
        if (FAILED(current->capture.createForWindow)) return current->capture.createForWindow;
        return Made(iid, result);
    }
    HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR, REFIID iid, void** result) override {
        if (FAILED(current->capture.createForMonitor)) return current->capture.createForMonitor;
        return Made(iid, result);
    }

private:
    static HRESULT Made(REFIID iid, void** result) {
        ComPtr<Item> item = Adopt(new Item(current->capture.itemSize));
        {
            std::lock_guard<std::mutex> lock(itemsLock);
            lastItem = item;
        }
        return item->QueryInterface(iid, result);
    }
};

class PoolStatics final
    : public FakeInspectable<wgc::IDirect3D11CaptureFramePoolStatics2, wgc::IDirect3D11CaptureFramePoolStatics2> {
public:
    HRESULT STDMETHODCALLTYPE CreateFreeThreaded(wgc::IDirect3DDevice* device, wgc::DirectXPixelFormat, int32_t buffers,
                                                 wgc::SizeInt32 size, wgc::IDirect3D11CaptureFramePool** result) override {
        if (device == nullptr || buffers <= 0 || !UsableSize(size)) return E_INVALIDARG;
        ComPtr<wgc::IDirect3DDxgiInterfaceAccess> access;
        ComPtr<ID3D11Device> d3d;
        HRESULT hr = device->QueryInterface(IID_PPV_ARGS(&access));
        if (SUCCEEDED(hr)) hr = access->GetInterface(IID_PPV_ARGS(&d3d));
        if (FAILED(hr)) return hr;
        ComPtr<Pool> pool = Adopt(new Pool(d3d.Get(), buffers, size));
        {
            std::lock_guard<std::mutex> lock(itemsLock);
            lastPool = pool;
        }
        *result = pool.Detach();
        return S_OK;
    }
};

std::atomic<int> borderlessRequests{0};

// The answer to a request for borderless capture comes later, from the
// system's own thread, as a desktop program's does.
class AsyncInfo final : public FakeInspectable<wgc::IAsyncInfo, wgc::IAsyncInfo> {
public:
    HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) override {
        *id = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Status(int32_t* status) override {
        *status = status_.load();
        if (*status == 0) See([](Seen& seen) { ++seen.borderlessPolls; });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override {
        *code = S_OK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
    std::atomic<int32_t> status_{0};  // started
};

class AccessStatics final
    : public FakeInspectable<wgc::IGraphicsCaptureAccessStatics, wgc::IGraphicsCaptureAccessStatics> {
public:
    HRESULT STDMETHODCALLTYPE RequestAccessAsync(wgc::GraphicsCaptureAccessKind kind, IInspectable** operation) override {
        if (kind != wgc::GraphicsCaptureAccessKind_Borderless) return E_INVALIDARG;
        ++borderlessRequests;
        ComPtr<AsyncInfo> info = Adopt(new AsyncInfo);
        Detach([info] {
            Sleep(300);
            info->status_ = 1;  // completed
        });
        *operation = static_cast<wgc::IAsyncInfo*>(info.Detach());
        return S_OK;
    }
};

HRESULT FakeActivationFactory(const wchar_t* className, REFIID iid, void** factory) {
    // Made once and kept, as the system's are; they do not count as alive.
    static IUnknown* const session = static_cast<wgc::IGraphicsCaptureSessionStatics*>(new SessionStatics);
    static IUnknown* const interop = static_cast<wgc::IGraphicsCaptureItemInterop*>(new ItemInterop);
    static IUnknown* const pools = static_cast<wgc::IDirect3D11CaptureFramePoolStatics2*>(new PoolStatics);
    static IUnknown* const access = static_cast<wgc::IGraphicsCaptureAccessStatics*>(new AccessStatics);
    static const bool uncounted = [] {
        liveObjects -= 4;
        return true;
    }();
    (void)uncounted;
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
std::mutex keptLock;
std::vector<ComPtr<IUnknown>> keptFiles;  // file streams a failed writer holds on to

thread_local bool insideWriter = false;  // the sink writer reading a sample's buffer

class MemoryBuffer final : public FakeUnknown<IMFMediaBuffer, IMFMediaBuffer> {
public:
    explicit MemoryBuffer(DWORD length) : data_(length) {}
    HRESULT STDMETHODCALLTYPE Lock(BYTE** data, DWORD* max, DWORD* length) override {
        if (data == nullptr) return E_POINTER;
        ++locks_;
        if (!insideWriter) See([](Seen& seen) { ++seen.bufferLocks; });
        *data = data_.data();
        if (max != nullptr) *max = static_cast<DWORD>(data_.size());
        if (length != nullptr) *length = length_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override {
        if (locks_ == 0) return E_INVALIDARG;
        --locks_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* length) override {
        *length = length_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD length) override {
        if (length > data_.size()) return E_INVALIDARG;
        length_ = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* max) override {
        *max = static_cast<DWORD>(data_.size());
        return S_OK;
    }

private:
    std::vector<BYTE> data_;
    DWORD length_ = 0;
    int locks_ = 0;
};

// The sink writer's documented call order: streams and their types, then
// BeginWriting, then samples, then Finalize once; anything out of that
// order is MF_E_INVALIDREQUEST. Once it has failed it stays failed.
class SinkWriter final : public FakeUnknown<StubMFSinkWriter, IMFSinkWriter> {
public:
    SinkWriter(int number, IMFByteStream* file, IMFAttributes* attributes) : number_(number), file_(file) {
        WriterRecord record;
        if (attributes != nullptr) {
            attributes->GetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, &record.hardwareTransforms);
            attributes->GetGUID(MF_TRANSCODE_CONTAINERTYPE, &record.container);
            attributes->GetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, &record.throttlingDisabled);
        }
        See([&](Seen& seen) { seen.writers.push_back(record); });
    }
    HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* type, DWORD* index) override {
        if (state_ != State::Configuring) return MF_E_INVALIDREQUEST;
        if (type == nullptr || index == nullptr) return E_POINTER;
        if (const HRESULT hr = Call("AddStream"); FAILED(hr)) return hr;
        GUID subtype{};
        type->GetGUID(MF_MT_SUBTYPE, &subtype);
        const DWORD stream = streams_;
        Record([&](WriterRecord& r) {
            r.outputSubtypes.push_back(subtype);
            if (stream == 0) ReadColour(type, r);
        });
        *index = streams_++;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD stream, IMFMediaType* type, IMFAttributes*) override {
        if (state_ == State::Finalized) return MF_E_INVALIDREQUEST;
        if (stream >= streams_) return MF_E_INVALIDSTREAMNUMBER;
        if (const HRESULT hr = Call("SetInputMediaType"); FAILED(hr)) return hr;
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
    HRESULT STDMETHODCALLTYPE BeginWriting() override {
        if (state_ != State::Configuring || streams_ == 0) return MF_E_INVALIDREQUEST;
        if (const HRESULT hr = Call("BeginWriting"); FAILED(hr)) return hr;
        state_ = State::Writing;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD stream, IMFSample* sample) override {
        if (state_ != State::Writing) return MF_E_INVALIDREQUEST;
        if (stream >= streams_) return MF_E_INVALIDSTREAMNUMBER;
        if (sample == nullptr) return E_POINTER;
        if (const HRESULT hr = Call("WriteSample:" + std::to_string(stream)); FAILED(hr)) return hr;
        SampleRecord record;
        record.stream = stream;
        sample->GetSampleTime(&record.time);
        sample->GetSampleDuration(&record.duration);
        ComPtr<IMFMediaBuffer> buffer;
        BYTE* data = nullptr;
        DWORD length = 0;
        insideWriter = true;
        const bool readable = SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) &&
                              SUCCEEDED(buffer->Lock(&data, nullptr, &length));
        insideWriter = false;
        if (readable) {
            if (received_[stream & 1] < 3) record.bytes.assign(reinterpret_cast<const char*>(data), length);
            if (stream == 1) {
                int peak = 0;
                for (DWORD i = 0; i + 1 < length; i += 4) {
                    int16_t left = 0;
                    std::memcpy(&left, data + i, 2);
                    peak = std::max(peak, std::abs(static_cast<int>(left)));
                }
                record.level = static_cast<float>(peak) / 32767.0f;
            }
            buffer->Unlock();
        }
        ++received_[stream & 1];
        Record([&](WriterRecord& r) { r.samples.push_back(std::move(record)); });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Finalize() override {
        if (state_ != State::Writing) return MF_E_INVALIDREQUEST;
        state_ = State::Finalized;
        if (const HRESULT hr = Call("Finalize"); FAILED(hr)) return hr;
        // The file's sink refuses to finish a stream that never got a sample.
        for (DWORD stream = 0; stream < streams_; ++stream)
            if (received_[stream & 1] == 0) return MF_E_SINK_NO_SAMPLES_PROCESSED;
        Record([](WriterRecord& r) { r.finalized = true; });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStatistics(DWORD stream, MF_SINK_WRITER_STATISTICS* statistics) override {
        if (statistics == nullptr || statistics->cb != sizeof *statistics) return E_INVALIDARG;
        if (stream >= streams_) return MF_E_INVALIDSTREAMNUMBER;
        statistics->qwNumSamplesReceived = received_[stream & 1];
        statistics->qwNumSamplesEncoded = current->media.encoderStalls ? 0 : received_[stream & 1];
        return S_OK;
    }

private:
    enum class State { Configuring, Writing, Finalized };

    static void ReadColour(IMFMediaType* type, WriterRecord& r) {
        type->GetUINT32(MF_MT_YUV_MATRIX, &r.matrix);
        type->GetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, &r.range);
        type->GetUINT32(MF_MT_VIDEO_PRIMARIES, &r.primaries);
        type->GetUINT32(MF_MT_TRANSFER_FUNCTION, &r.transfer);
    }

    HRESULT Call(const std::string& call) {
        if (FAILED(error_)) return error_;
        if (lateCalls_ > 0 && (call.rfind("WriteSample", 0) == 0 || call == "Finalize") && --lateCalls_ == 0) {
            error_ = lateError_;
            return error_;
        }
        const int nth = ++calls_[call];
        for (const WriterFailure& failure : current->media.failures) {
            if (failure.writer != number_ || failure.call != call || failure.nth != nth) continue;
            if (current->media.failedWriterKeepsFile && file_) {
                std::lock_guard<std::mutex> lock(keptLock);
                keptFiles.push_back(file_);
            }
            if (failure.late > 0) {
                lateError_ = failure.result;
                lateCalls_ = failure.late;
                return S_OK;
            }
            error_ = failure.result;
            return error_;
        }
        return S_OK;
    }
    template <typename Change>
    void Record(Change change) {
        See([&](Seen& seen) { change(seen.writers[static_cast<size_t>(number_ - 1)]); });
    }

    int number_;
    ComPtr<IMFByteStream> file_;
    State state_ = State::Configuring;
    DWORD streams_ = 0;
    uint64_t received_[2] = {0, 0};
    std::map<std::string, int> calls_;
    HRESULT error_ = S_OK;
    HRESULT lateError_ = S_OK;
    int lateCalls_ = 0;
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
    See([](Seen& seen) { ++seen.buffersMade; });
    *buffer = new MemoryBuffer(length);
    return S_OK;
}

// The system's sample, counted while it lives.
HRESULT WINAPI FakeCreateSample(IMFSample** sample) {
    const HRESULT hr = realMedia.createSample(sample);
    if (FAILED(hr)) return hr;
    ComPtr<IUnknown> tracker;
    tracker = Adopt(static_cast<IUnknown*>(new Tracker));
    (*sample)->SetUnknown(kTrackerKey, tracker.Get());
    return S_OK;
}

// ---- Direct3D 11 video processor ----

std::atomic<bool> deviceRemoved{false};
std::mutex videoLock;
std::map<std::string, int> videoUses;
std::map<ID3D11Resource*, HRESULT> copyFailures;  // a copy that failed shows when its texture is read
std::map<ID3D11Resource*, int> copiedAtBlt;       // the Blt count when a texture was last copied into

// The answer of a video call: DXGI_ERROR_DEVICE_REMOVED once the device is
// gone, the scripted failure when this use is one, else S_OK.
HRESULT VideoCall(const std::string& name) {
    if (deviceRemoved) {
        ++current->seen.videoCallsAfterRemoval;
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    int use = 0;
    {
        std::lock_guard<std::mutex> lock(videoLock);
        use = ++videoUses[name];
    }
    const auto found = current->video.failures.find(name);
    if (found == current->video.failures.end() || !found->second.Hits(use)) return S_OK;
    if (found->second.result == DXGI_ERROR_DEVICE_REMOVED) deviceRemoved = true;
    return found->second.result;
}

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
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorEnumerator(const D3D11_VIDEO_PROCESSOR_CONTENT_DESC* description,
                                                             ID3D11VideoProcessorEnumerator** result) override {
        if (description == nullptr || result == nullptr) return E_POINTER;
        if (const HRESULT hr = VideoCall("CreateVideoProcessorEnumerator"); FAILED(hr)) return hr;
        *result = new Enumerator;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessor(ID3D11VideoProcessorEnumerator* enumerator, UINT,
                                                   ID3D11VideoProcessor** result) override {
        if (enumerator == nullptr) return E_INVALIDARG;
        if (const HRESULT hr = VideoCall("CreateVideoProcessor"); FAILED(hr)) return hr;
        *result = new Processor;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorInputView(ID3D11Resource* resource, ID3D11VideoProcessorEnumerator*,
                                                            const D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC*,
                                                            ID3D11VideoProcessorInputView** result) override {
        if (resource == nullptr) return E_INVALIDARG;
        if (const HRESULT hr = VideoCall("CreateVideoProcessorInputView"); FAILED(hr)) return hr;
        *result = new InputView(resource);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorOutputView(ID3D11Resource* resource, ID3D11VideoProcessorEnumerator*,
                                                             const D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC*,
                                                             ID3D11VideoProcessorOutputView** result) override {
        if (resource == nullptr) return E_INVALIDARG;
        if (const HRESULT hr = VideoCall("CreateVideoProcessorOutputView"); FAILED(hr)) return hr;
        *result = new OutputView(resource);
        return S_OK;
    }
};

class VideoContext final : public FakeUnknown<StubD3D11VideoContext, ID3D11VideoContext> {
public:
    explicit VideoContext(ID3D11DeviceContext* context) : context_(context) {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamAutoProcessingMode(ID3D11VideoProcessor*, UINT,
                                                                     WINBOOL enable) override {
        if (!enable) See([](Seen& seen) { ++seen.autoProcessingOff; });
    }
    void STDMETHODCALLTYPE VideoProcessorSetStreamSourceRect(ID3D11VideoProcessor*, UINT, WINBOOL enable,
                                                             const RECT* rect) override {
        sourceRect_ = enable && rect != nullptr ? *rect : RECT{};
    }
    // Draws a known pattern into the NV12 output, so the tests can follow it to the encoder.
    HRESULT STDMETHODCALLTYPE VideoProcessorBlt(ID3D11VideoProcessor* processor, ID3D11VideoProcessorOutputView* view,
                                                UINT, UINT count, const D3D11_VIDEO_PROCESSOR_STREAM* streams) override {
        if (processor == nullptr || view == nullptr || count != 1 || streams == nullptr ||
            streams[0].pInputSurface == nullptr)
            return E_INVALIDARG;
        if (const HRESULT hr = VideoCall("VideoProcessorBlt"); FAILED(hr)) return hr;
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
        const RECT rect = sourceRect_;
        See([&](Seen& seen) {
            ++seen.blts;
            seen.bltSourceRects.push_back(rect);
        });
        return S_OK;
    }

private:
    ComPtr<ID3D11DeviceContext> context_;
    RECT sourceRect_{};
};

HRESULT FakeVideoInterfaces(ID3D11Device*, ID3D11DeviceContext* context, ID3D11VideoDevice** videoDevice,
                            ID3D11VideoContext** videoContext) {
    if (deviceRemoved) return DXGI_ERROR_DEVICE_REMOVED;
    *videoDevice = new VideoDevice;
    *videoContext = new VideoContext(context);
    return S_OK;
}

// Wine has no NV12 textures; one byte per texel, half as many rows again,
// has the same layout when mapped.
HRESULT FakeCreateTexture(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* description, ID3D11Texture2D** texture) {
    if (deviceRemoved) return DXGI_ERROR_DEVICE_REMOVED;
    D3D11_TEXTURE2D_DESC changed = *description;
    if (changed.Format == DXGI_FORMAT_NV12) {
        changed.Format = DXGI_FORMAT_R8_UNORM;
        changed.Height = changed.Height * 3 / 2;
    }
    const HRESULT hr = device->CreateTexture2D(&changed, nullptr, texture);
    if (SUCCEEDED(hr)) TrackTexture(*texture);
    return hr;
}

int CurrentBlts() {
    std::lock_guard<std::mutex> lock(current->seen.lock);
    return current->seen.blts;
}

// CopyResource returns nothing: a copy that fails shows when its texture is
// read, and a removed device shows everywhere.
void FakeCopyResource(ID3D11DeviceContext* context, ID3D11Resource* destination, ID3D11Resource* source) {
    See([](Seen& seen) { ++seen.copies; });
    const HRESULT hr = VideoCall("CopyResource");
    std::lock_guard<std::mutex> lock(videoLock);
    if (FAILED(hr)) {
        copyFailures[destination] = hr;
        return;
    }
    copyFailures.erase(destination);
    copiedAtBlt[destination] = CurrentBlts();
    context->CopyResource(destination, source);
}

HRESULT FakeMap(ID3D11DeviceContext* context, ID3D11Resource* resource, UINT subresource, D3D11_MAP type, UINT flags,
                D3D11_MAPPED_SUBRESOURCE* mapped) {
    See([](Seen& seen) { ++seen.maps; });
    if (const HRESULT hr = VideoCall("Map"); FAILED(hr)) return hr;
    {
        std::lock_guard<std::mutex> lock(videoLock);
        const auto failed = copyFailures.find(resource);
        if (failed != copyFailures.end()) return failed->second;
        const auto copied = copiedAtBlt.find(resource);
        if (copied != copiedAtBlt.end() && copied->second == CurrentBlts())
            See([](Seen& seen) { ++seen.mapsWaitingOnCopy; });
    }
    return context->Map(resource, subresource, type, flags, mapped);
}

void FakeUnmap(ID3D11DeviceContext* context, ID3D11Resource* resource, UINT subresource) {
    context->Unmap(resource, subresource);
}

// ---- Windows Core Audio ----

constexpr REFERENCE_TIME kPacket = 100000;  // 10 ms
constexpr UINT32 kPacketFrames = 480;       // at 48 kHz
constexpr REFERENCE_TIME kStreamBuffer = 2000000;

int64_t NowHundredNs() {
    LARGE_INTEGER counter{}, frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<int64_t>(static_cast<double>(counter.QuadPart) * 1e7 / static_cast<double>(frequency.QuadPart));
}

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT.
constexpr GUID kFloatFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

WAVEFORMATEXTENSIBLE MixFormat(int channels) {
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = static_cast<WORD>(channels);
    format.Format.nSamplesPerSec = 48000;
    format.Format.wBitsPerSample = 32;
    format.Format.nBlockAlign = static_cast<WORD>(channels * 4);
    format.Format.nAvgBytesPerSec = 48000u * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = channels == 6 ? 0x3F : 0x3;  // 5.1 (FL FR FC LFE BL BR), or FL FR
    format.SubFormat = kFloatFormat;
    return format;
}

// A look at an endpoint's script under the audio lock.
struct EndpointView {
    bool exists = false;
    Endpoint endpoint;
    int epoch = 0;
};
std::map<std::wstring, int> epochs;  // raised whenever an endpoint is unplugged

EndpointView Look(const std::wstring& id) {
    EndpointView view;
    if (current == nullptr) return view;
    std::lock_guard<std::recursive_mutex> lock(current->audioLock);
    const auto found = current->audio.devices.find(id);
    if (found == current->audio.devices.end()) return view;
    view.exists = true;
    view.endpoint = found->second;
    view.epoch = epochs[id];
    return view;
}

// A stream dies when its endpoint is unplugged; it never comes back.
struct StreamLife {
    std::wstring id;
    int epoch = 0;
    bool Alive() const {
        const EndpointView view = Look(id);
        return view.exists && view.epoch == epoch && view.endpoint.state == DEVICE_STATE_ACTIVE;
    }
};

// Captured sound in 10 ms packets, stamped on the performance counter, that
// arrive as time passes; a stream not read for longer than its buffer loses
// the oldest.
class CaptureClient final : public FakeUnknown<StubAudioCaptureClient, IAudioCaptureClient> {
public:
    CaptureClient(StreamLife life, int channels, float level, int64_t started)
        : life_(std::move(life)), channels_(channels), level_(level), started_(started),
          data_(static_cast<size_t>(kPacketFrames) * static_cast<size_t>(channels)) {
        for (size_t frame = 0; frame < kPacketFrames; ++frame) {
            // Stereo on both sides; 5.1 in its centre channel only.
            if (channels_ == 6) data_[frame * 6 + 2] = level_;
            else
                for (int c = 0; c < channels_; ++c) data_[frame * static_cast<size_t>(channels_) + static_cast<size_t>(c)] = level_;
        }
    }
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        if (frames == nullptr) return E_POINTER;
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        *frames = Waiting() > 0 ? kPacketFrames : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                        UINT64* qpcPosition) override {
        if (data == nullptr || frames == nullptr || flags == nullptr) return E_POINTER;
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (out_) return AUDCLNT_E_OUT_OF_ORDER;
        *data = nullptr;
        *frames = 0;
        *flags = 0;
        const int64_t waiting = Waiting();
        if (waiting == 0) return AUDCLNT_S_BUFFER_EMPTY;
        // Older packets than the stream's buffer holds are gone.
        const int64_t keep = kStreamBuffer / kPacket;
        if (waiting > keep) {
            next_ += waiting - keep;
            *flags |= AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY;
        }
        *data = reinterpret_cast<BYTE*>(data_.data());
        *frames = kPacketFrames;
        if (devicePosition != nullptr) *devicePosition = static_cast<UINT64>(next_) * kPacketFrames;
        if (qpcPosition != nullptr) *qpcPosition = static_cast<UINT64>(started_ + next_ * kPacket);
        out_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (!out_) return AUDCLNT_E_OUT_OF_ORDER;
        if (frames != 0 && frames != kPacketFrames) return AUDCLNT_E_INVALID_SIZE;
        out_ = false;
        if (frames != 0) ++next_;
        return S_OK;
    }
    int64_t Waiting() const {
        const int64_t due = (NowHundredNs() - started_) / kPacket;  // packets whole by now
        return due > next_ ? due - next_ : 0;
    }

private:
    StreamLife life_;
    int channels_;
    float level_;
    int64_t started_;
    std::vector<float> data_;
    int64_t next_ = 0;
    bool out_ = false;
};

class AudioClient final : public FakeUnknown<StubAudioClient, IAudioClient> {
public:
    explicit AudioClient(StreamLife life) : life_(std::move(life)) {}
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        if (format == nullptr) return E_POINTER;
        const EndpointView view = Look(life_.id);
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        auto* made = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
        if (made == nullptr) return E_OUTOFMEMORY;
        *made = MixFormat(view.endpoint.channels);
        *format = &made->Format;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME, REFERENCE_TIME,
                                         const WAVEFORMATEX* format, LPCGUID) override {
        if (format == nullptr) return E_POINTER;
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (initialized_) return AUDCLNT_E_ALREADY_INITIALIZED;
        const EndpointView view = Look(life_.id);
        See([&](Seen& seen) { seen.streamFlags.push_back(flags); });
        loopback_ = (flags & AUDCLNT_STREAMFLAGS_LOOPBACK) != 0;
        // Loopback records what a render endpoint plays; a capture endpoint has none.
        if (loopback_ && view.endpoint.flow != eRender) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        if (FAILED(view.endpoint.initialize)) return view.endpoint.initialize;
        const WAVEFORMATEXTENSIBLE mix = MixFormat(view.endpoint.channels);
        if (mode != AUDCLNT_SHAREMODE_SHARED || format->cbSize < 22 ||
            std::memcmp(format, &mix, sizeof mix) != 0)
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        channels_ = view.endpoint.channels;
        level_ = view.endpoint.level;
        initialized_ = true;
        renderOnly_ = view.endpoint.flow == eRender && !loopback_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** service) override {
        if (service == nullptr) return E_POINTER;
        *service = nullptr;
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (iid != __uuidof(IAudioCaptureClient)) return E_NOINTERFACE;
        if (renderOnly_) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        if (!capture_) capture_ = Adopt(new CaptureClient(life_, channels_, level_, NowHundredNs()));
        *service = static_cast<IAudioCaptureClient*>(capture_.Get());
        capture_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override {
        if (frames == nullptr) return E_POINTER;
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        *frames = capture_ ? static_cast<UINT32>(capture_->Waiting()) * kPacketFrames : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start() override {
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (started_) return AUDCLNT_E_NOT_STOPPED;
        started_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (!life_.Alive()) return AUDCLNT_E_DEVICE_INVALIDATED;
        const bool was = started_;
        started_ = false;
        return was ? S_OK : S_FALSE;
    }

private:
    StreamLife life_;
    bool initialized_ = false;
    bool started_ = false;
    bool loopback_ = false;
    bool renderOnly_ = false;
    int channels_ = 2;
    float level_ = 0;
    ComPtr<CaptureClient> capture_;
};

class AudioEndpoint final : public FakeUnknown<StubMMDevice, IMMDevice> {
public:
    explicit AudioEndpoint(std::wstring id) : id_(std::move(id)) {}
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        if (object == nullptr) return E_POINTER;
        const EndpointView view = Look(id_);
        if (!view.exists || view.endpoint.state != DEVICE_STATE_ACTIVE) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (FAILED(view.endpoint.activate)) return view.endpoint.activate;
        if (iid != __uuidof(IAudioClient)) return E_NOINTERFACE;
        See([&](Seen& seen) { seen.activatedEndpoints.push_back(id_); });
        *object = static_cast<IAudioClient*>(new AudioClient(StreamLife{id_, view.epoch}));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
        if (id == nullptr) return E_POINTER;
        const size_t bytes = (id_.size() + 1) * sizeof(wchar_t);
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (*id == nullptr) return E_OUTOFMEMORY;
        std::memcpy(*id, id_.c_str(), bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        if (state == nullptr) return E_POINTER;
        const EndpointView view = Look(id_);
        *state = view.exists ? view.endpoint.state : DEVICE_STATE_NOTPRESENT;
        return S_OK;
    }

private:
    std::wstring id_;
};

std::mutex clientsLock;
std::vector<ComPtr<IMMNotificationClient>> notificationClients;

class DeviceEnumerator final : public FakeUnknown<StubMMDeviceEnumerator, IMMDeviceEnumerator> {
public:
    // Windows still finds an unplugged endpoint by its id.
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
        if (id == nullptr || device == nullptr) return E_POINTER;
        if (!Look(id).exists) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        *device = new AudioEndpoint(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device) override {
        if (device == nullptr) return E_POINTER;
        *device = nullptr;
        if (flow != eRender && flow != eCapture) return E_INVALIDARG;
        std::wstring id;
        {
            std::lock_guard<std::recursive_mutex> lock(current->audioLock);
            id = flow == eRender ? current->audio.defaultRender : current->audio.defaultCapture;
        }
        if (id.empty()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        return GetDevice(id.c_str(), device);
    }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (client == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> lock(clientsLock);
        notificationClients.emplace_back(client);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        std::lock_guard<std::mutex> lock(clientsLock);
        const auto found = std::find_if(notificationClients.begin(), notificationClients.end(),
                                        [&](const ComPtr<IMMNotificationClient>& c) { return c.Get() == client; });
        if (found == notificationClients.end()) return E_INVALIDARG;
        notificationClients.erase(found);
        return S_OK;
    }
};

HRESULT FakeCreateEnumerator(IMMDeviceEnumerator** enumerator) {
    *enumerator = new DeviceEnumerator;
    return S_OK;
}

}  // namespace

// The tables and the platform in force when a FakePlatform took over.
struct FakePlatform::Previous {
    CapturePlatform capture = CaptureFunctions();
    MediaFoundation media = MediaFunctions();
    VideoPlatform video = VideoFunctions();
    AudioPlatform audio = AudioFunctions();
    PowerPlatform power = PowerFunctions();
    InputPlatform input = InputFunctions();
    FakePlatform* platform = current;
};

int WriterRecord::VideoSamples() const {
    int count = 0;
    for (const SampleRecord& sample : samples) count += sample.stream == 0 ? 1 : 0;
    return count;
}

int FakePlatform::NewestWriterPictures() {
    std::lock_guard<std::mutex> hold(seen.lock);
    return seen.writers.empty() ? 0 : seen.writers.back().VideoSamples();
}

int FakePlatform::SoundSamplesAt(float level) {
    std::lock_guard<std::mutex> hold(seen.lock);
    int count = 0;
    if (!seen.writers.empty())
        for (const SampleRecord& sample : seen.writers.back().samples)
            count += sample.stream == 1 && std::fabs(sample.level - level) < 0.01f ? 1 : 0;
    return count;
}

FakePlatform* Current() { return current; }

int LiveObjects() { return liveObjects.load(); }

int BorderlessRequests() { return borderlessRequests.load(); }


// What an earlier platform's fakes still hold goes before this one counts,
// and so does the process's shared device, wrapped by an earlier fake.
int LetGoOfKept() {
    ReleaseSharedD3D();
    std::lock_guard<std::mutex> lock(itemsLock);
    lastPool.Reset();
    lastItem.Reset();
    return LiveObjects();
}

FakePlatform::FakePlatform() : previous_(new Previous), aliveBefore_(LetGoOfKept()) {
    // The system's table, as it was before any fake platform.
    static const MediaFoundation original = MediaFunctions();
    realMedia = original;
    // Media types and samples are the system's own; they work without a system encoder.
    static const bool started = realMedia.startup != nullptr && SUCCEEDED(realMedia.startup(MF_VERSION, MFSTARTUP_FULL));
    (void)started;
    writersMade = 0;
    buffersMade = 0;
    deviceRemoved = false;
    {
        std::lock_guard<std::mutex> lock(videoLock);
        videoUses.clear();
        copyFailures.clear();
        copiedAtBlt.clear();
    }
    current = this;
    CaptureFunctions() = CapturePlatform{FakeActivationFactory, FakeCreateDevice};
    MediaFunctions().createFile = FakeCreateFile;
    MediaFunctions().createSinkWriterFromURL = FakeCreateSinkWriter;
    MediaFunctions().createMemoryBuffer = FakeCreateMemoryBuffer;
    MediaFunctions().createSample = FakeCreateSample;
    VideoFunctions() = VideoPlatform{FakeVideoInterfaces, FakeCreateTexture, FakeCopyResource, FakeMap, FakeUnmap};
    AudioFunctions() = AudioPlatform{FakeCreateEnumerator};
    PowerFunctions().setThreadExecutionState = [](EXECUTION_STATE flags) -> EXECUTION_STATE {
        std::lock_guard<std::mutex> hold(current->seen.lock);
        current->seen.executionStates.push_back(flags);
        return ES_CONTINUOUS;
    };
    // As the system: only low-level hooks for the whole desktop, with a procedure.
    InputFunctions().setWindowsHookEx = [](int kind, HOOKPROC proc, HINSTANCE, DWORD thread) -> HHOOK {
        std::lock_guard<std::mutex> hold(current->seen.lock);
        if ((kind != WH_MOUSE_LL && kind != WH_KEYBOARD_LL) || proc == nullptr || thread != 0 ||
            kind == current->seen.refusedHook) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        const auto hook = reinterpret_cast<HHOOK>(static_cast<uintptr_t>(0x4000 + ++current->seen.hooksSet));
        current->seen.hooksIn[hook] = kind;
        return hook;
    };
    InputFunctions().unhookWindowsHookEx = [](HHOOK hook) -> BOOL {
        std::lock_guard<std::mutex> hold(current->seen.lock);
        if (current->seen.hooksIn.erase(hook) == 0) {
            ++current->seen.strayUnhooks;
            SetLastError(ERROR_INVALID_HOOK_HANDLE);
            return FALSE;
        }
        return TRUE;
    };
}

FakePlatform::~FakePlatform() {
    Quiesce();
    // A stop waits for nothing the fakes still run; what they hold is theirs.
    LetGoOfKept();
    {
        std::lock_guard<std::mutex> lock(keptLock);
        keptFiles.clear();
    }
    {
        std::lock_guard<std::mutex> lock(handlersLock);
        int leaked = 0;
        for (const ComPtr<IUnknown>& handler : handlersSeen) {
            handler->AddRef();
            leaked += handler->Release() > 1 ? 1 : 0;
        }
        CHECK_MESSAGE(leaked == 0, leaked << " event handlers of the capture are still held after it ended");
        handlersSeen.clear();
    }
    {
        std::lock_guard<std::mutex> lock(clientsLock);
        notificationClients.clear();
    }
    // Frames not closed, textures, samples, buffers, streams or clients not
    // released: each is a leak per frame, per recording or per device.
    CHECK_MESSAGE(LiveObjects() == aliveBefore_, "fake objects still alive: " << LiveObjects() - aliveBefore_
                                                  << ", of which textures and samples: " << trackersAlive.load());
    CaptureFunctions() = previous_->capture;
    MediaFunctions() = previous_->media;
    VideoFunctions() = previous_->video;
    AudioFunctions() = previous_->audio;
    PowerFunctions() = previous_->power;
    InputFunctions() = previous_->input;
    current = previous_->platform;
    delete previous_;
}

void FakePlatform::FireFrame() {
    ComPtr<Pool> pool;
    {
        std::lock_guard<std::mutex> lock(itemsLock);
        pool = lastPool;
    }
    if (pool) pool->FireAsync();
}

void FakePlatform::CloseCapturedItem() {
    ComPtr<Item> item;
    {
        std::lock_guard<std::mutex> lock(itemsLock);
        item = lastItem;
    }
    if (item) Detach([item] { item->RaiseClosed(); });
}

void FakePlatform::Unplug(const std::wstring& id) {
    std::lock_guard<std::recursive_mutex> lock(audioLock);
    audio.devices[id].state = DEVICE_STATE_UNPLUGGED;
    ++epochs[id];
    if (audio.defaultRender == id) audio.defaultRender.clear();
    if (audio.defaultCapture == id) audio.defaultCapture.clear();
}

void FakePlatform::Plug(const std::wstring& id) {
    std::lock_guard<std::recursive_mutex> lock(audioLock);
    audio.devices[id].state = DEVICE_STATE_ACTIVE;
}

void FakePlatform::SetDefault(EDataFlow flow, const std::wstring& id) {
    {
        std::lock_guard<std::recursive_mutex> lock(audioLock);
        (flow == eRender ? audio.defaultRender : audio.defaultCapture) = id;
    }
    std::vector<ComPtr<IMMNotificationClient>> clients;
    {
        std::lock_guard<std::mutex> lock(clientsLock);
        clients = notificationClients;
    }
    Detach([clients, flow, id] {
        for (const ERole role : {eConsole, eMultimedia, eCommunications})
            for (const auto& client : clients) client->OnDefaultDeviceChanged(flow, role, id.c_str());
    });
}

void FakePlatform::Quiesce() {
    for (int i = 0; i < 500 && runningThreads.load() != 0; ++i) Sleep(10);
}

}  // namespace fake
