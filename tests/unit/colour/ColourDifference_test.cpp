// The colour-difference formulas against published data and hand-computed
// values, and the properties a QC report relies on.
#include "colour/ColourDifference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace colour {
namespace {

struct Pair {
  Lab reference;
  Lab sample;
  double expected;
};

// The 34 colour pairs with their CIEDE2000 differences from G. Sharma, W. Wu,
// E. N. Dalal, "The CIEDE2000 color-difference formula: implementation notes,
// supplementary test data, and mathematical observations", Color Research and
// Application 30(1), 2005, Table 1 (kL = kC = kH = 1). They exercise the mean
// hue and hue difference across 0/360 degrees, zero chroma and the blue
// rotation term; the published values have four decimals.
const Pair kSharma[] = {
    {{50.0000, 2.6772, -79.7751}, {50.0000, 0.0000, -82.7485}, 2.0425},
    {{50.0000, 3.1571, -77.2803}, {50.0000, 0.0000, -82.7485}, 2.8615},
    {{50.0000, 2.8361, -74.0200}, {50.0000, 0.0000, -82.7485}, 3.4412},
    {{50.0000, -1.3802, -84.2814}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, -1.1848, -84.8006}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, -0.9009, -85.5211}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, 0.0000, 0.0000}, {50.0000, -1.0000, 2.0000}, 2.3669},
    {{50.0000, -1.0000, 2.0000}, {50.0000, 0.0000, 0.0000}, 2.3669},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0009}, 7.1792},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0010}, 7.1792},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0011}, 7.2195},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0012}, 7.2195},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0009, -2.4900}, 4.8045},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0010, -2.4900}, 4.8045},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0011, -2.4900}, 4.7461},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 0.0000, -2.5000}, 4.3065},
    {{50.0000, 2.5000, 0.0000}, {73.0000, 25.0000, -18.0000}, 27.1492},
    {{50.0000, 2.5000, 0.0000}, {61.0000, -5.0000, 29.0000}, 22.8977},
    {{50.0000, 2.5000, 0.0000}, {56.0000, -27.0000, -3.0000}, 31.9030},
    {{50.0000, 2.5000, 0.0000}, {58.0000, 24.0000, 15.0000}, 19.4535},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.1736, 0.5854}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2972, 0.0000}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 1.8634, 0.5757}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2592, 0.3350}, 1.0000},
    {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
    {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, 1.2630},
    {{61.2901, 3.7196, -5.3901}, {61.4292, 2.2480, -4.9620}, 1.8731},
    {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, 1.8645},
    {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
    {{36.4612, 47.8580, 18.3852}, {36.2715, 50.5065, 21.2231}, 1.4146},
    {{90.8027, -2.0831, 1.4410}, {91.1528, -1.6435, 0.0447}, 1.4441},
    {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, 1.5381},
    {{6.7747, -0.2908, -2.4247}, {5.8714, -0.0985, -2.2286}, 0.6377},
    {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, 0.9082},
};

TEST(ColourDifferenceTest, De2000MatchesSharmaWuDalalInBothDirections) {
  int row = 1;
  for (const Pair& p : kSharma) {
    SCOPED_TRACE("Sharma pair " + std::to_string(row++));
    // Published to four decimals: within half a unit of the last place.
    EXPECT_NEAR(DeltaE2000(p.reference, p.sample), p.expected, 5e-5);
    EXPECT_NEAR(DeltaE2000(p.sample, p.reference), p.expected, 5e-5);
  }
}

// Values worked out by hand from the defining formulas: one term at a time,
// so a wrong weighting function shows as a wrong number.
TEST(ColourDifferenceTest, De94AndCmcMatchHandComputedTerms) {
  const Lab grey{50, 0, 0};
  const Lab red{50, 30, 0};
  const Lab blue{50, 0, -30};
  struct Case {
    const char* what;
    double value;
    double expected;
  };
  const Case cases[] = {
      {"94 lightness: SL = 1", DeltaE94(grey, {52, 0, 0}), 2.0},
      {"94 lightness, kL 2", DeltaE94(grey, {52, 0, 0}, {2, 1, 1}), 1.0},
      {"94 chroma: SC = 1 + 0.045 C1", DeltaE94(red, {50, 33, 0}), 3.0 / 2.35},
      {"94 chroma, kC 2", DeltaE94(red, {50, 33, 0}, {1, 2, 1}), 1.5 / 2.35},
      {"94 hue: SH = 1 + 0.015 C1", DeltaE94(red, {50, 30, 4}), 2.754855113302581},
      {"CMC 2:1 lightness, L 50", DeltaECmc(grey, {51, 0, 0}), 0.4594264795607077},
      {"CMC 1:1 lightness, L 50", DeltaECmc(grey, {51, 0, 0}, 1, 1), 0.9188529591214154},
      {"CMC lightness below L 16: SL 0.511", DeltaECmc({10, 0, 0}, {11, 0, 0}), 0.9784735812133072},
      {"CMC chroma", DeltaECmc(red, {50, 33, 0}), 1.4910441019376082},
      {"CMC hue outside 164..345", DeltaECmc(red, {50, 30, 4}), 2.8861553518867504},
      {"CMC hue inside 164..345", DeltaECmc(blue, {50, 4, -30}), 3.297515130926621},
      {"76", DeltaE76(grey, {53, 4, 0}), 5.0},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.value, c.expected, 1e-9) << c.what;
}

TEST(ColourDifferenceTest, ComponentsAddUpAndHueDifferenceCarriesTheDirection) {
  const Lab reference{50, 20, 10};
  for (const Lab& sample : {Lab{52, 18, 14}, Lab{47, 23, 6}, Lab{50, -20, -10}, Lab{50, 20, 10}}) {
    const LabComponents d = Components(reference, sample);
    EXPECT_NEAR(d.dL * d.dL + d.dC * d.dC + d.dH * d.dH, std::pow(DeltaE76(reference, sample), 2),
                1e-9);
    EXPECT_DOUBLE_EQ(d.da, sample.a - reference.a);
  }
  // Counter-clockwise (towards yellow from red) is positive, and the other way.
  EXPECT_GT(Components(reference, {50, 18, 14}).dH, 0.0);
  EXPECT_LT(Components(reference, {50, 23, 6}).dH, 0.0);
  EXPECT_NEAR(Components({50, 0, 0}, {50, 3, 4}).dC, 5.0, 1e-12);
}

TEST(ColourDifferenceTest, SymmetricFormulasAreSymmetricAndReferenceWeightedOnesAreNot) {
  const Lab a{40, 35, -12}, b{43, 28, -5};
  EXPECT_DOUBLE_EQ(DeltaE76(a, b), DeltaE76(b, a));
  EXPECT_NEAR(DeltaE2000(a, b), DeltaE2000(b, a), 1e-12);
  EXPECT_GT(std::abs(DeltaE94(a, b) - DeltaE94(b, a)), 1e-3);
  EXPECT_GT(std::abs(DeltaECmc(a, b) - DeltaECmc(b, a)), 1e-3);
  for (Formula f : {Formula::kDe2000, Formula::kDe94, Formula::kCmc, Formula::kDe76}) {
    EXPECT_NEAR(DeltaE(f, a, a), 0.0, 1e-12) << FormulaName(f);
    EXPECT_EQ(ParseFormula(FormulaName(f)), f);
  }
  EXPECT_EQ(DeltaE(Formula::kCmc, a, b), DeltaECmc(a, b, 2, 1));
  EXPECT_FALSE(ParseFormula("DE2000"));
  EXPECT_FALSE(ParseFormula(""));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(DeltaE2000(a, {nan, 0, 0})));
  EXPECT_TRUE(std::isnan(Components(a, {50, nan, 0}).dH));
}

TEST(ColourDifferenceTest, FlopIndexFollowsAlman) {
  // 2.69 * 80^1.11 / 50^0.86
  EXPECT_NEAR(*FlopIndex(100, 50, 20), 12.052245286794612, 1e-9);
  EXPECT_EQ(*FlopIndex(30, 30, 30), 0.0);
  EXPECT_EQ(*FlopIndex(20, 30, 40), 0.0);  // lighter at the flop: no travel
  EXPECT_FALSE(FlopIndex(100, 0, 20));
  EXPECT_FALSE(FlopIndex(std::numeric_limits<double>::infinity(), 50, 20));
}

}  // namespace
}  // namespace colour
