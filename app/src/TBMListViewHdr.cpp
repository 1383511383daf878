#include "TBMListViewHdr.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleHints>
#include <algorithm>

#include "Resources.h"
#include "TBMListView.h"
#include "TBMView.h"

namespace tbm::app {

namespace {

// A divider can be grabbed this many pixels either side of it.
constexpr int kDividerReach = 4;
// Space between an item's edge and its text, and between text and picture.
constexpr int kTextMargin = 3;
constexpr int kPictureGap = 4;

void MoveEntry(std::vector<int>& order, int from, int to) {
  if (from < 0 || from >= static_cast<int>(order.size())) return;
  int item = order[from];
  order.erase(order.begin() + from);
  to = std::clamp(to, 0, static_cast<int>(order.size()));
  order.insert(order.begin() + to, item);
}

int IndexOf(const std::vector<int>& order, int item) {
  auto found = std::find(order.begin(), order.end(), item);
  return found == order.end() ? -1 : static_cast<int>(found - order.begin());
}

}  // namespace

CTBMListViewHdr::CTBMListViewHdr(CTBMListView* view) : QWidget(view), view_(view) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFont(MakeViewFont(kFontNormal));
  holdTimer_.setSingleShot(true);
  holdTimer_.setInterval(QGuiApplication::styleHints()->mousePressAndHoldInterval());
  QObject::connect(&holdTimer_, &QTimer::timeout, this, [this] { OnTapAndHold(); });
}

CTBMListViewHdr::~CTBMListViewHdr() = default;

std::vector<int> CTBMListViewHdr::NormaliseOrder(const std::vector<int>& order, int count) {
  std::vector<int> result;
  std::vector<bool> used(static_cast<std::size_t>(std::max(count, 0)), false);
  for (int item : order) {
    if (item < 0 || item >= count || used[item]) continue;
    used[item] = true;
    result.push_back(item);
  }
  for (int item = 0; item < count; ++item) {
    if (!used[item]) result.push_back(item);
  }
  return result;
}

void CTBMListViewHdr::SetItems(const std::vector<QString>& texts, const std::vector<int>& widths,
                               const std::vector<int>& order) {
  items_.assign(texts.size(), Item{});
  for (std::size_t i = 0; i < texts.size(); ++i) {
    items_[i].text = texts[i];
    int width = i < widths.size() ? widths[i] : 0;
    items_[i].width = width >= kMinWidth ? width : 0;
  }
  order_ = NormaliseOrder(order, itemCount());
  fixedMode_ = false;
  fixedItem_ = -1;
  fixedFormerPos_ = -1;
  firstScrollPos_ = 0;
  touchedItem_ = -1;
  if (sortIndicatorItem_ >= itemCount()) sortIndicatorItem_ = -1;
  update();
}

void CTBMListViewHdr::SetItemWidth(int item, int width) {
  if (item < 0 || item >= itemCount()) return;
  items_[item].width = width >= kMinWidth ? width : 0;
  update();
}

int CTBMListViewHdr::itemWidth(int item) const {
  return item >= 0 && item < itemCount() ? items_[item].width : 0;
}

QString CTBMListViewHdr::itemText(int item) const {
  return item >= 0 && item < itemCount() ? items_[item].text : QString();
}

int CTBMListViewHdr::ItemAtPosition(int position) const {
  return position >= 0 && position < static_cast<int>(order_.size()) ? order_[position] : -1;
}

int CTBMListViewHdr::PositionOfItem(int item) const { return IndexOf(order_, item); }

void CTBMListViewHdr::SetOrderFromDisplay(const std::vector<int>& displayOrder) {
  order_ = NormaliseOrder(displayOrder, itemCount());
  if (fixedMode_) {
    if (fixedFormerPos_ >= itemCount() || firstScrollPos_ >= itemCount()) {
      fixedMode_ = false;
      fixedItem_ = -1;
      fixedFormerPos_ = -1;
      firstScrollPos_ = 0;
    } else {
      fixedItem_ = order_[fixedFormerPos_];
      MoveEntry(order_, fixedFormerPos_, firstScrollPos_);
    }
  }
  update();
}

