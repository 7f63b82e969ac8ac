"""The tray's recent captures: kept across starts in recent.txt, offered
with what can be done with each, and without the files that have gone."""
from PIL import Image

from conftest import read_text, wait_until, winpath
from test_shell_flows import OK, WM_HOTKEY, WM_TRAYICON, answer, post, start

WM_COMMAND, WM_CANCELMODE, NIN_KEYSELECT = 0x0111, 0x001F, 0x0401
ID_RECENT, ACTIONS, COPY = 700, 6, 2


def show_tray_menu(wine):
    """Opens the tray menu, which reads the list, and closes it again."""
    post(wine, WM_TRAYICON, 0, NIN_KEYSELECT)
    assert wine.driver("wait", "#32768", 10) == 0
    post(wine, WM_CANCELMODE)
    assert wine.driver("gone", "#32768", 10) == 0


def clipboard_picture(wine, tmp_path):
    dib_file = tmp_path / "clipboard.dib"
    assert wine.driver("clipboard-dib", winpath(dib_file)) == 0
    dib = dib_file.read_bytes()
    width, height = int.from_bytes(dib[4:8], "little", signed=True), int.from_bytes(dib[8:12], "little", signed=True)
    return Image.frombytes("RGBA", (width, abs(height)), dib[40:40 + width * abs(height) * 4], "raw", "BGRA", 0,
                           -1 if height > 0 else 1).convert("RGB")


def test_recent_captures_outlast_a_restart_are_read_as_far_as_sound_and_lose_files_that_went(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps)
    post(wine, WM_HOTKEY, 3)  # a screenshot
    assert wait_until(lambda: len(list(caps.glob("Screenshot *.png"))) == 1, 30)
    shot = next(caps.glob("Screenshot *.png"))
    recent = data_dir / "recent.txt"
    assert wait_until(lambda: read_text(recent).endswith("\t" + winpath(shot) + "\n"), 10)
    assert wine.close(process) == 0

    # What follows a line that is not sound is not offered.
    other = caps / "Screenshot other.png"
    Image.new("RGB", (8, 8), (255, 0, 0)).save(other)
    recent.write_bytes(recent.read_bytes() + b"garbage\n1765400000\t" + winpath(other).encode() + b"\n")
    process = start(wine, data_dir, caps)
    show_tray_menu(wine)
    post(wine, WM_COMMAND, ID_RECENT + COPY)
    with Image.open(shot) as saved:
        assert clipboard_picture(wine, tmp_path).tobytes() == saved.convert("RGB").tobytes()
    post(wine, WM_COMMAND, ID_RECENT + ACTIONS + COPY)  # no second entry: nothing happens
    assert clipboard_picture(wine, tmp_path).size == Image.open(shot).size

    # A file that has gone leaves the list when the menu opens. One on a share
    # is not looked for then (a share that has gone holds each look for the
    # network's time-out), only when it is chosen.
    shot.unlink()
    shared = "\\\\nowhere\\caps\\Screenshot shared.png"
    recent.write_text(f"1765400000\t{shared}\n" + read_text(recent), encoding="utf-8")
    show_tray_menu(wine)
    assert wait_until(lambda: read_text(recent) == f"1765400000\t{shared}\n", 10)
    post(wine, WM_COMMAND, ID_RECENT + COPY)
    assert answer(wine, tmp_path, "NIRA Ostrel", OK) == \
        "Screenshot shared.png is no longer there. It may have been moved or deleted."
    assert wait_until(lambda: read_text(recent) == "", 10)
    assert wine.close(process) == 0
