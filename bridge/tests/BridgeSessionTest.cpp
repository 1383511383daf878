// The plug-in's command handling as a desktop synchronisation program
// meets it: command blocks in, reply blocks out, against a host's services
// (an in-memory Tabulon Pro), with the exchange files on disk. The merge
// table, the conflict rules and the copy's limits run through the real
// Tabulon Pro (tests/desktop); here are the conversation, the set-aside
// file, and what only a host made to order can show: services failing
// part-way, identities and settings the real one never hands out.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "BridgeSession.h"
#include "ExchangeFile.h"
#include "MemoryHost.h"
#include "StoredSettings.h"
#include "TestSupport.h"

namespace tbm::bridge {
namespace {

namespace fs = std::filesystem;
using sync::DdeCommand;
using sync::DdeMessage;
using testing::MakeIdentity;
using testing::MemoryDatabase;
using testing::MemoryHost;
using testing::MemoryRecord;

constexpr std::uint32_t kTakesPart = (1u << 21) | (1u << 9) | (1u << 3);

// The handheld's copy as the plug-in wrote it.
struct Copy {
  sync::ExchangeLayout layout;
  std::vector<std::string> lists;
  std::vector<sync::ExchangeRecord> records;
};

sync::ExchangeRecord Change(std::int16_t code, const std::string& identity, std::uint16_t count,
                            std::vector<std::string> values) {
  sync::ExchangeRecord record;
  record.header.changeCode = code;
  const auto id = MakeIdentity(identity);
  std::copy(id.begin(), id.end(), record.header.identity.begin());
  record.header.identity[8] = static_cast<std::uint8_t>(count);
  record.header.identity[9] = static_cast<std::uint8_t>(count >> 8);
  record.values = std::move(values);
  return record;
}

sync::FieldDescriptor Descriptor(std::int16_t type, const std::string& name,
                                 const std::string& key) {
  sync::FieldDescriptor descriptor;
  descriptor.type = type;
  descriptor.name = name;
  descriptor.key = key;
  return descriptor;
}

// The contacts' fields on the handheld, in the handheld's order.
std::vector<sync::FieldDescriptor> HandheldFields() {
  return {Descriptor(1, "Name", "K-NAME"), Descriptor(1, "City", "K-CITY"),
          Descriptor(1, "Notes", "K-NOTE"), Descriptor(3, "Born", "K-BORN")};
}

MemoryRecord Record(const std::string& identity, std::int32_t count,
                    std::vector<std::string> texts) {
  MemoryRecord record;
  record.identity = MakeIdentity(identity);
  record.modificationCount = count;
  record.texts = std::move(texts);
  return record;
}

void StoreSettings(MemoryDatabase& db, const SyncSettings& settings,
                   const FieldSettings& fieldSettings) {
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(sync::EncodeSyncSettings(settings, &bytes).ok());
  db.pluginData[sync::kSyncSettingsKey] = bytes;
  ASSERT_TRUE(sync::EncodeFieldSettings(fieldSettings, &bytes).ok());
  db.pluginData[sync::kFieldSettingsKey] = bytes;
}

// A contacts database as a user keeps it in Tabulon Pro: texts in Mac OS
// Roman with CR line ends, a value list two fields share, a photo field
// the handheld cannot show, and settings that choose four fields (and one
// that was deleted since).
MemoryDatabase Contacts(const std::string& name = "Contacts") {
  MemoryDatabase db;
  db.name = name;
  db.flags = kTakesPart;
  db.fields = {{"K-NAME", "Name", TB_FIELD_TEXT},
               {"K-BORN", "Born", TB_FIELD_DATE},
               {"K-CITY", "City", TB_FIELD_TEXT},
               {"K-NOTE", "Notes", TB_FIELD_TEXT},
               {"K-PHOTO", "Photo", 9}};
  db.records = {Record("R1", 4, {"Anna M\x9Fller", "3.4.1970", "Berlin", "Ruft\rabends an", "img"}),
                Record("R2", 1, {"Ben", "", "Hamburg", "", ""}),
                Record("R3", 0, {"Carla", "1.1.1980", "", "", ""}),
                Record("R4", 2, {"Dora", "", "M\x9Fnchen", "", ""}),
                Record("R5", 3, {"Emil", "", "Berlin", "", ""}),
                Record("R6", 1, {"Fritz", "", "", "", ""})};
  db.valueLists = {{"Citys", "Berlin\rHamburg\rM\x9Fnchen\r"}, {"Moods", "gut\rschlecht\r"}};
  db.format.dateSeparator = '.';
  db.format.dateOrder = 2;
  db.format.twoDigitDay = 1;
  db.format.timeSeparator = ':';
  db.format.leadingZero = 1;
  std::strcpy(db.format.twentyFourSuffix, " Uhr");

  SyncSettings settings;
  settings.fieldKeys = {"K-NAME", "K-CITY", "K-GONE", "K-NOTE", "K-BORN"};
  FieldSettings fields;
  FieldSetting person;
  person.key = "K-NAME";
  person.displayStyle = sync::kStyleDropDownCombo;
  person.valueListName = "Citys";
  person.optionFlags = sync::kOptionCapitalise;
  fields.Put(person);
  FieldSetting city = person;
  city.key = "K-CITY";
  city.displayStyle = sync::kStyleDropDownList;
  city.optionFlags = sync::kOptionEntryLocked;
  fields.Put(city);
  FieldSetting notes;
  notes.key = "K-NOTE";
  notes.displayStyle = sync::kStyleZoomBox;
  fields.Put(notes);
  StoreSettings(db, settings, fields);
  return db;
}

class BridgeSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    ASSERT_TRUE(sync::AnsiCodePage::Open("windows-1252", &codePage_).ok());
    fs::create_directories(folder_);
    session_ = std::make_unique<BridgeSession>(host_.services(), *codePage_,
                                               (scratch_.path() / "Temp").string());
  }

