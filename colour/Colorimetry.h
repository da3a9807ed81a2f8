// Colorimetry: colour values of a reflectance spectrum.
//
// A spectrum is 31 reflectance factors at 400, 410, ..., 700 nm, where 1.0 is
// the perfect reflecting diffuser. Tristimulus values follow the weighted
// summation of CIE 15 at 10 nm under illuminant D65 with the CIE 1964 10
// degree observer (tables in CieTables.h): X = k Σ S(λ) x̄(λ) ρ(λ) and so on,
// with k chosen so that the perfect diffuser has Y = 100. The L*a*b* white
// point is the perfect diffuser under the same tables, so a reflectance of
// 1.0 everywhere gives exactly L* 100, a* 0, b* 0.
//
// Every function is pure: no state, safe from any thread. Non-finite inputs
// give non-finite outputs; nothing is clamped, so out-of-range reflectances
// (fluorescent > 1, noisy < 0) keep their arithmetic meaning.
#pragma once

#include <span>

#include "colour/CieTables.h"
#include "colour/Lab.h"

namespace colour {

// CIE XYZ on the scale where the perfect diffuser has Y = 100.
struct Xyz {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// Linear (not gamma-encoded) sRGB; the perfect diffuser is (1, 1, 1) within
// 1e-3. Components may be negative or above 1 for colours outside the gamut.
struct LinearRgb {
  double r = 0.0;
  double g = 0.0;
  double b = 0.0;
};

// The spectrum as a view of exactly 31 floats (std::array<float, 31> and
// float[31] convert implicitly; a vector needs an explicit span of its first
// 31 values, after the caller has checked its size).
using SpectrumView = std::span<const float, kSpectrumSize>;

// Tristimulus values of the spectrum under D65, 10 degree observer.
Xyz SpectrumToXyz(SpectrumView reflectance);

// The perfect diffuser's XYZ under the same tables: Yn = 100 exactly,
// Xn ≈ 94.78, Zn ≈ 107.35. This is the white point of XyzToLab.
Xyz WhitePoint();

// CIE 1976 L*a*b* of `xyz` relative to WhitePoint(), with the linear segment
// of the CIE formula below (6/29)^3.
Lab XyzToLab(const Xyz& xyz);

// SpectrumToXyz followed by XyzToLab.
Lab SpectrumToLab(SpectrumView reflectance);

// Linear sRGB of `xyz`. The white point of the tables is first adapted to the
// sRGB D65 white (Bradford transform), then the IEC sRGB matrix applies, with
// Y = 100 mapped to 1.
LinearRgb XyzToLinearSrgb(const Xyz& xyz);

// SpectrumToXyz followed by XyzToLinearSrgb.
LinearRgb SpectrumToLinearSrgb(SpectrumView reflectance);

// Relative luminance of a linear sRGB colour (Rec. 709 weights).
double Luminance(const LinearRgb& rgb);

}  // namespace colour
