// Building databases from a description: a new database as the handheld
// program then opens it, a rebuild that keeps list-view settings of fields
// it recognises by key, emptying, and the record limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DatabaseBuilder.h"
#include "MDbBlocks.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::sync {
namespace {

using tbm::testing::ScratchFolder;

FieldSpec Field(std::uint8_t type, std::u16string name, std::string_view key,
                std::int16_t valueList = -1) {
  FieldSpec field;
  field.type = type;
  field.name = std::move(name);
  field.key = FieldKey(key);
  field.valueList = valueList;
  return field;
}

std::vector<FieldSpec> InventoryFields() {
  std::vector<FieldSpec> fields = {
      Field(MDbFieldText, u"Item", "K-ITEM"),
      Field(MDbFieldNumber, u"Quantity", "K-QTY"),
      Field(MDbFieldDate, u"Received", "K-RECV"),
      Field(MDbFieldText, u"Shelf", "K-SHELF", 0),
  };
  fields[0].optionWord1 = 0x0102;
  fields[0].optionWord2 = 0x0304;
  return fields;
}

DatabaseFormats DayFirstFormats() {
  DatabaseFormats formats;
  formats.date = MakeDateFormat(u'.', 1, true, true, false);
  formats.time = MakeTimeFormat(u':', u"AM", u"PM", u"Uhr", true, false);
  return formats;
}

class DatabaseBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    path_ = Utf8ToUtf16((folder_.path() / "Inventory.tbm").string());
    MDbEnvInitialize(&env_);
    ASSERT_EQ(MDbInit(&env_, 0), MDbErrNone);
  }
  void TearDown() override {
    if (env_.ref.opened) MDbClose(&env_, &env_.ref);
    MDbShutdown(&env_);
  }

  // Creates the inventory database with the given records (item, quantity).
  void BuildInventory(const std::vector<std::pair<std::u16string, std::u16string>>& items) {
    ASSERT_EQ(MDbCreate(&env_, path_.c_str(), &env_.ref), MDbErrNone);
    ASSERT_EQ(MarkConsistent(&env_, false), MDbErrNone);
    bool unchanged = true;
    ASSERT_EQ(ReplaceSchema(&env_, InventoryFields(), false, &unchanged), MDbErrNone);
    EXPECT_FALSE(unchanged);
    ASSERT_EQ(ReplaceAttributes(&env_, NewAttributeBlock(DayFirstFormats()), u"Inventory"),
              MDbErrNone);
    const std::vector<std::u16string> lists = {u"A1\r\nA2\r\nB1"};
    ASSERT_EQ(ReplaceValueLists(&env_, lists), MDbErrNone);
    RecordLoader loader(&env_);
    ASSERT_EQ(loader.Start(), MDbErrNone);
    for (std::size_t i = 0; i < items.size(); ++i) {
      MDbIdentity desktop;
      desktop.desktopId[0] = static_cast<std::uint8_t>(i + 1);
      desktop.modificationCount = 0xEE00;
      std::uint8_t identity[MDbIdentityBytes];
      MDbEncodeIdentity(desktop, identity);
      const char16_t* values[] = {items[i].first.c_str(), items[i].second.c_str(), u"03.02.2025",
                                  u"A1"};
      ASSERT_EQ(loader.Add(identity, values), MDbErrNone);
    }
    ASSERT_EQ(loader.Finish(), MDbErrNone);
    ASSERT_EQ(MarkConsistent(&env_, true), MDbErrNone);
    ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  }

  // Opens the database as the handheld program does.
  void OpenAsHandheld() { ASSERT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrNone); }

  std::u16string FieldText(MDbRecset* rs, std::int16_t position, std::int16_t field) {
    MDbRecsetSetInx(&env_, rs, position);
    if (MDbRecsetOpenRec(&env_, rs) != MDbErrNone) return u"<cannot open>";
    const char16_t* text = nullptr;
    MDbRecsetGetFieldPtr(&env_, rs, field, &text);
    std::u16string value = text ? text : u"<none>";
    MDbRecsetCloseRec(&env_, rs);
    return value;
  }

  ScratchFolder folder_{"tbm-builder"};
  std::u16string path_;
  MDbEnv env_;
};

