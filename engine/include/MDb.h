// The database engine's interface: every handheld database is one volume
// file holding an object table (header, schema, field options, attributes,
// value lists, counters and a consistency value), a data table, a delete
// table and, while a sorted or filtered view exists, a found-set table.
//
// Conventions of every call:
//  - Exported as plain C symbols; no exception leaves the engine.
//  - Results are MDbErr codes (0 success); is-opened queries return a byte.
//  - Strings are UTF-16 (char16_t), zero-terminated. Where a caller passes a
//    buffer with its size, the size is in bytes and at most (size / 2 - 1)
//    characters are copied, always terminated; longer text is cut silently.
//  - Every environment, reference and handle belongs to the caller; the
//    engine allocates only working buffers. One environment and its tables
//    are used by one thread at a time.
//  - Every call checks the state it needs first (initialised environment,
//    opened reference, open table) and returns MDbErrFailed without side
//    effects when it is wrong.
#pragma once

#include <cstdint>

#include "CeDb.h"
#include "WinTypes.h"

// ---- result codes ----

enum MDbErr : std::int32_t {
  MDbErrNone = 0,
  MDbErrFailed = 1,          // wrong state, a store call failed, missing entry
  MDbErrBadDate = 2,         // date text is not a valid date
  MDbErrBadTime = 3,         // time text is not a valid time
  MDbErrNoMoreFiles = 4,     // MDbFindNextFile found no further file
  MDbErrBadFormat = 5,       // MDbOpen: header signature or version differs
  MDbErrCannotOpen = 6,      // MDbOpen: cannot mount, or a step of opening failed
  MDbErrWordBreak = 7,       // MDbInit: the word-break library failed to start
  MDbErrTooManyRecords = 8,  // the data table already holds 5000 records
  MDbErrBadField = 9,        // MDbRecsetSort: field index out of range
  MDbErrNumberRange = 10,    // internal number conversion (never returned)
  MDbErrNotANumber = 11,     // internal number conversion (never returned)
  MDbErrInconsistent = 12,   // MDbVerifyChecksome: the consistency value is not 1
  MDbErrNoFields = 13,       // MDbAgentOpenDb: the schema holds no field
};

// ---- the volume layout ----

// Object-table kinds: an entry's key is (kind << 16) | index.
enum MDbObjKind : std::uint16_t {
  MDbObjFieldOptions = 0,
  MDbObjValueList = 1,
  MDbObjAttributes = 2,
  MDbObjSchema = 3,
  MDbObjCounter = 4,
  MDbObjHeader = 5,
  MDbObjConsistency = 6,
};

constexpr std::uint32_t MDbObjectTableType = 0x4F424A47;    // "OBJG"
constexpr std::uint32_t MDbDataTableType = 0x44415441;      // "DATA"
constexpr std::uint32_t MDbDeleteTableType = 0x44454C54;    // "DELT"
constexpr std::uint32_t MDbFoundSetTableType = 0x5654424C;  // "VTBL"

constexpr std::uint32_t MDbHeaderSignature = 0x43465254;  // "TRFC" in the file
constexpr std::uint16_t MDbHeaderMajor = 2;
constexpr std::uint16_t MDbHeaderMinor = 1;

constexpr std::uint32_t MDbMaxRecords = 5000;

// ---- handles (owned by the caller) ----

// A buffer for a volume's path.
struct MDbVolFSpec {
  char16_t path[260];
};

// Reference to one mounted volume.
struct MDbRef {
  std::uint8_t opened;
  // the object-table descriptor
  char16_t objName[33];  // always "OBJG_0"
  std::uint32_t objOid;
  std::uint32_t objOpen;
  HANDLE objHandle;
  CEGUID volume;  // named by every store call on the volume
};

// Data and delete tables.
struct MDbDataTbl {
  std::uint32_t opened;
  HANDLE dataHandle;
  std::uint32_t dataOid;
  std::int16_t cursor;  // position used to open a record by position; -1 after reset
  HANDLE deleteHandle;
  std::uint32_t deleteOid;
  std::uint32_t cachedSeq;  // 0xFFFFFFFF when no creation-sequence cache is in force
};

