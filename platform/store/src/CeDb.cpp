// The database-volume calls: argument checks, the tables of mounted volumes
// and open handles, and the per-thread error reporting. The work itself is
// done by Volume and OpenDatabase.
#include "CeDb.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <tuple>
#include <variant>

#include "DevicePath.h"
#include "OpenDatabase.h"
#include "Utf16.h"
#include "Volume.h"
#include "VolumeFile.h"

namespace tbm::store {
namespace {

thread_local std::string lastMessage = "no error";
thread_local DWORD causeError = ERROR_SUCCESS;
thread_local std::string causeMessage;

thread_local std::uint64_t recordReads = 0;

struct GuidLess {
  bool operator()(const CEGUID& a, const CEGUID& b) const {
    return std::tie(a.Data1, a.Data2, a.Data3, a.Data4) <
           std::tie(b.Data1, b.Data2, b.Data3, b.Data4);
  }
};

bool SameGuid(const CEGUID& a, const CEGUID& b) { return !GuidLess{}(a, b) && !GuidLess{}(b, a); }

struct Mount {
  std::shared_ptr<Volume> volume;
  int count = 0;
};

struct DatabaseFind {
  std::shared_ptr<Volume> volume;
  std::vector<CEOID> oids;
  std::size_t next = 0;
};

using HandleObject = std::variant<std::shared_ptr<OpenDatabase>, std::shared_ptr<DatabaseFind>>;

// Mounted volumes by identifier and by path, and open handles. A handle is
// a slot number with a generation, so a closed or made-up handle is
// recognised and refused rather than followed.
class Registry {
 public:
  static Registry& Get() {
    static Registry* registry = new Registry();  // lives until the process ends
    return *registry;
  }

  std::mutex mutex;
  std::map<CEGUID, Mount, GuidLess> byGuid;
  std::map<std::string, CEGUID> byPath;

  HANDLE Add(HandleObject object) {
    std::size_t slot = 0;
    while (slot < slots_.size() && slots_[slot].object) ++slot;
    if (slot == slots_.size()) slots_.emplace_back();
    Slot& s = slots_[slot];
    ++s.generation;
    s.object = std::make_unique<HandleObject>(std::move(object));
    const std::uintptr_t value = (static_cast<std::uintptr_t>(s.generation) << 24) | (slot + 1);
    return reinterpret_cast<HANDLE>(value);
  }

  HandleObject* Find(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    const std::size_t slot = (value & 0xFFFFFF);
    const auto generation = static_cast<std::uint32_t>(value >> 24);
    if (slot == 0 || slot > slots_.size()) return nullptr;
    Slot& s = slots_[slot - 1];
    if (!s.object || s.generation != generation) return nullptr;
    return s.object.get();
  }

  bool Remove(HANDLE handle) {
    if (!Find(handle)) return false;
    slots_[(reinterpret_cast<std::uintptr_t>(handle) & 0xFFFFFF) - 1].object.reset();
    return true;
  }

  // Every open database handle on a database.
  template <typename F>
  void ForEachOpenDatabase(F&& f) {
    for (auto& s : slots_) {
      if (!s.object) continue;
      if (auto* db = std::get_if<std::shared_ptr<OpenDatabase>>(s.object.get())) f(**db);
    }
  }

