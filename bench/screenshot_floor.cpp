// The platform's floor for a screenshot: the fewest calls that do the work
// the tray's screenshot does. A GDI copy of the primary monitor into a
// 24-bit DIB section, that DIB handed to the clipboard (CF_DIB), and a WIC PNG
// encode of the same rows, each filtered from the row above, written to the
// file given. Prints the milliseconds from the copy's start to the
// clipboard's hand-over and to the file's end:
//
//   screenshot_floor OUT.png   ->   "clipboard 85.3 ms, png 130.2 ms"
#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

using Microsoft::WRL::ComPtr;

namespace {

double Since(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const int width = GetSystemMetrics(SM_CXSCREEN) & ~1, height = GetSystemMetrics(SM_CYSCREEN) & ~1;
    const UINT stride = (static_cast<UINT>(width) * 3 + 3) & ~3u;
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first, as the encoder wants it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();

    // CF_DIB is bottom-up: the header, then the rows last first.
    const size_t bytes = sizeof(BITMAPINFOHEADER) + static_cast<size_t>(stride) * height;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    auto* target = static_cast<uint8_t*>(GlobalLock(block));
    BITMAPINFOHEADER header = info.bmiHeader;
    header.biHeight = height;
    std::memcpy(target, &header, sizeof header);
    const auto* rows = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < height; ++y)
        std::memcpy(target + sizeof header + static_cast<size_t>(height - 1 - y) * stride,
                    rows + static_cast<size_t>(y) * stride, stride);
    GlobalUnlock(block);
    if (OpenClipboard(owner)) {
        EmptyClipboard();
        SetClipboardData(CF_DIB, block);
        CloseClipboard();
    }
    const double clipboard = Since(start);

    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(argv[1], GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr)) {
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"FilterOption");
        VARIANT value{};
        value.vt = VT_UI1;
        value.bVal = WICPngFilterUp;
        options->Write(1, &option, &value);
        hr = frame->Initialize(options.Get());
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height));
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height),
                                static_cast<BYTE*>(bits));
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    frame.Reset();
    encoder.Reset();
    stream.Reset();
    const double png = Since(start);

    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DestroyWindow(owner);
    std::printf("clipboard %.1f ms, png %.1f ms\n", clipboard, png);
    return SUCCEEDED(hr) ? 0 : 1;
}
