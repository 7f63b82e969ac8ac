#include "trim/mp4_trim_core.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <new>

#include "recorder/mp4_boxes_core.h"

namespace trim {

const wchar_t kUnwritable[] = L"The trimmed copy could not be written. Check there is free space and try again.";

namespace {

constexpr int64_t kMicro = 1'000'000;
constexpr uint32_t kMovieTimescale = 1000;
constexpr size_t kCopyWindow = 4 << 20;
constexpr uint32_t kNonSyncFlag = 0x00010000;
// Times and offsets beyond this (about 290 years in microseconds) are not
// believed, so that sums of them never overflow.
constexpr int64_t kMaxTime = int64_t{1} << 53;

const wchar_t kNotMp4[] = L"This file is not an MP4 video that Ostrel can trim.";
const wchar_t kDamaged[] = L"This file is damaged: its index does not fit the file, so Ostrel can't trim it.";
const wchar_t kTooLarge[] = L"This file's index is larger than Ostrel can hold, so it can't be trimmed.";
const wchar_t kProtected[] = L"This file is protected, so Ostrel can't trim it.";
const wchar_t kNotH264[] = L"Ostrel can trim H.264 video only, and this file's picture is in another format.";
const wchar_t kNoPicture[] = L"This file has no picture to trim.";
const wchar_t kUnreadable[] = L"The file could not be read to the end, so no trimmed copy was made.";

int64_t Rescale(int64_t value, int64_t from, int64_t to) {
    if (from <= 0) return 0;
    // To the nearest unit, halves away from zero.
    const __int128 product = static_cast<__int128>(value) * to;
    const __int128 scaled = (product >= 0 ? product + from / 2 : product - from / 2) / from;
    if (scaled > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
    if (scaled < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(scaled);
}

uint32_t Get16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t Get32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint64_t Get64(const uint8_t* p) { return uint64_t{Get32(p)} << 32 | Get32(p + 4); }

bool Is(const char* type, const char* fourcc) { return std::memcmp(type, fourcc, 4) == 0; }

// One box inside a buffer: its type and its body (after the header).
struct Box {
    char type[4] = {};
    const uint8_t* body = nullptr;
    size_t size = 0;
};

// The boxes of [data, data + size); false when one does not fit.
bool Children(const uint8_t* data, size_t size, std::vector<Box>& boxes) {
    boxes.clear();
    size_t at = 0;
    while (at < size) {
        if (size - at < 8) return false;
        uint64_t length = Get32(data + at);
        size_t header = 8;
        if (length == 1) {
            if (size - at < 16) return false;
            length = Get64(data + at + 8);
            header = 16;
        } else if (length == 0) {
            length = size - at;
        }
        if (length < header || length > size - at) return false;
        Box box;
        std::memcpy(box.type, data + at + 4, 4);
        box.body = data + at + header;
        box.size = static_cast<size_t>(length) - header;
        boxes.push_back(box);
        at += static_cast<size_t>(length);
    }
    return true;
}

const Box* Find(const std::vector<Box>& boxes, const char* type) {
    for (const Box& box : boxes)
        if (Is(box.type, type)) return &box;
    return nullptr;
}

// A full box's body after its version and flags, with bounded reads.
class Fields {
public:
    explicit Fields(const Box& box) : data_(box.body), size_(box.size) {
        if (size_ >= 4) {
            version_ = data_[0];
            flags_ = Get32(data_) & 0xFFFFFF;
            at_ = 4;
        } else {
            ok_ = false;
        }
    }
    uint32_t version() const { return version_; }
    uint32_t flags() const { return flags_; }
    bool ok() const { return ok_; }
    size_t left() const { return ok_ ? size_ - at_ : 0; }
    uint32_t U16() { return Need(2) ? Get16(data_ + Advance(2)) : 0; }
    uint32_t U32() { return Need(4) ? Get32(data_ + Advance(4)) : 0; }
    uint64_t U64() { return Need(8) ? Get64(data_ + Advance(8)) : 0; }
    void Skip(size_t n) {
        if (Need(n)) at_ += n;
    }

private:
    bool Need(size_t n) {
        if (!ok_ || n > size_ - at_) ok_ = false;
        return ok_;
    }
    size_t Advance(size_t n) {
        const size_t was = at_;
        at_ += n;
        return was;
    }
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    uint32_t version_ = 0, flags_ = 0;
    bool ok_ = true;
};

struct Defaults {  // a track's trex
    uint32_t duration = 0, size = 0, flags = 0;
};

struct Parsed {
    uint32_t trackId = 0;
    bool video = false, sound = false;
    Track track;
    Defaults defaults;
};

class Reader {
public:
    Reader(Source& source, std::wstring& problem) : source_(source), problem_(problem), fileSize_(source.Size()) {}

    bool Run(Movie& movie) {
        uint64_t at = 0;
        bool sawMoov = false, sawFtyp = false;
        while (at < fileSize_) {
            uint8_t head[16];
            if (fileSize_ - at < 8) break;  // a few bytes of a box never finished
            if (!ReadAhead(at, head, 8)) return Fail(kUnreadable);
            uint64_t length = Get32(head);
            uint64_t header = 8;
            if (length == 1) {
                if (fileSize_ - at < 16 || !ReadAhead(at + 8, head + 8, 8)) return Fail(sawMoov ? kDamaged : kNotMp4);
                length = Get64(head + 8);
                header = 16;
            } else if (length == 0) {
                length = fileSize_ - at;
            }
            const char* type = reinterpret_cast<const char*>(head + 4);
            if (length < header) return Fail(sawMoov ? kDamaged : kNotMp4);
            if (at == 0 && !Is(type, "ftyp") && !Is(type, "moov") && !Is(type, "free") && !Is(type, "skip") &&
                !Is(type, "wide") && !Is(type, "mdat"))
                return Fail(kNotMp4);
            const bool whole = length <= fileSize_ - at;
            if (Is(type, "ftyp")) sawFtyp = true;
            if (Is(type, "moov")) {
                if (sawMoov || !whole) return Fail(whole ? kDamaged : kNotMp4);
                std::vector<uint8_t> body;
                if (!Load(at + header, length - header, body) || !ParseMoov(body)) return false;
                sawMoov = true;
            } else if (Is(type, "moof")) {
                // A recording cut off keeps its whole fragments; the rest is dropped.
                if (!sawMoov) return Fail(kDamaged);
                if (!whole) break;
                std::vector<uint8_t> body;
                if (!Load(at + header, length - header, body)) return false;
                bool complete = true;
                if (!ParseMoof(body, at, complete)) return false;
                if (!complete) break;
            } else if (!whole) {
                if (!Is(type, "mdat") || !sawMoov) return Fail(sawMoov ? kDamaged : kNotMp4);
                break;  // sample data past the end shows as samples outside the file
            }
            at += length;
        }
        if (!sawMoov) return Fail(sawFtyp ? kDamaged : kNotMp4);
        return Finish(movie);
    }

private:
    bool Fail(const wchar_t* sentence) {
        problem_ = sentence;
        return false;
    }

    bool Load(uint64_t offset, uint64_t size, std::vector<uint8_t>& out) {
        if (size > kMaxIndexBytes) return Fail(kTooLarge);
        try {
            out.resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            return Fail(kTooLarge);
        }
        return size == 0 || ReadAhead(offset, out.data(), out.size()) || Fail(kUnreadable);
    }

    // Box headers and small boxes come from a few kilobytes read at once: a
    // recording of one fragment a picture has a hundred thousand of them an
    // hour, and one read each made its index slow to open. Larger reads go
    // to the file straight.
    bool ReadAhead(uint64_t offset, void* out, size_t size) {
        if (size > kAhead) return source_.Read(offset, out, size);
        if (offset > fileSize_) return false;
        if (offset < aheadAt_ || offset - aheadAt_ > ahead_.size() || ahead_.size() - (offset - aheadAt_) < size) {
            const size_t fill = static_cast<size_t>(std::min<uint64_t>(kAhead, fileSize_ - offset));
            if (fill < size) return false;
            ahead_.resize(fill);
            if (!source_.Read(offset, ahead_.data(), fill)) {
                ahead_.clear();
                return false;
            }
            aheadAt_ = offset;
        }
        std::memcpy(out, ahead_.data() + (offset - aheadAt_), size);
        return true;
    }

    bool Reserve(size_t more) {
        if (more > kMaxSamples - samples_) return Fail(kTooLarge);
        samples_ += more;
        return true;
    }

    bool ParseMoov(const std::vector<uint8_t>& body) {
        std::vector<Box> boxes;
        if (!Children(body.data(), body.size(), boxes)) return Fail(kDamaged);
        if (const Box* mvhd = Find(boxes, "mvhd")) {
            Fields f(*mvhd);
            f.Skip(f.version() == 1 ? 16 : 8);
            movieTimescale_ = f.U32();
            if (!f.ok()) return Fail(kDamaged);
        }
        for (const Box& box : boxes) {
            if (Is(box.type, "trak") && !ParseTrak(box)) return false;
        }
        if (const Box* mvex = Find(boxes, "mvex")) {
            std::vector<Box> inner;
            if (!Children(mvex->body, mvex->size, inner)) return Fail(kDamaged);
            for (const Box& trex : inner) {
                if (!Is(trex.type, "trex")) continue;
                Fields f(trex);
                const uint32_t id = f.U32();
                f.U32();  // description index: one is all a track may have here
                Defaults d{f.U32(), f.U32(), f.U32()};
                if (!f.ok()) return Fail(kDamaged);
                for (Parsed& p : parsed_)
                    if (p.trackId == id) p.defaults = d;
            }
        }
        return true;
    }

    bool ParseTrak(const Box& trak) {
        std::vector<Box> boxes, mdia, minf, stbl;
        if (!Children(trak.body, trak.size, boxes)) return Fail(kDamaged);
        const Box* tkhd = Find(boxes, "tkhd");
        const Box* mdiaBox = Find(boxes, "mdia");
        if (tkhd == nullptr || mdiaBox == nullptr || !Children(mdiaBox->body, mdiaBox->size, mdia)) return Fail(kDamaged);
        Parsed p;
        {
            Fields f(*tkhd);
            f.Skip(f.version() == 1 ? 16 : 8);
            p.trackId = f.U32();
            if (!f.ok() || tkhd->size < 8) return Fail(kDamaged);
            p.track.width = Get32(tkhd->body + tkhd->size - 8);
            p.track.height = Get32(tkhd->body + tkhd->size - 4);
        }
        const Box* hdlr = Find(mdia, "hdlr");
        const Box* mdhd = Find(mdia, "mdhd");
        if (hdlr == nullptr || mdhd == nullptr || hdlr->size < 12) return Fail(kDamaged);
        p.video = Is(reinterpret_cast<const char*>(hdlr->body + 8), "vide");
        p.sound = Is(reinterpret_cast<const char*>(hdlr->body + 8), "soun");
        if (!p.video && !p.sound) return true;  // text, time codes: not kept
        {
            Fields f(*mdhd);
            f.Skip(f.version() == 1 ? 16 : 8);
            p.track.timescale = f.U32();
            f.Skip(f.version() == 1 ? 8 : 4);
            p.track.language = static_cast<uint16_t>(f.U16());
            if (!f.ok() || p.track.timescale == 0) return Fail(kDamaged);
        }
        if (const Box* edts = Find(boxes, "edts")) {
            std::vector<Box> inner;
            if (!Children(edts->body, edts->size, inner)) return Fail(kDamaged);
            if (const Box* elst = Find(inner, "elst"); elst != nullptr && !ParseEdits(*elst, p.track)) return false;
        }
        const Box* minfBox = Find(mdia, "minf");
        if (minfBox == nullptr || !Children(minfBox->body, minfBox->size, minf)) return Fail(kDamaged);
        const Box* stblBox = Find(minf, "stbl");
        if (stblBox == nullptr || !Children(stblBox->body, stblBox->size, stbl)) return Fail(kDamaged);
        if (!ParseSampleTables(stbl, p.track)) return false;
        parsed_.push_back(std::move(p));
        return true;
    }

    bool ParseEdits(const Box& elst, Track& track) {
        Fields f(elst);
        const uint32_t count = f.U32();
        for (uint32_t i = 0; i < count && f.ok(); ++i) {
            const uint64_t duration = f.version() == 1 ? f.U64() : f.U32();
            const int64_t media = f.version() == 1 ? static_cast<int64_t>(f.U64())
                                                   : static_cast<int64_t>(static_cast<int32_t>(f.U32()));
            f.Skip(4);
            if (!f.ok()) break;
            if (media == -1) {
                const int64_t delay = Rescale(static_cast<int64_t>(std::min<uint64_t>(duration, kMaxTime)),
                                              movieTimescale_ != 0 ? movieTimescale_ : 1000, kMicro);
                track.delayUs = std::min(track.delayUs + std::min(delay, kMaxTime), kMaxTime);
                continue;
            }
            // The first edit that shows media is the one followed; later
            // ones (rare) are not, and the cut plays as one piece.
            track.mediaStart = std::clamp<int64_t>(media, 0, kMaxTime);
            break;
        }
        return f.ok() || Fail(kDamaged);
    }

    bool ParseSampleTables(const std::vector<Box>& stbl, Track& track) {
        const Box* stsd = Find(stbl, "stsd");
        if (stsd == nullptr || stsd->size < 16) return Fail(kDamaged);
        if (Get32(stsd->body + 4) != 1) return Fail(Get32(stsd->body + 4) == 0 ? kDamaged : kNotH264);
        track.format.assign(reinterpret_cast<const char*>(stsd->body + 12), 4);
        if (stsd->size > 0xFFFFFFF0u) return Fail(kDamaged);
        {
            mp4::Boxes b(track.sampleDescriptions);
            b.U32(static_cast<uint32_t>(stsd->size + 8));
            b.Type("stsd");
        }
        track.sampleDescriptions.insert(track.sampleDescriptions.end(), stsd->body, stsd->body + stsd->size);

        std::vector<uint32_t> sizes;
        uint32_t count = 0;
        if (const Box* stsz = Find(stbl, "stsz")) {
            Fields f(*stsz);
            const uint32_t constant = f.U32();
            count = f.U32();
            if (!f.ok() || !Reserve(count)) return f.ok() ? false : Fail(kDamaged);
            if (constant == 0 && f.left() / 4 < count) return Fail(kDamaged);
            sizes.resize(count, constant);
            if (constant == 0)
                for (uint32_t& s : sizes) s = f.U32();
        } else if (const Box* stz2 = Find(stbl, "stz2")) {
            Fields f(*stz2);
            const uint32_t field = f.U32() & 0xFF;
            count = f.U32();
            if (!f.ok() || (field != 4 && field != 8 && field != 16)) return Fail(kDamaged);
            if (!Reserve(count)) return false;
            if ((uint64_t{count} * field + 7) / 8 > f.left()) return Fail(kDamaged);
            const uint8_t* table = stz2->body + 12;
            sizes.resize(count);
            for (uint32_t i = 0; i < count; ++i) {
                if (field == 16) sizes[i] = Get16(table + 2 * i);
                else if (field == 8) sizes[i] = table[i];
                else sizes[i] = (i % 2 == 0 ? table[i / 2] >> 4 : table[i / 2]) & 0xF;
            }
        } else if (Find(stbl, "stts") == nullptr) {
            return true;  // samples only in fragments
        } else {
            return Fail(kDamaged);
        }
        if (count == 0) return true;
        std::vector<Sample>& samples = track.samples;
        try {
            samples.resize(count);
        } catch (const std::bad_alloc&) {
            return Fail(kTooLarge);
        }
        for (uint32_t i = 0; i < count; ++i) samples[i].size = sizes[i];
        std::vector<uint32_t>().swap(sizes);

        // Times.
        const Box* stts = Find(stbl, "stts");
        if (stts == nullptr) return Fail(kDamaged);
        {
            Fields f(*stts);
            const uint32_t entries = f.U32();
            size_t n = 0;
            int64_t time = 0;
            for (uint32_t e = 0; e < entries && f.ok(); ++e) {
                const uint32_t run = f.U32(), delta = f.U32();
                if (!f.ok() || run > count - n) return Fail(kDamaged);
                for (uint32_t k = 0; k < run; ++k, ++n) {
                    samples[n].decodeTime = time;
                    samples[n].duration = delta;
                    time += delta;
                }
            }
            if (!f.ok() || n != count) return Fail(kDamaged);
        }
        if (const Box* ctts = Find(stbl, "ctts")) {
            Fields f(*ctts);
            const uint32_t entries = f.U32();
            size_t n = 0;
            for (uint32_t e = 0; e < entries && f.ok() && n < count; ++e) {
                const uint32_t run = f.U32();
                const auto offset = static_cast<int32_t>(f.U32());
                if (!f.ok() || run > count - n) return Fail(kDamaged);
                for (uint32_t k = 0; k < run; ++k) samples[n++].compositionOffset = offset;
            }
            if (!f.ok()) return Fail(kDamaged);
        }
        if (const Box* stss = Find(stbl, "stss")) {
            Fields f(*stss);
            const uint32_t entries = f.U32();
            if (!f.ok() || f.left() / 4 < entries) return Fail(kDamaged);
            for (uint32_t e = 0; e < entries; ++e) {
                const uint32_t number = f.U32();
                if (number == 0 || number > count) return Fail(kDamaged);
                samples[number - 1].sync = true;
            }
        } else {
            for (Sample& s : samples) s.sync = true;
        }

        // Places: chunks, and how many samples each holds.
        std::vector<uint64_t> chunks;
        if (const Box* stco = Find(stbl, "stco")) {
            Fields f(*stco);
            const uint32_t entries = f.U32();
            if (!f.ok() || f.left() / 4 < entries) return Fail(kDamaged);
            chunks.resize(entries);
            for (uint64_t& c : chunks) c = f.U32();
        } else if (const Box* co64 = Find(stbl, "co64")) {
            Fields f(*co64);
            const uint32_t entries = f.U32();
            if (!f.ok() || f.left() / 8 < entries) return Fail(kDamaged);
            chunks.resize(entries);
            for (uint64_t& c : chunks) c = f.U64();
        } else {
            return Fail(kDamaged);
        }
        const Box* stsc = Find(stbl, "stsc");
        if (stsc == nullptr) return Fail(kDamaged);
        Fields f(*stsc);
        const uint32_t entries = f.U32();
        if (!f.ok() || f.left() / 12 < entries || entries == 0) return Fail(kDamaged);
        std::vector<std::pair<uint32_t, uint32_t>> runs(entries);  // first chunk (1-based), samples per chunk
        for (auto& run : runs) {
            run.first = f.U32();
            run.second = f.U32();
            if (f.U32() != 1) return Fail(kDamaged);
        }
        if (runs[0].first != 1) return Fail(kDamaged);
        size_t n = 0;
        size_t r = 0;
        for (size_t c = 0; c < chunks.size() && n < count; ++c) {
            while (r + 1 < runs.size() && runs[r + 1].first <= c + 1) {
                if (runs[r + 1].first <= runs[r].first) return Fail(kDamaged);
                ++r;
            }
            uint64_t at = chunks[c];
            for (uint32_t k = 0; k < runs[r].second && n < count; ++k, ++n) {
                samples[n].offset = at;
                if (samples[n].size > fileSize_ || at > fileSize_ - samples[n].size) return Fail(kDamaged);
                at += samples[n].size;
            }
        }
        return n == count || Fail(kDamaged);
    }

    // One fragment; `complete` goes false when its data lies past the file's end.
    bool ParseMoof(const std::vector<uint8_t>& body, uint64_t moofStart, bool& complete) {
        std::vector<Box> boxes;
        if (!Children(body.data(), body.size(), boxes)) return Fail(kDamaged);
        std::vector<std::pair<Parsed*, std::vector<Sample>>> found;
        for (const Box& traf : boxes) {
            if (!Is(traf.type, "traf")) continue;
            std::vector<Box> inner;
            if (!Children(traf.body, traf.size, inner)) return Fail(kDamaged);
            const Box* tfhd = Find(inner, "tfhd");
            if (tfhd == nullptr) return Fail(kDamaged);
            Fields h(*tfhd);
            const uint32_t id = h.U32();
            Parsed* p = nullptr;
            for (Parsed& candidate : parsed_)
                if (candidate.trackId == id) p = &candidate;
            if (p == nullptr) continue;
            uint64_t base = moofStart;
            if (h.flags() & 0x01) base = h.U64();
            if (h.flags() & 0x02) h.U32();
            Defaults d = p->defaults;
            if (h.flags() & 0x08) d.duration = h.U32();
            if (h.flags() & 0x10) d.size = h.U32();
            if (h.flags() & 0x20) d.flags = h.U32();
            if (!h.ok()) return Fail(kDamaged);
            int64_t time = p->track.samples.empty() ? 0
                                                    : p->track.samples.back().decodeTime + p->track.samples.back().duration;
            for (const auto& [other, list] : found)
                if (other == p && !list.empty()) time = list.back().decodeTime + list.back().duration;
            if (const Box* tfdt = Find(inner, "tfdt")) {
                Fields t(*tfdt);
                const uint64_t value = t.version() == 1 ? t.U64() : t.U32();
                if (!t.ok() || value > static_cast<uint64_t>(kMaxTime)) return Fail(kDamaged);
                time = static_cast<int64_t>(value);
            }
            std::vector<Sample> list;
            uint64_t next = base;
            for (const Box& trun : inner) {
                if (!Is(trun.type, "trun")) continue;
                Fields t(trun);
                const uint32_t flags = t.flags();
                const uint32_t n = t.U32();
                uint64_t at = next;
                if (flags & 0x01) {
                    const auto offset = static_cast<int32_t>(t.U32());
                    at = base + static_cast<uint64_t>(static_cast<int64_t>(offset));
                }
                const bool firstFlags = (flags & 0x04) != 0;
                const uint32_t first = firstFlags ? t.U32() : 0;
                const size_t each = 4 * (((flags & 0x100) != 0) + ((flags & 0x200) != 0) + ((flags & 0x400) != 0) +
                                         ((flags & 0x800) != 0));
                if (!t.ok() || (each != 0 && t.left() / each < n) || (each == 0 && n > kMaxSamples))
                    return Fail(kDamaged);
                if (!Reserve(n)) return false;
                for (uint32_t i = 0; i < n; ++i) {
                    Sample s;
                    s.duration = (flags & 0x100) ? t.U32() : d.duration;
                    s.size = (flags & 0x200) ? t.U32() : d.size;
                    uint32_t sampleFlags = (flags & 0x400) ? t.U32() : d.flags;
                    if (i == 0 && firstFlags) sampleFlags = first;
                    s.compositionOffset = (flags & 0x800) ? static_cast<int32_t>(t.U32()) : 0;
                    s.sync = p->sound || (sampleFlags & kNonSyncFlag) == 0;
                    s.decodeTime = time;
                    s.offset = at;
                    if (at > fileSize_ || s.size > fileSize_ - at) complete = false;
                    time += s.duration;
                    at += s.size;
                    list.push_back(s);
                }
                next = at;
            }
            found.emplace_back(p, std::move(list));
        }
        if (!complete) return true;
        for (auto& [p, list] : found) p->track.samples.insert(p->track.samples.end(), list.begin(), list.end());
        return true;
    }

    bool Finish(Movie& movie) {
        Parsed* video = nullptr;
        Parsed* sound = nullptr;
        for (Parsed& p : parsed_) {
            if (p.video && video == nullptr) video = &p;
            if (p.sound && sound == nullptr) sound = &p;
        }
        if (video == nullptr) return Fail(kNoPicture);
        const std::string& v = video->track.format;
        if (v == "encv" || (sound != nullptr && sound->track.format == "enca")) return Fail(kProtected);
        if (v != "avc1" && v != "avc3") return Fail(kNotH264);
        video->track.video = true;
        const auto firstSync = std::find_if(video->track.samples.begin(), video->track.samples.end(),
                                            [](const Sample& s) { return s.sync; });
        if (firstSync == video->track.samples.end()) return Fail(kNoPicture);
        movie.tracks.clear();
        movie.tracks.push_back(std::move(video->track));
        if (sound != nullptr && !sound->track.samples.empty()) movie.tracks.push_back(std::move(sound->track));
        // A sample lasts until the next begins: a gap between fragments (a
        // pause) is kept when the copy's times are made from durations.
        for (Track& track : movie.tracks) {
            std::vector<Sample>& s = track.samples;
            for (size_t i = 0; i + 1 < s.size(); ++i) {
                if (s[i + 1].decodeTime < s[i].decodeTime) return Fail(kDamaged);
                const int64_t gap = s[i + 1].decodeTime - s[i].decodeTime;
                if (gap > 0xFFFFFFFFll) return Fail(kDamaged);
                s[i].duration = static_cast<uint32_t>(gap);
            }
        }
        const Track& picture = movie.tracks.front();
        movie.durationUs = 0;
        for (size_t i = 0; i < picture.samples.size(); ++i)
            movie.durationUs = std::max(movie.durationUs, picture.PresentationUs(i) +
                                                              Rescale(picture.samples[i].duration, picture.timescale, kMicro));
        return true;
    }

    static constexpr size_t kAhead = 16 * 1024;

    Source& source_;
    std::wstring& problem_;
    const uint64_t fileSize_;
    std::vector<uint8_t> ahead_;
    uint64_t aheadAt_ = 0;
    uint32_t movieTimescale_ = 1000;
    size_t samples_ = 0;
    std::vector<Parsed> parsed_;
};

// ---- Writing ----------------------------------------------------------------

struct Kept {
    const Track* track = nullptr;
    size_t first = 0, last = 0;  // samples [first, last] of the track
    // The edit list: empty time first (movie time scale), then what is shown.
    int64_t emptyMs = 0;
    int64_t shownMs = 0;
    int64_t mediaTime = 0;  // track time scale
    std::vector<uint64_t> chunkOffsets;  // in the output
    std::vector<uint32_t> chunkCounts;
};

struct Chunk {
    size_t kept = 0;       // which of the kept tracks
    size_t first = 0;      // sample of that track
    size_t count = 0;
    int64_t startUs = 0;
    uint64_t bytes = 0;
};

void WriteTables(mp4::Boxes& b, const Kept& k, bool wide) {
    const Track& t = *k.track;
    const auto at = [&](size_t i) -> const Sample& { return t.samples[k.first + i]; };
    const size_t n = k.last - k.first + 1;
    size_t box = b.Open("stbl");
    b.Raw(t.sampleDescriptions);

    size_t inner = b.OpenFull("stts", 0, 0);
    const size_t sttsCount = b.Size();
    b.U32(0);
    uint32_t entries = 0;
    for (size_t i = 0; i < n;) {
        size_t j = i;
        while (j < n && at(j).duration == at(i).duration) ++j;
        b.U32(static_cast<uint32_t>(j - i));
        b.U32(at(i).duration);
        ++entries;
        i = j;
    }
    b.Patch32(sttsCount, entries);
    b.Close(inner);

    bool offsets = false, negative = false;
    for (size_t i = 0; i < n; ++i) {
        offsets |= at(i).compositionOffset != 0;
        negative |= at(i).compositionOffset < 0;
    }
    if (offsets) {
        inner = b.OpenFull("ctts", negative ? 1 : 0, 0);
        const size_t cttsCount = b.Size();
        b.U32(0);
        entries = 0;
        for (size_t i = 0; i < n;) {
            size_t j = i;
            while (j < n && at(j).compositionOffset == at(i).compositionOffset) ++j;
            b.U32(static_cast<uint32_t>(j - i));
            b.U32(static_cast<uint32_t>(at(i).compositionOffset));
            ++entries;
            i = j;
        }
        b.Patch32(cttsCount, entries);
        b.Close(inner);
    }

    size_t syncs = 0;
    for (size_t i = 0; i < n; ++i) syncs += at(i).sync;
    if (syncs != n) {
        inner = b.OpenFull("stss", 0, 0);
        b.U32(static_cast<uint32_t>(syncs));
        for (size_t i = 0; i < n; ++i)
            if (at(i).sync) b.U32(static_cast<uint32_t>(i + 1));
        b.Close(inner);
    }

    // A size of 0 in the box means that a table follows, so empty samples get one.
    bool same = at(0).size != 0;
    for (size_t i = 1; i < n && same; ++i) same = at(i).size == at(0).size;
    inner = b.OpenFull("stsz", 0, 0);
    b.U32(same ? at(0).size : 0);
    b.U32(static_cast<uint32_t>(n));
    if (!same)
        for (size_t i = 0; i < n; ++i) b.U32(at(i).size);
    b.Close(inner);

    inner = b.OpenFull("stsc", 0, 0);
    const size_t stscCount = b.Size();
    b.U32(0);
    entries = 0;
    for (size_t c = 0; c < k.chunkCounts.size(); ++c) {
        if (c > 0 && k.chunkCounts[c] == k.chunkCounts[c - 1]) continue;
        b.U32(static_cast<uint32_t>(c + 1));
        b.U32(k.chunkCounts[c]);
        b.U32(1);
        ++entries;
    }
    b.Patch32(stscCount, entries);
    b.Close(inner);

    inner = b.OpenFull(wide ? "co64" : "stco", 0, 0);
    b.U32(static_cast<uint32_t>(k.chunkOffsets.size()));
    for (uint64_t offset : k.chunkOffsets) {
        if (wide) b.U64(offset);
        else b.U32(static_cast<uint32_t>(offset));
    }
    b.Close(inner);
    b.Close(box);
}

int64_t MediaDuration(const Kept& k) {
    int64_t total = 0;
    for (size_t i = k.first; i <= k.last; ++i) total += k.track->samples[i].duration;
    return total;
}

void WriteMoov(std::vector<uint8_t>& out, const std::vector<Kept>& kept, int64_t durationMs, bool wide) {
    mp4::Boxes b(out);
    const size_t moov = b.Open("moov");
    size_t box = b.OpenFull("mvhd", 1, 0);
    b.U64(0);
    b.U64(0);
    b.U32(kMovieTimescale);
    b.U64(static_cast<uint64_t>(durationMs));
    b.U32(0x00010000);
    b.U16(0x0100);
    b.Zeros(10);
    b.Matrix();
    b.Zeros(24);
    b.U32(static_cast<uint32_t>(kept.size() + 1));
    b.Close(box);
    for (size_t i = 0; i < kept.size(); ++i) {
        const Kept& k = kept[i];
        const Track& t = *k.track;
        const size_t trak = b.Open("trak");
        box = b.OpenFull("tkhd", 1, 3);
        b.U64(0);
        b.U64(0);
        b.U32(static_cast<uint32_t>(i + 1));
        b.U32(0);
        b.U64(static_cast<uint64_t>(k.emptyMs + k.shownMs));
        b.Zeros(8);
        b.U16(0);
        b.U16(t.video ? 0 : 1);
        b.U16(t.video ? 0 : 0x0100);
        b.U16(0);
        b.Matrix();
        b.U32(t.video ? t.width : 0);
        b.U32(t.video ? t.height : 0);
        b.Close(box);

        const size_t edts = b.Open("edts");
        box = b.OpenFull("elst", 1, 0);
        b.U32(k.emptyMs > 0 ? 2 : 1);
        if (k.emptyMs > 0) {
            b.U64(static_cast<uint64_t>(k.emptyMs));
            b.U64(static_cast<uint64_t>(-1));
            b.U32(0x00010000);
        }
        b.U64(static_cast<uint64_t>(k.shownMs));
        b.U64(static_cast<uint64_t>(k.mediaTime));
        b.U32(0x00010000);
        b.Close(box);
        b.Close(edts);

        const size_t mdia = b.Open("mdia");
        box = b.OpenFull("mdhd", 1, 0);
        b.U64(0);
        b.U64(0);
        b.U32(t.timescale);
        b.U64(static_cast<uint64_t>(MediaDuration(k)));
        b.U16(t.language);
        b.U16(0);
        b.Close(box);
        box = b.OpenFull("hdlr", 0, 0);
        b.U32(0);
        b.Type(t.video ? "vide" : "soun");
        b.Zeros(12);
        const char* name = t.video ? "NIRA Ostrel picture" : "NIRA Ostrel sound";
        b.Raw(std::vector<uint8_t>(name, name + std::strlen(name) + 1));
        b.Close(box);
        const size_t minf = b.Open("minf");
        if (t.video) {
            box = b.OpenFull("vmhd", 0, 1);
            b.Zeros(8);
        } else {
            box = b.OpenFull("smhd", 0, 0);
            b.Zeros(4);
        }
        b.Close(box);
        const size_t dinf = b.Open("dinf");
        box = b.OpenFull("dref", 0, 0);
        b.U32(1);
        b.Close(b.OpenFull("url ", 0, 1));
        b.Close(box);
        b.Close(dinf);
        WriteTables(b, k, wide);
        b.Close(minf);
        b.Close(mdia);
        b.Close(trak);
    }
    b.Close(moov);
}

// Copies byte ranges from the source to the sink. Files interleave their
// tracks sample by sample, so the ranges are small and close together: they
// are served from a window of the file read ahead, not read one by one.
class Copier {
public:
    Copier(Source& source, Sink& sink) : source_(source), sink_(sink) {}
    bool Allocate() {
        try {
            window_.resize(kCopyWindow);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    // false: `readFailed` tells which side failed.
    bool Copy(uint64_t offset, uint64_t size, bool& readFailed) {
        while (size > 0) {
            if (offset < windowStart_ || offset >= windowStart_ + windowSize_) {
                windowStart_ = offset;
                windowSize_ = static_cast<size_t>(std::min<uint64_t>(window_.size(), source_.Size() - offset));
                if (windowSize_ == 0 || !source_.Read(offset, window_.data(), windowSize_)) {
                    windowSize_ = 0;
                    readFailed = true;
                    return false;
                }
            }
            const size_t within = static_cast<size_t>(offset - windowStart_);
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(size, windowSize_ - within));
            if (!sink_.Write(window_.data() + within, piece)) return false;
            offset += piece;
            size -= piece;
        }
        return true;
    }

private:
    Source& source_;
    Sink& sink_;
    std::vector<uint8_t> window_;
    uint64_t windowStart_ = 0;
    size_t windowSize_ = 0;
};

}  // namespace

int64_t Track::PresentationUs(size_t i) const {
    const Sample& s = samples[i];
    return Rescale(s.decodeTime + s.compositionOffset - mediaStart, timescale, kMicro) + delayUs;
}

bool ReadMovie(Source& source, Movie& movie, std::wstring& problem) {
    movie = Movie{};
    Reader reader(source, problem);
    return reader.Run(movie);
}

bool Cut(Source& source, const Movie& movie, int64_t startMs, int64_t endMs, Sink& sink, CutMade& made,
         std::wstring& problem) {
    made = CutMade{};
    const int64_t lengthMs = (movie.durationUs + 999) / 1000;
    if (movie.tracks.empty()) {
        problem = kNoPicture;
        return false;
    }
    if (startMs < 0 || endMs <= startMs || startMs >= lengthMs) {
        problem = L"Choose a start before the end, within the recording's " + std::to_wstring((lengthMs + 500) / 1000) +
                  L" seconds.";
        return false;
    }
    const int64_t askedStart = startMs * 1000;
    const int64_t askedEnd = std::min(endMs * 1000, movie.durationUs);
    const Track& video = movie.Video();
    const size_t n = video.samples.size();

    // From the key picture at or before the start, in decode order, to the
    // last picture that begins before the end.
    size_t key = n;
    for (size_t i = 0; i < n; ++i) {
        if (!video.samples[i].sync) continue;
        if (key == n || video.PresentationUs(i) <= askedStart) key = i;
        if (video.PresentationUs(i) > askedStart) break;
    }
    const int64_t start = video.PresentationUs(key);
    size_t last = key;
    int64_t lastShown = start;
    for (size_t i = key; i < n; ++i) {
        const int64_t at = video.PresentationUs(i);
        if (at < askedEnd) {
            last = i;
            lastShown = std::max(lastShown, at);
        }
    }
    // The cut ends where the picture after the last one kept begins.
    int64_t end = lastShown + Rescale(video.samples[last].duration, video.timescale, kMicro);
    for (size_t i = 0; i < n; ++i) {
        const int64_t at = video.PresentationUs(i);
        if (at > lastShown && at < end) end = at;
    }
    end = std::max(end, start + 1);

    std::vector<Kept> kept;
    Kept picture;
    picture.track = &video;
    picture.first = key;
    picture.last = last;
    picture.shownMs = (end - start + 500) / 1000;
    picture.mediaTime = video.samples[key].compositionOffset;
    kept.push_back(picture);

    if (const Track* sound = movie.Sound()) {
        const size_t m = sound->samples.size();
        size_t first = m, final = m;
        for (size_t i = 0; i < m; ++i) {
            const int64_t at = sound->PresentationUs(i);
            const int64_t until = at + Rescale(sound->samples[i].duration, sound->timescale, kMicro);
            if (until <= start || at >= end) continue;
            if (first == m) first = i;
            final = i;
        }
        if (first != m) {
            // AAC decodes a block from the one before it as well.
            if (sound->format == "mp4a" && first > 0 && sound->PresentationUs(first) <= start) --first;
            Kept k;
            k.track = sound;
            k.first = first;
            k.last = final;
            const int64_t from = sound->PresentationUs(first);
            if (from <= start) {
                k.mediaTime = Rescale(start - from, kMicro, sound->timescale);
                k.shownMs = picture.shownMs;
            } else {
                k.emptyMs = (from - start + 500) / 1000;
                k.shownMs = std::max<int64_t>(picture.shownMs - k.emptyMs, 0);
            }
            kept.push_back(k);
        }
    }

    // Chunks of half a second or 4 MiB, interleaved by time.
    std::vector<Chunk> chunks;
    for (size_t t = 0; t < kept.size(); ++t) {
        const Track& track = *kept[t].track;
        const int64_t span = track.timescale / 2;
        Chunk c;
        for (size_t i = kept[t].first; i <= kept[t].last; ++i) {
            const Sample& s = track.samples[i];
            if (c.count != 0 && (s.decodeTime - track.samples[c.first].decodeTime >= span || c.bytes >= (4u << 20))) {
                chunks.push_back(c);
                c = Chunk{};
            }
            if (c.count == 0) {
                c.kept = t;
                c.first = i;
                c.startUs = Rescale(s.decodeTime, track.timescale, kMicro);
            }
            ++c.count;
            c.bytes += s.size;
        }
        if (c.count != 0) chunks.push_back(c);
    }
    std::stable_sort(chunks.begin(), chunks.end(), [](const Chunk& a, const Chunk& b) { return a.startUs < b.startUs; });
    uint64_t data = 0;
    for (const Chunk& c : chunks) data += c.bytes;
    const bool wide = data > 0xFFFFFFFFull - (64u << 20);
    const uint64_t mdatHeader = data + 8 > 0xFFFFFFFFull ? 16 : 8;

    std::vector<uint8_t> head;
    {
        mp4::Boxes b(head);
        const size_t ftyp = b.Open("ftyp");
        b.Type("isom");
        b.U32(0x200);
        for (const char* brand : {"isom", "iso2", "avc1", "mp41"}) b.Type(brand);
        b.Close(ftyp);
    }
    const int64_t durationMs = picture.shownMs;
    try {
        // Once with no offsets to learn the index's size, then with them.
        for (Kept& k : kept) {
            k.chunkOffsets.clear();
            k.chunkCounts.clear();
        }
        for (const Chunk& c : chunks) {
            kept[c.kept].chunkOffsets.push_back(0);
            kept[c.kept].chunkCounts.push_back(static_cast<uint32_t>(c.count));
        }
        std::vector<uint8_t> sized;
        WriteMoov(sized, kept, durationMs, wide);
        uint64_t at = head.size() + sized.size() + mdatHeader;
        std::vector<size_t> next(kept.size(), 0);
        for (const Chunk& c : chunks) {
            kept[c.kept].chunkOffsets[next[c.kept]++] = at;
            at += c.bytes;
        }
        WriteMoov(head, kept, durationMs, wide);
        mp4::Boxes b(head);
        if (mdatHeader == 16) {
            b.U32(1);
            b.Type("mdat");
            b.U64(data + 16);
        } else {
            b.U32(static_cast<uint32_t>(data + 8));
            b.Type("mdat");
        }
    } catch (const std::bad_alloc&) {
        problem = kTooLarge;
        return false;
    }

    Copier copier(source, sink);
    if (!copier.Allocate()) {
        problem = kTooLarge;
        return false;
    }
    if (!sink.Write(head.data(), head.size())) {
        problem = kUnwritable;
        return false;
    }
    made.bytes = head.size();
    for (const Chunk& c : chunks) {
        const Track& track = *kept[c.kept].track;
        // Samples that follow each other in the file are copied together.
        size_t i = c.first;
        while (i < c.first + c.count) {
            uint64_t from = track.samples[i].offset, size = track.samples[i].size;
            size_t j = i + 1;
            while (j < c.first + c.count && track.samples[j].offset == from + size) size += track.samples[j++].size;
            bool readFailed = false;
            if (!copier.Copy(from, size, readFailed)) {
                problem = readFailed ? kUnreadable : kUnwritable;
                return false;
            }
            made.bytes += size;
            i = j;
        }
    }
    made.startUs = start;
    made.endUs = end;
    return true;
}

}  // namespace trim
