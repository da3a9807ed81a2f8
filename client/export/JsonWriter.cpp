#include "client/export/JsonWriter.h"

#include <array>
#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

#include "client/export/ResultGeometry.h"
#include "client/export/TextFormat.h"

namespace vantorel::exporter {

namespace {

// The double nearest to the float's shortest decimal form, so that 0.1f is
// written as 0.1 and not as 0.10000000149011612. Non-finite stays as it is.
double Shortest(float value) {
  if (!std::isfinite(value)) return static_cast<double>(value);
  std::array<char, 32> buffer{};
  const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  double out = static_cast<double>(value);
  if (written.ec == std::errc{}) std::from_chars(buffer.data(), written.ptr, out);
  return out;
}

// {"L", "a", "b"} of a spread's values, null for each one not known; null
// for no spread at all.
nlohmann::ordered_json SpreadObject(const LabSpread* spread,
                                    const std::array<std::optional<double>, 3> LabSpread::*member) {
  using json = nlohmann::ordered_json;
  if (spread == nullptr) return nullptr;
  const auto& values = spread->*member;
  const auto value = [](const std::optional<double>& v) { return v ? json(*v) : json(nullptr); };
  return {{"L", value(values[0])}, {"a", value(values[1])}, {"b", value(values[2])}};
}

}  // namespace

std::string ToJson(const ExportRequest& request) {
  using json = nlohmann::ordered_json;
  json root = json::object();
  root["format"] = "vantorel-result";
  root["version"] = 2;
  root["writer"] = "vantorelctl";
  root["job"] = request.job;
  root["result"] = request.result;
  root["sample"] = request.sampleIndex ? json(*request.sampleIndex) : json(nullptr);
  root["created"] = IsoUtcTime(request.created.value_or(std::chrono::system_clock::now()));
  const std::optional<std::size_t> sampleCount = SampleCountOf(request);
  root["sampleCount"] = sampleCount ? json(*sampleCount) : json(nullptr);

  json wavelengths = json::array();
  for (std::size_t i = 0; i < kSpectrumValueCount; ++i) wavelengths.push_back(WavelengthNm(i));

  json geometries = json::array();
  for (const MeasuredGeometry& entry : MeasuredGeometries(request.data)) {
    const VantorelMeasurements& values = *entry.values;
    json g = json::object();
    g["name"] = entry.geometry.name;
    g["spectrumAngle"] = static_cast<std::int32_t>(entry.geometry.angle);
    g["incidenceDeg"] = entry.geometry.incidenceDeg;
    g["aspecularDeg"] = entry.geometry.aspecularDeg;
    g["index"] = values.index;
    g["wavelengthsNm"] = wavelengths;
    // nlohmann writes NaN and infinities as null, which is what we document.
    json reflectance = json::array();
    for (float v : values.spectrum) reflectance.push_back(Shortest(v));
    g["reflectance"] = std::move(reflectance);
    g["lab"] = {{"L", Shortest(values.lab[0])},
                {"a", Shortest(values.lab[1])},
                {"b", Shortest(values.lab[2])}};
    const LabSpread* spread = SpreadOf(request, entry.geometry.angle);
    g["stdev"] = SpreadObject(spread, &LabSpread::stdev);
    g["range"] = SpreadObject(spread, &LabSpread::range);
    json texture = nullptr;
    if (const auto image = request.data->images.find(entry.geometry.angle);
        image != request.data->images.end()) {
      texture = json::array();
      for (double v : image->second.texture.values) texture.push_back(v);
    }
    g["texture"] = std::move(texture);
    geometries.push_back(std::move(g));
  }
  root["geometries"] = std::move(geometries);
  // The job name is user input: replace invalid UTF-8 rather than throw.
  return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace vantorel::exporter