struct MDbSchemaTbl {
  std::uint8_t opened;
  // The field count, read once per opening: every field-pointer load needs
  // it, and counting walks the object table. Creating or deleting the
  // schema through an environment forgets its own handle's count.
  std::uint8_t countKnown;
  std::uint16_t count;
};

struct MDbFieldOpTbl {
  std::uint8_t opened;
  std::uint32_t mode;  // bit 0: keep read options in memory
  void* cache;
  std::uint16_t cacheSlots;
};

struct MDbAttrTbl {
  std::uint8_t opened;
};

struct MDbValListTbl {
  std::uint8_t opened;
};

// One record of the data or delete table.
struct MDbDataRec {
  std::uint16_t flags;  // bit 0 open; bit 2 the record belongs to the delete table
  std::uint32_t oid;
  // The loaded properties: empty until a field pointer is asked for.
  std::uint16_t loadedFlags;  // bit 0: the five leading properties are included
  std::uint16_t loadedCount;
  void* loaded;
  std::uint32_t loadedBytes;
};

constexpr std::uint16_t MDbDataRecOpen = 0x1;
constexpr std::uint16_t MDbDataRecInDeleteTable = 0x4;

// A find: the field searched and the search text (kept alive by the caller
// for as long as the record set that stores it exists).
struct MDbFindRequest {
  std::int16_t field;
  std::uint16_t mode;  // 0: number, date and time fields compare a converting text as a value
  const char16_t* text;
};

// The record set the handheld application browses: the whole data table in
// creation order, or a sorted and/or found subset kept as the found-set table
// "VTBL_0" in the volume.
struct MDbRecset {
  std::uint8_t valid;
  std::uint8_t usesFoundSet;
  std::int16_t filterField;  // -1: no find in force
  std::uint8_t dirty;        // a record was added or duplicated through this set
  std::int16_t sortField;    // -1: not sorted
  std::uint8_t ascending;
  MDbDataRec rec;  // the current record
  // the found-set table
  std::uint8_t foundOpened;
  std::uint32_t foundOid;
  HANDLE foundHandle;
  std::int32_t foundPosition;
  std::uint32_t nextOrdinal;
  // the stored query
  std::int16_t queryField;
  std::uint16_t queryMode;
  const char16_t* queryText;
  std::uint8_t hasQuery;
  // records added or edited while a find is in force: data-record identifiers
  std::uint32_t* added;
  std::uint16_t addedCount;
  std::uint32_t addedCapacity;  // bytes
};

// What MDbRecsetGetSortDef reports.
struct MDbSortDef {
  std::int16_t field;  // -1: not sorted
  std::uint16_t ascending;
};

// A date as parsed from text or to be written as text.
struct MDbDateRec {
  std::int16_t month;
  std::int16_t day;
  std::int16_t year;
  std::uint32_t status;  // MDbDate* below
  std::uint32_t fourDigitYear;
  char16_t separator;  // the separator typed, 0 if none
};

constexpr std::uint32_t MDbDateValid = 0;
constexpr std::uint32_t MDbDateValidThisYear = 1;  // the year was not typed
constexpr std::uint32_t MDbDateBlank = 2;          // nothing but spaces
constexpr std::uint32_t MDbDateZero = 3;           // every component zero
constexpr std::uint32_t MDbDateInvalid = 4;

// A time as parsed from text or to be written as text.
struct MDbTimeRec {
  std::int16_t hours;
  std::int16_t minutes;
  std::int16_t seconds;
  std::uint32_t kind;        // MDbTime* below
  std::uint32_t components;  // typed components minus one: 0 hours, 1 minutes, 2 seconds
};

constexpr std::uint32_t MDbTimePlain = 0;       // no suffix typed
constexpr std::uint32_t MDbTimeTwelve = 1;      // morning or afternoon suffix typed
constexpr std::uint32_t MDbTimeTwentyFour = 2;  // the 24-hour suffix typed
constexpr std::uint32_t MDbTimeBlank = 3;       // nothing but spaces
constexpr std::uint32_t MDbTimeInvalid = 4;