std::vector<int> CTBMListViewHdr::OrderAtScrollPos(int position) const {
  std::vector<int> order = order_;
  if (fixedMode_) MoveEntry(order, IndexOf(order, fixedItem_), position);
  return order;
}

std::vector<int> CTBMListViewHdr::DisplayOrderFor(const std::vector<int>& headerOrder) const {
  std::vector<int> order = headerOrder;
  if (fixedMode_) MoveEntry(order, firstScrollPos_, fixedFormerPos_);
  return order;
}

int CTBMListViewHdr::WidthBefore(int position) const {
  int width = 0;
  for (int p = 0; p < position && p < static_cast<int>(order_.size()); ++p)
    width += items_[order_[p]].width;
  return width;
}

void CTBMListViewHdr::SetFirstScrollPos(int position) {
  position = std::clamp(position, 0, std::max(itemCount() - 1, 0));
  if (fixedMode_) MoveEntry(order_, IndexOf(order_, fixedItem_), position);
  firstScrollPos_ = position;
  update();
}

void CTBMListViewHdr::EnterFixedMode(int position) {
  LeaveFixedMode();
  if (position < 0 || position >= itemCount()) return;
  fixedMode_ = true;
  fixedItem_ = order_[position];
  fixedFormerPos_ = position;
  firstScrollPos_ = position;
  update();
}

void CTBMListViewHdr::LeaveFixedMode() {
  if (!fixedMode_) return;
  order_ = DisplayOrderFor(order_);
  fixedMode_ = false;
  fixedItem_ = -1;
  fixedFormerPos_ = -1;
  firstScrollPos_ = 0;
  update();
}

void CTBMListViewHdr::SetLocks(bool resizing, bool reordering) {
  resizingLocked_ = resizing;
  reorderingLocked_ = reordering;
}

void CTBMListViewHdr::SetSortIndicator(bool show, int item, bool descending) {
  showSortIndicator_ = show;
  sortIndicatorItem_ = show && item >= 0 && item < itemCount() ? item : -1;
  sortedDescending_ = show && descending;
  update();
}

QRect CTBMListViewHdr::PositionRect(int position) const {
  int item = ItemAtPosition(position);
  if (item < 0) return QRect();
  return QRect(WidthBefore(position), 0, items_[item].width, kHeight);
}

int CTBMListViewHdr::ItemAt(int x) const {
  int left = 0;
  for (int item : order_) {
    int width = items_[item].width;
    if (width > 0 && x >= left && x < left + width) return item;
    left += width;
  }
  return -1;
}

int CTBMListViewHdr::DividerAt(int x) const {
  int best = -1;
  int bestDistance = kDividerReach + 1;
  int left = WidthBefore(firstScrollPos_);
  for (int p = firstScrollPos_; p < static_cast<int>(order_.size()); ++p) {
    int width = items_[order_[p]].width;
    left += width;
    if (width < kMinWidth) continue;
    int distance = std::abs(x - left);
    if (distance < bestDistance) {
      best = order_[p];
      bestDistance = distance;
    }
  }
  return best;
}

std::vector<int> CTBMListViewHdr::OrderAfterDrop(int from, int to) const {
  const int count = static_cast<int>(order_.size());
  if (from < 0 || from >= count || to < 0) return {};
  to = std::min(to, count - 1);
  std::vector<int> order = order_;
  const int dragged = order[from];
  if (fixedMode_ && dragged == fixedItem_) {
    if (to == from) return {};
    // The next shown column takes the fixed position; the dragged item
    // goes where it was dropped.
    order.erase(order.begin() + from);
    int next = -1;
    for (int p = from; p < static_cast<int>(order.size()); ++p) {
      if (items_[order[p]].width >= kMinWidth) {
        next = p;
        break;
      }
    }
    if (next < 0) return {};
    MoveEntry(order, next, from);
    order.insert(order.begin() + std::min(to, static_cast<int>(order.size())), dragged);
    return order;
  }
  if (fixedMode_ && to == firstScrollPos_) {
    // Dropped on the fixed position: the dragged item becomes the fixed
    // item and the old one follows it.
    order.erase(order.begin() + from);
    int fixedAt = IndexOf(order, fixedItem_);
    order.insert(order.begin() + std::max(fixedAt, 0), dragged);
    return order;
  }
  if (to == from) return {};
  MoveEntry(order, from, to);
  return order;
}

