// Field options: creating and deleting them, the default extended block,
// the option cache (which reads it keeps, which it does not, and how writes
// meet it), display orders, damaged entries and the state every call needs.
#include <cstring>
#include <optional>

#include "DescriptionFixture.h"

namespace tbm::engine::testing {
namespace {

using Ex = std::array<std::uint8_t, MDbOptionExBytes>;
using Option = std::array<std::uint8_t, MDbOptionBytes>;

constexpr std::uint32_t kCache = 1;

class FieldOptionTableTest : public DescriptionTest {
 protected:
  void SetUp() override {
    DescriptionTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(CreateContacts());
  }
  void TearDown() override {
    MDbFieldOpTblClose(&env_, &env_.ref, &plain_);
    DescriptionTest::TearDown();
  }

  // The extended block of field as tbl reads it, or nothing on failure.
  std::optional<Ex> ReadEx(MDbFieldOpTbl* tbl, std::int16_t field) {
    Ex ex{};
    if (MDbFieldOpTblReadOptionEx(&env_, &env_.ref, tbl, field, ex.data()) != MDbErrNone) {
      return std::nullopt;
    }
    return ex;
  }
  std::optional<Option> ReadOption(MDbFieldOpTbl* tbl, std::int16_t field) {
    Option option{};
    if (ReadFieldOption(&env_, &env_.ref, tbl, field, OptionBlock::kOption, option.data()) !=
        MDbErrNone) {
      return std::nullopt;
    }
    return option;
  }
  // What the volume holds, read through a second handle without the cache.
  std::optional<Ex> StoredEx(std::int16_t field) {
    if (!plain_.opened) {
      EXPECT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &plain_, 0), MDbErrNone);
    }
    return ReadEx(&plain_, field);
  }
  std::uint16_t OptionEntries() {
    std::uint16_t count = 0;
    EXPECT_EQ(CountEntries(&env_.ref, MDbObjFieldOptions, &count), MDbErrNone);
    return count;
  }
  // Adds the options of one more field straight through the object table.
  std::int32_t AddOptionsBehindTheBack(std::uint16_t field, std::uint8_t order) {
    Option option = ContactOption(0);
    Ex ex = ContactOptionEx(0);
    ex[kDisplayOrderByte] = order;
    CEPROPVAL values[2]{};
    values[0].propid = kOptionProp;
    values[0].val.blob = {MDbOptionBytes, option.data()};
    values[1].propid = kOptionExProp;
    values[1].val.blob = {MDbOptionExBytes, ex.data()};
    return WriteEntry(&env_.ref, MDbObjFieldOptions, field, values, 2);
  }
  static Ex Widened(int field, std::uint8_t width) {
    Ex ex = ContactOptionEx(field);
    ex[0] = width;
    return ex;
  }

  MDbFieldOpTbl* cached_ = &env_.fieldOptions;
  MDbFieldOpTbl plain_{};
};

TEST_F(FieldOptionTableTest, CreatedOptionsReadBackBlockForBlock) {
  MDbFieldOpTbl tbl{};
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &tbl, 0), MDbErrNone);
  EXPECT_EQ(OptionEntries(), kContactFieldCount);
  EXPECT_EQ(ReadEx(&tbl, 4), ContactOptionEx(4));
  EXPECT_EQ(ReadEx(&tbl, 24), ContactOptionEx(24));
  EXPECT_EQ(ReadOption(&tbl, 15), ContactOption(15)) << "Country, a combo on list 1";
  EXPECT_EQ(ReadOption(&tbl, 0), ContactOption(0));
  EXPECT_EQ(tbl.cache, nullptr) << "no cache without mode bit 0";
  EXPECT_EQ(tbl.cacheSlots, 0);
  MDbFieldOpTblClose(&env_, &env_.ref, &tbl);
}

TEST_F(FieldOptionTableTest, CreationRefusesToWriteOverExistingOptions) {
  const std::uint8_t entry[MDbOptionEntryBytes] = {1, 0, 3, 0, 0xFF, 0xFF, 99};
  EXPECT_EQ(MDbFieldOpTblCreateEx(&env_, &env_.ref, entry, 1), MDbErrFailed);
  EXPECT_EQ(StoredEx(0), ContactOptionEx(0));
}