constexpr std::uint32_t MDbDateFormatBytes = 6;
constexpr std::uint32_t MDbTimeFormatBytes = 48;
// Output buffers for dates and times written as text hold at least this many
// characters.
constexpr std::uint32_t MDbDateTimeTextChars = 32;

// Record state bits (property 0 of a stored record).
constexpr std::uint8_t MDbRecModified = 0x1;
constexpr std::uint8_t MDbRecDeleted = 0x2;
constexpr std::uint8_t MDbRecAdded = 0x4;

// Field types (byte 0 of a field-information block).
constexpr std::uint8_t MDbFieldText = 1;
constexpr std::uint8_t MDbFieldNumber = 2;
constexpr std::uint8_t MDbFieldDate = 3;
constexpr std::uint8_t MDbFieldTime = 4;

constexpr std::uint32_t MDbFieldInfoBytes = 18;
constexpr std::uint32_t MDbOptionBytes = 6;
constexpr std::uint32_t MDbOptionExBytes = 9;
constexpr std::uint32_t MDbOptionEntryBytes = MDbOptionBytes + MDbOptionExBytes;
constexpr std::uint32_t MDbAttrBytes = 78;
constexpr std::uint32_t MDbIdentityBytes = 10;

// The engine environment: one per program (the handheld application) or per
// call (the synchronisation agent).
struct MDbEnv {
  std::uint8_t initialised;
  MDbRef ref;  // the volume the agent layer opens
  MDbDataTbl data;
  MDbSchemaTbl schema;
  MDbFieldOpTbl fieldOptions;
  MDbAttrTbl attributes;
  MDbValListTbl valueLists;
};

