"""Client behaviour against a driver: the fake by default, the real process
when VANTOREL_DRIVER is set (see harness.py)."""

import math
import select
import socket
import threading
import time
import unittest

import vantorel
from vantorel import GEOMETRY_NAMES, WAVELENGTHS, JobState
from tests.harness import REAL_DRIVER, DriverTestCase

EXR_MAGIC = b"\x76\x2f\x31\x01"


class SessionTest(DriverTestCase):
    def test_requests_needing_a_session_answer_99999_before_connect(self):
        c = self.client()
        self.assert_code(99999, c.jobs)
        self.assert_code(99999, c.add_job, "J1", "Make", 2)
        self.assert_code(99999, c.delete_job, "J1")
        self.assert_code(99999, c.measure, "J1")
        e = self.assert_code(99999, c.sample, "J1", 0)
        self.assertIn("connect to the instrument first", str(e))
        self.assertFalse(c.closed, "a result code must leave the connection usable")

    def test_connect_timeout_then_success_and_network_answer_under_id_1(self):
        c = self.client()
        # The instrument needs 50 ms: a zero wait cannot see it connected.
        self.assert_code(99999, c.connect_usb, 0)
        self.assert_code(99999, c.jobs)
        c.connect_usb(timeout_ms=5000)
        self.assertEqual(c.jobs(), [])
        try:
            c.connect_network("127.0.0.1", timeout_ms=5000)
        except vantorel.VantorelError as e:
            if not REAL_DRIVER:
                raise
            self.assertEqual(e.code, 3003)  # the instrument's choice, not the wire's

    def test_session_outlives_the_client(self):
        with self.client() as c:
            c.connect_usb(5000)
            c.add_job("kept", "M", 1)
        self.assertEqual([j.name for j in self.client().jobs()], ["kept"])


class JobTest(DriverTestCase):
    def setUp(self):
        super().setUp()
        self.c = self.client()
        self.c.connect_usb(5000)

    def test_add_replace_delete(self):
        c = self.c
        c.add_job("J1", "Make A", 3)
        c.add_job("Zweite Kärtchen", "Marke ß", 1)
        jobs = c.jobs()
        self.assertEqual([j.name for j in jobs], ["J1", "Zweite Kärtchen"])
        self.assertEqual((jobs[0].state, jobs[0].sample_count, jobs[0].valid),
                         (JobState.STORED, 3, True))
        c.add_job("J1", "Make B", 2)  # same name replaces
        self.assertEqual({j.name: j.sample_count for j in c.jobs()},
                         {"J1": 2, "Zweite Kärtchen": 1})
        c.delete_job("J1")
        c.delete_job("never stored")  # answered 0 as well
        self.assertEqual([j.name for j in c.jobs()], ["Zweite Kärtchen"])

    def test_job_errors(self):
        self.assert_code(1003, self.c.add_job, b"J\xff", "Make", 1)
        self.assert_code(1003, self.c.add_job, "J", b"\xc3", 1)
        self.assert_code(3002, self.c.run_job, "missing")
        self.assert_code(1002, self.c.measure, "missing")
        self.assert_code(1002, self.c.sample, "missing", 0)
        with self.assertRaises(ValueError):
            self.c.add_job("J", "M", -1)  # refused before anything is sent
        self.assertEqual(self.c.jobs(), [])

    def test_running_job_blocks_a_second_and_cancel_stops_it(self):
        c = self.c
        c.add_job("long", "M", 200)  # 200 samples of 20 ms: 4 s measuring
        c.add_job("short", "M", 1)
        c.run_job("long")
        self.assertEqual({j.name: j.state for j in c.jobs()}["long"], JobState.MEASURING)
        self.assert_code(3005, c.run_job, "short")
        c.cancel()
        self.assertNotEqual({j.name: j.state for j in c.jobs()}["long"], JobState.MEASURING)
        c.run_job("short")
        self.wait_measured(c, "short")


