// ResultFolderReader: the L*a*b* values of a result folder written by
// `vantorelctl measure --out` or `sample --out`, read from its result.json.
//
// Threads: no shared state.
#pragma once

#include <filesystem>
#include <string>

#include "client/quality/QcSide.h"

namespace vantorel::quality {

// Reads `dir`/result.json. Not ok when the file is missing, is not JSON, is
// not a result ("format": "vantorel-result"), names a geometry twice, or has
// no usable L*a*b* value. Geometries whose value is null (written for a
// non-finite number) are skipped with a warning; malformed entries are an
// error. `source` is how the side is named in messages.
SideRead ReadResultFolder(const std::filesystem::path& dir, const std::string& source);

}  // namespace vantorel::quality
