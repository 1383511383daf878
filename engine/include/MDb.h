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
};

struct MDbFieldOpTbl {
  std::uint8_t opened;
  std::uint16_t mode;  // bit 0: keep read options in memory
  void* cache;
  std::uint16_t cacheSlots;
};

struct MDbAttrTbl {
  std::uint8_t opened;
};

struct MDbValListTbl {
  std::uint8_t opened;
};

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

}  // extern "C"
