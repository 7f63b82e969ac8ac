#include "recorder/media_foundation.h"

#include <mferror.h>

namespace {

// Casting through void(*)() keeps GCC's function-cast check quiet for
// pointers that GetProcAddress hands back untyped.
template <typename Function>
void Find(HMODULE module, const char* name, Function& slot) {
    slot = module == nullptr ? nullptr
                             : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

MediaFoundation Load() {
    // Loaded for the life of the process, from the system folder only.
    const HMODULE platform = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const HMODULE readWrite = LoadLibraryExW(L"mfreadwrite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const HMODULE media = LoadLibraryExW(L"mf.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    MediaFoundation table;
    Find(platform, "MFStartup", table.startup);
    Find(platform, "MFShutdown", table.shutdown);
    Find(platform, "MFCreateAttributes", table.createAttributes);
    Find(platform, "MFCreateFile", table.createFile);
    Find(platform, "MFCreateMediaType", table.createMediaType);
    Find(platform, "MFCreateMemoryBuffer", table.createMemoryBuffer);
    Find(platform, "MFCreateSample", table.createSample);
    Find(readWrite, "MFCreateSinkWriterFromURL", table.createSinkWriterFromURL);
    Find(readWrite, "MFCreateSourceReaderFromURL", table.createSourceReaderFromURL);
    Find(media, "MFEnumDeviceSources", table.enumDeviceSources);
    Find(media, "MFCreateDeviceSource", table.createDeviceSource);
    Find(readWrite, "MFCreateSourceReaderFromMediaSource", table.createSourceReaderFromMediaSource);
    return table;
}

}  // namespace

const wchar_t kMediaFeaturesMissing[] =
    L"This edition of Windows lacks the media features that recording needs. Add the Media Feature Pack in "
    L"Settings > Apps > Optional features, then try again.";

bool MediaFoundation::CanRecord() const {
    return startup != nullptr && createAttributes != nullptr && createFile != nullptr && createMediaType != nullptr &&
           createMemoryBuffer != nullptr && createSample != nullptr && createSinkWriterFromURL != nullptr;
}

HRESULT RgbPictureOf(IMFSourceReader* reader, int32_t& width, int32_t& height, bool& bottomUp) {
    IMFMediaType* got = nullptr;
    HRESULT hr = reader->GetCurrentMediaType(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), &got);
    UINT64 size = 0;
    if (SUCCEEDED(hr)) hr = got->GetUINT64(MF_MT_FRAME_SIZE, &size);
    width = static_cast<int32_t>(size >> 32);
    height = static_cast<int32_t>(size & 0xFFFFFFFF);
    UINT32 stride = static_cast<UINT32>(width) * 4;
    if (SUCCEEDED(hr) && FAILED(got->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))) stride = static_cast<UINT32>(width) * 4;
    if (got != nullptr) got->Release();
    constexpr int32_t kLargestSide = 16384;
    const auto signedStride = static_cast<INT32>(stride);
    if (SUCCEEDED(hr) && (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide ||
                          (signedStride != width * 4 && signedStride != -width * 4)))
        hr = MF_E_INVALIDMEDIATYPE;
    bottomUp = signedStride < 0;
    return hr;
}

MediaFoundation& MediaFunctions() {
    static MediaFoundation table = Load();
    return table;
}
