#include "TBMListView.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "CommandMenus.h"
#include "FieldEditor.h"
#include "FrameWnd.h"
#include "Resources.h"
#include "WinApp.h"

namespace tbm::app {

namespace {

constexpr int kHeaderHeight = CTBMListViewHdr::kHeight;
// Cells are inset this much from their column's right edge (and the first
// also from its left); a clipped last cell narrower than kMinLastCell is
// not drawn.
constexpr int kCellInset = 2;
constexpr int kMinLastCell = 4;
constexpr int kCheckBoxSize = 15;
constexpr int kCheckLabelGap = 5;
// An editor over a cell is at least this wide.
constexpr int kMinEditorWidth = 120;
// Strings naming a check box whose value list is missing or empty.
constexpr std::uint32_t kStringCheckNoList = 5012;
constexpr std::uint32_t kStringCheckEmptyList = 5013;

QColor ColourFromRgb(std::uint32_t colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

// The check-box label of a value list: its first non-empty line, or the
// strings for a missing or an empty list.
QString CheckBoxLabel(CTBMDoc* document, std::uint8_t valueList) {
  std::optional<std::vector<std::u16string>> lines = document->GetValueList(valueList);
  if (std::optional<std::u16string> caption = CheckBoxCaption(lines))
    return ui::ToQString(*caption);
  return ui::LoadQString(lines ? kStringCheckEmptyList : kStringCheckNoList);
}

Qt::Alignment FieldAlignment(std::uint8_t alignment) {
  switch (alignment) {
    case 2:
      return Qt::AlignHCenter;
    case 3:
      return Qt::AlignRight;
    default:
      return Qt::AlignLeft;
  }
}

// Moves the entry at from to to in order, as the document's
// MoveDisplayField moves a field in the display order.
void SimulateMove(std::vector<int>& order, int from, int to) {
  int entry = order[from];
  order.erase(order.begin() + from);
  order.insert(order.begin() + to, entry);
}

}  // namespace

CTBMListView::CTBMListView(QWidget* parent) : CTBMView(kListViewKind, parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  headerFont_ = MakeViewFont(kFontNormal);
  header_.hide();
  verticalBar_.hide();
  horizontalBar_.hide();
  verticalBar_.setFocusPolicy(Qt::NoFocus);
  horizontalBar_.setFocusPolicy(Qt::NoFocus);
  StyleViewScrollBar(&verticalBar_);
  StyleViewScrollBar(&horizontalBar_);
  QObject::connect(&verticalBar_, &QAbstractSlider::actionTriggered, this,
                   [this](int action) { OnVerticalAction(action); });
  QObject::connect(&horizontalBar_, &QAbstractSlider::actionTriggered, this,
                   [this](int action) { OnHorizontalAction(action); });
  RegisterCommands();
}

CTBMListView::~CTBMListView() = default;

// ---- fields and options ----

std::uint32_t CTBMListView::ListFlags() {
  CTBMDoc* document = GetDocument();
  return document != nullptr ? document->GetViewFlags(kListViewKind) : 0;
}

int CTBMListView::RecordCount() {
  CTBMDoc* document = GetDocument();
  return document != nullptr ? document->GetRecordCount() : 0;
}

void CTBMListView::ReadFields() {
  fields_.clear();
  CTBMDoc* document = GetDocument();
  if (document == nullptr) return;
  const int count = document->GetFieldCount();
  fields_.resize(static_cast<std::size_t>(count));
  for (int field = 0; field < count; ++field) {
    FieldInfo& info = fields_[field];
    info.name = ui::ToQString(document->GetFieldName(static_cast<std::int16_t>(field)));
    info.display = document->GetFieldDisplay(static_cast<std::int16_t>(field));
    info.option = document->GetFieldOption(static_cast<std::int16_t>(field));
    info.type = document->GetFieldType(static_cast<std::int16_t>(field));
    if (info.option.style == kStyleCheckBox)
      info.checkLabel = CheckBoxLabel(document, info.option.valueList);
  }
  ReadDisplayOrder();
}

void CTBMListView::ReadDisplayOrder() {
  CTBMDoc* document = GetDocument();
  std::vector<int> order;
  const int count = static_cast<int>(fields_.size());
  for (int position = 0; position < count && document != nullptr; ++position)
    order.push_back(document->GetFieldAtDisplayPos(static_cast<std::uint16_t>(position)));
  // A damaged order (a field twice, one missing) still shows every field
  // once.
  displayOrder_ = CTBMListViewHdr::NormaliseOrder(order, count);
}

int CTBMListView::FieldWidth(int field) const {
  if (field < 0 || field >= static_cast<int>(fields_.size())) return 0;
  int width = fields_[field].display.width;
  return width >= CTBMListViewHdr::kMinWidth ? width : 0;
}

int CTBMListView::FirstVisibleColumn() const {
  for (int position = 0; position < static_cast<int>(displayOrder_.size()); ++position) {
    if (IsFieldShown(displayOrder_[position])) return position;
  }
  return -1;
}

int CTBMListView::ComputeRowHeight() const {
  int height = viewFont().pixelSize();
  if (height <= 0) height = QFontMetrics(viewFont()).height();
  return std::max(height, kMinRowHeight);
}

void CTBMListView::CreateHeader() {
  std::vector<QString> texts;
  std::vector<int> widths;
  for (int field = 0; field < static_cast<int>(fields_.size()); ++field) {
    texts.push_back(fields_[field].name);
    widths.push_back(FieldWidth(field));
  }
  header_.setFont(headerFont_);
  header_.SetItems(texts, widths, displayOrder_);
  headerItemCounter_ = static_cast<std::int16_t>(displayOrder_.size());
  header_.show();
  ApplyListFlags(ListFlags());
}

void CTBMListView::RefreshHeaderWidths() {
  for (int field = 0; field < static_cast<int>(fields_.size()); ++field)
    header_.SetItemWidth(field, FieldWidth(field));
}

void CTBMListView::ApplyListFlags(std::uint32_t flags) {
  header_.LeaveFixedMode();
  firstScrollColumn_ = 0;
  if ((flags & kListFixedFirstColumn) != 0) {
    int first = FirstVisibleColumn();
    if (first >= 0) {
      header_.EnterFixedMode(first);
      firstScrollColumn_ = static_cast<std::int16_t>(first);
    }
  }
  header_.SetLocks((flags & kListResizable) == 0, (flags & kListReorderable) == 0);
  RefreshSortIndicator();
}

void CTBMListView::RefreshSortIndicator() {
  CTBMDoc* document = GetDocument();
  if (document == nullptr || (ListFlags() & kListSortIndicator) == 0) {
    header_.SetSortIndicator(false, -1, false);
    return;
  }
  std::int16_t field = -1;
  bool ascending = true;
  document->GetSortDef(&field, &ascending);
  header_.SetSortIndicator(true, field, !ascending);
}

// ---- updates ----

void CTBMListView::OnInitialUpdate() {
  CTBMView::OnInitialUpdate();
  CTBMDoc* document = GetDocument();
  if (document == nullptr) return;
  ReadFields();
  CreateHeader();
  // The font first, so that the row height is the font's.
  SetFontKind((ListFlags() & kListLargeFont) != 0 ? kFontLarge : kFontNormal);
  rowHeight_ = ComputeRowHeight();
  SelectCurrentRecord();
  SetFirstScrollColumn(std::max(FirstVisibleColumn(), 0));
  UpdateScrollBars();
  MakeSelectedRowVisible();
  initialised_ = true;
  update();
}

void CTBMListView::OnUpdate(ui::CView* sender, int hint) {
  if (!initialised_ || GetDocument() == nullptr) {
    CTBMView::OnUpdate(sender, hint);
    return;
  }
  const bool options = (hint & kHintOptions) != 0;
  const bool navigation = (hint & kHintNavigation) != 0;
  const bool recordSet = (hint & kHintRecordSet) != 0;
  const std::uint32_t flags = ListFlags();
  if (options) SetFontKind((flags & kListLargeFont) != 0 ? kFontLarge : kFontNormal);
  if (recordSet || navigation) {
    SelectCurrentRecord();
    MakeSelectedRowVisible();
  }
  if (options || recordSet) {
    ReadFields();
    rowHeight_ = ComputeRowHeight();
    if (!recordSet) RefreshHeaderWidths();
    if (hint == kHintOptionsResetOrder) header_.LeaveFixedMode();
    header_.SetOrderFromDisplay(displayOrder_);
    ApplyListFlags(flags);
    SetFirstScrollColumn(std::max(FirstVisibleColumn(), 0));
    UpdateScrollBars();
    if (recordSet) RefreshSortIndicator();
    ComputeBottomRow();
    MakeSelectedRowVisible();
  }
  if (hint != kHintNavigation) update();
}

// ---- rows ----

QRect CTBMListView::RowArea() const {
  int clientWidth = width() - (verticalBar_.isHidden() ? 0 : verticalBar_.width());
  int clientHeight = height() - (horizontalBar_.isHidden() ? 0 : horizontalBar_.height());
  return QRect(0, kHeaderHeight, std::max(clientWidth, 0),
               std::max(clientHeight - kHeaderHeight, 0));
}

int CTBMListView::VisibleRows() const {
  const int height = RowArea().height();
  return height / rowHeight_ + (height % rowHeight_ == 0 ? 0 : 1);
}

int CTBMListView::FullRows() const { return RowArea().height() / rowHeight_; }

bool CTBMListView::RowsExact() const { return RowArea().height() % rowHeight_ == 0; }

int CTBMListView::MaxTopRow() {
  // The last record on the last whole row: a partly shown row at the
  // bottom never hides the last record.
  return std::max(RecordCount() - std::max(FullRows(), 1), 0);
}

bool CTBMListView::AllRecordsFit() { return RecordCount() <= FullRows(); }

void CTBMListView::ComputeBottomRow() {
  const int count = RecordCount();
  if (count == 0) {
    topRow_ = bottomRow_ = selectedRow_ = -1;
    return;
  }
  if (topRow_ < 0) topRow_ = 0;
  if (topRow_ >= count) topRow_ = static_cast<std::int16_t>(count - 1);
  bottomRow_ =
      static_cast<std::int16_t>(std::min(topRow_ + std::max(VisibleRows(), 1) - 1, count - 1));
}

QRect CTBMListView::RowBand(std::int16_t row) const {
  if (row < 0 || topRow_ < 0 || row < topRow_ || row > bottomRow_) return QRect();
  const QRect area = RowArea();
  return QRect(area.left(), area.top() + (row - topRow_) * rowHeight_, area.width(), rowHeight_);
}

std::int16_t CTBMListView::RowAt(QPoint point) const {
  const QRect area = RowArea();
  if (!area.contains(point) || topRow_ < 0) return -1;
  int row = topRow_ + (point.y() - area.top()) / rowHeight_;
  return row <= bottomRow_ ? static_cast<std::int16_t>(row) : -1;
}

void CTBMListView::SelectRow(std::int16_t row) {
  if (row == selectedRow_ || row < 0 || row >= RecordCount()) return;
  const std::int16_t old = selectedRow_;
  selectedRow_ = row;
  update(RowBand(old));
  update(RowBand(row));
  if (CTBMDoc* document = GetDocument(); document != nullptr) document->SetRecordIndex(row);
}

void CTBMListView::SelectCurrentRecord() {
  CTBMDoc* document = GetDocument();
  const int count = RecordCount();
  if (document == nullptr || count == 0) {
    topRow_ = bottomRow_ = selectedRow_ = -1;
    return;
  }
  if (selectedRow_ >= count) selectedRow_ = -1;
  std::int16_t current = document->GetRecordIndex();
  if (current < 0 || current >= count) current = 0;
  SelectRow(current);
  if (document->GetRecordIndex() != current) document->SetRecordIndex(current);
}

void CTBMListView::MakeSelectedRowVisible() {
  if (selectedRow_ < 0) return;
  ComputeBottomRow();
  const int fullRows = std::max(FullRows(), 1);
  if (selectedRow_ < topRow_) {
    ScrollToTopRow(selectedRow_);
  } else if (selectedRow_ > topRow_ + fullRows - 1) {
    ScrollToTopRow(selectedRow_ - fullRows + 1);
  }
}

void CTBMListView::ScrollToTopRow(int newTop) {
  const int count = RecordCount();
  if (count == 0) return;
  newTop = std::clamp(newTop, 0, count - 1);
  if (newTop == topRow_) return;
  const int dy = (topRow_ - newTop) * rowHeight_;
  topRow_ = static_cast<std::int16_t>(newTop);
  ComputeBottomRow();
  const QRect area = RowArea();
  if (std::abs(dy) < area.height()) {
    // Moves the rows still shown; Qt paints only the uncovered band.
    scroll(0, dy, area);
  } else {
    update(area);
  }
  // A field editor over a cell moves with its row.
  if (QWidget* editor = editorControl(); editor != nullptr)
    editor->move(editor->pos() + QPoint(0, dy));
  verticalBar_.setValue(topRow_);
}

void CTBMListView::ScrollVertically(Scroll request, int thumbRow) {
  if (!EndEdit()) return;
  if (RecordCount() == 0) return;
  // A page is the rows shown whole, so that no record is paged past unseen.
  const int page = std::max(FullRows(), 1);
  int newTop = topRow_;
  switch (request) {
    case Scroll::kLineBack:
      newTop = topRow_ - 1;
      break;
    case Scroll::kLineForward:
      newTop = topRow_ + 1;
      break;
    case Scroll::kPageBack:
      newTop = topRow_ - page;
      break;
    case Scroll::kPageForward:
      newTop = topRow_ + page;
      break;
    case Scroll::kThumb:
      newTop = thumbRow;
      break;
  }
  // Down stops with the last record on the last whole row, up at row 0.
  if (newTop > topRow_) newTop = std::min(newTop, std::max(MaxTopRow(), int{topRow_}));
  ScrollToTopRow(std::max(newTop, 0));
  verticalBar_.setValue(topRow_);
}

// ---- columns ----

std::vector<int> CTBMListView::DrawnItems(int scrollPos) const {
  std::vector<int> order = header_.OrderAtScrollPos(scrollPos);
  std::vector<int> drawn;
  for (int position = std::max(scrollPos, 0); position < static_cast<int>(order.size());
       ++position) {
    if (IsFieldShown(order[position])) drawn.push_back(order[position]);
  }
  return drawn;
}

int CTBMListView::DrawnWidth(int scrollPos) const {
  int width = 0;
  for (int field : DrawnItems(scrollPos)) width += FieldWidth(field);
  return width;
}

std::vector<CTBMListView::Column> CTBMListView::DrawnColumns() const {
  std::vector<Column> columns;
  const QRect area = RowArea();
  int left = area.left();
  for (int field : DrawnItems(firstScrollColumn_)) {
    if (left >= area.right() + 1) break;
    columns.push_back(Column{field, left, FieldWidth(field)});
    left += FieldWidth(field);
  }
  return columns;
}

int CTBMListView::FieldAt(QPoint point) const {
  for (const Column& column : DrawnColumns()) {
    if (point.x() >= column.left && point.x() < column.left + column.width) return column.field;
  }
  return -1;
}

int CTBMListView::NextScrollStop(int scrollPos) const {
  // Stops when the columns from here fit.
  if (DrawnWidth(scrollPos) <= RowArea().width()) return scrollPos;
  const int count = static_cast<int>(displayOrder_.size());
  const std::vector<int> drawn = DrawnItems(scrollPos);
  for (int next = scrollPos + 1; next < count; ++next) {
    if (DrawnItems(next) == drawn) continue;
    // Hidden columns are passed over: land on the last position showing
    // the same columns.
    while (next + 1 < count && DrawnItems(next + 1) == DrawnItems(next)) ++next;
    return next;
  }
  return scrollPos;
}

int CTBMListView::PreviousScrollStop(int scrollPos) const {
  const int first = std::max(FirstVisibleColumn(), 0);
  const std::vector<int> drawn = DrawnItems(scrollPos);
  for (int previous = scrollPos - 1; previous >= first; --previous) {
    if (DrawnItems(previous) != drawn) return previous;
  }
  return scrollPos;
}

int CTBMListView::ColumnsPerPage() const {
  const std::vector<int> drawn = DrawnItems(firstScrollColumn_);
  const int areaWidth = RowArea().width();
  std::size_t index = 0;
  int used = 0;
  if (header_.fixedMode() && !drawn.empty()) {
    used = FieldWidth(drawn[0]);
    index = 1;
  }
  int columns = 0;
  for (; index < drawn.size(); ++index) {
    used += FieldWidth(drawn[index]);
    if (used > areaWidth) break;
    ++columns;
  }
  return std::max(columns, 1);
}

void CTBMListView::SetFirstScrollColumn(int position) {
  firstScrollColumn_ = static_cast<std::int16_t>(position);
  header_.SetFirstScrollPos(position);
  LayoutChildren();
  horizontalBar_.setValue(header_.WidthBefore(firstScrollColumn_));
}

void CTBMListView::ScrollHorizontally(Scroll request, int thumbPixel) {
  if (!EndEdit()) return;
  // One field (two with the first fixed) has nothing to scroll.
  if (HorizontalRange() == 0) return;
  int target = firstScrollColumn_;
  switch (request) {
    case Scroll::kLineBack:
      target = PreviousScrollStop(target);
      break;
    case Scroll::kLineForward:
      target = NextScrollStop(target);
      break;
    case Scroll::kPageBack:
    case Scroll::kPageForward: {
      const int columns = ColumnsPerPage();
      for (int step = 0; step < columns; ++step) {
        target = request == Scroll::kPageBack ? PreviousScrollStop(target) : NextScrollStop(target);
      }
      break;
    }
    case Scroll::kThumb: {
      // The column under the thumb's pixel position: the last stop whose
      // columns before it end at or before that position.
      int stop = std::max(FirstVisibleColumn(), 0);
      target = stop;
      for (;;) {
        int next = NextScrollStop(stop);
        if (next == stop) break;
        std::vector<int> order = header_.OrderAtScrollPos(next);
        int before = 0;
        for (int position = 0; position < next; ++position) before += FieldWidth(order[position]);
        if (before > thumbPixel) break;
        target = stop = next;
      }
      break;
    }
  }
  if (target != firstScrollColumn_) {
    SetFirstScrollColumn(target);
    update(RowArea());
  }
  horizontalBar_.setValue(header_.WidthBefore(firstScrollColumn_));
}

// ---- scroll bars and children ----

int CTBMListView::HorizontalRange() const {
  const int fieldCount = static_cast<int>(fields_.size());
  if (fieldCount <= (header_.fixedMode() ? 2 : 1)) return 0;
  int total = 0;
  for (int field = 0; field < fieldCount; ++field) total += FieldWidth(field);
  return total;
}

void CTBMListView::UpdateScrollBars() {
  const int count = RecordCount();
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const int total = HorizontalRange();
  // Which bars are needed depends on the room the other leaves: showing a
  // bar only takes room, so two rounds settle it.
  bool needVertical = false;
  bool needHorizontal = false;
  for (int round = 0; round < 3; ++round) {
    const int clientWidth = width() - (needVertical ? extent : 0);
    const int rowsHeight = height() - (needHorizontal ? extent : 0) - kHeaderHeight;
    const int fullRows = std::max(rowsHeight, 0) / rowHeight_;
    needVertical = needVertical || (!fields_.empty() && count > fullRows);
    needHorizontal = needHorizontal || total > clientWidth;
  }
  verticalBar_.setVisible(needVertical);
  horizontalBar_.setVisible(needHorizontal);
  LayoutChildren();

  // Vertical: rows; with every record shown (and no cell edit) the top row
  // is row 0.
  if (!cellEditActive()) {
    if (AllRecordsFit()) {
      topRow_ = static_cast<std::int16_t>(count > 0 ? 0 : -1);
    } else if (topRow_ > MaxTopRow()) {
      topRow_ = static_cast<std::int16_t>(MaxTopRow());
    }
  }
  ComputeBottomRow();
  if (fields_.empty() || !needVertical) {
    verticalBar_.setRange(0, 0);
  } else {
    verticalBar_.setRange(0, MaxTopRow());
  }
  verticalBar_.setPageStep(std::max(VisibleRows(), 1));
  verticalBar_.setSingleStep(1);
  verticalBar_.setValue(std::max<int>(topRow_, 0));

  // Horizontal: pixels.
  const int clientWidth = RowArea().width();
  horizontalBar_.setRange(0, std::max(total - clientWidth, 0));
  horizontalBar_.setPageStep(std::max(clientWidth, 1));
  horizontalBar_.setSingleStep(CTBMListViewHdr::kMinWidth);
  horizontalBar_.setValue(header_.WidthBefore(firstScrollColumn_));
}

void CTBMListView::LayoutChildren() {
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const bool vertical = !verticalBar_.isHidden();
  const bool horizontal = !horizontalBar_.isHidden();
  if (vertical)
    verticalBar_.setGeometry(width() - extent, 0, extent, height() - (horizontal ? extent : 0));
  if (horizontal)
    horizontalBar_.setGeometry(0, height() - extent, width() - (vertical ? extent : 0), extent);
  const int clientWidth = RowArea().width();
  const int offset = header_.WidthBefore(firstScrollColumn_);
  header_.setGeometry(-offset, 0, offset + clientWidth, kHeaderHeight);
}

void CTBMListView::OnVerticalAction(int action) {
  const int position = verticalBar_.sliderPosition();
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      ScrollVertically(Scroll::kLineBack);
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      ScrollVertically(Scroll::kLineForward);
      break;
    case QAbstractSlider::SliderPageStepSub:
      ScrollVertically(Scroll::kPageBack);
      break;
    case QAbstractSlider::SliderPageStepAdd:
      ScrollVertically(Scroll::kPageForward);
      break;
    case QAbstractSlider::SliderMove:
      ScrollVertically(Scroll::kThumb, position);
      break;
    default:
      break;
  }
  // The bar shows where the rows are, not where it was asked to go.
  verticalBar_.setSliderPosition(std::max<int>(topRow_, 0));
}

void CTBMListView::OnHorizontalAction(int action) {
  const int position = horizontalBar_.sliderPosition();
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      ScrollHorizontally(Scroll::kLineBack);
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      ScrollHorizontally(Scroll::kLineForward);
      break;
    case QAbstractSlider::SliderPageStepSub:
      ScrollHorizontally(Scroll::kPageBack);
      break;
    case QAbstractSlider::SliderPageStepAdd:
      ScrollHorizontally(Scroll::kPageForward);
      break;
    case QAbstractSlider::SliderMove:
      ScrollHorizontally(Scroll::kThumb, position);
      break;
    default:
      break;
  }
  horizontalBar_.setSliderPosition(header_.WidthBefore(firstScrollColumn_));
}

