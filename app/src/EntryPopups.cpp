#include "EntryPopups.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "Resources.h"

namespace tbm::app {

namespace {

// The dates the engine can write: years 1 to 3000.
constexpr int kFirstYear = 1;
constexpr int kLastYear = 3000;
// Pixels a list item has beyond the font's line.
constexpr int kItemPadding = 2;

bool IsEnterOrEscape(const QKeyEvent* key) {
  return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
         key->key() == Qt::Key_Escape;
}

}  // namespace

// ---- CPopupWnd ----

CPopupWnd::CPopupWnd(QWidget* owner, std::function<void()> onClosed)
    : QFrame(owner, Qt::Popup), owner_(owner), onClosed_(std::move(onClosed)) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
}

QRect CPopupWnd::ScreenRect(const QWidget* owner) {
  const QWidget* top = owner->window();
  return QRect(top->mapToGlobal(QPoint(0, 0)), top->size());
}

void CPopupWnd::PlaceAgainst(const QRect& anchor, QSize size, bool rightAligned) {
  const QRect screen = owner_ ? ScreenRect(owner_) : anchor;
  const int below = screen.bottom() - anchor.bottom() + 1;  // overlapping one pixel
  const int above = anchor.top() - screen.top() + 1;
  int x = rightAligned ? anchor.right() - size.width() + 1 : anchor.left();
  if (x < screen.left()) x = anchor.left();
  if (x + size.width() - 1 > screen.right())
    x = std::max(screen.left(), screen.right() - size.width() + 1);
  int y = anchor.bottom();
  if (size.height() > below && above > below) y = anchor.top() - size.height() + 1;
  setGeometry(x, y, size.width(), size.height());
}

void CPopupWnd::hideEvent(QHideEvent* event) {
  QFrame::hideEvent(event);
  if (notified_) return;
  notified_ = true;
  if (onClosed_) onClosed_();
}

void CPopupWnd::mousePressEvent(QMouseEvent* event) {
  // A tap outside closes the pop-up (the base does that for a pop-up
  // window); on the drop button it must not reach the button as well.
  if (!rect().contains(event->position().toPoint()) &&
      noReplayArea_.contains(event->globalPosition().toPoint()))
    setAttribute(Qt::WA_NoMouseReplay);
  QFrame::mousePressEvent(event);
}

// ---- CCalendarPopup ----

CCalendarPopup::CCalendarPopup(QWidget* owner, const QFont& font, QDate initial,
                               std::function<void(QDate)> onSelected,
                               std::function<void()> onClosed)
    : CPopupWnd(owner, std::move(onClosed)),
      calendar_(new QCalendarWidget(this)),
      onSelected_(std::move(onSelected)) {
  setObjectName(QStringLiteral("calendar"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(calendar_);
  calendar_->setFont(font);
  calendar_->setDateRange(QDate(kFirstYear, 1, 1), QDate(kLastYear, 12, 31));
  calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  calendar_->setGridVisible(false);
  calendar_->setSelectedDate(initial.isValid() ? initial : QDate::currentDate());
  calendar_->installEventFilter(this);
  resize(calendar_->minimumSizeHint() + QSize(2 * frameWidth(), 2 * frameWidth()));

  connect(calendar_, &QCalendarWidget::selectionChanged, this, [this] {
    if (!following_) onSelected_(calendar_->selectedDate());
  });
  // A tap on a day, or Enter: that day, and the pop-up closes.
  const auto choose = [this](QDate date) {
    if (!following_) onSelected_(date);
    close();
  };
  connect(calendar_, &QCalendarWidget::clicked, this, choose);
  connect(calendar_, &QCalendarWidget::activated, this, choose);
}

void CCalendarPopup::Follow(QDate date) {
  if (!date.isValid() || date == calendar_->selectedDate()) return;
  following_ = true;
  calendar_->setSelectedDate(date);
  following_ = false;
}

bool CCalendarPopup::eventFilter(QObject* watched, QEvent* event) {
  if (watched == calendar_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    close();
    return true;
  }
  return CPopupWnd::eventFilter(watched, event);
}

// ---- CListPopup ----

CListPopup::CListPopup(QWidget* owner, const QFont& font, const std::vector<std::u16string>& items,
                       bool placeholder, const std::u16string& current,
                       std::function<void(const std::u16string&)> onChosen,
                       std::function<void()> onClosed)
    : CPopupWnd(owner, std::move(onClosed)),
      list_(new QListWidget(this)),
      onChosen_(std::move(onChosen)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  list_->setFont(font);
  list_->setFrameShape(QFrame::NoFrame);
  // The pop-up gives the list its height; a scroll area would ask more.
  list_->setMinimumSize(1, 1);
  list_->setUniformItemSizes(true);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  // Every item is as high as a line of the font, as a list box's are.
  const QSize itemSize(0, QFontMetrics(font).height() + kItemPadding);
  for (const std::u16string& text : items) {
    auto* item = new QListWidgetItem(ui::ToQString(text), list_);
    item->setSizeHint(itemSize);
    if (placeholder) {
      // Shown, never chosen.
      item->setFlags(Qt::NoItemFlags);
    } else if (text == u"-") {
      // A separator line: shown as a line, never chosen.
      item->setFlags(Qt::NoItemFlags);
      item->setText(QString());
      auto* line = new QFrame(list_);
      line->setFrameStyle(QFrame::HLine | QFrame::Plain);
      list_->setItemWidget(item, line);
    } else if (text == current) {
      list_->setCurrentItem(item);
    }
  }
  list_->installEventFilter(this);
  connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { Choose(item); });
}

int CListPopup::WantedHeight() const {
  const int rows = std::max(1, list_->count());
  const int row = QFontMetrics(list_->font()).height() + kItemPadding;
  return rows * row + 2 * frameWidth();
}

bool CListPopup::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (IsEnterOrEscape(key)) {
      if (key->key() == Qt::Key_Escape)
        close();
      else
        Choose(list_->currentItem());
      return true;
    }
  }
  return CPopupWnd::eventFilter(watched, event);
}

void CListPopup::Choose(QListWidgetItem* item) {
  if (item == nullptr || !(item->flags() & Qt::ItemIsSelectable)) {
    // A placeholder or a separator line: the pop-up stays for a tap; Enter
    // on nothing chosen just closes it.
    if (item == nullptr) close();
    return;
  }
  const std::u16string text = ui::FromQString(item->text());
  // The owner hears of the item once the pop-up is gone: what it does
  // with it (a message) must not sit under the pop-up.
  const auto chosen = onChosen_;
  close();
  chosen(text);
}

}  // namespace tbm::app