  std::optional<std::int32_t> Send(const DdeCommand& command) {
    sync::DdeBlock block;
    EXPECT_TRUE(sync::BuildDdeBlock(command, &block).ok());
    const std::optional<sync::DdeBlock> reply = session_->Execute(block.bytes());
    if (!reply) return std::nullopt;
    std::int32_t number = 0;
    EXPECT_TRUE(sync::ReadDdeReply(reply->bytes(), &number).ok());
    return number;
  }
  std::int32_t Reply(const DdeCommand& command) { return Send(command).value_or(-999); }
  std::int32_t Bare(DdeMessage type) { return Reply(DdeCommand::WithoutArgument(type)); }
  std::int32_t MergeAndExport(std::int32_t index) {
    return Reply(DdeCommand::WithNumber(DdeMessage::kMergeAndExport, index));
  }

  // Starts a conversation with the exchange folder folder_.
  void StartConversation() {
    ASSERT_EQ(Reply(DdeCommand::WithString(DdeMessage::kExchangeFolder, folder_.string())), 0);
    ASSERT_EQ(Reply(DdeCommand::WithStrings(DdeMessage::kStart, "Pocket PC", "0815")), 0);
  }

  // Writes the handheld's changes; cutAt cuts the file short.
  void WriteChanges(const std::string& name, std::vector<sync::FieldDescriptor> fields,
                    const std::vector<sync::ExchangeRecord>& records,
                    std::optional<std::size_t> cutAt = std::nullopt) {
    sync::MemoryByteSink sink;
    sync::ExchangeWriter writer(sink, *codePage_);
    sync::ExchangeLayout layout;
    layout.header.name = name;
    layout.header.fieldCount = static_cast<std::int32_t>(fields.size());
    layout.header.recordCount = static_cast<std::int32_t>(records.size());
    layout.fields = std::move(fields);
    ASSERT_TRUE(writer.WriteLayout(layout).ok());
    for (const auto& record : records) {
      ASSERT_TRUE(writer.WriteRecord(record.header, record.values).ok());
    }
    ASSERT_TRUE(writer.Finish().ok());
    std::string bytes(sink.bytes().begin(), sink.bytes().end());
    if (cutAt) bytes.resize(*cutAt);
    ASSERT_TRUE(::tbm::testing::WriteWholeFile(folder_ / "TBSC.sdb", bytes));
  }

  Copy ReadCopy() {
    Copy copy;
    sync::HostFileSource source((folder_ / "TBSS.sdb").string());
    EXPECT_TRUE(source.ok()) << source.FailureReason();
    sync::ExchangeReader reader(source);
    EXPECT_TRUE(reader.ReadLayout(&copy.layout).ok());
    if (copy.layout.valueListCount > 0) {
      EXPECT_TRUE(reader.ReadValueLists(&copy.lists).ok());
    }
    while (reader.recordsLeft() > 0) {
      sync::ExchangeRecord record;
      const Status status = reader.ReadRecord(&record);
      EXPECT_TRUE(status.ok()) << status.message();
      if (!status.ok()) break;
      copy.records.push_back(record);
    }
    return copy;
  }

