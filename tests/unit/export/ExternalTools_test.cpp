// Checks the written files with the tools users read them with: Argyll's
// spec2cie for the CGATS files and xmllint for the XML files. Built natively
// only; a test whose tool is not installed is skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "client/export/CxfWriter.h"
#include "client/export/ResultGeometry.h"
#include "client/export/SvgPlot.h"
#include "client/export/Ti3Writer.h"
#include "unit/export/ExportTestData.h"

namespace vantorel::exporter {
namespace {

using exporttest::TempDir;

#if defined(VANTOREL_EXPORT_TOOL_TESTS)
bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// Runs `command`; returns its exit status and leaves its output in `output`.
int RunTool(const std::string& command, const std::filesystem::path& output) {
  return std::system((command + " >" + Quoted(output) + " 2>&1").c_str());
}
#define REQUIRE_TOOL(name) \
  if (!HaveTool(name)) GTEST_SKIP() << name << " is not installed"
#else
#define REQUIRE_TOOL(name) GTEST_SKIP() << "tool checks run in the native build only"
#endif

// The L*a*b* spec2cie computes from each geometry's file matches what the
// instrument reported (computed here from the same spectrum, D65/10°).
TEST(ExternalToolsTest, Spec2cieReadsEveryTi3AndAgreesWithTheReportedLab) {
  REQUIRE_TOOL("spec2cie");
#if defined(VANTOREL_EXPORT_TOOL_TESTS)
  TempDir dir;
  const VantorelMeasurementsFull full = exporttest::MakeFull();
  VantorelMeasurementsFull grey;
  VantorelMeasurements flat{};
  flat.spectrum.fill(0.18f);
  grey.measurements[R45As45] = flat;
  // Flat 18 % grey under the same white: L* 49.50, a* = b* = 0.
  const float greyLab[3] = {49.496f, 0.0f, 0.0f};

  for (const VantorelMeasurementsFull* data :
       {&full, static_cast<const VantorelMeasurementsFull*>(&grey)}) {
    const ExportRequest request = exporttest::MakeRequest(*data, exporttest::kHostileJob);
    for (const MeasuredGeometry& entry : MeasuredGeometries(data)) {
      SCOPED_TRACE(entry.geometry.name);
      const auto in = dir.path() / (entry.geometry.name + ".ti3");
      const auto out = dir.path() / (entry.geometry.name + "-cie.ti3");
      exporttest::WriteFile(in, ToTi3(request, entry.geometry, *entry.values));
      ASSERT_EQ(RunTool("spec2cie -n -i D65 -o 1964_10 " + Quoted(in) + " " + Quoted(out),
                        dir.path() / "log.txt"),
                0)
          << exporttest::ReadFile(dir.path() / "log.txt");

      std::istringstream text(exporttest::ReadFile(out));
      std::string line, fields, row;
      while (std::getline(text, line)) {
        if (line == "BEGIN_DATA_FORMAT") std::getline(text, fields);
        if (line == "BEGIN_DATA") std::getline(text, row);
      }
      std::istringstream names(fields), values(row);
      std::string name, value;
      int found = 0;
      while (names >> name && values >> value) {
        const float* lab = data == &grey ? greyLab : entry.values->lab.data();
        for (int c = 0; c < 3; ++c) {
          if (name == std::string("D65LAB_") + "LAB"[c]) {
            EXPECT_NEAR(std::stod(value), lab[c], 0.05) << name;
            ++found;
          }
        }
      }
      EXPECT_EQ(found, 3) << fields;
    }
  }
#endif
}

TEST(ExternalToolsTest, XmllintValidatesCxfAgainstTheSchemaAndAcceptsSvgWithAHostileJobName) {
  REQUIRE_TOOL("xmllint");
#if defined(VANTOREL_EXPORT_TOOL_TESTS)
  TempDir dir;
  const VantorelMeasurementsFull full = exporttest::MakeFull();
  ExportRequest request = exporttest::MakeRequest(full, exporttest::kHostileJob);
  request.sampleIndex = 4;
  const auto cxf = dir.path() / "result.cxf";
  const auto svg = dir.path() / "spectra.svg";
  const auto log = dir.path() / "log.txt";
  exporttest::WriteFile(cxf, ToCxf(request));
  exporttest::WriteFile(svg, ToSvg(request));
  // The official CxF3 core schema (3.0.018), not only well-formedness.
  EXPECT_EQ(
      RunTool("xmllint --noout --schema " + Quoted(VANTOREL_CXF_SCHEMA) + " " + Quoted(cxf), log),
      0)
      << exporttest::ReadFile(log);
  EXPECT_EQ(RunTool("xmllint --noout " + Quoted(svg), log), 0) << exporttest::ReadFile(log);

  // The name reads back as the (repaired) text that was given, not as markup;
  // XML turns the tab in an attribute value into a space.
  ASSERT_EQ(
      RunTool("xmllint --xpath 'string((//*[local-name()=\"Object\"])[1]/@Name)' " + Quoted(cxf),
              log),
      0);
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(exporttest::ReadFile(log), "</cc:Object>]]><!-- \"x\" & 'y' " + fffd + " tab here " +
                                           fffd + fffd + fffd + " caf\xC3\xA9 " + fffd + fffd +
                                           fffd + " r15as-45\n");
#endif
}

}  // namespace
}  // namespace vantorel::exporter
