// CTBMDoc's access to fields, records, options, attributes, display orders
// and date and time texts: each one engine call (or a short fixed sequence)
// on the application's environment and the document's record set.
#include <QDate>
#include <QTime>
#include <algorithm>
#include <array>
#include <cstring>

#include "MDbBlocks.h"
#include "TBMApp.h"
#include "TBMDoc.h"

namespace tbm::app {

namespace {

constexpr std::uint32_t kDisplayPositions = 50;
constexpr std::uint8_t kListFlagsAttribute = 2;
constexpr std::uint8_t kFormFlagsAttribute = 3;
// Buffers the engine writes names and texts into, in characters.
constexpr std::uint32_t kNameChars = 260;
constexpr std::uint32_t kDateTimeChars = 256;

MDbEnv* Env() { return ProgramEngine(); }

std::uint32_t Bytes(std::size_t chars) { return static_cast<std::uint32_t>(chars * 2); }

// The attribute holding a view kind's flags, or 0 for another kind.
std::uint8_t FlagsAttribute(std::uint16_t viewKind) {
  if (viewKind == kListViewKind) return kListFlagsAttribute;
  if (viewKind == kFormViewKind) return kFormFlagsAttribute;
  return 0;
}

std::vector<std::u16string> SplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(u"\r\n", start);
    if (end == std::u16string_view::npos) {
      lines.emplace_back(text.substr(start));
      return lines;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 2;
  }
}

}  // namespace

std::uint16_t CTBMDoc::GetFieldCount() {
  std::uint16_t count = 0;
  return MDbRecsetGetFldCount(Env(), &recordSet_, &count) == MDbErrNone ? count : 0;
}

std::uint16_t CTBMDoc::GetRecordCount() {
  std::uint32_t count = 0;
  if (MDbRecsetGetRecCount(Env(), &recordSet_, &count) != MDbErrNone) return 0;
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(count, 0xFFFF));
}

std::int16_t CTBMDoc::GetRecordIndex() {
  std::uint16_t position = 0;
  if (MDbRecsetGetInx(Env(), &recordSet_, &position) != MDbErrNone) return -1;
  return static_cast<std::int16_t>(position);
}

void CTBMDoc::SetRecordIndex(std::int16_t index) { MDbRecsetSetInx(Env(), &recordSet_, index); }

std::uint8_t CTBMDoc::GetFieldType(std::int16_t field) {
  std::uint8_t type = 0;
  return MDbRecsetGetFldType(Env(), &recordSet_, field, &type) == MDbErrNone ? type : 0;
}

std::uint32_t CTBMDoc::GetFieldMaxSize(std::int16_t field) {
  std::uint32_t size = 0;
  return MDbRecsetGetFieldMaxSize(Env(), &recordSet_, field, &size) == MDbErrNone ? size : 0;
}

std::u16string CTBMDoc::GetFieldName(std::int16_t field) {
  std::uint32_t bytes = 0;
  if (MDbRecsetGetFldNameSize(Env(), &recordSet_, field, &bytes) != MDbErrNone || bytes == 0)
    return std::u16string();
  // Whole characters, with room for the terminator.
  std::vector<char16_t> name((bytes + 1) / 2 + 1, 0);
  if (MDbRecsetGetFldName(Env(), &recordSet_, field, name.data(), Bytes(name.size())) != MDbErrNone)
    return std::u16string();
  return std::u16string(name.data());
}

bool CTBMDoc::OpenRecord(std::int16_t record) {
  CloseRecord();
  if (record < 0 || record >= static_cast<std::int32_t>(GetRecordCount())) return false;
  MDbEnv* env = Env();
  std::uint16_t current = 0;
  if (MDbRecsetGetInx(env, &recordSet_, &current) != MDbErrNone) return false;
  const bool moved = static_cast<std::int16_t>(current) != record;
  if (moved) MDbRecsetSetInx(env, &recordSet_, record);
  const bool opened = MDbRecsetOpenRec(env, &recordSet_) == MDbErrNone;
  if (moved) MDbRecsetSetInx(env, &recordSet_, static_cast<std::int16_t>(current));
  if (opened) openRecord_ = record;
  return opened;
}

void CTBMDoc::CloseRecord() {
  if (openRecord_ < 0) return;
  openRecord_ = -1;
  MDbRecsetCloseRec(Env(), &recordSet_);
}

bool CTBMDoc::GetFieldPtr(std::int16_t field, const char16_t** text, std::uint32_t* length) {
  if (openRecord_ < 0) return false;
  const char16_t* value = nullptr;
  if (MDbRecsetGetFieldPtr(Env(), &recordSet_, field, &value) != MDbErrNone || value == nullptr)
    return false;
  *text = value;
  if (length != nullptr)
    *length = static_cast<std::uint32_t>(std::char_traits<char16_t>::length(value));
  return true;
}

