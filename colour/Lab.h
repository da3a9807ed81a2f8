// Lab: a CIE 1976 L*a*b* colour, the one colour value above the device
// boundary. Colorimetry computes it from spectra, the colour-difference
// formulas compare two of them, and quality control and the exports carry
// it. (The device boundary has its own value class, Vexil::Device_Cpp::Lab,
// laid out for the module ABI.)
//
// Threads: a plain value; no shared state.
#pragma once

namespace colour {

// L* lightness (0 black, 100 the perfect diffuser), a* green to red, b* blue
// to yellow. Nothing is clamped: a value from a file or a noisy spectrum
// keeps its arithmetic meaning.
struct Lab {
  double l = 0.0;
  double a = 0.0;
  double b = 0.0;
};

}  // namespace colour
