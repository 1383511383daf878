// The bridge plug-in's merge and export inside Tabulon Pro beside plain
// SQLite: 5000 records of 10 text fields, every one modified on the
// handheld, merged into the desktop database and the whole database written
// out again for the handheld, against updating the same rows of a plain
// SQLite table and reading them all back.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchData.h"
#include "BenchMain.h"
#include "BridgeSession.h"
#include "ByteStream.h"
#include "DdeCommandBlock.h"
#include "DesktopDatabase.h"
#include "ExchangeFile.h"
#include "HostSession.h"
#include "Machine.h"
#include "SyncSettings.h"

namespace {

namespace fs = std::filesystem;
using tbm::bench::Folder;

constexpr int kRecords = 5000;
constexpr int kFieldCount = 10;

std::string Value(int record, int field, int round) {
  return "Value " + std::to_string(record) + "." + std::to_string(field) + " round " +
         std::to_string(round);
}

void Check(const tbm::Status& status) {
  if (!status.ok()) {
    std::fprintf(stderr, "bridge bench: %s\n", status.message().c_str());
    std::abort();
  }
}

// Tabulon Pro's session with one database and the plug-in's command
// handling over its services, as in the running host.
struct Desktop {
  std::unique_ptr<tbm::tabulonpro::HostSession> host;
  std::unique_ptr<tbm::sync::AnsiCodePage> codePage;
  std::unique_ptr<tbm::bridge::BridgeSession> bridge;
  fs::path exchange = fs::path(Folder()) / "exchange";
  int round = 0;

  Desktop() {
    tbm::SelectMachine(tbm::Machine::Desktop);
    setenv("TBM_DESKTOP_ROOT", (Folder() + "/desktop").c_str(), 1);
    fs::create_directories(exchange);
    tbm::tabulonpro::NewDatabase content;
    for (int f = 0; f < kFieldCount; ++f) content.fields.push_back({"Field " + std::to_string(f)});
    for (int r = 0; r < kRecords; ++r) {
      std::vector<std::string> texts;
      for (int f = 0; f < kFieldCount; ++f) texts.push_back(Value(r, f, 0));
      content.records.push_back(std::move(texts));
    }
    const std::string path = Folder() + "/Bench.tbp";
    Check(tbm::tabulonpro::DesktopDatabase::Create(path, content));
    std::unique_ptr<tbm::tabulonpro::DesktopDatabase> db;
    Check(tbm::tabulonpro::DesktopDatabase::Open(path, &db));
    tbm::sync::SyncSettings settings;
    for (int f = 1; f <= kFieldCount; ++f) settings.fieldKeys.push_back("F" + std::to_string(f));
    std::vector<std::uint8_t> bytes;
    Check(tbm::sync::EncodeSyncSettings(settings, &bytes));
    Check(
        db->WritePluginData(tbm::sync::kSyncSettingsKey, std::string(bytes.begin(), bytes.end())));
    std::unique_ptr<tbm::tabulonpro::HostTextForm> form;
    Check(tbm::tabulonpro::HostTextForm::OpenSystem(&form));
    host = std::make_unique<tbm::tabulonpro::HostSession>(std::move(form));
    host->Add(std::move(db));
    Check(tbm::sync::AnsiCodePage::Open("windows-1252", &codePage));
    bridge = std::make_unique<tbm::bridge::BridgeSession>(*host->Services(), *codePage,
                                                          (fs::path(Folder()) / "temp").string());
    Send(tbm::sync::DdeCommand::WithString(tbm::sync::DdeMessage::kExchangeFolder,
                                           exchange.string()));
    Send(tbm::sync::DdeCommand::WithStrings(tbm::sync::DdeMessage::kStart, "Bench", "1"));
    if (Send(tbm::sync::DdeCommand::WithoutArgument(tbm::sync::DdeMessage::kExportNext)) != 0)
      std::abort();
  }

  std::int32_t Send(const tbm::sync::DdeCommand& command) {
    tbm::sync::DdeBlock block;
    Check(tbm::sync::BuildDdeBlock(command, &block));
    const auto reply = bridge->Execute(block.bytes());
    std::int32_t number = -1;
    if (reply) Check(tbm::sync::ReadDdeReply(reply->bytes(), &number));
    Check(host->EndPluginCalls());
    return number;
  }

