// QcSvg: a Comparison as an SVG chart (qc.svg): the colour difference of
// each geometry as a bar (green within tolerance, red outside) with its
// tolerance as a dashed line, and beside it the a*, b* plane with the
// standard (open circle) and the batch (filled) of every geometry, joined
// by a line. Geometries on one side only are named under the bars and
// plotted with their one point. Text from the sides is escaped, so the
// document is well-formed whatever the sources are called.
//
// Threads: pure function.
#pragma once

#include <string>

#include "client/quality/Comparison.h"

namespace vantorel::quality {

std::string ToQcSvg(const Comparison& comparison);

}  // namespace vantorel::quality
