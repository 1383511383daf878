// TBMSYNBKCE: the handheld half of a synchronisation, driven from the
// desktop through remote invocation. Four exports: StartSync tells the
// handheld program a synchronisation begins, FindFiles lists the handheld's
// databases, SyncDatabase exports one database's changes and rebuilds it
// from the desktop's copy (or creates a new one), EndSync says it is over.
// Each call starts and stops its own engine; nothing survives between them.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ChangeExport.h"
#include "CopyImport.h"
#include "DatabaseBuilder.h"
#include "DatabaseList.h"
#include "DatabaseNames.h"
#include "DatabaseStore.h"
#include "DevicePath.h"
#include "FileCalls.h"
#include "HandheldProgram.h"
#include "ProgramLog.h"
#include "RapiStream.h"
#include "RpcBlock.h"
#include "SyncActiveFlag.h"
#include "Utf16.h"

namespace tbm::sync {
namespace {

// The agent's log, in the handheld's log folder.
void Log(LogLevel level, std::string_view text) { WriteLog("TBMSYNBKCE", level, text); }

// What the exception being handled says, for the log; called inside a
// catch block.
std::string CaughtException() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "memory ran out";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an unknown exception";
  }
}

using tbm::RpcAnswer;
using tbm::RpcCall;

// How long the agent waits for the handheld program to answer a call.
constexpr DWORD kProgramAnswerMs = 30000;

// The two calls the agent makes to the handheld program.
constexpr std::uint32_t kCloseViewsForSync = 3;
constexpr std::uint32_t kOpenDatabaseName = 2;
constexpr std::uint32_t kCloseViewsRequestBytes = 16;
constexpr std::uint32_t kOpenNameRequestBytes = 528;
constexpr std::size_t kOpenNameUnits = 256;

// The most bytes of the name the desktop sends (with its NUL).
constexpr std::int32_t kMaxNameBytes = 260;

constexpr char16_t kExchangeFileName[] = u"TBSC.sdb";

// Reads the desktop's bytes from the invocation stream. The exchange
// reader asks for a few bytes at a time; taking whatever has arrived (up to
// a buffer's worth) in one stream call keeps the stream's locking out of
// every small read. Nothing is read ahead beyond what the desktop has sent,
// and the agent reads nothing else from the stream after the copy.
class StreamSource final : public ByteSource {
 public:
  explicit StreamSource(IRAPIStream* stream) : stream_(stream), buffer_(kBufferBytes) {}
  std::size_t Read(void* out, std::size_t bytes) override {
    if (begin_ == end_) {
      ULONG read = 0;
      if (FAILED(stream_->Read(buffer_.data(), kBufferBytes, &read))) return 0;
      begin_ = 0;
      end_ = read;
    }
    const std::size_t n = std::min(bytes, end_ - begin_);
    std::memcpy(out, buffer_.data() + begin_, n);
    begin_ += n;
    return n;
  }

 private:
  static constexpr ULONG kBufferBytes = 64 * 1024;
  IRAPIStream* stream_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Writes to the desktop through the invocation stream.
class StreamSink final : public ByteSink {
 public:
  explicit StreamSink(IRAPIStream* stream) : stream_(stream) {}
  std::size_t Write(const void* data, std::size_t bytes) override {
    ULONG written = 0;
    const auto size = static_cast<ULONG>(std::min<std::size_t>(bytes, 1u << 30));
    if (FAILED(stream_->Write(data, size, &written))) return 0;
    return written;
  }

 private:
  IRAPIStream* stream_;
};

bool WriteInt32(IRAPIStream* stream, std::int32_t value) {
  std::uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  ULONG written = 0;
  return SUCCEEDED(stream->Write(bytes, 4, &written)) && written == 4;
}

bool WriteInt16(IRAPIStream* stream, std::int16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                                 static_cast<std::uint8_t>(value >> 8)};
  ULONG written = 0;
  return SUCCEEDED(stream->Write(bytes, 2, &written)) && written == 2;
}

std::optional<std::int32_t> ReadInt32(IRAPIStream* stream) {
  std::uint8_t bytes[4];
  if (FAILED(ReadExactly(stream, bytes, 4))) return std::nullopt;
  return static_cast<std::int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                   (static_cast<std::uint32_t>(bytes[3]) << 24));
}

// The name of the database open in the handheld program, in ANSI; empty
// when none is open or the program does not say.
std::string OpenDatabaseName(HWND program, AnsiCodePage& codePage) {
  RpcCall call;
  call.size = kOpenNameRequestBytes;
  call.id = kOpenDatabaseName;
  call.kind = kRpcArgumentAndResult;
  const std::optional<RpcAnswer> answer = CallThroughRpcBlock(program, call, kProgramAnswerMs);
  if (!answer || answer->result != 1) return {};
  std::u16string name = answer->reply.substr(0, kOpenNameUnits);
  std::string ansi;
  if (!codePage.ToAnsi(name, &ansi).ok()) return {};
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
void SynchroniseDatabase(IRAPIStream* stream, DatabaseStore& store, AnsiCodePage& codePage) {
  // 1. The database's name.
  const std::optional<std::int32_t> length = ReadInt32(stream);
  if (!length || *length < 1 || *length > kMaxNameBytes) {
    Log(LogLevel::kError, "the desktop sent no database name, or one of a wrong length");
    return;
  }
  std::string name(static_cast<std::size_t>(*length), '\0');
  if (FAILED(ReadExactly(stream, name.data(), static_cast<ULONG>(name.size())))) {
    Log(LogLevel::kError, "the connection broke while the desktop sent a database name");
    return;
  }
  name.resize(std::strlen(name.c_str()));
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
    talking = WriteInt32(stream, 0);
    // 4. to 6. The desktop's decision, and its copy when it sends one.
    const std::optional<std::int32_t> decision = talking ? ReadInt32(stream) : std::nullopt;
    talking = decision.has_value();
    if (talking && (*decision & 0xFFFF) == 0) {
      StreamSource source(stream);
      StreamSink echo(stream);
      imported = ImportDesktopCopy(store, ImportMode::kRebuild, source, echo, codePage);
      talking = !imported.streamFailed;
    }
  }
  // 7. The records the desktop sent unchanged.
  if (talking) WriteInt32(stream, imported.skipped);
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
void CreateDatabase(IRAPIStream* stream, DatabaseStore& store, AnsiCodePage& codePage) {
  StreamSource source(stream);
  StreamSink echo(stream);
  const ImportResult imported =
      ImportDesktopCopy(store, ImportMode::kCreate, source, echo, codePage);
  if (!imported.streamFailed && WriteInt32(stream, imported.skipped)) {
    WriteInt16(stream, imported.status.ok() ? 0 : 1);
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
using tbm::LogLevel;

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
      tbm::RpcCall call;
      call.size = kCloseViewsRequestBytes;
      call.id = kCloseViewsForSync;
      call.kind = tbm::kRpcResult;
      tbm::CallThroughRpcBlock(window, call, kProgramAnswerMs);
      Log(LogLevel::kInfo, "the handheld program was asked to close its views");
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
      const std::optional<std::vector<std::uint8_t>> list = EncodeDatabaseList(entries);
      if (list && WriteInt32(stream, store.started() ? 1 : 0) && store.started()) {
        ULONG written = 0;
        stream->Write(list->data(), static_cast<ULONG>(list->size()), &written);
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
    if (page && store.started()) {
      const bool create = inputBytes >= 1 && input != nullptr && input[0] != 0;
      if (create) {
        CreateDatabase(stream, store, *page);
      } else {
        SynchroniseDatabase(stream, store, *page);
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
