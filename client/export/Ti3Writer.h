// Ti3Writer: one CGATS file (Argyll's .ti3 flavour) per geometry, so that
// colour tools can read the measured spectrum.
//
// The file holds one data row: SAMPLE_ID 1 and SPEC_400 ... SPEC_700 in
// percent (SPECTRAL_NORM 100), with DEVICE_CLASS "OUTPUT" and the spectral
// band keywords, which is what spec2cie needs to compute XYZ and L*a*b*.
// The job name goes into DESCRIPTOR, the geometry into the declared keyword
// MEASUREMENT_GEOMETRY, the sample (when there is one) into SAMPLE_INDEX,
// the number of samples a combined measurement is the mean of (when known)
// into SAMPLE_COUNT.
//
// Threads: pure function; safe from any thread.
#pragma once

#include <string>

#include "client/export/ExportRequest.h"
#include "client/export/ResultGeometry.h"

namespace vantorel::exporter {

// The file's text, or an empty string when a spectral value is NaN or
// infinite (a CGATS reader would reject the row). A missing `created` time
// is taken as now.
std::string ToTi3(const ExportRequest& request, const GeometryInfo& geometry,
                  const VantorelMeasurements& values);

}  // namespace vantorel::exporter