extern "C" {

// ---- environment ----

// Puts env into its initial state: not initialised, reference closed, every
// table handle closed, the creation-sequence cache off.
void MDbEnvInitialize(MDbEnv* env);

// Makes spec the empty path.
void MDbVolFSpecInitialize(MDbVolFSpec* spec);

// Marks env initialised (MDbErrFailed when env is null or already
// initialised), then, when wordBreak is non-zero, starts the word-break
// library: its failure gives MDbErrWordBreak, and env stays initialised.
std::int32_t MDbInit(MDbEnv* env, std::uint8_t wordBreak);

// Stops the word-break library and resets env as MDbEnvInitialize does, in
// every case (a null env is not touched). 0 when env was initialised,
// MDbErrFailed otherwise.
std::int32_t MDbShutdown(MDbEnv* env);

// ---- volumes ----

// Creates a new database volume at path with its object table and header;
// fails when the file exists. A failure after the file was made leaves no
// file behind. On success ref is opened.
std::int32_t MDbCreate(MDbEnv* env, const char16_t* path, MDbRef* ref);

// Mounts the existing volume at path and checks its header: a volume that
// cannot be mounted, or whose object table or header cannot be read, gives
// MDbErrCannotOpen; another signature or version gives MDbErrBadFormat. In
// both header cases the volume stays mounted and ref opened, for the caller
// to close.
std::int32_t MDbOpen(MDbEnv* env, const char16_t* path, MDbRef* ref);

// Closes the object table and unmounts the volume. Tables of ref must have
// been closed before. When the unmount fails, ref stays opened.
std::int32_t MDbClose(MDbEnv* env, MDbRef* ref);

// Deletes the file at path.
std::int32_t MDbDelete(MDbEnv* env, const char16_t* path);

// env initialised and ref opened.
std::uint8_t MDbIsOpened(MDbEnv* env, MDbRef* ref);
std::uint8_t MDbRefIsOpened(MDbRef* ref);

// ---- write batches and failure causes ----

// Makes the changes between MDbBeginWriteBatch and the matching
// MDbEndWriteBatch on env's open volume one unit: the flushes of the calls
// in between are put off to the end, so the changes become durable
// together or, when the process dies first, are lost together (a new
// record with its fields, several fields of one record). The begin takes
// the volume's write lock, waiting a few seconds for another process's
// change (then MDbErrFailed, with the cause ERROR_BUSY); other processes'
// writes wait while the batch is open, so keep it short. keep 0 rolls back
// every change of the batch: the volume is then as it was, but what the
// engine keeps in memory (a found set, the option cache, an open record)
// may describe the rolled-back changes, so close the database before
// using it again. Batches nest; an inner one ended with keep 0 makes the
// outer end roll back and fail. Calls that read before they write (a new
// record's creation number) open a batch of their own.
std::int32_t MDbBeginWriteBatch(MDbEnv* env);
std::int32_t MDbEndWriteBatch(MDbEnv* env, std::uint8_t keep);

// What made a call of this thread fail, as far as a person must hear it:
// the platform error of the first store failure since MDbClearFailureCause
// that was the volume in use (ERROR_BUSY, ERROR_SHARING_VIOLATION), the disk
// full (ERROR_DISK_FULL), permission refused (ERROR_ACCESS_DENIED), a
// damaged file (ERROR_FILE_CORRUPT, ERROR_BAD_FORMAT), the disk failing
// (ERROR_READ_FAULT, ERROR_WRITE_FAULT) or memory (ERROR_NOT_ENOUGH_MEMORY),
// or ERROR_SUCCESS. *message, when given, points at the store's sentence
// about it until the next clear. Clear before the calls whose failure is to
// be explained.
std::uint32_t MDbGetFailureCause(const char** message);
void MDbClearFailureCause();

// ---- files ----

// Creates one folder; fails when it exists.
std::int32_t MDbCreateDirectory(const char16_t* path);

// Starts enumerating the files matching pattern (a path whose last part may
// hold * and ?), stores the search in *find and copies the first file's name
// (without its folder). No match gives MDbErrFailed.
std::int32_t MDbFindFirstFile(HANDLE* find, const char16_t* pattern, char16_t* name,
                              std::uint32_t nameBytes);

// The next file's name. After the last one the search is closed, *find set
// to null and MDbErrNoMoreFiles returned; a null *find gives MDbErrFailed.
std::int32_t MDbFindNextFile(HANDLE* find, char16_t* name, std::uint32_t nameBytes);

// Closes a search (*find is left as it is).
std::int32_t MDbFindClose(HANDLE* find);

// ---- consistency ----

// Writes the consistency value; a database whose value is not 1 is not
// opened by the agent layer.
std::int32_t MDbWriteChecksome(MDbEnv* env, MDbRef* ref, std::uint32_t value);

// 0 when the stored value is 1, MDbErrInconsistent for another value,
// MDbErrFailed when it is missing or unreadable.
std::int32_t MDbVerifyChecksome(MDbEnv* env, MDbRef* ref);

// ---- creation-sequence cache ----

// Reads the data table's creation counter into data->cachedSeq; while the
// cache is in force, added records take their numbers from it.
std::int32_t StartCreationSeqCache(MDbEnv* env, MDbRef* ref, MDbDataTbl* data);

// Writes the cached value back to the counter. The cache stays in force
// until the data table is closed.
std::int32_t EndCreationSeqCache(MDbEnv* env, MDbRef* ref, MDbDataTbl* data);

// ---- schema (object kind 3) ----
// Every call takes env and the environment's own ref first. A missing
// entry gives MDbErrFailed and leaves the caller's buffer unchanged.

// Writes field definitions 0 .. count-1 (18-byte blocks at infos + 18 i and
// names[i]). Refuses (MDbErrFailed) when field 0 exists already; stops at
// the first failed write, keeping what was written.
std::int32_t MDbSchemaTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t* infos,
                                  const char16_t* const* names, std::int16_t count);
std::int32_t MDbSchemaTblDelete(MDbEnv* env, MDbRef* ref);
std::int32_t MDbSchemaTblOpen(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl);
std::int32_t MDbSchemaTblClose(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl);
std::uint8_t MDbSchemaTblIsOpened(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl);
// Number of field definitions with consecutive indexes from 0.
std::int32_t MDbSchemaTblGetCount(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                  std::uint16_t* count);
std::int32_t MDbSchemaTblRead(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl, std::int16_t field,
                              std::uint8_t info[18], char16_t* name, std::uint32_t nameBytes);
