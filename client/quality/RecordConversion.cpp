#include "client/quality/RecordConversion.h"

#include <cmath>

#include "messages/VantorelMeasurement.h"

namespace vantorel::quality {

records::SampleReading ReadingFromAnswer(const VantorelMeasurementsFull& data, int index,
                                         bool withImages) {
  records::SampleReading reading;
  reading.index = index;
  std::map<SpectrumAngle, records::GeometryReading> byAngle;
  for (const auto& [angle, measurement] : data.measurements) {
    if (!IsListedAngle(angle)) continue;
    records::GeometryReading& geometry = byAngle[angle];
    geometry.geometry = AngleToGeometry(angle);
    geometry.lab = records::Lab3{measurement.lab[0], measurement.lab[1], measurement.lab[2]};
    geometry.spectrum.assign(measurement.spectrum.begin(), measurement.spectrum.end());
  }
  for (const auto& [angle, image] : data.images) {
    if (!IsListedAngle(angle)) continue;
    records::GeometryReading& geometry = byAngle[angle];
    geometry.geometry = AngleToGeometry(angle);
    geometry.texture.emplace();
    std::copy(std::begin(image.texture.values), std::end(image.texture.values),
              geometry.texture->begin());
    if (withImages) geometry.exr = image.exr;
  }
  for (auto& [angle, geometry] : byAngle) reading.geometries.push_back(std::move(geometry));
  return reading;
}

VantorelMeasurementsFull AnswerFromReading(const records::SampleReading& reading) {
  VantorelMeasurementsFull data;
  std::int64_t position = 0;
  for (const records::GeometryReading& geometry : reading.geometries) {
    const std::optional<SpectrumAngle> angle = FindGeometry(geometry.geometry);
    if (!angle) continue;
    if (geometry.lab) {
      VantorelMeasurements& measurement = data.measurements[*angle];
      measurement.index = position++;
      measurement.angle = *angle;
      measurement.spectrum.fill(0.0f);
      for (std::size_t k = 0; k < measurement.spectrum.size() && k < geometry.spectrum.size();
           ++k) {
        measurement.spectrum[k] = static_cast<float>(geometry.spectrum[k]);
      }
      for (std::size_t c = 0; c < 3; ++c) {
        measurement.lab[c] = static_cast<float>((*geometry.lab)[c]);
      }
    }
    // Without its image a geometry has no image entry: the writers would
    // report every one as missing.
    if (!geometry.exr.empty()) {
      VantorelImage& image = data.images[*angle];
      image.exr = geometry.exr;
      if (geometry.texture) {
        std::copy(geometry.texture->begin(), geometry.texture->end(), image.texture.values);
      }
    }
  }
  return data;
}

std::vector<records::GeometrySpread> SpreadFromStatistics(const VantorelMeasurementsFull& combined,
                                                          const exporter::SampleStatistics& stats) {
  std::vector<records::GeometrySpread> out;
  for (const auto& [angle, spread] : stats.geometries) {
    records::GeometrySpread entry;
    entry.geometry = AngleToGeometry(angle);
    const auto mean = combined.measurements.find(angle);
    for (std::size_t c = 0; c < 3; ++c) {
      if (mean != combined.measurements.end()) entry.mean[c] = mean->second.lab[c];
      entry.stdev[c] = spread.stdev[c];
      entry.range[c] = spread.range[c];
    }
    out.push_back(std::move(entry));
  }
  return out;
}

std::optional<exporter::SampleStatistics> StatisticsFromRecord(
    const records::MeasurementRecord& record) {
  if (record.sampleIndex || record.spread.empty()) return std::nullopt;
  exporter::SampleStatistics stats;
  stats.sampleCount = static_cast<std::size_t>(std::max(record.sampleCount, 0));
  for (const records::GeometrySpread& spread : record.spread) {
    const std::optional<SpectrumAngle> angle = FindGeometry(spread.geometry);
    if (!angle) continue;
    exporter::LabSpread& entry = stats.geometries[*angle];
    entry.stdev = spread.stdev;
    entry.range = spread.range;
  }
  return stats;
}

namespace {

void AddIfFinite(SideRead& read, const std::string& geometry, const records::Lab3& lab) {
  AddValue(read, {geometry, colour::Lab{lab[0], lab[1], lab[2]}});
}

}  // namespace

QcSide SideFromRecord(const records::MeasurementRecord& record, const std::string& source) {
  SideRead read;
  read.ok = true;
  for (const records::GeometryReading& geometry : record.combined.geometries) {
    if (geometry.lab && FindGeometry(geometry.geometry)) {
      AddIfFinite(read, geometry.geometry, *geometry.lab);
    }
  }
  read.side.source = source;
  read.side.kind = "record";
  return read.side;
}

QcSide SideFromStandard(const records::StandardRecord& standard, const std::string& source) {
  SideRead read;
  read.ok = true;
  for (const records::GeometryLab& value : standard.values) {
    AddIfFinite(read, value.geometry, value.lab);
  }
  read.side.source = source;
  read.side.kind = "standard, version " + std::to_string(standard.version);
  return read.side;
}

Tolerances TolerancesOf(const records::StandardRecord& standard) {
  Tolerances tolerances;
  for (const records::GeometryTolerance& entry : standard.tolerances) {
    if (!std::isfinite(entry.tolerance) || entry.tolerance < 0) continue;
    if (entry.geometry == "*") {
      tolerances.fallback = entry.tolerance;
    } else {
      tolerances.perGeometry[entry.geometry] = entry.tolerance;
    }
  }
  return tolerances;
}

std::vector<records::GeometryTolerance> ToleranceList(const Tolerances& tolerances) {
  std::vector<records::GeometryTolerance> list = {{"*", tolerances.fallback}};
  for (const auto& [geometry, tolerance] : tolerances.perGeometry) {
    list.push_back({geometry, tolerance});
  }
  return list;
}

records::ComparisonRecord RecordFromComparison(const Comparison& comparison) {
  records::ComparisonRecord record;
  record.standardSource = comparison.standard.source;
  record.batchSource = comparison.batch.source;
  record.formula = colour::FormulaName(comparison.formula);
  record.passed = comparison.Passed();
  record.standardFlop = comparison.standardFlop;
  record.batchFlop = comparison.batchFlop;
  const auto lab = [](const std::optional<colour::Lab>& value) -> std::optional<records::Lab3> {
    if (!value) return std::nullopt;
    return records::Lab3{value->l, value->a, value->b};
  };
  for (const ComparisonRow& row : comparison.rows) {
    records::ComparisonRowRecord entry;
    entry.geometry = row.geometry;
    entry.status = StatusText(row.status);
    entry.tolerance = row.tolerance;
    entry.standardLab = lab(row.standard);
    entry.batchLab = lab(row.batch);
    if (row.standard && row.batch) {
      entry.dL = row.components.dL;
      entry.da = row.components.da;
      entry.db = row.components.db;
      entry.dC = row.components.dC;
      entry.dH = row.components.dH;
      entry.deltaE = row.deltaE;
    }
    record.rows.push_back(std::move(entry));
  }
  return record;
}

}  // namespace vantorel::quality
