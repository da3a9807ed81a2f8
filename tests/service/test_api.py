"""API tests of vantorel-lab against a real driver and its virtual instrument.

Every answer is checked against service/openapi.json. Run in a network
namespace of its own (the driver listens on its fixed port 8889):
  ip netns exec NS /usr/bin/python3 -m unittest discover -s tests/service -p 'test_api.py' -v
"""

from __future__ import annotations

import glob
import http.client
import json
import os
import queue
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lab_harness import BUILD, REPO, LabProcesses, free_port  # noqa: E402
from openapi_check import check, check_schema, resolve, template_of, validate  # noqa: E402

DOC = json.loads((REPO / "service" / "openapi.json").read_text(encoding="utf-8"))
TOKENS = (("adm-4b1e77c0a9d2f3e6", "admin", "Ada Admin"), ("opr-93d2aa51c7e8b0f4", "operator", "Otto Operator"),
          ("vwr-0c5f6e18d3a4b9c2", "viewer", "Vera Viewer"))
ADMIN, OPERATOR, VIEWER = (t for t, _, _ in TOKENS)


def q(name: str) -> str:
    return urllib.parse.quote(name, safe="")


class Events:
    """Reads GET /api/events with http.client on a thread; wait() finds an event."""

    def __init__(self, lab: LabProcesses, headers: dict):
        u = urllib.parse.urlsplit(lab.base_url)
        self.conn = http.client.HTTPConnection(u.hostname, u.port, timeout=30)
        self.conn.request("GET", "/api/events", headers=headers)
        self.response = self.conn.getresponse()
        self.queue: queue.Queue = queue.Queue()
        self.seen: list = []
        # The stream's status and type, then each event's data, against the document.
        self.problems = check(DOC, "GET", "/api/events", self.response.status, b"-",
                              self.response.getheader("Content-Type", ""))
        if self.response.status == 200:
            threading.Thread(target=self._read, daemon=True).start()

    def _read(self) -> None:
        name, data = None, []
        try:
            for raw in self.response:
                line = raw.decode("utf-8").rstrip("\r\n")
                if line.startswith("event:"):
                    name = line[6:].strip()
                elif line.startswith("data:"):
                    data.append(line[5:].strip())
                elif not line and name:
                    value = json.loads("\n".join(data))
                    schema = DOC["paths"]["/api/events"]["get"]["x-events"].get(name)
                    found = validate(DOC, schema, value) if schema else ["unknown event"]
                    self.problems += [f"event {name}: {p}" for p in found]
                    self.queue.put((name, value, time.monotonic()))
                    name, data = None, []
        except (OSError, ValueError, AttributeError, http.client.HTTPException):
            pass  # the stream closed

    def wait(self, name: str, limit_s: float = 10.0, **fields):
        """The first event NAME (since the last wait) whose data has these fields."""
        deadline = time.monotonic() + limit_s
        while True:
            try:
                ev = self.queue.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError(f"no {name} event {fields} in {limit_s} s; saw {self.seen[-10:]}")
            self.seen.append(ev[:2])
            if ev[0] == name and all(ev[1].get(k) == v for k, v in fields.items()):
                return ev

    def close(self) -> None:
        self.conn.close()


class LabCase(unittest.TestCase):
    """One lab (driver + server, three tokens) per class; call() checks every answer."""

    tokens = TOKENS
    lab: LabProcesses

    @classmethod
    def setUpClass(cls):
        cls.lab = LabProcesses(tokens=cls.tokens).start()
        cls.lab.token = ADMIN
        cls.lab.connect()

    @classmethod
    def tearDownClass(cls):
        cls.lab.stop()

    def call(self, method, path, body=None, expect=200, lab=None, **kw):
        res = (lab or self.lab).request(method, path, body, **kw)
        self.assertEqual(expect, res.status, f"{method} {path}: {res!r}")
        self.assertEqual([], conform(method, path, res))
        return res

    def measure(self, job, samples=3, lab=None, events=None):
        """Adds (or replaces) and runs JOB, waits until measured; its measurement's JSON."""
        lab = lab or self.lab
        self.call("POST", "/api/instruments/local/jobs", {"name": job, "samples": samples,
                  "make": "door", "replace": True}, 201, lab=lab)
        self.call("POST", f"/api/instruments/local/jobs/{q(job)}/run", expect=202, lab=lab)
        if events:
            events.wait("job", job=job, state="measured")
        else:
            lab.wait_job(job)
        return self.call("GET", f"/api/instruments/local/jobs/{q(job)}/measurement", lab=lab).json


