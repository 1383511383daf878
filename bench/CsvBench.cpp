// Reading CSV files: the tools' reader, which feeds libcsv byte by byte to
// place every value at its line and column and converts each value to
// UTF-16, beside plain libcsv given the whole file at once and keeping the
// values as they are. The file is 5000 sample contacts (about 550 KB).
#include <benchmark/benchmark.h>
#include <csv.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchMain.h"
#include "CsvFile.h"
#include "SampleContacts.h"

namespace {

const std::string& Contacts() {
  static const std::string text =
      tbm::sample::SampleContactsCsv(tbm::sample::kDefaultSeed, tbm::sample::kMostRecords);
  return text;
}

void BM_CsvReaderContacts(benchmark::State& state) {
  const std::string& text = Contacts();
  for (auto _ : state) {
    std::FILE* file = ::fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    tbm::tools::CsvReader reader(file, text.size());
    std::vector<tbm::tools::CsvValue> row;
    std::size_t values = 0;
    while (reader.Next(&row)) values += row.size();
    if (reader.failed()) std::abort();
    std::fclose(file);
    benchmark::DoNotOptimize(values);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

struct PlainRows {
  std::vector<std::string> row;
  std::size_t values = 0;
};

void BM_LibcsvWholeFile(benchmark::State& state) {
  const std::string& text = Contacts();
  for (auto _ : state) {
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) std::abort();
    PlainRows rows;
    auto onValue = [](void* data, std::size_t length, void* self) {
      static_cast<PlainRows*>(self)->row.emplace_back(static_cast<const char*>(data), length);
    };
    auto onRow = [](int, void* self) {
      auto* rows = static_cast<PlainRows*>(self);
      rows->values += rows->row.size();
      rows->row.clear();
    };
    if (csv_parse(&parser, text.data(), text.size(), onValue, onRow, &rows) != text.size()) {
      std::abort();
    }
    csv_fini(&parser, onValue, onRow, &rows);
    csv_free(&parser);
    benchmark::DoNotOptimize(rows.values);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

BENCHMARK(BM_CsvReaderContacts)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibcsvWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool registered = [] {
  tbm::bench::ComparePair("BM_CsvReaderContacts", "BM_LibcsvWholeFile", 4.0);
  return true;
}();

}  // namespace
