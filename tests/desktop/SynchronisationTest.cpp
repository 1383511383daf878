// The desktop half of a synchronisation as it really runs: Tabulon Pro with
// its plug-in on a fresh desktop root, driven over DDE by tbpbridge and by
// the desktop's bridge client, with the handheld's changes in "TBSC.sdb"
// and the desktop's copy coming back in "TBSS.sdb".
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BridgeClient.h"
#include "ByteStream.h"
#include "Ddeml.h"
#include "ExchangeFile.h"
#include "Machine.h"
#include "TabulonProTestSupport.h"

namespace tbm::tabulonpro {
namespace {

namespace fs = std::filesystem;
using tbm::sync::ExchangeRecord;

// What a synchronisation program sees of a desktop database's copy.
struct Copy {
  sync::ExchangeLayout layout;
  std::vector<std::string> lists;
  std::vector<ExchangeRecord> records;
};

class SynchronisationTest : public DesktopFixture {
 protected:
  void SetUp() override {
    fs::create_directories(exchange_);
    ASSERT_TRUE(sync::AnsiCodePage::Open("windows-1252", &codePage_).ok());
  }

  // tbpbridge with these commands: its replies, one per command.
  std::vector<std::int32_t> Bridge(const std::vector<std::string>& commands) {
    const tbm::testing::ProgramResult r = tbm::testing::RunProgram(
        (tbm::testing::ProgramFolder() / "tbpbridge").string(), commands, {}, Env());
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::int32_t> replies;
    std::size_t at = 0;
    while (at < r.out.size()) {
      replies.push_back(std::stoi(r.out.substr(at)));
      at = r.out.find('\n', at);
      if (at == std::string::npos) break;
      ++at;
    }
    return replies;
  }

  Copy ReadCopy() {
    Copy copy;
    sync::HostFileSource source((exchange_ / "TBSS.sdb").string());
    EXPECT_TRUE(source.ok()) << source.FailureReason();
    sync::ExchangeReader reader(source);
    EXPECT_TRUE(reader.ReadLayout(&copy.layout).ok());
    if (copy.layout.valueListCount > 0) {
      EXPECT_TRUE(reader.ReadValueLists(&copy.lists).ok());
    }
    while (reader.recordsLeft() > 0) {
      ExchangeRecord record;
      const Status status = reader.ReadRecord(&record);
      EXPECT_TRUE(status.ok()) << status.message();
      if (!status.ok()) break;
      copy.records.push_back(record);
    }
    return copy;
  }

  void WriteChanges(const sync::ExchangeLayout& given, const std::vector<ExchangeRecord>& records) {
    sync::ExchangeLayout layout = given;
    layout.header.recordCount = static_cast<std::int32_t>(records.size());
    layout.header.fullRecordCount.reset();
    layout.valueListCount = 0;
    for (auto& field : layout.fields) field.valueListIndex = -1;
    sync::HostFileSink sink((exchange_ / "TBSC.sdb").string());
    sync::ExchangeWriter writer(sink, *codePage_);
    ASSERT_TRUE(writer.WriteLayout(layout).ok());
    for (const auto& record : records)
      ASSERT_TRUE(writer.WriteRecord(record.header, record.values).ok());
    ASSERT_TRUE(writer.Finish().ok());
    ASSERT_TRUE(sink.Close());
  }

  static ExchangeRecord Changed(const ExchangeRecord& from, std::int16_t code,
                                std::vector<std::string> values) {
    ExchangeRecord record = from;
    record.header.changeCode = code;
    record.header.noValues = false;
    record.values = std::move(values);
    return record;
  }

  // The values of field `field` in the copy's records whose field `by`
  // holds `key`, sorted.
  static std::vector<std::string> ValuesWhere(const Copy& copy, std::size_t by,
                                              const std::string& key, std::size_t field) {
    std::vector<std::string> values;
    for (const auto& record : copy.records) {
      if (record.values.at(by) == key) values.push_back(record.values.at(field));
    }
    std::sort(values.begin(), values.end());
    return values;
  }

  static const ExchangeRecord* FirstWhere(const Copy& copy, std::size_t by,
                                          const std::string& key) {
    for (const auto& record : copy.records) {
      if (record.values.at(by) == key) return &record;
    }
    return nullptr;
  }

  // The modification count a record travels with (identity bytes 8 and 9).
  static int CountOf(const ExchangeRecord& record) {
    return record.header.identity[8] | record.header.identity[9] << 8;
  }

