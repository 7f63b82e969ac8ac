// The shipping frame source: Windows.Graphics.Capture on one monitor, with a
// free-threaded frame pool whose frames arrive on thread-pool threads.
#include "capture/capturer.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi.h>
#include <wrl/client.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "capture/capture_platform.h"
#include "capture/winrt_capture.h"
#include "common/com_adopt.h"
#include "storage/folders.h"

using Microsoft::WRL::ComPtr;
namespace wgc = ostrel::wgc;

namespace {

constexpr int32_t kPoolBuffers = 2;
constexpr wgc::DirectXPixelFormat kPoolFormat = wgc::DirectXPixelFormat_B8G8R8A8UIntNormalized;

// Casting through void(*)() keeps GCC's function-cast check quiet for
// pointers that GetProcAddress hands back untyped.
template <typename Function>
Function Lookup(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr) handle = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (handle == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

using CreateDeviceFunction = HRESULT(WINAPI*)(IDXGIDevice*, IInspectable**);
using GetFactoryFunction = HRESULT(WINAPI*)(HSTRING, REFIID, void**);
using StringReferenceFunction = HRESULT(WINAPI*)(PCWSTR, UINT32, HSTRING_HEADER*, HSTRING*);
using GetErrorInfoFunction = HRESULT(WINAPI*)(wgc::IRestrictedErrorInfo**);
using FreeStringFunction = void(WINAPI*)(BSTR);

// Everything the Windows Runtime side needs is found at run time, so the
// program still loads where these exports are missing (older systems, Wine).
struct RuntimeFunctions {
    CreateDeviceFunction createDevice = Lookup<CreateDeviceFunction>(L"d3d11.dll", "CreateDirect3D11DeviceFromDXGIDevice");
    GetFactoryFunction getFactory = Lookup<GetFactoryFunction>(L"combase.dll", "RoGetActivationFactory");
    StringReferenceFunction stringReference =
        Lookup<StringReferenceFunction>(L"combase.dll", "WindowsCreateStringReference");
    GetErrorInfoFunction getErrorInfo = Lookup<GetErrorInfoFunction>(L"combase.dll", "GetRestrictedErrorInfo");
    FreeStringFunction freeString = Lookup<FreeStringFunction>(L"oleaut32.dll", "SysFreeString");
};

const RuntimeFunctions& Runtime() {
    static const RuntimeFunctions functions;
    return functions;
}

HRESULT SystemActivationFactory(const wchar_t* className, REFIID iid, void** factory) {
    *factory = nullptr;
    const RuntimeFunctions& runtime = Runtime();
    if (runtime.getFactory == nullptr || runtime.stringReference == nullptr) {
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    HSTRING_HEADER header{};
    HSTRING name = nullptr;
    HRESULT hr = runtime.stringReference(className, static_cast<UINT32>(std::wcslen(className)), &header, &name);
    if (FAILED(hr)) return hr;
    return runtime.getFactory(name, iid, factory);
}

HRESULT SystemCreateDevice(IDXGIDevice* device, IInspectable** wrapper) {
    const CreateDeviceFunction create = Runtime().createDevice;
    if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return create(device, wrapper);
}

HRESULT ActivationFactory(const wchar_t* className, REFIID iid, void** factory) {
    *factory = nullptr;
    HRESULT hr = CaptureFunctions().activationFactory(className, iid, factory);
    if (SUCCEEDED(hr) && *factory == nullptr) hr = E_POINTER;
    return hr;
}

// Factories are agile and live for the whole process. They are deliberately
// never released: releasing at exit could run after COM has shut down.
struct FactoryCache {
    std::mutex lock;
    ComPtr<wgc::IGraphicsCaptureSessionStatics> sessionStatics;
    ComPtr<wgc::IGraphicsCaptureItemInterop> itemInterop;
    ComPtr<wgc::IDirect3D11CaptureFramePoolStatics2> poolStatics;
};

FactoryCache& Factories() {
    static FactoryCache* const cache = new FactoryCache;
    return *cache;
}

// A failed look-up is tried again next time, since it may have failed only
// for the calling thread (no COM apartment, for instance).
template <typename Interface>
HRESULT CachedFactory(ComPtr<Interface> FactoryCache::*slot, const wchar_t* className, ComPtr<Interface>& factory) {
    FactoryCache& cache = Factories();
    std::lock_guard<std::mutex> lock(cache.lock);
    ComPtr<Interface>& cached = cache.*slot;
    if (!cached) {
        const HRESULT hr = ActivationFactory(className, __uuidof(Interface),
                                             reinterpret_cast<void**>(cached.ReleaseAndGetAddressOf()));
        if (FAILED(hr)) {
            cached.Reset();
            return hr;
        }
    }
    factory = cached;
    return S_OK;
}

std::wstring TrimTrailingSpace(std::wstring text) {
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t' || text.back() == L'\r' ||
                             text.back() == L'\n')) {
        text.pop_back();
    }
    return text;
}

// Takes (and so clears) the error details the last failing Windows Runtime
// call left on this thread; empty when there are none for `hr`.
std::wstring RestrictedErrorText(HRESULT hr) {
    const RuntimeFunctions& runtime = Runtime();
    if (runtime.getErrorInfo == nullptr) return {};
    ComPtr<wgc::IRestrictedErrorInfo> info;
    if (runtime.getErrorInfo(&info) != S_OK || !info) return {};
    if (runtime.freeString == nullptr) return {};
    BSTR description = nullptr;
    BSTR restricted = nullptr;
    BSTR capability = nullptr;
    HRESULT code = S_OK;
    std::wstring text;
    if (SUCCEEDED(info->GetErrorDetails(&description, &code, &restricted, &capability)) && code == hr) {
        // The restricted text is the one the failing component wrote; the
        // plain one is usually the system sentence for the code.
        if (restricted != nullptr) text = TrimTrailingSpace(restricted);
        if (text.empty() && description != nullptr) text = TrimTrailingSpace(description);
    }
    runtime.freeString(description);
    runtime.freeString(restricted);
    runtime.freeString(capability);
    return text;
}

void DiscardRestrictedError() {
    const RuntimeFunctions& runtime = Runtime();
    if (runtime.getErrorInfo == nullptr) return;
    ComPtr<wgc::IRestrictedErrorInfo> info;
    (void)runtime.getErrorInfo(&info);
}

std::wstring SystemText(HRESULT hr) {
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    const DWORD length =
        FormatMessageW(flags, nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
    return TrimTrailingSpace(std::move(text));
}

// The sentence for a failed start: what Windows attached to the error, else
// the system's text for the code, else the code itself.
std::wstring FailureText(HRESULT hr) {
    std::wstring text = RestrictedErrorText(hr);
    if (text.empty()) text = SystemText(hr);
    if (text.empty()) text = ErrorText(static_cast<uint32_t>(hr));
    return text;
}

void CloseObject(IUnknown* object) {
    if (object == nullptr) return;
    ComPtr<wgc::IClosable> closable;
    if (SUCCEEDED(object->QueryInterface(__uuidof(wgc::IClosable), reinterpret_cast<void**>(closable.GetAddressOf())))) {
        (void)closable->Close();
    }
}

struct CaptureState : FrameStore {
    // Set once by Start before the handler is registered, then only read.
    ComPtr<wgc::IDirect3DDevice> runtimeDevice;
    ComPtr<wgc::IGraphicsCaptureItem> item;
    ComPtr<wgc::IDirect3D11CaptureFramePool> framePool;
    ComPtr<wgc::IGraphicsCaptureSession> captureSession;
    wgc::EventRegistrationToken frameArrivedToken{};
    bool handlerRegistered = false;
    wgc::EventRegistrationToken closedToken{};
    bool closedRegistered = false;
    std::atomic<bool> stopping{false};
    // Serialises frame handling, which owns poolSize once capture runs.
    std::mutex handlerLock;
    wgc::SizeInt32 poolSize{};
};

// Returns a frame to its pool when the handler is done with it.
class FrameCloser {
public:
    explicit FrameCloser(IUnknown* frame) : frame_(frame) {}
    FrameCloser(const FrameCloser&) = delete;
    FrameCloser& operator=(const FrameCloser&) = delete;
    ~FrameCloser() { CloseNow(); }
    void CloseNow() {
        CloseObject(frame_);
        frame_ = nullptr;
    }

private:
    IUnknown* frame_;
};

// An agile delegate holding the capture state weakly, so the source's
// reference to it never keeps a stopped capture alive.
template <typename Interface>
class StateHandler : public Interface {
public:
    explicit StateHandler(std::weak_ptr<CaptureState> state) : state_(std::move(state)) {}
    StateHandler(const StateHandler&) = delete;
    StateHandler& operator=(const StateHandler&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        // Agile, so the source calls it directly on whichever thread it uses.
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IAgileObject) || iid == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~StateHandler() = default;
    std::weak_ptr<CaptureState> state_;

private:
    std::atomic<ULONG> references_{1};
};

// The FrameArrived delegate. A call that is running holds the state for its
// duration, and Stop waits for such a call to end.
class FrameArrivedHandler final : public StateHandler<wgc::IFrameArrivedHandler> {
public:
    using StateHandler::StateHandler;

    HRESULT STDMETHODCALLTYPE Invoke(wgc::IDirect3D11CaptureFramePool* sender, IInspectable* /*args*/) override {
        const std::shared_ptr<CaptureState> state = state_.lock();
        if (!state || sender == nullptr || state->stopping.load()) return S_OK;
        std::lock_guard<std::mutex> lock(state->handlerLock);
        // Stop may have begun while this call waited for the lock.
        if (state->stopping.load()) return S_OK;

        // The sender is used rather than state->framePool, which Stop may be
        // releasing on another thread at this moment.
        ComPtr<wgc::IDirect3D11CaptureFrame> frame;
        HRESULT hr = sender->TryGetNextFrame(&frame);
        if (FAILED(hr)) return hr;
        if (!frame) return S_OK;
        FrameCloser closer(frame.Get());

        wgc::SizeInt32 size{};
        hr = frame->get_ContentSize(&size);
        if (FAILED(hr)) return hr;
        if (size.Width != state->poolSize.Width || size.Height != state->poolSize.Height) {
            // The monitor changed size: this frame is dropped and the pool's
            // buffers are remade to match, so later frames are whole.
            closer.CloseNow();
            if (size.Width <= 0 || size.Height <= 0) return S_OK;
            hr = sender->Recreate(state->runtimeDevice.Get(), kPoolFormat, kPoolBuffers, size);
            if (SUCCEEDED(hr)) {
                state->poolSize = size;
                state->failure = S_OK;
                return S_OK;
            }
            // No frame of the new size can come: the old one no longer shows
            // the screen, so none is offered, and the reason is kept.
            state->failure = hr;
            state->Clear();
            return hr;
        }

        ComPtr<wgc::IDirect3DSurface> surface;
        hr = frame->get_Surface(&surface);
        if (FAILED(hr)) return hr;
        if (!surface) return E_POINTER;
        ComPtr<wgc::IDirect3DDxgiInterfaceAccess> access;
        hr = surface.As(&access);
        if (FAILED(hr)) return hr;
        ComPtr<ID3D11Texture2D> texture;
        hr = access->GetInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(texture.GetAddressOf()));
        if (FAILED(hr)) return hr;
        if (!texture) return E_POINTER;
        return state->StoreFrame(texture.Get(), size.Width, size.Height);
    }

};

// Marks the capture's source as gone when a captured window closes or the
// captured monitor is unplugged.
class ItemClosedHandler final : public StateHandler<wgc::IItemClosedHandler> {
public:
    using StateHandler::StateHandler;

