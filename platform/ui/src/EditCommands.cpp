#include "EditCommands.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <memory>

#include "CommandMenus.h"
#include "FrameWnd.h"
#include "Resources.h"
#include "TapAndHold.h"

namespace tbm::ui {

namespace {

// What one kind of text box offers the commands.
struct EditState {
  bool canUndo = false;
  bool hasSelection = false;
  bool hasText = false;
  bool readOnly = false;
};

bool ClipboardHasText() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data != nullptr && data->hasText();
}

// The line edit of an editable combo box, the box itself otherwise.
QWidget* TextBoxOf(QWidget* edit) {
  if (auto* combo = qobject_cast<QComboBox*>(edit))
    return combo->isEditable() ? combo->lineEdit() : nullptr;
  return edit;
}

bool StateOf(QWidget* edit, EditState* state) {
  if (auto* line = qobject_cast<QLineEdit*>(edit)) {
    *state = {line->isUndoAvailable(), line->hasSelectedText(), !line->text().isEmpty(),
              line->isReadOnly()};
    return true;
  }
  if (auto* text = qobject_cast<QTextEdit*>(edit)) {
    *state = {text->document()->isUndoAvailable(), text->textCursor().hasSelection(),
              !text->document()->isEmpty(), text->isReadOnly()};
    return true;
  }
  if (auto* plain = qobject_cast<QPlainTextEdit*>(edit)) {
    *state = {plain->document()->isUndoAvailable(), plain->textCursor().hasSelection(),
              !plain->document()->isEmpty(), plain->isReadOnly()};
    return true;
  }
  return false;
}

bool Enabled(CommandId id, const EditState& state) {
  switch (id) {
    case ID_EDIT_UNDO:
      return state.canUndo && !state.readOnly;
    case ID_EDIT_CUT:
    case ID_EDIT_CLEAR:
      return state.hasSelection && !state.readOnly;
    case ID_EDIT_COPY:
      return state.hasSelection;
    case ID_EDIT_PASTE:
      return !state.readOnly && ClipboardHasText();
    case ID_EDIT_SELECT_ALL:
      return state.hasText;
    default:
      return false;
  }
}

template <typename Box>
void RunOnTextBox(Box* box, CommandId id) {
  switch (id) {
    case ID_EDIT_UNDO:
      box->undo();
      break;
    case ID_EDIT_CUT:
      box->cut();
      break;
    case ID_EDIT_COPY:
      box->copy();
      break;
    case ID_EDIT_PASTE:
      box->paste();
      break;
    case ID_EDIT_CLEAR: {
      QTextCursor cursor = box->textCursor();
      cursor.removeSelectedText();
      box->setTextCursor(cursor);
      break;
    }
    case ID_EDIT_SELECT_ALL:
      box->selectAll();
      box->ensureCursorVisible();
      break;
    default:
      break;
  }
}

void RunOnLine(QLineEdit* line, CommandId id) {
  switch (id) {
    case ID_EDIT_UNDO:
      line->undo();
      break;
    case ID_EDIT_CUT:
      line->cut();
      break;
    case ID_EDIT_COPY:
      line->copy();
      break;
    case ID_EDIT_PASTE:
      line->paste();
      break;
    case ID_EDIT_CLEAR:
      line->del();
      break;
    case ID_EDIT_SELECT_ALL:
      line->selectAll();
      break;
    default:
      break;
  }
}

}  // namespace

bool IsEditCommand(CommandId id) {
  switch (id) {
    case ID_EDIT_UNDO:
    case ID_EDIT_CUT:
    case ID_EDIT_COPY:
    case ID_EDIT_PASTE:
    case ID_EDIT_CLEAR:
    case ID_EDIT_SELECT_ALL:
      return true;
    default:
      return false;
  }
}

bool UpdateEditCommand(QWidget* edit, CCmdUI* ui) {
  if (!IsEditCommand(ui->id())) return false;
  EditState state;
  QWidget* box = edit != nullptr ? TextBoxOf(edit) : nullptr;
  ui->Enable(box != nullptr && StateOf(box, &state) && Enabled(ui->id(), state));
  return true;
}

bool RunEditCommand(QWidget* edit, CommandId id) {
  QWidget* box = edit != nullptr ? TextBoxOf(edit) : nullptr;
  EditState state;
  if (!IsEditCommand(id) || box == nullptr || !StateOf(box, &state) || !Enabled(id, state))
    return false;
  if (auto* line = qobject_cast<QLineEdit*>(box))
    RunOnLine(line, id);
  else if (auto* text = qobject_cast<QTextEdit*>(box))
    RunOnTextBox(text, id);
  else if (auto* plain = qobject_cast<QPlainTextEdit*>(box))
    RunOnTextBox(plain, id);
  return true;
}

CEditCommandTarget::CEditCommandTarget(std::function<QWidget*()> edit) : edit_(std::move(edit)) {}

bool CEditCommandTarget::OnCmdMsg(CommandId id) {
  if (!IsEditCommand(id)) return CCmdTarget::OnCmdMsg(id);
  // A disabled command is still this target's: it does nothing.
  RunEditCommand(edit_ ? edit_() : nullptr, id);
  return true;
}

bool CEditCommandTarget::OnUpdateCmdMsg(CCmdUI* ui) {
  if (UpdateEditCommand(edit_ ? edit_() : nullptr, ui)) return true;
  return CCmdTarget::OnUpdateCmdMsg(ui);
}

bool ShowControlMenu(QWidget* control, QPoint point, std::uint32_t number) {
  if (control == nullptr) return false;
  res::Menu menu;
  if (!LoadMenuResource(number, &menu)) return false;
  QWidget* window = control->window();
  QMenu* shown = nullptr;
  if (auto* frame = dynamic_cast<CFrameWnd*>(window); frame != nullptr) {
    shown = BuildContextMenu(menu, frame, frame);
  } else {
    // Outside the frame (a dialog) the command acts on the focused box, or
    // on the control itself when the focus is elsewhere.
    QPointer<QWidget> owner(control);
    auto target = std::make_shared<CEditCommandTarget>([owner]() -> QWidget* {
      QWidget* focus = QApplication::focusWidget();
      if (focus != nullptr && owner && (focus == owner || owner->isAncestorOf(focus)))
        return qobject_cast<QComboBox*>(focus->parentWidget()) != nullptr ? focus->parentWidget()
                                                                          : focus;
      return owner.data();
    });
    shown = BuildCommandMenu(menu, target, window);
  }
  if (shown == nullptr) return false;
  QObject::connect(shown, &QMenu::aboutToHide, shown, &QObject::deleteLater);
  // Right-aligned at the pressed point.
  const QPoint global = control->mapToGlobal(point);
  shown->popup(QPoint(global.x() - shown->sizeHint().width(), global.y()));
  return true;
}

void InstallControlMenu(QWidget* edit, std::uint32_t number) {
  QPointer<QWidget> box(edit);
  auto watch = [box, number](QWidget* widget) {
    new CTapAndHold(widget, [box, widget, number](QPoint point) {
      if (!box) return false;
      return ShowControlMenu(box, widget->mapTo(box, point), number);
    });
  };
  watch(edit);
  if (auto* area = qobject_cast<QAbstractScrollArea*>(edit)) watch(area->viewport());
}

}  // namespace tbm::ui
