// A store batch around one engine call that reads before it writes (a
// record's creation number, the record count against the limit): taking
// the volume's write lock first means no other process changes what was
// read before it is written over, and the call's writes land together.
#pragma once

#include <cstdint>

#include "Guard.h"
#include "MDb.h"

namespace tbm::engine {

class WriteBatch {
 public:
  explicit WriteBatch(MDbRef* ref) : ref_(ref), began_(StoreBeginBatch(&ref->volume) != FALSE) {}
  // Ends a batch still open, also when the call is left by an exception.
  ~WriteBatch() {
    Guarded([&] { return End(MDbErrFailed); });
  }
  WriteBatch(const WriteBatch&) = delete;
  WriteBatch& operator=(const WriteBatch&) = delete;

  bool began() const { return began_; }

  // Ends the batch, keeping what the call wrote (the call undoes its own
  // failures), and returns the call's result, or MDbErrFailed when the
  // writes could not be made durable.
  std::int32_t End(std::int32_t result) {
    if (!began_) return result;
    began_ = false;
    const bool kept = StoreEndBatch(&ref_->volume, TRUE) != FALSE;
    return result == MDbErrNone && !kept ? MDbErrFailed : result;
  }

 private:
  MDbRef* ref_;
  bool began_;
};

}  // namespace tbm::engine
