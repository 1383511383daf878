#include "HandheldAgent.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ExchangeFile.h"
#include "FileTypes.h"
#include "HostErrors.h"
#include "Rapi.h"
#include "UniqueFd.h"
#include "Utf16.h"

namespace tbm::desksync {
namespace {

constexpr char16_t kObjectTypeKey[] =
    u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile";
constexpr char16_t kStoreValue[] = u"Store";
constexpr DWORD kStoreBytes = 520;
constexpr char16_t kAgentLibrary[] = u"\\TBMSYNBKCE.dll";
constexpr char16_t kChangesOnHandheld[] = u"TBSC.sdb";

// The desktop's copy goes to the agent in blocks of this size.
constexpr std::size_t kCopyBlockBytes = 1000;
// The handheld's changes come in pieces of at most this size.
constexpr DWORD kChangesPieceBytes = 1024 * 1024;

std::string Hex(HRESULT value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// Why a remote call failed: the connection's words when it did not reach
// the handheld, otherwise the handheld's error.
std::string RemoteFailure(HRESULT result) {
  if (FAILED(CeRapiGetError())) return rapi::RapiFailureText();
  const auto error = static_cast<DWORD>(result) & 0xFFFF;
  return std::string(DescribeError(error)) + " (" + Hex(result) + ")";
}

Status RemoteStatus(const std::string& what, HRESULT result) {
  return Status(StatusCode::kFailed, what + ": " + RemoteFailure(result),
                static_cast<std::uint32_t>(result));
}

// The handheld's error after a failed file call.
Status HandheldFileFailure(const std::string& what) {
  if (FAILED(CeRapiGetError())) {
    return Status(StatusCode::kFailed, what + ": " + rapi::RapiFailureText());
  }
  const DWORD error = CeGetLastError();
  return PlatformFailure(error, what + " on the handheld: " + DescribeError(error));
}

}  // namespace

AgentConversation::AgentConversation(IRAPIStream* stream)
    : stream_(stream),
      source_(std::make_unique<sync::StreamSource>(stream)),
      sink_(std::make_unique<sync::StreamSink>(stream)) {}

AgentConversation::~AgentConversation() = default;

sync::ByteSource& AgentConversation::fromAgent() { return *source_; }
sync::ByteSink& AgentConversation::toAgent() { return *sink_; }

void AgentConversation::Release() { stream_.reset(); }

Status AgentConversation::SendFile(const std::string& path, std::uint64_t* sent) {
  if (sent != nullptr) *sent = 0;
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) {
    const DWORD error = ErrorFromErrno(errno, path);
    return PlatformFailure(error, "cannot read " + path + ": " + DescribeError(error));
  }
  std::uint8_t block[kCopyBlockBytes];
  for (;;) {
    const ssize_t got = ::read(file.get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const DWORD error = ErrorFromErrno(errno, path);
      return PlatformFailure(error, "cannot read " + path + ": " + DescribeError(error));
    }
    if (got == 0) return Status();
    const auto size = static_cast<std::size_t>(got);
    if (sink_->Write(block, size) != size) {
      return Status(StatusCode::kWriteFailed,
                    "the copy could not be sent to the handheld: " + sink_->FailureReason());
    }
    if (sent != nullptr) *sent += size;
  }
}

Status HandheldAgent::Locate(std::unique_ptr<HandheldAgent>* agent) {
  const std::string where =
      "the handheld's registration of Tabulon Mobile (HKEY_LOCAL_MACHINE\\Windows CE "
      "Services\\synchronization\\objects\\Tabulon Mobile, \"Store\")";
  HKEY key = nullptr;
  LONG rc = CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, kObjectTypeKey, 0, KEY_READ, &key);
  WCHAR store[kStoreBytes / sizeof(WCHAR)] = {};
  DWORD type = REG_NONE;
  DWORD bytes = kStoreBytes;
  if (rc == ERROR_SUCCESS) {
    rc =
        CeRegQueryValueEx(key, kStoreValue, nullptr, &type, reinterpret_cast<BYTE*>(store), &bytes);
    CeRegCloseKey(key);
  }
  if (rc == ERROR_FILE_NOT_FOUND) {
    return Status(StatusCode::kNotFound,
                  where + " is missing; install Tabulon Mobile on the handheld again");
  }
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return Status(StatusCode::kDamaged,
                  where + " cannot be read: " +
                      (rc != ERROR_SUCCESS ? std::string(DescribeError(static_cast<DWORD>(rc)))
                                           : std::string("it is not text")));
  }
  store[kStoreBytes / sizeof(WCHAR) - 1] = u'\0';
  const std::u16string provider(store);
  const std::size_t cut = provider.rfind(u'\\');
  if (cut == std::u16string::npos) {
    return Status(StatusCode::kDamaged, where + " names no folder (\"" + Utf16ToUtf8(provider) +
                                            "\"); install Tabulon Mobile on the handheld again");
  }
  agent->reset(new HandheldAgent(provider.substr(0, cut) + kAgentLibrary));
  return Status();
}

Status HandheldAgent::Call(const char16_t* function, HRESULT* answer) {
  const HRESULT rc =
      CeRapiInvoke(path_.c_str(), function, 0, nullptr, nullptr, nullptr, nullptr, 0);
  *answer = rc;
  if (FAILED(rc) && FAILED(CeRapiGetError())) {
    return RemoteStatus("the handheld's agent could not be called (" + Utf16ToUtf8(function) + ")",
                        rc);
  }
  return Status();
}

