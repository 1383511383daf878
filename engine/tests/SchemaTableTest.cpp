// The schema: creating field definitions, counting them up to the first
// gap, reading types and names under the buffer rule, damaged definitions,
// the state every call needs, and the largest value a field may hold.
#include <cstring>

#include "DescriptionFixture.h"

namespace tbm::engine::testing {
namespace {

class SchemaTableTest : public DescriptionTest {
 protected:
  std::uint16_t Count() {
    std::uint16_t count = 0xBEEF;
    EXPECT_EQ(MDbSchemaTblGetCount(&env_, &env_.ref, &env_.schema, &count), MDbErrNone);
    return count;
  }
  std::u16string Name(std::int16_t field, std::uint32_t bytes = 128) {
    char16_t buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    if (MDbSchemaTblReadFldName(&env_, &env_.ref, &env_.schema, field, buffer, bytes) !=
        MDbErrNone) {
      return u"<failed>";
    }
    return buffer;
  }
};

TEST_F(SchemaTableTest, CreatedFieldsReadBackWithTheirTypesAndNames) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  EXPECT_EQ(env_.schema.opened, 0) << "creation uses a handle of its own";
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  EXPECT_EQ(Count(), kContactFieldCount);

  std::uint8_t info[MDbFieldInfoBytes] = {};
  char16_t name[32] = {};
  ASSERT_EQ(MDbSchemaTblRead(&env_, &env_.ref, &env_.schema, 8, info, name, sizeof name),
            MDbErrNone);
  EXPECT_EQ(std::u16string(name), u"Phone (mobile)");
  const auto expected = ContactInfo(8);
  EXPECT_EQ(std::memcmp(info, expected.data(), sizeof info), 0) << "the field key comes back";

