"""The screenshot editor, driven through the messages its window gets from
the mouse and the keys, its saved pictures judged with Pillow."""
import hashlib
import random
import re
import shutil
import time

from PIL import Image

from conftest import MAIN_CLASS, read_text, wait_until, winpath
from test_record import probe, video_times
from test_shell_flows import (CANCEL, ID_QUIT, NO, OK, TEST_EXE, WM_HOTKEY, answer, dismiss_hide_notice, growing_part,
                              post, saved, start)

EDITOR = "NIRAOstrelEditor"
OPENED = re.compile(r"Editor opened: (.*) \((\d+) x (\d+) at (\d+) %, shown from (-?\d+), (-?\d+)\)")
WM_CLOSE, WM_KEYDOWN, WM_CHAR, WM_COMMAND = 0x0010, 0x0100, 0x0102, 0x0111
WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP = 0x0200, 0x0201, 0x0202
VK_RETURN, VK_DELETE = 0x0D, 0x2E
IDE_UNDO, IDE_REDO, IDE_SAVE = 540, 541, 543
RED = 0xE53935


def opened(data_dir):
    """What the log says of each picture the editor opened, in order."""
    return [match.groups() for match in OPENED.finditer(read_text(data_dir / "ostrel.log"))]


class Editor:
    """An editor window whose picture has been read; mouse positions are
    the picture's pixels at 100 %."""

    def __init__(self, wine, seen=0):
        self.wine = wine
        assert wine.wait_for_window(EDITOR)
        assert wait_until(lambda: len(opened(wine.data_dir)) > seen, 60), "the picture was not opened"
        shown = opened(wine.data_dir)[seen]
        self.scale = int(shown[3])
        self.origin = (int(shown[4]), int(shown[5]))

    def post(self, message, wparam=0, lparam=0):
        assert self.wine.driver("post", EDITOR, message, wparam, lparam) == 0

    def at(self, x, y):
        return (y + self.origin[1]) << 16 | (x + self.origin[0])

    def key(self, code):
        self.post(WM_KEYDOWN, code)

    def drag(self, *points):
        self.post(WM_LBUTTONDOWN, 1, self.at(*points[0]))
        for point in points[1:]:
            self.post(WM_MOUSEMOVE, 1, self.at(*point))
        self.post(WM_LBUTTONUP, 0, self.at(*points[-1]))

    def click(self, x, y):
        self.drag((x, y))

    def type(self, text):
        for c in text:
            self.post(WM_CHAR, ord(c))

    def command(self, command):
        self.post(WM_COMMAND, command)


def known_picture(path):
    """Noise on the left, where pixelation must leave none of it; white on
    the right, where shapes are easy to find."""
    rng = random.Random(7)
    image = Image.new("RGB", (600, 400), (255, 255, 255))
    noise = bytes(rng.randrange(256) for _ in range(300 * 400 * 3))
    image.paste(Image.frombytes("RGB", (300, 400), noise), (0, 0))
    image.save(path)
    return image


def red(pixel):
    r, g, b = pixel[:3]
    return r > 180 and g < 110 and b < 110


