#pragma once
// Binary interfaces of Windows.Graphics.Capture and the Direct3D interop it
// needs, declared here because the cross compiler ships no Windows Runtime
// headers for them. Method order inside each interface is the vtable order
// and must never change; interface identifiers follow the Windows SDK
// metadata.
#include <windows.h>
#include <unknwn.h>
#include <inspectable.h>
#include <eventtoken.h>
#include <hstring.h>

#include <cstdint>

namespace ostrel::wgc {

// Windows.Graphics.SizeInt32
struct SizeInt32 {
    int32_t Width;
    int32_t Height;
};

// Windows.Foundation.TimeSpan: 100-nanosecond ticks.
struct TimeSpan {
    int64_t Duration;
};

// The toolchain's eventtoken.h already declares the Windows Runtime event
// token with the same layout ({int64 value}).
using EventRegistrationToken = ::EventRegistrationToken;

// Windows.Graphics.DirectX.DirectXPixelFormat; only the value used here
// (same number as DXGI_FORMAT_B8G8R8A8_UNORM).
enum DirectXPixelFormat : int32_t {
    DirectXPixelFormat_B8G8R8A8UIntNormalized = 87,
};

// Windows.Graphics.DirectX.Direct3D11.Direct3DMultisampleDescription
struct Direct3DMultisampleDescription {
    int32_t Count;
    int32_t Quality;
};

// Windows.Graphics.DirectX.Direct3D11.Direct3DSurfaceDescription
struct Direct3DSurfaceDescription {
    int32_t Width;
    int32_t Height;
    DirectXPixelFormat Format;
    Direct3DMultisampleDescription MultisampleDescription;
};

struct IDirect3D11CaptureFramePool;
struct IGraphicsCaptureItem;
struct IGraphicsCaptureSession;

// Windows.Foundation.IClosable
struct IClosable : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Windows.Graphics.DirectX.Direct3D11.IDirect3DDevice
struct IDirect3DDevice : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Trim() = 0;
};

// Windows.Graphics.DirectX.Direct3D11.IDirect3DSurface
struct IDirect3DSurface : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Description(Direct3DSurfaceDescription* value) = 0;
};

// Classic COM interface every Windows Runtime Direct3D device and surface
// offers to reach the DXGI/Direct3D object inside.
struct IDirect3DDxgiInterfaceAccess : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** object) = 0;
};

// Windows.Foundation.TypedEventHandler<Direct3D11CaptureFramePool, Object>.
// Delegates derive from IUnknown, not IInspectable.
struct IFrameArrivedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IDirect3D11CaptureFramePool* sender, IInspectable* args) = 0;
};

// Windows.Foundation.TypedEventHandler<GraphicsCaptureItem, Object>
struct IItemClosedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IGraphicsCaptureItem* sender, IInspectable* args) = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureSessionStatics (static side of
// the class Windows.Graphics.Capture.GraphicsCaptureSession).
struct IGraphicsCaptureSessionStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE IsSupported(boolean* result) = 0;
};

// Classic COM interface on the activation factory of
// Windows.Graphics.Capture.GraphicsCaptureItem.
struct IGraphicsCaptureItemInterop : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID iid, void** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR monitor, REFIID iid, void** result) = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureItem
struct IGraphicsCaptureItem : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(SizeInt32* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Closed(IItemClosedHandler* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken token) = 0;
};

// Windows.Graphics.Capture.IDirect3D11CaptureFrame
struct IDirect3D11CaptureFrame : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Surface(IDirect3DSurface** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(TimeSpan* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentSize(SizeInt32* value) = 0;
};

// Windows.Graphics.Capture.IDirect3D11CaptureFramePool
struct IDirect3D11CaptureFramePool : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Recreate(IDirect3DDevice* device, DirectXPixelFormat pixelFormat,
                                               int32_t numberOfBuffers, SizeInt32 size) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryGetNextFrame(IDirect3D11CaptureFrame** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_FrameArrived(IFrameArrivedHandler* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCaptureSession(IGraphicsCaptureItem* item,
                                                           IGraphicsCaptureSession** result) = 0;
    // The value is a Windows.System.IDispatcherQueue, which nothing here uses.
    virtual HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable** value) = 0;
};

// Windows.Graphics.Capture.IDirect3D11CaptureFramePoolStatics2 (static side
// of the class Windows.Graphics.Capture.Direct3D11CaptureFramePool).
struct IDirect3D11CaptureFramePoolStatics2 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateFreeThreaded(IDirect3DDevice* device, DirectXPixelFormat pixelFormat,
                                                         int32_t numberOfBuffers, SizeInt32 size,
                                                         IDirect3D11CaptureFramePool** result) = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureSession
struct IGraphicsCaptureSession : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE StartCapture() = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureSession2 (Windows 10 2004 and later)
struct IGraphicsCaptureSession2 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureSession3 (Windows 11 and later)
struct IGraphicsCaptureSession3 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) = 0;
};

// Windows.Foundation.IAsyncInfo: the state of any asynchronous operation.
struct IAsyncInfo : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(int32_t* status) = 0;  // 0 started, 1 completed, 2 canceled, 3 error
    virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Windows.Graphics.Capture.GraphicsCaptureAccessKind
enum GraphicsCaptureAccessKind : int32_t {
    GraphicsCaptureAccessKind_Borderless = 0,
};

// Windows.Graphics.Capture.IGraphicsCaptureAccessStatics (static side of the
// class Windows.Graphics.Capture.GraphicsCaptureAccess; Windows 11). The
// result is an IAsyncOperation<AppCapabilityAccessStatus>; only its
// IAsyncInfo is used here.
struct IGraphicsCaptureAccessStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(GraphicsCaptureAccessKind kind, IInspectable** operation) = 0;
};

