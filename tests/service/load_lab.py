"""Load on one vantorel-lab and one instrument: concurrent clients for a while,
then figures and a verdict (exit 0 when it passes, 1 when not, 2 on bad usage).

    load_lab.py [--clients 50] [--seconds 60] [--url URL --token TOKEN [--pid PID]]

Without --url it starts a driver with its virtual instrument and a lab (the
lab harness; the driver binds port 8889, so run it in a network namespace of
its own). Each client owns a job "load-N": it mixes reads (instruments, jobs,
records, standards, the document) with measurements (run, poll the job list
until measured, GET the measurement). Passes when every accepted run was
measured and recorded exactly once, no answer was a 5xx other than 502/504,
no request failed at the connection, and the lab's resident memory at the end
is at most 1.2 times its memory half way.
"""

from __future__ import annotations

import argparse
import collections
import http.client
import json
import os
import random
import statistics
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

READS = ["/api/instruments", "/api/instruments/{i}/jobs", "/api/records?limit=20", "/api/standards",
         "/api/openapi.json"]
POLL_S = 0.1
MEASURE_LIMIT_S = 60.0


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.status = collections.Counter()  # (kind, status)
        self.codes = collections.Counter()  # (kind, status, error code) of errors
        self.latency = collections.defaultdict(list)  # kind -> seconds
        self.errors = collections.Counter()  # kind -> connection failures
        self.runs = collections.Counter()  # job -> runs accepted
        self.measured = collections.defaultdict(list)  # job -> record ids fetched

    def add(self, kind, status, seconds, code=None):
        with self.lock:
            self.status[(kind, status)] += 1
            if code:
                self.codes[(kind, status, code)] += 1
            self.latency[kind].append(seconds)


class Client:
    def __init__(self, url, token, stats):
        u = urllib.parse.urlsplit(url)
        self.host, self.port, self.token, self.stats = u.hostname, u.port, token, stats

    def request(self, kind, method, path, body=None):
        """(status, JSON or None); status 0 when the connection failed."""
        headers = {"Connection": "close"}
        if self.token:
            headers["Authorization"] = f"Bearer {self.token}"
        data = None
        if body is not None:
            data = json.dumps(body).encode()
            headers["Content-Type"] = "application/json"
        start = time.monotonic()
        conn = http.client.HTTPConnection(self.host, self.port, timeout=90)
        try:
            conn.request(method, path, data, headers)
            res = conn.getresponse()
            raw = res.read()
            status = res.status
        except (OSError, http.client.HTTPException):
            with self.stats.lock:
                self.stats.errors[kind] += 1
            return 0, None
        finally:
            conn.close()
        elapsed = time.monotonic() - start
        try:
            body = json.loads(raw) if raw else None
        except ValueError:
            body = None
        code = body.get("error") if status >= 400 and isinstance(body, dict) else None
        self.stats.add(kind, status, elapsed, code)
        return status, body


def client_loop(n, url, token, instrument, deadline, stats):
    c = Client(url, token, stats)
    job = f"load-{n}"
    quoted = urllib.parse.quote(job, safe="")
    rng = random.Random(n)
    status, _ = c.request("add", "POST", f"/api/instruments/{instrument}/jobs",
                          {"name": job, "samples": 1 + n % 3, "make": "load", "replace": True})
    if status != 201:
        return
    while time.monotonic() < deadline:
        if rng.random() < 0.75:
            c.request("read", "GET", rng.choice(READS).format(i=instrument))
            continue
        status, _ = c.request("run", "POST", f"/api/instruments/{instrument}/jobs/{quoted}/run")
        if status != 202:
            time.sleep(rng.uniform(0.02, 0.2))  # the instrument measures another job
            continue
        with stats.lock:
            stats.runs[job] += 1
        limit = time.monotonic() + MEASURE_LIMIT_S
        while time.monotonic() < limit:
            status, listing = c.request("poll", "GET", f"/api/instruments/{instrument}/jobs")
            jobs = {j["name"]: j["state"] for j in (listing or {}).get("jobs", [])} if status == 200 else {}
            if jobs.get(job) == "measured":
                break
            time.sleep(POLL_S)
        status, m = c.request("measurement", "GET", f"/api/instruments/{instrument}/jobs/{quoted}/measurement")
        if status == 200 and m:
            with stats.lock:
                stats.measured[job].append(m["record"])


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))] if values else float("nan")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--clients", type=int, default=50)
    ap.add_argument("--seconds", type=float, default=60.0)
    ap.add_argument("--url", help="a running lab (default: start a driver and a lab here)")
    ap.add_argument("--token", default=os.environ.get("VANTOREL_LAB_TOKEN"), help="an operator or admin token for --url")
    ap.add_argument("--pid", type=int, help="the lab's process id with --url, for its memory")
    ap.add_argument("--instrument", default="local")
    args = ap.parse_args(argv)
    if args.clients < 1 or args.seconds <= 0:
        ap.error("--clients and --seconds must be positive")

    lab = None
    if args.url:
        url, token, pid = args.url.rstrip("/"), args.token, args.pid
    else:
        from lab_harness import ADMIN_TOKEN, LabProcesses

        lab = LabProcesses().start()
        lab.connect(args.instrument)
        url, token, pid = lab.base_url, ADMIN_TOKEN, lab.lab.pid
    try:
        return run(args, url, token, pid)
    finally:
        if lab:
            lab.stop()


