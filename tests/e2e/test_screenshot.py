"""Screenshots through the self-test switch, judged with Pillow."""
import os
import subprocess
import threading

import pytest
from PIL import Image

from conftest import PrivateScreen, read_text, show_on_screen, winpath


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