  fs::path exchange_ = folder_.path() / "Exchange Folder";
  std::unique_ptr<sync::AnsiCodePage> codePage_;
};

constexpr std::int32_t kBothSides = 2 << 16;      // a record changed on both sides
constexpr std::int32_t kSetAside = 1 << 16;       // the handheld's records went to a .csv file
constexpr std::int32_t kChangedOrGone = 4 << 16;  // a handheld change met a changed or gone record

TEST_F(SynchronisationTest, TheHandheldsChangesAreMergedAndTheDesktopsCopyComesBack) {
  Ok({"create", "Contacts", "-"}, "Name:text,City:text\nAda,Paris\nBo,Berlin\nCy,Oslo\nDi,Rome\n");
  Ok({"handheld", "Contacts", "--fields", "Name,City", "--selection", "all", "--conflict",
      "keep-both"});
  // 6001 records, the first with a text too long for the handheld.
  std::string big = "Name:text,Notes:text\nLong," + std::string(2049, 'x') + "\n";
  for (int i = 0; i < 6000; ++i) big += "Row " + std::to_string(i) + ",n\n";
  Ok({"create", "Big", "-"}, big);
  Ok({"handheld", "Big", "--fields", "Name,Notes", "--selection", "all"});

  RunningHost host({"Contacts", "Big", "--headless"}, Env());
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;

  // The first synchronisation: each database's copy for the handheld.
  EXPECT_EQ(Bridge({"version", "folder", exchange_.string(), "start", "Pocket PC", "0815", "which",
                    "Contacts", "export-next"}),
            (std::vector<std::int32_t>{0x20000, 0, 0, 0, 0}));
  const Copy contacts = ReadCopy();
  ASSERT_EQ(contacts.records.size(), 4u);
  EXPECT_EQ(contacts.records[1].values, (std::vector<std::string>{"Bo", "Berlin"}));

  EXPECT_EQ(Bridge({"export-next"}), std::vector<std::int32_t>{0});
  const Copy copy = ReadCopy();
  EXPECT_EQ(copy.layout.header.recordCount, 5000);
  EXPECT_EQ(copy.layout.header.fullRecordCount, 6001);
  ASSERT_EQ(copy.records.size(), 5000u);
  EXPECT_EQ(copy.records[0].header.changeCode, sync::kChangeUnchanged);
  EXPECT_TRUE(copy.records[0].header.noValues);
  EXPECT_EQ(copy.records[1].header.changeCode, sync::kChangeNew);
  EXPECT_EQ(copy.records[1].values, (std::vector<std::string>{"Row 0", "n"}));
  EXPECT_EQ(Bridge({"export-next", "end"}), (std::vector<std::int32_t>{4, 0}));
  EXPECT_FALSE(fs::exists(exchange_ / "TBSS.sdb"));

  // Both sides change: the desktop edits Bo, the handheld edits Ada and Bo,
  // deletes Cy and adds Zoe.
  Ok({"set", "Contacts", "2", "City=Lyon"});
  const auto& r = contacts.records;
  WriteChanges(contacts.layout, {Changed(r[0], sync::kChangeModified, {"Ada", "Madrid"}),
                                 Changed(r[1], sync::kChangeModified, {"Bo", "Vienna"}),
                                 Changed(r[2], sync::kChangeDeleted, {"Cy", "Oslo"}),
                                 Changed(ExchangeRecord{}, sync::kChangeNew, {"Zoe", "Kyoto"})});
  EXPECT_EQ(Bridge({"folder", exchange_.string(), "start", "Pocket PC", "0815", "merge", "0"}),
            (std::vector<std::int32_t>{0, 0, kBothSides}));
  // The copy that comes back holds the merge: the conflict is kept twice.
  const Copy merged = ReadCopy();
  std::vector<std::string> cities;
  for (const auto& record : merged.records) cities.push_back(record.values.at(1));
  std::sort(cities.begin(), cities.end());
  EXPECT_EQ(cities, (std::vector<std::string>{"Kyoto", "Lyon", "Madrid", "Rome", "Vienna"}));

  // A handheld copy whose fields no longer match is set aside, and the
  // desktop's copy is still written.
  sync::ExchangeLayout changed = contacts.layout;
  changed.fields[1].key = "F99";
  WriteChanges(changed, {Changed(r[3], sync::kChangeModified, {"Di", "Quote \" here"})});
  EXPECT_EQ(Bridge({"merge", "0"}), std::vector<std::int32_t>{kSetAside});
  EXPECT_EQ(tbm::testing::ReadWholeFile(exchange_ / "Contacts.csv"),
            "\"Di\",\"Quote \"\" here\"\r\n");
  EXPECT_TRUE(fs::exists(exchange_ / "TBSS.sdb"));
  EXPECT_EQ(Bridge({"end"}), std::vector<std::int32_t>{0});

  EXPECT_EQ(host.Stop(), 0) << host.err;
  const std::string list = Ok({"list", "Contacts"});
  for (const char* city : {"Madrid", "Lyon", "Vienna", "Rome", "Kyoto"})
    EXPECT_NE(list.find(city), std::string::npos) << city << "\n" << list;
  EXPECT_EQ(list.find("Oslo"), std::string::npos) << list;
}

TEST_F(SynchronisationTest, ACommandTheHostNeverAnswersIsGivenUpAfterItsLimit) {
  Ok({"create", "Contacts", "-"}, "Name:text\nAda\n");
  RunningHost host({"--headless"}, Env());
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;

  tbm::testing::ScopedEnvironment root("TBM_DESKTOP_ROOT", desktop_.c_str());
  SelectMachine(Machine::Desktop);
  std::unique_ptr<sync::BridgeClient> client;
  ASSERT_TRUE(sync::BridgeClient::Connect(&client, 400).ok());
  const auto version = sync::DdeCommand::WithoutArgument(sync::DdeMessage::kProtocolVersion);
  EXPECT_EQ(client->Send(version), 0x20000);

  ASSERT_EQ(::kill(host.pid(), SIGSTOP), 0);
  Status failure;
  EXPECT_EQ(client->Send(version, &failure), 1);
  EXPECT_NE(failure.message().find("did not answer"), std::string::npos) << failure.message();
  ASSERT_EQ(::kill(host.pid(), SIGCONT), 0);
  // The late answer is dropped; the next command gets its own.
  EXPECT_EQ(client->Send(version), 0x20000);
  client.reset();
  EXPECT_EQ(host.Stop(), 0) << host.err;
}

// Where a desktop record stands when the handheld's change of it arrives.
enum class Desktop { kUnchanged, kEdited, kDeleted };

TEST_F(SynchronisationTest, EachHandheldChangeMeetsEachStateOfTheDesktopRecord) {
  struct Row {
    std::string name;
    Desktop desktop;
    std::int16_t change;
    std::string city;                // the handheld's text (ANSI, LF)
    std::vector<std::string> after;  // the desktop's cities under this name after the merge
    std::int32_t reply;
    std::string born = "1/2/1990";  // the handheld's text
  };
  const std::string zurich = "Z\xFCrich\nHB";
  const std::vector<Row> rows = {
      // A new record is made whatever identity it carries.
      {"New A", Desktop::kUnchanged, sync::kChangeNew, "Hand", {"Hand", "Start"}, 0},
      {"New B", Desktop::kEdited, sync::kChangeNew, "Hand", {"Desk", "Hand"}, 0},
      {"New C", Desktop::kDeleted, sync::kChangeNew, "Hand", {"Hand"}, 0},
      {"Del A", Desktop::kUnchanged, sync::kChangeDeleted, "Start", {}, 0},
      {"Del B", Desktop::kEdited, sync::kChangeDeleted, "Start", {"Desk"}, kChangedOrGone},
      {"Del C", Desktop::kDeleted, sync::kChangeDeleted, "Start", {}, 0},
      {"Mod A", Desktop::kUnchanged, sync::kChangeModified, zurich, {zurich}, 0, ""},
      {"Mod B", Desktop::kEdited, sync::kChangeModified, "Hand", {"Desk", "Hand"}, kBothSides},
      {"Mod C", Desktop::kEdited, sync::kChangeModified, "Desk", {"Desk"}, 0},  // the same edit
      {"Mod D", Desktop::kDeleted, sync::kChangeModified, "Hand", {"Hand"}, kChangedOrGone},
      {"Same A", Desktop::kUnchanged, sync::kChangeUnchanged, "Hand", {"Start"}, 0},
      {"Same B", Desktop::kEdited, sync::kChangeUnchanged, "Hand", {"Desk"}, 0},
      {"Same C", Desktop::kDeleted, sync::kChangeUnchanged, "Hand", {}, 0},
  };
  std::string csv = "Name:text,City:text,Born:date,Notes:text\n";
  for (const Row& row : rows) csv += row.name + ",Start,1/2/1990,keep\n";
  Ok({"create", "Orders", "-"}, csv);
  // The handheld's fields in an order of their own; Notes stays on the desktop.
  Ok({"handheld", "Orders", "--fields", "City,Name,Born"});
  RunningHost host({"--headless"}, Env());
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;

  ASSERT_EQ(Bridge({"folder", exchange_.string(), "start", "Pocket PC", "0815", "export-next"}),
            (std::vector<std::int32_t>{0, 0, 0}));
  Copy synced = ReadCopy();
  ASSERT_EQ(synced.records.size(), rows.size());
  synced.layout.fields[0].name = "Town";  // fields are matched by key, not by name

  // The desktop's side: edits first, then deletions from the last, so that
  // each position still names its row.
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].desktop == Desktop::kEdited)
      Ok({"set", "Orders", std::to_string(i + 1), "City=Desk"});
  }
  for (std::size_t i = rows.size(); i-- > 0;) {
    if (rows[i].desktop == Desktop::kDeleted) Ok({"delete", "Orders", std::to_string(i + 1)});
  }
  // Each change merged on its own, so that each reply is its own.
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    WriteChanges(synced.layout,
                 {Changed(synced.records[i], row.change, {row.city, row.name, row.born})});
    EXPECT_EQ(Bridge({"merge", "0"}), std::vector<std::int32_t>{row.reply}) << row.name;
  }

  const Copy merged = ReadCopy();
  for (const Row& row : rows) EXPECT_EQ(ValuesWhere(merged, 1, row.name, 0), row.after) << row.name;
  std::vector<std::string> identities;
  for (const auto& record : merged.records) {
    EXPECT_EQ(record.header.identity[0], 7) << record.values[1];
    identities.emplace_back(record.header.identity.begin(), record.header.identity.begin() + 8);
  }
  std::sort(identities.begin(), identities.end());
  EXPECT_EQ(std::adjacent_find(identities.begin(), identities.end()), identities.end())
      << "a duplicate or a new record has an identity of its own";
  const ExchangeRecord* modA = FirstWhere(merged, 1, "Mod A");
  const ExchangeRecord* modC = FirstWhere(merged, 1, "Mod C");
  ASSERT_TRUE(modA != nullptr && modC != nullptr);
  EXPECT_EQ(modA->values[2], "") << "the handheld's empty date went in";
  EXPECT_EQ(CountOf(*modA), 1) << "written once";
  EXPECT_EQ(CountOf(*modC), 1) << "the same edit on both sides: only the desktop's";
  EXPECT_EQ(Bridge({"export-next", "end"}), (std::vector<std::int32_t>{4, 0}))
      << "a merged database is not written again";

  // The host keeps Unicode, and the fields the handheld lacks: every record
  // the desktop had, or duplicated, still holds its notes.
  EXPECT_NE(Ok({"list", "Orders"}).find("Z\xC3\xBCrich"), std::string::npos);
  EXPECT_EQ(Ok({"select", "Orders", "--find", "Notes", "keep"}), "9 records selected in Orders.\n");
  EXPECT_EQ(host.Stop(), 0) << host.err;
}