class MeasurementTest(DriverTestCase):
    def setUp(self):
        super().setUp()
        self.c = self.client()
        self.c.connect_usb(5000)
        self.c.add_job("J1", "Make", 2)

    def check_spectral(self, m):
        self.assertEqual(m.result, 0)
        self.assertEqual([g.name for g in m], list(GEOMETRY_NAMES))
        self.assertEqual([g.angle for g in m], list(range(11)))
        for g in m:
            self.assertEqual(len(g.spectrum), 31)
            self.assertEqual(g.wavelengths, WAVELENGTHS)
            self.assertTrue(all(math.isfinite(v) for v in g.spectrum))
            # Near the specular direction effect paints reflect more than the
            # white standard (L* above 100); the instrument caps factors at 3.
            self.assertTrue(0.0 <= g.lab.L <= 152.0, g.lab)
            self.assertGreaterEqual(g.index, 0)
        images = [g for g in m if g.exr is not None]
        self.assertTrue(images, "some geometries carry images")
        for g in images:
            self.assertEqual(bytes(g.exr[:4]), EXR_MAGIC)
            self.assertEqual(len(g.texture), 7)
        return images

    def test_unmeasured_sample_is_refused(self):
        self.assert_code(3004, self.c.sample, "J1", 0)

    def test_sample_and_measure_after_running(self):
        c = self.c
        c.run_job("J1")
        self.wait_measured(c, "J1")
        first = c.sample("J1", 0)
        for g in self.check_spectral(first):
            self.assertEqual(g.texture, (0.0,) * 7, "a sample's texture is left zero")
        second = c.sample("J1", 1)
        self.check_spectral(second)
        self.assertNotEqual(first.geometry("r45as110").spectrum,
                            second.geometry("r45as110").spectrum)
        self.assert_code(3004, c.sample, "J1", 2)
        self.assert_code(3004, c.sample, "J1", -1)
        combined = c.measure("J1")
        self.check_spectral(combined)
        with self.assertRaises(KeyError):
            combined.geometry("r99as0")
        self.assertFalse(c.closed)


class LogTest(DriverTestCase):
    def test_user_message_reaches_the_log(self):
        c = self.client()
        c.connect_usb(5000)
        stamp = f"test message {time.time_ns()}"
        c.send_message(stamp)
        c.send_message("Grüße \U0001d11e")  # a code point beyond 16 bits
        text = c.log()
        self.assertIsInstance(text, str)
        self.assertIn(stamp, text)
        self.assertNotIn("\0", text)


class TerminateTest(DriverTestCase):
    def test_terminate_closes_and_ends_the_driver(self):
        c = self.client()
        c.terminate()
        self.assertTrue(c.closed)
        with self.assertRaises(vantorel.ProtocolError):
            c.jobs()
        if self.proc:
            self.assertEqual(self.proc.wait(10), 0)
        else:
            self.assertTrue(self.fake.terminated.wait(5))
            time.sleep(0.05)
            with self.assertRaises(vantorel.DriverUnreachableError):
                vantorel.Client(port=self.port, timeout=1)


class TerminateResetTest(unittest.TestCase):
    def test_a_reset_connection_is_not_a_terminated_driver(self):
        # The connection is taken but never read, then closed with the request
        # unread, which resets it: as a driver does with a connection that
        # waited in the queue of a listening socket it closed.
        server = socket.create_server(("127.0.0.1", 0))

        def reset_unread():
            conn, _ = server.accept()
            select.select([conn], [], [], 5)
            conn.close()

        peer = threading.Thread(target=reset_unread)
        peer.start()
        try:
            c = vantorel.Client(port=server.getsockname()[1], timeout=5)
            with self.assertRaises(vantorel.ProtocolError) as raised:
                c.terminate()
            self.assertIn("try again", str(raised.exception))
            self.assertTrue(c.closed)
        finally:
            peer.join(5)
            server.close()


if __name__ == "__main__":
    unittest.main()


class LargeAnswerTest(DriverTestCase):
    # Images of 1200 px make one sample's answer about 20 MB.
    sim_env = {"VANTOREL_SIM_IMAGE_PX": "1200"}

    @unittest.skipUnless(REAL_DRIVER, "needs the real driver's virtual instrument")
    def test_sample_of_about_twenty_megabytes(self):
        c = self.client(timeout=60.0)
        c.connect_usb(5000)
        c.add_job("Big", "silver", 1)
        c.run_job("Big")
        self.wait_measured(c, "Big", limit_s=60.0)
        sample = c.sample("Big", 0)
        sizes = [len(g.exr) for g in sample.geometries if g.exr is not None]
        self.assertEqual(len(sizes), 6)
        self.assertGreater(sum(sizes), 15_000_000)
        for g in sample.geometries:
            if g.exr is not None and len(g.exr):
                self.assertEqual(bytes(g.exr[:4]), b"\x76\x2f\x31\x01")
