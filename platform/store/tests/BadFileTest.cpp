// Files that are not volumes, and volumes whose insides were damaged: each
// is refused with a clear error and left exactly as it was.
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "StoreFixture.h"

namespace tbm::store::testing {
namespace {

std::string Contents(const std::string& path) { return tbm::testing::ReadWholeFile(path); }

void WriteFile(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(tbm::testing::WriteWholeFile(path, bytes)) << path;
}

class BadFileTest : public StoreTest {
 protected:
  // Mounting path must fail with error; the file must keep its bytes.
  // Replacing with CREATE_ALWAYS is refused too, unless the file is a
  // volume (damaged or not): replacing a volume is what CREATE_ALWAYS asks.
  void ExpectRefused(const std::string& name, DWORD error, bool isVolume = false) {
    const std::string before = Contents(HostPath(name));
    for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS}) {
      if (isVolume && disposition == CREATE_ALWAYS) continue;
      CEGUID vol{};
      EXPECT_FALSE(CeMountDBVol(&vol, WidePath(name).c_str(), disposition))
          << name << " mounted with disposition " << disposition;
      if (disposition != CREATE_ALWAYS) {
        EXPECT_EQ(GetLastError(), error) << name << ": " << StoreLastMessage();
      }
      EXPECT_NE(std::string(StoreLastMessage()).find(name), std::string::npos)
          << "the message names the file: " << StoreLastMessage();
      EXPECT_EQ(Contents(HostPath(name)), before) << name << " was changed";
    }
    EXPECT_FALSE(std::filesystem::exists(HostPath(name) + "-journal"));
  }

  // A real volume with a few records, unmounted.
  void MakeVolume(const std::string& name) {
    CEGUID vol = MountNew(name);
    const CEOID db = CreateDb(vol, u"DATA_0", 0x44415441, {{PropId(4, CEVT_UI4), 0}});
    HANDLE h = Open(vol, db, PropId(4, CEVT_UI4));
    for (std::uint32_t i = 0; i < 200; ++i) {
      Write(h, 0,
            {{PropId(4, CEVT_UI4), i},
             {PropId(5, CEVT_LPWSTR), std::u16string(400, static_cast<char16_t>(u'a' + i % 26))}});
    }
    CeCloseHandle(h);
    ASSERT_TRUE(CeUnmountDBVol(&vol));
    mounted_.clear();
  }

