// CTBMView: the base of the two record views, the list (CTBMListView) and
// the form (CTBMFormView). Both draw records themselves with QPainter and
// edit one cell (record, field) at a time by hosting a field editor over it:
// the cell edit. This class holds what they share: the view kind, the view
// font, the cell-edit state, and the operations the document and the
// editors call on whichever view is active.
//
// Until the field editors exist, BeginEdit starts no cell edit (it returns
// false and nothing visible happens) and EndEdit always succeeds.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QPointer>
#include <QRect>
#include <QString>
#include <cstdint>

#include "TBMDoc.h"
#include "View.h"

namespace tbm::app {

// Font kinds: 1 normal, 2 large (strings 4000 and 4001 of the language
// library: "face,weight,height", height negative in pixels).
constexpr int kFontNormal = 1;
constexpr int kFontLarge = 2;

// The font of a kind as the language library specifies it; a missing or
// empty piece takes its default ("Tahoma", 400, -11).
QFont MakeViewFont(int fontKind);

// Gives a view's scroll bar the handheld's plain look: a patterned groove
// and a raised thumb with arrow buttons, plain to see on the small screen.
void StyleViewScrollBar(QWidget* bar);

// Cuts text to width pixels as the views and the status bar cut texts.
// With oneLine, only what comes before the first carriage return or line
// feed counts, so a first line that fits is never cut for what follows it.
// Keeps the whole characters that fit (never half a surrogate pair, never a
// base without its combining marks); with ellipsis, when not all fit and
// more than three do, the last three kept become "...", and fewer are kept
// when the dots are wider than what they replace. Texts far longer than any
// width can hold are measured only as far as a width could reach.
QString CutTextToWidth(const QString& text, const QFontMetrics& metrics, int width, bool ellipsis,
                       bool oneLine);

class CTBMView : public ui::CView {
 public:
  CTBMView(std::uint16_t viewKind, QWidget* parent = nullptr);
  ~CTBMView() override;

  CTBMDoc* GetDocument() const;
  std::uint16_t viewKind() const { return viewKind_; }

  int fontKind() const { return fontKind_; }
  const QFont& viewFont() const { return viewFont_; }
  // Rebuilds the view font when kind differs from the current one.
  void SetFontKind(int kind);

  // The cell edit.
  bool cellEditActive() const { return cellEditActive_; }
  std::int16_t editRecord() const { return editRecord_; }
  std::int16_t editField() const { return editField_; }
  // The control of the current cell edit's field editor (the widget placed
  // over the cell), or null. Views move it when they scroll and measure
  // the edited cell by its height.
  QWidget* editorControl() const { return editorControl_; }

  virtual QRect GetCellRect(std::int16_t record, std::int16_t field);
  virtual bool WantsEditorScrollBar(std::int16_t record, std::int16_t field);
  virtual int GetCellHeight();
  // Starts a cell edit on (record, field); false when none started.
  virtual bool BeginEdit(std::int16_t record, std::int16_t field);
  // Ends the cell edit, storing the editor's value; false when the editor
  // refuses its value (the edit then stays). True when none is active.
  virtual bool EndEdit();
  virtual void ForwardTap(QPoint point);
  virtual void EnsureVisible(std::int16_t record, std::int16_t field);

 protected:
  // Subclasses call this at the end of paintEvent: the frame's status bar
  // follows every change of the record position.
  void RepaintFrameStatusBar();

  bool tapInsideEditedCell_ = false;
  std::int16_t editStartLine_ = -1;
  QPointer<QWidget> editorControl_;

 private:
  bool cellEditActive_ = false;
  std::uint16_t viewKind_;
  int fontKind_ = 0;
  QFont viewFont_;
  std::int16_t editRecord_ = -1;
  std::int16_t editField_ = -1;
};

// The active record view of the program's main frame, or null when the
// document list (or nothing) is shown.
CTBMView* ActiveRecordView();

}  // namespace tbm::app
