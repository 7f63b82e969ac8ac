#!/usr/bin/env python3
"""Library test server: the library service's HTTP API on 127.0.0.1, for the
end-to-end tests and for trying the program by hand.

    /usr/bin/python3 tests/server/library_server.py [--port N] [--signin approve|deny|expire|manual] ...

The first line it prints is its base URL (a port it picked unless --port is
given); point the program at it with OSTREL_TEST_SERVER set to that URL. The
second line is the address of a second listener on 127.0.0.2 that answers the
same API (empty when that address cannot be had): another origin, for checking
that nothing meant for the first one reaches it.

Library API: POST /api/device/start, POST /api/device/token, DELETE
/api/devices/self, POST /api/captures/uploads, GET /api/captures/ID/upload,
PUT /api/captures/ID/parts/N, POST /api/captures/ID/complete. Bearer tokens
are checked, part hashes and lengths are checked, parts are stored on disk
and a completed capture is assembled there.

Control API for tests (never journalled):
    GET  /_test/journal    every library request: method, path, headers in order, body,
                           and the listener (base URL) it arrived at
    GET  /_test/state      issued tokens, device codes and captures (with the
                           assembled file's path and SHA-256)
    POST /_test/settings   JSON object merged into the settings (see DEFAULTS)
    POST /_test/faults     a fault or a list of faults (see Fault)
    POST /_test/decide     {"user_code": ..., "decision": "approved"|"denied"}
    POST /_test/revoke     drops every issued token (the next authorized call gets 401)
A person signing in by hand decides on the page /device?code=USERCODE.
"""
import argparse
import base64
import hashlib
import html
import json
import re
import secrets
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, urlsplit

DEFAULTS = {
    "signin": "approve",        # approve, deny, expire (the word "expired"), manual (decided by /_test/decide or the page)
    "approve_after": 0,         # "pending" answers before the outcome
    "interval": 2,              # None leaves the field out of the start answer
    "expires_in": 600,          # None leaves it out
    "runs_out": True,           # the code also runs out on the server after expires_in
    "email": "ada@example.com",
    "workspace": "Ada's Workspace",
    "token": None,              # the token to hand out; None makes a fresh one
    "part_size": 8 * 1024 * 1024,
    "complete_state": "ready",
    "url": None,                # the capture's page in the completion answer: None leaves it out, else
                                # a text in which {base} stands for the base URL and {id} for the capture id
}

JOURNAL_BODY_LIMIT = 64 * 1024  # bodies up to this size are journalled whole; larger ones by size and hash


def error_body(code, message):
    return {"error": {"code": code, "message": message}}


class Fault:
    """A scripted misbehaviour for matching requests, taken from a JSON object:
        method, path (a regular expression searched in the path), skip (matching
        requests to let through first, default 0), times (how many to hit,
        default 1, -1 for all);
        delay (seconds before answering), close (drop the connection unanswered),
        status with json or body (+ content_type, size to repeat the body up to
        that many bytes, location for a Location header) as the answer, raw
        (text sent as the whole answer, status line included, then the
        connection closed), or pad (bytes of a "pad" member appended to the
        normal JSON answer)."""

    def __init__(self, rule):
        self.rule = dict(rule)
        self.method = rule.get("method")
        self.path = re.compile(rule.get("path", ""))
        self.skip = int(rule.get("skip", 0))
        self.times = int(rule.get("times", 1))

    def take(self, method, path):
        if self.method and self.method != method:
            return False
        if not self.path.search(path) or self.times == 0:
            return False
        if self.skip > 0:
            self.skip -= 1
            return False
        if self.times > 0:
            self.times -= 1
        return True