 private:
  struct Slot {
    std::uint32_t generation = 0;
    std::unique_ptr<HandleObject> object;
  };
  std::vector<Slot> slots_;
};

template <typename T>
T Failed(DWORD error, std::string message, T result) {
  SetLastError(error);
  if (causeError == ERROR_SUCCESS && IsStoreCause(error)) {
    causeError = error;
    causeMessage = message;
  }
  lastMessage = std::move(message);
  return result;
}

template <typename T>
T Failed(const Status& f, T result) {
  return Failed(f.platformError(), f.message(), result);
}

std::shared_ptr<Volume> VolumeFor(const CEGUID* guid) {
  if (guid == nullptr) return nullptr;
  auto& registry = Registry::Get();
  std::lock_guard lock(registry.mutex);
  const auto it = registry.byGuid.find(*guid);
  return it == registry.byGuid.end() ? nullptr : it->second.volume;
}

std::shared_ptr<OpenDatabase> DatabaseFor(HANDLE handle) {
  auto& registry = Registry::Get();
  std::lock_guard lock(registry.mutex);
  HandleObject* object = registry.Find(handle);
  if (!object) return nullptr;
  auto* db = std::get_if<std::shared_ptr<OpenDatabase>>(object);
  return db ? *db : nullptr;
}

// Runs a whole-volume operation under the volume's lock, reporting its
// failure as the thread's last error.
template <typename Operation>
BOOL OnVolume(CEGUID* guid, Operation operation) {
  auto volume = VolumeFor(guid);
  if (!volume) return Failed(ERROR_INVALID_PARAMETER, "the volume is not mounted", FALSE);
  std::lock_guard lock(volume->mutex());
  Status failure;
  if (!operation(*volume, &failure)) return Failed(failure, FALSE);
  return TRUE;
}

CEGUID NewGuid() {
  static std::mt19937 generator{std::random_device{}()};
  CEGUID g{};
  do {
    g = {static_cast<DWORD>(generator()), static_cast<DWORD>(generator()),
         static_cast<DWORD>(generator()), static_cast<DWORD>(generator())};
  } while (g.Data1 == 0 && g.Data2 == 0 && g.Data3 == 0 && g.Data4 == 0);
  return g;
}

std::optional<std::vector<SORTORDERSPEC>> CheckedSorts(const CEDBASEINFO& info) {
  if (info.wNumSortOrder > CEDB_MAXSORTORDER) return std::nullopt;
  std::vector<SORTORDERSPEC> sorts(info.rgSortSpecs, info.rgSortSpecs + info.wNumSortOrder);
  for (const auto& s : sorts) {
    if (!IsKnownType(TypeFromPropId(s.propid))) return std::nullopt;
    if (s.dwFlags & ~(CEDB_SORT_DESCENDING | CEDB_SORT_CASEINSENSITIVE | CEDB_SORT_UNKNOWNFIRST)) {
      return std::nullopt;
    }
  }
  return sorts;
}

std::optional<std::u16string> CheckedName(const CEDBASEINFO& info) {
  std::u16string name;
  for (int i = 0; i < CEDB_MAXDBASENAMELEN; ++i) {
    if (info.szDbaseName[i] == 0) {
      if (name.empty()) return std::nullopt;
      return name;
    }
    name.push_back(info.szDbaseName[i]);
  }
  return std::nullopt;  // not terminated within the name's room
}

}  // namespace
}  // namespace tbm::store

using namespace tbm::store;
using tbm::Status;

const char* StoreLastMessage() { return lastMessage.c_str(); }

DWORD StoreLastCause(const char** message) {
  if (message) *message = causeMessage.c_str();
  return causeError;
}

void StoreClearCause() {
  causeError = ERROR_SUCCESS;
  causeMessage.clear();
}

BOOL StoreBeginBatch(CEGUID* guid) {
  return OnVolume(guid, [](Volume& volume, Status* failure) { return volume.BeginBatch(failure); });
}

BOOL StoreEndBatch(CEGUID* guid, BOOL keep) {
  return OnVolume(guid, [keep](Volume& volume, Status* failure) {
    return volume.EndBatch(keep != FALSE, failure);
  });
}

