// Building a record set: the found-set table filled with the data records
// that a find matches, in the data table's current order, and the query
// that builds the set the application browses (MDbAgentQuery). The find is
// a word-prefix search through the word-break library, with whole-value
// comparison on number, date and time fields when the search text converts.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "DataTable.h"
#include "DateTime.h"
#include "Description.h"
#include "Guard.h"
#include "MDbBlocks.h"
#include "ObjectTable.h"
#include "Recset.h"
#include "TBMWbrk.h"
#include "Utf16.h"

namespace tbm::engine {
namespace {

constexpr char16_t kFoundName[] = u"VTBL_0";
// Where the database's date and time formats lie in the attribute block.

// Converts a field's text the way its type compares as a whole value.
std::int32_t Convert(std::uint8_t type, const std::uint8_t attrs[MDbAttrBytes],
                     const char16_t* text, std::int32_t* value) {
  switch (type) {
    case MDbFieldNumber:
      return NumberValue(text, value);
    case MDbFieldDate:
      return DateDayNumber(text, attrs + MDbAttrDateFormatOffset, value);
    case MDbFieldTime:
      return TimeSeconds(text, attrs + MDbAttrTimeFormatOffset, value);
    default:
      return MDbErrFailed;
  }
}

}  // namespace

// One find, prepared once per build.
class Finder {
 public:
  Finder(MDbEnv* env, const MDbFindRequest& request) : request_(request) {
    std::uint8_t type = 0;
    std::uint32_t size = 0;
    if (MDbSchemaTblReadFldType(env, &env->ref, &env->schema, request.field, &type) != MDbErrNone ||
        FieldMaxSize(type, 1, &size) != MDbErrNone) {
      // A field of no known type is searched by words alone.
      prepared_ = MDbErrFailed;
    } else if (type != MDbFieldText &&
               MDbAttrTblReadAttrs(env, &env->ref, &env->attributes, 0, attrs_) == MDbErrNone &&
               Convert(type, attrs_, request.text, &wanted_) == MDbErrNone) {
      type_ = type;
      wholeValue_ = true;
    }
    if (FWOpenSession(request.text ? request.text : u"", &session_) != TBMWBR_SUCCESS) {
      session_ = nullptr;
    }
  }
  ~Finder() {
    if (session_) FWCloseSession(session_);
  }
  Finder(const Finder&) = delete;
  Finder& operator=(const Finder&) = delete;

  // Without a session nothing is examined; the build gives this code.
  bool ready() const { return session_ != nullptr; }
  std::int32_t prepared() const { return prepared_; }

  bool Matches(const char16_t* text) const {
    if (wholeValue_) {
      std::int32_t value = 0;
      if (Convert(type_, attrs_, text, &value) == MDbErrNone && request_.mode == 0) {
        return value == wanted_;
      }
    }
    return FWFindWord(session_, text) == TBMWBR_SUCCESS;
  }

