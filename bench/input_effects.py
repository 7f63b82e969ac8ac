"""Reads a recording made by bench/input_effects.sh: for each press, the
first picture with its ring against the first picture with the window's own
answer (its top left square turned), and the ring's age in its first picture,
from its radius (8 + 22 * (1 - (1 - age / 0.5 s) ** 2) pixels at 96 DPI)."""
import json
import math
import statistics
import subprocess
import sys

path, clicks = sys.argv[1], int(sys.argv[2])
stream = json.loads(subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_streams", "-of", "json",
                                    path], capture_output=True, check=True).stdout)["streams"][0]
width, height = int(stream["width"]), int(stream["height"])
fps = eval(stream["avg_frame_rate"])
raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-fps_mode", "passthrough", "-pix_fmt", "gray", "-f",
                      "rawvideo", "-"], capture_output=True, check=True).stdout
size = width * height
frames = [raw[i:i + size] for i in range(0, len(raw) - size + 1, size)]
positions = [(600 + (n % 4) * 200, 400 + (n % 3) * 150) for n in range(1, clicks + 1)]


def ring_radius(frame, x, y):
    """The brightness-weighted distance of the ring's pixels from (x, y), or None."""
    total = weight = 0.0
    for dy in range(-40, 41):
        row = (y + dy) * width
        for dx in range(-40, 41):
            extra = frame[row + x + dx] - 135
            if extra > 0:
                total += extra * math.hypot(dx + 0.5, dy + 0.5)
                weight += extra
    return total / weight if weight > 200 else None


square = [f[40 * width + 40] > 128 for f in frames]
flips = [i for i in range(1, len(frames)) if square[i] != square[i - 1]]
print(f"{len(frames)} pictures at {fps:.0f} fps, {len(flips)} answers of the window to {clicks} presses")
leads, ages = [], []
for n, (x, y) in enumerate(positions):
    if n >= len(flips):
        break
    flip = flips[n]
    first = next((i for i in range(max(flip - 30, 0), min(flip + 30, len(frames)))
                  if ring_radius(frames[i], x, y) is not None), None)
    if first is None:
        print(f"press {n + 1}: no ring")
        continue
    radius = ring_radius(frames[first], x, y)
    eased = min(max((radius - 8) / 22, 0), 1)
    age = (1 - math.sqrt(1 - eased)) * 500
    leads.append(first - flip)
    ages.append(age)
    print(f"press {n + 1}: ring in picture {first}, the window's answer in {flip} ({first - flip:+d}); "
          f"radius {radius:.1f}, age {age:.0f} ms")
if leads:
    print(f"ring against the window's answer: median {statistics.median(leads):+} pictures, latest {max(leads):+}; "
          f"the ring's age in its first picture: median {statistics.median(ages):.0f} ms, largest {max(ages):.0f} ms")