// The largest value a field of `type` may hold in a database of
// fieldCount fields, in characters with the terminator: text 2049 for at
// most 20 fields, 1537 for 21 to 30, 1025 for 31 or more; number, date and
// time 256. Another type gives MDbErrFailed and leaves *size unchanged.
// Edits (the handheld's editors, the tools) hold new values to this. The
// engine itself stores and reads any length: a copy from the desktop may
// bring a longer number, date or time value (up to a text field's size),
// and it is kept as sent.
std::int32_t MDbGetFieldMaxSize(std::uint8_t type, std::uint16_t fieldCount, std::uint32_t* size);
std::int32_t MDbSchemaTblReadFldInfo(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, std::uint8_t info[18]);
std::int32_t MDbSchemaTblReadFldType(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, std::uint8_t* type);
std::int32_t MDbSchemaTblReadFldName(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, char16_t* name, std::uint32_t nameBytes);
// Bytes of the stored name including its terminator.
std::int32_t MDbSchemaTblGetNameSize(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, std::uint32_t* bytes);

// ---- field options (object kind 0) ----

// Writes options of fields 0 .. count-1 from 15-byte entries (6-byte block,
// then 9-byte extended block). Refuses when field 0's options exist.
std::int32_t MDbFieldOpTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t* options,
                                   std::int16_t count);
std::int32_t MDbFieldOpTblDelete(MDbEnv* env, MDbRef* ref);
// mode bit 0 keeps read options in memory until the table is closed.
std::int32_t MDbFieldOpTblOpen(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::uint32_t mode);
std::int32_t MDbFieldOpTblClose(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl);
std::uint8_t MDbFieldOpTblIsOpened(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl);
std::int32_t MDbFieldOpTblReadOptionEx(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl,
                                       std::int16_t field, std::uint8_t ex[9]);
// The default extended block of a field: width 225 / min(fieldCount, 3),
// byte 1 = 1, bytes 2-5 = 0, byte 6 = displayOrder, byte 7 = 0, byte 8 kept.
std::int32_t MDbFieldOpTblGetDefOptionEx(std::uint8_t ex[9], std::uint8_t displayOrder,
                                         std::int16_t fieldCount);

// ---- attributes (object kind 2) ----

std::int32_t MDbAttrTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t attrs[78],
                                const char16_t* dbName);
std::int32_t MDbAttrTblDelete(MDbEnv* env, MDbRef* ref);
std::int32_t MDbAttrTblOpen(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl);
std::int32_t MDbAttrTblClose(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl);
std::uint8_t MDbAttrTblIsOpened(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl);
std::int32_t MDbAttrTblReadAttrs(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::int16_t index,
                                 std::uint8_t attrs[78]);
std::int32_t MDbAttrTblReadDbName(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::int16_t index,
                                  char16_t* name, std::uint32_t nameBytes);

// ---- value lists (object kind 1) ----

std::int32_t MDbValListTblCreateEx(MDbEnv* env, MDbRef* ref, const char16_t* const* lists,
                                   std::int16_t count);
std::int32_t MDbValListTblDelete(MDbEnv* env, MDbRef* ref);
std::int32_t MDbValListTblOpen(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl);
std::int32_t MDbValListTblClose(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl);
std::uint8_t MDbValListTblIsOpened(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl);

// ---- data and delete tables ----

// Creates "DATA_0" (sorted on the creation sequence) with counter 0 at 0 and,
// unless flags bit 0 is set, "DELT_0" with counter 1 at 0.
std::int32_t MDbDataTblCreate(MDbEnv* env, MDbRef* ref, const std::uint16_t* flags);
// Deletes "DATA_0" and, unless flags bit 0 is set, "DELT_0".
std::int32_t MDbDataTblDelete(MDbEnv* env, MDbRef* ref, const std::uint16_t* flags);
// Opens the data table in the order of sortProperty (null: the creation
// sequence) and the delete table in natural order.
std::int32_t MDbDataTblOpen(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                            const std::uint32_t* sortProperty);
std::int32_t MDbDataTblClose(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl);
std::uint8_t MDbDataTblIsOpened(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl);
std::int32_t MDbDataTblGetRecCount(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, std::uint32_t* count);
std::int32_t MDbDeleteTblGetRecCount(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                                     std::uint32_t* count);
std::int32_t MDbDataTblCursGetInx(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                                  std::uint16_t* position);
std::int32_t MDbDataTblCursSetInx(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, std::int16_t position);
// Adds an empty record (state: modified and added); oid and position are
// optional outputs. MDbErrTooManyRecords at 5000 records, nothing written.
std::int32_t MDbDataTblNewRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbSchemaTbl* fields,
                              std::uint32_t* oid, std::uint16_t* position);
