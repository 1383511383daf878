// Finding and sorting in a handheld database of 5000 records of 20 fields
// (a name, a number, a date and seventeen more texts) beside plain SQLite
// doing the nearest equivalent work on the same rows:
//  - a find by word prefix on the name, against a case-blind LIKE on the
//    start of the text or after a space;
//  - a find on the number field by value, against comparing an integer
//    column;
//  - sorting by the name, the number and the date, then walking the sorted
//    set, against ORDER BY on the column or on a precomputed integer;
//  - opening the database and showing all records (reported alone).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchData.h"
#include "BenchMain.h"
#include "MDb.h"
#include "SampleDatabase.h"
#include "Utf16.h"

namespace {

using tbm::bench::FieldText;
using tbm::bench::Folder;
using tbm::bench::kFields;
using tbm::bench::kRecords;
using tbm::bench::Remove;

using tbm::bench::DateDay;
using tbm::bench::DateMonth;
using tbm::bench::DateYear;
using tbm::bench::kDate;
using tbm::bench::kName;
using tbm::bench::kNumber;
using tbm::bench::SampleValue;

// The database file, built once.
const std::string& DatabasePath() {
  static const std::string* path = [] {
    auto* p = new std::string(Folder() + "/find.tbm");
    tbm::bench::BuildSampleDatabase(*p, kRecords);
    return p;
  }();
  return *path;
}

// The database opened as the handheld application opens it.
struct Opened {
  MDbEnv env{};
  MDbRecset rs{};
  Opened() {
    MDbEnvInitialize(&env);
    MDbInit(&env, 1);
    const auto wide = tbm::Utf8ToUtf16(DatabasePath());
    if (MDbAgentOpenDb(&env, wide.c_str()) != MDbErrNone) std::abort();
    MDbRecsetInitialize(&rs);
  }
  ~Opened() {
    MDbRecsetDestroy(&env, &rs);
    MDbAgentCloseDb(&env);
    MDbShutdown(&env);
  }
  // Reads the name of every record of the set; a checksum.
  std::size_t Walk() {
    std::uint32_t count = 0;
    MDbRecsetGetRecCount(&env, &rs, &count);
    std::size_t sum = count;
    for (std::uint32_t i = 0; i < count; ++i) {
      MDbRecsetSetInx(&env, &rs, static_cast<std::int16_t>(i));
      if (MDbRecsetOpenRec(&env, &rs) != MDbErrNone) std::abort();
      const char16_t* text = nullptr;
      MDbRecsetGetFieldPtr(&env, &rs, kName, &text);
      sum += text[0];
      MDbRecsetCloseRec(&env, &rs);
    }
    return sum;
  }
};

// The same rows in SQLite, with the number and the date's day also kept as
// integers.
struct Plain {
  sqlite3* db = nullptr;
  std::string path = Folder() + "/find.db";
  Plain() {
    Remove(path);
    sqlite3_open(path.c_str(), &db);
    std::string columns;
    for (int f = 0; f < kFields; ++f) columns += ", f" + std::to_string(f) + " TEXT";
    Exec("PRAGMA journal_mode=WAL");
    Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, num INTEGER, day INTEGER" + columns + ")");
    std::string sql = "INSERT INTO t VALUES(NULL, ?, ?";
    for (int f = 0; f < kFields; ++f) sql += ", ?";
    sql += ")";
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
    Exec("BEGIN");
    for (int r = 0; r < kRecords; ++r) {
      sqlite3_bind_int(s, 1, (r * 37) % 1000);
      sqlite3_bind_int(s, 2, DateYear(r) * 400 + DateMonth(r) * 32 + DateDay(r));
      for (int f = 0; f < kFields; ++f) {
        const std::u16string v = SampleValue(r, f);
        sqlite3_bind_text16(s, f + 3, v.data(), static_cast<int>(v.size() * 2), SQLITE_TRANSIENT);
      }
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    Exec("COMMIT");
    sqlite3_finalize(s);
  }
  ~Plain() {
    sqlite3_close(db);
    Remove(path);
  }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  // Runs a query and reads the first text column of each row.
  std::size_t Query(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
    std::size_t sum = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      sum += static_cast<const char16_t*>(sqlite3_column_text16(s, 0))[0];
    }
    sqlite3_finalize(s);
    return sum;
  }
};