TEST_F(FieldOptionTableTest, DeletingRemovesEveryFieldsOptionsAndCreationThenWorks) {
  ASSERT_EQ(MDbFieldOpTblDelete(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(OptionEntries(), 0);
  EXPECT_EQ(StoredEx(0), std::nullopt);
  EXPECT_EQ(MDbFieldOpTblDelete(&env_, &env_.ref), MDbErrNone) << "nothing left to delete";
  EXPECT_EQ(CreateOptions(0), MDbErrNone);
  EXPECT_EQ(OptionEntries(), 0) << "creating none writes nothing";
  EXPECT_EQ(CreateOptions(3), MDbErrNone);
  EXPECT_EQ(OptionEntries(), 3);
  EXPECT_EQ(StoredEx(2), ContactOptionEx(2));
  std::uint16_t fields = 0;
  ASSERT_EQ(CountEntries(&env_.ref, MDbObjSchema, &fields), MDbErrNone);
  EXPECT_EQ(fields, kContactFieldCount) << "the schema is spared";
}

TEST_F(FieldOptionTableTest, OpeningKeepsTheModeAndClosingClearsEverything) {
  MDbFieldOpTbl tbl{};
  EXPECT_EQ(MDbFieldOpTblIsOpened(&env_, &env_.ref, &tbl), 0);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &tbl, kCache), MDbErrNone);
  EXPECT_EQ(MDbFieldOpTblIsOpened(&env_, &env_.ref, &tbl), 1);
  EXPECT_EQ(tbl.mode, kCache);
  EXPECT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &tbl, 0), MDbErrFailed);
  EXPECT_EQ(tbl.mode, kCache) << "a refused open changes nothing";
  ASSERT_NE(ReadEx(&tbl, 1), std::nullopt);
  ASSERT_NE(tbl.cache, nullptr);
  EXPECT_EQ(MDbFieldOpTblClose(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbFieldOpTblIsOpened(&env_, &env_.ref, &tbl), 0);
  EXPECT_EQ(tbl.mode, 0);
  EXPECT_EQ(tbl.cache, nullptr);
  EXPECT_EQ(tbl.cacheSlots, 0);
  EXPECT_EQ(MDbFieldOpTblClose(&env_, &env_.ref, &tbl), MDbErrNone) << "closing a closed handle";
  EXPECT_EQ(MDbFieldOpTblClose(&env_, &env_.ref, nullptr), MDbErrFailed);
}

TEST_F(FieldOptionTableTest, ReopeningStartsWithAnEmptyCache) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(ReadEx(cached_, 2), ContactOptionEx(2));
  const Ex narrow = Widened(2, 17);
  ASSERT_EQ(
      StoreBehindTheBack(MDbObjFieldOptions, 2, kOptionExProp, {narrow.begin(), narrow.end()}),
      MDbErrNone);
  ASSERT_EQ(MDbFieldOpTblClose(&env_, &env_.ref, cached_), MDbErrNone);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  EXPECT_EQ(ReadEx(cached_, 2), Widened(2, 17));
}

// ---- the default extended block ----

Ex DefaultEx(std::uint8_t order, std::int16_t fields, std::uint8_t last = 0xC3) {
  Ex ex;
  ex.fill(0xEE);
  ex[8] = last;
  EXPECT_EQ(MDbFieldOpTblGetDefOptionEx(ex.data(), order, fields), MDbErrNone);
  return ex;
}

TEST(DefaultOptionExTest, ColumnsShareTheListWidthUpToThree) {
  EXPECT_EQ(DefaultEx(0, 1)[0], 225);
  EXPECT_EQ(DefaultEx(0, 2)[0], 112);
  EXPECT_EQ(DefaultEx(0, 3)[0], 75);
  EXPECT_EQ(DefaultEx(0, 7)[0], 75);
  EXPECT_EQ(DefaultEx(0, 50)[0], 75);
}

