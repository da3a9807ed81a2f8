"""Exceptions raised by the client and the texts of the driver's result codes.

A non-zero result code answered by the driver becomes a VantorelError; anything
wrong with the byte stream itself (an answer under an unexpected type id, a body
that does not decode, a connection that closed or went silent) becomes a
ProtocolError. The texts are shared with the C++ command-line tool, so keep
them in step with it.
"""

from __future__ import annotations

import socket

# The driver's own codes, then those of the virtual instrument.
_TEXTS = {
    99999: "no device session: connect to the instrument first",
    1002: "job not found",
    1003: "job name or make is not valid UTF-8",
    3001: "instrument not connected",
    3002: "unknown job",
    3003: "network address refused by the instrument",
    3004: "sample not measured (or index out of range)",
    3005: "instrument busy: a job is measuring",
    3006: "image could not be decoded",
    3007: "invalid job description",
}


def error_text(code: int) -> str:
    """Human-readable text for a result code; unknown codes read "device error <code>"."""
    return _TEXTS.get(code, f"device error {code}")


class VantorelError(Exception):
    """The driver answered a non-zero result code.

    `code` is the code as answered, `text` its human-readable meaning. The
    connection stays usable after this error.
    """

    def __init__(self, code: int, request: str = "") -> None:
        self.code = code
        self.text = error_text(code)
        self.request = request
        prefix = f"{request}: " if request else ""
        super().__init__(f"{prefix}{self.text} (code {code})")


class ProtocolError(Exception):
    """The byte stream from the driver cannot be trusted any more.

    Raised for an answer under an unexpected type id, a malformed or truncated
    body, a closed or silent connection. The client closes its socket before
    raising it, so every later request raises ProtocolError too.
    """


class DriverUnreachableError(ProtocolError):
    """No connection to the driver could be opened.

    `host`, `port` and `reason` (the operating system's words) say where and
    why. The driver stops listening while it serves a client, so a refused
    connection means that it is not running or is serving another client.
    """

    def __init__(self, host: str, port: int, cause: OSError) -> None:
        self.host = host
        self.port = port
        self.reason = (cause.strerror or str(cause) or type(cause).__name__).lower()
        hint = ""
        if isinstance(cause, ConnectionRefusedError):
            hint = " (the driver is not running, or is serving another client)"
        elif isinstance(cause, (TimeoutError, socket.timeout)):
            hint = " (no answer to the connection in time)"
        super().__init__(f"cannot reach the driver at {host}:{port}: {self.reason}{hint}")
