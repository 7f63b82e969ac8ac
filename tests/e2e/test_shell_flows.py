"""The tray program driven as a person would: shortcuts and commands posted to
its main window, message boxes read and answered by OstrelDriver."""
import os
import subprocess
import time

from conftest import BUILD, MAIN_CLASS, read_text, show_on_screen, wait_until, winpath
from test_mp4_writer import fragment_starts
from test_record import probe, video_times

TEST_EXE = "OstrelWindowsTest.exe"
WM_ENDSESSION, WM_COMMAND, WM_TIMER, WM_HOTKEY = 0x0016, 0x0111, 0x0113, 0x0312
WM_TRAYICON, WM_RECORDER_NOTIFY, WM_SCREENSHOT_DONE, WM_CLOUD_EVENT = 0x8001, 0x8003, 0x8004, 0x8005
NIN_BALLOONSHOW, NIN_BALLOONUSERCLICK = 0x0402, 0x0405
ID_SCREENSHOT, ID_RECORD, ID_QUIT, ID_RECORD_REGION, ID_SCREENSHOT_REGION = 103, 100, 107, 110, 111
WM_KEYDOWN, WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, VK_ESCAPE = 0x0100, 0x0200, 0x0201, 0x0202, 0x1B
OK, CANCEL, YES, NO = 1, 2, 6, 7


def start(wine, data_dir, caps, **settings):
    data_dir.mkdir(exist_ok=True)
    lines = [f"folder={winpath(caps)}"] + [f"{k}={v}" for k, v in settings.items()]
    (data_dir / "settings.ini").write_text("[ostrel]\r\n" + "\r\n".join(lines) + "\r\n", encoding="utf-8")
    return wine.start_tray(exe=TEST_EXE)


def post(wine, message, wparam=0, lparam=0):
    assert wine.driver("post", MAIN_CLASS, message, wparam, lparam) == 0


def answer(wine, tmp_path, caption, button, seconds=20):
    """The text of the next message box with that caption after pressing
    `button` in it, or None when none came."""
    out = tmp_path / "box.txt"
    out.unlink(missing_ok=True)
    if wine.driver("answer", caption, button, seconds, winpath(out), timeout=seconds + 60) != 0:
        return None
    return out.read_text(encoding="utf-8")


def dismiss_hide_notice(wine, tmp_path):
    # Shown once per run where Windows cannot keep the toolbar out of recordings.
    text = answer(wine, tmp_path, "NIRA Ostrel", OK, seconds=5)
    assert text is None or "can't hide the Ostrel toolbar" in text


def growing_part(caps):
    return wait_until(lambda: any(p.stat().st_size > 100_000 for p in caps.glob("*.mp4.part")), 60)


def saved(caps, count):
    return wait_until(lambda: len(list(caps.glob("*.mp4"))) == count and not list(caps.glob("*.part")), 60)


def test_record_shortcut_pause_and_close_each_leave_a_finished_mp4(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, countdown=0)

    # Record, then the record shortcut again saves.
    post(wine, WM_HOTKEY, 1)
    dismiss_hide_notice(wine, tmp_path)
    assert growing_part(caps)
    time.sleep(2)
    post(wine, WM_HOTKEY, 1)
    assert saved(caps, 1)
    first = next(caps.glob("Recording *.mp4"))
    assert len(video_times(probe(first))) > 10

    # Paused, the record shortcut stops and saves rather than resuming.
    post(wine, WM_HOTKEY, 1)
    assert growing_part(caps)
    post(wine, WM_HOTKEY, 2)
    time.sleep(1)
    post(wine, WM_HOTKEY, 1)
    assert saved(caps, 2)

    # Quit while recording asks first; Cancel leaves the recording running.
    post(wine, WM_COMMAND, ID_RECORD)
    assert growing_part(caps)
    post(wine, WM_COMMAND, ID_QUIT)
    assert answer(wine, tmp_path, "NIRA Ostrel", CANCEL) == "A recording is running. Stop and save it, then quit?"
    part = next(caps.glob("*.mp4.part"))
    size = part.stat().st_size
    assert wait_until(lambda: part.stat().st_size > size, 20)

    # WM_CLOSE during a recording finishes the file before the program ends.
    assert wine.close(process, timeout=90) == 0
    assert saved(caps, 3)
    for path in caps.glob("*.mp4"):
        assert probe(path)["format"]["format_name"].startswith("mov")


def test_a_cancelled_countdown_records_nothing(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, countdown=3)
    post(wine, WM_HOTKEY, 1)
    dismiss_hide_notice(wine, tmp_path)
    post(wine, WM_COMMAND, ID_RECORD)  # the toolbar's "Cancel"
    post(wine, WM_HOTKEY, 1)
    post(wine, WM_HOTKEY, 1)  # and the shortcut
    time.sleep(5)
    assert not list(caps.glob("*.mp4*"))
    assert wine.close(process) == 0


