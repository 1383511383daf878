#include "DockedRun.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "BridgeClient.h"
#include "DesktopConversation.h"
#include "ExchangeFile.h"
#include "ExchangeFolder.h"
#include "HandheldAgent.h"
#include "LogViewer.h"
#include "MDb.h"
#include "ProgramLog.h"
#include "Rapi.h"
#include "SyncLog.h"
#include "Utf16.h"

namespace tbm::desksync {

using com::ComPtr;
namespace {

using Clock = std::chrono::steady_clock;
using sync::DdeCommand;
using sync::DdeMessage;

void Log(LogLevel level, const std::string& text) { WriteLog("TBDeskSync", level, text); }

long long Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

res::MessageArgument TextArgument(const std::u16string& text) {
  return res::MessageArgument::Text(text);
}
res::MessageArgument NumberArgument(std::int64_t number) {
  return res::MessageArgument::Number(number);
}

// The codes a connection step can end with, as the log tells them.
constexpr std::int32_t kCodeOtherVersion = 2;
constexpr std::int32_t kCodeNoAnswer = 6;

// Replies of the plug-in.
constexpr std::int32_t kReplyNoSuchDatabase = -1;
constexpr std::int32_t kReplyNoneLeft = 4;
constexpr std::int32_t kProtocolMajor = 2;

// Flags in the upper half of a merge's reply.
constexpr std::uint32_t kFlagSetAside = 1;
constexpr std::uint32_t kFlagBothSides = 2;
constexpr std::uint32_t kFlagChangedOrGone = 4;

// How long each phase of one database took, for the program log.
struct Phases {
  long long handheldExport = 0;
  long long copy = 0;
  long long desktopMerge = 0;
  long long copyBack = 0;
};

// The handheld's name in the ANSI code page for the plug-in: characters the
// code page lacks become '?', and the name is cut to what a command carries.
std::string AnsiDeviceName(sync::AnsiCodePage& codePage, const std::string& utf8) {
  const std::u16string name = Utf8ToUtf16(utf8);
  std::string ansi;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const bool pair = name[i] >= 0xD800 && name[i] <= 0xDBFF && i + 1 < name.size();
    std::string bytes;
    if (!codePage.ToAnsi(name.substr(i, pair ? 2 : 1), &bytes).ok() || bytes.empty() ||
        bytes.find('\0') != std::string::npos) {
      bytes = "?";
    }
    ansi += bytes;
    if (pair) ++i;
  }
  return ansi.substr(0, codePage.FittingLength(ansi, sync::kMaxDdeStringBytes));
}

std::string PartnerHex(DWORD pid) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(pid));
  return text;
}

// "Sales.old" -> "Sales.csv": the file the plug-in sets the handheld's
// changes aside into.
std::string SetAsideFileName(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return (dot == std::string::npos ? name : name.substr(0, dot)) + ".csv";
}

class DockedRun {
 public:
  DockedRun(IReplNotify* notify, const ProviderTexts& texts)
      : notify_(notify), texts_(texts), log_(texts) {}

  void Run();

 private:
  enum class Outcome { kSkipped, kSucceeded, kFailed };

  bool ReachHandheld(Status* failure);
  bool Converse();
  bool ConnectToTabulonPro();
  void ConnectionProblem(std::int32_t code, const Status& why);
  bool SendExchangeFolder();
  void SynchroniseListed();
  Outcome SynchroniseDatabase(const sync::DatabaseListEntry& entry);
  Outcome TalkAboutDatabase(const std::string& name, std::int32_t index, Phases* phases);
  void CreateNewDatabases();
  Outcome CreateOneDatabase(long long desktopExportMs);
  void EndConversation();
  void TellResult();
  void EndHandheldSide();
  std::u16string Shown(const std::string& ansi);
  std::string Local(const char* file) const { return folder_ + "/" + file; }
  void LogPhases(const std::string& name, const Phases& phases);

  IReplNotify* notify_;
  const ProviderTexts& texts_;
  SyncLog log_;
  DEVINFO device_;
  std::string folder_;
  Status folderMade_;
  std::unique_ptr<sync::AnsiCodePage> codePage_;
  bool openedConnection_ = false;
  std::unique_ptr<HandheldAgent> agent_;
  bool started_ = false;
  std::unique_ptr<sync::BridgeClient> bridge_;
  bool failed_ = false;
  bool listed_ = false;
  bool lastHandledFailed_ = false;
  MDbEnv engine_;
  bool engineStarted_ = false;
};

