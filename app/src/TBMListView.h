// CTBMListView: the record set as a table, one row per record and one
// column per field in the database's display order, under the column
// header CTBMListViewHdr. It draws the rows itself from state, scrolls by
// whole rows vertically and by whole columns (hidden ones skipped)
// horizontally, and stores column widths and order through the document.
//
// The list view flags (database attribute 2) decide what a tap does: with
// bit 0 clear a tap on a row opens that record in the form view and
// tap-and-hold opens the rows' context menu; with it set taps select rows
// and begin cell edits. Bit 1 picks the large font, bit 8 keeps the first
// visible column at the left edge, bits 9 and 10 allow resizing and
// reordering columns, bit 11 shows the sort direction in the header and
// lets a tap on a header item sort by it.
//
// Scrolling moves the window contents and paints only the uncovered rows;
// selecting a row repaints two rows. paintedRowCount() counts the rows
// painted, for the tests and the benchmark that guard this.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QScrollBar>
#include <QString>
#include <cstdint>
#include <vector>

#include "TBMListViewHdr.h"
#include "TBMView.h"
#include "TapAndHold.h"

namespace tbm::app {

// The list view flags this view reads.
constexpr std::uint32_t kListEditing = 0x0001;
constexpr std::uint32_t kListLargeFont = 0x0002;
constexpr std::uint32_t kListFixedFirstColumn = 0x0100;
constexpr std::uint32_t kListResizable = 0x0200;
constexpr std::uint32_t kListReorderable = 0x0400;
constexpr std::uint32_t kListSortIndicator = 0x0800;

class CTBMListView : public CTBMView {
 public:
  static constexpr int kMinRowHeight = 16;
  // Context menus (their first sub-menu): the rows' and the header's.
  static constexpr std::uint32_t kRowMenu = 110;
  static constexpr std::uint32_t kHeaderMenu = 111;
  // Pictures of the check-box cells.
  static constexpr std::uint32_t kPictureChecked = 300;
  static constexpr std::uint32_t kPictureUnchecked = 301;

  explicit CTBMListView(QWidget* parent = nullptr);
  ~CTBMListView() override;

  // CTBMView.
  QRect GetCellRect(std::int16_t record, std::int16_t field) override;
  bool WantsEditorScrollBar(std::int16_t record, std::int16_t field) override;
  int GetCellHeight() override;
  bool EndEdit() override;
  void EnsureVisible(std::int16_t record, std::int16_t field) override;

  // The framework's initial update and update with a hint (TBMDoc.h).
  void OnInitialUpdate() override;
  void OnUpdate(ui::CView* sender, int hint) override;

  // Vertical and horizontal scroll requests, as the scroll bars send them.
  // Each first ends the cell edit; a refused end cancels the request.
  enum class Scroll { kLineBack, kLineForward, kPageBack, kPageForward, kThumb };
  void ScrollVertically(Scroll request, int thumbRow = 0);
  void ScrollHorizontally(Scroll request, int thumbPixel = 0);

  // Selects row r (a record index): the old and new selected rows are
  // repainted and r becomes the document's current record. Ignored when r
  // is already selected or is not a record.
  void SelectRow(std::int16_t row);

  // State, for the tests and the benchmark.
  std::int16_t selectedRow() const { return selectedRow_; }
  std::int16_t topRow() const { return topRow_; }
  std::int16_t bottomRow() const { return bottomRow_; }
  std::int16_t tappedRow() const { return tappedRow_; }
  std::int16_t firstScrollColumn() const { return firstScrollColumn_; }
  int rowHeight() const { return rowHeight_; }
  bool highlight() const { return highlight_; }
  bool contextMenuShown() const { return contextMenuShown_; }
  CTBMListViewHdr* header() { return &header_; }
  QScrollBar* verticalScrollBar() { return &verticalBar_; }
  QScrollBar* horizontalScrollBar() { return &horizontalBar_; }
  // The client area below the header (view coordinates).
  QRect RowArea() const;
  // Rows the row area shows, the last perhaps in part.
  int VisibleRows() const;
  // The band of row r, empty when r is not visible.
  QRect RowBand(std::int16_t row) const;
  // The fields drawn, left to right, with their column bands (x and width
  // in view coordinates, before the 2-pixel cell insets).
  struct Column {
    int field = -1;
    int left = 0;
    int width = 0;
  };
  std::vector<Column> DrawnColumns() const;
  int paintedRowCount() const { return paintedRows_; }
  void ResetPaintedRowCount() { paintedRows_ = 0; }

