// The handheld program's list view beside a plain Qt table over SQLite, on
// the same 5000 records of 20 fields and the same 240 x 320 screen:
//  - opening the database and painting the first screen of the list,
//    against opening the SQLite file, querying the table into a model
//    fetched in batches (as Qt's own query model fetches) and painting the
//    first screen of a QTableView;
//  - scrolling the list by a page (reported with the rows painted, which
//    must be only the uncovered ones);
//  - sorting from the column header until the list is painted again
//    (reported beside ordering the table's query again and painting the
//    table; the engine sorts by collation, so no target is set).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QTableView>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchData.h"
#include "BenchMain.h"
#include "HandheldProgram.h"
#include "SampleDatabase.h"
#include "TBMApp.h"
#include "TBMDoc.h"
#include "TBMListView.h"
#include "TBMListViewHdr.h"
#include "Utf16.h"

namespace {

using tbm::bench::Folder;
using tbm::bench::kFields;
using tbm::bench::kRecords;
using tbm::bench::Paint;
using tbm::bench::Program;

constexpr int kWidth = 240;
constexpr int kHeight = 320;

// The same rows in a plain SQLite table.
const std::string& TablePath() {
  static const std::string* path = [] {
    auto* p = new std::string(Folder() + "/list.sqlite");
    tbm::bench::Remove(*p);
    sqlite3* db = nullptr;
    sqlite3_open(p->c_str(), &db);
    std::string columns;
    std::string marks;
    for (int f = 0; f < kFields; ++f) {
      columns += ", f" + std::to_string(f) + " TEXT";
      marks += ", ?";
    }
    sqlite3_exec(db, ("CREATE TABLE t(id INTEGER PRIMARY KEY" + columns + ")").c_str(), nullptr,
                 nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, ("INSERT INTO t VALUES(NULL" + marks + ")").c_str(), -1, &insert,
                       nullptr);
    for (int r = 0; r < kRecords; ++r) {
      for (int f = 0; f < kFields; ++f) {
        const std::u16string text = tbm::bench::SampleValue(r, f);
        sqlite3_bind_text16(insert, f + 1, text.data(), static_cast<int>(text.size() * 2),
                            SQLITE_TRANSIENT);
      }
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return p;
  }();
  return *path;
}

// A table model over a query, fetched 256 rows at a time as the view asks.
class QueryModel : public QAbstractTableModel {
 public:
  QueryModel(sqlite3* db, const char* sql) {
    sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
  }
  ~QueryModel() override { sqlite3_finalize(statement_); }
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : kFields;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole) return {};
    return rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    return QStringLiteral("Field %1").arg(section);
  }
  bool canFetchMore(const QModelIndex& parent) const override {
    return !parent.isValid() && !done_;
  }
  void fetchMore(const QModelIndex&) override {
    std::vector<std::vector<QString>> batch;
    while (batch.size() < 256) {
      if (sqlite3_step(statement_) != SQLITE_ROW) {
        done_ = true;
        break;
      }
      std::vector<QString> row(kFields);
      for (int f = 0; f < kFields; ++f) {
        const void* text = sqlite3_column_text16(statement_, f + 1);
        int bytes = sqlite3_column_bytes16(statement_, f + 1);
        row[static_cast<std::size_t>(f)] =
            QString::fromUtf16(static_cast<const char16_t*>(text), bytes / 2);
      }
      batch.push_back(std::move(row));
    }
    if (batch.empty()) return;
    beginInsertRows({}, static_cast<int>(rows_.size()),
                    static_cast<int>(rows_.size() + batch.size() - 1));
    for (auto& row : batch) rows_.push_back(std::move(row));
    endInsertRows();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  std::vector<std::vector<QString>> rows_;
  bool done_ = false;
};

using OpenList = tbm::bench::OpenView<tbm::app::CTBMListView>;

void BM_ListView_OpenAndPaint(benchmark::State& state) {
  tbm::bench::HandheldDatabasePath();
  for (auto _ : state) {
    OpenList list;
    QImage image = Paint(list.view.get());
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_ListView_OpenAndPaint)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_TableView_OpenAndPaint(benchmark::State& state) {
  Program();
  TablePath();
  for (auto _ : state) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(TablePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
      std::abort();
    {
      QueryModel model(db, "SELECT * FROM t ORDER BY id");
      QTableView table;
      table.resize(kWidth, kHeight);
      table.verticalHeader()->hide();
      table.setModel(&model);
      QImage image = Paint(&table);
      benchmark::DoNotOptimize(image.constBits());
    }
    sqlite3_close(db);
  }
}
BENCHMARK(BM_TableView_OpenAndPaint)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// A page down from the top, painted; the counter is the rows painted by
// each scroll (the uncovered ones only).
void BM_ListView_ScrollPage(benchmark::State& state) {
  OpenList list;
  list.view->show();
  QApplication::processEvents();
  int painted = 0;
  int scrolls = 0;
  for (auto _ : state) {
    if (list.view->topRow() + 2 * list.view->VisibleRows() >= kRecords)
      list.view->ScrollVertically(tbm::app::CTBMListView::Scroll::kThumb, 0);
    QApplication::processEvents();
    list.view->ResetPaintedRowCount();
    list.view->ScrollVertically(tbm::app::CTBMListView::Scroll::kPageForward);
    QApplication::processEvents();
    painted += list.view->paintedRowCount();
    ++scrolls;
  }
  state.counters["rows_painted"] = scrolls > 0 ? static_cast<double>(painted) / scrolls : 0;
  state.counters["rows_visible"] = list.view->VisibleRows();
}
BENCHMARK(BM_ListView_ScrollPage)->Unit(benchmark::kMicrosecond);

// A tap on the first column's header (sorting by it, each tap flipping
// the direction) until the list is painted again.
void BM_ListView_SortFromHeader(benchmark::State& state) {
  OpenList list;
  for (auto _ : state) {
    list.view->OnHeaderSortTap(tbm::bench::kName);
    QImage image = Paint(list.view.get());
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_ListView_SortFromHeader)->Unit(benchmark::kMillisecond);

void BM_TableView_SortByQuery(benchmark::State& state) {
  Program();
  sqlite3* db = nullptr;
  sqlite3_open_v2(TablePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  QTableView table;
  table.resize(kWidth, kHeight);
  bool descending = false;
  for (auto _ : state) {
    auto model = std::make_unique<QueryModel>(
        db, descending ? "SELECT * FROM t ORDER BY f0 COLLATE NOCASE DESC"
                       : "SELECT * FROM t ORDER BY f0 COLLATE NOCASE");
    table.setModel(model.get());
    QImage image = Paint(&table);
    benchmark::DoNotOptimize(image.constBits());
    table.setModel(nullptr);
    descending = !descending;
  }
  sqlite3_close(db);
}
BENCHMARK(BM_TableView_SortByQuery)->Unit(benchmark::kMillisecond);

const bool kPairs = [] {
  tbm::bench::ComparePair("BM_ListView_OpenAndPaint", "BM_TableView_OpenAndPaint", 1.5);
  return true;
}();

}  // namespace
