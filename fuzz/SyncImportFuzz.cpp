// Desktop copies as a damaged desktop or a broken stream could deliver
// them, taken all the way into a handheld database: the import must end
// cleanly whatever the bytes, and a database it reports as built must open
// in the handheld program with the records it was given. Each input creates
// its database afresh in a scratch handheld.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "AnsiText.h"
#include "CopyImport.h"
#include "DatabaseBuilder.h"
#include "DatabaseNames.h"
#include "DatabaseStore.h"
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
  // Built: the handheld program opens it unless it has no fields.
  MDbEnv env;
  MDbEnvInitialize(&env);
  MDbInit(&env, 0);
  const std::int32_t opened = MDbAgentOpenDb(&env, path.c_str());
  if (opened != MDbErrNone && opened != MDbErrNoFields) std::abort();
  if (opened == MDbErrNone) MDbAgentCloseDb(&env);
  MDbShutdown(&env);
  return 0;
}
