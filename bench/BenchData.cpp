#include "BenchData.h"

#include <unistd.h>

#include <filesystem>

#include "Utf16.h"

namespace tbm::bench {
namespace {

const std::vector<std::u16string> kWords = {
    u"Anderson", u"Baptiste", u"Chen",   u"Dubois",   u"Eriksen", u"Fischer",     u"Garc\u00EDa",
    u"Hoffmann", u"Ivanova",  u"Jensen", u"Kowalski", u"Larsen",  u"M\u00FCller", u"Nakamura",
    u"Olsen",    u"Petrov",   u"Quinn",  u"Rossi",    u"Schmidt", u"Tanaka"};

}  // namespace

std::u16string FieldText(int r, int f) {
  return kWords[static_cast<std::size_t>((r * 7 + f * 3) % 20)] + u" " +
         tbm::Utf8ToUtf16(std::to_string((r * 7919 + f * 104729) % 100000));
}

const std::string& Folder() {
  // The string is never destroyed, so the exit handler can still use it.
  static const std::string* folder = [] {
    const auto p =
        std::filesystem::temp_directory_path() / ("tbm-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    std::atexit([] { std::filesystem::remove_all(Folder()); });
    return new std::string(p.string());
  }();
  return *folder;
}

void Remove(const std::string& path) {
  for (const char* s : {"", "-wal", "-shm"}) std::filesystem::remove(path + s);
}

void PeerInsertCommitEach(benchmark::State& state) {
  for (auto _ : state) {
    PlainTable table("load.db");
    table.Load(true);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void PeerWalk(benchmark::State& state, const char* orderColumn) {
  PlainTable table("walk.db");
  table.Load(false);
  for (auto _ : state) benchmark::DoNotOptimize(table.Walk(orderColumn));
  state.SetItemsProcessed(state.iterations() * kRecords);
}

}  // namespace tbm::bench
