"""Screenshots through the self-test switch, judged with Pillow."""
import os
import subprocess
import threading
import time

import pytest
from PIL import Image

from conftest import PrivateScreen, read_text, show_on_screen, wait_until, winpath
from test_editor import notices
from test_shell_flows import WM_HOTKEY, post, start


def pattern(width, height, path):
    """Coloured quadrants with a stripe at the odd last column and row, so a
    wrong crop, flip or channel order shows."""
    image = Image.new("RGB", (width, height))
    pixels = image.load()
    for y in range(height):
        for x in range(width):
            pixels[x, y] = (
                200 if x < width // 2 else 30,
                180 if y < height // 2 else 60,
                (x * 7 + y * 3) % 256,
            )
    image.save(path)
    return image


def result_lines(folder):
    raw = (folder / "result.txt").read_bytes()
    assert raw.startswith(b"\xef\xbb\xbf")
    text = raw[3:].decode("utf-8")
    assert "\n" not in text.replace("\r\n", "")
    return text.split("\r\n")


def mismatches(shot, expected):
    """Pixels that differ; the mouse pointer may cover a few hundred."""
    a, b = shot.tobytes(), expected.tobytes()
    return sum(1 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3])


def screenshot_matches_screen(wine, tmp_path, width, height, display):
    folder = tmp_path / "new" / "shots"  # missing: the self-test makes it
    expected = pattern(width, height, tmp_path / "pattern.png")
    show_on_screen(display, tmp_path / "pattern.png")
    target = winpath(folder)
    done = wine.run(["--selftest-screenshot", target], exe="OstrelWindowsTest.exe", timeout=120)
    assert done.returncode == 0, read_text(folder / "result.txt")
    lines = result_lines(folder)
    assert lines[1:] == ["", ""]
    assert lines[0].startswith(target + "\\Screenshot ") and lines[0].endswith(".png")
    pngs = [p for p in folder.iterdir() if p.suffix == ".png"]
    assert len(pngs) == 1 and not list(folder.glob("*.part"))
    shot = Image.open(pngs[0])
    assert shot.mode == "RGB"  # no alpha
    assert shot.size == (width & ~1, height & ~1)
    assert mismatches(shot, expected.crop((0, 0, width & ~1, height & ~1))) < 2000

    # The clipboard holds the same picture as a bottom-up 32-bit DIB with opaque pixels.
    dib_file = tmp_path / "clipboard.dib"
    assert wine.driver("clipboard-dib", winpath(dib_file)) == 0
    dib = dib_file.read_bytes()
    w, h = width & ~1, height & ~1
    header = int.from_bytes(dib[0:4], "little"), int.from_bytes(dib[4:8], "little", signed=True), \
        int.from_bytes(dib[8:12], "little", signed=True), int.from_bytes(dib[14:16], "little")
    assert header == (40, w, h, 32)
    assert len(dib) >= 40 + w * h * 4
    rows = dib[40:40 + w * h * 4]
    assert all(rows[i] == 255 for i in range(3, len(rows), 4 * 97))
    clip = Image.frombytes("RGBA", (w, h), rows, "raw", "BGRA", 0, -1).convert("RGB")
    assert mismatches(clip, shot) == 0


def test_screenshot_of_a_full_hd_screen(wine, tmp_path):
    screenshot_matches_screen(wine, tmp_path, 1920, 1080, os.environ["DISPLAY"])


def test_screenshot_of_an_odd_sized_screen_is_cropped_to_even(wine, tmp_path):
    with PrivateScreen("1365x767") as screen:
        wine.env["DISPLAY"] = screen.display
        screenshot_matches_screen(wine, tmp_path, 1365, 767, screen.display)