BOOL StoreReplaceVolume(const WCHAR* target, const WCHAR* replacement) {
  if (target == nullptr || replacement == nullptr || target[0] == 0 || replacement[0] == 0) {
    return Failed(ERROR_INVALID_PARAMETER, "no volume path was given", FALSE);
  }
  std::string hosts[2];
  const WCHAR* paths[2] = {target, replacement};
  for (int i = 0; i < 2; ++i) {
    const tbm::MappedPath mapped = tbm::HostPathFromDevicePath(tbm::Utf16View(paths[i]));
    if (!mapped) {
      return Failed(mapped.error,
                    "cannot use the path '" + tbm::Utf16ToUtf8(tbm::Utf16View(paths[i])) +
                        "': " + DescribeError(mapped.error),
                    FALSE);
    }
    hosts[i] = mapped.hostPath;
  }
  {
    auto& registry = Registry::Get();
    std::lock_guard lock(registry.mutex);
    for (const std::string& host : hosts) {
      char* canonical = ::realpath(host.c_str(), nullptr);
      const bool mounted = canonical && registry.byPath.count(canonical);
      std::free(canonical);
      if (mounted) {
        return Failed(ERROR_SHARING_VIOLATION,
                      "'" + host + "' is mounted by this program; it cannot be replaced", FALSE);
      }
    }
  }
  Status failure;
  if (!ReplaceVolumeFile(hosts[0], hosts[1], &failure)) return Failed(failure, FALSE);
  return TRUE;
}

std::uint64_t StoreRecordReads() { return recordReads; }

BOOL CeMountDBVol(CEGUID* guid, const WCHAR* path, DWORD disposition) {
  if (guid == nullptr || path == nullptr || path[0] == 0) {
    return Failed(ERROR_INVALID_PARAMETER, "no volume path was given", FALSE);
  }
  const tbm::MappedPath mapped = tbm::HostPathFromDevicePath(tbm::Utf16View(path));
  if (!mapped) {
    return Failed(mapped.error,
                  "cannot use the path '" + tbm::Utf16ToUtf8(tbm::Utf16View(path)) +
                      "': " + DescribeError(mapped.error),
                  FALSE);
  }
  char* canonical = ::realpath(mapped.hostPath.c_str(), nullptr);
  const std::string key = canonical ? canonical : mapped.hostPath;
  std::free(canonical);

  auto& registry = Registry::Get();
  std::lock_guard lock(registry.mutex);
  if (const auto it = registry.byPath.find(key); it != registry.byPath.end()) {
    if (disposition == CREATE_NEW) {
      return Failed(ERROR_FILE_EXISTS, "'" + key + "' already exists", FALSE);
    }
    if (disposition == CREATE_ALWAYS) {
      return Failed(ERROR_SHARING_VIOLATION, "'" + key + "' is mounted; it cannot be replaced",
                    FALSE);
    }
    ++registry.byGuid[it->second].count;
    *guid = it->second;
    return TRUE;
  }
  Status failure;
  auto volume = Volume::Mount(mapped.hostPath, disposition, &failure);
  if (!volume) return Failed(failure, FALSE);
  char* created = ::realpath(mapped.hostPath.c_str(), nullptr);
  const std::string mountedKey = created ? created : mapped.hostPath;
  std::free(created);
  CEGUID id;
  do id = NewGuid();
  while (registry.byGuid.count(id));
  registry.byGuid[id] = Mount{std::move(volume), 1};
  registry.byPath[mountedKey] = id;
  *guid = id;
  return TRUE;
}

BOOL CeUnmountDBVol(CEGUID* guid) {
  if (guid == nullptr) return Failed(ERROR_INVALID_PARAMETER, "no volume was given", FALSE);
  auto& registry = Registry::Get();
  std::shared_ptr<Volume> closing;
  {
    std::lock_guard lock(registry.mutex);
    const auto it = registry.byGuid.find(*guid);
    if (it == registry.byGuid.end()) {
      return Failed(ERROR_INVALID_PARAMETER, "the volume is not mounted", FALSE);
    }
    if (--it->second.count > 0) {
      std::lock_guard volumeLock(it->second.volume->mutex());
      Status failure;
      if (!it->second.volume->Flush(&failure)) return Failed(failure, FALSE);
      return TRUE;
    }
    closing = it->second.volume;
    for (auto p = registry.byPath.begin(); p != registry.byPath.end(); ++p) {
      if (SameGuid(p->second, *guid)) {
        registry.byPath.erase(p);
        break;
      }
    }
    registry.byGuid.erase(it);
  }
  std::lock_guard volumeLock(closing->mutex());
  Status failure;
  if (!closing->Close(&failure)) return Failed(failure, FALSE);
  return TRUE;
}