  bool CopyWritten() const { return fs::exists(folder_ / "TBSS.sdb"); }

  ::tbm::testing::ScratchFolder scratch_{"tbm-bridge"};
  ::tbm::testing::ScopedEnvironment desktopRoot_{"TBM_DESKTOP_ROOT",
                                                 (scratch_.path() / "desktop").c_str()};
  ::tbm::testing::ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT",
                                                (scratch_.path() / "device").c_str()};
  fs::path folder_ = scratch_.path() / "Sync Folder";
  MemoryHost host_;
  std::unique_ptr<sync::AnsiCodePage> codePage_;
  std::unique_ptr<BridgeSession> session_;
};

TEST_F(BridgeSessionTest, AConversationListsItsDatabasesAndWritesEachCopy) {
  host_.Open(Contacts());
  MemoryDatabase kunden;
  kunden.name = "Kunden M\x9Fnchen";
  kunden.flags = kTakesPart;
  kunden.fields = {{"K1", "Firma", TB_FIELD_TEXT}};
  kunden.records = {Record("K1", 0, {"ACME"}), Record("K2", 0, {"Initech"})};
  host_.Open(kunden);
  MemoryDatabase personal = Contacts("Private");
  personal.flags = 1u << 9;  // not for the handheld
  host_.Open(personal);
  MemoryDatabase archive = Contacts("Archive");
  archive.flags = 1u << 21;  // listed, but does not synchronise
  host_.Open(archive);

  StartConversation();
  EXPECT_EQ(session_->exchangeFolder(), folder_.string());
  EXPECT_EQ(Reply(DdeCommand::WithString(DdeMessage::kWhichDatabase, "Contacts")), 0);
  EXPECT_EQ(Reply(DdeCommand::WithString(DdeMessage::kWhichDatabase, "Kunden M\xFCnchen")), 1);
  EXPECT_EQ(Reply(DdeCommand::WithString(DdeMessage::kWhichDatabase, "Archive")), 2);
  EXPECT_EQ(Reply(DdeCommand::WithString(DdeMessage::kWhichDatabase, "Private")), -1);
  EXPECT_EQ(Reply(DdeCommand::WithString(DdeMessage::kWhichDatabase, "contacts")), -1);
  EXPECT_EQ(Reply(DdeCommand::WithNumber(DdeMessage::kUnsupported, 3)), 1);

  // The contacts' copy, whole.
  ASSERT_EQ(Bare(DdeMessage::kExportNext), 0);
  const Copy contacts = ReadCopy();
  const sync::ExchangeHeader& header = contacts.layout.header;
  EXPECT_EQ(header.name, "Contacts");
  EXPECT_EQ(header.fieldCount, 4);
  EXPECT_EQ(header.recordCount, 6);
  EXPECT_EQ(header.fullRecordCount, 6);
  EXPECT_EQ(header.dateSeparator, '.');
  EXPECT_EQ(header.dateOrder, 2);
  EXPECT_TRUE(header.twoDigitDay);
  EXPECT_FALSE(header.twoDigitMonth);
  EXPECT_EQ(header.timeSeparator, ':');
  EXPECT_EQ(header.twentyFourSuffix, " Uhr");
  EXPECT_TRUE(header.leadingZero);
  ASSERT_EQ(contacts.layout.fields.size(), 4u);
  const auto& f = contacts.layout.fields;
  EXPECT_EQ(f[0].name, "Name");
  EXPECT_EQ(f[0].key, "K-NAME");
  EXPECT_EQ(f[0].optionWord1, sync::kOptionCapitalise);
  EXPECT_EQ(f[0].optionWord2, sync::kStyleDropDownCombo);
  EXPECT_EQ(f[0].valueListIndex, 0);
  EXPECT_EQ(f[1].key, "K-CITY");
  EXPECT_EQ(f[1].optionWord1, sync::kOptionEntryLocked);
  EXPECT_EQ(f[1].valueListIndex, 0) << "one list, stored once for both fields";
  EXPECT_EQ(f[2].key, "K-NOTE");
  EXPECT_EQ(f[2].optionWord2, sync::kStyleZoomBox);
  EXPECT_EQ(f[2].valueListIndex, -1);
  EXPECT_EQ(f[3].key, "K-BORN");
  EXPECT_EQ(f[3].type, TB_FIELD_DATE);
  EXPECT_EQ(f[3].optionWord2, 0) << "a chosen field without a setting gets zeros";
  EXPECT_EQ(contacts.layout.valueListCount, 1);
  EXPECT_EQ(contacts.lists, (std::vector<std::string>{"Berlin\nHamburg\nM\xFCnchen\n"}));
  ASSERT_EQ(contacts.records.size(), 6u);
  const sync::ExchangeRecord& anna = contacts.records[0];
  EXPECT_EQ(anna.header.changeCode, sync::kChangeNew);
  EXPECT_EQ(anna.header.identity[0], 2);
  EXPECT_EQ(anna.header.identity[1], 'R');
  EXPECT_EQ(anna.header.identity[2], '1');
  EXPECT_EQ(anna.header.identity[8], 4) << "the modification count travels in bytes 2 and 3";
  EXPECT_EQ(anna.values,
            (std::vector<std::string>{"Anna M\xFCller", "Berlin", "Ruft\nabends an", "3.4.1970"}));

  // The next database has no settings: no fields, every record.
  ASSERT_EQ(Bare(DdeMessage::kExportNext), 0);
  const Copy kundenCopy = ReadCopy();
  EXPECT_EQ(kundenCopy.layout.header.name, "Kunden M\xFCnchen");
  EXPECT_EQ(kundenCopy.layout.header.fieldCount, 0);
  EXPECT_EQ(kundenCopy.records.size(), 2u);

  // The archive does not synchronise: no copy, and the conversation goes on.
  EXPECT_EQ(Bare(DdeMessage::kExportNext), 1);
  EXPECT_FALSE(CopyWritten());
  EXPECT_EQ(Bare(DdeMessage::kExportNext), 4);

  ASSERT_EQ(MergeAndExport(0), 1) << "no TBSC.sdb: the merge cannot open it";
  EXPECT_EQ(Bare(DdeMessage::kEnd), 0);
  EXPECT_FALSE(CopyWritten());

  // A new conversation clears the marks.
  ASSERT_EQ(Reply(DdeCommand::WithStrings(DdeMessage::kStart, "", "")), 0);
  EXPECT_EQ(Bare(DdeMessage::kExportNext), 0);
  EXPECT_EQ(ReadCopy().layout.header.name, "Contacts");
}