TEST(DefaultOptionExTest, SetsEveryByteButTheLast) {
  const Ex expected = {75, 1, 0, 0, 0, 0, 12, 0, 0xC3};
  EXPECT_EQ(DefaultEx(12, 25), expected);
  EXPECT_EQ(DefaultEx(12, 25, 0x00)[8], 0x00);
  EXPECT_EQ(DefaultEx(255, 2)[6], 255);
}

TEST(DefaultOptionExTest, AFieldCountBelowOneCountsAsOne) {
  EXPECT_EQ(DefaultEx(0, 0)[0], 225);
  EXPECT_EQ(DefaultEx(0, -4)[0], 225);
  EXPECT_EQ(MDbFieldOpTblGetDefOptionEx(nullptr, 0, 1), MDbErrFailed);
}

// ---- the option cache ----

TEST_F(FieldOptionTableTest, TheFirstCachedReadMakesASlotPerOptionEntry) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  EXPECT_EQ(cached_->cache, nullptr) << "nothing before the first read";
  EXPECT_EQ(ReadEx(cached_, 3), ContactOptionEx(3));
  EXPECT_NE(cached_->cache, nullptr);
  EXPECT_EQ(cached_->cacheSlots, kContactFieldCount);
  EXPECT_EQ(ReadEx(cached_, 24), ContactOptionEx(24));
  EXPECT_EQ(cached_->cacheSlots, kContactFieldCount) << "sized once";
}

TEST_F(FieldOptionTableTest, ACachedReadSurvivesAChangeBehindItsBack) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(ReadEx(cached_, 3), ContactOptionEx(3));
  const Ex wider = Widened(3, 90);
  ASSERT_EQ(StoreBehindTheBack(MDbObjFieldOptions, 3, kOptionExProp, {wider.begin(), wider.end()}),
            MDbErrNone);
  ASSERT_EQ(StoreBehindTheBack(MDbObjFieldOptions, 3, kOptionProp, {9, 9, 9, 9, 9, 9}), MDbErrNone);
  EXPECT_EQ(StoredEx(3), wider) << "the volume holds the change";
  EXPECT_EQ(ReadEx(cached_, 3), ContactOptionEx(3)) << "the cache answers";
  EXPECT_EQ(ReadOption(cached_, 3), ContactOption(3)) << "both blocks came with the first read";
}

TEST_F(FieldOptionTableTest, WithoutTheCacheEveryReadGoesToTheVolume) {
  MDbFieldOpTbl tbl{};
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &tbl, 0), MDbErrNone);
  ASSERT_EQ(ReadEx(&tbl, 3), ContactOptionEx(3));
  const Ex wider = Widened(3, 90);
  ASSERT_EQ(StoreBehindTheBack(MDbObjFieldOptions, 3, kOptionExProp, {wider.begin(), wider.end()}),
            MDbErrNone);
  EXPECT_EQ(ReadEx(&tbl, 3), wider);
  EXPECT_EQ(tbl.cache, nullptr);
  MDbFieldOpTblClose(&env_, &env_.ref, &tbl);
}

TEST_F(FieldOptionTableTest, AFieldAtOrBeyondTheCountIsReadButNotCached) {
  // Options 0 .. 19 then a gap: 20 entries count, 21 .. 24 still readable.
  Damage(MDbObjFieldOptions, 20, nullptr);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  EXPECT_EQ(ReadEx(cached_, 22), ContactOptionEx(22));
  EXPECT_EQ(cached_->cache, nullptr) << "a field beyond the count makes no cache";
  EXPECT_EQ(ReadEx(cached_, 20), std::nullopt);

  EXPECT_EQ(ReadEx(cached_, 19), ContactOptionEx(19));
  ASSERT_NE(cached_->cache, nullptr);
  EXPECT_EQ(cached_->cacheSlots, 20);

  const Ex wider = Widened(22, 90);
  ASSERT_EQ(StoreBehindTheBack(MDbObjFieldOptions, 22, kOptionExProp, {wider.begin(), wider.end()}),
            MDbErrNone);
  EXPECT_EQ(ReadEx(cached_, 22), wider) << "read again from the volume";
}

