#include "RecordImage.h"

#include <cstring>

namespace tbm::store {
namespace {

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The exact value length a fixed-size type must have, or 0 for variable.
std::size_t FixedLength(WORD type) {
  switch (type) {
    case CEVT_UI2:
      return 2;
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_BOOL:
      return 4;
    default:
      return 0;
  }
}

}  // namespace

bool IsKnownType(WORD type) {
  switch (type) {
    case CEVT_UI2:
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_BOOL:
    case CEVT_LPWSTR:
    case CEVT_BLOB:
      return true;
    default:
      return false;
  }
}

std::uint32_t PropertyDataSize(CEPROPID id, std::size_t valueBytes) {
  return static_cast<std::uint32_t>(valueBytes + (TypeFromPropId(id) == CEVT_LPWSTR ? 2 : 0));
}

std::optional<std::vector<StoredProperty>> DecodeRecordImage(std::span<const std::uint8_t> image) {
  if (image.size() < 2) return std::nullopt;
  const std::size_t count = image[0] | (image[1] << 8);
  std::vector<StoredProperty> props;
  props.reserve(count);
  std::size_t at = 2;
  for (std::size_t i = 0; i < count; ++i) {
    if (image.size() - at < 8) return std::nullopt;
    const CEPROPID id = ReadU32(&image[at]);
    const std::uint32_t length = ReadU32(&image[at + 4]);
    at += 8;
    if (image.size() - at < length) return std::nullopt;
    const WORD type = TypeFromPropId(id);
    if (!IsKnownType(type)) return std::nullopt;
    const std::size_t fixed = FixedLength(type);
    if (fixed != 0 && length != fixed) return std::nullopt;
    if (type == CEVT_LPWSTR && length % 2 != 0) return std::nullopt;
    props.push_back({id, image.subspan(at, length)});
    at += length;
  }
  if (at != image.size()) return std::nullopt;
  return props;
}

bool AppendValueBytes(const CEPROPVAL& value, std::vector<std::uint8_t>& out) {
  const WORD type = TypeFromPropId(value.propid);
  switch (type) {
    case CEVT_UI2:
      out.push_back(static_cast<std::uint8_t>(value.val.uiVal));
      out.push_back(static_cast<std::uint8_t>(value.val.uiVal >> 8));
      return true;
    case CEVT_I4:
      AppendU32(out, static_cast<std::uint32_t>(value.val.lVal));
      return true;
    case CEVT_UI4:
      AppendU32(out, value.val.ulVal);
      return true;
    case CEVT_BOOL:
      AppendU32(out, static_cast<std::uint32_t>(value.val.boolVal));
      return true;
    case CEVT_LPWSTR: {
      const WCHAR* text = value.val.lpwstr;
      if (text == nullptr) return false;
      std::size_t n = 0;
      while (text[n] != 0) {
        if ((n + 2) * 2 > CEDB_MAXPROPDATASIZE) return false;
        ++n;
      }
      const std::size_t at = out.size();
      out.resize(at + n * 2);
      for (std::size_t i = 0; i < n; ++i) {
        out[at + 2 * i] = static_cast<std::uint8_t>(text[i]);
        out[at + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
      }
      return true;
    }
    case CEVT_BLOB: {
      const CEBLOB& blob = value.val.blob;
      if (blob.dwCount > CEDB_MAXPROPDATASIZE) return false;
      if (blob.dwCount > 0 && blob.lpb == nullptr) return false;
      out.insert(out.end(), blob.lpb, blob.lpb + blob.dwCount);
      return true;
    }
    default:
      return false;
  }
}

std::vector<std::uint8_t> EncodeRecordImage(std::span<const PropertyBytes> properties) {
  std::size_t total = 2;
  for (const auto& p : properties) total += 8 + p.value.size();
  std::vector<std::uint8_t> out;
  out.reserve(total);
  out.push_back(static_cast<std::uint8_t>(properties.size()));
  out.push_back(static_cast<std::uint8_t>(properties.size() >> 8));
  for (const auto& p : properties) {
    AppendU32(out, p.id);
    AppendU32(out, static_cast<std::uint32_t>(p.value.size()));
    out.insert(out.end(), p.value.begin(), p.value.end());
  }
  return out;
}

}  // namespace tbm::store
