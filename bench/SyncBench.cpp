// The handheld half of a synchronisation on a 5000-record, 20-field
// database:
//  - importing the desktop's copy through SyncDatabase (creating the
//    database) over an in-process stream, against plain SQLite loading the
//    same rows with a commit per row;
//  - exporting 5000 changed records (reported alone): the agent writes
//    "TBSC.sdb" and the desktop keeps the handheld's data.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "AnsiText.h"
#include "BenchData.h"
#include "BenchMain.h"
#include "DatabaseBuilder.h"
#include "DevicePath.h"
#include "ExchangeFile.h"
#include "LocalStream.h"
#include "MDb.h"
#include "MDbBlocks.h"
#include "Utf16.h"

extern "C" HRESULT SyncDatabase(DWORD inputBytes, BYTE* input, DWORD* outputBytes, BYTE** output,
                                IRAPIStream* stream);

namespace {

using tbm::bench::FieldText;
using tbm::bench::kFields;
using tbm::bench::kRecords;
namespace sync = tbm::sync;

constexpr char16_t kPath[] = u"\\My Documents\\Tabulon\\Sample.tbm";

// The handheld's root, inside the benchmarks' scratch folder.
void UseBenchDevice() {
  static const bool done = [] {
    setenv("TBM_DEVICE_ROOT", (tbm::bench::Folder() + "/device").c_str(), 1);
    MDbCreateDirectory(u"\\My Documents");
    MDbCreateDirectory(u"\\My Documents\\Tabulon");
    return true;
  }();
  (void)done;
}

void RemoveSample() {
  const tbm::MappedPath host = tbm::HostPathFromDevicePath(kPath);
  tbm::bench::Remove(host.hostPath);
}

// The desktop's copy of the sample: every record new.
const std::vector<std::uint8_t>& DesktopCopy() {
  static const std::vector<std::uint8_t>* copy = [] {
    std::unique_ptr<sync::AnsiCodePage> page;
    if (!sync::AnsiCodePage::Open("1252", &page).ok()) std::abort();
    sync::ExchangeLayout layout;
    layout.header.name = "Sample";
    layout.header.fieldCount = kFields;
    layout.header.recordCount = kRecords;
    for (int f = 0; f < kFields; ++f) {
      layout.fields.push_back({1, "Field " + std::to_string(f), "F" + std::to_string(f), 0, 0, -1});
    }
    sync::MemoryByteSink sink;
    sync::ExchangeWriter writer(sink, *page);
    if (!writer.WriteLayout(layout).ok()) std::abort();
    std::vector<std::string> values(kFields);
    for (int r = 0; r < kRecords; ++r) {
      for (int f = 0; f < kFields; ++f) {
        page->ToExchangeText(FieldText(r, f), &values[static_cast<std::size_t>(f)]);
      }
      sync::RecordHeader header;
      header.changeCode = sync::kChangeNew;
      // A desktop identity of seven zero bytes, its modification count
      // taken from the record number.
      MDbIdentity identity;
      identity.desktopId[0] = 7;
      identity.modificationCount = static_cast<std::uint16_t>((r & 0xFF) << 8);
      MDbEncodeIdentity(identity, header.identity.data());
      if (!writer.WriteRecord(header, values).ok()) std::abort();
    }
    if (!writer.Finish().ok()) std::abort();
    return new std::vector<std::uint8_t>(sink.bytes());
  }();
  return *copy;
}

// Runs SyncDatabase on its own thread with the handheld end; the caller is
// the desktop.
template <typename Desktop>
void Converse(std::uint8_t mode, Desktop desktop) {
  LocalStreamPair pair = CreateLocalStreamPair();
  IRAPIStream* handheld = pair.handheld.release();
  std::thread agent([handheld, mode] {
    BYTE input[4] = {mode, 0, 0, 0};
    DWORD outputBytes = 0;
    BYTE* output = nullptr;
    SyncDatabase(4, input, &outputBytes, &output, handheld);
  });
  desktop(pair.desktop.get());
  agent.join();
}

std::int32_t ReadInt32(IRAPIStream* stream) {
  std::uint8_t b[4] = {};
  if (FAILED(ReadExactly(stream, b, 4))) std::abort();
  return static_cast<std::int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) |
                                   (static_cast<std::uint32_t>(b[3]) << 24));
}

