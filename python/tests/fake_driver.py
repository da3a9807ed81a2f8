"""A stand-in for the driver process, serving its wire protocol from a thread.

It behaves like the driver with its virtual instrument for the requests the
tests make (device session, stored jobs, measuring in the background, canned
measurement data) and encodes its answers with its own code, not the
client's, so a mistake in one is not mirrored by the other. It records every
request and every byte in both directions, in order, and can be told to answer
a type id with arbitrary bytes to exercise the client's error paths.

All state belongs to the server thread while it runs; the recordings are
appended there and read by the test after the exchange that produced them.
"""

from __future__ import annotations

import math
import socket
import struct
import threading
import time
from typing import Callable, Dict, List, Optional, Tuple

NO_SESSION = 99999
JOB_NOT_FOUND = 1002
INVALID_TEXT = 1003
NOT_CONNECTED = 3001
UNKNOWN_JOB = 3002
ADDRESS_REFUSED = 3003
NOT_MEASURED = 3004
BUSY = 3005
INVALID_JOB = 3007

GEOMETRIES = 11
IMAGE_GEOMETRIES = (0, 2, 3, 6, 8, 10)
EXR_MAGIC = b"\x76\x2f\x31\x01"
REFUSED_ADDRESS = bytes(4)  # 0.0.0.0


def frame(type_id: int, body: bytes) -> bytes:
    return struct.pack("<IIQ", len(body), 0, type_id) + body


def narrow(data: bytes) -> bytes:
    return struct.pack("<I", len(data)) + data


def job_info_body(result: int, jobs: List[Tuple[bytes, int, int, bool]]) -> bytes:
    out = [struct.pack("<iI", result, len(jobs))]
    for name, state, samples, valid in jobs:
        out.append(narrow(name) + struct.pack("<IiB", state, samples, 1 if valid else 0))
    return b"".join(out)


def measurement_body(result: int, measurements: list, images: list) -> bytes:
    """measurements: (key, index, angle, 31 floats, (L, a, b)); images:
    (key, exr, second, 7 floats); written in the order given."""
    out = [struct.pack("<iI", result, len(measurements))]
    for key, index, angle, spectrum, lab in measurements:
        out.append(struct.pack("<iqi31f3f", key, index, angle, *spectrum, *lab))
    out.append(struct.pack("<I", len(images)))
    for key, exr, second, texture in images:
        out.append(struct.pack("<i", key) + narrow(exr) + narrow(second))
        out.append(struct.pack("<7d", *texture))
    return b"".join(out)


def canned_spectrum(job: bytes, sample: int, key: int) -> List[float]:
    seed = sum(job) % 7
    return [
        round(0.3 + 0.25 * math.sin((nm - 400) / 60.0 + key * 0.3 + seed) + 0.01 * sample, 4)
        for nm in range(400, 701, 10)
    ]


def canned_lab(job: bytes, sample: int, key: int) -> Tuple[float, float, float]:
    return (60.0 - 3.0 * key + sample, 10.0 + key, -5.0 + 0.5 * sum(job) % 3)


