// Creation-sequence counters: handing numbers out, the wrap that renumbers
// a table, and the cache used during bulk loads.
#include "EngineFixture.h"
#include "ObjectTable.h"
#include "Sequence.h"

namespace tbm::engine::testing {
namespace {

constexpr CEPROPID kSeq = PropId(4, CEVT_UI4);
constexpr CEPROPID kField = PropId(5, CEVT_LPWSTR);

// A volume with a data table holding records whose creation sequences are
// far apart, and both counters.
class SequenceTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(MDbCreate(&env_, Path("seq.tbm").c_str(), &env_.ref), MDbErrNone);
    CEDBASEINFO info{};
    info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
    CopyUtf16Cut(info.szDbaseName, sizeof info.szDbaseName, u"DATA_0");
    info.dwDbaseType = MDbDataTableType;
    info.wNumSortOrder = 1;
    info.rgSortSpecs[0] = {kSeq, 0};
    ASSERT_NE(CeCreateDatabaseEx(&env_.ref.volume, &info), 0u);
    CEOID oid = 0;
    env_.data.dataHandle = CeOpenDatabaseEx(&env_.ref.volume, &oid, u"DATA_0", kSeq, 0, nullptr);
    ASSERT_NE(env_.data.dataHandle, INVALID_HANDLE_VALUE);
    env_.data.dataOid = oid;
    ASSERT_EQ(WriteCounter(&env_.ref, kDataCounter, 0), MDbErrNone);
    ASSERT_EQ(WriteCounter(&env_.ref, kDeleteCounter, 0), MDbErrNone);
  }
  void TearDown() override {
    CeCloseHandle(env_.data.dataHandle);
    EngineTest::TearDown();
  }
  void AddRecord(std::uint32_t seq, const std::u16string& name) {
    CEPROPVAL v[2]{};
    v[0].propid = kSeq;
    v[0].val.ulVal = seq;
    v[1].propid = kField;
    std::u16string text = name;
    v[1].val.lpwstr = text.data();
    ASSERT_NE(CeWriteRecordProps(env_.data.dataHandle, 0, 2, v), 0u);
  }
  // Each record's (sequence, name), in the table's order.
  std::vector<std::pair<std::uint32_t, std::u16string>> Records() {
    std::vector<std::pair<std::uint32_t, std::u16string>> out;
    for (DWORD i = 0; CeSeekDatabase(env_.data.dataHandle, CEDB_SEEK_BEGINNING, i, nullptr); ++i) {
      const CEPROPID ids[] = {kSeq, kField};
      PropertyRead read;
      EXPECT_EQ(ReadProperties(env_.data.dataHandle, ids, 2, &read), MDbErrNone);
      out.emplace_back(read.value()[0].val.ulVal, read.value()[1].val.lpwstr);
    }
    return out;
  }
  std::uint32_t Counter(std::uint16_t which) {
    std::uint32_t v = 0;
    EXPECT_EQ(ReadCounter(&env_.ref, which, &v), MDbErrNone);
    return v;
  }
};

TEST_F(SequenceTest, NumbersComeFromTheCounterWhichMovesOn) {
  std::uint32_t seq = 0;
  ASSERT_EQ(TakeSequence(&env_.ref, &env_.data, kDataCounter, &seq), MDbErrNone);
  EXPECT_EQ(seq, 0u);
  ASSERT_EQ(AdvanceSequence(&env_.ref, &env_.data, kDataCounter, seq), MDbErrNone);
  ASSERT_EQ(TakeSequence(&env_.ref, &env_.data, kDataCounter, &seq), MDbErrNone);
  EXPECT_EQ(seq, 1u);
  EXPECT_EQ(Counter(kDataCounter), 1u);
  EXPECT_EQ(Counter(kDeleteCounter), 0u) << "the counters are separate";
}

