"""The recording toolbar and the settings window under Wine."""
import time

from conftest import wait_until, winpath
from test_shell_flows import (ID_RECORD, ID_SCREENSHOT, OK, TEST_EXE, WM_COMMAND, WM_HOTKEY, answer,
                              dismiss_hide_notice, growing_part, start)

TOOLBAR, SETTINGS = "NIRAOstrelToolbar", "NIRAOstrelSettings"
ID_SETTINGS, IDC_RESOLUTION, IDC_COUNTDOWN, IDC_FOLDER, IDC_SAVE = 106, 500, 502, 508, 513
IDC_SYSTEM_AUDIO, IDC_MICROPHONE, IDC_CURSOR, IDC_SAVE_NEW = 504, 505, 507, 517
IDC_HOTKEY_RECORD, IDC_HOTKEY_PAUSE, IDC_HOTKEY_SCREENSHOT = 510, 511, 512
CB_GETCURSEL, CB_SETCURSEL, HKM_SETHOTKEY, HKM_GETHOTKEY = 0x0147, 0x014E, 0x0401, 0x0402
WM_KEYDOWN, WM_SYSCHAR, BM_GETCHECK, VK_RETURN, VK_ESCAPE = 0x0100, 0x0106, 0x00F0, 0x0D, 0x1B
ALT_DOWN = 0x20000001  # lParam of a key typed with Alt held: repeat count 1, context bit


def primary(wine):
    return wine.driver_output("get-text", TOOLBAR, 100)


def double_click_settles(wine, button, caption):
    """Double-clicks a toolbar button; true when the primary button then reads
    `caption` and still does a moment later (the second click did not undo the first)."""
    assert wine.driver("double-click", TOOLBAR, button) == 0
    if not wait_until(lambda: primary(wine) == caption, 10):
        return False
    time.sleep(1)
    return primary(wine) == caption


def test_toolbar_place_size_and_buttons_that_act_once_per_double_click(wine, data_dir, tmp_path):
    caps = tmp_path / "caps"
    process = start(wine, data_dir, caps, countdown=3)
    left, top, right, bottom = map(int, wine.driver_output("rect", TOOLBAR).split())
    # Top right of the work area (the whole 1920 x 1080 screen here), 20 in from its edges.
    assert (left, top, right - left) == (1920 - 20 - 526, 20, 526)
    assert bottom - top in (44, 64)  # 64 where Windows cannot keep it out of captures
    assert wine.driver_output("get-text", TOOLBAR, 0) == "NIRA Ostrel recording controls"
    assert wine.driver_output("get-text", TOOLBAR, 109) == "Hide toolbar"
    assert primary(wine) == "Record"

    # The first record command of a run brings the one-time notice where the
    # toolbar shows in captures; it is answered here, and that countdown cancelled.
    wine.driver("post", "NIRAOstrelWindowsMain", WM_HOTKEY, 1, 0)
    if bottom - top == 64:
        dismiss_hide_notice(wine, tmp_path)
    assert wait_until(lambda: primary(wine) == "Cancel", 10)
    wine.driver("post", "NIRAOstrelWindowsMain", WM_HOTKEY, 1, 0)
    assert wait_until(lambda: primary(wine) == "Record", 10)

    # The mouse messages of a double-click: Record starts the countdown and
    # does not cancel it, Pause pauses, Screenshot takes one screenshot.
    assert double_click_settles(wine, ID_RECORD, "Cancel")
    assert growing_part(caps)
    assert primary(wine) == "Pause"
    assert double_click_settles(wine, ID_RECORD, "Resume")
    assert wine.driver("double-click", TOOLBAR, ID_SCREENSHOT) == 0
    assert wait_until(lambda: list(caps.glob("Screenshot *.png")), 30)
    time.sleep(3)
    assert len(list(caps.glob("Screenshot *.png*"))) == 1
    wine.driver("post", "NIRAOstrelWindowsMain", WM_HOTKEY, 1, 0)
    assert wait_until(lambda: primary(wine) == "Record", 60)
    assert wine.close(process) == 0


def settings_file(data_dir):
    raw = (data_dir / "settings.ini").read_bytes()
    return raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("utf-8-sig")


def settings_values(data_dir):
    return dict(line.split("=", 1) for line in settings_file(data_dir).splitlines() if "=" in line)


def save_expecting(wine, tmp_path, message):
    wine.driver("post", SETTINGS, WM_COMMAND, IDC_SAVE, 0)
    assert answer(wine, tmp_path, "NIRA Ostrel", OK) == message
    assert wine.driver_output("count", SETTINGS) == "1"


