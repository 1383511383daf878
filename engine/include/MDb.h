// The database engine's interface: every handheld database is one volume
// file holding an object table (header, schema, field options, attributes,
// value lists, counters and a consistency value), a data table, a delete
// table and, while a sorted or filtered view exists, a found-set table.
//
// Conventions of every call:
//  - Exported as plain C symbols; no exception leaves the engine. A call
//    that runs out of memory returns MDbErrFailed, and MDbGetFailureCause
//    then reports ERROR_NOT_ENOUGH_MEMORY.
//  - Results are MDbErr codes (0 success); is-opened queries return a byte.
//  - Strings are UTF-16 (char16_t), zero-terminated. Where a caller passes a
//    buffer with its size, the size is in bytes and at most (size / 2 - 1)
//    characters are copied, always terminated; longer text is cut silently.
//    A buffer of fewer than 2 bytes receives nothing.
//  - Every environment, reference, handle and record set belongs to the
//    caller; the engine allocates only working buffers (a record's loaded
//    fields, the option cache, a set's added-record list), which the
//    matching close, destroy or shutdown frees. One environment and its
//    tables are used by one thread at a time.
//  - Every call checks the state it needs first (initialised environment,
//    opened reference, open table, open record) and returns MDbErrFailed
//    without side effects when it is wrong.
//  - A failed call leaves its outputs as they were and changes nothing,
//    unless its description says otherwise. Calls that change the volume
//    flush it before they return (inside a write batch, at its end); a
//    failed flush gives MDbErrFailed although the change was made.
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
// MDbInit and MDbShutdown start and stop the word-break library as well;
// everything else works without it.

// Puts env into its initial state: not initialised, reference closed, every
// table handle closed, the creation-sequence cache off. Frees nothing: call
// it on a new environment, or on one MDbShutdown already reset.
void MDbEnvInitialize(MDbEnv* env);

// Makes spec the empty path.
void MDbVolFSpecInitialize(MDbVolFSpec* spec);

#if defined(TBM_ENGINE_DESKTOP)
// libTBMDBCE.so, the table layer on the desktop with every store and file
// call made on the handheld: marks env initialised (MDbErrFailed when env
// is null or already initialised), then in every case connects to the
// handheld with CeRapiInit, which waits until the connection is up. A
// connection the process already has open (CERAPI_E_ALREADYINITIALIZED) is
// used as it is. A failing CeRapiInit gives MDbErrFailed, and env stays
// initialised.
std::int32_t MDbInit(MDbEnv* env);
#else
// Marks env initialised (MDbErrFailed when env is null or already
// initialised), then, when wordBreak is non-zero, starts the word-break
// library (find needs it; the synchronisation agent passes 0): its failure
// gives MDbErrWordBreak, and env stays initialised.
std::int32_t MDbInit(MDbEnv* env, std::uint8_t wordBreak);
#endif

// Frees the option cache of an initialised env, stops the word-break
// library and resets env as MDbEnvInitialize does, in every case (a null
// env is not touched). Close the database first (MDbAgentCloseDb): a
// volume still mounted is not unmounted, only forgotten. 0 when env was
// initialised, MDbErrFailed otherwise. libTBMDBCE.so instead ends env's use
// of the connection to the handheld: when MDbInit opened that connection
// and no other environment started by MDbInit still uses it, it is closed
// (CeRapiUninit); a connection the process had opened before is left open.
std::int32_t MDbShutdown(MDbEnv* env);

// ---- volumes ----
// path is a handheld path ("\My Documents\Tabulon\Sales.tbm") or, when it
// holds '/', a host path. ref is a caller's reference, normally env->ref.

// Creates a new database volume at path with its object table and header;
// MDbErrFailed when the file exists (it is left untouched). Needs env
// initialised and ref closed. A failure after the file was made leaves no
// file behind and ref closed. On success ref is opened; the caller creates
// the tables (schema, field options, attributes, value lists, data table).
std::int32_t MDbCreate(MDbEnv* env, const char16_t* path, MDbRef* ref);

