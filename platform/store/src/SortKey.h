// Sort keys: byte strings whose plain byte order is the order a sort order
// asks for, so SQLite can keep them in an ordinary index.
//
//   records lacking the property   0x00 (unknown first) or 0x02 (last)
//   records having it              0x01, then the value's key, whose bytes
//                                  are inverted for a descending order
//
// Value keys: numbers big-endian (the sign bit of signed numbers flipped),
// booleans as 0 or 1, text as its ICU collation key (case-blind orders at
// secondary strength, others at tertiary), byte blocks escaped so that a
// block sorts before every longer block it begins. Each value key is
// prefix-free, which is what lets inverting its bytes reverse the order.
#pragma once

#include <unicode/ucol.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "CeDb.h"

namespace tbm::store {

using SortKey = std::vector<std::uint8_t>;

class SortKeyMaker {
 public:
  SortKeyMaker();
  ~SortKeyMaker();
  SortKeyMaker(const SortKeyMaker&) = delete;
  SortKeyMaker& operator=(const SortKeyMaker&) = delete;

  // The key of a record for spec, given the stored value bytes of the
  // spec's property, or nothing when the record lacks it.
  SortKey Make(const SORTORDERSPEC& spec, std::optional<std::span<const std::uint8_t>> storedValue);

  bool ok() const { return caseBlind_ != nullptr && caseExact_ != nullptr; }

 private:
  void AppendTextKey(UCollator* collator, std::span<const std::uint8_t> utf16le, SortKey& key);

  UCollator* caseBlind_ = nullptr;
  UCollator* caseExact_ = nullptr;
  std::vector<char16_t> text_;
};

}  // namespace tbm::store
