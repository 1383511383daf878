// Database attributes: the attribute block and the database's name, the
// attribute words the application keeps its view settings in, damaged
// entries and the state every call needs.
#include <cstring>

#include "DescriptionFixture.h"

namespace tbm::engine::testing {
namespace {

using Attrs = std::array<std::uint8_t, MDbAttrBytes>;

class AttributeTableTest : public DescriptionTest {
 protected:
  void SetUp() override {
    DescriptionTest::SetUp();
    ASSERT_EQ(CreateAttrs(), MDbErrNone);
  }
  void Open() { ASSERT_EQ(MDbAttrTblOpen(&env_, &env_.ref, tbl_), MDbErrNone); }
  Attrs Stored() {
    Attrs attrs{};
    EXPECT_EQ(ReadEntryBlock(&env_.ref, MDbObjAttributes, 0, kAttrProp, attrs.data(), MDbAttrBytes),
              MDbErrNone);
    return attrs;
  }
  std::u16string DbName(std::uint32_t bytes = 128) {
    char16_t name[64];
    std::fill(std::begin(name), std::end(name), u'#');
    if (MDbAttrTblReadDbName(&env_, &env_.ref, tbl_, 0, name, bytes) != MDbErrNone) {
      return u"<failed>";
    }
    return name;
  }

  MDbAttrTbl* tbl_ = &env_.attributes;
};

TEST_F(AttributeTableTest, TheCreatedBlockAndNameReadBack) {
  Open();
  Attrs attrs{};
  ASSERT_EQ(MDbAttrTblReadAttrs(&env_, &env_.ref, tbl_, 0, attrs.data()), MDbErrNone);
  EXPECT_EQ(attrs, ContactAttrs());
  EXPECT_EQ(DbName(), u"Customers & Suppliers");
}

TEST_F(AttributeTableTest, TheNameIsCutToTheCallersBuffer) {
  Open();
  EXPECT_EQ(DbName(20), u"Customers");
  EXPECT_EQ(DbName(2), u"");
  EXPECT_EQ(DbName(44), u"Customers & Suppliers") << "exactly the stored size";
  char16_t name[4] = {u'k', 0};
  EXPECT_EQ(MDbAttrTblReadDbName(&env_, &env_.ref, tbl_, 0, name, 1), MDbErrFailed)
      << "no room even for the terminator";
  EXPECT_EQ(name[0], u'k');
}

TEST_F(AttributeTableTest, OnlyIndexZeroHoldsAttributes) {
  Open();
  Attrs attrs;
  attrs.fill(0xEE);
  EXPECT_EQ(MDbAttrTblReadAttrs(&env_, &env_.ref, tbl_, 1, attrs.data()), MDbErrFailed);
  EXPECT_EQ(MDbAttrTblReadAttrs(&env_, &env_.ref, tbl_, -1, attrs.data()), MDbErrFailed);
  EXPECT_EQ(attrs[8], 0xEE);
  char16_t name[8] = {u'k', 0};
  EXPECT_EQ(MDbAttrTblReadDbName(&env_, &env_.ref, tbl_, 1, name, sizeof name), MDbErrFailed);
  EXPECT_EQ(name[0], u'k');
}

TEST_F(AttributeTableTest, CreationRefusesToWriteOverExistingAttributes) {
  Attrs other{};
  other.fill(0x11);
  EXPECT_EQ(MDbAttrTblCreateEx(&env_, &env_.ref, other.data(), u"Invoices"), MDbErrFailed);
  Open();
  EXPECT_EQ(Stored(), ContactAttrs());
  EXPECT_EQ(DbName(), u"Customers & Suppliers");
}

TEST_F(AttributeTableTest, DeletingMakesRoomForNewAttributes) {
  ASSERT_EQ(MDbAttrTblDelete(&env_, &env_.ref), MDbErrNone);
  Open();
  Attrs attrs;
  attrs.fill(0xEE);
  EXPECT_EQ(MDbAttrTblReadAttrs(&env_, &env_.ref, tbl_, 0, attrs.data()), MDbErrFailed);
  EXPECT_EQ(DbName(), u"<failed>");
  EXPECT_EQ(MDbAttrTblDelete(&env_, &env_.ref), MDbErrNone) << "nothing left to delete";
  Attrs other{};
  other.fill(0x11);
  ASSERT_EQ(MDbAttrTblCreateEx(&env_, &env_.ref, other.data(), u"Invoices"), MDbErrNone);
  EXPECT_EQ(Stored(), other);
  EXPECT_EQ(DbName(), u"Invoices");
}

TEST_F(AttributeTableTest, ABlockOfTheWrongSizeOrTypeIsDamage) {
  DamageBlock(MDbObjAttributes, 0, kAttrProp, 77);
  Open();
  Attrs attrs;
  attrs.fill(0xEE);
  EXPECT_EQ(MDbAttrTblReadAttrs(&env_, &env_.ref, tbl_, 0, attrs.data()), MDbErrFailed);
  EXPECT_EQ(attrs[0], 0xEE);
  std::uint32_t word = 0xDEAD;
  EXPECT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, 2, &word), MDbErrFailed);
  EXPECT_EQ(word, 0xDEADu);
  EXPECT_EQ(SetAttrWord(&env_, &env_.ref, tbl_, 2, 5), MDbErrFailed);
  EXPECT_EQ(DbName(), u"Customers & Suppliers");

