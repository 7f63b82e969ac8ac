#!/usr/bin/python3
"""Frees the disk space of a growing recording's middle while it is written:
the media data of every fragment between the first `head` bytes and the
last `tail` bytes is punched out (the file keeps its size and its box
structure, the freed data reads as zeros), so a long test-build recording,
whose pictures are uncompressed, fits on the disk. The first and the last
stretch stay whole for judging.

    bench/soak_trim.py FILE HEAD_BYTES TAIL_BYTES STATE_FILE
"""
import ctypes
import os
import struct
import sys

PUNCH = 0x02 | 0x01  # FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE
libc = ctypes.CDLL("libc.so.6", use_errno=True)
libc.fallocate.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_longlong, ctypes.c_longlong]


def main(path, head, tail, state_path):
    try:
        position = int(open(state_path).read() or 0)
    except OSError:
        position = 0
    size = os.path.getsize(path)
    limit = size - tail
    freed = 0
    with open(path, "r+b") as f:
        while position + 8 <= limit:
            f.seek(position)
            box_size, box_type = struct.unpack(">I4s", f.read(8))
            header = 8
            if box_size == 1:
                box_size = struct.unpack(">Q", f.read(8))[0]
                header = 16
            if box_size < header or position + box_size > limit:
                break
            if box_type == b"mdat" and position >= head:
                if libc.fallocate(f.fileno(), PUNCH, position + header, box_size - header) == 0:
                    freed += box_size - header
            position += box_size
    open(state_path, "w").write(str(position))
    print(freed)


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4])
