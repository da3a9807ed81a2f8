// Which database a --db value names, and what opening a file that is not
// (or not only) a lab database does.
#include <fstream>

#include "client/records/StoreLocation.h"
#include "unit/records/StoreTestSupport.h"

namespace vantorel::records {
namespace {

TEST(StoreLocation, ValuesNameTheirDatabase) {
  const Environment environment = [](const std::string& key) -> std::optional<std::string> {
    if (key == "HOME") return "/home/lab";
    if (key == "LOCALAPPDATA") return "C:\\Users\\lab\\AppData\\Local";
    return std::nullopt;
  };
  struct Case {
    std::string value;
    bool ok;
    StoreLocation::Kind kind;
    std::string target;  // or a word of the error
  } cases[] = {
      {"sqlite:lab.db", true, StoreLocation::Kind::kSqlite, "lab.db"},
      {"C:\\lab\\lab.db", true, StoreLocation::Kind::kSqlite, "C:\\lab\\lab.db"},
      {"postgresql://lab@db.example:5433/colour", true, StoreLocation::Kind::kPostgres,
       "postgresql://lab@db.example:5433/colour"},
      {"postgres://lab@db/colour?sslmode=require", true, StoreLocation::Kind::kPostgres,
       "postgres://lab@db/colour?sslmode=require"},
      {"postgresql://lab:secret@db/colour", false, {}, "password"},
      {"postgresql://lab@db/colour?sslmode=require&password=x", false, {}, "password"},
      {"sqlite:", false, {}, "file name"},
#ifdef _WIN32
      {"", true, StoreLocation::Kind::kSqlite, "C:\\Users\\lab\\AppData\\Local\\Vantorel\\lab.db"},
#else
      {"", true, StoreLocation::Kind::kSqlite, "/home/lab/.local/share/vantorel/lab.db"},
#endif
  };
  for (const Case& c : cases) {
    std::string error;
    const auto location = ParseStoreLocation(c.value, environment, error);
    ASSERT_EQ(location.has_value(), c.ok) << c.value << ": " << error;
    if (c.ok) {
      EXPECT_EQ(location->kind, c.kind) << c.value;
      EXPECT_EQ(location->target, c.target);
    } else {
      EXPECT_NE(error.find(c.target), std::string::npos) << error;
    }
  }
#ifndef _WIN32
  std::string error;
  const Environment xdg = [](const std::string& key) -> std::optional<std::string> {
    if (key == "XDG_DATA_HOME") return "/data";
    return "/home/lab";
  };
  EXPECT_EQ(ParseStoreLocation("", xdg, error)->target, "/data/vantorel/lab.db");
#endif
}

TEST(StoreLocation, FilesThatAreNotOursAreRefusedAndLeftAlone) {
  const testing::ScratchFolder folder;
  const std::filesystem::path damaged = folder.Path() / "damaged.db";
  std::ofstream(damaged, std::ios::binary) << std::string(4096, 'x');
  const std::filesystem::path foreign = folder.Path() / "foreign.db";
  {
    StoreStatus status;
    auto connection = OpenSqlite(foreign.string(), status);
    ASSERT_TRUE(connection && connection->Run("CREATE TABLE samples (x)", {}).ok);
  }
  for (const auto& path : {damaged, foreign}) {
    StoreStatus status;
    EXPECT_FALSE(OpenStore({StoreLocation::Kind::kSqlite, path.string(), path.string()}, status));
    EXPECT_FALSE(status.ok);
    EXPECT_FALSE(status.message.empty());
  }
  EXPECT_EQ(std::filesystem::file_size(damaged), 4096u);

  // The default database's folder is made on first use.
  const std::filesystem::path fresh = folder.Path() / "new folder" / "läb.db";
  const std::u8string name = fresh.u8string();
  StoreStatus status;
  EXPECT_TRUE(
      OpenStore({StoreLocation::Kind::kSqlite, std::string(name.begin(), name.end()), ""}, status))
      << status.message;
  EXPECT_TRUE(std::filesystem::exists(fresh));
}

}  // namespace
}  // namespace vantorel::records
