// Writing an exchange file. Each piece (header with descriptors, value-list
// block, record) is built whole in memory and handed to the sink in one
// Write, so a caller's mistake found while building leaves nothing written.
#include <algorithm>
#include <limits>
#include <string>

#include "ExchangeFile.h"
#include "ExchangeLayout.h"

namespace tbm::sync {

namespace {

using namespace layout;

Status Misuse(std::string message) {
  return Status(StatusCode::kInvalidArgument, std::move(message));
}

// Cuts `text` to fit a slot of `slotBytes` at a character boundary and
// writes it as a counted string; the slot's other bytes are already zero.
void PutCountedString(AnsiCodePage& codePage, std::uint8_t* slot, std::size_t slotBytes,
                      const std::string& text) {
  const std::size_t length = codePage.FittingLength(text, slotBytes - 1);
  slot[0] = static_cast<std::uint8_t>(length);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length), slot + 1);
}

// Appends one value text: its length, the bytes, the zero, the padding.
void AppendText(std::vector<std::uint8_t>* out, const std::string& text) {
  const std::size_t start = out->size();
  out->resize(start + kTextLengthBytes + text.size() + TextTailBytes(text.size()), 0);
  PutI32(out->data() + start, static_cast<std::int32_t>(text.size()));
  std::copy(text.begin(), text.end(),
            out->begin() + static_cast<std::ptrdiff_t>(start + kTextLengthBytes));
}

}  // namespace

ExchangeWriter::ExchangeWriter(ByteSink& sink, AnsiCodePage& codePage)
    : sink_(sink), codePage_(codePage) {}

Status ExchangeWriter::Fail(Status status) {
  phase_ = Phase::kFailed;
  failure_ = status;
  return status;
}

Status ExchangeWriter::Put(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t put = sink_.Write(bytes.data() + done, bytes.size() - done);
    if (put == 0) break;
    done += put;
  }
  if (done == bytes.size()) return Status();
  std::string message = "the exchange file could not be written";
  const std::string reason = sink_.FailureReason();
  if (!reason.empty()) message += ": " + reason;
  return Fail(Status(StatusCode::kWriteFailed, message));
}

Status ExchangeWriter::WriteLayout(const ExchangeLayout& layout) {
  if (phase_ == Phase::kFailed) return failure_;
  if (phase_ != Phase::kLayout) return Misuse("the layout has already been written");
  const ExchangeHeader& h = layout.header;
  if (h.fieldCount < 0 || h.fieldCount > kMaxExchangeFields ||
      static_cast<std::size_t>(h.fieldCount) != layout.fields.size()) {
    return Misuse("the header's field count " + std::to_string(h.fieldCount) +
                  " must equal the number of field descriptors (" +
                  std::to_string(layout.fields.size()) + ") and be at most " +
                  std::to_string(kMaxExchangeFields));
  }
  if (h.recordCount < 0) {
    return Misuse("the record count " + std::to_string(h.recordCount) + " is negative");
  }
  if (layout.valueListCount < 0 || layout.valueListCount > kMaxExchangeValueLists) {
    return Misuse("the value-list count " + std::to_string(layout.valueListCount) +
                  " must be 0 to " + std::to_string(kMaxExchangeValueLists));
  }
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const FieldDescriptor& field = layout.fields[i];
    const std::string where = "field " + std::to_string(i + 1);
    if (field.key.size() > kMaxFieldKeyBytes) {
      return Misuse(where + ": the key of " + std::to_string(field.key.size()) +
                    " bytes does not fit its slot of " + std::to_string(kMaxFieldKeyBytes));
    }
    if (field.valueListIndex < -1 || field.valueListIndex >= layout.valueListCount) {
      return Misuse(where + ": the value-list index " + std::to_string(field.valueListIndex) +
                    " names none of the " + std::to_string(layout.valueListCount) + " value lists");
    }
  }

  std::vector<std::uint8_t> bytes(
      kHeaderBytes + kValueListCountBytes + kDescriptorBytes * layout.fields.size(), 0);
  std::uint8_t* head = bytes.data();
  PutCountedString(codePage_, head + kNameOffset, kNameSlot, h.name);
  PutI32(head + kFieldCountOffset, h.fieldCount);
  PutI32(head + kRecordCountOffset, h.recordCount);
  PutI32(head + kFullRecordCountOffset, h.fullRecordCount.value_or(h.recordCount));
  PutU16(head + kDateSeparatorOffset, h.dateSeparator);
  head[kDateOrderOffset] = FilterDateOrder(h.dateOrder);
  head[kTwoDigitMonthOffset] = h.twoDigitMonth ? 1 : 0;
  head[kTwoDigitDayOffset] = h.twoDigitDay ? 1 : 0;
  head[kPreferTypedOffset] = h.preferTypedSeparator ? 1 : 0;
  PutU16(head + kTimeSeparatorOffset, h.timeSeparator);
  PutCountedString(codePage_, head + kMorningOffset, kMorningSlot, h.morningSuffix);
  PutCountedString(codePage_, head + kAfternoonOffset, kAfternoonSlot, h.afternoonSuffix);
  PutCountedString(codePage_, head + kTwentyFourOffset, kTwentyFourSlot, h.twentyFourSuffix);
  head[kLeadingZeroOffset] = h.leadingZero ? 1 : 0;
  head[kTwelveHourOffset] = h.twelveHourClock ? 1 : 0;

  PutI16(head + kHeaderBytes, layout.valueListCount);

  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const FieldDescriptor& field = layout.fields[i];
    std::uint8_t* d = head + kHeaderBytes + kValueListCountBytes + i * kDescriptorBytes;
    PutI16(d + kTypeOffset, FilterFieldType(field.type));
    PutCountedString(codePage_, d + kFieldNameOffset, kFieldNameSlot, field.name);
    PutCountedString(codePage_, d + kKeyOffset, kKeySlot, field.key);
    PutI16(d + kOptionWord1Offset, field.optionWord1);
    PutI16(d + kOptionWord2Offset, field.optionWord2);
    PutI16(d + kValueListIndexOffset, field.valueListIndex);
  }

  Status status = Put(bytes);
  if (!status.ok()) return status;
  fieldCount_ = layout.fields.size();
  valueListCount_ = static_cast<std::size_t>(layout.valueListCount);
  recordsLeft_ = h.recordCount;
  phase_ = valueListCount_ > 0 ? Phase::kValueLists : Phase::kRecords;
  return status;
}

