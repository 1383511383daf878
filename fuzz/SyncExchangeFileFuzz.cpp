// Whole exchange files as a damaged desktop copy or a broken stream could
// deliver them. The reader must accept or refuse them cleanly; every text it
// accepts is converted in a Western and an East Asian code page; and
// whatever it accepts, written again by the writer and read back, must come
// out the same.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "ExchangeFile.h"

namespace {

using namespace tbm::sync;

std::unique_ptr<AnsiCodePage> OpenOrDie(const char* name) {
  std::unique_ptr<AnsiCodePage> page;
  if (!AnsiCodePage::Open(name, &page).ok()) std::abort();
  return page;
}

// Everything one reading of a file gave.
struct Reading {
  ExchangeLayout layout;
  std::vector<std::string> lists;
  std::vector<ExchangeRecord> records;
  bool complete = false;
};

bool SameHeader(const ExchangeHeader& a, const ExchangeHeader& b) {
  return a.name == b.name && a.fieldCount == b.fieldCount && a.recordCount == b.recordCount &&
         a.fullRecordCount == b.fullRecordCount && a.dateSeparator == b.dateSeparator &&
         a.dateOrder == b.dateOrder && a.twoDigitMonth == b.twoDigitMonth &&
         a.twoDigitDay == b.twoDigitDay && a.preferTypedSeparator == b.preferTypedSeparator &&
         a.timeSeparator == b.timeSeparator && a.morningSuffix == b.morningSuffix &&
         a.afternoonSuffix == b.afternoonSuffix && a.twentyFourSuffix == b.twentyFourSuffix &&
         a.leadingZero == b.leadingZero && a.twelveHourClock == b.twelveHourClock;
}

bool SameField(const FieldDescriptor& a, const FieldDescriptor& b) {
  return a.type == b.type && a.name == b.name && a.key == b.key && a.optionWord1 == b.optionWord1 &&
         a.optionWord2 == b.optionWord2 && a.valueListIndex == b.valueListIndex;
}

bool SameRecord(const ExchangeRecord& a, const ExchangeRecord& b) {
  return a.header.changeCode == b.header.changeCode && a.header.identity == b.header.identity &&
         a.header.noValues == b.header.noValues && a.values == b.values;
}

Reading Read(ByteSource& source) {
  Reading reading;
  ExchangeReader reader(source, ExchangeReadLimits{4096, 8192});
  if (!reader.ReadLayout(&reading.layout).ok()) return reading;
  if (reading.layout.valueListCount > 0 && !reader.ReadValueLists(&reading.lists).ok()) {
    return reading;
  }
  while (reader.recordsLeft() > 0) {
    ExchangeRecord record;
    if (!reader.ReadRecord(&record).ok()) return reading;
    reading.records.push_back(std::move(record));
  }
  reading.complete = true;
  return reading;
}

void Convert(AnsiCodePage& page, const Reading& reading) {
  std::u16string text;
  std::string back;
  const ExchangeHeader& h = reading.layout.header;
  for (const std::string* bytes :
       {&h.name, &h.morningSuffix, &h.afternoonSuffix, &h.twentyFourSuffix}) {
    (void)page.ToUtf16(*bytes, &text);
    (void)page.FittingLength(*bytes, 5);
  }
  for (const FieldDescriptor& field : reading.layout.fields) (void)page.ToUtf16(field.name, &text);
  for (const std::string& list : reading.lists) {
    if (page.FromExchangeText(list, &text).ok()) (void)page.ToExchangeText(text, &back);
  }
  for (const ExchangeRecord& record : reading.records) {
    for (const std::string& value : record.values) {
      if (page.FromExchangeText(value, &text).ok()) (void)page.ToExchangeText(text, &back);
    }
  }
}

// Writes what was read and reads it again; any difference is a fault.
void Rewrite(AnsiCodePage& page, const Reading& reading) {
  // A value-list block without texts has no form the writer produces.
  if (reading.layout.valueListCount > 0 && reading.lists.empty()) return;
  MemoryByteSink sink;
  ExchangeWriter writer(sink, page);
  if (!writer.WriteLayout(reading.layout).ok()) std::abort();
  if (reading.layout.valueListCount > 0 && !writer.WriteValueLists(reading.lists).ok()) {
    std::abort();
  }
  for (const ExchangeRecord& record : reading.records) {
    if (!writer.WriteRecord(record.header, record.values).ok()) std::abort();
  }
  if (!writer.Finish().ok()) std::abort();

  MemoryByteSource source(sink.bytes());
  const Reading again = Read(source);
  if (!again.complete || source.remaining() != 0) std::abort();
  if (!SameHeader(reading.layout.header, again.layout.header)) std::abort();
  if (reading.layout.valueListCount != again.layout.valueListCount) std::abort();
  if (reading.layout.fields.size() != again.layout.fields.size()) std::abort();
  for (std::size_t i = 0; i < reading.layout.fields.size(); ++i) {
    if (!SameField(reading.layout.fields[i], again.layout.fields[i])) std::abort();
  }
  if (reading.lists != again.lists || reading.records.size() != again.records.size()) std::abort();
  for (std::size_t i = 0; i < reading.records.size(); ++i) {
    if (!SameRecord(reading.records[i], again.records[i])) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::unique_ptr<AnsiCodePage> western = OpenOrDie("windows-1252");
  static const std::unique_ptr<AnsiCodePage> japanese = OpenOrDie("932");
  MemoryByteSource source(data, size);
  const Reading reading = Read(source);
  Convert(*western, reading);
  Convert(*japanese, reading);
  if (reading.complete) Rewrite(*japanese, reading);
  return 0;
}
