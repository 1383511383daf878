// CTBMListViewHdr: the column header of the list view (CTBMListView), an
// owner-drawn child widget 16 pixels high across the top of the view.
//
// It has one item per field: the item index is the field index, and the
// item's position in the header's order is its display position. An item's
// width is the field's list column width, 0 for a hidden column (below 16).
// The header is moved left by the width of the items before its first
// scroll position so that the item at that position sits at the list's
// left edge; the list draws its columns in the header's order from there.
//
// In fixed-first-column mode one item (the fixed item) is kept at the first
// scroll position whatever the scrolling: the header's order is then the
// document's display order with the fixed item moved from the position it
// had before it was fixed to the first scroll position.
//
// Input: a tap on an item notes it as the touched item (the column commands
// act on it) and, when the sort indicator is shown, sorts by its field on
// release; dragging a divider resizes a column (kept between 16 and 224
// pixels); dragging an item reorders; tap-and-hold opens the header's
// context menu. Each gesture first asks the list view whether its cell edit
// can end, and the list view stores the result through the document.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace tbm::app {

class CTBMListView;

class CTBMListViewHdr : public QWidget {
 public:
  static constexpr int kHeight = 16;
  static constexpr int kControlId = 3001;
  // Tracked widths stay in this range; items narrower than kMinWidth are
  // hidden (width 0).
  static constexpr int kMinWidth = 16;
  static constexpr int kMaxWidth = 224;
  // Pictures of the sort indicator, 11 by 9 pixels.
  static constexpr std::uint32_t kPictureAscending = 305;
  static constexpr std::uint32_t kPictureDescending = 306;

  // Tracking states.
  static constexpr int kIdle = 0;
  static constexpr int kTracking = 1;  // resizing or dragging an item
  static constexpr int kTapped = 2;

  explicit CTBMListViewHdr(CTBMListView* view);
  ~CTBMListViewHdr() override;

  // Items. texts[i] and widths[i] are field i's name and column width;
  // order is the display order (position -> item) and holds every item
  // once. Leaves fixed-first-column mode and the scroll position 0.
  void SetItems(const std::vector<QString>& texts, const std::vector<int>& widths,
                const std::vector<int>& order);
  int itemCount() const { return static_cast<int>(items_.size()); }
  // Sets an item's width; below kMinWidth it becomes 0 (hidden).
  void SetItemWidth(int item, int width);
  int itemWidth(int item) const;
  bool IsItemShown(int item) const { return itemWidth(item) >= kMinWidth; }
  QString itemText(int item) const;

  // The header's order: position -> item, and its inverse.
  const std::vector<int>& order() const { return order_; }
  int ItemAtPosition(int position) const;
  int PositionOfItem(int item) const;
  // Takes the order from the document's display order (position -> item),
  // keeping the fixed-first-column state: in that mode the item at the
  // fixed item's former position becomes the fixed item and is moved to
  // the first scroll position.
  void SetOrderFromDisplay(const std::vector<int>& displayOrder);
  // The order the header would have with its first scroll position at
  // position (the fixed item moved there in fixed-first-column mode).
  std::vector<int> OrderAtScrollPos(int position) const;
  // The document's display order a header order stands for: the item at
  // the first scroll position (the fixed item) put back at the fixed
  // item's former position in fixed-first-column mode.
  std::vector<int> DisplayOrderFor(const std::vector<int>& headerOrder) const;

  // order made a permutation of 0 .. count - 1: entries out of range or
  // repeated are dropped and the missing items appended in index order.
  static std::vector<int> NormaliseOrder(const std::vector<int>& order, int count);

  // Total width of the items before position (in the header's order).
  int WidthBefore(int position) const;

  // Scrolling: the display position of the first column at the list's
  // left edge. In fixed-first-column mode the fixed item moves with it.
  int firstScrollPos() const { return firstScrollPos_; }
  void SetFirstScrollPos(int position);

  // Fixed-first-column mode: the item at position is pinned there.
  bool fixedMode() const { return fixedMode_; }
  int fixedItem() const { return fixedItem_; }
  int fixedItemFormerPos() const { return fixedFormerPos_; }
  void EnterFixedMode(int position);
  void LeaveFixedMode();

  bool resizingLocked() const { return resizingLocked_; }
  bool reorderingLocked() const { return reorderingLocked_; }
  void SetLocks(bool resizing, bool reordering);

  // Shows or removes the sort indicator; when shown it is on item (the
  // ascending or descending picture right of its text), none when item is
  // -1.
  void SetSortIndicator(bool show, int item, bool descending);
  bool showsSortIndicator() const { return showSortIndicator_; }
  int sortIndicatorItem() const { return sortIndicatorItem_; }
  bool sortedDescending() const { return sortedDescending_; }

  int trackingState() const { return trackingState_; }
  int touchedItem() const { return touchedItem_; }
  QPoint lastTapPoint() const { return lastTapPoint_; }

  // The rectangle of the item at position, in the header's coordinates.
  QRect PositionRect(int position) const;
  // The item under x (header coordinates), -1 when none.
  int ItemAt(int x) const;
  // The item whose right divider is under x and may be resized from
  // there, -1 when none.
  int DividerAt(int x) const;

  // The order after the item at position `from` is dropped at position
  // `to`, with the fixed-first-column rules: the fixed item dropped
  // elsewhere gives the fixed position to the next shown column; an item
  // dropped on the fixed position becomes the fixed item with the old one
  // next to it. Empty when nothing changes.
  std::vector<int> OrderAfterDrop(int from, int to) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  struct Item {
    QString text;
    int width = 0;
  };

  void OnTapAndHold();
  void EndTracking();
  // The drop position (final index of the dragged item) for x.
  int DropPositionAt(int x) const;
  // The gap x where the dragged item would be inserted, for the marker.
  int InsertionMarkX(int x) const;
  void DrawItem(QPainter& painter, int position, bool pressed) const;
  void LoadPictures();

  CTBMListView* view_;

  // State kept as the list's header keeps it.
  int firstScrollPos_ = 0;
  int fixedItem_ = -1;
  int fixedFormerPos_ = -1;
  int sortIndicatorItem_ = -1;
  bool showSortIndicator_ = false;
  bool sortedDescending_ = false;
  bool fixedMode_ = false;
  bool resizingLocked_ = true;
  bool reorderingLocked_ = true;
  int trackingState_ = kIdle;
  int touchedItem_ = -1;
  QPoint lastTapPoint_;
  QPixmap sortPictures_[2];
  qreal picturesRatio_ = 0;

  std::vector<Item> items_;
  std::vector<int> order_;

  // The gesture in progress.
  enum class Gesture { kNone, kTap, kResize, kDrag };
  Gesture gesture_ = Gesture::kNone;
  int gestureItem_ = -1;
  int resizeStartWidth_ = 0;
  int pointerX_ = 0;
  QTimer holdTimer_;
};

}  // namespace tbm::app
