// Find sessions: a search text prepared once, then tested against each
// field text of a find.

#include <unicode/ubrk.h>
#include <unicode/uloc.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "DataFolder.h"
#include "RuleImage.h"
#include "TBMWbrk.h"
#include "UpperCase.h"

namespace {

using tbm::wordbreak::kRulesFileName;
using tbm::wordbreak::ReadRuleImage;
using tbm::wordbreak::RememberedDataFolder;
using tbm::wordbreak::RuleImage;
using tbm::wordbreak::UpperCase;

constexpr char kFallbackLocale[] = "en_US";

// The locale for upper-casing: ICU's default, which ICU takes from the
// user's environment.
const char* SessionLocale() {
  const char* locale = uloc_getDefault();
  return locale != nullptr && locale[0] != 0 ? locale : kFallbackLocale;
}

// Frees a session and everything it owns; tolerates a half-built one, so
// that a failed open can hand its session here.
void DestroySession(FWSession* session) {
  if (session == nullptr) return;
  if (session->iterator != nullptr) ubrk_close(session->iterator);
  std::free(session->upperSearch);
  std::free(session->ruleImage);  // after the iterator that reads it
  std::free(session);
}

struct SessionDeleter {
  void operator()(FWSession* session) const { DestroySession(session); }
};
using SessionOwner = std::unique_ptr<FWSession, SessionDeleter>;

// A zero-terminated copy of text in a block from malloc, for the session.
char16_t* CopyForSession(const std::u16string& text) {
  auto* copy = static_cast<char16_t*>(std::malloc((text.size() + 1) * sizeof(char16_t)));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return copy;
}

// Makes the session's iterator from the rules in the data folder. The
// session takes the rules' memory first, so it is freed with the session
// whatever happens next.
bool CreateIterator(FWSession& session) {
  const std::string folder = RememberedDataFolder();
  if (folder.empty()) return false;  // no successful TBMWbrInit
  std::optional<RuleImage> rules = ReadRuleImage(folder + kRulesFileName);
  if (!rules || rules->size > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    return false;
  }
  session.ruleImage = rules->bytes.release();
  UErrorCode status = U_ZERO_ERROR;
  session.iterator = ubrk_openBinaryRules(static_cast<const uint8_t*>(session.ruleImage),
                                          static_cast<int32_t>(rules->size), nullptr, 0, &status);
  if (U_FAILURE(status)) {
    if (session.iterator != nullptr) ubrk_close(session.iterator);
    session.iterator = nullptr;
    return false;
  }
  return session.iterator != nullptr;
}

// Whether the upper-cased search text starts a word of the upper-cased text.
// Boundaries are taken from the upper-cased text itself, whose length may
// differ from the field's. The last boundary (the end) is never tested, and
// a boundary with fewer units left than the search text holds cannot match.
std::optional<bool> StartsAWord(UBreakIterator* iterator, std::u16string_view search,
                                std::u16string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    return std::nullopt;
  }
  // A text that does not hold the search anywhere cannot hold it at a word
  // start: most fields of a find end here, without the iterator's pass.
  if (!search.empty() && text.find(search) == std::u16string_view::npos) return false;
  UErrorCode status = U_ZERO_ERROR;
  ubrk_setText(iterator, text.data(), static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;

  bool found = false;
  int32_t position = ubrk_first(iterator);
  for (int32_t next = ubrk_next(iterator); next != UBRK_DONE && !found;
       position = next, next = ubrk_next(iterator)) {
    const auto start = static_cast<std::size_t>(position);
    found = start <= text.size() && text.size() - start >= search.size() &&
            text.substr(start, search.size()) == search;
  }

  // The iterator keeps a pointer to the text, which the caller is about to
  // free; leave it pointing at nothing instead.
  static constexpr char16_t kNothing[] = u"";
  status = U_ZERO_ERROR;
  ubrk_setText(iterator, kNothing, 0, &status);
  return found;
}

}  // namespace

extern "C" int FWOpenSession(const char16_t* searchText, FWSession** out) {
  if (searchText == nullptr || out == nullptr) return TBMWBR_FAILURE;
  try {
    SessionOwner session(static_cast<FWSession*>(std::calloc(1, sizeof(FWSession))));
    if (!session) return TBMWBR_FAILURE;
    session->locale = SessionLocale();
    if (!CreateIterator(*session)) return TBMWBR_FAILURE;

    const std::optional<std::u16string> upper = UpperCase(searchText, session->locale);
    if (!upper || upper->size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
      return TBMWBR_FAILURE;
    }
    session->upperSearch = CopyForSession(*upper);
    if (session->upperSearch == nullptr) return TBMWBR_FAILURE;
    session->searchLength = static_cast<int32_t>(upper->size());

    *out = session.release();
    return TBMWBR_SUCCESS;
  } catch (...) {
    return TBMWBR_FAILURE;
  }
}

extern "C" int FWFindWord(FWSession* session, const char16_t* text) {
  if (session == nullptr || session->iterator == nullptr || session->upperSearch == nullptr ||
      session->searchLength < 0 || text == nullptr) {
    return TBMWBR_FAILURE;
  }
  try {
    const std::optional<std::u16string> upper = UpperCase(text, session->locale);
    if (!upper) return TBMWBR_FAILURE;
    const std::u16string_view search(session->upperSearch,
                                     static_cast<std::size_t>(session->searchLength));
    const std::optional<bool> found = StartsAWord(session->iterator, search, *upper);
    if (!found) return TBMWBR_FAILURE;
    return *found ? TBMWBR_SUCCESS : FW_WORD_NOT_FOUND;
  } catch (...) {
    return TBMWBR_FAILURE;
  }
}

extern "C" int FWCloseSession(FWSession* session) {
  if (session == nullptr) return TBMWBR_FAILURE;
  DestroySession(session);
  return TBMWBR_SUCCESS;
}
