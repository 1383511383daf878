// CTBMView: the base of the two record views, the list (CTBMListView) and
// the form (CTBMFormView). Both draw records themselves with QPainter and
// edit one cell (record, field) at a time by hosting a field editor over it:
// the cell edit. This class holds what they share: the view kind, the view
// font, the cell-edit state, and the operations the document and the
// editors call on whichever view is active.
//
// The cell edit: BeginEdit ends any edit first, then makes the field
// editor the field's type and style call for (FieldEditor.h) over the
// cell; EndEdit asks the editor to validate its value, writes a changed
// value through the document and destroys the editor. Commands reach the
// editor before the view. A text editor raises the input panel and the
// end of its edit puts the panel back as it was.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QPointer>
#include <QRect>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

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

class CFieldEditor;

// Messages of a cell edit that cannot be stored: the value is longer than
// the field holds (its name, the characters it holds, the characters
// given); the engine refused the write (the field's name).
constexpr std::uint32_t kTooLongMessage = 5014;
constexpr std::uint32_t kNotWrittenMessage = 5015;

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
  // The current cell edit's field editor and its control (the widget
  // placed over the cell), or null. Views move the control when they
  // scroll and measure the edited cell by its height.
  CFieldEditor* editor() const { return editor_.get(); }
  QWidget* editorControl() const;

  virtual QRect GetCellRect(std::int16_t record, std::int16_t field);
  virtual bool WantsEditorScrollBar(std::int16_t record, std::int16_t field);
  virtual int GetCellHeight();
  // Starts a cell edit on (record, field); false when none started.
  virtual bool BeginEdit(std::int16_t record, std::int16_t field);
  // Ends the cell edit, storing the editor's value; false when the editor
  // refuses its value (the edit then stays). True when none is active.
  virtual bool EndEdit();
  // Whether EndEdit would end the cell edit without asking the user
  // anything (true when none is active).
  bool EditEndsWithoutQuestion();
  virtual void ForwardTap(QPoint point);
  virtual void EnsureVisible(std::int16_t record, std::int16_t field);
  // A text editor's drag left the view: scroll by lines (-1 up, 1 down).
  virtual void ScrollForEditor(int lines);

  // Raises the input panel for a text editor, remembering whether it was
  // up, so that the end of the edit puts it back.
  void RaiseInputPanelForEdit();
  // A scanned label: into the active editor, which then moves on to the
  // next field of the record; without an editor it becomes the text of a
  // find on the last find's field. An empty label is ignored.
  void OnScannedLabel(const std::u16string& label);

 protected:
  ui::CCmdTarget* EditorTarget() override;
  // Subclasses call this at the end of paintEvent: the frame's status bar
  // follows every change of the record position.
  void RepaintFrameStatusBar();
  // Commands sent at once or posted, through the frame when the view is
  // in one, else along the view's own route.
  void SendCommand(ui::CommandId id);
  void PostCommand(ui::CommandId id);

  bool tapInsideEditedCell_ = false;
  std::int16_t editStartLine_ = -1;

 private:
  // The input panel changed while an editor is open: the cell stays in
  // view.
  void OnInputPanelChanged();
  // Validates and writes the editor's value; false keeps the editor.
  bool CommitEditor();
  // Whether text fits the edited field's length limit.
  bool FitsEditedField(const std::u16string& text);

  std::unique_ptr<CFieldEditor> editor_;
  bool cellEditActive_ = false;
  bool panelWasUp_ = false;
  bool panelRaised_ = false;
  bool endingEdit_ = false;
  std::uint32_t editGeneration_ = 0;
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
