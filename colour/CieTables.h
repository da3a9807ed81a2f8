// CieTables: the colorimetric tables behind every colour this library
// computes, sampled at the 31 wavelengths of a spectrum (400 nm to 700 nm in
// 10 nm steps).
//
// The values are copied digit for digit from Debian's package colord-data:
//   /usr/share/colord/illuminant/CIE-D65.sp         (relative spectral power
//                                                     of CIE illuminant D65)
//   /usr/share/colord/cmf/CIE1964-10deg-XYZ.cmf      (CIE 1964 10 degree
//                                                     colour-matching functions)
// Both files tabulate at 5 nm; every second entry from 400 nm on is taken.
// The files carry no licence line of their own; the package's copyright file
// lists them under the package's GPL-2+ header. The numbers themselves are the
// CIE's published standard tables.
//
// Threads: constant data, safe from any thread.
#pragma once

#include <array>
#include <cstddef>

namespace colour {

// Number of reflectance values in a spectrum: 400, 410, ..., 700 nm.
inline constexpr std::size_t kSpectrumSize = 31;
inline constexpr int kFirstWavelengthNm = 400;
inline constexpr int kWavelengthStepNm = 10;

using SpectralTable = std::array<double, kSpectrumSize>;

// Relative spectral power of D65 (1.0 at 560 nm).
extern const SpectralTable kD65;
// CIE 1964 10 degree colour-matching functions x̄10, ȳ10, z̄10.
extern const SpectralTable kCmfX10;
extern const SpectralTable kCmfY10;
extern const SpectralTable kCmfZ10;

}  // namespace colour
