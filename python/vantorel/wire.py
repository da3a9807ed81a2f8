"""Byte-level encoding of the driver's frames and bodies.

A frame is a 16-byte little-endian header (body size u32, 4 reserved bytes,
type id u64 of which only the low 32 bits count) followed by the body. Bodies
are little-endian with no padding: strings and byte vectors carry a u32 count
before their bytes, UTF-32 texts a u32 count of 4-byte code units, vectors and
maps a u32 element count before the elements.

Reader never reads outside the body it was given: every length and element
count is checked against the remaining bytes before anything is allocated, and
every shortage raises ProtocolError naming the field. Nothing here is shared
between threads.
"""

from __future__ import annotations

import struct
from typing import Tuple, Union

from .errors import ProtocolError

HEADER = struct.Struct("<IIQ")
HEADER_SIZE = HEADER.size  # 16
MAX_U32 = 0xFFFFFFFF

_U8 = struct.Struct("<B")
_U32 = struct.Struct("<I")
_I32 = struct.Struct("<i")
_I64 = struct.Struct("<q")

Text = Union[str, bytes, bytearray]


def pack_header(type_id: int, body_size: int) -> bytes:
    """Header for a body of body_size bytes; the reserved bytes are zero."""
    return HEADER.pack(body_size, 0, type_id)


def unpack_header(data) -> Tuple[int, int]:
    """(body size, type id) of a 16-byte header; the type's high 32 bits and
    the reserved bytes are ignored, as the driver does."""
    size, _reserved, type_id = HEADER.unpack_from(data, 0)
    return size, type_id & MAX_U32


def narrow(text: Text) -> bytes:
    """Bytes of a narrow string: str is encoded as UTF-8 (lone surrogates from
    a surrogateescape decode give back their original bytes), bytes pass as they are."""
    if isinstance(text, (bytes, bytearray)):
        return bytes(text)
    return text.encode("utf-8", "surrogateescape")


def u32(value: int) -> bytes:
    return _U32.pack(value)


def i32(value: int) -> bytes:
    return _I32.pack(value)


def string(text: Text) -> bytes:
    """A narrow string: u32 byte count, then the bytes, no terminator."""
    data = narrow(text)
    if len(data) > MAX_U32:
        raise ValueError("string longer than 4 GiB")
    return _U32.pack(len(data)) + data


def utf32(text: str) -> bytes:
    """A UTF-32 text: u32 count of code units, then each unit little-endian.
    Raises UnicodeEncodeError for lone surrogates, which are no code points."""
    units = text.encode("utf-32-le")
    return _U32.pack(len(units) // 4) + units


class Reader:
    """Sequential, bounds-checked reader over one body.

    `what` names the body in error messages. Methods raise ProtocolError when
    the body is too short; they never return partial values.
    """

    __slots__ = ("_mv", "_pos", "_what")

    def __init__(self, body, what: str) -> None:
        self._mv = memoryview(body)
        self._pos = 0
        self._what = what

    @property
    def remaining(self) -> int:
        return len(self._mv) - self._pos

    def _need(self, n: int, field: str) -> int:
        pos = self._pos
        if n > len(self._mv) - pos:
            raise ProtocolError(
                f"{self._what}: {field} needs {n} bytes at offset {pos}, "
                f"but the body has {len(self._mv) - pos} left"
            )
        self._pos = pos + n
        return pos

    def unpack(self, st: struct.Struct, field: str) -> tuple:
        """Values of one fixed-size group of fields."""
        return st.unpack_from(self._mv, self._need(st.size, field))

    def u8(self, field: str) -> int:
        return _U8.unpack_from(self._mv, self._need(1, field))[0]

    def u32(self, field: str) -> int:
        return _U32.unpack_from(self._mv, self._need(4, field))[0]

    def i32(self, field: str) -> int:
        return _I32.unpack_from(self._mv, self._need(4, field))[0]

    def i64(self, field: str) -> int:
        return _I64.unpack_from(self._mv, self._need(8, field))[0]

    def count(self, field: str, min_element_size: int) -> int:
        """An element count, refused when the elements could not fit into the rest."""
        n = self.u32(field)
        if n * min_element_size > self.remaining:
            raise ProtocolError(
                f"{self._what}: {field} {n} needs at least {n * min_element_size} bytes, "
                f"but the body has {self.remaining} left"
            )
        return n

    def blob(self, field: str) -> memoryview:
        """A u32-counted run of bytes, as a view into the body (no copy)."""
        n = self.count(field, 1)
        pos = self._need(n, field)
        return self._mv[pos : pos + n]

    def finish(self) -> None:
        """Refuses bytes after the last field: the driver never sends them."""
        if self.remaining:
            raise ProtocolError(
                f"{self._what}: {self.remaining} unexpected bytes after the last field"
            )
