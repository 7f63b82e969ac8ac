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
    """The Windows path under which Wine's programs see a Linux path. The
    prefix's Z: drive is the Linux root, so an absolute path outside the
    prefix is written down at once; others ask winepath (through a file, not
    a pipe: Wine's helper processes may inherit and keep it). Starting a Wine
    program for every path was slow, and once in a while one ended with 1."""
    absolute = os.path.abspath(str(path))
    prefix = os.environ.get("WINEPREFIX", "")
    if (prefix and os.path.realpath(os.path.join(prefix, "dosdevices", "z:")) == "/"
            and not absolute.startswith(os.path.realpath(prefix) + "/")):
        return "Z:" + absolute.replace("/", "\\")
    with tempfile.TemporaryFile() as out:
        subprocess.run(["winepath", "-w", str(path)], stdin=subprocess.DEVNULL, stdout=out,
                       stderr=subprocess.DEVNULL, timeout=60, check=True)
        out.seek(0)
        return out.read().decode().strip()


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
        # What Wine prints (a crash report, the debugger's backtrace) goes to a file
        # beside the data folder, so that a failing test can show it.
        errors = tempfile.NamedTemporaryFile(prefix="wine-", suffix=".err", dir=self.data_dir.parent, delete=False)
        process = subprocess.Popen(
            ["wine", self.exe(exe), *args],
            env=env or self.env,
            stdin=subprocess.DEVNULL,
            stdout=errors,
            stderr=errors,
        )
        errors.close()
        process.errors_path = Path(errors.name)
        self.started.append(process)
        return process

    @staticmethod
    def errors(process):
        """The last of what Wine wrote to standard error for a started program."""
        return read_text(getattr(process, "errors_path", ""))[-3000:]

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
            stdout, stderr = out.read(), err.read()
            # Killed by Wine's server, not by us, with no fault reported: the
            # server's reaper caught a program whose Unix side was slow to exit
            # after its Windows side had ended (see ended()).
            if returncode == -9 and b"Unhandled" not in stderr:
                print(f"Wine's server killed {exe} after it ended; taken as exit code 0")
                returncode = 0
            # A fault Wine reported fails, whatever the exit code says (see ended()).
            if returncode == 0 and b"Unhandled" in stderr:
                print(f"Wine reported a fault in {exe}:\n{stderr.decode('utf-8', 'replace')[-3000:]}")
                returncode = 1
            return subprocess.CompletedProcess(process.args, returncode, stdout, stderr)

    def driver(self, *args, timeout=60):
        return self.run([str(a) for a in args], exe="OstrelDriver.exe", timeout=timeout).returncode

    def driver_output(self, *args, timeout=60):
        """What the driver printed, or None when it failed."""
        done = self.run([str(a) for a in args], exe="OstrelDriver.exe", timeout=timeout)
        return done.stdout.decode("utf-8").strip() if done.returncode == 0 else None

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
        return self.ended(process, timeout)

    def ended(self, process, timeout=60):
        """Waits for a started program to end; returns its exit code, and
        prints what Wine and the program's log said when it is not 0.

        A fault Wine reported fails even when the exit code is 0: one in a
        static destructor, after the main function returned, leaves it 0."""
        code = process.wait(timeout=timeout)
        said = self.errors(process)
        faulted = "Unhandled" in said
        if code == 0 and not faulted:
            return 0
        log = read_text(self.data_dir / "ostrel.log")
        print(f"exit code {code}; Wine said:\n{said}\nThe log ends:\n{log[-1500:]}")
        if faulted:
            print("Wine reported a fault in the program")
            return code or 1
        # After the last Windows thread has ended, the Unix side can still be
        # ended by a signal with no fault on the Windows side: Wine's server
        # gives it about half a second, then kills it (-9); and Wine's own
        # teardown can fault on a thread-pool worker that ends with the
        # program (-11, with nothing printed, where a fault in the program is
        # always reported; see docs/testing.md). When the log says the
        # program ended well, that end is the program's.
        if code in (-9, -11) and log.rstrip().endswith("NIRA Ostrel ended"):
            print("the program had ended well; its Unix side's end is taken as exit code 0")
            return 0
        return code

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
        # Every Wine program of this test, helpers such as winepath included,
        # runs on this screen.
        self.saved_display = os.environ.get("DISPLAY")
        os.environ["DISPLAY"] = self.display
        width, height = map(int, self.size.split("x"))
        restart_wine_server(expected=(width, height))
        return self

    def __exit__(self, *exc):
        if self.saved_display is None:
            os.environ.pop("DISPLAY", None)
        else:
            os.environ["DISPLAY"] = self.saved_display
        restart_wine_server()
        self.process.terminate()
        self.process.wait(timeout=30)

    def show(self, image_path):
        show_on_screen(self.display, image_path)


