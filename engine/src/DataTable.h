// The data and delete tables: the operations of the record set that are
// built on the table layer (writing a field, deleting records, ordering),
// and the stored record's layout.
//
// Stored record (both tables): property 0 state (u16), 1 reserved flag
// (boolean, false), 2 identity block (10 bytes), 3 sort key (i32), 4 creation
// sequence (u32), 5 + i the text of field i.
#pragma once

#include <cstdint>

#include "MDb.h"

namespace tbm::engine {

constexpr CEPROPID kStateProp = PropId(0, CEVT_UI2);
constexpr CEPROPID kReservedProp = PropId(1, CEVT_BOOL);
constexpr CEPROPID kIdentityProp = PropId(2, CEVT_BLOB);
constexpr CEPROPID kSortKeyProp = PropId(3, CEVT_I4);
// kCreationSeqProp (property 4) is in Sequence.h.
constexpr WORD kLeadingProps = 5;
constexpr CEPROPID FieldProp(int field) {
  return PropId(static_cast<WORD>(kLeadingProps + field), CEVT_LPWSTR);
}
// Properties written per store call when a record is written in batches.
constexpr WORD kWriteBatch = 10;

// Writes the text of field into the open record rec, in one store call with
// state | modified, and flushes. The record's loaded properties are not
// refreshed. A record of the delete table is written there.
std::int32_t WriteRecordField(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                              std::int16_t field, const char16_t* text);

// Deletes the data record with identifier *oid, or (oid null) the one at
// position (the cursor is restored afterwards). Unless noTracking is set, a
// record the desktop already knows (state without the added bit) is first
// copied into the delete table with state | modified | deleted and the next
// delete-table sequence. A failure leaves the record in the data table and
// nothing in the delete table.
std::int32_t DeleteDataRecord(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, std::int16_t position,
                              const std::uint32_t* oid, bool noTracking);

// Deletes every data record at once by replacing the data table; the
// delete table and its counter stay. The table is open again afterwards.
std::int32_t DeleteAllDataRecords(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl);

// Orders the data table by property (descending when asked), keeping the
// creation-sequence order as its first sort order; the table is reopened in
// the new order.
std::int32_t SetDataTableOrder(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, CEPROPID property,
                               bool descending);

// Back to the creation-sequence order alone.
std::int32_t RestoreDataTableOrder(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl);

// Writes count properties as one record in batches of kWriteBatch: the
// first call creates it, the others write onto it. On a failure the record
// is deleted again. Returns the new identifier or 0.
CEOID WriteRecordInBatches(HANDLE table, CEPROPVAL* props, WORD count);

}  // namespace tbm::engine