void CTBMListView::resizeEvent(QResizeEvent* event) {
  CTBMView::resizeEvent(event);
  if (!initialised_) {
    LayoutChildren();
    return;
  }
  rowHeight_ = ComputeRowHeight();
  UpdateScrollBars();
  update(RowArea());
}

// ---- the CTBMView operations ----

QRect CTBMListView::GetCellRect(std::int16_t record, std::int16_t field) {
  if (record < 0 || topRow_ < 0 || field < 0 || field >= static_cast<int>(fields_.size()))
    return QRect();
  const std::vector<Column> columns = DrawnColumns();
  auto column = std::find_if(columns.begin(), columns.end(),
                             [field](const Column& c) { return c.field == field; });
  if (column == columns.end()) return QRect();
  const QRect area = RowArea();
  QRect rect(column->left, area.top() + (record - topRow_) * rowHeight_, column->width, rowHeight_);
  const FieldInfo& info = fields_[field];
  if (info.option.style == kStyleCheckBox) {
    rect.adjust(column == columns.begin() ? kCellInset : 0, -1, 0, 2);
  } else if (info.type == 3 || info.type == 4) {
    rect.adjust(1, 1, 0, 3);
  } else if (info.option.style == kStyleZoom) {
    rect.adjust(1, 1, -1, -3);
  } else {
    rect.adjust(1, 2, 0, -4);
    if (rect.width() < kMinEditorWidth) {
      rect.setWidth(kMinEditorWidth);
      if (rect.right() > area.right()) rect.moveRight(area.right());
      if (rect.left() < area.left()) rect.moveLeft(area.left());
    }
    rect.setHeight(rect.height() + 2 * rowHeight_);
  }
  if (rect.top() < area.top()) rect.moveTop(area.top());
  return rect;
}

