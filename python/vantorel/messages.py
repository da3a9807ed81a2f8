"""Request bodies and answer decoders of the driver's message catalogue.

Encoders return complete request bodies; decoders take one answer body and
either return its values or raise ProtocolError naming what is wrong. The
decoders are strict: a body must hold exactly its fields, no fewer and no
more. Stateless, so safe from any thread.
"""

from __future__ import annotations

import socket
import struct
from typing import List, Tuple, Union

from . import wire
from .errors import ProtocolError
from .records import GEOMETRY_NAMES, Geometry, Job, JobState, Lab, Measurement

# Type ids, on the wire: a request and its answer share the id, except the
# network connect request, which is answered under USB_CONNECT.
USB_CONNECT = 1
GET_JOBS = 2
TERMINATE = 3
DELETE_JOB = 4
GET_MEASURE = 5
GET_SAMPLE = 6
NETWORK_CONNECT = 7
ADD_JOB = 8
DO_JOB = 9
CANCEL = 10
USER_MESSAGE = 11
GET_LOG = 12

REQUEST_NAMES = {
    USB_CONNECT: "MsgUsbConnect",
    GET_JOBS: "MsgGetJobs",
    TERMINATE: "MsgTerminate",
    DELETE_JOB: "MsgDeleteJob",
    GET_MEASURE: "MsgGetMeasure",
    GET_SAMPLE: "MsgGetSample",
    NETWORK_CONNECT: "MsgNetworkConnect",
    ADD_JOB: "MsgAddJob",
    DO_JOB: "MsgDoJob",
    CANCEL: "MsgCancel",
    USER_MESSAGE: "MsgUserMessage",
    GET_LOG: "MsgGetLog",
}

WAIT_FOREVER_MS = wire.MAX_U32

Address = Union[str, bytes, bytearray]

_MEASUREMENT = struct.Struct("<iqi34f")  # key, index, angle, 31 spectrum + L, a, b
_TEXTURE = struct.Struct("<7d")
_MIN_IMAGE_ENTRY = 4 + 4 + 4 + _TEXTURE.size


def _check_u32(name: str, value: int) -> int:
    if not 0 <= value <= wire.MAX_U32:
        raise ValueError(f"{name} must be within 0..{wire.MAX_U32}, not {value}")
    return value


# --- requests -------------------------------------------------------------


def usb_connect(timeout_ms: int) -> bytes:
    """Raw 8 bytes: 4 bytes the driver ignores (zero), then the time-out."""
    return bytes(4) + wire.u32(_check_u32("timeout_ms", timeout_ms))


def network_address(address: Address) -> bytes:
    """The 4 address bytes: an IPv4 dotted quad in network order, or 4 given bytes."""
    if isinstance(address, (bytes, bytearray)):
        if len(address) != 4:
            raise ValueError("a network address is exactly 4 bytes")
        return bytes(address)
    try:
        return socket.inet_pton(socket.AF_INET, address)
    except OSError:
        raise ValueError(f"not an IPv4 address: {address!r}") from None


def network_connect(address: Address, timeout_ms: int) -> bytes:
    """Raw 8 bytes: the address, then the time-out."""
    return network_address(address) + wire.u32(_check_u32("timeout_ms", timeout_ms))


def get_jobs() -> bytes:
    return bytes(3)  # raw structure of 3 bytes the driver ignores


def empty() -> bytes:
    """Body of the field-less requests (terminate, cancel, get log)."""
    return bytes(1)


def name_only(name: wire.Text) -> bytes:
    """Body of delete job, get measure and do job."""
    return wire.string(name)


def get_sample(name: wire.Text, index: int) -> bytes:
    if not -(2**31) <= index < 2**31:
        raise ValueError(f"sample index {index} is not a signed 32-bit value")
    return wire.string(name) + wire.i32(index)


def add_job(name: wire.Text, make: wire.Text, samples: int) -> bytes:
    return wire.string(name) + wire.string(make) + wire.u32(_check_u32("samples", samples))


def user_message(text: str) -> bytes:
    return wire.utf32(text)


def frame(type_id: int, body: bytes) -> bytes:
    return wire.pack_header(type_id, len(body)) + body


# --- answers --------------------------------------------------------------


def result_code(body) -> int:
    """A bare answer: exactly one signed 32-bit result code."""
    if len(body) != 4:
        raise ProtocolError(f"result code answer: body has {len(body)} bytes, expected 4")
    return wire.Reader(body, "result code answer").i32("result")


def job_info(body) -> Tuple[int, List[Job]]:
    r = wire.Reader(body, "MsgAnswerJobInfo")
    result = r.i32("result")
    jobs = []
    for i in range(r.count("job count", 4 + 4 + 4 + 1)):
        name = bytes(r.blob(f"job {i} name")).decode("utf-8", "surrogateescape")
        state = r.u32(f"job {i} state")
        samples = r.i32(f"job {i} sample count")
        valid = r.u8(f"job {i} valid") != 0
        try:
            state = JobState(state)
        except ValueError:
            pass
        jobs.append(Job(name, state, samples, valid))
    r.finish()
    return result, jobs


def _geometry_name(key: int, where: str) -> str:
    if not 0 <= key < len(GEOMETRY_NAMES):
        raise ProtocolError(f"{where}: unknown geometry {key}")
    return GEOMETRY_NAMES[key]


def measurements(body, what: str) -> Measurement:
    """MsgAnswerGetMeasure / MsgAnswerGetSample: result, then the measurement
    map and the image map. A repeated geometry keeps its first entry, as the
    driver's own reader does.

    exr and second_image are read-only memoryviews into `body`, not copies: at
    tens of megabytes a copy costs as much as receiving the bytes. They keep
    `body` alive; bytes(view) makes an independent copy."""
    r = wire.Reader(body, what)
    result = r.i32("result")
    found = {}
    for i in range(r.count("measurement count", _MEASUREMENT.size)):
        values = r.unpack(_MEASUREMENT, f"measurement {i}")
        key = values[0]
        name = _geometry_name(key, f"{what}: measurement {i}")
        if key not in found:
            found[key] = Geometry(
                name=name,
                angle=key,
                index=values[1],
                spectrum=values[3:34],
                lab=Lab(*values[34:37]),
            )
    seen_images = set()
    for i in range(r.count("image count", _MIN_IMAGE_ENTRY)):
        key = r.i32(f"image {i} geometry")
        name = _geometry_name(key, f"{what}: image {i}")
        exr = r.blob(f"image {i} exr")
        second = r.blob(f"image {i} second image")
        texture = r.unpack(_TEXTURE, f"image {i} texture")
        if key in seen_images:
            continue
        seen_images.add(key)
        g = found.setdefault(key, Geometry(name=name, angle=key))
        g.exr = exr.toreadonly()
        g.second_image = second.toreadonly()
        g.texture = texture
    r.finish()
    return Measurement(result, [found[k] for k in sorted(found)])


def measure_answer(body) -> Measurement:
    return measurements(body, "MsgAnswerGetMeasure")


def sample_answer(body) -> Measurement:
    return measurements(body, "MsgAnswerGetSample")


def log(body) -> Tuple[int, str]:
    """MsgAnswerGetLog: unsigned result, then the log text whose last byte is
    a terminating zero; returns the text without it (invalid UTF-8 replaced)."""
    r = wire.Reader(body, "MsgAnswerGetLog")
    result = r.u32("result")
    text = r.blob("log")
    r.finish()
    if len(text) == 0 or text[-1] != 0:
        raise ProtocolError("MsgAnswerGetLog: log text does not end with a zero byte")
    return result, bytes(text[:-1]).decode("utf-8", "replace")
