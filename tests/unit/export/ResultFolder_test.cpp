#include "client/export/ResultFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "unit/export/ExportTestData.h"

namespace vantorel::exporter {
namespace {

namespace fs = std::filesystem;
using exporttest::MakeFull;
using exporttest::MakeRequest;
using exporttest::ReadFile;
using exporttest::TempDir;

// Names in `dir`, sorted; hidden staging folders included.
std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// Faults in the data (an undecodable image, an empty one, a NaN spectrum, a
// foreign key) cost only their own files and a warning each.
TEST(ResultFolderTest, WritesEveryFileAndTurnsDataFaultsIntoWarnings) {
  TempDir tmp;
  VantorelMeasurementsFull full = MakeFull();
  const fs::path target = tmp.path() / "nested" / "job1";
  const ExportResult result = WriteResultFolder(target, MakeRequest(full));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(result.warnings.empty());
  EXPECT_EQ(result.files.size(), 5u + 11u + 12u);  // summaries, CGATS, 6 EXR + 6 PNG
  for (const std::string& file : result.files) EXPECT_GT(fs::file_size(target / file), 0u);
  const std::string exr = ReadFile(target / "images/r15as15.exr");
  EXPECT_EQ(ByteVector(exr.begin(), exr.end()), full.images.at(R15As15).exr);
  EXPECT_EQ(Listing(target.parent_path()), std::vector<std::string>{"job1"});

  full.images[R15As15].exr.assign(200, 0x42);
  full.images[R45As25].exr.clear();
  full.measurements[R45As45].spectrum[7] = std::numeric_limits<float>::quiet_NaN();
  full.images[static_cast<SpectrumAngle>(-3)] = full.images[R15As45];
  const ExportResult faulty = WriteResultFolder(tmp.path() / "out", MakeRequest(full));
  ASSERT_TRUE(faulty.ok) << faulty.error;
  EXPECT_EQ(faulty.warnings.size(), 4u);
  EXPECT_EQ(faulty.files.size(), result.files.size() - 4);
  for (const char* gone :
       {"images/r15as15.png", "images/r45as25.exr", "images/r45as25.png", "cgats/r45as45.ti3"}) {
    EXPECT_FALSE(Contains(faulty.files, gone)) << gone;
  }
}

TEST(ResultFolderTest, ExistingTargetIsKeptUnlessForced) {
  TempDir tmp;
  const VantorelMeasurementsFull full = MakeFull();
  const fs::path target = tmp.path() / "job";
  ExportRequest first = MakeRequest(full, "first");
  ASSERT_TRUE(WriteResultFolder(target, first).ok);
  exporttest::WriteFile(target / "note.txt", "user file");

  const ExportResult refused = WriteResultFolder(target, MakeRequest(full, "second"));
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.error.find("exists"), std::string::npos) << refused.error;
  EXPECT_TRUE(refused.files.empty());
  EXPECT_EQ(nlohmann::json::parse(ReadFile(target / "result.json"))["job"], "first");

  ExportRequest second = MakeRequest(full, "second");
  second.force = true;
  const ExportResult replaced = WriteResultFolder(target, second);
  ASSERT_TRUE(replaced.ok) << replaced.error;
  EXPECT_EQ(nlohmann::json::parse(ReadFile(target / "result.json"))["job"], "second");
  EXPECT_FALSE(fs::exists(target / "note.txt"));  // replaced, not merged
  EXPECT_EQ(Listing(tmp.path()), std::vector<std::string>{"job"});
}

TEST(ResultFolderTest, ForceNeverReplacesSomethingThatIsNoResultFolder) {
  TempDir tmp;
  const VantorelMeasurementsFull full = MakeFull();
  ExportRequest request = MakeRequest(full);
  request.force = true;
  fs::create_directories(tmp.path() / "documents");
  exporttest::WriteFile(tmp.path() / "documents" / "thesis.txt", "precious");
  exporttest::WriteFile(tmp.path() / "file", "a file");

  for (const char* name : {"documents", "file"}) {
    const ExportResult result = WriteResultFolder(tmp.path() / name, request);
    EXPECT_FALSE(result.ok) << name;
    EXPECT_NE(result.error.find("not a result folder"), std::string::npos) << result.error;
  }
  EXPECT_EQ(ReadFile(tmp.path() / "documents" / "thesis.txt"), "precious");
  EXPECT_EQ(ReadFile(tmp.path() / "file"), "a file");
  // An empty folder may be filled.
  fs::create_directories(tmp.path() / "empty");
  EXPECT_TRUE(WriteResultFolder(tmp.path() / "empty", request).ok);
  EXPECT_EQ(Listing(tmp.path()), (std::vector<std::string>{"documents", "empty", "file"}));
}

TEST(ResultFolderTest, UnwritablePlaceGivesAClearErrorAndLeavesNothing) {
  TempDir tmp;
  const VantorelMeasurementsFull full = MakeFull();
  exporttest::WriteFile(tmp.path() / "plain", "not a folder");
  // A regular file where a parent folder should be: fails for every user,
  // root included.
  const ExportResult result = WriteResultFolder(tmp.path() / "plain" / "job", MakeRequest(full));
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("plain"), std::string::npos) << result.error;
  EXPECT_EQ(Listing(tmp.path()), std::vector<std::string>{"plain"});

  ExportRequest noData = MakeRequest(full);
  noData.data = nullptr;
  EXPECT_FALSE(WriteResultFolder(tmp.path() / "x", noData).ok);
  EXPECT_FALSE(WriteResultFolder(fs::path{}, MakeRequest(full)).ok);
  EXPECT_EQ(Listing(tmp.path()), std::vector<std::string>{"plain"});
}

}  // namespace
}  // namespace vantorel::exporter
