#pragma once
// Trimming a recording on disk: the copy goes beside the original as
// "<name> (trimmed).mp4" (or the next free name), written through ".part";
// the original is only read.
#include <cstdint>
#include <string>

#include "trim/mp4_trim_core.h"

struct TrimOutcome {
    std::wstring path;  // the trimmed copy
    int64_t startMs = 0, endMs = 0;  // the cut as really made, in the original's time
};

// Reads the index of the MP4 at `path`; false with the sentence for the user.
bool ReadRecordingIndex(const std::wstring& path, trim::Movie& movie, std::wstring& problem);

// Cuts [startMs, endMs) of the MP4 at `path`. False with the sentence; no
// file is left behind then.
bool TrimRecording(const std::wstring& path, int64_t startMs, int64_t endMs, TrimOutcome& outcome,
                   std::wstring& problem);
