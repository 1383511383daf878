#include "HostCalls.h"

#include "SyncSettings.h"

namespace tbm::bridge {
namespace {

constexpr std::int32_t kFirstBufferBytes = 1024;
constexpr std::int32_t kMaxTextBytes = 64 * 1024 * 1024;
constexpr int kReadAttempts = 3;

const char* ResultWords(std::int32_t result) {
  switch (result) {
    case TB_ERR_NOT_FOUND:
      return "not found";
    case TB_ERR_UNCONVERTIBLE:
      return "a text does not convert";
    case TB_ERR_BAD_ARGUMENT:
      return "an argument was refused";
    case TB_ERR_NO_RECORD:
      return "no record is current";
    case TB_ERR_NOT_EDITING:
      return "a write outside an edit";
    default:
      return "the host could not do it";
  }
}

}  // namespace

Status HostCalls::Failure(const std::string& doing, std::int32_t result) const {
  std::string words = ResultWords(result);
  if (services_.lastError != nullptr) {
    const char* host = services_.lastError();
    if (host != nullptr && *host != '\0') words += std::string(" (") + host + ")";
  }
  const StatusCode code = result == TB_ERR_NOT_FOUND ? StatusCode::kNotFound : StatusCode::kFailed;
  return Status(code, doing + ": " + words);
}

Status HostCalls::Check(const std::string& doing, std::int32_t result) const {
  return result >= 0 ? Status() : Failure(doing, result);
}

Status HostCalls::OpenDatabases(std::vector<TBDatabase>* databases) const {
  const std::int32_t count = services_.countDatabases();
  if (count < 0) return Failure("counting the open databases", count);
  std::vector<TBDatabase> open;
  for (std::int32_t i = 0; i < count; ++i) {
    TBDatabase db = services_.database(i);
    if (db == nullptr) {
      return Status(StatusCode::kFailed, "the host gave no database for number " +
                                             std::to_string(i + 1) + " of " +
                                             std::to_string(count));
    }
    open.push_back(db);
  }
  *databases = std::move(open);
  return Status();
}

bool HostCalls::IsOpen(TBDatabase db) const {
  std::vector<TBDatabase> open;
  if (db == nullptr || !OpenDatabases(&open).ok()) return false;
  for (TBDatabase candidate : open) {
    if (candidate == db) return true;
  }
  return false;
}

Status HostCalls::ReadWhole(const std::function<std::string()>& doing,
                            const std::function<std::int32_t(char*, std::int32_t)>& call,
                            std::string* text) const {
  // Most texts fit the first buffer, which costs no allocation.
  char first[kFirstBufferBytes];
  std::vector<char> larger;
  char* buffer = first;
  std::int32_t size = kFirstBufferBytes;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const std::int32_t length = call(buffer, size);
    if (length < 0) return Failure(doing(), length);
    if (length < size) {
      text->assign(buffer, static_cast<std::size_t>(length));
      return Status();
    }
    if (length >= kMaxTextBytes) {
      return Status(StatusCode::kBadLength, doing() + ": the host says the text has " +
                                                std::to_string(length) + " bytes, more than " +
                                                std::to_string(kMaxTextBytes) + " allowed");
    }
    larger.assign(static_cast<std::size_t>(length) + 1, '\0');
    buffer = larger.data();
    size = length + 1;
  }
  return Status(StatusCode::kFailed, doing() + ": the text kept changing while it was read");
}

Status HostCalls::DatabaseName(TBDatabase db, std::string* name) const {
  return ReadWhole(
      [] { return std::string("reading a database's name"); },
      [&](char* buffer, std::int32_t size) { return services_.databaseName(db, buffer, size); },
      name);
}

Status HostCalls::FieldName(TBDatabase db, std::int32_t field, std::string* name) const {
  return ReadWhole(
      [field] { return "reading the name of field " + std::to_string(field + 1); },
      [&](char* buffer, std::int32_t size) { return services_.fieldName(db, field, buffer, size); },
      name);
}

Status HostCalls::FieldText(TBDatabase db, std::int32_t field, std::string* text) const {
  return ReadWhole([field] { return "reading the text of field " + std::to_string(field + 1); },
                   [&](char* buffer, std::int32_t size) {
                     return services_.readFieldText(db, field, buffer, size);
                   },
                   text);
}

Status HostCalls::ValueListName(TBDatabase db, std::int32_t index, std::string* name) const {
  return ReadWhole(
      [index] { return "reading the name of value list " + std::to_string(index + 1); },
      [&](char* buffer, std::int32_t size) {
        return services_.valueListName(db, index, buffer, size);
      },
      name);
}

Status HostCalls::ValueListText(TBDatabase db, const std::string& name, std::string* text,
                                bool* found) const {
  Status status = ReadWhole([&name] { return "reading the value list \"" + name + "\""; },
                            [&](char* buffer, std::int32_t size) {
                              return services_.valueListText(db, name.c_str(), buffer, size);
                            },
                            text);
  *found = status.ok();
  if (status.code() == StatusCode::kNotFound) {
    text->clear();
    return Status();
  }
  return status;
}

Status HostCalls::ReadPluginData(TBDatabase db, std::uint32_t key, std::vector<std::uint8_t>* bytes,
                                 bool* present) const {
  std::vector<std::uint8_t> buffer(sync::kSyncSettingsBytes);
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const auto size = static_cast<std::int32_t>(buffer.size());
    const std::int32_t length = services_.readPluginData(db, key, buffer.data(), size);
    if (length == TB_ERR_NOT_FOUND) {
      bytes->clear();
      *present = false;
      return Status();
    }
    if (length < 0) return Failure("reading the plug-in's settings", length);
    if (length <= size) {
      buffer.resize(static_cast<std::size_t>(length));
      *bytes = std::move(buffer);
      *present = true;
      return Status();
    }
    if (length >= kMaxTextBytes) {
      return Status(StatusCode::kBadLength, "the host says the plug-in's settings have " +
                                                std::to_string(length) + " bytes");
    }
    buffer.assign(static_cast<std::size_t>(length), 0);
  }
  return Status(StatusCode::kFailed, "the plug-in's settings kept changing while they were read");
}

Status HostCalls::WritePluginData(TBDatabase db, std::uint32_t key,
                                  const std::vector<std::uint8_t>& bytes) const {
  return Check(
      "storing the plug-in's settings",
      services_.writePluginData(db, key, bytes.data(), static_cast<std::int32_t>(bytes.size())));
}

Status HostCalls::FieldByKey(TBDatabase db, const std::string& key,
                             std::optional<std::int32_t>* field) const {
  const TBFieldKey hostKey = ToHostFieldKey(key);
  const std::int32_t result = services_.fieldByKey(db, &hostKey);
  if (result == TB_ERR_NOT_FOUND) {
    field->reset();
    return Status();
  }
  if (result < 0) return Failure("finding a field by its key", result);
  *field = result;
  return Status();
}

static_assert(sizeof(TBFieldKey::bytes) == sync::kFieldKeySlotBytes);

TBFieldKey ToHostFieldKey(const std::string& key) {
  TBFieldKey hostKey{};
  sync::PutFieldKey(hostKey.bytes, key);
  return hostKey;
}

bool FromHostFieldKey(const TBFieldKey& hostKey, std::string* key) {
  return sync::GetFieldKey(hostKey.bytes, key);
}

}  // namespace tbm::bridge