// Mounts the existing volume at path and checks its header. Needs env
// initialised and ref closed. A volume that cannot be mounted or whose
// object table cannot be opened gives MDbErrCannotOpen (ref closed again). A
// header that cannot be read gives MDbErrCannotOpen, another signature or
// version MDbErrBadFormat; in both cases the volume stays mounted and ref
// opened, for the caller to close with MDbClose.
std::int32_t MDbOpen(MDbEnv* env, const char16_t* path, MDbRef* ref);

// Closes the object table and unmounts the volume. Close the tables opened
// on ref first. When the unmount fails, ref stays opened.
std::int32_t MDbClose(MDbEnv* env, MDbRef* ref);

// Deletes the file at path (env is not used).
std::int32_t MDbDelete(MDbEnv* env, const char16_t* path);

// env initialised and ref opened.
std::uint8_t MDbIsOpened(MDbEnv* env, MDbRef* ref);
std::uint8_t MDbRefIsOpened(MDbRef* ref);

// ---- write batches and failure causes ----

// Makes the changes between MDbBeginWriteBatch and the matching
// MDbEndWriteBatch on env's open volume (env->ref opened) one unit: the
// flushes of the calls in between are put off to the end, so the changes
// become durable together or, when the process dies first, are lost
// together (a new record with its fields, several fields of one record).
// The begin takes the volume's write lock, waiting a few seconds for
// another process's change (then MDbErrFailed, with the cause ERROR_BUSY);
// other processes' writes wait while the batch is open, so keep it short.
// keep 0 rolls back every change of the batch: the volume is then as it
// was, but what the engine keeps in memory (a found set, the option cache,
// an open record) may describe the rolled-back changes, so close the
// database before using it again. Batches nest; an inner one ended with
// keep 0 makes the outer end roll back and fail. Calls that read before
// they write (new, added, duplicated and deleted records) open a batch of
// their own.
std::int32_t MDbBeginWriteBatch(MDbEnv* env);
std::int32_t MDbEndWriteBatch(MDbEnv* env, std::uint8_t keep);

// What made a call of this thread fail, as far as a person must hear it:
// the platform error of the first store failure since MDbClearFailureCause
// that was the volume in use (ERROR_BUSY, ERROR_SHARING_VIOLATION), the disk
// full (ERROR_DISK_FULL), permission refused (ERROR_ACCESS_DENIED), a
// damaged file (ERROR_FILE_CORRUPT, ERROR_BAD_FORMAT), the disk failing
// (ERROR_READ_FAULT, ERROR_WRITE_FAULT) or memory (ERROR_NOT_ENOUGH_MEMORY,
// also when the engine's own memory ran out), or ERROR_SUCCESS. *message,
// when given, points at a sentence about it until the next clear. Clear
// before the calls whose failure is to be explained.
std::uint32_t MDbGetFailureCause(const char** message);
void MDbClearFailureCause();

// ---- files ----
// Paths as for volumes.

// Creates one folder; MDbErrFailed when it exists or cannot be made.
std::int32_t MDbCreateDirectory(const char16_t* path);

// Starts enumerating the files matching pattern (a path whose last part may
// hold * and ?), stores the search in *find and copies the first file's name
// (without its folder) into name. No match gives MDbErrFailed with *find
// untouched. The caller ends the search with MDbFindClose, unless
// MDbFindNextFile ended it.
std::int32_t MDbFindFirstFile(HANDLE* find, const char16_t* pattern, char16_t* name,
                              std::uint32_t nameBytes);

// Copies the next file's name into name. After the last one the search is
// closed, *find set to null and MDbErrNoMoreFiles returned; another failure
// gives MDbErrFailed and leaves the search open. A null *find gives
// MDbErrFailed.
std::int32_t MDbFindNextFile(HANDLE* find, char16_t* name, std::uint32_t nameBytes);

// Closes a search; *find is left as it is, so do not close it twice.
std::int32_t MDbFindClose(HANDLE* find);

// ---- consistency ----