  DamageType(MDbObjAttributes, 0, kAttrProp);
  EXPECT_EQ(MDbAttrTblReadAttrs(&env_, &env_.ref, tbl_, 0, attrs.data()), MDbErrFailed);
  EXPECT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, 3, &word), MDbErrFailed);
}

TEST_F(AttributeTableTest, ANameOfAnotherTypeIsDamage) {
  DamageType(MDbObjAttributes, 0, kDbNameProp);
  Open();
  EXPECT_EQ(DbName(), u"<failed>");
  Attrs attrs{};
  EXPECT_EQ(MDbAttrTblReadAttrs(&env_, &env_.ref, tbl_, 0, attrs.data()), MDbErrNone);
}

TEST_F(AttributeTableTest, AHandleOpensOnceAndClosesAlways) {
  MDbAttrTbl tbl{};
  EXPECT_EQ(MDbAttrTblIsOpened(&env_, &env_.ref, &tbl), 0);
  ASSERT_EQ(MDbAttrTblOpen(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbAttrTblIsOpened(&env_, &env_.ref, &tbl), 1);
  EXPECT_EQ(MDbAttrTblOpen(&env_, &env_.ref, &tbl), MDbErrFailed);
  EXPECT_EQ(MDbAttrTblClose(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbAttrTblIsOpened(&env_, &env_.ref, &tbl), 0);
  EXPECT_EQ(MDbAttrTblClose(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbAttrTblClose(&env_, &env_.ref, nullptr), MDbErrFailed);
}

// ---- attribute words ----

TEST_F(AttributeTableTest, WordsZeroToThreeAreTheBlocksLittleEndianWords) {
  Open();
  const std::uint32_t expected[] = {0, 0, 0x00000E00, 0x00030001};
  for (std::uint8_t id = 0; id < 4; ++id) {
    std::uint32_t word = 0xDEAD;
    ASSERT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, id, &word), MDbErrNone);
    EXPECT_EQ(word, expected[id]) << int{id};
  }
}

TEST_F(AttributeTableTest, GettingAWordBeyondThreeGivesZero) {
  Open();
  for (std::uint8_t id : {4, 5, 255}) {
    std::uint32_t word = 0xDEAD;
    EXPECT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, id, &word), MDbErrNone) << int{id};
    EXPECT_EQ(word, 0u);
  }
}

TEST_F(AttributeTableTest, SettingAWordRewritesOnlyItsFourBytes) {
  Open();
  ASSERT_EQ(SetAttrWord(&env_, &env_.ref, tbl_, 2, 0x12345678), MDbErrNone);
  std::uint32_t word = 0;
  ASSERT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, 2, &word), MDbErrNone);
  EXPECT_EQ(word, 0x12345678u);
  Attrs expected = ContactAttrs();
  expected[16] = 0x78;
  expected[17] = 0x56;
  expected[18] = 0x34;
  expected[19] = 0x12;
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(DbName(), u"Customers & Suppliers") << "the name is kept";
  std::uint16_t entries = 0;
  ASSERT_EQ(CountEntries(&env_.ref, MDbObjAttributes, &entries), MDbErrNone);
  EXPECT_EQ(entries, 1);
}

TEST_F(AttributeTableTest, ASetWordLastsAcrossReopening) {
  Open();
  ASSERT_EQ(SetAttrWord(&env_, &env_.ref, tbl_, 3, 0x00010002), MDbErrNone);
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  ASSERT_EQ(MDbOpen(&env_, Path(kFile).c_str(), &env_.ref), MDbErrNone);
  std::uint32_t word = 0;
  ASSERT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, 3, &word), MDbErrNone);
  EXPECT_EQ(word, 0x00010002u);
}

