// What the date and the time entry share: building the parts, segment
// focus, typing and arrow keys, the pop-up's opening and closing with the
// input panel, taps, the menu and the list pop-up's items.
#include "DateTimeEntry.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "CommandMenus.h"
#include "EntryParts.h"
#include "EntryPopups.h"
#include "InputPanel.h"
#include "Resources.h"
#include "TBMDoc.h"
#include "TapAndHold.h"
#include "WinApp.h"

namespace tbm::app {

namespace {

constexpr std::uint32_t kNoValueListText = 5012;
constexpr std::uint32_t kEmptyValueListText = 5013;

}  // namespace

CEntryCtrlBase::CEntryCtrlBase(const EntryCtrlSetup& setup, DropKind dropKind)
    : QWidget(setup.parent),
      document_(setup.document),
      font_(setup.font),
      typing_(setup.typing),
      dropKind_(dropKind),
      useValueList_(setup.useValueList),
      valueList_(setup.valueList) {
  setFont(font_);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Base));
  setPalette(colours);
  WatchTapAndHold(this);
}

CEntryCtrlBase::~CEntryCtrlBase() {
  // The pop-up is a window of its own: it must not outlive the control,
  // and the input panel goes back as it was.
  destroying_ = true;
  ClosePopup();
}

bool CEntryCtrlBase::IsModified() const { return AlwaysModified() || changed_; }

CSegmentEdit* CEntryCtrlBase::segmentOfKind(int kind) const {
  for (CSegmentEdit* segment : segments_) {
    if (segment != nullptr && segment->kind() == kind) return segment;
  }
  return nullptr;
}

// ---- building ----

void CEntryCtrlBase::AddSegment(int position, int kind, int maxLength, bool typing) {
  auto* segment = new CSegmentEdit(this, kind, maxLength, typing);
  segment->setFont(font_);
  segment->setReadOnly(!typing_);
  segments_[position] = segment;
  WatchTapAndHold(segment);
}

void CEntryCtrlBase::AddSeparators(const QString& text, Qt::Alignment alignment) {
  for (CSeparatorLabel*& separator : separators_) {
    separator = new CSeparatorLabel(this, text, alignment);
    separator->setFont(font_);
    WatchTapAndHold(separator);
  }
}

void CEntryCtrlBase::AddSpinAndDrop(bool withDrop) {
  spin_ = new CSpinButton(this, [this](int delta) {
    if (buddy_ != nullptr) Spin(buddy_->kind(), delta);
  });
  if (withDrop) {
    drop_ = new CDropButton(this, [this] {
      if (IsPopupOpen())
        ClosePopup();
      else
        OpenPopup();
    });
  }
}

void CEntryCtrlBase::WatchTapAndHold(QWidget* widget) {
  new ui::CTapAndHold(
      widget, [this, widget](QPoint point) { return ShowMenu(widget->mapToGlobal(point)); });
}

// ---- segments ----

void CEntryCtrlBase::SetSegmentValue(int kind, int value, bool refreshText) {
  StoreSegmentValue(kind, value);
  if (!refreshText) return;
  if (CSegmentEdit* segment = segmentOfKind(kind); segment != nullptr)
    segment->setText(FormatSegment(kind, value));
}

void CEntryCtrlBase::OnSegmentFocused(CSegmentEdit* segment) {
  if (segment == buddy_) return;
  if (buddy_ != nullptr) buddy_->SetBuddy(false);
  buddy_ = segment;
  buddy_->SetBuddy(true);
}

void CEntryCtrlBase::OnSegmentEdited(CSegmentEdit* segment) {
  const QString text = segment->text().trimmed();
  bool number = false;
  const qlonglong read = text.toLongLong(&number);
  const int maximum = SegmentMaximum(segment->kind());
  const int value = !number || read < 0 ? 0 : static_cast<int>(std::min<qlonglong>(read, maximum));
  StoreSegmentValue(segment->kind(), value);
  MarkChanged();
  SegmentsChanged();
}

void CEntryCtrlBase::StepSegment(CSegmentEdit* segment, int delta) {
  const int kind = segment->kind();
  const int maximum = SegmentMaximum(kind);
  int value = SegmentValue(kind) + delta;
  if (value > maximum) value = 0;
  if (value < 0) value = maximum;
  StoreSegmentValue(kind, value);
  segment->setText(QString::number(value));
  if (!segment->typingMode()) segment->selectAll();
  MarkChanged();
  SegmentsChanged();
}

void CEntryCtrlBase::MarkChanged() { changed_ = true; }

// ---- the pop-up ----

bool CEntryCtrlBase::IsPopupOpen() const { return !popup_.isNull(); }

CPopupWnd* CEntryCtrlBase::popup() const { return popup_; }

void CEntryCtrlBase::OpenPopup() {
  if (IsPopupOpen() || drop_ == nullptr || destroying_) return;
  CPopupWnd* made = MakePopup();
  if (made == nullptr) return;
  popup_ = made;
  inputPanelWasUp_ = ui::CInputPanel::Get().IsShown();
  ui::CInputPanel::Get().Show(false);
  const QRect anchor(mapToGlobal(QPoint(0, 0)), size());
  made->PlaceAgainst(anchor, made->size(), dropKind_ == DropKind::kCalendar);
  made->SetNoReplayArea(QRect(drop_->mapToGlobal(QPoint(0, 0)), drop_->size()));
  drop_->SetState(true);
  made->show();
  if (QWidget* inside = made->focusWidget(); inside != nullptr)
    inside->setFocus(Qt::PopupFocusReason);
  else
    made->setFocus(Qt::PopupFocusReason);
}

