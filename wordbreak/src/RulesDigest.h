// A digest of the compiled word-break rules, taken when the build compiles
// them and checked whenever a session reads them.
//
// ICU's break iterator trusts compiled rules: a state table, a category
// trie or a status index that is out of range makes it read outside the
// rules. Our rules are compiled by the build that makes this library and
// installed beside it, so the only rules worth reading are those exact
// bytes; a damaged install is refused before ICU sees it. The digest
// (64-bit FNV-1a) guards against damage, not against someone who can
// write the install folder, who could as well replace the library.
#pragma once

#include <cstdint>
#include <span>

namespace tbm::wordbreak {

std::uint64_t RulesDigest(std::span<const std::uint8_t> bytes);

}  // namespace tbm::wordbreak
