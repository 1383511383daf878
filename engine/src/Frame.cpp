// The engine's frame: environment, volumes, files, the consistency value
// and the creation-sequence cache. Starting the word-break library is not
// the frame's: MDbInit and MDbShutdown (Start.cpp) add it around the
// environment's start and stop here.
#include <cstring>

#include "Environment.h"
#include "FrameCalls.h"
#include "Guard.h"
#include "MDb.h"
#include "ObjectTable.h"
#include "Sequence.h"
#include "Utf16.h"

using namespace tbm::engine;

namespace {

constexpr CEPROPID kHeaderProp = PropId(3, CEVT_BLOB);
constexpr CEPROPID kConsistencyProp = PropId(4, CEVT_UI4);

// The engine's own running out of memory, for MDbGetFailureCause.
thread_local bool outOfMemory = false;

bool Initialised(const MDbEnv* env) { return env != nullptr && env->initialised; }

void ResetDataTable(MDbDataTbl* data) {
  std::memset(data, 0, sizeof *data);
  data->cursor = -1;
  data->cachedSeq = kNoCachedSeq;
}

void ResetRef(MDbRef* ref) {
  ref->opened = 0;
  ResetObjectTable(ref);
  ref->volume = CEGUID{};
}

// The 8-byte header: signature, major and minor version, little-endian.
void PackHeader(BYTE out[8], std::uint32_t signature, std::uint16_t major, std::uint16_t minor) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<BYTE>(signature >> (8 * i));
  out[4] = static_cast<BYTE>(major);
  out[5] = static_cast<BYTE>(major >> 8);
  out[6] = static_cast<BYTE>(minor);
  out[7] = static_cast<BYTE>(minor >> 8);
}

std::int32_t WriteHeader(MDbRef* ref) {
  BYTE header[8];
  PackHeader(header, MDbHeaderSignature, MDbHeaderMajor, MDbHeaderMinor);
  CEPROPVAL v{};
  v.propid = kHeaderProp;
  v.val.blob.dwCount = sizeof header;
  v.val.blob.lpb = header;
  return WriteEntry(ref, MDbObjHeader, 0, &v, 1);
}

CEOID CreateObjectTable(MDbRef* ref) {
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
  tbm::CopyUtf16Cut(info.szDbaseName, sizeof info.szDbaseName, u"OBJG_0");
  info.dwDbaseType = MDbObjectTableType;
  info.wNumSortOrder = 1;
  info.rgSortSpecs[0] = {kObjKeyProp, 0};
  return CeCreateDatabaseEx(&ref->volume, &info);
}

}  // namespace

namespace tbm::engine {

void NoteOutOfMemory() { outOfMemory = true; }

std::int32_t StartEnvironment(MDbEnv* env) {
  if (env == nullptr || env->initialised) return MDbErrFailed;
  env->initialised = 1;
  return MDbErrNone;
}

std::int32_t StopEnvironment(MDbEnv* env) {
  const std::int32_t result = Initialised(env) ? MDbErrNone : MDbErrFailed;
  // An environment that was never initialised has no table to close.
  if (result == MDbErrNone && env->fieldOptions.opened) {
    MDbFieldOpTblClose(env, &env->ref, &env->fieldOptions);
  }
  MDbEnvInitialize(env);
  return result;
}

}  // namespace tbm::engine