def conform(method, path, res):
    """Problems of one answer against the document (unknown paths: a 404 Error)."""
    template = template_of(DOC, path.split("?")[0])
    ctype = res.headers.get("Content-Type", "")
    if template is None:
        if res.status != 404 or not ctype.startswith("application/json"):
            return [f"{method} {path}: not in the document, answered {res.status} {ctype}"]
        return check_schema(DOC, "Error", res.json)
    return check(DOC, method, template, res.status, res.body, ctype)


class DocumentTest(unittest.TestCase):
    def test_document_is_served_exactly_and_lists_its_operations(self):
        with LabProcesses(driver=False) as lab:
            res = lab.request("GET", "/api/openapi.json", token=None)
            self.assertEqual([], conform("GET", "/api/openapi.json", res))
            self.assertEqual(DOC, res.json)
        ops = [(m, p) for p, item in DOC["paths"].items() for m in item if m != "parameters"]
        self.assertGreaterEqual(len(ops), 25)
        # The document describes this release: its version is the project's.
        project = re.search(r"project\(vantorel VERSION ([0-9.]+)", (REPO / "CMakeLists.txt").read_text())
        self.assertEqual(project.group(1), DOC["info"]["version"])

    def test_references_resolve(self):
        def refs(node):
            if isinstance(node, dict):
                yield from ([node["$ref"]] if "$ref" in node else [])
                for v in node.values():
                    yield from refs(v)
            elif isinstance(node, list):
                for v in node:
                    yield from refs(v)

        for ref in set(refs(DOC)):
            with self.subTest(ref=ref):
                self.assertIsInstance(resolve(DOC, ref), dict)


class LabSessionTest(LabCase):
    def test_a_day_in_the_lab(self):
        events = Events(self.lab, {"Authorization": f"Bearer {ADMIN}"})
        self.addCleanup(events.close)
        self.assertEqual(200, events.response.status)
        first = self.measure("Panel 7, left", events=events)
        rec = first["record"]
        events.wait("record", job="Panel 7, left", record=rec)
        again = self.call("GET", f"/api/instruments/local/jobs/{q('Panel 7, left')}/measurement").json
        self.assertEqual(first, again)
        second = self.measure("Panel 7, left", events=events)
        self.assertNotEqual(rec, second["record"])

        std = self.call("POST", "/api/standards", {"name": "Door blue", "from": f"#{rec}",
                        "tolerance": 1.0, "formula": "de2000"}, 201).json["standard"]
        self.assertEqual((rec, 1), (std["sourceRecord"], std["version"]))
        cmp = self.call("POST", "/api/compare", {"standard": "Door blue", "batch": f"#{rec}"}, 201).json
        self.assertTrue(cmp["passed"])
        events.wait("comparison", comparison=cmp["comparison"], passed=True)
        report = self.call("GET", cmp["report"])
        self.assertIn(b"<html", report.body.lower())
        trend = self.call("GET", f"/api/standards/{q('Door blue')}/trend").json
        self.assertEqual([cmp["comparison"]], [p["comparison"] for p in trend["points"]])
        self.call("GET", f"/api/standards/{q('Door blue')}/trend.svg")
        self.assertIn("Door blue", [s["name"] for s in self.call("GET", "/api/standards").json["standards"]])

        listed = self.call("GET", f"/api/records?job={q('Panel 7, left')}&limit=10").json["records"]
        self.assertEqual({rec, second["record"]}, {r["id"] for r in listed})
        self.assertEqual([[cmp["comparison"]]], [[c["id"] for c in r["comparisons"]] for r in listed if r["id"] == rec])
        detail = self.call("GET", f"/api/records/{rec}").json
        self.assertEqual(("measurement", first["geometries"]), (detail["kind"], detail["geometries"]))
        self.assertIn(b"<svg", self.call("GET", detail["spectra"]).body)
        self.assertTrue(self.call("GET", detail["images"][0]["png"]).body.startswith(b"\x89PNG\r\n\x1a\n"))
        self.assertEqual("comparison", self.call("GET", f"/api/records/{cmp['comparison']}").json["kind"])
        self.assertEqual([], events.problems)

    def test_instruments_log_cancel_delete(self):
        inst = self.call("GET", "/api/instruments").json["instruments"][0]
        self.assertEqual(("local", True, True), (inst["name"], inst["reachable"], inst["connected"]))
        self.call("GET", "/api/instruments/local/log")
        self.call("POST", "/api/instruments/local/jobs", {"name": "long", "samples": 500, "replace": True}, 201)
        self.call("POST", "/api/instruments/local/jobs/long/run", expect=202)
        busy = self.call("GET", "/api/instruments/local/jobs/long/measurement", expect=409).json
        self.assertEqual("measuring", busy["error"])
        self.assertEqual("long", self.call("GET", "/api/instruments").json["instruments"][0]["job"])
        self.call("POST", "/api/instruments/local/cancel")
        self.lab.wait_until("cancelled", lambda: self.call("GET", "/api/instruments").json["instruments"][0]["state"] == "idle")
        self.call("DELETE", "/api/instruments/local/jobs/long")
        self.call("DELETE", "/api/instruments/local/jobs/long", expect=404)
        for path in ("/", "/app.js", "/style.css", "/api/session"):
            self.call("GET", path)


