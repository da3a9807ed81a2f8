"""The Wireshark dissector against a recorded session: a real client talking
to the fake driver, plus hand-made broken frames, written as a pcap whose
frames are split across TCP segments. Skipped when tshark is missing."""

import os
import shutil
import struct
import subprocess
import tempfile
import unittest

import vantorel
from tests import fake_driver, pcap
from tests.fake_driver import IMAGE_GEOMETRIES, FakeDriver, frame

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tools", "wireshark", "vantorel.lua")
TSHARK = shutil.which("tshark")
IMAGE_BYTES = 30_000

FIELDS = [
    "frame.number", "vantorel.direction", "vantorel.message", "vantorel.result",
    "vantorel.name", "vantorel.job.name", "vantorel.job.state", "vantorel.geometry",
    "vantorel.image.exr_size", "vantorel.timeout_ms", "vantorel.address", "vantorel.text",
    "vantorel.log", "vantorel.sample_index", "_ws.expert.message",
]


def record_session() -> list:
    fake = FakeDriver(image_bytes=IMAGE_BYTES)
    try:
        with vantorel.Client(port=fake.port) as c:
            try:
                c.jobs()
            except vantorel.VantorelError:
                pass
            c.connect_usb(5000)
            c.connect_network("10.1.2.3", 0xFFFFFFFF)
            c.add_job("J1", "Mk", 2)
            c.run_job("J1")
            c.jobs()
            c.sample("J1", 1)
            c.send_message("Grüße")
            c.log()
            c.terminate()
        return list(fake.stream)
    finally:
        fake.stop()


def broken_frames() -> list:
    jobs = fake_driver.job_info_body(0, [(b"J1", 1, 5, True)])
    return [
        # Two requests in one segment, then answers whose bodies lie.
        ("c2s", frame(2, bytes(3)) + frame(9, fake_driver.narrow(b"J2"))),
        ("s2c", frame(2, jobs[:4] + struct.pack("<I", 7) + jobs[8:])),  # 7 jobs, 1 present
        ("s2c", frame(9, bytes(8))),  # a result code of 8 bytes
        ("c2s", frame(12, b"\0")),
        ("s2c", frame(12, struct.pack("<II", 0, 2) + b"ok")),  # no terminating zero
        ("c2s", frame(13, b"\0")),  # no such message
    ]


@unittest.skipUnless(TSHARK, "tshark is not installed")
class DissectorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        path = os.path.join(cls.tmp.name, "session.pcap")
        # 7-byte first segments cut every header in two.
        pcap.write(path, record_session() + broken_frames(), segment_sizes=(7, 1460))
        run = subprocess.run(
            [TSHARK, "-X", f"lua_script:{SCRIPT}", "-r", path, "-Y", "vantorel",
             "-T", "fields", "-E", "occurrence=a", "-E", "aggregator=|"]
            + [arg for field in FIELDS for arg in ("-e", field)],
            capture_output=True, text=True, timeout=120,
        )
        cls.stderr = run.stderr
        if run.returncode != 0:
            raise AssertionError(f"tshark failed: {run.stderr}")
        cls.rows = []
        for line in run.stdout.splitlines():
            values = line.split("\t")
            cls.rows.append({f: values[i] if i < len(values) else "" for i, f in enumerate(FIELDS)})
        cls.tmp_path = path

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def row(self, message, nth=0):
        rows = [r for r in self.rows if message in r["vantorel.message"].split("|")]
        self.assertGreater(len(rows), nth, f"{message} not decoded")
        return rows[nth]

    def test_script_loads_without_lua_errors(self):
        self.assertNotIn("Lua", self.stderr)

    def test_every_frame_is_found_and_named(self):
        messages = []
        for r in self.rows:
            messages += r["vantorel.message"].split("|")
        self.assertEqual(messages, [
            "MsgGetJobs", "MsgAnswerJobInfo", "MsgUsbConnect", "Connect result",
            "MsgNetworkConnect", "Connect result", "MsgAddJob", "AddJob result",
            "MsgDoJob", "DoJob result", "MsgGetJobs", "MsgAnswerJobInfo",
            "MsgGetSample", "MsgAnswerGetSample", "MsgUserMessage", "UserMessage result",
            "MsgGetLog", "MsgAnswerGetLog", "MsgTerminate",
            "MsgGetJobs", "MsgDoJob", "MsgAnswerJobInfo", "DoJob result",
            "MsgGetLog", "MsgAnswerGetLog", "type 13",
        ])
        directions = {r["vantorel.direction"] for r in self.rows if "Connect result" in r["vantorel.message"]}
        self.assertEqual(directions, {"answer"})

    def test_request_fields(self):
        self.assertEqual(self.row("MsgUsbConnect")["vantorel.timeout_ms"], "5000")
        net = self.row("MsgNetworkConnect")
        self.assertEqual((net["vantorel.address"], net["vantorel.timeout_ms"]), ("10.1.2.3", "4294967295"))
        self.assertEqual(self.row("MsgAddJob")["vantorel.name"], "J1")
        sample = self.row("MsgGetSample")
        self.assertEqual((sample["vantorel.name"], sample["vantorel.sample_index"]), ("J1", "1"))
        self.assertEqual(self.row("MsgUserMessage")["vantorel.text"], "Grüße")

    def test_answer_fields(self):
        self.assertEqual(self.row("MsgAnswerJobInfo", 0)["vantorel.result"], "99999")
        listed = self.row("MsgAnswerJobInfo", 1)
        self.assertEqual((listed["vantorel.job.name"], listed["vantorel.job.state"]), ("J1", "2"))
        got = self.row("MsgAnswerGetSample")  # reassembled from about 130 segments
        self.assertEqual(got["vantorel.result"], "0")
        self.assertEqual(got["vantorel.geometry"].split("|"),
                         [str(k) for k in range(11)] + [str(k) for k in IMAGE_GEOMETRIES])
        self.assertEqual(got["vantorel.image.exr_size"].split("|"), [str(IMAGE_BYTES)] * 6)
        self.assertEqual(got["_ws.expert.message"], "")
        self.assertIn("user message: Grüße", self.row("MsgAnswerGetLog")["vantorel.log"])

    def test_broken_frames_are_flagged(self):
        experts = [r["_ws.expert.message"] for r in self.rows]
        self.assertTrue(any("job count 7 needs at least" in e for e in experts), experts)
        self.assertIn("is 4 bytes raw, this body has 8", self.row("DoJob result", 1)["_ws.expert.message"])
        self.assertIn("does not end with a zero byte", self.row("MsgAnswerGetLog", 1)["_ws.expert.message"])
        self.assertIn("no message has type id 13", self.row("type 13")["_ws.expert.message"])

    def test_verbose_output_shows_spectra_and_image_sizes(self):
        run = subprocess.run(
            [TSHARK, "-X", f"lua_script:{SCRIPT}", "-r", self.tmp_path, "-V",
             "-Y", "vantorel.message == \"MsgAnswerGetSample\""],
            capture_output=True, text=True, timeout=120,
        )
        self.assertIn("Measurement r45as110: L*=", run.stdout)
        self.assertIn("700 nm: ", run.stdout)
        self.assertIn(f"Image r45as110: EXR {IMAGE_BYTES} bytes, second image 0 bytes", run.stdout)


if __name__ == "__main__":
    unittest.main()