  // The handheld's changes to the copy last written: every record modified.
  void WriteChanges() {
    ++round;
    tbm::sync::HostFileSource source((exchange / "TBSS.sdb").string());
    tbm::sync::ExchangeReader reader(source);
    tbm::sync::ExchangeLayout layout;
    Check(reader.ReadLayout(&layout));
    layout.header.fullRecordCount.reset();
    tbm::sync::HostFileSink sink((exchange / "TBSC.sdb").string());
    tbm::sync::ExchangeWriter writer(sink, *codePage);
    Check(writer.WriteLayout(layout));
    for (int r = 0; reader.recordsLeft() > 0; ++r) {
      tbm::sync::ExchangeRecord record;
      Check(reader.ReadRecord(&record));
      record.header.changeCode = tbm::sync::kChangeModified;
      for (int f = 0; f < kFieldCount; ++f)
        record.values[static_cast<std::size_t>(f)] = Value(r, f, round);
      Check(writer.WriteRecord(record.header, record.values));
    }
    Check(writer.Finish());
    if (!sink.Close()) std::abort();
  }
};

void BM_BridgeMergeAndExport(benchmark::State& state) {
  static Desktop desktop;
  for (auto _ : state) {
    state.PauseTiming();
    desktop.WriteChanges();
    state.ResumeTiming();
    if (desktop.Send(
            tbm::sync::DdeCommand::WithNumber(tbm::sync::DdeMessage::kMergeAndExport, 0)) != 0)
      std::abort();
  }
}
BENCHMARK(BM_BridgeMergeAndExport)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same rows in a plain SQLite table: update each by its id in one
// transaction, then read them all.
void BM_SqliteUpdateAndRead(benchmark::State& state) {
  const std::string path = Folder() + "/plain.sqlite";
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  std::string columns;
  std::string sets;
  for (int f = 0; f < kFieldCount; ++f) {
    columns += ", f" + std::to_string(f) + " TEXT";
    sets += std::string(f ? ", " : "") + "f" + std::to_string(f) + " = ?" + std::to_string(f + 1);
  }
  sqlite3_exec(db, ("CREATE TABLE t(id INTEGER PRIMARY KEY, count INTEGER" + columns + ")").c_str(),
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int r = 0; r < kRecords; ++r)
    sqlite3_exec(db, ("INSERT INTO t(id, count) VALUES(" + std::to_string(r + 1) + ", 0)").c_str(),
                 nullptr, nullptr, nullptr);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_stmt* update = nullptr;
  sqlite3_prepare_v2(db,
                     ("UPDATE t SET count = count + 1, " + sets + " WHERE id = ?" +
                      std::to_string(kFieldCount + 1))
                         .c_str(),
                     -1, &update, nullptr);
  sqlite3_stmt* read = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM t ORDER BY id", -1, &read, nullptr);
  int round = 0;
  for (auto _ : state) {
    ++round;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int r = 0; r < kRecords; ++r) {
      for (int f = 0; f < kFieldCount; ++f) {
        const std::string text = Value(r, f, round);
        sqlite3_bind_text(update, f + 1, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
      }
      sqlite3_bind_int(update, kFieldCount + 1, r + 1);
      if (sqlite3_step(update) != SQLITE_DONE) std::abort();
      sqlite3_reset(update);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    std::size_t bytes = 0;
    while (sqlite3_step(read) == SQLITE_ROW)
      for (int c = 0; c < kFieldCount + 2; ++c) bytes += sqlite3_column_bytes(read, c);
    sqlite3_reset(read);
    benchmark::DoNotOptimize(bytes);
  }
  sqlite3_finalize(update);
  sqlite3_finalize(read);
  sqlite3_close(db);
}
BENCHMARK(BM_SqliteUpdateAndRead)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool registered = [] {
  tbm::bench::ComparePair("BM_BridgeMergeAndExport", "BM_SqliteUpdateAndRead", 3.0);
  return true;
}();

}  // namespace
