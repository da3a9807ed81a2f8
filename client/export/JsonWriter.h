// JsonWriter: result.json, the machine-readable summary of a result folder.
//
// Layout (documented for users in the README, "The result folder"):
//   { "format": "vantorel-result", "version": 2, "writer": "vantorelctl",
//     "job": ..., "result": ...,
//     "sample": <index or null>, "created": <ISO 8601 UTC>,
//     "sampleCount": <samples combined, 1 for a sample, null if unknown>,
//     "geometries": [ { "name", "spectrumAngle", "incidenceDeg",
//       "aspecularDeg", "index", "wavelengthsNm": [31], "reflectance": [31],
//       "lab": {"L","a","b"}, "stdev": {"L","a","b"} or null,
//       "range": {"L","a","b"} or null, "texture": [7] or null }, ... ] }
// Version 2 added writer, sampleCount, stdev and range; everything of version 1 is
// unchanged, so a version 1 reader that ignores unknown keys reads it.
// stdev and range are over the samples (SampleStatistics.h), null for a
// single sample or when the samples were not read.
// One entry per listed geometry of the measurement map, in key order.
// Reflectance is the factor (1.0 = 100 %). Non-finite numbers become null;
// invalid UTF-8 in the job name becomes U+FFFD.
//
// Threads: pure function; safe from any thread.
#pragma once

#include <string>

#include "client/export/ExportRequest.h"

namespace vantorel::exporter {

// The JSON text (two-space indentation, final newline). A missing `created`
// time is taken as now. Never throws for any request content.
std::string ToJson(const ExportRequest& request);

}  // namespace vantorel::exporter
