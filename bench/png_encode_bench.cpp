// The PNG encoder's filter choices on a screenshot: milliseconds to encode
// (the median of five) and the file's size, for each WICPngFilterOption.
// Run under Wine or on Windows.
//
//   png_encode_bench.exe PICTURE.png
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Encodes 24-bit BGR rows into memory with the filter option; the size, or 0.
size_t Encode(IWICImagingFactory* factory, const std::vector<BYTE>& bgr, UINT width, UINT height, int filter) {
    ComPtr<IStream> memory;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &memory))) return 0;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    HRESULT hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(memory.Get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr) && filter >= 0) {
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"FilterOption");
        VARIANT value{};
        value.vt = VT_UI1;
        value.bVal = static_cast<BYTE>(filter);
        hr = options->Write(1, &option, &value);
    }
    if (SUCCEEDED(hr)) hr = frame->Initialize(options.Get());
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr)) hr = frame->WritePixels(height, width * 3, static_cast<UINT>(bgr.size()), const_cast<BYTE*>(bgr.data()));
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    STATSTG stat{};
    if (FAILED(hr) || FAILED(memory->Stat(&stat, STATFLAG_NONAME))) return 0;
    return static_cast<size_t>(stat.cbSize.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> source;
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr)) hr = factory->CreateDecoderFromFilename(argv[1], nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &source);
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr)) hr = converter->Initialize(source.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0, WICBitmapPaletteTypeCustom);
    UINT width = 0, height = 0;
    if (SUCCEEDED(hr)) hr = converter->GetSize(&width, &height);
    std::vector<BYTE> bgr(static_cast<size_t>(width) * height * 3);
    if (SUCCEEDED(hr)) hr = converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(bgr.size()), bgr.data());
    if (FAILED(hr)) {
        std::printf("the picture could not be read: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    const char* names[] = {"default", "unspecified", "none", "sub", "up", "average", "paeth", "adaptive"};
    for (int filter = -1; filter <= 6; ++filter) {
        std::vector<double> times;
        size_t size = 0;
        for (int i = 0; i < 5; ++i) {
            LARGE_INTEGER start, end;
            QueryPerformanceCounter(&start);
            size = Encode(factory.Get(), bgr, width, height, filter);
            QueryPerformanceCounter(&end);
            times.push_back(Milliseconds(start, end));
        }
        std::sort(times.begin(), times.end());
        std::printf("%ux%u %-11s %7.1f ms %9zu bytes\n", width, height, names[filter + 1], times[2], size);
    }
    return 0;
}
