"""The trim window, driven by the keys its window gets: the picture it shows
is read off the screen, the copies it saves are judged by ffprobe and
ffmpeg. The test build's sync recordings are white for a tenth of each
second, so a picture tells where the playhead stands."""
import os
import subprocess

from PIL import ImageGrab

from conftest import read_text, wait_until, winpath
from test_record import probe
from test_shell_flows import (CANCEL, ID_QUIT, NO, OK, TEST_EXE, WM_HOTKEY, answer, dismiss_hide_notice, growing_part,
                              post, saved, start)
from test_sound import frame_brightness
from test_trim import make

TRIM = "NIRAOstrelTrim"
CAPTION = "NIRA Ostrel: trim"
WM_CLOSE, WM_KEYDOWN, WM_COMMAND = 0x0010, 0x0100, 0x0111
VK_RETURN, VK_LEFT, VK_RIGHT = 0x0D, 0x25, 0x27
ID_TRIM_LAST_RECORDING = 113
IDT_LIBRARY = 601


def key(wine, code, times=1):
    for _ in range(times):
        if wine.driver("post", TRIM, WM_KEYDOWN, code, 0) != 0:
            # Say what became of the window's program: still running, ended, or crashed.
            ended = [(p.args[1:], p.poll(), wine.errors(p)) for p in wine.started]
            raise AssertionError(f"the trim window took no key; programs: {ended}; the log ends: "
                                 f"{read_text(wine.data_dir / 'ostrel.log')[-1500:]}")


def shown(wine):
    """The brightness of the middle of the window's picture, as the screen shows it."""
    left, top, right, bottom = map(int, wine.driver_output("rect", TRIM).split())
    x, y = (left + right) // 2, top + (bottom - top) * 35 // 100
    pixel = ImageGrab.grab(bbox=(x - 2, y - 2, x + 3, y + 3), xdisplay=os.environ["DISPLAY"]).convert("L")
    return sum(pixel.getdata()) / 25


def shows(wine, white):
    return wait_until(lambda: (shown(wine) > 200) if white else (shown(wine) < 40), 10, 0.1)


def picture_count(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-count_packets", "-show_entries",
                          "stream=nb_read_packets", "-of", "csv=p=0", str(path)], capture_output=True, text=True,
                         timeout=120, check=True).stdout
    return int(out.strip())


