// The database-volume calls on the handheld's side: each request's
// arguments are taken apart, the store call of CeDb.h is made, and its
// results, or its failure with the store's last error, go back.
#include "DeviceStore.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "CeDb.h"
#include "DevicePath.h"
#include "RapiDb.h"
#include "Utf16.h"

namespace tbm::devicelink {
namespace {

using rapi::PayloadReader;
using rapi::PayloadWriter;
using rapi::RapiCall;

// The largest buffer a desktop's read may claim: more than any record
// needs (CEDB_MAXRECORDSIZE of data and a CEPROPVAL for each property).
constexpr std::uint32_t kMaxReadBuffer = rapi::kMaxPayloadBytes;

// A volume the desktop mounted, and the batches it has open on it. Ending
// (the desktop unmounted, or the connection ended) gives up the batches
// still open, then releases the mount.
class MountedVolume : public OpenObject {
 public:
  explicit MountedVolume(const CEGUID& guid) : guid_(guid) {}
  ~MountedVolume() override {
    for (; openBatches > 0; --openBatches) StoreEndBatch(&guid_, FALSE);
    CeUnmountDBVol(&guid_);
  }
  CEGUID* guid() { return &guid_; }
  int openBatches = 0;

 private:
  CEGUID guid_;
};

// A database the desktop opened; the desktop closes it with CeCloseHandle,
// which closes any handle number.
class OpenStoreDatabase : public OpenObject {
 public:
  explicit OpenStoreDatabase(HANDLE handle) : handle_(handle) {}
  ~OpenStoreDatabase() override { CeCloseHandle(handle_); }
  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_;
};

// The store's failure of this thread's last call, kept for CeGetLastError.
std::vector<std::uint8_t> StoreFailed(ConnectionState& state, const char* what) {
  const DWORD error = GetLastError();
  return Failed(state, error == ERROR_SUCCESS ? ERROR_INTERNAL_ERROR : error,
                std::string(what) + " (" + StoreLastMessage() + ")");
}

std::vector<std::uint8_t> NotOpen(ConnectionState& state, std::uint16_t call, const char* kind,
                                  std::uint32_t number) {
  return Failed(state, ERROR_INVALID_HANDLE,
                rapi::CallName(call) + " names " + kind + " " + std::to_string(number) +
                    " that this connection has not open");
}

std::vector<std::uint8_t> Done() { return PayloadWriter().I32(S_OK).Take(); }

std::vector<std::uint8_t> Mount(PayloadReader& reader, ConnectionState& state) {
  std::u16string path;
  std::uint32_t disposition = 0;
  if (!reader.String(&path, MAX_PATH) || !reader.U32(&disposition) || !reader.End()) {
    return Malformed(reader, static_cast<std::uint16_t>(RapiCall::kMountDBVol));
  }
  // Only handheld paths: a host path would reach outside the device root.
  if (path.find(u'/') != std::u16string::npos) {
    return Failed(state, ERROR_ACCESS_DENIED,
                  "the volume path '" + Utf16ToUtf8(path) + "' is not a path on the handheld");
  }
  const MappedPath mapped = HostPathFromDevicePath(path);
  if (!mapped) {
    return Failed(state, mapped.error,
                  "the volume path '" + Utf16ToUtf8(path) + "' cannot be used on the handheld");
  }
  CEGUID guid{};
  const std::u16string hostPath = Utf8ToUtf16(mapped.hostPath);
  if (!CeMountDBVol(&guid, hostPath.c_str(), disposition)) {
    return StoreFailed(state, ("the volume '" + Utf16ToUtf8(path) + "' cannot be mounted").c_str());
  }
  const std::uint32_t volume = state.Keep(std::make_unique<MountedVolume>(guid));
  return PayloadWriter().I32(S_OK).U32(volume).Take();
}

std::vector<std::uint8_t> Read(PayloadReader& reader, ConnectionState& state, HANDLE db) {
  std::uint32_t flags = 0;
  std::uint16_t all = 0;
  std::uint16_t count = 0;
  std::vector<CEPROPID> ids;
  std::uint32_t capacity = 0;
  const auto call = static_cast<std::uint16_t>(RapiCall::kReadRecordPropsEx);
  if (!reader.U32(&flags) || !reader.U16(&all) || !reader.U16(&count)) {
    return Malformed(reader, call);
  }
  ids.resize(count);
  for (CEPROPID& id : ids) {
    if (!reader.U32(&id)) return Malformed(reader, call);
  }
  if (!reader.U32(&capacity) || !reader.End()) return Malformed(reader, call);

  // The store decides as it would for a local caller with a buffer of the
  // desktop's size, so the insufficient-buffer answer and a handle that
  // moves on after each read behave the same.
  struct Free {
    void operator()(BYTE* p) const { std::free(p); }
  };
  std::unique_ptr<BYTE, Free> owned;
  DWORD bytes = std::min(capacity, kMaxReadBuffer);
  if (bytes > 0) {
    owned.reset(static_cast<BYTE*>(std::calloc(bytes, 1)));
    if (!owned) return Failed(state, ERROR_NOT_ENOUGH_MEMORY, "no memory for the record");
  }
  BYTE* buffer = owned.release();
  WORD read = count;
  const CEOID oid =
      CeReadRecordPropsEx(db, flags, &read, all ? nullptr : ids.data(), &buffer, &bytes, nullptr);
  owned.reset(buffer);
  if (oid == 0) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return StoreFailed(state, "the record cannot be read");
    }
    state.lastError = ERROR_INSUFFICIENT_BUFFER;
    return PayloadWriter().I32(S_OK).U32(0).U32(bytes).Take();
  }
  PayloadWriter reply;
  reply.I32(S_OK).U32(oid).U32(bytes).U16(read);
  if (Status status =
          rapi::WritePropertyValues(reply, reinterpret_cast<const CEPROPVAL*>(buffer), read);
      !status.ok()) {
    return Failed(state, ERROR_INVALID_DATA, "the record cannot be sent: " + status.message());
  }
  return reply.Take();
}

