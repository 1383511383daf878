// Sort orders: every property type both ways, text by collation, records
// lacking the property, equal keys, and orders changed under open handles.
#include "StoreFixture.h"

namespace tbm::store::testing {
namespace {

constexpr CEPROPID kName = PropId(5, CEVT_LPWSTR);
constexpr CEPROPID kQty = PropId(6, CEVT_I4);
constexpr CEPROPID kSeq = PropId(4, CEVT_UI4);
constexpr CEPROPID kState = PropId(0, CEVT_UI2);
constexpr CEPROPID kFlag = PropId(1, CEVT_BOOL);
constexpr CEPROPID kBlock = PropId(2, CEVT_BLOB);

class SortOrderTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    vol_ = MountNew("orders.tbm");
  }
  // The names of the records in the order a handle walks them.
  std::vector<std::u16string> Names(HANDLE h) {
    std::vector<std::u16string> out;
    for (DWORD i = 0; CeSeekDatabase(h, CEDB_SEEK_BEGINNING, i, nullptr) != 0; ++i) {
      out.push_back(Text(h, kName));
    }
    return out;
  }
  CEGUID vol_{};
};

TEST_F(SortOrderTest, TextSortsByCollationNotByCodeUnits) {
  const CEOID db = CreateDb(vol_, u"People", 0, {{kName, 0}});
  HANDLE h = Open(vol_, db, kName);
  for (const char16_t* n :
       {u"zoe", u"\u00C9mile", u"Zoe", u"adam", u"Eva", u"\u00F6zil", u"Otto"}) {
    Write(h, 0, {{kName, std::u16string(n)}});
  }
  // Accented letters sort with their base letter, lower case before upper
  // case of the same word.
  EXPECT_EQ(Names(h), (std::vector<std::u16string>{u"adam", u"\u00C9mile", u"Eva", u"Otto",
                                                   u"\u00F6zil", u"zoe", u"Zoe"}));
  CeCloseHandle(h);
}

TEST_F(SortOrderTest, CaseBlindOrdersTreatCaseVariantsAsEqualKeysInCreationOrder) {
  const CEOID db = CreateDb(vol_, u"People", 0, {{kName, CEDB_SORT_CASEINSENSITIVE}});
  HANDLE h = Open(vol_, db, kName);
  const CEOID upper = Write(h, 0, {{kName, std::u16string(u"SMITH")}});
  const CEOID lower = Write(h, 0, {{kName, std::u16string(u"smith")}});
  const CEOID mixed = Write(h, 0, {{kName, std::u16string(u"Smith")}});
  Write(h, 0, {{kName, std::u16string(u"Jones")}});
  EXPECT_EQ(WalkByPosition(h)[1], upper);
  EXPECT_EQ(WalkByPosition(h)[2], lower);
  EXPECT_EQ(WalkByPosition(h)[3], mixed);
  CEPROPVAL v{};
  v.propid = kName;
  std::u16string wanted = u"sMiTh";
  v.val.lpwstr = wanted.data();
  EXPECT_EQ(
      CeSeekDatabase(h, CEDB_SEEK_VALUEFIRSTEQUAL, reinterpret_cast<std::uintptr_t>(&v), nullptr),
      upper);
  CeCloseHandle(h);
}

TEST_F(SortOrderTest, DescendingTextReversesPrefixesToo) {
  const CEOID db = CreateDb(vol_, u"Words", 0, {{kName, CEDB_SORT_DESCENDING}});
  HANDLE h = Open(vol_, db, kName);
  for (const char16_t* n : {u"car", u"cart", u"ca", u"", u"cat"}) {
    Write(h, 0, {{kName, std::u16string(n)}});
  }
  EXPECT_EQ(Names(h), (std::vector<std::u16string>{u"cat", u"cart", u"car", u"ca", u""}));
  CeCloseHandle(h);
}

TEST_F(SortOrderTest, SignedNumbersSortAcrossZeroBothWays) {
  const CEOID db = CreateDb(vol_, u"Stock", 0, {{kQty, 0}});
  const CEOID two = CreateDb(vol_, u"Stock2", 0, {{kQty, CEDB_SORT_DESCENDING}});
  HANDLE up = Open(vol_, db, kQty);
  HANDLE down = Open(vol_, two, kQty);
  for (std::int32_t q : {5, -3, 0, 2147483647, -2147483647 - 1, -1}) {
    const std::u16string label(1, static_cast<char16_t>(u'a' + (q & 7)));
    Write(up, 0, {{kQty, q}, {kName, label}});
    Write(down, 0, {{kQty, q}, {kName, label}});
  }
  auto quantities = [&](HANDLE h) {
    std::vector<std::int32_t> out;
    for (DWORD i = 0; CeSeekDatabase(h, CEDB_SEEK_BEGINNING, i, nullptr) != 0; ++i) {
      out.push_back(std::get<std::int32_t>(ReadCurrent(h)->at(kQty)));
    }
    return out;
  };
  EXPECT_EQ(quantities(up), (std::vector<std::int32_t>{-2147483647 - 1, -3, -1, 0, 5, 2147483647}));
  EXPECT_EQ(quantities(down),
            (std::vector<std::int32_t>{2147483647, 5, 0, -1, -3, -2147483647 - 1}));
  CeCloseHandle(up);
  CeCloseHandle(down);
}

