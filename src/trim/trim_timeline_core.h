#pragma once
// What the trim window shows and changes: the pictures' times, the playhead
// and the part to keep. The playhead always stands at the start of a
// picture; the part to keep runs from the start of one picture to the end
// of another. Times are microseconds of the recording.
#include <cstdint>
#include <string>
#include <vector>

#include "trim/mp4_trim_core.h"

namespace trim {

class Timeline {
public:
    // Each picture's start, in the order they are shown, the key pictures among
    // them, and the end of the last. No pictures: a timeline of one instant.
    Timeline(std::vector<int64_t> pictures, std::vector<int64_t> keys, int64_t durationUs);
    // The timeline of a recording's picture track.
    static Timeline Of(const Movie& movie);

    int64_t Playhead() const { return pictures_[playhead_]; }
    int64_t Start() const { return start_; }
    int64_t End() const { return end_; }
    int64_t Duration() const { return duration_; }
    int64_t Kept() const { return end_ - start_; }
    // The start a cut really has: the key picture at or before Start().
    int64_t CutStart() const;
    // Whether the part to keep is other than the whole recording.
    bool Changed() const { return start_ != 0 || end_ != duration_; }

    // Left and Right: by pictures; Shift with them: by time, onto the picture shown then.
    void Step(int pictures);
    void Move(int64_t byUs);
    void MoveTo(int64_t us);  // a click on the timeline, Home, End
    // I and O: the part to keep starts at the picture at the playhead, or ends
    // with it. One that would end before it starts gives way: the other end goes out.
    void SetStartHere();
    void SetEndHere();
    // A handle dragged to `us`: it stops a picture short of the other.
    void DragStart(int64_t us);
    void DragEnd(int64_t us);

private:
    size_t PictureAt(int64_t us) const;
    int64_t EndOf(size_t picture) const;

    std::vector<int64_t> pictures_;
    std::vector<int64_t> keys_;
    int64_t duration_ = 0;
    size_t playhead_ = 0;
    int64_t start_ = 0;
    int64_t end_ = 0;
};

// A time as the window writes it: "m:ss.t", or "h:mm:ss.t" from an hour.
std::wstring LengthText(int64_t us);
// "Keeping 0:12.5 of 3:04.0"
std::wstring KeptText(int64_t keptUs, int64_t totalUs);

// A timeline `width` pixels wide for a recording of `durationUs`: the pixel of
// a time, and the time of a pixel (within the recording).
int32_t XOfTime(int64_t us, int64_t durationUs, int32_t width);
int64_t TimeOfX(int32_t x, int64_t durationUs, int32_t width);

enum class TrimAction {
    None,
    PreviousPicture,
    NextPicture,
    BackSecond,
    ForwardSecond,
    SetStart,
    SetEnd,
    ToBeginning,
    ToFinish,
    Save,
    Close,
};
// What a key does in the trim window (a virtual-key code; Shift held or not).
// Keys with Ctrl or Alt are left to the system.
TrimAction TrimActionForKey(uint32_t virtualKey, bool shift, bool ctrl, bool alt);

}  // namespace trim
