// Reading an exchange file. Every count and length comes from outside and is
// checked against the layout's limits and the caller's before anything is
// read or allocated for it; the reader takes from the source exactly the
// bytes the layout says, so it never consumes what follows the file.
#include <array>
#include <string>
#include <tuple>

#include "ExchangeFile.h"
#include "ExchangeLayout.h"

namespace tbm::sync {

namespace {

using namespace layout;

std::string RecordPlace(std::int32_t record) { return "record " + std::to_string(record); }

// The counted string in a slot, or a failure when its length byte says more
// than the slot holds.
Status TakeCountedString(const std::uint8_t* slot, std::size_t slotBytes, const std::string& what,
                         std::string* out) {
  const std::size_t length = slot[0];
  if (length > slotBytes - 1) {
    return Status(StatusCode::kBadCountedString,
                  what + ": the length byte says " + std::to_string(length) +
                      " bytes, but the slot holds at most " + std::to_string(slotBytes - 1));
  }
  out->assign(reinterpret_cast<const char*>(slot + 1), length);
  return Status();
}

}  // namespace

ExchangeReader::ExchangeReader(ByteSource& source, ExchangeReadLimits limits)
    : source_(source), limits_(limits) {}

Status ExchangeReader::Fail(Status status) {
  phase_ = Phase::kFailed;
  failure_ = status;
  return status;
}

// Reads exactly `bytes` bytes, asking the source again after a partial
// answer; a source that runs dry first makes a kTruncated failure that says
// where ("record 4") and inside what ("its header").
Status ExchangeReader::ReadExact(void* buffer, std::size_t bytes, const std::string& where,
                                 const char* what) {
  const Status status = ReadExactly(source_, buffer, bytes, "exchange file", what);
  return where.empty() ? status : status.WithContext(where);
}

Status ExchangeReader::ReadLayout(ExchangeLayout* layout) {
  if (phase_ == Phase::kFailed) return failure_;
  if (phase_ != Phase::kLayout) {
    return Status(StatusCode::kInvalidArgument, "the layout has already been read");
  }
  *layout = ExchangeLayout();

  std::array<std::uint8_t, kHeaderBytes> head;
  Status status = ReadExact(head.data(), head.size(), "", "its header");
  if (!status.ok()) return Fail(status);

  ExchangeHeader& h = layout->header;
  status = TakeCountedString(&head[kNameOffset], kNameSlot, "the database name", &h.name);
  if (!status.ok()) return Fail(status);
  h.fieldCount = GetI32(&head[kFieldCountOffset]);
  if (h.fieldCount < 0 || h.fieldCount > kMaxExchangeFields) {
    return Fail(Status(StatusCode::kBadCount, "the exchange header gives a field count of " +
                                                  std::to_string(h.fieldCount) +
                                                  "; it must be 0 to " +
                                                  std::to_string(kMaxExchangeFields)));
  }
  h.recordCount = GetI32(&head[kRecordCountOffset]);
  if (h.recordCount < 0) {
    return Fail(
        Status(StatusCode::kBadCount, "the exchange header gives a negative record count (" +
                                          std::to_string(h.recordCount) + ")"));
  }
  h.fullRecordCount = GetI32(&head[kFullRecordCountOffset]);
  h.dateSeparator = GetU16(&head[kDateSeparatorOffset]);
  h.dateOrder = FilterDateOrder(head[kDateOrderOffset]);
  h.twoDigitMonth = head[kTwoDigitMonthOffset] != 0;
  h.twoDigitDay = head[kTwoDigitDayOffset] != 0;
  h.preferTypedSeparator = head[kPreferTypedOffset] != 0;
  h.timeSeparator = GetU16(&head[kTimeSeparatorOffset]);
  for (const auto& [offset, slot, what, target] :
       {std::tuple{kMorningOffset, kMorningSlot, "the morning suffix", &h.morningSuffix},
        std::tuple{kAfternoonOffset, kAfternoonSlot, "the afternoon suffix", &h.afternoonSuffix},
        std::tuple{kTwentyFourOffset, kTwentyFourSlot, "the 24-hour suffix",
                   &h.twentyFourSuffix}}) {
    status = TakeCountedString(&head[offset], slot, what, target);
    if (!status.ok()) return Fail(status);
  }
  h.leadingZero = head[kLeadingZeroOffset] != 0;
  h.twelveHourClock = head[kTwelveHourOffset] != 0;

  std::array<std::uint8_t, kValueListCountBytes> countBytes;
  status = ReadExact(countBytes.data(), countBytes.size(), "", "the value-list count");
  if (!status.ok()) return Fail(status);
  layout->valueListCount = GetI16(countBytes.data());
  if (layout->valueListCount < 0 || layout->valueListCount > kMaxExchangeValueLists) {
    return Fail(Status(StatusCode::kBadCount,
                       "the value-list count is " + std::to_string(layout->valueListCount) +
                           "; it must be 0 to " + std::to_string(kMaxExchangeValueLists)));
  }

  layout->fields.resize(static_cast<std::size_t>(h.fieldCount));
  for (std::int32_t i = 0; i < h.fieldCount; ++i) {
    const std::string where = "field " + std::to_string(i + 1);
    std::array<std::uint8_t, kDescriptorBytes> d;
    status = ReadExact(d.data(), d.size(), where, "its descriptor");
    if (!status.ok()) return Fail(status);
    FieldDescriptor& field = layout->fields[static_cast<std::size_t>(i)];
    field.type = FilterFieldType(GetI16(&d[kTypeOffset]));
    status =
        TakeCountedString(&d[kFieldNameOffset], kFieldNameSlot, where + ", the name", &field.name);
    if (!status.ok()) return Fail(status);
    status = TakeCountedString(&d[kKeyOffset], kKeySlot, where + ", the key", &field.key);
    if (!status.ok()) return Fail(status);
    field.optionWord1 = GetI16(&d[kOptionWord1Offset]);
    field.optionWord2 = GetI16(&d[kOptionWord2Offset]);
    field.valueListIndex = GetI16(&d[kValueListIndexOffset]);
    if (field.valueListIndex < -1 || field.valueListIndex >= layout->valueListCount) {
      return Fail(Status(StatusCode::kCorrupt,
                         where + ": the value-list index " + std::to_string(field.valueListIndex) +
                             " names none of the " + std::to_string(layout->valueListCount) +
                             " value lists"));
    }
  }

  fieldCount_ = h.fieldCount;
  valueListCount_ = layout->valueListCount;
  recordsLeft_ = h.recordCount;
  phase_ = valueListCount_ > 0 ? Phase::kValueLists : Phase::kRecords;
  return Status();
}

Status ExchangeReader::ReadRecordHeader(RecordHeader* header, const std::string& where) {
  std::array<std::uint8_t, kRecordHeaderBytes> r;
  Status status = ReadExact(r.data(), r.size(), where, "its record header");
  if (!status.ok()) return status;
  *header = RecordHeader();
  header->changeCode = GetI16(&r[kChangeCodeOffset]);
  header->noValues = (r[kFlagsOffset] & kNoValuesFlag) != 0;
  const std::size_t length = r[kIdentityHeadOffset];
  if (length > kMaxIdentityStringBytes) {
    return Status(StatusCode::kBadCountedString,
                  where + ": the record identity's length byte says " + std::to_string(length) +
                      " bytes, but at most " + std::to_string(kMaxIdentityStringBytes) +
                      " are allowed");
  }
  for (std::size_t i = 0; i <= length; ++i) header->identity[i] = r[kIdentityHeadOffset + i];
  header->identity[kIdentityHeadSlot] = r[kIdentityTailOffset];
  header->identity[kIdentityHeadSlot + 1] = r[kIdentityTailOffset + 1];
  return Status();
}

// One value text: its length, checked against `limit` before anything is
// allocated, then the bytes, the terminating zero and the padding byte.
Status ExchangeReader::ReadText(std::int32_t limit, const std::string& where,
                                const char* limitWords, std::string* text) {
  std::array<std::uint8_t, kTextLengthBytes> lengthBytes;
  Status status =
      ReadExact(lengthBytes.data(), lengthBytes.size(), where, "the length of its text");
  if (!status.ok()) return status;
  const std::int32_t length = GetI32(lengthBytes.data());
  if (length < 0) {
    return Status(StatusCode::kBadLength,
                  where + ": the text length " + std::to_string(length) + " is negative");
  }
  if (length > limit) {
    return Status(StatusCode::kBadLength, where + ": the text length " + std::to_string(length) +
                                              " is larger than " + limitWords + " (at most " +
                                              std::to_string(limit) + " bytes)");
  }
  const std::size_t textBytes = static_cast<std::size_t>(length);
  const std::size_t total = textBytes + TextTailBytes(textBytes);
  std::string bytes(total, '\0');
  status = ReadExact(bytes.data(), total, where, "its text");
  if (!status.ok()) return status;
  if (bytes[textBytes] != '\0') {
    return Status(StatusCode::kCorrupt, where + ": the text of " + std::to_string(length) +
                                            " bytes is not followed by its terminating zero");
  }
  bytes.resize(textBytes);
  *text = std::move(bytes);
  return Status();
}

Status ExchangeReader::ReadValueLists(std::vector<std::string>* lists) {
  if (phase_ == Phase::kFailed) return failure_;
  lists->clear();
  if (phase_ != Phase::kValueLists) {
    return Status(StatusCode::kInvalidArgument, "there is no value-list block to read here");
  }
  RecordHeader header;
  Status status = ReadRecordHeader(&header, "the value lists");
  if (!status.ok()) return Fail(status);
  if (!header.noValues) {
    lists->resize(static_cast<std::size_t>(valueListCount_));
    for (std::int16_t i = 0; i < valueListCount_; ++i) {
      status = ReadText(limits_.maxValueListTextBytes, "value list " + std::to_string(i + 1),
                        "a value list may be", &(*lists)[static_cast<std::size_t>(i)]);
      if (!status.ok()) {
        lists->clear();
        return Fail(status);
      }
    }
  }
  phase_ = Phase::kRecords;
  return Status();
}

Status ExchangeReader::ReadRecord(ExchangeRecord* record) {
  if (phase_ == Phase::kFailed) return failure_;
  record->header = RecordHeader();
  record->values.clear();
  if (phase_ != Phase::kRecords) {
    return Status(StatusCode::kInvalidArgument,
                  phase_ == Phase::kLayout ? "the layout must be read before the records"
                                           : "the value lists must be read before the records");
  }
  if (recordsLeft_ == 0) {
    return Status(StatusCode::kInvalidArgument,
                  "all " + std::to_string(recordsRead_) + " records have been read");
  }
  const std::int32_t number = recordsRead_ + 1;
  // One place text, its field number changed in place: a record is read
  // field by field, and the words are needed only for a failure.
  std::string place = RecordPlace(number);
  Status status = ReadRecordHeader(&record->header, place);
  if (!status.ok()) return Fail(status);
  if (!record->header.noValues) {
    record->values.resize(static_cast<std::size_t>(fieldCount_));
    place += ", field ";
    const std::size_t fieldAt = place.size();
    for (std::int32_t field = 0; field < fieldCount_; ++field) {
      place.resize(fieldAt);
      place += std::to_string(field + 1);
      status = ReadText(limits_.maxFieldTextBytes, place, "the field allows",
                        &record->values[static_cast<std::size_t>(field)]);
      if (!status.ok()) {
        record->values.clear();
        return Fail(status);
      }
    }
  }
  ++recordsRead_;
  --recordsLeft_;
  return Status();
}

}  // namespace tbm::sync