TEST_F(BridgeSessionTest, RecordsOfALayoutThatNoLongerFitsAreSetAsideInTheFolder) {
  MemoryDatabase& db = host_.Open(Contacts());
  StartConversation();
  // Born is a number on the handheld now; a date field cannot take it. A
  // name meant to climb out of the exchange folder stays inside it.
  auto fields = HandheldFields();
  fields[3].type = 2;
  sync::ExchangeRecord withoutTexts = Change(2, "R2", 1, {});
  withoutTexts.header.noValues = true;
  WriteChanges("../../Kunden.alt", fields,
               {Change(1, "", 0, {"Zoe", "Bonn", "sagt \"hallo\"\nund\rtsch\xFC\xDF", "12"}),
                withoutTexts, Change(3, "R1", 4, {"Anna", "", "", ""})});
  const std::size_t before = db.records.size();

  EXPECT_EQ(MergeAndExport(0), 1 << 16 | 0);
  EXPECT_EQ(db.records.size(), before);
  const fs::path setAside = folder_ / ".._.._Kunden.csv";
  ASSERT_TRUE(fs::exists(setAside));
  const std::string lines =
      "\"Zoe\",\"Bonn\",\"sagt \"\"hallo\"\"\nund\x0Btsch\xFC\xDF\",\"12\"\r\n"
      "\"Anna\",\"\",\"\",\"\"\r\n";
  EXPECT_EQ(::tbm::testing::ReadWholeFile(setAside), lines);
  EXPECT_FALSE(fs::exists(scratch_.path().parent_path() / "Kunden.csv"));
  EXPECT_TRUE(CopyWritten()) << "the host database is still exported";

  // A second synchronisation appends.
  ASSERT_EQ(Reply(DdeCommand::WithStrings(DdeMessage::kStart, "", "")), 0);
  EXPECT_EQ(MergeAndExport(0), 1 << 16 | 0);
  EXPECT_EQ(::tbm::testing::ReadWholeFile(setAside), lines + lines);

  // A name that leaves nothing to name a file: nothing is set aside, the
  // caller hears of it, and no copy replaces the handheld's records.
  WriteChanges("...", fields, {Change(1, "", 0, {"Zoe", "", "", ""})});
  ASSERT_EQ(Reply(DdeCommand::WithStrings(DdeMessage::kStart, "", "")), 0);
  EXPECT_EQ(MergeAndExport(0), 1 << 16 | 5);
  EXPECT_FALSE(CopyWritten());
}

