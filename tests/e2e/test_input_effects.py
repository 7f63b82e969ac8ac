"""Clicks and key combinations in recordings of the test build, made with
real X input over a grey window of the driver whose top left square turns at
each press it gets; the pictures are read back with ffmpeg."""
import subprocess
import time

from test_record import probe
from test_shell_flows import WM_HOTKEY, dismiss_hide_notice, growing_part, post, saved, start

HOTKEY_RECORD = 1
CLICK = (960, 540)  # on the screen; the recording is 1280 x 720, two thirds of it


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True, timeout=30)


def frames(path):
    """Each picture's luma and chroma planes (yuv420p), as bytes."""
    stream = probe(path)["streams"][0]
    width, height = int(stream["width"]), int(stream["height"])
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-map", "0:v", "-fps_mode", "passthrough",
                          "-pix_fmt", "yuv420p", "-f", "rawvideo", "-"], capture_output=True, timeout=300,
                         check=True).stdout
    size = width * height * 3 // 2
    return width, height, [raw[i:i + size] for i in range(0, len(raw) - size + 1, size)]


def runs(flags):
    """The (first, last) index of each run of true flags."""
    found, begin = [], None
    for i, flag in enumerate(flags + [False]):
        if flag and begin is None:
            begin = i
        elif not flag and begin is not None:
            found.append((begin, i - 1))
            begin = None
    return found


class Pictures:
    def __init__(self, path):
        self.width, self.height, self.all = frames(path)

    def luma(self, frame, x, y):
        return frame[y * self.width + x]

    def chroma(self, frame, x, y):
        """(Cb, Cr) at a picture pixel."""
        quarter = (self.width // 2) * (self.height // 2)
        i = (y // 2) * (self.width // 2) + x // 2
        base = self.width * self.height
        return frame[base + i], frame[base + quarter + i]

    def square_black(self):
        return [self.luma(f, 40, 40) < 80 for f in self.all]

    def ring(self, cx, cy, test):
        """Frames with a pixel within 24 of (cx, cy) whose chroma passes `test`."""
        points = [(cx + dx, cy + dy) for dx in range(-24, 25, 2) for dy in range(-24, 25, 2)]
        return [any(test(*self.chroma(f, x, y)) for x, y in points) for f in self.all]

    def grey(self, frame):
        """Whether the driver's grey window shows in the picture."""
        return all(abs(self.luma(frame, x, 200) - 119) < 8 for x in (300, 1000))

    def label(self):
        """Frames of the grey window with a dark box across its bottom middle."""
        row = self.height - self.height // 16 - 12
        return [self.grey(f) and
                sum(self.luma(f, x, row) < 70 for x in range(self.width // 2 - 40, self.width // 2 + 40)) > 40
                for f in self.all]


# Far from the grey window's (128, 128), even as the ring fades.
def amber(cb, cr):
    return cb < 112 and cr > 134


def blue(cb, cr):
    return cb > 144 and cr < 122


def record_with_input(wine, data_dir, tmp_path, password=False, **settings):
    """A recording over the driver's window, with a left click, Ctrl+Shift+K, a typed word and a right click."""
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, countdown=0, **settings)
    post(wine, WM_HOTKEY, HOTKEY_RECORD)
    dismiss_hide_notice(wine, tmp_path)
    assert growing_part(caps)
    presses = subprocess.Popen(["wine", wine.exe("OstrelDriver.exe"), "presses", "60",
                                *(["password"] if password else [])], env=wine.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        assert presses.stdout.readline().strip() == b"showing"
        xdotool("mousemove", *CLICK)
        time.sleep(1)
        xdotool("click", "1")
        time.sleep(1.5)
        xdotool("key", "ctrl+shift+k")
        time.sleep(2.5)
        xdotool("key", "--delay", "80", "h", "e", "l", "l", "o", "H")  # "H" with Shift
        time.sleep(1)
        xdotool("mousemove", CLICK[0] + 300, CLICK[1], "click", "3")
        time.sleep(1.5)
    finally:
        presses.kill()
        presses.wait(timeout=30)
    post(wine, WM_HOTKEY, HOTKEY_RECORD)
    assert saved(caps, 1)
    assert wine.close(process) == 0
    return Pictures(next(caps.glob("*.mp4")))


def test_presses_ring_where_they_were_and_combinations_show_but_typing_never(wine, data_dir, tmp_path):
    pictures = record_with_input(wine, data_dir, tmp_path, show_clicks=1, show_keys=1)
    flips = runs(pictures.square_black())
    assert len(flips) == 1, flips  # black from the left press to the right one
    cx, cy = CLICK[0] * 2 // 3, CLICK[1] * 2 // 3
    left = runs(pictures.ring(cx, cy, amber))
    right = runs(pictures.ring(cx + 200, cy, blue))
    assert len(left) == 1 and len(right) == 1, (left, right)
    # Seen from the input: no later than the window's own answer to the press, and for about half a second.
    for ring, flip in ((left[0], flips[0][0]), (right[0], flips[0][1] + 1)):
        assert flip - 4 <= ring[0] <= flip + 1, (ring, flip)
        assert 8 <= ring[1] - ring[0] + 1 <= 20, ring
    # One label, after the left press and gone before the word is typed; none for the word.
    labels = runs(pictures.label())
    assert len(labels) == 1, labels
    first, last = labels[0]
    assert left[0][1] < first and 38 <= last - first + 1 <= 52, labels
    assert last < right[0][0]


def test_with_both_settings_off_or_a_password_field_in_front_nothing_of_the_input_shows(wine, data_dir, tmp_path):
    pictures = record_with_input(wine, data_dir, tmp_path)
    assert len(runs(pictures.square_black())) == 1  # the presses happened
    cx, cy = CLICK[0] * 2 // 3, CLICK[1] * 2 // 3
    assert not any(pictures.ring(cx, cy, amber)) and not any(pictures.ring(cx + 200, cy, blue))
    assert not any(pictures.label())

    for old in (tmp_path / "caps").glob("*.mp4"):
        old.unlink()
    pictures = record_with_input(wine, data_dir, tmp_path, password=True, show_clicks=1, show_keys=1)
    assert any(pictures.ring(cx, cy, amber))
    assert not any(pictures.label())