// Writes the consistency value (ref opened; env is not used). The
// synchronisation agent writes 0 before it rebuilds a database and 1 after;
// the agent layer opens only a database whose value is 1.
std::int32_t MDbWriteChecksome(MDbEnv* env, MDbRef* ref, std::uint32_t value);

// 0 when the stored value is 1, MDbErrInconsistent for another value,
// MDbErrFailed when it is missing or unreadable.
std::int32_t MDbVerifyChecksome(MDbEnv* env, MDbRef* ref);

// ---- creation sequences ----
// Every record takes its table's next creation number (data table counter
// 0, delete table counter 1); a counter at 0xFFFFFFFE or more renumbers its
// table from 0 in the table's order first. For a bulk load the data table's
// number can be kept in data->cachedSeq instead of being read and written
// for every record.

// Reads the data table's counter into data->cachedSeq (env initialised, ref
// opened, data an open data table of ref); from then on added records take
// their numbers from the cache.
std::int32_t StartCreationSeqCache(MDbEnv* env, MDbRef* ref, MDbDataTbl* data);

// Writes the cached value back to the counter and flushes; MDbErrFailed
// without a cache in force. The cache stays in force until the data table
// is closed, which drops it: end the cache before closing, or the numbers
// taken are lost from the counter.
std::int32_t EndCreationSeqCache(MDbEnv* env, MDbRef* ref, MDbDataTbl* data);

// ---- description tables: schema, field options, attributes, value lists ----
// Each table is a kind of object-table entry, its entries indexed from 0
// (a field's definition and options by field number). Every call takes env
// (initialised) and env's own ref (opened) first. A table handle records
// that it is open (the field-option handle also its cache): opening fails
// when it is open already, closing needs no open volume and always
// succeeds for a non-null handle. Reads need the handle open; a missing or
// damaged entry gives MDbErrFailed.
//
// Creation (the ...CreateEx calls) writes entries 0 .. count-1 and refuses
// (MDbErrFailed, nothing written) when entry 0 exists: a refresh deletes
// first. It stops at the first failed write with its code, keeping the
// entries written before. Deletion (...Delete) removes entries 0, 1, 2 ...
// up to the first missing index; 0 when there were none.

// Field definitions (object kind 3): an 18-byte field-information block
// (MDbBlocks.h) and a name per field. infos holds count blocks one after
// another, names count names.
std::int32_t MDbSchemaTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t* infos,
                                  const char16_t* const* names, std::int16_t count);
std::int32_t MDbSchemaTblDelete(MDbEnv* env, MDbRef* ref);
std::int32_t MDbSchemaTblOpen(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl);
std::int32_t MDbSchemaTblClose(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl);
// env initialised, ref opened and tbl open.
std::uint8_t MDbSchemaTblIsOpened(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl);
// Number of field definitions with consecutive indexes from 0, counted
// once per opening of tbl: creating or deleting the schema through env
// makes env's own handle count again, other handles keep their count.
std::int32_t MDbSchemaTblGetCount(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                  std::uint16_t* count);
// Both parts of a definition; neither output is written unless both were
// read.
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
// Byte 0 of the field-information block.
std::int32_t MDbSchemaTblReadFldType(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, std::uint8_t* type);
std::int32_t MDbSchemaTblReadFldName(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, char16_t* name, std::uint32_t nameBytes);
// Bytes of the stored name including its terminator.
std::int32_t MDbSchemaTblGetNameSize(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, std::uint32_t* bytes);

// Field options (object kind 0): per field a 6-byte option block and a
// 9-byte extended block (MDbBlocks.h). options holds count 15-byte entries,
// each the option block followed by the extended block. Reading the option
// block and writing either block go through the record set
// (MDbRecsetGetFldOption and the calls after it).
std::int32_t MDbFieldOpTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t* options,
                                   std::int16_t count);
