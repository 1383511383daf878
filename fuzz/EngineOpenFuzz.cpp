// A real database damaged record by record, then opened and used as the
// handheld program uses it. The database is made once per process through
// the engine (schema, options, attributes, value lists, records); every
// input starts from a copy of it, names the search text's first character
// (two bytes) and the fields to find and sort on (one byte), then lists
// damages, each written through the store's own calls, so that every one
// reaches the engine's readers rather than the store's refusal of a bad
// file:
//
//   record  byte   which record of the volume (all its tables, in order)
//   action  byte   bits 0-2: 0 a string, 1 a byte block, 2 a 2-byte, 3 a
//                  4-byte value, 4 a boolean, 5 the property removed,
//                  6 the record removed, 7 a new record of that one property
//   which   byte   below 0x80: one of the record's own properties (its
//                  index, kept with the action's type); else property
//                  number (which & 0x0F)
//   length  byte   bytes of the value that follow (strings: pairs)
//
// The engine must refuse or open the result cleanly, and whatever opens
// must be walkable, findable and sortable without a crash or a leak.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CeDb.h"
#include "DatabaseBuilder.h"
#include "FuzzScratch.h"
#include "MDb.h"
#include "MDbBlocks.h"
#include "Utf16.h"

namespace {

using tbm::fuzz::InputBytes;
using namespace tbm::sync;

constexpr int kMaxDamages = 24;
constexpr std::uint32_t kMaxWalked = 64;

std::u16string VolumePath() {
  static const std::u16string path =
      tbm::Utf8ToUtf16((tbm::fuzz::ScratchFolder("tbm-engine-open-fuzz-") / "Orders.tbm").string());
  return path;
}

std::string HostPath() { return tbm::Utf16ToUtf8(VolumePath()); }

void RemoveVolume() {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm"})
    std::filesystem::remove(HostPath() + suffix, ignored);
}

// A small order book as the handheld keeps it: every field type, a value
// list, dates and times in the database's formats, an empty value.
void MakeDatabase() {
  RemoveVolume();
  MDbEnv env;
  MDbEnvInitialize(&env);
  MDbInit(&env, 0);
  if (MDbCreate(&env, VolumePath().c_str(), &env.ref) != MDbErrNone) std::abort();
  FieldSpec customer{MDbFieldText, u"Customer", FieldKey("K-CUST"), 0, 1, 0};
  FieldSpec quantity{MDbFieldNumber, u"Qty", FieldKey("K-QTY"), 0, 0, -1};
  FieldSpec due{MDbFieldDate, u"Due", FieldKey("K-DUE"), 0, 0, -1};
  FieldSpec at{MDbFieldTime, u"At", FieldKey("K-AT"), 0, 0, -1};
  FieldSpec notes{MDbFieldText, u"Notes", FieldKey("K-NOTES"), 0, 0, -1};
  const std::vector<FieldSpec> fields = {customer, quantity, due, at, notes};
  DatabaseFormats formats;
  formats.date = MakeDateFormat(u'/', 1, false, false, false);
  formats.time = MakeTimeFormat(u':', u"AM", u"PM", u"", false, true);
  const std::vector<std::u16string> lists = {u"Acme\r\nBolt & Nut\r\nCogs Ltd"};
  bool failed = MarkConsistent(&env, false) != MDbErrNone ||
                ReplaceSchema(&env, fields, false, nullptr) != MDbErrNone ||
                ReplaceAttributes(&env, NewAttributeBlock(formats), u"Orders") != MDbErrNone ||
                ReplaceValueLists(&env, lists) != MDbErrNone;
  {
    RecordLoader loader(&env);
    failed = failed || loader.Start() != MDbErrNone;
    const char16_t* rows[][5] = {{u"Acme", u"12", u"3/14/2026", u"9:30 AM", u"rush"},
                                 {u"Bolt & Nut", u"-4", u"12/1/2025", u"5:05 PM", u""},
                                 {u"Cogs Ltd", u"1500", u"2/29/2024", u"12:00 AM", u"call first"},
                                 {u"acme", u"12.5", u"1/1/1900", u"11:59 PM", u"Zürich"}};
    // The desktop's identities "DK2" to "DK5".
    MDbIdentity identity;
    identity.desktopId = {3, 'D', 'K', '1'};
    for (const auto& row : rows) {
      ++identity.desktopId[3];
      std::uint8_t block[MDbIdentityBytes];
      MDbEncodeIdentity(identity, block);
      failed = failed || loader.Add(block, row) != MDbErrNone;
    }
    failed = failed || loader.Finish() != MDbErrNone;
  }
  failed = failed || MarkConsistent(&env, true) != MDbErrNone;
  MDbClose(&env, &env.ref);
  MDbShutdown(&env);
  if (failed) std::abort();
}

// The made database's bytes, kept to start each input from.
const std::vector<char>& Pristine() {
  static const std::vector<char> bytes = [] {
    MakeDatabase();
    std::ifstream in(HostPath(), std::ios::binary);
    std::vector<char> read((std::istreambuf_iterator<char>(in)), {});
    if (read.empty()) std::abort();
    return read;
  }();
  return bytes;
}

struct RecordPlace {
  HANDLE table;
  CEOID oid;
};

// Applies the damages of input to the volume's records.
void Damage(InputBytes& input) {
  CEGUID volume{};
  if (!CeMountDBVol(&volume, VolumePath().c_str(), OPEN_EXISTING)) std::abort();
  std::vector<HANDLE> tables;
  std::vector<RecordPlace> records;
  HANDLE find = CeFindFirstDatabaseEx(&volume, 0);
  for (CEOID db; (db = CeFindNextDatabaseEx(find, &volume)) != 0;) {
    CEOID oid = db;
    HANDLE table = CeOpenDatabaseEx(&volume, &oid, nullptr, 0, 0, nullptr);
    if (table == INVALID_HANDLE_VALUE) continue;
    tables.push_back(table);
    for (DWORD p = 0;; ++p) {
      const CEOID record = CeSeekDatabase(table, CEDB_SEEK_BEGINNING, p, nullptr);
      if (record == 0) break;
      records.push_back({table, record});
    }
  }
  CeCloseHandle(find);

  BYTE* buffer = nullptr;
  DWORD bufferBytes = 0;
  for (int d = 0; d < kMaxDamages && !input.empty() && !records.empty(); ++d) {
    const RecordPlace place = records[input.Byte() % records.size()];
    const std::uint8_t action = input.Byte() & 7;
    const std::uint8_t which = input.Byte();
    const std::vector<std::uint8_t> value = input.Bytes(input.Byte());

    WORD index = which & 0x0F;
    if (which < 0x80 && CeSeekDatabase(place.table, CEDB_SEEK_CEOID, place.oid, nullptr) != 0) {
      WORD count = 0;
      if (CeReadRecordPropsEx(place.table, CEDB_ALLOWREALLOC, &count, nullptr, &buffer,
                              &bufferBytes, nullptr) != 0 &&
          count > 0) {
        index = IndexFromPropId(reinterpret_cast<CEPROPVAL*>(buffer)[which % count].propid);
      }
    }
    if (action == 6) {
      CeDeleteRecord(place.table, place.oid);
      continue;
    }
    static constexpr WORD kTypes[] = {CEVT_LPWSTR, CEVT_BLOB, CEVT_UI2, CEVT_I4,
                                      CEVT_BOOL,   CEVT_I4,   0,        CEVT_LPWSTR};
    CEPROPVAL prop{};
    prop.propid = PropId(index, kTypes[action]);
    std::u16string text;
    std::uint32_t number = 0;
    if (!value.empty()) std::memcpy(&number, value.data(), std::min<std::size_t>(value.size(), 4));
    switch (kTypes[action]) {
      case CEVT_LPWSTR:
        for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
          const char16_t unit = static_cast<char16_t>(value[i] | (value[i + 1] << 8));
          if (unit == 0) break;
          text.push_back(unit);
        }
        prop.val.lpwstr = text.data();
        break;
      case CEVT_BLOB:
        prop.val.blob.dwCount = static_cast<DWORD>(value.size());
        prop.val.blob.lpb = const_cast<BYTE*>(value.data());
        break;
      case CEVT_UI2:
        prop.val.uiVal = static_cast<USHORT>(number);
        break;
      case CEVT_BOOL:
        prop.val.boolVal = static_cast<BOOL>(number);
        break;
      default:
        prop.val.lVal = static_cast<LONG>(number);
        break;
    }
    if (action == 5) prop.wFlags = CEDB_PROPDELETE;
    CeWriteRecordProps(place.table, action == 7 ? 0 : place.oid, 1, &prop);
  }
  std::free(buffer);
  for (HANDLE table : tables) CeCloseHandle(table);
  CeUnmountDBVol(&volume);
}

