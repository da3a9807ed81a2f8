#include "messages/VantorelMeasurement.h"

#include <gtest/gtest.h>

#include <string>

#include "messages/MeasurementGeometry.h"

namespace {

TEST(VantorelMeasurementTest, ListedNamesMapToTheirAngleAndBack) {
  const char* names[] = {"r15as-45", "r15as-15", "r15as15", "r15as45", "r15as80", "r45as-15",
                         "r45as15",  "r45as25",  "r45as45", "r45as75", "r45as110"};
  for (int i = 0; i < kSpectrumAngleCount; ++i) {
    const SpectrumAngle angle = static_cast<SpectrumAngle>(i);
    EXPECT_EQ(GeometryToAngle(names[i]), angle) << names[i];
    EXPECT_EQ(FindGeometry(names[i]), angle) << names[i];
    EXPECT_TRUE(IsListedGeometry(names[i])) << names[i];
    EXPECT_STREQ(AngleToGeometry(angle), names[i]);
    // The table's angles are the ones its names spell.
    const MeasurementGeometry& g = kMeasurementGeometries[static_cast<std::size_t>(i)];
    EXPECT_EQ("r" + std::to_string(g.illuminationDeg) + "as" + std::to_string(g.aspecularDeg),
              names[i]);
  }
  EXPECT_EQ(GeometryToAngle("r45as110"), R45As110);
  EXPECT_EQ(GeometryToAngle("r15as-45"), R15As_45);
  EXPECT_NE(GeometryToAngle("r15as-15"), GeometryToAngle("r15as15"));
}

TEST(VantorelMeasurementTest, UnlistedNamesFallBackToR15As15) {
  const std::string unlisted[] = {"R15AS15", "r15As15",  " r15as15",  "r15as15 ",
                                  "",        "r15as",    "r15as150",  "r45as-45",
                                  "r45as11", "r15as+15", "r15as15\n", std::string("r15as15\0", 8)};
  for (const std::string& name : unlisted) {
    EXPECT_EQ(GeometryToAngle(name), R15As15) << '"' << name << '"';
    EXPECT_FALSE(IsListedGeometry(name)) << '"' << name << '"';
    EXPECT_FALSE(FindGeometry(name).has_value()) << '"' << name << '"';
  }
}

TEST(VantorelMeasurementTest, UnlistedAngleHasNoName) {
  EXPECT_EQ(AngleToGeometry(static_cast<SpectrumAngle>(-1)), nullptr);
  EXPECT_EQ(AngleToGeometry(static_cast<SpectrumAngle>(11)), nullptr);
  EXPECT_FALSE(IsListedAngle(static_cast<SpectrumAngle>(11)));
  EXPECT_TRUE(IsListedAngle(R45As110));
}

}  // namespace