class AuthTest(LabCase):
    def test_roles(self):
        job = {"name": "auth job", "samples": 1, "replace": True}
        rows = [  # method, path, body, token, status
            ("GET", "/api/instruments", None, None, 401),
            ("GET", "/api/instruments", None, "no-such-token", 401),
            ("GET", "/api/events", None, None, 401),
            ("GET", "/api/openapi.json", None, None, 200),
            ("GET", "/", None, None, 200),
            ("GET", "/api/instruments", None, VIEWER, 200),
            ("GET", "/api/records", None, VIEWER, 200),
            ("POST", "/api/instruments/local/jobs", job, VIEWER, 403),
            ("GET", "/api/instruments/local/jobs/x/measurement", None, VIEWER, 403),
            ("POST", "/api/compare", {"standard": "s", "batch": "#1"}, VIEWER, 403),
            ("POST", "/api/instruments/local/jobs", job, OPERATOR, 201),
            ("POST", "/api/standards", {"name": "s", "from": "#999999"}, OPERATOR, 403),
            ("POST", "/api/instruments/local/connect", {"usb": True}, OPERATOR, 403),
            ("POST", "/api/standards", {"name": "s", "from": "#999999"}, ADMIN, 404),
            ("POST", "/api/instruments/local/connect", {"usb": True}, ADMIN, 200),
        ]
        for method, path, body, token, status in rows:
            with self.subTest(method=method, path=path, token=token):
                self.call(method, path, body, status, token=token)

    def test_session_cookie(self):
        self.call("POST", "/api/session", {"token": "wrong"}, 401, token=None)
        res = self.call("POST", "/api/session", {"token": VIEWER}, token=None)
        self.assertEqual({"user": "Vera Viewer", "role": "viewer"}, res.json)
        cookie = res.headers["Set-Cookie"]
        for attr in ("vantorel_session=", "HttpOnly", "SameSite=Strict", "Path=/"):
            self.assertIn(attr, cookie)
        jar = {"Cookie": cookie.split(";")[0]}
        state = self.call("GET", "/api/session", token=None, headers=jar).json
        self.assertEqual(("viewer", True), (state["role"], state["auth"]))
        self.call("POST", "/api/instruments/local/jobs", {"name": "c", "samples": 1}, 403, token=None, headers=jar)
        events = Events(self.lab, jar)
        self.addCleanup(events.close)
        self.assertEqual(200, events.response.status)
        self.assertTrue(events.response.getheader("Content-Type").startswith("text/event-stream"))
        self.assertEqual([], events.problems)
        cleared = self.call("DELETE", "/api/session", token=None, headers=jar)
        self.assertIn("vantorel_session=", cleared.headers.get("Set-Cookie", ""))
        self.call("GET", "/api/session", token=None, expect=401)

    def test_tokens_never_logged(self):
        self.call("GET", "/api/instruments", token=VIEWER)
        self.call("POST", "/api/session", {"token": OPERATOR}, token=None)
        self.call("GET", "/api/instruments", token="guess-" + ADMIN, expect=401)
        text = "".join(self.lab.lab_output) + (self.lab.tmp / "lab.stderr").read_text(errors="replace")
        for token, _, _ in TOKENS:
            self.assertNotIn(token, text)


