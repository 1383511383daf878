// TBMSYNBKCE: the handheld half of a synchronisation, driven from the
// desktop through remote invocation. Four exports: StartSync tells the
// handheld program a synchronisation begins, FindFiles lists the handheld's
// databases, SyncDatabase exports one database's changes and rebuilds it
// from the desktop's copy (or creates a new one), EndSync says it is over.
// Each call starts and stops its own engine; nothing survives between them.
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "CallGuard.h"
#include "ChangeExport.h"
#include "CopyImport.h"
#include "DatabaseBuilder.h"
#include "DatabaseList.h"
#include "DatabaseNames.h"
#include "DatabaseStore.h"
#include "DesktopConversation.h"
#include "DevicePath.h"
#include "FileCalls.h"
#include "HandheldCalls.h"
#include "HandheldProgram.h"
#include "ProgramLog.h"
#include "RapiStream.h"
#include "StreamBytes.h"
#include "SyncActiveFlag.h"
#include "Utf16.h"

namespace tbm::sync {
namespace {

// The agent's log, in the handheld's log folder.
void Log(LogLevel level, std::string_view text) { WriteLog("TBMSYNBKCE", level, text); }

// How long the agent waits for the handheld program to answer a call.
constexpr DWORD kProgramAnswerMs = 30000;

constexpr char16_t kExchangeFileName[] = u"TBSC.sdb";

// The name of the database open in the handheld program, in ANSI; empty
// when none is open or the program does not say.
std::string OpenDatabaseName(HWND program, AnsiCodePage& codePage) {
  std::optional<std::u16string> name;
  if (Status s = CallOpenDatabaseName(program, kProgramAnswerMs, &name); !s.ok()) {
    Log(LogLevel::kWarning,
        "the handheld program did not say which database it has open: " + s.message());
    return {};
  }
  std::string ansi;
  if (!name || !codePage.ToAnsi(*name, &ansi).ok()) return {};
  return ansi;
}

// The host path of the handheld's exchange file.
std::string ExchangeFilePath() {
  const MappedPath temp = DeviceTempFolder();
  if (!temp) return {};
  return temp.hostPath + "/" + Utf16ToUtf8(kExchangeFileName);
}

// The databases of the handheld folder, leaving out the one open in the
// program. A file that cannot be opened, or whose name cannot be read, is
// left out and the walk goes on: one damaged file must not hide the others
// from synchronisation.
std::vector<DatabaseListEntry> ListDatabases(DatabaseStore& store, const std::string& openName,
                                             AnsiCodePage& codePage) {
  std::vector<DatabaseListEntry> entries;
  const std::u16string folder = std::u16string(kDatabaseFolder) + u"\\";
  const std::u16string pattern = folder + u"*.tbm";
  HANDLE find = nullptr;
  char16_t fileName[260] = {};
  std::int32_t rc = MDbFindFirstFile(&find, pattern.c_str(), fileName, sizeof fileName);
  while (rc == MDbErrNone && entries.size() < kDatabaseListEntries) {
    DatabaseListEntry entry;
    entry.path = folder + fileName;
    if (entry.path.size() <= kDatabaseListPathUnits && store.Open(entry.path) == MDbErrNone) {
      MDbEnv* env = store.env();
      char16_t name[256] = {};
      bool named = false;
      if (MDbAttrTblOpen(env, &env->ref, &env->attributes) == MDbErrNone) {
        named = MDbAttrTblReadDbName(env, &env->ref, &env->attributes, 0, name, sizeof name) ==
                MDbErrNone;
        MDbAttrTblClose(env, &env->ref, &env->attributes);
      }
      store.Close();
      if (named && codePage.ToAnsi(name, &entry.name).ok() &&
          entry.name.size() <= kDatabaseListNameBytes && entry.name != openName) {
        entries.push_back(std::move(entry));
      }
    }
    rc = MDbFindNextFile(&find, fileName, sizeof fileName);
  }
  if (find != nullptr) MDbFindClose(&find);
  return entries;
}

// Mode 1: the conversation about one existing database.
void SynchroniseDatabase(ByteSource& desktop, ByteSink& toDesktop, DatabaseStore& store,
                         AnsiCodePage& codePage) {
  // 1. The database's name.
  std::string name;
  if (Status s = ReadDatabaseToSynchronise(desktop, &name); !s.ok()) {
    Log(LogLevel::kError,
        "the desktop sent no database name, or one of a wrong length: " + s.message());
    return;
  }
  std::u16string wideName;
  if (!codePage.ToUtf16(name, &wideName).ok()) {
    Log(LogLevel::kError, "a database name from the desktop is not text of this code page");
    return;
  }
  const std::optional<std::u16string> path = DatabasePathForName(wideName);
  if (!path || store.Open(*path) != MDbErrNone) {
    Log(LogLevel::kError, name + ": " +
                              (path ? "the database cannot be opened"
                                    : "the name leads outside the handheld's database folder"));
    return;
  }
  const bool wasConsistent = MDbVerifyChecksome(store.env(), &store.env()->ref) == MDbErrNone;
  if (store.GatherChanges() != MDbErrNone) {
    Log(LogLevel::kError, name + ": the handheld's changes cannot be read");
    store.Close();
    return;
  }

  // 2. and 3. The changes into the exchange file, then word that it is ready.
  const std::string exchangePath = ExchangeFilePath();
  bool exported = false;
  if (!exchangePath.empty()) {
    HostFileSink file(exchangePath);
    exported = file.ok() && ExportChanges(store, name, codePage, file).ok() && file.Close();
  }
  ImportResult imported;
  bool talking = true;
  if (exported) {
    talking = WriteChangesReady(toDesktop).ok();
    // 4. to 6. The desktop's decision, and its copy when it sends one.
    DesktopDecision decision = DesktopDecision::kKeepHandheldData;
    talking = talking && ReadDesktopDecision(desktop, &decision).ok();
    if (talking && decision == DesktopDecision::kTakeDesktopCopy) {
      // Said once the mark is durable: a person reading the log learns why
      // the handheld program refuses a database whose rebuild broke off.
      imported = ImportDesktopCopy(store, ImportMode::kRebuild, desktop, toDesktop, codePage, [&] {
        Log(LogLevel::kInfo,
            name +
                ": marked as being rebuilt from the desktop's copy; it stays refused until "
                "the rebuild is whole");
      });
      talking = !imported.streamFailed;
    }
  }
  // 7. The records the desktop sent unchanged.
  if (talking) WriteUnchangedRecordCount(toDesktop, imported.skipped);
  if (!exported) {
    Log(LogLevel::kError, name + ": the handheld's changes could not be written for the desktop");
  } else if (!imported.status.ok()) {
    Log(LogLevel::kError,
        name + ": rebuilding from the desktop's copy failed: " + imported.status.message());
  } else if (!talking) {
    Log(LogLevel::kError, name + ": the connection broke during the synchronisation");
  } else {
    Log(LogLevel::kInfo, name + ": synchronised" +
                             (imported.touched ? ", rebuilt from the desktop's copy"
                                               : ", the handheld's records kept") +
                             " (" + std::to_string(imported.skipped) + " sent unchanged)");
  }
  // A rebuild that did not finish leaves the database marked inconsistent,
  // so the handheld program does not show a partial database as whole; and
  // a database left so by an earlier synchronisation stays so until a
  // rebuild succeeds.
  if (imported.touched ? imported.status.ok() : wasConsistent) MarkConsistent(store.env(), true);
  store.Close();
}

// Mode 2: a database made from the desktop's copy.
void CreateDatabase(ByteSource& desktop, ByteSink& toDesktop, DatabaseStore& store,
                    AnsiCodePage& codePage) {
  const ImportResult imported =
      ImportDesktopCopy(store, ImportMode::kCreate, desktop, toDesktop, codePage);
  if (!imported.streamFailed && WriteUnchangedRecordCount(toDesktop, imported.skipped).ok()) {
    WriteCreationOutcome(toDesktop, imported.status.ok());
  }
  if (imported.status.ok()) {
    Log(LogLevel::kInfo, "a database was made from the desktop's copy");
  } else {
    Log(LogLevel::kError,
        "making a database from the desktop's copy failed: " + imported.status.message());
  }
  if (store.opened() && imported.status.ok()) MarkConsistent(store.env(), true);
  store.Close();
}

std::unique_ptr<AnsiCodePage> SystemCodePage() {
  std::unique_ptr<AnsiCodePage> page;
  if (!AnsiCodePage::OpenSystem(&page).ok()) page.reset();
  return page;
}

}  // namespace
}  // namespace tbm::sync

