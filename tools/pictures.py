"""Makes the README's pictures from the test build under Wine on a private
1280 x 800 screen: the tray menu, the toolbar while recording, the region
selection, the editor with marks and a redaction, and the settings window.
Run by tools/pictures.sh, which starts the screen and Wine; the pictures go
to docs/pictures."""
import os
import subprocess
import sys
import time
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont, ImageGrab

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(os.environ["OSTREL_BUILD"]) / "windows"
WORK = Path(os.environ["OSTREL_WORK"])
OUT = ROOT / "docs" / "pictures"
MAIN, TOOLBAR, EDITOR, SETTINGS, REGION = ("NIRAOstrelWindowsMain", "NIRAOstrelToolbar", "NIRAOstrelEditor",
                                           "NIRAOstrelSettings", "NIRAOstrelRegion")
WM_CLOSE, WM_KEYDOWN, WM_COMMAND, WM_HOTKEY, WM_CANCELMODE = 0x0010, 0x0100, 0x0111, 0x0312, 0x001F
WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP = 0x0200, 0x0201, 0x0202
WM_TRAYICON, NIN_KEYSELECT = 0x8001, 0x0401
ID_SETTINGS, HOTKEY_RECORD, HOTKEY_REGION = 106, 1, 4
OK, NO = 1, 7


def winpath(path):
    return subprocess.run(["winepath", "-w", str(path)], capture_output=True, text=True, check=True).stdout.strip()


def wine(*args, timeout=60):
    return subprocess.run(["wine", *map(str, args)], stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)


def driver(*args):
    done = wine(BUILD / "OstrelDriver.exe", *args)
    return done.returncode, done.stdout.decode(errors="replace").strip()


def post(window_class, message, wparam=0, lparam=0):
    assert driver("post", window_class, message, wparam, lparam)[0] == 0, (window_class, message)


def wait_for(window_class, seconds=20):
    assert driver("wait", window_class, seconds)[0] == 0, f"{window_class} did not appear"


def wait_log(text, seconds=30):
    log = WORK / "data" / "ostrel.log"
    for _ in range(seconds * 10):
        if log.exists() and text in log.read_text(encoding="utf-8-sig", errors="replace"):
            return log.read_text(encoding="utf-8-sig", errors="replace")
        time.sleep(0.1)
    raise AssertionError(f"the log never said {text!r}")


def rect(window_class):
    code, out = driver("rect", window_class)
    assert code == 0, f"no {window_class}"
    return tuple(map(int, out.split()))


def grab(box, name, margin=0):
    left, top, right, bottom = box
    box = (max(left - margin, 0), max(top - margin, 0), right + margin, bottom + margin)
    picture = ImageGrab.grab(bbox=box, xdisplay=os.environ["DISPLAY"]).convert("RGB")
    picture.save(OUT / name, optimize=True)
    print(f"{name}: {picture.width} x {picture.height}")


def font(size):
    for candidate in ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                      "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"):
        if Path(candidate).exists():
            return ImageFont.truetype(candidate, size)
    return ImageFont.load_default()


