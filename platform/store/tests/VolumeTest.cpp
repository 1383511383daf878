// Mounting volumes and managing the databases inside them.
#include <cstring>
#include <filesystem>

#include "StoreFixture.h"
#include "Utf16.h"

namespace tbm::store::testing {
namespace {

constexpr DWORD kContacts = 0x434F4E54;  // "CONT"
constexpr CEPROPID kName = PropId(1, CEVT_LPWSTR);

using VolumeTest = StoreTest;

TEST_F(VolumeTest, CreateNewRefusesAnExistingFileAndLeavesItAlone) {
  CEGUID vol = MountNew("sales.tbm");
  ASSERT_TRUE(CeUnmountDBVol(&vol));
  mounted_.clear();
  const auto before = std::filesystem::file_size(HostPath("sales.tbm"));
  CEGUID again{};
  EXPECT_FALSE(CeMountDBVol(&again, WidePath("sales.tbm").c_str(), CREATE_NEW));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(std::filesystem::file_size(HostPath("sales.tbm")), before);
}

TEST_F(VolumeTest, OpenExistingNeedsTheFile) {
  CEGUID vol{};
  EXPECT_FALSE(CeMountDBVol(&vol, WidePath("missing.tbm").c_str(), OPEN_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(HostPath("missing.tbm")));
  EXPECT_NE(std::string(StoreLastMessage()).find("missing.tbm"), std::string::npos);
}

TEST_F(VolumeTest, OpenAlwaysCreatesThenReopens) {
  CEGUID vol{};
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("inventory.tbm").c_str(), OPEN_ALWAYS));
  const CEOID db = CreateDb(vol, u"Stock", 0, {});
  HANDLE h = Open(vol, db, 0);
  Write(h, 0, {{kName, std::u16string(u"Hex bolts M6")}});
  CeCloseHandle(h);
  ASSERT_TRUE(CeUnmountDBVol(&vol));
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("inventory.tbm").c_str(), OPEN_ALWAYS));
  mounted_.push_back(vol);
  CEOIDINFO info{};
  ASSERT_TRUE(CeOidGetInfoEx(&vol, db, &info));
  EXPECT_EQ(info.wObjType, OBJTYPE_DATABASE);
  EXPECT_EQ(info.infDatabase.dwNumRecords, 1u);
}

TEST_F(VolumeTest, HandheldPathsMountInsideTheDeviceRoot) {
  CEGUID vol{};
  std::filesystem::create_directories(folder_ / "device" / "My Documents" / "Tabulon");
  ASSERT_TRUE(CeMountDBVol(&vol, u"\\My Documents\\Tabulon\\Sales.tbm", CREATE_NEW))
      << StoreLastMessage();
  mounted_.push_back(vol);
  EXPECT_TRUE(
      std::filesystem::exists(folder_ / "device" / "My Documents" / "Tabulon" / "Sales.tbm"));
}

TEST_F(VolumeTest, MountingTwiceSharesTheVolumeUntilTheLastUnmount) {
  CEGUID first = MountNew("shared.tbm");
  CEGUID second{};
  ASSERT_TRUE(CeMountDBVol(&second, WidePath("shared.tbm").c_str(), OPEN_EXISTING));
  EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
  const CEOID db = CreateDb(first, u"People", 0, {});
  HANDLE h = Open(second, db, 0);
  EXPECT_NE(Write(h, 0, {{kName, std::u16string(u"Ada")}}), 0u);
  ASSERT_TRUE(CeUnmountDBVol(&second));
  EXPECT_NE(Write(h, 0, {{kName, std::u16string(u"Grace")}}), 0u) << "one mount is left";
  ASSERT_TRUE(CeUnmountDBVol(&first));
  mounted_.clear();
  EXPECT_EQ(Write(h, 0, {{kName, std::u16string(u"Alan")}}), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CeCloseHandle(h)) << "a handle outlives its volume only to be closed";
  EXPECT_FALSE(CeUnmountDBVol(&first));
}

TEST_F(VolumeTest, DatabaseNamesAreUniqueIgnoringCase) {
  CEGUID vol = MountNew("names.tbm");
  CreateDb(vol, u"Kunden", 1, {});
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME;
  CopyUtf16Cut(info.szDbaseName, sizeof info.szDbaseName, u"KUNDEN");
  EXPECT_EQ(CeCreateDatabaseEx(&vol, &info), 0u);
  EXPECT_EQ(GetLastError(), ERROR_DUP_NAME);
  CEOID byName = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &byName, u"kunden", 0, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_NE(byName, 0u);
  CeCloseHandle(h);
}

TEST_F(VolumeTest, BadDatabaseDefinitionsAreRefused) {
  CEGUID vol = MountNew("bad.tbm");
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME;
  EXPECT_EQ(CeCreateDatabaseEx(&vol, &info), 0u) << "an empty name";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  std::fill(std::begin(info.szDbaseName), std::end(info.szDbaseName), u'x');
  EXPECT_EQ(CeCreateDatabaseEx(&vol, &info), 0u) << "a name without room for its terminator";
  CopyUtf16Cut(info.szDbaseName, sizeof info.szDbaseName, u"Five");
  info.dwFlags |= CEDB_VALIDSORTSPEC;
  info.wNumSortOrder = 5;
  EXPECT_EQ(CeCreateDatabaseEx(&vol, &info), 0u) << "five sort orders";
  info.wNumSortOrder = 1;
  info.rgSortSpecs[0] = {PropId(1, 7), 0};
  EXPECT_EQ(CeCreateDatabaseEx(&vol, &info), 0u) << "an unknown property type";
}

