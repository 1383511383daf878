// The handheld's database volumes.
//
// A volume is one file holding named property databases. Each database has a
// 32-bit type, up to four sort orders, and records made of typed properties;
// every database and record has a 32-bit object identifier, unique in its
// volume. Callers name a mounted volume by the 16-byte identifier the mount
// returned, and walk a database through an open handle that has its own
// current record.
//
// The calls keep the names, arguments and error conventions of the handheld
// platform's database-volume interface, because the engine is written
// against them: a failing call returns 0, FALSE or INVALID_HANDLE_VALUE and
// sets the per-thread last error (GetLastError). StoreLastMessage() gives a
// sentence about the last failure of this thread for people.
//
// Durability: writes are visible at once to every handle in the process.
// CeFlushDBVol makes every write made before it durable: a flushed write
// survives the process being killed at any moment. Writes not yet flushed
// when the process dies are lost, all of them together; the volume always
// mounts again. Unmounting flushes. (Against power loss the last flushes may
// be lost, never the volume's consistency.)
//
// Several processes may mount the same volume. Between its first write and
// its flush a process holds the volume's write lock; another process that
// writes meanwhile waits for it (a few seconds at most, then ERROR_BUSY).
//
// Thread safety: every call may be made from any thread; calls on one
// volume are serialised.
#pragma once

#include <cstdint>

#include "WinTypes.h"

using CEOID = DWORD;
using CEPROPID = DWORD;

// The identifier of a mounted volume.
struct CEGUID {
  DWORD Data1;
  DWORD Data2;
  DWORD Data3;
  DWORD Data4;
};

// Property value types. A property identifier is (N << 16) | type.
constexpr WORD CEVT_I4 = 3;       // 4-byte signed
constexpr WORD CEVT_BOOL = 11;    // boolean
constexpr WORD CEVT_UI2 = 18;     // 2-byte unsigned
constexpr WORD CEVT_UI4 = 19;     // 4-byte unsigned
constexpr WORD CEVT_LPWSTR = 31;  // zero-terminated UTF-16 string
constexpr WORD CEVT_BLOB = 65;    // byte block

constexpr CEPROPID PropId(WORD index, WORD type) {
  return (static_cast<CEPROPID>(index) << 16) | type;
}
constexpr WORD TypeFromPropId(CEPROPID id) { return static_cast<WORD>(id & 0xFFFF); }
constexpr WORD IndexFromPropId(CEPROPID id) { return static_cast<WORD>(id >> 16); }

struct CEBLOB {
  DWORD dwCount;
  BYTE* lpb;
};

union CEVALUNION {
  USHORT uiVal;
  LONG lVal;
  ULONG ulVal;
  BOOL boolVal;
  WCHAR* lpwstr;
  CEBLOB blob;
};

// CEPROPVAL.wFlags
constexpr WORD CEDB_PROPNOTFOUND = 0x0100;  // read: the record lacks the property
constexpr WORD CEDB_PROPDELETE = 0x0200;    // write: remove the property

struct CEPROPVAL {
  CEPROPID propid;
  WORD wLenData;  // unused; lengths come from the value
  WORD wFlags;
  CEVALUNION val;
};

// Limits of one property's data (a string's counting its terminator) and of
// one record's properties together.
constexpr DWORD CEDB_MAXPROPDATASIZE = 65472;
constexpr DWORD CEDB_MAXRECORDSIZE = 128 * 1024;
constexpr int CEDB_MAXDBASENAMELEN = 32;  // with the terminator
constexpr int CEDB_MAXSORTORDER = 4;

// SORTORDERSPEC.dwFlags
constexpr DWORD CEDB_SORT_DESCENDING = 0x1;
constexpr DWORD CEDB_SORT_CASEINSENSITIVE = 0x2;
constexpr DWORD CEDB_SORT_UNKNOWNFIRST = 0x4;  // records lacking the property come first

struct SORTORDERSPEC {
  CEPROPID propid;
  DWORD dwFlags;
};

// CEDBASEINFO.dwFlags: which members are meaningful.
constexpr DWORD CEDB_VALIDNAME = 0x1;
constexpr DWORD CEDB_VALIDTYPE = 0x2;
constexpr DWORD CEDB_VALIDSORTSPEC = 0x4;

struct CEDBASEINFO {
  DWORD dwFlags;
  WCHAR szDbaseName[CEDB_MAXDBASENAMELEN];
  DWORD dwDbaseType;
  DWORD dwNumRecords;  // filled by CeOidGetInfoEx
  WORD wNumSortOrder;
  SORTORDERSPEC rgSortSpecs[CEDB_MAXSORTORDER];
};

constexpr WORD OBJTYPE_DATABASE = 2;
constexpr WORD OBJTYPE_RECORD = 3;

struct CERECORDINFO {
  CEOID oidParent;  // the database holding the record
};

