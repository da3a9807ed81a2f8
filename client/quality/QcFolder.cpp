#include "client/quality/QcFolder.h"

#include "client/export/StagedFolder.h"
#include "client/quality/QcReport.h"
#include "client/quality/QcSvg.h"

namespace vantorel::quality {

exporter::ExportResult WriteQcFolder(const std::filesystem::path& dir, const Comparison& comparison,
                                     bool force) {
  exporter::ExportResult result;
  std::unique_ptr<exporter::StagedFolder> folder =
      exporter::StagedFolder::Begin(dir, force, result.error);
  if (!folder) return result;
  const std::string json =
      ComparisonJson(comparison).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
      "\n";
  for (const auto& [name, text] : {std::pair<std::string, std::string>{"qc.json", json},
                                   {"qc.csv", ToQcCsv(comparison)},
                                   {"qc.svg", ToQcSvg(comparison)}}) {
    if (!folder->WriteFile(name, text, result.error)) return result;
    result.files.push_back(name);
  }
  if (!folder->Commit(result.error, result.warnings)) {
    result.files.clear();
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace vantorel::quality