class BadInputTest(LabCase):
    def test_rejected_input(self):
        jobs = "/api/instruments/local/jobs"
        json_type = {"Content-Type": "application/json"}
        self.call("POST", jobs, {"name": "dup", "samples": 2, "replace": True}, 201)
        rows = [  # method, path, body, raw data, headers, status, error
            ("POST", jobs, None, b'{"name": "x", ', json_type, 400, "bad_request"),
            ("POST", jobs, None, b"[1, 2]", json_type, 400, "bad_request"),
            ("POST", jobs, {"name": 5, "samples": 3}, None, {}, 400, "bad_request"),
            ("POST", jobs, {"name": "x", "samples": "3"}, None, {}, 400, "bad_request"),
            ("POST", jobs, {"name": "x", "samples": 2.5}, None, {}, 400, "bad_request"),
            ("POST", jobs, {"name": "x", "samples": 0}, None, {}, 400, "bad_request"),
            ("POST", jobs, {"name": "x", "samples": 1001}, None, {}, 400, "bad_request"),
            ("POST", jobs, {"name": "dup", "samples": 2}, None, {}, 409, "exists"),
            ("POST", jobs, None, b"name=x", {"Content-Type": "text/plain"}, 415, "unsupported_media_type"),
            ("POST", jobs, None, b'{"name": "' + b"x" * (1 << 20) + b'"}', json_type, 413, "too_large"),
            ("POST", "/api/instruments/local/connect", {"usb": "yes"}, None, {}, 400, "bad_request"),
            ("POST", "/api/compare", {"standard": "s"}, None, {}, 400, "bad_request"),
            ("POST", "/api/standards", {"name": "s", "from": "#1", "formula": "de99"}, None, {}, 400, "bad_request"),
            ("GET", "/api/records?since=yesterday", None, None, {}, 400, "bad_request"),
            ("GET", "/api/records?limit=-1", None, None, {}, 400, "bad_request"),
            ("GET", "/api/nothing/here", None, None, {}, 404, "not_found"),
            ("GET", "/api/instruments/elsewhere/jobs", None, None, {}, 404, "not_found"),
            ("GET", "/api/records/987654", None, None, {}, 404, "not_found"),
            ("GET", "/api/standards/none/trend", None, None, {}, 404, "not_found"),
            ("GET", f"{jobs}/never%20stored/measurement", None, None, {}, 404, "not_found"),
            ("GET", f"{jobs}/dup/measurement", None, None, {}, 409, "not_measured"),
        ]
        for method, path, body, data, headers, status, error in rows:
            with self.subTest(path=path, body=body, data=(data or b"")[:30]):
                res = self.call(method, path, body, status, data=data, headers=headers)
                self.assertEqual(error, res.json["error"])
        self.call("POST", jobs, {"name": "dup", "samples": 4, "replace": True}, 201)