void DockedRun::Run() {
  const Clock::time_point begun = Clock::now();
  DEVINFO* device = &device_;
  if (FAILED(notify_->QueryDevice(QDC_SEL_DEVICE, reinterpret_cast<void**>(&device)))) {
    Log(LogLevel::kError,
        "the connection service names no handheld to synchronise; nothing was done");
    return;
  }
  device_.szName[sizeof device_.szName - 1] = '\0';
  folderMade_ = MakeDeviceFolder(texts_, device_.szName, &folder_);
  if (!folderMade_.ok()) folder_ = DeviceFolderPath(texts_, device_.szName);
  Log(LogLevel::kInfo, std::string("synchronising with the handheld \"") + device_.szName + "\"");

  // 1. and 2.
  Status unreachable;
  const bool reached = ReachHandheld(&unreachable);
  // The connection service shows the log's lines as the run writes them,
  // and where the log is at its end.
  log_.EchoTo([this](const std::string& line) { notify_->SetStatusText(line.c_str()); });
  log_.Open(LogFileIn(texts_, folder_));
  if (!reached) {
    log_.RunProblem(kLogHandheldUnreachable);
    log_.Reason(unreachable.message());
    failed_ = true;
  } else if (Converse()) {
    EndConversation();  // 9.
  } else {
    bridge_.reset();
  }
  log_.Close(failed_);  // 10.
  notify_->SetStatusText(Utf16ToUtf8(texts_.Message(kTextLogIsAt, {res::MessageArgument::Text(
                                                                      Utf8ToUtf16(log_.path()))}))
                             .c_str());
  TellResult();       // 11.
  EndHandheldSide();  // 12.
  Log(LogLevel::kInfo,
      "the whole run took " + std::to_string(Milliseconds(begun, Clock::now())) + " ms");
}

// The connection, the agent and StartSync.
bool DockedRun::ReachHandheld(Status* failure) {
  const HRESULT connected = CeRapiInit();
  if (connected != S_OK && connected != CERAPI_E_ALREADYINITIALIZED) {
    *failure =
        Status(StatusCode::kFailed, "the handheld cannot be reached: " + rapi::RapiFailureText());
    return false;
  }
  openedConnection_ = connected == S_OK;
  if (Status s = sync::AnsiCodePage::OpenSystem(&codePage_); !s.ok()) {
    *failure = s;
    return false;
  }
  if (Status s = HandheldAgent::Locate(&agent_); !s.ok()) {
    *failure = s;
    return false;
  }
  HRESULT answer = S_OK;
  started_ = true;  // EndSync from now on, whatever StartSync did
  if (Status s = agent_->StartSync(&answer); !s.ok()) {
    *failure = s;
    return false;
  }
  Log(LogLevel::kInfo, answer == 0 ? "the handheld program was told of the synchronisation"
                                   : "the handheld program is not running");
  return true;
}

// Steps 3 to 8; false when the conversation with Tabulon Pro did not get
// as far as the exchange folder (there is then nothing to end).
bool DockedRun::Converse() {
  if (!ConnectToTabulonPro()) return false;
  if (!SendExchangeFolder()) return true;
  SynchroniseListed();
  if (listed_ && !lastHandledFailed_) CreateNewDatabases();
  return true;
}

void DockedRun::ConnectionProblem(std::int32_t code, const Status& why) {
  // Every one is counted, the missing Tabulon Pro too: the person must learn
  // that nothing was synchronised.
  if (code == kCodeOtherVersion) {
    log_.RunProblem(kLogOtherVersion);
  } else if (code == kCodeNoAnswer) {
    log_.RunProblem(kLogNoTabulonPro);
  } else {
    log_.RunProblem(kLogRefused, {NumberArgument(code)});
  }
  if (!why.ok()) log_.Reason(why.message());
  failed_ = true;
}

// 3. to 5.
bool DockedRun::ConnectToTabulonPro() {
  if (Status s = sync::BridgeClient::Connect(&bridge_); !s.ok()) {
    Log(LogLevel::kError, s.message());
    log_.RunProblem(kLogNoTabulonPro);
    failed_ = true;
    return false;
  }
  Status failure;
  const std::int32_t version =
      bridge_->Send(DdeCommand::WithoutArgument(DdeMessage::kProtocolVersion), &failure);
  if (!failure.ok()) {
    ConnectionProblem(kCodeNoAnswer, failure);
    return false;
  }
  if ((version >> 16) != kProtocolMajor) {
    ConnectionProblem(
        kCodeOtherVersion,
        Status(StatusCode::kFailed, "the plug-in speaks version " + std::to_string(version >> 16) +
                                        "." + std::to_string(version & 0xFFFF)));
    return false;
  }
  const std::int32_t started = bridge_->Send(
      DdeCommand::WithStrings(DdeMessage::kStart, AnsiDeviceName(*codePage_, device_.szName),
                              PartnerHex(device_.pid)),
      &failure);
  if (!failure.ok() || started != 0) {
    ConnectionProblem(failure.ok() ? started : kCodeNoAnswer, failure);
    return false;
  }
  return true;
}

