// The files and pages made from stored records: the trend of a standard
// (trend.csv, trend.svg) and the report page of one comparison.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "client/quality/ComparisonRecord.h"
#include "client/quality/ReportPage.h"
#include "client/quality/TrendFiles.h"
#include "rapidxml/rapidxml.hpp"
#include "unit/export/ExportTestData.h"

namespace vantorel::quality {
namespace {

const std::string kHostile = "Gr\u00fcn \u2602 <&\"'>";

records::TrendPoint Point(std::int64_t id, std::string time, int version,
                          std::vector<records::TrendValue> values) {
  records::TrendPoint p;
  p.comparison = id;
  p.time = std::move(time);
  p.version = version;
  p.batchSource = "job:B" + std::to_string(id);
  p.passed = true;
  for (const auto& v : values) p.passed = p.passed && v.status != "fail";
  p.values = std::move(values);
  return p;
}

// Three comparisons: the standard's version (and the tolerance) changes
// before the third, the second fails, the first has r45as15 on one side only.
std::vector<records::TrendPoint> Trend() {
  std::vector<records::TrendPoint> points = {
      Point(7, "2026-01-05T08:00:00Z", 1,
            {{"r45as45", 0.4, 1.0, "pass"}, {"r45as15", std::nullopt, 1.0, "only in standard"}}),
      Point(9, "2026-02-01T09:30:00Z", 1, {{"r45as45", 1.25, 1.0, "fail"}}),
      Point(12, "2026-03-11T10:00:00Z", 2,
            {{"r45as45", 1.25, 1.5, "pass"}, {kHostile, 0.5, 1, "pass"}}),
  };
  points[1].job = "a,\"b\"\nc";
  return points;
}

// Parses in place; `text` ends in '\0' as a std::string does.
bool WellFormed(std::string text) {
  rapidxml::xml_document<char> document;
  try {
    document.parse<0>(text.data());
  } catch (const rapidxml::parse_error&) {
    return false;
  }
  return true;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(TrendFilesTest, CsvQuotesTextAndLeavesAbsentValuesEmpty) {
  const std::string csv = TrendCsv(Trend());
  const std::vector<std::string> expected = {
      "comparison,time,version,batch,geometry,deltaE,tolerance,status",
      "7,2026-01-05T08:00:00Z,1,job:B7,r45as45,0.4000,1.0000,pass",
      "7,2026-01-05T08:00:00Z,1,job:B7,r45as15,,1.0000,only in standard",
      "9,2026-02-01T09:30:00Z,1,\"a,\"\"b\"\"\nc\",r45as45,1.2500,1.0000,fail",
      "12,2026-03-11T10:00:00Z,2,job:B12,r45as45,1.2500,1.5000,pass",
      "12,2026-03-11T10:00:00Z,2,job:B12,\"Gr\u00fcn \u2602 <&\"\"'>\",0.5000,1.0000,pass",
  };
  std::string joined;
  for (const std::string& line : expected) joined += line + "\n";
  EXPECT_EQ(csv, joined);
  EXPECT_EQ(TrendCsv({}), expected[0] + "\n");
}

TEST(TrendFilesTest, SvgIsWellFormedAndMarksFailuresAndVersions) {
  const std::string svg = TrendSvg(Trend(), kHostile, "dE00");
  EXPECT_TRUE(WellFormed(svg));
  const std::string escaped = "Gr\u00fcn \u2602 &lt;&amp;&quot;&apos;&gt;";
  EXPECT_NE(svg.find("\u0394E trend: " + escaped), std::string::npos);  // title
  EXPECT_NE(svg.find(">" + escaped + "</text>"), std::string::npos);    // a geometry's panel
  EXPECT_EQ(svg.find(kHostile), std::string::npos);
  // One point outside tolerance (#9); #12 has the same ΔE but a wider one.
  EXPECT_EQ(Count(svg, "class=\"outside\""), 1);
  EXPECT_EQ(Count(svg, "class=\"within\""), 3);
  EXPECT_NE(svg.find("<title>#9 "), std::string::npos);
  // The version marker, in each of the three panels.
  EXPECT_EQ(Count(svg, ">v2</text>"), 3);
  EXPECT_EQ(Count(svg, "class=\"tolerance\""), 3);

  for (const auto& points :
       {std::vector<records::TrendPoint>{}, std::vector<records::TrendPoint>{Trend()[1]}}) {
    EXPECT_TRUE(WellFormed(TrendSvg(points, "x", "dE00")));
  }
}

TEST(TrendFilesTest, FolderHoldsBothFilesAndIsReplacedOnlyWhenForced) {
  exporttest::TempDir dir;
  const auto target = dir.path() / "trend";
  const exporter::ExportResult first = WriteTrendFolder(target, "csv", "svg", false);
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_EQ(first.files, (std::vector<std::string>{"trend.csv", "trend.svg"}));
  EXPECT_EQ(exporttest::ReadFile(target / "trend.svg"), "svg");
  EXPECT_FALSE(WriteTrendFolder(target, "csv2", "svg2", false).ok);
  ASSERT_TRUE(WriteTrendFolder(target, "csv2", "svg2", true).ok);
  EXPECT_EQ(exporttest::ReadFile(target / "trend.csv"), "csv2");
}

records::ComparisonRecord TwoGeometries(bool passed) {
  records::ComparisonRecord c;
  c.id = 42;
  c.time = "2026-03-11T10:00:00Z";
  c.standardName = "Blue";
  c.standardVersion = 2;
  c.standardSource = "std:Blue";
  c.batchRecord = 17;
  c.batchSource = "#17";
  c.formula = "de2000";
  c.overrides = "{\"tolerance\":1.5}";
  c.passed = passed;
  c.standardFlop = 11.234;
  records::ComparisonRowRecord a;
  a.geometry = "r45as45";
  a.status = passed ? "pass" : "fail";
  a.tolerance = 1.0;
  a.standardLab = records::Lab3{50, 10, -20};
  a.batchLab = records::Lab3{51, 10.5, -20};
  a.dL = 1;
  a.da = 0.5;
  a.db = 0;
  a.dC = 0.2;
  a.dH = -0.4;
  a.deltaE = passed ? 0.81234 : 1.3;
  records::ComparisonRowRecord b;
  b.geometry = "r45as110";
  b.status = "only in standard";
  b.tolerance = 1.5;
  b.standardLab = records::Lab3{30, 5, -10};
  c.rows = {a, b};
  return c;
}

TEST(ReportPageTest, PageIsSelfContainedEscapedAndShowsTheVerdict) {
  records::StandardRecord standard;
  standard.name = "<script>alert(1)</script>";
  standard.version = 2;
  standard.note = kHostile;
  standard.tolerances = {{"*", 1.0}};
  records::MeasurementRecord batch;
  batch.job = "B&1";
  batch.sampleCount = 3;
  batch.spread = {{"r45as45", {}, {0.1, 0.2, std::nullopt}, {}}};
  for (bool passed : {false, true}) {
    SCOPED_TRACE(passed);
    const records::ComparisonRecord record = TwoGeometries(passed);
    for (const ReportInput& input : {ReportInput{record, &standard, &batch}, ReportInput{record}}) {
      const std::string html = ReportHtml(input);
      EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
      EXPECT_EQ(html.find("<script"), std::string::npos);
      const std::regex outside(R"((https?:|src\s*=|href\s*=|@import|url\((?!#)))",
                               std::regex::icase);
      EXPECT_FALSE(std::regex_search(html, outside));
      EXPECT_NE(html.find(passed ? ">PASS</div>" : ">FAIL</div>"), std::string::npos);
      EXPECT_EQ(html.find(passed ? "FAIL" : "PASS"), std::string::npos);
      EXPECT_NE(html.find("#42"), std::string::npos);
      // Each inline picture is well-formed on its own.
      int pictures = 0;
      for (auto at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) {
        const auto end = html.find("</svg>", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_TRUE(WellFormed(html.substr(at, end + 6 - at)));
        ++pictures;
      }
      EXPECT_EQ(pictures, 2);
    }
    const std::string html = ReportHtml({record, &standard, &batch});
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("Gr\u00fcn \u2602 &lt;&amp;&quot;&apos;&gt;"), std::string::npos);
    EXPECT_NE(html.find("mean of 3 samples"), std::string::npos);
  }
  records::ComparisonRecord unknown = TwoGeometries(true);
  unknown.formula = "de3000";
  EXPECT_FALSE(ComparisonFromRecord(unknown));
  EXPECT_EQ(ReportHtml({unknown}).find("<svg"), std::string::npos);
}

TEST(ReportPageTest, JsonCarriesTheComparisonsFacts) {
  const records::ComparisonRecord record = TwoGeometries(false);
  records::MeasurementRecord batch;
  batch.id = 17;
  batch.job = "B1";
  batch.make = "M";
  batch.time = "2026-03-10T09:00:00Z";
  batch.operatorName = "op";
  batch.sampleCount = 3;
  const nlohmann::json json = ReportJson({record, nullptr, &batch});
  EXPECT_EQ(json["comparison"], 42);
  EXPECT_EQ(json["time"], "2026-03-11T10:00:00Z");
  EXPECT_EQ(json["verdict"], "fail");
  EXPECT_EQ(json["formula"], "de2000");
  EXPECT_EQ(json["formulaLabel"], "dE00");
  EXPECT_EQ(json["overrides"], nlohmann::json::parse("{\"tolerance\":1.5}"));
  EXPECT_EQ(json["standard"],
            nlohmann::json::parse(R"({"name":"Blue","version":2,"note":null,"source":"std:Blue",
                                      "time":null,"tolerances":null})"));
  EXPECT_EQ(json["batch"], nlohmann::json::parse(R"({"record":17,"source":"#17","job":"B1",
      "make":"M","time":"2026-03-10T09:00:00Z","operator":"op","instrument":"","samples":3,
      "spread":[]})"));
  EXPECT_EQ(json["tolerances"], nlohmann::json::parse(R"([{"geometry":"r45as45","tolerance":1.0},
                                      {"geometry":"r45as110","tolerance":1.5}])"));
  EXPECT_EQ(json["geometries"], nlohmann::json::parse(R"([
      {"geometry":"r45as45","standard":[50.0,10.0,-20.0],"batch":[51.0,10.5,-20.0],"dL":1.0,
       "da":0.5,"db":0.0,"dC":0.2,"dH":-0.4,"deltaE":1.3,"tolerance":1.0,"status":"fail"},
      {"geometry":"r45as110","standard":[30.0,5.0,-10.0],"batch":null,"dL":null,"da":null,
       "db":null,"dC":null,"dH":null,"deltaE":null,"tolerance":1.5,"status":"only in standard"}
  ])"));
  EXPECT_EQ(json["flopIndex"], nlohmann::json::parse(R"({"standard":11.234,"batch":null})"));
}

}  // namespace
}  // namespace vantorel::quality