int CTBMListViewHdr::DropPositionAt(int x) const {
  const int count = static_cast<int>(order_.size());
  int insertAt = count;
  int left = WidthBefore(firstScrollPos_);
  for (int p = firstScrollPos_; p < count; ++p) {
    int width = items_[order_[p]].width;
    if (width >= kMinWidth && x < left + width / 2) {
      insertAt = p;
      break;
    }
    left += width;
  }
  int from = PositionOfItem(gestureItem_);
  return insertAt > from ? insertAt - 1 : insertAt;
}

int CTBMListViewHdr::InsertionMarkX(int x) const {
  const int count = static_cast<int>(order_.size());
  int left = WidthBefore(firstScrollPos_);
  for (int p = firstScrollPos_; p < count; ++p) {
    int width = items_[order_[p]].width;
    if (width >= kMinWidth && x < left + width / 2) return left;
    left += width;
  }
  return left;
}

// ---- input ----

void CTBMListViewHdr::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  const QPoint point = event->position().toPoint();
  lastTapPoint_ = point;
  pointerX_ = point.x();
  touchedItem_ = ItemAt(point.x());
  trackingState_ = kTapped;
  gesture_ = Gesture::kTap;
  gestureItem_ = touchedItem_;
  if (!resizingLocked_) {
    int divider = DividerAt(point.x());
    if (divider >= 0 && view_->CanEndEditForHeader()) {
      gesture_ = Gesture::kResize;
      gestureItem_ = divider;
      resizeStartWidth_ = items_[divider].width;
      trackingState_ = kTracking;
    }
  }
  if (gesture_ == Gesture::kTap) holdTimer_.start();
  update();
}

void CTBMListViewHdr::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void CTBMListViewHdr::mouseMoveEvent(QMouseEvent* event) {
  const int x = event->position().toPoint().x();
  switch (gesture_) {
    case Gesture::kResize: {
      int width = resizeStartWidth_ + (x - lastTapPoint_.x());
      SetItemWidth(gestureItem_, std::clamp(width, kMinWidth, kMaxWidth));
      break;
    }
    case Gesture::kTap:
      if (std::abs(x - lastTapPoint_.x()) < QApplication::startDragDistance()) break;
      holdTimer_.stop();
      if (!reorderingLocked_ && gestureItem_ >= 0 && view_->CanEndEditForHeader()) {
        gesture_ = Gesture::kDrag;
        trackingState_ = kTracking;
        pointerX_ = x;
        update();
      }
      break;
    case Gesture::kDrag:
      pointerX_ = x;
      update();
      break;
    case Gesture::kNone:
      break;
  }
}

void CTBMListViewHdr::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  holdTimer_.stop();
  const int x = event->position().toPoint().x();
  const Gesture gesture = gesture_;
  const int item = gestureItem_;
  const bool sortTap = gesture == Gesture::kTap && showSortIndicator_ &&
                       trackingState_ == kTapped && touchedItem_ >= 0 && ItemAt(x) == touchedItem_;
  const int dropFrom = PositionOfItem(item);
  const int dropTo = gesture == Gesture::kDrag ? DropPositionAt(x) : -1;
  EndTracking();
  // The list view may rebuild the header's items from here on.
  if (sortTap) {
    view_->OnHeaderSortTap(item);
  } else if (gesture == Gesture::kResize) {
    view_->OnHeaderResized(item, items_[item].width);
  } else if (gesture == Gesture::kDrag && dropTo >= 0) {
    view_->OnHeaderDropped(dropFrom, dropTo);
  }
}

