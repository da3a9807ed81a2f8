#include "colour/Colorimetry.h"

#include <array>
#include <cmath>

#include <gtest/gtest.h>

namespace colour {
namespace {

std::array<float, kSpectrumSize> Flat(float value) {
  std::array<float, kSpectrumSize> s;
  s.fill(value);
  return s;
}

TEST(Colorimetry, PerfectWhiteIsTheWhitePoint) {
  const auto white = Flat(1.0f);
  const Xyz xyz = SpectrumToXyz(white);
  const Xyz wp = WhitePoint();
  EXPECT_NEAR(xyz.y, 100.0, 1e-9);
  EXPECT_NEAR(xyz.x, wp.x, 1e-9);
  EXPECT_NEAR(xyz.z, wp.z, 1e-9);
  // Sums of S·x̄ and S·z̄ over the 31 table rows, done separately from the
  // raw package files: Xn = 94.7811, Zn = 107.3517 (the 10 degree D65 white).
  EXPECT_NEAR(wp.x, 94.7811, 1e-3);
  EXPECT_NEAR(wp.z, 107.3517, 1e-3);

  const Lab lab = SpectrumToLab(white);
  EXPECT_NEAR(lab.l, 100.0, 1e-9);
  EXPECT_NEAR(lab.a, 0.0, 1e-9);
  EXPECT_NEAR(lab.b, 0.0, 1e-9);

  const LinearRgb rgb = SpectrumToLinearSrgb(white);
  EXPECT_NEAR(rgb.r, 1.0, 1e-3);
  EXPECT_NEAR(rgb.g, 1.0, 1e-3);
  EXPECT_NEAR(rgb.b, 1.0, 1e-3);
}

TEST(Colorimetry, FlatGreysAreNeutralOnBothBranchesOfTheLightnessCurve) {
  // 18 %: L* = 116 · 0.18^(1/3) − 16 = 116 · 0.564622 − 16 = 49.4961.
  const Lab grey = SpectrumToLab(Flat(0.18f));
  EXPECT_NEAR(grey.l, 49.4961, 1e-3);
  EXPECT_NEAR(grey.a, 0.0, 1e-6);
  EXPECT_NEAR(grey.b, 0.0, 1e-6);
  const LinearRgb rgb = SpectrumToLinearSrgb(Flat(0.18f));
  EXPECT_NEAR(rgb.r, 0.18, 2e-4);
  EXPECT_NEAR(rgb.g, 0.18, 2e-4);
  EXPECT_NEAR(rgb.b, 0.18, 2e-4);

  // 0.5 % lies below (6/29)^3 = 0.008856, on the linear segment:
  // L* = 116 · (0.005 / (3 · (6/29)^2) + 4/29) − 16 = 903.296 · 0.005 = 4.5165.
  const Lab dark = SpectrumToLab(Flat(0.005f));
  EXPECT_NEAR(dark.l, 4.5165, 1e-3);
  EXPECT_NEAR(dark.a, 0.0, 1e-6);
  EXPECT_NEAR(dark.b, 0.0, 1e-6);

  const Lab black = SpectrumToLab(Flat(0.0f));
  EXPECT_NEAR(black.l, 0.0, 1e-9);
}

TEST(Colorimetry, RedStepMatchesHandComputation) {
  // Reflectance 1 from 600 nm to 700 nm, 0 below (a saturated red).
  // By hand from the tables (11 rows, 600..700 nm):
  //   Σ S·ȳ over all 31 rows = 11.616772, so k = 100 / 11.616772 = 8.608244
  //   Σ S·x̄ (600..700) = 4.043124  ->  X = 34.8042
  //   Σ S·ȳ (600..700) = 1.982491  ->  Y = 17.0658
  //   Σ S·z̄ (600..700) = 0 (z̄ is 0 from 560 nm on)  ->  Z = 0
  //   fx = (34.8042 / 94.7811)^(1/3) = 0.367206^(1/3) = 0.716094
  //   fy = 0.170658^(1/3) = 0.554679
  //   fz = 0 / (3 (6/29)^2) + 4/29 = 0.137931 (linear segment)
  //   L* = 116 · 0.554679 − 16 = 48.3428
  //   a* = 500 · (0.716094 − 0.554679) = 80.7073
  //   b* = 200 · (0.554679 − 0.137931) = 83.3496
  std::array<float, kSpectrumSize> red{};
  for (std::size_t i = 20; i < kSpectrumSize; ++i) red[i] = 1.0f;
  const Xyz xyz = SpectrumToXyz(red);
  EXPECT_NEAR(xyz.x, 34.8042, 1e-3);
  EXPECT_NEAR(xyz.y, 17.0658, 1e-3);
  EXPECT_NEAR(xyz.z, 0.0, 1e-9);
  const Lab lab = SpectrumToLab(red);
  EXPECT_NEAR(lab.l, 48.3428, 1e-3);
  EXPECT_NEAR(lab.a, 80.7073, 1e-3);
  EXPECT_NEAR(lab.b, 83.3496, 1e-3);

  // In linear sRGB the red dominates and the blue is out of gamut.
  const LinearRgb rgb = SpectrumToLinearSrgb(red);
  EXPECT_GT(rgb.r, 0.5);
  EXPECT_LT(rgb.g, 0.1);
  EXPECT_LT(rgb.b, 0.0);
  EXPECT_NEAR(Luminance(rgb), 0.170658, 2e-3);
}

}  // namespace
}  // namespace colour