void CEntryCtrlBase::ClosePopup() {
  if (CPopupWnd* open = popup_; open != nullptr) open->close();
}

void CEntryCtrlBase::PopupClosed() {
  CPopupWnd* closed = popup_;
  popup_ = nullptr;
  // It is closing from inside its own handlers; it goes once they return.
  if (closed != nullptr) closed->deleteLater();
  if (drop_ != nullptr) drop_->SetState(false);
  if (inputPanelWasUp_) ui::CInputPanel::Get().Show(true);
  inputPanelWasUp_ = false;
  if (destroying_) return;
  if (CSegmentEdit* focus = buddy_ != nullptr ? buddy_ : segments_[0]; focus != nullptr)
    focus->setFocus(Qt::PopupFocusReason);
}

CEntryCtrlBase::ListItems CEntryCtrlBase::PopupListItems(bool asDates) const {
  if (!valueList_) return {{ui::FromQString(ui::LoadQString(kNoValueListText))}, true};
  const std::vector<std::u16string>& lines = *valueList_;
  if (lines.empty() || (lines.size() == 1 && lines[0].empty()))
    return {{ui::FromQString(ui::LoadQString(kEmptyValueListText))}, true};
  ListItems shown{lines, false};
  if (asDates && document_ != nullptr) {
    for (std::u16string& item : shown.items) {
      if (item != u"-") document_->CheckAndNormaliseDate(&item, 0);
    }
  }
  return shown;
}

CPopupWnd* CEntryCtrlBase::MakeListPopup(bool asDates, const std::u16string& current) {
  const ListItems shown = PopupListItems(asDates);
  auto* list = new CListPopup(
      this, font_, shown.items, shown.placeholder, current,
      [this](const std::u16string& item) { ApplyListItem(item); }, [this] { PopupClosed(); });
  // As high as its items, but never higher than the screen has room for
  // below or above the control: a long list scrolls.
  const QRect screen = CPopupWnd::ScreenRect(this);
  const QRect anchor(mapToGlobal(QPoint(0, 0)), size());
  const int room = std::max(screen.bottom() - anchor.bottom() + 1, anchor.top() - screen.top() + 1);
  list->resize(width(), std::max(1, std::min(list->WantedHeight(), room)));
  return list;
}

// ---- taps and the menu ----

bool CEntryCtrlBase::InDropStrip(QPoint point) const {
  if (drop_ == nullptr || !rect().contains(point)) return false;
  return point.x() > spin_->geometry().right() && point.x() <= drop_->geometry().right();
}

void CEntryCtrlBase::TapAt(QPoint point) {
  QWidget* child = childAt(point);
  for (CSegmentEdit* segment : segments_) {
    if (segment != nullptr && (child == segment || segment->isAncestorOf(child))) {
      segment->setFocus(Qt::MouseFocusReason);
      OnSegmentFocused(segment);
      segment->setCursorPosition(segment->cursorPositionAt(segment->mapFrom(this, point)));
      return;
    }
  }
  if (child != nullptr && child == spin_) {
    spin_->StepAt(spin_->mapFrom(this, point));
    return;
  }
  if (child != nullptr && child == drop_) {
    if (IsPopupOpen())
      ClosePopup();
    else
      OpenPopup();
    return;
  }
  if (InDropStrip(point)) OpenPopup();
}

void CEntryCtrlBase::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && InDropStrip(event->position().toPoint())) {
    event->accept();
    OpenPopup();
    return;
  }
  QWidget::mousePressEvent(event);
}

void CEntryCtrlBase::hideEvent(QHideEvent* event) {
  ClosePopup();
  QWidget::hideEvent(event);
}

void CEntryCtrlBase::contextMenuEvent(QContextMenuEvent* event) {
  ShowMenu(event->globalPos());
  event->accept();
}

bool CEntryCtrlBase::ShowMenu(QPoint globalPosition) {
  ui::CWinApp* app = ui::CWinApp::Get();
  if (app == nullptr || app->mainWindow() == nullptr) return false;
  return ui::TrackPopupMenu(MenuNumber(), globalPosition, app->mainWindow()) != nullptr;
}

void CEntryCtrlBase::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool AskToDropInvalidChange(CTBMDoc* document, bool date) {
  const std::u16string example = document == nullptr ? std::u16string()
                                 : date              ? document->TodayText()
                                                     : document->NowText();
  return ui::ResourceMessageBox(date ? 5016 : 5017, {res::MessageArgument::Text(example)},
                                ui::MessageIcon::kWarning,
                                ui::MessageButtons::kOkCancel) == ui::MessageAnswer::kOk;
}

bool CEntryCtrlBase::AnswerInvalidChange(bool date) {
  ClosePopup();
  if (AskToDropInvalidChange(document_, date)) {
    Restore();
    return true;
  }
  if (buddy_ != nullptr) buddy_->setFocus(Qt::OtherFocusReason);
  return false;
}

}  // namespace tbm::app