def test_mark_up_redact_crop_undo_and_save_leave_the_original_alone(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    caps.mkdir()
    original = caps / "picture.png"
    source = known_picture(original)
    before = hashlib.sha256(original.read_bytes()).hexdigest()
    process = wine.start(["--edit", winpath(original)], exe=TEST_EXE)
    editor = Editor(wine)
    edited = caps / "picture (edited).png"

    editor.key(ord("R"))
    editor.drag((350, 40), (400, 80), (450, 110))
    editor.key(ord("A"))
    editor.drag((320, 300), (370, 250), (420, 200))
    editor.key(ord("T"))
    editor.click(460, 150)
    editor.type("OK")
    editor.key(VK_RETURN)
    editor.key(ord("N"))
    editor.click(540, 60)
    editor.click(540, 160)
    editor.command(IDE_SAVE)
    assert wait_until(edited.exists, 20)
    first = tmp_path / "first.png"
    shutil.copy(edited, first)

    # The first step deleted: the other one reads 1.
    editor.key(ord("V"))
    editor.click(540, 60)
    editor.key(VK_DELETE)
    # Noise pixelated, in blocks of 12 from the drag's corner.
    editor.key(ord("B"))
    editor.drag((20, 20), (120, 120), (200, 200))
    # Cropped by its handles, undone, redone.
    editor.key(ord("C"))
    editor.drag((0, 0), (5, 5), (10, 10))
    editor.drag((600, 400), (595, 390), (590, 380))
    editor.key(VK_RETURN)
    editor.command(IDE_UNDO)
    editor.command(IDE_REDO)
    saved_at = edited.stat().st_mtime_ns
    editor.command(IDE_SAVE)
    assert wait_until(lambda: edited.stat().st_mtime_ns != saved_at, 20)
    editor.post(WM_CLOSE)
    assert wine.driver("gone", EDITOR, 20) == 0
    assert wine.close(process) == 0

    assert hashlib.sha256(original.read_bytes()).hexdigest() == before
    assert not list(caps.glob("*.part"))
    shot = Image.open(edited).convert("RGB")
    assert shot.size == (580, 370)
    # Shapes where they were drawn (the crop moved everything by 10, 10).
    assert red(shot.getpixel((340, 70))) and red(shot.getpixel((440, 70)))  # the rectangle's sides
    assert shot.getpixel((390, 65)) == (255, 255, 255)  # its inside untouched
    assert red(shot.getpixel((360, 240)))  # the arrow's shaft
    assert any(red(shot.getpixel((x, y))) for x in range(450, 490) for y in range(140, 170))  # the text
    # The remaining step reads as the first one did, not as the second.
    earlier = Image.open(first).convert("RGB")
    box = lambda image, x, y: image.crop((x - 22, y - 22, x + 22, y + 22)).tobytes()
    assert box(shot, 530, 150) == box(earlier, 540, 60)
    assert box(shot, 530, 150) != box(earlier, 540, 160)
    assert not any(red(shot.getpixel((530 + dx, 50 + dy))) for dx in range(-15, 16, 5) for dy in range(-15, 16, 5))
    # Every pixelated block is one colour; the noise around it is as it was.
    for bx in range(10, 190, 12):
        for by in range(10, 190, 12):
            block = shot.crop((bx, by, bx + 12, by + 12))
            assert len(set(block.getdata())) == 1, (bx, by)
    assert shot.crop((10, 200, 190, 370)).tobytes() == source.crop((20, 210, 200, 380)).tobytes()
    assert shot.crop((200, 10, 290, 190)).tobytes() == source.crop((210, 20, 300, 200)).tobytes()


def test_ways_in_and_closing_with_changes(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, editor_after_screenshot=1)
    # A screenshot opens in the editor when the setting asks for it.
    post(wine, WM_HOTKEY, 3)
    assert wait_until(lambda: list(caps.glob("Screenshot *.png")), 30)
    editor = Editor(wine)
    shot = next(caps.glob("Screenshot *.png"))
    editor.post(WM_CLOSE)
    assert wine.driver("gone", EDITOR, 20) == 0

    # "Edit last screenshot" in the tray menu opens it again.
    post(wine, WM_COMMAND, 112)
    editor = Editor(wine, seen=1)

    # Closing with a change asks; Cancel keeps editing, No closes without saving.
    editor.key(ord("N"))
    editor.click(50, 50)
    editor.post(WM_CLOSE)
    question = answer(wine, tmp_path, "NIRA Ostrel: editor", CANCEL)
    assert question.startswith("Save the changes to the picture before closing?")
    assert wine.driver("find", EDITOR) == 0
    editor.post(WM_CLOSE)
    assert answer(wine, tmp_path, "NIRA Ostrel: editor", NO) is not None
    assert wine.driver("gone", EDITOR, 20) == 0
    assert not list(caps.glob("* (edited).png"))

    # A second start with --edit opens the picture in the copy that runs, and ends.
    second = wine.run(["--edit", winpath(shot)], exe=TEST_EXE, timeout=60)
    assert second.returncode == 0
    Editor(wine, seen=2).post(WM_CLOSE)
    assert wine.driver("gone", EDITOR, 20) == 0
    assert wine.close(process) == 0


def notices(data_dir):
    return [line.split("  Notice: ", 1)[1] for line in read_text(data_dir / "ostrel.log").splitlines()
            if "  Notice: " in line]


def test_what_was_drawn_survives_quit_the_installer_and_a_second_session(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    caps.mkdir()
    original = caps / "shot.png"
    known_picture(original)
    # A file of the user's that happens to have the name an edit would take.
    theirs = caps / "shot (edited).png"
    Image.new("RGB", (10, 10), (0, 0, 255)).save(theirs)
    theirs_hash = hashlib.sha256(theirs.read_bytes()).hexdigest()

    # Quit asks the editor with changes; Cancel keeps the program and the editor.
    process = start(wine, data_dir, caps)
    assert wine.run(["--edit", winpath(original)], exe=TEST_EXE, timeout=60).returncode == 0
    editor = Editor(wine)
    editor.key(ord("N"))
    editor.click(450, 100)
    post(wine, WM_COMMAND, ID_QUIT)
    assert answer(wine, tmp_path, "NIRA Ostrel: editor", CANCEL).startswith("Save the changes to the picture")
    assert wine.driver("find", EDITOR) == 0 and wine.driver("find", MAIN_CLASS) == 0
    # No: nothing is saved and the program ends.
    post(wine, WM_COMMAND, ID_QUIT)
    assert answer(wine, tmp_path, "NIRA Ostrel: editor", NO) is not None
    assert wine.ended(process) == 0
    assert sorted(p.name for p in caps.iterdir()) == ["shot (edited).png", "shot.png"]

    # Closed by OstrelSetup: no question, the changes go to a new file.
    process = start(wine, data_dir, caps)
    assert wine.run(["--edit", winpath(original)], exe=TEST_EXE, timeout=60).returncode == 0
    editor = Editor(wine, seen=1)
    editor.key(ord("N"))
    editor.click(450, 100)
    assert wine.close(process) == 0
    kept = caps / "shot (edited 2).png"
    assert kept.exists()
    assert red(Image.open(kept).convert("RGB").getpixel((450 - 14, 100)))  # the step's circle
    assert hashlib.sha256(theirs.read_bytes()).hexdigest() == theirs_hash
    assert f"Editor changes kept in {winpath(kept)} as the program ended" in read_text(data_dir / "ostrel.log")

    # The next start says where they are. Editing that file never writes it.
    process = start(wine, data_dir, caps)
    assert wait_until(lambda: any(n.startswith("Edits kept: ") for n in notices(data_dir)), 20)
    assert f"They were saved as {winpath(kept)}." in [n for n in notices(data_dir) if n.startswith("Edits kept")][0]
    kept_hash = hashlib.sha256(kept.read_bytes()).hexdigest()
    assert wine.run(["--edit", winpath(kept)], exe=TEST_EXE, timeout=60).returncode == 0
    editor = Editor(wine, seen=2)
    # The name it would take is taken meanwhile by a file of the user's.
    also_theirs = caps / "shot (edited 3).png"
    shutil.copy(theirs, also_theirs)
    editor.key(ord("R"))
    editor.drag((350, 300), (400, 340), (450, 380))
    editor.command(IDE_SAVE)
    fourth = caps / "shot (edited 4).png"
    assert wait_until(fourth.exists, 20)
    # Saved again from the same window: its own file is replaced, no fifth appears.
    editor.key(ord("N"))
    editor.click(100, 300)
    written = fourth.stat().st_mtime_ns
    editor.command(IDE_SAVE)
    assert wait_until(lambda: fourth.stat().st_mtime_ns != written, 20)
    assert not (caps / "shot (edited 5).png").exists()
    for path, digest in ((kept, kept_hash), (theirs, theirs_hash), (also_theirs, theirs_hash)):
        assert hashlib.sha256(path.read_bytes()).hexdigest() == digest, path
    editor.post(WM_CLOSE)
    assert wine.driver("gone", EDITOR, 20) == 0
    assert wine.close(process) == 0


def test_a_huge_picture_opens_while_a_recording_goes_on(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    huge = tmp_path / "huge.png"
    Image.new("RGB", (16384, 16384), (40, 120, 200)).save(huge, compress_level=1)
    process = start(wine, data_dir, caps, countdown=0)
    post(wine, WM_HOTKEY, 1)
    dismiss_hide_notice(wine, tmp_path)
    assert growing_part(caps)

    # The second start is answered at once, and the program takes its
    # messages while the picture is still being read.
    assert wine.run(["--edit", winpath(huge)], exe=TEST_EXE, timeout=60).returncode == 0
    assert not opened(data_dir), "the second start waited for the picture to be read"
    for _ in range(3):
        assert opened(data_dir) or wine.driver("answers", MAIN_CLASS, 1000) == 0
    part = next(caps.glob("*.mp4.part"))
    size = part.stat().st_size
    assert wait_until(lambda: part.stat().st_size > size + 200_000, 20), "the recording stopped while the picture loaded"

    # It opens, fitted, or is refused with a sentence; the program goes on either way.
    refusal = tmp_path / "refusal.txt"
    def settled():
        if opened(data_dir):
            return True
        return wine.driver("answer", "NIRA Ostrel: editor", OK, 1, winpath(refusal), timeout=30) == 0
    assert wait_until(settled, 180, interval=1)
    if opened(data_dir):
        assert int(opened(data_dir)[0][3]) < 10
        Editor(wine).post(WM_CLOSE)
        assert wine.driver("gone", EDITOR, 30) == 0
    else:
        assert "needs more memory than is free now" in refusal.read_text(encoding="utf-8")
    size = part.stat().st_size
    assert wait_until(lambda: part.stat().st_size > size + 200_000, 20)
    post(wine, WM_HOTKEY, 1)
    assert saved(caps, 1)
    recording = next(caps.glob("Recording *.mp4"))
    assert len(video_times(probe(recording))) > 20
    assert wine.close(process) == 0


def test_pictures_keep_their_transparency_orientation_and_say_when_they_hold_more(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    caps.mkdir()
    # See-through on the right half.
    clear = caps / "clear.png"
    picture = Image.new("RGBA", (200, 100), (0, 128, 0, 255))
    picture.paste((255, 255, 255, 0), (100, 0, 200, 100))
    picture.save(clear)
    # Stored on its side: EXIF orientation 6 asks for a quarter turn clockwise.
    turned = caps / "turned.jpg"
    sideways = Image.new("RGB", (120, 60), (0, 0, 255))
    sideways.paste((255, 0, 0), (0, 0, 60, 60))
    exif = Image.Exif()
    exif[0x0112] = 6
    sideways.save(turned, exif=exif, quality=95)
    # Three pictures in one file.
    frames = caps / "frames.gif"
    first, *others = [Image.new("P", (80, 40), i) for i in (1, 2, 3)]
    first.save(frames, save_all=True, append_images=others)

    process = start(wine, data_dir, caps)
    for seen, path in enumerate([clear, turned, frames]):
        assert wine.run(["--edit", winpath(path)], exe=TEST_EXE, timeout=60).returncode == 0
        editor = Editor(wine, seen=seen)
        if path == frames:
            title = wine.driver_output("get-text", EDITOR, "0")
            assert "(the first of the 3 pictures in the file)" in title, title
        editor.key(ord("N"))
        editor.click(*{clear: (150, 20), turned: (30, 60), frames: (40, 20)}[path])
        editor.command(IDE_SAVE)
        assert wait_until(lambda: (caps / f"{path.stem} (edited).png").exists(), 20)
        editor.post(WM_CLOSE)
        assert wine.driver("gone", EDITOR, 20) == 0
    assert wine.close(process) == 0

    kept = Image.open(caps / "clear (edited).png")
    assert kept.mode == "RGBA"
    assert kept.getpixel((10, 50)) == (0, 128, 0, 255)
    assert kept.getpixel((190, 90))[3] == 0
    assert kept.getpixel((150 - 14, 20))[3] == 255 and red(kept.getpixel((150 - 14, 20)))  # drawn over the clear part
    upright = Image.open(caps / "turned (edited).png").convert("RGB")
    assert upright.size == (60, 120)
    top, bottom = upright.getpixel((30, 10)), upright.getpixel((30, 110))
    assert top[0] > 200 and top[2] < 60, top  # the red end is on top
    assert bottom[2] > 200 and bottom[0] < 60, bottom


def test_altgr_letters_type_and_never_run_shortcuts(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    caps.mkdir()
    original = caps / "shot.png"
    known_picture(original)
    process = start(wine, data_dir, caps)
    assert wine.run(["--edit", winpath(original)], exe=TEST_EXE, timeout=60).returncode == 0
    editor = Editor(wine)
    editor.key(ord("T"))
    editor.click(400, 200)
    editor.type("a")
    # Windows reports AltGr as Ctrl and Alt: S, Z and C with it are letters
    # on many keyboards (ś, ż, ć in Polish), never Save, Undo or Copy.
    for letter in "SZC":
        assert wine.driver("chord", EDITOR, f"ctrl+alt+{letter}") == 0
    editor.type("\u015b")
    time.sleep(1)
    assert not (caps / "shot (edited).png").exists()
    # Ctrl alone is a shortcut: the text typed so far, ś too, is saved.
    assert wine.driver("chord", EDITOR, "ctrl+S") == 0
    assert wait_until((caps / "shot (edited).png").exists, 20)
    saved_picture = Image.open(caps / "shot (edited).png").convert("RGB")
    assert any(red(saved_picture.getpixel((x, y))) for x in range(400, 440) for y in range(200, 230))
    editor.post(WM_CLOSE)
    assert wine.driver("gone", EDITOR, 20) == 0
    assert wine.close(process) == 0
