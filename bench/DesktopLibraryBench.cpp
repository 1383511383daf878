// libTBMDBCE.so loading records into a handheld database over the paired
// loopback connection (a real "tbm-devicelink run" on fresh roots), beside
// the handheld's own engine doing the same load locally: 5000 records of 20
// text fields as synchronisation loads them (MDbDataTblAddRec under the
// creation-sequence cache, a flush per record). Reports the time ratio and
// the exchanges each record costs over the connection.
//
// Both engines export the same names, so the desktop library is loaded with
// dlopen (RTLD_LOCAL) and called through the same table of calls as the
// linked handheld engine. The handheld and its service: PairedHandheld.h.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchData.h"
#include "BenchMain.h"
#include "MDb.h"
#include "MDbBlocks.h"
#include "PairedHandheld.h"
#include "RunProgram.h"
#include "Utf16.h"

namespace {

using tbm::bench::FieldText;
using tbm::bench::kFields;
using tbm::bench::kRecords;

// The table layer's calls the load makes, from one engine or the other.
struct TableCalls {
  decltype(&MDbEnvInitialize) envInitialize;
  decltype(&MDbCreate) create;
  decltype(&MDbClose) close;
  decltype(&MDbSchemaTblCreateEx) schemaCreate;
  decltype(&MDbDataTblCreate) dataCreate;
  decltype(&MDbDataTblOpen) dataOpen;
  decltype(&MDbDataTblClose) dataClose;
  decltype(&MDbDataTblAddRec) addRec;
  decltype(&StartCreationSeqCache) startCache;
  decltype(&EndCreationSeqCache) endCache;
  decltype(&MDbShutdown) shutdown;
};

TableCalls LocalCalls() {
  return {&MDbEnvInitialize,      &MDbCreate,           &MDbClose,        &MDbSchemaTblCreateEx,
          &MDbDataTblCreate,      &MDbDataTblOpen,      &MDbDataTblClose, &MDbDataTblAddRec,
          &StartCreationSeqCache, &EndCreationSeqCache, &MDbShutdown};
}

template <typename T>
void Find(void* library, const char* name, T* call) {
  *call = reinterpret_cast<T>(::dlsym(library, name));
  if (*call == nullptr) {
    std::fprintf(stderr, "libTBMDBCE.so does not export %s\n", name);
    std::abort();
  }
}

// libTBMDBCE.so beside this program, its calls and its MDbInit.
struct DesktopLibrary {
  TableCalls calls{};
  std::int32_t (*init)(MDbEnv*) = nullptr;
  DesktopLibrary() {
    const std::string path = (tbm::testing::ProgramFolder() / "libTBMDBCE.so").string();
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), ::dlerror());
      std::abort();
    }
    Find(library, "MDbEnvInitialize", &calls.envInitialize);
    Find(library, "MDbCreate", &calls.create);
    Find(library, "MDbClose", &calls.close);
    Find(library, "MDbSchemaTblCreateEx", &calls.schemaCreate);
    Find(library, "MDbDataTblCreate", &calls.dataCreate);
    Find(library, "MDbDataTblOpen", &calls.dataOpen);
    Find(library, "MDbDataTblClose", &calls.dataClose);
    Find(library, "MDbDataTblAddRec", &calls.addRec);
    Find(library, "StartCreationSeqCache", &calls.startCache);
    Find(library, "EndCreationSeqCache", &calls.endCache);
    Find(library, "MDbShutdown", &calls.shutdown);
    Find(library, "MDbInit", &init);
  }
};

