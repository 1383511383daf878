// Reading and writing records: the insufficient-buffer protocol, selected
// properties, overwrites and removals, size limits.
#include <cstdlib>

#include "StoreFixture.h"

namespace tbm::store::testing {
namespace {

constexpr CEPROPID kState = PropId(0, CEVT_UI2);
constexpr CEPROPID kReserved = PropId(1, CEVT_BOOL);
constexpr CEPROPID kIdentity = PropId(2, CEVT_BLOB);
constexpr CEPROPID kSortKey = PropId(3, CEVT_I4);
constexpr CEPROPID kSeq = PropId(4, CEVT_UI4);
constexpr CEPROPID kField0 = PropId(5, CEVT_LPWSTR);
constexpr CEPROPID kField1 = PropId(6, CEVT_LPWSTR);

class RecordTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    vol_ = MountNew("records.tbm");
    db_ = CreateDb(vol_, u"DATA_0", 0x44415441, {{kSeq, 0}});
    h_ = Open(vol_, db_, kSeq);
  }
  void TearDown() override {
    CeCloseHandle(h_);
    StoreTest::TearDown();
  }
  // A contact record as the engine stores one.
  CEOID AddContact(std::uint32_t seq, const std::u16string& name, const std::u16string& city) {
    return Write(h_, 0,
                 {{kState, std::uint16_t{5}},
                  {kReserved, false},
                  {kIdentity, std::vector<std::uint8_t>(10, 0)},
                  {kSortKey, 0},
                  {kSeq, seq},
                  {kField0, name},
                  {kField1, city}});
  }
  CEGUID vol_{};
  CEOID db_ = 0;
  HANDLE h_ = nullptr;
};

