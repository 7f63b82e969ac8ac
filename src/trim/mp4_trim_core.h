#pragma once
// Trimming an MP4 without re-encoding: the index of a recording (progressive
// or fragmented, H.264 picture, any or no sound) is read within the file's
// bounds, and the part to keep is written as a new progressive MP4 whose
// index comes first, so it plays and streams at once. The cut starts at the
// key picture at or before the asked start (that start is reported) and ends
// on a picture boundary; sound is cut at the same times, an edit list keeps
// it in step. Sample data is copied in bounded pieces, never all at once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trim {

// The file read. Reads outside [0, Size()) are never asked for.
class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    virtual bool Read(uint64_t offset, void* out, size_t size) = 0;
};

// Where the trimmed copy goes, front to back.
class Sink {
public:
    virtual ~Sink() = default;
    virtual bool Write(const void* data, size_t size) = 0;
};

struct Sample {
    uint64_t offset = 0;    // in the file
    int64_t decodeTime = 0;  // track time scale
    uint32_t size = 0;
    uint32_t duration = 0;
    int32_t compositionOffset = 0;
    bool sync = false;
};

struct Track {
    bool video = false;          // else sound
    uint32_t timescale = 0;
    uint16_t language = 0x55C4;  // "und", packed as mdhd keeps it
    uint32_t width = 0, height = 0;  // tkhd's 16.16 values, for pictures
    std::string format;              // the sample entry's four characters
    std::vector<uint8_t> sampleDescriptions;  // the whole stsd box, copied as it is
    // The edit list's start in the media (track time scale) and the empty
    // time before it (microseconds) when there was one.
    int64_t mediaStart = 0;
    int64_t delayUs = 0;
    std::vector<Sample> samples;  // in decode order

    // When sample `i` is shown, in microseconds of the movie.
    int64_t PresentationUs(size_t i) const;
};

struct Movie {
    std::vector<Track> tracks;  // one picture track first, then at most one sound track
    int64_t durationUs = 0;     // to the end of the last picture shown

    const Track& Video() const { return tracks.front(); }
    const Track* Sound() const { return tracks.size() > 1 ? &tracks[1] : nullptr; }
};

// Bounds that keep memory within reason whatever a file claims.
constexpr uint64_t kMaxIndexBytes = 256ull << 20;  // a moov or one moof
constexpr size_t kMaxSamples = 6'000'000;           // all tracks together (about 190 MiB of index)

// Said when the copy cannot be written.
extern const wchar_t kUnwritable[];

// Reads the file's index. False, with the sentence for the user, when it is
// not an MP4 this can trim or its boxes do not fit the file and each other.
bool ReadMovie(Source& source, Movie& movie, std::wstring& problem);

struct CutMade {
    int64_t startUs = 0;  // the cut as really made, in the original's time
    int64_t endUs = 0;
    uint64_t bytes = 0;   // written
};

// Writes [startMs, endMs) of `movie` (read from `source`) to `sink`. False with
// the sentence when the range is empty or outside the recording, or a read
// or a write fails.
bool Cut(Source& source, const Movie& movie, int64_t startMs, int64_t endMs, Sink& sink, CutMade& made,
         std::wstring& problem);

}  // namespace trim