// 6.
bool DockedRun::SendExchangeFolder() {
  Status problem = folderMade_;
  std::string ansi;
  if (problem.ok()) problem = codePage_->ToAnsi(Utf8ToUtf16(folder_), &ansi);
  if (problem.ok()) {
    const std::int32_t reply =
        bridge_->Send(DdeCommand::WithString(DdeMessage::kExchangeFolder, ansi), &problem);
    if (problem.ok() && reply != 0) {
      problem = Status(StatusCode::kFailed, "Tabulon Pro did not take the folder (it answered " +
                                                std::to_string(reply) + ")");
    }
  }
  if (problem.ok()) return true;
  log_.RunProblem(kLogFolderUnusable, {TextArgument(Utf8ToUtf16(folder_))});
  log_.Reason(problem.message());
  failed_ = true;
  return false;
}

// 7.
void DockedRun::SynchroniseListed() {
  std::vector<sync::DatabaseListEntry> databases;
  Status listing = agent_->FindFiles(&databases);
  MDbEnvInitialize(&engine_);
  if (listing.ok()) {
    engineStarted_ = true;
    if (MDbInit(&engine_) != MDbErrNone) {
      listing = Status(StatusCode::kFailed, "the desktop's database library could not start: " +
                                                rapi::RapiFailureText());
    }
  }
  if (!listing.ok()) {
    // Without the list, every database would count as new: step 8 stays out.
    log_.RunProblem(kLogHandheldUnreachable);
    log_.Reason(listing.message());
    failed_ = true;
    return;
  }
  listed_ = true;
  Log(LogLevel::kInfo, "the handheld has " + std::to_string(databases.size()) + " databases");
  for (const sync::DatabaseListEntry& entry : databases) {
    const Outcome outcome = SynchroniseDatabase(entry);
    if (outcome != Outcome::kSkipped) lastHandledFailed_ = outcome == Outcome::kFailed;
  }
  if (lastHandledFailed_) failed_ = true;
}

DockedRun::Outcome DockedRun::SynchroniseDatabase(const sync::DatabaseListEntry& entry) {
  const std::u16string shown = Shown(entry.name);
  Status failure;
  const std::int32_t index =
      bridge_->Send(DdeCommand::WithString(DdeMessage::kWhichDatabase, entry.name), &failure);
  if (!failure.ok()) {
    log_.DatabaseProblem(kLogDatabaseFailed, {TextArgument(shown), NumberArgument(1)});
    log_.Reason(failure.message());
    return Outcome::kFailed;
  }
  if (index == kReplyNoSuchDatabase) {
    log_.Text(kLogSkipped, {TextArgument(shown)});
    return Outcome::kSkipped;
  }
  Phases phases;
  const Outcome outcome = TalkAboutDatabase(entry.name, index, &phases);
  LogPhases(entry.name, phases);
  return outcome;
}