TEST_F(RecordTest, AReadWithoutABufferReportsTheSizeNeeded) {
  const CEOID oid = AddContact(0, u"Fran\u00E7oise Dupont", u"Lyon");
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CEOID, oid, nullptr), oid);
  const auto readsBefore = StoreRecordReads();
  const CEPROPID wanted[] = {kField0};
  WORD count = 1;
  BYTE* buffer = nullptr;
  DWORD size = 0;
  EXPECT_EQ(CeReadRecordPropsEx(h_, 0, &count, wanted, &buffer, &size, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GE(size, sizeof(CEPROPVAL) + 18 * 2);
  std::vector<BYTE> storage(size, 0);
  buffer = storage.data();
  DWORD tooSmall = size - 1;
  EXPECT_EQ(CeReadRecordPropsEx(h_, 0, &count, wanted, &buffer, &tooSmall, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(tooSmall, size);
  EXPECT_EQ(CeReadRecordPropsEx(h_, 0, &count, wanted, &buffer, &size, nullptr), oid);
  EXPECT_EQ(StoreRecordReads(), readsBefore + 1) << "only reads that return a record count";
  const auto* v = reinterpret_cast<const CEPROPVAL*>(buffer);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(std::u16string(v[0].val.lpwstr), u"Fran\u00E7oise Dupont");
  // The text lies inside the caller's buffer.
  EXPECT_GE(reinterpret_cast<BYTE*>(v[0].val.lpwstr), buffer);
  EXPECT_LT(reinterpret_cast<BYTE*>(v[0].val.lpwstr), buffer + size);
}

TEST_F(RecordTest, SelectedPropertiesComeInTheOrderAskedWithMissingOnesFlagged) {
  const CEOID oid = AddContact(0, u"Kofi Mensah", u"Accra");
  CeSeekDatabase(h_, CEDB_SEEK_CEOID, oid, nullptr);
  const CEPROPID wanted[] = {kField1, PropId(40, CEVT_LPWSTR), kState};
  WORD count = 3;
  BYTE* buffer = nullptr;
  DWORD size = 0;
  ASSERT_EQ(CeReadRecordPropsEx(h_, CEDB_ALLOWREALLOC, &count, wanted, &buffer, &size, nullptr),
            oid);
  const auto* v = reinterpret_cast<const CEPROPVAL*>(buffer);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(std::u16string(v[0].val.lpwstr), u"Accra");
  EXPECT_EQ(v[1].propid, PropId(40, CEVT_LPWSTR));
  EXPECT_EQ(v[1].wFlags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(v[2].val.uiVal, 5);
  EXPECT_EQ(v[2].wFlags, 0);
  std::free(buffer);
}

TEST_F(RecordTest, AllPropertiesComeInTheOrderFirstWritten) {
  const CEOID oid = AddContact(3, u"Ines", u"Porto");
  CeSeekDatabase(h_, CEDB_SEEK_CEOID, oid, nullptr);
  auto record = ReadCurrent(h_);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->size(), 7u);
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(record->at(kIdentity)),
            std::vector<std::uint8_t>(10, 0));
  EXPECT_EQ(std::get<bool>(record->at(kReserved)), false);
  EXPECT_EQ(std::get<std::uint32_t>(record->at(kSeq)), 3u);
}

TEST_F(RecordTest, OverwritingKeepsOtherPropertiesAndCanRemoveOne) {
  const CEOID oid = AddContact(0, u"Ola Nordmann", u"Bergen");
  ASSERT_EQ(Write(h_, oid, {{kField1, std::u16string(u"Oslo")}, {kState, std::uint16_t{1}}}), oid);
  CEPROPVAL remove{};
  remove.propid = kField0;
  remove.wFlags = CEDB_PROPDELETE;
  ASSERT_EQ(CeWriteRecordProps(h_, oid, 1, &remove), oid);
  CeSeekDatabase(h_, CEDB_SEEK_CEOID, oid, nullptr);
  auto record = ReadCurrent(h_);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->count(kField0), 0u);
  EXPECT_EQ(std::get<std::u16string>(record->at(kField1)), u"Oslo");
  EXPECT_EQ(std::get<std::uint16_t>(record->at(kState)), 1);
  EXPECT_EQ(record->size(), 6u);
}

TEST_F(RecordTest, EmptyAndLargestPropertiesRoundTrip) {
  const std::u16string longest((CEDB_MAXPROPDATASIZE - 2) / 2, u'\u4E2D');
  const std::vector<std::uint8_t> biggestBlock(CEDB_MAXPROPDATASIZE, 0xAB);
  const CEOID oid = Write(h_, 0,
                          {{kField0, std::u16string()},
                           {kField1, longest},
                           {kIdentity, std::vector<std::uint8_t>()},
                           {PropId(9, CEVT_BLOB), biggestBlock}});
  ASSERT_NE(oid, 0u) << StoreLastMessage();
  CeSeekDatabase(h_, CEDB_SEEK_CEOID, oid, nullptr);
  auto record = ReadCurrent(h_);
  ASSERT_TRUE(record);
  EXPECT_EQ(std::get<std::u16string>(record->at(kField0)), u"");
  EXPECT_EQ(std::get<std::u16string>(record->at(kField1)), longest);
  EXPECT_TRUE(std::get<std::vector<std::uint8_t>>(record->at(kIdentity)).empty());
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(record->at(PropId(9, CEVT_BLOB))), biggestBlock);
}

