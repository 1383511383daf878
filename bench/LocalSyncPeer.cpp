#include "LocalSyncPeer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "AnsiText.h"
#include "DatabaseExport.h"
#include "DatabaseMerge.h"
#include "DesktopConversation.h"
#include "DesktopDatabase.h"
#include "DevicePath.h"
#include "HostSession.h"
#include "HostText.h"
#include "LocalStream.h"
#include "Machine.h"
#include "SyncContext.h"

extern "C" HRESULT SyncDatabase(DWORD inputBytes, BYTE* input, DWORD* outputBytes, BYTE** output,
                                IRAPIStream* stream);

namespace tbm::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Check(const Status& status, const std::string& doing) {
  if (!status.ok()) throw BenchFailure(doing + ": " + status.message());
}

double Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The desktop's work happens on the desktop machine; the agent's on the
// handheld, which this process stands on otherwise.
class OnDesktop {
 public:
  OnDesktop() { SelectMachine(Machine::Desktop); }
  ~OnDesktop() { SelectMachine(Machine::Handheld); }
  OnDesktop(const OnDesktop&) = delete;
  OnDesktop& operator=(const OnDesktop&) = delete;
};

// One SyncDatabase call: the agent on its own thread at the handheld end
// of a local stream, the caller at the desktop end. Going (or Finish)
// closes the desktop end and waits for the agent to return.
class LocalAgent {
 public:
  explicit LocalAgent(sync::SyncDatabaseMode mode) {
    LocalStreamPair pair = CreateLocalStreamPair();
    if (!pair.desktop || !pair.handheld) throw BenchFailure("no memory for a local stream");
    desktop_ = std::move(pair.desktop);
    IRAPIStream* handheld = pair.handheld.release();  // SyncDatabase releases it
    agent_ = std::thread([handheld, mode] {
      std::array<std::uint8_t, sync::kSyncDatabaseInputBytes> input =
          sync::WriteSyncDatabaseInput(mode);
      DWORD outputBytes = 0;
      BYTE* output = nullptr;
      SyncDatabase(static_cast<DWORD>(input.size()), input.data(), &outputBytes, &output, handheld);
    });
  }
  ~LocalAgent() { Finish(); }
  LocalAgent(const LocalAgent&) = delete;
  LocalAgent& operator=(const LocalAgent&) = delete;

  sync::ByteSource& fromAgent() { return source_; }
  sync::ByteSink& toAgent() { return sink_; }

  // Streams the file at path to the agent, as a local reader hands it on:
  // in large blocks.
  void SendFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw BenchFailure("cannot read " + path.string());
    std::vector<std::uint8_t> block(64 * 1024);
    ssize_t got = 0;
    while ((got = ::read(fd, block.data(), block.size())) > 0) {
      if (sink_.Write(block.data(), static_cast<std::size_t>(got)) !=
          static_cast<std::size_t>(got)) {
        ::close(fd);
        throw BenchFailure("the agent stopped reading the desktop's copy");
      }
    }
    ::close(fd);
    if (got < 0) throw BenchFailure("cannot read " + path.string());
  }

  void Finish() {
    desktop_.reset();
    if (agent_.joinable()) agent_.join();
  }

 private:
  class Source final : public sync::ByteSource {
   public:
    explicit Source(const RapiStreamPtr& stream) : stream_(stream) {}
    std::size_t Read(void* buffer, std::size_t bytes) override {
      ULONG read = 0;
      const auto size = static_cast<ULONG>(std::min<std::size_t>(bytes, 1u << 30));
      return SUCCEEDED(stream_->Read(buffer, size, &read)) ? read : 0;
    }

   private:
    const RapiStreamPtr& stream_;
  };
  class Sink final : public sync::ByteSink {
   public:
    explicit Sink(const RapiStreamPtr& stream) : stream_(stream) {}
    std::size_t Write(const void* data, std::size_t bytes) override {
      ULONG written = 0;
      stream_->Write(data, static_cast<ULONG>(bytes), &written);
      return written;
    }

   private:
    const RapiStreamPtr& stream_;
  };

  RapiStreamPtr desktop_;
  Source source_{desktop_};
  Sink sink_{desktop_};
  std::thread agent_;
};

fs::path HandheldTempFolder() {
  const MappedPath temp = DeviceTempFolder();
  if (!temp) throw BenchFailure("the handheld has no temporary folder");
  return temp.hostPath;
}

void CopyFile(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
  if (error) throw BenchFailure("cannot copy " + from.string() + ": " + error.message());
}

}  // namespace

// Tabulon Pro's session with the database open, and the plug-in's merge
// and export over its services.
class LocalSyncPeer::Desktop {
 public:
  explicit Desktop(const fs::path& file) {
    OnDesktop desktop;
    std::unique_ptr<tabulonpro::HostTextForm> hostForm;
    Check(tabulonpro::HostTextForm::OpenSystem(&hostForm), "Tabulon Pro's text form");
    host_ = std::make_unique<tabulonpro::HostSession>(std::move(hostForm));
    std::unique_ptr<tabulonpro::DesktopDatabase> db;
    Check(tabulonpro::DesktopDatabase::Open(file.string(), &db), "opening " + file.string());
    host_->Add(std::move(db));
    Check(sync::AnsiCodePage::OpenSystem(&codePage_), "the ANSI code page");
    calls_ = std::make_unique<bridge::HostCalls>(*host_->Services());
    form_ = std::make_unique<bridge::HostTextForm>(codePage_->windowsNumber());
    std::vector<TBDatabase> open;
    Check(calls_->OpenDatabases(&open), "Tabulon Pro's databases");
    if (open.size() != 1) throw BenchFailure("Tabulon Pro does not have the database open");
    db_ = open.front();
  }

