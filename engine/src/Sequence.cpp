#include "Sequence.h"

#include "ObjectTable.h"

namespace tbm::engine {

std::int32_t ReadCounter(MDbRef* ref, std::uint16_t counter, std::uint32_t* value) {
  return ReadEntryU32(ref, MDbObjCounter, counter, kCounterProp, value);
}

std::int32_t WriteCounter(MDbRef* ref, std::uint16_t counter, std::uint32_t value) {
  CEPROPVAL v{};
  v.propid = kCounterProp;
  v.val.ulVal = value;
  return WriteEntry(ref, MDbObjCounter, counter, &v, 1);
}

std::int32_t RenumberTable(HANDLE table, std::uint32_t* count) {
  std::uint32_t position = 0;
  for (;; ++position) {
    const CEOID oid = CeSeekDatabase(table, CEDB_SEEK_BEGINNING, position, nullptr);
    if (oid == 0) break;
    CEPROPVAL seq{};
    seq.propid = kCreationSeqProp;
    seq.val.ulVal = position;
    if (CeWriteRecordProps(table, oid, 1, &seq) == 0) return MDbErrFailed;
  }
  *count = position;
  return MDbErrNone;
}

std::int32_t TakeSequence(MDbRef* ref, MDbDataTbl* tbl, std::uint16_t counter, std::uint32_t* seq) {
  const HANDLE table = counter == kDataCounter ? tbl->dataHandle : tbl->deleteHandle;
  const bool cached = counter == kDataCounter && tbl->cachedSeq != kNoCachedSeq;
  std::uint32_t value = 0;
  if (cached) {
    value = tbl->cachedSeq;
  } else if (ReadCounter(ref, counter, &value) != MDbErrNone) {
    return MDbErrFailed;
  }
  if (value >= kCounterWrap) {
    if (RenumberTable(table, &value) != MDbErrNone) return MDbErrFailed;
    if (cached) {
      tbl->cachedSeq = value;
    } else if (WriteCounter(ref, counter, value) != MDbErrNone) {
      return MDbErrFailed;
    }
  }
  *seq = value;
  return MDbErrNone;
}

std::int32_t AdvanceSequence(MDbRef* ref, MDbDataTbl* tbl, std::uint16_t counter,
                             std::uint32_t seq) {
  if (counter == kDataCounter && tbl->cachedSeq != kNoCachedSeq) {
    tbl->cachedSeq = seq + 1;
    return MDbErrNone;
  }
  return WriteCounter(ref, counter, seq + 1);
}

}  // namespace tbm::engine
