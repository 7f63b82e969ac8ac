"""Recordings through the record self-test, judged with ffprobe."""
import json
import os
import subprocess

import pytest

from conftest import read_text, winpath


def probe(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-print_format", "json", "-show_streams", "-show_format",
         "-show_entries", "packet=stream_index,pts_time,duration_time", str(path)],
        capture_output=True, text=True, timeout=300,
    )
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


def video_times(info):
    video = next(s for s in info["streams"] if s["codec_type"] == "video")
    return [float(p["pts_time"]) for p in info["packets"] if p["stream_index"] == video["index"]]


def result_lines(folder):
    raw = (folder / "result.txt").read_bytes()
    assert raw.startswith(b"\xef\xbb\xbf")
    return raw[3:].decode("utf-8").split("\r\n")


def record(wine, folder, seconds, *extra, exe="OstrelWindowsTest.exe"):
    return wine.run(["--selftest-record", str(seconds), winpath(folder), *map(str, extra)], exe=exe, timeout=300)


@pytest.mark.parametrize("height,fps", [(720, 30), (720, 60)])
def test_recording_has_one_frame_per_interval_and_no_pause(wine, tmp_path, height, fps):
    folder = tmp_path / "caps"
    done = record(wine, folder, 4, height, fps)
    path, message, size, rest = result_lines(folder)
    assert (done.returncode, message, size, rest) == (0, "", "0x0", "")
    assert path.startswith(winpath(folder) + "\\Recording ") and path.endswith(".mp4")
    files = sorted(p.name for p in folder.iterdir())
    assert len([f for f in files if f.endswith(".mp4")]) == 1 and not [f for f in files if f.endswith(".part")]
    mp4 = next(folder.glob("*.mp4"))
    info = probe(mp4)
    video = next(s for s in info["streams"] if s["codec_type"] == "video")
    assert video["codec_name"] == "h264"
    assert int(video["height"]) == height and int(video["width"]) == height * 16 // 9
    # The colours the converter makes, as the file declares them to players.
    assert [video.get(k) for k in ("color_space", "color_range", "color_primaries", "color_transfer")] == [
        "bt709", "tv", "bt709", "bt709"]
    interval = (10_000_000 // fps) / 10_000_000
    times = video_times(info)
    # About four seconds: the one-second pause is not in the file.
    assert abs(times[-1] + interval - 4.0) < 0.25, times[-1]
    # Every stamp sits on the frame grid; without a stall there is a frame in every slot.
    assert all(abs(t / interval - round(t / interval)) < 1e-4 for t in times)
    log = read_text(wine.data_dir / "ostrel.log")
    skipped = int(log.split(" skipped while catching up")[0].rsplit(", ", 1)[1])
    if skipped == 0:
        assert times == pytest.approx([n * interval for n in range(len(times))], abs=1e-6)
    assert "Recording started: %dx%d %d fps, sound 1 mic 0, encoder hardware if available" % (
        height * 16 // 9, height, fps) in log
    assert "Recording stopped (saved)" in log


def test_shipping_build_reports_the_missing_capture_and_leaves_nothing(wine, tmp_path):
    folder = tmp_path / "caps"
    done = record(wine, folder, 2, exe="OstrelWindows.exe")
    path, message, size, _ = result_lines(folder)
    assert done.returncode == 1 and path == "" and size == "0x0"
    assert message.startswith("Screen capture is not available: ") and message.endswith("(0x8007007F)")
    assert sorted(p.name for p in folder.iterdir()) == ["result.txt"]


def test_shipping_build_without_media_features_runs_and_refuses_to_record(wine, tmp_path):
    # Windows N editions without the Media Feature Pack have neither library.
    env = dict(wine.env)
    env["WINEDLLOVERRIDES"] = env.get("WINEDLLOVERRIDES", "") + ";mfplat=d;mfreadwrite=d"
    process = wine.start_tray(env=env)
    assert wine.close(process) == 0
    folder = tmp_path / "caps"
    done = wine.run(["--selftest-record", "2", winpath(folder)], env=env, timeout=300)
    path, message, size, _ = result_lines(folder)
    assert done.returncode == 1 and path == ""
    assert message == ("This edition of Windows lacks the media features that recording needs. Add the Media "
                       "Feature Pack in Settings > Apps > Optional features, then try again.")
    assert sorted(p.name for p in folder.iterdir()) == ["result.txt"]


def test_small_volumes_refuse_to_start_or_stop_the_video_and_keep_the_file(wine, tmp_path):
    small = tmp_path / "small"
    small.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=60m", "tmpfs", str(small)]).returncode != 0:
        pytest.skip("cannot mount a small volume here")
    try:
        done = record(wine, small, 2)
        path, message, _, _ = result_lines(small)
        assert done.returncode == 1 and path == ""
        assert message == "There is less than 80 MB free where captures are saved. Free some space first."
    finally:
        subprocess.run(["umount", str(small)])

    filling = tmp_path / "filling"
    filling.mkdir()
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=120m", "tmpfs", str(filling)], check=True)
    try:
        done = record(wine, filling, 6)
        # The test build's pictures are uncompressed (about 40 MB a second), so
        # the disk is full long before the five-second space watch: the writer
        # meets it, and the file, which cannot be finished, is kept as its
        # part file and plays up to there. (The result file finds no room either.)
        assert done.returncode == 1
        assert list(filling.glob("*.mp4")) == []
        parts = list(filling.glob("*.mp4.part"))
        assert len(parts) == 1
        assert len(video_times(probe(parts[0]))) > 10
        log = read_text(wine.data_dir / "ostrel.log")
        assert "WriteSample failed on stream 0: Disk full. (0x80070070)" in log
        assert "Finalize failed: Disk full. (0x80070070)" in log
        assert "Recording stopped (kept as part file)" in log
    finally:
        subprocess.run(["umount", str(filling)])
