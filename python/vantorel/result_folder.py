"""The result folder of a measurement, in the layout `vantorelctl measure --out`
writes, so that `vantorelctl compare` and other readers take either.

This writer writes result.json (format version 2), spectra.csv, lab.csv and
images/<geometry>.exr with the same content as vantorelctl. It does not write
result.cxf, cgats/*.ti3, spectra.svg or the PNG previews (decoding EXR needs
more than the standard library); its result.json says so in "writer".

The folder is written the way vantorelctl writes it: into a hidden staging
folder beside the target (".<name>.partial-<n>"), renamed into place when
complete. An existing target is refused unless `force`; even then only an
empty folder or a folder this writer wrote is replaced (vantorelctl's folders
hold files this writer cannot write again, anything else is not a result),
by renaming it aside, renaming the new folder in, then deleting the old one.

Nothing here is shared between threads.
"""

from __future__ import annotations

import json
import math
import os
import shutil
import struct
import time
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Sequence, Tuple

from .records import WAVELENGTHS, Measurement

FORMAT = "vantorel-result"
VERSION = 2
WRITER = "vantorel-python"

_F32 = struct.Struct("<f")


class FolderError(Exception):
    """The result folder cannot be written; the message names the path."""


@dataclass
class LabSpread:
    """Spread of one geometry's L*, a*, b* over the samples: the standard
    deviation (n - 1; None below two finite values) and the range (largest
    minus smallest; None without a finite value), each as (L, a, b)."""

    stdev: Tuple[Optional[float], ...]
    range: Tuple[Optional[float], ...]


@dataclass
class SampleStatistics:
    sample_count: int
    geometries: Dict[str, LabSpread] = field(default_factory=dict)


def sample_statistics(samples: Sequence[Measurement]) -> SampleStatistics:
    """The spread of the samples' L*a*b* per geometry; non-finite values are
    left out. Computed as vantorelctl computes it (Welford's running mean and
    sum of squares, in sample order), so that both write the same numbers."""
    running: Dict[str, List[List[float]]] = {}  # per component: n, mean, m2, lo, hi
    for sample in samples:
        for g in sample:
            if g.lab is None:
                continue
            components = running.setdefault(g.name, [[0, 0.0, 0.0, 0.0, 0.0] for _ in range(3)])
            for r, v in zip(components, g.lab):
                if not math.isfinite(v):
                    continue
                if r[0] == 0:
                    r[3] = r[4] = v
                else:
                    r[3], r[4] = min(r[3], v), max(r[4], v)
                r[0] += 1
                delta = v - r[1]
                r[1] += delta / r[0]
                r[2] += delta * (v - r[1])
    stats = SampleStatistics(len(samples))
    for name, components in running.items():
        stats.geometries[name] = LabSpread(
            tuple(math.sqrt(r[2] / (r[0] - 1)) if r[0] >= 2 else None for r in components),
            tuple(r[4] - r[3] if r[0] >= 1 else None for r in components),
        )
    return stats


# --- values as the C++ writer formats them ------------------------------


def _shortest_f32(value: float) -> Optional[float]:
    """The double nearest to the float's shortest decimal form (0.1f gives
    0.1, not 0.10000000149011612); None for NaN and infinities."""
    if not math.isfinite(value):
        return None
    for digits in range(1, 10):
        text = f"{value:.{digits}g}"
        if _F32.unpack(_F32.pack(float(text)))[0] == value:
            return float(text)
    return value


def _finite(value: Optional[float]) -> Optional[float]:
    return value if value is not None and math.isfinite(value) else None


def _fixed(value: Optional[float], decimals: int) -> str:
    """`decimals` digits after the point, no minus sign on a zero, empty for
    a missing or non-finite value."""
    if value is None or not math.isfinite(value):
        return ""
    text = f"{value:.{decimals}f}"
    if text.startswith("-") and not text.strip("-0."):
        text = text[1:]
    return text


