// SvgPlot: spectra.svg, the reflectance curves of all geometries in one chart
// for a person to look at.
//
// A 980 x 600 SVG 1.1 image: title with the job name (and sample), x axis
// 400-700 nm with ticks every 10 nm and labels every 50 nm, y axis in
// percent reflectance scaled to the data (always including 0 and at least
// 0-10 %) with labelled grid lines, one curve per listed geometry of the
// measurement map (a fixed colour per geometry; 15-degree illumination solid,
// 45-degree dashed, negative aspecular angles dotted or dash-dotted and drawn
// on top, so that the mirrored geometries, whose curves nearly coincide,
// both show) and a legend. Non-finite values leave a gap in their curve. The job
// name is XML-escaped.
//
// Threads: pure function; safe from any thread.
#pragma once

#include <string>

#include "client/export/ExportRequest.h"

namespace vantorel::exporter {

// The SVG text, UTF-8. With no geometries the axes are drawn for 0-100 %
// with a "no spectral data" note.
std::string ToSvg(const ExportRequest& request);

// The colour ("#rrggbb") the chart uses for `angle`; grey for an unlisted one.
const char* GeometryColour(SpectrumAngle angle);

}  // namespace vantorel::exporter
