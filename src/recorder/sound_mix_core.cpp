#include "recorder/sound_mix_core.h"

#include <utility>

namespace {
constexpr int64_t kLagFrames = 7200;    // 150 ms at 48 kHz
constexpr int64_t kMinimumBlock = 480;  // 10 ms
}  // namespace

SoundTurns::SoundTurns(SoundClock& clock, SoundSource* computer, SoundSource* microphone, SoundSink& sink,
                       bool syncTest, std::function<void(int64_t)> syncClick)
    : clock_(clock),
      computer_(computer),
      microphone_(microphone),
      sink_(sink),
      syncTest_(syncTest),
      syncClick_(std::move(syncClick)) {}

int64_t SoundTurns::ClockPosition() {
    return RecordingTimeAt(clock_.Counter(), clock_.StartCounter(), clock_.PauseState(), clock_.Frequency()) * 48000 /
           10000000;
}

int64_t SoundTurns::PausedHundredNs() {
    return TicksToHundredNs(clock_.PauseState().pausedTicks, clock_.Frequency());
}

void SoundTurns::LogSyncClicks(int64_t endTime, int64_t startHundredNs, bool stopping) {
    if (syncLast_ == 0) syncLast_ = endTime - static_cast<int64_t>(block_.size() / 2) * 10000000 / 48000;
    // Every whole counter second that this block reaches carries a burst.
    for (int64_t second = (syncLast_ + 9999999) / 10000000 * 10000000; second < endTime; second += 10000000) {
        if (!stopping && !clock_.PauseState().paused && syncClick_)
            syncClick_((second - PausedHundredNs() - startHundredNs) / 10);
    }
    syncLast_ = endTime;
}

bool SoundTurns::Turn(bool stopping) {
    const int64_t startHundredNs = TicksToHundredNs(clock_.StartCounter(), clock_.Frequency());
    if (stopping) finalPos_ = ClockPosition();
    // The write target comes from the clock as it stood before the sources
    // were read: a stall between the reads and the mix (a busy machine)
    // must not push the target past sound that has not been read yet, or
    // that stretch would be written as silence and its sound dropped.
    const int64_t clockBeforeRead = stopping ? finalPos_ : ClockPosition();

    // A turn cut short by a failed allocation may have left frames behind.
    block_.clear();
    int64_t endTime = 0;
    if (computer_ != nullptr) {
        computer_->Read(block_, endTime);
        if (syncTest_ && endTime != 0) LogSyncClicks(endTime, startHundredNs, stopping);
        computerTrack_.Place(block_, endTime != 0 ? PositionOfTime(endTime, startHundredNs, PausedHundredNs())
                                                  : ClockPosition());
    }
    if (microphone_ != nullptr) {
        microphone_->Read(block_, endTime);
        microphoneTrack_.Place(block_, endTime != 0 ? PositionOfTime(endTime, startHundredNs, PausedHundredNs())
                                                    : ClockPosition());
    }

    // While paused the clock stands at the pause point. Sound captured
    // before it is still written, once this turn's reads started after the
    // pause began (so all of it is placed); what came after it is dropped.
    const bool paused = clock_.PauseState().paused;
    if (paused && !stopping && clockBeforeRead != ClockPosition()) return true;
    const int64_t target = stopping ? finalPos_ : paused ? clockBeforeRead : clockBeforeRead - kLagFrames;
    const int64_t count = target - written_;
    if (count >= kMinimumBlock || ((stopping || paused) && count >= 1)) {
        pcm_.resize(static_cast<size_t>(count) * 2);
        MixToPcm16(computerTrack_, microphoneTrack_, written_, count, pcm_.data());
        computerTrack_.TrimBefore(target);
        microphoneTrack_.TrimBefore(target);
        if (!sink_.Write(pcm_.data(), static_cast<size_t>(count), SampleTime(written_), SampleTime(count)))
            return false;
        written_ = target;
    }
    if (paused) {
        computerTrack_.Clear();
        microphoneTrack_.Clear();
    }
    return true;
}
