// The desktop's database-volume calls (RapiDb.h): each packs its arguments,
// makes one exchange on the process's connection, and unpacks the results
// into the caller's structures.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "RapiConnection.h"
#include "RapiDb.h"

namespace tbm::rapi {
namespace {

// The batches this process has open, by volume. Inside a batch the
// handheld puts every flush of the volume off until the batch ends, so a
// flush there is answered here and costs no exchange: a bulk load pays for
// its writes and the batch's end, which is the flush that counts.
struct OpenBatches {
  std::mutex lock;
  std::map<std::uint32_t, int> depth;
};

OpenBatches& Batches() {
  static OpenBatches batches;
  return batches;
}

bool InBatch(std::uint32_t volume) {
  OpenBatches& batches = Batches();
  std::lock_guard<std::mutex> hold(batches.lock);
  const auto found = batches.depth.find(volume);
  return found != batches.depth.end() && found->second > 0;
}

void CountBatch(std::uint32_t volume, int change) {
  OpenBatches& batches = Batches();
  std::lock_guard<std::mutex> hold(batches.lock);
  int& depth = batches.depth[volume];
  depth = std::max(0, depth + change);
  if (depth == 0 || change == 0) batches.depth.erase(volume);
}

thread_local DWORD causeError = ERROR_SUCCESS;
thread_local std::string causeMessage;

// Keeps a handheld failure that says why the store could not work, as the
// handheld's StoreLastCause keeps it.
void NoteCause(const Status& status) {
  const std::uint32_t result = status.platformError();
  if ((result & 0xFFFF0000u) != 0x80070000u || causeError != ERROR_SUCCESS) return;
  const DWORD error = result & 0xFFFFu;
  if (!tbm::store::IsStoreCause(error)) return;
  causeError = error;
  causeMessage = status.message();
}

// One store call: true with *results holding what followed the reply's
// HRESULT, false when the handheld reported a failure or could not be
// reached (Call() records which).
bool StoreCall(RapiCall call, const PayloadWriter& arguments, std::vector<std::uint8_t>* results) {
  const Status status = Call(call, arguments.bytes(), results);
  if (!status.ok()) NoteCause(status);
  return status.ok();
}

// A reply the handheld sent that does not hold what the call expects.
bool BadReply(const PayloadReader& reader, RapiCall call) {
  Record(reader.status().WithContext("the reply to " + CallName(static_cast<std::uint16_t>(call))));
  return false;
}

// Arguments the desktop can see are wrong fail here, without an exchange.
template <typename T>
T Refused(T result) {
  SetLastError(ERROR_INVALID_PARAMETER);
  return result;
}

std::uint32_t VolumeOf(const CEGUID* guid) { return guid->Data1; }

CEGUID GuidOf(std::uint32_t volume) { return CEGUID{volume, 0, 0, 0}; }

// Handle numbers are 32 bits; anything wider was never given out and
// travels as 0, which names nothing.
std::uint32_t NumberOf(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

HANDLE HandleOf(std::uint32_t number) { return reinterpret_cast<HANDLE>(std::uintptr_t{number}); }

// A call whose reply carries nothing.
BOOL Simple(RapiCall call, const PayloadWriter& arguments) {
  std::vector<std::uint8_t> results;
  if (!StoreCall(call, arguments, &results)) return FALSE;
  PayloadReader reader(results);
  return reader.End() ? TRUE : (BadReply(reader, call), FALSE);
}

// A call whose reply is one object identifier.
CEOID Identifier(RapiCall call, const PayloadWriter& arguments) {
  std::vector<std::uint8_t> results;
  if (!StoreCall(call, arguments, &results)) return 0;
  PayloadReader reader(results);
  CEOID oid = 0;
  if (!reader.U32(&oid) || !reader.End()) return BadReply(reader, call), 0;
  return oid;
}

}  // namespace
}  // namespace tbm::rapi

using namespace tbm::rapi;

BOOL CeMountDBVol(CEGUID* guid, const WCHAR* path, DWORD disposition) {
  if (guid == nullptr || path == nullptr) return Refused(FALSE);
  std::vector<std::uint8_t> results;
  PayloadWriter arguments;
  arguments.String(path).U32(disposition);
  if (!StoreCall(RapiCall::kMountDBVol, arguments, &results)) return FALSE;
  PayloadReader reader(results);
  std::uint32_t volume = 0;
  if (!reader.U32(&volume) || !reader.End()) return BadReply(reader, RapiCall::kMountDBVol);
  CountBatch(volume, 0);  // a number a connection ended before may come again
  *guid = GuidOf(volume);
  return TRUE;
}

BOOL CeUnmountDBVol(CEGUID* guid) {
  if (guid == nullptr) return Refused(FALSE);
  CountBatch(VolumeOf(guid), 0);  // the handheld gives up what the mount had open
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid));
  return Simple(RapiCall::kUnmountDBVol, arguments);
}