TEST_F(SynchronisationTest, TheConflictRuleChosenOnTheDesktopDecidesAndTheSameEditIsNoConflict) {
  struct Rule {
    std::string database;
    std::string rule;
    std::vector<std::string> adaAfter;  // Ada's cities on the desktop after the merge
  };
  const std::vector<Rule> rules = {{"Both", "keep-both", {"Lisbon", "Porto"}},
                                   {"Handheld", "handheld-wins", {"Porto"}},
                                   {"Desktop", "desktop-wins", {"Lisbon"}}};
  for (const Rule& r : rules) {
    Ok({"create", r.database, "-"}, "Name:text,City:text\nAda,Paris\nBo,Berlin\n");
    Ok({"handheld", r.database, "--fields", "Name,City", "--conflict", r.rule});
  }
  RunningHost host({"--headless"}, Env());
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;
  ASSERT_EQ(Bridge({"folder", exchange_.string(), "start", "Pocket PC", "0815"}),
            (std::vector<std::int32_t>{0, 0}));
  std::map<std::string, Copy> synced;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    ASSERT_EQ(Bridge({"export-next"}), std::vector<std::int32_t>{0});
    Copy copy = ReadCopy();
    synced[copy.layout.header.name] = std::move(copy);
  }

  for (const Rule& r : rules) {
    // Both sides change Ada, each its own way, and Bo, the same way.
    Ok({"set", r.database, "1", "City=Lisbon"});
    Ok({"set", r.database, "2", "City=Bremen"});
    const auto& records = synced.at(r.database).records;
    WriteChanges(synced.at(r.database).layout,
                 {Changed(records.at(0), sync::kChangeModified, {"Ada", "Porto"}),
                  Changed(records.at(1), sync::kChangeModified, {"Bo", "Bremen"})});
    const std::vector<std::int32_t> index = Bridge({"which", r.database});
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(Bridge({"merge", std::to_string(index[0])}), std::vector<std::int32_t>{kBothSides})
        << r.rule;
    const Copy merged = ReadCopy();
    EXPECT_EQ(ValuesWhere(merged, 0, "Ada", 1), r.adaAfter) << r.rule;
    EXPECT_EQ(ValuesWhere(merged, 0, "Bo", 1), std::vector<std::string>{"Bremen"}) << r.rule;
    const ExchangeRecord* bo = FirstWhere(merged, 0, "Bo");
    ASSERT_NE(bo, nullptr);
    EXPECT_EQ(CountOf(*bo), 1) << r.rule << ": Bo is not written again";
  }
  EXPECT_EQ(Bridge({"end"}), std::vector<std::int32_t>{0});
  EXPECT_EQ(host.Stop(), 0) << host.err;
}

