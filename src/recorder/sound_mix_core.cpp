#include "recorder/sound_mix_core.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {
constexpr int64_t kLagFrames = 7200;    // 150 ms at 48 kHz
constexpr int64_t kMinimumBlock = 480;  // 10 ms
// After a long stall the sound due is written a second a piece, so no one
// sample (and no one memory buffer of the writer) grows with the stall.
constexpr int64_t kMaxPiece = 48000;

// The position up to which a source has delivered, or where it could not
// have (an open source whose track holds nothing yet). A source without a
// device delivers nothing, so nothing of it is waited for.
int64_t Reach(const SoundSource* source, const AudioTrack& track) {
    if (source == nullptr || !source->HasDevice()) return INT64_MAX;
    return track.anchored && track.Count() > 0 ? track.start + track.Count() : INT64_MIN;
}
}  // namespace

SoundTurns::SoundTurns(SoundClock& clock, SoundSource* computer, SoundSource* microphone, SoundSink& sink,
                       bool syncTest, std::function<void(int64_t)> syncClick)
    : clock_(clock),
      computer_(computer),
      microphone_(microphone),
      sink_(sink),
      syncTest_(syncTest),
      syncClick_(std::move(syncClick)) {}

void SoundTurns::LogSyncClicks(int64_t endTime, int64_t startHundredNs, int64_t pausedHundredNs, int64_t lastPosition) {
    if (syncLast_ == 0) syncLast_ = endTime - static_cast<int64_t>(block_.size() / 2) * 10000000 / 48000;
    // Every whole counter second that this block reaches carries a burst. Only
    // bursts whose sound the stream will carry are told: one from a pause is
    // placed past the pause point while paused, or before what is already
    // written once resumed; one past the stop is never written.
    for (int64_t second = (syncLast_ + 9999999) / 10000000 * 10000000; second < endTime; second += 10000000) {
        const int64_t position = PositionOfTime(second, startHundredNs, pausedHundredNs);
        if (position >= written_ && position < lastPosition && syncClick_)
            syncClick_((second - pausedHundredNs - startHundredNs) / 10);
    }
    syncLast_ = endTime;
}

bool SoundTurns::Turn(bool stopping) {
    // One reading of the pause state serves the whole turn: every position,
    // the pause decision and the burst times agree, and a pause or resume
    // that lands while the sources are read counts from the next turn.
    // Placing with one pause total and deciding with another would put a
    // block a whole pause away from where it belongs.
    const ClockSnapshot pause = clock_.PauseState();
    const int64_t frequency = clock_.Frequency();
    const int64_t startCounter = clock_.StartCounter();
    const int64_t startHundredNs = TicksToHundredNs(startCounter, frequency);
    const int64_t pausedHundredNs = TicksToHundredNs(pause.pausedTicks, frequency);
    // The write target comes from the clock as it stood before the sources
    // were read: a stall between the reads and the mix (a busy machine)
    // must not push the target past sound that has not been read yet, or
    // that stretch would be written as silence and its sound dropped.
    const int64_t clockPosition = RecordingTimeAt(clock_.Counter(), startCounter, pause, frequency) * 48000 / 10000000;
    // While paused the clock stands at the pause point, and this turn's reads
    // begin after the pause did, so the sound captured before it is placed
    // by now: it is written right up to the point (no lag), and the pause's
    // own sound is dropped below. The last block on a stop runs to the stop.
    const bool last = stopping || pause.paused;
    const int64_t target = last ? clockPosition : clockPosition - kLagFrames;
    auto placeAt = [&](int64_t endTime) {
        return endTime != 0 ? PositionOfTime(endTime, startHundredNs, pausedHundredNs) : clockPosition;
    };

    // A turn cut short by a failed allocation may have left frames behind.
    block_.clear();
    int64_t endTime = 0;
    if (computer_ != nullptr) {
        computer_->Read(block_, endTime);
        if (syncTest_ && endTime != 0)
            LogSyncClicks(endTime, startHundredNs, pausedHundredNs, last ? target : INT64_MAX);
        computerTrack_.Place(block_, placeAt(endTime));
    }
    if (microphone_ != nullptr) {
        block_.clear();
        microphone_->Read(block_, endTime);
        microphoneTrack_.Place(block_, placeAt(endTime));
    }

    // Sound captured just before a pause can reach us after the pause began,
    // a device's delay later (more on a busy machine). The pause point waits
    // for it, so that stretch is not written as silence and its sound
    // dropped: until every open source has delivered up to the point, or for
    // half a second at most (a source may deliver nothing at all).
    const bool pauseSoundDue = pause.paused && !stopping && written_ < target &&
                               clock_.Counter() - pause.pauseCounter < frequency / 2 &&
                               (Reach(computer_, computerTrack_) < target || Reach(microphone_, microphoneTrack_) < target);
    const int64_t count = target - written_;
    if (!pauseSoundDue && (count >= kMinimumBlock || (last && count >= 1))) {
        while (written_ < target) {
            const int64_t piece = std::min(kMaxPiece, target - written_);
            pcm_.resize(static_cast<size_t>(piece) * 2);
            MixToPcm16(computerTrack_, microphoneTrack_, written_, piece, pcm_.data());
            const SoundWrite result =
                sink_.Write(pcm_.data(), static_cast<size_t>(piece), SampleTime(written_), SampleTime(piece));
            if (result == SoundWrite::Failed) return false;
            // The sound stays in the tracks and goes with the next turn's
            // block; the last turn has no next one.
            if (result == SoundWrite::Retry) {
                if (stopping) return false;
                break;
            }
            written_ += piece;
            computerTrack_.TrimBefore(written_);
            microphoneTrack_.TrimBefore(written_);
        }
    }
    if (pause.paused) {
        // What is past the pause point is the pause's own sound.
        computerTrack_.DropFrom(target);
        microphoneTrack_.DropFrom(target);
    }
    return true;
}