BOOL CeFlushDBVol(CEGUID* guid) {
  return OnVolume(guid, [](Volume& volume, Status* failure) { return volume.Flush(failure); });
}

CEOID CeCreateDatabaseEx(CEGUID* guid, CEDBASEINFO* info) {
  auto volume = VolumeFor(guid);
  if (!volume) return Failed(ERROR_INVALID_PARAMETER, "the volume is not mounted", CEOID{0});
  if (info == nullptr || !(info->dwFlags & CEDB_VALIDNAME)) {
    return Failed(ERROR_INVALID_PARAMETER, "a new database needs a name", CEOID{0});
  }
  const auto name = CheckedName(*info);
  if (!name) {
    return Failed(ERROR_INVALID_PARAMETER, "a database name must have 1 to 31 characters",
                  CEOID{0});
  }
  std::vector<SORTORDERSPEC> sorts;
  if (info->dwFlags & CEDB_VALIDSORTSPEC) {
    auto checked = CheckedSorts(*info);
    if (!checked) {
      return Failed(ERROR_INVALID_PARAMETER,
                    "a database takes at most four sort orders on known property types", CEOID{0});
    }
    sorts = std::move(*checked);
  }
  const DWORD type = (info->dwFlags & CEDB_VALIDTYPE) ? info->dwDbaseType : 0;
  std::lock_guard lock(volume->mutex());
  Status failure;
  if (!volume->StartWrite(&failure)) return Failed(failure, CEOID{0});
  const CEOID oid = volume->CreateDatabase(*name, type, sorts, &failure);
  if (oid == 0) {
    volume->AbandonUnusedWrite();
    return Failed(failure, CEOID{0});
  }
  return oid;
}

BOOL CeDeleteDatabaseEx(CEGUID* guid, CEOID oid) {
  auto volume = VolumeFor(guid);
  if (!volume) return Failed(ERROR_INVALID_PARAMETER, "the volume is not mounted", FALSE);
  std::lock_guard lock(volume->mutex());
  Status failure;
  if (!volume->StartWrite(&failure) || !volume->DeleteDatabase(oid, &failure)) {
    volume->AbandonUnusedWrite();
    return Failed(failure, FALSE);
  }
  return TRUE;
}

HANDLE CeOpenDatabaseEx(CEGUID* guid, CEOID* oid, const WCHAR* name, CEPROPID sortProperty,
                        DWORD flags, void* /*notify*/) {
  auto volume = VolumeFor(guid);
  if (!volume)
    return Failed(ERROR_INVALID_PARAMETER, "the volume is not mounted", INVALID_HANDLE_VALUE);
  if (oid == nullptr || (*oid == 0 && (name == nullptr || name[0] == 0))) {
    return Failed(ERROR_INVALID_PARAMETER, "no database was named", INVALID_HANDLE_VALUE);
  }
  CEOID db = 0;
  {
    std::lock_guard lock(volume->mutex());
    Status failure;
    if (!volume->Refresh(&failure, true)) return Failed(failure, INVALID_HANDLE_VALUE);
    const DatabaseInfo* info =
        *oid != 0 ? volume->Database(*oid) : volume->DatabaseByName(tbm::Utf16View(name));
    if (!info) {
      return Failed(ERROR_FILE_NOT_FOUND, "the volume has no such database", INVALID_HANDLE_VALUE);
    }
    if (sortProperty != 0) {
      bool known = false;
      for (const auto& s : info->sorts) known = known || s.propid == sortProperty;
      if (!known) {
        return Failed(ERROR_INVALID_PARAMETER, "the database has no sort order on that property",
                      INVALID_HANDLE_VALUE);
      }
    }
    db = info->oid;
  }
  auto open = std::make_shared<OpenDatabase>(volume, db, sortProperty, flags);
  auto& registry = Registry::Get();
  std::lock_guard lock(registry.mutex);
  *oid = db;
  return registry.Add(std::move(open));
}

