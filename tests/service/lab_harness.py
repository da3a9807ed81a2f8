"""Starts a driver with its virtual instrument and a vantorel-lab server in
front of it, for the service tests (API and browser).

The driver listens on its fixed port 8889, so run these tests in a network
namespace of their own. The lab gets a free port, a database in a temporary
folder and, unless told otherwise, a token file with one admin token.
VANTOREL_BUILD names the build folder (default <repo>/build).
"""

from __future__ import annotations

import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request
from pathlib import Path
from typing import Optional, Sequence

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VANTOREL_BUILD") or REPO / "build")
DRIVER_PORT = 8889
ADMIN_TOKEN = "t0k-admin-7f3c9e2a51b8"
SIM_ENV = {"VANTOREL_SIM_CONNECT_MS": "50", "VANTOREL_SIM_SAMPLE_MS": "20"}
_DEFAULT = object()


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Response:
    def __init__(self, status: int, headers, body: bytes):
        self.status = status
        self.headers = headers
        self.body = body

    @property
    def json(self):
        return json.loads(self.body.decode("utf-8")) if self.body else None

    def __repr__(self) -> str:
        return f"<{self.status} {self.body[:300]!r}>"


class LabProcesses:
    """A driver plus a lab server; start() returns self once the lab listens.

    tokens: (token, role, user) triples written to the token file, a string
    written verbatim, or None to run without --token-file (no auth).
    lab_args: further command-line arguments for vantorel-lab.
    tls: None, True (a self-signed certificate for 127.0.0.1 made here) or a
    (cert, key) pair of files.
    driver: False to run the lab without a driver (unreachable instrument).
    """

    def __init__(
        self,
        tokens=((ADMIN_TOKEN, "admin", "Lab Admin"),),
        lab_args: Sequence[str] = (),
        tls=None,
        driver: bool = True,
        driver_env: Optional[dict] = None,
        start_timeout_s: float = 20.0,
    ):
        self.tokens = tokens
        self.lab_args = list(lab_args)
        self.tls = tls
        self.with_driver = driver
        self.driver_env = dict(SIM_ENV, **(driver_env or {}))
        self.start_timeout_s = start_timeout_s
        self.tmp = Path(tempfile.mkdtemp(prefix="vantorel-lab-"))
        self.db = self.tmp / "lab.db"
        self.port = free_port()
        self.token = tokens[0][0] if isinstance(tokens, (list, tuple)) and tokens else None
        self.base_url = ""
        self.ssl_context: Optional[ssl.SSLContext] = None
        self.driver: Optional[subprocess.Popen] = None
        self.lab: Optional[subprocess.Popen] = None
        self.lab_output: list = []
        self._reader: Optional[threading.Thread] = None

    def __enter__(self) -> "LabProcesses":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    # ---- processes ----

    def lab_command(self) -> list:
        cmd = [str(BUILD / "bin" / "vantorel-lab"), "--listen", f"127.0.0.1:{self.port}",
               "--db", str(self.db)]
        if self.tokens is not None:
            path = self.tmp / "tokens"
            text = self.tokens if isinstance(self.tokens, str) else "".join(
                f"{t} {role} {user}\n" for t, role, user in self.tokens)
            path.write_text(text, encoding="utf-8")
            path.chmod(0o600)
            cmd += ["--token-file", str(path)]
        if self.tls:
            cert, key = self.tls if isinstance(self.tls, (list, tuple)) else self._self_signed()
            cmd += ["--tls-cert", str(cert), "--tls-key", str(key)]
            self.ssl_context = ssl.create_default_context(cafile=str(cert))
            self.ssl_context.check_hostname = False
        return cmd + self.lab_args

    def _self_signed(self):
        cert, key = self.tmp / "cert.pem", self.tmp / "key.pem"
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
             "-keyout", str(key), "-out", str(cert)],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return cert, key

    def start(self) -> "LabProcesses":
        try:
            if self.with_driver:
                with open(self.tmp / "driver.stderr", "wb") as err:
                    self.driver = subprocess.Popen(
                        [str(BUILD / "bin" / "vantorel-driver")], env=dict(os.environ, **self.driver_env),
                        stdout=subprocess.DEVNULL, stderr=err)
            with open(self.tmp / "lab.stderr", "wb") as err:
                self.lab = subprocess.Popen(
                    self.lab_command(), stdout=subprocess.PIPE, stderr=err,
                    text=True, encoding="utf-8", errors="replace")
            self._await_listening()
        except BaseException:
            self.stop()
            raise
        return self

    def _await_listening(self) -> None:
        found = threading.Event()

        def read() -> None:  # keeps draining so the lab never blocks on a full pipe
            for line in self.lab.stdout:
                self.lab_output.append(line)
                m = re.search(r"listening on (https?://\S+)", line)
                if m and not found.is_set():
                    self.base_url = m.group(1).rstrip("/")
                    found.set()

        self._reader = threading.Thread(target=read, daemon=True)
        self._reader.start()
        deadline = time.monotonic() + self.start_timeout_s
        while not found.wait(0.05):
            if self.lab.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"vantorel-lab did not start: {self.diagnostics()}")

    def diagnostics(self) -> str:
        """The lab's exit status and the tail of its output, for failure messages."""
        err = (self.tmp / "lab.stderr").read_text(errors="replace") if (self.tmp / "lab.stderr").exists() else ""
        code = self.lab.poll() if self.lab else None
        return f"exit={code} stdout={''.join(self.lab_output)[-1500:]!r} stderr={err[-1500:]!r}"

    def stop(self) -> None:
        for proc in (self.lab, self.driver):
            if proc and proc.poll() is None:
                proc.kill()
            if proc:
                proc.wait(10)
                if proc.stdout:
                    if self._reader:
                        self._reader.join(5)  # it ends at the pipe's end of file
                    proc.stdout.close()
        self.lab = self.driver = None
        if not os.environ.get("VANTOREL_KEEP_TMP"):
            shutil.rmtree(self.tmp, ignore_errors=True)

    # ---- HTTP ----

    def request(self, method: str, path: str, body=None, token=_DEFAULT, headers=None,
                data: Optional[bytes] = None, timeout: float = 15.0) -> Response:
        """One request; a JSON body for `body`, raw bytes for `data`. The admin
        token goes along unless token is None or another token. 4xx/5xx come back
        as a Response, not an exception."""
        hdrs = {"Accept": "application/json"}
        if body is not None:
            data = json.dumps(body).encode("utf-8")
            hdrs["Content-Type"] = "application/json"
        token = self.token if token is _DEFAULT else token
        if token:
            hdrs["Authorization"] = f"Bearer {token}"
        hdrs.update(headers or {})
        req = urllib.request.Request(self.base_url + path, data=data, method=method, headers=hdrs)
        try:
            with urllib.request.urlopen(req, timeout=timeout, context=self.ssl_context) as res:
                return Response(res.status, res.headers, res.read())
        except urllib.error.HTTPError as e:
            return Response(e.code, e.headers, e.read())

    def api(self, method: str, path: str, body=None, expect: int = 200, **kw):
        """request() that insists on `expect` and returns the decoded JSON."""
        res = self.request(method, path, body, **kw)
        if res.status != expect:
            raise AssertionError(f"{method} {path}: expected {expect}, got {res!r}")
        return res.json

    def wait_until(self, what: str, probe, limit_s: float = 15.0, every_s: float = 0.05):
        """Polls probe() until it returns something true, which it returns."""
        deadline = time.monotonic() + limit_s
        while True:
            value = probe()
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError(f"{what} not within {limit_s} s; {self.diagnostics()}")
            time.sleep(every_s)

    def instrument(self, name: str = "local") -> dict:
        listing = self.api("GET", "/api/instruments")["instruments"]
        return next(i for i in listing if i["name"] == name)

    def wait_reachable(self, name: str = "local") -> dict:
        """Waits for the driver to answer the lab (it starts in parallel)."""
        return self.wait_until(f"{name} reachable", lambda: (i := self.instrument(name))["reachable"] and i)

    def connect(self, name: str = "local") -> None:
        self.wait_reachable(name)
        self.api("POST", f"/api/instruments/{name}/connect", {"usb": True})

    def wait_job(self, job: str, state: str = "measured", instrument: str = "local") -> dict:
        def probe():
            jobs = self.api("GET", f"/api/instruments/{instrument}/jobs")["jobs"]
            return next((j for j in jobs if j["name"] == job and j["state"] == state), None)

        return self.wait_until(f"job {job} {state}", probe)