bool CTBMDoc::OpenForAccess(std::int16_t record, bool* wasKept) {
  *wasKept = openRecord_ >= 0 && openRecord_ == record;
  if (*wasKept) return true;
  return OpenRecord(record);
}

std::optional<std::u16string> CTBMDoc::ReadField(std::int16_t record, std::int16_t field) {
  bool kept = false;
  if (!OpenForAccess(record, &kept)) return std::nullopt;
  MDbEnv* env = Env();
  std::optional<std::u16string> value;
  std::uint32_t bytes = 0;
  if (MDbRecsetGetFieldSize(env, &recordSet_, field, &bytes) == MDbErrNone && bytes >= 2) {
    std::vector<char16_t> text(bytes / 2 + 1, 0);
    if (MDbRecsetGetField(env, &recordSet_, field, text.data(), Bytes(text.size())) == MDbErrNone)
      value = std::u16string(text.data());
  }
  if (!kept) CloseRecord();
  return value;
}

bool CTBMDoc::WriteField(std::int16_t record, std::int16_t field, const std::u16string& value) {
  // A text holding a terminator would be stored cut at it: refuse it
  // rather than store less than was given.
  if (value.find(u'\0') != std::u16string::npos) return false;
  if (value.size() >= GetFieldMaxSize(field)) return false;
  bool kept = false;
  if (field < 0 || !OpenForAccess(record, &kept)) return false;
  const bool written = MDbRecsetSetField(Env(), &recordSet_, static_cast<std::uint16_t>(field),
                                         value.c_str()) == MDbErrNone;
  // The open record's loaded fields still hold the old text: a record kept
  // open is opened afresh so that its pointers show what was written.
  CloseRecord();
  if (kept) OpenRecord(record);
  return written;
}

std::optional<std::vector<std::u16string>> CTBMDoc::GetValueList(std::uint8_t list) {
  if (list == MDbNoValueList) return std::nullopt;
  MDbEnv* env = Env();
  std::uint32_t bytes = 0;
  if (MDbAgentGetValListSize(env, list, &bytes) != MDbErrNone || bytes < 2) return std::nullopt;
  std::vector<char16_t> text(bytes / 2 + 1, 0);
  if (MDbAgentGetValList(env, list, text.data(), Bytes(text.size())) != MDbErrNone)
    return std::nullopt;
  return SplitLines(std::u16string_view(text.data()));
}

std::vector<std::u16string> CTBMDoc::GetValueListItems(std::uint8_t list, bool asDates) {
  std::vector<std::u16string> items = GetValueList(list).value_or(std::vector<std::u16string>());
  if (asDates) {
    for (std::u16string& item : items) CheckAndNormaliseDate(&item, 0);
  }
  return items;
}

FieldOption CTBMDoc::GetFieldOption(std::int16_t field) {
  std::uint8_t block[MDbOptionBytes] = {};
  if (MDbRecsetGetFldOption(Env(), &recordSet_, field, block) != MDbErrNone) return FieldOption();
  const MDbFieldOption option = MDbDecodeFieldOption(block);
  return FieldOption{option.displayStyle(), option.valueListNumber(), option.flags};
}

void CTBMDoc::SetFieldOption(std::int16_t field, const FieldOption& option) {
  // The engine keeps a field's options in memory once read and updates
  // only that copy: read first, so that the write reaches both.
  std::uint8_t block[MDbOptionBytes] = {};
  if (MDbRecsetGetFldOption(Env(), &recordSet_, field, block) != MDbErrNone) return;
  MDbFieldOption stored = MDbDecodeFieldOption(block);
  stored.flags = option.flags;
  stored.style = option.style;
  stored.valueList = option.valueList;
  MDbEncodeFieldOption(stored, block);
  MDbRecsetSetFldOption(Env(), &recordSet_, field, block);
}

bool CTBMDoc::ReadOptionEx(std::int16_t field, std::uint8_t ex[9]) {
  return MDbRecsetGetFldOptionEx(Env(), &recordSet_, field, ex) == MDbErrNone;
}

FieldDisplay CTBMDoc::GetFieldDisplay(std::int16_t field) {
  std::uint8_t block[MDbOptionExBytes] = {};
  if (!ReadOptionEx(field, block) &&
      MDbRecsetGetDefOptionEx(Env(), &recordSet_, block, 0xFF) != MDbErrNone)
    return FieldDisplay();
  const MDbFieldOptionEx ex = MDbDecodeFieldOptionEx(block);
  return FieldDisplay{ex.width, ex.alignment, ex.colour};
}

