// The time entry: hours, minutes and seconds segments edited as text
// (digits only), the spin control, the suffix combo (none, "-", and the
// format's 24-hour, morning and afternoon suffixes), the value list, and
// the time's composing and validation.
#include <QFontMetrics>
#include <QTime>
#include <algorithm>

#include "DateTimeEntry.h"
#include "EntryParts.h"
#include "EntryPopups.h"
#include "Resources.h"
#include "TBMDoc.h"

namespace tbm::app {

namespace {

constexpr int kSegmentTop = 1;
constexpr int kSegmentHeight = 17;
constexpr int kSegmentWidth = 32;
constexpr int kSegmentLength = 11;
constexpr int kSpinGap = 2;
constexpr int kSpinWidth = 20;
constexpr int kDropWidth = 12;
// The suffix combo's room for its arrow beside the widest suffix.
constexpr int kComboArrowWidth = 22;
// What the control needs beside its suffix and separators.
constexpr int kFixedWidthWithDrop = 145;
constexpr int kFixedWidthWithoutDrop = 133;
constexpr int kMaximumHours = 32766;
constexpr int kMaximumMinutes = 59;

constexpr std::uint32_t kInvalidTimeItemMessage = 5019;

bool IsTime(const MDbTimeRec& time) { return time.kind <= MDbTimeTwentyFour; }

// What a time text shows in the segments and the combo.
struct TimeParts {
  std::array<QString, 3> texts;          // by kind: seconds, minutes, hours
  std::array<std::int16_t, 3> values{};  // by kind
  int suffix = CTimeEntryCtrl::kNoSuffix;
};

// A component's text: its digits as typed, or its value when they do not
// fit the segment; empty when it was not typed.
QString ComponentText(const std::u16string& digits, int value, bool typed) {
  if (!typed) return QString();
  if (!digits.empty() && digits.size() <= static_cast<std::size_t>(kSegmentLength))
    return ui::ToQString(digits);
  return QString::number(value);
}

}  // namespace

CTimeEntryCtrl::CTimeEntryCtrl(const EntryCtrlSetup& setup)
    : CEntryCtrlBase(setup, DropKind::kValueList) {
  OnCommand(ui::ID_TIME_NOW, [this] { OnNow(); });
  OnCommand(ui::ID_EDIT_CLEAR, [this] { OnClear(); });
}

CTimeEntryCtrl* CTimeEntryCtrl::Create(const EntryCtrlSetup& setup) {
  if (setup.parent == nullptr || setup.document == nullptr || !setup.document->IsOpen())
    return nullptr;
  auto* control = new CTimeEntryCtrl(setup);
  control->Build(setup);
  control->show();
  control->raise();
  control->segments_[0]->setFocus(Qt::OtherFocusReason);
  control->OnSegmentFocused(control->segments_[0]);
  return control;
}

void CTimeEntryCtrl::Build(const EntryCtrlSetup& setup) {
  MDbTimeRec probe{};
  document_->ParseTime(setup.text, false, &probe, &format_);

  // The suffix combo: an empty item, "-", then the format's suffixes that
  // are not empty; each item carries its kind.
  suffix_ = new QComboBox(this);
  suffix_->setFont(font_);
  const QFontMetrics metrics(font_);
  int widest = metrics.horizontalAdvance(QStringLiteral("-"));
  for (int kind = kNoSuffix; kind <= kAfternoon; ++kind) {
    const std::u16string text = SuffixText(kind);
    if (kind >= kTwentyFour && text.empty()) continue;
    const QString shown = ui::ToQString(text).trimmed();
    suffix_->addItem(shown, kind);
    widest = std::max(widest, metrics.horizontalAdvance(shown));
  }
  connect(suffix_, &QComboBox::activated, this,
          [this](int index) { ChooseSuffix(suffix_->itemData(index).toInt()); });

  const QString separator(QChar(format_.separator));
  const int separatorWidth = metrics.horizontalAdvance(separator) + 1;
  const bool withDrop = useValueList_;
  // Room for the widest suffix beside the combo's arrow, as the style
  // draws it.
  const int comboWidth = std::max(widest + kComboArrowWidth, suffix_->minimumSizeHint().width());
  const int needed = 1 + 3 * kSegmentWidth + 2 * separatorWidth + kSpinGap + kSpinWidth + 1 +
                     comboWidth + (withDrop ? kDropWidth : 1);
  const int minimum =
      std::max(needed, widest + 2 * separatorWidth +
                           (withDrop ? kFixedWidthWithDrop : kFixedWidthWithoutDrop));
  const QRect& cell = setup.cell;
  const int width = std::max(cell.width(), minimum);
  const int left = std::max(0, cell.left() - (width - cell.width()));
  setGeometry(left, cell.top(), width, cell.height());

  AddSeparators(separator, Qt::AlignRight);
  constexpr int kKinds[3] = {kHoursSegment, kMinutesSegment, kSecondsSegment};
  int x = 1;
  for (int position = 0; position < 3; ++position) {
    AddSegment(position, kKinds[position], kSegmentLength, false);
    segments_[position]->setGeometry(x, kSegmentTop, kSegmentWidth, kSegmentHeight);
    x += kSegmentWidth;
    if (position < 2) {
      separators_[position]->setGeometry(x, kSegmentTop, separatorWidth, kSegmentHeight);
      x += separatorWidth;
    }
  }
  AddSpinAndDrop(withDrop);
  x += kSpinGap;
  spin_->setGeometry(x, kSegmentTop, kSpinWidth, kSegmentHeight);
  x += kSpinWidth + 1;
  suffix_->setGeometry(x, kSegmentTop, comboWidth, kSegmentHeight);
  if (drop_ != nullptr) drop_->setGeometry(width - kDropWidth, 0, kDropWidth, cell.height());
  setTabOrder(segments_[2], suffix_);

  if (!ShowTime(setup.text)) {
    // Not a time (or nothing): every segment shows 0, no suffix.
    for (int kind = 0; kind < 3; ++kind) {
      values_[kind] = 0;
      segmentOfKind(kind)->setText(QStringLiteral("0"));
    }
    ShowSuffix(kNoSuffix);
  }
  for (int kind = 0; kind < 3; ++kind) {
    originalTexts_[kind] = segmentOfKind(kind)->text();
    originalValues_[kind] = values_[kind];
  }
  originalSuffix_ = suffixKind_;
}

bool CTimeEntryCtrl::ShowTime(const std::u16string& text) {
  // As typed for the segments, normalised for the suffix.
  MDbTimeRec typed{};
  MDbTimeRec normal{};
  std::array<std::u16string, 3> digits;
  document_->ParseTime(text, false, &typed, nullptr, &digits);
  if (!document_->ParseTime(text, true, &normal, nullptr) || !IsTime(typed)) return false;

  TimeParts parts;
  const bool negative = typed.hours < 0 || typed.minutes < 0 || typed.seconds < 0;
  int hours = std::abs(typed.hours);
  std::u16string hourDigits = digits[0];
  if (normal.kind == MDbTimeTwelve) {
    parts.suffix = normal.hours < 12 ? kMorning : kAfternoon;
    if (hours == 0) {
      hours = 12;
      hourDigits = u"12";
    }
  } else if (normal.kind == MDbTimeTwentyFour) {
    parts.suffix = kTwentyFour;
  } else if (negative) {
    parts.suffix = kNegative;
  }
  parts.values[kHoursSegment] = static_cast<std::int16_t>(hours);
  parts.values[kMinutesSegment] = static_cast<std::int16_t>(std::abs(typed.minutes));
  parts.values[kSecondsSegment] = static_cast<std::int16_t>(std::abs(typed.seconds));
  parts.texts[kHoursSegment] = ComponentText(hourDigits, hours, true);
  parts.texts[kMinutesSegment] =
      ComponentText(digits[1], parts.values[kMinutesSegment], typed.components >= 1);
  parts.texts[kSecondsSegment] =
      ComponentText(digits[2], parts.values[kSecondsSegment], typed.components >= 2);

  for (int kind = 0; kind < 3; ++kind) {
    values_[kind] = parts.values[kind];
    segmentOfKind(kind)->setText(parts.texts[kind]);
  }
  ShowSuffix(parts.suffix);
  return true;
}

std::u16string CTimeEntryCtrl::SuffixText(int kind) const {
  switch (kind) {
    case kNegative:
      return u"-";
    case kTwentyFour:
      return format_.twentyFour;
    case kMorning:
      return format_.morning;
    case kAfternoon:
      return format_.afternoon;
    default:
      return std::u16string();
  }
}

void CTimeEntryCtrl::ShowSuffix(int kind) {
  const int index = suffix_->findData(kind);
  suffixKind_ = index >= 0 ? kind : kNoSuffix;
  suffix_->setCurrentIndex(std::max(0, index));
}

bool CTimeEntryCtrl::ChooseSuffix(int kind) {
  if (suffix_->findData(kind) < 0) return false;
  const bool differs = kind != suffixKind_;
  ShowSuffix(kind);
  if (differs) MarkChanged();
  return true;
}

// ---- values and texts ----

int CTimeEntryCtrl::SegmentMaximum(int kind) const {
  return kind == kHoursSegment ? kMaximumHours : kMaximumMinutes;
}

int CTimeEntryCtrl::SegmentValue(int kind) const { return values_[kind]; }

void CTimeEntryCtrl::StoreSegmentValue(int kind, int value) {
  values_[kind] = static_cast<std::int16_t>(value);
}

QString CTimeEntryCtrl::FormatSegment(int, int value) const { return QString::number(value); }

void CTimeEntryCtrl::Spin(int kind, int delta) {
  const int maximum = SegmentMaximum(kind);
  int value = values_[kind] + delta;
  if (value > maximum && delta > 0)
    value = 0;
  else if (value < 0 || value > maximum)
    value = maximum;
  SetSegmentValue(kind, value, true);
  segmentOfKind(kind)->selectAll();
  MarkChanged();
}

void CTimeEntryCtrl::OnNow() {
  const QTime now = QTime::currentTime();
  int hours = now.hour();
  int suffix = kNoSuffix;
  if (format_.twelveHourClock && !format_.morning.empty() && !format_.afternoon.empty()) {
    suffix = hours < 12 ? kMorning : kAfternoon;
    hours = hours % 12 == 0 ? 12 : hours % 12;
  } else if (!format_.twentyFour.empty()) {
    suffix = kTwentyFour;
  }
  const int values[3] = {now.second(), now.minute(), hours};  // by kind
  for (int kind = 0; kind < 3; ++kind) {
    values_[kind] = static_cast<std::int16_t>(values[kind]);
    segmentOfKind(kind)->setText(kind == kHoursSegment ? QString::number(values[kind])
                                                       : QString::asprintf("%.2d", values[kind]));
  }
  ShowSuffix(suffix);
  MarkChanged();
}

void CTimeEntryCtrl::OnClear() {
  for (int kind = 0; kind < 3; ++kind) {
    values_[kind] = 0;
    segmentOfKind(kind)->clear();
  }
  ShowSuffix(kNoSuffix);
  MarkChanged();
}

// ---- composing and validating ----

std::u16string CTimeEntryCtrl::ComposeText() const {
  const std::u16string separator(1, format_.separator);
  const std::u16string hours = ui::FromQString(segmentOfKind(kHoursSegment)->text().trimmed());
  const std::u16string minutes = ui::FromQString(segmentOfKind(kMinutesSegment)->text().trimmed());
  const std::u16string seconds = ui::FromQString(segmentOfKind(kSecondsSegment)->text().trimmed());
  std::u16string text;
  if (suffixKind_ == kNegative) text += u"-";
  text += hours;
  if (!minutes.empty())
    text += separator + minutes;
  else if (!seconds.empty())
    text += separator;
  if (!seconds.empty()) text += separator + seconds;
  if (suffixKind_ >= kTwentyFour) text += SuffixText(suffixKind_);
  return text;
}

bool CTimeEntryCtrl::IsBlank() const {
  return std::all_of(segments_.begin(), segments_.end(),
                     [](const CSegmentEdit* s) { return s->text().trimmed().isEmpty(); });
}

std::optional<std::u16string> CTimeEntryCtrl::GetValueText() {
  if (IsBlank()) return std::u16string();
  const std::u16string text = ComposeText();
  MDbTimeRec time{};
  document_->ParseTime(text, true, &time, nullptr);
  if (time.kind == MDbTimeInvalid) return std::nullopt;
  return text;
}

bool CTimeEntryCtrl::HoldsValidValue() const {
  if (!changed_ || IsBlank()) return true;
  MDbTimeRec time{};
  return document_->ParseTime(ComposeText(), true, &time, nullptr);
}

bool CTimeEntryCtrl::Validate() { return HoldsValidValue() || AnswerInvalidChange(false); }

void CTimeEntryCtrl::Restore() {
  for (int kind = 0; kind < 3; ++kind) {
    values_[kind] = originalValues_[kind];
    segmentOfKind(kind)->setText(originalTexts_[kind]);
  }
  ShowSuffix(originalSuffix_);
  changed_ = false;
}

// ---- the pop-up ----

CPopupWnd* CTimeEntryCtrl::MakePopup() {
  if (!useValueList_) return nullptr;
  return MakeListPopup(false, ComposeText());
}

void CTimeEntryCtrl::ApplyListItem(const std::u16string& item) {
  if (ShowTime(item)) {
    MarkChanged();
    return;
  }
  ui::ResourceMessageBox(kInvalidTimeItemMessage,
                         {res::MessageArgument::Text(document_->NowText())},
                         ui::MessageIcon::kWarning, ui::MessageButtons::kOk);
}

}  // namespace tbm::app
