"""Runs the client tests against the fake driver or, when VANTOREL_DRIVER names
the real driver executable, against that process with its virtual instrument.

Each test gets a fresh driver: a FakeDriver on an ephemeral port, or a new
driver process on its fixed port 8889 (a path ending in .exe runs under wine).
Test classes that check exact bytes or make the server misbehave always run
against the fake (FakeDriverTestCase), also when VANTOREL_DRIVER is set.
"""

from __future__ import annotations

import os
import subprocess
import time
import unittest
from typing import Optional

import vantorel
from tests.fake_driver import FakeDriver

REAL_DRIVER = os.environ.get("VANTOREL_DRIVER")
REAL_PORT = 8889
START_TIMEOUT_S = 20.0

fake_only = unittest.skipIf(REAL_DRIVER, "needs the fake driver")


class DriverTestCase(unittest.TestCase):
    """setUp starts a driver; self.port is where it listens; self.fake is the
    FakeDriver or None against the real driver."""

    # Options for the FakeDriver; connect and sample times match the
    # environment given to the real driver's virtual instrument.
    fake_options = {"connect_ms": 50, "sample_ms": 20}
    # False for classes that need the fake whatever VANTOREL_DRIVER says.
    real_capable = True
    # Further environment for the real driver's virtual instrument.
    sim_env: dict = {}

    def setUp(self) -> None:
        self.fake: Optional[FakeDriver] = None
        self.proc: Optional[subprocess.Popen] = None
        if REAL_DRIVER and self.real_capable:
            env = dict(os.environ, VANTOREL_SIM_CONNECT_MS="50", VANTOREL_SIM_SAMPLE_MS="20")
            env.update(self.sim_env)
            cmd = [REAL_DRIVER]
            if REAL_DRIVER.lower().endswith(".exe"):
                cmd = [os.environ.get("VANTOREL_WINE_LOADER", "wine"), REAL_DRIVER]
                env.setdefault("WINEDEBUG", "-all")
                env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
            self.proc = subprocess.Popen(
                cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
            )
            self.port = REAL_PORT
            self.addCleanup(self._stop_process)
        else:
            self.fake = FakeDriver(**self.fake_options)
            self.port = self.fake.port
            self.addCleanup(self.fake.stop)

    def _stop_process(self) -> None:
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(10)

    def client(self, timeout: float = 10.0) -> vantorel.Client:
        """A client of this test's driver, closed at cleanup; retries while the
        driver process is still starting."""
        deadline = time.monotonic() + START_TIMEOUT_S
        while True:
            try:
                c = vantorel.Client(port=self.port, timeout=timeout)
                break
            except vantorel.DriverUnreachableError as e:
                if not isinstance(e.__cause__, ConnectionRefusedError):
                    raise
                if time.monotonic() > deadline or (self.proc and self.proc.poll() is not None):
                    raise
                time.sleep(0.05)
        self.addCleanup(c.close)
        return c

    def wait_measured(self, c: vantorel.Client, name: str, limit_s: float = 10.0) -> None:
        deadline = time.monotonic() + limit_s
        while True:
            state = {j.name: j.state for j in c.jobs()}[name]
            if state == vantorel.JobState.MEASURED:
                return
            if time.monotonic() > deadline:
                self.fail(f"job {name} still in state {state} after {limit_s} s")
            time.sleep(0.02)

    def assert_code(self, code: int, fn, *args) -> vantorel.VantorelError:
        with self.assertRaises(vantorel.VantorelError) as ctx:
            fn(*args)
        self.assertEqual(ctx.exception.code, code, str(ctx.exception))
        return ctx.exception


class FakeDriverTestCase(DriverTestCase):
    """Always the fake driver: exact bytes and misbehaving servers."""

    real_capable = False
