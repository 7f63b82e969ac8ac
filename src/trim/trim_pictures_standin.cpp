// The test build's pictures: its recordings hold uncompressed macroblocks,
// which are read back as they were written, with no decoder.
#include "trim/trim_pictures.h"

#include <windows.h>

#include <algorithm>

#include "common/unique_handle.h"
#include "recorder/h264_pcm_core.h"
#include "recorder/nv12_core.h"

namespace {

constexpr uint32_t kLargestPicture = 64u << 20;

class StandInPictures final : public TrimPictures {
public:
    StandInPictures(UniqueHandle file, const trim::Track& track) : file_(std::move(file)), track_(track) {
        shown_.reserve(track.samples.size());
        for (size_t i = 0; i < track.samples.size(); ++i) shown_.push_back({track.PresentationUs(i), i});
        std::sort(shown_.begin(), shown_.end());
    }

    bool At(int64_t us, TrimPicture& picture, std::wstring& why) override {
        const std::wstring cannot = L"This build shows the pictures of its own recordings only. ";
        if (shown_.empty()) {
            why = cannot + kTrimWithoutPictures;
            return false;
        }
        // The last picture that starts at or before `us`.
        auto next = std::upper_bound(shown_.begin(), shown_.end(), std::pair<int64_t, size_t>{us, SIZE_MAX});
        const trim::Sample& sample = track_.samples[(next == shown_.begin() ? next : next - 1)->second];
        const int32_t width = static_cast<int32_t>(track_.width >> 16), height = static_cast<int32_t>(track_.height >> 16);
        if (sample.size > kLargestPicture || !Read(sample.offset, sample.size) ||
            !mp4::DecodeIdrPcm(data_.data(), data_.size(), static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                               nv12_)) {
            why = cannot + kTrimWithoutPictures;
            return false;
        }
        picture.width = width;
        picture.height = height;
        picture.bgra.resize(size_t(width) * height * 4);
        Nv12ToBgra(nv12_.data(), width, height, picture.bgra.data());
        return true;
    }

private:
    bool Read(uint64_t offset, uint32_t size) {
        data_.resize(size);
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(offset);
        place.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        return ReadFile(file_.Get(), data_.data(), size, &read, &place) && read == size;
    }

    UniqueHandle file_;
    const trim::Track& track_;
    std::vector<std::pair<int64_t, size_t>> shown_;  // presentation time, sample
    std::vector<uint8_t> data_, nv12_;
};

}  // namespace

std::unique_ptr<TrimPictures> OpenTrimPictures(const std::wstring& path, const trim::Movie& movie, std::wstring& why) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
    if (!file) {
        why = L"The recording could not be opened to show its pictures. " + std::wstring(kTrimWithoutPictures);
        return nullptr;
    }
    return std::make_unique<StandInPictures>(std::move(file), movie.Video());
}