  void Sql(const std::string& name, const char* statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(HostPath(name).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
};

TEST_F(BadFileTest, AnEmptyFileIsNoVolume) {
  WriteFile(HostPath("empty.tbm"), "");
  ExpectRefused("empty.tbm", ERROR_BAD_FORMAT);
}

TEST_F(BadFileTest, RandomBytesAreNoVolume) {
  std::mt19937 random(7);
  std::string bytes(8192, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  WriteFile(HostPath("noise.tbm"), bytes);
  ExpectRefused("noise.tbm", ERROR_BAD_FORMAT);
}

TEST_F(BadFileTest, ADatabaseOfAnotherProgramIsLeftAlone) {
  Sql("other.db",
      "CREATE TABLE invoices(id INTEGER PRIMARY KEY, total REAL);"
      "INSERT INTO invoices(total) VALUES (12.5), (99.0);");
  ExpectRefused("other.db", ERROR_BAD_FORMAT);
}

TEST_F(BadFileTest, ATruncatedVolumeIsDamaged) {
  MakeVolume("cut.tbm");
  const std::string whole = Contents(HostPath("cut.tbm"));
  ASSERT_GT(whole.size(), 16384u);
  WriteFile(HostPath("cut.tbm"), whole.substr(0, whole.size() / 2));
  ExpectRefused("cut.tbm", ERROR_FILE_CORRUPT, true);
}

TEST_F(BadFileTest, AFolderIsNoVolume) {
  std::filesystem::create_directory(HostPath("folder.tbm"));
  CEGUID vol{};
  EXPECT_FALSE(CeMountDBVol(&vol, WidePath("folder.tbm").c_str(), OPEN_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CeMountDBVol(&vol, WidePath("folder.tbm").c_str(), CREATE_ALWAYS));
  EXPECT_TRUE(std::filesystem::is_directory(HostPath("folder.tbm")));
}

TEST_F(BadFileTest, AVolumeOfAnotherFormatVersionIsRefused) {
  MakeVolume("future.tbm");
  Sql("future.tbm", "PRAGMA user_version=2");
  ExpectRefused("future.tbm", ERROR_BAD_FORMAT, true);
}

TEST_F(BadFileTest, AVolumeMissingItsTablesIsDamaged) {
  MakeVolume("gutted.tbm");
  Sql("gutted.tbm", "DROP TABLE keys");
  ExpectRefused("gutted.tbm", ERROR_FILE_CORRUPT, true);
}

TEST_F(BadFileTest, ADamagedRecordIsReportedNotReadPastItsEnd) {
  MakeVolume("record.tbm");
  // Cut every image short, and give one a length that points past its end.
  Sql("record.tbm",
      "UPDATE rec SET image = substr(image, 1, length(image) - 3) WHERE oid % 2 = 0;"
      "UPDATE rec SET image = x'0100130004000000FFFFFF7F' WHERE oid % 2 = 1;");
  CEGUID vol{};
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("record.tbm").c_str(), OPEN_EXISTING))
      << StoreLastMessage();
  mounted_.push_back(vol);
  CEOID db = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &db, u"DATA_0", 0, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  int damaged = 0;
  for (DWORD i = 0; CeSeekDatabase(h, CEDB_SEEK_BEGINNING, i, nullptr) != 0; ++i) {
    EXPECT_FALSE(ReadCurrent(h).has_value());
    damaged += GetLastError() == ERROR_FILE_CORRUPT;
    EXPECT_EQ(Write(h, CeSeekDatabase(h, CEDB_SEEK_CURRENT, 0, nullptr),
                    {{PropId(7, CEVT_UI2), std::uint16_t{1}}}),
              0u);
  }
  EXPECT_EQ(damaged, 200);
  CeCloseHandle(h);
}

// Damage deep in the records does not stop the mount (only the pages read
// are checked then), but it is found when read, and before anything is
// written: no write lands in a damaged volume, and the file keeps its bytes.
TEST_F(BadFileTest, ADamagedPageIsFoundWhenReadAndBeforeAnyWrite) {
  MakeVolume("deep.tbm");
  std::string bytes = Contents(HostPath("deep.tbm"));
  ASSERT_GT(bytes.size(), 8 * 4096u);
  bytes.replace(bytes.size() - 4096, 4096, std::string(4096, '\xFF'));
  WriteFile(HostPath("deep.tbm"), bytes);

  CEGUID vol{};
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("deep.tbm").c_str(), OPEN_EXISTING))
      << StoreLastMessage();
  mounted_.push_back(vol);
  CEOID db = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &db, u"DATA_0", 0, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  bool damageRead = false;
  for (DWORD i = 0; i < 200 && !damageRead; ++i) {
    SetLastError(0);
    damageRead =
        (CeSeekDatabase(h, CEDB_SEEK_BEGINNING, i, nullptr) == 0 || !ReadCurrent(h).has_value()) &&
        GetLastError() == ERROR_FILE_CORRUPT;
  }
  EXPECT_TRUE(damageRead) << "no read met the damaged page";
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(Write(h, 0, {{PropId(4, CEVT_UI4), std::uint32_t{7}}}), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_CORRUPT) << StoreLastMessage();
    EXPECT_NE(std::string(StoreLastMessage()).find("damaged"), std::string::npos)
        << StoreLastMessage();
  }
  CeCloseHandle(h);
  ASSERT_TRUE(CeUnmountDBVol(&vol));
  mounted_.clear();
  EXPECT_EQ(Contents(HostPath("deep.tbm")), bytes);
}

TEST_F(BadFileTest, ADamagedDatabaseListRefusesTheMount) {
  MakeVolume("list.tbm");
  Sql("list.tbm", "UPDATE dbs SET sorts = x'0102'");
  ExpectRefused("list.tbm", ERROR_FILE_CORRUPT, true);
}

}  // namespace
}  // namespace tbm::store::testing
