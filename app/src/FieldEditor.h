// The field editors: a view edits one cell (record, field) by hosting a
// field editor over it, a small object that owns one control placed over
// the cell. The editor's kind follows from the field's type and display
// style (CreateFieldEditor); it lives until the cell edit ends, when the
// view asks it to validate its value, takes the value when it changed,
// writes it through the document and destroys the editor.
//
// Commands reach the editor first (it is the first target on the view's
// route) and go on to its control: the edit commands of a text box, the
// today and now commands of the date and time controls.
//
// One thread: the user-interface thread.
#pragma once

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CmdTarget.h"
#include "TBMDoc.h"

class QCheckBox;
class QComboBox;

namespace tbm::app {

class CFieldEdit;
class CTBMView;

// Control identifiers of the editors' controls.
constexpr std::uint16_t kTextEditorControl = 3201;  // also the zoom box
constexpr std::uint16_t kCheckBoxControl = 3202;
constexpr std::uint16_t kComboBoxControl = 3203;

// Strings standing in a list with nothing to choose.
constexpr std::uint32_t kNoValueListText = 5012;
constexpr std::uint32_t kEmptyValueListText = 5013;

class CFieldEditor : public ui::CCmdTarget {
 public:
  CFieldEditor() = default;
  ~CFieldEditor() override;
  CFieldEditor(const CFieldEditor&) = delete;
  CFieldEditor& operator=(const CFieldEditor&) = delete;

  // True when the value may be committed (may ask the user).
  virtual bool Validate() { return true; }
  // True when Validate accepts the value without asking.
  virtual bool HoldsValidValue() { return true; }
  // True when the user changed the value.
  virtual bool IsModified() { return false; }
  // The value to store; nothing when there is none.
  virtual std::optional<std::u16string> GetValueText() { return std::nullopt; }
  // The control's rectangle in the view's coordinates; empty without one.
  QRect GetRect() const;
  // Moves the control to rect and repaints it at once.
  void SetRect(const QRect& rect);
  void Offset(int dx, int dy);
  // Drop-down editors close (true) or open (false) their list.
  virtual void Activate(bool close);
  // A tap at point (the control's coordinates) as a press on the control,
  // so the tap that made the editor also places the caret.
  virtual void TapAt(QPoint point);
  // True when the editor took a scanned label.
  virtual bool AcceptScannedText(const std::u16string& text);
  // Destroys the control.
  void Destroy();

  QWidget* control() const { return control_; }

  // Commands go on to the control.
  bool OnCmdMsg(ui::CommandId id) override;
  bool OnUpdateCmdMsg(ui::CCmdUI* ui) override;

 protected:
  // The control made for the editor, and the target its commands go to
  // (null: the control takes no commands).
  void SetControl(QWidget* control, ui::CCmdTarget* commands);

 private:
  QPointer<QWidget> control_;
  ui::CCmdTarget* commands_ = nullptr;
};

// What an editor is made from: the cell and what the document says of it.
struct FieldEditSetup {
  CTBMView* view = nullptr;
  CTBMDoc* document = nullptr;
  std::int16_t record = -1;
  std::int16_t field = -1;
  std::uint8_t type = 0;
  std::uint32_t maxSize = 0;  // with the terminator
  FieldOption option;
  std::u16string name;
  std::u16string value;
  QRect cell;  // in the view's coordinates
  QFont font;
};

// Makes the editor for the cell as the field's type and style choose it
// (the view has read the field into setup). Null for an entry-locked field
// (after the beep) other than a zoom box, for a check box without a
// caption, or when its control cannot be made.
std::unique_ptr<CFieldEditor> CreateFieldEditor(FieldEditSetup setup);

// The caption of a check-box field: its value list's first non-empty
// item; nothing when the list has none.
std::optional<std::u16string> CheckBoxCaption(
    const std::optional<std::vector<std::u16string>>& list);
// Whether one of value's lines (ended by CR LF, CR or LF) equals caption,
// without regard to case; never for an empty caption.
bool CheckBoxChecked(const QString& value, const QString& caption);

// A text field's multi-line box (style 0 and every style not listed).
class CTextFieldEditor : public CFieldEditor {
 public:
  // limit: characters the box takes; scrollBar instead of growing;
  // minimumHeight: a one-line cell.
  CTextFieldEditor(const FieldEditSetup& setup, bool scrollBar);
  ~CTextFieldEditor() override;
  bool IsModified() override;
  std::optional<std::u16string> GetValueText() override;
  void TapAt(QPoint point) override;
  bool AcceptScannedText(const std::u16string& text) override;
  CFieldEdit* edit() const;