// Classic COM error details that Windows Runtime calls leave on the thread.
struct IRestrictedErrorInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error, BSTR* restrictedDescription,
                                                      BSTR* capabilitySid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) = 0;
};

// Values cross the binary boundary by layout; these must match Windows'.
static_assert(sizeof(SizeInt32) == 8);
static_assert(sizeof(TimeSpan) == 8);
static_assert(sizeof(EventRegistrationToken) == 8);
static_assert(sizeof(DirectXPixelFormat) == 4);
static_assert(sizeof(boolean) == 1);

constexpr wchar_t kGraphicsCaptureSessionClass[] = L"Windows.Graphics.Capture.GraphicsCaptureSession";
constexpr wchar_t kGraphicsCaptureItemClass[] = L"Windows.Graphics.Capture.GraphicsCaptureItem";
constexpr wchar_t kDirect3D11CaptureFramePoolClass[] = L"Windows.Graphics.Capture.Direct3D11CaptureFramePool";
constexpr wchar_t kGraphicsCaptureAccessClass[] = L"Windows.Graphics.Capture.GraphicsCaptureAccess";

}  // namespace ostrel::wgc

// Interface identifiers, so that __uuidof, ComPtr::As and IID_PPV_ARGS work
// with the declarations above.
__CRT_UUID_DECL(ostrel::wgc::IClosable, 0x30d5a829, 0x7fa4, 0x4026, 0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e)
__CRT_UUID_DECL(ostrel::wgc::IDirect3DDevice, 0xa37624ab, 0x8d5f, 0x4650, 0x9d, 0x3e, 0x9e, 0xae, 0x3d, 0x9b, 0xc6,
                0x70)
__CRT_UUID_DECL(ostrel::wgc::IDirect3DSurface, 0x0bf4a146, 0x13c1, 0x4694, 0xbe, 0xe3, 0x7a, 0xbf, 0x15, 0xea, 0xf5,
                0x86)
__CRT_UUID_DECL(ostrel::wgc::IDirect3DDxgiInterfaceAccess, 0xa9b3d012, 0x3df2, 0x4ee3, 0xb8, 0xd1, 0x86, 0x95, 0xf4,
                0x57, 0xd3, 0xc1)
__CRT_UUID_DECL(ostrel::wgc::IFrameArrivedHandler, 0x51a947f7, 0x79cf, 0x5a3e, 0xa3, 0xa5, 0x12, 0x89, 0xcf, 0xa6,
                0xdf, 0xe8)
__CRT_UUID_DECL(ostrel::wgc::IItemClosedHandler, 0xe9c610c0, 0xa68c, 0x5bd9, 0x80, 0x21, 0x85, 0x89, 0x34, 0x6e, 0xee,
                0xe2)
__CRT_UUID_DECL(ostrel::wgc::IGraphicsCaptureSessionStatics, 0x2224a540, 0x5974, 0x49aa, 0xb2, 0x32, 0x08, 0x82, 0x53,
                0x6f, 0x4c, 0xb5)
__CRT_UUID_DECL(ostrel::wgc::IGraphicsCaptureItemInterop, 0x3628e81b, 0x3cac, 0x4c60, 0xb7, 0xf4, 0x23, 0xce, 0x0e,
                0x0c, 0x33, 0x56)
__CRT_UUID_DECL(ostrel::wgc::IGraphicsCaptureItem, 0x79c3f95b, 0x31f7, 0x4ec2, 0xa4, 0x64, 0x63, 0x2e, 0xf5, 0xd3,
                0x07, 0x60)
__CRT_UUID_DECL(ostrel::wgc::IDirect3D11CaptureFrame, 0xfa50c623, 0x38da, 0x4b32, 0xac, 0xf3, 0xfa, 0x97, 0x34, 0xad,
                0x80, 0x0e)
__CRT_UUID_DECL(ostrel::wgc::IDirect3D11CaptureFramePool, 0x24eb6d22, 0x1975, 0x422e, 0x82, 0xe7, 0x78, 0x0d, 0xbd,
                0x8d, 0xdf, 0x24)
__CRT_UUID_DECL(ostrel::wgc::IDirect3D11CaptureFramePoolStatics2, 0x589b103f, 0x6bbc, 0x5df5, 0xa9, 0x91, 0x02, 0xe2,
                0x8b, 0x3b, 0x66, 0xd5)
__CRT_UUID_DECL(ostrel::wgc::IGraphicsCaptureSession, 0x814e42a9, 0xf70f, 0x4ad7, 0x93, 0x9b, 0xfd, 0xdc, 0xc6, 0xeb,
                0x88, 0x0d)
__CRT_UUID_DECL(ostrel::wgc::IGraphicsCaptureSession2, 0x2c39ae40, 0x7d2e, 0x5044, 0x80, 0x4e, 0x8b, 0x67, 0x99, 0xd4,
                0xcf, 0x9e)
__CRT_UUID_DECL(ostrel::wgc::IGraphicsCaptureSession3, 0xf2cdd966, 0x22ae, 0x5ea1, 0x95, 0x96, 0x3a, 0x28, 0x93, 0x44,
                0xc3, 0xbe)
__CRT_UUID_DECL(ostrel::wgc::IAsyncInfo, 0x00000036, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(ostrel::wgc::IGraphicsCaptureAccessStatics, 0x743ed370, 0x06ec, 0x5040, 0xa5, 0x8a, 0x90, 0x1f, 0x0f,
                0x75, 0x70, 0x95)
__CRT_UUID_DECL(ostrel::wgc::IRestrictedErrorInfo, 0x82ba7092, 0x4c88, 0x427d, 0xa7, 0xbc, 0x16, 0xdd, 0x93, 0xfe, 0xb6,
                0x7e)