def run(args, url, token, pid):
    stats = Stats()
    rss = {"start": rss_kib(pid) if pid else None}
    deadline = time.monotonic() + args.seconds
    threads = [threading.Thread(target=client_loop, args=(n, url, token, args.instrument, deadline, stats),
                                daemon=True) for n in range(args.clients)]
    began = time.monotonic()
    for t in threads:
        t.start()
    time.sleep(args.seconds / 2)
    rss["middle"] = rss_kib(pid) if pid else None
    for t in threads:
        t.join(args.seconds + MEASURE_LIMIT_S + 120)
    rss["end"] = rss_kib(pid) if pid else None
    elapsed = time.monotonic() - began

    failures = []
    if any(t.is_alive() for t in threads):
        failures.append("a client did not finish")
    check = Client(url, token, Stats())
    recorded = {}
    for job in sorted(set(stats.runs) | set(stats.measured)):
        status, body = check.request("check", "GET", f"/api/records?job={urllib.parse.quote(job)}&limit=1000")
        recorded[job] = [r["id"] for r in (body or {}).get("records", [])] if status == 200 else None
        runs, fetched = stats.runs[job], stats.measured[job]
        if recorded[job] is None:
            failures.append(f"{job}: records not readable ({status})")
        elif not (runs == len(fetched) == len(set(fetched)) == len(recorded[job])) or set(fetched) != set(recorded[job]):
            failures.append(f"{job}: {runs} runs accepted, {len(fetched)} measurements fetched "
                            f"({len(set(fetched))} distinct), {len(recorded[job])} records")

    total = sum(stats.status.values())
    print(f"{args.clients} clients, {elapsed:.1f} s, {total} answers ({total / elapsed:.0f}/s), "
          f"{sum(stats.errors.values())} connection failures {dict(stats.errors) or ''}")
    print("answers by status:", dict(sorted(collections.Counter(s for _, s in stats.status.elements()).items())))
    for (kind, status), count in sorted(stats.status.items()):
        codes = {c: n for (k, s, c), n in stats.codes.items() if (k, s) == (kind, status)}
        print(f"  {kind:12} {status}: {count} {codes or ''}")
    print(f"{'kind':12} {'count':>6} {'median ms':>10} {'p95 ms':>8} {'max ms':>8}")
    for kind, values in sorted(stats.latency.items()):
        print(f"{kind:12} {len(values):6} {statistics.median(values) * 1e3:10.1f} {pct(values, 95) * 1e3:8.1f} "
              f"{max(values) * 1e3:8.1f}")
    runs = sum(stats.runs.values())
    print(f"runs accepted {runs}, measurements fetched {sum(len(v) for v in stats.measured.values())}, "
          f"records {sum(len(v or []) for v in recorded.values())}, jobs {len(recorded)}")
    print("lab RSS KiB: " + ", ".join(f"{k} {v}" for k, v in rss.items()))

    bad = {s: c for (_, s), c in stats.status.items() if s >= 500 and s not in (502, 504)}
    if bad:
        failures.append(f"5xx answers other than 502/504: {bad}")
    if stats.errors:
        failures.append(f"connection failures: {dict(stats.errors)}")
    if runs == 0:
        failures.append("no run was accepted")
    if rss["middle"] and rss["end"] and rss["end"] > 1.2 * rss["middle"]:
        failures.append(f"memory grew: {rss['end']} KiB at the end, {rss['middle']} KiB half way")
    for f in failures[:20]:
        print("FAIL:", f)
    print("PASS" if not failures else f"FAILED ({len(failures)} problems)")
    return 0 if not failures else 1


if __name__ == "__main__":
    sys.exit(main())