QRect CTBMListView::EditorRect() {
  if (!cellEditActive()) return QRect();
  if (QWidget* editor = editorControl(); editor != nullptr) return editor->geometry();
  return GetCellRect(editRecord(), editField());
}

bool CTBMListView::WantsEditorScrollBar(std::int16_t, std::int16_t) { return true; }

int CTBMListView::GetCellHeight() { return rowHeight_; }

bool CTBMListView::EndEdit() {
  const bool wasActive = cellEditActive();
  const QRect former = EditorRect();
  if (!CTBMView::EndEdit()) return false;
  if (wasActive) {
    if (AllRecordsFit()) {
      ScrollToTopRow(0);
      update();
    }
    update(former);
    setFocus();
  }
  return true;
}

void CTBMListView::EnsureVisible(std::int16_t record, std::int16_t field) {
  if (record < 0 || field < 0 || field >= static_cast<int>(fields_.size()) || selectedRow_ < 0)
    return;
  const FieldInfo& info = fields_[field];
  // A drop-down editor's list closes while the rows move, and the editor
  // comes back inside the row area when it passes its right edge.
  CFieldEditor* dropDown = cellEditActive() && (info.option.style == kStyleDropList ||
                                                info.option.style == kStyleDropCombo)
                               ? editor()
                               : nullptr;
  if (dropDown != nullptr) {
    dropDown->Activate(true);
    const QRect rect = dropDown->GetRect();
    if (rect.right() > RowArea().right()) dropDown->Offset(RowArea().right() - rect.right(), 0);
  }
  // A date's calendar opens below the cell: the row goes to the top.
  if (info.type == kFieldTypeDate && info.option.style != kStyleDropList) {
    ScrollToTopRow(selectedRow_);
  } else if (info.option.style == kStyleEdit) {
    if (GetCellRect(record, field).bottom() > RowArea().bottom()) ScrollToTopRow(selectedRow_);
  } else {
    MakeSelectedRowVisible();
  }
  if (dropDown != nullptr) dropDown->Activate(false);
}

