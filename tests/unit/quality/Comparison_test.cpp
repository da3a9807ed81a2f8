// Comparing two sides, the tolerance file, the result-folder reader and the
// files of a QC folder.
#include "client/quality/Comparison.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <regex>

#include "client/export/ResultFolder.h"
#include "client/quality/QcFolder.h"
#include "client/quality/QcReport.h"
#include "client/quality/QcSvg.h"
#include "client/quality/ResultFolderReader.h"
#include "client/quality/Tolerances.h"
#include "nlohmann/json.hpp"
#include "rapidxml/rapidxml.hpp"
#include "unit/export/ExportTestData.h"

namespace vantorel::quality {
namespace {

QcSide Side(std::vector<GeometryLab> values) {
  QcSide side;
  side.source = "side";
  side.kind = "test";
  side.values = std::move(values);
  return side;
}

TEST(ComparisonTest, RowsFollowTheStandardAndListOneSidedGeometries) {
  const QcSide standard = Side({{"r45as15", {100, 0, 0}},
                                {"r45as45", {50, 10, 10}},
                                {"r45as110", {20, 0, 0}},
                                {"r15as15", {60, 0, 0}}});
  const QcSide batch = Side({{"zz", {1, 1, 1}},
                             {"r45as110", {20, 0, 3}},
                             {"r45as45", {52, 10, 10}},
                             {"r45as15", {100, 0, 0}}});
  Tolerances tolerances;
  tolerances.fallback = 2.5;
  tolerances.perGeometry["r45as110"] = 1.0;
  const Comparison c = Compare(standard, batch, colour::Formula::kDe76, tolerances);
  ASSERT_EQ(c.rows.size(), 5u);
  const std::vector<std::pair<std::string, RowStatus>> expected = {
      {"r45as15", RowStatus::kPass},
      {"r45as45", RowStatus::kPass},
      {"r45as110", RowStatus::kFail},
      {"r15as15", RowStatus::kOnlyStandard},
      {"zz", RowStatus::kOnlyBatch}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(c.rows[i].geometry, expected[i].first);
    EXPECT_EQ(c.rows[i].status, expected[i].second) << c.rows[i].geometry;
  }
  EXPECT_DOUBLE_EQ(c.rows[1].deltaE, 2.0);
  EXPECT_DOUBLE_EQ(c.rows[1].components.dL, 2.0);
  EXPECT_DOUBLE_EQ(c.rows[2].deltaE, 3.0);
  EXPECT_EQ(c.rows[2].tolerance, 1.0);
  EXPECT_EQ(c.compared, 3);
  EXPECT_EQ(c.failed, 1);
  EXPECT_FALSE(c.Passed());
  // 2.69 * 80^1.11 / 50^0.86, and / 52^0.86 for the lighter batch.
  EXPECT_NEAR(*c.standardFlop, 12.052245286794612, 1e-9);
  EXPECT_NEAR(*c.batchFlop, 11.652504787511829, 1e-9);
  EXPECT_FALSE(FlopIndexOf(Side({{"r45as45", {50, 0, 0}}})));

  // A tolerance equal to the difference passes; nothing in common never passes.
  tolerances.perGeometry["r45as110"] = 3.0;
  EXPECT_TRUE(Compare(standard, batch, colour::Formula::kDe76, tolerances).Passed());
  EXPECT_FALSE(Compare(standard, Side({}), colour::Formula::kDe76, tolerances).Passed());
}

TEST(ComparisonTest, ToleranceFilesAreParsedOrRefusedByLine) {
  Tolerances t;
  std::string error;
  ASSERT_TRUE(
      ParseTolerances("# dE00\n r45as15  2.0 \r\nr45as45,1\n\n*=1.5  # rest\n", "t.txt", t, error))
      << error;
  EXPECT_EQ(t.For("r45as15"), 2.0);
  EXPECT_EQ(t.For("r45as45"), 1.0);
  EXPECT_EQ(t.For("r15as15"), 1.5);
  ASSERT_TRUE(ParseTolerances("r15as-45 0.5", "t.txt", t, error)) << error;
  EXPECT_EQ(t.For("r45as45"), kDefaultTolerance);
  const std::pair<const char*, const char*> bad[] = {
      {"", "t.txt:1: the file holds no tolerance"},
      {"# only a comment\n\n", "t.txt:1: the file holds no tolerance"},
      {"r45as45", "t.txt:1: expected a geometry and a tolerance"},
      {"\nr45as45 1 2", "t.txt:2: expected"},
      {"r45as15x 2.0", "t.txt:1: \"r45as15x\" is not a geometry; the geometries are r15as-45,"},
      {"R15AS-15 2.0", "t.txt:1: \"R15AS-15\" is not a geometry"},
      {"r45as45 -1", "t.txt:1: \"-1\" is not a tolerance: give a number of 0 or more"},
      {"r45as45 nan", "is not a tolerance"},
      {"r45as45 1x", "is not a tolerance"},
      {"r45as45 1\nr45as45 2", "t.txt:2: r45as45 is given twice (first on line 1)"},
      {"* 1\n\n* 2", "t.txt:3: \"*\" is given twice"},
  };
  for (const auto& [text, message] : bad) {
    EXPECT_FALSE(ParseTolerances(text, "t.txt", t, error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST(ComparisonTest, ResultFoldersReadBackAndOtherFoldersAreRefused) {
  exporttest::TempDir dir;
  VantorelMeasurementsFull full = exporttest::MakeFull();
  full.measurements.at(R45As45).lab[1] = std::numeric_limits<float>::infinity();
  exporter::ExportRequest request = exporttest::MakeRequest(full);
  ASSERT_TRUE(exporter::WriteResultFolder(dir.path() / "r", request).ok);
  const SideRead read = ReadResultFolder(dir.path() / "r", "r");
  ASSERT_TRUE(read.ok) << read.error;
  ASSERT_EQ(read.side.values.size(), 10u);  // r45as45 is null in result.json
  ASSERT_EQ(read.warnings.size(), 1u);
  EXPECT_NE(read.warnings[0].find("r45as45"), std::string::npos);
  EXPECT_EQ(read.side.values[0].geometry, "r15as-45");
  EXPECT_FLOAT_EQ(static_cast<float>(read.side.values[0].lab.b),
                  full.measurements.at(R15As_45).lab[2]);

  // A folder of version 1 (no sampleCount, stdev, range) still reads.
  std::filesystem::create_directories(dir.path() / "v1");
  exporttest::WriteFile(dir.path() / "v1" / "result.json",
                        R"({"format": "vantorel-result", "version": 1, "sample": null,
                            "geometries": [{"name": "r45as45", "lab": {"L": 50, "a": 1, "b": -2}}]})");
  const SideRead v1 = ReadResultFolder(dir.path() / "v1", "v1");
  ASSERT_TRUE(v1.ok) << v1.error;
  EXPECT_EQ(v1.side.values.at(0).lab.b, -2.0);

  const std::pair<const char*, const char*> bad[] = {
      {nullptr, "is not a result folder"},
      {"[1, 2]", "is not a JSON object"},
      {"{\"format\": \"other\"}", "is not a vantorel result"},
      {"{\"format\": \"vantorel-result\", \"geometries\": []}", "holds no L*a*b* values"},
      {"{\"format\": \"vantorel-result\", \"geometries\": [{\"name\": \"g\", \"lab\": 3}]}",
       "without a name or L*a*b* value"},
  };
  int n = 0;
  for (const auto& [json, message] : bad) {
    const auto folder = dir.path() / ("bad" + std::to_string(n++));
    std::filesystem::create_directories(folder);
    if (json != nullptr) exporttest::WriteFile(folder / "result.json", json);
    const SideRead refused = ReadResultFolder(folder, "bad");
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find(message), std::string::npos) << refused.error;
  }
}

TEST(ComparisonTest, QcFolderHoldsJsonCsvAndWellFormedSvgForAnyGeometryName) {
  const std::string hostile = "a,\"<b>&";
  const Comparison c = Compare(Side({{"r45as45", {50, 1, 1}}, {hostile, {40, 0, 0}}}),
                               Side({{"r45as45", {50.5, 1, 1}}, {"only", {1, 2, 3}}}),
                               colour::Formula::kDe2000, Tolerances{});
  exporttest::TempDir dir;
  const exporter::ExportResult written = WriteQcFolder(dir.path() / "qc", c, false);
  ASSERT_TRUE(written.ok) << written.error;
  EXPECT_EQ(written.files, (std::vector<std::string>{"qc.json", "qc.csv", "qc.svg"}));
  EXPECT_FALSE(WriteQcFolder(dir.path() / "qc", c, false).ok);  // exists, not forced
  EXPECT_TRUE(WriteQcFolder(dir.path() / "qc", c, true).ok);    // an earlier QC folder

  const auto json = nlohmann::json::parse(exporttest::ReadFile(dir.path() / "qc" / "qc.json"));
  EXPECT_EQ(json["pass"], true);
  EXPECT_EQ(json["formula"], "de2000");
  EXPECT_EQ(json["geometries"].size(), 3u);
  EXPECT_EQ(json["onlyInStandard"][0], hostile);
  EXPECT_EQ(json["onlyInBatch"][0], "only");
  EXPECT_TRUE(json["geometries"][1]["dE"].is_null());

  const std::string csv = exporttest::ReadFile(dir.path() / "qc" / "qc.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "geometry,status,L_standard,a_standard,b_standard,L_batch,a_batch,b_batch,dL,da,db,"
            "dC,dH,dE,tolerance");
  EXPECT_NE(csv.find("\n\"a,\"\"<b>&\",only in standard,40.0000,0.0000,0.0000,,,,,,,,,,1.0000\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\nr45as45,pass,50.0000,1.0000,1.0000,50.5000,"), std::string::npos);

  std::string svg = ToQcSvg(c);
  EXPECT_EQ(svg, exporttest::ReadFile(dir.path() / "qc" / "qc.svg"));
  EXPECT_NE(svg.find("a,&quot;&lt;b&gt;&amp;"), std::string::npos);
  rapidxml::xml_document<char> document;
  // Parses in place (svg ends in '\0' as a std::string does).
  EXPECT_NO_THROW(document.parse<0>(svg.data()));
}

TEST(QcSvgTest, ToleranceContourReachesTheToleranceInEveryDirection) {
  const colour::Lab standard{50, 20, -40};
  for (colour::Formula formula : {colour::Formula::kDe2000, colour::Formula::kDe94,
                                  colour::Formula::kCmc, colour::Formula::kDe76}) {
    SCOPED_TRACE(colour::FormulaName(formula));
    const auto contour = ToleranceContour(formula, standard, 1.5, 36);
    ASSERT_EQ(contour.size(), 36u);
    double nearest = 1e9, farthest = 0;
    for (const auto& [da, db] : contour) {
      const colour::Lab at{standard.l, standard.a + da, standard.b + db};
      EXPECT_NEAR(colour::DeltaE(formula, standard, at), 1.5, 1e-6);
      nearest = std::min(nearest, std::hypot(da, db));
      farthest = std::max(farthest, std::hypot(da, db));
    }
    // dE76 draws a circle; the others are stretched along the chroma.
    if (formula == colour::Formula::kDe76) {
      EXPECT_NEAR(farthest - nearest, 0.0, 1e-6);
    } else {
      EXPECT_GT(farthest / nearest, 1.5);
    }
  }
  // At the batch's L*: what the lightness difference leaves of the tolerance.
  for (const double dL : {0.6, -0.6}) {
    const auto inner = ToleranceContour(colour::Formula::kDe2000, standard, 1.5, 12, dL);
    ASSERT_EQ(inner.size(), 12u);
    for (const auto& [da, db] : inner) {
      EXPECT_NEAR(colour::DeltaE(colour::Formula::kDe2000, standard,
                                 {standard.l + dL, standard.a + da, standard.b + db}),
                  1.5, 1e-6);
    }
  }
  EXPECT_TRUE(ToleranceContour(colour::Formula::kDe76, standard, 1.5, 12, 1.5).empty());
  EXPECT_TRUE(ToleranceContour(colour::Formula::kDe2000, standard, 0.0).empty());
  EXPECT_TRUE(ToleranceContour(colour::Formula::kDe2000, {50, NAN, 0}, 1.0).empty());
}

// In each a*b* panel the batch must stand clear of its standard even when
// the difference is small against the tolerance.
TEST(QcSvgTest, PanelsDrawASmallDifferenceWellApart) {
  const struct {
    colour::Lab standard, batch;
    double tolerance;
  } cases[] = {
      {{50, 20, -40}, {50, 20.3, -40}, 1.0},    // chromatic, dE00 far inside
      {{40, 0.5, -0.5}, {40, 0.5, -0.2}, 1.0},  // near grey
      {{50, 20, -40}, {50, 20.2, -39.8}, 5.0},  // a large tolerance
      {{50, 20, -40}, {51, 25, -47}, 1.0},      // far outside
  };
  const std::regex mark("class=\"(standard|batch)\" cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\"");
  for (const auto& c : cases) {
    Tolerances tolerances;
    tolerances.fallback = c.tolerance;
    const std::string svg =
        ToQcSvg(Compare(Side({{"r45as45", c.standard}}), Side({{"r45as45", c.batch}}),
                        colour::Formula::kDe2000, tolerances));
    std::vector<std::pair<double, double>> points;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), mark); it != std::sregex_iterator();
         ++it) {
      points.emplace_back(std::stod((*it)[2]), std::stod((*it)[3]));
    }
    ASSERT_EQ(points.size(), 2u);
    const double apart =
        std::hypot(points[1].first - points[0].first, points[1].second - points[0].second);
    EXPECT_GE(apart, 10.0) << c.batch.a << " " << c.batch.b;
    EXPECT_LE(apart, 66.0);  // inside the panel
    EXPECT_NE(svg.find("class=\"tolerance\""), std::string::npos);
  }
  // With nothing to tell apart the panel shows where the tolerance lies.
  const std::string same =
      ToQcSvg(Compare(Side({{"r45as45", {50, 20, -40}}}), Side({{"r45as45", {50, 20, -40}}}),
                      colour::Formula::kDe2000, Tolerances{}));
  EXPECT_EQ(same.find("tolerance outside"), std::string::npos);
}

}  // namespace
}  // namespace vantorel::quality
