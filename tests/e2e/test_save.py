"""Saving captures to the library through "--selftest-save", against the
library test server: whole uploads, resumed ones, retries and refusals."""
import hashlib
import json
import os
import time

from conftest import read_text, winpath
from test_signin import EXE, sign_in

MIB = 1 << 20


def save(wine, library, capture, result, timeout=300):
    env = dict(wine.env, OSTREL_TEST_SERVER=library.url)
    done = wine.run(["--selftest-save", winpath(capture), winpath(result)], exe=EXE, timeout=timeout, env=env)
    assert result.exists(), (done.returncode, done.stderr[-2000:])
    code = done.returncode
    raw = result.read_bytes()
    assert raw.startswith(b"\xef\xbb\xbf") and raw.count(b"\xef\xbb\xbf") == 1
    return code, raw[3:].decode("utf-8").split("\r\n")[:-1]


def tray(wine, library, caps, **settings):
    """The tray program against the test server, and a way to send it commands."""
    from conftest import MAIN_CLASS
    from test_shell_flows import WM_COMMAND

    wine.data_dir.mkdir()
    lines = [f"folder={winpath(caps)}"] + [f"{k}={v}" for k, v in settings.items()]
    (wine.data_dir / "settings.ini").write_text("[ostrel]\r\n" + "\r\n".join(lines) + "\r\n", encoding="utf-8")
    process = wine.start_tray(exe=EXE, env=dict(wine.env, OSTREL_TEST_SERVER=library.url))

    def command(id):
        assert wine.driver("post", MAIN_CLASS, WM_COMMAND, id, 0) == 0

    return process, command


def clipboard_text(wine, tmp_path):
    out = tmp_path / "clipboard.txt"
    out.unlink(missing_ok=True)
    if wine.driver("clipboard-text", winpath(out)) != 0:
        return None
    return out.read_bytes().decode("utf-16-le").split("\0")[0]


def uploads_lines(wine):
    path = wine.data_dir / "uploads.txt"
    return path.read_bytes().decode().split("\r\n")[:-1] if path.exists() else []


def signed_in(wine, library, tmp_path):
    code, lines = sign_in(wine, library, tmp_path)
    assert code == 0, lines


def test_signed_out_and_unusable_files_each_add_one_line(wine, library, tmp_path):
    result = tmp_path / "result.txt"
    video = tmp_path / "clip.mp4"
    video.write_bytes(os.urandom(1000))
    empty = tmp_path / "empty.png"
    empty.write_bytes(b"")
    cases = [
        (video, "error=Sign in with NIRA first. signed_in=no"),
        (tmp_path / "notes.txt", "error=Ostrel saves MP4 recordings and PNG, JPEG, WebP or GIF pictures. signed_in=no"),
        (tmp_path / "gone.mp4", "error=The capture couldn't be opened. It may have been moved or deleted. signed_in=no"),
        (empty, "error=This capture is empty. signed_in=no"),
    ]
    for n, (capture, line) in enumerate(cases, 1):
        code, lines = save(wine, library, capture, result)
        assert code == 1
        assert len(lines) == n
        assert lines[-1] == line
    assert library.journal() == []


def test_whole_upload_then_resume_after_a_refused_part(wine, library, tmp_path):
    signed_in(wine, library, tmp_path)
    capture = tmp_path / "Recording 2025-03-07 09-05-41.mp4"
    capture.write_bytes(os.urandom(20 * MIB))
    result = tmp_path / "result.txt"

    # Part 3 of 3 is refused outright: the upload stops and stays on record.
    library.faults({"method": "PUT", "path": "/parts/3$", "status": 400,
                    "json": {"error": {"code": "bad_part", "message": "Part 3 was refused."}}})
    code, lines = save(wine, library, capture, result)
    assert (code, lines) == (1, ["error=Part 3 was refused. signed_in=yes"])
    (capture_id, entry), = library.state()["captures"].items()
    assert entry["parts"] == [1, 2]
    key = f"{winpath(capture)}|{20 * MIB}"
    assert uploads_lines(wine) == [f"{key}|{capture_id}"]

    # The next save asks what arrived and sends only part 3.
    before = len(library.journal())
    code, lines = save(wine, library, capture, result)
    assert (code, lines[-1]) == (0, "saved state=ready")
    later = [(e["method"], e["path"]) for e in library.journal()[before:]]
    assert later == [("GET", f"/api/captures/{capture_id}/upload"), ("PUT", f"/api/captures/{capture_id}/parts/3"),
                     ("POST", f"/api/captures/{capture_id}/complete")]
    entry = library.state()["captures"][capture_id]
    assert entry["sha256"] == hashlib.sha256(capture.read_bytes()).hexdigest()
    assert uploads_lines(wine) == []
    assert f"cloud: saved {capture_id} ({20 * MIB} bytes, ready)" in read_text(wine.data_dir / "ostrel.log")

    # The requests as sent: the creation body's fields in order, each part with its hash.
    creation, = library.journal("/api/captures/uploads")
    body = creation["body"].decode()
    assert body.startswith('{"filename":"Recording 2025-03-07 09-05-41","mime":"video/mp4","kind":"video",'
                           f'"source":"windows","size_bytes":{20 * MIB},"captured_at":"')
    assert creation["header"]["authorization"].startswith("Bearer ")
    parts = [e for e in library.journal() if e["method"] == "PUT"]
    assert [p["size"] for p in parts] == [8 * MIB, 8 * MIB, 4 * MIB, 4 * MIB]
    for part in parts:
        assert part["header"]["x-sha256"] == part["sha256"]
        assert part["header"]["content-type"] == "application/octet-stream"