// ---- taps and keys ----

void CTBMListView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    CTBMView::mousePressEvent(event);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  OnTapDown(event->position().toPoint());
}

void CTBMListView::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void CTBMListView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    CTBMView::mouseReleaseEvent(event);
    return;
  }
  OnTapUp(event->position().toPoint());
}

void CTBMListView::OnTapDown(QPoint point) {
  if (!RowArea().contains(point) || GetDocument() == nullptr) return;
  // Each tap is a new gesture: a menu shown by the last one is over.
  contextMenuShown_ = false;
  if ((ListFlags() & kListEditing) == 0) {
    highlight_ = true;
    const std::int16_t row = RowAt(point);
    SelectRow(row);
    tappedRow_ = row;
    // A hold from here on opens the rows' menu (OnTapAndHold).
    return;
  }

  const std::int16_t row = RowAt(point);
  if (row < 0) {
    // Below the last row.
    EndEdit();
    highlight_ = true;
    update(RowBand(selectedRow_));
    return;
  }
  highlight_ = false;
  update(RowBand(selectedRow_));
  const bool editWasActive = cellEditActive();
  const bool wasSelected = row == selectedRow_;
  bool ended = true;
  if (editWasActive) {
    if (!EditorRect().contains(point)) {
      const std::int16_t editedField = editField();
      const bool editedCheckBox = editedField >= 0 &&
                                  editedField < static_cast<int>(fields_.size()) &&
                                  fields_[editedField].option.style == kStyleCheckBox;
      ended = EndEdit();
      if (ended && editedCheckBox) SelectRow(row);
    } else {
      ended = false;
    }
  } else {
    SelectRow(row);
    tappedRow_ = row;
  }
  bool began = false;
  const int field = FieldAt(point);
  if (ended && field >= 0) {
    const std::uint8_t style = fields_[field].option.style;
    if (style == kStyleCheckBox) {
      SelectRow(row);
      began = BeginEdit(row, static_cast<std::int16_t>(field));
      if (began) ForwardTap(point);
    } else if (!editWasActive && wasSelected) {
      began = BeginEdit(row, static_cast<std::int16_t>(field));
      if (began && style != kStyleZoom) ForwardTap(point);
    }
  }
  if (!began) {
    highlight_ = true;
    update(RowBand(selectedRow_));
  }
}

