// Our compiled word-break rules, read from tbmwd.brk in the data folder into
// memory that the break iterator reads from for as long as it lives.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace tbm::wordbreak {

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// The rules without the file's ICU data header, in a block from malloc (so
// that the session, a C structure, can own it and free it) and aligned as
// ICU requires.
struct RuleImage {
  std::unique_ptr<void, FreeDeleter> bytes;
  std::size_t size = 0;
};

// Reads and checks the compiled rules file at path. Returns nothing when the
// file cannot be read, its header is not that of break rules compiled for
// this machine (byte order, UTF-16), what follows the header does not open
// with the rules' signature and the header's format version, or the file is
// not, byte for byte as far as its size and digest tell, the rules this
// library was built with (ICU reads the rules' tables without checking
// them; see RulesDigest.h).
std::optional<RuleImage> ReadRuleImage(const std::string& path);

}  // namespace tbm::wordbreak