  // Called by the header. A resize or a drag may start only when the
  // cell edit ends.
  bool CanEndEditForHeader() { return EndEdit(); }
  // A column dragged to width (16 to 224): stored as the field's list
  // column width, then the rows repainted.
  void OnHeaderResized(int field, int width);
  // The item at header position fromPosition dropped at toPosition (the
  // index it takes): moved in the document's display order, with the
  // fixed-first-column rules, and the header's order read back from it.
  void OnHeaderDropped(int fromPosition, int toPosition);
  // A tap on field's item while the sort direction shows: sorts by field,
  // the other way round when it is already the sorted one.
  void OnHeaderSortTap(int field);
  // Opens the first sub-menu of menu number at globalPos; its commands go
  // along the frame's route. False when the menu could not be made.
  bool OpenContextMenu(std::uint32_t menuNumber, QPoint globalPos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // What the view keeps of each field between updates.
  struct FieldInfo {
    QString name;
    FieldDisplay display;
    FieldOption option;
    std::uint8_t type = 0;
    QString checkLabel;  // the check-box label (style 3)
  };

  void RegisterCommands();
  void ReadFields();
  void ReadDisplayOrder();
  void CreateHeader();
  void ApplyListFlags(std::uint32_t flags);
  void RefreshSortIndicator();
  void RefreshHeaderWidths();
  int ComputeRowHeight() const;
  int FieldWidth(int field) const;
  bool IsFieldShown(int field) const { return FieldWidth(field) >= 16; }
  int FirstVisibleColumn() const;
  std::uint32_t ListFlags();
  int RecordCount();

  // Rows.
  int FullRows() const;
  bool RowsExact() const;
  int MaxTopRow();
  bool AllRecordsFit();
  void ComputeBottomRow();
  // Selects the document's current record (row 0 when it is out of range).
  void SelectCurrentRecord();
  void MakeSelectedRowVisible();
  // Scrolls the rows so that newTop is the top row: moves the contents,
  // paints the uncovered rows and moves a hosted editor along.
  void ScrollToTopRow(int newTop);
  std::int16_t RowAt(QPoint point) const;
  // Where the cell edit's editor is, empty without one.
  QRect EditorRect();
  int FieldAt(QPoint point) const;

  // Columns.
  std::vector<int> DrawnItems(int scrollPos) const;
  int DrawnWidth(int scrollPos) const;
  int NextScrollStop(int scrollPos) const;
  int PreviousScrollStop(int scrollPos) const;
  int ColumnsPerPage() const;
  void SetFirstScrollColumn(int position);

  // Scroll bars and children.
  void UpdateScrollBars();
  void LayoutChildren();
  int HorizontalRange() const;
  void OnVerticalAction(int action);
  void OnHorizontalAction(int action);

  // Taps.
  void OnTapDown(QPoint point);
  void OnTapUp(QPoint point);
  // The rows' tap-and-hold: menu 110 at point, unless editing in the list.
  bool OnTapAndHold(QPoint point);

  // Drawing.
  void DrawRow(QPainter& painter, std::int16_t row, const std::vector<Column>& columns);
  void DrawCell(QPainter& painter, const QRect& cell, const FieldInfo& field, const QString& text,
                bool highlighted);
  void DrawCheckBoxCell(QPainter& painter, const QRect& cell, const FieldInfo& field,
                        const QString& text, bool highlighted);

  // Column commands on the header's touched item.
  int TouchedField() const;
  void OnColumnSort(bool descending);
  void OnColumnFind();
  void OnColumnOptions();

  // State kept as the list keeps it.
  std::int16_t firstScrollColumn_ = 0;
  std::int16_t headerItemCounter_ = 0;
  std::int16_t selectedRow_ = -1;
  std::int16_t topRow_ = -1;
  std::int16_t bottomRow_ = -1;
  CTBMListViewHdr header_{this};
  int rowHeight_ = kMinRowHeight;
  std::int16_t tappedRow_ = -1;
  bool highlight_ = true;
  QFont headerFont_;
  bool contextMenuShown_ = false;

  bool initialised_ = false;
  std::vector<FieldInfo> fields_;
  std::vector<int> displayOrder_;  // position -> field, one per field
  QScrollBar verticalBar_{Qt::Vertical, this};
  QScrollBar horizontalBar_{Qt::Horizontal, this};
  int paintedRows_ = 0;
  QPixmap checkPictures_[2];  // unchecked, checked
  qreal picturesRatio_ = 0;
  ui::CTapAndHold rowHold_{this, [this](QPoint point) { return OnTapAndHold(point); }};
};

}  // namespace tbm::app