    HRESULT STDMETHODCALLTYPE Invoke(wgc::IGraphicsCaptureItem*, IInspectable*) override {
        if (const std::shared_ptr<CaptureState> state = state_.lock()) {
            state->sourceClosed = true;
            SetEvent(state->frameEvent.Get());
        }
        return S_OK;
    }

};

// Windows 11 draws a border round a captured screen unless the program has
// borderless access. Asked once per process, and never waited for: the
// answer for a desktop program comes without a question to the user, and the
// operation goes on by itself once let go of. Until it is granted, and where
// it is refused (or Windows lacks the class), the border setting below is
// simply not honoured.
void RequestBorderlessAccessOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        ComPtr<wgc::IGraphicsCaptureAccessStatics> access;
        ComPtr<IInspectable> operation;
        if (FAILED(ActivationFactory(wgc::kGraphicsCaptureAccessClass, __uuidof(wgc::IGraphicsCaptureAccessStatics),
                                     reinterpret_cast<void**>(access.GetAddressOf()))) ||
            FAILED(access->RequestAccessAsync(wgc::GraphicsCaptureAccessKind_Borderless, &operation)))
            DiscardRestrictedError();
    });
}

}  // namespace

CapturePlatform& CaptureFunctions() {
    static CapturePlatform functions{SystemActivationFactory, SystemCreateDevice};
    return functions;
}