FieldDisplay CTBMDoc::DefaultFieldDisplay() {
  std::uint8_t block[MDbOptionExBytes] = {};
  if (MDbRecsetGetDefOptionEx(Env(), &recordSet_, block, 0xFF) != MDbErrNone) return FieldDisplay();
  const MDbFieldOptionEx ex = MDbDecodeFieldOptionEx(block);
  return FieldDisplay{ex.width, ex.alignment, ex.colour};
}

void CTBMDoc::SetFieldDisplay(std::int16_t field, const FieldDisplay& display) {
  std::uint8_t block[MDbOptionExBytes] = {};
  if (!ReadOptionEx(field, block)) return;
  // Only the display settings change; the display order and the rest of
  // the block stay as read.
  MDbFieldOptionEx ex = MDbDecodeFieldOptionEx(block);
  ex.width = display.width;
  ex.alignment = display.alignment;
  ex.colour = display.colour;
  MDbEncodeFieldOptionEx(ex, block);
  MDbRecsetSetFldOptionEx(Env(), &recordSet_, field, block);
}

bool CTBMDoc::IsFiltered() {
  bool filtered = false;
  return MDbRecsetIsFiltered(Env(), &recordSet_, &filtered) == MDbErrNone && filtered;
}

bool CTBMDoc::IsFilteredDirty() {
  bool dirty = false;
  return MDbRecsetIsFilteredDirty(Env(), &recordSet_, &dirty) == MDbErrNone && dirty;
}

void CTBMDoc::GetSortDef(std::int16_t* field, bool* ascending) {
  MDbSortDef sort{-1, 1};
  if (MDbRecsetGetSortDef(Env(), &recordSet_, &sort) != MDbErrNone) sort = MDbSortDef{-1, 1};
  if (field != nullptr) *field = sort.field;
  if (ascending != nullptr) *ascending = sort.ascending != 0;
}

std::uint32_t CTBMDoc::GetViewFlags(std::uint16_t viewKind) {
  const std::uint8_t attribute = FlagsAttribute(viewKind);
  std::uint32_t flags = 0;
  if (attribute == 0 || !opened_ || MDbAgentGetAttr(Env(), attribute, &flags) != MDbErrNone)
    return 0;
  return flags;
}

void CTBMDoc::SetViewFlags(std::uint16_t viewKind, std::uint32_t flags) {
  const std::uint8_t attribute = FlagsAttribute(viewKind);
  if (attribute != 0 && opened_) MDbAgentSetAttr(Env(), attribute, flags);
}

bool CTBMDoc::ReadDisplayOrder(std::uint16_t orders[50]) {
  if (MDbRecsetGetDisplayOrders(Env(), &recordSet_, orders, kDisplayPositions) != MDbErrNone)
    return false;
  // The order comes from the file: unless it names every field exactly
  // once, the views could show a field twice or one that does not exist.
  const std::uint16_t fields = GetFieldCount();
  std::array<bool, kDisplayPositions> seen{};
  for (std::uint16_t p = 0; p < fields && p < kDisplayPositions; ++p) {
    if (orders[p] >= fields || seen[orders[p]]) return false;
    seen[orders[p]] = true;
  }
  return true;
}

std::uint16_t CTBMDoc::GetFieldAtDisplayPos(std::uint16_t position) {
  std::uint16_t orders[kDisplayPositions];
  if (position >= kDisplayPositions || !ReadDisplayOrder(orders)) return position;
  return orders[position];
}

void CTBMDoc::MoveDisplayField(std::uint16_t from, std::uint16_t to) {
  std::uint16_t orders[kDisplayPositions];
  if (from >= kDisplayPositions || to >= kDisplayPositions || from == to ||
      !ReadDisplayOrder(orders))
    return;
  const std::uint16_t moved = orders[from];
  if (from < to) {
    std::copy(orders + from + 1, orders + to + 1, orders + from);
  } else {
    std::copy_backward(orders + to, orders + from, orders + from + 1);
  }
  orders[to] = moved;
  MDbRecsetSetDisplayOrders(Env(), &recordSet_, orders);
}

void CTBMDoc::ResetDisplayOrder() {
  std::uint16_t orders[kDisplayPositions];
  for (std::uint16_t p = 0; p < kDisplayPositions; ++p) orders[p] = p;
  MDbRecsetSetDisplayOrders(Env(), &recordSet_, orders);
}

std::uint16_t CTBMDoc::GetNextField(std::uint16_t field, std::uint16_t viewKind) {
  const std::uint16_t count = GetFieldCount();
  if (count <= 1 || field >= count) return field;
  if (viewKind != kListViewKind) return field + 1 < count ? field + 1 : 0;
  // The list shows the fields in display order: the next column is the
  // one after field's position.
  std::uint16_t orders[kDisplayPositions];
  if (!ReadDisplayOrder(orders)) return field + 1 < count ? field + 1 : 0;
  const std::uint16_t* at = std::find(orders, orders + count, field);
  const auto position = static_cast<std::uint16_t>(at - orders);
  return orders[position + 1 < count ? position + 1 : 0];
}