std::vector<std::uint8_t> Seek(PayloadReader& reader, ConnectionState& state, HANDLE db) {
  const auto call = static_cast<std::uint16_t>(RapiCall::kSeekDatabase);
  std::uint32_t seekType = 0;
  if (!reader.U32(&seekType)) return Malformed(reader, call);
  constexpr DWORD kValueSeeks = CEDB_SEEK_VALUESMALLER | CEDB_SEEK_VALUEFIRSTEQUAL |
                                CEDB_SEEK_VALUEGREATER | CEDB_SEEK_VALUENEXTEQUAL;
  std::vector<rapi::PropertyValue> key;
  std::vector<CEPROPVAL> keyVal;
  std::uint64_t value = 0;
  if (seekType & kValueSeeks) {
    if (Status status = rapi::ReadPropertyValues(reader, 1, &key); !status.ok()) {
      return FailureReply(E_INVALIDARG, "the arguments of " + rapi::CallName(call) +
                                            " are not well formed: " + status.message());
    }
    keyVal = rapi::AsPropVals(key);
    value = reinterpret_cast<std::uintptr_t>(keyVal.data());
  } else if (!reader.U64(&value)) {
    return Malformed(reader, call);
  }
  if (!reader.End()) return Malformed(reader, call);
  DWORD index = 0;
  const CEOID oid = CeSeekDatabase(db, seekType, static_cast<std::uintptr_t>(value), &index);
  if (oid == 0) return StoreFailed(state, "no record is there");
  return PayloadWriter().I32(S_OK).U32(oid).U32(index).Take();
}

std::vector<std::uint8_t> Write(PayloadReader& reader, ConnectionState& state, HANDLE db) {
  const auto call = static_cast<std::uint16_t>(RapiCall::kWriteRecordProps);
  CEOID oid = 0;
  std::uint16_t count = 0;
  if (!reader.U32(&oid) || !reader.U16(&count)) return Malformed(reader, call);
  std::vector<rapi::PropertyValue> values;
  if (Status status = rapi::ReadPropertyValues(reader, count, &values); !status.ok()) {
    return FailureReply(E_INVALIDARG, "the arguments of " + rapi::CallName(call) +
                                          " are not well formed: " + status.message());
  }
  if (!reader.End()) return Malformed(reader, call);
  std::vector<CEPROPVAL> props = rapi::AsPropVals(values);
  const CEOID written = CeWriteRecordProps(db, oid, count, props.data());
  if (written == 0) return StoreFailed(state, "the record cannot be written");
  return PayloadWriter().I32(S_OK).U32(written).Take();
}

std::vector<std::uint8_t> DatabaseCall(std::uint16_t call, PayloadReader& reader,
                                       ConnectionState& state) {
  std::uint32_t number = 0;
  if (!reader.U32(&number)) return Malformed(reader, call);
  auto* db = state.Find<OpenStoreDatabase>(number);
  if (db == nullptr) return NotOpen(state, call, "database handle", number);
  switch (static_cast<RapiCall>(call)) {
    case RapiCall::kSeekDatabase:
      return Seek(reader, state, db->handle());
    case RapiCall::kReadRecordPropsEx:
      return Read(reader, state, db->handle());
    case RapiCall::kWriteRecordProps:
      return Write(reader, state, db->handle());
    default: {  // kDeleteRecord
      CEOID oid = 0;
      if (!reader.U32(&oid) || !reader.End()) return Malformed(reader, call);
      if (!CeDeleteRecord(db->handle(), oid)) {
        return StoreFailed(state, "the record cannot be deleted");
      }
      return Done();
    }
  }
}