// Reads every record of rs as the list and form views do.
void WalkSet(MDbEnv* env, MDbRecset* rs) {
  std::uint32_t count = 0;
  std::uint16_t fields = 0;
  if (MDbRecsetGetRecCount(env, rs, &count) != MDbErrNone ||
      MDbRecsetGetFldCount(env, rs, &fields) != MDbErrNone) {
    return;
  }
  for (std::uint32_t i = 0; i < count && i < kMaxWalked; ++i) {
    MDbRecsetSetInx(env, rs, static_cast<std::int16_t>(i));
    if (MDbRecsetOpenRec(env, rs) != MDbErrNone) continue;
    for (std::uint16_t f = 0; f < fields; ++f) {
      const auto field = static_cast<std::int16_t>(f);
      const char16_t* text = nullptr;
      if (MDbRecsetGetFieldPtr(env, rs, field, &text) == MDbErrNone && text == nullptr) {
        std::abort();  // a read that succeeds gives a text
      }
      std::uint32_t bytes = 0;
      MDbRecsetGetFieldSize(env, rs, field, &bytes);
      char16_t small[8];
      MDbRecsetGetField(env, rs, field, small, sizeof small);
      std::uint32_t maxSize = 0;
      MDbRecsetGetFieldMaxSize(env, rs, field, &maxSize);
      std::uint8_t option[MDbOptionBytes];
      std::uint8_t optionEx[MDbOptionExBytes];
      MDbRecsetGetFldOption(env, rs, field, option);
      MDbRecsetGetFldOptionEx(env, rs, field, optionEx);
    }
    MDbRecsetCloseRec(env, rs);
  }
}

