"""Exact bytes on the wire and the client's handling of broken answers; these
need the fake driver, which records requests and can misbehave on demand."""

import struct
import threading
import time
import unittest

import vantorel
from vantorel import ProtocolError, VantorelError, error_text
from tests import fake_driver
from tests.fake_driver import IMAGE_GEOMETRIES, Hangup, frame
from tests.harness import FakeDriverTestCase

JOB_INFO_J1 = bytes.fromhex("00000000 01000000 020000004A31 01000000 05000000 01")
LOG_OK = bytes.fromhex("00000000 03000000 6F6B00")


def header(size, type_id):
    return struct.pack("<IIQ", size, 0, type_id)


class RequestBytesTest(FakeDriverTestCase):
    fake_options = {}

    def test_every_request_is_framed_byte_exact(self):
        c = self.client()
        c.connect_usb(5000)
        c.connect_network("10.1.2.3", timeout_ms=0xFFFFFFFF)
        c.connect_network(b"\x01\x02\x03\x04", timeout_ms=7)
        c.jobs()
        c.add_job("J1", "Mk", 5)
        c.run_job("J1")
        c.sample("J1", 3)
        c.delete_job("")
        c.send_message("hi")
        c.cancel()
        c.log()
        c.terminate()
        expected = [
            (1, bytes.fromhex("00000000 88130000")),
            (7, bytes.fromhex("0A010203 FFFFFFFF")),
            (7, bytes.fromhex("01020304 07000000")),
            (2, bytes(3)),
            (8, bytes.fromhex("020000004A31 020000004D6B 05000000")),
            (9, bytes.fromhex("02000000 4A31")),
            (6, bytes.fromhex("02000000 4A31 03000000")),
            (4, bytes(4)),
            (11, bytes.fromhex("02000000 68000000 69000000")),
            (10, b"\0"),
            (12, b"\0"),
            (3, b"\0"),
        ]
        self.assertEqual(self.fake.requests, expected)
        # Headers: size, 4 zero bytes, type zero-extended to 64 bits.
        sent = [data for direction, data in self.fake.stream if direction == "c2s"]
        self.assertEqual(sent[5], header(6, 9) + bytes.fromhex("020000004A31"))

    def test_bad_arguments_are_refused_before_sending(self):
        c = self.client()
        for call in (lambda: c.connect_usb(-1), lambda: c.connect_usb(2**32),
                     lambda: c.connect_network("10.0.0", 5), lambda: c.connect_network(b"abc", 5),
                     lambda: c.sample("J", 2**31), lambda: c.send_message("\ud800")):
            with self.assertRaises((ValueError, UnicodeError)):
                call()
        self.assertEqual(self.fake.requests, [])
        self.assertFalse(c.closed)


class AnswerDecodingTest(FakeDriverTestCase):
    fake_options = {}

    def answer(self, type_id, payload):
        self.fake.overrides[type_id] = lambda body: payload

    def test_reference_answers(self):
        self.answer(2, frame(2, JOB_INFO_J1))
        self.answer(12, frame(12, LOG_OK))
        self.answer(1, frame(1, bytes.fromhex("9F860100")))
        c = self.client()
        self.assertEqual(c.jobs(), [vantorel.Job("J1", vantorel.JobState.MEASURING, 5, True)])
        self.assertEqual(c.log(), "ok")
        e = self.assert_code(99999, c.connect_usb, 5000)
        self.assertEqual(e.text, error_text(99999))

    def test_odd_but_valid_answers(self):
        jobs = fake_driver.job_info_body(0, [(b"\xff\xfeX", 9, -1, False), (b"", 2, 0, True)])
        self.answer(2, frame(2, jobs))
        self.answer(12, frame(12, struct.pack("<II", 0, 1) + b"\0"))  # empty log
        self.answer(9, frame(9, struct.pack("<i", -5)))
        self.answer(4, frame(4, bytes(4)))
        # Out of wire order, a repeated geometry (first wins), an image whose
        # geometry has no spectral entry, a non-zero index.
        m = fake_driver.measurement_body(
            0,
            [(10, 4, 10, [1.0] * 31, (1, 2, 3)), (0, 1, 0, [0.5] * 31, (4, 5, 6)),
             (10, 9, 10, [9.0] * 31, (9, 9, 9))],
            [(5, b"EXR!", b"", (0.0,) * 7)],
        )
        self.answer(6, frame(6, m))
        c = self.client()
        odd, empty_name = c.jobs()
        self.assertEqual((odd.state, odd.sample_count, odd.valid), (9, -1, False))
        self.assertEqual(odd.name.encode("utf-8", "surrogateescape"), b"\xff\xfeX")
        c.delete_job(odd.name)  # the name travels back as its original bytes
        self.assertEqual(self.fake.requests[-1][1], b"\x03\0\0\0\xff\xfeX")
        self.assertEqual(empty_name.state, vantorel.JobState.MEASURED)
        self.assertEqual(c.log(), "")
        e = self.assert_code(-5, c.run_job, "J")
        self.assertEqual(e.text, "device error -5")
        got = c.sample("J", 0)
        self.assertEqual([g.name for g in got], ["r15as-45", "r45as-15", "r45as110"])
        r45as110 = got.geometry("r45as110")
        self.assertEqual((r45as110.index, r45as110.lab, r45as110.spectrum[0]), (4, (1, 2, 3), 1.0))
        only_image = got.geometry("r45as-15")
        self.assertEqual((only_image.spectrum, only_image.exr), (None, b"EXR!"))
        self.assertIsNone(got.geometry("r15as-45").exr)

    def test_answer_of_twenty_megabytes(self):
        self.fake.image_bytes = 20_000_000 // len(IMAGE_GEOMETRIES) + 1
        c = self.client()
        c.connect_usb(5000)
        c.add_job("big", "M", 1)
        c.run_job("big")
        got = c.measure("big")
        sizes = [len(g.exr) for g in got if g.exr is not None]
        self.assertEqual(len(sizes), len(IMAGE_GEOMETRIES))
        self.assertGreater(sum(sizes), 20_000_000)
        for g in got:
            if g.exr is not None:
                expected = fake_driver.canned_exr(b"big", 0, g.angle, self.fake.image_bytes)
                self.assertEqual(g.exr, expected, g.name)
        self.assertEqual(c.jobs()[0].name, "big")  # the stream is still in step