void CTBMListView::OnTapUp(QPoint point) {
  if ((ListFlags() & kListEditing) != 0) return;
  if (RowArea().contains(point) && selectedRow_ >= 0 && RowAt(point) == selectedRow_ &&
      !contextMenuShown_)
    PostCommand(ui::ID_VIEW_FORM);
  contextMenuShown_ = false;
}

bool CTBMListView::OnTapAndHold(QPoint point) {
  if ((ListFlags() & kListEditing) != 0 || !RowArea().contains(point)) return false;
  if (OpenContextMenu(kRowMenu, mapToGlobal(point))) contextMenuShown_ = true;
  return contextMenuShown_;
}

void CTBMListView::keyPressEvent(QKeyEvent* event) {
  const int count = RecordCount();
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      PostCommand(ui::ID_VIEW_FORM);
      return;
    case Qt::Key_Left:
      ScrollHorizontally(Scroll::kLineBack);
      return;
    case Qt::Key_Right:
      ScrollHorizontally(Scroll::kLineForward);
      return;
    case Qt::Key_Up:
      if (selectedRow_ < 0) {
        SelectRow(topRow_);
      } else if (selectedRow_ > 0) {
        if (selectedRow_ == topRow_) ScrollVertically(Scroll::kLineBack);
        SelectRow(static_cast<std::int16_t>(selectedRow_ - 1));
      }
      return;
    case Qt::Key_Down:
      if (selectedRow_ < 0) {
        SelectRow(topRow_);
      } else if (selectedRow_ + 1 < count) {
        // The last row shown whole counts as the bottom: the selection is
        // never left on a row cut by the window's edge.
        if (selectedRow_ >= topRow_ + std::max(FullRows(), 1) - 1)
          ScrollVertically(Scroll::kLineForward);
        SelectRow(static_cast<std::int16_t>(selectedRow_ + 1));
      }
      return;
    default:
      CTBMView::keyPressEvent(event);
  }
}