TEST_F(SequenceTest, AMissingCounterFails) {
  ASSERT_EQ(DeleteEntries(&env_.ref, MDbObjCounter), MDbErrNone);
  std::uint32_t seq = 0;
  EXPECT_EQ(TakeSequence(&env_.ref, &env_.data, kDataCounter, &seq), MDbErrFailed);
  EXPECT_EQ(StartCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrFailed);
}

TEST_F(SequenceTest, TheWrapRenumbersTheTableInItsOrder) {
  AddRecord(0xFFFFFF00u, u"Cho");
  AddRecord(7, u"Abebe");
  AddRecord(0xFFFFFFFDu, u"Dana");
  AddRecord(4000000000u, u"Bo");
  ASSERT_EQ(WriteCounter(&env_.ref, kDataCounter, 0xFFFFFFFEu), MDbErrNone);
  std::uint32_t seq = 0;
  ASSERT_EQ(TakeSequence(&env_.ref, &env_.data, kDataCounter, &seq), MDbErrNone);
  EXPECT_EQ(seq, 4u) << "numbering goes on from the record count";
  EXPECT_EQ(Counter(kDataCounter), 4u);
  EXPECT_EQ(Records(), (std::vector<std::pair<std::uint32_t, std::u16string>>{
                           {0, u"Abebe"}, {1, u"Bo"}, {2, u"Cho"}, {3, u"Dana"}}));
  ASSERT_EQ(AdvanceSequence(&env_.ref, &env_.data, kDataCounter, seq), MDbErrNone);
  EXPECT_EQ(Counter(kDataCounter), 5u);
}

TEST_F(SequenceTest, TheCacheSavesCounterWritesUntilItEnds) {
  ASSERT_EQ(WriteCounter(&env_.ref, kDataCounter, 41), MDbErrNone);
  EXPECT_EQ(EndCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrFailed) << "not started";
  ASSERT_EQ(StartCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
  EXPECT_EQ(env_.data.cachedSeq, 41u);
  for (std::uint32_t expected = 41; expected < 141; ++expected) {
    std::uint32_t seq = 0;
    ASSERT_EQ(TakeSequence(&env_.ref, &env_.data, kDataCounter, &seq), MDbErrNone);
    ASSERT_EQ(seq, expected);
    ASSERT_EQ(AdvanceSequence(&env_.ref, &env_.data, kDataCounter, seq), MDbErrNone);
  }
  EXPECT_EQ(Counter(kDataCounter), 41u) << "the counter waits for the end of the cache";
  ASSERT_EQ(EndCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
  EXPECT_EQ(Counter(kDataCounter), 141u);
  EXPECT_EQ(env_.data.cachedSeq, 141u) << "the cache stays until the table closes";
}

TEST_F(SequenceTest, ACounterAtItsLastValueWrapsEvenWhenCached) {
  AddRecord(0xFFFFFFF0u, u"Eero");
  AddRecord(0xFFFFFFF1u, u"Fatima");
  ASSERT_EQ(WriteCounter(&env_.ref, kDataCounter, 0xFFFFFFFFu), MDbErrNone);
  ASSERT_EQ(StartCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
  // 0xFFFFFFFF doubles as the no-cache mark, so the cache is not in force
  // and the counter itself wraps.
  std::uint32_t seq = 0;
  ASSERT_EQ(TakeSequence(&env_.ref, &env_.data, kDataCounter, &seq), MDbErrNone);
  EXPECT_EQ(seq, 2u);
  EXPECT_EQ(Counter(kDataCounter), 2u);
  EXPECT_EQ(Records().front(), (std::pair<std::uint32_t, std::u16string>{0, u"Eero"}));
}

TEST_F(SequenceTest, TheCacheNeedsAnOpenReferenceAndAnInitialisedEnvironment) {
  MDbDataTbl data = env_.data;
  MDbEnv cold;
  MDbEnvInitialize(&cold);
  EXPECT_EQ(StartCreationSeqCache(&cold, &env_.ref, &data), MDbErrFailed);
  EXPECT_EQ(StartCreationSeqCache(&env_, &env_.ref, nullptr), MDbErrFailed);
}

}  // namespace
}  // namespace tbm::engine::testing