TEST_F(DatabaseBuilderTest, ANewDatabaseOpensOnTheHandheldWithEverythingItWasGiven) {
  BuildInventory({{u"Hammer", u"12"}, {u"Saw", u"3"}});
  OpenAsHandheld();
  char16_t name[64];
  ASSERT_EQ(MDbAgentGetDbName(&env_, name, sizeof name), MDbErrNone);
  EXPECT_EQ(std::u16string(name), u"Inventory");

  MDbRecset rs;
  MDbRecsetInitialize(&rs);
  ASSERT_EQ(MDbAgentQuery(&env_, &rs, nullptr), MDbErrNone);
  std::uint16_t fields = 0;
  ASSERT_EQ(MDbRecsetGetFldCount(&env_, &rs, &fields), MDbErrNone);
  EXPECT_EQ(fields, 4);
  std::uint8_t type = 0;
  MDbRecsetGetFldType(&env_, &rs, 2, &type);
  EXPECT_EQ(type, MDbFieldDate);
  char16_t fieldName[32];
  MDbRecsetGetFldName(&env_, &rs, 1, fieldName, sizeof fieldName);
  EXPECT_EQ(std::u16string(fieldName), u"Quantity");

  // The option block carries the desktop's words and the value-list number.
  std::uint8_t option[MDbOptionBytes];
  ASSERT_EQ(MDbRecsetGetFldOption(&env_, &rs, 0, option), MDbErrNone);
  EXPECT_EQ(MDbDecodeFieldOption(option).flags, 0x0102);
  EXPECT_EQ(MDbDecodeFieldOption(option).style, 0x0304);
  EXPECT_EQ(MDbDecodeFieldOption(option).valueListNumber(), MDbNoValueList);  // -1
  ASSERT_EQ(MDbRecsetGetFldOption(&env_, &rs, 3, option), MDbErrNone);
  EXPECT_EQ(MDbDecodeFieldOption(option).valueListNumber(), 0);
  char16_t list[32];
  ASSERT_EQ(MDbAgentGetValList(&env_, 0, list, sizeof list), MDbErrNone);
  EXPECT_EQ(std::u16string(list), u"A1\r\nA2\r\nB1");

  // The formats reach date parsing: day first with dots.
  MDbDateRec date{};
  ASSERT_EQ(MDbRecsetDateStrToDateRec(&env_, u"3.2.2025", &date, 1, nullptr), MDbErrNone);
  EXPECT_EQ(date.day, 3);
  EXPECT_EQ(date.month, 2);
  std::uint32_t word = 0;
  MDbAgentGetAttr(&env_, 2, &word);
  EXPECT_EQ(word, 3584u);
  MDbAgentGetAttr(&env_, 3, &word);
  EXPECT_EQ(word, 0x00030001u);

  std::uint32_t count = 0;
  MDbRecsetGetRecCount(&env_, &rs, &count);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(FieldText(&rs, 0, 0), u"Hammer");
  EXPECT_EQ(FieldText(&rs, 1, 1), u"3");
  MDbRecsetDestroy(&env_, &rs);
  MDbAgentCloseDb(&env_);
}

TEST_F(DatabaseBuilderTest, LoadedRecordsAreCleanAndKeepTheirIdentity) {
  BuildInventory({{u"Hammer", u"12"}, {u"Saw", u"3"}});
  ASSERT_EQ(MDbOpen(&env_, path_.c_str(), &env_.ref), MDbErrNone);
  ASSERT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrNone);
  for (std::int16_t i = 0; i < 2; ++i) {
    MDbDataRec rec;
    MDbDataRecInitialize(&rec);
    MDbDataTblCursSetInx(&env_, &env_.ref, &env_.data, i);
    ASSERT_EQ(MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec, nullptr), MDbErrNone);
    std::uint8_t state = 0xFF;
    ASSERT_EQ(MDbDataRecGetState(&env_, &env_.ref, &env_.data, &rec, &state), MDbErrNone);
    EXPECT_EQ(state, 0);
    std::uint8_t identity[MDbIdentityBytes] = {};
    ASSERT_EQ(MDbDataRecGetRecInfo(&env_, &env_.ref, &env_.data, &rec, identity), MDbErrNone);
    EXPECT_EQ(MDbDecodeIdentity(identity).desktopId[0], i + 1);
    EXPECT_EQ(MDbDecodeIdentity(identity).modificationCount, 0xEE00);
    MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec);
  }
  MDbDataTblClose(&env_, &env_.ref, &env_.data);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrNone);
}