TEST_F(FieldOptionTableTest, AWriteBeforeAnyReadWritesTheVolumeButReportsFailure) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  const Ex wider = Widened(5, 60);
  EXPECT_EQ(WriteFieldOption(&env_, &env_.ref, cached_, 5, OptionBlock::kOptionEx, wider.data()),
            MDbErrFailed);
  EXPECT_EQ(StoredEx(5), wider) << "written although reported as failed";

  // Once read, the field is kept; a write then refreshes the kept copy.
  EXPECT_EQ(ReadEx(cached_, 5), wider);
  const Ex narrower = Widened(5, 20);
  EXPECT_EQ(WriteFieldOption(&env_, &env_.ref, cached_, 5, OptionBlock::kOptionEx, narrower.data()),
            MDbErrNone);
  EXPECT_EQ(ReadEx(cached_, 5), narrower);
  EXPECT_EQ(StoredEx(5), narrower);

  // With the cache made, a field not read yet still has no copy to refresh.
  EXPECT_EQ(WriteFieldOption(&env_, &env_.ref, cached_, 7, OptionBlock::kOptionEx, wider.data()),
            MDbErrFailed);
  EXPECT_EQ(StoredEx(7), wider);
}

TEST_F(FieldOptionTableTest, WritingOneBlockLeavesTheOtherAlone) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(ReadEx(cached_, 4), ContactOptionEx(4));
  const Option locked = {0x01, 0x00, 1, 0, 0, 0};
  EXPECT_EQ(WriteFieldOption(&env_, &env_.ref, cached_, 4, OptionBlock::kOption, locked.data()),
            MDbErrNone);
  EXPECT_EQ(ReadOption(cached_, 4), locked);
  EXPECT_EQ(ReadEx(cached_, 4), ContactOptionEx(4));
  EXPECT_EQ(StoredEx(4), ContactOptionEx(4));
  EXPECT_EQ(ReadOption(&plain_, 4), locked);
}

TEST_F(FieldOptionTableTest, WritesWithoutTheCacheSucceedWhenTheVolumeIsWritten) {
  const Ex wider = Widened(9, 99);
  ASSERT_EQ(StoredEx(9), ContactOptionEx(9));
  EXPECT_EQ(WriteFieldOption(&env_, &env_.ref, &plain_, 9, OptionBlock::kOptionEx, wider.data()),
            MDbErrNone);
  EXPECT_EQ(StoredEx(9), wider);
}

TEST_F(FieldOptionTableTest, AWriteToAMissingEntryCreatesNothing) {
  const Ex ex = ContactOptionEx(3);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &plain_, 0), MDbErrNone);
  for (MDbFieldOpTbl* tbl : {cached_, &plain_}) {
    EXPECT_EQ(WriteFieldOption(&env_, &env_.ref, tbl, 25, OptionBlock::kOptionEx, ex.data()),
              MDbErrFailed);
    EXPECT_EQ(WriteFieldOption(&env_, &env_.ref, tbl, -1, OptionBlock::kOptionEx, ex.data()),
              MDbErrFailed);
  }
  EXPECT_EQ(OptionEntries(), kContactFieldCount);
  EXPECT_EQ(StoredEx(25), std::nullopt);
}

// ---- damaged entries ----

TEST_F(FieldOptionTableTest, AnExtendedBlockOfTheWrongSizeIsDamage) {
  DamageBlock(MDbObjFieldOptions, 6, kOptionExProp, 8);
  DamageBlock(MDbObjFieldOptions, 8, kOptionExProp, 10);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &plain_, 0), MDbErrNone);
  for (MDbFieldOpTbl* tbl : {cached_, &plain_}) {
    for (std::int16_t field : {std::int16_t{6}, std::int16_t{8}}) {
      Ex ex;
      ex.fill(0xEE);
      EXPECT_EQ(MDbFieldOpTblReadOptionEx(&env_, &env_.ref, tbl, field, ex.data()), MDbErrFailed);
      EXPECT_EQ(ex[0], 0xEE);
      EXPECT_EQ(ex[8], 0xEE);
    }
  }
  EXPECT_EQ(cached_->cache, nullptr) << "a damaged read keeps nothing";
  EXPECT_EQ(ReadEx(cached_, 7), ContactOptionEx(7));
  EXPECT_EQ(ReadEx(cached_, 6), std::nullopt) << "not taken from an empty slot either";
}