bool PrepareDeviceForCapture(D3D& d3d, std::wstring& problem) {
    d3d.winrtDevice.Reset();
    ComPtr<IDXGIDevice> dxgiDevice;
    HRESULT hr = d3d.device ? d3d.device.As(&dxgiDevice) : E_POINTER;
    ComPtr<IInspectable> wrapper;
    if (SUCCEEDED(hr)) {
        hr = CaptureFunctions().createDevice(dxgiDevice.Get(), wrapper.GetAddressOf());
        if (SUCCEEDED(hr) && !wrapper) hr = E_POINTER;
    }
    if (FAILED(hr)) {
        problem = L"Screen capture is not available: " + ErrorText(static_cast<uint32_t>(hr));
        return false;
    }
    d3d.winrtDevice = wrapper;
    return true;
}

// The system's capture has no copy on demand: its frames come through a capture session.
std::unique_ptr<ScreenCopy> CopyScreenNow(HMONITOR, bool) { return nullptr; }

bool Capturer::Start(D3D& d3d, HMONITOR monitor, bool cursor, std::wstring& problem) {
    return StartItem(d3d, monitor, nullptr, cursor, problem);
}

bool Capturer::StartWindow(D3D& d3d, HWND window, bool cursor, std::wstring& problem) {
    return StartItem(d3d, nullptr, window, cursor, problem);
}