std::int32_t MDbFieldOpTblDelete(MDbEnv* env, MDbRef* ref);
// mode bit 0 turns the option cache on: a field's two blocks, once read,
// are kept in memory until the table is closed, and later reads of the
// field come from there. The cache has a slot for each option entry
// counted at the first read; a field beyond them is read every time.
// Writes through the table update the kept copy; writes through another
// handle are not seen. The agent layer opens with the cache,
// synchronisation without.
std::int32_t MDbFieldOpTblOpen(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::uint32_t mode);
// Frees the cache.
std::int32_t MDbFieldOpTblClose(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl);
std::uint8_t MDbFieldOpTblIsOpened(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl);
std::int32_t MDbFieldOpTblReadOptionEx(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl,
                                       std::int16_t field, std::uint8_t ex[9]);
// The default extended block of a field: width 225 / min(fieldCount, 3)
// (a count below 1 counts as 1), byte 1 = 1, bytes 2-5 = 0, byte 6 =
// displayOrder, byte 7 = 0, byte 8 kept as the caller had it.
std::int32_t MDbFieldOpTblGetDefOptionEx(std::uint8_t ex[9], std::uint8_t displayOrder,
                                         std::int16_t fieldCount);

// Attributes (object kind 2, index 0): the 78-byte attribute block
// (MDbBlocks.h) and the database's name. Creation needs both non-null.
// The attribute words are read and written through the agent layer
// (MDbAgentGetAttr, MDbAgentSetAttr).
std::int32_t MDbAttrTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t attrs[78],
                                const char16_t* dbName);
std::int32_t MDbAttrTblDelete(MDbEnv* env, MDbRef* ref);
std::int32_t MDbAttrTblOpen(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl);
std::int32_t MDbAttrTblClose(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl);
std::uint8_t MDbAttrTblIsOpened(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl);
// index is 0.
std::int32_t MDbAttrTblReadAttrs(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::int16_t index,
                                 std::uint8_t attrs[78]);
std::int32_t MDbAttrTblReadDbName(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::int16_t index,
                                  char16_t* name, std::uint32_t nameBytes);

// Value lists (object kind 1): one string per list, the items separated by
// CR LF; a null string in lists stops the creation with MDbErrFailed. The
// lists are read through the agent layer (MDbAgentGetValList).
std::int32_t MDbValListTblCreateEx(MDbEnv* env, MDbRef* ref, const char16_t* const* lists,
                                   std::int16_t count);
std::int32_t MDbValListTblDelete(MDbEnv* env, MDbRef* ref);
std::int32_t MDbValListTblOpen(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl);
std::int32_t MDbValListTblClose(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl);
std::uint8_t MDbValListTblIsOpened(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl);

// ---- data and delete tables ----
// Every call but close, the cursor and is-opened ones needs env
// initialised and env's own ref opened; every call but create, delete,
// open and the cursor ones needs tbl open.

// Creates "DATA_0" (sorted on the creation sequence) with counter 0 at 0 and,
// unless flags bit 0 is set, "DELT_0" with counter 1 at 0. A failure part
// of the way keeps what was created.
std::int32_t MDbDataTblCreate(MDbEnv* env, MDbRef* ref, const std::uint16_t* flags);
// Deletes "DATA_0" and, unless flags bit 0 is set, "DELT_0" (close their
// handles first); the first failure's code, after trying both.
std::int32_t MDbDataTblDelete(MDbEnv* env, MDbRef* ref, const std::uint16_t* flags);
// Opens the data table in the order of sortProperty (null: the creation
// sequence) and the delete table in natural order. Needs tbl closed.
std::int32_t MDbDataTblOpen(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                            const std::uint32_t* sortProperty);
// Closes both tables and resets tbl (cursor -1, creation-sequence cache
// dropped) even when a close fails.
std::int32_t MDbDataTblClose(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl);
// tbl open (env and ref are not looked at).
std::uint8_t MDbDataTblIsOpened(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl);
std::int32_t MDbDataTblGetRecCount(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, std::uint32_t* count);
std::int32_t MDbDeleteTblGetRecCount(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                                     std::uint32_t* count);
// The cursor: the data-table position MDbDataTblOpenRec opens without an
// identifier. Read and set without any check; always 0.
std::int32_t MDbDataTblCursGetInx(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                                  std::uint16_t* position);
std::int32_t MDbDataTblCursSetInx(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, std::int16_t position);
// Adds an empty record of as many fields as fields (an open schema table)
// counts, state modified and added. oid and position (in the data table's
// current order) are optional outputs. MDbErrTooManyRecords at 5000
// records. A failure leaves no record behind and the counter as it was.
std::int32_t MDbDataTblNewRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbSchemaTbl* fields,
                              std::uint32_t* oid, std::uint16_t* position);
