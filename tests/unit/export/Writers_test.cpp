#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>

#include "client/export/CsvWriter.h"
#include "client/export/CxfWriter.h"
#include "client/export/JsonWriter.h"
#include "client/export/SampleStatistics.h"
#include "client/export/SvgPlot.h"
#include "client/export/Ti3Writer.h"
#include "unit/export/ExportTestData.h"

namespace vantorel::exporter {
namespace {

using exporttest::MakeFull;
using exporttest::MakeRequest;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(JsonWriterTest, ParsesBackWithEveryValue) {
  const VantorelMeasurementsFull full = MakeFull();
  ExportRequest request = MakeRequest(full);
  request.result = 1002;
  request.sampleIndex = 3;
  const auto root = nlohmann::json::parse(ToJson(request));
  EXPECT_EQ(root["job"], "Blue metallic 7");
  EXPECT_EQ(root["result"], 1002);
  EXPECT_EQ(root["sample"], 3);
  EXPECT_EQ(root["created"], "2024-05-01T12:00:00Z");
  ASSERT_EQ(root["geometries"].size(), 11u);
  const auto& g = root["geometries"][5];  // key order: r45as-15 sixth
  const VantorelMeasurements& m = full.measurements.at(R45As_15);
  EXPECT_EQ(g["name"], "r45as-15");
  EXPECT_EQ(g["spectrumAngle"], 5);
  EXPECT_EQ(g["incidenceDeg"], 45);
  EXPECT_EQ(g["aspecularDeg"], -15);
  EXPECT_EQ(g["index"], m.index);
  ASSERT_EQ(g["reflectance"].size(), 31u);
  EXPECT_EQ(g["wavelengthsNm"][30], 700);
  for (std::size_t i = 0; i < 31; ++i) EXPECT_EQ(g["reflectance"][i].get<float>(), m.spectrum[i]);
  EXPECT_EQ(g["lab"]["b"].get<float>(), m.lab[2]);
  EXPECT_DOUBLE_EQ(g["texture"][6].get<double>(), full.images.at(R45As_15).texture.values[6]);
  EXPECT_TRUE(root["geometries"][0]["texture"].is_null());  // r15as-45 has no image
}

TEST(JsonWriterTest, SurvivesHostileNamesNonFiniteValuesAndForeignKeys) {
  VantorelMeasurementsFull full;
  VantorelMeasurements m = exporttest::MakeMeasurement(R45As45);
  m.spectrum[4] = kNaN;
  m.lab[1] = kInf;
  full.measurements[R45As45] = m;
  full.measurements[static_cast<SpectrumAngle>(77)] = m;
  const auto root = nlohmann::json::parse(ToJson(MakeRequest(full, exporttest::kHostileJob)));
  EXPECT_TRUE(root["sample"].is_null());
  EXPECT_NE(root["job"].get<std::string>().find("caf\xC3\xA9"), std::string::npos);
  ASSERT_EQ(root["geometries"].size(), 1u);
  EXPECT_TRUE(root["geometries"][0]["reflectance"][4].is_null());
  EXPECT_TRUE(root["geometries"][0]["lab"]["a"].is_null());
}

// Three samples of two geometries, one of them with a NaN in one sample.
SampleStatistics ThreeSamples() {
  SampleSpread spread;
  const float l[] = {50.0f, 51.0f, 53.0f};
  for (int i = 0; i < 3; ++i) {
    VantorelMeasurementsFull sample;
    VantorelMeasurements m{};
    m.lab = {l[i], -2.0f, i == 1 ? kNaN : 10.0f + static_cast<float>(i)};
    sample.measurements[R45As45] = m;
    if (i == 0) sample.measurements[R15As15] = m;
    sample.measurements[static_cast<SpectrumAngle>(40)] = m;  // unlisted: ignored
    spread.Add(sample);
  }
  return spread.Result();
}

TEST(SampleStatisticsTest, SpreadPerComponentOverTheFiniteValuesOfTheSamples) {
  const SampleStatistics stats = ThreeSamples();
  EXPECT_EQ(stats.sampleCount, 3u);
  ASSERT_EQ(stats.geometries.size(), 2u);
  EXPECT_EQ(stats.Find(static_cast<SpectrumAngle>(40)), nullptr);
  const LabSpread& g = *stats.Find(R45As45);
  // L*: 50, 51, 53 (mean 51.33); a*: constant; b*: 10 and 12, the NaN left out.
  const struct {
    std::optional<double> value, expected;
  } cases[] = {
      {g.stdev[0], std::sqrt(7.0 / 3.0)},
      {g.range[0], 3.0},
      {g.stdev[1], 0.0},
      {g.range[1], 0.0},
      {g.stdev[2], std::sqrt(2.0)},
      {g.range[2], 2.0},
      // One sample gives a range of 0 and no standard deviation.
      {stats.Find(R15As15)->stdev[0], std::nullopt},
      {stats.Find(R15As15)->range[0], 0.0},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(c.value.has_value(), c.expected.has_value());
    if (c.expected) {
      EXPECT_NEAR(*c.value, *c.expected, 1e-12);
    }
  }
}

// sampleCount, stdev and range as each kind of export states them.
TEST(SampleStatisticsTest, JsonAndLabTableStateTheSampleCountAndSpread) {
  const VantorelMeasurementsFull full = MakeFull();
  const SampleStatistics stats = ThreeSamples();
  ExportRequest combined = MakeRequest(full), single = MakeRequest(full), unread = combined;
  combined.statistics = &stats;
  single.statistics = &stats;  // ignored for a sample
  single.sampleIndex = 1;
  const struct {
    const ExportRequest* request;
    nlohmann::json count;
    bool spread;
    const char* labRow;  // r45as45 in lab.csv after its L*a*b*
  } cases[] = {
      {&combined, 3, true, ",3,1.5275,0.0000,1.4142,3.0000,0.0000,2.0000"},
      {&single, 1, false, ",1,,,,,,"},
      {&unread, nullptr, false, ",,,,,,,"},
  };
  for (const auto& c : cases) {
    const auto root = nlohmann::json::parse(ToJson(*c.request));
    EXPECT_EQ(root["version"], 2);
    EXPECT_EQ(root["sampleCount"], c.count);
    const auto& g = root["geometries"][8];
    ASSERT_EQ(g["name"], "r45as45");
    if (c.spread) {
      EXPECT_NEAR(g["stdev"]["L"].get<double>(), std::sqrt(7.0 / 3.0), 1e-12);
      EXPECT_EQ(g["range"]["b"], 2.0);
      EXPECT_TRUE(root["geometries"][2]["stdev"]["L"].is_null());  // r15as15: one value
      EXPECT_TRUE(root["geometries"][0]["range"].is_null());       // r15as-45: in no sample
    } else {
      EXPECT_TRUE(g["stdev"].is_null() && g["range"].is_null());
    }
    const std::vector<std::string> lab = Split(ToLabCsv(*c.request), '\n');
    EXPECT_EQ(lab[0], "geometry,L,a,b,samples,stdev_L,stdev_a,stdev_b,range_L,range_a,range_b");
    EXPECT_TRUE(lab[9].starts_with("r45as45,")) << lab[9];
    EXPECT_TRUE(lab[9].ends_with(c.labRow)) << lab[9];
    const std::string ti3 =
        ToTi3(*c.request, *DescribeGeometry(R45As45), full.measurements.at(R45As45));
    EXPECT_EQ(ti3.find("SAMPLE_COUNT \"3\"") != std::string::npos, c.spread);
  }
  EXPECT_NE(ToCxf(combined).find("Job Blue metallic 7, mean of 3 samples"), std::string::npos);
}

TEST(CsvWriterTest, TablesHaveOneRowPerGeometryAndOneColumnPerValue) {
  VantorelMeasurementsFull full = MakeFull();
  full.measurements[R45As75].spectrum[0] = kInf;
  full.measurements[R45As75].lab[2] = kNaN;
  const std::vector<std::string> spectra = Split(ToSpectraCsv(&full), '\n');
  ASSERT_EQ(spectra.size(), 13u);  // header, 11 rows, nothing after the last LF
  EXPECT_TRUE(spectra[0].starts_with("geometry,400,410,"));
  EXPECT_TRUE(spectra[0].ends_with(",690,700"));
  for (std::size_t row = 0; row < 12; ++row) EXPECT_EQ(Split(spectra[row], ',').size(), 32u);
  EXPECT_EQ(spectra[12], "");
  const std::vector<std::string> first = Split(spectra[1], ',');
  EXPECT_EQ(first[0], "r15as-45");
  EXPECT_NEAR(std::stod(first[16]), full.measurements[R15As_45].spectrum[15], 1e-6);
  EXPECT_EQ(Split(spectra[10], ',')[1], "");  // r45as75, infinite value

  const std::vector<std::string> lab = Split(ToLabCsv(MakeRequest(full)), '\n');
  ASSERT_EQ(lab.size(), 13u);
  const std::vector<std::string> row = Split(lab[4], ',');
  ASSERT_EQ(row.size(), 11u);
  EXPECT_EQ(row[0], "r15as45");
  EXPECT_NEAR(std::stod(row[1]), full.measurements[R15As45].lab[0], 1e-4);
  EXPECT_EQ(Split(lab[10], ',')[3], "");  // r45as75, NaN
}

// The numbers themselves are checked with spec2cie (ExternalTools_test).
TEST(Ti3WriterTest, KeepsQuotesBalancedAndSkipsNonFiniteSpectra) {
  const VantorelMeasurementsFull full = MakeFull();
  ExportRequest request = MakeRequest(full, "say \"cheese\"\nnow");
  request.sampleIndex = 2;
  VantorelMeasurements m = full.measurements.at(R15As_15);
  const std::string ti3 = ToTi3(request, *DescribeGeometry(R15As_15), m);
  EXPECT_NE(ti3.find("DESCRIPTOR \"say 'cheese' now r15as-15\"\n"), std::string::npos);
  EXPECT_NE(ti3.find("SAMPLE_INDEX \"2\"\n"), std::string::npos);
  for (const std::string& line : Split(ti3, '\n')) EXPECT_EQ(Count(line, "\"") % 2, 0u) << line;
  m.spectrum[30] = kNaN;
  EXPECT_EQ(ToTi3(request, *DescribeGeometry(R15As_15), m), "");
}

TEST(CxfWriterTest, TiesEachObjectToItsGeometrySpecification) {
  const VantorelMeasurementsFull full = MakeFull();
  const std::string cxf = ToCxf(MakeRequest(full));
  EXPECT_EQ(Count(cxf, "<cc:Object "), 11u);
  EXPECT_EQ(Count(cxf, "<cc:ColorSpecification "), 11u);
  EXPECT_EQ(Count(cxf, "ColorSpecification=\"cs-r45as-15\""), 2u);  // spectrum and Lab
  EXPECT_EQ(Count(cxf, "<cc:ColorSpecification Id=\"cs-r45as-15\">"), 1u);
  EXPECT_EQ(Count(cxf,
                  "<cc:BRDFAngle Notation=\"r45as-15\">\n"
                  "                <cc:IlluminationAngle>45</cc:IlluminationAngle>\n"
                  "                <cc:Aspecular>-15</cc:Aspecular>\n"),
            1u);
  EXPECT_EQ(Count(cxf, "<cc:Illuminant>D65</cc:Illuminant>"), 11u);
  EXPECT_EQ(Count(cxf, "<cc:Observer>10_Degree</cc:Observer>"), 11u);
  EXPECT_EQ(Count(cxf, "<cc:MeasurementType>Spectrum_Reflectance</cc:MeasurementType>"), 11u);
  // Factors, not percent: the glossy geometries peak below 3.
  const std::regex spectrum("<cc:ReflectanceSpectrum[^>]*>([^<]*)<");
  for (auto it = std::sregex_iterator(cxf.begin(), cxf.end(), spectrum);
       it != std::sregex_iterator(); ++it) {
    std::istringstream values((*it)[1].str());
    int n = 0;
    for (double v = 0; values >> v; ++n) EXPECT_LT(v, 3.0);
    EXPECT_EQ(n, 31);
  }
}

// The curves must stay inside the plot frame whatever the data range.
TEST(SvgPlotTest, CurvesStayInsideTheFrameAndEveryGeometryIsInTheLegend) {
  VantorelMeasurementsFull full = MakeFull();
  full.measurements[R15As15].spectrum[3] = -0.2f;
  full.measurements[R45As110].spectrum[20] = kNaN;
  const std::string svg = ToSvg(MakeRequest(full));
  std::smatch f;
  ASSERT_TRUE(
      std::regex_search(svg, f,
                        std::regex("<rect x=\"([0-9.]+)\" y=\"([0-9.]+)\" width=\"([0-9.]+)\" "
                                   "height=\"([0-9.]+)\" fill=\"none\"")));
  const double left = std::stod(f[1]), top = std::stod(f[2]);
  const double right = left + std::stod(f[3]), bottom = top + std::stod(f[4]);
  const std::regex path("<path d=\"([^\"]*)\""), point("[ML]([-0-9.]+) ([-0-9.]+)");
  int paths = 0, moves = 0;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), path); it != std::sregex_iterator();
       ++it, ++paths) {
    const std::string d = (*it)[1].str();
    for (auto p = std::sregex_iterator(d.begin(), d.end(), point); p != std::sregex_iterator();
         ++p) {
      const double x = std::stod((*p)[1]), y = std::stod((*p)[2]);
      EXPECT_TRUE(x >= left - 0.01 && x <= right + 0.01 && y >= top - 0.01 && y <= bottom + 0.01)
          << x << " " << y;
      moves += (*p)[0].str()[0] == 'M';
    }
  }
  EXPECT_EQ(paths, 11);
  EXPECT_EQ(moves, 12);  // the NaN splits one curve in two
  for (const MeasuredGeometry& g : MeasuredGeometries(&full)) {
    EXPECT_EQ(Count(svg, ">" + g.geometry.name + "</text>"), 1u) << g.geometry.name;
  }
  EXPECT_NE(svg.find("Reflectance spectra: Blue metallic 7"), std::string::npos);
  EXPECT_TRUE(std::regex_search(svg, std::regex(">-[0-9.]+</text>")));  // axis goes below 0
}

}  // namespace
}  // namespace vantorel::exporter
