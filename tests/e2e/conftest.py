"""Shared fixtures for the end-to-end tests: the built programs under Wine.

tools/test.sh starts the display, the sound server and the Wine prefix and
exports DISPLAY, WINEPREFIX and OSTREL_BUILD before pytest runs. Every wait
here is bounded, and only processes a test started are ended.
"""
import os
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("OSTREL_BUILD", REPO / "build"))
WINDOWS_BUILD = BUILD / "windows"
MAIN_CLASS = "NIRAOstrelWindowsMain"


def winpath(path):
    """The Windows path under which Wine's programs see a Linux path."""
    out = subprocess.run(["winepath", "-w", str(path)], capture_output=True, text=True, timeout=60, check=True)
    return out.stdout.strip()


def wait_until(condition, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return condition()


def read_text(path):
    try:
        return Path(path).read_bytes().decode("utf-8-sig", errors="replace")
    except OSError:
        return ""


class Wine:
    """Starts our Windows programs under Wine and drives them with OstrelDriver."""

    def __init__(self, data_dir):
        self.data_dir = data_dir
        self.env = dict(os.environ)
        self.env["OSTREL_DATA_DIR"] = winpath(data_dir)
        self.started = []

    def exe(self, name):
        path = WINDOWS_BUILD / name
        assert path.exists(), f"{path} is not built"
        return str(path)

    def start(self, args=(), exe="OstrelWindows.exe", env=None):
        process = subprocess.Popen(
            ["wine", self.exe(exe), *args],
            env=env or self.env,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        self.started.append(process)
        return process

    def run(self, args=(), exe="OstrelWindows.exe", timeout=60, env=None):
        # Output goes through files, not pipes: Wine's own helper processes
        # (wineserver, the desktop) inherit the handles and outlive the program.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.Popen(
                ["wine", self.exe(exe), *args],
                env=env or self.env,
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=err,
            )
            try:
                returncode = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=15)
                raise
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(process.args, returncode, out.read(), err.read())

    def driver(self, *args, timeout=60):
        return self.run([str(a) for a in args], exe="OstrelDriver.exe", timeout=timeout).returncode

    def wait_for_window(self, window_class=MAIN_CLASS, seconds=30):
        return self.driver("wait", window_class, seconds, timeout=seconds + 30) == 0

    def start_tray(self, args=(), exe="OstrelWindows.exe", env=None):
        """Starts the tray program and waits until its main window exists."""
        process = self.start(args, exe=exe, env=env)
        assert self.wait_for_window(), "the main window did not appear"
        assert process.poll() is None
        return process

    def close(self, process, window_class=MAIN_CLASS, timeout=30):
        """Asks the program to end the way the installer does; returns its exit code."""
        assert self.driver("close", window_class) == 0
        return process.wait(timeout=timeout)

    def cleanup(self):
        for process in self.started:
            if process.poll() is None:
                self.driver("close", MAIN_CLASS)
                try:
                    process.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(timeout=15)


@pytest.fixture
def data_dir(tmp_path):
    """A data folder that does not exist yet; the program makes it."""
    return tmp_path / "data"


@pytest.fixture
def wine(data_dir):
    session = Wine(data_dir)
    yield session
    session.cleanup()


class PrivateScreen:
    """An Xvfb screen of a chosen size, with Wine's server restarted on it."""

    def __init__(self, size):
        self.size = size
        self.display = None
        self.process = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.size}x24", "-nolisten", "tcp"],
            pass_fds=(write_end,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        assert number, "Xvfb did not start"
        self.display = f":{number}"
        restart_wine_server()
        return self

    def __exit__(self, *exc):
        restart_wine_server()
        self.process.terminate()
        self.process.wait(timeout=30)

    def show(self, image_path):
        show_on_screen(self.display, image_path)


def restart_wine_server():
    """Ends Wine's server for the prefix, so the next program starts one on the current display."""
    subprocess.run(["wineserver", "-k"], timeout=60)
    subprocess.run(["wineserver", "-w"], timeout=60)


def show_on_screen(display, image_path):
    """Puts a picture on the screen's background (the root window). ImageMagick
    exits with 1 here even when the picture is shown, so its code is not used."""
    subprocess.run(["display", "-window", "root", str(image_path)], env={**os.environ, "DISPLAY": display},
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
