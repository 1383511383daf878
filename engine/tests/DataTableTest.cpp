// The data and delete tables: creating, opening and counting them, adding
// records (the record limit, batches, the sequence cache), deleting all
// records and changing the order.
#include "DatabaseFixture.h"

namespace tbm::engine::testing {
namespace {

using DataTableTest = DatabaseTest;

TEST_F(DataTableTest, ANewDatabaseHasEmptyTablesAndCountersAtZero) {
  MakeDatabase(12);
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(DeleteCount(), 0u);
  EXPECT_EQ(Counter(kDataCounter), 0u);
  EXPECT_EQ(Counter(kDeleteCounter), 0u);
  EXPECT_EQ(MDbDataTblIsOpened(&env_, &env_.ref, &env_.data), 1);
  EXPECT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrFailed) << "open";
}

TEST_F(DataTableTest, NewRecordsAreEmptyAddedAndModified) {
  MakeDatabase(12);
  std::uint32_t oid = 0;
  std::uint16_t position = 99;
  ASSERT_EQ(MDbDataTblNewRec(&env_, &env_.ref, &env_.data, &env_.schema, &oid, &position),
            MDbErrNone);
  EXPECT_EQ(position, 0);
  EXPECT_EQ(State(oid), MDbRecModified | MDbRecAdded);
  for (int f = 0; f < 12; ++f) EXPECT_EQ(Field(oid, f), u"");
  EXPECT_EQ(Field(oid, 12), u"<failed>") << "no field beyond the schema";
  EXPECT_EQ(Counter(kDataCounter), 1u);
  ASSERT_EQ(MDbDataTblNewRec(&env_, &env_.ref, &env_.data, &env_.schema, nullptr, &position),
            MDbErrNone);
  EXPECT_EQ(position, 1) << "creation order";
}

TEST_F(DataTableTest, AddedRecordsKeepTheirIdentityAndValues) {
  MakeDatabase(12);
  const std::uint32_t clean = Add(0, true);
  const std::uint32_t dirty = Add(1, false);
  EXPECT_EQ(State(clean), 0);
  EXPECT_EQ(State(dirty), MDbRecModified | MDbRecAdded);
  EXPECT_EQ(Field(clean, 0), u"Okafor");
  EXPECT_EQ(Field(dirty, 2), u"Company 1");
  MDbDataRec rec;
  MDbDataRecInitialize(&rec);
  std::uint32_t oid = clean;
  ASSERT_EQ(MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec, &oid), MDbErrNone);
  std::uint8_t block[MDbIdentityBytes];
  ASSERT_EQ(MDbDataRecGetRecInfo(&env_, &env_.ref, &env_.data, &rec, block), MDbErrNone);
  const MDbIdentity identity = MDbDecodeIdentity(block);
  EXPECT_EQ(identity.desktopId[0], 3);
  EXPECT_EQ(identity.desktopId[1], 'R');
  EXPECT_EQ(identity.modificationCount, 7);
  MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec);
}

TEST_F(DataTableTest, TwelveValuesAreWrittenInTwoBatchesAsSeventeenProperties) {
  MakeDatabase(12);
  const std::uint32_t oid = Add(4);
  CEOID found = 0;
  ASSERT_EQ(CeSeekDatabase(env_.data.dataHandle, CEDB_SEEK_CEOID, oid, nullptr), oid);
  BYTE* all = nullptr;
  DWORD bytes = 0;
  WORD count = 0;
  found = CeReadRecordPropsEx(env_.data.dataHandle, CEDB_ALLOWREALLOC, &count, nullptr, &all,
                              &bytes, nullptr);
  EXPECT_EQ(found, oid);
  EXPECT_EQ(count, 17);
  const auto* props = reinterpret_cast<const CEPROPVAL*>(all);
  EXPECT_EQ(props[16].propid, FieldProp(11));
  EXPECT_EQ(std::u16string(props[16].val.lpwstr), u"Balance 4");
  std::free(all);
}

