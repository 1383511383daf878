// Batches of writes made one change, and volume files replaced whole.
#include <filesystem>

#include "StoreFixture.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::store::testing {
namespace {

constexpr CEPROPID kName = PropId(1, CEVT_LPWSTR);
constexpr CEPROPID kCount = PropId(2, CEVT_UI4);
namespace stdfs = std::filesystem;

class BatchTest : public StoreTest {
 protected:
  // A volume of one database "Stock" with the given names, unmounted.
  void MakeVolume(const std::string& file, const std::vector<std::u16string>& names) {
    CEGUID vol = MountNew(file);
    HANDLE h = Open(vol, CreateDb(vol, u"Stock", 0, {{kName, 0}}), 0);
    for (const auto& name : names) Write(h, 0, {{kName, name}});
    CeCloseHandle(h);
    ASSERT_TRUE(CeUnmountDBVol(&vol));
    mounted_.pop_back();
  }

  // The names in the volume's "Stock", in name order.
  std::vector<std::u16string> Names(const std::string& file) {
    CEGUID vol{};
    EXPECT_TRUE(CeMountDBVol(&vol, WidePath(file).c_str(), OPEN_EXISTING)) << StoreLastMessage();
    CEOID oid = 0;
    HANDLE h = CeOpenDatabaseEx(&vol, &oid, u"Stock", kName, 0, nullptr);
    std::vector<std::u16string> names;
    for (CEOID r : WalkByPosition(h)) {
      CeSeekDatabase(h, CEDB_SEEK_CEOID, r, nullptr);
      names.push_back(Text(h, kName));
    }
    CeCloseHandle(h);
    CeUnmountDBVol(&vol);
    return names;
  }
};

TEST_F(BatchTest, ABatchEndedWithoutKeepLeavesTheVolumeAsItWas) {
  MakeVolume("shop.tbm", {u"Anvil", u"Bolt", u"Chisel"});
  CEGUID vol{};
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("shop.tbm").c_str(), OPEN_EXISTING));
  mounted_.push_back(vol);
  CEOID oid = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &oid, u"Stock", kName, 0, nullptr);
  const std::vector<CEOID> before = WalkByPosition(h);

  ASSERT_TRUE(StoreBeginBatch(&vol));
  ASSERT_TRUE(StoreBeginBatch(&vol));  // nested: the handheld's own calls open batches too
  Write(h, 0, {{kName, std::u16string(u"Drill")}, {kCount, 4u}});
  Write(h, before[0], {{kName, std::u16string(u"Zither")}});
  ASSERT_TRUE(CeDeleteRecord(h, before[1]));
  ASSERT_TRUE(CeFlushDBVol(&vol));  // put off: the batch is still open
  ASSERT_TRUE(StoreEndBatch(&vol, TRUE));
  EXPECT_EQ(WalkByPosition(h).size(), 3u);
  ASSERT_TRUE(StoreEndBatch(&vol, FALSE));

  // This process sees the volume as it was, handles and counts included,
  // and new records take identifiers no record has.
  EXPECT_EQ(WalkByPosition(h), before);
  CEOIDINFO info{};
  ASSERT_TRUE(CeOidGetInfoEx(&vol, oid, &info));
  EXPECT_EQ(info.infDatabase.dwNumRecords, 3u);
  const CEOID added = Write(h, 0, {{kName, std::u16string(u"Easel")}});
  EXPECT_EQ(std::count(before.begin(), before.end(), added), 0);
  ASSERT_TRUE(CeFlushDBVol(&vol));
  CeCloseHandle(h);
  ASSERT_TRUE(CeUnmountDBVol(&vol));
  mounted_.clear();
  EXPECT_EQ(Names("shop.tbm"),
            (std::vector<std::u16string>{u"Anvil", u"Bolt", u"Chisel", u"Easel"}));
}

TEST_F(BatchTest, AnInnerBatchGivenUpMakesTheOuterOneGiveUpToo) {
  MakeVolume("shop.tbm", {u"Anvil"});
  CEGUID vol{};
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("shop.tbm").c_str(), OPEN_EXISTING));
  mounted_.push_back(vol);
  CEOID oid = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &oid, u"Stock", kName, 0, nullptr);
  ASSERT_TRUE(StoreBeginBatch(&vol));
  Write(h, 0, {{kName, std::u16string(u"Bolt")}});
  ASSERT_TRUE(StoreBeginBatch(&vol));
  Write(h, 0, {{kName, std::u16string(u"Chisel")}});
  ASSERT_TRUE(StoreEndBatch(&vol, FALSE));
  EXPECT_FALSE(StoreEndBatch(&vol, TRUE));
  EXPECT_FALSE(StoreEndBatch(&vol, TRUE));  // no batch is open any more
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CeCloseHandle(h);
  ASSERT_TRUE(CeUnmountDBVol(&vol));
  mounted_.clear();
  EXPECT_EQ(Names("shop.tbm"), std::vector<std::u16string>{u"Anvil"});
}

TEST_F(BatchTest, AReplaceTakesTheOldFilesPlaceWithItsLeftoversAndRefusesOtherFiles) {
  MakeVolume("shop.tbm", {u"Anvil", u"Bolt"});
  MakeVolume("new.tbm", {u"Crate"});
  // A journal left by a process that died belongs to the old file only.
  tbm::testing::WriteWholeFile(HostPath("shop.tbm-wal"), std::string(4096, '\x5a'));
  ASSERT_TRUE(StoreReplaceVolume(WidePath("shop.tbm").c_str(), WidePath("new.tbm").c_str()))
      << StoreLastMessage();
  EXPECT_FALSE(stdfs::exists(HostPath("new.tbm")));
  EXPECT_FALSE(stdfs::exists(HostPath("shop.tbm-wal")));
  EXPECT_EQ(Names("shop.tbm"), std::vector<std::u16string>{u"Crate"});

  // Nothing to replace: the new file is put in place.
  MakeVolume("other.tbm", {u"Dowel"});
  ASSERT_TRUE(StoreReplaceVolume(WidePath("absent.tbm").c_str(), WidePath("other.tbm").c_str()));
  EXPECT_EQ(Names("absent.tbm"), std::vector<std::u16string>{u"Dowel"});

  // A file that is not a volume, or a volume this process has mounted,
  // is never replaced; both files stay as they were.
  MakeVolume("third.tbm", {u"Easel"});
  tbm::testing::WriteWholeFile(HostPath("notes.txt"), "not a volume");
  EXPECT_FALSE(StoreReplaceVolume(WidePath("notes.txt").c_str(), WidePath("third.tbm").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_BAD_FORMAT);
  EXPECT_EQ(tbm::testing::ReadWholeFile(HostPath("notes.txt")), "not a volume");
  CEGUID vol{};
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("shop.tbm").c_str(), OPEN_EXISTING));
  mounted_.push_back(vol);
  EXPECT_FALSE(StoreReplaceVolume(WidePath("shop.tbm").c_str(), WidePath("third.tbm").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  const char* cause = nullptr;
  EXPECT_EQ(StoreLastCause(&cause), ERROR_BAD_FORMAT);  // the first since the last clear
  StoreClearCause();
  EXPECT_EQ(StoreLastCause(nullptr), ERROR_SUCCESS);
  EXPECT_EQ(Names("third.tbm"), std::vector<std::u16string>{u"Easel"});
}

}  // namespace
}  // namespace tbm::store::testing