BOOL CeFlushDBVol(CEGUID* guid) {
  if (guid == nullptr) return Refused(FALSE);
  if (InBatch(VolumeOf(guid))) return TRUE;
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid));
  return Simple(RapiCall::kFlushDBVol, arguments);
}

CEOID CeCreateDatabaseEx(CEGUID* guid, CEDBASEINFO* info) {
  if (guid == nullptr || info == nullptr) return Refused(CEOID{0});
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid));
  WriteDatabaseInfo(arguments, *info);
  return Identifier(RapiCall::kCreateDatabaseEx, arguments);
}

BOOL CeDeleteDatabaseEx(CEGUID* guid, CEOID oid) {
  if (guid == nullptr) return Refused(FALSE);
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid)).U32(oid);
  return Simple(RapiCall::kDeleteDatabaseEx, arguments);
}

HANDLE CeOpenDatabaseEx(CEGUID* guid, CEOID* oid, const WCHAR* name, CEPROPID sortProperty,
                        DWORD flags, void* /*notify*/) {
  if (guid == nullptr || oid == nullptr || (*oid == 0 && name == nullptr)) {
    return Refused(INVALID_HANDLE_VALUE);
  }
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid))
      .U32(*oid)
      .String(name != nullptr ? std::u16string_view(name) : std::u16string_view())
      .U32(sortProperty)
      .U32(flags);
  std::vector<std::uint8_t> results;
  if (!StoreCall(RapiCall::kOpenDatabaseEx, arguments, &results)) return INVALID_HANDLE_VALUE;
  PayloadReader reader(results);
  std::uint32_t handle = 0;
  CEOID opened = 0;
  if (!reader.U32(&handle) || !reader.U32(&opened) || !reader.End() || handle == 0) {
    BadReply(reader, RapiCall::kOpenDatabaseEx);
    return INVALID_HANDLE_VALUE;
  }
  *oid = opened;
  return HandleOf(handle);
}

BOOL CeOidGetInfoEx(CEGUID* guid, CEOID oid, CEOIDINFO* info) {
  if (guid == nullptr || info == nullptr) return Refused(FALSE);
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid)).U32(oid);
  std::vector<std::uint8_t> results;
  if (!StoreCall(RapiCall::kOidGetInfoEx, arguments, &results)) return FALSE;
  PayloadReader reader(results);
  CEOIDINFO read{};
  if (!reader.U16(&read.wObjType)) return BadReply(reader, RapiCall::kOidGetInfoEx);
  const bool ok = read.wObjType == OBJTYPE_DATABASE ? ReadDatabaseInfo(reader, &read.infDatabase)
                  : read.wObjType == OBJTYPE_RECORD ? reader.U32(&read.infRecord.oidParent)
                                                    : true;
  if (!ok || !reader.End()) return BadReply(reader, RapiCall::kOidGetInfoEx);
  *info = read;
  return TRUE;
}

BOOL CeSetDatabaseInfoEx(CEGUID* guid, CEOID oid, CEDBASEINFO* info) {
  if (guid == nullptr || info == nullptr) return Refused(FALSE);
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid)).U32(oid);
  WriteDatabaseInfo(arguments, *info);
  return Simple(RapiCall::kSetDatabaseInfoEx, arguments);
}

CEOID CeSeekDatabase(HANDLE db, DWORD seekType, std::uintptr_t value, DWORD* index) {
  PayloadWriter arguments;
  arguments.U32(NumberOf(db)).U32(seekType);
  constexpr DWORD kValueSeeks = CEDB_SEEK_VALUESMALLER | CEDB_SEEK_VALUEFIRSTEQUAL |
                                CEDB_SEEK_VALUEGREATER | CEDB_SEEK_VALUENEXTEQUAL;
  if (seekType & kValueSeeks) {
    const auto* key = reinterpret_cast<const CEPROPVAL*>(value);
    if (key == nullptr || !WritePropertyValues(arguments, key, 1).ok()) return Refused(CEOID{0});
  } else {
    arguments.U64(value);
  }
  std::vector<std::uint8_t> results;
  if (!StoreCall(RapiCall::kSeekDatabase, arguments, &results)) return 0;
  PayloadReader reader(results);
  CEOID oid = 0;
  DWORD at = 0;
  if (!reader.U32(&oid) || !reader.U32(&at) || !reader.End()) {
    return BadReply(reader, RapiCall::kSeekDatabase), 0;
  }
  if (index != nullptr) *index = at;
  return oid;
}