TEST_F(DataTableTest, ARecordWhoseSecondBatchFailsIsNotLeftHalfWritten) {
  MakeDatabase(12);
  Add(0);
  std::vector<std::u16string> values;
  for (int f = 0; f < 12; ++f) values.push_back(Value(1, f));
  values[11] = std::u16string(40000, u'x');  // more than a property may hold
  std::vector<const char16_t*> ptrs;
  for (const auto& v : values) ptrs.push_back(v.c_str());
  const std::uint8_t identity[10] = {};
  EXPECT_EQ(MDbDataTblAddRec(&env_, &env_.ref, &env_.data, identity, ptrs.data(), 12, 1, nullptr,
                             nullptr),
            MDbErrFailed);
  EXPECT_EQ(Count(), 1u) << "the first batch was taken back";
  EXPECT_EQ(Counter(kDataCounter), 1u) << "no number was used up";
  EXPECT_NE(Add(2), 0u);
  EXPECT_EQ(Count(), 2u);
}

TEST_F(DataTableTest, TheRecordLimitIsCheckedBeforeAnythingIsWritten) {
  MakeDatabase(3);
  ASSERT_EQ(StartCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
  for (int r = 0; r < 4999; ++r) Add(r);
  ASSERT_EQ(EndCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
  EXPECT_EQ(Count(), 4999u);
  ASSERT_EQ(MDbDataTblNewRec(&env_, &env_.ref, &env_.data, &env_.schema, nullptr, nullptr),
            MDbErrNone)
      << "the 5000th record";
  // The cache stays in force until the table is closed: the 5000th number
  // came from it.
  EXPECT_EQ(Counter(kDataCounter), 4999u);
  EXPECT_EQ(env_.data.cachedSeq, 5000u);
  EXPECT_EQ(MDbDataTblNewRec(&env_, &env_.ref, &env_.data, &env_.schema, nullptr, nullptr),
            MDbErrTooManyRecords);
  const char16_t* values[] = {u"a", u"b", u"c"};
  const std::uint8_t identity[10] = {};
  EXPECT_EQ(
      MDbDataTblAddRec(&env_, &env_.ref, &env_.data, identity, values, 3, 1, nullptr, nullptr),
      MDbErrTooManyRecords);
  EXPECT_EQ(Count(), 5000u);
  EXPECT_EQ(Counter(kDataCounter), 4999u) << "the counters stay as they were";
  EXPECT_EQ(env_.data.cachedSeq, 5000u);
}

TEST_F(DataTableTest, TheSequenceCacheNumbersABulkLoadAndWritesTheCounterOnce) {
  MakeDatabase(5);
  ASSERT_EQ(StartCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
  std::vector<std::uint32_t> oids;
  for (int r = 0; r < 30; ++r) oids.push_back(Add(r));
  EXPECT_EQ(Counter(kDataCounter), 0u);
  ASSERT_EQ(EndCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
  EXPECT_EQ(Counter(kDataCounter), 30u);
  ASSERT_EQ(MDbDataTblClose(&env_, &env_.ref, &env_.data), MDbErrNone);
  EXPECT_EQ(env_.data.cachedSeq, 0xFFFFFFFFu);
  EXPECT_EQ(env_.data.cursor, -1);
  ASSERT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrNone);
  for (int r = 0; r < 30; ++r) {
    env_.data.cursor = static_cast<std::int16_t>(r);
    MDbDataRec rec;
    MDbDataRecInitialize(&rec);
    ASSERT_EQ(MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec, nullptr), MDbErrNone);
    EXPECT_EQ(rec.oid, oids[static_cast<std::size_t>(r)]) << "creation order";
    MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec);
  }
}

TEST_F(DataTableTest, DeletingAllRecordsKeepsTheDeleteTable) {
  MakeDatabase(6);
  for (int r = 0; r < 8; ++r) Add(r);
  ASSERT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 0, nullptr, false), MDbErrNone);
  ASSERT_EQ(DeleteCount(), 1u);
  ASSERT_EQ(DeleteAllDataRecords(&env_, &env_.ref, &env_.data), MDbErrNone);
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(DeleteCount(), 1u);
  EXPECT_EQ(Counter(kDataCounter), 0u);
  EXPECT_EQ(Counter(kDeleteCounter), 1u);
  EXPECT_EQ(MDbDataTblIsOpened(&env_, &env_.ref, &env_.data), 1);
  EXPECT_NE(Add(9), 0u) << "the new table takes records";
}

