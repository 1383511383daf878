// The desktop half of a synchronisation as it really runs: Tabulon Pro with
// its plug-in on a fresh desktop root, driven over DDE by tbpbridge and by
// the desktop's bridge client, with the handheld's changes in "TBSC.sdb"
// and the desktop's copy coming back in "TBSS.sdb".
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
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
    std::vector<std::string> lists;
    if (copy.layout.valueListCount > 0) EXPECT_TRUE(reader.ReadValueLists(&lists).ok());
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

  fs::path exchange_ = folder_.path() / "Exchange Folder";
  std::unique_ptr<sync::AnsiCodePage> codePage_;
};

constexpr std::int32_t kBothSides = 2 << 16;  // a record changed on both sides
constexpr std::int32_t kSetAside = 1 << 16;   // the handheld's records went to a .csv file

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

}  // namespace
}  // namespace tbm::tabulonpro