using namespace tbm::sync;
using tbm::CaughtException;
using tbm::LogLevel;
using tbm::Status;

extern "C" {

__attribute__((visibility("default"))) HRESULT StartSync(DWORD, BYTE*, DWORD* outputBytes,
                                                         BYTE** output, IRAPIStream* stream) {
  if (outputBytes) *outputBytes = 0;
  if (output) *output = nullptr;
  if (stream) stream->Release();
  try {
    Log(LogLevel::kInfo, "synchronisation started");
    const std::optional<std::u16string> program = HandheldProgramPath();
    if (!program) {
      Log(LogLevel::kError,
          "the handheld program is not registered (HKEY_CLASSES_ROOT\\tbmfile\\shell\\open\\"
          "command); the synchronisation cannot start");
      return E_FAIL;
    }
    HRESULT result = 1;
    if (const HWND window = FindHandheldProgramWindow(*program); window != nullptr) {
      // The synchronisation goes on whatever the program answers.
      bool closed = false;
      if (const Status s = CallCloseViewsForSync(window, kProgramAnswerMs, &closed); !s.ok()) {
        Log(LogLevel::kWarning,
            "the handheld program was asked to close its views: " + s.message());
      } else {
        Log(LogLevel::kInfo, closed ? "the handheld program closed its views"
                                    : "the handheld program kept its views open: one of its "
                                      "dialogs is open, or the field being edited holds a value "
                                      "it cannot store");
      }
      result = 0;
    }
    if (!WriteSyncActive(true)) {
      Log(LogLevel::kError, "the synchronisation-in-progress word cannot be set");
      return E_FAIL;
    }
    return result;
  } catch (...) {
    Log(LogLevel::kError, "starting the synchronisation failed: " + CaughtException());
    return E_FAIL;
  }
}

__attribute__((visibility("default"))) HRESULT EndSync(DWORD, BYTE*, DWORD* outputBytes,
                                                       BYTE** output, IRAPIStream* stream) {
  if (outputBytes) *outputBytes = 0;
  if (output) *output = nullptr;
  if (stream) stream->Release();
  try {
    if (!WriteSyncActive(false)) {
      Log(LogLevel::kError, "the synchronisation-in-progress word cannot be cleared");
      return E_FAIL;
    }
    Log(LogLevel::kInfo, "synchronisation ended");
    return 0;
  } catch (...) {
    Log(LogLevel::kError, "ending the synchronisation failed: " + CaughtException());
    return E_FAIL;
  }
}

__attribute__((visibility("default"))) HRESULT FindFiles(DWORD, BYTE*, DWORD* outputBytes,
                                                         BYTE** output, IRAPIStream* stream) {
  if (outputBytes) *outputBytes = 0;
  if (output) *output = nullptr;
  if (stream == nullptr) return 0;
  try {
    const std::optional<std::u16string> program = HandheldProgramPath();
    std::unique_ptr<AnsiCodePage> page = SystemCodePage();
    if (program && page) {
      std::string openName;
      if (const HWND window = FindHandheldProgramWindow(*program); window != nullptr) {
        openName = OpenDatabaseName(window, *page);
      }
      DatabaseStore store;
      if (store.started()) MDbCreateDirectory(kDatabaseFolder);
      const std::vector<DatabaseListEntry> entries = store.started()
                                                         ? ListDatabases(store, openName, *page)
                                                         : std::vector<DatabaseListEntry>{};
      StreamSink toDesktop(stream);
      if (const Status s = WriteDatabaseListAnswer(toDesktop, {store.started(), entries});
          !s.ok()) {
        Log(LogLevel::kError, "the database list was not sent: " + s.message());
      }
    } else {
      Log(LogLevel::kError, program ? "the system code page cannot be loaded"
                                    : "the handheld program is not registered");
    }
  } catch (...) {
    // The desktop reads no list and takes the listing as failed.
    Log(LogLevel::kError, "listing the databases failed: " + CaughtException());
  }
  stream->Release();
  return 0;
}

__attribute__((visibility("default"))) HRESULT SyncDatabase(DWORD inputBytes, BYTE* input,
                                                            DWORD* outputBytes, BYTE** output,
                                                            IRAPIStream* stream) {
  if (outputBytes) *outputBytes = 0;
  if (output) *output = nullptr;
  if (stream == nullptr) return 0;
  try {
    std::unique_ptr<AnsiCodePage> page = SystemCodePage();
    DatabaseStore store;
    SyncDatabaseMode mode = SyncDatabaseMode::kSynchronise;
    const Status given = ReadSyncDatabaseInput(
        std::span<const std::uint8_t>(input, input != nullptr ? inputBytes : 0), &mode);
    if (!given.ok()) {
      Log(LogLevel::kError, "the desktop did not say how to synchronise: " + given.message());
    } else if (page && store.started()) {
      StreamSource desktop(stream);
      StreamSink toDesktop(stream);
      if (mode == SyncDatabaseMode::kCreate) {
        CreateDatabase(desktop, toDesktop, store, *page);
      } else {
        SynchroniseDatabase(desktop, toDesktop, store, *page);
      }
    } else {
      Log(LogLevel::kError,
          page ? "the database engine cannot be started" : "the system code page cannot be loaded");
    }
  } catch (...) {
    // The conversation ends here; the desktop sees the stream stop.
    Log(LogLevel::kError, "synchronising a database failed: " + CaughtException());
  }
  const std::string exchangePath = ExchangeFilePath();
  if (!exchangePath.empty()) DeleteFileW(tbm::Utf8ToUtf16(exchangePath).c_str());
  stream->Release();
  return 0;
}

}  // extern "C"
