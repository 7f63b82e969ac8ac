#!/usr/bin/python3
"""A/V offset of a sync recording: for every "sync click at_us" line of the
log, the distance from that time to where the decoded sound burst begins and
to the first white frame of that second. Prints the largest and the median.

    bench/sync_offset.py RECORDING.mp4 ostrel.log [--from SECONDS --to SECONDS]

With --from and --to only the clicks of that stretch of the recording count,
and only it is decoded.
"""
import array
import re
import statistics
import subprocess
import sys


def main(mp4, log, begin=None, end=None):
    window = [] if begin is None else ["-ss", str(begin), "-to", str(end)]
    offset = begin or 0.0
    raw = subprocess.run(["ffmpeg", "-v", "error", *window, "-i", mp4, "-map", "0:a", "-f", "s16le", "-ac", "2", "-"],
                         capture_output=True, check=True).stdout
    samples = array.array("h")
    samples.frombytes(raw)
    left = samples[0::2]
    times = [float(t) for t in subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time", "-of", "csv=p=0", mp4],
        capture_output=True, text=True, check=True).stdout.split()]
    if begin is not None:
        times = [t for t in times if begin <= t < end]
    gray = subprocess.run(["ffmpeg", "-v", "error", *window, "-i", mp4, "-map", "0:v", "-fps_mode", "passthrough",
                           "-vf", "scale=8:8", "-pix_fmt", "gray", "-f", "rawvideo", "-"],
                          capture_output=True, check=True).stdout
    brightness = [sum(gray[i:i + 64]) / 64 for i in range(0, len(gray), 64)]
    clicks = [int(m) / 1e6 for m in re.findall(r"sync click at_us=(-?\d+)", open(log, encoding="utf-8-sig").read())]
    sound, picture = [], []
    for click in clicks:
        if click < offset + 0.05 or click > times[-1] - 0.2:
            continue
        start = max(0, int((click - offset - 0.05) * 48000))
        onset = next((i for i in range(start, len(left)) if abs(left[i]) > 3000), None)
        if onset is not None:
            sound.append(abs(onset / 48000 + offset - click))
        white = next((t for t, b in zip(times, brightness) if t >= click - 0.2 and b > 128), None)
        if white is not None:
            picture.append(white - click)
    pauses = len(re.findall(r"sync pause at_us=", open(log, encoding="utf-8-sig").read()))
    print(f"{pauses} pauses logged")
    print(f"{len(sound)} bursts: sound largest {max(sound) * 1000:.2f} ms, median {statistics.median(sound) * 1000:.2f} ms; "
          f"the last three {', '.join(f'{s * 1000:.2f}' for s in sound[-3:])} ms")
    print(f"white frames after the click: largest {max(picture) * 1000:.2f} ms, median {statistics.median(picture) * 1000:.2f} ms")


if __name__ == "__main__":
    if len(sys.argv) == 7 and sys.argv[3] == "--from" and sys.argv[5] == "--to":
        main(sys.argv[1], sys.argv[2], float(sys.argv[4]), float(sys.argv[6]))
    else:
        main(sys.argv[1], sys.argv[2])