// 7.1 to 7.5 for one database Tabulon Pro has at index.
DockedRun::Outcome DockedRun::TalkAboutDatabase(const std::string& name, std::int32_t index,
                                                Phases* phases) {
  const std::u16string shown = Shown(name);
  auto brokeOff = [&](const Status& why) {
    log_.DatabaseProblem(kLogBrokeOff, {TextArgument(shown)});
    log_.Reason(why.message());
    return Outcome::kFailed;
  };
  const Clock::time_point begun = Clock::now();
  std::unique_ptr<AgentConversation> agent;
  if (Status s = agent_->OpenSyncDatabase(sync::SyncDatabaseMode::kSynchronise, &agent); !s.ok()) {
    return brokeOff(s);
  }
  if (Status s = sync::WriteDatabaseToSynchronise(agent->toAgent(), name); !s.ok()) {
    return brokeOff(s);
  }
  if (Status s = sync::ReadChangesReady(agent->fromAgent()); !s.ok()) {
    return brokeOff(s.WithContext("the handheld did not say its changes were ready"));
  }
  const Clock::time_point exported = Clock::now();
  // The copy is checked whole before anything is merged: a short or damaged
  // copy is never merged, and the handheld is told to keep its data.
  std::uint64_t bytes = 0;
  Status copied = CopyHandheldChanges(Local(kChangesFileName), &bytes);
  if (copied.ok()) copied = CheckHandheldChanges(Local(kChangesFileName));
  const Clock::time_point copiedAt = Clock::now();
  Status mergeFailure;
  const std::int32_t reply =
      copied.ok()
          ? bridge_->Send(DdeCommand::WithNumber(DdeMessage::kMergeAndExport, index), &mergeFailure)
          : 1;
  const Clock::time_point merged = Clock::now();
  const std::int32_t status = reply & 0xFFFF;
  const auto flags = static_cast<std::uint32_t>(reply) >> 16;
  const sync::DesktopDecision decision = status == 0 ? sync::DesktopDecision::kTakeDesktopCopy
                                                     : sync::DesktopDecision::kKeepHandheldData;
  Status talk = sync::WriteDesktopDecision(agent->toAgent(), decision);
  if (talk.ok() && decision == sync::DesktopDecision::kTakeDesktopCopy) {
    std::string echo;
    talk = agent->SendFile(Local(kCopyFileName));
    if (talk.ok()) talk = sync::ReadCopyNameEcho(agent->fromAgent(), &echo);
  }
  std::int32_t tooLong = 0;
  if (talk.ok()) talk = sync::ReadUnchangedRecordCount(agent->fromAgent(), &tooLong);
  agent->Release();
  *phases = {Milliseconds(begun, exported), Milliseconds(exported, copiedAt),
             Milliseconds(copiedAt, merged), Milliseconds(merged, Clock::now())};

  if (!copied.ok()) {
    log_.DatabaseProblem(kLogNotWhole, {TextArgument(shown)});
    log_.Reason(copied.message());
    return Outcome::kFailed;
  }
  if (status != 0) {
    log_.DatabaseProblem(kLogDatabaseFailed, {TextArgument(shown), NumberArgument(status)});
    if (!mergeFailure.ok()) log_.Reason(mergeFailure.message());
    return Outcome::kFailed;
  }
  if (!talk.ok()) return brokeOff(talk);
  if (flags & kFlagSetAside) {
    log_.DatabaseProblem(kLogSetAside, {TextArgument(Shown(SetAsideFileName(name)))});
  }
  if (flags & kFlagBothSides) log_.Text(kLogBothSides);
  if (flags & kFlagChangedOrGone) log_.Text(kLogChangedOrGone);
  log_.Text(kLogSynchronised, {TextArgument(shown)});
  if (tooLong > 0) log_.Text(kLogTooLong, {NumberArgument(tooLong)});
  return Outcome::kSucceeded;
}

// 8.
void DockedRun::CreateNewDatabases() {
  for (;;) {
    Status failure;
    const Clock::time_point asked = Clock::now();
    const std::int32_t reply =
        bridge_->Send(DdeCommand::WithoutArgument(DdeMessage::kExportNext), &failure);
    const long long exportMs = Milliseconds(asked, Clock::now());
    if (!failure.ok()) {
      ConnectionProblem(kCodeNoAnswer, failure);
      return;
    }
    if (reply == kReplyNoneLeft) return;
    if (reply != 0) {
      // A desktop database that did not go to the handheld: the person must
      // hear of it.
      log_.RunProblem(kLogRefused, {NumberArgument(reply)});
      return;
    }
    if (CreateOneDatabase(exportMs) == Outcome::kFailed) failed_ = true;
  }
}

