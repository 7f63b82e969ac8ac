"""Start-up and the end of the tray program."""
import subprocess
import time

from conftest import MAIN_CLASS, WINDOWS_BUILD, read_text, wait_until, winpath
from test_setup import delete_run_value, run_value, set_run_value
from test_shell_windows import settings_file


TOOLBAR, SETTINGS = "NIRAOstrelToolbar", "NIRAOstrelSettings"
WM_COMMAND, ID_HIDE_TOOLBAR, ID_SETTINGS = 0x0111, 109, 106
CB_GETCURSEL, BM_GETCHECK = 0x0147, 0x00F0


def log_text(data_dir):
    return read_text(data_dir / "ostrel.log")


def test_fresh_data_folder_gets_the_log_and_the_captures_folder(wine, tmp_path):
    nested = tmp_path / "deep" / "er" / "data"
    wine.env["OSTREL_DATA_DIR"] = winpath(nested)
    process = wine.start_tray()
    assert wait_until(lambda: "NIRA Ostrel 0.1.0 started" in read_text(nested / "ostrel.log"), 20)
    raw = (nested / "ostrel.log").read_bytes()
    assert raw.startswith(b"\xef\xbb\xbf") and raw.count(b"\xef\xbb\xbf") == 1
    assert raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b"")
    assert wine.close(process) == 0
    assert "NIRA Ostrel ended" in read_text(nested / "ostrel.log")

    # A chosen captures folder that does not exist yet is made at start.
    captures = tmp_path / "my captures" / "Ostrel"
    (nested / "settings.ini").write_text(f"[ostrel]\r\nfolder={winpath(captures)}\r\n", encoding="utf-8")
    process = wine.start_tray()
    assert wait_until(captures.is_dir, 20)
    assert wine.close(process) == 0


def test_second_start_exits_at_once_and_the_first_keeps_running(wine, data_dir):
    first = wine.start_tray()
    # The toolbar, hidden by its own button, comes back when Ostrel is started again.
    assert wait_until(lambda: wine.driver_output("visible", TOOLBAR) == "1", 20)
    assert wine.driver("post", MAIN_CLASS, WM_COMMAND, ID_HIDE_TOOLBAR, 0) == 0
    assert wait_until(lambda: wine.driver_output("visible", TOOLBAR) == "0", 10)
    began = time.monotonic()
    second = wine.run(timeout=30)
    assert second.returncode == 0
    assert time.monotonic() - began < 15
    time.sleep(1)
    assert first.poll() is None
    assert wine.driver("find", MAIN_CLASS) == 0
    assert log_text(data_dir).count("started") == 1
    assert wait_until(lambda: wine.driver_output("visible", TOOLBAR) == "1", 10)
    assert wine.close(first) == 0


def test_a_copy_running_elevated_counts_as_running(wine, data_dir):
    # Its mutex cannot even be opened by this user's programs.
    holder = wine.start(["hold-mutex", "Local\\NIRAOstrelWindows", "10"], exe="OstrelDriver.exe")
    time.sleep(3)
    began = time.monotonic()
    assert wine.run(timeout=30).returncode == 0
    assert time.monotonic() - began < 15
    assert wine.driver("find", MAIN_CLASS) == 1
    holder.wait(timeout=30)


def test_wm_close_ends_the_program_with_exit_code_zero(wine, data_dir):
    process = wine.start_tray()
    assert wine.close(process) == 0
    assert wine.driver("find", MAIN_CLASS) == 1
    # The mutex went with the process: a new start runs normally.
    process = wine.start_tray()
    assert wine.close(process) == 0


def test_self_test_switch_without_its_arguments_starts_the_tray_program(wine):
    for args in (["--selftest-record", "4"], ["--SELFTEST-RECORD", "4", "C:\\x"], ["--selftest-recordx", "4", "C:\\x"]):
        process = wine.start_tray(args)
        assert wine.close(process) == 0


