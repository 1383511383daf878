// Creation sequences: the object table holds two counters (kind 4), index 0
// numbering the data table's records and index 1 the delete table's. Each
// holds the next number to hand out.
#pragma once

#include <cstdint>

#include "MDb.h"

namespace tbm::engine {

constexpr std::uint16_t kDataCounter = 0;
constexpr std::uint16_t kDeleteCounter = 1;
constexpr std::uint32_t kNoCachedSeq = 0xFFFFFFFF;
// From this value on, a table is renumbered before a number is handed out.
constexpr std::uint32_t kCounterWrap = 0xFFFFFFFE;

constexpr CEPROPID kCounterProp = PropId(2, CEVT_UI4);
constexpr CEPROPID kCreationSeqProp = PropId(4, CEVT_UI4);

std::int32_t ReadCounter(MDbRef* ref, std::uint16_t counter, std::uint32_t* value);
std::int32_t WriteCounter(MDbRef* ref, std::uint16_t counter, std::uint32_t value);

// Writes creation sequence = position into every record of the table, in
// the table's current order, and reports how many there are.
std::int32_t RenumberTable(HANDLE table, std::uint32_t* count);

// The creation sequence for a new record of the data table (counter 0) or
// the delete table (counter 1): the cached value when the data table's cache
// is in force, otherwise the counter; a value at the wrap renumbers the
// table first (and writes the counter back when it was read).
std::int32_t TakeSequence(MDbRef* ref, MDbDataTbl* tbl, std::uint16_t counter, std::uint32_t* seq);

// Records that seq was used: seq + 1 becomes the cached value, or is
// written to the counter.
std::int32_t AdvanceSequence(MDbRef* ref, MDbDataTbl* tbl, std::uint16_t counter,
                             std::uint32_t seq);

}  // namespace tbm::engine
