"""`python -m vantorel` against a driver (fake, or real with VANTOREL_DRIVER)."""

import contextlib
import csv
import io
import json
import os
import tempfile
import time

from vantorel import GEOMETRY_NAMES, cli
from tests.harness import DriverTestCase


class CommandLineTest(DriverTestCase):
    def run_cli(self, *args):
        # The driver serves one client at a time: a run that finds it between
        # two clients (or still starting) is refused and tried again.
        deadline = time.monotonic() + 10.0
        while True:
            out, err = io.StringIO(), io.StringIO()
            with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
                status = cli.main(["--port", str(self.port), *args])
            refused = status == 3 and ("refused" in err.getvalue() or "reset" in err.getvalue())
            if not refused or "--no-connect" in args or time.monotonic() > deadline:
                return status, out.getvalue(), err.getvalue()
            time.sleep(0.05)

    def test_jobs_and_measure_write_the_result_files(self):
        c = self.client()
        c.connect_usb(5000)
        c.add_job("Panel 7", "Make", 1)
        c.run_job("Panel 7")
        self.wait_measured(c, "Panel 7")
        c.close()

        status, out, _ = self.run_cli("jobs")
        self.assertEqual(status, 0)
        self.assertIn("Panel 7\tmeasured\t1 samples", out)

        with tempfile.TemporaryDirectory() as tmp:
            out_dir = os.path.join(tmp, "new", "dir")
            status, out, err = self.run_cli("measure", "Panel 7", "--out", out_dir)
            self.assertEqual(status, 0, err)
            with open(os.path.join(out_dir, "result.json"), encoding="utf-8") as f:
                doc = json.load(f)
            self.assertEqual((doc["job"], doc["result"]), ("Panel 7", 0))
            self.assertEqual([g["geometry"] for g in doc["geometries"]], list(GEOMETRY_NAMES))
            with open(os.path.join(out_dir, "spectra.csv"), newline="") as f:
                rows = list(csv.reader(f))
            self.assertEqual(rows[0][1], "400")
            self.assertEqual(rows[0][-1], "700")
            self.assertEqual(len(rows), 12)
            self.assertTrue(all(len(r) == 32 for r in rows))
            first = next(g for g in doc["geometries"] if g["geometry"] == rows[1][0])
            self.assertEqual([float(v) for v in rows[1][1:]], first["spectrum"])
            with open(os.path.join(out_dir, "lab.csv"), newline="") as f:
                lab = list(csv.reader(f))
            self.assertEqual(lab[0], ["geometry", "L", "a", "b"])
            self.assertEqual(float(lab[1][1]), first["lab"]["L"])
            for g in doc["geometries"]:
                if "exr" in g:
                    size = os.path.getsize(os.path.join(out_dir, g["exr"]))
                    self.assertEqual(size, g["exr_bytes"])

    def test_failures_give_exit_codes(self):
        status, _, err = self.run_cli("measure", "missing", "--out", tempfile.gettempdir())
        self.assertEqual(status, 1)
        self.assertIn("job not found (code 1002)", err)
        status, _, err = self.run_cli("--no-connect", "--port", "1", "jobs")
        self.assertEqual(status, 3)