// ---- commands ----

void CTBMListView::RegisterCommands() {
  auto canSort = [this](ui::CCmdUI* ui) {
    CTBMDoc* document = GetDocument();
    ui->Enable(document != nullptr && document->GetFieldCount() > 0 &&
               document->GetRecordCount() > 0);
  };
  auto canFind = [this](ui::CCmdUI* ui) {
    CTBMDoc* document = GetDocument();
    ui->Enable(document != nullptr && document->GetFieldCount() > 0 &&
               (document->IsFiltered() || document->GetRecordCount() > 0));
  };
  OnCommand(ui::ID_COLUMN_SORT_ASCENDING, [this] { OnColumnSort(false); });
  OnUpdateCommand(ui::ID_COLUMN_SORT_ASCENDING, canSort);
  OnCommand(ui::ID_COLUMN_SORT_DESCENDING, [this] { OnColumnSort(true); });
  OnUpdateCommand(ui::ID_COLUMN_SORT_DESCENDING, canSort);
  OnCommand(ui::ID_COLUMN_FIND, [this] { OnColumnFind(); });
  OnUpdateCommand(ui::ID_COLUMN_FIND, canFind);
  OnCommand(ui::ID_COLUMN_OPTIONS, [this] { OnColumnOptions(); });
}

int CTBMListView::TouchedField() const {
  int item = header_.touchedItem();
  return item >= 0 && item < static_cast<int>(fields_.size()) ? item : -1;
}