Status HandheldAgent::StartSync(HRESULT* answer) {
  if (Status s = Call(u"StartSync", answer); !s.ok()) return s;
  if (*answer == 0 || *answer == 1) return Status();
  return RemoteStatus(
      "the handheld's agent " + Utf16ToUtf8(path_) + " did not start the synchronisation", *answer);
}

Status HandheldAgent::EndSync() {
  HRESULT answer = S_OK;
  if (Status s = Call(u"EndSync", &answer); !s.ok()) return s;
  if (answer == 0) return Status();
  return RemoteStatus("the handheld's agent did not end the synchronisation", answer);
}

Status HandheldAgent::Open(const char16_t* function, std::uint8_t* input, DWORD inputBytes,
                           IRAPIStream** stream) {
  *stream = nullptr;
  const HRESULT rc =
      CeRapiInvoke(path_.c_str(), function, inputBytes, input, nullptr, nullptr, stream, 0);
  if (FAILED(rc) || *stream == nullptr) {
    if (*stream != nullptr) (*stream)->Release();
    *stream = nullptr;
    return RemoteStatus("the handheld's agent " + Utf16ToUtf8(path_) + " could not be called (" +
                            Utf16ToUtf8(function) + ")",
                        FAILED(rc) ? rc : E_FAIL);
  }
  return Status();
}

Status HandheldAgent::FindFiles(std::vector<sync::DatabaseListEntry>* databases) {
  IRAPIStream* stream = nullptr;
  if (Status s = Open(u"FindFiles", nullptr, 0, &stream); !s.ok()) return s;
  AgentConversation conversation(stream);
  sync::DatabaseListAnswer answer;
  if (Status s = sync::ReadDatabaseListAnswer(conversation.fromAgent(), &answer); !s.ok()) {
    return s.WithContext("the handheld's list of databases did not come whole");
  }
  if (!answer.engineStarted) {
    return Status(StatusCode::kFailed,
                  "the handheld could not list its databases: its database engine did not start");
  }
  *databases = std::move(answer.databases);
  return Status();
}

Status HandheldAgent::OpenSyncDatabase(sync::SyncDatabaseMode mode,
                                       std::unique_ptr<AgentConversation>* conversation) {
  std::array<std::uint8_t, sync::kSyncDatabaseInputBytes> input =
      sync::WriteSyncDatabaseInput(mode);
  IRAPIStream* stream = nullptr;
  if (Status s = Open(u"SyncDatabase", input.data(), static_cast<DWORD>(input.size()), &stream);
      !s.ok()) {
    return s;
  }
  *conversation = std::make_unique<AgentConversation>(stream);
  return Status();
}

Status CopyHandheldChanges(const std::string& localPath, std::uint64_t* bytes) {
  *bytes = 0;
  WCHAR temp[MAX_PATH] = {};
  const DWORD length = CeGetTempPath(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) {
    return HandheldFileFailure("the handheld's temporary folder cannot be found");
  }
  const std::u16string remote = std::u16string(temp, length) + kChangesOnHandheld;
  const HANDLE file = CeCreateFile(remote.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return HandheldFileFailure("the handheld's changes (" + Utf16ToUtf8(remote) +
                               ") cannot be opened");
  }
  DWORD high = 0;
  const DWORD low = CeGetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && (FAILED(CeRapiGetError()) || CeGetLastError() != ERROR_SUCCESS)) {
    Status failed = HandheldFileFailure("the size of the handheld's changes cannot be read");
    CeCloseHandle(file);
    return failed;
  }
  const std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;
  sync::HostFileSink local(localPath);
  std::vector<std::uint8_t> piece(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kChangesPieceBytes)));
  std::uint64_t copied = 0;
  Status status = local.ok() ? Status()
                             : Status(StatusCode::kIoFailed,
                                      "cannot make " + localPath + ": " + local.FailureReason());
  while (status.ok() && copied < size) {
    const auto want = static_cast<DWORD>(std::min<std::uint64_t>(size - copied, piece.size()));
    DWORD read = 0;
    if (!CeReadFile(file, piece.data(), want, &read, nullptr)) {
      status = HandheldFileFailure("the handheld's changes cannot be read");
    } else if (read == 0) {
      status = Status(StatusCode::kTruncated, "the handheld's changes ended after " +
                                                  std::to_string(copied) + " of " +
                                                  std::to_string(size) + " bytes");
    } else if (local.Write(piece.data(), read) != read) {
      status =
          Status(StatusCode::kIoFailed, "cannot write " + localPath + ": " + local.FailureReason());
    } else {
      copied += read;
    }
  }
  CeCloseHandle(file);
  if (!local.Close() && status.ok()) {
    status =
        Status(StatusCode::kIoFailed, "cannot write " + localPath + ": " + local.FailureReason());
  }
  if (!status.ok()) return status;
  *bytes = copied;
  return Status();
}

Status CheckHandheldChanges(const std::string& localPath) {
  sync::HostFileSource source(localPath);
  if (!source.ok()) {
    return Status(StatusCode::kIoFailed,
                  "cannot read " + localPath + ": " + source.FailureReason());
  }
  sync::ExchangeReader reader(source);
  sync::ExchangeLayout layout;
  if (Status s = reader.ReadLayout(&layout); !s.ok()) return s;
  if (layout.valueListCount > 0) {
    std::vector<std::string> lists;
    if (Status s = reader.ReadValueLists(&lists); !s.ok()) return s;
  }
  while (reader.recordsLeft() > 0) {
    sync::ExchangeRecord record;
    if (Status s = reader.ReadRecord(&record); !s.ok()) return s;
  }
  return Status();
}

}  // namespace tbm::desksync
