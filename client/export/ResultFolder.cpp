#include "client/export/ResultFolder.h"

#include "client/export/CsvWriter.h"
#include "client/export/CxfWriter.h"
#include "client/export/JsonWriter.h"
#include "client/export/PngPreview.h"
#include "client/export/ResultGeometry.h"
#include "client/export/StagedFolder.h"
#include "client/export/SvgPlot.h"
#include "client/export/Ti3Writer.h"

namespace vantorel::exporter {

namespace {

std::string_view AsText(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

ExportResult WriteResultFolder(const std::filesystem::path& dir, const ExportRequest& input) {
  ExportResult result;
  if (input.data == nullptr) {
    result.error = "no measurement data to write";
    return result;
  }
  // One time stamp for every file of the folder.
  ExportRequest request = input;
  if (!request.created) request.created = std::chrono::system_clock::now();

  std::unique_ptr<StagedFolder> folder = StagedFolder::Begin(dir, request.force, result.error);
  if (!folder) return result;

  auto write = [&](const std::string& name, std::string_view bytes) {
    if (!folder->WriteFile(name, bytes, result.error)) return false;
    result.files.push_back(name);
    return true;
  };
  auto fail = [&]() {
    result.files.clear();
    return result;  // the staging folder goes with `folder`
  };

  if (const std::size_t unlisted = UnlistedKeyCount(*request.data); unlisted > 0) {
    result.warnings.push_back(std::to_string(unlisted) +
                              " record(s) of an unknown geometry were skipped");
  }
  if (!write("result.json", ToJson(request)) || !write("spectra.csv", ToSpectraCsv(request.data)) ||
      !write("lab.csv", ToLabCsv(request)) || !write("result.cxf", ToCxf(request)) ||
      !write("spectra.svg", ToSvg(request))) {
    return fail();
  }
  for (const MeasuredGeometry& entry : MeasuredGeometries(request.data)) {
    const std::string ti3 = ToTi3(request, entry.geometry, *entry.values);
    if (ti3.empty()) {
      result.warnings.push_back(entry.geometry.name +
                                ": the spectrum holds non-finite values; no .ti3 written");
      continue;
    }
    if (!write("cgats/" + entry.geometry.name + ".ti3", ti3)) return fail();
  }
  for (const auto& [angle, image] : request.data->images) {
    const std::optional<GeometryInfo> geometry = DescribeGeometry(angle);
    if (!geometry) continue;  // counted above
    if (image.exr.empty()) {
      result.warnings.push_back(geometry->name + ": no image data");
      continue;
    }
    const std::string stem = "images/" + geometry->name;
    if (!write(stem + ".exr", AsText(image.exr))) return fail();
    const std::optional<std::vector<std::uint8_t>> png = PngPreviewFromExr(image.exr);
    if (!png) {
      result.warnings.push_back(geometry->name + ": the image cannot be decoded; no preview");
      continue;
    }
    if (!write(stem + ".png", AsText(*png))) return fail();
  }
  std::vector<std::string> commitWarnings;
  if (!folder->Commit(result.error, commitWarnings)) return fail();
  result.warnings.insert(result.warnings.end(), commitWarnings.begin(), commitWarnings.end());
  result.ok = true;
  return result;
}

}  // namespace vantorel::exporter