TEST_F(RecordTest, OversizedValuesAndRecordsAreRefusedWhole) {
  const std::u16string tooLong(CEDB_MAXPROPDATASIZE / 2, u'x');
  const CEOID oid = AddContact(0, u"Before", u"Before");
  EXPECT_EQ(Write(h_, oid, {{kField0, std::u16string(u"After")}, {kField1, tooLong}}), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  const std::vector<std::uint8_t> block(CEDB_MAXPROPDATASIZE, 1);
  EXPECT_EQ(Write(h_, oid,
                  {{PropId(20, CEVT_BLOB), block},
                   {PropId(21, CEVT_BLOB), block},
                   {PropId(22, CEVT_BLOB), std::vector<std::uint8_t>(200, 2)}}),
            0u)
      << "two full blocks and a little more make a record larger than a record may be";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CeSeekDatabase(h_, CEDB_SEEK_CEOID, oid, nullptr);
  EXPECT_EQ(Text(h_, kField0), u"Before") << "a refused write changes nothing";
  CEPROPVAL unknown{};
  unknown.propid = PropId(1, 64);
  EXPECT_EQ(CeWriteRecordProps(h_, 0, 1, &unknown), 0u);
  CEPROPVAL nullText{};
  nullText.propid = kField0;
  EXPECT_EQ(CeWriteRecordProps(h_, 0, 1, &nullText), 0u);
  EXPECT_EQ(CeWriteRecordProps(h_, 0, 1, nullptr), 0u);
  CEOIDINFO info{};
  CeOidGetInfoEx(&vol_, db_, &info);
  EXPECT_EQ(info.infDatabase.dwNumRecords, 1u);
}

TEST_F(RecordTest, WritesIntoAnotherDatabasesRecordAreRefused) {
  const CEOID other = CreateDb(vol_, u"DELT_0", 0x44454C54, {});
  HANDLE deletes = Open(vol_, other, 0);
  const CEOID copy = Write(deletes, 0, {{kState, std::uint16_t{3}}});
  EXPECT_EQ(Write(h_, copy, {{kState, std::uint16_t{1}}}), 0u);
  EXPECT_FALSE(CeDeleteRecord(h_, copy));
  CeCloseHandle(deletes);
}

TEST_F(RecordTest, AutoIncrementReadsWalkTheWholeTable) {
  for (std::uint32_t i = 0; i < 25; ++i) {
    AddContact(100 - i, u"Person " + std::u16string(1, static_cast<char16_t>(u'A' + i)), u"");
  }
  HANDLE walker = Open(vol_, db_, kSeq, CEDB_AUTOINCREMENT);
  std::vector<std::uint32_t> seqs;
  while (auto record = ReadCurrent(walker))
    seqs.push_back(std::get<std::uint32_t>(record->at(kSeq)));
  ASSERT_EQ(seqs.size(), 25u);
  EXPECT_TRUE(std::is_sorted(seqs.begin(), seqs.end()));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  CeCloseHandle(walker);
}

TEST_F(RecordTest, AFreshHandleStartsAtTheFirstRecord) {
  AddContact(2, u"Second", u"");
  AddContact(1, u"First", u"");
  HANDLE fresh = Open(vol_, db_, kSeq);
  EXPECT_EQ(Text(fresh, kField0), u"First");
  CeCloseHandle(fresh);
  const CEOID empty = CreateDb(vol_, u"Empty", 0, {});
  HANDLE none = Open(vol_, empty, 0);
  EXPECT_FALSE(ReadCurrent(none).has_value());
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  CeCloseHandle(none);
}

TEST_F(RecordTest, AWriteIsSeenByAHandleReadingTheSameRecord) {
  const CEOID oid = AddContact(0, u"Old name", u"");
  HANDLE reader = Open(vol_, db_, kSeq);
  ASSERT_EQ(Text(reader, kField0), u"Old name");
  Write(h_, oid, {{kField0, std::u16string(u"New name")}});
  EXPECT_EQ(Text(reader, kField0), u"New name");
  CeCloseHandle(reader);
}

TEST_F(RecordTest, AWriteIsSeenAfterSeekingAgainToTheRecordsPosition) {
  AddContact(0, u"Amara Okafor", u"Lagos");
  const CEOID oid = AddContact(1, u"Jonas Berg", u"Malm\u00F6");
  AddContact(2, u"Li Wei", u"Chengdu");
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 1, nullptr), oid);
  Write(h_, oid, {{kField1, std::u16string(u"G\u00F6teborg")}});
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 1, nullptr), oid);
  EXPECT_EQ(Text(h_, kField1), u"G\u00F6teborg");
}

}  // namespace
}  // namespace tbm::store::testing
