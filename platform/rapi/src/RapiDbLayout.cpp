// The values the database-volume calls carry: property values and database
// descriptions, written and read in one place for both sides.
#include <algorithm>
#include <cstring>

#include "RapiDb.h"

namespace tbm::rapi {
namespace {

constexpr std::size_t kAlign = alignof(CEPROPVAL);

std::size_t AlignUp(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

// A missing property (read) or one to remove (write) carries no value.
bool HasValue(WORD flags) { return (flags & (CEDB_PROPNOTFOUND | CEDB_PROPDELETE)) == 0; }

std::string PropertyName(CEPROPID id) {
  return "property " + std::to_string(IndexFromPropId(id)) + " (type " +
         std::to_string(TypeFromPropId(id)) + ")";
}

// The bytes value's data takes in a read buffer (strings with their
// terminator), as the handheld's store counts them.
std::size_t DataBytes(const PropertyValue& value) {
  if (!HasValue(value.flags)) return 0;
  switch (TypeFromPropId(value.id)) {
    case CEVT_LPWSTR:
      return AlignUp((value.text.size() + 1) * 2);
    case CEVT_BLOB:
      return AlignUp(value.bytes.size());
    default:
      return 0;
  }
}

}  // namespace

Status WritePropertyValues(PayloadWriter& writer, const CEPROPVAL* values, WORD count) {
  if (count > 0 && values == nullptr) {
    return Status(StatusCode::kCorrupt, "property values were announced and none were given");
  }
  // Checked first, so nothing is written for a value that cannot travel.
  for (WORD i = 0; i < count; ++i) {
    const CEPROPVAL& v = values[i];
    if (!HasValue(v.wFlags)) continue;
    switch (TypeFromPropId(v.propid)) {
      case CEVT_UI2:
      case CEVT_I4:
      case CEVT_UI4:
      case CEVT_BOOL:
        break;
      case CEVT_LPWSTR: {
        if (v.val.lpwstr == nullptr) {
          return Status(StatusCode::kCorrupt, PropertyName(v.propid) + " has no string");
        }
        const std::size_t units = std::char_traits<char16_t>::length(v.val.lpwstr);
        if ((units + 1) * 2 > CEDB_MAXPROPDATASIZE) {
          return Status(StatusCode::kBadLength, PropertyName(v.propid) + " is a string of " +
                                                    std::to_string(units) +
                                                    " characters, more than a property holds");
        }
        break;
      }
      case CEVT_BLOB:
        if (v.val.blob.dwCount > CEDB_MAXPROPDATASIZE) {
          return Status(StatusCode::kBadLength, PropertyName(v.propid) + " is a byte block of " +
                                                    std::to_string(v.val.blob.dwCount) +
                                                    " bytes, more than a property holds");
        }
        if (v.val.blob.dwCount > 0 && v.val.blob.lpb == nullptr) {
          return Status(StatusCode::kCorrupt, PropertyName(v.propid) + " has no bytes");
        }
        break;
      default:
        return Status(StatusCode::kCorrupt, PropertyName(v.propid) + " has an unknown type");
    }
  }
  for (WORD i = 0; i < count; ++i) {
    const CEPROPVAL& v = values[i];
    writer.U32(v.propid).U16(v.wFlags);
    if (!HasValue(v.wFlags)) continue;
    switch (TypeFromPropId(v.propid)) {
      case CEVT_UI2:
        writer.U16(v.val.uiVal);
        break;
      case CEVT_I4:
        writer.I32(v.val.lVal);
        break;
      case CEVT_UI4:
        writer.U32(v.val.ulVal);
        break;
      case CEVT_BOOL:
        writer.I32(v.val.boolVal);
        break;
      case CEVT_LPWSTR:
        writer.String(v.val.lpwstr);
        break;
      case CEVT_BLOB:
        writer.Bytes(std::span<const std::uint8_t>(v.val.blob.lpb, v.val.blob.dwCount));
        break;
    }
  }
  return Status();
}

Status ReadPropertyValues(PayloadReader& reader, WORD count, std::vector<PropertyValue>* values) {
  // The count comes from the peer: values are made as they arrive, so a
  // large count with few bytes behind it costs nothing.
  std::vector<PropertyValue> read;
  read.reserve(std::min<std::size_t>(count, 64));
  for (WORD made = 0; made < count; ++made) {
    PropertyValue& value = read.emplace_back();
    if (!reader.U32(&value.id) || !reader.U16(&value.flags)) return reader.status();
    if (!HasValue(value.flags)) continue;
    std::uint16_t small = 0;
    bool ok = false;
    switch (TypeFromPropId(value.id)) {
      case CEVT_UI2:
        ok = reader.U16(&small);
        value.number = small;
        break;
      case CEVT_I4:
      case CEVT_UI4:
      case CEVT_BOOL:
        ok = reader.U32(&value.number);
        break;
      case CEVT_LPWSTR:
        // The terminator counts against the property's limit.
        ok = reader.String(&value.text, CEDB_MAXPROPDATASIZE / 2 - 1);
        break;
      case CEVT_BLOB:
        ok = reader.Bytes(&value.bytes, CEDB_MAXPROPDATASIZE);
        break;
      default:
        return Status(StatusCode::kCorrupt, PropertyName(value.id) + " has an unknown type");
    }
    if (!ok) return reader.status();
  }
  *values = std::move(read);
  return Status();
}

std::vector<CEPROPVAL> AsPropVals(std::vector<PropertyValue>& values) {
  std::vector<CEPROPVAL> props(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    PropertyValue& value = values[i];
    CEPROPVAL& v = props[i];
    v.propid = value.id;
    v.wFlags = value.flags;
    switch (TypeFromPropId(value.id)) {
      case CEVT_UI2:
        v.val.uiVal = static_cast<USHORT>(value.number);
        break;
      case CEVT_I4:
        v.val.lVal = static_cast<LONG>(value.number);
        break;
      case CEVT_UI4:
        v.val.ulVal = value.number;
        break;
      case CEVT_BOOL:
        v.val.boolVal = static_cast<BOOL>(value.number);
        break;
      case CEVT_LPWSTR:
        v.val.lpwstr = value.text.data();  // std::u16string keeps a terminator
        break;
      case CEVT_BLOB:
        v.val.blob.dwCount = static_cast<DWORD>(value.bytes.size());
        v.val.blob.lpb = value.bytes.data();
        break;
    }
  }
  return props;
}

void WriteDatabaseInfo(PayloadWriter& writer, const CEDBASEINFO& info) {
  std::size_t units = 0;
  while (units < CEDB_MAXDBASENAMELEN - 1 && info.szDbaseName[units] != 0) ++units;
  writer.U32(info.dwFlags)
      .String(std::u16string_view(info.szDbaseName, units))
      .U32(info.dwDbaseType)
      .U32(info.dwNumRecords);
  const WORD sorts = std::min<WORD>(info.wNumSortOrder, CEDB_MAXSORTORDER + 1);
  writer.U16(sorts);
  for (WORD i = 0; i < sorts && i < CEDB_MAXSORTORDER; ++i) {
    writer.U32(info.rgSortSpecs[i].propid).U32(info.rgSortSpecs[i].dwFlags);
  }
  // More sort orders than a database has: sent as a count alone, so the
  // handheld refuses it as the store would.
  for (WORD i = CEDB_MAXSORTORDER; i < sorts; ++i) writer.U32(0).U32(0);
}

bool ReadDatabaseInfo(PayloadReader& reader, CEDBASEINFO* info) {
  CEDBASEINFO read{};
  std::u16string name;
  std::uint16_t sorts = 0;
  if (!reader.U32(&read.dwFlags) || !reader.String(&name, CEDB_MAXDBASENAMELEN - 1) ||
      !reader.U32(&read.dwDbaseType) || !reader.U32(&read.dwNumRecords) || !reader.U16(&sorts)) {
    return false;
  }
  std::copy(name.begin(), name.end(), read.szDbaseName);
  read.wNumSortOrder = sorts;
  for (std::uint16_t i = 0; i < sorts; ++i) {
    SORTORDERSPEC spec{};
    if (!reader.U32(&spec.propid) || !reader.U32(&spec.dwFlags)) return false;
    if (i < CEDB_MAXSORTORDER) read.rgSortSpecs[i] = spec;
  }
  *info = read;
  return true;
}

std::size_t ReadBufferBytes(const std::vector<PropertyValue>& values) {
  std::size_t needed = AlignUp(values.size() * sizeof(CEPROPVAL));
  for (const PropertyValue& value : values) needed += DataBytes(value);
  return needed == 0 ? sizeof(CEPROPVAL) : needed;  // a record without properties
}

void FillReadBuffer(const std::vector<PropertyValue>& values, BYTE* buffer) {
  auto* props = reinterpret_cast<CEPROPVAL*>(buffer);
  BYTE* data = buffer + AlignUp(values.size() * sizeof(CEPROPVAL));
  for (std::size_t i = 0; i < values.size(); ++i) {
    const PropertyValue& value = values[i];
    CEPROPVAL& v = props[i];
    std::memset(&v, 0, sizeof v);
    v.propid = value.id;
    v.wFlags = value.flags;
    if (!HasValue(value.flags)) continue;
    switch (TypeFromPropId(value.id)) {
      case CEVT_UI2:
        v.val.uiVal = static_cast<USHORT>(value.number);
        v.wLenData = 2;
        break;
      case CEVT_I4:
        v.val.lVal = static_cast<LONG>(value.number);
        v.wLenData = 4;
        break;
      case CEVT_UI4:
        v.val.ulVal = value.number;
        v.wLenData = 4;
        break;
      case CEVT_BOOL:
        v.val.boolVal = static_cast<BOOL>(value.number);
        v.wLenData = 4;
        break;
      case CEVT_LPWSTR:
        v.wLenData = static_cast<WORD>(value.text.size() * 2);
        v.val.lpwstr = reinterpret_cast<WCHAR*>(data);
        std::memcpy(data, value.text.c_str(), (value.text.size() + 1) * 2);
        data += DataBytes(value);
        break;
      case CEVT_BLOB:
        v.wLenData = static_cast<WORD>(value.bytes.size());
        v.val.blob.dwCount = static_cast<DWORD>(value.bytes.size());
        v.val.blob.lpb = data;
        if (!value.bytes.empty()) std::memcpy(data, value.bytes.data(), value.bytes.size());
        data += DataBytes(value);
        break;
    }
  }
}

}  // namespace tbm::rapi