 private:
  std::unique_ptr<ui::CCmdTarget> editCommands_;
};

// A pick list: choose only (style 1) or choose or type (style 2).
class CValueListFieldEditor : public CFieldEditor {
 public:
  CValueListFieldEditor(const FieldEditSetup& setup, bool typing,
                        const std::optional<std::vector<std::u16string>>& list);
  ~CValueListFieldEditor() override;
  bool IsModified() override;
  std::optional<std::u16string> GetValueText() override;
  void Activate(bool close) override;
  void TapAt(QPoint point) override;
  // Fills the drop-down: the list's items, or the item that stands for a
  // missing or empty list.
  void FillFromValueList(const std::optional<std::vector<std::u16string>>& list);
  QComboBox* combo() const;

 protected:
  // Validate for a date (or time) pick list: a value that does not convert
  // asks whether to drop the change; dropping it keeps the stored value.
  bool ValidateOrOfferToDrop(bool date);
  const FieldEditSetup& setup() const { return setup_; }

 private:
  void SelectInitial();

  FieldEditSetup setup_;
  bool modified_ = false;
  bool filling_ = false;
  std::unique_ptr<ui::CCmdTarget> editCommands_;
};

// The pick list of a date field: items and the value in the database's
// date text.
class CDateListFieldEditor : public CValueListFieldEditor {
 public:
  using CValueListFieldEditor::CValueListFieldEditor;
  std::optional<std::u16string> GetValueText() override;
  bool Validate() override;
  bool HoldsValidValue() override;
};

// The pick list of a time field.
class CTimeListFieldEditor : public CValueListFieldEditor {
 public:
  using CValueListFieldEditor::CValueListFieldEditor;
  bool Validate() override;
  bool HoldsValidValue() override;
};

// A check box whose caption is the field's first value-list item: checked
// adds that item as a line of the value, unchecked takes it out.
class CCheckBoxFieldEditor : public CFieldEditor {
 public:
  CCheckBoxFieldEditor(const FieldEditSetup& setup, const std::u16string& caption);
  ~CCheckBoxFieldEditor() override;
  bool IsModified() override { return true; }
  std::optional<std::u16string> GetValueText() override;
  void TapAt(QPoint point) override;
  QCheckBox* checkBox() const;

 private:
  std::u16string value_;
  std::u16string caption_;
  bool wasChecked_ = false;
};

// A box showing the value's first line; a tap opens the field editing
// dialog on the whole value.
class CZoomFieldEditor : public CFieldEditor {
 public:
  CZoomFieldEditor(const FieldEditSetup& setup, bool readOnly);
  ~CZoomFieldEditor() override;
  bool IsModified() override { return modified_; }
  std::optional<std::u16string> GetValueText() override { return value_; }
  void TapAt(QPoint) override {}
  // Opens the field editing dialog (the box does on a tap).
  void OpenDialog();
  const std::u16string& value() const { return value_; }

 private:
  FieldEditSetup setup_;
  std::u16string value_;
  bool readOnly_;
  bool modified_ = false;
  // Gone with the editor: a dialog still open when the editor goes (the
  // program closing its views) finds it gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class CEntryCtrlBase;

// The date and time editors: an entry of numeric segments over the cell
// (DateTimeEntry.h), whose value it validates, composes and gives back.
// Both write the empty text when the composed value is no date or time.
class CEntryFieldEditor : public CFieldEditor {
 public:
  ~CEntryFieldEditor() override;
  bool Validate() override;
  bool HoldsValidValue() override;
  bool IsModified() override;
  std::optional<std::u16string> GetValueText() override;
  void TapAt(QPoint point) override;
  CEntryCtrlBase* entry() const;

 protected:
  // passTaps: the tap that made the editor goes on to the entry.
  CEntryFieldEditor(CEntryCtrlBase* entry, bool passTaps);

 private:
  bool passTaps_;
};

// A date field's entry: the drop button opens a month calendar, or the
// value list for style 2 (the only style whose tap goes on to the entry).
class CDateFieldEditor : public CEntryFieldEditor {
 public:
  CDateFieldEditor(const FieldEditSetup& setup,
                   const std::optional<std::vector<std::u16string>>& list);
};

// A time field's entry, with its suffix; for style 2 the drop button
// opens the value list.
class CTimeFieldEditor : public CEntryFieldEditor {
 public:
  CTimeFieldEditor(const FieldEditSetup& setup,
                   const std::optional<std::vector<std::u16string>>& list);
};

// The entry control editor of a date or time field (any style but the
// drop-down list), with the value list it drops for style 2 (nothing:
// the date's calendar). Null when the control cannot be made.
std::unique_ptr<CFieldEditor> CreateDateTimeFieldEditor(
    const FieldEditSetup& setup, const std::optional<std::vector<std::u16string>>& list);

}  // namespace tbm::app