// One desktop database the handheld lacks, whose copy Tabulon Pro has just
// written, made on the handheld.
DockedRun::Outcome DockedRun::CreateOneDatabase(long long desktopExportMs) {
  const Clock::time_point begun = Clock::now();
  std::string name = kCopyFileName;
  {
    sync::HostFileSource copy(Local(kCopyFileName));
    sync::ExchangeReader reader(copy);
    sync::ExchangeLayout layout;
    if (reader.ReadLayout(&layout).ok()) name = layout.header.name;
  }
  const std::u16string shown = Shown(name);
  std::unique_ptr<AgentConversation> agent;
  Status talk = agent_->OpenSyncDatabase(sync::SyncDatabaseMode::kCreate, &agent);
  std::string echo;
  std::int32_t tooLong = 0;
  bool made = false;
  if (talk.ok()) talk = agent->SendFile(Local(kCopyFileName));
  if (talk.ok()) talk = sync::ReadCopyNameEcho(agent->fromAgent(), &echo);
  if (talk.ok()) talk = sync::ReadUnchangedRecordCount(agent->fromAgent(), &tooLong);
  // The agent says last whether the database was made; a run that did not
  // ask would report a failed creation as done.
  if (talk.ok()) talk = sync::ReadCreationOutcome(agent->fromAgent(), &made);
  if (agent) agent->Release();
  LogPhases(name, {0, 0, desktopExportMs, Milliseconds(begun, Clock::now())});
  if (talk.ok() && !made) {
    talk = Status(StatusCode::kFailed,
                  "the handheld could not make the database from the "
                  "desktop's copy (its log says why)");
  }
  if (!talk.ok()) {
    log_.DatabaseProblem(kLogDatabaseFailed, {TextArgument(shown), NumberArgument(1)});
    log_.Reason(talk.message());
    return Outcome::kFailed;
  }
  log_.Text(kLogSynchronised, {TextArgument(shown)});
  if (tooLong > 0) log_.Text(kLogTooLong, {NumberArgument(tooLong)});
  return Outcome::kSucceeded;
}

// 9.
void DockedRun::EndConversation() {
  if (bridge_) {
    Status failure;
    bridge_->Send(DdeCommand::WithoutArgument(DdeMessage::kEnd), &failure);
    if (!failure.ok()) Log(LogLevel::kWarning, "ending the conversation: " + failure.message());
  }
  if (::unlink(Local(kChangesFileName).c_str()) != 0 && errno != ENOENT) {
    Log(LogLevel::kWarning, "the local " + std::string(kChangesFileName) +
                                " could not be deleted: " + std::strerror(errno));
  }
  bridge_.reset();
  if (engineStarted_) MDbShutdown(&engine_);
}

// 11.
void DockedRun::TellResult() {
  std::uint32_t text = 0;
  if (log_.runProblems() > 0) {
    text = kTextRunProblems;
  } else if (log_.databaseProblems() > 0) {
    text = kTextDatabaseProblems;
  } else {
    return;
  }
  ComPtr<IReplMessages> messages;
  notify_->QueryInterface(IID_IReplMessages, messages.ReceiveVoid());
  ComPtr<IReplMessageAction> action = ComPtr<IReplMessageAction>::Adopt(
      MakeOpenLogAction(MakeLogViewer(texts_, log_.path()), messages.get()));
  TellPerson(notify_, texts_.Utf8(kTextResultTitle), texts_.Utf8(text),
             texts_.Utf8(kTextResultOpenLog), action.get());
}

// 12., and the connection given back when the run opened it.
void DockedRun::EndHandheldSide() {
  if (started_) {
    if (Status s = agent_->EndSync(); !s.ok()) {
      Log(LogLevel::kError,
          "the handheld was not told that the synchronisation ended: " + s.message());
    }
  }
  if (openedConnection_) CeRapiUninit();
  Log(LogLevel::kInfo, "the synchronisation ended");
}

std::u16string DockedRun::Shown(const std::string& ansi) {
  std::u16string text;
  if (codePage_ && codePage_->ToUtf16(ansi, &text).ok()) return text;
  for (const char c : ansi) text += static_cast<char16_t>(static_cast<unsigned char>(c));
  return text;
}

void DockedRun::LogPhases(const std::string& name, const Phases& p) {
  Log(LogLevel::kInfo, "phases \"" + Utf16ToUtf8(Shown(name)) + "\": handheld export " +
                           std::to_string(p.handheldExport) + " ms, copy " +
                           std::to_string(p.copy) + " ms, desktop merge and export " +
                           std::to_string(p.desktopMerge) + " ms, copy back and import " +
                           std::to_string(p.copyBack) + " ms");
}

}  // namespace

void TellPerson(IReplNotify* notify, const std::string& caption, const std::string& text,
                const std::string& actionText, IReplMessageAction* action) {
  ComPtr<IReplMessages> messages;
  if (notify != nullptr &&
      SUCCEEDED(notify->QueryInterface(IID_IReplMessages, messages.ReceiveVoid())) && messages) {
    messages->ShowMessage(caption.c_str(), text.c_str(),
                          action != nullptr ? actionText.c_str() : nullptr, action);
    return;
  }
  Log(LogLevel::kWarning, caption + ": " + text);
}

void RunDockedSynchronisation(IReplNotify* notify, const ProviderTexts& texts) {
  DockedRun run(notify, texts);
  run.Run();
}

}  // namespace tbm::desksync