bool Capturer::StartItem(D3D& d3d, HMONITOR monitor, HWND window, bool cursor, std::wstring& problem) {
    Stop();

    // A system without the capture classes counts as one that says no.
    ComPtr<wgc::IGraphicsCaptureSessionStatics> sessionStatics;
    boolean supported = FALSE;
    if (FAILED(CachedFactory(&FactoryCache::sessionStatics, wgc::kGraphicsCaptureSessionClass, sessionStatics)) ||
        FAILED(sessionStatics->IsSupported(&supported)) || !supported) {
        DiscardRestrictedError();
        problem = L"This version of Windows can't capture the screen (Windows 10 version 1903 or later is needed).";
        return false;
    }

    const std::shared_ptr<CaptureState> state = std::make_shared<CaptureState>();
    state->device = d3d.device;
    state->context = d3d.context;
    state_ = state;

    const auto fail = [&](HRESULT hr) {
        // Read before Stop makes further calls that could replace the details.
        problem = L"Screen capture could not start: " + FailureText(hr);
        Stop();
        return false;
    };

    ComPtr<wgc::IGraphicsCaptureItemInterop> interop;
    HRESULT hr = CachedFactory(&FactoryCache::itemInterop, wgc::kGraphicsCaptureItemClass, interop);
    if (FAILED(hr)) return fail(hr);

    void** item = reinterpret_cast<void**>(state->item.ReleaseAndGetAddressOf());
    hr = window != nullptr ? interop->CreateForWindow(window, __uuidof(wgc::IGraphicsCaptureItem), item)
                           : interop->CreateForMonitor(monitor, __uuidof(wgc::IGraphicsCaptureItem), item);
    if (SUCCEEDED(hr) && !state->item) hr = E_POINTER;
    if (FAILED(hr) && window != nullptr) {
        // Some windows cannot be captured at all (those of other desktops or
        // of protected programs, say): that is what the user hears.
        problem = L"That window can't be recorded: Windows refused to capture it (" + ErrorText(static_cast<uint32_t>(hr)) +
                  L"). Record a region around it instead.";
        DiscardRestrictedError();
        Stop();
        return false;
    }
    if (FAILED(hr)) return fail(hr);
    {
        // A window that closes, or a monitor that is unplugged, ends its
        // capture; the recording is told so.
        const ComPtr<wgc::IItemClosedHandler> closed = Adopt<wgc::IItemClosedHandler>(new (std::nothrow) ItemClosedHandler(state));
        if (!closed) return fail(E_OUTOFMEMORY);
        hr = state->item->add_Closed(closed.Get(), &state->closedToken);
        if (FAILED(hr)) return fail(hr);
        state->closedRegistered = true;
    }
    hr = state->item->get_Size(&state->poolSize);
    if (FAILED(hr)) return fail(hr);

    hr = d3d.winrtDevice ? d3d.winrtDevice.As(&state->runtimeDevice) : E_POINTER;
    if (FAILED(hr)) return fail(hr);
    ComPtr<wgc::IDirect3D11CaptureFramePoolStatics2> poolStatics;
    hr = CachedFactory(&FactoryCache::poolStatics, wgc::kDirect3D11CaptureFramePoolClass, poolStatics);
    if (FAILED(hr)) return fail(hr);
    hr = poolStatics->CreateFreeThreaded(state->runtimeDevice.Get(), kPoolFormat, kPoolBuffers, state->poolSize,
                                         state->framePool.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr) && !state->framePool) hr = E_POINTER;
    if (FAILED(hr)) return fail(hr);

    const ComPtr<wgc::IFrameArrivedHandler> handler =
        Adopt<wgc::IFrameArrivedHandler>(new (std::nothrow) FrameArrivedHandler(state));
    if (!handler) return fail(E_OUTOFMEMORY);
    hr = state->framePool->add_FrameArrived(handler.Get(), &state->frameArrivedToken);
    if (FAILED(hr)) return fail(hr);
    state->handlerRegistered = true;

    hr = state->framePool->CreateCaptureSession(state->item.Get(), state->captureSession.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr) && !state->captureSession) hr = E_POINTER;
    if (FAILED(hr)) return fail(hr);

    // Both settings are newer than the capture itself; where Windows lacks
    // them the capture simply keeps its defaults.
    ComPtr<wgc::IGraphicsCaptureSession2> session2;
    if (SUCCEEDED(state->captureSession.As(&session2))) {
        if (FAILED(session2->put_IsCursorCaptureEnabled(cursor ? TRUE : FALSE))) DiscardRestrictedError();
    }
    ComPtr<wgc::IGraphicsCaptureSession3> session3;
    if (SUCCEEDED(state->captureSession.As(&session3))) {
        RequestBorderlessAccessOnce();
        if (FAILED(session3->put_IsBorderRequired(FALSE))) DiscardRestrictedError();
    }

    hr = state->captureSession->StartCapture();
    if (FAILED(hr)) return fail(hr);
    return true;
}

void Capturer::Stop() {
    if (!state_) return;
    // Every state this frame source creates is a CaptureState.
    const std::shared_ptr<CaptureState> state = std::static_pointer_cast<CaptureState>(state_);
    state->stopping.store(true);
    if (state->framePool && state->handlerRegistered) {
        (void)state->framePool->remove_FrameArrived(state->frameArrivedToken);
        state->handlerRegistered = false;
    }
    if (state->item && state->closedRegistered) {
        (void)state->item->remove_Closed(state->closedToken);
        state->closedRegistered = false;
    }
    CloseObject(state->captureSession.Get());
    CloseObject(state->framePool.Get());
    {
        // A frame call that passed its first look at `stopping` before it was
        // set may still be copying; once it is done, no later call copies.
        std::lock_guard<std::mutex> wait(state->handlerLock);
    }
    state->Clear();
    state->item.Reset();
    state->framePool.Reset();
    state->captureSession.Reset();
    state_.reset();
}