def _angles(name: str) -> Tuple[int, int]:
    """(incidence, aspecular) of a geometry named r<incidence>as<aspecular>."""
    incidence, aspecular = name[1:].split("as")
    return int(incidence), int(aspecular)


def _utf8_text(text) -> str:
    """A job name as valid text: bytes that are not UTF-8 become U+FFFD."""
    data = text if isinstance(text, (bytes, bytearray)) else text.encode("utf-8", "surrogateescape")
    return bytes(data).decode("utf-8", "replace")


def _iso_utc(seconds: float) -> str:
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


# --- the files ----------------------------------------------------------


def _sample_count(sample_index: Optional[int], stats: Optional[SampleStatistics]) -> Optional[int]:
    if sample_index is not None:
        return 1
    return stats.sample_count if stats is not None else None


def _spread_json(values: Optional[Tuple[Optional[float], ...]]):
    if values is None:
        return None
    return {"L": _finite(values[0]), "a": _finite(values[1]), "b": _finite(values[2])}


def result_json(measurement: Measurement, job, sample_index: Optional[int],
                stats: Optional[SampleStatistics], created: float) -> str:
    spreads = stats.geometries if stats is not None and sample_index is None else {}
    geometries = []
    for g in measurement:
        if g.spectrum is None:
            continue  # an image without a spectral record: in images/ only
        incidence, aspecular = _angles(g.name)
        spread = spreads.get(g.name)
        geometries.append({
            "name": g.name,
            "spectrumAngle": g.angle,
            "incidenceDeg": incidence,
            "aspecularDeg": aspecular,
            "index": g.index,
            "wavelengthsNm": list(WAVELENGTHS),
            "reflectance": [_shortest_f32(v) for v in g.spectrum],
            "lab": {"L": _shortest_f32(g.lab.L), "a": _shortest_f32(g.lab.a),
                    "b": _shortest_f32(g.lab.b)},
            "stdev": _spread_json(spread.stdev if spread else None),
            "range": _spread_json(spread.range if spread else None),
            "texture": list(g.texture) if g.exr is not None else None,
        })
    doc = {
        "format": FORMAT,
        "version": VERSION,
        "writer": WRITER,
        "job": _utf8_text(job),
        "result": measurement.result,
        "sample": sample_index,
        "created": _iso_utc(created),
        "sampleCount": _sample_count(sample_index, stats),
        "geometries": geometries,
    }
    return json.dumps(doc, indent=2, ensure_ascii=False, allow_nan=False) + "\n"


def spectra_csv(measurement: Measurement) -> str:
    lines = [",".join(["geometry"] + [str(nm) for nm in WAVELENGTHS])]
    for g in measurement:
        if g.spectrum is not None:
            lines.append(",".join([g.name] + [_fixed(v, 6) for v in g.spectrum]))
    return "\n".join(lines) + "\n"


def lab_csv(measurement: Measurement, sample_index: Optional[int],
            stats: Optional[SampleStatistics]) -> str:
    lines = ["geometry,L,a,b,samples,stdev_L,stdev_a,stdev_b,range_L,range_a,range_b"]
    count = _sample_count(sample_index, stats)
    spreads = stats.geometries if stats is not None and sample_index is None else {}
    for g in measurement:
        if g.lab is None:
            continue
        spread = spreads.get(g.name)
        fields = [g.name] + [_fixed(v, 4) for v in g.lab]
        fields.append("" if count is None else str(count))
        for values in (spread.stdev, spread.range) if spread else ((None,) * 3, (None,) * 3):
            fields += [_fixed(v, 4) for v in values]
        lines.append(",".join(fields))
    return "\n".join(lines) + "\n"


# --- the folder ---------------------------------------------------------