struct CEOIDINFO {
  WORD wObjType;
  CEDBASEINFO infDatabase;  // when wObjType is OBJTYPE_DATABASE
  CERECORDINFO infRecord;   // when wObjType is OBJTYPE_RECORD
};

// CeOpenDatabaseEx flags
constexpr DWORD CEDB_AUTOINCREMENT = 0x1;  // each read moves on to the next record

// CeSeekDatabase seek types
constexpr DWORD CEDB_SEEK_CEOID = 0x1;             // value: object identifier
constexpr DWORD CEDB_SEEK_BEGINNING = 0x2;         // value: position from the first record
constexpr DWORD CEDB_SEEK_END = 0x4;               // value: 0 or a negative offset from the last
constexpr DWORD CEDB_SEEK_CURRENT = 0x8;           // value: signed offset from the current
constexpr DWORD CEDB_SEEK_VALUESMALLER = 0x10;     // value: const CEPROPVAL*
constexpr DWORD CEDB_SEEK_VALUEFIRSTEQUAL = 0x20;  // value: const CEPROPVAL*
constexpr DWORD CEDB_SEEK_VALUEGREATER = 0x40;     // value: const CEPROPVAL*
constexpr DWORD CEDB_SEEK_VALUENEXTEQUAL = 0x80;   // value: const CEPROPVAL*

// CeReadRecordPropsEx flags
constexpr DWORD CEDB_ALLOWREALLOC = 0x1;

// ---- Volumes ----

// Mounts the volume file at path (a host path or a handheld path) and fills
// *guid. CREATE_NEW fails with ERROR_FILE_EXISTS when the file exists;
// OPEN_EXISTING fails with ERROR_FILE_NOT_FOUND when it does not; a file that
// is not a volume (empty, foreign, damaged, a folder) fails with
// ERROR_BAD_FORMAT, ERROR_FILE_CORRUPT or ERROR_ACCESS_DENIED and is left
// exactly as it was. Mounting a volume this process has mounted already
// gives the same identifier and needs one more unmount.
BOOL CeMountDBVol(CEGUID* guid, const WCHAR* path, DWORD disposition);

// Flushes, then releases one mount. Handles still open on the volume stop
// working (ERROR_INVALID_HANDLE) once the last mount is released.
BOOL CeUnmountDBVol(CEGUID* guid);

// Makes every write made so far durable (see the file comment).
BOOL CeFlushDBVol(CEGUID* guid);

// ---- Databases ----

// Creates a database from info (name required, unique in the volume,
// case-blind; type and sort orders optional). Returns its identifier, or 0
// (ERROR_DUP_NAME when the name is taken, ERROR_INVALID_PARAMETER for a bad
// name or more than four sort orders).
CEOID CeCreateDatabaseEx(CEGUID* guid, CEDBASEINFO* info);

// Deletes a database with all its records. Open handles on it stop working.
BOOL CeDeleteDatabaseEx(CEGUID* guid, CEOID oid);

// Opens a database by *oid or, when *oid is 0, by name (then *oid is set).
// sortProperty chooses the sort order the handle walks and seeks in: one of
// the database's sort-order property identifiers, or 0 for the store's
// natural order (creation order). The current record is the first one.
HANDLE CeOpenDatabaseEx(CEGUID* guid, CEOID* oid, const WCHAR* name, CEPROPID sortProperty,
                        DWORD flags, void* notify);

// Closes a database handle or a database enumeration handle.
#if defined(TBM_ENGINE_DESKTOP)
// The table layer built for the desktop (libTBMDBCE.so) and the programs
// using it have one CeCloseHandle, the remote API's (Rapi.h), which closes
// any handle the handheld gave; this is its declaration.
extern "C" BOOL CeCloseHandle(HANDLE handle);
#else
BOOL CeCloseHandle(HANDLE handle);
#endif

// Enumerates the databases of a type (0: all), in creation order.
HANDLE CeFindFirstDatabaseEx(CEGUID* guid, DWORD type);
// The next database's identifier, or 0 with ERROR_NO_MORE_ITEMS.
CEOID CeFindNextDatabaseEx(HANDLE find, CEGUID* guid);

// Describes a database (name, type, record count, sort orders) or a record
// (its database).
BOOL CeOidGetInfoEx(CEGUID* guid, CEOID oid, CEOIDINFO* info);

// Changes a database's name, type or sort orders, as info->dwFlags says.
// Changing the sort orders reorders the records at once; open handles keep
// the sort property they were opened with while the database still has a
// sort order on it, and walk in natural order otherwise.
BOOL CeSetDatabaseInfoEx(CEGUID* guid, CEOID oid, CEDBASEINFO* info);

// ---- Records ----

