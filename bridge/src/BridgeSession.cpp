#include "BridgeSession.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "BridgeLog.h"
#include "DatabaseExport.h"
#include "DatabaseMerge.h"
#include "SyncContext.h"
#include "Utf16.h"

namespace tbm::bridge {
namespace {

constexpr std::int32_t kReplyDone = 0;
constexpr std::int32_t kReplyFailed = 1;
constexpr std::int32_t kReplyNotSupported = 1;
constexpr std::int32_t kReplyNoneLeft = 4;
constexpr std::int32_t kReplyNotListed = -1;

}  // namespace

BridgeSession::BridgeSession(const TBHostServices& services, sync::AnsiCodePage& codePage,
                             std::string temporaryFolder)
    : host_(services),
      codePage_(codePage),
      form_(codePage.windowsNumber()),
      temporaryFolder_(std::move(temporaryFolder)),
      folder_(temporaryFolder_) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) {
    LogBridge(LogLevel::kError,
              "cannot make the temporary folder " + folder_ + ": " + error.message());
  }
}

std::optional<sync::DdeBlock> BridgeSession::Execute(std::span<const std::uint8_t> block) {
  sync::DdeCommand command;
  if (Status status = sync::ReadDdeBlock(block, &command); !status.ok()) {
    LogBridge(LogLevel::kError, "a command was refused: " + status.message());
    return std::nullopt;
  }
  std::int32_t reply = 0;
  switch (static_cast<sync::DdeMessage>(command.type)) {
    case sync::DdeMessage::kStart:
      reply = Start();
      break;
    case sync::DdeMessage::kWhichDatabase:
      reply = WhichDatabase(command.strings[0]);
      break;
    case sync::DdeMessage::kMergeAndExport:
      reply = MergeAndExport(command.number);
      break;
    case sync::DdeMessage::kUnsupported:
      reply = kReplyNotSupported;
      break;
    case sync::DdeMessage::kExportNext:
      reply = ExportNext();
      break;
    case sync::DdeMessage::kEnd:
      reply = End();
      break;
    case sync::DdeMessage::kExchangeFolder:
      reply = SetExchangeFolder(command.strings[0]);
      break;
    case sync::DdeMessage::kProtocolVersion:
      reply = sync::kDdeProtocolVersion;
      break;
    case sync::DdeMessage::kReply:
      LogBridge(LogLevel::kWarning, "a reply block came in as a command; it gets no reply");
      return std::nullopt;
  }
  return sync::BuildDdeReply(reply);
}

std::int32_t BridgeSession::Start() {
  list_.clear();
  std::vector<TBDatabase> open;
  if (Status status = host_.OpenDatabases(&open); !status.ok()) {
    LogBridge(LogLevel::kError, "the databases could not be gathered: " + status.message());
    return kReplyFailed;
  }
  std::vector<ListedDatabase> listed;
  for (TBDatabase db : open) {
    if ((host_.SyncFlags(db) & kFlagListedForHandheld) == 0) continue;
    ListedDatabase entry;
    entry.db = db;
    if (Status status = host_.DatabaseName(db, &entry.name); !status.ok()) {
      LogBridge(LogLevel::kError, "the databases could not be gathered: " + status.message());
      return kReplyFailed;
    }
    listed.push_back(std::move(entry));
  }
  list_ = std::move(listed);
  LogBridge(LogLevel::kInfo,
            "a synchronisation starts with " + std::to_string(list_.size()) + " database(s)");
  return kReplyDone;
}

std::int32_t BridgeSession::WhichDatabase(const std::string& exchangeName) const {
  const std::string name = form_.ToHost(exchangeName);
  for (std::size_t i = 0; i < list_.size(); ++i) {
    if (list_[i].name == name) return static_cast<std::int32_t>(i);
  }
  return kReplyNotListed;
}

BridgeSession::ListedDatabase* BridgeSession::Listed(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list_.size()) {
    LogBridge(LogLevel::kError, "there is no listed database number " + std::to_string(index));
    return nullptr;
  }
  ListedDatabase& entry = list_[static_cast<std::size_t>(index)];
  if (!host_.IsOpen(entry.db)) {
    LogBridge(LogLevel::kError, "the database \"" + entry.name + "\" was closed in Tabulon Pro");
    return nullptr;
  }
  return &entry;
}

bool BridgeSession::Export(ListedDatabase& entry) {
  const SyncContext context{host_, form_, codePage_};
  const Status status = ExportDatabase(context, entry.db, folder_);
  entry.exported = true;
  if (!status.ok()) {
    LogBridge(LogLevel::kError,
              "the copy of \"" + entry.name + "\" could not be written: " + status.message());
    return false;
  }
  LogBridge(LogLevel::kInfo, "the copy of \"" + entry.name + "\" was written");
  return true;
}

std::int32_t BridgeSession::MergeAndExport(std::int32_t index) {
  // A copy left from another database must never be taken for this one.
  const std::string copy = (std::filesystem::path(folder_) / kDesktopCopyFile).string();
  if (std::remove(copy.c_str()) != 0 && errno != ENOENT) {
    LogBridge(LogLevel::kError, "cannot remove " + copy + ": " + std::strerror(errno));
    return kMergeStatusFailed;
  }
  ListedDatabase* entry = Listed(index);
  if (entry == nullptr) return kMergeStatusFailed;

  const SyncContext context{host_, form_, codePage_};
  MergeOutcome outcome = MergeDatabase(context, entry->db, folder_);
  // Handled in this conversation whatever came of it: the next-database
  // export must not offer it to the handheld as a database it lacks.
  entry->merged = true;
  if (outcome.status == kMergeStatusDone && !Export(*entry)) {
    outcome.status = kMergeStatusFailed;
  }
  LogBridge(outcome.status == kMergeStatusDone ? LogLevel::kInfo : LogLevel::kError,
            "\"" + entry->name + "\" merged with status " + std::to_string(outcome.status) +
                " and flags " + std::to_string(outcome.flags));
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(outcome.flags) << 16 |
                                   outcome.status);
}

std::int32_t BridgeSession::ExportNext() {
  for (std::size_t i = 0; i < list_.size(); ++i) {
    if (list_[i].merged || list_[i].exported) continue;
    ListedDatabase* entry = Listed(static_cast<std::int32_t>(i));
    if (entry == nullptr) {
      list_[i].exported = true;
      return kReplyFailed;
    }
    return Export(*entry) ? kReplyDone : kReplyFailed;
  }
  return kReplyNoneLeft;
}

std::int32_t BridgeSession::End() {
  const std::string copy = (std::filesystem::path(folder_) / kDesktopCopyFile).string();
  if (std::remove(copy.c_str()) != 0 && errno != ENOENT) {
    LogBridge(LogLevel::kError, "cannot delete " + copy + ": " + std::strerror(errno));
    return kReplyFailed;
  }
  LogBridge(LogLevel::kInfo, "the synchronisation ended");
  return kReplyDone;
}

std::int32_t BridgeSession::SetExchangeFolder(const std::string& ansiPath) {
  std::u16string path;
  if (Status status = codePage_.ToUtf16(ansiPath, &path); !status.ok()) {
    LogBridge(LogLevel::kError, "the exchange folder's path does not convert: " + status.message());
    return kReplyFailed;
  }
  folder_ = path.empty() ? temporaryFolder_ : Utf16ToUtf8(path);
  LogBridge(LogLevel::kInfo, "the exchange folder is " + folder_);
  return kReplyDone;
}

}  // namespace tbm::bridge