void WriteInt32(IRAPIStream* stream, std::int32_t value) {
  const std::uint8_t b[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  stream->Write(b, 4, nullptr);
}

void BM_SyncImportCopy(benchmark::State& state) {
  UseBenchDevice();
  const std::vector<std::uint8_t>& copy = DesktopCopy();
  for (auto _ : state) {
    state.PauseTiming();
    RemoveSample();
    state.ResumeTiming();
    Converse(1, [&](IRAPIStream* desktop) {
      desktop->Write(copy.data(), static_cast<ULONG>(copy.size()), nullptr);
      std::vector<std::uint8_t> echo(static_cast<std::size_t>(ReadInt32(desktop)));
      ReadExactly(desktop, echo.data(), static_cast<ULONG>(echo.size()));
      if (ReadInt32(desktop) != 0) std::abort();  // skipped
      std::uint8_t failed[2] = {1, 1};
      ReadExactly(desktop, failed, 2);
      if (failed[0] != 0) std::abort();
    });
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_SqliteLoadCommitEach(benchmark::State& state) { tbm::bench::PeerInsertCommitEach(state); }

// A database whose 5000 records are all new on the handheld.
void BuildChangedSample() {
  RemoveSample();
  MDbEnv env;
  MDbEnvInitialize(&env);
  MDbInit(&env, 0);
  if (MDbCreate(&env, kPath, &env.ref) != MDbErrNone) std::abort();
  std::vector<sync::FieldSpec> fields(kFields);
  for (int f = 0; f < kFields; ++f) {
    fields[static_cast<std::size_t>(f)].name = u"Field " + tbm::Utf8ToUtf16(std::to_string(f));
    fields[static_cast<std::size_t>(f)].key = sync::FieldKey("F" + std::to_string(f));
  }
  if (sync::ReplaceSchema(&env, fields, false, nullptr) != MDbErrNone ||
      sync::ReplaceAttributes(&env, sync::NewAttributeBlock({}), u"Sample") != MDbErrNone ||
      MDbDataTblCreate(&env, &env.ref, nullptr) != MDbErrNone ||
      MDbDataTblOpen(&env, &env.ref, &env.data, nullptr) != MDbErrNone) {
    std::abort();
  }
  StartCreationSeqCache(&env, &env.ref, &env.data);
  std::vector<std::u16string> values(kFields);
  std::vector<const char16_t*> pointers(kFields);
  const std::uint8_t identity[MDbIdentityBytes] = {};
  for (int r = 0; r < kRecords; ++r) {
    for (std::size_t f = 0; f < values.size(); ++f) {
      values[f] = FieldText(r, static_cast<int>(f));
      pointers[f] = values[f].c_str();
    }
    // Not clean: state 5, added on the handheld since the last synchronisation.
    if (MDbDataTblAddRec(&env, &env.ref, &env.data, identity, pointers.data(), kFields, 0, nullptr,
                         nullptr) != MDbErrNone) {
      std::abort();
    }
  }
  EndCreationSeqCache(&env, &env.ref, &env.data);
  MDbDataTblClose(&env, &env.ref, &env.data);
  MDbWriteChecksome(&env, &env.ref, 1);
  MDbClose(&env, &env.ref);
  MDbShutdown(&env);
}

void BM_SyncExportChanges(benchmark::State& state) {
  UseBenchDevice();
  BuildChangedSample();
  for (auto _ : state) {
    Converse(0, [](IRAPIStream* desktop) {
      WriteInt32(desktop, 7);
      desktop->Write("Sample", 7, nullptr);
      if (ReadInt32(desktop) != 0) std::abort();  // the file is ready
      WriteInt32(desktop, 1);                     // keep the handheld's data
      ReadInt32(desktop);                         // skipped
    });
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK(BM_SyncImportCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteLoadCommitEach)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SyncExportChanges)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool registered = [] {
  tbm::bench::ComparePair("BM_SyncImportCopy", "BM_SqliteLoadCommitEach", 2.0);
  return true;
}();

}  // namespace
