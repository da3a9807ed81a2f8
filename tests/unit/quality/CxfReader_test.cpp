// The CxF3 reader of compare: our own files read back, files in other
// styles, and input it must refuse without crashing.
#include "client/quality/CxfReader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "client/export/CxfWriter.h"
#include "client/export/ResultGeometry.h"
#include "unit/export/ExportTestData.h"

namespace vantorel::quality {
namespace {

TEST(CxfReaderTest, ReadsOurOwnDocumentBackGeometryByGeometry) {
  const VantorelMeasurementsFull full = exporttest::MakeFull();
  const SideRead read =
      ReadCxfText(exporter::ToCxf(exporttest::MakeRequest(full, exporttest::kHostileJob)), "ours");
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_TRUE(read.warnings.empty());
  const auto expected = exporter::MeasuredGeometries(&full);
  ASSERT_EQ(read.side.values.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].geometry.name);
    EXPECT_EQ(read.side.values[i].geometry, expected[i].geometry.name);
    // Written with four decimals.
    EXPECT_NEAR(read.side.values[i].lab.l, expected[i].values->lab[0], 5e-5);
    EXPECT_NEAR(read.side.values[i].lab.a, expected[i].values->lab[1], 5e-5);
    EXPECT_NEAR(read.side.values[i].lab.b, expected[i].values->lab[2], 5e-5);
  }
}

// A specification with one BRDFAngle; `angles` is its inside.
std::string Spec(const std::string& id, const std::string& brdf) {
  return "<ColorSpecification Id=\"" + id +
         "\"><MeasurementSpec><MeasurementType>Colorimetric_Reflectance</MeasurementType>"
         "<GeometryChoice><MultiAngle>" +
         brdf + "</MultiAngle></GeometryChoice></MeasurementSpec></ColorSpecification>";
}

std::string Object(const std::string& name, const std::string& spec, const std::string& lab) {
  return "<Object ObjectType=\"Target\" Name=\"" + name + "\" Id=\"o-" + spec +
         "\"><ColorValues><ColorSRGB ColorSpecification=\"" + spec +
         "\"><R>1</R><G>2</G><B>3</B></ColorSRGB><ColorCIELab ColorSpecification=\"" + spec +
         "\">" + lab + "</ColorCIELab></ColorValues></Object>";
}

std::string Document(const std::string& objects, const std::string& specs) {
  return "<?xml version=\"1.0\"?>\n<!-- written elsewhere -->\n"
         "<CxF xmlns=\"http://colorexchangeformat.com/CxF3-core\"><Resources>"
         "<ObjectCollection>" +
         objects + "</ObjectCollection><ColorSpecificationCollection>" + specs +
         "</ColorSpecificationCollection></Resources></CxF>";
}

TEST(CxfReaderTest, ReadsOtherStylesByTheirAngles) {
  const std::string doc = Document(
      Object("P &amp; Q 15", "s15", "<L> 80.5 </L><A>+1.25</A><B>-2e1</B>") +
          Object("P 45", "s45", "<L>50</L><A>0</A><B>3</B>") +
          Object("old style", "old", "<L>40</L><A>1</A><B>2</B>") +
          Object("odd angle", "odd", "<L>30</L><A>1</A><B>2</B>"),
      Spec("s15",
           "<BRDFAngle Notation=\"45as15\"><IlluminationAngle>45</IlluminationAngle>"
           "<Aspecular>15</Aspecular><Azimuth>0</Azimuth></BRDFAngle>") +
          Spec("s45",
               "<BRDFAngle Notation=\"x\"><IlluminationAngle>45.0</IlluminationAngle>"
               "<Aspecular>45</Aspecular></BRDFAngle>") +
          Spec("old", "<BRDFAngle IlluminationAngle=\"15\" Aspecular=\"-45\" Notation=\"n\"/>") +
          Spec("odd",
               "<BRDFAngle Notation=\"r45as22.5\"><IlluminationAngle>45</IlluminationAngle>"
               "<Aspecular>22.5</Aspecular></BRDFAngle>"));
  const SideRead read = ReadCxfText(doc, "foreign.cxf");
  ASSERT_TRUE(read.ok) << read.error;
  ASSERT_EQ(read.side.values.size(), 4u);
  EXPECT_EQ(read.side.values[0].geometry, "r45as15");
  EXPECT_DOUBLE_EQ(read.side.values[0].lab.l, 80.5);
  EXPECT_DOUBLE_EQ(read.side.values[0].lab.a, 1.25);
  EXPECT_DOUBLE_EQ(read.side.values[0].lab.b, -20.0);
  EXPECT_EQ(read.side.values[1].geometry, "r45as45");
  EXPECT_EQ(read.side.values[2].geometry, "r15as-45");
  EXPECT_EQ(read.side.values[3].geometry, "r45as22.5");
  EXPECT_EQ(read.side.kind, "CxF3 file");
}

TEST(CxfReaderTest, RefusesWhatItCannotUseWithAReason) {
  const std::string one =
      "<BRDFAngle Notation=\"a\"><IlluminationAngle>45</IlluminationAngle>"
      "<Aspecular>45</Aspecular></BRDFAngle>";
  const std::string lab = "<L>50</L><A>0</A><B>0</B>";
  struct Case {
    std::string text;
    const char* error;
    std::size_t warnings;
  };
  const Case cases[] = {
      {"", "in.cxf is not a CxF file (it is empty)", 0},
      {" {\"format\": \"vantorel-result\"}", "is not a CxF file (it holds JSON", 0},
      {"CGATS.17", "is not a CxF file (it is not XML)", 0},
      {"<CxF><Resources>", "not well-formed", 0},
      {"<svg/>", "not a CxF3 document", 0},
      {[] {
         std::string deep;
         for (int i = 0; i < 100000; ++i) deep += "<a>";
         return deep;
       }(),
       "nests its elements too deeply", 0},
      {Document(Object("x", "s", lab), Spec("s", one + one)), "no ColorCIELab values", 1},
      {Document(Object("x", "none", lab), Spec("s", one)), "no ColorCIELab values", 1},
      {Document(Object("x", "s", "<L>50</L><A>0</A>"), Spec("s", one)), "no ColorCIELab", 1},
      {Document(Object("x", "s", lab) + Object("y", "s", lab), Spec("s", one)),
       "more than one L*a*b* value for geometry r45as45", 0},
      {Document(Object("x", "s", "<L>NaN</L><A>0</A><B>0</B>"), Spec("s", one)), "no ColorCIELab",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    const SideRead read = ReadCxfText(c.text, "in.cxf");
    EXPECT_FALSE(read.ok);
    EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
    EXPECT_NE(read.error.find("in.cxf"), std::string::npos) << read.error;
    EXPECT_EQ(read.warnings.size(), c.warnings);
  }
}

// Files written by other programs hold values per patch, not per geometry:
// each is refused with a message, never read as something else.
TEST(CxfReaderTest, RefusesEverySampleWrittenElsewhereCleanly) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VANTOREL_CXF_SAMPLES)) {
    SCOPED_TRACE(entry.path().filename().string());
    const SideRead read = ReadCxfFile(entry.path(), entry.path().filename().string());
    EXPECT_FALSE(read.ok);
    EXPECT_NE(read.error.find(entry.path().filename().string()), std::string::npos);
    ++files;
  }
  EXPECT_GE(files, 9);
  const SideRead missing = ReadCxfFile("no/such/file.cxf", "missing");
  EXPECT_FALSE(missing.ok);
  EXPECT_FALSE(missing.error.empty());
}

}  // namespace
}  // namespace vantorel::quality
