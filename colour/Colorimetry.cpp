#include "colour/Colorimetry.h"

#include <array>
#include <cmath>

namespace colour {
namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix m{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
    }
  }
  return m;
}

std::array<double, 3> Apply(const Matrix& m, double x, double y, double z) {
  return {m[0][0] * x + m[0][1] * y + m[0][2] * z, m[1][0] * x + m[1][1] * y + m[1][2] * z,
          m[2][0] * x + m[2][1] * y + m[2][2] * z};
}

// Σ S(λ) w(λ) ρ(λ); with ρ == nullptr the perfect diffuser (ρ = 1).
double WeightedSum(const SpectralTable& weight, const float* reflectance) {
  double sum = 0.0;
  for (std::size_t i = 0; i < kSpectrumSize; ++i) {
    const double rho = reflectance ? static_cast<double>(reflectance[i]) : 1.0;
    sum += kD65[i] * weight[i] * rho;
  }
  return sum;
}

double Normalisation() {
  static const double k = 100.0 / WeightedSum(kCmfY10, nullptr);
  return k;
}

double LabF(double t) {
  constexpr double delta = 6.0 / 29.0;
  if (t > delta * delta * delta) return std::cbrt(t);
  return t / (3.0 * delta * delta) + 4.0 / 29.0;
}

// XYZ (Y = 1 scale) relative to the tables' white -> linear sRGB. Built once:
// IEC sRGB matrix · Bradford⁻¹ · diag(sRGB white / table white in cone space)
// · Bradford.
const Matrix& XyzToSrgbMatrix() {
  static const Matrix m = [] {
    const Matrix bradford = {
        {{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    const Matrix bradfordInverse = {{{0.9869929, -0.1470543, 0.1599627},
                                     {0.4323053, 0.5183603, 0.0492912},
                                     {-0.0085287, 0.0400428, 0.9684867}}};
    const Matrix srgb = {
        {{3.2406, -1.5372, -0.4986}, {-0.9689, 1.8758, 0.0415}, {0.0557, -0.2040, 1.0570}}};
    const Xyz white = WhitePoint();
    const auto src = Apply(bradford, white.x / 100.0, white.y / 100.0, white.z / 100.0);
    const auto dst = Apply(bradford, 0.95047, 1.0, 1.08883);
    Matrix scale{};
    for (int i = 0; i < 3; ++i) scale[i][i] = dst[i] / src[i];
    return Multiply(srgb, Multiply(bradfordInverse, Multiply(scale, bradford)));
  }();
  return m;
}

}  // namespace

Xyz SpectrumToXyz(SpectrumView reflectance) {
  const double k = Normalisation();
  return {k * WeightedSum(kCmfX10, reflectance.data()),
          k * WeightedSum(kCmfY10, reflectance.data()),
          k * WeightedSum(kCmfZ10, reflectance.data())};
}

Xyz WhitePoint() {
  const double k = Normalisation();
  return {k * WeightedSum(kCmfX10, nullptr), 100.0, k * WeightedSum(kCmfZ10, nullptr)};
}

Lab XyzToLab(const Xyz& xyz) {
  const Xyz white = WhitePoint();
  const double fx = LabF(xyz.x / white.x);
  const double fy = LabF(xyz.y / white.y);
  const double fz = LabF(xyz.z / white.z);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

Lab SpectrumToLab(SpectrumView reflectance) { return XyzToLab(SpectrumToXyz(reflectance)); }

LinearRgb XyzToLinearSrgb(const Xyz& xyz) {
  const auto rgb = Apply(XyzToSrgbMatrix(), xyz.x / 100.0, xyz.y / 100.0, xyz.z / 100.0);
  return {rgb[0], rgb[1], rgb[2]};
}

LinearRgb SpectrumToLinearSrgb(SpectrumView reflectance) {
  return XyzToLinearSrgb(SpectrumToXyz(reflectance));
}

double Luminance(const LinearRgb& rgb) { return 0.2126 * rgb.r + 0.7152 * rgb.g + 0.0722 * rgb.b; }

}  // namespace colour
