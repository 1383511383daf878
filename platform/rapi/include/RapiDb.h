// The handheld's database volumes reached from the desktop: the calls of
// CeDb.h with the same names, arguments and results, each one exchange with
// the device connection service over the connection CeRapiInit opened
// (Rapi.h). The types are CeDb.h's.
//
// Differences from the handheld's own calls:
// - Paths are handheld paths; a host path (one with '/') or a path that
//   leads outside the device root is refused with ERROR_ACCESS_DENIED.
// - A failing call returns 0, FALSE or INVALID_HANDLE_VALUE. When it failed
//   on the handheld, the handheld keeps its error for CeGetLastError; when
//   it could not reach the handheld, CeRapiGetError says why. The desktop's
//   own GetLastError is left alone.
// - A volume identifier (CEGUID) and a database handle name what this
//   connection opened on the handheld; both die with the connection, and
//   batches still open when the connection ends are given up there.
// - Database handles are closed with the desktop's one CeCloseHandle
//   (Rapi.h), which closes any handle this connection opened. With
//   TBM_ENGINE_DESKTOP defined (libTBMDBCE.so and the programs using it),
//   CeDb.h declares exactly that one, so Rapi.h and CeDb.h may meet in one
//   file there.
// - CeReadRecordPropsEx with CEDB_ALLOWREALLOC (re)allocates the buffer with
//   std::realloc, as the handheld's store does: free it with std::free.
//   Without it, a buffer that is missing or too small fails with
//   ERROR_INSUFFICIENT_BUFFER (also the handheld's last error) and sets
//   *bufferBytes to the size needed.
//
// These calls live in the library that carries them to a program
// (libTBMDBCE.so), never in tbm_rapi itself: the device service links both
// tbm_rapi and the handheld's store, whose calls have these names.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "CeDb.h"
#include "RapiFrame.h"
#include "Status.h"

// The same declarations as CeDb.h's (C++ names, as there).

BOOL CeMountDBVol(CEGUID* guid, const WCHAR* path, DWORD disposition);
BOOL CeUnmountDBVol(CEGUID* guid);
BOOL CeFlushDBVol(CEGUID* guid);
CEOID CeCreateDatabaseEx(CEGUID* guid, CEDBASEINFO* info);
BOOL CeDeleteDatabaseEx(CEGUID* guid, CEOID oid);
HANDLE CeOpenDatabaseEx(CEGUID* guid, CEOID* oid, const WCHAR* name, CEPROPID sortProperty,
                        DWORD flags, void* notify);
BOOL CeOidGetInfoEx(CEGUID* guid, CEOID oid, CEOIDINFO* info);
BOOL CeSetDatabaseInfoEx(CEGUID* guid, CEOID oid, CEDBASEINFO* info);
CEOID CeSeekDatabase(HANDLE db, DWORD seekType, std::uintptr_t value, DWORD* index);
CEOID CeReadRecordPropsEx(HANDLE db, DWORD flags, WORD* count, const CEPROPID* rgPropID,
                          BYTE** buffer, DWORD* bufferBytes, HANDLE heap);
CEOID CeWriteRecordProps(HANDLE db, CEOID oid, WORD count, CEPROPVAL* values);
BOOL CeDeleteRecord(HANDLE db, CEOID oid);

// The batches of CeDb.h, held on the handheld for this connection.
BOOL StoreBeginBatch(CEGUID* guid);
BOOL StoreEndBatch(CEGUID* guid, BOOL keep);

// As CeDb.h says, from the failures the handheld reported to this thread.
DWORD StoreLastCause(const char** message);
void StoreClearCause();

namespace tbm::rapi {

// The one writer and reader of the values the database-volume calls carry
// (RapiFrame.h says their layout). Every length is checked: a string of
// more than CEDB_MAXPROPDATASIZE bytes with its terminator, a byte block
// larger than CEDB_MAXPROPDATASIZE, an unknown type or a missing pointer is
// refused (kBadLength or kCorrupt) before anything is written.

// A property value as it travels; strings and byte blocks own their data.
struct PropertyValue {
  CEPROPID id = 0;
  WORD flags = 0;
  std::uint32_t number = 0;         // CEVT_UI2, CEVT_I4, CEVT_UI4, CEVT_BOOL
  std::u16string text;              // CEVT_LPWSTR, without its terminator
  std::vector<std::uint8_t> bytes;  // CEVT_BLOB
};

// The most property values one call carries: a record cannot hold more
// properties than fit in CEDB_MAXRECORDSIZE.
inline constexpr std::uint32_t kMaxPropertiesPerCall = 0xFFFF;

Status WritePropertyValues(PayloadWriter& writer, const CEPROPVAL* values, WORD count);
// Reads count values (after the caller read the count); the reader's
// failure, or kCorrupt for a value of an unknown type.
Status ReadPropertyValues(PayloadReader& reader, WORD count, std::vector<PropertyValue>* values);

// CEPROPVALs pointing into values (strings terminated in place), for
// handing read values to a store call.
std::vector<CEPROPVAL> AsPropVals(std::vector<PropertyValue>& values);

void WriteDatabaseInfo(PayloadWriter& writer, const CEDBASEINFO& info);
bool ReadDatabaseInfo(PayloadReader& reader, CEDBASEINFO* info);

// The bytes a read buffer needs for values, laid out as the handheld's
// store lays them out: the CEPROPVALs, then each string (with its
// terminator) and byte block, each starting at an alignment of CEPROPVAL.
std::size_t ReadBufferBytes(const std::vector<PropertyValue>& values);
// Lays values out into buffer, which holds at least ReadBufferBytes(values).
void FillReadBuffer(const std::vector<PropertyValue>& values, BYTE* buffer);

}  // namespace tbm::rapi
