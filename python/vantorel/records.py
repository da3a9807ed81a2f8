"""Result types of the client: jobs and per-geometry measurement data.

Plain dataclasses holding copies of what the driver answered; they share
nothing with the connection and may be passed between threads freely.
"""

from __future__ import annotations

import enum
from dataclasses import dataclass, field
from typing import Dict, Iterator, List, NamedTuple, Optional, Tuple, Union

# Measurement geometries by their value on the wire: incidence angle after
# "r", aspecular angle after "as". Maps on the wire are ordered by this value.
GEOMETRY_NAMES: Tuple[str, ...] = (
    "r15as-45",
    "r15as-15",
    "r15as15",
    "r15as45",
    "r15as80",
    "r45as-15",
    "r45as15",
    "r45as25",
    "r45as45",
    "r45as75",
    "r45as110",
)

# Wavelengths in nm of the 31 spectral values.
WAVELENGTHS: Tuple[int, ...] = tuple(range(400, 701, 10))


class JobState(enum.IntEnum):
    """State of a stored job as the driver reports it."""

    STORED = 0  # not measuring and not (fully) measured
    MEASURING = 1
    MEASURED = 2


@dataclass
class Job:
    """One job stored on the instrument.

    `name` is the identifier decoded as UTF-8; bytes that are not UTF-8 are kept
    as lone surrogates, so passing the name back to a request sends the
    original bytes. `state` is a JobState, or the plain integer for a value the
    driver does not define.
    """

    name: str
    state: Union[JobState, int]
    sample_count: int
    valid: bool


class Lab(NamedTuple):
    L: float
    a: float
    b: float


@dataclass
class Geometry:
    """Everything answered for one measurement geometry.

    Spectral fields (`index`, `spectrum`, `lab`) are None when the answer held
    no spectral entry for the geometry; image fields (`exr`, `second_image`,
    `texture`) are None when it held no image entry. `exr` and `second_image`
    are read-only bytes-like views (memoryview) into the received answer, which
    they keep alive; they compare equal to bytes and can be written to files
    directly; bytes(view) gives a copy.
    """

    name: str
    angle: int  # the geometry's value on the wire
    index: Optional[int] = None
    spectrum: Optional[Tuple[float, ...]] = None  # 31 values, see `wavelengths`
    lab: Optional[Lab] = None
    exr: Optional[memoryview] = field(default=None, repr=False)
    second_image: Optional[memoryview] = field(default=None, repr=False)
    texture: Optional[Tuple[float, ...]] = None  # 7 values

    @property
    def wavelengths(self) -> Tuple[int, ...]:
        return WAVELENGTHS


@dataclass
class Measurement:
    """A measurement or sample answer: the result code (always 0 when returned
    by Client, which raises for the others) and the geometries in wire order."""

    result: int
    geometries: List[Geometry] = field(default_factory=list)

    def __iter__(self) -> Iterator[Geometry]:
        return iter(self.geometries)

    def __len__(self) -> int:
        return len(self.geometries)

    def by_name(self) -> Dict[str, Geometry]:
        return {g.name: g for g in self.geometries}

    def geometry(self, name: str) -> Geometry:
        """The geometry called `name`; KeyError when the answer has none."""
        for g in self.geometries:
            if g.name == name:
                return g
        raise KeyError(name)
