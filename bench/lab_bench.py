"""What the lab service costs over talking to the driver directly.

    ip netns exec NS /usr/bin/python3 bench/lab_bench.py [--rounds 10]

Starts a driver (virtual instrument, VANTOREL_SIM_CONNECT_MS=50,
VANTOREL_SIM_SAMPLE_MS=20) and a lab through the lab harness; the driver binds
port 8889, so run it in a network namespace of its own. Alternates, ROUNDS
times each, and prints medians and ratios of:
  - a 3-sample measurement through the service (POST run, the SSE job event
    "measured", GET measurement) against vantorelctl (run --wait, measure);
  - a job list through the service against one straight to the driver (the
    Python client: connect, jobs, close);
  - the delay from the driver reporting the job measured (polled straight at
    the driver) to the service's SSE "measured" event.
"""

from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "service"))
sys.path.insert(0, str(REPO / "python"))

import vantorel  # noqa: E402
from lab_harness import BUILD, LabProcesses  # noqa: E402
from test_api import Events  # noqa: E402

JOB = "bench 3"


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def direct_jobs():
    """One job list straight from the driver; retries while the driver serves the lab."""
    deadline = time.monotonic() + 10
    while True:
        try:
            with vantorel.Client(timeout=5) as c:
                return c.jobs()
        except vantorel.DriverUnreachableError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.005)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=10)
    args = ap.parse_args(argv)
    ctl = str(BUILD / "bin" / "vantorelctl")
    with LabProcesses() as lab:
        lab.connect()
        lab.api("POST", "/api/instruments/local/jobs", {"name": JOB, "samples": 3, "replace": True}, expect=201)
        events = Events(lab, {"Authorization": f"Bearer {lab.token}"})
        path = f"/api/instruments/local/jobs/{JOB.replace(' ', '%20')}"

        def run():
            """Starts the job; its own "measuring" event comes before its "measured" one, so a
            "measured" event the service sent for a vantorelctl run is passed over."""
            lab.api("POST", path + "/run", expect=202)
            events.wait("job", job=JOB, state="measuring")

        def service_measure():
            run()
            events.wait("job", job=JOB, state="measured")
            lab.api("GET", path + "/measurement")

        ctl_env = dict(os.environ, VANTOREL_DB=str(lab.tmp / "ctl.db"))  # it records too, as the service does

        def ctl_measure():
            for cmd in (["run", JOB, "--wait"], ["measure", JOB]):
                subprocess.run([ctl, *cmd], check=True, env=ctl_env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)

        def delay():
            """Seconds from the driver's measured state (as a direct poll sees it) to the event."""
            lab.api("POST", path + "/run", expect=202)  # polled at once; the events are kept with their times
            while True:
                if {j.name: j.state for j in direct_jobs()}[JOB] == vantorel.JobState.MEASURED:
                    seen = time.monotonic()
                    break
            events.wait("job", job=JOB, state="measuring")
            _, _, at = events.wait("job", job=JOB, state="measured")
            lab.api("GET", path + "/measurement")
            return at - seen

        figures = {k: [] for k in ("service measure", "vantorelctl measure", "service jobs", "driver jobs", "event delay")}
        service_measure()  # warms both paths once
        ctl_measure()
        for _ in range(args.rounds):
            figures["service measure"].append(timed(service_measure))
            figures["vantorelctl measure"].append(timed(ctl_measure))
            figures["service jobs"].append(timed(lambda: lab.api("GET", "/api/instruments/local/jobs")))
            figures["driver jobs"].append(timed(direct_jobs))
        for _ in range(args.rounds):
            figures["event delay"].append(delay())
        events.close()

    med = {k: statistics.median(v) * 1e3 for k, v in figures.items()}
    print(f"medians of {args.rounds}, milliseconds:")
    for k, v in med.items():
        spread = f"{min(figures[k]) * 1e3:.1f}..{max(figures[k]) * 1e3:.1f}"
        print(f"  {k:22} {v:8.1f}   ({spread})")
    print(f"service / vantorelctl measurement: {med['service measure'] / med['vantorelctl measure']:.2f}")
    print(f"service / driver job list:         {med['service jobs'] / med['driver jobs']:.2f}")
    print(f"measured -> SSE event:             {med['event delay']:.1f} ms (lab --poll-ms default 250)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