// Adds a record with the given identity block and field values (state 0
// when clean, else modified and added), written in batches of at most ten
// properties.
std::int32_t MDbDataTblAddRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                              const std::uint8_t identity[10], const char16_t* const* values,
                              std::int16_t count, std::uint8_t clean, std::uint32_t* oid,
                              std::uint16_t* position);

// ---- records ----

void MDbDataRecInitialize(MDbDataRec* rec);
std::uint8_t MDbDataRecIsOpened(MDbDataRec* rec);
// Opens the data record with identifier *oid, or (oid null) the one at the
// table's cursor position.
std::int32_t MDbDataTblOpenRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                               const std::uint32_t* oid);
// Opens a record of the delete table by identifier or by position.
std::int32_t MDbDeleteTblOpenRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                 std::int16_t position, const std::uint32_t* oid);
std::int32_t MDbDataTblCloseRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec);
std::int32_t MDbDataRecGetState(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                std::uint8_t* state);
std::int32_t MDbDataRecGetRecInfo(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                  std::uint8_t identity[10]);
// A pointer to field's text inside the record's loaded properties (loaded
// in one read at the first call); valid until the record is closed, and not
// refreshed by writes made meanwhile.
std::int32_t MDbDataRecGetFieldPtr(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbSchemaTbl* fields,
                                   MDbDataRec* rec, std::int16_t field, const char16_t** value);
std::int32_t MDbDataRecReadField(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                 std::int16_t field, char16_t* buffer, std::uint32_t bytes);
// Bytes of the field's text with its terminator.
std::int32_t MDbDataRecGetFieldSize(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                    std::int16_t field, std::uint32_t* bytes);

// ---- record set ----
// Every call takes the environment whose database the agent layer opened.
// While the set is invalid every operation but destroy gives MDbErrFailed.

void MDbRecsetInitialize(MDbRecset* rs);
std::int32_t MDbRecsetDestroy(MDbEnv* env, MDbRecset* rs);
std::int32_t MDbRecsetGetRecCount(MDbEnv* env, MDbRecset* rs, std::uint32_t* count);
std::int32_t MDbRecsetGetInx(MDbEnv* env, MDbRecset* rs, std::uint16_t* position);
std::int32_t MDbRecsetSetInx(MDbEnv* env, MDbRecset* rs, std::int16_t position);
std::int32_t MDbRecsetOpenRec(MDbEnv* env, MDbRecset* rs);
std::int32_t MDbRecsetCloseRec(MDbEnv* env, MDbRecset* rs);
std::int32_t MDbRecsetGetFieldPtr(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                  const char16_t** text);
std::int32_t MDbRecsetGetField(MDbEnv* env, MDbRecset* rs, std::int16_t field, char16_t* buffer,
                               std::uint32_t bytes);
std::int32_t MDbRecsetGetFieldSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   std::uint32_t* bytes);
std::int32_t MDbRecsetSetField(MDbEnv* env, MDbRecset* rs, std::uint16_t field,
                               const char16_t* text);
std::int32_t MDbRecsetNewRec(MDbEnv* env, MDbRecset* rs, std::uint16_t* position);
// Duplicates the record at position; newPosition receives the copy's.
std::int32_t MDBRecsetDupRec(MDbEnv* env, MDbRecset* rs, std::int16_t position,
                             std::uint16_t* newPosition);
std::int32_t MDbRecsetDelRec(MDbEnv* env, MDbRecset* rs, std::int16_t position,
                             std::uint8_t noTracking);
