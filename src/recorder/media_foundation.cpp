#include "recorder/media_foundation.h"

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

MediaFoundation& MediaFunctions() {
    static MediaFoundation table = Load();
    return table;
}
