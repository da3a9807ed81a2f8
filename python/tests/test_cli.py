"""`python -m vantorel` against a driver (fake, or real with VANTOREL_DRIVER)."""

import contextlib
import csv
import io
import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

import vantorel
from vantorel import GEOMETRY_NAMES, cli
from tests.harness import REAL_DRIVER, DriverTestCase

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")
VANTORELCTL = os.path.join(os.path.dirname(REAL_DRIVER or ""), "vantorelctl")


def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


class CommandLineTest(DriverTestCase):
    def run_cli(self, *args):
        # The driver serves one client at a time: a run that finds it between
        # two clients (or still starting) is refused and tried again.
        deadline = time.monotonic() + 10.0
        while True:
            out, err = io.StringIO(), io.StringIO()
            with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
                status = cli.main(["--port", str(self.port), *args])
            refused = status == 3 and "refused" in err.getvalue()
            if not refused or "--no-connect" in args or time.monotonic() > deadline:
                return status, out.getvalue(), err.getvalue()
            time.sleep(0.05)

    def measured_job(self, name="Panel 7", samples=3):
        c = self.client()
        c.connect_usb(5000)
        c.add_job(name, "Make", samples)
        c.run_job(name)
        self.wait_measured(c, name)
        samples = [c.sample(name, i) for i in range(samples)]
        c.close()
        return samples

    def test_jobs_and_measure_write_the_result_folder(self):
        samples = self.measured_job()
        status, out, _ = self.run_cli("jobs")
        self.assertEqual(status, 0)
        self.assertIn("Panel 7\tmeasured\t3 samples", out)

        with tempfile.TemporaryDirectory() as tmp:
            out_dir = os.path.join(tmp, "new", "dir")
            status, out, err = self.run_cli("measure", "Panel 7", "--out", out_dir)
            self.assertEqual(status, 0, err)
            self.assertRegex(out, r"^wrote \d+ files to .* \(mean of 3 samples\)\n$")
            self.assertEqual(os.listdir(os.path.dirname(out_dir)), ["dir"])  # no staging left
            doc = json.loads(read(os.path.join(out_dir, "result.json")))
            self.assertEqual((doc["format"], doc["version"], doc["writer"]),
                             ("vantorel-result", 2, "vantorel-python"))
            self.assertEqual((doc["job"], doc["result"], doc["sample"], doc["sampleCount"]),
                             ("Panel 7", 0, None, 3))
            self.assertEqual([g["name"] for g in doc["geometries"]], list(GEOMETRY_NAMES))
            first = doc["geometries"][0]
            self.assertEqual((first["incidenceDeg"], first["aspecularDeg"]), (15, -45))
            ls = [s.geometry("r15as-45").lab.L for s in samples]
            self.assertAlmostEqual(first["range"]["L"], max(ls) - min(ls), places=5)
            self.assertGreaterEqual(first["stdev"]["L"], 0.0)

            spectra = list(csv.reader(io.StringIO(read(os.path.join(out_dir, "spectra.csv")))))
            self.assertEqual((spectra[0][1], spectra[0][-1], len(spectra)), ("400", "700", 12))
            self.assertTrue(all(len(r) == 32 for r in spectra))
            for have, want in zip(spectra[1][1:], first["reflectance"]):
                self.assertAlmostEqual(float(have), want, places=6)
            lab = list(csv.reader(io.StringIO(read(os.path.join(out_dir, "lab.csv")))))
            self.assertEqual(lab[0], ["geometry", "L", "a", "b", "samples", "stdev_L", "stdev_a",
                                      "stdev_b", "range_L", "range_a", "range_b"])
            self.assertEqual(lab[1][4], "3")
            self.assertAlmostEqual(float(lab[1][5]), first["stdev"]["L"], places=4)
            for g in doc["geometries"]:
                exr = os.path.join(out_dir, "images", g["name"] + ".exr")
                self.assertEqual(os.path.exists(exr), g["texture"] is not None, g["name"])

    def test_out_refuses_what_it_did_not_write_and_replaces_its_own_only_with_force(self):
        self.measured_job(samples=1)
        with tempfile.TemporaryDirectory() as tmp:
            own = os.path.join(tmp, "own")
            self.assertEqual(self.run_cli("measure", "Panel 7", "--out", own)[0], 0)
            ctl = os.path.join(tmp, "ctl")
            os.makedirs(ctl)
            with open(os.path.join(ctl, "result.json"), "w") as f:
                json.dump({"format": "vantorel-result", "version": 2, "writer": "vantorelctl"}, f)
            other = os.path.join(tmp, "other")
            os.makedirs(other)
            open(os.path.join(other, "notes.txt"), "w").close()
            plain = os.path.join(tmp, "plain")
            open(plain, "w").close()
            empty = os.path.join(tmp, "empty")
            os.makedirs(empty)
            cases = [  # target, --force, exit status, message
                (own, False, 4, "already exists (--force replaces"),
                (own, True, 0, ""),
                (ctl, True, 4, "is not a result folder written by python -m vantorel"),
                (other, True, 4, "is not a result folder"),
                (plain, True, 4, "is not a result folder"),
                (empty, True, 0, ""),
            ]
            for target, force, want, message in cases:
                with self.subTest(target=os.path.basename(target), force=force):
                    before = sorted(os.listdir(target)) if os.path.isdir(target) else None
                    args = ["measure", "Panel 7", "--out", target] + (["--force"] if force else [])
                    status, _, err = self.run_cli(*args)
                    self.assertEqual(status, want, err)
                    self.assertIn(message, err)
                    if want != 0:
                        self.assertEqual(err.count("\n"), 1, err)
                        after = sorted(os.listdir(target)) if os.path.isdir(target) else None
                        self.assertEqual(after, before, "a refused target is left as it was")
                    else:
                        self.assertIn("result.json", os.listdir(target))
            self.assertEqual(sorted(os.listdir(tmp)), ["ctl", "empty", "other", "own", "plain"])

    def test_failures_give_exit_codes_and_one_line(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            free_port = s.getsockname()[1]  # nothing listens there once closed
        cases = [  # arguments, exit status, text on standard error
            (["measure", "missing", "--out", tempfile.gettempdir()], 4, "already exists"),
            (["measure", "missing", "--out", os.path.join(tempfile.gettempdir(), "nope-x")], 1,
             "job not found (code 1002)"),
            (["--no-connect", "--port", str(free_port), "jobs"], 3,
             f"error: cannot reach the driver at 127.0.0.1:{free_port}: connection refused "
             "(the driver is not running, or is serving another client)\n"),
        ]
        for args, want, text in cases:
            with self.subTest(args=args):
                status, _, err = self.run_cli(*args)
                self.assertEqual(status, want, err)
                self.assertIn(text, err)
                self.assertEqual(err.count("\n"), 1, err)

    def test_version_is_the_projects_one(self):
        cmake = read(os.path.join(ROOT, "CMakeLists.txt"))
        version = re.search(r"project\(\s*vantorel\s+VERSION\s+([0-9.]+)", cmake).group(1)
        self.assertEqual(vantorel.__version__, version)
        self.assertIn('version = {attr = "vantorel.__version__"}',
                      read(os.path.join(ROOT, "python", "pyproject.toml")))
        out = io.StringIO()
        with contextlib.redirect_stdout(out), self.assertRaises(SystemExit) as done:
            cli.main(["--version"])
        self.assertEqual((done.exception.code, out.getvalue()), (0, f"vantorel {version}\n"))

    @unittest.skipUnless(REAL_DRIVER and os.access(VANTORELCTL, os.X_OK) and
                         not REAL_DRIVER.endswith(".exe"), "needs the real driver and vantorelctl")
    def test_the_folder_holds_what_vantorelctls_holds(self):
        self.measured_job()
        with tempfile.TemporaryDirectory() as tmp:
            py, ctl = os.path.join(tmp, "py"), os.path.join(tmp, "ctl")
            self.assertEqual(self.run_cli("--no-connect", "measure", "Panel 7", "--out", py)[0], 0)
            deadline = time.monotonic() + 10.0
            while True:
                run = subprocess.run([VANTORELCTL, "measure", "Panel 7", "--out", ctl],
                                     capture_output=True, text=True)
                if run.returncode != 3 or time.monotonic() > deadline:
                    break
                time.sleep(0.05)
            self.assertEqual(run.returncode, 0, run.stderr)
            docs = [json.loads(read(os.path.join(d, "result.json"))) for d in (py, ctl)]
            for doc in docs:
                del doc["created"], doc["writer"]
            self.assertEqual(docs[0], docs[1])
            for name in ["spectra.csv", "lab.csv"] + [
                    "images/" + f for f in os.listdir(os.path.join(ctl, "images")) if f.endswith(".exr")]:
                with open(os.path.join(py, name), "rb") as a, open(os.path.join(ctl, name), "rb") as b:
                    self.assertEqual(a.read(), b.read(), name)


class UnreachableDriverTest(unittest.TestCase):
    def test_client_raises_its_own_error_naming_the_address(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        with self.assertRaises(vantorel.DriverUnreachableError) as ctx:
            vantorel.Client(port=port, timeout=1)
        self.assertIsInstance(ctx.exception, vantorel.ProtocolError)
        self.assertEqual((ctx.exception.host, ctx.exception.port), ("127.0.0.1", port))
        self.assertIn("not running, or is serving another client", str(ctx.exception))
