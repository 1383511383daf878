// The engine's table layer beside plain SQLite doing the same work, on a
// database of 5000 records of 20 text fields:
//  - loading the records as synchronisation does (MDbDataTblAddRec under the
//    creation-sequence cache, a flush per record) against inserting the rows
//    with a commit per row;
//  - reading every field of every record through field pointers, as the
//    list view does, against stepping the table and reading its columns.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchData.h"
#include "BenchMain.h"
#include "MDb.h"
#include "MDbBlocks.h"
#include "SampleDatabase.h"
#include "Utf16.h"

namespace {

using tbm::bench::FieldText;
using tbm::bench::Folder;
using tbm::bench::kFields;
using tbm::bench::kRecords;
using tbm::bench::Remove;

// A handheld database with a schema of kFields text fields, open.
struct Database {
  MDbEnv env{};
  std::string path;
  explicit Database(const std::string& name) : path(Folder() + "/" + name) {
    Remove(path);
    MDbEnvInitialize(&env);
    MDbInit(&env, 0);
    const auto wide = tbm::Utf8ToUtf16(path);
    if (MDbCreate(&env, wide.c_str(), &env.ref) != MDbErrNone) std::abort();
    std::vector<std::uint8_t> infos(kFields * MDbFieldInfoBytes, 0);
    std::vector<std::u16string> names;
    std::vector<const char16_t*> ptrs;
    for (int f = 0; f < kFields; ++f) {
      MDbFieldInfo info;
      info.type = MDbFieldText;
      MDbEncodeFieldInfo(info, &infos[static_cast<std::size_t>(f) * MDbFieldInfoBytes]);
      names.push_back(u"Field " + tbm::Utf8ToUtf16(std::to_string(f)));
    }
    for (const auto& n : names) ptrs.push_back(n.c_str());
    if (MDbSchemaTblCreateEx(&env, &env.ref, infos.data(), ptrs.data(), kFields) != MDbErrNone ||
        MDbSchemaTblOpen(&env, &env.ref, &env.schema) != MDbErrNone ||
        MDbDataTblCreate(&env, &env.ref, nullptr) != MDbErrNone ||
        MDbDataTblOpen(&env, &env.ref, &env.data, nullptr) != MDbErrNone) {
      std::abort();
    }
  }
  ~Database() {
    MDbDataTblClose(&env, &env.ref, &env.data);
    MDbSchemaTblClose(&env, &env.ref, &env.schema);
    MDbClose(&env, &env.ref);
    MDbShutdown(&env);
    Remove(path);
  }
  void Load() { tbm::bench::AddRecords(&env, kRecords, FieldText); }
  std::size_t ReadAll() {
    std::size_t sum = 0;
    for (int r = 0; r < kRecords; ++r) {
      MDbDataTblCursSetInx(&env, &env.ref, &env.data, static_cast<std::int16_t>(r));
      MDbDataRec rec;
      MDbDataRecInitialize(&rec);
      if (MDbDataTblOpenRec(&env, &env.ref, &env.data, &rec, nullptr) != MDbErrNone) std::abort();
      for (std::int16_t f = 0; f < kFields; ++f) {
        const char16_t* text = nullptr;
        MDbDataRecGetFieldPtr(&env, &env.ref, &env.data, &env.schema, &rec, f, &text);
        sum += text[0];
      }
      MDbDataTblCloseRec(&env, &env.ref, &env.data, &rec);
    }
    return sum;
  }
};

void BM_EngineAddRecCached(benchmark::State& state) {
  for (auto _ : state) {
    Database db("load.tbm");
    db.Load();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_SqliteInsertCommitEachRow(benchmark::State& state) {
  tbm::bench::PeerInsertCommitEach(state);
}

void BM_EngineReadFieldPointers(benchmark::State& state) {
  Database db("read.tbm");
  db.Load();
  for (auto _ : state) benchmark::DoNotOptimize(db.ReadAll());
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_SqliteStepTableColumns(benchmark::State& state) { tbm::bench::PeerWalk(state, "id"); }

BENCHMARK(BM_EngineAddRecCached)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteInsertCommitEachRow)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EngineReadFieldPointers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteStepTableColumns)->Unit(benchmark::kMillisecond);

const bool registered = [] {
  tbm::bench::ComparePair("BM_EngineAddRecCached", "BM_SqliteInsertCommitEachRow", 2.0);
  tbm::bench::ComparePair("BM_EngineReadFieldPointers", "BM_SqliteStepTableColumns", 2.0);
  return true;
}();

}  // namespace