def test_the_picture_at_the_playhead_and_the_part_kept_saved_beside_the_recording(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    assert wine.run(["--selftest-sync", "4", winpath(caps)], exe=TEST_EXE, timeout=300).returncode == 0
    recording = next(caps.glob("*.mp4"))
    light = frame_brightness(recording)
    white = [i for i, b in enumerate(light) if b > 128]
    first = white[0]
    later = next(i for i in white if i > first + 10)  # the next second's white picture
    process = start(wine, data_dir, caps)
    # Handed to the copy that runs, as "--edit" is.
    assert wine.run(["--trim", winpath(recording)], exe=TEST_EXE).returncode == 0
    assert wine.wait_for_window(TRIM)
    assert wait_until(lambda: "Trim window: first picture shown" in read_text(data_dir / "ostrel.log"), 30)

    key(wine, VK_RIGHT, first)
    assert shows(wine, white=True)
    key(wine, VK_RIGHT, 5)
    assert shows(wine, white=False)
    key(wine, VK_LEFT, 5)
    assert shows(wine, white=True)
    key(wine, ord("I"))
    key(wine, VK_RIGHT, later - first)
    assert shows(wine, white=True)
    key(wine, ord("O"))
    key(wine, VK_RETURN)
    copy = caps / (recording.stem + " (trimmed).mp4")
    assert wait_until(copy.exists, 30)
    assert wait_until(lambda: "Notice: Trimmed copy saved" in read_text(data_dir / "ostrel.log"), 30)

    # From the white picture at the start to the one at the end, both kept.
    kept = frame_brightness(copy)
    assert picture_count(copy) == len(kept) == later - first + 1
    assert kept[0] > 128 and kept[-1] > 128 and kept[5] < 128
    assert abs(float(probe(copy)["format"]["duration"]) - (later - first + 1) / 30) < 0.05

    # A change after the save is asked about at closing; No closes with nothing more written.
    # (The start moves to just before the end: the recording's first picture may be the one kept first.)
    key(wine, VK_LEFT)
    key(wine, ord("I"))
    assert wine.driver("post", TRIM, WM_CLOSE, 0, 0) == 0
    assert answer(wine, tmp_path, CAPTION, NO).startswith("Save a trimmed copy of this recording before closing?")
    assert wine.driver("gone", TRIM, 20) == 0
    assert sorted(p.name for p in caps.glob("*.mp4")) == sorted([recording.name, copy.name])
    assert wine.close(process) == 0


def test_a_file_without_pictures_to_show_is_still_trimmed_and_says_why(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    caps.mkdir()
    talk = make(caps / "Talk.mp4", seconds=3)
    process = wine.start(["--trim", winpath(talk)], exe=TEST_EXE)
    assert wine.wait_for_window(TRIM)
    assert wait_until(lambda: "Trim window shows no picture: This build shows the pictures of its own recordings "
                      "only." in read_text(data_dir / "ostrel.log"), 30)
    key(wine, VK_RIGHT, 45)  # past the key picture at 1 s
    key(wine, ord("I"))
    key(wine, VK_RETURN)
    copy = caps / "Talk (trimmed).mp4"
    assert wait_until(copy.exists, 30)
    assert abs(float(probe(copy)["format"]["duration"]) - 2.0) < 0.1
    assert wine.close(process) == 0


def test_ways_in_the_setting_the_tray_menu_and_quit(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, countdown=0, trim_after_recording=1)
    post(wine, WM_HOTKEY, 1)
    dismiss_hide_notice(wine, tmp_path)
    assert growing_part(caps)
    post(wine, WM_HOTKEY, 1)
    assert saved(caps, 1)
    # The setting opens each new recording; the tray menu opens the last one again.
    assert wine.wait_for_window(TRIM)
    assert wine.driver("post", TRIM, WM_CLOSE, 0, 0) == 0
    assert wine.driver("gone", TRIM, 20) == 0
    post(wine, WM_COMMAND, ID_TRIM_LAST_RECORDING)
    assert wine.wait_for_window(TRIM)

    # Quit asks about a part to keep that was changed and not saved; Cancel keeps the program.
    assert wait_until(lambda: read_text(data_dir / "ostrel.log").count("Trim window: first picture") >= 2, 30)
    key(wine, VK_RIGHT, 10)
    key(wine, ord("I"))
    post(wine, WM_COMMAND, ID_QUIT)
    assert answer(wine, tmp_path, CAPTION, CANCEL).startswith("This recording's trim was not saved. Quit anyway?")
    assert wine.driver("find", TRIM) == 0 and process.poll() is None
    post(wine, WM_COMMAND, ID_QUIT)
    assert answer(wine, tmp_path, CAPTION, OK) is not None
    assert wine.ended(process) == 0
    assert len(list(caps.glob("*.mp4"))) == 1


def test_save_to_library_saves_the_trimmed_copy_then_sends_it_with_its_link(wine, library, tmp_path):
    import hashlib

    from test_save import tray

    caps = tmp_path / "caps"
    caps.mkdir()
    talk = make(caps / "Talk.mp4", seconds=3)
    process, command = tray(wine, library, caps)
    library.settings(url="{base}/app/captures/{id}")
    command(120)  # signed in at once by the test server
    assert wait_until((wine.data_dir / "account.dat").exists, 60)
    assert wine.run(["--trim", winpath(talk)], exe=TEST_EXE).returncode == 0
    assert wine.wait_for_window(TRIM)
    log = wine.data_dir / "ostrel.log"
    assert wait_until(lambda: "Trim window: first picture" in read_text(log), 30)
    key(wine, VK_RIGHT, 45)
    key(wine, ord("I"))
    assert wine.driver("post", TRIM, WM_COMMAND, IDT_LIBRARY, 0) == 0
    copy = caps / "Talk (trimmed).mp4"
    assert wait_until(lambda: any(c["sha256"] for c in library.state()["captures"].values()), 60)
    ((_, entry),) = library.state()["captures"].items()
    assert entry["meta"]["filename"] == copy.stem
    assert entry["sha256"] == hashlib.sha256(copy.read_bytes()).hexdigest()
    assert wait_until(lambda: "Notice: Saved to library: Saved to your workspace library. The link is on the clipboard."
                      in read_text(log), 20)
    assert wine.close(process) == 0