class FaultTest(LabCase):
    def restart_driver(self):
        self.lab.driver = subprocess.Popen([str(BUILD / "bin" / "vantorel-driver")],
                                           env=dict(os.environ, **self.lab.driver_env),
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def test_driver_killed_and_back(self):
        self.lab.driver.kill()
        self.lab.driver.wait(5)
        start = time.monotonic()
        err = self.call("GET", "/api/instruments/local/jobs", expect=502).json
        self.assertLess(time.monotonic() - start, 5.0)
        self.assertEqual("unreachable", err["error"])
        inst = self.lab.wait_until("unreachable", lambda: not self.lab.instrument()["reachable"], 5.0)
        self.assertTrue(inst)
        self.call("GET", "/api/instruments")
        self.restart_driver()
        self.lab.connect()
        self.assertEqual("idle", self.lab.instrument()["state"])
        self.call("GET", "/api/instruments/local/jobs")

    def test_one_record_per_run(self):
        self.measure("left early")  # a record exists; the next run must give exactly one more
        self.call("POST", "/api/instruments/local/jobs/left%20early/run", expect=202)
        self.lab.wait_job("left early")
        u = urllib.parse.urlsplit(self.lab.base_url)
        with socket.create_connection((u.hostname, u.port)) as s:  # asks, and goes away unanswered
            s.sendall(b"GET /api/instruments/local/jobs/left%20early/measurement HTTP/1.1\r\n"
                      b"Host: x\r\nAuthorization: Bearer " + ADMIN.encode() + b"\r\n\r\n")
        answers = queue.Queue()
        threads = [threading.Thread(target=lambda: answers.put(self.lab.request(
            "GET", "/api/instruments/local/jobs/left%20early/measurement"))) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(20)
        ids = {answers.get_nowait().json["record"] for _ in threads}
        records = self.call("GET", "/api/records?job=left%20early").json["records"]
        self.assertEqual(2, len(records), records)
        self.assertEqual(1, len(ids))
        self.assertIn(ids.pop(), {r["id"] for r in records})


class StartupTest(unittest.TestCase):
    def test_refuses_open_listen_without_tokens(self):
        proc = subprocess.run([str(BUILD / "bin" / "vantorel-lab"), "--listen", f"0.0.0.0:{free_port()}",
                               "--db", os.path.join(tempfile.gettempdir(), "never-opened.db")],
                              capture_output=True, text=True, timeout=15)
        self.assertNotEqual(0, proc.returncode)
        self.assertNotIn("listening", proc.stdout)
        self.assertIn("token", (proc.stdout + proc.stderr).lower())

    def test_https_with_a_secure_session_cookie(self):
        with LabProcesses(tokens=TOKENS, tls=True, driver=False) as lab:
            self.assertTrue(lab.base_url.startswith("https://"))
            res = lab.request("POST", "/api/session", {"token": OPERATOR}, token=None)
            self.assertEqual(200, res.status)
            self.assertIn("Secure", res.headers["Set-Cookie"])
            self.assertEqual([], conform("POST", "/api/session", res))
            self.assertEqual("operator", lab.request("GET", "/api/session", token=OPERATOR).json["role"])


class SharedStoreTest(LabCase):
    """Two lab servers on one database see each other's standards; the second
    has no driver of its own (the driver serves one client at a time)."""

    @classmethod
    def setUpClass(cls):
        pass

    @classmethod
    def tearDownClass(cls):
        pass

    def labs(self, db=None):
        first = LabProcesses(tokens=TOKENS)
        other = LabProcesses(tokens=TOKENS, driver=False, lab_args=["--instrument", f"local=127.0.0.1:{free_port()}"])
        for lab in (first, other):
            lab.db = db or first.db
            lab.token = ADMIN
            self.addCleanup(lab.stop)
            lab.start()
        first.connect()
        return first, other

    def share(self, first, other):
        rec = self.measure("shared", lab=first)["record"]
        self.call("POST", "/api/standards", {"name": "from first", "from": f"#{rec}"}, 201, lab=first)
        self.call("POST", "/api/standards", {"name": "from other", "from": f"#{rec}"}, 201, lab=other)
        for lab in (first, other):
            names = {s["name"] for s in self.call("GET", "/api/standards", lab=lab).json["standards"]}
            self.assertLessEqual({"from first", "from other"}, names)
        self.call("POST", "/api/compare", {"standard": "from first", "batch": f"#{rec}"}, 201, lab=other)

    def test_sqlite(self):
        self.share(*self.labs())

    @unittest.skipUnless(glob.glob("/usr/lib/postgresql/*/bin/initdb"), "no PostgreSQL server programs")
    def test_postgresql(self):
        folder = Path(tempfile.mkdtemp(prefix="vantorel-pg-uri-"))
        script = str(REPO / "scripts" / "pg-cluster.sh")
        started = subprocess.run([script, "start", str(folder)], capture_output=True, text=True)
        self.addCleanup(subprocess.run, [script, "stop", str(folder)], capture_output=True)
        self.assertEqual(0, started.returncode, started.stderr)
        self.share(*self.labs((folder / "uri").read_text().strip()))


if __name__ == "__main__":
    unittest.main()