def test_two_screenshots_at_once_get_distinct_names(wine, tmp_path):
    folder = tmp_path / "shots"
    results = []

    def shoot():
        results.append(wine.run(["--selftest-screenshot", winpath(folder)], exe="OstrelWindowsTest.exe", timeout=120))

    threads = [threading.Thread(target=shoot) for _ in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert [r.returncode for r in results] == [0, 0]
    pngs = sorted(p.name for p in folder.glob("*.png"))
    assert len(pngs) == 2
    assert not list(folder.glob("*.part"))


def test_a_busy_clipboard_does_not_stop_the_screenshot(wine, tmp_path):
    holder = subprocess.Popen(
        ["wine", wine.exe("OstrelDriver.exe"), "hold-clipboard", "20"],
        env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
    )
    try:
        assert holder.stdout.readline().strip() == b"holding"
        folder = tmp_path / "shots"
        done = wine.run(["--selftest-screenshot", winpath(folder)], exe="OstrelWindowsTest.exe", timeout=120)
        assert done.returncode == 0
        assert len(list(folder.glob("*.png"))) == 1
    finally:
        holder.kill()
        holder.wait(timeout=30)


def test_shipping_build_reports_that_screen_capture_is_missing(wine, tmp_path):
    folder = tmp_path / "shots"
    done = wine.run(["--selftest-screenshot", winpath(folder)], timeout=120)
    assert done.returncode == 1
    path, message, rest = result_lines(folder)
    assert path == "" and rest == ""
    # Wine has no Windows.Graphics.Capture: the device cannot be wrapped for it.
    assert message.startswith("Screen capture is not available: ")
    assert message.endswith("(0x8007007F)")
    assert sorted(p.name for p in folder.iterdir()) == ["result.txt"]


def test_a_folder_that_cannot_be_made_or_filled_gives_a_sentence(wine, tmp_path):
    blocker = tmp_path / "blocker"
    blocker.write_text("a file where the folder should be")
    done = wine.run(["--selftest-screenshot", winpath(blocker / "shots")], exe="OstrelWindowsTest.exe", timeout=120)
    assert done.returncode == 1

    full = tmp_path / "full"
    full.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=12k", "tmpfs", str(full)]).returncode != 0:
        pytest.skip("cannot mount a small volume here")
    try:
        # Noise on screen, so its PNG cannot fit on the small volume.
        Image.frombytes("RGB", (1920, 1080), os.urandom(1920 * 1080 * 3)).save(tmp_path / "noise.png")
        with PrivateScreen("1920x1080") as screen:
            wine.env["DISPLAY"] = screen.display
            target = winpath(full)
            show_on_screen(screen.display, tmp_path / "noise.png")
            done = wine.run(["--selftest-screenshot", target], exe="OstrelWindowsTest.exe", timeout=120)
        assert done.returncode == 1
        names = sorted(p.name for p in full.iterdir())
        assert not [n for n in names if n.endswith(".png") or n.endswith(".part")]
        if "result.txt" in names:
            path, message, _ = result_lines(full)
            assert path == ""
            assert message.startswith("The screenshot could not be saved: ")
    finally:
        subprocess.run(["umount", str(full)])


def eleventh_frame(clip):
    """Frame 10 of a recording as RGB bytes, decoded by ffmpeg."""
    return subprocess.run(["ffmpeg", "-v", "error", "-i", str(clip), "-vf", "select=eq(n\\,10)", "-frames:v", "1",
                           "-f", "rawvideo", "-pix_fmt", "rgb24", "-"], capture_output=True, timeout=300, check=True).stdout


def test_a_region_is_captured_exactly_and_recorded_at_its_own_size(wine, tmp_path):
    # A region across the middle of both axes of the picture, partly below the screen.
    expected = pattern(1920, 1080, tmp_path / "pattern.png")
    show_on_screen(os.environ["DISPLAY"], tmp_path / "pattern.png")
    region = ["801", "203", "517", "1000"]

    shots = tmp_path / "shots"
    done = wine.run(["--selftest-region-screenshot", winpath(shots), *region], exe="OstrelWindowsTest.exe", timeout=120)
    assert done.returncode == 0, read_text(shots / "result.txt")
    shot = Image.open(next(shots.glob("Screenshot *.png")))
    assert shot.size == (517, 1080 - 203)  # what lies on the screen, odd sides kept
    assert mismatches(shot, expected.crop((801, 203, 1318, 1080))) < 2000

    small = tmp_path / "small"
    done = wine.run(["--selftest-region-screenshot", winpath(small), "10", "10", "15", "40"], exe="OstrelWindowsTest.exe",
                    timeout=120)
    assert done.returncode == 1
    assert result_lines(small)[:2] == ["", "That region is too small to capture. Drag a rectangle of at least 16 x 16 pixels."]
    assert sorted(p.name for p in small.iterdir()) == ["result.txt"]

    # Recorded: even sides (516 x 876), scaled down to 720 high keeping the shape.
    clips = tmp_path / "clips"
    done = wine.run(["--selftest-region-record", "2", winpath(clips), *region], exe="OstrelWindowsTest.exe", timeout=300)
    assert done.returncode == 0, read_text(clips / "result.txt")
    clip = next(clips.glob("*.mp4"))
    frame = eleventh_frame(clip)
    assert len(frame) == 424 * 720 * 3
    picture = Image.frombytes("RGB", (424, 720), frame)

    def mean(channel, box):
        values = picture.crop(box).getdata(channel)
        return sum(values) / len(values)

    # Red changes at the screen's x 960 (column 131 here), green at its y 540 (row 277).
    assert abs(mean(0, (0, 0, 120, 720)) - 200) < 20 and abs(mean(0, (142, 0, 424, 720)) - 30) < 20
    assert abs(mean(1, (0, 0, 424, 267)) - 180) < 20 and abs(mean(1, (0, 287, 424, 720)) - 60) < 20


def test_a_window_is_recorded_at_its_size_until_it_closes(wine, tmp_path):
    pattern(1920, 1080, tmp_path / "screen.png")
    show_on_screen(os.environ["DISPLAY"], tmp_path / "screen.png")
    # A 400 x 300 window, red above and blue below, at 500, 200.
    picture = Image.new("RGB", (400, 300), (220, 30, 30))
    picture.paste((30, 30, 220), (0, 150, 400, 300))
    picture.save(tmp_path / "window.bmp")
    window = subprocess.Popen(["wine", wine.exe("OstrelDriver.exe"), "show-picture", winpath(tmp_path / "window.bmp"),
                               "500", "200", "Ostrel test window"],
                              env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    clips = tmp_path / "clips"
    try:
        assert window.stdout.readline().strip() == b"showing"
        missing = wine.run(["--selftest-window-record", "2", winpath(clips), "Ostrel test"], exe="OstrelWindowsTest.exe",
                           timeout=120)
        assert missing.returncode == 1
        assert result_lines(clips)[:2] == ["", "There is no open window called \"Ostrel test\"."]

        # A minimized window is offered as such (the desktop behind
        # everything is not), restored and recorded.
        assert wine.driver("minimize", "Ostrel test window") == 0
        listed = tmp_path / "windows.txt"
        assert wine.run(["--selftest-window-list", winpath(listed)], exe="OstrelWindowsTest.exe").returncode == 0
        labels = listed.read_bytes().decode("utf-8-sig").splitlines()
        assert "Ostrel test window (minimized)" in labels and "Program Manager" not in labels, labels

        # Asked for a minute; the window closes after about two seconds and the recording ends with it.
        recording = subprocess.Popen(["wine", wine.exe("OstrelWindowsTest.exe"), "--selftest-window-record", "60",
                                      winpath(clips), "Ostrel test window"],
                                     env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        assert wait_until(lambda: any(p.stat().st_size > 100_000 for p in clips.glob("*.mp4.part")), 60)
        time.sleep(2)
    finally:
        window.kill()
        window.wait(timeout=30)
    assert wine.ended(recording, 120) == 0
    lines = result_lines(clips)
    assert lines[1] == "The window being recorded was closed, so the recording was stopped and saved."
    clip = next(clips.glob("*.mp4"))
    assert not list(clips.glob("*.part"))
    frame = eleventh_frame(clip)
    assert len(frame) == 400 * 300 * 3
    shot = Image.frombytes("RGB", (400, 300), frame)
    top, bottom = shot.crop((0, 0, 400, 140)).resize((1, 1), Image.BOX), shot.crop((0, 160, 400, 300)).resize((1, 1), Image.BOX)
    assert all(abs(a - b) < 25 for a, b in zip(top.getpixel((0, 0)), (220, 30, 30)))
    assert all(abs(a - b) < 25 for a, b in zip(bottom.getpixel((0, 0)), (30, 30, 220)))


def test_a_screenshot_says_when_the_clipboard_did_not_take_it(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps)
    holder = subprocess.Popen(
        ["wine", wine.exe("OstrelDriver.exe"), "hold-clipboard", "60"],
        env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
    )
    try:
        assert holder.stdout.readline().strip() == b"holding"
        post(wine, WM_HOTKEY, 3)
        assert wait_until(lambda: any(n.startswith("Screenshot saved: ") for n in notices(data_dir)), 30)
    finally:
        holder.kill()
        holder.wait(timeout=30)
    shot = next(caps.glob("Screenshot *.png"))
    assert [n for n in notices(data_dir) if n.startswith("Screenshot saved")] == [
        f"Screenshot saved: Saved as {winpath(shot)}. It was not copied: another program was using the clipboard."]
    assert "Screenshot not copied: another program kept the clipboard for half a second" in read_text(data_dir / "ostrel.log")
    # Free again: copied, and said so.
    post(wine, WM_HOTKEY, 3)
    assert wait_until(lambda: any(n.startswith("Screenshot saved and copied: ") for n in notices(data_dir)), 30)
    assert wine.driver("clipboard-dib", winpath(tmp_path / "clip.bin")) == 0
    assert wine.close(process) == 0
