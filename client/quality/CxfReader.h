// CxfReader: the L*a*b* values per measurement geometry of a CxF3 document
// (namespace http://colorexchangeformat.com/CxF3-core), ours or anyone's.
//
// A value counts when an Object's ColorValues hold a ColorCIELab (L, A, B)
// whose ColorSpecification names a MeasurementSpec with a MultiAngle
// geometry of exactly one BRDFAngle. The geometry is called
// "r<IlluminationAngle>as<Aspecular>" when both angles are whole numbers (so
// files that spell the Notation differently still match our geometry names),
// otherwise by its Notation. The angles are read as child elements (the
// schema) or, for files written by earlier versions of vantorelctl, as
// attributes. Values the rule does not cover (no geometry, several
// BRDFAngles, a missing specification) are skipped with a warning.
//
// Parsed with a real XML parser (rapidxml): elements are matched by local
// name whatever their namespace prefix; character and entity references are
// decoded. Malformed XML is an error, never a crash.
//
// Threads: no shared state.
#pragma once

#include <filesystem>
#include <string>

#include "client/quality/QcSide.h"

namespace vantorel::quality {

// Reads the document `text`. Not ok when it does not begin like XML ("not a
// CxF file"), is not well-formed XML, its root is not CxF, a geometry has two
// values, or no value counts. `source` is how the side is named in messages.
SideRead ReadCxfText(std::string text, const std::string& source);

// ReadCxfText of the file at `path` (at most kMaxInputBytes).
SideRead ReadCxfFile(const std::filesystem::path& path, const std::string& source);

}  // namespace vantorel::quality