BOOL CeCloseHandle(HANDLE handle) {
  auto& registry = Registry::Get();
  std::lock_guard lock(registry.mutex);
  if (!registry.Remove(handle))
    return Failed(ERROR_INVALID_HANDLE, "the handle is not open", FALSE);
  return TRUE;
}

HANDLE CeFindFirstDatabaseEx(CEGUID* guid, DWORD type) {
  auto volume = VolumeFor(guid);
  if (!volume)
    return Failed(ERROR_INVALID_PARAMETER, "the volume is not mounted", INVALID_HANDLE_VALUE);
  auto find = std::make_shared<DatabaseFind>();
  find->volume = volume;
  {
    std::lock_guard lock(volume->mutex());
    Status failure;
    if (!volume->Refresh(&failure, true)) return Failed(failure, INVALID_HANDLE_VALUE);
    find->oids = volume->Databases(type);
  }
  auto& registry = Registry::Get();
  std::lock_guard lock(registry.mutex);
  return registry.Add(std::move(find));
}

CEOID CeFindNextDatabaseEx(HANDLE handle, CEGUID* /*guid*/) {
  std::shared_ptr<DatabaseFind> find;
  {
    auto& registry = Registry::Get();
    std::lock_guard lock(registry.mutex);
    HandleObject* object = registry.Find(handle);
    if (auto* f = object ? std::get_if<std::shared_ptr<DatabaseFind>>(object) : nullptr) find = *f;
  }
  if (!find) return Failed(ERROR_INVALID_HANDLE, "the handle is not open", CEOID{0});
  std::lock_guard lock(find->volume->mutex());
  Status failure;
  if (!find->volume->Refresh(&failure)) return Failed(failure, CEOID{0});
  while (find->next < find->oids.size()) {
    const CEOID oid = find->oids[find->next++];
    if (find->volume->Database(oid)) return oid;  // skip databases deleted meanwhile
  }
  return Failed(ERROR_NO_MORE_ITEMS, "no more databases", CEOID{0});
}

BOOL CeOidGetInfoEx(CEGUID* guid, CEOID oid, CEOIDINFO* out) {
  auto volume = VolumeFor(guid);
  if (!volume) return Failed(ERROR_INVALID_PARAMETER, "the volume is not mounted", FALSE);
  if (out == nullptr) return Failed(ERROR_INVALID_PARAMETER, "no answer buffer", FALSE);
  std::lock_guard lock(volume->mutex());
  Status failure;
  if (!volume->Refresh(&failure)) return Failed(failure, FALSE);
  *out = CEOIDINFO{};
  if (const DatabaseInfo* info = volume->Database(oid)) {
    out->wObjType = OBJTYPE_DATABASE;
    CEDBASEINFO& d = out->infDatabase;
    d.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
    tbm::CopyUtf16Cut(d.szDbaseName, sizeof d.szDbaseName, info->name);
    d.dwDbaseType = info->type;
    d.dwNumRecords = info->count;
    d.wNumSortOrder = static_cast<WORD>(info->sorts.size());
    for (std::size_t i = 0; i < info->sorts.size(); ++i) d.rgSortSpecs[i] = info->sorts[i];
    return TRUE;
  }
  auto record = volume->Record(oid, &failure);
  if (!record) {
    if (failure.platformError() == ERROR_NO_MORE_ITEMS) {
      return Failed(ERROR_INVALID_PARAMETER, "no database or record has that identifier", FALSE);
    }
    return Failed(failure, FALSE);
  }
  out->wObjType = OBJTYPE_RECORD;
  out->infRecord.oidParent = record->first;
  return TRUE;
}

