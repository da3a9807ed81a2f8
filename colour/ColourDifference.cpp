#include "colour/ColourDifference.h"

#include <cmath>
#include <numbers>

namespace colour {
namespace {

constexpr double kPi = std::numbers::pi;

double Degrees(double radians) { return radians * 180.0 / kPi; }
double Radians(double degrees) { return degrees * kPi / 180.0; }

double Chroma(const Lab& c) { return std::hypot(c.a, c.b); }

// Hue angle in degrees, 0..360; 0 for a neutral colour.
double HueDegrees(double a, double b) {
  if (a == 0.0 && b == 0.0) return 0.0;
  const double h = Degrees(std::atan2(b, a));
  return h < 0.0 ? h + 360.0 : h;
}

double Square(double x) { return x * x; }

}  // namespace

LabComponents Components(const Lab& reference, const Lab& sample) {
  LabComponents d;
  d.dL = sample.l - reference.l;
  d.da = sample.a - reference.a;
  d.db = sample.b - reference.b;
  const double c1 = Chroma(reference);
  const double c2 = Chroma(sample);
  d.dC = c2 - c1;
  // 2 sqrt(C1 C2) sin(Δh/2) equals sqrt(Δa² + Δb² − ΔC²) in size and carries
  // the direction of the hue change; the cross product gives that sign
  // without wrapping the angles.
  const double cross = reference.a * sample.b - reference.b * sample.a;
  const double squared = Square(d.da) + Square(d.db) - Square(d.dC);
  const double size = squared > 0.0 ? std::sqrt(squared) : 0.0;
  d.dH = cross < 0.0 ? -size : size;
  if (std::isnan(squared)) d.dH = squared;
  return d;
}

double DeltaE76(const Lab& reference, const Lab& sample) {
  return std::sqrt(Square(sample.l - reference.l) + Square(sample.a - reference.a) +
                   Square(sample.b - reference.b));
}

double DeltaE94(const Lab& reference, const Lab& sample, const Weights& weights) {
  const LabComponents d = Components(reference, sample);
  const double c1 = Chroma(reference);
  const double sc = 1.0 + 0.045 * c1;
  const double sh = 1.0 + 0.015 * c1;
  return std::sqrt(Square(d.dL / weights.kL) + Square(d.dC / (weights.kC * sc)) +
                   Square(d.dH / (weights.kH * sh)));
}

double DeltaECmc(const Lab& reference, const Lab& sample, double lightness, double chroma) {
  const LabComponents d = Components(reference, sample);
  const double l1 = reference.l;
  const double c1 = Chroma(reference);
  const double h1 = HueDegrees(reference.a, reference.b);
  const double sl = l1 < 16.0 ? 0.511 : 0.040975 * l1 / (1.0 + 0.01765 * l1);
  const double sc = 0.0638 * c1 / (1.0 + 0.0131 * c1) + 0.638;
  const double c4 = Square(Square(c1));
  const double f = std::sqrt(c4 / (c4 + 1900.0));
  const double t = (h1 >= 164.0 && h1 <= 345.0)
                       ? 0.56 + std::abs(0.2 * std::cos(Radians(h1 + 168.0)))
                       : 0.36 + std::abs(0.4 * std::cos(Radians(h1 + 35.0)));
  const double sh = sc * (f * t + 1.0 - f);
  return std::sqrt(Square(d.dL / (lightness * sl)) + Square(d.dC / (chroma * sc)) +
                   Square(d.dH / sh));
}

double DeltaE2000(const Lab& reference, const Lab& sample, const Weights& weights) {
  const double cMean = (Chroma(reference) + Chroma(sample)) / 2.0;
  const double c7 = std::pow(cMean, 7.0);
  const double g = 0.5 * (1.0 - std::sqrt(c7 / (c7 + std::pow(25.0, 7.0))));
  const double a1 = (1.0 + g) * reference.a;
  const double a2 = (1.0 + g) * sample.a;
  const double c1 = std::hypot(a1, reference.b);
  const double c2 = std::hypot(a2, sample.b);
  const double h1 = HueDegrees(a1, reference.b);
  const double h2 = HueDegrees(a2, sample.b);

  const double dL = sample.l - reference.l;
  const double dC = c2 - c1;
  // Colours exactly opposite in hue sit on the boundary of the formula's
  // cases (|h1 - h2| = 180). Rounding of the hue angles, which differs with
  // the floating-point unit (x87 on 32-bit Windows), must not move them to
  // the other case: within kHueSlack of 180 counts as 180.
  constexpr double kHueSlack = 1e-9;
  double dh = 0.0;
  if (c1 * c2 != 0.0) {
    dh = h2 - h1;
    if (dh > 180.0 + kHueSlack) dh -= 360.0;
    if (dh < -180.0 - kHueSlack) dh += 360.0;
  }
  const double dH = 2.0 * std::sqrt(c1 * c2) * std::sin(Radians(dh / 2.0));

  const double lMean = (reference.l + sample.l) / 2.0;
  const double cMeanPrime = (c1 + c2) / 2.0;
  double hMean = h1 + h2;
  if (c1 * c2 != 0.0) {
    if (std::abs(h1 - h2) <= 180.0 + kHueSlack) {
      hMean /= 2.0;
    } else if (h1 + h2 < 360.0) {
      hMean = (hMean + 360.0) / 2.0;
    } else {
      hMean = (hMean - 360.0) / 2.0;
    }
  }
  const double t =
      1.0 - 0.17 * std::cos(Radians(hMean - 30.0)) + 0.24 * std::cos(Radians(2.0 * hMean)) +
      0.32 * std::cos(Radians(3.0 * hMean + 6.0)) - 0.20 * std::cos(Radians(4.0 * hMean - 63.0));
  const double dTheta = 30.0 * std::exp(-Square((hMean - 275.0) / 25.0));
  const double cMean7 = std::pow(cMeanPrime, 7.0);
  const double rc = 2.0 * std::sqrt(cMean7 / (cMean7 + std::pow(25.0, 7.0)));
  const double sl = 1.0 + 0.015 * Square(lMean - 50.0) / std::sqrt(20.0 + Square(lMean - 50.0));
  const double sc = 1.0 + 0.045 * cMeanPrime;
  const double sh = 1.0 + 0.015 * cMeanPrime * t;
  const double rt = -std::sin(Radians(2.0 * dTheta)) * rc;

  const double lTerm = dL / (weights.kL * sl);
  const double cTerm = dC / (weights.kC * sc);
  const double hTerm = dH / (weights.kH * sh);
  return std::sqrt(Square(lTerm) + Square(cTerm) + Square(hTerm) + rt * cTerm * hTerm);
}

std::optional<Formula> ParseFormula(std::string_view name) {
  if (name == "de2000") return Formula::kDe2000;
  if (name == "de94") return Formula::kDe94;
  if (name == "cmc") return Formula::kCmc;
  if (name == "de76") return Formula::kDe76;
  return std::nullopt;
}

const char* FormulaName(Formula formula) {
  switch (formula) {
    case Formula::kDe2000:
      return "de2000";
    case Formula::kDe94:
      return "de94";
    case Formula::kCmc:
      return "cmc";
    case Formula::kDe76:
      return "de76";
  }
  return "de2000";
}

const char* FormulaLabel(Formula formula) {
  switch (formula) {
    case Formula::kDe2000:
      return "dE00";
    case Formula::kDe94:
      return "dE94";
    case Formula::kCmc:
      return "dECMC(2:1)";
    case Formula::kDe76:
      return "dE76";
  }
  return "dE00";
}

double DeltaE(Formula formula, const Lab& reference, const Lab& sample) {
  switch (formula) {
    case Formula::kDe2000:
      return DeltaE2000(reference, sample);
    case Formula::kDe94:
      return DeltaE94(reference, sample);
    case Formula::kCmc:
      return DeltaECmc(reference, sample);
    case Formula::kDe76:
      return DeltaE76(reference, sample);
  }
  return DeltaE2000(reference, sample);
}

std::optional<double> FlopIndex(double l15, double l45, double l110) {
  if (!std::isfinite(l15) || !std::isfinite(l45) || !std::isfinite(l110) || l45 <= 0.0) {
    return std::nullopt;
  }
  const double travel = l15 > l110 ? l15 - l110 : 0.0;
  return 2.69 * std::pow(travel, 1.11) / std::pow(l45, 0.86);
}

}  // namespace colour