TEST_F(SortOrderTest, UnsignedSmallBooleanAndBlockOrders) {
  const CEOID db = CreateDb(vol_, u"Mixed", 0,
                            {{kSeq, 0}, {kState, CEDB_SORT_DESCENDING}, {kFlag, 0}, {kBlock, 0}});
  HANDLE h = Open(vol_, db, 0);
  const CEOID a = Write(h, 0,
                        {{kSeq, 0xFFFFFFF0u},
                         {kState, std::uint16_t{1}},
                         {kFlag, true},
                         {kBlock, std::vector<std::uint8_t>{1, 0}}});
  const CEOID b = Write(h, 0,
                        {{kSeq, 7u},
                         {kState, std::uint16_t{65535}},
                         {kFlag, false},
                         {kBlock, std::vector<std::uint8_t>{1}}});
  const CEOID c = Write(h, 0,
                        {{kSeq, 300u},
                         {kState, std::uint16_t{5}},
                         {kFlag, true},
                         {kBlock, std::vector<std::uint8_t>{0, 255}}});
  CeCloseHandle(h);
  auto walk = [&](CEPROPID order) {
    HANDLE o = Open(vol_, db, order);
    auto out = WalkByPosition(o);
    CeCloseHandle(o);
    return out;
  };
  EXPECT_EQ(walk(kSeq), (std::vector<CEOID>{b, c, a}));
  EXPECT_EQ(walk(kState), (std::vector<CEOID>{b, c, a}));
  EXPECT_EQ(walk(kFlag), (std::vector<CEOID>{b, a, c}));
  EXPECT_EQ(walk(kBlock), (std::vector<CEOID>{c, b, a}));
}

TEST_F(SortOrderTest, RecordsLackingThePropertyGoLastUnlessAskedFirst) {
  const CEOID last = CreateDb(vol_, u"Last", 0, {{kQty, CEDB_SORT_DESCENDING}});
  const CEOID first = CreateDb(vol_, u"First", 0, {{kQty, CEDB_SORT_UNKNOWNFIRST}});
  for (CEOID db : {last, first}) {
    HANDLE h = Open(vol_, db, kQty);
    Write(h, 0, {{kName, std::u16string(u"none")}});
    Write(h, 0, {{kQty, 2}, {kName, std::u16string(u"two")}});
    Write(h, 0, {{kQty, 9}, {kName, std::u16string(u"nine")}});
    Write(h, 0, {{kName, std::u16string(u"none either")}});
    if (db == last) {
      EXPECT_EQ(Names(h), (std::vector<std::u16string>{u"nine", u"two", u"none", u"none either"}));
    } else {
      EXPECT_EQ(Names(h), (std::vector<std::u16string>{u"none", u"none either", u"two", u"nine"}));
    }
    CeCloseHandle(h);
  }
}

TEST_F(SortOrderTest, ChangingAValueMovesTheRecord) {
  const CEOID db = CreateDb(vol_, u"People", 0, {{kName, 0}});
  HANDLE h = Open(vol_, db, kName);
  Write(h, 0, {{kName, std::u16string(u"Baker")}});
  const CEOID moving = Write(h, 0, {{kName, std::u16string(u"Adams")}});
  Write(h, 0, {{kName, std::u16string(u"Clark")}});
  Write(h, moving, {{kName, std::u16string(u"Young")}});
  EXPECT_EQ(Names(h), (std::vector<std::u16string>{u"Baker", u"Clark", u"Young"}));
  CeCloseHandle(h);
}