// Adds a record with the given identity block and count field values (a
// null value is stored empty), state 0 when clean, else modified and
// added; written in batches of at most ten properties. Outputs and
// failures as for MDbDataTblNewRec.
std::int32_t MDbDataTblAddRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                              const std::uint8_t identity[10], const char16_t* const* values,
                              std::int16_t count, std::uint8_t clean, std::uint32_t* oid,
                              std::uint16_t* position);

// ---- records ----
// A record handle holds one record of the data or delete table of an open
// table handle; it must be closed to be opened, so close it before opening
// another record in it. Each table has one current position: a read through an open record
// brings the table back to that record first. Reads need env initialised,
// ref opened, tbl open and rec open.

// Makes rec closed without freeing anything: for a new handle, or one
// MDbDataTblCloseRec closed.
void MDbDataRecInitialize(MDbDataRec* rec);
std::uint8_t MDbDataRecIsOpened(MDbDataRec* rec);
// Opens the data record with identifier *oid, or (oid null) the one at the
// table's cursor; a cursor below 0 or past the end gives MDbErrFailed.
std::int32_t MDbDataTblOpenRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                               const std::uint32_t* oid);
// Opens a record of the delete table by identifier, or (oid null) by
// position (from 0).
std::int32_t MDbDeleteTblOpenRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                 std::int16_t position, const std::uint32_t* oid);
// Frees the record's loaded fields and resets rec; MDbErrFailed when rec is
// not open.
std::int32_t MDbDataTblCloseRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec);
// The low byte of the record's state (MDbRec* bits).
std::int32_t MDbDataRecGetState(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                std::uint8_t* state);
// The record's 10-byte identity block (MDbBlocks.h).
std::int32_t MDbDataRecGetRecInfo(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                  std::uint8_t identity[10]);
// A pointer to field's text among the record's loaded fields: the first
// call loads every field (as many as fields, an open schema table, counts)
// in one read. The pointer is valid until the record is closed and is not
// refreshed by writes made meanwhile. A field outside the count gives
// MDbErrFailed.
std::int32_t MDbDataRecGetFieldPtr(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbSchemaTbl* fields,
                                   MDbDataRec* rec, std::int16_t field, const char16_t** value);
// Copies field's text: from the loaded fields when they are loaded, else
// from the volume.
std::int32_t MDbDataRecReadField(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                 std::int16_t field, char16_t* buffer, std::uint32_t bytes);
// Bytes of the field's text with its terminator, taken as MDbDataRecReadField
// takes the text.
std::int32_t MDbDataRecGetFieldSize(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                    std::int16_t field, std::uint32_t* bytes);

// ---- record set ----
// Every call takes the environment whose database the agent layer opened
// (MDbAgentOpenDb) and works on its tables; while the set is invalid (not
// yet built by MDbAgentQuery, or destroyed) every call but destroy and the
// sort and filter queries gives MDbErrFailed. Positions count from 0 in the
// set's order: the data table's cursor without a found set, the found-set
// position with one; they are not checked until a record is opened.

