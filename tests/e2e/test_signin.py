"""Device sign-in and sign-out through the self-test switches, against the
library test server."""
import json
import socket
import time

import pytest

from conftest import read_text, winpath

EXE = "OstrelWindowsTest.exe"
REACH = "Ostrel couldn't reach its server. Check the connection; the capture is still on this computer."
NO_CODE = "Ostrel's server didn't send a sign-in code. Please try again."


def run_switch(wine, library_url, *args, timeout=120):
    env = dict(wine.env, OSTREL_TEST_SERVER=library_url)
    return wine.run(list(args), exe=EXE, timeout=timeout, env=env).returncode


def sign_in(wine, library, tmp_path, timeout=120):
    """Runs the sign-in self-test; gives its exit code and the result file's lines."""
    result = tmp_path / "signin.txt"
    code = run_switch(wine, library.url, "--selftest-signin", winpath(result), timeout=timeout)
    raw = result.read_bytes()
    assert raw.startswith(b"\xef\xbb\xbf")
    return code, raw[3:].decode("utf-8").split("\r\n")[:-1]


def sign_out(wine, library_url):
    return run_switch(wine, library_url, "--selftest-signout")


def log_text(wine):
    return read_text(wine.data_dir / "ostrel.log")


def test_approved_signin_sends_exact_requests_keeps_the_signin_protected_and_signs_out(wine, library, tmp_path):
    library.settings(workspace="Team\nNorth \u00e9")
    code, lines = sign_in(wine, library, tmp_path)
    assert code == 0, lines
    issued, = library.state()["codes"]
    user_code = issued["user_code"]
    # The workspace's line feed survives the saved file; the result line carries it as written.
    assert lines == ["code=" + user_code, "result=approved email=ada@example.com workspace=Team", "North \u00e9"]

    start, = library.journal("/api/device/start")
    name = socket.gethostname().split(".")[0][:60]
    assert start["body"] == b'{"device_name":' + json.dumps(name).encode() + b',"platform":"windows"}'
    token_polls = library.journal("/api/device/token")
    assert len(token_polls) == 1
    assert token_polls[0]["body"] == b'{"device_code":"' + issued["device_code"].encode() + b'"}'
    for request in (start, token_polls[0]):
        assert request["header"]["user-agent"] == "NIRA-Ostrel-Windows/0.1.0"
        assert request["header"]["accept"] == "application/json"
        assert request["header"]["content-type"] == "application/json"
        assert "authorization" not in request["header"]
    # The first poll comes one interval (2 s) after the code.
    assert token_polls[0]["time"] - start["time"] >= 1.9

    token = next(iter(library.state()["tokens"]))
    account = wine.data_dir / "account.dat"
    assert account.exists() and token.encode() not in account.read_bytes()
    log = log_text(wine)
    assert f"cloud: code {user_code}" in log and "cloud: signed in" in log

    assert sign_out(wine, library.url) == 0
    delete, = library.journal("/api/devices/self")
    assert delete["method"] == "DELETE" and delete["size"] == 0
    assert delete["header"]["authorization"] == "Bearer " + token
    assert "content-type" not in delete["header"]
    assert not account.exists()
    assert library.state()["tokens"] == {}
    assert log_text(wine).count("cloud: signed out on this computer") == 1

    # Signed out already: nothing is sent, and the switch still reports success.
    assert sign_out(wine, library.url) == 0
    assert len(library.journal("/api/devices/self")) == 1


def test_polling_goes_on_through_429_at_two_seconds_without_an_interval(wine, library, tmp_path):
    library.settings(interval=None, approve_after=1)
    library.faults({"path": "^/api/device/start$", "delay": 2},
                   {"path": "^/api/device/token$", "status": 429, "json": {"error": {"message": "Slow down."}}})
    code, lines = sign_in(wine, library, tmp_path)
    assert code == 0, lines
    polls = library.journal("/api/device/token")
    assert [p["answer"] for p in polls] == [429, 200, 200]
    gaps = [b["time"] - a["time"] for a, b in zip(polls, polls[1:])]
    assert all(1.9 <= gap <= 4 for gap in gaps), gaps