TEST_F(AttributeTableTest, SettingAWordBeyondThreeFailsAndWritesNothing) {
  Open();
  for (std::uint8_t id : {4, 5, 255}) {
    EXPECT_EQ(SetAttrWord(&env_, &env_.ref, tbl_, id, 0xFFFFFFFF), MDbErrFailed) << int{id};
  }
  EXPECT_EQ(Stored(), ContactAttrs());
}

TEST_F(AttributeTableTest, WordsNeedTheTableOpen) {
  std::uint32_t word = 0xDEAD;
  EXPECT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, 2, &word), MDbErrFailed);
  EXPECT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, 4, &word), MDbErrFailed) << "even beyond three";
  EXPECT_EQ(word, 0xDEADu);
  EXPECT_EQ(SetAttrWord(&env_, &env_.ref, tbl_, 2, 1), MDbErrFailed);
  EXPECT_EQ(Stored(), ContactAttrs());
  Open();
  EXPECT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, 2, nullptr), MDbErrFailed);
}

TEST_F(AttributeTableTest, ReadingNeedsAnOpenTable) {
  Attrs attrs;
  attrs.fill(0xEE);
  EXPECT_EQ(MDbAttrTblReadAttrs(&env_, &env_.ref, tbl_, 0, attrs.data()), MDbErrFailed);
  EXPECT_EQ(attrs[8], 0xEE);
  EXPECT_EQ(DbName(), u"<failed>");
}

TEST_F(AttributeTableTest, NothingWorksWithoutAnInitialisedEnvironment) {
  Open();
  MDbEnv fresh;
  MDbEnvInitialize(&fresh);
  EXPECT_EQ(MDbAttrTblDelete(&fresh, &env_.ref), MDbErrFailed);
  EXPECT_EQ(Stored(), ContactAttrs()) << "nothing was deleted";
  MDbAttrTbl tbl{};
  EXPECT_EQ(MDbAttrTblOpen(&fresh, &env_.ref, &tbl), MDbErrFailed);
  EXPECT_EQ(tbl.opened, 0);
  EXPECT_EQ(MDbAttrTblIsOpened(&fresh, &env_.ref, tbl_), 0);
  Attrs attrs;
  attrs.fill(0xEE);
  EXPECT_EQ(MDbAttrTblReadAttrs(&fresh, &env_.ref, tbl_, 0, attrs.data()), MDbErrFailed);
  EXPECT_EQ(attrs[8], 0xEE);
  char16_t name[8] = {u'k', 0};
  EXPECT_EQ(MDbAttrTblReadDbName(&fresh, &env_.ref, tbl_, 0, name, sizeof name), MDbErrFailed);
  EXPECT_EQ(name[0], u'k');
  std::uint32_t word = 0xDEAD;
  EXPECT_EQ(GetAttrWord(&fresh, &env_.ref, tbl_, 2, &word), MDbErrFailed);
  EXPECT_EQ(word, 0xDEADu);
  EXPECT_EQ(SetAttrWord(&fresh, &env_.ref, tbl_, 2, 1), MDbErrFailed);
  EXPECT_EQ(Stored(), ContactAttrs());

  ASSERT_EQ(MDbAttrTblDelete(&env_, &env_.ref), MDbErrNone);
  const Attrs fresher = ContactAttrs();
  EXPECT_EQ(MDbAttrTblCreateEx(&fresh, &env_.ref, fresher.data(), u"Invoices"), MDbErrFailed);
  std::uint16_t entries = 9;
  ASSERT_EQ(CountEntries(&env_.ref, MDbObjAttributes, &entries), MDbErrNone);
  EXPECT_EQ(entries, 0);
}

TEST_F(AttributeTableTest, NothingWorksOnAClosedVolume) {
  Open();
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbAttrTblIsOpened(&env_, &env_.ref, tbl_), 0);
  EXPECT_EQ(MDbAttrTblDelete(&env_, &env_.ref), MDbErrFailed);
  EXPECT_EQ(CreateAttrs(), MDbErrFailed);
  MDbAttrTbl tbl{};
  EXPECT_EQ(MDbAttrTblOpen(&env_, &env_.ref, &tbl), MDbErrFailed);
  std::uint32_t word = 0xDEAD;
  EXPECT_EQ(GetAttrWord(&env_, &env_.ref, tbl_, 2, &word), MDbErrFailed);
  EXPECT_EQ(SetAttrWord(&env_, &env_.ref, tbl_, 2, 1), MDbErrFailed);
  EXPECT_EQ(DbName(), u"<failed>");
  ASSERT_EQ(MDbOpen(&env_, Path(kFile).c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(Stored(), ContactAttrs());
}

}  // namespace
}  // namespace tbm::engine::testing
