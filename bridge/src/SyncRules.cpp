// The pure rules of the export's limits and of merging one record.
#include "ExchangeFile.h"
#include "ExportRules.h"
#include "MergeRules.h"
#include "SyncSettings.h"

namespace tbm::bridge {

std::size_t FirstValueListLeftEmpty(std::span<const std::size_t> lengths) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    total += lengths[i] + 1;
    if (total > kValueListBudgetBytes) return i;
  }
  return lengths.size();
}

bool MergeNeedsTextComparison(const MergeSituation& s) {
  return s.changeCode == sync::kChangeModified && s.hostRecordFound && !s.modificationCountEqual;
}

MergeDecision DecideMerge(const MergeSituation& s) {
  switch (s.changeCode) {
    case sync::kChangeNew:
      return {MergeAction::kCreate, 0};
    case sync::kChangeDeleted:
      if (!s.hostRecordFound) return {MergeAction::kNothing, 0};
      if (s.modificationCountEqual) return {MergeAction::kDelete, 0};
      return {MergeAction::kNothing, kFlagHostChangedOrGone};
    case sync::kChangeModified:
      if (!s.hostRecordFound) return {MergeAction::kCreate, kFlagHostChangedOrGone};
      if (s.modificationCountEqual) return {MergeAction::kWriteInto, 0};
      if (s.textsEqual) return {MergeAction::kNothing, 0};
      switch (s.conflictRule) {
        case sync::kHandheldWins:
          return {MergeAction::kWriteInto, kFlagChangedOnBoth};
        case sync::kDesktopWins:
          return {MergeAction::kNothing, kFlagChangedOnBoth};
        default:
          return {MergeAction::kDuplicateAndWrite, kFlagChangedOnBoth};
      }
    default:
      return {MergeAction::kNothing, 0};
  }
}

}  // namespace tbm::bridge
