"""Colour differences and the flop index, on CIE 1976 L*a*b* values.

Every function takes the reference (the standard) first and the sample (the
batch) second, each as an (L, a, b) triple; components are sample minus
reference. delta_e_76 and delta_e_2000 are symmetric; delta_e_94 and
delta_e_cmc weight by the reference's chroma and hue, as they are defined.
The same formulas as the C++ colour library (colour/ColourDifference.h).
"""

import math
from typing import NamedTuple, Optional, Sequence

__all__ = [
    "Components",
    "components",
    "delta_e_76",
    "delta_e_94",
    "delta_e_cmc",
    "delta_e_2000",
    "flop_index",
]

LabLike = Sequence[float]
_HUE_SLACK = 1e-9


class Components(NamedTuple):
    """Sample minus reference. dH carries the direction of the hue change
    (positive counter-clockwise in the a*b* plane); dL² + dC² + dH² = ΔE*ab²."""

    dL: float
    da: float
    db: float
    dC: float
    dH: float


def _lab(value: LabLike):
    L, a, b = value
    return float(L), float(a), float(b)


def _hue(a: float, b: float) -> float:
    if a == 0.0 and b == 0.0:
        return 0.0
    h = math.degrees(math.atan2(b, a))
    return h + 360.0 if h < 0.0 else h


def components(reference: LabLike, sample: LabLike) -> Components:
    """ΔL*, Δa*, Δb*, ΔC*ab and ΔH*ab of sample against reference."""
    L1, a1, b1 = _lab(reference)
    L2, a2, b2 = _lab(sample)
    da, db = a2 - a1, b2 - b1
    dC = math.hypot(a2, b2) - math.hypot(a1, b1)
    squared = da * da + db * db - dC * dC
    if math.isnan(squared):
        dH = squared
    else:
        size = math.sqrt(squared) if squared > 0.0 else 0.0
        dH = -size if a1 * b2 - b1 * a2 < 0.0 else size
    return Components(L2 - L1, da, db, dC, dH)


def delta_e_76(reference: LabLike, sample: LabLike) -> float:
    """CIE 1976 ΔE*ab, the Euclidean distance."""
    L1, a1, b1 = _lab(reference)
    L2, a2, b2 = _lab(sample)
    return math.sqrt((L2 - L1) ** 2 + (a2 - a1) ** 2 + (b2 - b1) ** 2)


def delta_e_94(reference: LabLike, sample: LabLike, *, kL: float = 1.0, kC: float = 1.0,
               kH: float = 1.0) -> float:
    """CIE 1994 ΔE*94, graphic-arts constants (K1 0.045, K2 0.015)."""
    d = components(reference, sample)
    c1 = math.hypot(*_lab(reference)[1:])
    sc = 1.0 + 0.045 * c1
    sh = 1.0 + 0.015 * c1
    return math.sqrt((d.dL / kL) ** 2 + (d.dC / (kC * sc)) ** 2 + (d.dH / (kH * sh)) ** 2)


def delta_e_cmc(reference: LabLike, sample: LabLike, *, l: float = 2.0,  # noqa: E741
                c: float = 1.0) -> float:
    """CMC(l:c), by default 2:1."""
    d = components(reference, sample)
    L1, a1, b1 = _lab(reference)
    c1 = math.hypot(a1, b1)
    h1 = _hue(a1, b1)
    sl = 0.511 if L1 < 16.0 else 0.040975 * L1 / (1.0 + 0.01765 * L1)
    sc = 0.0638 * c1 / (1.0 + 0.0131 * c1) + 0.638
    c4 = c1 ** 4
    f = math.sqrt(c4 / (c4 + 1900.0))
    if 164.0 <= h1 <= 345.0:
        t = 0.56 + abs(0.2 * math.cos(math.radians(h1 + 168.0)))
    else:
        t = 0.36 + abs(0.4 * math.cos(math.radians(h1 + 35.0)))
    sh = sc * (f * t + 1.0 - f)
    return math.sqrt((d.dL / (l * sl)) ** 2 + (d.dC / (c * sc)) ** 2 + (d.dH / sh) ** 2)