void CTBMListView::OnColumnSort(bool descending) {
  const int field = TouchedField();
  CTBMDoc* document = GetDocument();
  if (field < 0 || document == nullptr) return;
  document->SortBy(static_cast<std::int16_t>(field), descending ? 1 : 0);
}

void CTBMListView::OnColumnFind() {
  const int field = TouchedField();
  CTBMDoc* document = GetDocument();
  if (field < 0 || document == nullptr) return;
  FindRequest last = document->GetLastFind();
  last.field = static_cast<std::uint16_t>(field);
  document->SetLastFind(last);
  SendCommand(ui::ID_RECORD_FIND);
}

void CTBMListView::OnColumnOptions() {
  const int field = TouchedField();
  CTBMDoc* document = GetDocument();
  if (field < 0 || document == nullptr) return;
  document->ShowViewOptions(OptionsPage::kField, static_cast<std::int16_t>(field));
}

bool CTBMListView::OpenContextMenu(std::uint32_t menuNumber, QPoint globalPos) {
  // Its commands are the frame's, so there is no menu without a frame.
  ui::CFrameWnd* frame = GetParentFrame();
  return frame != nullptr && ui::TrackPopupMenu(menuNumber, globalPos, frame) != nullptr;
}

void CTBMListView::OnHeaderSortTap(int field) {
  CTBMDoc* document = GetDocument();
  if (document == nullptr || field < 0 || field >= static_cast<int>(fields_.size())) return;
  document->SortBy(static_cast<std::int16_t>(field), 2);
  RefreshSortIndicator();
}

void CTBMListView::OnHeaderResized(int field, int width) {
  CTBMDoc* document = GetDocument();
  if (document == nullptr || field < 0 || field >= static_cast<int>(fields_.size())) return;
  FieldDisplay display = document->GetFieldDisplay(static_cast<std::int16_t>(field));
  display.width = static_cast<std::uint8_t>(
      std::clamp(width, CTBMListViewHdr::kMinWidth, CTBMListViewHdr::kMaxWidth));
  document->SetFieldDisplay(static_cast<std::int16_t>(field), display);
  // What the database now holds, whether or not the write went through.
  fields_[field].display = document->GetFieldDisplay(static_cast<std::int16_t>(field));
  header_.SetItemWidth(field, FieldWidth(field));
  UpdateScrollBars();
  update(RowArea());
}

void CTBMListView::OnHeaderDropped(int fromPosition, int toPosition) {
  CTBMDoc* document = GetDocument();
  if (document == nullptr) return;
  const std::vector<int> headerOrder = header_.OrderAfterDrop(fromPosition, toPosition);
  if (headerOrder.empty()) return;
  const std::vector<int> target = header_.DisplayOrderFor(headerOrder);
  // Reach the target by moves in the document's display order: one move
  // when one does it, else each position filled in turn.
  std::vector<int> current = displayOrder_;
  const int count = static_cast<int>(current.size());
  for (int round = 0; round < count && current != target; ++round) {
    int first = 0;
    while (current[first] == target[first]) ++first;
    int last = count - 1;
    while (current[last] == target[last]) --last;
    int from = -1, to = -1;
    for (auto [a, b] : {std::pair{last, first}, std::pair{first, last}}) {
      std::vector<int> trial = current;
      SimulateMove(trial, a, b);
      if (trial == target) {
        from = a;
        to = b;
        break;
      }
    }
    if (from < 0) {
      from = static_cast<int>(std::find(current.begin(), current.end(), target[first]) -
                              current.begin());
      to = first;
    }
    document->MoveDisplayField(static_cast<std::uint16_t>(from), static_cast<std::uint16_t>(to));
    SimulateMove(current, from, to);
  }
  // The header shows what the database now holds.
  ReadDisplayOrder();
  header_.SetOrderFromDisplay(displayOrder_);
  UpdateScrollBars();
  update(RowArea());
}

