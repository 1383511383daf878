// Merging the handheld's changes ("TBSC.sdb" in the exchange folder) into
// the matching host database.
//
// The file's field layout must fit the database: every handheld field's
// key names a host field of the same type, or a text field. When it does,
// each record is merged by its change code (MergeRules.h), found in the
// host by the identity it carries, its modification count telling whether
// the host record changed since. When it does not, the records are not
// merged but appended to the set-aside file (SetAsideFile.h), and the
// caller learns so from kFlagSetAside.
#pragma once

#include <cstdint>
#include <string>

#include "SyncContext.h"

namespace tbm::bridge {

// The lower half of the reply to a merge.
constexpr std::uint16_t kMergeStatusDone = 0;
constexpr std::uint16_t kMergeStatusFailed = 1;        // the database or the file could not be
                                                       // opened, or the copy not written
constexpr std::uint16_t kMergeStatusRecordFailed = 5;  // a record could not be merged or set
                                                       // aside

struct MergeOutcome {
  std::uint16_t status = kMergeStatusDone;
  std::uint16_t flags = 0;  // kFlagSetAside, kFlagChangedOnBoth, kFlagHostChangedOrGone
};

// Merges folder/TBSC.sdb into db. A record that fails to merge makes the
// status kMergeStatusRecordFailed and the others are still merged; a file
// that breaks off part-way does the same for the records it held back.
// Every failure is logged with what went wrong.
MergeOutcome MergeDatabase(const SyncContext& context, TBDatabase db, const std::string& folder);

}  // namespace tbm::bridge
