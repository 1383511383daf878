// CTBMFormView: the form view. It shows the document's current record as a
// column of labelled fields, one under the other in field order: the field
// name at the left in a label column at most 65 pixels wide, the value to
// its right. The column scrolls vertically in whole line units (the height
// of a one-line combo box in the view font, plus 2); a field occupies as
// many line units as its wrapped value needs. Tapping a value begins a cell
// edit (CTBMView); the up and down keys scroll and, at the ends of the
// column, move to the previous or next record.
//
// The view draws everything itself. Its child widgets are its vertical
// scroll bar, a hidden multi-line edit that wraps each value (the drawing
// shows exactly the lines it breaks) and the control of an active field
// editor. Line counts and wrapped lines are worked out once per change
// (initial update, document update, size change, end of a cell edit),
// never per paint; scrolling moves the pixels already drawn and paints only
// the uncovered band.
//
// Form view flags (attribute 3 of the database, CTBMDoc::GetViewFlags):
// bit 0 allows editing (taps begin cell edits, and drop-down, check-box and
// zoom fields are drawn as controls; when clear, taps do nothing and every
// value is plain text); bit 1 selects the large font; bits 16 to 31 align
// the labels (2 centred, 3 right, else left).
//
// One thread: the user-interface thread.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "CommandIds.h"
#include "TBMView.h"

class QFontMetrics;
class QPainter;
class QScrollBar;
class QTextEdit;

namespace tbm::app {

// Form view flags.
constexpr std::uint32_t kFormEditing = 0x0001;
constexpr std::uint32_t kFormLargeFont = 0x0002;

// Cuts a label ("Name:") to width: when it is wider, the characters that
// fit are kept and the next one becomes ":"; when that is still too wide,
// one character fewer. The result always ends with ":".
QString CutLabelToWidth(const QString& label, const QFontMetrics& metrics, int width);

// Sets edit up to break lines as the form view measures and draws values:
// font, no document margin, breaks at word boundaries or, for a word longer
// than a line, anywhere. A field editor over a form cell does the same, so
// its text breaks where the drawn value broke.
void SetUpWrappingEdit(QTextEdit* edit, const QFont& font);

class CTBMFormView : public CTBMView {
 public:
  // Drawing constants, in pixels.
  static constexpr int kMargin = 3;  // top band, left, between label and value, right
  static constexpr int kMaxLabelWidth = 65;
  static constexpr int kDropButtonWidth = 15;
  static constexpr int kZoomButtonWidth = 11;
  static constexpr int kCheckBoxSize = 15;
  static constexpr int kMaxFields = 50;

  explicit CTBMFormView(QWidget* parent = nullptr);
  ~CTBMFormView() override;

  // CTBMView.
  // The value rectangle of field f shortened by 2 pixels: where a field
  // editor sits. Empty for a field the form does not show.
  QRect GetCellRect(std::int16_t record, std::int16_t field) override;
  int GetCellHeight() override;  // the line unit
  void EnsureVisible(std::int16_t record, std::int16_t field) override;
  // After a successful end of an active cell edit the view takes the focus
  // and lays its fields out again (the value may have changed).
  bool EndEdit() override;
  void ScrollForEditor(int lines) override;

  // CView.
  void OnInitialUpdate() override;
  void OnUpdate(ui::CView* sender, int hint) override;