std::int32_t MDbRecsetDelAllRec(MDbEnv* env, MDbRecset* rs, std::uint8_t noTracking);
// mode 0 ascending, 1 descending, 2 toggles on the same field.
std::int32_t MDbRecsetSort(MDbEnv* env, MDbRecset* rs, std::int16_t field, std::uint32_t mode);
std::int32_t MDbRecsetGetSortDef(MDbEnv* env, MDbRecset* rs, MDbSortDef* out);
std::int32_t MDbRecsetIsFiltered(MDbEnv* env, MDbRecset* rs, bool* filtered);
std::int32_t MDbRecsetIsFilteredDirty(MDbEnv* env, MDbRecset* rs, bool* dirty);
std::int32_t MDbRecsetGetFldCount(MDbEnv* env, MDbRecset* rs, std::uint16_t* count);
std::int32_t MDbRecsetGetFldType(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                 std::uint8_t* type);
std::int32_t MDbRecsetGetFldNameSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     std::uint32_t* bytes);
std::int32_t MDbRecsetGetFldName(MDbEnv* env, MDbRecset* rs, std::int16_t field, char16_t* buffer,
                                 std::uint32_t bytes);
std::int32_t MDbRecsetGetFieldMaxSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                      std::uint32_t* size);
std::int32_t MDbRecsetGetFldOption(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   std::uint8_t option[6]);
std::int32_t MDbRecsetSetFldOption(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   const std::uint8_t option[6]);
std::int32_t MDbRecsetGetFldOptionEx(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     std::uint8_t ex[9]);
std::int32_t MDbRecsetSetFldOptionEx(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     const std::uint8_t ex[9]);
std::int32_t MDbRecsetGetDisplayOrders(MDbEnv* env, MDbRecset* rs, std::uint16_t orders[],
                                       std::int16_t n);
std::int32_t MDbRecsetSetDisplayOrders(MDbEnv* env, MDbRecset* rs, const std::uint16_t orders[]);
std::int32_t MDbRecsetGetDefOptionEx(MDbEnv* env, MDbRecset* rs, std::uint8_t ex[9],
                                     std::uint8_t displayOrder);

// ---- date and time text ----
// All four read the database's formats through the environment's open
// attribute table. Output texts are at most MDbDateTimeTextChars characters
// with the terminator.

std::int32_t MDbRecsetDateStrToDateRec(MDbEnv* env, const char16_t* text, MDbDateRec* rec,
                                       std::uint8_t century1900, std::uint8_t formatOut[6]);
std::int32_t MDbRecsetDRecToDateStr(MDbEnv* env, const MDbDateRec* rec, char16_t* out);
std::int32_t MDbRecsetTimeStrToTRec(MDbEnv* env, const char16_t* text, MDbTimeRec* rec,
                                    std::uint8_t normalise, std::uint8_t formatOut[48],
                                    std::uint16_t digitsOut[768]);
std::int32_t MDbRecsetTRecToTimeStr(MDbEnv* env, const MDbTimeRec* rec, char16_t* out);

// ---- agent layer ----

std::int32_t MDbAgentInit();
std::int32_t MDbAgentShutdown();
// Opens the database at path and all its tables into env: MDbErrCannotOpen,
// MDbErrBadFormat, MDbErrInconsistent (consistency value not 1),
// MDbErrNoFields or MDbErrFailed, with nothing left open on a failure.
std::int32_t MDbAgentOpenDb(MDbEnv* env, const char16_t* path);
std::int32_t MDbAgentCloseDb(MDbEnv* env);
std::int32_t MDbAgentGetDbName(MDbEnv* env, char16_t* name, std::uint32_t bytes);
std::int32_t MDbAgentGetAttr(MDbEnv* env, std::uint8_t id, std::uint32_t* value);
std::int32_t MDbAgentSetAttr(MDbEnv* env, std::uint8_t id, std::uint32_t value);
std::int32_t MDbAgentGetValListSize(MDbEnv* env, std::int16_t list, std::uint32_t* bytes);
std::int32_t MDbAgentGetValList(MDbEnv* env, std::int16_t list, char16_t* buffer,
                                std::uint32_t bytes);
// Builds rs (which must be invalid): the whole table without a request, the
// records the find matches with one.
std::int32_t MDbAgentQuery(MDbEnv* env, MDbRecset* rs, const MDbFindRequest* request);

}  // extern "C"
