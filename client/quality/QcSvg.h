// QcSvg: a Comparison as an SVG chart (qc.svg).
//
// Left, the colour difference of each geometry as a bar (green within
// tolerance, red outside) with its tolerance as a dashed line; geometries on
// one side only are named under the bars. Right, one small a*b* panel per
// geometry on both sides, centred on the standard and scaled to the
// difference, so that a batch 0.3 away is drawn well apart from its
// standard: the standard (open circle), the batch (filled, green or red)
// joined by a line, and the tolerance contour of the chosen formula in the
// a*b* plane at the standard's L* (dashed) and, dotted, at the batch's L*
// (the batch passes exactly when it lies inside that one; there is none when
// dL* alone uses up the tolerance). The panel is at least large
// enough for the batch and shows the whole contour unless the contour reaches
// beyond six times the difference (or 1.8, for smaller differences), where
// it leaves the panel: a difference of 0.3 is always drawn at least 11 px
// long. Each panel names its geometry, dE, dL* (which the plane does not
// show) and its grid step. Text from the sides is escaped, so the document
// is well-formed whatever the sources are called.
//
// Threads: pure functions.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "client/quality/Comparison.h"

namespace vantorel::quality {

std::string ToQcSvg(const Comparison& comparison);

// The two halves of qc.svg, each as an <svg> element for inline use in HTML
// (without XML declaration and namespace): the bars with their tolerances, and the grid of
// a*b* panels with the key (4 panels a row). The panels' clip paths have the
// ids "panel0", "panel1", ...: one panel grid per document.
std::string DeltaEBarsSvg(const Comparison& comparison);
std::string AbPanelsSvg(const Comparison& comparison);

// The tolerance contour around `standard` in the a*b* plane at L* =
// standard L* + dL: for each of `directions` directions evenly round the
// circle (counter-clockwise from +a*), the offset (da*, db*) at which
// `formula`'s difference from the standard reaches `tolerance` (found by
// bisection to 1e-9 of the radius). Empty for a tolerance that is not a
// positive finite number, a non-finite input, or a dL whose difference alone
// reaches the tolerance; a direction in which the difference never reaches
// the tolerance is left out.
std::vector<std::pair<double, double>> ToleranceContour(colour::Formula formula,
                                                        const colour::Lab& standard,
                                                        double tolerance, int directions = 72,
                                                        double dL = 0.0);

}  // namespace vantorel::quality
