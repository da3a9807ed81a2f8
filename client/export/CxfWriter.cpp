#include "client/export/CxfWriter.h"

#include <cmath>

#include "client/export/ResultGeometry.h"
#include "client/export/TextFormat.h"

namespace vantorel::exporter {

namespace {

// An xs:double rendering with a fixed number of decimals.
std::string XsdDouble(float value, int decimals) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  return FormatFixed(value, decimals);
}

std::string SpecificationId(const GeometryInfo& geometry) { return "cs-" + geometry.name; }

void AppendObject(std::string& out, const std::string& job, const std::string& created,
                  const MeasuredGeometry& entry) {
  const GeometryInfo& g = entry.geometry;
  const std::string spec = SpecificationId(g);
  out += "      <cc:Object ObjectType=\"Standard\" Name=\"" + XmlEscape(job + " " + g.name) +
         "\" Id=\"obj-" + g.name + "\">\n";
  out += "        <cc:CreationDate>" + created + "</cc:CreationDate>\n";
  out += "        <cc:ColorValues>\n";
  out += "          <cc:ReflectanceSpectrum ColorSpecification=\"" + spec + "\" StartWL=\"" +
         std::to_string(kFirstWavelengthNm) + "\">";
  bool first = true;
  for (float v : entry.values->spectrum) {
    if (!first) out += ' ';
    first = false;
    out += XsdDouble(v, 6);
  }
  out += "</cc:ReflectanceSpectrum>\n";
  out += "          <cc:ColorCIELab ColorSpecification=\"" + spec + "\">\n";
  out += "            <cc:L>" + XsdDouble(entry.values->lab[0], 4) + "</cc:L>\n";
  out += "            <cc:A>" + XsdDouble(entry.values->lab[1], 4) + "</cc:A>\n";
  out += "            <cc:B>" + XsdDouble(entry.values->lab[2], 4) + "</cc:B>\n";
  out += "          </cc:ColorCIELab>\n";
  out += "        </cc:ColorValues>\n";
  out += "      </cc:Object>\n";
}

void AppendSpecification(std::string& out, const GeometryInfo& g) {
  out += "      <cc:ColorSpecification Id=\"" + SpecificationId(g) + "\">\n";
  out += "        <cc:TristimulusSpec>\n";
  out += "          <cc:Illuminant>D65</cc:Illuminant>\n";
  out += "          <cc:Observer>10_Degree</cc:Observer>\n";
  // The instrument does not say which weighting tables it used.
  out += "          <cc:Method>unknown</cc:Method>\n";
  out += "        </cc:TristimulusSpec>\n";
  out += "        <cc:MeasurementSpec>\n";
  out += "          <cc:MeasurementType>Spectrum_Reflectance</cc:MeasurementType>\n";
  out += "          <cc:GeometryChoice>\n";
  out += "            <cc:MultiAngle>\n";
  // The schema wants the angles as elements, in this order, and the
  // geometry's name as the required Notation attribute.
  out += "              <cc:BRDFAngle Notation=\"" + XmlEscape(g.name) + "\">\n";
  out += "                <cc:IlluminationAngle>" + std::to_string(g.incidenceDeg) +
         "</cc:IlluminationAngle>\n";
  out += "                <cc:Aspecular>" + std::to_string(g.aspecularDeg) + "</cc:Aspecular>\n";
  out += "              </cc:BRDFAngle>\n";
  out += "            </cc:MultiAngle>\n";
  out += "          </cc:GeometryChoice>\n";
  out += "          <cc:WavelengthRange StartWL=\"" + std::to_string(kFirstWavelengthNm) +
         "\" Increment=\"" + std::to_string(kWavelengthStepNm) + "\"/>\n";
  out += "        </cc:MeasurementSpec>\n";
  out += "      </cc:ColorSpecification>\n";
}

}  // namespace

std::string ToCxf(const ExportRequest& request) {
  const std::string created =
      IsoUtcTime(request.created.value_or(std::chrono::system_clock::now()));
  const std::vector<MeasuredGeometry> geometries = MeasuredGeometries(request.data);
  std::string description = "Job " + request.job;
  if (request.sampleIndex) {
    description += ", sample " + std::to_string(*request.sampleIndex);
  } else if (const std::optional<std::size_t> count = SampleCountOf(request)) {
    description += ", mean of " + std::to_string(*count) + (*count == 1 ? " sample" : " samples");
  }

  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<cc:CxF xmlns:cc=\"http://colorexchangeformat.com/CxF3-core\">\n";
  out += "  <cc:FileInformation>\n";
  out += "    <cc:Creator>vantorelctl</cc:Creator>\n";
  out += "    <cc:CreationDate>" + created + "</cc:CreationDate>\n";
  out += "    <cc:Description>" + XmlEscape(description) + "</cc:Description>\n";
  out += "  </cc:FileInformation>\n";
  out += "  <cc:Resources>\n";
  out += "    <cc:ObjectCollection>\n";
  for (const MeasuredGeometry& entry : geometries) AppendObject(out, request.job, created, entry);
  out += "    </cc:ObjectCollection>\n";
  out += "    <cc:ColorSpecificationCollection>\n";
  for (const MeasuredGeometry& entry : geometries) AppendSpecification(out, entry.geometry);
  out += "    </cc:ColorSpecificationCollection>\n";
  out += "  </cc:Resources>\n";
  out += "</cc:CxF>\n";
  return out;
}

}  // namespace vantorel::exporter
