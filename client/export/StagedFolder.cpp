#include "client/export/StagedFolder.h"

#include <chrono>
#include <fstream>
#include <system_error>

namespace vantorel::exporter {

namespace fs = std::filesystem;

namespace {

std::string Describe(const std::error_code& ec) { return ec.message(); }

// A name beside `target` that does not exist yet: ".<name>.<tag>-<n>".
// With `create` the folder is created. Returns an empty path, with the last
// failure in `ec`, when none of the tries is free.
fs::path FreeSibling(const fs::path& target, const std::string& tag, bool create,
                     std::error_code& ec) {
  const auto seed =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    // Built from the native name, so that no conversion of it can fail.
    fs::path leaf(".");
    leaf += target.filename().native();
    leaf += "." + tag + "-" + std::to_string((seed + attempt * 7919ull) % 1000000ull);
    const fs::path candidate = target.parent_path() / leaf;
    ec.clear();
    if (create) {
      if (fs::create_directory(candidate, ec) && !ec) return candidate;
      if (!ec) ec = std::make_error_code(std::errc::file_exists);
    } else if (fs::symlink_status(candidate, ec).type() == fs::file_type::not_found) {
      ec.clear();
      return candidate;
    }
  }
  return {};
}

// True when `dir` is a real directory that is empty or holds a result.json
// (a result folder), a qc.json (a comparison's folder) or a trend.csv (a
// standard's trend).
bool MayReplace(const fs::path& dir) {
  std::error_code ec;
  if (fs::symlink_status(dir, ec).type() != fs::file_type::directory || ec) return false;
  if (fs::is_empty(dir, ec) && !ec) return true;
  for (const char* marker : {"result.json", "qc.json", "trend.csv"}) {
    if (fs::is_regular_file(dir / marker, ec) && !ec) return true;
  }
  return false;
}

}  // namespace

std::string PathText(const fs::path& path) {
  try {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  } catch (const std::exception&) {
    return "(unprintable path)";
  }
}

std::optional<fs::path> PathFromUtf8(std::string_view text) {
  try {
    return fs::path(std::u8string(text.begin(), text.end()));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::unique_ptr<StagedFolder> StagedFolder::Begin(const fs::path& target, bool force,
                                                  std::string& error) {
  std::error_code ec;
  fs::path absolute = fs::absolute(target, ec);
  if (ec || target.empty()) {
    error = "'" + PathText(target) + "' is not a usable folder name";
    return nullptr;
  }
  absolute = absolute.lexically_normal();
  if (!absolute.has_filename()) absolute = absolute.parent_path();  // "dir/" names "dir"
  const fs::path name = absolute.filename();
  if (name.empty() || name == "." || name == ".." || absolute == absolute.root_path()) {
    error = "'" + PathText(target) + "' is not a usable folder name";
    return nullptr;
  }
  const std::string shown = "'" + PathText(absolute) + "'";

  const fs::file_status status = fs::symlink_status(absolute, ec);
  const bool exists = status.type() != fs::file_type::not_found;
  if (exists && !force) {
    error = shown + " already exists (force replaces a result folder)";
    return nullptr;
  }
  if (exists && !MayReplace(absolute)) {
    error = shown + " exists and is not a result folder; it is not replaced";
    return nullptr;
  }
  fs::create_directories(absolute.parent_path(), ec);
  if (ec) {
    error = "cannot create the folder '" + PathText(absolute.parent_path()) + "': " + Describe(ec);
    return nullptr;
  }
  fs::path staging = FreeSibling(absolute, "partial", true, ec);
  if (staging.empty()) {
    error = "cannot create a folder in '" + PathText(absolute.parent_path()) + "': " + Describe(ec);
    return nullptr;
  }
  return std::unique_ptr<StagedFolder>(new StagedFolder(absolute, std::move(staging), exists));
}

StagedFolder::~StagedFolder() {
  if (committed_) return;
  std::error_code ec;
  fs::remove_all(staging_, ec);
}

bool StagedFolder::WriteFile(const fs::path& relative, std::string_view bytes, std::string& error) {
  const fs::path file = staging_ / relative;
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec) {
    error = "cannot create the folder '" + PathText(file.parent_path()) + "': " + Describe(ec);
    return false;
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (out) out.close();
  if (!out) {
    error = "cannot write '" + PathText(file) + "'";
    return false;
  }
  return true;
}

bool StagedFolder::Commit(std::string& error, std::vector<std::string>& warnings) {
  std::error_code ec;
  const std::string shown = "'" + PathText(target_) + "'";
  if (!replace_) {
    fs::rename(staging_, target_, ec);
    if (ec) {
      error = "cannot move the result into place as " + shown + ": " + Describe(ec);
      return false;
    }
    committed_ = true;
    return true;
  }
  const fs::path old = FreeSibling(target_, "old", false, ec);
  if (old.empty()) {
    error = "cannot find a free name to move " + shown + " aside: " + Describe(ec);
    return false;
  }
  fs::rename(target_, old, ec);
  if (ec) {
    error = "cannot move the existing " + shown + " aside: " + Describe(ec);
    return false;
  }
  fs::rename(staging_, target_, ec);
  if (ec) {
    error = "cannot move the result into place as " + shown + ": " + Describe(ec);
    std::error_code restore;
    fs::rename(old, target_, restore);
    if (restore) error += "; the previous folder is left as '" + PathText(old) + "'";
    return false;
  }
  committed_ = true;
  fs::remove_all(old, ec);
  if (ec) warnings.push_back("could not delete the replaced folder '" + PathText(old) + "'");
  return true;
}

}  // namespace vantorel::exporter
