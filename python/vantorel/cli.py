"""The `python -m vantorel` command line.

`jobs` lists the stored jobs; `measure NAME --out DIR` fetches the combined
measurement of a job and writes DIR/result.json, DIR/spectra.csv, DIR/lab.csv
and one DIR/<geometry>.exr per image. Both open a device session first (USB
unless --network ADDRESS is given; --no-connect relies on an existing one).
Exit status: 0 success, 1 result code from the driver, 2 usage, 3 protocol
or connection failure.
"""

from __future__ import annotations

import argparse
import csv
import json
import os
import sys
from typing import List, Optional

from .client import DEFAULT_PORT, Client
from .errors import ProtocolError, VantorelError
from .records import WAVELENGTHS, JobState, Measurement


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog="python -m vantorel",
        description="List the driver's jobs or fetch the measurement of a job.",
    )
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=DEFAULT_PORT)
    p.add_argument("--timeout", type=float, default=60.0, help="seconds to wait for an answer")
    p.add_argument("--network", metavar="ADDRESS", help="connect to the instrument over the network")
    p.add_argument("--connect-timeout-ms", type=int, default=5000)
    p.add_argument("--no-connect", action="store_true", help="use the existing device session")
    sub = p.add_subparsers(dest="command", required=True)
    sub.add_parser("jobs", help="list the stored jobs")
    meas = sub.add_parser("measure", help="fetch the measurement of a job")
    meas.add_argument("name")
    meas.add_argument("--out", required=True, metavar="DIR")
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


def write_measurement(result: Measurement, job: str, out: str) -> List[str]:
    """Writes the measurement files into `out` (created if missing); returns their names."""
    os.makedirs(out, exist_ok=True)
    written = []
    entries = []
    for g in result:
        entry = {"geometry": g.name, "angle": g.angle}
        if g.spectrum is not None:
            entry.update(index=g.index, spectrum=list(g.spectrum), lab=dict(g.lab._asdict()))
        if g.exr is not None:
            exr_name = f"{g.name}.exr"
            with open(os.path.join(out, exr_name), "wb") as f:
                f.write(g.exr)
            written.append(exr_name)
            entry.update(
                exr=exr_name,
                exr_bytes=len(g.exr),
                second_image_bytes=len(g.second_image),
                texture=list(g.texture),
            )
        entries.append(entry)
    doc = {"job": job, "result": result.result, "wavelengths": list(WAVELENGTHS), "geometries": entries}
    with open(os.path.join(out, "result.json"), "w", encoding="utf-8") as f:
        json.dump(doc, f, indent=2)
    with open(os.path.join(out, "spectra.csv"), "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        w.writerow(["geometry"] + [str(nm) for nm in WAVELENGTHS])
        for g in result:
            if g.spectrum is not None:
                w.writerow([g.name] + [repr(v) for v in g.spectrum])
    with open(os.path.join(out, "lab.csv"), "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        w.writerow(["geometry", "L", "a", "b"])
        for g in result:
            if g.lab is not None:
                w.writerow([g.name] + [repr(v) for v in g.lab])
    return ["result.json", "spectra.csv", "lab.csv"] + written


def main(argv: Optional[List[str]] = None) -> int:
    args = _parser().parse_args(argv)
    try:
        with Client(args.host, args.port, timeout=args.timeout) as c:
            _open_session(c, args)
            if args.command == "jobs":
                _print_jobs(c)
            else:
                files = write_measurement(c.measure(args.name), args.name, args.out)
                print(f"wrote {', '.join(files)} to {args.out}")
        return 0
    except VantorelError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    except (ProtocolError, OSError) as e:
        print(f"error: {e}", file=sys.stderr)
        return 3
