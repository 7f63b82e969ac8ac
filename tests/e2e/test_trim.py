"""Trimming real H.264/AAC files made by ffmpeg, and the test build's own
recordings, through the trim self-test; ffmpeg and ffprobe judge the copies.
Every file shows a white picture and a beep for the first tenth of each second,
so a judge sees where a copy starts and whether sound and picture agree."""
import array
import subprocess

import pytest

from conftest import winpath

SOURCE = ("color=c=black:s=320x240:r={fps}:d={seconds},"
          "drawbox=c=white:t=fill:enable='lt(mod(t,1),0.1)'")
BEEP = "aevalsrc='if(lt(mod(t,1),0.1),0.8*sin(2*PI*1000*t),0)':s=48000:d={seconds}"


def make(path, fps=30, seconds=6, keys=1, sound=True, extra=()):
    args = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", SOURCE.format(fps=fps, seconds=seconds)]
    if sound:
        args += ["-f", "lavfi", "-i", BEEP.format(seconds=seconds), "-c:a", "aac", "-b:a", "128k"]
    args += ["-c:v", "libx264", "-preset", "ultrafast", "-g", str(fps * keys), "-keyint_min", str(fps * keys),
             "-sc_threshold", "0", "-pix_fmt", "yuv420p", *extra, str(path)]
    subprocess.run(args, check=True, timeout=300)
    return path


def trim(wine, path, start_ms, end_ms, tmp_path, exe="OstrelWindows.exe"):
    result = tmp_path / "trim.txt"
    result.unlink(missing_ok=True)
    done = wine.run(["--selftest-trim", winpath(path), str(start_ms), str(end_ms), winpath(result)], exe=exe,
                    timeout=300)
    line = result.read_bytes().decode("utf-8-sig").strip()
    return done.returncode, line


def parse(line):
    assert line.startswith("trimmed path="), line
    head, start, end = line.rsplit(" ", 2)
    return head[len("trimmed path="):], int(start.split("=")[1]), int(end.split("=")[1])


def brightness(path, at):
    """The mean of the picture shown at `at` seconds, as ffmpeg decodes it."""
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-vf", f"select='gte(t,{at})',scale=8:8,format=gray",
                          "-frames:v", "1", "-f", "rawvideo", "-"], capture_output=True, timeout=120, check=True).stdout
    assert len(out) == 64
    return sum(out) / 64


def loudness(samples, at, width=0.04):
    """The loudest of `width` seconds of sound from `at`."""
    part = samples[int(at * 48000):int((at + width) * 48000)]
    return max((abs(v) for v in part), default=0)


@pytest.mark.parametrize("kind", ["fragmented", "index at the end", "B-pictures, index in front",
                                  "60 fps, key pictures 4 s apart", "no sound"])
def test_a_cut_of_a_real_file_plays_from_its_key_picture_with_the_sound_in_step(wine, tmp_path, kind):
    original = tmp_path / "Talk.mp4"
    if kind == "fragmented":
        make(original, extra=["-movflags", "frag_keyframe+empty_moov+default_base_moof"])
        asked, expected = (2300, 4700), 2000
    elif kind == "index at the end":
        make(original)
        asked, expected = (2000, 4000), 2000
    elif kind == "B-pictures, index in front":
        make(original, extra=["-bf", "2", "-movflags", "+faststart"])
        asked, expected = (3600, 5400), 3000
    elif kind == "60 fps, key pictures 4 s apart":
        make(original, fps=60, seconds=9, keys=4)
        asked, expected = (5000, 7000), 4000
    else:
        make(original, sound=False)
        asked, expected = (1000, 3000), 1000
    before = original.read_bytes()
    code, line = trim(wine, original, *asked, tmp_path)
    assert code == 0, line
    path, start, end = parse(line)
    assert path == winpath(tmp_path / "Talk (trimmed).mp4")
    copy = tmp_path / "Talk (trimmed).mp4"
    assert original.read_bytes() == before and not list(tmp_path.glob("*.part"))
    # (ffmpeg's fragments put the pictures after the first second later by the
    # sound's 21 ms of priming, and the start is told in the original's time.)
    assert expected <= start <= expected + 22, line
    assert abs(end - asked[1]) <= 34, line  # on a picture's end
    # The index comes first: it plays while it downloads.
    head = copy.read_bytes()[:64]
    assert head[4:8] == b"ftyp" and head[int.from_bytes(head[0:4], "big") + 4:][:4] == b"moov"

    decoded = subprocess.run(["ffmpeg", "-v", "error", "-i", str(copy), "-f", "null", "-"], capture_output=True,
                             text=True, timeout=120)
    assert decoded.returncode == 0 and decoded.stderr == "", decoded.stderr
    duration = float(subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                                     str(copy)], capture_output=True, text=True, timeout=60, check=True).stdout)
    assert abs(duration - (end - start) / 1000) < 0.06, duration
    # White at the start and at each whole second after, black between.
    assert brightness(copy, 0) > 200 and brightness(copy, 1.0) > 200 and brightness(copy, 0.5) < 50
    if kind != "no sound":
        pcm = subprocess.run(["ffmpeg", "-v", "error", "-i", str(copy), "-ac", "1", "-ar", "48000", "-f", "s16le", "-"],
                             capture_output=True, timeout=120, check=True).stdout
        samples = array.array("h", pcm)
        # The beep comes with the white picture, not a block early or late.
        assert loudness(samples, 0.01) > 8000 and loudness(samples, 0.15) < 500
        onset = next(i for i in range(24000, 72000) if abs(samples[i]) > 10000) / 48000
        assert abs(onset - 1.0) < 0.008, onset


