"""Starts the library test server for a test and talks to its control API."""
import base64
import json
import subprocess
import urllib.error
import urllib.request
from pathlib import Path

SERVER = Path(__file__).resolve().parent / "library_server.py"


class LibraryServer:
    def __init__(self, store):
        self.process = subprocess.Popen(["/usr/bin/python3", str(SERVER), "--store", str(store)],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.url = self.process.stdout.readline().decode().strip()
        assert self.url.startswith("http://127.0.0.1:"), "the library test server did not start"
        # The same library on 127.0.0.2: another origin, which nothing should reach.
        self.other_url = self.process.stdout.readline().decode().strip()
        assert self.other_url.startswith("http://127.0.0.2:"), "the second listener did not start"

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=15)
        self.process.stdout.close()

    def control(self, path, payload=None):
        data = None if payload is None else json.dumps(payload).encode()
        request = urllib.request.Request(self.url + path, data=data, method="GET" if data is None else "POST")
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.loads(answer.read() or b"{}")

    def settings(self, **values):
        return self.control("/_test/settings", values)

    def faults(self, *rules):
        return self.control("/_test/faults", list(rules))

    def journal(self, path=None):
        """Library requests so far, optionally only those to one path; each
        with its headers as a lower-case dict and its body as bytes."""
        entries = self.control("/_test/journal")["requests"]
        for entry in entries:
            entry["header"] = {k.lower(): v for k, v in entry["headers"]}
            entry["body"] = base64.b64decode(entry.get("body_b64", ""))
        return [e for e in entries if path is None or e["path"] == path]

    def reached_other(self):
        """Requests that arrived at the second listener."""
        return [e for e in self.journal() if e["listener"] == self.other_url]

    def state(self):
        return self.control("/_test/state")

    def revoke(self):
        return self.control("/_test/revoke", {})