TEST_F(SortOrderTest, ChangingSortOrdersWithRecordsAndOpenHandles) {
  // As the data table is re-sorted: the default order on the creation
  // sequence stays, a second order on a field is added, then removed.
  const CEOID db = CreateDb(vol_, u"DATA_0", 0x44415441, {{kSeq, 0}});
  HANDLE bySeq = Open(vol_, db, kSeq);
  const std::vector<std::u16string> names = {u"Nguyen", u"Okafor", u"Alvarez", u"M\u00FCller",
                                             u"Berg"};
  for (std::uint32_t i = 0; i < names.size(); ++i) {
    Write(bySeq, 0, {{kSeq, i}, {kName, names[i]}});
  }
  ASSERT_EQ(CeSeekDatabase(bySeq, CEDB_SEEK_BEGINNING, 2, nullptr), WalkByPosition(bySeq)[2]);

  CEOIDINFO info{};
  ASSERT_TRUE(CeOidGetInfoEx(&vol_, db, &info));
  CEDBASEINFO change = info.infDatabase;
  change.dwFlags = CEDB_VALIDSORTSPEC;
  change.wNumSortOrder = 2;
  change.rgSortSpecs[1] = {kName, CEDB_SORT_DESCENDING};
  ASSERT_TRUE(CeSetDatabaseInfoEx(&vol_, db, &change)) << StoreLastMessage();

  HANDLE byName = Open(vol_, db, kName);
  EXPECT_EQ(Names(byName), (std::vector<std::u16string>{u"Okafor", u"Nguyen", u"M\u00FCller",
                                                        u"Berg", u"Alvarez"}));
  EXPECT_EQ(Names(bySeq), names) << "the handle on the kept order walks as before";

  change.wNumSortOrder = 1;
  ASSERT_TRUE(CeSetDatabaseInfoEx(&vol_, db, &change));
  EXPECT_EQ(Names(byName), names) << "an order that is gone leaves natural order";
  CEPROPVAL v{};
  v.propid = kName;
  std::u16string berg = u"Berg";
  v.val.lpwstr = berg.data();
  EXPECT_EQ(CeSeekDatabase(byName, CEDB_SEEK_VALUEFIRSTEQUAL, reinterpret_cast<std::uintptr_t>(&v),
                           nullptr),
            0u);
  CEOID reopen = db;
  EXPECT_EQ(CeOpenDatabaseEx(&vol_, &reopen, nullptr, kName, 0, nullptr), INVALID_HANDLE_VALUE)
      << "no new handle on an order the database lacks";
  CeCloseHandle(bySeq);
  CeCloseHandle(byName);
}

TEST_F(SortOrderTest, ADatabaseGainingAndLosingAllSortOrdersKeepsItsRecords) {
  // The delete table has no sort order and is walked in natural order.
  const CEOID db = CreateDb(vol_, u"DELT_0", 0x44454C54, {});
  HANDLE natural = Open(vol_, db, 0);
  const std::vector<std::u16string> names = {u"Wei", u"Ama", u"Lars"};
  std::vector<CEOID> oids;
  for (const auto& n : names) oids.push_back(Write(natural, 0, {{kName, n}}));
  EXPECT_EQ(WalkByPosition(natural), oids);
  ASSERT_TRUE(CeDeleteRecord(natural, oids[1]));
  oids.erase(oids.begin() + 1);
  EXPECT_EQ(WalkByPosition(natural), oids);

  CEDBASEINFO change{};
  change.dwFlags = CEDB_VALIDSORTSPEC;
  change.wNumSortOrder = 1;
  change.rgSortSpecs[0] = {kName, 0};
  ASSERT_TRUE(CeSetDatabaseInfoEx(&vol_, db, &change));
  HANDLE sorted = Open(vol_, db, kName);
  EXPECT_EQ(Names(sorted), (std::vector<std::u16string>{u"Lars", u"Wei"}));
  EXPECT_EQ(WalkByPosition(natural), oids) << "natural order with a sort order present";
  const CEOID added = Write(sorted, 0, {{kName, std::u16string(u"Zoë")}});
  oids.push_back(added);

  change.wNumSortOrder = 0;
  ASSERT_TRUE(CeSetDatabaseInfoEx(&vol_, db, &change));
  EXPECT_EQ(WalkByPosition(natural), oids);
  CEOIDINFO info{};
  ASSERT_TRUE(CeOidGetInfoEx(&vol_, db, &info));
  EXPECT_EQ(info.infDatabase.dwNumRecords, 3u);
  CeCloseHandle(sorted);
  CeCloseHandle(natural);
}

TEST_F(SortOrderTest, RenamingAndRetypingKeepRecords) {
  const CEOID db = CreateDb(vol_, u"Old", 1, {});
  HANDLE h = Open(vol_, db, 0);
  Write(h, 0, {{kName, std::u16string(u"kept")}});
  CEDBASEINFO change{};
  change.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE;
  CopyUtf16Cut(change.szDbaseName, sizeof change.szDbaseName, u"New");
  change.dwDbaseType = 2;
  ASSERT_TRUE(CeSetDatabaseInfoEx(&vol_, db, &change));
  CEOIDINFO info{};
  ASSERT_TRUE(CeOidGetInfoEx(&vol_, db, &info));
  EXPECT_EQ(std::u16string(info.infDatabase.szDbaseName), u"New");
  EXPECT_EQ(info.infDatabase.dwDbaseType, 2u);
  EXPECT_EQ(info.infDatabase.dwNumRecords, 1u);
  CreateDb(vol_, u"Other", 1, {});
  CopyUtf16Cut(change.szDbaseName, sizeof change.szDbaseName, u"other");
  EXPECT_FALSE(CeSetDatabaseInfoEx(&vol_, db, &change));
  EXPECT_EQ(GetLastError(), ERROR_DUP_NAME);
  CeCloseHandle(h);
}

}  // namespace
}  // namespace tbm::store::testing