def desk(width, height):
    """A desktop with a mail program on it, to have something to capture."""
    picture = Image.new("RGB", (width, height), (36, 74, 110))
    draw = ImageDraw.Draw(picture)
    for y in range(height):
        shade = int(40 * y / height)
        draw.line([(0, y), (width, y)], fill=(36 + shade, 74 + shade, 110 + shade))
    left, top, right, bottom = 90, 70, width - 260, height - 110
    draw.rectangle([left + 6, top + 6, right + 6, bottom + 6], fill=(20, 40, 60))
    draw.rectangle([left, top, right, bottom], fill=(250, 250, 250))
    draw.rectangle([left, top, right, top + 34], fill=(48, 52, 63))
    draw.text((left + 14, top + 8), "Inbox - Mail", font=font(16), fill=(240, 240, 240))
    draw.rectangle([left, top + 34, left + 220, bottom], fill=(236, 239, 243))
    for i, folder in enumerate(["Inbox (3)", "Sent", "Drafts", "Archive", "Projects"]):
        draw.text((left + 20, top + 56 + i * 32), folder, font=font(15), fill=(50, 50, 60))
    body = left + 250
    draw.text((body, top + 54), "Re: release checklist", font=font(22), fill=(20, 20, 30))
    draw.text((body, top + 90), "From: Dana Whitfield <dana.whitfield@example.com>", font=font(15), fill=(80, 80, 90))
    lines = ["Hi team,", "", "The build is green. Before we ship, please check:", "  1. the installer on a clean machine",
             "  2. the release notes", "  3. the staging key below, which expires on Friday", "",
             "API key: sk-live-7f3a9c21e84b40d6", "", "Thanks, Dana"]
    for i, line in enumerate(lines):
        draw.text((body, top + 130 + i * 26), line, font=font(16), fill=(30, 30, 40))
    return picture


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    caps, data = WORK / "caps", WORK / "data"
    caps.mkdir(parents=True, exist_ok=True)
    data.mkdir(parents=True, exist_ok=True)
    backdrop = WORK / "desk.bmp"  # the driver shows bitmaps
    desk(1280, 800).save(backdrop)
    shown = subprocess.Popen(["wine", str(BUILD / "OstrelDriver.exe"), "show-picture", winpath(backdrop)],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    assert shown.stdout.readline().strip() == b"showing"
    (data / "settings.ini").write_text(f"[ostrel]\r\nfolder={winpath(caps)}\r\ncountdown=0\r\n", encoding="utf-8")
    # Quietly: no notice on the pictures, and the toolbar only with the recording.
    tray = subprocess.Popen(["wine", str(BUILD / "OstrelWindowsTest.exe"), "--quiet"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for(MAIN)
        wait_log("NIRA Ostrel 0.1.0 started")
        time.sleep(2)

        # The settings window.
        post(MAIN, WM_COMMAND, ID_SETTINGS)
        wait_for(SETTINGS)
        time.sleep(1.5)
        grab(rect(SETTINGS), "settings.png")
        post(SETTINGS, WM_CLOSE)

        # The tray menu, opened at the bottom right as the taskbar's icon would.
        driver("pointer", 1150, 780)
        post(MAIN, WM_TRAYICON, 0, NIN_KEYSELECT)
        wait_for("#32768")
        time.sleep(1)
        grab(rect("#32768"), "tray-menu.png", margin=6)
        post(MAIN, WM_CANCELMODE)

        # The region selection, in the middle of a drag.
        post(MAIN, WM_HOTKEY, HOTKEY_REGION)
        wait_for(REGION)
        time.sleep(1.5)
        subprocess.run(["xdotool", "mousemove", "330", "160", "mousedown", "1", "mousemove", "600", "300",
                        "mousemove", "905", "450"], check=True)
        time.sleep(1)
        grab((0, 0, 1280, 800), "region.png")
        subprocess.run(["xdotool", "key", "Escape", "mouseup", "1"], check=True)
        driver("gone", REGION, 10)

        # The editor: a screenshot of the mail with marks, a pixelated
        # address and a redacted key.
        shot = WORK / "mail.png"
        desk(1280, 800).crop((90, 70, 1020, 690)).save(shot)
        wine(BUILD / "OstrelWindowsTest.exe", "--edit", winpath(shot))
        wait_for(EDITOR)
        log = wait_log("Editor opened")
        opened = log[log.rindex("Editor opened"):].split("shown from ")[1].split(")")[0]
        ox, oy = map(int, opened.split(", "))

        def at(x, y):
            return (y + oy) << 16 | (x + ox)

        def drag(start, end):
            post(EDITOR, WM_LBUTTONDOWN, 1, at(*start))
            for step in range(1, 5):
                post(EDITOR, WM_MOUSEMOVE, 1, at(start[0] + (end[0] - start[0]) * step // 4,
                                                   start[1] + (end[1] - start[1]) * step // 4))
            post(EDITOR, WM_LBUTTONUP, 0, at(*end))

        post(EDITOR, WM_KEYDOWN, ord("B"))  # pixelate the sender
        drag((295, 86), (665, 112))
        post(EDITOR, WM_KEYDOWN, ord("X"))  # redact the key
        drag((318, 306), (590, 334))
        post(EDITOR, WM_KEYDOWN, ord("R"))  # frame the checklist
        drag((238, 174), (712, 290))
        post(EDITOR, WM_KEYDOWN, ord("N"))
        drag((740, 182), (740, 182))
        post(EDITOR, WM_KEYDOWN, ord("A"))
        drag((820, 470), (610, 340))
        time.sleep(1.5)
        grab(rect(EDITOR), "editor.png")
        post(EDITOR, WM_CLOSE)
        driver("answer", "NIRA Ostrel: editor", NO, 10, winpath(WORK / "box.txt"))
        # The toolbar while a recording runs.
        post(MAIN, WM_HOTKEY, HOTKEY_RECORD)
        driver("answer", "NIRA Ostrel", OK, 5, winpath(WORK / "box.txt"))
        time.sleep(4)
        grab(rect(TOOLBAR), "toolbar.png", margin=10)
        post(MAIN, WM_HOTKEY, HOTKEY_RECORD)
        wait_log("Recording stopped")

    finally:
        driver("close", MAIN)
        try:
            tray.wait(timeout=30)
        except subprocess.TimeoutExpired:
            tray.kill()
        shown.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