def test_the_test_builds_own_recording_is_cut_by_both_builds(wine, tmp_path):
    folder = tmp_path / "caps"
    done = wine.run(["--selftest-record", "4", winpath(folder)], exe="OstrelWindowsTest.exe", timeout=300)
    assert done.returncode == 0
    recording = next(folder.glob("Recording *.mp4"))
    for exe in ("OstrelWindowsTest.exe", "OstrelWindows.exe"):
        code, line = trim(wine, recording, 1000, 3000, tmp_path, exe=exe)
        assert code == 0, line
        path, start, end = parse(line)
        # Every picture is a key picture: the cut is within a picture of what was asked.
        assert abs(start - 1000) <= 34 and abs(end - 3000) <= 34, line
    copies = sorted(p.name for p in folder.glob("*(trimmed)*.mp4"))
    assert copies == [recording.stem + " (trimmed) (2).mp4", recording.stem + " (trimmed).mp4"]
    for name in copies:
        decoded = subprocess.run(["ffmpeg", "-v", "error", "-i", str(folder / name), "-f", "null", "-"],
                                 capture_output=True, text=True, timeout=120)
        assert decoded.returncode == 0 and decoded.stderr == "", decoded.stderr


def test_what_cannot_be_trimmed_says_why_and_leaves_nothing(wine, tmp_path):
    from PIL import Image
    picture = tmp_path / "Screenshot.mp4"
    Image.new("RGB", (8, 8)).save(picture, "PNG")
    video = make(tmp_path / "Talk.mp4", seconds=3)
    cut_off = tmp_path / "Cut off.mp4"
    make(cut_off, seconds=3, extra=["-movflags", "frag_keyframe+empty_moov+default_base_moof"])
    whole = cut_off.read_bytes()
    cut_off.write_bytes(whole[:len(whole) * 2 // 3])
    cases = [
        (picture, 0, 1000, "error=This file is not an MP4 video that Ostrel can trim."),
        (tmp_path / "Gone.mp4", 0, 1000, f"error=The recording {winpath(tmp_path / 'Gone.mp4')} is not there any more."),
        (video, 2000, 1000, "error=Choose a start before the end, within the recording's 3 seconds."),
        (video, 1500, 1500, "error=Choose a start before the end, within the recording's 3 seconds."),
        (video, 5000, 6000, "error=Choose a start before the end, within the recording's 3 seconds."),
    ]
    for path, start, end, said in cases:
        assert trim(wine, path, start, end, tmp_path) == (1, said)
    assert sorted(p.name for p in tmp_path.glob("*.mp4*")) == ["Cut off.mp4", "Screenshot.mp4", "Talk.mp4"]
    # A file cut off in the middle of a fragment is trimmed from its whole fragments.
    code, line = trim(wine, cut_off, 0, 5000, tmp_path)
    assert code == 0, line
    path, start, end = parse(line)
    assert start == 0 and 1000 < end < 2500