// Makes rs invalid and empty, without freeing anything: for a new set, or
// one MDbRecsetDestroy destroyed. The stored query is left as it was.
void MDbRecsetInitialize(MDbRecset* rs);
// Closes the current record, deletes the found-set table, frees the
// added-record list and re-initialises rs; the first failure's code, after
// doing all. An invalid set gives 0 and is not touched.
std::int32_t MDbRecsetDestroy(MDbEnv* env, MDbRecset* rs);
// The number of records in the set (0 when the store cannot count a found
// set).
std::int32_t MDbRecsetGetRecCount(MDbEnv* env, MDbRecset* rs, std::uint32_t* count);
std::int32_t MDbRecsetGetInx(MDbEnv* env, MDbRecset* rs, std::uint16_t* position);
std::int32_t MDbRecsetSetInx(MDbEnv* env, MDbRecset* rs, std::int16_t position);
// Opens the record at the set's position as the current record (rs->rec,
// which must be closed).
std::int32_t MDbRecsetOpenRec(MDbEnv* env, MDbRecset* rs);
std::int32_t MDbRecsetCloseRec(MDbEnv* env, MDbRecset* rs);
// As MDbDataRecGetFieldPtr, MDbDataRecReadField and MDbDataRecGetFieldSize
// on the current record.
std::int32_t MDbRecsetGetFieldPtr(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                  const char16_t** text);
std::int32_t MDbRecsetGetField(MDbEnv* env, MDbRecset* rs, std::int16_t field, char16_t* buffer,
                               std::uint32_t bytes);
std::int32_t MDbRecsetGetFieldSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   std::uint32_t* bytes);
// Writes field's text into the current record in one store call, marking
// it modified, and flushes. Field pointers already handed out keep the old
// text until the record is closed. Under a find, a record whose searched
// field is written joins the added-record list, so that it stays in the set
// when the set is sorted again.
std::int32_t MDbRecsetSetField(MDbEnv* env, MDbRecset* rs, std::uint16_t field,
                               const char16_t* text);
// Adds an empty record (as MDbDataTblNewRec) and reports its position in
// the set: with a found set it is appended to it and to the added-record
// list. The set is marked dirty, also when the record was added but could
// not join the found set (then MDbErrFailed).
std::int32_t MDbRecsetNewRec(MDbEnv* env, MDbRecset* rs, std::uint16_t* position);
// Adds a copy of the record at position (its field texts; identity block
// zero, state modified and added) and reports the copy's position as
// MDbRecsetNewRec does. Needs no record open; the set's position stays
// where it was.
std::int32_t MDBRecsetDupRec(MDbEnv* env, MDbRecset* rs, std::int16_t position,
                             std::uint16_t* newPosition);
// Deletes the record at position from the data table (and the found set).
// Needs no record open. Unless noTracking is set, a record the desktop
// already knows (its state lacks MDbRecAdded) is first copied into the
// delete table, state modified and deleted, for the next synchronisation
// to delete it there too; a record added on the handheld leaves no trace.
// On success the set's position becomes -1. When the record cannot be
// deleted it stays where it was and nothing is left in the delete table.
std::int32_t MDbRecsetDelRec(MDbEnv* env, MDbRecset* rs, std::int16_t position,
                             std::uint8_t noTracking);
// Deletes every record of the set, one by one as MDbRecsetDelRec does, and
// stops at the first failure (the records before it stay deleted). Without
// a found set and with noTracking the data table is replaced by an empty
// one instead; the delete table and its counter stay. On success the
// position becomes -1.
std::int32_t MDbRecsetDelAllRec(MDbEnv* env, MDbRecset* rs, std::uint8_t noTracking);
// Rebuilds the set as a found set in the order of field: mode 0 ascending,
// 1 descending, 2 the other way round from the last sort on the same field
// (else ascending). Text sorts by the store's collation, numbers, dates
// and times by value (a text that does not convert first when ascending).
// The find in force, the added-record list and the dirty mark carry over.
// A field outside the schema count (MDbErrBadField) or of unreadable type
// leaves the set as it was; a later failure leaves it invalid (destroy it
// and query again), except when only restoring the data table's creation
// order failed: the set is then built but its sort not recorded. A failure
// while building leaves the data table in the sort's order until the next
// sort or reopening.
std::int32_t MDbRecsetSort(MDbEnv* env, MDbRecset* rs, std::int16_t field, std::uint32_t mode);
// The sort and filter queries look at rs alone, valid or not.
std::int32_t MDbRecsetGetSortDef(MDbEnv* env, MDbRecset* rs, MDbSortDef* out);
// A find is in force.
std::int32_t MDbRecsetIsFiltered(MDbEnv* env, MDbRecset* rs, bool* filtered);
// A find is in force and a record was added or duplicated through the set.
std::int32_t MDbRecsetIsFilteredDirty(MDbEnv* env, MDbRecset* rs, bool* dirty);

