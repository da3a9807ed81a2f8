// JsonWriter: result.json, the machine-readable summary of a result folder.
//
// Layout (documented for users in the README, "The result folder"):
//   { "format": "vantorel-result", "version": 1, "job": ..., "result": ...,
//     "sample": <index or null>, "created": <ISO 8601 UTC>,
//     "geometries": [ { "name", "spectrumAngle", "incidenceDeg",
//       "aspecularDeg", "index", "wavelengthsNm": [31], "reflectance": [31],
//       "lab": {"L","a","b"}, "texture": [7] or null }, ... ] }
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