// ---- drawing ----

void CTBMListView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect area = RowArea();
  painter.fillRect(area.intersected(event->rect()), palette().base());
  if (!verticalBar_.isHidden() && !horizontalBar_.isHidden()) {
    painter.fillRect(
        QRect(verticalBar_.x(), horizontalBar_.y(), verticalBar_.width(), horizontalBar_.height()),
        palette().button());
  }
  CTBMDoc* document = GetDocument();
  if (initialised_ && document != nullptr && isVisible() && topRow_ >= 0) {
    if (picturesRatio_ != devicePixelRatioF()) {
      picturesRatio_ = devicePixelRatioF();
      checkPictures_[0] = ui::LoadPicture(kPictureUnchecked, picturesRatio_);
      checkPictures_[1] = ui::LoadPicture(kPictureChecked, picturesRatio_);
    }
    painter.setFont(viewFont());
    const std::vector<Column> columns = DrawnColumns();
    for (std::int16_t row = topRow_; row <= bottomRow_; ++row) {
      const QRect band = RowBand(row);
      if (!event->region().intersects(band)) continue;
      ++paintedRows_;
      DrawRow(painter, row, columns);
    }
  }
  painter.end();
  RepaintFrameStatusBar();
}

void CTBMListView::DrawRow(QPainter& painter, std::int16_t row,
                           const std::vector<Column>& columns) {
  const QRect band = RowBand(row);
  const bool highlighted = row == selectedRow_ && highlight_;
  if (highlighted) painter.fillRect(band, palette().highlight());
  CTBMDoc* document = GetDocument();
  if (!document->OpenRecord(row)) return;  // an unreadable record shows empty cells
  const QRect area = RowArea();
  for (std::size_t index = 0; index < columns.size(); ++index) {
    const Column& column = columns[index];
    const int inset = index == 0 ? kCellInset : 0;
    QRect cell(column.left + inset, band.top(), column.width - kCellInset - inset, band.height());
    if (cell.right() > area.right()) {
      cell.setRight(area.right());
      if (cell.width() <= kMinLastCell) continue;
    }
    const char16_t* text = nullptr;
    std::uint32_t length = 0;
    if (!document->GetFieldPtr(static_cast<std::int16_t>(column.field), &text, &length) ||
        text == nullptr)
      continue;
    std::u16string_view value(text, length);
    if (std::size_t end = value.find(u'\0'); end != std::u16string_view::npos)
      value = value.substr(0, end);
    painter.save();
    painter.setClipRect(cell, Qt::IntersectClip);
    DrawCell(painter, cell, fields_[column.field], ui::ToQString(value), highlighted);
    painter.restore();
  }
  document->CloseRecord();
}

void CTBMListView::DrawCell(QPainter& painter, const QRect& cell, const FieldInfo& field,
                            const QString& text, bool highlighted) {
  if (field.option.style == kStyleCheckBox) {
    DrawCheckBoxCell(painter, cell, field, text, highlighted);
    return;
  }
  const std::uint32_t colour = field.display.colour & 0xFFFFFF;
  painter.setPen(ColourFromRgb(highlighted ? 0xFFFFFF - colour : colour));
  const QFontMetrics metrics(viewFont());
  const QString shown = CutTextToWidth(text, metrics, cell.width(), false, true);
  // The alignment holds only for a text that fits; a cut one starts left.
  qsizetype lineEnd = 0;
  while (lineEnd < text.size() && text[lineEnd] != u'\r' && text[lineEnd] != u'\n') ++lineEnd;
  const bool fits = shown.size() == lineEnd;
  const Qt::Alignment alignment = fits ? FieldAlignment(field.display.alignment) : Qt::AlignLeft;
  painter.drawText(cell, alignment | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void CTBMListView::DrawCheckBoxCell(QPainter& painter, const QRect& cell, const FieldInfo& field,
                                    const QString& text, bool highlighted) {
  const QRect box(cell.left(), cell.top() + (cell.height() - kCheckBoxSize) / 2, kCheckBoxSize,
                  kCheckBoxSize);
  const bool locked = (field.option.flags & kFieldEntryLocked) != 0;
  painter.fillRect(box, locked ? palette().button() : QBrush(Qt::white));
  const QPixmap& picture = checkPictures_[CheckBoxChecked(text, field.checkLabel) ? 1 : 0];
  if (!picture.isNull()) {
    painter.drawPixmap(box.topLeft(), picture);
  } else {
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
  }
  const std::uint32_t colour = field.display.colour & 0xFFFFFF;
  painter.setPen(ColourFromRgb(highlighted ? 0xFFFFFF - colour : colour));
  const QRect label(box.right() + 1 + kCheckLabelGap, cell.top(),
                    cell.right() - box.right() - kCheckLabelGap, cell.height());
  painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, field.checkLabel);
}

}  // namespace tbm::app