void BM_FindTextByWordPrefix(benchmark::State& state) {
  Opened db;
  const MDbFindRequest request{kName, 0, u"ho"};
  for (auto _ : state) {
    MDbRecsetDestroy(&db.env, &db.rs);
    if (MDbAgentQuery(&db.env, &db.rs, &request) != MDbErrNone) std::abort();
    benchmark::DoNotOptimize(db.Walk());
  }
}

void BM_SqliteLikePrefix(benchmark::State& state) {
  Plain plain;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        plain.Query("SELECT f0 FROM t WHERE f0 LIKE 'ho%' OR f0 LIKE '% ho%' ORDER BY id"));
  }
}

void BM_FindNumberByValue(benchmark::State& state) {
  Opened db;
  const MDbFindRequest request{kNumber, 0, u"370"};
  for (auto _ : state) {
    MDbRecsetDestroy(&db.env, &db.rs);
    if (MDbAgentQuery(&db.env, &db.rs, &request) != MDbErrNone) std::abort();
    benchmark::DoNotOptimize(db.Walk());
  }
}

void BM_SqliteIntegerEquals(benchmark::State& state) {
  Plain plain;
  for (auto _ : state) {
    benchmark::DoNotOptimize(plain.Query("SELECT f0 FROM t WHERE num = 370 ORDER BY id"));
  }
}

void SortAndWalk(benchmark::State& state, std::int16_t field) {
  Opened db;
  MDbAgentQuery(&db.env, &db.rs, nullptr);
  for (auto _ : state) {
    if (MDbRecsetSort(&db.env, &db.rs, field, 0) != MDbErrNone) std::abort();
    benchmark::DoNotOptimize(db.Walk());
  }
}

void BM_SortByTextAndWalk(benchmark::State& state) { SortAndWalk(state, kName); }
void BM_SortByNumberAndWalk(benchmark::State& state) { SortAndWalk(state, kNumber); }
void BM_SortByDateAndWalk(benchmark::State& state) { SortAndWalk(state, kDate); }

void BM_SqliteOrderByText(benchmark::State& state) {
  Plain plain;
  for (auto _ : state) benchmark::DoNotOptimize(plain.Query("SELECT f0 FROM t ORDER BY f0"));
}
void BM_SqliteOrderByNumber(benchmark::State& state) {
  Plain plain;
  for (auto _ : state) benchmark::DoNotOptimize(plain.Query("SELECT f0 FROM t ORDER BY num"));
}
void BM_SqliteOrderByDay(benchmark::State& state) {
  Plain plain;
  for (auto _ : state) benchmark::DoNotOptimize(plain.Query("SELECT f0 FROM t ORDER BY day"));
}

void BM_OpenAndShowAll(benchmark::State& state) {
  DatabasePath();
  for (auto _ : state) {
    Opened db;
    if (MDbAgentQuery(&db.env, &db.rs, nullptr) != MDbErrNone) std::abort();
    benchmark::DoNotOptimize(db.Walk());
  }
}

BENCHMARK(BM_FindTextByWordPrefix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteLikePrefix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindNumberByValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteIntegerEquals)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByTextAndWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteOrderByText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByNumberAndWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteOrderByNumber)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByDateAndWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteOrderByDay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndShowAll)->Unit(benchmark::kMillisecond);

const bool registered = [] {
  tbm::bench::ComparePair("BM_FindTextByWordPrefix", "BM_SqliteLikePrefix", 2.0);
  tbm::bench::ComparePair("BM_FindNumberByValue", "BM_SqliteIntegerEquals", 3.0);
  tbm::bench::ComparePair("BM_SortByTextAndWalk", "BM_SqliteOrderByText", 3.0);
  tbm::bench::ComparePair("BM_SortByNumberAndWalk", "BM_SqliteOrderByNumber", 3.0);
  tbm::bench::ComparePair("BM_SortByDateAndWalk", "BM_SqliteOrderByDay", 3.0);
  return true;
}();

}  // namespace
