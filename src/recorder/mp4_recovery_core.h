#pragma once
// Reading a recording that was cut short (the program or the computer
// stopped), for offering it back: how much of it plays, and whether it holds
// any picture at all.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace mp4 {

// Reads `size` bytes at `offset` into `out`; false when they cannot be read.
using ReadAt = std::function<bool(uint64_t offset, uint8_t* out, size_t size)>;

// The length of the longest prefix made of whole boxes, with every moof
// followed by its whole mdat. Cutting the file to it matters when the cut fell
// inside a moof, which makes ffmpeg reject the whole file. 0 when the moov
// itself is incomplete, or when not one whole fragment follows it: then the
// file is not a fragmented recording, and is kept whole.
uint64_t PlayableLength(uint64_t fileSize, const ReadAt& read);

enum class PictureContent {
    Some,     // a whole fragment holds a picture
    None,     // a fragmented recording whose whole fragments hold no picture
    Unknown,  // not a fragmented recording with a video track, or unreadable
};

// Whether a fragmented recording holds a picture: a sample of its video track
// (the track whose handler is "vide") in a whole moof + mdat.
PictureContent PictureIn(uint64_t fileSize, const ReadAt& read);

}  // namespace mp4