def test_a_link_is_taken_only_on_the_library_own_origin(wine, library, tmp_path):
    signed_in(wine, library, tmp_path)
    links = ["{base}/app/captures/{id}", "https://ostrel.nira.app/app/captures/{id}", "javascript:alert(1)//{base}",
             "{base}/app/captures/{id}\n", "{base}@evil.example/{id}"]
    if library.other_url:
        links.append(library.other_url + "/app/captures/{id}")
    for n, link in enumerate(links):
        library.settings(url=link)
        capture = tmp_path / f"clip {n}.mp4"
        capture.write_bytes(os.urandom(1000))
        code, lines = save(wine, library, capture, tmp_path / "result.txt")
        capture_id, = [i for i, c in library.state()["captures"].items() if c["meta"]["filename"] == capture.stem]
        kept = link.replace("{base}", library.url).replace("{id}", capture_id) if n == 0 else None
        assert (code, lines[-1]) == (0, "saved state=ready" + (f" link={kept}" if kept else ""))
    log = read_text(wine.data_dir / "ostrel.log")
    assert log.count("cloud: refused the link given for") == len(links) - 1


def test_a_redirect_to_another_origin_is_not_followed_and_keeps_the_signin(wine, library, tmp_path):
    signed_in(wine, library, tmp_path)
    capture = tmp_path / "short.mp4"
    capture.write_bytes(os.urandom(1000))
    library.faults({"method": "POST", "path": "^/api/captures/uploads$", "status": 307, "json": {},
                    "location": library.other_url + "/api/captures/uploads"})
    code, lines = save(wine, library, capture, tmp_path / "result.txt")
    assert (code, lines) == (1, ["error=Ostrel's server answered 307. Please try again. signed_in=yes"])
    assert library.reached_other() == []
    assert library.state()["captures"] == {}