TEST_F(DatabaseBuilderTest, ARebuildKeepsListSettingsOfFieldsItRecognisesByKey) {
  BuildInventory({{u"Hammer", u"12"}});
  // The user widened the Quantity column and hid Shelf on the handheld.
  OpenAsHandheld();
  MDbRecset rs;
  MDbRecsetInitialize(&rs);
  ASSERT_EQ(MDbAgentQuery(&env_, &rs, nullptr), MDbErrNone);
  std::uint8_t block[MDbOptionExBytes];
  auto change = [&](std::int16_t field, auto edit) {
    ASSERT_EQ(MDbRecsetGetFldOptionEx(&env_, &rs, field, block), MDbErrNone);
    MDbFieldOptionEx ex = MDbDecodeFieldOptionEx(block);
    edit(ex);
    MDbEncodeFieldOptionEx(ex, block);
    ASSERT_EQ(MDbRecsetSetFldOptionEx(&env_, &rs, field, block), MDbErrNone);
  };
  change(1, [](MDbFieldOptionEx& ex) { ex.width = 140; });
  change(3, [](MDbFieldOptionEx& ex) { ex.alignment = 0; });
  MDbRecsetDestroy(&env_, &rs);
  MDbAgentCloseDb(&env_);

  // The desktop now sends Shelf first, drops Received and adds Supplier.
  std::vector<FieldSpec> fields = InventoryFields();
  std::vector<FieldSpec> reordered = {fields[3], fields[0], fields[1],
                                      Field(MDbFieldText, u"Supplier", "K-SUPP")};
  ASSERT_EQ(MDbOpen(&env_, path_.c_str(), &env_.ref), MDbErrNone);
  bool unchanged = true;
  ASSERT_EQ(ReplaceSchema(&env_, reordered, true, &unchanged), MDbErrNone);
  EXPECT_FALSE(unchanged);
  MDbClose(&env_, &env_.ref);

  OpenAsHandheld();
  MDbRecsetInitialize(&rs);
  ASSERT_EQ(MDbAgentQuery(&env_, &rs, nullptr), MDbErrNone);
  auto read = [&](std::int16_t field) {
    EXPECT_EQ(MDbRecsetGetFldOptionEx(&env_, &rs, field, block), MDbErrNone);
    return MDbDecodeFieldOptionEx(block);
  };
  EXPECT_EQ(read(0).alignment, 0) << "Shelf keeps its settings";
  EXPECT_EQ(read(2).width, 140) << "Quantity keeps its width";
  const MDbFieldOptionEx supplier = read(3);
  EXPECT_EQ(supplier.width, 75) << "Supplier, new, gets the default width";
  EXPECT_EQ(supplier.alignment, 1);
  EXPECT_EQ(supplier.displayOrder, 3) << "and its position as display order";
  MDbRecsetDestroy(&env_, &rs);
  MDbAgentCloseDb(&env_);
}

TEST_F(DatabaseBuilderTest, TheSchemaCountsAsUnchangedOnlyForTheSameKeysInTheSameOrder) {
  BuildInventory({});
  ASSERT_EQ(MDbOpen(&env_, path_.c_str(), &env_.ref), MDbErrNone);
  std::vector<FieldSpec> fields = InventoryFields();
  fields[0].name = u"Article";  // a renamed field keeps its key
  bool unchanged = false;
  ASSERT_EQ(ReplaceSchema(&env_, fields, true, &unchanged), MDbErrNone);
  EXPECT_TRUE(unchanged);

  std::swap(fields[1], fields[2]);
  ASSERT_EQ(ReplaceSchema(&env_, fields, true, &unchanged), MDbErrNone);
  EXPECT_FALSE(unchanged);

  fields.pop_back();
  std::swap(fields[1], fields[2]);
  ASSERT_EQ(ReplaceSchema(&env_, fields, true, &unchanged), MDbErrNone);
  EXPECT_FALSE(unchanged);

  // Keys differing only past their length byte are the same key.
  std::vector<FieldSpec> same = fields;
  same[0].key[10] = 0x55;
  ASSERT_EQ(ReplaceSchema(&env_, same, true, &unchanged), MDbErrNone);
  EXPECT_TRUE(unchanged);
}

TEST_F(DatabaseBuilderTest, UnknownFieldTypesAreStoredAsZero) {
  ASSERT_EQ(MDbCreate(&env_, path_.c_str(), &env_.ref), MDbErrNone);
  const std::vector<FieldSpec> fields = {Field(7, u"Picture", "K-PIC"),
                                         Field(MDbFieldTime, u"Start", "K-START")};
  ASSERT_EQ(ReplaceSchema(&env_, fields, false, nullptr), MDbErrNone);
  MDbSchemaTbl schema{};
  ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &schema), MDbErrNone);
  std::uint8_t type = 0xFF;
  MDbSchemaTblReadFldType(&env_, &env_.ref, &schema, 0, &type);
  EXPECT_EQ(type, 0);
  MDbSchemaTblReadFldType(&env_, &env_.ref, &schema, 1, &type);
  EXPECT_EQ(type, MDbFieldTime);
  MDbSchemaTblClose(&env_, &env_.ref, &schema);
}