TEST_F(VolumeTest, EnumeratesDatabasesByTypeInCreationOrder) {
  CEGUID vol = MountNew("enum.tbm");
  const CEOID a = CreateDb(vol, u"OBJG_0", 0x4F424A47, {});
  const CEOID b = CreateDb(vol, u"DATA_0", 0x44415441, {});
  const CEOID c = CreateDb(vol, u"DELT_0", 0x44454C54, {});
  HANDLE find = CeFindFirstDatabaseEx(&vol, 0);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeFindNextDatabaseEx(find, &vol), a);
  EXPECT_EQ(CeFindNextDatabaseEx(find, &vol), b);
  ASSERT_TRUE(CeDeleteDatabaseEx(&vol, c));
  EXPECT_EQ(CeFindNextDatabaseEx(find, &vol), 0u) << "a database deleted meanwhile is skipped";
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  CeCloseHandle(find);

  find = CeFindFirstDatabaseEx(&vol, 0x44415441);
  EXPECT_EQ(CeFindNextDatabaseEx(find, &vol), b);
  EXPECT_EQ(CeFindNextDatabaseEx(find, &vol), 0u);
  CeCloseHandle(find);
  EXPECT_EQ(CeFindNextDatabaseEx(find, &vol), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(VolumeTest, DeletingADatabaseRemovesItsRecordsAndStopsItsHandles) {
  CEGUID vol = MountNew("delete.tbm");
  const CEOID db = CreateDb(vol, u"Contacts", kContacts, {{kName, 0}});
  HANDLE h = Open(vol, db, kName);
  const CEOID rec = Write(h, 0, {{kName, std::u16string(u"Lin")}});
  ASSERT_TRUE(CeDeleteDatabaseEx(&vol, db));
  CEOIDINFO info{};
  EXPECT_FALSE(CeOidGetInfoEx(&vol, db, &info));
  EXPECT_FALSE(CeOidGetInfoEx(&vol, rec, &info));
  EXPECT_EQ(CeSeekDatabase(h, CEDB_SEEK_BEGINNING, 0, nullptr), 0u);
  EXPECT_EQ(Write(h, 0, {{kName, std::u16string(u"Kim")}}), 0u);
  CeCloseHandle(h);
  // The name is free again.
  EXPECT_NE(CreateDb(vol, u"Contacts", kContacts, {}), 0u);
}

TEST_F(VolumeTest, InfoDescribesDatabasesAndRecords) {
  CEGUID vol = MountNew("info.tbm");
  const CEOID db = CreateDb(vol, u"Orders", 0x4F524452,
                            {{PropId(4, CEVT_UI4), 0}, {kName, CEDB_SORT_DESCENDING}});
  HANDLE h = Open(vol, db, 0);
  const CEOID rec = Write(h, 0, {{kName, std::u16string(u"#1001")}});
  CEOIDINFO info{};
  ASSERT_TRUE(CeOidGetInfoEx(&vol, db, &info));
  EXPECT_EQ(std::u16string(info.infDatabase.szDbaseName), u"Orders");
  EXPECT_EQ(info.infDatabase.dwDbaseType, 0x4F524452u);
  EXPECT_EQ(info.infDatabase.dwNumRecords, 1u);
  ASSERT_EQ(info.infDatabase.wNumSortOrder, 2);
  EXPECT_EQ(info.infDatabase.rgSortSpecs[1].propid, kName);
  EXPECT_EQ(info.infDatabase.rgSortSpecs[1].dwFlags, CEDB_SORT_DESCENDING);
  ASSERT_TRUE(CeOidGetInfoEx(&vol, rec, &info));
  EXPECT_EQ(info.wObjType, OBJTYPE_RECORD);
  EXPECT_EQ(info.infRecord.oidParent, db);
  EXPECT_FALSE(CeOidGetInfoEx(&vol, 999999, &info));
  CeCloseHandle(h);
}

TEST_F(VolumeTest, UnflushedWritesAreKeptByUnmountAndIdentifiersNeverRepeat) {
  CEGUID vol = MountNew("oids.tbm");
  const CEOID db = CreateDb(vol, u"T", 0, {});
  HANDLE h = Open(vol, db, 0);
  const CEOID first = Write(h, 0, {{kName, std::u16string(u"one")}});
  const CEOID second = Write(h, 0, {{kName, std::u16string(u"two")}});
  ASSERT_TRUE(CeDeleteRecord(h, second));
  CeCloseHandle(h);
  ASSERT_TRUE(CeUnmountDBVol(&vol));
  mounted_.clear();
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("oids.tbm").c_str(), OPEN_EXISTING));
  mounted_.push_back(vol);
  h = Open(vol, db, 0);
  const CEOID third = Write(h, 0, {{kName, std::u16string(u"three")}});
  EXPECT_GT(third, second);
  EXPECT_EQ(WalkByPosition(h), (std::vector<CEOID>{first, third}));
  CeCloseHandle(h);
}

TEST_F(VolumeTest, CallsOnUnknownVolumesAndHandlesFailCleanly) {
  CEGUID bogus{1, 2, 3, 4};
  EXPECT_FALSE(CeFlushDBVol(&bogus));
  EXPECT_FALSE(CeUnmountDBVol(&bogus));
  EXPECT_FALSE(CeFlushDBVol(nullptr));
  CEDBASEINFO info{};
  EXPECT_EQ(CeCreateDatabaseEx(&bogus, &info), 0u);
  const HANDLE made_up = reinterpret_cast<HANDLE>(std::uintptr_t{0x12345});
  EXPECT_EQ(CeSeekDatabase(made_up, CEDB_SEEK_BEGINNING, 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CeCloseHandle(made_up));
  EXPECT_FALSE(CeCloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(CeDeleteRecord(nullptr, 1));
}

}  // namespace
}  // namespace tbm::store::testing