def restart_wine_server(expected=None):
    """Ends Wine's server for the prefix and starts a persistent one again;
    the next program brings Wine's desktop up on its own display. (A server
    that is not persistent ends a few seconds after its last program and
    takes a program starting just then with it.) Wine once measured a new
    screen as 1024 x 768; with `expected`, a desktop of another size is
    brought up again."""
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    for _ in range(3):
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
        subprocess.run(["wineserver", "-p"], **quiet)
        # Wine's services start here, once, rather than in a race between the
        # first programs of the next test (one of two such programs was seen killed).
        subprocess.run(["wineboot"], **quiet)
        size = keep_desktop()
        if expected is None or size == expected:
            return
    raise AssertionError(f"Wine measured the screen as {size}, not {expected}")


_desktop_keeper = None


def keep_desktop():
    """Keeps Wine's desktop open until the server ends. Wine closes it a second
    after the last program on it ends, and a program of the next test that
    starts just then lost its windows and ended by itself."""
    global _desktop_keeper
    if _desktop_keeper is not None and _desktop_keeper.poll() is None:
        _desktop_keeper.kill()
    if _desktop_keeper is not None:
        _desktop_keeper.wait(timeout=30)
    _desktop_keeper = subprocess.Popen(["wine", str(WINDOWS_BUILD / "OstrelDriver.exe"), "hold-desktop", "86400"],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    words = _desktop_keeper.stdout.readline().split()
    assert words[:1] == [b"holding"], "the desktop keeper did not start"
    return tuple(map(int, words[1:3]))


@pytest.fixture(scope="session", autouse=True)
def _desktop_kept():
    keep_desktop()
    yield
    _desktop_keeper.kill()
    _desktop_keeper.wait(timeout=30)


_shown = {}


def show_on_screen(display, image_path):
    """Covers the screen with a picture in a window of our driver, and checks
    that the screen shows it. (A picture set as the screen's background does
    not last: Wine's desktop clears it whenever it starts.) The window stays
    until the next picture on that screen or the end of the test."""
    from PIL import Image

    env = {**os.environ, "DISPLAY": display}
    bitmap = Path(image_path).with_suffix(".bmp")
    with Image.open(image_path) as picture:
        picture.convert("RGB").save(bitmap)
        expected = picture.convert("RGB").crop((100, 100, 104, 104)).tobytes()
    hide_picture(display)
    process = subprocess.Popen(["wine", str(WINDOWS_BUILD / "OstrelDriver.exe"), "show-picture", winpath(bitmap)],
                               env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    _shown[display] = process
    assert process.stdout.readline().strip() == b"showing", "the picture window did not open"
    for _ in range(100):
        shown = subprocess.run(["import", "-window", "root", "-crop", "4x4+100+100", "-depth", "8", "rgb:-"],
                               env=env, capture_output=True, timeout=60).stdout
        if shown == expected:
            return
        time.sleep(0.1)
    raise AssertionError("the picture did not show on the screen")


def hide_picture(display):
    process = _shown.pop(display, None)
    if process is not None:
        process.kill()
        process.wait(timeout=30)


@pytest.fixture(autouse=True)
def _hide_pictures_afterwards():
    yield
    for display in list(_shown):
        hide_picture(display)


@pytest.fixture
def library(tmp_path):
    """The library test server, one per test, with its parts stored in the test's folder."""
    import sys
    sys.path.insert(0, str(REPO / "tests" / "server"))
    from harness import LibraryServer

    server = LibraryServer(tmp_path / "library")
    yield server
    server.stop()