Status ExchangeWriter::WriteValueLists(std::span<const std::string> lists) {
  if (phase_ == Phase::kFailed) return failure_;
  if (phase_ != Phase::kValueLists) {
    return Misuse("a value-list block belongs right after a layout with value lists");
  }
  if (lists.size() != valueListCount_) {
    return Misuse("the layout announced " + std::to_string(valueListCount_) + " value lists, but " +
                  std::to_string(lists.size()) + " were given");
  }
  std::vector<std::uint8_t> bytes(kRecordHeaderBytes, 0);
  for (std::size_t i = 0; i < lists.size(); ++i) {
    if (lists[i].size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      return Misuse("value list " + std::to_string(i + 1) + " is too long for an exchange file");
    }
    AppendText(&bytes, lists[i]);
  }
  Status status = Put(bytes);
  if (status.ok()) phase_ = Phase::kRecords;
  return status;
}

Status ExchangeWriter::WriteRecord(const RecordHeader& header,
                                   std::span<const std::string> values) {
  if (phase_ == Phase::kFailed) return failure_;
  if (phase_ != Phase::kRecords) {
    return Misuse(phase_ == Phase::kValueLists ? "the value lists must be written before records"
                                               : "records belong after the layout");
  }
  if (recordsLeft_ == 0) {
    return Misuse("the header announced no more records than were already written");
  }
  if (!header.noValues && values.size() != fieldCount_) {
    return Misuse("a record needs " + std::to_string(fieldCount_) + " values, not " +
                  std::to_string(values.size()));
  }

  std::vector<std::uint8_t> bytes(kRecordHeaderBytes, 0);
  PutI16(bytes.data() + kChangeCodeOffset, header.changeCode);
  bytes[kIdentityTailOffset] = header.identity[kIdentityHeadSlot];
  bytes[kIdentityTailOffset + 1] = header.identity[kIdentityHeadSlot + 1];
  bytes[kFlagsOffset] = header.noValues ? kNoValuesFlag : 0;
  // Identity bytes 0 to 7 as a counted string: a length byte above 7 would
  // run past the slot, so at most 7 bytes travel and the length says so.
  const std::size_t length = std::min<std::size_t>(header.identity[0], kMaxIdentityStringBytes);
  bytes[kIdentityHeadOffset] = static_cast<std::uint8_t>(length);
  for (std::size_t i = 1; i <= length; ++i) bytes[kIdentityHeadOffset + i] = header.identity[i];

  if (!header.noValues) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (values[i].size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return Misuse("field " + std::to_string(i + 1) + " is too long for an exchange file");
      }
      AppendText(&bytes, values[i]);
    }
  }
  Status status = Put(bytes);
  if (status.ok()) --recordsLeft_;
  return status;
}

Status ExchangeWriter::Finish() {
  if (phase_ == Phase::kFailed) return failure_;
  if (phase_ == Phase::kFinished) return Misuse("the exchange file is already finished");
  if (phase_ != Phase::kRecords || recordsLeft_ != 0) {
    return Misuse(phase_ == Phase::kRecords
                      ? "the header announced " + std::to_string(recordsLeft_) +
                            " more records than were written"
                      : "the exchange file is not complete: its layout or value lists are missing");
  }
  if (!sink_.Flush()) {
    std::string message = "the exchange file could not be written";
    const std::string reason = sink_.FailureReason();
    if (!reason.empty()) message += ": " + reason;
    return Fail(Status(StatusCode::kWriteFailed, message));
  }
  phase_ = Phase::kFinished;
  return Status();
}

}  // namespace tbm::sync