// The states and identities of the data and delete tables.
void WalkTables(MDbEnv* env) {
  std::uint32_t count = 0;
  MDbDataTblGetRecCount(env, &env->ref, &env->data, &count);
  for (std::uint32_t i = 0; i < count && i < kMaxWalked; ++i) {
    MDbDataRec rec;
    MDbDataRecInitialize(&rec);
    MDbDataTblCursSetInx(env, &env->ref, &env->data, static_cast<std::int16_t>(i));
    if (MDbDataTblOpenRec(env, &env->ref, &env->data, &rec, nullptr) != MDbErrNone) continue;
    std::uint8_t state = 0;
    std::uint8_t identity[MDbIdentityBytes];
    MDbDataRecGetState(env, &env->ref, &env->data, &rec, &state);
    MDbDataRecGetRecInfo(env, &env->ref, &env->data, &rec, identity);
    MDbDataTblCloseRec(env, &env->ref, &env->data, &rec);
  }
  count = 0;
  MDbDeleteTblGetRecCount(env, &env->ref, &env->data, &count);
  for (std::uint32_t i = 0; i < count && i < kMaxWalked; ++i) {
    MDbDataRec rec;
    MDbDataRecInitialize(&rec);
    if (MDbDeleteTblOpenRec(env, &env->ref, &env->data, &rec, static_cast<std::int16_t>(i),
                            nullptr) != MDbErrNone) {
      continue;
    }
    std::uint8_t identity[MDbIdentityBytes];
    MDbDataRecGetRecInfo(env, &env->ref, &env->data, &rec, identity);
    MDbDataTblCloseRec(env, &env->ref, &env->data, &rec);
  }
}

// What the handheld program does with an open database, short of changing
// values: its name, attributes and value lists, every record's state and
// identity, every record's fields; a find and two sorts on the fields
// chosen.
void UseDatabase(MDbEnv* env, const std::u16string& searchText, std::uint8_t chosen) {
  char16_t name[40];
  MDbAgentGetDbName(env, name, sizeof name);
  std::uint32_t attribute = 0;
  for (std::uint8_t id = 0; id < 8; ++id) MDbAgentGetAttr(env, id, &attribute);
  for (std::int16_t list = 0; list < 3; ++list) {
    std::uint32_t bytes = 0;
    if (MDbAgentGetValListSize(env, list, &bytes) != MDbErrNone || bytes > (1u << 20)) continue;
    std::vector<char16_t> text(bytes / 2 + 1);
    MDbAgentGetValList(env, list, text.data(), bytes);
  }
  WalkTables(env);

  MDbRecset all;
  MDbRecsetInitialize(&all);
  std::uint16_t fields = 0;
  if (MDbAgentQuery(env, &all, nullptr) == MDbErrNone) {
    WalkSet(env, &all);
    MDbRecsetGetFldCount(env, &all, &fields);
  }
  MDbRecsetDestroy(env, &all);

  if (fields == 0) return;
  // A find on one field, sorted by it; then the whole table sorted by
  // another, the other way round.
  const auto findField = static_cast<std::int16_t>(chosen % fields);
  const auto sortField = static_cast<std::int16_t>((chosen / 16) % fields);
  const MDbFindRequest request{findField, 0, searchText.c_str()};
  MDbRecset found;
  MDbRecsetInitialize(&found);
  if (MDbAgentQuery(env, &found, &request) == MDbErrNone) {
    WalkSet(env, &found);
    if (MDbRecsetSort(env, &found, findField, 0) == MDbErrNone) WalkSet(env, &found);
  }
  MDbRecsetDestroy(env, &found);
  MDbRecset sorted;
  MDbRecsetInitialize(&sorted);
  if (MDbAgentQuery(env, &sorted, nullptr) == MDbErrNone &&
      MDbRecsetSort(env, &sorted, sortField, 1) == MDbErrNone) {
    WalkSet(env, &sorted);
  }
  MDbRecsetDestroy(env, &sorted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<char>& pristine = Pristine();
  RemoveVolume();
  {
    std::ofstream out(HostPath(), std::ios::binary);
    out.write(pristine.data(), static_cast<std::streamsize>(pristine.size()));
  }
  InputBytes input(data, size);
  // The first two bytes are the search text's first character, the third
  // chooses the fields found and sorted.
  const char16_t first = static_cast<char16_t>(input.Byte() | (input.Byte() << 8));
  const std::u16string searchText = first == 0 ? u"1" : std::u16string(1, first);
  const std::uint8_t chosen = input.Byte();
  Damage(input);

  MDbEnv env;
  MDbEnvInitialize(&env);
  if (MDbInit(&env, 1) != MDbErrNone) std::abort();
  if (MDbAgentOpenDb(&env, VolumePath().c_str()) == MDbErrNone) {
    UseDatabase(&env, searchText, chosen);
    MDbAgentCloseDb(&env);
  }
  MDbShutdown(&env);
  return 0;
}