// Moves the handle's current record and returns its identifier, or 0 when
// no record matches (the current record then stays where it was). When index
// is not null it receives the record's position in the handle's order.
// Value seeks compare with the sort property of the handle's order, the way
// that order compares (case-blind when it says so); they fail with
// ERROR_INVALID_PARAMETER on a handle in natural order or for a value of
// another property.
//   FIRSTEQUAL: the first record whose key equals the value.
//   NEXTEQUAL:  the record right after the current one, if its key equals.
//   SMALLER:    the last record whose key comes before the value.
//   GREATER:    the first record whose key comes after the value.
CEOID CeSeekDatabase(HANDLE db, DWORD seekType, std::uintptr_t value, DWORD* index);

// Reads properties of the current record into *buffer: an array of
// CEPROPVAL (*count of them) followed by the strings and byte blocks they
// point at. rgPropID null reads every property; otherwise one CEPROPVAL per
// asked identifier, in the order asked, with CEDB_PROPNOTFOUND for those the
// record lacks. When *buffer is null or *bufferBytes too small, the call
// fails with ERROR_INSUFFICIENT_BUFFER and sets *bufferBytes to the size
// needed, unless flags has CEDB_ALLOWREALLOC: then the buffer is (re)allocated
// with std::realloc and the caller frees it with std::free. Returns the
// record's identifier.
CEOID CeReadRecordPropsEx(HANDLE db, DWORD flags, WORD* count, const CEPROPID* rgPropID,
                          BYTE** buffer, DWORD* bufferBytes, HANDLE heap);

// Writes count properties. oid 0 creates a new record and returns its
// identifier; otherwise the given properties of that record are overwritten
// (or removed, with CEDB_PROPDELETE) and the others kept. The call is whole
// or nothing. Does not move the current record.
CEOID CeWriteRecordProps(HANDLE db, CEOID oid, WORD count, CEPROPVAL* values);

// Deletes a record of the handle's database. When it was the current record,
// the next seek by CURRENT +1 lands on the record that followed it.
BOOL CeDeleteRecord(HANDLE db, CEOID oid);

// ---- beyond the handheld's calls ----

// Batches. Between StoreBeginBatch and the matching StoreEndBatch every
// flush of the volume is put off, so the writes in between become durable
// together at the end or, when the process dies first, are lost together: a
// change that takes several calls (a new record, then its fields) is whole
// or absent. The outermost begin takes the volume's write lock at once
// (waiting as a write does, then ERROR_BUSY), so nothing the batch reads is
// changed by another process before the batch writes. keep FALSE rolls
// every write of the batch back, and this process's open handles see the
// volume as it was. Batches nest; one ended without keep makes the batches
// around it roll back too (their end then fails). A batch is the volume's,
// for every thread of the process; unmounting the last mount ends it as a
// flush would.
BOOL StoreBeginBatch(CEGUID* guid);
BOOL StoreEndBatch(CEGUID* guid, BOOL keep);

// Puts the complete volume file at replacement in the place of the volume
// file at target (host or handheld paths, in one folder) in one step that
// no process using either file ever sees half of. Every process holds the
// volumes it has mounted locked against this, so the call waits a few
// seconds for target's users to finish, then fails with
// ERROR_SHARING_VIOLATION (at once when this process has it mounted).
// ERROR_BAD_FORMAT when target is not a volume or replacement is not a
// complete, cleanly closed one. On failure both files stay as they were.
// Without a file at target, replacement is put there unless a file appears
// there meanwhile (ERROR_FILE_EXISTS).
BOOL StoreReplaceVolume(const WCHAR* target, const WCHAR* replacement);

// Why the store failed, in the terms a person needs: the first failure of
// this thread since StoreClearCause whose cause is the volume in use
// (ERROR_BUSY, ERROR_SHARING_VIOLATION), the disk full (ERROR_DISK_FULL),
// permission refused (ERROR_ACCESS_DENIED), the file damaged or not a
// volume (ERROR_FILE_CORRUPT, ERROR_BAD_FORMAT), the disk failing
// (ERROR_WRITE_FAULT, ERROR_READ_FAULT) or memory (ERROR_NOT_ENOUGH_MEMORY);
// ERROR_SUCCESS when there was none. *message, when message is not null,
// points at that failure's sentence until the next StoreClearCause.
DWORD StoreLastCause(const char** message);
void StoreClearCause();

// A sentence describing this thread's last failure of a store call, for
// messages shown to people.
const char* StoreLastMessage();

// How many record reads (CeReadRecordPropsEx calls that returned a record)
// this thread has made: a figure for diagnostics and measurements.
std::uint64_t StoreRecordReads();

namespace tbm::store {

// Whether error is one of the causes StoreLastCause keeps: the volume in
// use, the disk full, permission refused, the file damaged, the disk
// failing or memory.
inline bool IsStoreCause(DWORD error) {
  switch (error) {
    case ERROR_BUSY:
    case ERROR_SHARING_VIOLATION:
    case ERROR_DISK_FULL:
    case ERROR_ACCESS_DENIED:
    case ERROR_FILE_CORRUPT:
    case ERROR_BAD_FORMAT:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_NOT_ENOUGH_MEMORY:
      return true;
    default:
      return false;
  }
}

}  // namespace tbm::store