def canned_exr(job: bytes, sample: int, key: int, size: int) -> bytes:
    pattern = bytes((i * 7 + key + sample + len(job)) & 0xFF for i in range(251))
    body_len = max(size - len(EXR_MAGIC), 0)
    return EXR_MAGIC + (pattern * (body_len // len(pattern) + 1))[:body_len]


class Hangup(bytes):
    """Override answer after which the fake closes the connection."""


Override = Callable[[bytes], Optional[bytes]]


class FakeDriver:
    """Serves clients one after the other on 127.0.0.1 (an ephemeral port
    unless `port` is given) until stop() or a terminate request.

    image_bytes: size of each canned EXR image; connect_ms: how long a connect
    takes; sample_ms: how long measuring one sample takes.
    """

    def __init__(self, image_bytes: int = 1024, connect_ms: int = 0, sample_ms: int = 0,
                 port: int = 0) -> None:
        self.image_bytes = image_bytes
        self.connect_ms = connect_ms
        self.sample_ms = sample_ms
        self.session = False
        self.jobs: Dict[bytes, dict] = {}
        self.log_text = b"fake instrument ready\n"
        # type id -> function(body) returning raw bytes to send (a Hangup to
        # close the connection after them), or None to close without an answer.
        self.overrides: Dict[int, Override] = {}
        self.requests: List[Tuple[int, bytes]] = []
        self.stream: List[Tuple[str, bytes]] = []  # ("c2s" | "s2c", bytes)
        self.terminated = threading.Event()
        self._cache: Dict[tuple, bytes] = {}
        self._listener = socket.create_server(("127.0.0.1", port))
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def stop(self) -> None:
        self.terminated.set()
        try:
            self._listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._listener.close()
        self._thread.join(5)

    # --- transport --------------------------------------------------------

    def _serve(self) -> None:
        while not self.terminated.is_set():
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return
            with conn:
                conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                try:
                    while self._serve_one(conn):
                        pass
                except (OSError, struct.error, UnicodeDecodeError):
                    pass  # a short or undecodable request drops the client
        self._listener.close()

    @staticmethod
    def _read(conn: socket.socket, n: int) -> Optional[bytes]:
        buf = bytearray(n)
        view = memoryview(buf)
        got = 0
        while got < n:
            k = conn.recv_into(view[got:])
            if k == 0:
                return None
            got += k
        return bytes(buf)

    def _serve_one(self, conn: socket.socket) -> bool:
        header = self._read(conn, 16)
        if header is None:
            return False
        size, _reserved, type_id = struct.unpack("<IIQ", header)
        type_id &= 0xFFFFFFFF
        body = self._read(conn, size) if size else b""
        if body is None:
            return False
        self.stream.append(("c2s", header + body))
        self.requests.append((type_id, body))
        if type_id in self.overrides:
            answer = self.overrides[type_id](body)
        else:
            answer = self._handle(type_id, body)
        if answer is None:
            return False
        if answer:
            self.stream.append(("s2c", answer))
            conn.sendall(answer)
        return not isinstance(answer, Hangup) and not self.terminated.is_set()

    # --- behaviour --------------------------------------------------------

    def _state(self, job: dict) -> int:
        if job["started"] is None:
            return 0
        if time.monotonic() >= job["started"] + job["samples"] * self.sample_ms / 1000.0:
            return 2
        return 1

    def _measuring(self) -> bool:
        return any(self._state(j) == 1 for j in self.jobs.values())

    def _handle(self, type_id: int, body: bytes) -> Optional[bytes]:
        code = lambda c: frame(type_id, struct.pack("<i", c))  # noqa: E731
        if type_id == 1 or type_id == 7:
            timeout_ms = struct.unpack_from("<I", body, 4)[0]
            if self.connect_ms > timeout_ms:
                time.sleep(timeout_ms / 1000.0)
                self.session = False
                return frame(1, struct.pack("<i", NO_SESSION))
            time.sleep(self.connect_ms / 1000.0)
            if type_id == 7 and body[:4] == REFUSED_ADDRESS:
                self.session = False
                return frame(1, struct.pack("<i", ADDRESS_REFUSED))
            self.session = True
            return frame(1, struct.pack("<i", 0))
        if type_id == 2:
            if not self.session:
                return frame(2, job_info_body(NO_SESSION, []))
            jobs = [(n, self._state(j), j["samples"], True) for n, j in self.jobs.items()]
            return frame(2, job_info_body(0, jobs))
        if type_id == 3:
            self.terminated.set()
            return None
        if type_id == 4:
            if not self.session:
                return code(NO_SESSION)
            self.jobs.pop(_name(body), None)
            return code(0)
        if type_id == 8:
            return code(self._add_job(body))
        if type_id == 9:
            return code(self._do_job(_name(body)))
        if type_id == 10:
            if not self.session:
                return code(NOT_CONNECTED)
            for j in self.jobs.values():
                if self._state(j) == 1:
                    j["started"] = None
            return code(0)
        if type_id == 11:
            n = struct.unpack_from("<I", body)[0]
            text = body[4 : 4 + 4 * n].decode("utf-32-le")
            self.log_text += b"user message: " + text.encode("utf-8") + b"\n"
            return code(0)
        if type_id == 12:
            text = self.log_text + b"\0"
            return frame(12, struct.pack("<I", 0) + narrow(text))
        if type_id in (5, 6):
            return self._measurement(type_id, body)
        return None  # unknown type: drop the client, as the driver does

    def _add_job(self, body: bytes) -> int:
        if not self.session:
            return NO_SESSION
        name = _name(body)
        make_len = struct.unpack_from("<I", body, 4 + len(name))[0]
        make = body[8 + len(name) : 8 + len(name) + make_len]
        samples = struct.unpack_from("<I", body, 8 + len(name) + make_len)[0]
        try:
            name.decode("utf-8")
            make.decode("utf-8")
        except UnicodeDecodeError:
            return INVALID_TEXT
        if not name or samples == 0:
            return INVALID_JOB
        self.jobs.pop(name, None)
        self.jobs[name] = {"make": make, "samples": samples, "started": None}
        return 0

    def _do_job(self, name: bytes) -> int:
        if not self.session:
            return NOT_CONNECTED
        if name not in self.jobs:
            return UNKNOWN_JOB
        if self._measuring():
            return BUSY
        self.jobs[name]["started"] = time.monotonic()
        return 0

    def _measurement(self, type_id: int, body: bytes) -> bytes:
        empty = lambda c: frame(type_id, measurement_body(c, [], []))  # noqa: E731
        if not self.session:
            return empty(NO_SESSION)
        name = _name(body)
        job = self.jobs.get(name)
        if job is None:
            return empty(JOB_NOT_FOUND)
        if type_id == 6:
            index = struct.unpack_from("<i", body, 4 + len(name))[0]
            if self._state(job) != 2 or not 0 <= index < job["samples"]:
                return empty(NOT_MEASURED)
        elif self._state(job) != 2:
            return empty(NOT_MEASURED)
        else:
            index = -1  # the combined result
        key = (type_id, name, index, job["samples"])
        if key not in self._cache:
            self._cache[key] = frame(type_id, self._canned(name, index))
        return self._cache[key]

    def _canned(self, name: bytes, sample: int) -> bytes:
        combined = sample < 0
        s = max(sample, 0)
        meas = [
            (k, k, k, canned_spectrum(name, s, k), canned_lab(name, s, k)) for k in range(GEOMETRIES)
        ]
        images = []
        for k in IMAGE_GEOMETRIES:
            exr = canned_exr(name, s, k, self.image_bytes)
            second = b"second" * (k + 1) if combined else b""
            texture = tuple(0.5 * k + i for i in range(7)) if combined else (0.0,) * 7
            images.append((k, exr, second, texture))
        return measurement_body(0, meas, images)


def _name(body: bytes) -> bytes:
    n = struct.unpack_from("<I", body)[0]
    return body[4 : 4 + n]