  std::uint8_t type = 0;
  ASSERT_EQ(MDbSchemaTblReadFldType(&env_, &env_.ref, &env_.schema, 5, &type), MDbErrNone);
  EXPECT_EQ(type, MDbFieldDate) << "Born";
  ASSERT_EQ(MDbSchemaTblReadFldType(&env_, &env_.ref, &env_.schema, 19, &type), MDbErrNone);
  EXPECT_EQ(type, MDbFieldTime) << "Call after";
  ASSERT_EQ(MDbSchemaTblReadFldInfo(&env_, &env_.ref, &env_.schema, 17, info), MDbErrNone);
  EXPECT_EQ(MDbDecodeFieldInfo(info).type, MDbFieldNumber) << "Credit limit";
  EXPECT_EQ(MDbDecodeFieldInfo(info).key[3], '7');
  EXPECT_EQ(Name(24), u"Notes");
}

TEST_F(SchemaTableTest, CountStopsAtTheFirstMissingField) {
  ASSERT_EQ(CreateSchema(5), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  EXPECT_EQ(Count(), 5);
  Damage(MDbObjSchema, 2, nullptr);
  EXPECT_EQ(Count(), 5) << "an open handle counts once";
  ASSERT_EQ(MDbSchemaTblClose(&env_, &env_.ref, &env_.schema), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Name(3), u"Title") << "the fields beyond the gap are still there";
}

TEST_F(SchemaTableTest, CreatingNoFieldsSucceedsAndWritesNothing) {
  ASSERT_EQ(CreateSchema(0), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(CreateSchema(), MDbErrNone) << "an empty schema does not block a creation";
  EXPECT_EQ(Count(), kContactFieldCount) << "creating through the environment recounts";
  ASSERT_EQ(MDbSchemaTblDelete(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(Count(), 0) << "and so does deleting";
}

TEST_F(SchemaTableTest, CreationRefusesToWriteOverAnExistingSchema) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  const std::uint8_t info[MDbFieldInfoBytes] = {MDbFieldNumber};
  const char16_t* names[] = {u"Invoice number"};
  EXPECT_EQ(MDbSchemaTblCreateEx(&env_, &env_.ref, info, names, 1), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblCreateEx(&env_, &env_.ref, info, names, 0), MDbErrFailed)
      << "even a creation of nothing";
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  EXPECT_EQ(Name(0), u"Last name");
  EXPECT_EQ(Count(), kContactFieldCount);
}

TEST_F(SchemaTableTest, CreationStopsAtTheFirstFailedWriteAndKeepsWhatItWrote) {
  // A name too long for the store to hold makes field 3's write fail.
  const std::u16string tooLong(40000, u'x');
  std::vector<std::uint8_t> infos;
  std::vector<const char16_t*> names;
  for (int i = 0; i < 6; ++i) {
    const auto info = ContactInfo(i);
    infos.insert(infos.end(), info.begin(), info.end());
    names.push_back(i == 3 ? tooLong.c_str() : ContactFields()[static_cast<std::size_t>(i)].name);
  }
  EXPECT_EQ(MDbSchemaTblCreateEx(&env_, &env_.ref, infos.data(), names.data(), 6), MDbErrFailed);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(Name(4), u"<failed>") << "nothing after the failed field";
}

TEST_F(SchemaTableTest, DeletingRemovesEveryFieldSoThatARefreshCanCreateAgain) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  ASSERT_EQ(CreateValueLists(), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblDelete(&env_, &env_.ref), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(Name(24), u"<failed>");
  EXPECT_EQ(MDbSchemaTblDelete(&env_, &env_.ref), MDbErrNone) << "nothing left to delete";
  EXPECT_EQ(CreateSchema(3), MDbErrNone);
  EXPECT_EQ(Count(), 3);
  std::uint16_t lists = 0;
  ASSERT_EQ(CountEntries(&env_.ref, MDbObjValueList, &lists), MDbErrNone);
  EXPECT_EQ(lists, 3) << "other kinds are spared";
}

TEST_F(SchemaTableTest, NamesAreCutToTheCallersBuffer) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  EXPECT_EQ(Name(8, 10), u"Phon") << "10 bytes hold four characters and the terminator";
  EXPECT_EQ(Name(8, 11), u"Phon") << "an odd byte is no room for a character";
  EXPECT_EQ(Name(8, 2), u"");
  EXPECT_EQ(Name(8, 30), u"Phone (mobile)") << "exactly the stored size";
  EXPECT_EQ(Name(8, 28), u"Phone (mobile") << "two bytes short";

  std::uint8_t info[MDbFieldInfoBytes] = {};
  char16_t name[4];
  ASSERT_EQ(MDbSchemaTblRead(&env_, &env_.ref, &env_.schema, 4, info, name, sizeof name),
            MDbErrNone);
  EXPECT_EQ(std::u16string(name), u"Rel");
  EXPECT_EQ(MDbDecodeFieldInfo(info).key[3], '4');
}

TEST_F(SchemaTableTest, NameSizeCountsTheTerminator) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  std::uint32_t bytes = 0;
  ASSERT_EQ(MDbSchemaTblGetNameSize(&env_, &env_.ref, &env_.schema, 8, &bytes), MDbErrNone);
  EXPECT_EQ(bytes, 30u) << "\"Phone (mobile)\" is 14 characters";
  ASSERT_EQ(MDbSchemaTblGetNameSize(&env_, &env_.ref, &env_.schema, 9, &bytes), MDbErrNone);
  EXPECT_EQ(bytes, 8u) << "Fax";
  bytes = 77;
  EXPECT_EQ(MDbSchemaTblGetNameSize(&env_, &env_.ref, &env_.schema, 25, &bytes), MDbErrFailed);
  EXPECT_EQ(bytes, 77u);
}

TEST_F(SchemaTableTest, AMissingFieldFailsAndLeavesTheBuffersAlone) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  for (std::int16_t field : {std::int16_t{25}, std::int16_t{-1}, std::int16_t{32767}}) {
    std::uint8_t info[MDbFieldInfoBytes];
    std::memset(info, 0xEE, sizeof info);
    char16_t name[8] = {u'k', u'e', u'e', u'p', 0};
    std::uint8_t type = 0xEE;
    EXPECT_EQ(MDbSchemaTblRead(&env_, &env_.ref, &env_.schema, field, info, name, sizeof name),
              MDbErrFailed);
    EXPECT_EQ(MDbSchemaTblReadFldInfo(&env_, &env_.ref, &env_.schema, field, info), MDbErrFailed);
    EXPECT_EQ(MDbSchemaTblReadFldType(&env_, &env_.ref, &env_.schema, field, &type), MDbErrFailed);
    EXPECT_EQ(MDbSchemaTblReadFldName(&env_, &env_.ref, &env_.schema, field, name, sizeof name),
              MDbErrFailed);
    EXPECT_EQ(info[0], 0xEE);
    EXPECT_EQ(info[17], 0xEE);
    EXPECT_EQ(type, 0xEE);
    EXPECT_EQ(std::u16string(name), u"keep");
  }
}

TEST_F(SchemaTableTest, AnInfoBlockOfTheWrongSizeIsDamage) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  DamageBlock(MDbObjSchema, 5, kFieldInfoProp, 17);
  DamageBlock(MDbObjSchema, 6, kFieldInfoProp, 0);
  for (std::int16_t field : {std::int16_t{5}, std::int16_t{6}}) {
    std::uint8_t info[MDbFieldInfoBytes] = {};
    std::uint8_t type = 0xEE;
    char16_t name[16] = {u'k', u'e', u'e', u'p', 0};
    EXPECT_EQ(MDbSchemaTblReadFldInfo(&env_, &env_.ref, &env_.schema, field, info), MDbErrFailed);
    EXPECT_EQ(MDbSchemaTblReadFldType(&env_, &env_.ref, &env_.schema, field, &type), MDbErrFailed);
    EXPECT_EQ(type, 0xEE);
    EXPECT_EQ(MDbSchemaTblRead(&env_, &env_.ref, &env_.schema, field, info, name, sizeof name),
              MDbErrFailed);
    EXPECT_EQ(std::u16string(name), u"keep") << "no half-written result";
  }
  EXPECT_EQ(Name(5), u"Born") << "the name itself is sound";
  EXPECT_EQ(Count(), kContactFieldCount);
}

