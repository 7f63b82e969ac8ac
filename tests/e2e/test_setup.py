"""OstrelSetup: installing, registering, closing a running program and
uninstalling through the temporary copy, under Wine."""
import os
import re
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

from conftest import MAIN_CLASS, WINDOWS_BUILD, read_text, wait_until, winpath

UNINSTALL_KEYS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
TEST_KEYS = ("NIRAOstrel", "Test2", "Test3")


def wine_tool(*args):
    """Runs one of Wine's own programs; its exit code and output (through a file)."""
    with tempfile.TemporaryFile() as out:
        done = subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                              timeout=60)
        out.seek(0)
        return done.returncode, out.read().decode(errors="replace")


def unixpath(windows_path):
    with tempfile.TemporaryFile() as out:
        subprocess.run(["winepath", "-u", windows_path], stdin=subprocess.DEVNULL, stdout=out,
                       stderr=subprocess.DEVNULL, timeout=60, check=True)
        out.seek(0)
        return Path(out.read().decode().strip())


def registration(key="NIRAOstrel"):
    """The values of an uninstall registration as {name: (type, data)}; None without the key."""
    code, text = wine_tool("reg", "query", f"{UNINSTALL_KEYS}\\{key}")
    if code != 0:
        return None
    values = {}
    for line in text.splitlines():
        if line.startswith("    "):
            name, kind, *data = re.split(r" {4}", line.strip(), maxsplit=2)
            values[name] = (kind, data[0] if data else "")
    return values


def run_value():
    """What the user's Run key starts as "NIRA Ostrel", or None."""
    code, text = wine_tool("reg", "query", RUN_KEY, "/v", "NIRA Ostrel")
    if code != 0:
        return None
    for line in text.splitlines():
        name, _, rest = line.strip().partition("    ")
        if name == "NIRA Ostrel":
            return rest.partition("    ")[2]
    return None


def set_run_value(value):
    assert wine_tool("reg", "add", RUN_KEY, "/v", "NIRA Ostrel", "/t", "REG_SZ", "/d", value, "/f")[0] == 0


def delete_run_value():
    wine_tool("reg", "delete", RUN_KEY, "/v", "NIRA Ostrel", "/f")


@pytest.fixture(autouse=True)
def no_registrations():
    for key in TEST_KEYS:
        wine_tool("reg", "delete", f"{UNINSTALL_KEYS}\\{key}", "/f")
    delete_run_value()
    yield
    for key in TEST_KEYS:
        wine_tool("reg", "delete", f"{UNINSTALL_KEYS}\\{key}", "/f")
    delete_run_value()


def run_setup(wine, *args, exe="OstrelSetup.exe", env=None):
    return wine.run([str(a) for a in args], exe=exe, timeout=120, env=env).returncode


def install(wine, folder, menu, *extra, exe="OstrelSetup.exe"):
    return run_setup(wine, "/S", "/dir", winpath(folder), "/startmenu", winpath(menu), *extra, exe=exe)