def test_bad_settings_and_unusable_data_folders_do_not_stop_the_program(wine, data_dir, tmp_path):
    # Garbage around a readable section: each value outside its set falls back
    # to its default, and the values that are fine (the pointer off) are kept.
    data_dir.mkdir()
    (data_dir / "settings.ini").write_bytes(
        b"\x00\xff\r\n[ostrel]\r\nresolution=480\r\nfps=-1\r\ncountdown=99999999999999\r\nscreenshot_delay=7\r\n"
        b"system_audio=2\r\ncursor=0\r\nhotkey_record_key=abc\r\n" + b"x" * 10000 + b"\r\n[ostrel\r\n=\r\n"
    )
    process = wine.start_tray()
    wine.driver("post", MAIN_CLASS, WM_COMMAND, ID_SETTINGS, 0)
    assert wine.wait_for_window(SETTINGS)

    def shown(control, message):
        return wine.driver_output("send", SETTINGS, control, message, 0, 0)

    # 720p, 30 frames a second, 3 seconds, no delay; computer sound on, pointer off.
    assert [shown(c, CB_GETCURSEL) for c in (500, 501, 502, 503)] == ["0", "1", "1", "0"]
    assert [shown(c, BM_GETCHECK) for c in (504, 507)] == ["1", "0"]
    assert wine.close(process) == 0

    # A data folder below a file cannot be made: no log, but the program runs.
    blocker = tmp_path / "blocker"
    blocker.write_text("a file, not a folder")
    wine.env["OSTREL_DATA_DIR"] = winpath(blocker / "data")
    process = wine.start_tray()
    assert wine.close(process) == 0

    # A log that cannot be opened (a folder stands in its place).
    locked = tmp_path / "locked"
    (locked / "ostrel.log").mkdir(parents=True)
    wine.env["OSTREL_DATA_DIR"] = winpath(locked)
    process = wine.start_tray()
    assert wine.close(process) == 0
    assert (locked / "ostrel.log").is_dir()


def test_a_quiet_start_shows_only_the_icon_and_mends_a_sign_in_start_left_stale(wine, data_dir):
    own = f'"{winpath(WINDOWS_BUILD / "OstrelWindows.exe")}" --quiet'
    try:
        set_run_value('"C:\\Old place\\OstrelWindows.exe" --quiet')
        process = wine.start_tray(["--quiet"])
        assert wait_until(lambda: (run_value() or "").lower() == own.lower(), 20)
        assert 'Start at sign-in mended: it was "C:\\Old place\\OstrelWindows.exe" --quiet' in log_text(data_dir)
        time.sleep(2)
        assert wine.driver_output("visible", TOOLBAR) == "0"
        assert "Notice:" not in log_text(data_dir)
        # Another quiet start leaves it so; one by the user asks for the toolbar.
        assert wine.run(["--quiet"], timeout=30).returncode == 0
        time.sleep(1)
        assert wine.driver_output("visible", TOOLBAR) == "0"
        assert wine.run(timeout=30).returncode == 0
        assert wait_until(lambda: wine.driver_output("visible", TOOLBAR) == "1", 10)
        assert wine.close(process) == 0

        # A start for another copy that is there is that copy's own.
        other = f'"{winpath(WINDOWS_BUILD / "OstrelWindowsTest.exe")}" --quiet'
        set_run_value(other)
        process = wine.start_tray()
        assert wait_until(lambda: "Notice: NIRA Ostrel is ready" in log_text(data_dir), 20)
        assert run_value() == other
        assert wine.close(process) == 0
    finally:
        delete_run_value()


def test_the_settings_window_turns_the_sign_in_start_on_and_off(wine, data_dir):
    IDC_SAVE, IDC_SIGN_IN_START, BM_SETCHECK = 513, 524, 0x00F1
    try:
        delete_run_value()
        process = wine.start_tray()
        for check in (1, 0):
            assert wine.driver("post", MAIN_CLASS, WM_COMMAND, ID_SETTINGS, 0) == 0
            assert wine.wait_for_window(SETTINGS)
            assert wine.driver_output("send", SETTINGS, IDC_SIGN_IN_START, BM_GETCHECK, 0, 0) == str(1 - check)
            wine.driver_output("send", SETTINGS, IDC_SIGN_IN_START, BM_SETCHECK, check, 0)
            assert wine.driver("post", SETTINGS, WM_COMMAND, IDC_SAVE, 0) == 0
            assert wine.driver("gone", SETTINGS, 10) == 0
            expected = f'"{winpath(WINDOWS_BUILD / "OstrelWindows.exe")}" --quiet'.lower() if check else None
            assert (run_value() or "").lower() == (expected or "")
        assert "sign" not in settings_file(data_dir).lower()  # the registry holds the choice
        assert wine.close(process) == 0
    finally:
        delete_run_value()
