// CxfWriter: the result as a CxF3 document (ISO 17972-1, namespace
// http://colorexchangeformat.com/CxF3-core), for colour-management tools.
//
// One Object per listed geometry of the measurement map, in key order, named
// "<job> <geometry>", with a ReflectanceSpectrum (reflectance factors,
// 1.0 = 100 %, StartWL 400) and a ColorCIELab. Both refer to the geometry's
// ColorSpecification: TristimulusSpec D65 / 10_Degree, MeasurementSpec of
// type Spectrum_Reflectance with a MultiAngle geometry holding one BRDFAngle
// (elements IlluminationAngle and Aspecular, attribute Notation = geometry
// name) and a WavelengthRange of 400 nm in 10 nm steps. The document
// validates against the CxF3 core schema 3.0.018. User text is escaped, so the
// document is well-formed whatever the job name holds; a non-finite value is
// written as the XML Schema forms NaN, INF or -INF.
//
// Threads: pure function; safe from any thread.
#pragma once

#include <string>

#include "client/export/ExportRequest.h"

namespace vantorel::exporter {

// The XML text, UTF-8. A missing `created` time is taken as now.
std::string ToCxf(const ExportRequest& request);

}  // namespace vantorel::exporter