def test_the_session_ending_and_quit_during_a_countdown_and_a_recording(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, countdown=5, screenshot_delay=5)
    # A session that only thought of ending changes nothing.
    post(wine, WM_ENDSESSION, 0)
    time.sleep(1)
    assert process.poll() is None
    # A countdown and a delayed screenshot are cancelled: nothing starts after
    # the session's end, and the program ends rather than stay on refusing.
    post(wine, WM_HOTKEY, 1)
    dismiss_hide_notice(wine, tmp_path)
    post(wine, WM_HOTKEY, 3)
    post(wine, WM_ENDSESSION, 1)
    assert wine.ended(process, 60) == 0
    time.sleep(6)
    assert list(caps.iterdir()) == []

    # A recording is finished before the program ends.
    process = start(wine, data_dir, caps, countdown=0, screenshot_delay=5)
    post(wine, WM_HOTKEY, 1)
    dismiss_hide_notice(wine, tmp_path)
    assert growing_part(caps)
    post(wine, WM_ENDSESSION, 1)
    assert wine.ended(process, 90) == 0
    assert saved(caps, 1)

    # The screenshot delay holds the screenshot back; Quit while recording,
    # answered with OK, saves the recording and ends the program.
    process = start(wine, data_dir, caps, countdown=0, screenshot_delay=5)
    post(wine, WM_HOTKEY, 3)
    time.sleep(2)
    assert not list(caps.glob("Screenshot *"))
    assert wait_until(lambda: list(caps.glob("Screenshot *.png")), 30)
    post(wine, WM_HOTKEY, 1)
    dismiss_hide_notice(wine, tmp_path)
    assert growing_part(caps)
    post(wine, WM_COMMAND, ID_QUIT)
    assert answer(wine, tmp_path, "NIRA Ostrel", OK) == "A recording is running. Stop and save it, then quit?"
    assert wine.ended(process, 90) == 0
    assert saved(caps, 2)


def test_screenshot_command_and_bad_input(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps)
    assert wait_until(caps.is_dir, 20)
    caps.rmdir()  # a captures folder that vanished is made again
    post(wine, WM_COMMAND, ID_SCREENSHOT)
    assert wait_until(lambda: list(caps.glob("Screenshot *.png")) and not list(caps.glob("*.part")), 30)

    # Entries beyond the monitor list, unknown ids and timers, and reports
    # that carry no object of ours: nothing happens, nothing breaks.
    for message, wparam, lparam in [(WM_COMMAND, 249, 0), (WM_COMMAND, 349, 0), (WM_COMMAND, 999, 0),
                                    (WM_TIMER, 77, 0), (WM_HOTKEY, 9, 0), (WM_SCREENSHOT_DONE, 0, 0x1234),
                                    (WM_RECORDER_NOTIFY, 2, 0x5678), (WM_CLOUD_EVENT, 1, 0x9ABC),
                                    (WM_CLOUD_EVENT, 3, 0x9ABC), (WM_CLOUD_EVENT, 4, 0x9ABC), (WM_CLOUD_EVENT, 5, 0),
                                    (WM_CLOUD_EVENT, 2, 50)]:
        post(wine, message, wparam, lparam)
    time.sleep(2)
    assert process.poll() is None
    shot, = caps.glob("Screenshot *.png")

    # A click on "Screenshot saved", delivered as the shell delivers it, shows
    # the file in its folder; a click that comes after the notice has gone
    # does nothing; once the file is gone, the click opens its folder.
    log = data_dir / "ostrel.log"
    post(wine, WM_TRAYICON, 0, NIN_BALLOONSHOW)
    post(wine, WM_TRAYICON, 0, NIN_BALLOONUSERCLICK)
    assert wait_until(lambda: f"Notice clicked: showing {winpath(shot)} in its folder" in read_text(log), 20)
    post(wine, WM_TRAYICON, 0, NIN_BALLOONUSERCLICK)
    shot.unlink()
    post(wine, WM_TRAYICON, 0, NIN_BALLOONSHOW)
    post(wine, WM_TRAYICON, 0, NIN_BALLOONUSERCLICK)
    assert wait_until(lambda: f"Notice clicked: opening the folder {winpath(caps)}" in read_text(log), 20)
    assert read_text(log).count("Notice clicked") == 2
    assert wine.close(process) == 0

    # A captures folder that cannot be made is a warning box, not a notification.
    blocker = tmp_path / "blocker"
    blocker.write_text("a file, not a folder")
    process = start(wine, data_dir, blocker / "caps")
    post(wine, WM_COMMAND, ID_SCREENSHOT)
    text = answer(wine, tmp_path, "NIRA Ostrel: screenshot", OK)
    assert text == "The captures folder could not be created: " + winpath(blocker / "caps")
    assert wine.close(process) == 0

    # A recording that cannot start says why and puts the toolbar back to Record.
    small = tmp_path / "small"
    small.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=60m", "tmpfs", str(small)]).returncode != 0:
        return
    try:
        process = start(wine, data_dir, small, countdown=0)
        post(wine, WM_HOTKEY, 1)
        dismiss_hide_notice(wine, tmp_path)
        text = answer(wine, tmp_path, "NIRA Ostrel: recording did not start", OK)
        assert text == "There is less than 80 MB free where captures are saved. Free some space first."
        assert wait_until(lambda: wine.driver_output("get-text", "NIRAOstrelToolbar", ID_RECORD) == "Record", 10)
        assert wine.close(process) == 0
    finally:
        subprocess.run(["umount", str(small)])


