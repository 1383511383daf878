// The volume store beside plain SQLite doing the same work:
//  - loading 5000 records of 20 text properties, flushing after each,
//    against inserting one row and committing per record (WAL, the same
//    synchronous setting, so the same durability: survives a killed process);
//  - walking all records by position in a sort order reading every
//    property, against stepping an index in order reading every column;
//  - changing the sort order to another property and walking it, against
//    creating an index on that column and stepping it.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchData.h"
#include "BenchMain.h"
#include "CeDb.h"
#include "Utf16.h"

namespace {

using tbm::bench::FieldText;
using tbm::bench::Folder;
using tbm::bench::kFields;
using tbm::bench::kRecords;
using tbm::bench::PlainTable;
using tbm::bench::Remove;
constexpr CEPROPID kSeq = PropId(4, CEVT_UI4);
CEPROPID Field(int i) { return PropId(static_cast<WORD>(5 + i), CEVT_LPWSTR); }

// ---- the store ----

struct StoreVolume {
  CEGUID vol{};
  CEOID db = 0;
  std::string path;
  explicit StoreVolume(const std::string& name) : path(Folder() + "/" + name) {
    Remove(path);
    const auto wide = tbm::Utf8ToUtf16(path);
    CeMountDBVol(&vol, wide.c_str(), CREATE_NEW);
    CEDBASEINFO info{};
    info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDSORTSPEC;
    tbm::CopyUtf16Cut(info.szDbaseName, sizeof info.szDbaseName, u"DATA_0");
    info.wNumSortOrder = 1;
    info.rgSortSpecs[0] = {kSeq, 0};
    db = CeCreateDatabaseEx(&vol, &info);
  }
  ~StoreVolume() {
    CeUnmountDBVol(&vol);
    Remove(path);
  }
  void Load(bool flushEach) {
    HANDLE h = CeOpenDatabaseEx(&vol, &db, nullptr, kSeq, 0, nullptr);
    std::vector<std::u16string> texts(kFields);
    CEPROPVAL props[kFields + 1]{};
    for (int r = 0; r < kRecords; ++r) {
      props[0].propid = kSeq;
      props[0].val.ulVal = static_cast<ULONG>(r);
      for (int f = 0; f < kFields; ++f) {
        texts[static_cast<std::size_t>(f)] = FieldText(r, f);
        props[f + 1].propid = Field(f);
        props[f + 1].val.lpwstr = texts[static_cast<std::size_t>(f)].data();
      }
      if (CeWriteRecordProps(h, 0, kFields + 1, props) == 0) std::abort();
      if (flushEach && !CeFlushDBVol(&vol)) std::abort();
    }
    CeFlushDBVol(&vol);
    CeCloseHandle(h);
  }
  // Walks every record by position in the order on sortProperty and reads
  // all its properties; returns a checksum so nothing is optimised away.
  std::size_t Walk(CEPROPID sortProperty) {
    HANDLE h = CeOpenDatabaseEx(&vol, &db, nullptr, sortProperty, 0, nullptr);
    BYTE* buffer = nullptr;
    DWORD size = 0;
    std::size_t sum = 0;
    for (DWORD i = 0; CeSeekDatabase(h, CEDB_SEEK_BEGINNING, i, nullptr) != 0; ++i) {
      WORD count = 0;
      if (CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buffer, &size, nullptr) ==
          0) {
        std::abort();
      }
      const auto* v = reinterpret_cast<const CEPROPVAL*>(buffer);
      sum += count + v[1].val.lpwstr[0];
    }
    std::free(buffer);
    CeCloseHandle(h);
    return sum;
  }
  void SetOrders(std::vector<SORTORDERSPEC> orders) {
    CEDBASEINFO info{};
    info.dwFlags = CEDB_VALIDSORTSPEC;
    info.wNumSortOrder = static_cast<WORD>(orders.size());
    for (std::size_t i = 0; i < orders.size(); ++i) info.rgSortSpecs[i] = orders[i];
    if (!CeSetDatabaseInfoEx(&vol, db, &info)) std::abort();
    CeFlushDBVol(&vol);
  }
};

void BM_StoreLoadFlushEach(benchmark::State& state) {
  for (auto _ : state) {
    StoreVolume volume("load.tbm");
    volume.Load(true);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_SqliteInsertCommitEach(benchmark::State& state) { tbm::bench::PeerInsertCommitEach(state); }

void BM_StoreWalkByPosition(benchmark::State& state) {
  StoreVolume volume("walk.tbm");
  volume.Load(false);
  for (auto _ : state) benchmark::DoNotOptimize(volume.Walk(kSeq));
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_SqliteStepIndex(benchmark::State& state) { tbm::bench::PeerWalk(state, "seq"); }

void BM_StoreResortAndWalk(benchmark::State& state) {
  StoreVolume volume("sort.tbm");
  volume.Load(false);
  for (auto _ : state) {
    volume.SetOrders({{kSeq, 0}, {Field(7), CEDB_SORT_CASEINSENSITIVE}});
    benchmark::DoNotOptimize(volume.Walk(Field(7)));
    state.PauseTiming();
    volume.SetOrders({{kSeq, 0}});
    state.ResumeTiming();
  }
}

void BM_SqliteIndexAndStep(benchmark::State& state) {
  PlainTable table("sort.db");
  table.Load(false);
  for (auto _ : state) {
    table.Exec("CREATE INDEX t_f7 ON t(f7)");
    benchmark::DoNotOptimize(table.Walk("f7"));
    state.PauseTiming();
    table.Exec("DROP INDEX t_f7");
    state.ResumeTiming();
  }
}

BENCHMARK(BM_StoreLoadFlushEach)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteInsertCommitEach)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StoreWalkByPosition)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteStepIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreResortAndWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteIndexAndStep)->Unit(benchmark::kMillisecond);

const bool registered = [] {
  tbm::bench::ComparePair("BM_StoreLoadFlushEach", "BM_SqliteInsertCommitEach", 1.5);
  tbm::bench::ComparePair("BM_StoreWalkByPosition", "BM_SqliteStepIndex", 2.0);
  tbm::bench::ComparePair("BM_StoreResortAndWalk", "BM_SqliteIndexAndStep", 3.0);
  return true;
}();

}  // namespace
