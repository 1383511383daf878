// What merging one handheld record into the host does, decided from the
// record's change code and what the host holds.
#pragma once

#include <cstdint>

namespace tbm::bridge {

// The upper half of the reply to a merge.
constexpr std::uint16_t kFlagSetAside = 0x0001;           // records went to a ".csv" file
constexpr std::uint16_t kFlagChangedOnBoth = 0x0002;      // a record changed on both sides
constexpr std::uint16_t kFlagHostChangedOrGone = 0x0004;  // a handheld change met a changed
                                                          // or missing host record

enum class MergeAction {
  kNothing,
  kCreate,             // a new host record with every handheld field
  kDelete,             // delete the host record
  kWriteInto,          // write every handheld field into the host record
  kDuplicateAndWrite,  // duplicate the host record, write the fields into the copy
};

// What is known when the decision is made. textsEqual is looked at only
// for a modified record whose host record was found with another
// modification count; the caller need not compare texts otherwise.
struct MergeSituation {
  std::int16_t changeCode = 0;
  bool hostRecordFound = false;
  bool modificationCountEqual = false;
  bool textsEqual = false;
  std::int32_t conflictRule = 1;  // "QZP1": 2 handheld wins, 3 desktop wins, else keep both
};

struct MergeDecision {
  MergeAction action = MergeAction::kNothing;
  std::uint16_t flags = 0;
};

MergeDecision DecideMerge(const MergeSituation& situation);

// Whether DecideMerge needs textsEqual for this situation.
bool MergeNeedsTextComparison(const MergeSituation& situation);

}  // namespace tbm::bridge
