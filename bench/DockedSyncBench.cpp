// A full docked synchronisation of a 5000-record, 20-field database, every
// record changed on the handheld, beside its natural peer in the same run:
//  - BM_DockedSync: every program running over loopback (tbm-devicelink,
//    Tabulon Pro with its plug-in, tbm-desktoplink with the desktop sync
//    provider), a synchronisation asked for with "tbm-desktoplink sync";
//    the time is the whole run as the provider logs it, from StartSync to
//    EndSync, and the phases are read from its log;
//  - BM_DockedSyncProgramOpen: the same with the handheld program running
//    and showing the database when the handheld is asked to synchronise:
//    the run includes the program letting it go;
//  - BM_LocalPhases: the same phases' work done in this process without
//    the network and DDE (LocalSyncPeer.h); the time is their sum.
// Both sides start from twins in step after a first synchronisation, and
// before each run every field of every handheld record is changed through
// the handheld's engine (not measured). After each run the handheld must
// hold the changes with every record clean again: rebuilt from the
// desktop's merged copy.
//
// The handheld's engine is linked into this process; the desktop provider
// and the desktop's engine library are never loaded here (they export the
// engine's names too).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchData.h"
#include "BenchMain.h"
#include "Database.h"
#include "DockedMachines.h"
#include "LocalSyncPeer.h"
#include "MDb.h"
#include "Utf16.h"

