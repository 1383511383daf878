#include "SortKey.h"

namespace tbm::store {
namespace {

constexpr std::uint8_t kUnknownFirst = 0x00;
constexpr std::uint8_t kPresent = 0x01;
constexpr std::uint8_t kUnknownLast = 0x02;

UCollator* OpenRootCollator(UColAttributeValue strength) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* c = ucol_open("", &status);
  if (U_FAILURE(status)) return nullptr;
  ucol_setStrength(c, strength);
  return c;
}

std::uint32_t LoadLittleEndian(std::span<const std::uint8_t> v) {
  std::uint32_t x = 0;
  for (std::size_t i = v.size(); i-- > 0;) x = (x << 8) | v[i];
  return x;
}

void AppendBigEndian(SortKey& key, std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) key.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

SortKeyMaker::SortKeyMaker()
    : caseBlind_(OpenRootCollator(UCOL_SECONDARY)), caseExact_(OpenRootCollator(UCOL_TERTIARY)) {}

SortKeyMaker::~SortKeyMaker() {
  if (caseBlind_) ucol_close(caseBlind_);
  if (caseExact_) ucol_close(caseExact_);
}

void SortKeyMaker::AppendTextKey(UCollator* collator, std::span<const std::uint8_t> utf16le,
                                 SortKey& key) {
  const std::size_t units = utf16le.size() / 2;
  text_.resize(units);
  for (std::size_t i = 0; i < units; ++i) {
    text_[i] = static_cast<char16_t>(utf16le[2 * i] | (utf16le[2 * i + 1] << 8));
  }
  const std::size_t at = key.size();
  key.resize(at + 64 + units * 4);
  int32_t needed = ucol_getSortKey(collator, text_.data(), static_cast<int32_t>(units),
                                   key.data() + at, static_cast<int32_t>(key.size() - at));
  if (static_cast<std::size_t>(needed) > key.size() - at) {
    key.resize(at + static_cast<std::size_t>(needed));
    needed = ucol_getSortKey(collator, text_.data(), static_cast<int32_t>(units), key.data() + at,
                             needed);
  }
  key.resize(at + static_cast<std::size_t>(needed));
}

SortKey SortKeyMaker::Make(const SORTORDERSPEC& spec,
                           std::optional<std::span<const std::uint8_t>> storedValue) {
  SortKey key;
  if (!storedValue) {
    key.push_back((spec.dwFlags & CEDB_SORT_UNKNOWNFIRST) ? kUnknownFirst : kUnknownLast);
    return key;
  }
  const auto v = *storedValue;
  key.reserve(v.size() * 2 + 8);
  key.push_back(kPresent);
  switch (TypeFromPropId(spec.propid)) {
    case CEVT_UI2:
      AppendBigEndian(key, LoadLittleEndian(v), 2);
      break;
    case CEVT_UI4:
      AppendBigEndian(key, LoadLittleEndian(v), 4);
      break;
    case CEVT_I4:
      AppendBigEndian(key, LoadLittleEndian(v) ^ 0x80000000u, 4);
      break;
    case CEVT_BOOL:
      key.push_back(LoadLittleEndian(v) != 0 ? 1 : 0);
      break;
    case CEVT_LPWSTR:
      AppendTextKey((spec.dwFlags & CEDB_SORT_CASEINSENSITIVE) ? caseBlind_ : caseExact_, v, key);
      break;
    case CEVT_BLOB:
      // 0x00 becomes 0x00 0x01 and the block ends with 0x00 0x00.
      for (std::uint8_t b : v) {
        key.push_back(b);
        if (b == 0) key.push_back(1);
      }
      key.push_back(0);
      key.push_back(0);
      break;
    default:
      break;
  }
  if (spec.dwFlags & CEDB_SORT_DESCENDING) {
    for (std::size_t i = 1; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(~key[i]);
  }
  return key;
}

}  // namespace tbm::store
