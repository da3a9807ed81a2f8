// The virtual instrument's paints: a make's colour word gives the colour a
// person expects, its kind word the angular behaviour, and jobs of one make
// vary like production batches.
#include "sim/instrument/PaintModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>
#include <string>

#include "colour/Colorimetry.h"
#include "colour/ColourDifference.h"

namespace instrument::test {
namespace {

constexpr std::size_t kR45As15 = 6, kR45As45 = 8, kR45As110 = 10, kR15As15 = 2;

colour::Lab Measured(const std::string& job, const std::string& make, std::size_t g,
                     int sample = 0) {
  return colour::SpectrumToLab(MeasuredReflectance(job, make, sample, g));
}

double HueDegrees(const colour::Lab& lab) {
  const double h = std::atan2(lab.b, lab.a) * 180.0 / std::numbers::pi;
  return h < 0 ? h + 360.0 : h;
}

double Flop(const std::string& make) {
  return *colour::FlopIndex(Measured("Std", make, kR45As15).l, Measured("Std", make, kR45As45).l,
                            Measured("Std", make, kR45As110).l);
}

TEST(PaintModelTest, ColourWordsGiveTheColourTheyName) {
  // Ranges at r45as45: hue angle in degrees (none for neutrals), lightness,
  // chroma, and the flop index of the make's kind.
  struct Case {
    const char* make;
    double hueMin, hueMax, lMin, lMax, cMin, cMax, flopMin, flopMax;
  };
  const Case cases[] = {
      {"white", -1, -1, 85, 100, 0, 3, 0, 2},
      {"White solid", -1, -1, 85, 100, 0, 3, 0, 2},
      {"black", -1, -1, 0, 15, 0, 3, 0, 2},
      {"grey", -1, -1, 35, 65, 0, 3, 0, 2},
      {"Gray", -1, -1, 35, 65, 0, 3, 0, 2},
      {"silver", -1, -1, 50, 80, 0, 3, 10, 17},
      {"Silver metallic", -1, -1, 50, 80, 0, 3, 10, 17},
      {"red", 15, 50, 30, 60, 40, 100, 0, 2},
      {"orange", 45, 70, 50, 80, 40, 100, 0, 2},
      {"yellow", 80, 105, 75, 95, 40, 100, 0, 2},
      {"gold", 65, 95, 30, 70, 15, 60, 10, 17},
      {"green", 120, 180, 30, 70, 30, 100, 0, 2},
      {"blue", 240, 290, 25, 60, 30, 100, 0, 2},
      {"brown", 40, 75, 25, 50, 10, 40, 0, 2},
      {"beige", 60, 100, 75, 95, 5, 25, 0, 2},
      {"Blue metallic", 240, 290, 15, 45, 20, 100, 10, 20},
      {"red metallic", 15, 50, 15, 45, 20, 100, 10, 20},
      {"Pearl White", -1, -1, 80, 100, 0, 8, 2, 10},
      {"blue pearl", 240, 290, 25, 60, 30, 100, 2, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.make);
    const colour::Lab lab = Measured("Std", c.make, kR45As45);
    const double chroma = std::hypot(lab.a, lab.b);
    EXPECT_GE(lab.l, c.lMin);
    EXPECT_LE(lab.l, c.lMax);
    EXPECT_GE(chroma, c.cMin);
    EXPECT_LE(chroma, c.cMax);
    if (c.hueMin >= 0) {
      EXPECT_GE(HueDegrees(lab), c.hueMin);
      EXPECT_LE(HueDegrees(lab), c.hueMax);
    }
    const double flop = Flop(c.make);
    EXPECT_GE(flop, c.flopMin);
    EXPECT_LE(flop, c.flopMax);
  }
}

TEST(PaintModelTest, WordsAreMatchedWholeAndTheFirstColourWins) {
  struct Case {
    const char* make;
    ColourWord colour;
    PaintKind kind;
    bool named;
  };
  const Case cases[] = {
      {"BLUE-green", ColourWord::kBlue, PaintKind::kSolid, true},
      {"green, blue", ColourWord::kGreen, PaintKind::kSolid, true},
      {"Metallic red", ColourWord::kRed, PaintKind::kMetallic, true},
      {"gold solid", ColourWord::kGold, PaintKind::kSolid, true},
      {"silver", ColourWord::kSilver, PaintKind::kMetallic, true},
      {"grey pearl", ColourWord::kGrey, PaintKind::kPearl, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.make);
    const PaintChoice choice = ChoosePaint(c.make);
    EXPECT_EQ(choice.colour, c.colour);
    EXPECT_EQ(choice.kind, c.kind);
    EXPECT_EQ(choice.named, c.named);
  }
  // "Redwood" and "bluer" hold no colour word; bytes that are no letters
  // separate words.
  EXPECT_FALSE(ChoosePaint("Redwood bluer").named);
  EXPECT_TRUE(ChoosePaint(std::string("\xff\0red", 5)).named);
}

TEST(PaintModelTest, EveryPaintIsBrightestNearSpecularAndDeterministic) {
  std::set<int> colours;
  for (int m = 0; m < 40; ++m) {
    const std::string make = "Make " + std::to_string(m);
    SCOPED_TRACE(make);
    const Paint paint = PaintForMake(make);
    colours.insert(static_cast<int>(ChoosePaint(make).colour));
    const double nearL = colour::SpectrumToLab(PaintReflectance(paint, kR15As15)).l;
    const double midL = colour::SpectrumToLab(PaintReflectance(paint, kR45As45)).l;
    const double flopL = colour::SpectrumToLab(PaintReflectance(paint, kR45As110)).l;
    EXPECT_GT(nearL, midL);
    EXPECT_GT(midL, flopL);
    // Symmetric aspecular angles of one illumination look alike.
    EXPECT_EQ(PaintReflectance(paint, 1), PaintReflectance(paint, 2));  // r15as-15, r15as15
  }
  EXPECT_GE(colours.size(), 6u);  // makes without a colour word spread over the colours
  EXPECT_EQ(MeasuredReflectance("J", "M", 3, 4), MeasuredReflectance("J", "M", 3, 4));
  EXPECT_NE(MeasuredReflectance("J", "M", 3, 4), MeasuredReflectance("K", "M", 3, 4));
}

TEST(PaintModelTest, JobsOfOneMakeDifferLikeBatchesAndSamplesMuchLess) {
  for (const char* make : {"white", "black", "Silver metallic", "red", "blue", "Pearl White"}) {
    SCOPED_TRACE(make);
    const colour::Lab standard = Measured("Standard", make, kR45As45);
    double sum = 0, largest = 0;
    const char* batches[] = {"Batch 1", "Batch 2", "Batch 3", "Batch 4", "Batch 5", "Batch 6"};
    for (const char* batch : batches) {
      const double de = colour::DeltaE2000(standard, Measured(batch, make, kR45As45));
      sum += de;
      largest = std::max(largest, de);
    }
    const double mean = sum / std::size(batches);
    EXPECT_GE(mean, 0.2);
    EXPECT_LE(mean, 2.0);
    EXPECT_LE(largest, 3.0);
    double samples = 0;
    for (int s = 1; s < 5; ++s) {
      samples =
          std::max(samples, colour::DeltaE2000(standard, Measured("Standard", make, kR45As45, s)));
    }
    EXPECT_LT(samples, mean / 2.0);
  }
}

}  // namespace
}  // namespace instrument::test