TEST_F(DataTableTest, DeletingTheDataTableAloneKeepsTheDeleteTable) {
  MakeDatabase(4);
  Add(0);
  ASSERT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 0, nullptr, false), MDbErrNone);
  ASSERT_EQ(MDbDataTblClose(&env_, &env_.ref, &env_.data), MDbErrNone);
  const std::uint16_t dataOnly = 1;
  ASSERT_EQ(MDbDataTblDelete(&env_, &env_.ref, &dataOnly), MDbErrNone);
  EXPECT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrFailed);
  ASSERT_EQ(MDbDataTblCreate(&env_, &env_.ref, &dataOnly), MDbErrNone);
  ASSERT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrNone);
  EXPECT_EQ(DeleteCount(), 1u);
  ASSERT_EQ(MDbDataTblClose(&env_, &env_.ref, &env_.data), MDbErrNone);
  ASSERT_EQ(MDbDataTblDelete(&env_, &env_.ref, nullptr), MDbErrNone);
  EXPECT_EQ(MDbDataTblDelete(&env_, &env_.ref, nullptr), MDbErrFailed) << "nothing left";
}

TEST_F(DataTableTest, OrderChangedToAFieldAndRestored) {
  MakeDatabase(3);
  const std::vector<std::u16string> names = {u"Nguyen", u"\u00C5berg", u"okafor", u"Baker"};
  std::vector<std::uint32_t> oids;
  for (const auto& n : names) {
    const char16_t* values[] = {n.c_str(), u"x", u"y"};
    const std::uint8_t identity[10] = {};
    std::uint32_t oid = 0;
    ASSERT_EQ(MDbDataTblAddRec(&env_, &env_.ref, &env_.data, identity, values, 3, 1, &oid, nullptr),
              MDbErrNone);
    oids.push_back(oid);
  }
  auto walk = [&] {
    std::vector<std::u16string> out;
    for (std::int16_t i = 0; i < 4; ++i) {
      env_.data.cursor = i;
      MDbDataRec rec;
      MDbDataRecInitialize(&rec);
      if (MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec, nullptr) != MDbErrNone) break;
      const char16_t* text = nullptr;
      MDbDataRecGetFieldPtr(&env_, &env_.ref, &env_.data, &env_.schema, &rec, 0, &text);
      out.push_back(text ? text : u"?");
      MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec);
    }
    return out;
  };
  ASSERT_EQ(SetDataTableOrder(&env_, &env_.ref, &env_.data, FieldProp(0), false), MDbErrNone);
  EXPECT_EQ(walk(), (std::vector<std::u16string>{u"\u00C5berg", u"Baker", u"Nguyen", u"okafor"}));
  ASSERT_EQ(SetDataTableOrder(&env_, &env_.ref, &env_.data, FieldProp(0), true), MDbErrNone);
  EXPECT_EQ(walk(), (std::vector<std::u16string>{u"okafor", u"Nguyen", u"Baker", u"\u00C5berg"}));
  ASSERT_EQ(RestoreDataTableOrder(&env_, &env_.ref, &env_.data), MDbErrNone);
  EXPECT_EQ(walk(), names);
  CEOIDINFO info{};
  ASSERT_TRUE(CeOidGetInfoEx(&env_.ref.volume, env_.data.dataOid, &info));
  EXPECT_EQ(info.infDatabase.wNumSortOrder, 1);
}

TEST_F(DataTableTest, ClosedTablesAndUninitialisedEnvironmentsChangeNothing) {
  MakeDatabase(3);
  Add(0);
  MDbDataTbl closed;
  std::memset(&closed, 0, sizeof closed);
  std::uint32_t n = 0;
  EXPECT_EQ(MDbDataTblGetRecCount(&env_, &env_.ref, &closed, &n), MDbErrFailed);
  EXPECT_EQ(MDbDataTblClose(&env_, &env_.ref, &closed), MDbErrFailed);
  EXPECT_EQ(MDbDataTblNewRec(&env_, &env_.ref, &closed, &env_.schema, nullptr, nullptr),
            MDbErrFailed);
  EXPECT_EQ(DeleteAllDataRecords(&env_, &env_.ref, &closed), MDbErrFailed);
  MDbEnv cold;
  MDbEnvInitialize(&cold);
  EXPECT_EQ(MDbDataTblCreate(&cold, &env_.ref, nullptr), MDbErrFailed);
  EXPECT_EQ(MDbDataTblNewRec(&cold, &env_.ref, &env_.data, &env_.schema, nullptr, nullptr),
            MDbErrFailed);
  const std::uint8_t identity[10] = {};
  EXPECT_EQ(
      MDbDataTblAddRec(&env_, &env_.ref, &env_.data, identity, nullptr, 2, 1, nullptr, nullptr),
      MDbErrFailed);
  EXPECT_EQ(Count(), 1u);
}

}  // namespace
}  // namespace tbm::engine::testing
