// Desktop copies as a damaged desktop or a broken stream could deliver
// them, taken all the way into a handheld database: the import must end
// cleanly whatever the bytes, and a database it reports as built must open
// in the handheld program holding exactly the records it was given, in
// order, each with its identity and texts. Each input creates
// its database afresh in a scratch handheld.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "CopyImport.h"
#include "DatabaseBuilder.h"
#include "DatabaseNames.h"
#include "DatabaseStore.h"
#include "ExchangeFile.h"
#include "MDb.h"

namespace {

using namespace tbm::sync;

// The scratch handheld, made once per process and removed at its end.
const std::filesystem::path& Handheld() {
  static const std::filesystem::path* root = [] {
    auto* path = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                           ("tbm-import-fuzz-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*path);
    ::setenv("TBM_DEVICE_ROOT", path->c_str(), 1);
    std::atexit([] { std::filesystem::remove_all(Handheld()); });
    return path;
  }();
  return *root;
}

// The reader's limits the import uses: a text up to 2048 characters of a
// double-byte code page.
constexpr ExchangeReadLimits kCopyLimits{4096, 32767};

struct GivenRecord {
  std::array<std::uint8_t, MDbIdentityBytes> identity;
  std::vector<std::u16string> values;
};

// The records a copy gives, read from its bytes apart from the import:
// each new record's identity and texts as the engine keeps them (a text
// ends at its first NUL). Nothing when the copy cannot be read whole.
std::optional<std::vector<GivenRecord>> GivenRecords(const std::uint8_t* data, std::size_t size,
                                                     AnsiCodePage& page) {
  MemoryByteSource source(data, size);
  ExchangeReader reader(source, kCopyLimits);
  ExchangeLayout layout;
  if (!reader.ReadLayout(&layout).ok()) return std::nullopt;
  std::vector<std::string> lists;
  if (layout.valueListCount > 0 && !reader.ReadValueLists(&lists).ok()) return std::nullopt;
  std::vector<GivenRecord> records;
  ExchangeRecord record;
  while (reader.recordsLeft() > 0) {
    if (!reader.ReadRecord(&record).ok()) return std::nullopt;
    if (record.header.changeCode != kChangeNew) continue;
    GivenRecord given{record.header.identity, {}};
    for (std::size_t f = 0; f < layout.fields.size(); ++f) {
      std::u16string text;
      if (!record.header.noValues && !page.FromExchangeText(record.values[f], &text).ok()) {
        return std::nullopt;
      }
      given.values.emplace_back(text.c_str());
    }
    records.push_back(std::move(given));
  }
  return records;
}

// The data table holds exactly records, in order, each clean.
bool HoldsExactly(MDbEnv* env, const std::vector<GivenRecord>& records) {
  std::uint32_t count = 0;
  if (MDbDataTblGetRecCount(env, &env->ref, &env->data, &count) != MDbErrNone ||
      count != records.size()) {
    return false;
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    MDbDataRec rec;
    MDbDataRecInitialize(&rec);
    MDbDataTblCursSetInx(env, &env->ref, &env->data, static_cast<std::int16_t>(i));
    if (MDbDataTblOpenRec(env, &env->ref, &env->data, &rec, nullptr) != MDbErrNone) return false;
    bool same = true;
    std::uint8_t state = 0xFF;
    std::array<std::uint8_t, MDbIdentityBytes> identity{};
    same = MDbDataRecGetState(env, &env->ref, &env->data, &rec, &state) == MDbErrNone &&
           state == 0 &&
           MDbDataRecGetRecInfo(env, &env->ref, &env->data, &rec, identity.data()) == MDbErrNone &&
           identity == records[i].identity;
    for (std::size_t f = 0; same && f < records[i].values.size(); ++f) {
      const char16_t* text = nullptr;
      same = MDbDataRecGetFieldPtr(env, &env->ref, &env->data, &env->schema, &rec,
                                   static_cast<std::int16_t>(f), &text) == MDbErrNone &&
             text != nullptr && records[i].values[f] == text;
    }
    MDbDataTblCloseRec(env, &env->ref, &env->data, &rec);
    if (!same) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::error_code ignored;
  std::filesystem::remove_all(Handheld() / "My Documents", ignored);
  static std::unique_ptr<AnsiCodePage> page = [] {
    std::unique_ptr<AnsiCodePage> opened;
    if (!AnsiCodePage::Open("1252", &opened).ok()) std::abort();
    return opened;
  }();

  ImportResult result;
  std::u16string path;
  {
    DatabaseStore store;
    MemoryByteSource source(data, size);
    MemoryByteSink echo;
    result = ImportDesktopCopy(store, ImportMode::kCreate, source, echo, *page);
    path = store.path();
    if (result.status.ok() && MarkConsistent(store.env(), true) != MDbErrNone) std::abort();
  }
  if (!result.status.ok()) return 0;
  // Built: the handheld program opens it unless it has no fields, and it
  // holds exactly the new records of the copy.
  const std::optional<std::vector<GivenRecord>> given = GivenRecords(data, size, *page);
  if (!given) std::abort();  // the import read a copy that cannot be read
  MDbEnv env;
  MDbEnvInitialize(&env);
  MDbInit(&env, 0);
  const std::int32_t opened = MDbAgentOpenDb(&env, path.c_str());
  if (opened != MDbErrNone && opened != MDbErrNoFields) std::abort();
  if (opened == MDbErrNone) {
    if (!HoldsExactly(&env, *given)) std::abort();
    MDbAgentCloseDb(&env);
  }
  MDbShutdown(&env);
  return 0;
}