  // Merges folder/TBSC.sdb into the database and saves it.
  void Merge(const fs::path& folder) {
    OnDesktop desktop;
    // A copy left from before must never be taken for this one.
    fs::remove(folder / bridge::kDesktopCopyFile);
    const bridge::MergeOutcome outcome = bridge::MergeDatabase(Context(), db_, folder.string());
    Check(host_->EndPluginCalls(), "saving the merge");
    if (outcome.status != bridge::kMergeStatusDone) {
      throw BenchFailure("the merge ended with status " + std::to_string(outcome.status));
    }
  }

  // Writes the database's copy for the handheld, folder/TBSS.sdb.
  void Export(const fs::path& folder) {
    OnDesktop desktop;
    Check(bridge::ExportDatabase(Context(), db_, folder.string()), "the desktop's export");
    Check(host_->EndPluginCalls(), "ending the export");
  }

 private:
  bridge::SyncContext Context() { return {*calls_, *form_, *codePage_}; }

  std::unique_ptr<tabulonpro::HostSession> host_;
  std::unique_ptr<sync::AnsiCodePage> codePage_;
  std::unique_ptr<bridge::HostCalls> calls_;
  std::unique_ptr<bridge::HostTextForm> form_;
  TBDatabase db_ = nullptr;
};

LocalSyncPeer::LocalSyncPeer(const fs::path& root, const DesktopDatabaseSource& source)
    : device_(root / "device"), exchange_(root / "exchange"), database_(source.name) {
  const fs::path desktopRoot = root / "desktop";
  fs::create_directories(device_);
  fs::create_directories(exchange_);
  ::setenv("TBM_DEVICE_ROOT", device_.c_str(), 1);
  ::setenv("TBM_DESKTOP_ROOT", desktopRoot.c_str(), 1);
  MakeDesktopDatabase(desktopRoot, source);
  desktop_ = std::make_unique<Desktop>(desktopRoot / "Databases" / (source.name + ".tbp"));
  MakeOnHandheld();
}

LocalSyncPeer::~LocalSyncPeer() = default;

fs::path LocalSyncPeer::HandheldDatabase() const {
  return device_ / "My Documents" / "Tabulon" / (database_ + ".tbm");
}

// The first synchronisation: the desktop's copy made into a handheld
// database.
void LocalSyncPeer::MakeOnHandheld() {
  desktop_->Export(exchange_);
  const fs::path copy = HandheldTempFolder() / bridge::kDesktopCopyFile;
  CopyFile(exchange_ / bridge::kDesktopCopyFile, copy);
  LocalAgent agent(sync::SyncDatabaseMode::kCreate);
  agent.SendFile(copy);
  std::string echo;
  std::int32_t unchanged = 0;
  bool made = false;
  Check(sync::ReadCopyNameEcho(agent.fromAgent(), &echo), "the agent's echo");
  Check(sync::ReadUnchangedRecordCount(agent.fromAgent(), &unchanged), "the agent's count");
  Check(sync::ReadCreationOutcome(agent.fromAgent(), &made), "the agent's outcome");
  agent.Finish();
  fs::remove(copy);
  if (!made || !fs::exists(HandheldDatabase())) {
    throw BenchFailure("the agent did not make " + database_ + " on the handheld");
  }
}

void LocalSyncPeer::Synchronise(LocalPhases* phases) {
  const fs::path changes = exchange_ / bridge::kHandheldChangesFile;
  const fs::path copy = HandheldTempFolder() / bridge::kDesktopCopyFile;

  const Clock::time_point begun = Clock::now();
  LocalAgent agent(sync::SyncDatabaseMode::kSynchronise);
  Check(sync::WriteDatabaseToSynchronise(agent.toAgent(), database_), "naming the database");
  Check(sync::ReadChangesReady(agent.fromAgent()), "the handheld's changes");
  const Clock::time_point exported = Clock::now();
  CopyFile(HandheldTempFolder() / bridge::kHandheldChangesFile, changes);
  const Clock::time_point copied = Clock::now();
  desktop_->Merge(exchange_);
  const Clock::time_point merged = Clock::now();
  desktop_->Export(exchange_);
  const Clock::time_point desktopExported = Clock::now();
  CopyFile(exchange_ / bridge::kDesktopCopyFile, copy);
  const Clock::time_point copiedBack = Clock::now();
  Check(sync::WriteDesktopDecision(agent.toAgent(), sync::DesktopDecision::kTakeDesktopCopy),
        "the desktop's decision");
  agent.SendFile(copy);
  std::string echo;
  std::int32_t unchanged = 0;
  Check(sync::ReadCopyNameEcho(agent.fromAgent(), &echo), "the agent's echo");
  Check(sync::ReadUnchangedRecordCount(agent.fromAgent(), &unchanged), "the agent's count");
  // The phase ends where the provider ends it, with the agent's count; the
  // agent closes the rebuilt database after that, unmeasured.
  const Clock::time_point imported = Clock::now();
  agent.Finish();

  *phases = {Milliseconds(begun, exported),
             Milliseconds(exported, copied),
             Milliseconds(copied, merged),
             Milliseconds(merged, desktopExported),
             Milliseconds(desktopExported, copiedBack),
             Milliseconds(copiedBack, imported)};
  fs::remove(changes);
  fs::remove(copy);
}

}  // namespace tbm::bench