TEST_F(SchemaTableTest, PropertiesOfAnotherTypeAreDamage) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  DamageType(MDbObjSchema, 8, kFieldNameProp);
  DamageType(MDbObjSchema, 2, kFieldInfoProp);

  EXPECT_EQ(Name(8), u"<failed>");
  std::uint32_t bytes = 0;
  EXPECT_EQ(MDbSchemaTblGetNameSize(&env_, &env_.ref, &env_.schema, 8, &bytes), MDbErrFailed);
  std::uint8_t info[MDbFieldInfoBytes];
  std::memset(info, 0xEE, sizeof info);
  char16_t name[16] = {};
  EXPECT_EQ(MDbSchemaTblRead(&env_, &env_.ref, &env_.schema, 8, info, name, sizeof name),
            MDbErrFailed);
  EXPECT_EQ(info[0], 0xEE) << "the sound block is not handed out alone";

  std::uint8_t type = 0;
  EXPECT_EQ(MDbSchemaTblReadFldType(&env_, &env_.ref, &env_.schema, 2, &type), MDbErrFailed);
  EXPECT_EQ(Name(2), u"Company");
}

TEST_F(SchemaTableTest, AHandleOpensOnceAndClosesAlways) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  MDbSchemaTbl tbl{};
  EXPECT_EQ(MDbSchemaTblIsOpened(&env_, &env_.ref, &tbl), 0);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbSchemaTblIsOpened(&env_, &env_.ref, &tbl), 1);
  EXPECT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &tbl), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblIsOpened(&env_, &env_.ref, &tbl), 1);
  EXPECT_EQ(MDbSchemaTblClose(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbSchemaTblIsOpened(&env_, &env_.ref, &tbl), 0);
  EXPECT_EQ(MDbSchemaTblClose(&env_, &env_.ref, &tbl), MDbErrNone) << "closing a closed handle";
  EXPECT_EQ(MDbSchemaTblClose(&env_, &env_.ref, nullptr), MDbErrFailed);
}

TEST_F(SchemaTableTest, ReadingNeedsAnOpenTable) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  std::uint16_t count = 0xBEEF;
  std::uint8_t info[MDbFieldInfoBytes] = {};
  std::uint8_t type = 0xEE;
  char16_t name[16] = {u'k', u'e', u'e', u'p', 0};
  std::uint32_t bytes = 77;
  MDbSchemaTbl* tbl = &env_.schema;
  EXPECT_EQ(MDbSchemaTblGetCount(&env_, &env_.ref, tbl, &count), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblRead(&env_, &env_.ref, tbl, 0, info, name, sizeof name), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblReadFldInfo(&env_, &env_.ref, tbl, 0, info), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblReadFldType(&env_, &env_.ref, tbl, 0, &type), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblReadFldName(&env_, &env_.ref, tbl, 0, name, sizeof name), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblGetNameSize(&env_, &env_.ref, tbl, 0, &bytes), MDbErrFailed);
  EXPECT_EQ(count, 0xBEEF);
  EXPECT_EQ(info[0], 0);
  EXPECT_EQ(type, 0xEE);
  EXPECT_EQ(std::u16string(name), u"keep");
  EXPECT_EQ(bytes, 77u);
}