std::vector<std::uint8_t> Open(PayloadReader& reader, ConnectionState& state, CEGUID* guid) {
  const auto call = static_cast<std::uint16_t>(RapiCall::kOpenDatabaseEx);
  CEOID oid = 0;
  std::u16string name;
  std::uint32_t sortProperty = 0;
  std::uint32_t flags = 0;
  if (!reader.U32(&oid) || !reader.String(&name, CEDB_MAXDBASENAMELEN - 1) ||
      !reader.U32(&sortProperty) || !reader.U32(&flags) || !reader.End()) {
    return Malformed(reader, call);
  }
  const HANDLE handle = CeOpenDatabaseEx(guid, &oid, name.c_str(), sortProperty, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return StoreFailed(state, "the database cannot be opened");
  const std::uint32_t number = state.Keep(std::make_unique<OpenStoreDatabase>(handle));
  return PayloadWriter().I32(S_OK).U32(number).U32(oid).Take();
}

std::vector<std::uint8_t> Describe(PayloadReader& reader, ConnectionState& state, CEGUID* guid) {
  CEOID oid = 0;
  if (!reader.U32(&oid) || !reader.End()) {
    return Malformed(reader, static_cast<std::uint16_t>(RapiCall::kOidGetInfoEx));
  }
  CEOIDINFO info{};
  if (!CeOidGetInfoEx(guid, oid, &info)) return StoreFailed(state, "the object is not there");
  PayloadWriter reply;
  reply.I32(S_OK).U16(info.wObjType);
  if (info.wObjType == OBJTYPE_DATABASE) rapi::WriteDatabaseInfo(reply, info.infDatabase);
  if (info.wObjType == OBJTYPE_RECORD) reply.U32(info.infRecord.oidParent);
  return reply.Take();
}

std::vector<std::uint8_t> VolumeCall(std::uint16_t call, PayloadReader& reader,
                                     ConnectionState& state) {
  std::uint32_t number = 0;
  if (!reader.U32(&number)) return Malformed(reader, call);
  auto* volume = state.Find<MountedVolume>(number);
  if (volume == nullptr) return NotOpen(state, call, "volume", number);
  CEGUID* guid = volume->guid();
  CEOID oid = 0;
  CEDBASEINFO info{};
  switch (static_cast<RapiCall>(call)) {
    case RapiCall::kUnmountDBVol:
      if (!reader.End()) return Malformed(reader, call);
      state.open.erase(number);  // unmounts
      return Done();
    case RapiCall::kFlushDBVol:
      if (!reader.End()) return Malformed(reader, call);
      return CeFlushDBVol(guid) ? Done() : StoreFailed(state, "the volume cannot be flushed");
    case RapiCall::kCreateDatabaseEx: {
      if (!rapi::ReadDatabaseInfo(reader, &info) || !reader.End()) return Malformed(reader, call);
      oid = CeCreateDatabaseEx(guid, &info);
      if (oid == 0) return StoreFailed(state, "the database cannot be created");
      return PayloadWriter().I32(S_OK).U32(oid).Take();
    }
    case RapiCall::kOpenDatabaseEx:
      return Open(reader, state, guid);
    case RapiCall::kDeleteDatabaseEx:
      if (!reader.U32(&oid) || !reader.End()) return Malformed(reader, call);
      return CeDeleteDatabaseEx(guid, oid) ? Done()
                                           : StoreFailed(state, "the database cannot be deleted");
    case RapiCall::kOidGetInfoEx:
      return Describe(reader, state, guid);
    case RapiCall::kSetDatabaseInfoEx:
      if (!reader.U32(&oid) || !rapi::ReadDatabaseInfo(reader, &info) || !reader.End()) {
        return Malformed(reader, call);
      }
      return CeSetDatabaseInfoEx(guid, oid, &info)
                 ? Done()
                 : StoreFailed(state, "the database cannot be changed");
    case RapiCall::kBeginBatch:
      if (!reader.End()) return Malformed(reader, call);
      if (!StoreBeginBatch(guid)) return StoreFailed(state, "the volume cannot begin a batch");
      ++volume->openBatches;
      return Done();
    default: {  // kEndBatch
      std::uint32_t keep = 0;
      if (!reader.U32(&keep) || !reader.End()) return Malformed(reader, call);
      if (volume->openBatches == 0) {
        return Failed(state, ERROR_INVALID_PARAMETER, "no batch of this connection is open");
      }
      --volume->openBatches;
      return StoreEndBatch(guid, keep ? TRUE : FALSE)
                 ? Done()
                 : StoreFailed(state, "the batch's writes cannot be kept");
    }
  }
}

}  // namespace

std::vector<std::uint8_t> ServeStoreCall(std::uint16_t call, PayloadReader& reader,
                                         ConnectionState& state) {
  switch (static_cast<RapiCall>(call)) {
    case RapiCall::kMountDBVol:
      return Mount(reader, state);
    case RapiCall::kSeekDatabase:
    case RapiCall::kReadRecordPropsEx:
    case RapiCall::kWriteRecordProps:
    case RapiCall::kDeleteRecord:
      return DatabaseCall(call, reader, state);
    case RapiCall::kUnmountDBVol:
    case RapiCall::kFlushDBVol:
    case RapiCall::kCreateDatabaseEx:
    case RapiCall::kOpenDatabaseEx:
    case RapiCall::kDeleteDatabaseEx:
    case RapiCall::kOidGetInfoEx:
    case RapiCall::kSetDatabaseInfoEx:
    case RapiCall::kBeginBatch:
    case RapiCall::kEndBatch:
      return VolumeCall(call, reader, state);
    default:
      return UnknownCall(call);
  }
}

}  // namespace tbm::devicelink