namespace {

namespace fs = std::filesystem;
using tbm::bench::BenchFailure;
using tbm::bench::DesktopDatabaseSource;
using tbm::bench::kFields;
using tbm::bench::kRecords;

constexpr char kDatabase[] = "Sample";
constexpr int kRuns = 8;

// The text of field f of record r after round changes (round 0: as made).
std::u16string RoundText(int r, int f, int round) {
  return tbm::bench::FieldText(r + 17 * round, f);
}

// The desktop database both sides start from: kRecords records of kFields
// text fields, all of them going to the handheld.
const DesktopDatabaseSource& Source() {
  static const DesktopDatabaseSource source = [] {
    DesktopDatabaseSource made;
    made.name = kDatabase;
    made.csv = fs::path(tbm::bench::Folder()) / "sample.csv";
    std::ofstream csv(made.csv, std::ios::binary);
    for (int f = 0; f < kFields; ++f) {
      const std::string name = "Field " + std::to_string(f + 1);
      csv << (f ? "," : "") << name << ":text";
      made.handheldFields += (f ? "," : "") + name;
    }
    csv << "\n";
    for (int r = 0; r < kRecords; ++r) {
      for (int f = 0; f < kFields; ++f) {
        csv << (f ? "," : "") << tbm::Utf16ToUtf8(RoundText(r, f, 0));
      }
      csv << "\n";
    }
    if (!csv.flush()) throw BenchFailure("cannot write " + made.csv.string());
    return made;
  }();
  return source;
}

void Check(const tbm::Status& status, const std::string& doing) {
  if (!status.ok()) throw BenchFailure(doing + ": " + status.message());
}

// Writes the round's text into every field of every record of the
// handheld database at path, as the handheld program changes records.
void ChangeEveryRecord(const fs::path& path, int round) {
  std::unique_ptr<tbm::engine::Database> db;
  Check(tbm::engine::OpenDatabase(path.string(), {}, tbm::engine::Access::kChange, &db),
        "opening the handheld's database");
  if (db->count() != kRecords) {
    throw BenchFailure("the handheld's database has " + std::to_string(db->count()) + " records");
  }
  MDbEnv* env = db->env();
  MDbRecset* records = db->records();
  for (int r = 0; r < kRecords; ++r) {
    std::int32_t rc = MDbRecsetSetInx(env, records, static_cast<std::int16_t>(r));
    if (rc == MDbErrNone) rc = MDbRecsetOpenRec(env, records);
    for (int f = 0; f < kFields && rc == MDbErrNone; ++f) {
      rc = MDbRecsetSetField(env, records, static_cast<std::uint16_t>(f),
                             RoundText(r, f, round).c_str());
    }
    MDbRecsetCloseRec(env, records);
    if (rc != MDbErrNone) Check(db->EngineFailed(rc), "changing record " + std::to_string(r));
  }
  Check(db->Commit(), "saving the handheld's changes");
}

// Checks that the handheld database at path holds the round's records, every
// one clean: the desktop merged the changes and the handheld was rebuilt
// from its copy.
void CheckSynchronised(const fs::path& path, int round) {
  std::unique_ptr<tbm::engine::Database> db;
  Check(tbm::engine::OpenDatabase(path.string(), {}, tbm::engine::Access::kRead, &db),
        "opening the handheld's database");
  std::vector<std::u16string> found;
  std::vector<std::u16string> values;
  for (std::uint32_t p = 0; p < db->count(); ++p) {
    std::uint8_t state = 0;
    Check(db->ReadRecord(p, &values, &state), "reading the handheld's database");
    if (state & MDbRecModified) throw BenchFailure("a handheld record is still changed");
    std::u16string record;
    for (const std::u16string& value : values) record += value + u'|';
    found.push_back(record);
  }
  std::vector<std::u16string> expected;
  for (int r = 0; r < kRecords; ++r) {
    std::u16string record;
    for (int f = 0; f < kFields; ++f) record += RoundText(r, f, round) + u'|';
    expected.push_back(record);
  }
  std::sort(found.begin(), found.end());
  std::sort(expected.begin(), expected.end());
  if (found != expected) {
    throw BenchFailure("after round " + std::to_string(round) +
                       " the handheld does not hold the records it changed");
  }
}

// The means of the docked runs, for the comparison the local runs print.
struct DockedMeans {
  bool measured = false;
  double handheldExport = 0, copy = 0, desktopMergeAndExport = 0, copyBackAndImport = 0;
  double wholeRun = 0, command = 0;
};
DockedMeans& Docked() {
  static DockedMeans means;
  return means;
}

void PrintLine(const char* what, double ms) { std::printf("  %-34s %8.0f ms\n", what, ms); }

// The machines both docked benchmarks use, made on first use; their
// scratch folder is removed at exit after the machines have stopped.
tbm::bench::DockedMachines& Machines() {
  static std::unique_ptr<tbm::bench::DockedMachines> machines;
  if (!machines) {
    machines = std::make_unique<tbm::bench::DockedMachines>(
        fs::path(tbm::bench::Folder()) / "docked", Source());
  }
  return *machines;
}

// Docked runs, each on changes of its own; with programOpen the handheld
// program has the database open when each run starts and lets it go for it.
DockedMeans DockedRuns(benchmark::State& state, bool programOpen) {
  tbm::bench::DockedMachines& machines = Machines();
  tbm::bench::ProviderTimes sum;
  double command = 0;
  int runs = 0;
  static int round = 0;  // every run's changes differ from the last run's
  for (auto _ : state) {
    ++runs;
    ++round;
    ChangeEveryRecord(machines.HandheldDatabase(), round);
    const std::size_t closedBefore = machines.ViewsClosedForSync();
    if (programOpen) machines.OpenInHandheldProgram();
    tbm::bench::ProviderTimes times;
    double commandMs = 0;
    machines.Synchronise(&times, &commandMs);
    state.SetIterationTime(static_cast<double>(times.wholeRun) / 1000.0);
    CheckSynchronised(machines.HandheldDatabase(), round);
    if (programOpen && machines.ViewsClosedForSync() != closedBefore + 1)
      throw BenchFailure("the handheld program did not let the database go for the run");
    sum.handheldExport += times.handheldExport;
    sum.copy += times.copy;
    sum.desktopMergeAndExport += times.desktopMergeAndExport;
    sum.copyBackAndImport += times.copyBackAndImport;
    sum.wholeRun += times.wholeRun;
    command += commandMs;
  }
  const double n = static_cast<double>(runs);
  return {true,
          static_cast<double>(sum.handheldExport) / n,
          static_cast<double>(sum.copy) / n,
          static_cast<double>(sum.desktopMergeAndExport) / n,
          static_cast<double>(sum.copyBackAndImport) / n,
          static_cast<double>(sum.wholeRun) / n,
          command / n};
}

void BM_DockedSync(benchmark::State& state) {
  try {
    DockedMeans& means = Docked();
    means = DockedRuns(state, false);
    std::printf("\nDocked over loopback, %d records of %d fields, mean of %d runs:\n", kRecords,
                kFields, static_cast<int>(state.iterations()));
    PrintLine("handheld export", means.handheldExport);
    PrintLine("copy", means.copy);
    PrintLine("desktop merge and export", means.desktopMergeAndExport);
    PrintLine("copy back and import", means.copyBackAndImport);
    PrintLine("whole run (provider's log)", means.wholeRun);
    PrintLine("'tbm-desktoplink sync' command", means.command);
  } catch (const BenchFailure& failure) {
    state.SkipWithError(failure.what());
  }
}

// The same runs with the handheld program showing the database when the
// handheld is asked to synchronise: the agent asks it to close its views
// first (part of the whole run).
void BM_DockedSyncProgramOpen(benchmark::State& state) {
  try {
    Machines().StartHandheldProgram();
    const DockedMeans open = DockedRuns(state, true);
    const DockedMeans& closed = Docked();
    std::printf("\nDocked with the handheld program showing the database, mean of %d runs:\n",
                static_cast<int>(state.iterations()));
    PrintLine("handheld export", open.handheldExport);
    PrintLine("whole run (provider's log)", open.wholeRun);
    if (closed.measured) {
      std::printf("  %-34s %8.0f ms %8.0f ms %7.2fx\n", "whole run, program open / not",
                  open.wholeRun, closed.wholeRun,
                  closed.wholeRun > 0 ? open.wholeRun / closed.wholeRun : 0.0);
    }
  } catch (const BenchFailure& failure) {
    state.SkipWithError(failure.what());
  }
}

void BM_LocalPhases(benchmark::State& state) {
  try {
    const fs::path root = fs::path(tbm::bench::Folder()) / "local";
    static std::unique_ptr<tbm::bench::LocalSyncPeer> peer;
    if (!peer) peer = std::make_unique<tbm::bench::LocalSyncPeer>(root, Source());
    tbm::bench::LocalPhases sum;
    int runs = 0;
    static int round = 0;
    for (auto _ : state) {
      ++runs;
      ++round;
      ChangeEveryRecord(peer->HandheldDatabase(), round);
      tbm::bench::LocalPhases phases;
      peer->Synchronise(&phases);
      state.SetIterationTime(phases.Sum() / 1000.0);
      CheckSynchronised(peer->HandheldDatabase(), round);
      sum.handheldExport += phases.handheldExport;
      sum.copy += phases.copy;
      sum.desktopMerge += phases.desktopMerge;
      sum.desktopExport += phases.desktopExport;
      sum.copyBack += phases.copyBack;
      sum.import += phases.import;
    }
    const double n = static_cast<double>(runs);
    std::printf("\nThe same work in one process, without the network and DDE, mean of %d runs:\n",
                runs);
    PrintLine("handheld export", sum.handheldExport / n);
    PrintLine("copy of TBSC.sdb", sum.copy / n);
    PrintLine("desktop merge", sum.desktopMerge / n);
    PrintLine("desktop export", sum.desktopExport / n);
    PrintLine("copy of TBSS.sdb", sum.copyBack / n);
    PrintLine("handheld import", sum.import / n);
    PrintLine("sum", sum.Sum() / n);
    const DockedMeans& docked = Docked();
    if (!docked.measured) return;
    const auto compare = [&](const char* what, double dockedMs, double localSum) {
      const double localMs = localSum / n;
      std::printf("  %-34s %8.0f ms %8.0f ms %7.2fx\n", what, dockedMs, localMs,
                  localMs > 0 ? dockedMs / localMs : 0.0);
    };
    std::printf("\nPhase by phase, docked beside local:\n");
    compare("handheld export", docked.handheldExport, sum.handheldExport);
    compare("copy", docked.copy, sum.copy);
    compare("desktop merge and export", docked.desktopMergeAndExport,
            sum.desktopMerge + sum.desktopExport);
    compare("copy back and import", docked.copyBackAndImport, sum.copyBack + sum.import);
    compare("whole run / sum of the phases", docked.wholeRun, sum.Sum());
  } catch (const BenchFailure& failure) {
    state.SkipWithError(failure.what());
  }
}

BENCHMARK(BM_DockedSync)->Iterations(kRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DockedSyncProgramOpen)
    ->Iterations(kRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocalPhases)->Iterations(kRuns)->UseManualTime()->Unit(benchmark::kMillisecond);

const bool registered = [] {
  tbm::bench::ComparePair("BM_DockedSync", "BM_LocalPhases", 3.0);
  tbm::bench::ComparePair("BM_DockedSyncProgramOpen", "BM_DockedSync", 1.2);
  return true;
}();

}  // namespace