def _may_replace(path: str) -> bool:
    """An empty real folder, or one whose result.json this writer wrote."""
    if os.path.islink(path) or not os.path.isdir(path):
        return False
    try:
        if not os.listdir(path):
            return True
        with open(os.path.join(path, "result.json"), encoding="utf-8") as f:
            doc = json.load(f)
    except (OSError, ValueError):
        return False
    return isinstance(doc, dict) and doc.get("format") == FORMAT and doc.get("writer") == WRITER


def check_target(target: str, force: bool) -> str:
    """The absolute target folder, or FolderError when it may not be written:
    it exists and `force` is not given, or it exists and is no folder this
    writer may replace."""
    if not target:
        raise FolderError("'' is not a usable folder name")
    path = os.path.abspath(target)
    name = os.path.basename(path)
    if not name or name in (".", "..") or path == os.path.dirname(path):
        raise FolderError(f"'{target}' is not a usable folder name")
    if os.path.lexists(path):
        if not force:
            raise FolderError(f"'{path}' already exists (--force replaces a result folder)")
        if not _may_replace(path):
            raise FolderError(
                f"'{path}' exists and is not a result folder written by python -m vantorel; "
                "it is not replaced"
            )
    return path


def _sibling(path: str, tag: str, create: bool) -> str:
    parent, name = os.path.split(path)
    seed = time.monotonic_ns()
    for attempt in range(100):
        candidate = os.path.join(parent, f".{name}.{tag}-{(seed + attempt * 7919) % 1000000}")
        if create:
            try:
                os.mkdir(candidate)
                return candidate
            except FileExistsError:
                continue
        elif not os.path.lexists(candidate):
            return candidate
    raise FolderError(f"cannot find a free name beside '{path}'")


def write_result_folder(target: str, measurement: Measurement, job, *,
                        sample_index: Optional[int] = None,
                        stats: Optional[SampleStatistics] = None, force: bool = False,
                        created: Optional[float] = None) -> List[str]:
    """Writes the folder `target`; returns the written files relative to it
    ('/'-separated). Raises FolderError, with the path that failed, when the
    target is refused (see check_target) or a file cannot be written; the
    staging folder is then removed and an existing target left as it was."""
    path = check_target(target, force)
    created = time.time() if created is None else created
    files = {
        "result.json": result_json(measurement, job, sample_index, stats, created).encode("utf-8"),
        "spectra.csv": spectra_csv(measurement).encode("utf-8"),
        "lab.csv": lab_csv(measurement, sample_index, stats).encode("utf-8"),
    }
    for g in measurement:
        if g.exr is not None and len(g.exr) > 0:
            files[f"images/{g.name}.exr"] = g.exr
    try:
        os.makedirs(os.path.dirname(path), exist_ok=True)
    except OSError as e:
        raise FolderError(f"cannot create the folder '{os.path.dirname(path)}': {e.strerror}") from e
    staging = _sibling(path, "partial", create=True)
    try:
        for relative, data in files.items():
            file = os.path.join(staging, *relative.split("/"))
            try:
                os.makedirs(os.path.dirname(file), exist_ok=True)
                with open(file, "wb") as f:
                    f.write(data)
            except OSError as e:
                raise FolderError(f"cannot write '{file}': {e.strerror}") from e
        _commit(staging, path)
    except BaseException:
        shutil.rmtree(staging, ignore_errors=True)
        raise
    return list(files)


def _commit(staging: str, path: str) -> None:
    if not os.path.lexists(path):
        try:
            os.rename(staging, path)
        except OSError as e:
            raise FolderError(f"cannot move the result into place as '{path}': {e.strerror}") from e
        return
    old = _sibling(path, "old", create=False)
    try:
        os.rename(path, old)
    except OSError as e:
        raise FolderError(f"cannot move the existing '{path}' aside: {e.strerror}") from e
    try:
        os.rename(staging, path)
    except OSError as e:
        try:
            os.rename(old, path)
        except OSError:
            pass
        raise FolderError(f"cannot move the result into place as '{path}': {e.strerror}") from e
    shutil.rmtree(old, ignore_errors=True)
