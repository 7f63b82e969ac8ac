#pragma once
// Media Foundation, reached only through this table of entry points. Its
// DLLs are loaded at run time: editions of Windows without the media
// features (the N editions before the Media Feature Pack is added) lack
// them, and a load-time import would keep the whole program from starting.
// The defaults are the system's functions; only the glue tests replace
// entries with fakes of the platform objects.
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <string>

struct MediaFoundation {
    HRESULT(WINAPI* startup)(ULONG version, DWORD flags) = nullptr;
    HRESULT(WINAPI* shutdown)() = nullptr;
    HRESULT(WINAPI* createAttributes)(IMFAttributes** attributes, UINT32 size) = nullptr;
    HRESULT(WINAPI* createFile)(MF_FILE_ACCESSMODE access, MF_FILE_OPENMODE open, MF_FILE_FLAGS flags,
                                LPCWSTR path, IMFByteStream** stream) = nullptr;
    HRESULT(WINAPI* createMediaType)(IMFMediaType** type) = nullptr;
    HRESULT(WINAPI* createMemoryBuffer)(DWORD length, IMFMediaBuffer** buffer) = nullptr;
    HRESULT(WINAPI* createSample)(IMFSample** sample) = nullptr;
    HRESULT(WINAPI* createSinkWriterFromURL)(LPCWSTR url, IMFByteStream* stream, IMFAttributes* attributes,
                                             IMFSinkWriter** writer) = nullptr;
    HRESULT(WINAPI* createSourceReaderFromURL)(LPCWSTR url, IMFAttributes* attributes,
                                               IMFSourceReader** reader) = nullptr;
    // The camera's (mf.dll and mfreadwrite.dll).
    HRESULT(WINAPI* enumDeviceSources)(IMFAttributes* attributes, IMFActivate*** sources, UINT32* count) = nullptr;
    HRESULT(WINAPI* createDeviceSource)(IMFAttributes* attributes, IMFMediaSource** source) = nullptr;
    HRESULT(WINAPI* createSourceReaderFromMediaSource)(IMFMediaSource* source, IMFAttributes* attributes,
                                                       IMFSourceReader** reader) = nullptr;

    // Everything a recording needs is there.
    bool CanRecord() const;
};

// The size and row order of the RGB32 pictures a source reader's first video
// stream was set to give: rows of 4 bytes a pixel, top down unless the type
// gives a negative stride. MF_E_INVALIDMEDIATYPE for a size beyond 16384 or
// rows of another length.
HRESULT RgbPictureOf(IMFSourceReader* reader, int32_t& width, int32_t& height, bool& bottomUp);

// The process's table, loaded on first use.
MediaFoundation& MediaFunctions();

// Said when a recording is asked for on a Windows without its media features.
extern const wchar_t kMediaFeaturesMissing[];