def delta_e_2000(reference: LabLike, sample: LabLike, *, kL: float = 1.0, kC: float = 1.0,
                 kH: float = 1.0) -> float:
    """CIEDE2000, as in the implementation notes of Sharma, Wu and Dalal (2005)."""
    L1, a1, b1 = _lab(reference)
    L2, a2, b2 = _lab(sample)
    c_mean = (math.hypot(a1, b1) + math.hypot(a2, b2)) / 2.0
    g = 0.5 * (1.0 - math.sqrt(c_mean ** 7 / (c_mean ** 7 + 25.0 ** 7)))
    a1p, a2p = (1.0 + g) * a1, (1.0 + g) * a2
    c1, c2 = math.hypot(a1p, b1), math.hypot(a2p, b2)
    h1, h2 = _hue(a1p, b1), _hue(a2p, b2)

    dL = L2 - L1
    dC = c2 - c1
    # Colours exactly opposite in hue sit on the boundary of the cases
    # (|h1 - h2| = 180): within _HUE_SLACK of 180 counts as 180, whatever the
    # rounding of the hue angles.
    dh = 0.0
    if c1 * c2 != 0.0:
        dh = h2 - h1
        if dh > 180.0 + _HUE_SLACK:
            dh -= 360.0
        elif dh < -180.0 - _HUE_SLACK:
            dh += 360.0
    dH = 2.0 * math.sqrt(c1 * c2) * math.sin(math.radians(dh / 2.0))

    L_mean = (L1 + L2) / 2.0
    c_mean_p = (c1 + c2) / 2.0
    h_mean = h1 + h2
    if c1 * c2 != 0.0:
        if abs(h1 - h2) <= 180.0 + _HUE_SLACK:
            h_mean /= 2.0
        elif h1 + h2 < 360.0:
            h_mean = (h_mean + 360.0) / 2.0
        else:
            h_mean = (h_mean - 360.0) / 2.0
    t = (1.0 - 0.17 * math.cos(math.radians(h_mean - 30.0))
         + 0.24 * math.cos(math.radians(2.0 * h_mean))
         + 0.32 * math.cos(math.radians(3.0 * h_mean + 6.0))
         - 0.20 * math.cos(math.radians(4.0 * h_mean - 63.0)))
    d_theta = 30.0 * math.exp(-(((h_mean - 275.0) / 25.0) ** 2))
    rc = 2.0 * math.sqrt(c_mean_p ** 7 / (c_mean_p ** 7 + 25.0 ** 7))
    sl = 1.0 + 0.015 * (L_mean - 50.0) ** 2 / math.sqrt(20.0 + (L_mean - 50.0) ** 2)
    sc = 1.0 + 0.045 * c_mean_p
    sh = 1.0 + 0.015 * c_mean_p * t
    rt = -math.sin(math.radians(2.0 * d_theta)) * rc
    lt, ct, ht = dL / (kL * sl), dC / (kC * sc), dH / (kH * sh)
    return math.sqrt(lt * lt + ct * ct + ht * ht + rt * ct * ht)


def flop_index(l15: float, l45: float, l110: float) -> Optional[float]:
    """Alman's flop index 2.69 (L*15 − L*110)^1.11 / (L*45)^0.86 from the
    lightness at aspecular 15°, 45° and 110°. A lightness that rises towards
    the flop counts as 0; None when L*45 <= 0 or a value is not finite."""
    values = (float(l15), float(l45), float(l110))
    if not all(math.isfinite(v) for v in values) or values[1] <= 0.0:
        return None
    travel = max(values[0] - values[2], 0.0)
    return 2.69 * travel ** 1.11 / values[1] ** 0.86
