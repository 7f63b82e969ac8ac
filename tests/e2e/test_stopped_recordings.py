"""A recording whose program is killed outright. Kept in a module that runs
last: after a Wine program is killed, later programs can read the shared
screen back black."""
import signal

from conftest import wait_until, winpath
from test_record import probe, video_times


def test_a_killed_recording_leaves_a_readable_part_file(wine, tmp_path):
    folder = tmp_path / "caps"
    process = wine.start(["--selftest-record", "20", winpath(folder)], exe="OstrelWindowsTest.exe")
    assert wait_until(lambda: any(p.stat().st_size > 20_000_000 for p in folder.glob("*.part")), 60)
    process.send_signal(signal.SIGKILL)
    process.wait(timeout=30)
    part = next(folder.glob("*.mp4.part"))
    assert len(video_times(probe(part))) > 10