CEOID CeReadRecordPropsEx(HANDLE db, DWORD flags, WORD* count, const CEPROPID* rgPropID,
                          BYTE** buffer, DWORD* bufferBytes, HANDLE /*heap*/) {
  if (count == nullptr || buffer == nullptr || bufferBytes == nullptr ||
      (rgPropID != nullptr && *count == 0)) {
    return Refused(CEOID{0});
  }
  PayloadWriter arguments;
  arguments.U32(NumberOf(db)).U32(flags).U16(rgPropID == nullptr ? 1 : 0);
  arguments.U16(rgPropID == nullptr ? 0 : *count);
  for (WORD i = 0; rgPropID != nullptr && i < *count; ++i) arguments.U32(rgPropID[i]);
  arguments.U32(*buffer == nullptr ? 0 : *bufferBytes);
  std::vector<std::uint8_t> results;
  if (!StoreCall(RapiCall::kReadRecordPropsEx, arguments, &results)) return 0;
  PayloadReader reader(results);
  CEOID oid = 0;
  std::uint32_t needed = 0;
  if (!reader.U32(&oid) || !reader.U32(&needed)) {
    return BadReply(reader, RapiCall::kReadRecordPropsEx), 0;
  }
  if (oid == 0) {  // the handheld found the buffer too small and keeps ERROR_INSUFFICIENT_BUFFER
    if (!reader.End()) return BadReply(reader, RapiCall::kReadRecordPropsEx), 0;
    *bufferBytes = needed;
    return 0;
  }
  std::uint16_t read = 0;
  std::vector<PropertyValue> values;
  if (!reader.U16(&read)) return BadReply(reader, RapiCall::kReadRecordPropsEx), 0;
  if (tbm::Status status = ReadPropertyValues(reader, read, &values); !status.ok()) {
    Record(status.WithContext("the reply to CeReadRecordPropsEx"));
    return 0;
  }
  if (!reader.End()) return BadReply(reader, RapiCall::kReadRecordPropsEx), 0;
  const std::size_t bytes = ReadBufferBytes(values);
  if (*buffer == nullptr || *bufferBytes < bytes) {
    if (!(flags & CEDB_ALLOWREALLOC)) {
      // The handheld's buffer rules and the desktop's layout agree, so
      // this only happens when the handheld counted differently.
      *bufferBytes = static_cast<DWORD>(bytes);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    void* grown = std::realloc(*buffer, bytes);
    if (grown == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    *buffer = static_cast<BYTE*>(grown);
    *bufferBytes = static_cast<DWORD>(bytes);
  }
  FillReadBuffer(values, *buffer);
  *count = read;
  return oid;
}

CEOID CeWriteRecordProps(HANDLE db, CEOID oid, WORD count, CEPROPVAL* values) {
  PayloadWriter arguments;
  arguments.U32(NumberOf(db)).U32(oid).U16(count);
  if (!WritePropertyValues(arguments, values, count).ok()) return Refused(CEOID{0});
  return Identifier(RapiCall::kWriteRecordProps, arguments);
}

BOOL CeDeleteRecord(HANDLE db, CEOID oid) {
  PayloadWriter arguments;
  arguments.U32(NumberOf(db)).U32(oid);
  return Simple(RapiCall::kDeleteRecord, arguments);
}

BOOL StoreBeginBatch(CEGUID* guid) {
  if (guid == nullptr) return Refused(FALSE);
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid));
  if (!Simple(RapiCall::kBeginBatch, arguments)) return FALSE;
  CountBatch(VolumeOf(guid), 1);
  return TRUE;
}

BOOL StoreEndBatch(CEGUID* guid, BOOL keep) {
  if (guid == nullptr) return Refused(FALSE);
  PayloadWriter arguments;
  arguments.U32(VolumeOf(guid)).U32(keep ? 1 : 0);
  // The handheld ends the batch whatever the outcome of keeping its writes.
  CountBatch(VolumeOf(guid), -1);
  return Simple(RapiCall::kEndBatch, arguments);
}

DWORD StoreLastCause(const char** message) {
  if (message != nullptr) *message = causeError == ERROR_SUCCESS ? "" : causeMessage.c_str();
  return causeError;
}

void StoreClearCause() {
  causeError = ERROR_SUCCESS;
  causeMessage.clear();
}
