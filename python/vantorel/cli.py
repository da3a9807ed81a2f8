"""The `python -m vantorel` command line.

`jobs` lists the stored jobs; `measure NAME --out DIR` fetches the combined
measurement of a job, reads its samples for their spread and writes the
result folder DIR as vantorelctl does (see result_folder.py for the files it
writes and how an existing DIR is treated). Both open a device session first
(USB unless --network ADDRESS is given; --no-connect relies on an existing
one). Every request goes over one connection; there is no polling.

Exit status, as vantorelctl's: 0 success, 1 result code from the driver,
2 usage, 3 driver not reachable or protocol failure, 4 result folder not
written. Failures print one line on standard error.
"""

from __future__ import annotations

import argparse
import sys
import time
from typing import List, Optional

from . import __version__
from .client import DEFAULT_PORT, Client
from .errors import DriverUnreachableError, ProtocolError, VantorelError
from .records import JobState, Measurement
from .result_folder import FolderError, SampleStatistics, check_target, sample_statistics
from .result_folder import write_result_folder

EXIT_OK, EXIT_DRIVER_CODE, EXIT_USAGE, EXIT_TRANSPORT, EXIT_WRITE = 0, 1, 2, 3, 4


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog="python -m vantorel",
        description="List the driver's jobs or fetch the measurement of a job.",
    )
    p.add_argument("--version", action="version", version=f"vantorel {__version__}")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=DEFAULT_PORT)
    p.add_argument("--timeout", type=float, default=60.0, help="seconds to wait for an answer")
    p.add_argument("--network", metavar="ADDRESS", help="connect to the instrument over the network")
    p.add_argument("--connect-timeout-ms", type=int, default=5000)
    p.add_argument("--no-connect", action="store_true", help="use the existing device session")
    sub = p.add_subparsers(dest="command", required=True)
    sub.add_parser("jobs", help="list the stored jobs")
    meas = sub.add_parser("measure", help="fetch the measurement of a job into a result folder")
    meas.add_argument("name")
    meas.add_argument("--out", required=True, metavar="DIR",
                      help="the result folder to write: result.json, spectra.csv, lab.csv and "
                           "images/*.exr (vantorelctl measure --out also writes result.cxf, "
                           "cgats/ and the pictures); an existing DIR is refused")
    meas.add_argument("--force", action="store_true",
                      help="replace a result folder written earlier by this command")
    return p


def _open_session(c: Client, args: argparse.Namespace) -> None:
    if args.no_connect:
        return
    if args.network:
        c.connect_network(args.network, args.connect_timeout_ms)
    else:
        c.connect_usb(args.connect_timeout_ms)


def _print_jobs(c: Client) -> None:
    jobs = c.jobs()
    if not jobs:
        print("no jobs stored")
    for j in jobs:
        state = j.state.name.lower() if isinstance(j.state, JobState) else str(j.state)
        flag = "" if j.valid else "\tinvalid"
        print(f"{j.name}\t{state}\t{j.sample_count} samples{flag}")


def _read_spread(c: Client, name: str) -> Optional[SampleStatistics]:
    """The spread of a measured job's samples, read one at a time; None when
    the job is not listed as measured or a sample cannot be read (a warning:
    the combined measurement is there all the same)."""
    job = next((j for j in c.jobs() if j.name == name), None)
    if job is None or job.state != JobState.MEASURED or job.sample_count <= 0:
        return None
    samples: List[Measurement] = []
    for index in range(job.sample_count):
        try:
            # Only the L*a*b* values are kept, not the images.
            s = c.sample(name, index)
        except VantorelError as e:
            print(f"warning: sample {index} could not be read ({e}); the result states no spread",
                  file=sys.stderr)
            return None
        for g in s:
            g.exr = g.second_image = None
        samples.append(s)
    return sample_statistics(samples)


def _measure(c: Client, args: argparse.Namespace) -> None:
    check_target(args.out, args.force)  # refuse before fetching megabytes
    result = c.measure(args.name)
    stats = _read_spread(c, args.name)
    files = write_result_folder(args.out, result, args.name, stats=stats, force=args.force)
    mean = ""
    if stats is not None:
        n = stats.sample_count
        mean = f" (mean of {n} sample{'' if n == 1 else 's'})"
    print(f"wrote {len(files)} files to {args.out}{mean}")


def _connect(args: argparse.Namespace) -> Client:
    """A client of the driver. The driver stops listening while it serves
    another client (and for a moment after one has gone), so a refused
    connection is tried again every 50 ms for up to 2 s."""
    deadline = time.monotonic() + 2.0
    while True:
        try:
            return Client(args.host, args.port, timeout=args.timeout)
        except DriverUnreachableError as e:
            if "refused" not in e.reason or time.monotonic() >= deadline:
                raise
            time.sleep(0.05)


def main(argv: Optional[List[str]] = None) -> int:
    args = _parser().parse_args(argv)
    try:
        with _connect(args) as c:
            _open_session(c, args)
            if args.command == "jobs":
                _print_jobs(c)
            else:
                _measure(c, args)
        return EXIT_OK
    except VantorelError as e:
        print(f"error: {e}", file=sys.stderr)
        return EXIT_DRIVER_CODE
    except FolderError as e:
        print(f"error: cannot write the result folder: {e}", file=sys.stderr)
        return EXIT_WRITE
    except (ProtocolError, OSError) as e:
        print(f"error: {e}", file=sys.stderr)
        return EXIT_TRANSPORT
