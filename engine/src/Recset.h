// The record set's internals shared by its operations, the find and the
// agent layer: the found-set table, the added-record list, building a set,
// and the number conversion used by sorting and finding.
#pragma once

#include <cstdint>

#include "Environment.h"
#include "MDb.h"

namespace tbm::engine {

// Found-set table entries: property 0 the ordinal (the set's order),
// property 1 the data record's identifier.
constexpr CEPROPID kOrdinalProp = PropId(0, CEVT_UI4);
constexpr CEPROPID kMemberProp = PropId(1, CEVT_UI4);

// Reads the integer part of a number typed as text: digits are kept, a
// minus sign only before the first digit, everything after a full stop is
// dropped and other characters are skipped ("1,234" is 1234, "-12.9" is
// -12, "12-3" is 123). MDbErrNotANumber without a digit, MDbErrNumberRange
// when the value does not fit (the extremes of 32 bits count as not fitting).
std::int32_t NumberValue(const char16_t* text, std::int32_t* value);

// A find prepared once per build: the field's conversion of the search text
// and the word-break session.
class Finder;

// Builds the found-set table of rs anew: every data record in the data
// table's current order that the query matches (or every record without
// one), or that is in the added-record list while a find is in force. On
// success rs is valid and uses the found set; a failed build leaves no
// found-set table behind and rs as it was (invalid).
std::int32_t BuildSet(MDbEnv* env, MDbRecset* rs, const MDbFindRequest* query);

// Closes the found-set table of rs and deletes it from the volume.
[[gnu::visibility("hidden")]] std::int32_t DropFoundTable(MDbEnv* env, MDbRecset* rs);

// The added-record list.
bool AddedContains(const MDbRecset* rs, std::uint32_t oid);
std::int32_t AddedAppend(MDbRecset* rs, std::uint32_t oid);
void AddedRemove(MDbRecset* rs, std::uint32_t oid);
void AddedFree(MDbRecset* rs);

// Appends a data record to the set's found-set table.
std::int32_t FoundAppend(MDbRecset* rs, std::uint32_t oid);

}  // namespace tbm::engine