def test_settings_window_checks_and_saves(wine, data_dir, tmp_path):
    process = wine.start_tray(exe="OstrelWindowsTest.exe")
    for _ in range(2):
        wine.driver("post", "NIRAOstrelWindowsMain", WM_COMMAND, ID_SETTINGS, 0)
    assert wine.wait_for_window(SETTINGS)
    time.sleep(1)
    assert wine.driver_output("count", SETTINGS) == "1"
    client = wine.driver_output("client", SETTINGS)
    assert client == "506 686"
    # The cameras: the first one found, then the test build's one by name.
    assert wine.driver_output("send", SETTINGS, 519, 0x0146, 0, 0) == "2"  # CB_GETCOUNT
    assert wine.driver_output("send", SETTINGS, IDC_COUNTDOWN, CB_GETCURSEL, 0, 0) == "1"  # 3 seconds
    assert wine.driver_output("send", SETTINGS, IDC_HOTKEY_RECORD, HKM_GETHOTKEY, 0, 0) == str(0x0552)
    before = (data_dir / "settings.ini").read_bytes() if (data_dir / "settings.ini").exists() else None

    folder_message = "That folder can't be used for captures. Choose another."
    for folder in ("relative\\captures", ""):
        wine.driver("set-text", SETTINGS, IDC_FOLDER, folder)
        save_expecting(wine, tmp_path, folder_message)

    chosen = tmp_path / "new" / "captures"
    wine.driver("set-text", SETTINGS, IDC_FOLDER, winpath(chosen))
    wine.driver("send", SETTINGS, IDC_HOTKEY_PAUSE, HKM_SETHOTKEY, 0x50, 0)  # P without a modifier
    save_expecting(wine, tmp_path, "Each keyboard shortcut needs Ctrl, Alt or Shift, so it doesn't clash with typing.")
    after = (data_dir / "settings.ini").read_bytes() if (data_dir / "settings.ini").exists() else None
    assert after == before

    # Ctrl+Shift+F9 to record, the pause control cleared (keeps Alt+Shift+P), no countdown.
    wine.driver("send", SETTINGS, IDC_HOTKEY_RECORD, HKM_SETHOTKEY, 0x0378, 0)
    wine.driver("send", SETTINGS, IDC_HOTKEY_PAUSE, HKM_SETHOTKEY, 0, 0)
    wine.driver("send", SETTINGS, IDC_COUNTDOWN, CB_SETCURSEL, 0, 0)
    wine.driver("send", SETTINGS, IDC_SAVE_NEW, 0x00F1, 1, 0)  # BM_SETCHECK: save new captures by themselves
    wine.driver("post", SETTINGS, WM_COMMAND, IDC_SAVE, 0)
    assert wine.driver("gone", SETTINGS, 20) == 0
    assert chosen.is_dir()
    values = settings_values(data_dir)
    assert list(values) == [
        "resolution", "fps", "system_audio", "microphone", "microphone_id", "cursor", "countdown",
        "screenshot_delay", "folder", "hotkey_record_mod", "hotkey_record_key", "hotkey_pause_mod",
        "hotkey_pause_key", "hotkey_screenshot_mod", "hotkey_screenshot_key", "hotkey_region_mod", "hotkey_region_key",
        "editor_after_screenshot", "save_new_to_library", "trim_after_recording", "camera", "camera_size", "camera_x",
        "camera_y", "hotkey_camera_mod", "hotkey_camera_key", "show_clicks", "show_keys"]
    assert values["folder"] == winpath(chosen)
    assert (values["countdown"], values["hotkey_record_mod"], values["hotkey_record_key"]) == ("0", "6", "120")
    assert (values["hotkey_pause_mod"], values["hotkey_pause_key"]) == ("5", "80")
    assert (values["editor_after_screenshot"], values["save_new_to_library"]) == ("0", "1")

    # The new record shortcut is ours now, as is the region shortcut Alt+Shift+A; the old one is free again.
    assert (values["hotkey_region_mod"], values["hotkey_region_key"]) == ("5", "65")
    assert wine.driver_output("hold-hotkey", 6, 0x78, 0) is None
    assert wine.driver_output("hold-hotkey", 5, 0x41, 0) is None
    assert wine.driver_output("hold-hotkey", 5, 0x43, 0) is None  # Alt+Shift+C: the camera
    assert wine.driver_output("hold-hotkey", 5, 0x52, 0) == "holding"
    assert wine.close(process) == 0


def test_settings_window_keyboard(wine, data_dir, tmp_path):
    process = wine.start_tray(exe=TEST_EXE)

    def open_settings():
        wine.driver("post", "NIRAOstrelWindowsMain", WM_COMMAND, ID_SETTINGS, 0)
        assert wine.wait_for_window(SETTINGS)
        time.sleep(1)

    def ticks():
        return [wine.driver_output("send", SETTINGS, box, BM_GETCHECK, 0, 0)
                for box in (IDC_SYSTEM_AUDIO, IDC_MICROPHONE, IDC_CURSOR)]

    def type_into(control, message, key, lparam):
        assert wine.driver("post-child", SETTINGS, control, message, key, lparam) == 0

    open_settings()
    assert wine.driver_output("focus", SETTINGS) == str(IDC_RESOLUTION)

    # Alt+letters typed as shortcuts stay in the shortcut controls: Alt+Shift+S
    # and Alt+M tick no box. Another control still has its mnemonic, each its own.
    before = ticks()
    type_into(IDC_HOTKEY_SCREENSHOT, WM_SYSCHAR, ord("S"), ALT_DOWN)
    type_into(IDC_HOTKEY_RECORD, WM_SYSCHAR, ord("m"), ALT_DOWN)
    time.sleep(1)
    assert ticks() == before
    type_into(IDC_FOLDER, WM_SYSCHAR, ord("o"), ALT_DOWN)  # "Show the mouse p&ointer"
    assert wait_until(lambda: ticks() == before[:2] + ["0" if before[2] == "1" else "1"], 10)

    # Escape closes without saving; Enter saves as Save does, the folder tidied.
    type_into(IDC_FOLDER, WM_KEYDOWN, VK_ESCAPE, 1)
    assert wine.driver("gone", SETTINGS, 10) == 0
    assert not (data_dir / "settings.ini").exists()
    open_settings()
    chosen = tmp_path / "caps"
    wine.driver("set-text", SETTINGS, IDC_FOLDER, f"  {winpath(chosen)}\\ ")
    type_into(IDC_FOLDER, WM_KEYDOWN, VK_RETURN, 1)
    assert wine.driver("gone", SETTINGS, 10) == 0
    assert settings_values(data_dir)["folder"] == winpath(chosen)
    assert chosen.is_dir()
    assert wine.close(process) == 0
