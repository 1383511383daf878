// Every way of moving a handle's current record, including the misses.
#include "StoreFixture.h"

namespace tbm::store::testing {
namespace {

constexpr CEPROPID kKey = PropId(1, CEVT_UI4);
constexpr CEPROPID kLabel = PropId(2, CEVT_LPWSTR);

// An object table in miniature: keys (kind << 16) | index, as the engine
// keeps its header, schema and counters.
class SeekTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    vol_ = MountNew("objects.tbm");
    db_ = CreateDb(vol_, u"OBJG_0", 0x4F424A47, {{kKey, 0}});
    h_ = Open(vol_, db_, kKey);
    // Written out of order on purpose; kind 3 has indexes 0, 1 and 3.
    for (std::uint32_t key : {0x30001u, 0x50000u, 0x30000u, 0x30003u, 0x10000u, 0x60000u}) {
      oids_[key] = Write(h_, 0, {{kKey, key}, {kLabel, std::u16string(u"entry")}});
    }
  }
  void TearDown() override {
    CeCloseHandle(h_);
    StoreTest::TearDown();
  }
  CEOID SeekValue(DWORD type, std::uint32_t key, DWORD* index = nullptr) {
    CEPROPVAL v{};
    v.propid = kKey;
    v.val.ulVal = key;
    return CeSeekDatabase(h_, type, reinterpret_cast<std::uintptr_t>(&v), index);
  }
  CEGUID vol_{};
  CEOID db_ = 0;
  HANDLE h_ = nullptr;
  std::map<std::uint32_t, CEOID> oids_;
};

TEST_F(SeekTest, PositionsFollowTheSortOrder) {
  EXPECT_EQ(WalkByPosition(h_),
            (std::vector<CEOID>{oids_[0x10000], oids_[0x30000], oids_[0x30001], oids_[0x30003],
                                oids_[0x50000], oids_[0x60000]}));
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 6, nullptr), 0u) << "past the end";
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
}

TEST_F(SeekTest, ObjectIdentifierSeekReportsThePosition) {
  DWORD index = 99;
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CEOID, oids_[0x30003], &index), oids_[0x30003]);
  EXPECT_EQ(index, 3u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CEOID, 0xDEAD, &index), 0u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CEOID, db_, &index), 0u) << "a database is no record";
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 0, &index), oids_[0x30003])
      << "a miss leaves the current record where it was";
}

TEST_F(SeekTest, CurrentAndEndMoveRelatively) {
  DWORD index = 0;
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 1, &index), oids_[0x30000]);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 2, &index), oids_[0x30003]);
  EXPECT_EQ(index, 3u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, static_cast<DWORD>(-3), &index), oids_[0x10000]);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, static_cast<DWORD>(-1), &index), 0u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_END, 0, &index), oids_[0x60000]);
  EXPECT_EQ(index, 5u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_END, static_cast<DWORD>(-5), &index), oids_[0x10000]);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_END, static_cast<DWORD>(-6), &index), 0u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_END, 1, &index), 0u);
}

TEST_F(SeekTest, FirstEqualAndNextEqualCountAKind) {
  // The object table counts kind 3 by first-equal on index 0, then
  // next-equal on 1, 2 ... until a miss: 0, 1 and 3 count as 2.
  std::uint32_t count = 0;
  if (SeekValue(CEDB_SEEK_VALUEFIRSTEQUAL, 0x30000) != 0) {
    ++count;
    while (SeekValue(CEDB_SEEK_VALUENEXTEQUAL, 0x30000 + count) != 0) ++count;
  }
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(SeekValue(CEDB_SEEK_VALUEFIRSTEQUAL, 0x20000), 0u) << "no kind 2";
  EXPECT_EQ(SeekValue(CEDB_SEEK_VALUEFIRSTEQUAL, 0x50000), oids_[0x50000]);
  EXPECT_EQ(SeekValue(CEDB_SEEK_VALUENEXTEQUAL, 0x50000), 0u) << "only the next record counts";
  EXPECT_EQ(SeekValue(CEDB_SEEK_VALUENEXTEQUAL, 0x60000), oids_[0x60000]);
}