TEST_F(FieldOptionTableTest, ABlockOfAnotherTypeIsDamage) {
  DamageType(MDbObjFieldOptions, 11, kOptionExProp);
  DamageType(MDbObjFieldOptions, 12, kOptionProp);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &plain_, 0), MDbErrNone);
  EXPECT_EQ(ReadEx(cached_, 11), std::nullopt);
  EXPECT_EQ(StoredEx(11), std::nullopt);
  EXPECT_EQ(ReadOption(&plain_, 12), std::nullopt);
  // The cache reads a field's two blocks together, so one damaged block
  // makes the field unreadable; read alone, the sound block still comes.
  EXPECT_EQ(ReadEx(cached_, 12), std::nullopt);
  EXPECT_EQ(StoredEx(12), ContactOptionEx(12));
}

// ---- display orders ----

class DisplayOrderTest : public FieldOptionTableTest,
                         public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  void SetUp() override {
    FieldOptionTableTest::SetUp();
    ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, tbl_, GetParam()), MDbErrNone);
  }
  // Opened with the cache or without, as the parameter says.
  MDbFieldOpTbl* tbl_ = &env_.fieldOptions;
  std::array<std::uint16_t, 50> Orders(std::int32_t* result, std::int16_t n = 50) {
    std::array<std::uint16_t, 50> orders;
    orders.fill(0xEEEE);
    *result = GetDisplayOrders(&env_, &env_.ref, tbl_, orders.data(), n);
    return orders;
  }
};

TEST_P(DisplayOrderTest, StoredOrdersComeFirstAndEveryLaterPositionIsItsOwnIndex) {
  std::int32_t result = -1;
  const auto orders = Orders(&result);
  EXPECT_EQ(result, MDbErrNone);
  for (int i = 0; i < kContactFieldCount; ++i) EXPECT_EQ(orders[i], ContactDisplayOrder(i)) << i;
  for (int i = kContactFieldCount; i < 50; ++i) EXPECT_EQ(orders[i], i);
}

TEST_P(DisplayOrderTest, OnlyThePositionsAskedForAreFilled) {
  std::int32_t result = -1;
  const auto orders = Orders(&result, 10);
  EXPECT_EQ(result, MDbErrNone);
  EXPECT_EQ(orders[9], ContactDisplayOrder(9));
  EXPECT_EQ(orders[10], 0xEEEE);
  Orders(&result, 0);
  EXPECT_EQ(result, MDbErrNone);
}

TEST_P(DisplayOrderTest, AFailedReadEndsTheStoredOrdersWithItsCode) {
  ASSERT_EQ(MDbFieldOpTblClose(&env_, &env_.ref, tbl_), MDbErrNone);
  DamageBlock(MDbObjFieldOptions, 10, kOptionExProp, 8);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, tbl_, GetParam()), MDbErrNone);
  std::int32_t result = -1;
  const auto orders = Orders(&result);
  EXPECT_EQ(result, MDbErrFailed);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(orders[i], ContactDisplayOrder(i)) << i;
  for (int i = 10; i < 50; ++i) EXPECT_EQ(orders[i], i) << "from the failure on, " << i;
}

TEST_P(DisplayOrderTest, SettingWritesTheLowByteOfEachFieldsOrder) {
  std::array<std::uint16_t, kContactFieldCount> wanted;
  for (int i = 0; i < kContactFieldCount; ++i) {
    wanted[i] = static_cast<std::uint16_t>(0x0100 | (kContactFieldCount - 1 - i));
  }
  // Setting reads each field before writing it, so with the cache on every
  // field has a kept copy to refresh.
  ASSERT_EQ(SetDisplayOrders(&env_, &env_.ref, tbl_, kContactFieldCount, wanted.data()),
            MDbErrNone);
  std::int32_t result = -1;
  const auto orders = Orders(&result);
  ASSERT_EQ(result, MDbErrNone);
  for (int i = 0; i < kContactFieldCount; ++i) {
    EXPECT_EQ(orders[i], kContactFieldCount - 1 - i) << i;
    Ex expected = ContactOptionEx(i);
    expected[kDisplayOrderByte] = static_cast<std::uint8_t>(kContactFieldCount - 1 - i);
    EXPECT_EQ(StoredEx(static_cast<std::int16_t>(i)), expected) << "only byte 6 changes";
  }
}