// The field description through the environment's tables: as
// MDbSchemaTblGetCount, MDbSchemaTblReadFldType, MDbSchemaTblGetNameSize,
// MDbSchemaTblReadFldName and MDbGetFieldMaxSize (with the schema count).
std::int32_t MDbRecsetGetFldCount(MDbEnv* env, MDbRecset* rs, std::uint16_t* count);
std::int32_t MDbRecsetGetFldType(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                 std::uint8_t* type);
std::int32_t MDbRecsetGetFldNameSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     std::uint32_t* bytes);
std::int32_t MDbRecsetGetFldName(MDbEnv* env, MDbRecset* rs, std::int16_t field, char16_t* buffer,
                                 std::uint32_t bytes);
std::int32_t MDbRecsetGetFieldMaxSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                      std::uint32_t* size);
// A field's option and extended blocks through the environment's field-option
// table (with its cache). A write overwrites the field's existing entry and
// flushes; a missing entry gives MDbErrFailed and nothing is created. With
// the cache on, a field whose options were not read since the table was
// opened has no kept copy to update: the write then gives MDbErrFailed
// although the volume was written, so read a field's options before
// writing them.
std::int32_t MDbRecsetGetFldOption(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   std::uint8_t option[6]);
std::int32_t MDbRecsetSetFldOption(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   const std::uint8_t option[6]);
std::int32_t MDbRecsetGetFldOptionEx(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     std::uint8_t ex[9]);
std::int32_t MDbRecsetSetFldOptionEx(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     const std::uint8_t ex[9]);
// Fills orders[0 .. n) (display position to field) from the display-order
// byte of each field's extended block, for the fields with option entries
// (the cache's slots when the cache exists); every later position p gets p.
// The first failed read ends the reading: the positions from it on get
// their own index and its code is returned.
std::int32_t MDbRecsetGetDisplayOrders(MDbEnv* env, MDbRecset* rs, std::uint16_t orders[],
                                       std::int16_t n);
// Writes the low byte of orders[i] as field i's display order, for every
// field of the schema count (orders holds that many), reading each
// extended block first. Stops at the first failure with its code; the
// fields written before it keep their new order.
std::int32_t MDbRecsetSetDisplayOrders(MDbEnv* env, MDbRecset* rs, const std::uint16_t orders[]);
// MDbFieldOpTblGetDefOptionEx with the schema count.
std::int32_t MDbRecsetGetDefOptionEx(MDbEnv* env, MDbRecset* rs, std::uint8_t ex[9],
                                     std::uint8_t displayOrder);

// ---- date and time text ----
// All four read the database's formats from the attribute block through
// env's open attribute table (the agent layer opens it); when that read
// fails its code is returned and nothing is written. An environment that
// is not initialised, or a null text, record or output, gives the code
// named below and touches nothing.

// Parses date text into *rec (MDbErrBadDate when it cannot run).
// century1900 reads one- and two-digit years as 19xx; otherwise in the
// current century, or the one before or after near a century's turn (in
// 2002, 99 is 1999). formatOut, when given,
// receives the date format. *rec is written also for invalid text, its
// status saying so; the result is 0 for status MDbDateValid or
// MDbDateValidThisYear, else MDbErrBadDate.
std::int32_t MDbRecsetDateStrToDateRec(MDbEnv* env, const char16_t* text, MDbDateRec* rec,
                                       std::uint8_t century1900, std::uint8_t formatOut[6]);
