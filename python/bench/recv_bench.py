"""Receive throughput of Client.measure against a raw socket read of the same bytes.

Fetches one measurement answer of about --mb megabytes (default 50) both ways
against the same server and prints the best time of each, the throughputs and
the ratio raw_time / client_time (1.0 = the client costs nothing beyond the
socket). Serves from the fake driver of the tests unless VANTOREL_BENCH_PORT
names a running driver that already holds a measured job (--job).

    python3 python/bench/recv_bench.py [--mb 50] [--rounds 5]
"""

from __future__ import annotations

import argparse
import os
import socket
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

import vantorel  # noqa: E402
from vantorel import messages, wire  # noqa: E402


def raw_fetch(port: int, name: str) -> int:
    """Sends the measurement request by hand and reads the whole answer with
    recv_into into one preallocated buffer; returns the body size."""
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        s.sendall(messages.frame(messages.GET_MEASURE, messages.name_only(name)))
        header = bytearray(16)
        _read(s, memoryview(header))
        size = struct.unpack_from("<I", header)[0]
        body = bytearray(size)
        _read(s, memoryview(body))
        return size


def _read(s: socket.socket, view: memoryview) -> None:
    got = 0
    while got < len(view):
        n = s.recv_into(view[got:])
        if n == 0:
            raise ConnectionError("closed early")
        got += n


def client_fetch(port: int, name: str) -> int:
    with vantorel.Client(port=port) as c:
        result = c.measure(name)
    return sum(len(g.exr or b"") for g in result)


def timed(fn) -> float:
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


def best_interleaved(fn_a, fn_b, rounds: int):
    """Best times of two functions run alternately, so that a change of load on
    the machine during the run touches both alike."""
    a, b = [], []
    for _ in range(rounds):
        a.append(timed(fn_a))
        b.append(timed(fn_b))
    return min(a), min(b)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--mb", type=float, default=50.0)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--job", default="BENCH")
    args = ap.parse_args()

    fake = None
    port_env = os.environ.get("VANTOREL_BENCH_PORT")
    if port_env:
        port = int(port_env)
    else:
        from tests.fake_driver import IMAGE_GEOMETRIES, FakeDriver

        fake = FakeDriver(image_bytes=int(args.mb * 1e6 / len(IMAGE_GEOMETRIES)))
        port = fake.port
        with vantorel.Client(port=port) as c:
            c.connect_usb()
            c.add_job(args.job, "bench", 1)
            c.run_job(args.job)
    try:
        size = raw_fetch(port, args.job)  # warms the server's cache as well
        client_fetch(port, args.job)
        t_raw, t_client = best_interleaved(
            lambda: raw_fetch(port, args.job), lambda: client_fetch(port, args.job), args.rounds
        )
    finally:
        if fake:
            fake.stop()
    mb = (size + wire.HEADER_SIZE) / 1e6
    print(f"answer: {mb:.1f} MB, best of {args.rounds}")
    print(f"raw socket read: {t_raw * 1000:8.1f} ms  {mb / t_raw:8.0f} MB/s")
    print(f"Client.measure:  {t_client * 1000:8.1f} ms  {mb / t_client:8.0f} MB/s")
    print(f"ratio (raw time / client time): {t_raw / t_client:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