class Library:
    def __init__(self, store, settings):
        self.lock = threading.Lock()
        self.store = Path(store)
        self.settings = dict(DEFAULTS, **settings)
        self.base_url = ""
        self.journal = []
        self.faults = []
        self.codes = {}      # device code -> record
        self.tokens = {}     # token -> {"email", "workspace", "device_name"}
        self.captures = {}   # capture id -> record

    def take_fault(self, method, path):
        with self.lock:
            for fault in self.faults:
                if fault.take(method, path):
                    return fault.rule
        return None

    # Sign-in

    def device_start(self, request):
        body = request.json_body()
        if not isinstance(body, dict) or not isinstance(body.get("device_name"), str) or body.get("platform") != "windows":
            return 400, error_body("bad_request", "A device name and the platform are needed.")
        with self.lock:
            device_code = secrets.token_urlsafe(24)
            user_code = "".join(secrets.choice("BCDFGHJKLMNPQRSTVWXZ") for _ in range(4)) + "-" + \
                "".join(secrets.choice("0123456789") for _ in range(4))
            expires = self.settings["expires_in"]
            self.codes[device_code] = {"user_code": user_code, "device_name": body["device_name"], "polls": 0,
                                       "decision": None, "used": False,
                                       "runs_out": time.monotonic() + expires
                                       if self.settings["runs_out"] and isinstance(expires, (int, float)) and expires > 0
                                       else None}
            answer = {
                "device_code": device_code,
                "user_code": user_code,
                "verification_uri": self.base_url + "/device",
                "verification_uri_complete": self.base_url + "/device?code=" + user_code,
            }
            for field in ("interval", "expires_in"):
                if self.settings[field] is not None:
                    answer[field] = self.settings[field]
        return 200, answer

    def device_token(self, request):
        body = request.json_body()
        device_code = body.get("device_code") if isinstance(body, dict) else None
        with self.lock:
            record = self.codes.get(device_code)
            if record is None:
                return 400, error_body("invalid_device_code", "This sign-in code is not known.")
            record["polls"] += 1
            s = self.settings
            if record["used"] or (record["runs_out"] is not None and time.monotonic() > record["runs_out"]):
                return 200, {"status": "expired"}
            outcome = record["decision"]
            if outcome is None and s["signin"] != "manual" and record["polls"] > s["approve_after"]:
                outcome = {"approve": "approved", "deny": "denied", "expire": "expired"}[s["signin"]]
            if outcome is None:
                return 200, {"status": "pending"}
            if outcome != "approved":
                return 200, {"status": outcome}
            record["used"] = True
            token = s["token"] if s["token"] is not None else "tok_" + secrets.token_hex(20)
            self.tokens[token] = {"email": s["email"], "workspace": s["workspace"], "device_name": record["device_name"]}
            return 200, {"status": "approved", "token": token, "user": {"email": s["email"]},
                         "workspace": {"name": s["workspace"]}}

    def decide(self, user_code, decision):
        with self.lock:
            for record in self.codes.values():
                if record["user_code"] == user_code:
                    record["decision"] = decision
                    return True
        return False

    def sign_out(self, request, token):
        with self.lock:
            self.tokens.pop(token, None)
        return 204, None

    # Captures

    def create_capture(self, request, token):
        body = request.json_body()
        fields = {"filename": str, "mime": str, "kind": str, "source": str, "size_bytes": int}
        if not isinstance(body, dict) or any(not isinstance(body.get(k), t) for k, t in fields.items()) \
                or body["size_bytes"] <= 0 or body["source"] != "windows":
            return 400, error_body("bad_request", "The capture's name, type and size are needed.")
        with self.lock:
            capture_id = "cap_" + secrets.token_hex(8)
            folder = self.store / capture_id
            folder.mkdir(parents=True)
            self.captures[capture_id] = {"meta": body, "raw": request.body.decode("utf-8", "replace"),
                                         "part_size": int(self.settings["part_size"]), "parts": {},
                                         "state": "uploading", "folder": folder, "file": None, "sha256": None,
                                         "owner": token}
            return 201, {"capture_id": capture_id, "part_size": self.captures[capture_id]["part_size"]}

    def capture_status(self, capture_id):
        with self.lock:
            capture = self.captures.get(capture_id)
            if capture is None:
                return 404, error_body("not_found", "This capture is not in the library.")
            received = [{"part": n, "size": size} for n, (size, _) in sorted(capture["parts"].items())]
            return 200, {"state": capture["state"], "part_size": capture["part_size"], "received": received}

    def put_part(self, request, capture_id, number):
        with self.lock:
            capture = self.captures.get(capture_id)
        if capture is None:
            return 404, error_body("not_found", "This capture is not in the library.")
        if capture["state"] != "uploading":
            return 409, error_body("not_uploading", "This capture is already complete.")
        size, part_size = capture["meta"]["size_bytes"], capture["part_size"]
        count = -(-size // part_size)
        if not 1 <= number <= count:
            return 400, error_body("bad_part", f"Part {number} is outside 1 to {count}.")
        expected_length = min(part_size, size - (number - 1) * part_size)
        if len(request.body) != expected_length:
            return 400, error_body("bad_part_size", f"Part {number} should hold {expected_length} bytes.")
        digest = hashlib.sha256(request.body).hexdigest()
        if request.headers.get("x-sha256") != digest:
            return 422, error_body("checksum_mismatch", "The part arrived damaged.")
        (capture["folder"] / f"part-{number}").write_bytes(request.body)
        with self.lock:
            capture["parts"][number] = (len(request.body), digest)
        return 200, {"part": number}

    def complete(self, capture_id):
        with self.lock:
            capture = self.captures.get(capture_id)
            if capture is None:
                return 404, error_body("not_found", "This capture is not in the library.")
            if capture["state"] != "uploading":
                return 200, self.completed(capture_id, capture)
            count = -(-capture["meta"]["size_bytes"] // capture["part_size"])
            missing = [n for n in range(1, count + 1) if n not in capture["parts"]]
            if missing:
                return 409, error_body("missing_parts", f"Parts {missing} have not arrived.")
            target = capture["folder"] / "assembled"
            digest = hashlib.sha256()
            with open(target, "wb") as out:
                for n in range(1, count + 1):
                    data = (capture["folder"] / f"part-{n}").read_bytes()
                    digest.update(data)
                    out.write(data)
            capture.update(state=self.settings["complete_state"], file=str(target), sha256=digest.hexdigest())
            return 200, self.completed(capture_id, capture)

    def completed(self, capture_id, capture):
        answer = {"capture_id": capture_id, "state": capture["state"]}
        if self.settings["url"] is not None:
            answer["url"] = self.settings["url"].replace("{base}", self.base_url).replace("{id}", capture_id)
        return answer

    def state(self):
        with self.lock:
            return {
                "tokens": self.tokens,
                "codes": [{"device_code": dc, "user_code": r["user_code"], "polls": r["polls"],
                           "device_name": r["device_name"]} for dc, r in self.codes.items()],
                "captures": {cid: {"meta": c["meta"], "raw": c["raw"], "state": c["state"], "part_size": c["part_size"],
                                  "parts": sorted(c["parts"]), "file": c["file"], "sha256": c["sha256"]}
                             for cid, c in self.captures.items()},
            }


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OstrelLibraryTest/1"
    library = None  # set by make_server
    quiet = True

    def log_message(self, format, *args):
        if not self.quiet:
            super().log_message(format, *args)

    def json_body(self):
        try:
            return json.loads(self.body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            return None

    def do_GET(self):
        self.handle_any("GET")

    def do_POST(self):
        self.handle_any("POST")

    def do_PUT(self):
        self.handle_any("PUT")

    def do_DELETE(self):
        self.handle_any("DELETE")

    def handle_any(self, method):
        length = int(self.headers.get("content-length") or 0)
        self.body = self.rfile.read(length) if length > 0 else b""
        path = urlsplit(self.path).path
        if path.startswith("/_test/"):
            return self.control(method, path)
        if path == "/device":
            return self.device_page(method)
        library = self.library
        entry = {"time": time.time(), "listener": self.server.base_url, "method": method, "path": self.path,
                 "headers": list(self.headers.items()),
                 "size": len(self.body), "sha256": hashlib.sha256(self.body).hexdigest()}
        if len(self.body) <= JOURNAL_BODY_LIMIT:
            entry["body_b64"] = base64.b64encode(self.body).decode()
        with library.lock:
            library.journal.append(entry)

        fault = library.take_fault(method, path)
        if fault and fault.get("delay"):
            time.sleep(float(fault["delay"]))
        if fault and fault.get("close"):
            entry["answer"] = "closed"
            self.close_connection = True
            return
        if fault and "raw" in fault:
            entry["answer"] = "raw"
            self.wfile.write(fault["raw"].encode())
            self.close_connection = True
            return
        if fault and "status" in fault:
            status = int(fault["status"])
            extra = {"location": fault["location"]} if "location" in fault else {}
            if "json" in fault:
                return self.answer(status, fault["json"], entry, extra)
            body = fault.get("body", "").encode()
            if fault.get("size") and body:
                body = (body * (int(fault["size"]) // len(body) + 1))[:int(fault["size"])]
            return self.answer_bytes(status, body, fault.get("content_type", "text/html"), entry, extra)

        status, answer = self.route(method, path)
        if fault and fault.get("pad") and isinstance(answer, dict):
            answer = dict(answer, pad="x" * int(fault["pad"]))
        self.answer(status, answer, entry)

    def route(self, method, path):
        library = self.library
        if method == "POST" and path == "/api/device/start":
            return library.device_start(self)
        if method == "POST" and path == "/api/device/token":
            return library.device_token(self)
        match = re.fullmatch(r"/api/(devices/self|captures/uploads|captures/([^/]+)/(upload|parts/(\d+)|complete))", path)
        if match is None:
            return 404, error_body("not_found", "There is nothing at this address.")
        token = self.bearer()
        if token is None:
            return 401, error_body("unauthorized", "Your sign-in has ended. Sign in with NIRA again.")
        what, capture_id, action, number = match.groups()
        if what == "devices/self" and method == "DELETE":
            return library.sign_out(self, token)
        if what == "captures/uploads" and method == "POST":
            return library.create_capture(self, token)
        if action == "upload" and method == "GET":
            return library.capture_status(capture_id)
        if number is not None and method == "PUT":
            return library.put_part(self, capture_id, int(number))
        if action == "complete" and method == "POST":
            return library.complete(capture_id)
        return 405, error_body("method_not_allowed", "This address does not take that method.")

    def bearer(self):
        value = self.headers.get("authorization", "")
        if not value.startswith("Bearer "):
            return None
        token = value[len("Bearer "):]
        with self.library.lock:
            return token if token in self.library.tokens else None

    def answer(self, status, obj, entry=None, headers=None):
        body = b"" if obj is None else json.dumps(obj).encode()
        self.answer_bytes(status, body, "application/json", entry, headers)

    def answer_bytes(self, status, body, content_type, entry=None, headers=None):
        if entry is not None:
            entry["answer"] = status
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        if body or status != 204:
            self.send_header("content-type", content_type)
            self.send_header("content-length", str(len(body)))
        self.end_headers()
        if body and status != 204:
            self.wfile.write(body)

    def control(self, method, path):
        library = self.library
        body = self.json_body() if self.body else None
        if method == "GET" and path == "/_test/journal":
            with library.lock:
                return self.answer(200, {"requests": library.journal})
        if method == "GET" and path == "/_test/state":
            return self.answer(200, library.state())
        if method == "POST" and path == "/_test/settings" and isinstance(body, dict):
            with library.lock:
                library.settings.update(body)
                return self.answer(200, library.settings)
        if method == "POST" and path == "/_test/faults" and isinstance(body, (dict, list)):
            with library.lock:
                library.faults.extend(Fault(f) for f in (body if isinstance(body, list) else [body]))
            return self.answer(200, {})
        if method == "POST" and path == "/_test/decide" and isinstance(body, dict):
            found = library.decide(body.get("user_code"), body.get("decision"))
            return self.answer(200 if found else 404, {})
        if method == "POST" and path == "/_test/revoke":
            with library.lock:
                library.tokens.clear()
            return self.answer(200, {})
        return self.answer(404, error_body("not_found", "Unknown control request."))

    def device_page(self, method):
        """The confirmation page a person uses when trying the program by hand."""
        if method == "POST":
            form = parse_qs(self.body.decode("utf-8", "replace"))
            code = form.get("code", [""])[0]
            decision = "approved" if "allow" in form else "denied"
            text = f"{decision.capitalize()}." if self.library.decide(code, decision) else "Unknown code."
            return self.answer_bytes(200, f"<p>{html.escape(text)}</p>".encode(), "text/html")
        code = html.escape(parse_qs(urlsplit(self.path).query).get("code", [""])[0])
        page = (f"<form method=post><p>Allow this computer? Code <input name=code value='{code}'></p>"
                "<button name=allow>Allow</button> <button name=deny>Deny</button></form>")
        return self.answer_bytes(200, page.encode(), "text/html")


def listen(address, port, handler):
    server = ThreadingHTTPServer((address, port), handler)
    server.daemon_threads = True
    server.base_url = f"http://{address}:{server.server_address[1]}"
    return server


def make_server(port=0, store=None, settings=None, quiet=True):
    """The server on 127.0.0.1, and a second listener of the same library on
    127.0.0.2 (None where that address cannot be had)."""
    store = store or tempfile.mkdtemp(prefix="ostrel-library-")
    library = Library(store, settings or {})
    handler = type("LibraryHandler", (Handler,), {"library": library, "quiet": quiet})
    server = listen("127.0.0.1", port, handler)
    library.base_url = server.base_url
    try:
        other = listen("127.0.0.2", 0, handler)
    except OSError:
        other = None
    return server, library, other


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--store", help="folder for parts and assembled captures (default: a new temporary one)")
    parser.add_argument("--signin", choices=["approve", "deny", "expire", "manual"], default="approve")
    parser.add_argument("--approve-after", type=int, default=0, help="pending answers before the outcome")
    parser.add_argument("--interval", type=int, default=DEFAULTS["interval"])
    parser.add_argument("--part-size", type=int, default=DEFAULTS["part_size"])
    parser.add_argument("--verbose", action="store_true", help="log every request to standard error")
    args = parser.parse_args()
    settings = {"signin": args.signin, "approve_after": args.approve_after, "interval": args.interval,
                "part_size": args.part_size}
    server, library, other = make_server(args.port, args.store, settings, quiet=not args.verbose)
    print(library.base_url, flush=True)
    print(other.base_url if other else "", flush=True)
    if other:
        threading.Thread(target=other.serve_forever, daemon=True).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        if other:
            other.server_close()


if __name__ == "__main__":
    sys.exit(main())
