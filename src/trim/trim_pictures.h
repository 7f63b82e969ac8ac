#pragma once
// The pictures of a recording for the trim window, one at a time by time.
// The shipping build decodes them with Windows' own decoder (the Media
// Foundation source reader); the test build reads its own recordings'
// uncompressed pictures. Used on one worker thread, in the multithreaded
// apartment.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "trim/mp4_trim_core.h"

struct TrimPicture {
    std::vector<uint8_t> bgra;  // top-down, 4 bytes a pixel
    int32_t width = 0, height = 0;
};

class TrimPictures {
public:
    virtual ~TrimPictures() = default;
    // The picture shown at `us`; false with the sentence the window shows
    // in its place.
    virtual bool At(int64_t us, TrimPicture& picture, std::wstring& why) = 0;
};

// Null, with that sentence, when the file's pictures cannot be shown at all.
// `movie` is the file's index, read before; it must outlive the pictures.
std::unique_ptr<TrimPictures> OpenTrimPictures(const std::wstring& path, const trim::Movie& movie, std::wstring& why);

// Said beside the sentence: the rest of the window works without pictures.
inline constexpr wchar_t kTrimWithoutPictures[] = L"Trimming works all the same: the timeline shows where the cut goes.";
