#include "DesktopConversation.h"

#include <cstring>

#include "LittleEndian.h"

namespace tbm::sync {

namespace {

constexpr std::uint32_t kEngineStartedWord = 1;
constexpr std::uint32_t kEngineNotStartedWord = 0;
constexpr std::uint32_t kChangesReadyWord = 0;
constexpr std::uint32_t kTakeDesktopCopyWord = 0;
constexpr std::uint32_t kKeepHandheldDataWord = 1;
constexpr std::uint16_t kCreationMadeWord = 0;
constexpr std::uint16_t kCreationFailedWord = 1;

// Hands all of bytes to sink and flushes it; `what` names the message.
Status Send(ByteSink& sink, const void* bytes, std::size_t size, const char* what) {
  if (sink.Write(bytes, size) == size && sink.Flush()) return Status();
  std::string message = std::string(what) + " could not be sent";
  const std::string reason = sink.FailureReason();
  if (!reason.empty()) message += ": " + reason;
  return Status(StatusCode::kWriteFailed, std::move(message));
}

Status SendWord(ByteSink& sink, std::uint32_t word, const char* what) {
  std::uint8_t bytes[4];
  StoreU32(bytes, word);
  return Send(sink, bytes, sizeof bytes, what);
}

// Takes exactly size bytes from source.
Status Receive(ByteSource& source, void* buffer, std::size_t size, const char* what) {
  return ReadExactly(source, buffer, size, "stream", what);
}

Status ReceiveWord(ByteSource& source, std::uint32_t* word, const char* what) {
  std::uint8_t bytes[4];
  if (Status s = Receive(source, bytes, sizeof bytes, what); !s.ok()) return s;
  *word = LoadU32(bytes);
  return Status();
}

Status UnknownWord(std::uint32_t word, const char* what) {
  return Status(StatusCode::kCorrupt,
                std::string(what) + " is " + std::to_string(word) + ", not a value it can have");
}

}  // namespace

std::array<std::uint8_t, kSyncDatabaseInputBytes> WriteSyncDatabaseInput(SyncDatabaseMode mode) {
  return {static_cast<std::uint8_t>(mode), 0, 0, 0};
}

Status ReadSyncDatabaseInput(std::span<const std::uint8_t> input, SyncDatabaseMode* mode) {
  if (input.size() != kSyncDatabaseInputBytes) {
    return Status(
        input.size() < kSyncDatabaseInputBytes ? StatusCode::kTruncated : StatusCode::kBadLength,
        "the synchronisation's input is " + std::to_string(input.size()) + " bytes long, not " +
            std::to_string(kSyncDatabaseInputBytes));
  }
  *mode = input[0] == 0 ? SyncDatabaseMode::kSynchronise : SyncDatabaseMode::kCreate;
  return Status();
}

Status WriteDatabaseListAnswer(ByteSink& sink, const DatabaseListAnswer& answer) {
  if (!answer.engineStarted) {
    return SendWord(sink, kEngineNotStartedWord, "the word that the database engine did not start");
  }
  const std::optional<std::vector<std::uint8_t>> list = EncodeDatabaseList(answer.databases);
  if (!list) {
    return Status(StatusCode::kInvalidArgument,
                  "the database list cannot hold these " + std::to_string(answer.databases.size()) +
                      " databases (at most 50, names of at most 259 bytes and paths of at most "
                      "259 characters)");
  }
  if (Status s = SendWord(sink, kEngineStartedWord, "the word in front of the database list");
      !s.ok()) {
    return s;
  }
  return Send(sink, list->data(), list->size(), "the database list");
}

Status ReadDatabaseListAnswer(ByteSource& source, DatabaseListAnswer* answer) {
  std::uint32_t word = 0;
  if (Status s = ReceiveWord(source, &word, "the word in front of the database list"); !s.ok()) {
    return s;
  }
  if (word == kEngineNotStartedWord) {
    *answer = DatabaseListAnswer{};
    return Status();
  }
  if (word != kEngineStartedWord)
    return UnknownWord(word, "the word in front of the database list");
  std::vector<std::uint8_t> bytes(kDatabaseListBytes);
  if (Status s = Receive(source, bytes.data(), bytes.size(), "the database list"); !s.ok()) {
    return s;
  }
  std::optional<std::vector<DatabaseListEntry>> entries =
      DecodeDatabaseList(bytes.data(), bytes.size());
  if (!entries) {
    return Status(StatusCode::kBadCount,
                  "the database list says it holds " + std::to_string(LoadU16(bytes.data())) +
                      " databases; it holds at most " + std::to_string(kDatabaseListEntries));
  }
  answer->engineStarted = true;
  answer->databases = std::move(*entries);
  return Status();
}

Status WriteDatabaseToSynchronise(ByteSink& sink, std::string_view name) {
  if (name.size() + 1 > kDatabaseToSynchroniseBytes) {
    return Status(StatusCode::kBadLength, "the database name is " + std::to_string(name.size()) +
                                              " bytes long; the handheld takes at most " +
                                              std::to_string(kDatabaseToSynchroniseBytes - 1));
  }
  if (name.find('\0') != std::string_view::npos) {
    return Status(StatusCode::kInvalidArgument, "the database name holds a NUL character");
  }
  std::vector<std::uint8_t> bytes(4 + name.size() + 1, 0);
  StoreU32(bytes.data(), static_cast<std::uint32_t>(name.size() + 1));
  std::memcpy(bytes.data() + 4, name.data(), name.size());
  return Send(sink, bytes.data(), bytes.size(), "the name of the database to synchronise");
}

Status ReadDatabaseToSynchronise(ByteSource& source, std::string* name) {
  std::uint32_t word = 0;
  if (Status s = ReceiveWord(source, &word, "the length of the database name"); !s.ok()) return s;
  const auto length = static_cast<std::int32_t>(word);
  if (length < 1 || length > static_cast<std::int32_t>(kDatabaseToSynchroniseBytes)) {
    return Status(StatusCode::kBadLength, "the database name is said to be " +
                                              std::to_string(length) +
                                              " bytes long with its NUL; it is 1 to " +
                                              std::to_string(kDatabaseToSynchroniseBytes));
  }
  std::string bytes(static_cast<std::size_t>(length), '\0');
  if (Status s = Receive(source, bytes.data(), bytes.size(), "the database name"); !s.ok()) {
    return s;
  }
  bytes.resize(std::strlen(bytes.c_str()));
  *name = std::move(bytes);
  return Status();
}

Status WriteChangesReady(ByteSink& sink) {
  return SendWord(sink, kChangesReadyWord, "the word that the handheld's changes are ready");
}

Status ReadChangesReady(ByteSource& source) {
  const char* what = "the word that the handheld's changes are ready";
  std::uint32_t word = 0;
  if (Status s = ReceiveWord(source, &word, what); !s.ok()) return s;
  if (word != kChangesReadyWord) return UnknownWord(word, what);
  return Status();
}

Status WriteDesktopDecision(ByteSink& sink, DesktopDecision decision) {
  return SendWord(
      sink,
      decision == DesktopDecision::kTakeDesktopCopy ? kTakeDesktopCopyWord : kKeepHandheldDataWord,
      "the desktop's decision");
}

Status ReadDesktopDecision(ByteSource& source, DesktopDecision* decision) {
  std::uint32_t word = 0;
  if (Status s = ReceiveWord(source, &word, "the desktop's decision"); !s.ok()) return s;
  // Only the low 16 bits carry the decision.
  *decision = (word & 0xFFFF) == kTakeDesktopCopyWord ? DesktopDecision::kTakeDesktopCopy
                                                      : DesktopDecision::kKeepHandheldData;
  return Status();
}

Status WriteCopyNameEcho(ByteSink& sink, std::string_view name) {
  if (name.size() > kCopyNameEchoBytes) {
    return Status(StatusCode::kBadLength, "the copy's database name is " +
                                              std::to_string(name.size()) +
                                              " bytes long; a counted string holds at most " +
                                              std::to_string(kCopyNameEchoBytes));
  }
  std::vector<std::uint8_t> bytes(4 + 1 + name.size());
  StoreU32(bytes.data(), static_cast<std::uint32_t>(name.size() + 1));
  bytes[4] = static_cast<std::uint8_t>(name.size());
  std::memcpy(bytes.data() + 5, name.data(), name.size());
  return Send(sink, bytes.data(), bytes.size(), "the copy's database name");
}

Status ReadCopyNameEcho(ByteSource& source, std::string* name) {
  std::uint32_t word = 0;
  if (Status s = ReceiveWord(source, &word, "the length of the copy's database name"); !s.ok()) {
    return s;
  }
  const auto length = static_cast<std::int32_t>(word);
  // The handheld stopped before it read the copy's name and sent its count
  // of unchanged records (0) straight away.
  if (length == 0) {
    return Status(StatusCode::kFailed,
                  "the handheld did not take the desktop's copy (its synchronisation log says "
                  "why)");
  }
  if (length < 1 || length > static_cast<std::int32_t>(kCopyNameEchoBytes + 1)) {
    return Status(StatusCode::kBadLength, "the copy's database name is said to take " +
                                              std::to_string(length) +
                                              " bytes with its length byte; it takes 1 to " +
                                              std::to_string(kCopyNameEchoBytes + 1));
  }
  std::string bytes(static_cast<std::size_t>(length), '\0');
  if (Status s = Receive(source, bytes.data(), bytes.size(), "the copy's database name"); !s.ok()) {
    return s;
  }
  const auto counted = static_cast<std::uint8_t>(bytes[0]);
  if (counted + 1 != length) {
    return Status(StatusCode::kBadCountedString,
                  "the copy's database name says it is " + std::to_string(counted) +
                      " bytes long in a message of " + std::to_string(length - 1));
  }
  *name = bytes.substr(1);
  return Status();
}

Status WriteUnchangedRecordCount(ByteSink& sink, std::int32_t count) {
  if (count < 0) {
    return Status(StatusCode::kBadCount,
                  "the count of unchanged records is negative (" + std::to_string(count) + ")");
  }
  return SendWord(sink, static_cast<std::uint32_t>(count), "the count of unchanged records");
}

Status ReadUnchangedRecordCount(ByteSource& source, std::int32_t* count) {
  std::uint32_t word = 0;
  if (Status s = ReceiveWord(source, &word, "the count of unchanged records"); !s.ok()) return s;
  const auto value = static_cast<std::int32_t>(word);
  if (value < 0) {
    return Status(StatusCode::kBadCount,
                  "the count of unchanged records is negative (" + std::to_string(value) + ")");
  }
  *count = value;
  return Status();
}

Status WriteCreationOutcome(ByteSink& sink, bool made) {
  std::uint8_t bytes[2];
  StoreU16(bytes, made ? kCreationMadeWord : kCreationFailedWord);
  return Send(sink, bytes, sizeof bytes, "the word whether the database was made");
}

Status ReadCreationOutcome(ByteSource& source, bool* made) {
  const char* what = "the word whether the database was made";
  std::uint8_t bytes[2];
  if (Status s = Receive(source, bytes, sizeof bytes, what); !s.ok()) return s;
  const std::uint16_t word = LoadU16(bytes);
  if (word != kCreationMadeWord && word != kCreationFailedWord) return UnknownWord(word, what);
  *made = word == kCreationMadeWord;
  return Status();
}

}  // namespace tbm::sync