 private:
  MDbFindRequest request_;
  std::int32_t prepared_ = MDbErrNone;
  std::uint8_t type_ = 0;
  std::uint8_t attrs_[MDbAttrBytes] = {};
  bool wholeValue_ = false;
  std::int32_t wanted_ = 0;
  FWSession* session_ = nullptr;
};

std::int32_t NumberValue(const char16_t* text, std::int32_t* value) {
  if (text == nullptr) return MDbErrNotANumber;
  bool digits = false;
  bool negative = false;
  std::int64_t magnitude = 0;
  for (const char16_t* c = text; *c != 0 && *c != u'.'; ++c) {
    if (*c >= u'0' && *c <= u'9') {
      digits = true;
      // Past 2^31 the value cannot fit any more; stop growing it there.
      if (magnitude <= 0x80000000LL) magnitude = magnitude * 10 + (*c - u'0');
    } else if (*c == u'-' && !digits && !negative) {
      negative = true;
    }
  }
  if (!digits) return MDbErrNotANumber;
  // The extremes stand for an overflow, as a saturating conversion gives them.
  if (magnitude >= (negative ? 0x80000000LL : 0x7FFFFFFFLL)) return MDbErrNumberRange;
  *value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return MDbErrNone;
}

// Creates the found-set table, deleting the previous one (found by type and
// name without regard to case).
static std::int32_t NewFoundTable(MDbEnv* env, MDbRecset* rs) {
  HANDLE find = CeFindFirstDatabaseEx(&env->ref.volume, MDbFoundSetTableType);
  if (find == INVALID_HANDLE_VALUE) return MDbErrFailed;
  for (CEOID oid; (oid = CeFindNextDatabaseEx(find, &env->ref.volume)) != 0;) {
    CEOIDINFO info{};
    if (CeOidGetInfoEx(&env->ref.volume, oid, &info) &&
        EqualsIgnoreCase(Utf16View(info.infDatabase.szDbaseName), kFoundName) &&
        !CeDeleteDatabaseEx(&env->ref.volume, oid)) {
      CeCloseHandle(find);
      return MDbErrFailed;
    }
  }
  CeCloseHandle(find);
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
  CopyUtf16Cut(info.szDbaseName, sizeof info.szDbaseName, kFoundName);
  info.dwDbaseType = MDbFoundSetTableType;
  info.wNumSortOrder = 1;
  info.rgSortSpecs[0] = {kOrdinalProp, 0};
  CEOID oid = CeCreateDatabaseEx(&env->ref.volume, &info);
  if (oid == 0) return MDbErrFailed;
  HANDLE h = CeOpenDatabaseEx(&env->ref.volume, &oid, nullptr, kOrdinalProp, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return MDbErrFailed;
  rs->foundOpened = 1;
  rs->foundOid = oid;
  rs->foundHandle = h;
  rs->foundPosition = -1;
  rs->nextOrdinal = 0;
  return MDbErrNone;
}

std::int32_t FoundAppend(MDbRecset* rs, std::uint32_t oid) {
  if (!rs->foundOpened) return MDbErrFailed;
  CEPROPVAL entry[2]{};
  entry[0].propid = kOrdinalProp;
  entry[0].val.ulVal = rs->nextOrdinal;
  entry[1].propid = kMemberProp;
  entry[1].val.ulVal = oid;
  if (CeWriteRecordProps(rs->foundHandle, 0, 2, entry) == 0) return MDbErrFailed;
  ++rs->nextOrdinal;
  return MDbErrNone;
}

std::int32_t DropFoundTable(MDbEnv* env, MDbRecset* rs) {
  if (!rs->foundOpened) return MDbErrNone;
  std::int32_t rc = CeCloseHandle(rs->foundHandle) ? MDbErrNone : MDbErrFailed;
  if (!CeDeleteDatabaseEx(&env->ref.volume, rs->foundOid) && rc == MDbErrNone) rc = MDbErrFailed;
  rs->foundOpened = 0;
  rs->foundHandle = nullptr;
  rs->foundOid = 0;
  return rc;
}

// Fills the new found-set table of rs with the records query matches (every
// record without one) and flushes it.
static std::int32_t FillFoundTable(MDbEnv* env, MDbRecset* rs, const MDbFindRequest* query) {
  std::unique_ptr<Finder> finder;
  if (query != nullptr) {
    finder = std::make_unique<Finder>(env, *query);
    // Without a session the set stays empty; the field's own failure, if
    // any, is reported.
    if (!finder->ready()) return finder->prepared();
  }
  // Every record is visited by position in the data table's current order;
  // each costs one seek (served from the store's read-ahead) and, for a
  // find, one read of the searched field into a buffer kept for the walk.
  std::uint32_t count = 0;
  std::int32_t rc = MDbDataTblGetRecCount(env, &env->ref, &env->data, &count);
  const HANDLE table = env->data.dataHandle;
  const CEPROPID fieldProp = query ? FieldProp(query->field) : 0;
  ReallocBuffer buffer;
  for (std::uint32_t p = 0; rc == MDbErrNone && p < count; ++p) {
    env->data.cursor = static_cast<std::int16_t>(p);
    const CEOID oid = CeSeekDatabase(table, CEDB_SEEK_BEGINNING, p, nullptr);
    if (oid == 0) return MDbErrFailed;
    bool member = true;
    if (finder) {
      WORD one = 1;
      if (query->field < 0 ||
          CeReadRecordPropsEx(table, CEDB_ALLOWREALLOC, &one, &fieldProp, &buffer.data,
                              &buffer.bytes, nullptr) != oid ||
          (reinterpret_cast<const CEPROPVAL*>(buffer.data)->wFlags & CEDB_PROPNOTFOUND)) {
        return MDbErrFailed;  // a record without the field is damaged
      }
      member = finder->Matches(reinterpret_cast<const CEPROPVAL*>(buffer.data)->val.lpwstr);
      if (!member && rs->filterField != -1 && AddedContains(rs, oid)) member = true;
    }
    if (member) rc = FoundAppend(rs, oid);
  }
  if (rc != MDbErrNone) return rc;
  return CeFlushDBVol(&env->ref.volume) ? MDbErrNone : MDbErrFailed;
}

std::int32_t BuildSet(MDbEnv* env, MDbRecset* rs, const MDbFindRequest* query) {
  if (!EnvOpen(env)) return MDbErrFailed;
  std::int32_t rc = NewFoundTable(env, rs);
  if (rc != MDbErrNone) return rc;
  rc = Guarded([&] { return FillFoundTable(env, rs, query); });
  if (rc != MDbErrNone) {
    DropFoundTable(env, rs);
    return rc;
  }
  rs->valid = 1;
  rs->usesFoundSet = 1;
  return MDbErrNone;
}

// ---- the added-record list ----

bool AddedContains(const MDbRecset* rs, std::uint32_t oid) {
  for (std::uint16_t i = 0; i < rs->addedCount; ++i) {
    if (rs->added[i] == oid) return true;
  }
  return false;
}

std::int32_t AddedAppend(MDbRecset* rs, std::uint32_t oid) {
  if (rs->addedCount == 0xFFFF) return MDbErrFailed;
  const std::uint32_t needed = (rs->addedCount + 1u) * sizeof(std::uint32_t);
  if (needed > rs->addedCapacity) {
    // Grows in steps of 1024 bytes (256 identifiers).
    const std::uint32_t capacity = rs->addedCapacity + 1024;
    void* grown = std::realloc(rs->added, capacity);
    if (grown == nullptr) {
      NoteOutOfMemory();
      return MDbErrFailed;
    }
    rs->added = static_cast<std::uint32_t*>(grown);
    rs->addedCapacity = capacity;
  }
  rs->added[rs->addedCount++] = oid;
  return MDbErrNone;
}

void AddedRemove(MDbRecset* rs, std::uint32_t oid) {
  for (std::uint16_t i = 0; i < rs->addedCount; ++i) {
    if (rs->added[i] == oid) {
      rs->added[i] = rs->added[--rs->addedCount];
      return;
    }
  }
}

void AddedFree(MDbRecset* rs) {
  std::free(rs->added);
  rs->added = nullptr;
  rs->addedCount = 0;
  rs->addedCapacity = 0;
}

}  // namespace tbm::engine

// ---- the query ----

using namespace tbm::engine;

extern "C" {

std::int32_t MDbAgentQuery(MDbEnv* env, MDbRecset* rs, const MDbFindRequest* request) {
  if (!EnvOpen(env) || rs == nullptr || rs->valid) return MDbErrFailed;
  rs->dirty = 0;
  rs->sortField = -1;
  rs->ascending = 1;
  if (request == nullptr) {
    rs->valid = 1;
    rs->usesFoundSet = 0;
    rs->filterField = -1;
    rs->hasQuery = 0;
    return MDbErrNone;
  }
  rs->filterField = request->field;
  const std::int32_t rc = Guarded([&] { return BuildSet(env, rs, request); });
  rs->queryField = request->field;
  rs->queryMode = request->mode;
  rs->queryText = request->text;
  rs->hasQuery = 1;
  return rc;
}

}  // extern "C"
