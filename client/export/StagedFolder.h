// StagedFolder: writes a folder atomically. Files go into a hidden staging
// folder beside the target (same parent, so the final move is a rename on
// one file system); Commit renames it into place. Until then nothing with the
// target's name exists or changes, and an abandoned staging folder is
// removed, so a failure never leaves a folder behind that looks complete.
//
// Replacing (force): only a real directory that is empty or holds a
// result.json, a qc.json or a trend.csv may be replaced, so that a mistyped
// target cannot delete unrelated data. The old folder is renamed aside, the new one renamed in,
// then the old one is deleted; if the second rename fails the old folder is
// put back.
//
// Threads: one StagedFolder belongs to one thread. Two programs writing the
// same target at once cannot both win: the second rename fails or replaces
// only an empty folder.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::exporter {

class StagedFolder {
 public:
  // Checks the target and creates the staging folder. Missing parent folders
  // of the target are created. Returns null with `error` set when the target
  // is not a usable folder name, exists and `force` is false, exists and may
  // not be replaced, or when the parent or the staging folder cannot be
  // created. Never throws except std::bad_alloc.
  static std::unique_ptr<StagedFolder> Begin(const std::filesystem::path& target, bool force,
                                             std::string& error);

  StagedFolder(const StagedFolder&) = delete;
  StagedFolder& operator=(const StagedFolder&) = delete;
  // Removes the staging folder and everything in it unless committed.
  ~StagedFolder();

  // The folder to write into (absolute).
  const std::filesystem::path& Path() const { return staging_; }
  // The absolute target.
  const std::filesystem::path& Target() const { return target_; }

  // Writes `bytes` to Path()/relative, creating its folders. False with
  // `error` set when the file cannot be created or written completely.
  bool WriteFile(const std::filesystem::path& relative, std::string_view bytes, std::string& error);

  // Moves the staging folder into place. False with `error` set (and the
  // staging folder removed, an old target kept) when that fails. An old
  // folder that cannot be deleted after a successful replacement is left
  // under a hidden name and reported in `warnings`. Call at most once.
  bool Commit(std::string& error, std::vector<std::string>& warnings);

 private:
  StagedFolder(std::filesystem::path target, std::filesystem::path staging, bool replace)
      : target_(std::move(target)), staging_(std::move(staging)), replace_(replace) {}

  std::filesystem::path target_;
  std::filesystem::path staging_;
  bool replace_ = false;
  bool committed_ = false;
};

// A path as UTF-8 text for messages; never throws for unconvertible names.
std::string PathText(const std::filesystem::path& path);

// The path named by the UTF-8 `text`, the inverse of PathText. On Windows it
// holds the UTF-16 form, which every file operation there takes as it is, so
// that a name in any language works (a narrow std::string would be read in
// the ANSI code page). Nothing when `text` cannot be converted.
std::optional<std::filesystem::path> PathFromUtf8(std::string_view text);

}  // namespace vantorel::exporter
