#!/usr/bin/python3
"""Resident memory of the test build's tray program while it is driven by its
shortcuts: 100 screenshots, then 50 short recordings, with a reading every
ten captures. Run by bench/tray_memory.sh, which provides the screen, the
sound server and the Wine prefix.

    bench/tray_memory.py WORK_FOLDER [SCREENSHOTS RECORDINGS]
"""
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
from conftest import MAIN_CLASS, Wine, wait_until, winpath  # noqa: E402

WM_HOTKEY = 0x0312
HOTKEY_RECORD, HOTKEY_SCREENSHOT = 1, 3


def resident_mib():
    pids = subprocess.run(["pgrep", "-f", "OstrelWindowsTest.exe"], capture_output=True, text=True).stdout.split()
    for pid in pids:
        try:
            for line in Path(f"/proc/{pid}/status").read_text().splitlines():
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) // 1024
        except OSError:
            continue
    return -1


def main(work, screenshots, recordings):
    data, caps = work / "data", work / "caps"
    data.mkdir(parents=True)
    (data / "settings.ini").write_text(f"[ostrel]\r\nfolder={winpath(caps)}\r\ncountdown=0\r\n", encoding="utf-8")
    wine = Wine(data)
    process = wine.start_tray(exe="OstrelWindowsTest.exe")
    post = lambda hotkey: wine.driver("post", MAIN_CLASS, WM_HOTKEY, hotkey, 0)
    try:
        time.sleep(2)
        print(f"started: {resident_mib()} MiB", flush=True)
        for n in range(1, screenshots + 1):
            post(HOTKEY_SCREENSHOT)
            if not wait_until(lambda: len(list(caps.glob("Screenshot *.png"))) == n and not list(caps.glob("*.part")), 60):
                raise SystemExit(f"screenshot {n} did not appear")
            if n % 10 == 0:
                print(f"{n} screenshots: {resident_mib()} MiB", flush=True)
        for n in range(1, recordings + 1):
            post(HOTKEY_RECORD)
            if n == 1:
                # Wine cannot keep the toolbar out of captures, and says so once.
                box = work / "box.txt"
                wine.driver("answer", "NIRA Ostrel", 1, 5, winpath(box), timeout=65)
            if not wait_until(lambda: list(caps.glob("*.mp4.part")), 60):
                raise SystemExit(f"recording {n} did not start")
            time.sleep(1)
            post(HOTKEY_RECORD)
            if not wait_until(lambda: len(list(caps.glob("*.mp4"))) == n and not list(caps.glob("*.part")), 60):
                raise SystemExit(f"recording {n} was not saved")
            if n % 10 == 0:
                print(f"{n} recordings: {resident_mib()} MiB", flush=True)
    finally:
        wine.close(process, timeout=90)
        wine.cleanup()


if __name__ == "__main__":
    counts = [int(a) for a in sys.argv[2:4]] or [100, 50]
    main(Path(sys.argv[1]), *counts)
