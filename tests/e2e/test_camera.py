"""The camera bubble in the test build, whose stand-in camera shows colour
bars: read off the screen and out of a recording made while it shows."""
import os
import subprocess
import time

from PIL import Image, ImageGrab

from conftest import read_text, wait_until
from test_shell_flows import WM_HOTKEY, dismiss_hide_notice, growing_part, post, saved, start

CAMERA = "NIRAOstrelCamera"
HOTKEY_RECORD, HOTKEY_CAMERA = 1, 5
# What the bubble shows across its middle, left to right: the camera's bars
# white to blue, mirrored.
MIRRORED_BARS = [(0, 0, 255), (255, 0, 0), (255, 0, 255), (0, 255, 0), (0, 255, 255), (255, 255, 0), (255, 255, 255)]


def rect(wine):
    return tuple(map(int, wine.driver_output("rect", CAMERA).split()))


def screen():
    return ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).convert("RGB")


def near(pixel, colour, slack):
    return all(abs(a - b) <= slack for a, b in zip(pixel, colour))


def bars_at(picture, left, top, right, bottom, slack):
    """Whether the seven bars stand across the middle of that square of the picture."""
    width, middle = right - left, (top + bottom) // 2
    return all(near(picture.getpixel((left + (2 * i + 1) * width // 14, middle)), colour, slack)
               for i, colour in enumerate(MIRRORED_BARS))


def test_the_shortcut_shows_a_round_live_bubble_that_recordings_hold_and_takes_it_away(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, countdown=0, resolution=0)
    before = screen()
    post(wine, WM_HOTKEY, HOTKEY_CAMERA)
    assert wine.wait_for_window(CAMERA)
    assert wait_until(lambda: "Camera bubble: first picture shown" in read_text(data_dir / "ostrel.log"), 20)
    left, top, right, bottom = rect(wine)
    assert right - left == bottom - top == 220  # medium at 96 DPI, in the bottom left corner
    assert (left, bottom) == (16, 1080 - 16)
    shown = screen()
    assert bars_at(shown, left, top, right, bottom, 40)
    # Round: the square's corners are the desktop's.
    for x, y in [(left + 3, top + 3), (right - 4, top + 3), (left + 3, bottom - 4), (right - 4, bottom - 4)]:
        assert shown.getpixel((x, y)) == before.getpixel((x, y))
    # Live: the square crossing the lower part moves.
    band = (left + 20, bottom - 75, right - 20, bottom - 25)
    assert wait_until(lambda: screen().crop(band).tobytes() != shown.crop(band).tobytes(), 5, 0.1)

    # A recording of the monitor holds the bubble where it stands.
    post(wine, WM_HOTKEY, HOTKEY_RECORD)
    dismiss_hide_notice(wine, tmp_path)
    assert growing_part(caps)
    time.sleep(2)
    post(wine, WM_HOTKEY, HOTKEY_RECORD)
    assert saved(caps, 1)
    recording = next(caps.glob("*.mp4"))
    frame = tmp_path / "frame.png"
    subprocess.run(["ffmpeg", "-v", "error", "-sseof", "-1", "-i", str(recording), "-frames:v", "1", str(frame)],
                   check=True, timeout=120)
    assert bars_at(Image.open(frame).convert("RGB"), left, top, right, bottom, 60)

    # The shortcut again takes it away, and the camera is let go.
    post(wine, WM_HOTKEY, HOTKEY_CAMERA)
    assert wine.driver("gone", CAMERA, 10) == 0
    assert wait_until(lambda: "Test camera closed" in read_text(data_dir / "ostrel.log"), 10)
    assert wine.close(process) == 0


def drag(wine, to):
    """Takes the bubble by its middle with the real mouse and lets it go where
    its top left would be at `to`."""
    left, top, right, bottom = rect(wine)
    grip = ((right - left) // 2, (bottom - top) // 2)
    moves = []
    for step in (1, 2, 3, 4, 5, 6):
        moves += ["mousemove", str(left + grip[0] + (to[0] - left) * step // 6),
                  str(top + grip[1] + (to[1] - top) * step // 6), "sleep", "0.05"]
    subprocess.run(["xdotool", "mousemove", str(left + grip[0]), str(top + grip[1]), "sleep", "0.2", "mousedown", "1",
                    "sleep", "0.1", *moves, "sleep", "0.2", "mouseup", "1"], check=True, timeout=30)


def test_dragged_it_snaps_to_a_corner_near_it_and_comes_back_there_at_its_size(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps)
    post(wine, WM_HOTKEY, HOTKEY_CAMERA)
    assert wine.wait_for_window(CAMERA)
    drag(wine, (900, 400))
    assert wait_until(lambda: rect(wine)[:2] == (900, 400), 5)
    drag(wine, (1920 - 16 - 220 - 30, 40))  # near the top right corner
    assert wait_until(lambda: rect(wine)[:2] == (1920 - 16 - 220, 16), 5)
    assert wine.close(process) == 0
    settings = read_text(data_dir / "settings.ini")
    assert "camera_x=1684" in settings and "camera_y=16" in settings

    # Larger now: it keeps to its corner, wholly on the screen.
    (data_dir / "settings.ini").write_text(settings.replace("camera_size=medium", "camera_size=large"), encoding="utf-8")
    process = wine.start_tray(exe="OstrelWindowsTest.exe")
    post(wine, WM_HOTKEY, HOTKEY_CAMERA)
    assert wine.wait_for_window(CAMERA)
    assert wait_until(lambda: rect(wine) == (1920 - 16 - 320, 16, 1920 - 16, 16 + 320), 5)
    assert wine.close(process) == 0