TEST_P(DisplayOrderTest, SettingStopsAtTheFirstFailure) {
  ASSERT_EQ(MDbFieldOpTblClose(&env_, &env_.ref, tbl_), MDbErrNone);
  DamageBlock(MDbObjFieldOptions, 10, kOptionExProp, 8);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, tbl_, GetParam()), MDbErrNone);
  std::array<std::uint16_t, kContactFieldCount> wanted;
  wanted.fill(42);
  EXPECT_EQ(SetDisplayOrders(&env_, &env_.ref, tbl_, kContactFieldCount, wanted.data()),
            MDbErrFailed);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(StoredEx(static_cast<std::int16_t>(i)).value()[6], 42) << i;
  for (int i = 11; i < kContactFieldCount; ++i) {
    EXPECT_EQ(StoredEx(static_cast<std::int16_t>(i)), ContactOptionEx(i)) << i;
  }
}

TEST_P(DisplayOrderTest, SettingMoreFieldsThanHaveOptionsFails) {
  std::array<std::uint16_t, 30> wanted;
  wanted.fill(7);
  EXPECT_EQ(SetDisplayOrders(&env_, &env_.ref, tbl_, 30, wanted.data()), MDbErrFailed);
  EXPECT_EQ(StoredEx(24).value()[6], 7) << "the fields that have options were written";
  EXPECT_EQ(OptionEntries(), kContactFieldCount) << "and none was made";
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutTheCache, DisplayOrderTest, ::testing::Values(0u, kCache),
                         [](const auto& info) { return info.param ? "Cached" : "Uncached"; });

TEST_F(FieldOptionTableTest, WithTheCacheMadeItsSlotCountBoundsTheStoredOrders) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(ReadEx(cached_, 0), ContactOptionEx(0));
  ASSERT_EQ(AddOptionsBehindTheBack(25, 99), MDbErrNone);

  std::uint16_t orders[30];
  ASSERT_EQ(GetDisplayOrders(&env_, &env_.ref, cached_, orders, 30), MDbErrNone);
  EXPECT_EQ(orders[25], 25) << "the cache knows 25 fields";
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &plain_, 0), MDbErrNone);
  ASSERT_EQ(GetDisplayOrders(&env_, &env_.ref, &plain_, orders, 30), MDbErrNone);
  EXPECT_EQ(orders[25], 99) << "the volume has 26";
}

TEST_F(FieldOptionTableTest, SettingOrdersStopsAtAWriteThatReportsFailure) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(ReadEx(cached_, 0), ContactOptionEx(0));
  ASSERT_EQ(AddOptionsBehindTheBack(25, 99), MDbErrNone);
  ASSERT_EQ(AddOptionsBehindTheBack(26, 98), MDbErrNone);
  std::array<std::uint16_t, 27> wanted;
  wanted.fill(7);
  // Field 25 lies beyond the cache: its write lands but reports failure.
  EXPECT_EQ(SetDisplayOrders(&env_, &env_.ref, cached_, 27, wanted.data()), MDbErrFailed);
  EXPECT_EQ(StoredEx(24).value()[kDisplayOrderByte], 7);
  EXPECT_EQ(StoredEx(25).value()[kDisplayOrderByte], 7);
  EXPECT_EQ(StoredEx(26).value()[kDisplayOrderByte], 98) << "nothing after the failure";
}

// ---- state ----

