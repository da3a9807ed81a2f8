// Tolerances: the largest colour difference a geometry may show and still
// pass, one for all geometries or one per geometry from a tolerance file.
//
// Tolerance file: UTF-8 text, one "GEOMETRY TOLERANCE" pair per line
// (separated by blanks, a comma or '='), '#' starts a comment, blank lines
// are ignored. Each geometry is one of the eleven names exactly as the
// instrument spells them (case counts), or "*" for every geometry the file
// does not list; each is given at most once. Tolerances are finite numbers
// of at least 0. A file without a single pair is refused: a mistyped path
// to an empty file must not pass every batch at the default.
//
//   # dE00 per geometry
//   r45as15   2.0
//   r45as45   1.0
//   *         1.5
//
// Threads: plain values and pure functions.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vantorel::quality {

inline constexpr double kDefaultTolerance = 1.0;

struct Tolerances {
  double fallback = kDefaultTolerance;  // for geometries not listed
  std::map<std::string, double, std::less<>> perGeometry;

  double For(std::string_view geometry) const;
};

// Parses a tolerance file named `file` in messages. False with `error` as
// "FILE:LINE: what is wrong and what is expected" for a line that is not a
// pair, a geometry that is not one of the eleven names or "*", a tolerance
// that is not a finite number >= 0, a geometry given twice, or a file with
// no pair at all (line 1); `tolerances` is then unspecified.
bool ParseTolerances(std::string_view text, const std::string& file, Tolerances& tolerances,
                     std::string& error);

// A tolerance given on the command line: a finite number >= 0.
bool ParseTolerance(std::string_view text, double& tolerance);

}  // namespace vantorel::quality