def test_silent_install_registers_everything_and_reinstalls_from_its_uninstaller(wine, data_dir, tmp_path):
    apps = tmp_path / "my apps" / "NIRA Ostrel"
    menu = tmp_path / "menu" / "Programs"
    assert run_setup(wine, "/s", "/DIR", winpath(apps), "/startmenu", winpath(menu), "/dir") == 0

    program, uninstaller = apps / "OstrelWindows.exe", apps / "Uninstall Ostrel.exe"
    assert program.read_bytes() == (WINDOWS_BUILD / "OstrelWindows.exe").read_bytes()
    assert uninstaller.read_bytes() == (WINDOWS_BUILD / "OstrelSetup.exe").read_bytes()
    link = (menu / "NIRA Ostrel.lnk").read_bytes()
    assert "Record your screen and take screenshots".encode("utf-16-le") in link
    assert winpath(apps).encode("utf-16-le") in link  # the working folder

    folder = winpath(apps)
    values = registration()
    url = values.pop("URLInfoAbout")
    assert url[0] == "REG_SZ" and url[1].startswith("https://") and not url[1].endswith("/")
    assert values == {
        "DisplayName": ("REG_SZ", "NIRA Ostrel"),
        "DisplayVersion": ("REG_SZ", "0.1.0"),
        "Publisher": ("REG_SZ", "Vantil Orche LLC"),
        "DisplayIcon": ("REG_SZ", folder + "\\OstrelWindows.exe"),
        "InstallLocation": ("REG_SZ", folder),
        "HelpLink": ("REG_SZ", url[1] + "/help"),
        "OstrelShortcut": ("REG_SZ", winpath(menu) + "\\NIRA Ostrel.lnk"),
        "UninstallString": ("REG_SZ", f'"{folder}\\Uninstall Ostrel.exe" /uninstall'),
        "QuietUninstallString": ("REG_SZ", f'"{folder}\\Uninstall Ostrel.exe" /uninstall /S'),
        "NoModify": ("REG_DWORD", "0x1"),
        "NoRepair": ("REG_DWORD", "0x1"),
        "EstimatedSize": ("REG_DWORD", hex(program.stat().st_size // 1024 + 1)),
    }
    # It starts, quietly, when the user signs in.
    assert run_value() == f'"{folder}\\OstrelWindows.exe" --quiet'
    # A silent install never starts the program.
    assert wine.driver("find", MAIN_CLASS) == 1
    assert not data_dir.exists()

    # The installed uninstaller run without /uninstall installs again, without
    # copying itself onto itself.
    program.write_bytes(b"an older program")
    before = uninstaller.stat()
    assert install(wine, apps, menu, exe=str(uninstaller)) == 0
    assert program.read_bytes() == (WINDOWS_BUILD / "OstrelWindows.exe").read_bytes()
    after = uninstaller.stat()
    assert (after.st_ino, after.st_ctime_ns) == (before.st_ino, before.st_ctime_ns)
    assert sorted(os.listdir(apps)) == ["OstrelWindows.exe", "Uninstall Ostrel.exe"]


def test_registered_quiet_uninstall_removes_everything_through_a_temporary_copy(wine, data_dir, tmp_path):
    apps, menu = tmp_path / "apps" / "NIRA Ostrel", tmp_path / "menu"
    assert install(wine, apps, menu) == 0
    data_dir.mkdir()
    (data_dir / "settings.ini").write_bytes(b"[ostrel]\r\nfps=60\r\n")
    began = time.time_ns()

    command = re.fullmatch(r'"([^"]+)" (.*)', registration()["QuietUninstallString"][1])
    assert run_setup(wine, *command.group(2).split(), exe=str(unixpath(command.group(1)))) == 0
    # The installed uninstaller only handed over; its copy does the removal.
    assert wait_until(lambda: registration() is None, 60)
    assert not apps.exists() and run_value() is None
    assert not (menu / "NIRA Ostrel.lnk").exists()
    assert (data_dir / "settings.ini").read_bytes() == b"[ostrel]\r\nfps=60\r\n"
    # Wine reuses process ids from run to run, so the copy's name may be an
    # old one; the copy is new all the same.
    users = Path(os.environ["WINEPREFIX"]) / "drive_c" / "users"
    copies = [copy for copy in users.rglob("OstrelUninstall-*.exe") if copy.stat().st_ctime_ns >= began]
    assert len(copies) == 1
    copies[0].unlink()


def test_registration_key_names_and_uninstalling_from_elsewhere(wine, tmp_path):
    apps, menu = tmp_path / "apps", tmp_path / "menu"
    # The folder is registered as a full path without the trailing separator.
    assert run_setup(wine, "/S", "/regkey", "Test2", "/dir", winpath(tmp_path) + "\\x\\..\\apps\\",
                 "/startmenu", winpath(menu)) == 0
    assert registration() is None
    values = registration("Test2")
    assert values["InstallLocation"] == ("REG_SZ", winpath(apps))
    assert values["UninstallString"] == ("REG_SZ", f'"{winpath(apps)}\\Uninstall Ostrel.exe" /uninstall /regkey Test2')

    # Without the key name nothing is installed.
    assert run_setup(wine, "/uninstall", "/S") == 5
    # Removing a copy in another folder leaves the registered installation alone.
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    (elsewhere / "OstrelWindows.exe").write_bytes(b"a stray copy")
    assert run_setup(wine, "/uninstall", "/S", "/regkey", "Test2", "/dir", winpath(elsewhere)) == 0
    assert not elsewhere.exists()
    assert registration("Test2") == values and (menu / "NIRA Ostrel.lnk").exists()
    assert run_value() == f'"{winpath(apps)}\\OstrelWindows.exe" --quiet'  # the other copy's stays

    # OstrelSetup from its download folder removes directly; a file of the
    # user's own keeps the folder.
    (apps / "mine.txt").write_text("keep me")
    assert run_setup(wine, "/uninstall", "/S", "/regkey", "Test2") == 0
    assert registration("Test2") is None and run_value() is None
    assert os.listdir(apps) == ["mine.txt"]
    assert not (menu / "NIRA Ostrel.lnk").exists()

    # A name that is not only letters and digits falls back to the default key.
    assert install(wine, apps, menu, "/regkey", "a-b", "/nostartup") == 0
    assert registration()["UninstallString"][1].endswith("Uninstall Ostrel.exe\" /uninstall")
    assert run_value() is None


def test_install_closes_the_running_program_first(wine, data_dir, tmp_path):
    running = wine.start_tray()
    # Under another key name a running program is left alone.
    assert install(wine, tmp_path / "other", tmp_path / "menu", "/regkey", "Test3") == 0
    assert running.poll() is None
    assert install(wine, tmp_path / "apps", tmp_path / "menu") == 0
    assert wine.ended(running, 30) == 0
    assert "NIRA Ostrel ended" in read_text(data_dir / "ostrel.log")
    assert (tmp_path / "apps" / "OstrelWindows.exe").exists()


def test_a_program_file_in_use_is_reported_and_nothing_is_removed(wine, tmp_path):
    apps, menu = tmp_path / "apps", tmp_path / "menu"
    assert install(wine, apps, menu) == 0
    registered = registration()
    holder = subprocess.Popen(["wine", wine.exe("OstrelDriver.exe"), "hold-file", winpath(apps / "OstrelWindows.exe"), "60"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        assert holder.stdout.readline().strip() == b"holding"
        assert run_setup(wine, "/uninstall", "/S") == 7
    finally:
        holder.kill()
        holder.wait(timeout=30)
    assert sorted(os.listdir(apps)) == ["OstrelWindows.exe", "Uninstall Ostrel.exe"]
    assert (menu / "NIRA Ostrel.lnk").exists()
    assert registration() == registered
    # Once the file is free the same uninstall removes it all.
    assert run_setup(wine, "/uninstall", "/S") == 0
    assert not apps.exists() and registration() is None


def test_a_silent_install_typed_at_a_command_prompt(wine, tmp_path):
    apps, menu = tmp_path / "my apps" / "NIRA Ostrel", tmp_path / "my menu"
    # As people type it: the folder with a backslash right before its closing
    # quote, which the shell's rules read as a quote inside the value, so the
    # value would swallow /S.
    batch = tmp_path / "install.bat"
    batch.write_bytes((f'"{winpath(WINDOWS_BUILD / "OstrelSetup.exe")}" /startmenu "{winpath(menu)}" '
                       f'/dir "{winpath(apps)}\\" /S\r\nexit /b %errorlevel%\r\n').encode())
    process = subprocess.Popen(["wine", "cmd", "/c", winpath(batch)], env=wine.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        code = process.wait(timeout=90)
    except subprocess.TimeoutExpired:
        # A question is waiting for an answer: turn it down and fail.
        wine.driver("answer", "NIRA Ostrel", 2, 10, winpath(tmp_path / "box.txt"))
        process.wait(timeout=60)
        pytest.fail("the silent install asked a question")
    assert code == 0
    assert (apps / "OstrelWindows.exe").exists() and (menu / "NIRA Ostrel.lnk").exists()
    assert registration()["InstallLocation"] == ("REG_SZ", winpath(apps))


def test_install_waits_for_a_starting_program_to_let_go_of_its_file(wine, data_dir, tmp_path):
    apps, menu = tmp_path / "apps", tmp_path / "menu"
    assert install(wine, apps, menu) == 0
    program = apps / "OstrelWindows.exe"
    program.write_bytes(b"an older program")
    # The file is held as by a program that has no main window yet.
    holder = subprocess.Popen(["wine", wine.exe("OstrelDriver.exe"), "hold-file", winpath(program), "120"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    installer = None
    try:
        assert holder.stdout.readline().strip() == b"holding"
        installer = subprocess.Popen(["wine", wine.exe("OstrelSetup.exe"), "/S", "/dir", winpath(apps), "/startmenu",
                                      winpath(menu)], env=wine.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Its first try has begun (the new file waits beside the old one); now a
        # main window appears, and a later try closes it.
        assert wait_until(lambda: (apps / "OstrelWindows.exe.new").exists(), 60)
        running = wine.start_tray()
        assert wine.ended(running, 30) == 0
    finally:
        holder.kill()
        holder.wait(timeout=30)
        code = installer.wait(timeout=90) if installer else None
    assert code == 0
    assert program.read_bytes() == (WINDOWS_BUILD / "OstrelWindows.exe").read_bytes()


def test_default_folders(wine):
    # No menu entries on this machine for the shortcut in Wine's Start menu.
    env = {**wine.env, "WINEDLLOVERRIDES": wine.env.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d"}
    assert run_setup(wine, "/S", env=env) == 0
    values = registration()
    folder, shortcut = values["InstallLocation"][1], values["OstrelShortcut"][1]
    assert folder.lower().endswith("\\appdata\\local\\programs\\nira ostrel")
    assert shortcut.lower().endswith("\\start menu\\programs\\nira ostrel.lnk")
    assert (unixpath(folder) / "OstrelWindows.exe").exists() and unixpath(shortcut).exists()
    assert run_setup(wine, "/uninstall", "/S", env=env) == 0
    assert not unixpath(folder).exists() and not unixpath(shortcut).exists()
