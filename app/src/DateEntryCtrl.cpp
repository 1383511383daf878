// The date entry: day, month and year segments in the order of the
// database's date format, the spin control with wrapping and day clamping,
// the month calendar or the value list, and the date's composing and
// validation.
#include <QDate>
#include <algorithm>

#include "DateTimeEntry.h"
#include "EntryParts.h"
#include "EntryPopups.h"
#include "Resources.h"
#include "TBMDoc.h"

namespace tbm::app {

namespace {

constexpr int kMinimumWidth = 122;
constexpr int kSegmentTop = 1;
constexpr int kSegmentHeight = 17;
constexpr int kDayMonthWidth = 20;
constexpr int kYearWidth = 30;
constexpr int kSeparatorWidth = 8;
constexpr int kSpinGap = 2;
constexpr int kSpinWidth = 20;
constexpr int kDropWidth = 12;
constexpr int kMaximumMonth = 12;
constexpr int kMaximumYear = 3000;

constexpr std::uint32_t kInvalidDateItemMessage = 5018;

// The segment kinds left to right for each order code of the date format.
constexpr int kOrders[6][3] = {
    {kMonthSegment, kDaySegment, kYearSegment},  // 0 month, day, year
    {kDaySegment, kMonthSegment, kYearSegment},  // 1 day, month, year
    {kYearSegment, kMonthSegment, kDaySegment},  // 2 year, month, day
    {kMonthSegment, kYearSegment, kDaySegment},  // 3 month, year, day
    {kDaySegment, kYearSegment, kMonthSegment},  // 4 day, year, month
    {kYearSegment, kDaySegment, kMonthSegment},  // 5 year, day, month
};

bool IsDate(const MDbDateRec& date) {
  return date.status == MDbDateValid || date.status == MDbDateValidThisYear;
}

}  // namespace

CDateEntryCtrl::CDateEntryCtrl(const EntryCtrlSetup& setup)
    : CEntryCtrlBase(setup, setup.useValueList ? DropKind::kValueList : DropKind::kCalendar) {
  OnCommand(ui::ID_DATE_TODAY, [this] { OnToday(); });
  OnCommand(ui::ID_EDIT_CLEAR, [this] { OnClear(); });
}

CDateEntryCtrl* CDateEntryCtrl::Create(const EntryCtrlSetup& setup) {
  if (setup.parent == nullptr || setup.document == nullptr || !setup.document->IsOpen())
    return nullptr;
  auto* control = new CDateEntryCtrl(setup);
  control->Build(setup);
  control->show();
  control->raise();
  control->segments_[0]->setFocus(Qt::OtherFocusReason);
  control->OnSegmentFocused(control->segments_[0]);
  if (control->dropKind_ == DropKind::kCalendar) control->OpenPopup();
  return control;
}

void CDateEntryCtrl::Build(const EntryCtrlSetup& setup) {
  MDbDateRec date{0, 0, 0, MDbDateInvalid, 0, 0};
  document_->ParseDate(setup.text, &date, &format_);
  for (int position = 0; position < 3; ++position)
    positions_[kOrders[format_.order][position]] = position;

  // At least the minimum width, gained to the left as far as the parent's
  // left edge allows.
  const QRect& cell = setup.cell;
  const int width = std::max(cell.width(), kMinimumWidth);
  const int left = std::max(0, cell.left() - (width - cell.width()));
  setGeometry(left, cell.top(), width, cell.height());

  // The separator typed in the field's text, else the format's.
  const char16_t separator =
      IsDate(date) && date.separator != 0 ? date.separator : format_.separator;
  AddSeparators(QString(QChar(separator)), Qt::AlignHCenter);
  int x = 1;
  for (int position = 0; position < 3; ++position) {
    const int kind = kOrders[format_.order][position];
    const bool year = kind == kYearSegment;
    AddSegment(position, kind, year ? 4 : 2, true);
    segments_[position]->setGeometry(x, kSegmentTop, year ? kYearWidth : kDayMonthWidth,
                                     kSegmentHeight);
    x += year ? kYearWidth : kDayMonthWidth;
    if (position < 2) {
      separators_[position]->setGeometry(x, kSegmentTop, kSeparatorWidth, kSegmentHeight);
      x += kSeparatorWidth;
    }
  }
  AddSpinAndDrop(true);
  spin_->setGeometry(x + kSpinGap, kSegmentTop, kSpinWidth, kSegmentHeight);
  drop_->setGeometry(width - kDropWidth, 0, kDropWidth, cell.height());

  ShowDate(date);
  for (int kind = 0; kind < 3; ++kind) {
    originalTexts_[kind] = segmentOfKind(kind)->text();
    originalValues_[kind] = values_[kind];
  }
}

void CDateEntryCtrl::ShowDate(const MDbDateRec& date) {
  const bool shown = IsDate(date);
  values_[kDaySegment] = shown ? date.day : 0;
  values_[kMonthSegment] = shown ? date.month : 0;
  values_[kYearSegment] = shown ? date.year : 0;
  for (int kind = 0; kind < 3; ++kind) {
    CSegmentEdit* segment = segmentOfKind(kind);
    // The year is written with four digits the first time.
    if (kind == kYearSegment) segment->clear();
    segment->setText(FormatSegment(kind, values_[kind]));
  }
}

// ---- values and texts ----

int CDateEntryCtrl::SegmentMaximum(int kind) const {
  switch (kind) {
    case kDaySegment:
      return DaysInMonth(values_[kMonthSegment], values_[kYearSegment]);
    case kMonthSegment:
      return kMaximumMonth;
    default:
      return kMaximumYear;
  }
}

int CDateEntryCtrl::SegmentValue(int kind) const { return values_[kind]; }

void CDateEntryCtrl::StoreSegmentValue(int kind, int value) {
  values_[kind] = static_cast<std::int16_t>(value);
}

QString CDateEntryCtrl::FormatSegment(int kind, int value) const {
  if (kind == kYearSegment) {
    // As many digits as the year showed, four when it showed none.
    const qsizetype digits = segmentOfKind(kind)->text().trimmed().size();
    return QString::asprintf("%.*d", digits == 0 ? 4 : static_cast<int>(digits), value);
  }
  const bool twoDigits = kind == kDaySegment ? format_.dayTwoDigits : format_.monthTwoDigits;
  return QString::asprintf(twoDigits ? "%.2d" : "%2d", value);
}

void CDateEntryCtrl::SetDate(int day, int month, int year) {
  SetSegmentValue(kMonthSegment, month, true);
  SetSegmentValue(kYearSegment, year, true);
  SetSegmentValue(kDaySegment, day, true);
  MarkChanged();
  SegmentsChanged();
}

void CDateEntryCtrl::Spin(int kind, int delta) {
  const int maximum = SegmentMaximum(kind);
  int value = values_[kind] + delta;
  if (value > maximum)
    value = 0;
  else if (value <= 0)
    value = maximum;
  SetSegmentValue(kind, value, true);
  if (kind != kDaySegment) {
    const int days = DaysInMonth(values_[kMonthSegment], values_[kYearSegment]);
    if (values_[kDaySegment] > days) SetSegmentValue(kDaySegment, days, true);
  }
  MarkChanged();
  SegmentsChanged();
  segmentOfKind(kind)->selectAll();
}

void CDateEntryCtrl::SegmentsChanged() {
  if (auto* calendar = dynamic_cast<CCalendarPopup*>(popup()); calendar != nullptr)
    calendar->Follow(QDate(values_[kYearSegment], values_[kMonthSegment], values_[kDaySegment]));
}

void CDateEntryCtrl::OnToday() {
  const QDate today = QDate::currentDate();
  SetDate(today.day(), today.month(), today.year());
}

void CDateEntryCtrl::OnClear() {
  for (int kind = 0; kind < 3; ++kind) {
    values_[kind] = 0;
    segmentOfKind(kind)->clear();
  }
  MarkChanged();
  SegmentsChanged();
}

// ---- composing and validating ----

std::u16string CDateEntryCtrl::ComposeText() const {
  const std::u16string separator = ui::FromQString(separators_[0]->text());
  std::u16string text;
  for (int position = 0; position < 3; ++position) {
    if (position > 0) text += separator;
    text += ui::FromQString(segments_[position]->text().trimmed());
  }
  return text;
}

bool CDateEntryCtrl::IsBlank() const {
  return std::all_of(segments_.begin(), segments_.end(),
                     [](const CSegmentEdit* s) { return s->text().trimmed().isEmpty(); });
}

std::optional<std::u16string> CDateEntryCtrl::GetValueText() {
  if (IsBlank()) return std::u16string();
  MDbDateRec date{};
  MDbDateFormat format;
  if (!document_->ParseDate(ComposeText(), &date, &format)) return std::nullopt;
  return document_->DateRecToText(date);
}

bool CDateEntryCtrl::HoldsValidValue() const {
  if (!changed_ || IsBlank()) return true;
  MDbDateRec date{};
  MDbDateFormat format;
  return document_->ParseDate(ComposeText(), &date, &format);
}

bool CDateEntryCtrl::Validate() { return HoldsValidValue() || AnswerInvalidChange(true); }

void CDateEntryCtrl::Restore() {
  for (int kind = 0; kind < 3; ++kind) {
    values_[kind] = originalValues_[kind];
    segmentOfKind(kind)->setText(originalTexts_[kind]);
  }
  changed_ = false;
  SegmentsChanged();
}

// ---- the pop-ups ----

CPopupWnd* CDateEntryCtrl::MakePopup() {
  if (useValueList_) return MakeListPopup(true, GetValueText().value_or(std::u16string()));
  return new CCalendarPopup(
      this, font_, QDate(values_[kYearSegment], values_[kMonthSegment], values_[kDaySegment]),
      [this](QDate day) { SetDate(day.day(), day.month(), day.year()); },
      [this] { PopupClosed(); });
}

void CDateEntryCtrl::ApplyListItem(const std::u16string& item) {
  MDbDateRec date{};
  MDbDateFormat format;
  if (document_->ParseDate(item, &date, &format)) {
    SetDate(date.day, date.month, date.year);
    return;
  }
  ui::ResourceMessageBox(kInvalidDateItemMessage,
                         {res::MessageArgument::Text(document_->TodayText())},
                         ui::MessageIcon::kWarning, ui::MessageButtons::kOk);
}

}  // namespace tbm::app