TEST_F(BridgeSessionTest, AMergeThatFailsPartWayIsNeverReportedAsDone) {
  MemoryDatabase& db = host_.Open(Contacts());
  StartConversation();
  // One record the host refuses; the others still go in, but no copy is
  // written that would replace the handheld's unmerged record.
  host_.refusedText = "<refused>";
  WriteChanges("Contacts", HandheldFields(),
               {Change(3, "R1", 4, {"Anna Schmidt", "Bonn", "", ""}),
                Change(3, "R2", 1, {"Ben", "<refused>", "", "1.2.1990"}),
                Change(1, "", 0, {"Zoe", "Kiel", "", ""})});
  EXPECT_EQ(MergeAndExport(0), 5);
  EXPECT_FALSE(CopyWritten());
  EXPECT_EQ(db.Find("R1")->texts[0], "Anna Schmidt");
  EXPECT_EQ(db.Find("R2")->texts[2], "Hamburg") << "a failed record is left as it was";
  EXPECT_EQ(db.Find("R2")->texts[1], "");
  EXPECT_EQ(db.records.back().texts[0], "Zoe");
  EXPECT_EQ(Bare(DdeMessage::kExportNext), 4) << "nor is it offered as a new database";

  // A file that breaks off: the records before the break are merged.
  host_.refusedText.clear();
  ASSERT_EQ(Reply(DdeCommand::WithStrings(DdeMessage::kStart, "", "")), 0);
  WriteChanges("Contacts", HandheldFields(),
               {Change(1, "", 0, {"Xaver", "", "", ""}), Change(1, "", 0, {"Yvonne", "", "", ""})},
               // The layout, the first record, and a part of the second.
               300 + 2 + 4 * 88 + (20 + 10 + 3 * 6) + 30);
  const std::size_t before = db.records.size();
  EXPECT_EQ(MergeAndExport(0), 5);
  EXPECT_EQ(db.records.size(), before + 1);
  EXPECT_FALSE(CopyWritten());

  // A stale copy from before is gone as soon as a merge starts.
  ASSERT_TRUE(::tbm::testing::WriteWholeFile(folder_ / "TBSS.sdb", "old copy"));
  fs::remove(folder_ / "TBSC.sdb");
  EXPECT_EQ(MergeAndExport(0), 1);
  EXPECT_FALSE(CopyWritten());

  // A database closed in the host since the conversation began, and an
  // index no database has.
  ASSERT_EQ(Reply(DdeCommand::WithStrings(DdeMessage::kStart, "", "")), 0);
  host_.Close("Contacts");
  EXPECT_EQ(MergeAndExport(0), 1);
  EXPECT_EQ(Bare(DdeMessage::kExportNext), 1);
  EXPECT_EQ(Bare(DdeMessage::kExportNext), 4);
  EXPECT_EQ(MergeAndExport(7), 1);
  EXPECT_EQ(MergeAndExport(-1), 1);
}

TEST_F(BridgeSessionTest, WhatCannotBeAnsweredGetsNoReplyOrAFailure) {
  MemoryDatabase& db = host_.Open(Contacts());
  StartConversation();
  const std::vector<std::vector<std::uint8_t>> notCommands = {
      {}, {3, 3, 5, 'a', 0}, {10, 4, 0}, {1, 2, 1, '0', 0}, {4, 2, 2, '1', 'x', 0}};
  for (const auto& block : notCommands) EXPECT_FALSE(session_->Execute(block));

  // An identity the handheld could not hand back: no copy rather than one
  // whose records come back as strangers.
  db.records[3].identity = {9, 'l', 'o', 'n', 'g', 'e', 'r', 'i'};
  EXPECT_EQ(Bare(DdeMessage::kExportNext), 1);
  EXPECT_FALSE(CopyWritten());

  // Damaged settings are not taken for "no fields".
  ASSERT_EQ(Reply(DdeCommand::WithStrings(DdeMessage::kStart, "", "")), 0);
  db.records[3].identity = MakeIdentity("R4");
  db.pluginData[sync::kSyncSettingsKey].resize(100);
  EXPECT_EQ(Bare(DdeMessage::kExportNext), 1);
  EXPECT_FALSE(CopyWritten());

  // Back to the temporary folder, which always exists.
  EXPECT_EQ(Reply(DdeCommand::WithString(DdeMessage::kExchangeFolder, "")), 0);
  EXPECT_EQ(session_->exchangeFolder(), (scratch_.path() / "Temp").string());
  EXPECT_TRUE(fs::is_directory(scratch_.path() / "Temp"));
}

}  // namespace
}  // namespace tbm::bridge
