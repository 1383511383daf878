// The limits of a database's copy for the handheld ("TBSS.sdb").
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tbm::bridge {

// The most records the copy carries; the header's second count (offset
// 264) still gives the database's full count.
constexpr std::int32_t kExportRecordLimit = 5000;

// The value lists' texts together, each counted with its terminator, stay
// within this many bytes.
constexpr std::size_t kValueListBudgetBytes = 30720;

// The longest field text a record may carry; a record with a longer text
// travels without texts (change code 0), so that the handheld skips it
// rather than cutting it. Fewer chosen fields allow longer texts.
constexpr std::size_t TextLimitFor(std::size_t chosenFields) {
  return chosenFields <= 20 ? 2048 : chosenFields <= 30 ? 1536 : 1024;
}

// The index of the first value list that is written empty: the first one
// whose text, added to the running total, would pass the budget (every
// later list is written empty too). lengths.size() when all fit.
std::size_t FirstValueListLeftEmpty(std::span<const std::size_t> lengths);

}  // namespace tbm::bridge