TEST_F(SeekTest, SmallerAndGreaterFindTheNeighbours) {
  DWORD index = 0;
  EXPECT_EQ(SeekValue(CEDB_SEEK_VALUESMALLER, 0x30002, &index), oids_[0x30001]);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(SeekValue(CEDB_SEEK_VALUEGREATER, 0x30002, &index), oids_[0x30003]);
  EXPECT_EQ(SeekValue(CEDB_SEEK_VALUESMALLER, 0x10000), 0u);
  EXPECT_EQ(SeekValue(CEDB_SEEK_VALUEGREATER, 0x60000), 0u);
}

TEST_F(SeekTest, ValueSeeksNeedTheSortPropertyAndAnOrder) {
  CEPROPVAL v{};
  v.propid = kLabel;
  std::u16string text = u"entry";
  v.val.lpwstr = text.data();
  EXPECT_EQ(
      CeSeekDatabase(h_, CEDB_SEEK_VALUEFIRSTEQUAL, reinterpret_cast<std::uintptr_t>(&v), nullptr),
      0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_VALUEFIRSTEQUAL, 0, nullptr), 0u);
  HANDLE natural = Open(vol_, db_, 0);
  v.propid = kKey;
  v.val.ulVal = 0x10000;
  EXPECT_EQ(CeSeekDatabase(natural, CEDB_SEEK_VALUEFIRSTEQUAL, reinterpret_cast<std::uintptr_t>(&v),
                           nullptr),
            0u);
  EXPECT_EQ(CeSeekDatabase(natural, 0x1000, 0, nullptr), 0u) << "an unknown seek type";
  CeCloseHandle(natural);
}

TEST_F(SeekTest, NaturalOrderIsCreationOrder) {
  HANDLE natural = Open(vol_, db_, 0);
  EXPECT_EQ(WalkByPosition(natural),
            (std::vector<CEOID>{oids_[0x30001], oids_[0x50000], oids_[0x30000], oids_[0x30003],
                                oids_[0x10000], oids_[0x60000]}));
  CeCloseHandle(natural);
}

TEST_F(SeekTest, EachHandleHasItsOwnCurrentRecord) {
  HANDLE other = Open(vol_, db_, kKey);
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 4, nullptr), oids_[0x50000]);
  ASSERT_EQ(CeSeekDatabase(other, CEDB_SEEK_BEGINNING, 1, nullptr), oids_[0x30000]);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 0, nullptr), oids_[0x50000]);
  CeCloseHandle(other);
}

TEST_F(SeekTest, DeletingTheCurrentRecordKeepsItsPlace) {
  DWORD index = 0;
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 2, nullptr), oids_[0x30001]);
  ASSERT_TRUE(CeDeleteRecord(h_, oids_[0x30001]));
  EXPECT_FALSE(ReadCurrent(h_).has_value());
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 1, &index), oids_[0x30003]);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(WalkByPosition(h_).size(), 5u);
  EXPECT_FALSE(CeDeleteRecord(h_, oids_[0x30001])) << "already gone";
}

TEST_F(SeekTest, AWalkSeesWritesMadeAheadOfItByOtherHandles) {
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 0, nullptr), oids_[0x10000]);
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 1, nullptr), oids_[0x30000]);
  HANDLE writer = Open(vol_, db_, kKey);
  Write(writer, oids_[0x30001], {{kLabel, std::u16string(u"changed")}});
  const CEOID inserted = Write(writer, 0, {{kKey, 0x30002u}});
  ASSERT_TRUE(CeDeleteRecord(writer, oids_[0x30003]));
  CeCloseHandle(writer);
  DWORD index = 0;
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 2, &index), oids_[0x30001]);
  EXPECT_EQ(Text(h_, kLabel), u"changed");
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 1, &index), inserted);
  EXPECT_EQ(index, 3u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 1, &index), oids_[0x50000]);
  EXPECT_EQ(index, 4u);
}

TEST_F(SeekTest, NewRecordsShiftPositionsOfOtherHandles) {
  DWORD index = 0;
  ASSERT_EQ(CeSeekDatabase(h_, CEDB_SEEK_BEGINNING, 3, &index), oids_[0x30003]);
  HANDLE writer = Open(vol_, db_, kKey);
  Write(writer, 0, {{kKey, 0x00005u}});
  CeCloseHandle(writer);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 0, &index), oids_[0x30003]);
  EXPECT_EQ(index, 4u);
  EXPECT_EQ(CeSeekDatabase(h_, CEDB_SEEK_CURRENT, 1, &index), oids_[0x50000]);
  EXPECT_EQ(index, 5u);
}

}  // namespace
}  // namespace tbm::store::testing