TEST_F(DatabaseBuilderTest, EmptyingRemovesRecordsAndTheirDeleteHistory) {
  BuildInventory({{u"Hammer", u"12"}, {u"Saw", u"3"}, {u"Drill", u"1"}});
  // Delete one record with tracking, as the handheld program does.
  OpenAsHandheld();
  MDbRecset rs;
  MDbRecsetInitialize(&rs);
  ASSERT_EQ(MDbAgentQuery(&env_, &rs, nullptr), MDbErrNone);
  ASSERT_EQ(MDbRecsetDelRec(&env_, &rs, 1, 0), MDbErrNone);
  MDbRecsetDestroy(&env_, &rs);
  MDbAgentCloseDb(&env_);

  ASSERT_EQ(MDbOpen(&env_, path_.c_str(), &env_.ref), MDbErrNone);
  ASSERT_EQ(EmptyRecords(&env_), MDbErrNone);
  ASSERT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrNone);
  std::uint32_t records = 99;
  std::uint32_t deleted = 99;
  MDbDataTblGetRecCount(&env_, &env_.ref, &env_.data, &records);
  MDbDeleteTblGetRecCount(&env_, &env_.ref, &env_.data, &deleted);
  EXPECT_EQ(records, 0u);
  EXPECT_EQ(deleted, 0u);
  MDbDataTblClose(&env_, &env_.ref, &env_.data);
}

TEST_F(DatabaseBuilderTest, TheLoaderStopsAtTheRecordLimit) {
  ASSERT_EQ(MDbCreate(&env_, path_.c_str(), &env_.ref), MDbErrNone);
  const std::vector<FieldSpec> fields = {Field(MDbFieldNumber, u"N", "K-N")};
  ASSERT_EQ(ReplaceSchema(&env_, fields, false, nullptr), MDbErrNone);
  RecordLoader loader(&env_);
  ASSERT_EQ(loader.Start(), MDbErrNone);
  const std::uint8_t identity[MDbIdentityBytes] = {};
  std::int32_t rc = MDbErrNone;
  for (std::uint32_t i = 0; i < MDbMaxRecords && rc == MDbErrNone; ++i) {
    const std::u16string text = Utf8ToUtf16(std::to_string(i));
    const char16_t* values[] = {text.c_str()};
    rc = loader.Add(identity, values);
  }
  ASSERT_EQ(rc, MDbErrNone);
  const char16_t* one[] = {u"5000"};
  EXPECT_EQ(loader.Add(identity, one), MDbErrTooManyRecords);
  EXPECT_EQ(loader.added(), MDbMaxRecords);
  EXPECT_EQ(loader.Finish(), MDbErrNone);
}

TEST_F(DatabaseBuilderTest, EditsAreHeldToTheFieldsSizeAndCopiesToTheDesktopsTextLimit) {
  ASSERT_EQ(MDbCreate(&env_, path_.c_str(), &env_.ref), MDbErrNone);
  const std::vector<FieldSpec> fields = {Field(MDbFieldText, u"Notes", "K-NOTES"),
                                         Field(MDbFieldNumber, u"Qty", "K-QTY"),
                                         Field(9, u"Odd", "K-ODD")};
  ASSERT_EQ(ReplaceSchema(&env_, fields, false, nullptr), MDbErrNone);
  RecordLoader loader(&env_);
  ASSERT_EQ(loader.Start(), MDbErrNone);
  EXPECT_EQ(loader.MaxChars(0), 2048u);
  EXPECT_EQ(loader.MaxChars(1), 255u);
  EXPECT_EQ(loader.MaxChars(2), 0u);
  EXPECT_EQ(loader.CopyMaxChars(), 2048u);
  // The desktop sends a number field's text up to its text limit.
  const std::u16string notes(2048, u'n');
  const std::u16string longNumber(2048, u'7');
  const std::u16string huge(5000, u'x');
  const char16_t* ok[] = {notes.c_str(), longNumber.c_str(), huge.c_str()};
  EXPECT_EQ(loader.FirstTooLong(ok), -1);
  const std::u16string pastTheLimit = longNumber + u"7";
  const char16_t* tooLong[] = {notes.c_str(), pastTheLimit.c_str(), u""};
  EXPECT_EQ(loader.FirstTooLong(tooLong), 1);
  const std::u16string longNotes = notes + u"n";
  const char16_t* notesTooLong[] = {longNotes.c_str(), u"1", u""};
  EXPECT_EQ(loader.FirstTooLong(notesTooLong), 0);
}

}  // namespace
}  // namespace tbm::sync
