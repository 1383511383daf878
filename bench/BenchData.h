// What the benchmarks share: the sample records, a scratch folder, and the
// peer every store and engine benchmark is measured against, a plain SQLite
// table holding the same rows.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace tbm::bench {

constexpr int kRecords = 5000;
constexpr int kFields = 20;

// Field text of record r, field f: realistic lengths, no two rows alike.
std::u16string FieldText(int r, int f);

// The benchmarks' scratch folder, removed when the process ends.
const std::string& Folder();

// Removes a database file with its journal files.
void Remove(const std::string& path);

// A table of kRecords rows of a sequence number and kFields text columns,
// in WAL mode with synchronous=NORMAL (a committed row survives a killed
// process, as a flushed store write does), with an index on the sequence.
struct PlainTable {
  sqlite3* db = nullptr;
  std::string path;
  explicit PlainTable(const std::string& name) : path(Folder() + "/" + name) {
    Remove(path);
    sqlite3_open(path.c_str(), &db);
    std::string columns;
    for (int f = 0; f < kFields; ++f) columns += ", f" + std::to_string(f) + " TEXT";
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, seq INTEGER" + columns + ")");
    Exec("CREATE INDEX t_seq ON t(seq)");
  }
  ~PlainTable() {
    sqlite3_close(db);
    Remove(path);
  }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  void Load(bool commitEach) {
    std::string sql = "INSERT INTO t(seq";
    for (int f = 0; f < kFields; ++f) sql += ", f" + std::to_string(f);
    sql += ") VALUES(?";
    for (int f = 0; f < kFields; ++f) sql += ", ?";
    sql += ")";
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr);
    if (!commitEach) Exec("BEGIN");
    for (int r = 0; r < kRecords; ++r) {
      if (commitEach) Exec("BEGIN");
      sqlite3_bind_int(insert, 1, r);
      for (int f = 0; f < kFields; ++f) {
        const std::u16string text = FieldText(r, f);
        sqlite3_bind_text16(insert, f + 2, text.data(), static_cast<int>(text.size() * 2),
                            SQLITE_TRANSIENT);
      }
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
      if (commitEach) Exec("COMMIT");
    }
    if (!commitEach) Exec("COMMIT");
    sqlite3_finalize(insert);
  }
  std::size_t Walk(const std::string& orderColumn) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, ("SELECT * FROM t ORDER BY " + orderColumn).c_str(), -1, &s, nullptr);
    std::size_t sum = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      const int n = sqlite3_column_count(s);
      for (int c = 2; c < n; ++c) {
        const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(s, c));
        if (c == 2) sum += text[0];
      }
      sum += static_cast<std::size_t>(sqlite3_column_int(s, 1) + n);
    }
    sqlite3_finalize(s);
    return sum;
  }
};

// The peers' benchmark bodies: loading the table with a commit per row, and
// walking it in the order of a column reading every column.
void PeerInsertCommitEach(benchmark::State& state);
void PeerWalk(benchmark::State& state, const char* orderColumn);

}  // namespace tbm::bench