@pytest.mark.parametrize("settings, status", [
    ({"signin": "deny"}, "denied"),
    ({"signin": "expire"}, "expired"),
    # The code runs out on this computer first: polling stops at its deadline.
    ({"signin": "manual", "expires_in": 3, "runs_out": False}, "pending"),
])
def test_refused_or_expired_signin_exits_2_and_saves_nothing(wine, library, tmp_path, settings, status):
    library.settings(**settings)
    started = time.monotonic()
    code, lines = sign_in(wine, library, tmp_path)
    assert code == 2
    assert lines[-1] == f"result={status} email= workspace="
    assert not (wine.data_dir / "account.dat").exists()
    assert time.monotonic() - started < 30


def test_poll_answered_503_ends_the_signin_at_once(wine, library, tmp_path):
    library.faults({"path": "^/api/device/token$", "status": 503, "body": "<html>Service Unavailable</html>"})
    code, lines = sign_in(wine, library, tmp_path)
    assert code == 2
    assert lines[-1] == "result=error email= workspace="
    assert len(library.journal("/api/device/token")) == 1


@pytest.mark.parametrize("fault, message", [
    ({"status": 503, "body": "<html><h1>Busy</h1></html>"}, "Ostrel's server answered 503. Please try again."),
    ({"status": 502, "body": "<html>Bad gateway</html>", "size": 2_000_000}, "Ostrel's server answered 502. Please try again."),
    ({"status": 404, "json": {"error": {"code": "gone", "message": "This service has moved."}}}, "This service has moved."),
    ({"close": True}, REACH),
    # A good answer cut after the first 1,000,000 bytes no longer parses.
    ({"pad": 1_100_000}, NO_CODE),
    ({"status": 200, "body": '{"device_code":"abc","user_code":"X', "content_type": "application/json"}, NO_CODE),
    ({"status": 200, "body": "[" * 100_000, "content_type": "application/json"}, NO_CODE),
    ({"status": 200, "body": "{\"device_code\":\"abc\",}", "content_type": "application/json"}, NO_CODE),
    ({"status": 200, "body": "9", "size": 999_000, "content_type": "application/json"}, NO_CODE),
    # A status line without a number is no answer, not a success.
    ({"raw": "HTTP/1.1 xyz Fine\r\ncontent-type: application/json\r\ncontent-length: 2\r\n\r\n{}"}, REACH),
], ids=["503-html", "502-huge-html", "404-message", "dropped", "huge-json", "truncated", "deep", "malformed", "long-number",
        "no-status"])
def test_a_failed_start_reads_as_a_sentence(wine, library, tmp_path, fault, message):
    library.faults(dict(fault, path="^/api/device/start$"))
    started = time.monotonic()
    code, lines = sign_in(wine, library, tmp_path, timeout=60)
    assert code == 1
    assert lines == ["error=" + message]
    assert library.journal("/api/device/token") == []
    assert time.monotonic() - started < 30


def test_damaged_file_401_and_unreachable_server_all_end_signed_out(wine, library, tmp_path):
    wine.data_dir.mkdir(parents=True)
    account = wine.data_dir / "account.dat"
    account.write_bytes(b"\x01\x00\x00\x00 damaged")
    assert sign_out(wine, library.url) == 0
    assert library.journal() == []  # a damaged file is no sign-in to announce
    account.write_bytes(b"\x01\x00\x00\x00 damaged")
    assert sign_in(wine, library, tmp_path)[0] == 0  # and is replaced by the next one
    library.revoke()
    assert sign_out(wine, library.url) == 0
    assert library.journal("/api/devices/self")[0]["answer"] == 401
    assert not account.exists()
    # After the damaged file's sign-out: once for the 401 answer, once for the sign-out itself.
    assert log_text(wine).count("cloud: signed out on this computer") == 3

    assert sign_in(wine, library, tmp_path)[0] == 0
    url = library.url
    library.stop()
    started = time.monotonic()
    assert sign_out(wine, url) == 0
    assert not account.exists()
    assert time.monotonic() - started < 30


def test_a_test_server_address_that_names_another_host_is_ignored(wine, library, tmp_path):
    assert sign_in(wine, library, tmp_path)[0] == 0
    # WinHTTP would read "localhost:" as user information and go to 127.0.0.2.
    port = library.other_url.rsplit(":", 1)[1]
    assert sign_out(wine, f"http://localhost:@127.0.0.2:{port}") == 0
    assert library.reached_other() == []
    # The sign-out went to the service's own origin instead: nothing here either.
    assert library.journal("/api/devices/self") == []
