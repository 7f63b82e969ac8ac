"""An hour-long recording in the test build's own form, made from a short one:
its ftyp and moov as they are, then one fragment per picture for an hour, every
fragment pointing (by an explicit base offset) at the short recording's first
picture, which is stored once. So the index is that of a real hour at 30
pictures a second, 108,000 fragments, and the file stays small.

    python3 bench/long_recording.py SHORT.mp4 LONG.mp4 [SECONDS]
"""
import struct
import sys


def boxes(data, start, end):
    while start + 8 <= end:
        size, kind = struct.unpack(">I4s", data[start:start + 8])
        header = 8
        if size == 1:
            size = struct.unpack(">Q", data[start + 8:start + 16])[0]
            header = 16
        if size < header or start + size > end:
            raise ValueError("a box does not fit")
        yield kind.decode("latin-1"), start, start + header, start + size
        start += size


def child(data, start, end, kind):
    return next((b for b in boxes(data, start, end) if b[0] == kind), None)


def first_picture(data):
    """The first video fragment's sample: its bytes, duration and flags."""
    for kind, start, body, end in boxes(data, 0, len(data)):
        if kind != "moof":
            continue
        traf = child(data, body, end, "traf")
        _, _, tfhd_body, _ = child(data, traf[2], traf[3], "tfhd")
        flags = struct.unpack(">I", data[tfhd_body:tfhd_body + 4])[0] & 0xFFFFFF
        track = struct.unpack(">I", data[tfhd_body + 4:tfhd_body + 8])[0]
        if track != 1:
            continue
        at = tfhd_body + 8
        base = start  # default-base-is-moof, as our writer marks it
        if flags & 0x1:
            base = struct.unpack(">Q", data[at:at + 8])[0]
            at += 8
        default_duration = default_size = default_flags = 0
        if flags & 0x2:
            at += 4
        if flags & 0x8:
            default_duration = struct.unpack(">I", data[at:at + 4])[0]
            at += 4
        if flags & 0x10:
            default_size = struct.unpack(">I", data[at:at + 4])[0]
            at += 4
        if flags & 0x20:
            default_flags = struct.unpack(">I", data[at:at + 4])[0]
        _, _, trun_body, _ = child(data, traf[2], traf[3], "trun")
        tflags = struct.unpack(">I", data[trun_body:trun_body + 4])[0] & 0xFFFFFF
        at = trun_body + 8
        offset = 0
        if tflags & 0x1:
            offset = struct.unpack(">i", data[at:at + 4])[0]
            at += 4
        if tflags & 0x4:
            at += 4
        duration, size, sample_flags = default_duration, default_size, default_flags
        if tflags & 0x100:
            duration = struct.unpack(">I", data[at:at + 4])[0]
            at += 4
        if tflags & 0x200:
            size = struct.unpack(">I", data[at:at + 4])[0]
            at += 4
        if tflags & 0x400:
            sample_flags = struct.unpack(">I", data[at:at + 4])[0]
        return data[base + offset:base + offset + size], duration, sample_flags
    raise ValueError("no video fragment")


def box(kind, body):
    return struct.pack(">I4s", 8 + len(body), kind.encode("latin-1")) + body


def main():
    short, long_path = sys.argv[1], sys.argv[2]
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
    data = open(short, "rb").read()
    head = b"".join(data[s:e] for kind, s, _, e in boxes(data, 0, len(data)) if kind in ("ftyp", "moov"))
    picture, duration, flags = first_picture(data)
    timescale_pictures = 30
    count = seconds * timescale_pictures
    with open(long_path, "wb") as out:
        out.write(head)
        at = len(head) + 8
        out.write(box("mdat", picture))
        for n in range(count):
            tfhd = struct.pack(">IIQ", 0x000001, 1, at)
            tfdt = struct.pack(">IQ", 0x01000000, n * duration)
            trun = struct.pack(">IIIII", 0x000700, 1, duration, len(picture), flags)
            traf = box("traf", box("tfhd", tfhd) + box("tfdt", tfdt) + box("trun", trun))
            out.write(box("moof", box("mfhd", struct.pack(">II", 0, n + 1)) + traf))


if __name__ == "__main__":
    main()
