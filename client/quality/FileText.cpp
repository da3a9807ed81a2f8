#include "client/quality/FileText.h"

#include <fstream>
#include <system_error>

#include "client/export/StagedFolder.h"

namespace vantorel::quality {

bool ReadFileText(const std::filesystem::path& path, std::string& text, std::string& error,
                  std::size_t maxBytes) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) {
    error = "cannot read " + exporter::PathText(path) + ": " + ec.message();
    return false;
  }
  if (size > maxBytes) {
    error = exporter::PathText(path) + " is too large (" + std::to_string(size) + " bytes)";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + exporter::PathText(path);
    return false;
  }
  text.assign(static_cast<std::size_t>(size), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (static_cast<std::size_t>(in.gcount()) != text.size()) {
    error = "cannot read " + exporter::PathText(path);
    return false;
  }
  return true;
}

}  // namespace vantorel::quality