BOOL CeSetDatabaseInfoEx(CEGUID* guid, CEOID oid, CEDBASEINFO* info) {
  auto volume = VolumeFor(guid);
  if (!volume) return Failed(ERROR_INVALID_PARAMETER, "the volume is not mounted", FALSE);
  if (info == nullptr) return Failed(ERROR_INVALID_PARAMETER, "no database information", FALSE);
  std::optional<std::u16string> name;
  std::optional<DWORD> type;
  std::optional<std::vector<SORTORDERSPEC>> sorts;
  if (info->dwFlags & CEDB_VALIDNAME) {
    name = CheckedName(*info);
    if (!name) {
      return Failed(ERROR_INVALID_PARAMETER, "a database name must have 1 to 31 characters", FALSE);
    }
  }
  if (info->dwFlags & CEDB_VALIDTYPE) type = info->dwDbaseType;
  if (info->dwFlags & CEDB_VALIDSORTSPEC) {
    sorts = CheckedSorts(*info);
    if (!sorts) {
      return Failed(ERROR_INVALID_PARAMETER,
                    "a database takes at most four sort orders on known property types", FALSE);
    }
  }
  std::lock_guard lock(volume->mutex());
  Status failure;
  if (!volume->StartWrite(&failure) || !volume->SetDatabaseInfo(oid, name, type, sorts, &failure)) {
    volume->AbandonUnusedWrite();
    return Failed(failure, FALSE);
  }
  return TRUE;
}

CEOID CeSeekDatabase(HANDLE handle, DWORD seekType, std::uintptr_t value, DWORD* index) {
  auto db = DatabaseFor(handle);
  if (!db) return Failed(ERROR_INVALID_HANDLE, "the database handle is not open", CEOID{0});
  std::lock_guard lock(db->volume()->mutex());
  Status failure;
  if (!db->volume()->Refresh(&failure)) return Failed(failure, CEOID{0});
  const CEOID oid = db->Seek(seekType, value, index, &failure);
  if (oid == 0) return Failed(failure, CEOID{0});
  return oid;
}

CEOID CeReadRecordPropsEx(HANDLE handle, DWORD flags, WORD* count, const CEPROPID* ids,
                          BYTE** buffer, DWORD* bufferBytes, HANDLE /*heap*/) {
  auto db = DatabaseFor(handle);
  if (!db) return Failed(ERROR_INVALID_HANDLE, "the database handle is not open", CEOID{0});
  std::lock_guard lock(db->volume()->mutex());
  Status failure;
  if (!db->volume()->Refresh(&failure)) return Failed(failure, CEOID{0});
  const CEOID oid = db->Read(flags, count, ids, buffer, bufferBytes, &failure);
  if (oid == 0) return Failed(failure, CEOID{0});
  ++recordReads;
  return oid;
}

CEOID CeWriteRecordProps(HANDLE handle, CEOID oid, WORD count, CEPROPVAL* values) {
  auto db = DatabaseFor(handle);
  if (!db) return Failed(ERROR_INVALID_HANDLE, "the database handle is not open", CEOID{0});
  if (count > 0 && values == nullptr) {
    return Failed(ERROR_INVALID_PARAMETER, "no properties to write", CEOID{0});
  }
  std::lock_guard lock(db->volume()->mutex());
  Status failure;
  if (!db->volume()->StartWrite(&failure)) return Failed(failure, CEOID{0});
  const CEOID written = db->volume()->WriteRecord(db->db(), oid, values, count, &failure);
  if (written == 0) {
    db->volume()->AbandonUnusedWrite();
    return Failed(failure, CEOID{0});
  }
  return written;
}

BOOL CeDeleteRecord(HANDLE handle, CEOID oid) {
  auto db = DatabaseFor(handle);
  if (!db) return Failed(ERROR_INVALID_HANDLE, "the database handle is not open", FALSE);
  std::lock_guard lock(db->volume()->mutex());
  Status failure;
  if (!db->volume()->StartWrite(&failure) || !db->volume()->DeleteRecord(db->db(), oid, &failure)) {
    db->volume()->AbandonUnusedWrite();
    return Failed(failure, FALSE);
  }
  db->Forget(oid);
  return TRUE;
}