bool CTBMDoc::GetDatabaseName(std::u16string* name) {
  char16_t buffer[kNameChars] = {};
  if (!opened_ || MDbAgentGetDbName(Env(), buffer, sizeof buffer) != MDbErrNone) return false;
  *name = buffer;
  return true;
}

bool CTBMDoc::CheckAndNormaliseDate(std::u16string* text, std::uint8_t flags) {
  MDbEnv* env = Env();
  MDbDateRec date{};
  if (!opened_ ||
      MDbRecsetDateStrToDateRec(env, text->c_str(), &date, flags, nullptr) != MDbErrNone)
    return false;
  char16_t normalised[kDateTimeChars] = {};
  if (MDbRecsetDRecToDateStr(env, &date, normalised) != MDbErrNone) return false;
  *text = normalised;
  return true;
}

bool CTBMDoc::CheckTime(const std::u16string& text) {
  MDbTimeRec time{};
  return opened_ &&
         MDbRecsetTimeStrToTRec(Env(), text.c_str(), &time, 1, nullptr, nullptr) == MDbErrNone;
}

std::u16string CTBMDoc::DateRecToText(const MDbDateRec& date) {
  char16_t text[kDateTimeChars] = {};
  if (!opened_ || MDbRecsetDRecToDateStr(Env(), &date, text) != MDbErrNone) return std::u16string();
  return text;
}

bool CTBMDoc::ParseDate(const std::u16string& text, MDbDateRec* date, MDbDateFormat* format) {
  if (!opened_) return false;
  std::uint8_t block[MDbDateFormatBytes] = {};
  // Stays invalid if the engine cannot read the text at all.
  MDbDateRec read{0, 0, 0, MDbDateInvalid, 0, 0};
  const std::int32_t code = MDbRecsetDateStrToDateRec(Env(), text.c_str(), &read, 0, block);
  if (code != MDbErrNone && code != MDbErrBadDate) return false;
  *date = read;
  if (format != nullptr) *format = MDbDecodeDateFormat(block);
  return code == MDbErrNone;
}

bool CTBMDoc::ParseTime(const std::u16string& text, bool normalise, MDbTimeRec* time,
                        MDbTimeFormat* format, std::array<std::u16string, 3>* digits) {
  if (!opened_) return false;
  std::uint8_t block[MDbTimeFormatBytes] = {};
  // Three terminated runs of typed digits, one per component.
  constexpr std::size_t kRun = 256;
  std::uint16_t typed[3 * kRun] = {};
  MDbTimeRec read{0, 0, 0, MDbTimeInvalid, 2};
  const std::int32_t code =
      MDbRecsetTimeStrToTRec(Env(), text.c_str(), &read, normalise ? 1 : 0, block, typed);
  if (code != MDbErrNone && code != MDbErrBadTime) return false;
  *time = read;
  if (format != nullptr) *format = MDbDecodeTimeFormat(block);
  if (digits != nullptr) {
    for (std::size_t i = 0; i < 3; ++i) {
      std::u16string& run = (*digits)[i];
      run.clear();
      for (std::size_t j = i * kRun; j < (i + 1) * kRun - 1 && typed[j] != 0; ++j)
        run.push_back(static_cast<char16_t>(typed[j]));
    }
  }
  return code == MDbErrNone;
}

std::u16string CTBMDoc::TimeRecToText(const MDbTimeRec& time) {
  char16_t text[kDateTimeChars] = {};
  if (!opened_ || MDbRecsetTRecToTimeStr(Env(), &time, text) != MDbErrNone) return std::u16string();
  return text;
}

std::u16string CTBMDoc::TodayText() {
  const QDate today = QDate::currentDate();
  MDbDateRec date{static_cast<std::int16_t>(today.month()),
                  static_cast<std::int16_t>(today.day()),
                  static_cast<std::int16_t>(today.year()),
                  MDbDateValid,
                  1,
                  0};
  return DateRecToText(date);
}

std::u16string CTBMDoc::NowText() {
  const QTime now = QTime::currentTime();
  // The morning-or-afternoon kind writes the time on the database's own
  // clock, with its suffix.
  MDbTimeRec time{static_cast<std::int16_t>(now.hour()), static_cast<std::int16_t>(now.minute()),
                  static_cast<std::int16_t>(now.second()), MDbTimeTwelve, 2};
  return TimeRecToText(time);
}

}  // namespace tbm::app
