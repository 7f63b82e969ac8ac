"""The screenshot editor, driven through the messages its window gets from
the mouse and the keys, its saved pictures judged with Pillow."""
import hashlib
import random
import shutil
import time

from PIL import Image

from conftest import MAIN_CLASS, wait_until, winpath
from test_shell_flows import CANCEL, NO, TEST_EXE, WM_HOTKEY, answer, post, start

EDITOR = "NIRAOstrelEditor"
STRIP = 40  # the tool strip's height at 96 DPI: the picture starts below it
WM_CLOSE, WM_KEYDOWN, WM_CHAR, WM_COMMAND = 0x0010, 0x0100, 0x0102, 0x0111
WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP = 0x0200, 0x0201, 0x0202
VK_RETURN, VK_DELETE = 0x0D, 0x2E
IDE_UNDO, IDE_REDO, IDE_SAVE = 540, 541, 543
RED = 0xE53935


class Editor:
    def __init__(self, wine):
        self.wine = wine
        assert wine.wait_for_window(EDITOR)

    def post(self, message, wparam=0, lparam=0):
        assert self.wine.driver("post", EDITOR, message, wparam, lparam) == 0

    def at(self, x, y):
        return (y + STRIP) << 16 | x

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
    editor = Editor(wine)

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
    Editor(wine).post(WM_CLOSE)
    assert wine.driver("gone", EDITOR, 20) == 0
    assert wine.close(process) == 0
