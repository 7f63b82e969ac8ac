"""Sound in recordings: the computer's sound by loopback from the PulseAudio
null sink, silence when there is no sound server, and the sync test's bursts
against its white frames. Judged by decoding with ffmpeg."""
import array
import math
import os
import re
import subprocess
import threading
import time
import wave

import pytest

from conftest import read_text, wait_until, winpath
from test_record import probe, result_lines, video_times


def decoded_sound(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-map", "0:a", "-f", "s16le", "-ac", "2",
                          "-ar", "48000", "-"], capture_output=True, timeout=300, check=True).stdout
    samples = array.array("h")
    samples.frombytes(raw)
    return samples[0::2]  # the left channel


def frame_brightness(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", str(path), "-map", "0:v", "-fps_mode", "passthrough", "-vf", "scale=8:8",
                          "-pix_fmt", "gray", "-f", "rawvideo", "-"], capture_output=True, timeout=300, check=True).stdout
    return [sum(raw[i:i + 64]) / 64 for i in range(0, len(raw), 64)]


def write_tone(path, seconds):
    """A 440 Hz stereo tone at 48 kHz, loud enough to tell from silence."""
    with wave.open(str(path), "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(48000)
        frames = array.array("h")
        for i in range(48000 * seconds):
            value = int(16000 * math.sin(2 * math.pi * 440 * i / 48000))
            frames.extend((value, value))
        out.writeframes(frames.tobytes())
    return path


def sound_stream(info):
    return next(s for s in info["streams"] if s["codec_type"] == "audio")


def record(wine, folder, seconds, switch="--selftest-record"):
    return wine.run([switch, str(seconds), winpath(folder)], exe="OstrelWindowsTest.exe", timeout=300)


def test_computer_sound_carries_the_tone_played_during_the_recording(wine, tmp_path):
    tone = write_tone(tmp_path / "tone.wav", 1)
    folder = tmp_path / "caps"

    played = []

    def play_once_recording():
        # A second into the recording: the sound device is open by then, and
        # the pause (after three seconds) is still far.
        if wait_until(lambda: "Recording started" in read_text(wine.data_dir / "ostrel.log"), 60, 0.02):
            time.sleep(1.0)
            played.append(subprocess.run(["paplay", str(tone)], capture_output=True, timeout=30))

    player = threading.Thread(target=play_once_recording)
    player.start()
    done = record(wine, folder, 6)
    player.join()
    assert done.returncode == 0, result_lines(folder)
    assert played and played[0].returncode == 0, played
    mp4 = next(folder.glob("*.mp4"))
    info = probe(mp4)
    sound = sound_stream(info)
    assert (sound["codec_name"], int(sound["channels"]), int(sound["sample_rate"])) == ("pcm_s16le", 2, 48000)
    left = decoded_sound(mp4)
    video_end = video_times(info)[-1]
    assert abs(len(left) / 48000 - video_end) < 0.2
    # 100 ms windows: the tone shows as loud windows near 440 Hz, the rest is silence.
    windows = [left[i:i + 4800] for i in range(0, len(left) - 4800, 4800)]
    loud = [w for w in windows if max(abs(v) for v in w) > 8000]
    quiet = [w for w in windows if max(abs(v) for v in w) < 100]
    assert len(loud) >= 5 and len(quiet) >= 5
    # The one-second tone spans one second of the track. (Wine's capture times
    # jitter by more than 5 ms, so placement inserts short silences inside it.)
    loud_at = [i for i, v in enumerate(left) if abs(v) > 8000]
    assert abs((loud_at[-1] - loud_at[0]) / 48000 - 1.0) < 0.1


def test_without_a_sound_server_the_recording_has_a_silent_track_of_full_length(wine, tmp_path):
    env = dict(os.environ)
    subprocess.run(["pulseaudio", "--kill"], env=env, timeout=30)
    time.sleep(1)
    try:
        folder = tmp_path / "caps"
        done = record(wine, folder, 4)
        assert done.returncode == 0
        mp4 = next(folder.glob("*.mp4"))
        info = probe(mp4)
        left = decoded_sound(mp4)
        assert abs(len(left) / 48000 - (video_times(info)[-1])) < 0.2
        assert max(abs(v) for v in left) == 0
        log = read_text(wine.data_dir / "ostrel.log")
        assert re.search(r"No speakers or headphones were found|The sound device could not be (opened|started)", log), log
    finally:
        subprocess.run(["pulseaudio", "-n", "--daemonize=yes", "--exit-idle-time=-1", "--disallow-exit",
                        "--load=module-null-sink", "--load=module-native-protocol-unix"], env=env, timeout=60)
        for _ in range(20):
            if subprocess.run(["pactl", "set-default-source", "null.monitor"], env=env, timeout=60).returncode == 0:
                break
            time.sleep(0.5)


@pytest.mark.parametrize("seconds,pauses", [(6, 1), (12, 10)])
def test_sync_bursts_and_white_frames_line_up(wine, tmp_path, seconds, pauses):
    """Paused once, or ten times: every burst is at its click, the last ones
    included, and every white frame is at its click or less than a frame after."""
    folder = tmp_path / "caps"
    done = wine.run(["--selftest-sync", str(seconds), winpath(folder), str(pauses)], exe="OstrelWindowsTest.exe",
                    timeout=300)
    assert done.returncode == 0, result_lines(folder)
    log = read_text(wine.data_dir / "ostrel.log")
    assert len(re.findall(r"sync pause at_us=\d+", log)) == pauses
    mp4 = next(folder.glob("*.mp4"))
    info = probe(mp4)
    video = next(s for s in info["streams"] if s["codec_type"] == "video")
    assert (int(video["width"]), int(video["height"])) == (1280, 720)
    clicks = [int(m) / 1e6 for m in re.findall(r"sync click at_us=(-?\d+)", read_text(wine.data_dir / "ostrel.log"))]
    assert len(clicks) >= 4
    left = decoded_sound(mp4)
    times = video_times(info)
    brightness = frame_brightness(mp4)
    assert len(brightness) == len(times)
    interval = 333333 / 1e7
    judged = 0
    for click in clicks:
        if click < 0.05 or click > times[-1] - 0.2:
            continue
        start = max(0, int((click - 0.05) * 48000))
        onset = next(i for i in range(start, len(left)) if abs(left[i]) > 3000) / 48000
        # 5 ms, plus a tenth of a millisecond for finding the onset by a threshold.
        assert abs(onset - click) <= 0.0051, (click, onset)
        # A slot skipped while the video caught up after a stall has no frame to judge.
        if not any(click - 1e-6 <= t < click + interval for t in times):
            continue
        judged += 1
        white = next(t for t, b in zip(times, brightness) if t >= click - 0.2 and b > 128)
        assert 0 <= white - click < interval + 1e-6, (click, white)
    assert judged >= 2
    # Every burst in the track is a logged one: none from the pause (the tone
    # runs on through it), and the first after the resume is there.
    onsets = []
    i = 0
    while i < len(left):
        if abs(left[i]) > 3000:
            onsets.append(i / 48000)
            i += 24000
        else:
            i += 1
    # Each logged click has its burst, and each burst its click. (A click in
    # the track's last few milliseconds may have its burst there or not, so
    # neither list is held to the other at the very end.)
    end = len(left) / 48000 - 0.011
    logged = [c for c in clicks if 0 <= c < end]
    unheard = [c for c in logged if not any(abs(o - c) <= 0.0051 for o in onsets)]
    assert not unheard, ("clicks with no burst", unheard, onsets)
    unlogged = [o for o in onsets if o < end - 0.006 and not any(abs(o - c) <= 0.0051 for c in clicks)]
    assert not unlogged, ("bursts with no click", unlogged, clicks, re.findall(r"sync (?:pause|resume)[^\r\n]*", log))
    assert len(logged) >= 4


def test_a_recording_frozen_for_three_seconds_keeps_its_sound(wine, tmp_path):
    """The whole program stops (as a very busy machine can stop it) and then
    runs on: the sound it captured meanwhile is written, not dropped."""
    folder = tmp_path / "caps"
    process = wine.start(["--selftest-sync", "9", winpath(folder)], exe="OstrelWindowsTest.exe")
    assert wait_until(lambda: "sync click at_us=" in read_text(wine.data_dir / "ostrel.log"), 60)
    time.sleep(1.5)
    windows_process = subprocess.run(["pgrep", "-f", "OstrelWindowsTest.exe --selftest-sync"],
                                     capture_output=True, text=True).stdout.split()
    assert windows_process
    for pid in windows_process:
        os.kill(int(pid), 19)  # SIGSTOP
    time.sleep(3)
    for pid in windows_process:
        os.kill(int(pid), 18)  # SIGCONT
    assert wine.ended(process, 120) == 0
    mp4 = next(folder.glob("*.mp4"))
    left = decoded_sound(mp4)
    clicks = [int(m) / 1e6 for m in re.findall(r"sync click at_us=(-?\d+)", read_text(wine.data_dir / "ostrel.log"))]
    assert len(clicks) >= 7
    for click in clicks:
        if click * 48000 + 960 >= len(left):
            continue
        burst = left[max(0, int((click - 0.02) * 48000)):int((click + 0.02) * 48000)]
        assert max(abs(v) for v in burst) > 3000, click


def test_sound_just_before_a_pause_is_kept(wine, tmp_path):
    """The last moments before a pause are still in the lag behind the clock,
    or on their way from the device, when the pause comes; they are written,
    not thrown away with the pause. After the resume the sound goes on."""
    tone = write_tone(tmp_path / "tone.wav", 4)

    def play():
        if wait_until(lambda: "Recording started" in read_text(wine.data_dir / "ostrel.log"), 60, 0.02):
            time.sleep(1.0)
            subprocess.run(["paplay", str(tone)], capture_output=True, timeout=30)

    player = threading.Thread(target=play)
    player.start()
    folder = tmp_path / "caps"
    done = record(wine, folder, 6)  # paused for a second after three
    player.join()
    assert done.returncode == 0, result_lines(folder)
    left = decoded_sound(next(folder.glob("*.mp4")))
    # 10 ms windows from 2.6 s up to 20 ms before the pause point at 3 s, and
    # from 30 ms after it (the resume) for half a second.
    for start in [*range(int(2.6 * 48000), int(2.98 * 48000), 480), *range(int(3.03 * 48000), int(3.5 * 48000), 480)]:
        assert max(abs(v) for v in left[start:start + 480]) > 8000, start / 48000


def test_a_sound_device_that_goes_and_comes_back_is_recorded_again(wine, tmp_path):
    """The sound server's output goes away two and a half seconds into a
    recording (a headset unplugged) and comes back two seconds later as the
    default, well before the pause at eight seconds: the
    computer's sound is picked up again within two seconds, the gap is
    silence, nothing after it shifts, and the log tells of the loss."""
    tone = write_tone(tmp_path / "tone.wav", 30)
    events = {}

    def play_unplug_replug():
        # Playing already when the recording starts: a new player's first
        # sound can take a second or two to reach the sound server's monitor.
        first = subprocess.Popen(["paplay", "-d", "null", "--latency-msec=50", str(tone)], stderr=subprocess.DEVNULL)
        if not wait_until(lambda: "Recording started" in read_text(wine.data_dir / "ostrel.log"), 60, 0.02):
            first.kill()
            first.wait(timeout=30)
            return
        begun = time.monotonic()
        time.sleep(2.5 - (time.monotonic() - begun))
        events["unplugged"] = time.monotonic() - begun
        subprocess.run(["pactl", "unload-module", "module-null-sink"], capture_output=True, timeout=30)
        first.kill()
        first.wait(timeout=30)
        time.sleep(4.5 - (time.monotonic() - begun))
        subprocess.run(["pactl", "load-module", "module-null-sink"], capture_output=True, timeout=30)
        subprocess.run(["pactl", "set-default-source", "null.monitor"], capture_output=True, timeout=30)
        events["back"] = time.monotonic() - begun
        second = subprocess.Popen(["paplay", "-d", "null", "--latency-msec=50", str(tone)], stderr=subprocess.DEVNULL)
        time.sleep(8)
        second.kill()
        second.wait(timeout=30)

    player = threading.Thread(target=play_unplug_replug)
    player.start()
    folder = tmp_path / "caps"
    done = record(wine, folder, 16)  # paused for a second after eight
    player.join()
    assert done.returncode == 0, result_lines(folder)
    assert "back" in events, events
    mp4 = next(folder.glob("*.mp4"))
    info = probe(mp4)
    left = decoded_sound(mp4)
    assert abs(len(left) / 48000 - video_times(info)[-1]) < 0.2
    # 100 ms windows, loud or silent, up to the pause at eight seconds.
    loud = [max(abs(v) for v in left[i:i + 4800]) > 8000 for i in range(0, 8 * 48000, 4800)]
    first_loud = loud.index(True)
    gone = loud.index(False, first_loud)
    shown = "".join("#" if window else "." for window in loud)
    assert any(loud[gone:]), f"the sound never came back: {shown} {events}"
    again = loud.index(True, gone)
    unplugged, back = events["unplugged"], events["back"]
    assert unplugged - 0.5 <= gone / 10 <= unplugged + 1.0, (shown, events)
    assert again / 10 <= back + 2.0, (shown, events)
    # From its return to the pause the tone goes on without a break.
    assert all(loud[again:79]), (shown, events)
    log = read_text(wine.data_dir / "ostrel.log")
    assert "Computer sound device lost: " in log, log
    assert "Computer sound reopened" in log, log