TEST_F(FieldOptionTableTest, ReadingAndWritingNeedAnOpenTable) {
  Ex ex;
  ex.fill(0xEE);
  const Ex wider = Widened(1, 99);
  std::uint16_t orders[4] = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
  MDbFieldOpTbl closed{};
  EXPECT_EQ(MDbFieldOpTblReadOptionEx(&env_, &env_.ref, &closed, 1, ex.data()), MDbErrFailed);
  EXPECT_EQ(ReadFieldOption(&env_, &env_.ref, &closed, 1, OptionBlock::kOption, ex.data()),
            MDbErrFailed);
  EXPECT_EQ(ex[0], 0xEE);
  EXPECT_EQ(WriteFieldOption(&env_, &env_.ref, &closed, 1, OptionBlock::kOptionEx, wider.data()),
            MDbErrFailed);
  EXPECT_EQ(GetDisplayOrders(&env_, &env_.ref, &closed, orders, 4), MDbErrFailed);
  EXPECT_EQ(orders[0], 0xEEEE);
  EXPECT_EQ(SetDisplayOrders(&env_, &env_.ref, &closed, 4, orders), MDbErrFailed);
  EXPECT_EQ(StoredEx(1), ContactOptionEx(1)) << "nothing was written";
}

TEST_F(FieldOptionTableTest, NothingWorksWithoutAnInitialisedEnvironment) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  MDbEnv fresh;
  MDbEnvInitialize(&fresh);
  EXPECT_EQ(MDbFieldOpTblDelete(&fresh, &env_.ref), MDbErrFailed);
  EXPECT_EQ(OptionEntries(), kContactFieldCount);
  MDbFieldOpTbl tbl{};
  EXPECT_EQ(MDbFieldOpTblOpen(&fresh, &env_.ref, &tbl, kCache), MDbErrFailed);
  EXPECT_EQ(tbl.opened, 0);
  EXPECT_EQ(tbl.mode, 0);
  EXPECT_EQ(MDbFieldOpTblIsOpened(&fresh, &env_.ref, cached_), 0);
  Ex ex;
  ex.fill(0xEE);
  EXPECT_EQ(MDbFieldOpTblReadOptionEx(&fresh, &env_.ref, cached_, 1, ex.data()), MDbErrFailed);
  EXPECT_EQ(ex[0], 0xEE);
  EXPECT_EQ(cached_->cache, nullptr);
  const Ex wider = Widened(1, 99);
  EXPECT_EQ(WriteFieldOption(&fresh, &env_.ref, cached_, 1, OptionBlock::kOptionEx, wider.data()),
            MDbErrFailed);
  std::uint16_t orders[4] = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
  EXPECT_EQ(GetDisplayOrders(&fresh, &env_.ref, cached_, orders, 4), MDbErrFailed);
  EXPECT_EQ(orders[3], 0xEEEE);
  EXPECT_EQ(SetDisplayOrders(&fresh, &env_.ref, cached_, 4, orders), MDbErrFailed);
  EXPECT_EQ(StoredEx(1), ContactOptionEx(1));

  ASSERT_EQ(MDbFieldOpTblDelete(&env_, &env_.ref), MDbErrNone);
  std::vector<std::uint8_t> entry(MDbOptionEntryBytes, 1);
  EXPECT_EQ(MDbFieldOpTblCreateEx(&fresh, &env_.ref, entry.data(), 1), MDbErrFailed);
  EXPECT_EQ(OptionEntries(), 0);
}

TEST_F(FieldOptionTableTest, NothingWorksOnAClosedVolumeButClosingTheTable) {
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, cached_, kCache), MDbErrNone);
  ASSERT_EQ(ReadEx(cached_, 1), ContactOptionEx(1));
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbFieldOpTblIsOpened(&env_, &env_.ref, cached_), 0);
  EXPECT_EQ(ReadEx(cached_, 1), std::nullopt) << "not even from the cache";
  EXPECT_EQ(MDbFieldOpTblDelete(&env_, &env_.ref), MDbErrFailed);
  EXPECT_EQ(CreateOptions(1), MDbErrFailed);
  MDbFieldOpTbl tbl{};
  EXPECT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &tbl, 0), MDbErrFailed);
  EXPECT_EQ(MDbFieldOpTblClose(&env_, &env_.ref, cached_), MDbErrNone);
  EXPECT_EQ(cached_->cache, nullptr) << "the cache is freed all the same";
  ASSERT_EQ(MDbOpen(&env_, Path(kFile).c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(OptionEntries(), kContactFieldCount);
}

}  // namespace
}  // namespace tbm::engine::testing