// Creates the database at path with kFields text fields and its data
// table open (not timed), then loads kRecords records (timed).
void Load(benchmark::State& state, const TableCalls& calls, MDbEnv* env,
          const std::u16string& path) {
  state.PauseTiming();
  if (calls.create(env, path.c_str(), &env->ref) != MDbErrNone) std::abort();
  std::vector<std::uint8_t> infos(kFields * MDbFieldInfoBytes, 0);
  std::vector<std::u16string> names;
  std::vector<const char16_t*> namePointers;
  for (int f = 0; f < kFields; ++f) {
    MDbFieldInfo info;
    info.type = MDbFieldText;
    MDbEncodeFieldInfo(info, &infos[static_cast<std::size_t>(f) * MDbFieldInfoBytes]);
    names.push_back(u"Field " + tbm::Utf8ToUtf16(std::to_string(f)));
  }
  for (const auto& name : names) namePointers.push_back(name.c_str());
  if (calls.schemaCreate(env, &env->ref, infos.data(), namePointers.data(), kFields) !=
          MDbErrNone ||
      calls.dataCreate(env, &env->ref, nullptr) != MDbErrNone ||
      calls.dataOpen(env, &env->ref, &env->data, nullptr) != MDbErrNone) {
    std::abort();
  }
  std::vector<std::u16string> values(kFields);
  std::vector<const char16_t*> pointers(kFields);
  const std::uint8_t identity[MDbIdentityBytes] = {};
  state.ResumeTiming();

  if (calls.startCache(env, &env->ref, &env->data) != MDbErrNone) std::abort();
  for (int r = 0; r < kRecords; ++r) {
    for (std::size_t f = 0; f < values.size(); ++f) {
      values[f] = FieldText(r, static_cast<int>(f));
      pointers[f] = values[f].c_str();
    }
    if (calls.addRec(env, &env->ref, &env->data, identity, pointers.data(), kFields, 1, nullptr,
                     nullptr) != MDbErrNone) {
      std::abort();
    }
  }
  if (calls.endCache(env, &env->ref, &env->data) != MDbErrNone) std::abort();

  state.PauseTiming();
  calls.dataClose(env, &env->ref, &env->data);
  calls.close(env, &env->ref);
  state.ResumeTiming();
}

void BM_DesktopLibraryBulkLoad(benchmark::State& state) {
  tbm::bench::PairedHandheld& handheld = tbm::bench::Handheld();
  static DesktopLibrary library;
  MDbEnv env;
  library.calls.envInitialize(&env);
  if (library.init(&env) != MDbErrNone) std::abort();
  int run = 0;
  std::uint64_t exchanges = 0;
  for (auto _ : state) {
    const std::string name = "Remote" + std::to_string(run++) + ".tbm";
    const std::uint64_t before = tbm::bench::ExchangesSoFar();
    Load(state, library.calls, &env, u"\\My Documents\\" + tbm::Utf8ToUtf16(name));
    exchanges += tbm::bench::ExchangesSoFar() - before;
    state.PauseTiming();
    std::filesystem::remove(handheld.DevicePath(name));
    state.ResumeTiming();
  }
  library.calls.shutdown(&env);
  state.counters["exchanges_per_record"] =
      static_cast<double>(exchanges) / (static_cast<double>(kRecords) * run);
}

void BM_LocalEngineBulkLoad(benchmark::State& state) {
  tbm::bench::PairedHandheld& handheld = tbm::bench::Handheld();
  const TableCalls calls = LocalCalls();
  MDbEnv env;
  calls.envInitialize(&env);
  MDbInit(&env, 0);
  int run = 0;
  for (auto _ : state) {
    const std::filesystem::path path =
        handheld.DevicePath("Local" + std::to_string(run++) + ".tbm");
    Load(state, calls, &env, tbm::Utf8ToUtf16(path.string()));
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
  calls.shutdown(&env);
}

}  // namespace

BENCHMARK(BM_DesktopLibraryBulkLoad)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_LocalEngineBulkLoad)->Unit(benchmark::kMillisecond)->Iterations(2);

static const bool registered = [] {
  tbm::bench::ComparePair("BM_DesktopLibraryBulkLoad", "BM_LocalEngineBulkLoad", 10.0);
  return true;
}();