// Writes *rec as text into out (MDbDateTimeTextChars characters;
// MDbErrFailed when it cannot run): blank status gives the empty text,
// invalid "?". A status the engine never makes gives the empty text and
// MDbErrFailed.
std::int32_t MDbRecsetDRecToDateStr(MDbEnv* env, const MDbDateRec* rec, char16_t* out);
// Parses time text into *rec (MDbErrBadTime when it cannot run). With
// normalise the record holds the time after carries (1:75 is 2:15) and
// the morning or afternoon adjustment; without, the numbers as typed.
// formatOut, when given, receives the time format; digitsOut, when given,
// the digits typed for hours, minutes and seconds as three terminated runs
// of at most 255 characters at units 0, 256 and 512. *rec is written also
// for invalid text; the result is 0 for a kind below MDbTimeBlank, else
// MDbErrBadTime.
std::int32_t MDbRecsetTimeStrToTRec(MDbEnv* env, const char16_t* text, MDbTimeRec* rec,
                                    std::uint8_t normalise, std::uint8_t formatOut[48],
                                    std::uint16_t digitsOut[768]);
// Writes *rec as text into out as MDbRecsetDRecToDateStr writes a date:
// blank kind gives the empty text, invalid "?", a kind the engine never
// makes the empty text and MDbErrFailed.
std::int32_t MDbRecsetTRecToTimeStr(MDbEnv* env, const MDbTimeRec* rec, char16_t* out);

// ---- agent layer ----
// One database open in an environment with all its tables, as the handheld
// application uses it.

// Nothing to start or stop; always 0.
std::int32_t MDbAgentInit();
std::int32_t MDbAgentShutdown();
// Opens the database at path into env (initialised, nothing open yet):
// env->ref, the schema, the field options with the cache, the attributes,
// the value lists and the data table in creation order. MDbErrCannotOpen,
// MDbErrBadFormat, MDbErrInconsistent (consistency value not 1),
// MDbErrNoFields or MDbErrFailed, with nothing left open on a failure:
// MDbAgentCloseDb then closes whatever env has open, also what was open
// before the call.
std::int32_t MDbAgentOpenDb(MDbEnv* env, const char16_t* path);
// Closes whatever of env is open, tables first, then the volume; the first
// failure's code, after closing all. Destroy the record set first.
std::int32_t MDbAgentCloseDb(MDbEnv* env);
// The rest need env initialised with its volume open, and the table they
// read open (as MDbAgentOpenDb leaves it).
std::int32_t MDbAgentGetDbName(MDbEnv* env, char16_t* name, std::uint32_t bytes);
// Attribute word id (0 .. 3) of the attribute block; any other id gives 0
// in *value and result 0.
std::int32_t MDbAgentGetAttr(MDbEnv* env, std::uint8_t id, std::uint32_t* value);
// Replaces attribute word id (0 .. 3) and flushes; any other id gives
// MDbErrFailed and writes nothing.
std::int32_t MDbAgentSetAttr(MDbEnv* env, std::uint8_t id, std::uint32_t value);
// Bytes of value list `list` including its terminator.
std::int32_t MDbAgentGetValListSize(MDbEnv* env, std::int16_t list, std::uint32_t* bytes);
std::int32_t MDbAgentGetValList(MDbEnv* env, std::int16_t list, char16_t* buffer,
                                std::uint32_t bytes);
// Builds rs, which must be invalid (destroy it first), over env's open
// database: without a request the whole data table in its order; with one
// a found set of the records whose field has a word starting with the
// request's text, case-blind. With mode 0 on a number, date or time field
// whose search text converts, a record whose text converts matches when
// the two values are equal instead. Finding needs the word-break library
// (MDbInit with wordBreak); without a search session the set stays empty.
// The request is kept in rs for later sorts, its text by pointer: keep it
// alive while rs exists. A failure leaves rs invalid and no found set
// behind.
std::int32_t MDbAgentQuery(MDbEnv* env, MDbRecset* rs, const MDbFindRequest* request);

}  // extern "C"