  // The layout as it is drawn.
  int labelColumnWidth() const { return labelWidth_; }
  int lineUnit() const { return lineUnit_; }
  int topLine() const { return topLine_; }
  // Fields shown: the document's field count (at most 50) while there is a
  // current record, else 0.
  int shownFieldCount() const { return fieldCount_; }
  // Line units that field i occupies; 0 for i at or above the count.
  int lineCount(int field) const;
  int totalLines() const;
  // The first line unit of field i.
  int firstLineOf(int field) const;
  // Line units in view, a partly shown one included.
  int visibleLines() const;
  // The largest top line the scroll bar allows.
  int lastScrollPosition() const;
  // The view less its scroll bar while that shows.
  QRect clientRect() const;
  // The value rectangle of field i in view coordinates, over the field's
  // whole height.
  QRect ValueRect(int field) const;
  // The lines of field i's value as the measuring edit broke them (empty
  // for a field drawn as a control).
  const std::vector<QString>& wrappedLines(int field) const;
  // A check-box field's caption (its value list's first item, or the text
  // that stands for a missing or empty list) and whether its box is
  // checked; empty and false for other fields.
  QString checkBoxCaption(int field) const;
  bool checkBoxChecked(int field) const;
  QScrollBar* verticalBar() const { return bar_; }
  QTextEdit* measuringEdit() const { return measure_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  // What the view knows of one field of the current record, read from the
  // document when the layout is worked out.
  struct Field {
    QString label;  // the field's name followed by ":"
    std::uint8_t type = 0;
    FieldOption option;
    FieldDisplay display;
    bool readable = false;
    QString value;                  // line ends as "\n"
    std::vector<QString> lines;     // wrapped, for a value drawn as text
    std::vector<bool> rightToLeft;  // per line: its paragraph runs right to left
    // What the lines were measured for (width -1: not measured).
    int measuredWidth = -1;
    QFont measuredFont;
    QString measuredValue;
    QString checkLabel;  // check-box fields
    bool checked = false;
  };
  // The scroll bar as Win32 keeps it: positions 0 to max, a page of v.
  struct BarState {
    int max = 0;
    int page = 0;
    int position = 0;
    bool operator==(const BarState&) const = default;
  };

  bool editingAllowed() const { return (formFlags_ & kFormEditing) != 0; }
  bool DrawnAsControl(const Field& field) const;

  // Layout, in the order the updates run it.
  void ReadFields();
  void RecalcLabelWidth();
  void RecalcLineUnit();
  void RecalcLineCounts();
  void MeasureField(Field& field);
  void UpdateScrollBar();
  void LayOutBar();
  // The client width changed (the scroll bar came or went, or a resize).
  void OnClientSizeChanged();

  // Scrolling.
  void ScrollBy(int lines);
  void ScrollTo(int line);
  void OnBarAction(int action);
  bool Fits() const;

  // Hit testing: the field whose value rectangle holds point, or -1.
  int FieldAtValuePoint(QPoint point) const;
  // The field that holds line unit `line`, or -1; linesAbove gets how many
  // of its line units lie above it.
  int FieldAtLine(int line, int* linesAbove) const;

  // Drawing one field whose rectangle starts at y = top.
  void DrawField(QPainter& painter, int index, int top);
  int ValueBaseline(const Field& field, int top) const;
  void DrawLabel(QPainter& painter, const Field& field, int baseline);
  void DrawPlainValue(QPainter& painter, const Field& field, const QRect& value);
  void DrawDropDown(QPainter& painter, const Field& field, const QRect& value);
  void DrawCheckBox(QPainter& painter, const Field& field, const QRect& value);
  void DrawZoom(QPainter& painter, const Field& field, const QRect& value);
  const QPixmap& Picture(std::uint32_t number);

  QScrollBar* bar_ = nullptr;
  QTextEdit* measure_ = nullptr;  // made at the initial update
  bool initialised_ = false;
  int layoutDepth_ = 0;  // guards the bar's show-hide feedback

  std::uint32_t formFlags_ = 0;
  QFont labelFont_;
  int labelWidth_ = 0;
  int lineUnit_ = 1;
  int topLine_ = 0;
  int fieldCount_ = 0;
  std::array<std::uint16_t, kMaxFields> lineCounts_{};
  std::vector<Field> fields_;
  BarState barState_;
  bool barShown_ = false;
  bool repeatGuard_ = false;

  qreal picturesRatio_ = 0;
  std::array<QPixmap, 4> pictures_;  // 300 to 303
};

}  // namespace tbm::app
