// ColourDifference: the colour-difference formulas of colour quality control
// and the flop index of effect paints, on CIE 1976 L*a*b* values.
//
// Every difference is taken from a reference (the standard) to a sample (the
// batch): components are sample minus reference. CIE 1976, CIEDE2000 and the
// components' magnitudes are symmetric in their two colours; CIE 1994 and CMC
// weight by the reference's chroma and hue, so they are not, as their
// definitions say.
//
// Threads: pure functions; safe from any thread. Non-finite inputs give
// non-finite outputs; nothing throws.
#pragma once

#include <optional>
#include <string_view>

#include "colour/Lab.h"

namespace colour {

// The differences a colour report lists beside ΔE, sample minus reference.
// dH is the CIE 1976 hue difference with the sign of the hue-angle change
// (positive when the sample lies counter-clockwise of the reference in the
// a*b* plane), so that dL² + dC² + dH² = ΔE*ab².
struct LabComponents {
  double dL = 0.0;
  double da = 0.0;
  double db = 0.0;
  double dC = 0.0;
  double dH = 0.0;
};

LabComponents Components(const Lab& reference, const Lab& sample);

// Parametric weights of a formula: kL, kC, kH divide the lightness, chroma
// and hue terms (1, 1, 1 are the reference conditions).
struct Weights {
  double kL = 1.0;
  double kC = 1.0;
  double kH = 1.0;
};

// CIE 1976 ΔE*ab: the Euclidean distance in L*a*b*.
double DeltaE76(const Lab& reference, const Lab& sample);

// CIE 1994 ΔE*94 with the graphic-arts constants K1 = 0.045, K2 = 0.015;
// SC and SH use the reference's chroma.
double DeltaE94(const Lab& reference, const Lab& sample, const Weights& weights = {});

// CMC(l:c) (Clarke, McDonald, Rigg 1984); l = 2, c = 1 is the usual
// acceptability form. Weighted by the reference's lightness, chroma and hue.
double DeltaECmc(const Lab& reference, const Lab& sample, double lightness = 2.0,
                 double chroma = 1.0);

// CIEDE2000 (CIE 142-2001), following the implementation notes of Sharma, Wu
// and Dalal (2005): the mean hue and the hue difference take the shorter way
// round the circle, and a colour of zero chroma has hue angle 0.
double DeltaE2000(const Lab& reference, const Lab& sample, const Weights& weights = {});

// The formulas by name, for command lines and files.
enum class Formula { kDe2000, kDe94, kCmc, kDe76 };

// "de2000", "de94", "cmc", "de76"; nothing for any other text.
std::optional<Formula> ParseFormula(std::string_view name);
const char* FormulaName(Formula formula);
// The label a report prints: "dE00", "dE94", "dECMC(2:1)", "dE76".
const char* FormulaLabel(Formula formula);

// DeltaE2000, DeltaE94 and DeltaE76 with unit weights, DeltaECmc with 2:1.
double DeltaE(Formula formula, const Lab& reference, const Lab& sample);

// Alman's flop index of an effect paint from the lightness at the
// aspecular angles 15°, 45° and 110° (45° illumination):
// 2.69 (L*15 − L*110)^1.11 / (L*45)^0.86. A lightness that rises towards the
// flop (L*15 < L*110) counts as no travel (0). Nothing for L*45 ≤ 0 or a
// non-finite input.
std::optional<double> FlopIndex(double l15, double l45, double l110);

}  // namespace colour
