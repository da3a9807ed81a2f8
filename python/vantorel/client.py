"""Blocking client for the driver's TCP protocol: one method per request.

Requests are served one after the other: each method sends its frame and
reads the one answer before it returns. A Client is not thread-safe; use one
per thread or guard it with a lock. Non-zero result codes raise VantorelError
and leave the connection usable; anything wrong with the stream raises
ProtocolError after closing the connection.
"""

from __future__ import annotations

import socket
from typing import List, Optional

from . import messages as m
from . import wire
from .errors import DriverUnreachableError, ProtocolError, VantorelError
from .records import Job, Measurement

DEFAULT_PORT = 8889
DEFAULT_TIMEOUT = 60.0
# Largest answer body accepted; a header announcing more is treated as garbage
# rather than reserving that much memory.
DEFAULT_MAX_ANSWER_BYTES = 1 << 30
# Extra seconds granted beyond a connect request's own time-out.
_CONNECT_GRACE_S = 5.0


class Client:
    """One connection to the driver.

    `timeout` bounds, in seconds, every wait for the driver (the connect
    requests wait at least their own time-out plus a grace). The driver serves
    one client at a time: a second Client connects but gets no answers until
    the first one has closed. When no connection can be opened at all,
    DriverUnreachableError (a ProtocolError) says where and why.
    """

    def __init__(
        self,
        host: str = "127.0.0.1",
        port: int = DEFAULT_PORT,
        timeout: Optional[float] = DEFAULT_TIMEOUT,
        max_answer_bytes: int = DEFAULT_MAX_ANSWER_BYTES,
    ) -> None:
        self._timeout = timeout
        self._max_answer = max_answer_bytes
        self._header = bytearray(wire.HEADER_SIZE)
        try:
            self._sock: Optional[socket.socket] = socket.create_connection((host, port), timeout)
        except OSError as e:
            raise DriverUnreachableError(host, port, e) from e
        self._sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    # --- lifetime ---------------------------------------------------------

    def close(self) -> None:
        """Closes the connection; the driver then waits for its next client."""
        if self._sock is not None:
            self._sock.close()
            self._sock = None

    @property
    def closed(self) -> bool:
        return self._sock is None

    def __enter__(self) -> "Client":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    # --- requests ---------------------------------------------------------

    def connect_usb(self, timeout_ms: int = 5000) -> None:
        """Opens the device session over USB, waiting up to timeout_ms
        (4294967295: no limit). Raises VantorelError (99999 on time-out)."""
        self._check(m.USB_CONNECT, m.usb_connect(timeout_ms), m.USB_CONNECT, timeout_ms)

    def connect_network(self, address: m.Address, timeout_ms: int = 5000) -> None:
        """Opens the device session over the network. `address` is an IPv4
        dotted quad or 4 raw bytes, handed to the instrument unchanged."""
        body = m.network_connect(address, timeout_ms)
        self._check(m.NETWORK_CONNECT, body, m.USB_CONNECT, timeout_ms)

    def jobs(self) -> List[Job]:
        """The jobs stored on the instrument, in its order."""
        result, jobs = self._exchange(m.GET_JOBS, m.get_jobs(), m.GET_JOBS, m.job_info)
        self._raise_for(result, m.GET_JOBS)
        return jobs

    def add_job(self, name: wire.Text, make: wire.Text, samples: int) -> None:
        """Stores a job, replacing one of the same name."""
        self._check(m.ADD_JOB, m.add_job(name, make, samples), m.ADD_JOB)

    def delete_job(self, name: wire.Text) -> None:
        self._check(m.DELETE_JOB, m.name_only(name), m.DELETE_JOB)

    def run_job(self, name: wire.Text) -> None:
        """Starts measuring a job; its progress shows in jobs()."""
        self._check(m.DO_JOB, m.name_only(name), m.DO_JOB)

    def cancel(self) -> None:
        self._check(m.CANCEL, m.empty(), m.CANCEL)

    def measure(self, name: wire.Text) -> Measurement:
        """The combined measurement of all samples of a job."""
        result = self._exchange(
            m.GET_MEASURE, m.name_only(name), m.GET_MEASURE, m.measure_answer
        )
        self._raise_for(result.result, m.GET_MEASURE)
        return result

    def sample(self, name: wire.Text, index: int) -> Measurement:
        """One sample of a job, counted from 0."""
        result = self._exchange(
            m.GET_SAMPLE, m.get_sample(name, index), m.GET_SAMPLE, m.sample_answer
        )
        self._raise_for(result.result, m.GET_SAMPLE)
        return result

    def log(self) -> str:
        """The instrument's log text."""
        result, text = self._exchange(m.GET_LOG, m.empty(), m.GET_LOG, m.log)
        self._raise_for(result, m.GET_LOG)
        return text

    def send_message(self, text: str) -> None:
        """Passes a user message to the instrument."""
        self._check(m.USER_MESSAGE, m.user_message(text), m.USER_MESSAGE)

    def terminate(self) -> None:
        """Ends the driver process. There is no answer: returns once the driver
        has read the request and closed the connection in order; raises
        ProtocolError if it sends anything instead, keeps the connection open
        beyond the time-out, or the connection is reset. A reset means that
        nobody read the request (the connection waited in the queue of a
        listening socket that the driver closed when it took another client):
        the driver goes on running, and sending it again is safe."""
        self._send(m.frame(m.TERMINATE, m.empty()))
        sock = self._live()
        try:
            data = sock.recv(1)
        except ConnectionResetError as e:
            self._fail("the connection was reset without the terminate request being read "
                       "(the driver was taking another client, or it ended otherwise); "
                       "try again", e)
        except socket.timeout as e:
            self._fail(f"connection still open {sock.gettimeout()} s after terminate", e)
        except OSError as e:
            self._fail(f"waiting for the close after terminate failed: {e}", e)
        if data:
            self._fail("the driver answered a terminate request")
        self.close()

    # --- frames -----------------------------------------------------------

    def _live(self) -> socket.socket:
        if self._sock is None:
            raise ProtocolError("the connection is closed")
        return self._sock

    def _fail(self, text: str, cause: Optional[BaseException] = None) -> None:
        self.close()
        raise ProtocolError(text) from cause

    def _raise_for(self, result: int, type_id: int) -> None:
        if result != 0:
            raise VantorelError(result, m.REQUEST_NAMES[type_id])

    def _check(self, type_id: int, body: bytes, answer_id: int, wait_ms: int = 0) -> None:
        code = self._exchange(type_id, body, answer_id, m.result_code, wait_ms)
        self._raise_for(code, type_id)

    def _send(self, data: bytes) -> None:
        try:
            self._live().sendall(data)
        except OSError as e:
            self._fail(f"sending failed: {e}", e)

    def _exchange(self, type_id: int, body: bytes, answer_id: int, decode, wait_ms: int = 0):
        """Sends one request, receives its answer into one buffer of the
        announced size and returns decode(answer body). Closes the connection
        and raises ProtocolError on any failure, a malformed body included."""
        self._send(m.frame(type_id, body))
        sock = self._live()
        timeout = self._timeout
        if wait_ms and timeout is not None:
            timeout = None if wait_ms == m.WAIT_FOREVER_MS else max(
                timeout, wait_ms / 1000.0 + _CONNECT_GRACE_S
            )
        try:
            sock.settimeout(timeout)
            self._read_into(sock, memoryview(self._header), "answer header")
            size, got_id = wire.unpack_header(self._header)
            if got_id != answer_id:
                self._fail(
                    f"answer to {m.REQUEST_NAMES[type_id]} arrived under type id {got_id}, "
                    f"expected {answer_id}"
                )
            if size > self._max_answer:
                self._fail(f"answer announces {size} bytes, more than the {self._max_answer} accepted")
            body = bytearray(size)
            self._read_into(sock, memoryview(body), "answer body")
        except BaseException:
            self.close()  # e.g. KeyboardInterrupt mid-answer: the stream is out of step
            raise
        finally:
            if self._sock is not None:
                self._sock.settimeout(self._timeout)
        try:
            return decode(body)
        except ProtocolError:
            self.close()
            raise

    def _read_into(self, sock: socket.socket, view: memoryview, what: str) -> None:
        total = len(view)
        got = 0
        try:
            while got < total:
                n = sock.recv_into(view[got:], total - got)
                if n == 0:
                    self._fail(f"connection closed after {got} of {total} bytes of the {what}")
                got += n
        except socket.timeout as e:
            self._fail(f"no complete {what} within {sock.gettimeout()} s ({got} of {total} bytes)", e)
        except OSError as e:
            self._fail(f"receiving the {what} failed: {e}", e)