def test_picture_with_the_service_part_size_and_a_damaged_part_sent_again(wine, library, tmp_path):
    from PIL import Image

    signed_in(wine, library, tmp_path)
    picture = tmp_path / "photo.PNG"
    Image.effect_noise((1500, 1400), 80).convert("RGB").save(picture)
    size = picture.stat().st_size
    library.settings(part_size=2 * MIB)
    library.faults({"method": "PUT", "path": "/parts/1$", "status": 422,
                    "json": {"error": {"code": "checksum_mismatch", "message": "The part arrived damaged."}}})
    code, lines = save(wine, library, picture, tmp_path / "result.txt")
    assert (code, lines) == (0, ["saved state=ready"])
    (capture_id, entry), = library.state()["captures"].items()
    assert (entry["meta"]["kind"], entry["meta"]["mime"], entry["meta"]["filename"]) == ("screenshot", "image/png", "photo")
    assert (entry["meta"]["width"], entry["meta"]["height"]) == (1500, 1400)
    assert "duration_s" not in entry["meta"] and "has_audio" not in entry["meta"]
    assert entry["sha256"] == hashlib.sha256(picture.read_bytes()).hexdigest()
    puts = [e for e in library.journal() if e["method"] == "PUT"]
    assert [e["path"].rsplit("/", 1)[1] for e in puts] == ["1", "1"] + [str(n) for n in range(2, -(-size // (2 * MIB)) + 1)]
    assert puts[1]["time"] - puts[0]["time"] >= 0.9


def test_a_part_refused_four_times_ends_the_upload_after_the_back_off(wine, library, tmp_path):
    signed_in(wine, library, tmp_path)
    capture = tmp_path / "short.mp4"
    capture.write_bytes(os.urandom(1000))
    library.faults({"method": "PUT", "path": "/parts/1$", "status": 503, "times": 4,
                    "json": {"error": {"code": "busy", "message": "The library is busy."}}})
    began = time.monotonic()
    code, lines = save(wine, library, capture, tmp_path / "result.txt")
    assert (code, lines) == (1, ["error=The library is busy. signed_in=yes"])
    assert time.monotonic() - began >= 85
    puts = [e["time"] for e in library.journal() if e["method"] == "PUT"]
    assert len(puts) == 4
    assert [round(b - a) for a, b in zip(puts, puts[1:])] == [1, 4, 16]
    assert len(uploads_lines(wine)) == 1  # the next save carries on


def test_tray_signs_in_saves_the_last_capture_and_signs_out(wine, library, tmp_path):
    from conftest import wait_until
    from test_shell_flows import ID_SCREENSHOT

    caps = tmp_path / "caps"
    process, command = tray(wine, library, caps)
    account = wine.data_dir / "account.dat"
    library.settings(url="{base}/app/captures/{id}")

    command(120)  # Sign in: with a test server the window stays hidden and the code is approved at once
    assert wait_until(account.exists, 60)
    command(123)  # Save last capture: nothing captured in this run yet
    command(ID_SCREENSHOT)
    assert wait_until(lambda: list(caps.glob("Screenshot *.png")), 30)
    time.sleep(1)
    assert library.state()["captures"] == {}
    command(123)
    assert wait_until(lambda: any(c["sha256"] for c in library.state()["captures"].values()), 60)
    ((capture_id, entry),) = library.state()["captures"].items()
    shot = next(caps.glob("Screenshot *.png"))
    assert entry["meta"]["filename"] == shot.stem
    assert entry["sha256"] == hashlib.sha256(shot.read_bytes()).hexdigest()

    # The capture's link is on the clipboard, and the notice says so; "Copy
    # link to last saved capture" puts it back after another copy.
    link = f"{library.url}/app/captures/{capture_id}"
    log = wine.data_dir / "ostrel.log"
    assert wait_until(lambda: "Notice: Saved to library: Saved to your workspace library. The link is on the clipboard."
                      in read_text(log), 20)
    assert clipboard_text(wine, tmp_path) == link
    command(ID_SCREENSHOT)
    assert wait_until(lambda: len(list(caps.glob("Screenshot *.png"))) == 2, 30)
    assert wait_until(lambda: clipboard_text(wine, tmp_path) is None, 10)
    command(124)
    assert wait_until(lambda: clipboard_text(wine, tmp_path) == link, 10)

    command(121)  # Sign out
    assert wait_until(lambda: not account.exists(), 30)
    assert [e["method"] for e in library.journal("/api/devices/self")] == ["DELETE"]
    assert wine.close(process) == 0


def test_new_captures_are_saved_by_themselves_in_order_each_once(wine, library, tmp_path):
    from conftest import wait_until
    from test_shell_flows import WM_HOTKEY, post

    caps = tmp_path / "caps"
    process, command = tray(wine, library, caps, save_new_to_library=1)
    command(120)
    assert wait_until((wine.data_dir / "account.dat").exists, 60)
    # The first save is held up at its end, so the next two wait their turn.
    library.faults({"method": "POST", "path": "/complete$", "delay": 3})
    for _ in range(3):
        post(wine, WM_HOTKEY, 3)
        time.sleep(0.3)
    assert wait_until(lambda: len(list(caps.glob("Screenshot *.png"))) == 3, 30)
    assert wait_until(lambda: len([c for c in library.state()["captures"].values() if c["sha256"]]) == 3, 90)
    time.sleep(2)
    shots = sorted(caps.glob("Screenshot *.png"), key=lambda p: p.stat().st_mtime_ns)
    creations = library.journal("/api/captures/uploads")
    assert [json.loads(c["body"])["filename"] for c in creations] == [p.stem for p in shots]
    completes = [e for e in library.journal() if e["path"].endswith("/complete")]
    assert len(completes) == 3
    # One save at a time: each starts after the one before has been answered.
    assert creations[1]["time"] >= completes[0]["time"] + 2.5
    assert creations[2]["time"] > completes[1]["time"]
    for path, (capture_id, entry) in zip(shots, library.state()["captures"].items()):
        assert entry["sha256"] == hashlib.sha256(path.read_bytes()).hexdigest()
    assert wine.close(process) == 0