def test_shortcut_conflict_then_recovery_questions(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    caps.mkdir()
    # A recording cut inside its last fragment, as a crash leaves it.
    sample = BUILD / "native" / "mp4_sample"
    whole = tmp_path / "whole.mp4"
    subprocess.run([str(sample), str(whole), "320", "240", "30", "8"], check=True, timeout=60,
                   stdout=subprocess.DEVNULL)
    data = whole.read_bytes()
    starts = fragment_starts(data)
    (caps / "a.mp4.part").write_bytes(data[:starts[-1] + 40])
    # One of ours cut before its first picture was whole: nothing to offer, so it goes.
    (caps / "Recording 2025-03-07 09-05-41.mp4.part").write_bytes(data[:starts[0] + 40])
    for name in ("b", "c", "d"):
        (caps / f"{name}.mp4.part").write_bytes(b"partial")
    (caps / "d (recovered).mp4").write_bytes(b"already here")
    # A screenshot cut off by a killed program is removed; another program's file is not.
    (caps / "Screenshot 2025-03-07 09-05-41.png.part").write_bytes(b"")
    (caps / "Screenshot of the cat.png.part").write_bytes(b"half")
    choices = {"a": YES, "b": NO, "c": CANCEL, "d": YES}

    # Another program holds Alt+Shift+R.
    holder = wine.start(["hold-hotkey", "5", "0x52", "120"], exe="OstrelDriver.exe")
    time.sleep(3)
    process = start(wine, data_dir, caps)
    conflict = answer(wine, tmp_path, "NIRA Ostrel", OK, seconds=60)
    assert conflict == ("These keyboard shortcuts are already used by another app, so Ostrel can't use them:\n"
                        "  Alt+Shift+R (record or stop)\n\n"
                        "Choose different ones in Settings. The tray menu and toolbar still work.")
    asked = []
    for _ in range(4):
        question = answer(wine, tmp_path, "NIRA Ostrel: recover a recording", 0)
        assert question is not None
        name = question.split("\n")[2].rsplit("\\", 1)[1][0]
        part = winpath(caps / f"{name}.mp4.part")
        assert question == ("A recording was interrupted (Ostrel or the computer stopped before it finished):\n\n"
                            f"{part}\n\nYes: keep it as\n{winpath(caps / f'{name} (recovered).mp4')}\n"
                            "No: delete it\nCancel: decide next time")
        asked.append(name)
        assert answer(wine, tmp_path, "NIRA Ostrel: recover a recording", choices[name]) is not None
        if name == "d":
            failure = answer(wine, tmp_path, "NIRA Ostrel", OK)
            assert failure.startswith("It could not be renamed: ") and failure.endswith("(0x800700B7)")
    assert sorted(asked) == ["a", "b", "c", "d"]
    assert wine.close(process) == 0
    holder.kill()

    remaining = sorted(p.name for p in caps.iterdir())
    assert remaining == ["Screenshot of the cat.png.part", "a (recovered).mp4", "c.mp4.part", "d (recovered).mp4",
                         "d.mp4.part"]
    assert (caps / "d (recovered).mp4").read_bytes() == b"already here"
    # The recovered file was cut back to its whole fragments and plays.
    recovered = caps / "a (recovered).mp4"
    assert recovered.stat().st_size == starts[-1]
    assert len(video_times(probe(recovered))) == 7
    log = read_text(data_dir / "ostrel.log")
    assert "started" in log
    assert "Recording 2025-03-07 09-05-41.mp4.part: it holds no picture to recover" in log


def test_a_region_chosen_on_the_frozen_screen_is_captured_and_recorded(wine, data_dir, tmp_path):
    from PIL import Image
    from test_screenshot import mismatches, pattern
    expected = pattern(1920, 1080, tmp_path / "pattern.png")
    show_on_screen(os.environ["DISPLAY"], tmp_path / "pattern.png")
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, countdown=0)
    overlay = "NIRAOstrelRegion"

    def drag(x0, y0, x1, y1):
        assert wine.wait_for_window(overlay)
        post_to(overlay, WM_LBUTTONDOWN, 1, y0 << 16 | x0)
        post_to(overlay, WM_MOUSEMOVE, 1, (y0 + y1) // 2 << 16 | (x0 + x1) // 2)
        post_to(overlay, WM_MOUSEMOVE, 1, y1 << 16 | x1)
        post_to(overlay, WM_LBUTTONUP, 0, y1 << 16 | x1)
        assert wine.driver("gone", overlay, 20) == 0

    def post_to(window_class, message, wparam, lparam):
        assert wine.driver("post", window_class, message, wparam, lparam) == 0

    def notices():
        return [line.split("  Notice: ", 1)[1] for line in read_text(data_dir / "ostrel.log").splitlines()
                if "  Notice: " in line]

    # Escape cancels without a word; a rectangle under 16 x 16 is refused with the sentence.
    assert wait_until(lambda: any(n.startswith("NIRA Ostrel is ready: ") for n in notices()), 30)
    told = len(notices())
    post(wine, WM_COMMAND, ID_SCREENSHOT_REGION)
    assert wine.wait_for_window(overlay)
    post_to(overlay, WM_KEYDOWN, VK_ESCAPE, 0)
    assert wine.driver("gone", overlay, 20) == 0
    post(wine, WM_HOTKEY, 4)  # the region shortcut
    drag(100, 100, 110, 300)
    too_small = "NIRA Ostrel: That region is too small to capture. Drag a rectangle of at least 16 x 16 pixels."
    assert wait_until(lambda: too_small in notices(), 10)
    assert notices()[told:] == [too_small]

    # What the frozen screen showed is what is saved: a tooltip on the screen
    # when the selection opened, gone before the drag ends, is in the
    # screenshot; the pointer, elsewhere then, is not, though it ends the drag
    # inside the rectangle. Dragged from bottom right to top left.
    assert wine.driver("pointer", 5, 5) == 0
    tooltip = wine.start(["tooltip", "901", "301", "200", "60", str(0xFF00FF), "3"], exe="OstrelDriver.exe")
    time.sleep(1.5)
    post(wine, WM_COMMAND, ID_SCREENSHOT_REGION)
    assert wine.wait_for_window(overlay)
    assert tooltip.wait(timeout=30) == 0
    drag(1317, 713, 801, 203)
    assert wait_until(lambda: list(caps.glob("Screenshot *.png")) and not list(caps.glob("*.part")), 30)
    shots = list(caps.glob("Screenshot *.png"))
    assert len(shots) == 1
    shot = Image.open(shots[0]).convert("RGB")
    assert shot.size == (516, 510)
    tip = (901 - 801, 301 - 203, 901 - 801 + 200, 301 - 203 + 60)
    assert all(shot.getpixel((x, y)) == (255, 0, 255) for x in range(tip[0], tip[2], 7) for y in range(tip[1], tip[3], 7))
    around = expected.crop((801, 203, 1317, 713)).convert("RGB")
    around.paste((255, 0, 255), tip)
    assert mismatches(shot, around) < 2000

    # A request while the selection is open replaces the first one's purpose:
    # opened for a screenshot, asked to record, it records.
    post(wine, WM_COMMAND, ID_SCREENSHOT_REGION)
    assert wine.wait_for_window(overlay)
    post(wine, WM_COMMAND, ID_RECORD_REGION)
    drag(101, 51, 401, 291)
    dismiss_hide_notice(wine, tmp_path)
    assert growing_part(caps)
    post(wine, WM_HOTKEY, 1)
    assert saved(caps, 1)
    video = next(s for s in probe(next(caps.glob("*.mp4")))["streams"] if s["codec_type"] == "video")
    assert (video["width"], video["height"]) == (300, 240)
    assert len(list(caps.glob("Screenshot *.png"))) == 1

    # Another window coming forward ends the selection: it would stay on top
    # without its keys.
    post(wine, WM_COMMAND, ID_SCREENSHOT_REGION)
    assert wine.wait_for_window(overlay)
    other = wine.start(["foreground", "100", "100", "300", "200", str(0x00FF00), "4"], exe="OstrelDriver.exe")
    assert wine.driver("gone", overlay, 10) == 0
    other.wait(timeout=30)
    assert len(list(caps.glob("Screenshot *.png"))) == 1
    assert wine.close(process) == 0