class BrokenAnswerTest(FakeDriverTestCase):
    """Every broken answer raises ProtocolError quickly and closes the client."""

    fake_options = {}

    def expect_protocol_error(self, type_id, payload, call, needle):
        self.fake.overrides[type_id] = payload if callable(payload) else (lambda body: payload)
        c = self.client(timeout=2.0)
        started = time.monotonic()
        try:
            with self.assertRaises(ProtocolError) as ctx:
                call(c)
            self.assertTrue(c.closed, "a protocol error must close the client")
        finally:
            c.close()  # the fake serves one client at a time
        self.assertLess(time.monotonic() - started, 1.5, "must not wait for the time-out")
        self.assertIn(needle, str(ctx.exception))
        with self.assertRaises(ProtocolError):
            c.log()
        return ctx.exception

    def test_framing_faults(self):
        cases = [
            ("answer under a foreign id", 2, frame(5, JOB_INFO_J1), "under type id 5"),
            ("connect answered under 7", 7, frame(7, bytes(4)), "expected 1"),
            ("no answer at all", 2, None, "closed after 0 of 16"),
            ("header cut short", 2, Hangup(header(100, 2)[:9]), "closed after 9 of 16"),
            ("body cut short", 2, Hangup(header(100, 2) + bytes(10)), "closed after 10 of 100"),
            ("oversized announcement", 2, header(0xFFFFFFFF, 2), "more than"),
        ]
        calls = {2: lambda c: c.jobs(), 7: lambda c: c.connect_network("1.2.3.4", 5)}
        for what, type_id, payload, needle in cases:
            with self.subTest(what):
                self.fake.overrides.clear()
                self.expect_protocol_error(type_id, payload, calls[type_id], needle)

    def test_malformed_bodies(self):
        m = fake_driver.measurement_body
        one_meas = m(0, [(0, 0, 0, [0.0] * 31, (0, 0, 0))], [])
        cases = [
            ("result of 8 bytes", 9, frame(9, bytes(8)), lambda c: c.run_job("J"), "expected 4"),
            ("result of 0 bytes", 10, frame(10, b""), lambda c: c.cancel(), "expected 4"),
            ("job count beyond body", 2, frame(2, JOB_INFO_J1[:4] + b"\x02" + JOB_INFO_J1[5:]),
             lambda c: c.jobs(), "job count 2"),
            ("job name beyond body", 2, frame(2, JOB_INFO_J1[:8] + b"\x40" + JOB_INFO_J1[9:]),
             lambda c: c.jobs(), "job 0 name"),
            ("trailing bytes", 2, frame(2, JOB_INFO_J1 + b"\0"), lambda c: c.jobs(), "unexpected bytes"),
            ("huge measurement count", 5, frame(5, struct.pack("<iI", 0, 0xFFFFFFFF)),
             lambda c: c.measure("J"), "measurement count"),
            ("image map missing", 5, frame(5, one_meas[:-4]), lambda c: c.measure("J"), "image count"),
            ("unknown geometry", 6, frame(6, m(0, [(11, 0, 11, [0.0] * 31, (0, 0, 0))], [])),
             lambda c: c.sample("J", 0), "unknown geometry 11"),
            ("exr beyond body", 6, frame(6, struct.pack("<iIIiI", 0, 0, 1, 2, 1000) + bytes(60)),
             lambda c: c.sample("J", 0), "image 0 exr"),
            ("log without zero", 12, frame(12, struct.pack("<II", 0, 2) + b"ok"),
             lambda c: c.log(), "zero byte"),
            ("empty log string", 12, frame(12, bytes(8)), lambda c: c.log(), "zero byte"),
        ]
        for what, type_id, payload, call, needle in cases:
            with self.subTest(what):
                self.fake.overrides.clear()
                self.expect_protocol_error(type_id, payload, call, needle)

    def test_silent_driver_times_out(self):
        release = threading.Event()
        self.addCleanup(release.set)
        self.fake.overrides[2] = lambda body: release.wait(5) and None
        c = self.client(timeout=0.3)
        with self.assertRaises(ProtocolError) as ctx:
            c.jobs()
        self.assertIn("within 0.3 s", str(ctx.exception))
        self.assertTrue(c.closed)

    def test_terminate_answered_is_an_error(self):
        self.fake.overrides[3] = lambda body: frame(3, bytes(4))
        c = self.client(timeout=2.0)
        with self.assertRaises(ProtocolError):
            c.terminate()
        self.assertTrue(c.closed)


class ErrorTextTest(unittest.TestCase):
    def test_texts(self):
        self.assertEqual(error_text(1002), "job not found")
        self.assertEqual(error_text(3005), "instrument busy: a job is measuring")
        self.assertEqual(error_text(42), "device error 42")
        e = VantorelError(3004, "MsgGetSample")
        self.assertEqual((e.code, str(e)),
                         (3004, "MsgGetSample: sample not measured (or index out of range) (code 3004)"))


if __name__ == "__main__":
    unittest.main()
