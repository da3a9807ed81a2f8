// WebAssets: the browser view's files and the OpenAPI document, built into
// the program (WebAssets.cpp is generated from service/web/ and
// service/openapi.json), so the service serves them with nothing to
// install beside it and nothing fetched from elsewhere.
//
// Threads: constant data.
#pragma once

#include <string_view>

namespace vantorel::lab {

struct WebAsset {
  std::string_view path;  // "/index.html", "/app.js", ...
  std::string_view type;  // its Content-Type
  std::string_view bytes;
};

// The file served at `path` ("/" is "/index.html"); null when there is none.
const WebAsset* FindWebAsset(std::string_view path);

// GET /api/openapi.json.
std::string_view OpenApiDocument();

}  // namespace vantorel::lab