void CTBMListViewHdr::OnTapAndHold() {
  if (gesture_ != Gesture::kTap) return;
  const QPoint point = lastTapPoint_;
  EndTracking();
  view_->OpenContextMenu(CTBMListView::kHeaderMenu, mapToGlobal(point));
}

void CTBMListViewHdr::EndTracking() {
  holdTimer_.stop();
  gesture_ = Gesture::kNone;
  trackingState_ = kIdle;
  update();
}

// ---- drawing ----

void CTBMListViewHdr::LoadPictures() {
  picturesRatio_ = devicePixelRatioF();
  sortPictures_[0] = ui::LoadPicture(kPictureAscending, picturesRatio_);
  sortPictures_[1] = ui::LoadPicture(kPictureDescending, picturesRatio_);
}

void CTBMListViewHdr::paintEvent(QPaintEvent* event) {
  if (picturesRatio_ != devicePixelRatioF()) LoadPictures();
  QPainter painter(this);
  painter.fillRect(event->rect(), palette().button());
  const bool pressedTap = gesture_ == Gesture::kTap && trackingState_ == kTapped;
  for (int p = 0; p < static_cast<int>(order_.size()); ++p) {
    QRect rect = PositionRect(p);
    if (rect.width() <= 0 || !rect.intersects(event->rect())) continue;
    DrawItem(painter, p, pressedTap && order_[p] == touchedItem_);
  }
  if (gesture_ == Gesture::kDrag) {
    // The dragged item follows the stylus; a bar marks where it would go.
    painter.save();
    painter.setOpacity(0.6);
    painter.translate(pointerX_ - lastTapPoint_.x(), 0);
    DrawItem(painter, PositionOfItem(gestureItem_), true);
    painter.restore();
    int markX = InsertionMarkX(pointerX_);
    painter.fillRect(QRect(markX - 1, 0, 2, kHeight), palette().shadow());
  }
}

void CTBMListViewHdr::DrawItem(QPainter& painter, int position, bool pressed) const {
  const int item = ItemAtPosition(position);
  const QRect rect = PositionRect(position);
  const QBrush face = palette().button();
  qDrawWinButton(&painter, rect, palette(), pressed, &face);

  QRect textArea = rect.adjusted(kTextMargin, 0, -kTextMargin, 0);
  if (pressed) textArea.translate(1, 1);
  const QPixmap* picture = nullptr;
  if (showSortIndicator_ && item == sortIndicatorItem_) {
    const QPixmap& candidate = sortPictures_[sortedDescending_ ? 1 : 0];
    if (!candidate.isNull()) picture = &candidate;
  }
  const QSize pictureSize =
      picture != nullptr ? picture->deviceIndependentSize().toSize() : QSize();
  const int pictureSpace = picture != nullptr ? kPictureGap + pictureSize.width() : 0;

  const QFontMetrics metrics(font());
  const QString text = CutTextToWidth(items_[item].text, metrics,
                                      std::max(textArea.width() - pictureSpace, 0), true, true);
  const int textWidth = metrics.horizontalAdvance(text);
  const int groupWidth = textWidth + pictureSpace;
  const int left = textArea.left() + std::max((textArea.width() - groupWidth) / 2, 0);

  painter.save();
  painter.setClipRect(rect.adjusted(1, 1, -1, -1));
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::ButtonText));
  painter.drawText(QRect(left, textArea.top(), textWidth, textArea.height()),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
  if (picture != nullptr) {
    QPoint at(left + textWidth + kPictureGap,
              textArea.top() + (textArea.height() - pictureSize.height()) / 2);
    painter.drawPixmap(at, *picture);
  }
  painter.restore();
}

}  // namespace tbm::app
