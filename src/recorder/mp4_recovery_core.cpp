#include "recorder/mp4_recovery_core.h"

#include <cstring>
#include <set>
#include <vector>

namespace mp4 {
namespace {

uint64_t Be(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

// One box found by Boxes: its type, where its content starts and its size.
struct Box {
    char type[4];
    uint64_t at;       // of the box
    uint64_t content;  // of what follows its header
    uint64_t size;     // of the whole box
};

// Walks the boxes of [begin, end), calling `each` for every whole one; false
// when a box is cut or unreadable (the boxes before it were walked).
template <typename Each>
bool Boxes(uint64_t begin, uint64_t end, const ReadAt& read, Each each) {
    uint64_t pos = begin;
    while (end - pos >= 8) {
        uint8_t h[16];
        if (!read(pos, h, 8)) return false;
        uint64_t size = Be(h, 4);
        uint64_t header = 8;
        if (size == 1) {
            if (end - pos < 16 || !read(pos, h, 16)) return false;
            size = Be(h + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = end - pos;  // runs to the end
        }
        if (size < header || size > end - pos) return false;
        Box box{};
        std::memcpy(box.type, h + 4, 4);
        box.at = pos;
        box.content = pos + header;
        box.size = size;
        if (!each(box)) return true;
        pos += size;
    }
    return pos == end;
}

bool Is(const Box& box, const char* type) { return std::memcmp(box.type, type, 4) == 0; }

// A full box's field of `bytes` bytes at `offset` into its content.
bool Field(const ReadAt& read, const Box& box, uint64_t offset, int bytes, uint64_t& value) {
    uint8_t raw[8];
    if (offset + static_cast<uint64_t>(bytes) > box.size - (box.content - box.at) || !read(box.content + offset, raw, static_cast<size_t>(bytes)))
        return false;
    value = Be(raw, bytes);
    return true;
}

// The ids of the moov's video tracks; false when the moov cannot be read.
bool VideoTracks(const Box& moov, const ReadAt& read, std::set<uint64_t>& tracks, bool& fragmented) {
    const uint64_t moovEnd = moov.at + moov.size;
    return Boxes(moov.content, moovEnd, read, [&](const Box& trak) {
        if (Is(trak, "mvex")) fragmented = true;
        if (!Is(trak, "trak")) return true;
        uint64_t id = 0;
        bool video = false;
        bool ok = Boxes(trak.content, trak.at + trak.size, read, [&](const Box& part) {
            if (Is(part, "tkhd")) {
                uint64_t version = 0;
                if (!Field(read, part, 0, 1, version) || !Field(read, part, version == 1 ? 20 : 12, 4, id)) return false;
            } else if (Is(part, "mdia")) {
                Boxes(part.content, part.at + part.size, read, [&](const Box& inner) {
                    uint64_t handler = 0;
                    if (Is(inner, "hdlr") && Field(read, inner, 8, 4, handler)) video = handler == 0x76696465;  // "vide"
                    return true;
                });
            }
            return true;
        });
        if (ok && video) tracks.insert(id);
        return true;
    });
}

// Whether a moof holds a sample of one of `tracks`.
bool HoldsPicture(const Box& moof, const ReadAt& read, const std::set<uint64_t>& tracks) {
    bool found = false;
    Boxes(moof.content, moof.at + moof.size, read, [&](const Box& traf) {
        if (!Is(traf, "traf")) return true;
        uint64_t track = 0;
        uint64_t samples = 0;
        Boxes(traf.content, traf.at + traf.size, read, [&](const Box& part) {
            uint64_t value = 0;
            if (Is(part, "tfhd") && Field(read, part, 4, 4, value)) track = value;
            if (Is(part, "trun") && Field(read, part, 4, 4, value)) samples += value;
            return true;
        });
        found = tracks.count(track) != 0 && samples > 0;
        return !found;
    });
    return found;
}

}  // namespace

uint64_t PlayableLength(uint64_t fileSize, const ReadAt& read) {
    uint64_t good = 0;
    bool sawMoov = false;
    bool afterMoof = false;
    uint64_t fragments = 0;  // whole moof + mdat pairs
    try {
        Boxes(0, fileSize, read, [&](const Box& box) {
            // A moof counts only together with the mdat after it.
            const bool moof = Is(box, "moof");
            if (!moof) good = box.at + box.size;
            if (Is(box, "moov")) sawMoov = true;
            if (afterMoof && Is(box, "mdat")) ++fragments;
            afterMoof = moof;
            return true;
        });
    } catch (...) {
    }
    // Without a whole fragment this is no recording of ours (a browser's
    // half-downloaded movie, say), and its tail is not ours to cut.
    return sawMoov && fragments > 0 ? good : 0;
}

PictureContent PictureIn(uint64_t fileSize, const ReadAt& read) {
    try {
        std::set<uint64_t> tracks;
        bool sawMoov = false, fragmented = false, moovRead = false, picture = false;
        bool pendingPicture = false;  // the moof before this box held a picture
        Boxes(0, fileSize, read, [&](const Box& box) {
            if (Is(box, "moov")) {
                sawMoov = true;
                moovRead = VideoTracks(box, read, tracks, fragmented);
            } else if (Is(box, "mdat") && pendingPicture) {
                picture = true;  // whole: the moof's samples are there
                return false;
            }
            pendingPicture = Is(box, "moof") && sawMoov && HoldsPicture(box, read, tracks);
            return true;
        });
        if (picture) return PictureContent::Some;
        if (sawMoov && moovRead && fragmented && !tracks.empty()) return PictureContent::None;
    } catch (...) {
    }
    return PictureContent::Unknown;
}

}  // namespace mp4