// Items of a value list whose text (each item with its line end) takes
// exactly `bytes` bytes.
std::vector<std::string> ListItems(const std::string& prefix, std::size_t bytes) {
  std::vector<std::string> items;
  std::size_t used = 0;
  while (bytes - used > 40) {
    items.push_back(prefix + " " + std::to_string(items.size() + 1));
    used += items.back().size() + 1;
  }
  items.push_back(std::string(bytes - used - 1, 'z'));
  return items;
}

TEST_F(SynchronisationTest, TheCopyKeepsToItsLimitsOnValueListsTextsAndTheSelection) {
  const std::string longest(2048, 'y');  // the most a text may hold with 6 fields
  Ok({"create", "Stock", "-"},
     "Item:text,Colour:text,Size:text,Shape:text,Finish:text,Notes:text\n"
     "Bolt,red,M8,hex,zinc,\nNut,blue,M6,square,brass," +
         longest + "\nWasher,red,M8,round,zinc,flat\n");
  // Each list's text counts with its terminator: 10,240 + 10,240 fit in
  // 30,720 bytes, 10,241 more would not, and no list after that goes.
  for (const auto& [list, bytes] : std::vector<std::pair<std::string, std::size_t>>{
           {"Col", 10239}, {"Siz", 10239}, {"Shp", 10240}, {"Fin", 50}}) {
    std::vector<std::string> args = {"values", "Stock", list};
    for (std::string& item : ListItems(list, bytes)) args.push_back(std::move(item));
    Ok(args);
  }
  Ok({"handheld",    "Stock",      "--fields", "Item,Colour,Size,Shape,Finish,Notes",
      "--selection", "current",    "--style",  "Colour=list",
      "--list",      "Colour=Col", "--style",  "Size=combo",
      "--list",      "Size=Siz",   "--style",  "Shape=list",
      "--list",      "Shape=Shp",  "--style",  "Finish=checkbox",
      "--list",      "Finish=Fin"});
  Ok({"select", "Stock", "--none"});
  RunningHost host({"--headless"}, Env());
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;

  // Nothing selected: every record goes.
  ASSERT_EQ(Bridge({"folder", exchange_.string(), "start", "Pocket PC", "0815", "export-next"}),
            (std::vector<std::int32_t>{0, 0, 0}));
  Copy copy = ReadCopy();
  ASSERT_EQ(copy.lists.size(), 4u);
  EXPECT_EQ(copy.lists[0].size(), 10239u);
  EXPECT_EQ(copy.lists[0].substr(0, 12), "Col 1\nCol 2\n");
  EXPECT_EQ(copy.lists[1].size(), 10239u);
  EXPECT_EQ(copy.lists[2].size(), 0u) << "past 30,720 bytes a list travels empty";
  EXPECT_EQ(copy.lists[3].size(), 0u) << "and so does every later one";
  ASSERT_EQ(copy.layout.fields.size(), 6u);
  EXPECT_EQ(copy.layout.fields[4].valueListIndex, 3);
  ASSERT_EQ(copy.records.size(), 3u);
  EXPECT_EQ(copy.records[1].header.changeCode, sync::kChangeNew);
  EXPECT_EQ(copy.records[1].values.at(5), longest);

  // With records selected, those, in the order they were selected.
  Ok({"select", "Stock", "--positions", "3,1"});
  ASSERT_EQ(Bridge({"start", "Pocket PC", "0815", "export-next"}),
            (std::vector<std::int32_t>{0, 0}));
  copy = ReadCopy();
  ASSERT_EQ(copy.records.size(), 2u);
  EXPECT_EQ(copy.records[0].values[0], "Washer");
  EXPECT_EQ(copy.records[1].values[0], "Bolt");
  EXPECT_EQ(Bridge({"end"}), std::vector<std::int32_t>{0});
  EXPECT_EQ(host.Stop(), 0) << host.err;
}

}  // namespace
}  // namespace tbm::tabulonpro