extern "C" {

void MDbEnvInitialize(MDbEnv* env) {
  if (env == nullptr) return;
  env->initialised = 0;
  ResetRef(&env->ref);
  ResetDataTable(&env->data);
  std::memset(&env->schema, 0, sizeof env->schema);
  env->attributes.opened = 0;
  env->valueLists.opened = 0;
  std::memset(&env->fieldOptions, 0, sizeof env->fieldOptions);
}

void MDbVolFSpecInitialize(MDbVolFSpec* spec) {
  if (spec != nullptr) spec->path[0] = 0;
}

std::int32_t MDbCreate(MDbEnv* env, const char16_t* path, MDbRef* ref) {
  if (!Initialised(env) || ref == nullptr || ref->opened || path == nullptr) return MDbErrFailed;
  const std::int32_t mounted = Guarded(
      [&] { return CeMountDBVol(&ref->volume, path, CREATE_NEW) ? MDbErrNone : MDbErrFailed; });
  if (mounted != MDbErrNone) return MDbErrFailed;
  const std::int32_t result = Guarded([&] {
    ResetObjectTable(ref);
    std::int32_t rc = CreateObjectTable(ref) != 0 ? MDbErrNone : MDbErrFailed;
    if (rc == MDbErrNone) rc = OpenObjectTable(ref);
    if (rc == MDbErrNone) rc = WriteHeader(ref);
    if (rc == MDbErrNone && !CeFlushDBVol(&ref->volume)) rc = MDbErrFailed;
    return rc;
  });
  if (result != MDbErrNone) {
    // Nothing of a failed creation is left behind.
    if (ref->objOpen)
      Guarded([&] { return CeCloseHandle(ref->objHandle) ? MDbErrNone : MDbErrFailed; });
    Guarded([&] { return CeUnmountDBVol(&ref->volume) ? MDbErrNone : MDbErrFailed; });
    DeleteVolumeFile(path);
    ResetRef(ref);
    return result;
  }
  ref->opened = 1;
  return MDbErrNone;
}

std::int32_t MDbOpen(MDbEnv* env, const char16_t* path, MDbRef* ref) {
  if (!Initialised(env) || ref == nullptr || ref->opened || path == nullptr) return MDbErrFailed;
  ResetObjectTable(ref);
  const std::int32_t mounted = Guarded(
      [&] { return CeMountDBVol(&ref->volume, path, OPEN_EXISTING) ? MDbErrNone : MDbErrFailed; });
  ref->opened = mounted == MDbErrNone ? 1 : 0;
  if (!ref->opened) return MDbErrCannotOpen;
  if (Guarded([&] { return OpenObjectTable(ref); }) != MDbErrNone) {
    MDbClose(env, ref);
    return MDbErrCannotOpen;
  }
  const std::int32_t checked = Guarded([&] {
    BYTE header[8];
    if (ReadEntryBlock(ref, MDbObjHeader, 0, kHeaderProp, header, sizeof header) != MDbErrNone) {
      return MDbErrCannotOpen;
    }
    BYTE expected[8];
    PackHeader(expected, MDbHeaderSignature, MDbHeaderMajor, MDbHeaderMinor);
    return std::memcmp(header, expected, sizeof header) != 0 ? MDbErrBadFormat : MDbErrNone;
  });
  return checked == MDbErrFailed ? MDbErrCannotOpen : checked;
}

std::int32_t MDbClose(MDbEnv* /*env*/, MDbRef* ref) {
  if (ref == nullptr || !ref->opened) return MDbErrFailed;
  return Guarded([&] {
    if (ref->objOpen) CeCloseHandle(ref->objHandle);
    ResetObjectTable(ref);
    if (!CeUnmountDBVol(&ref->volume)) return MDbErrFailed;
    ref->opened = 0;
    ref->volume = CEGUID{};
    return MDbErrNone;
  });
}

std::int32_t MDbDelete(MDbEnv* /*env*/, const char16_t* path) {
  return path != nullptr && DeleteVolumeFile(path) ? MDbErrNone : MDbErrFailed;
}

std::uint8_t MDbIsOpened(MDbEnv* env, MDbRef* ref) {
  return Initialised(env) && ref != nullptr && ref->opened ? 1 : 0;
}

std::uint8_t MDbRefIsOpened(MDbRef* ref) { return ref != nullptr && ref->opened ? 1 : 0; }

std::int32_t MDbBeginWriteBatch(MDbEnv* env) {
  if (!MDbIsOpened(env, env ? &env->ref : nullptr)) return MDbErrFailed;
  return Guarded([&] { return StoreBeginBatch(&env->ref.volume) ? MDbErrNone : MDbErrFailed; });
}

std::int32_t MDbEndWriteBatch(MDbEnv* env, std::uint8_t keep) {
  if (!MDbIsOpened(env, env ? &env->ref : nullptr)) return MDbErrFailed;
  return Guarded([&] {
    return StoreEndBatch(&env->ref.volume, keep ? TRUE : FALSE) ? MDbErrNone : MDbErrFailed;
  });
}

std::uint32_t MDbGetFailureCause(const char** message) {
  const DWORD cause = StoreLastCause(message);
  if (cause != ERROR_SUCCESS || !outOfMemory) return cause;
  if (message != nullptr) *message = "there is not enough memory left for the database";
  return ERROR_NOT_ENOUGH_MEMORY;
}

void MDbClearFailureCause() {
  StoreClearCause();
  outOfMemory = false;
}

std::int32_t MDbCreateDirectory(const char16_t* path) {
  return path != nullptr && MakeDirectory(path) ? MDbErrNone : MDbErrFailed;
}

std::int32_t MDbFindFirstFile(HANDLE* find, const char16_t* pattern, char16_t* name,
                              std::uint32_t nameBytes) {
  if (find == nullptr || pattern == nullptr) return MDbErrFailed;
  FoundFile data{};
  const HANDLE h = FindFirst(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return MDbErrFailed;
  *find = h;
  tbm::CopyUtf16Cut(name, nameBytes, tbm::Utf16View(data.cFileName));
  return MDbErrNone;
}

std::int32_t MDbFindNextFile(HANDLE* find, char16_t* name, std::uint32_t nameBytes) {
  if (find == nullptr || *find == nullptr) return MDbErrFailed;
  FoundFile data{};
  if (FindNext(*find, &data)) {
    tbm::CopyUtf16Cut(name, nameBytes, tbm::Utf16View(data.cFileName));
    return MDbErrNone;
  }
  if (LastStoreError() == ERROR_NO_MORE_FILES) {
    FindEnd(*find);
    *find = nullptr;
    return MDbErrNoMoreFiles;
  }
  return MDbErrFailed;
}

std::int32_t MDbFindClose(HANDLE* find) {
  if (find == nullptr || *find == nullptr) return MDbErrFailed;
  return FindEnd(*find) ? MDbErrNone : MDbErrFailed;
}

std::int32_t MDbWriteChecksome(MDbEnv* /*env*/, MDbRef* ref, std::uint32_t value) {
  if (ref == nullptr || !ref->opened) return MDbErrFailed;
  return Guarded([&] {
    CEPROPVAL v{};
    v.propid = kConsistencyProp;
    v.val.ulVal = value;
    if (WriteEntry(ref, MDbObjConsistency, 0, &v, 1) != MDbErrNone) return MDbErrFailed;
    return CeFlushDBVol(&ref->volume) ? MDbErrNone : MDbErrFailed;
  });
}

std::int32_t MDbVerifyChecksome(MDbEnv* /*env*/, MDbRef* ref) {
  if (ref == nullptr || !ref->opened) return MDbErrFailed;
  return Guarded([&] {
    std::uint32_t value = 0;
    if (ReadEntryU32(ref, MDbObjConsistency, 0, kConsistencyProp, &value) != MDbErrNone) {
      return MDbErrFailed;
    }
    return value == 1 ? MDbErrNone : MDbErrInconsistent;
  });
}

std::int32_t StartCreationSeqCache(MDbEnv* env, MDbRef* ref, MDbDataTbl* data) {
  if (!Initialised(env) || ref == nullptr || !ref->opened || data == nullptr) return MDbErrFailed;
  return Guarded([&] {
    std::uint32_t value = 0;
    if (ReadCounter(ref, kDataCounter, &value) != MDbErrNone) return MDbErrFailed;
    data->cachedSeq = value;
    return MDbErrNone;
  });
}

std::int32_t EndCreationSeqCache(MDbEnv* env, MDbRef* ref, MDbDataTbl* data) {
  if (!Initialised(env) || ref == nullptr || !ref->opened || data == nullptr ||
      data->cachedSeq == kNoCachedSeq) {
    return MDbErrFailed;
  }
  return Guarded([&] {
    if (WriteCounter(ref, kDataCounter, data->cachedSeq) != MDbErrNone) return MDbErrFailed;
    return CeFlushDBVol(&ref->volume) ? MDbErrNone : MDbErrFailed;
  });
}

}  // extern "C"
