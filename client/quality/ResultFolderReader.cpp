#include "client/quality/ResultFolderReader.h"

#include <limits>

#include "client/quality/FileText.h"
#include "nlohmann/json.hpp"

namespace vantorel::quality {
namespace {

SideRead Failure(SideRead read, const std::string& error) {
  read.ok = false;
  read.error = error;
  return read;
}

// A component of a "lab" object: a number, or NaN for the null written in
// place of a non-finite value. False for anything else.
bool Component(const nlohmann::json& lab, const char* key, double& value) {
  const auto it = lab.find(key);
  if (it == lab.end()) return false;
  if (it->is_null()) {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (!it->is_number()) return false;
  value = it->get<double>();
  return true;
}

}  // namespace

SideRead ReadResultFolder(const std::filesystem::path& dir, const std::string& source) {
  SideRead read;
  read.side.source = source;
  read.side.kind = "result folder";
  std::string text, error;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(dir / "result.json", ec)) {
    return Failure(read, source + " is not a result folder (it has no result.json)");
  }
  if (!ReadFileText(dir / "result.json", text, error)) return Failure(read, error);
  const nlohmann::json root = nlohmann::json::parse(text, nullptr, false);
  if (root.is_discarded() || !root.is_object()) {
    return Failure(read, source + ": result.json is not a JSON object");
  }
  const auto format = root.find("format");
  if (format == root.end() || *format != "vantorel-result") {
    return Failure(read, source + ": result.json is not a vantorel result");
  }
  const auto geometries = root.find("geometries");
  if (geometries == root.end() || !geometries->is_array()) {
    return Failure(read, source + ": result.json has no geometry list");
  }
  for (const nlohmann::json& entry : *geometries) {
    const auto name = entry.is_object() ? entry.find("name") : entry.end();
    const auto lab = entry.is_object() ? entry.find("lab") : entry.end();
    GeometryLab value;
    if (name == entry.end() || !name->is_string() || lab == entry.end() || !lab->is_object() ||
        !Component(*lab, "L", value.lab.l) || !Component(*lab, "a", value.lab.a) ||
        !Component(*lab, "b", value.lab.b)) {
      return Failure(read, source + ": result.json has a geometry without a name or L*a*b* value");
    }
    value.geometry = name->get<std::string>();
    if (!AddValue(read, std::move(value))) return read;
  }
  if (read.side.values.empty()) {
    return Failure(read, source + ": result.json holds no L*a*b* values");
  }
  read.ok = true;
  return read;
}

}  // namespace vantorel::quality
