#include "trim/trim_timeline_core.h"

#include <algorithm>
#include <utility>

namespace trim {

namespace {

constexpr int64_t kSecond = 1'000'000;

// Virtual-key codes, as Windows numbers them.
constexpr uint32_t kKeyReturn = 0x0D, kKeyEscape = 0x1B, kKeyEnd = 0x23, kKeyHome = 0x24, kKeyLeft = 0x25,
                   kKeyRight = 0x27, kKeyI = 'I', kKeyO = 'O';

}  // namespace

Timeline::Timeline(std::vector<int64_t> pictures, std::vector<int64_t> keys, int64_t durationUs)
    : pictures_(std::move(pictures)), keys_(std::move(keys)) {
    std::sort(pictures_.begin(), pictures_.end());
    std::sort(keys_.begin(), keys_.end());
    if (pictures_.empty()) pictures_.push_back(0);
    duration_ = std::max(durationUs, pictures_.back() + 1);
    start_ = 0;
    end_ = duration_;
}

Timeline Timeline::Of(const Movie& movie) {
    std::vector<int64_t> pictures, keys;
    if (!movie.tracks.empty()) {
        const Track& video = movie.Video();
        pictures.reserve(video.samples.size());
        for (size_t i = 0; i < video.samples.size(); ++i) {
            const int64_t at = std::max<int64_t>(video.PresentationUs(i), 0);
            pictures.push_back(at);
            if (video.samples[i].sync) keys.push_back(at);
        }
    }
    return Timeline(std::move(pictures), std::move(keys), movie.durationUs);
}

size_t Timeline::PictureAt(int64_t us) const {
    const auto after = std::upper_bound(pictures_.begin(), pictures_.end(), us);
    return after == pictures_.begin() ? 0 : static_cast<size_t>(after - pictures_.begin() - 1);
}

int64_t Timeline::EndOf(size_t picture) const {
    return picture + 1 < pictures_.size() ? pictures_[picture + 1] : duration_;
}

int64_t Timeline::CutStart() const {
    const auto after = std::upper_bound(keys_.begin(), keys_.end(), start_);
    return after == keys_.begin() ? (keys_.empty() ? start_ : keys_.front()) : *(after - 1);
}

void Timeline::Step(int pictures) {
    const auto last = static_cast<int64_t>(pictures_.size()) - 1;
    playhead_ = static_cast<size_t>(std::clamp<int64_t>(static_cast<int64_t>(playhead_) + pictures, 0, last));
}

void Timeline::Move(int64_t byUs) { MoveTo(Playhead() + byUs); }

void Timeline::MoveTo(int64_t us) { playhead_ = PictureAt(std::clamp<int64_t>(us, 0, duration_)); }

void Timeline::SetStartHere() {
    start_ = Playhead();
    if (end_ <= start_) end_ = duration_;
}

void Timeline::SetEndHere() {
    end_ = EndOf(playhead_);
    if (end_ <= start_) start_ = 0;
}

void Timeline::DragStart(int64_t us) {
    const size_t picture = PictureAt(std::clamp<int64_t>(us, 0, duration_));
    const size_t lastBeforeEnd = PictureAt(end_ - 1);
    start_ = pictures_[std::min(picture, lastBeforeEnd)];
}

void Timeline::DragEnd(int64_t us) {
    const size_t first = PictureAt(start_);
    // The end goes to the picture boundary nearest the handle.
    size_t picture = PictureAt(std::clamp<int64_t>(us, 0, duration_));
    if (us - pictures_[picture] > EndOf(picture) - us) ++picture;
    picture = std::max(picture, first + 1);
    end_ = picture < pictures_.size() ? pictures_[picture] : duration_;
}

std::wstring LengthText(int64_t us) {
    const int64_t tenths = std::max<int64_t>(us, 0) / (kSecond / 10);
    const int64_t seconds = tenths / 10, minutes = seconds / 60, hours = minutes / 60;
    const auto two = [](int64_t v) { return (v < 10 ? L"0" : L"") + std::to_wstring(v); };
    std::wstring text = hours > 0 ? std::to_wstring(hours) + L":" + two(minutes % 60) : std::to_wstring(minutes);
    return text + L":" + two(seconds % 60) + L"." + std::to_wstring(tenths % 10);
}

std::wstring KeptText(int64_t keptUs, int64_t totalUs) {
    return L"Keeping " + LengthText(keptUs) + L" of " + LengthText(totalUs);
}

int32_t XOfTime(int64_t us, int64_t durationUs, int32_t width) {
    if (durationUs <= 0 || width <= 0) return 0;
    const int64_t x = static_cast<int64_t>(static_cast<double>(std::clamp<int64_t>(us, 0, durationUs)) * width /
                                           static_cast<double>(durationUs) + 0.5);
    return static_cast<int32_t>(std::clamp<int64_t>(x, 0, width));
}

int64_t TimeOfX(int32_t x, int64_t durationUs, int32_t width) {
    if (durationUs <= 0 || width <= 0) return 0;
    return static_cast<int64_t>(static_cast<double>(std::clamp(x, 0, width)) * static_cast<double>(durationUs) / width +
                                0.5);
}

TrimAction TrimActionForKey(uint32_t virtualKey, bool shift, bool ctrl, bool alt) {
    if (ctrl || alt) return TrimAction::None;
    switch (virtualKey) {
        case kKeyLeft:
            return shift ? TrimAction::BackSecond : TrimAction::PreviousPicture;
        case kKeyRight:
            return shift ? TrimAction::ForwardSecond : TrimAction::NextPicture;
        case kKeyI:
            return TrimAction::SetStart;
        case kKeyO:
            return TrimAction::SetEnd;
        case kKeyHome:
            return TrimAction::ToBeginning;
        case kKeyEnd:
            return TrimAction::ToFinish;
        case kKeyReturn:
            return TrimAction::Save;
        case kKeyEscape:
            return TrimAction::Close;
        default:
            return TrimAction::None;
    }
}

}  // namespace trim