TEST_F(SchemaTableTest, NothingWorksWithoutAnInitialisedEnvironment) {
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  MDbEnv fresh;
  MDbEnvInitialize(&fresh);
  std::vector<std::uint8_t> infos(MDbFieldInfoBytes, MDbFieldText);
  const char16_t* names[] = {u"Last name"};
  EXPECT_EQ(MDbSchemaTblCreateEx(&fresh, &env_.ref, infos.data(), names, 1), MDbErrFailed);
  EXPECT_EQ(Count(), 0) << "nothing was written";

  ASSERT_EQ(CreateSchema(), MDbErrNone);
  EXPECT_EQ(MDbSchemaTblDelete(&fresh, &env_.ref), MDbErrFailed);
  EXPECT_EQ(Count(), kContactFieldCount) << "nothing was deleted";
  MDbSchemaTbl tbl{};
  EXPECT_EQ(MDbSchemaTblOpen(&fresh, &env_.ref, &tbl), MDbErrFailed);
  EXPECT_EQ(tbl.opened, 0);
  EXPECT_EQ(MDbSchemaTblIsOpened(&fresh, &env_.ref, &env_.schema), 0);
  std::uint16_t count = 0xBEEF;
  EXPECT_EQ(MDbSchemaTblGetCount(&fresh, &env_.ref, &env_.schema, &count), MDbErrFailed);
  EXPECT_EQ(count, 0xBEEF);
  char16_t name[16] = {};
  std::uint8_t info[MDbFieldInfoBytes] = {};
  std::uint8_t type = 0;
  std::uint32_t bytes = 0;
  EXPECT_EQ(MDbSchemaTblRead(&fresh, &env_.ref, &env_.schema, 0, info, name, sizeof name),
            MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblReadFldInfo(&fresh, &env_.ref, &env_.schema, 0, info), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblReadFldType(&fresh, &env_.ref, &env_.schema, 0, &type), MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblReadFldName(&fresh, &env_.ref, &env_.schema, 0, name, sizeof name),
            MDbErrFailed);
  EXPECT_EQ(MDbSchemaTblGetNameSize(&fresh, &env_.ref, &env_.schema, 0, &bytes), MDbErrFailed);
  EXPECT_EQ(name[0], 0);
}

TEST_F(SchemaTableTest, NothingWorksOnAClosedVolume) {
  ASSERT_EQ(CreateSchema(), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbSchemaTblIsOpened(&env_, &env_.ref, &env_.schema), 0);
  EXPECT_EQ(MDbSchemaTblDelete(&env_, &env_.ref), MDbErrFailed);
  EXPECT_EQ(CreateSchema(1), MDbErrFailed);
  MDbSchemaTbl tbl{};
  EXPECT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &tbl), MDbErrFailed);
  std::uint16_t count = 0xBEEF;
  EXPECT_EQ(MDbSchemaTblGetCount(&env_, &env_.ref, &env_.schema, &count), MDbErrFailed);
  EXPECT_EQ(Name(0), u"<failed>");

  ASSERT_EQ(MDbOpen(&env_, Path(kFile).c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(Count(), kContactFieldCount) << "the delete on the closed volume did nothing";
}

// ---- the largest value of a field ----

std::uint32_t MaxSize(std::uint8_t type, std::uint16_t fields) {
  std::uint32_t size = 0xDEAD;
  return MDbGetFieldMaxSize(type, fields, &size) == MDbErrNone ? size : 0;
}

TEST(FieldMaxSizeTest, TextFieldsShrinkAsTheDatabaseGrows) {
  EXPECT_EQ(MaxSize(MDbFieldText, 1), 2049u);
  EXPECT_EQ(MaxSize(MDbFieldText, 20), 2049u);
  EXPECT_EQ(MaxSize(MDbFieldText, 21), 1537u);
  EXPECT_EQ(MaxSize(MDbFieldText, 30), 1537u);
  EXPECT_EQ(MaxSize(MDbFieldText, 31), 1025u);
  EXPECT_EQ(MaxSize(MDbFieldText, 50), 1025u);
}

TEST(FieldMaxSizeTest, NumbersDatesAndTimesHold256WhateverTheFieldCount) {
  for (std::uint8_t type : {MDbFieldNumber, MDbFieldDate, MDbFieldTime}) {
    for (std::uint16_t fields : {1, 20, 21, 31, 50}) {
      EXPECT_EQ(MaxSize(type, fields), 256u) << int{type} << " with " << fields << " fields";
    }
  }
}

TEST(FieldMaxSizeTest, OtherTypesHaveNoMaximum) {
  for (std::uint8_t type : {0, 5, 255}) {
    std::uint32_t size = 0xDEAD;
    EXPECT_EQ(FieldMaxSize(type, 20, &size), MDbErrFailed) << int{type};
    EXPECT_EQ(size, 0xDEADu);
  }
  EXPECT_EQ(FieldMaxSize(MDbFieldText, 20, nullptr), MDbErrFailed);
}

}  // namespace
}  // namespace tbm::engine::testing
