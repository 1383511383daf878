#include "TBMView.h"

#include <QApplication>
#include <QStringList>
#include <QStyle>
#include <QStyleFactory>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <vector>

#include "FieldEditor.h"
#include "FrameWnd.h"
#include "InputPanel.h"
#include "ProgramLog.h"
#include "Resources.h"
#include "WinApp.h"

namespace tbm::app {

void StyleViewScrollBar(QWidget* bar) {
  // One style serves every view; the application owns it.
  static QPointer<QStyle> style;
  if (style.isNull()) {
    style = QStyleFactory::create(QStringLiteral("Windows"));
    if (style.isNull()) return;
    style->setParent(qApp);
  }
  bar->setStyle(style);
}

QFont MakeViewFont(int fontKind) { return ui::ResourceFont(fontKind == kFontLarge ? 4001 : 4000); }

namespace {

// Offsets of the characters (grapheme clusters) of text: 0, each boundary,
// text.size().
std::vector<qsizetype> CharacterBoundaries(const QString& text) {
  std::vector<qsizetype> bounds{0};
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  while (finder.toNextBoundary() != -1) bounds.push_back(finder.position());
  if (bounds.back() != text.size()) bounds.push_back(text.size());
  return bounds;
}

// The largest count of characters whose prefix fits in width: widths grow
// with the count.
int CharactersThatFit(const QString& text, const std::vector<qsizetype>& bounds,
                      const QFontMetrics& metrics, int width) {
  int low = 0;
  int high = static_cast<int>(bounds.size()) - 1;
  while (low < high) {
    int middle = (low + high + 1) / 2;
    if (metrics.horizontalAdvance(text.left(bounds[middle])) <= width)
      low = middle;
    else
      high = middle - 1;
  }
  return low;
}

}  // namespace

QString CutTextToWidth(const QString& text, const QFontMetrics& metrics, int width, bool ellipsis,
                       bool oneLine) {
  QString source = text;
  if (oneLine) {
    qsizetype end = 0;
    while (end < source.size() && source[end] != u'\r' && source[end] != u'\n') ++end;
    source.truncate(end);
  }
  // No character is narrower than a pixel in any font a view uses, but
  // combining marks take no width: a few per pixel are allowed, and a text
  // longer than that is only measured that far.
  const qsizetype reach = std::max<qsizetype>(64, static_cast<qsizetype>(std::max(width, 0)) * 8);
  const bool whole = source.size() <= reach;
  if (!whole) source.truncate(reach);
  std::vector<qsizetype> bounds = CharacterBoundaries(source);
  const int all = static_cast<int>(bounds.size()) - 1;
  const int fit = width > 0 ? CharactersThatFit(source, bounds, metrics, width) : 0;
  if (whole && fit == all) return source;
  if (!ellipsis || fit <= 3) return source.left(bounds[fit]);
  // Three dots may be wider than the three characters they replace: fewer
  // characters are kept rather than draw past the width.
  int keep = fit - 3;
  QString result = source.left(bounds[keep]) + QStringLiteral("...");
  while (keep > 0 && metrics.horizontalAdvance(result) > width) {
    --keep;
    result = source.left(bounds[keep]) + QStringLiteral("...");
  }
  return result;
}

CTBMView::CTBMView(std::uint16_t viewKind, QWidget* parent)
    : ui::CView(parent), viewKind_(viewKind) {
  SetFontKind(kFontNormal);
  QObject::connect(&ui::CInputPanel::Get(), &ui::CInputPanel::changed, this,
                   [this] { OnInputPanelChanged(); });
}

CTBMView::~CTBMView() = default;

CTBMDoc* CTBMView::GetDocument() const { return dynamic_cast<CTBMDoc*>(ui::CView::GetDocument()); }

void CTBMView::SetFontKind(int kind) {
  if (kind == fontKind_) return;
  fontKind_ = kind;
  viewFont_ = MakeViewFont(kind);
}

QWidget* CTBMView::editorControl() const {
  return editor_ != nullptr ? editor_->control() : nullptr;
}

QRect CTBMView::GetCellRect(std::int16_t, std::int16_t) { return QRect(); }

bool CTBMView::WantsEditorScrollBar(std::int16_t, std::int16_t) { return false; }

int CTBMView::GetCellHeight() { return 0; }

bool CTBMView::BeginEdit(std::int16_t record, std::int16_t field) {
  if (!EndEdit()) return false;
  CTBMDoc* document = GetDocument();
  if (document == nullptr || !document->IsOpen() || record < 0 ||
      record >= static_cast<int>(document->GetRecordCount()) || field < 0 ||
      field >= static_cast<int>(document->GetFieldCount()))
    return false;
  std::optional<std::u16string> value = document->ReadField(record, field);
  if (!value) return false;
  FieldEditSetup setup;
  setup.view = this;
  setup.document = document;
  setup.record = record;
  setup.field = field;
  setup.type = document->GetFieldType(field);
  setup.maxSize = document->GetFieldMaxSize(field);
  setup.option = document->GetFieldOption(field);
  setup.name = document->GetFieldName(field);
  setup.value = std::move(*value);
  setup.font = viewFont_;
  // The view edits from here on: scrolling to make the cell visible keeps
  // the edit in mind.
  cellEditActive_ = true;
  editRecord_ = record;
  editField_ = field;
  setup.cell = GetCellRect(record, field);
  editor_ = CreateFieldEditor(std::move(setup));
  if (editor_ == nullptr) {
    cellEditActive_ = false;
    editRecord_ = -1;
    editField_ = -1;
    if (panelRaised_) {
      panelRaised_ = false;
      ui::CInputPanel::Get().Show(panelWasUp_);
    }
    return false;
  }
  editGeneration_ = document->recordSetGeneration();
  return true;
}

bool CTBMView::EndEdit() {
  if (editor_ != nullptr) {
    // Validation may ask the user; what happens meanwhile cannot end this
    // edit a second time.
    if (endingEdit_) return false;
    endingEdit_ = true;
    const bool ended = CommitEditor();
    endingEdit_ = false;
    if (!ended) return false;
    editor_.reset();
  }
  cellEditActive_ = false;
  editRecord_ = -1;
  editField_ = -1;
  if (panelRaised_) {
    panelRaised_ = false;
    // A tap inside the edited cell leaves the panel as it is.
    if (!tapInsideEditedCell_) ui::CInputPanel::Get().Show(panelWasUp_);
  }
  tapInsideEditedCell_ = false;
  return true;
}

bool CTBMView::EditEndsWithoutQuestion() {
  if (editor_ == nullptr) return true;
  if (!editor_->HoldsValidValue()) return false;
  if (!editor_->IsModified()) return true;
  const std::optional<std::u16string> text = editor_->GetValueText();
  return !text || FitsEditedField(*text);
}

bool CTBMView::FitsEditedField(const std::u16string& text) {
  CTBMDoc* document = GetDocument();
  if (document == nullptr || !document->IsOpen()) return true;
  const std::uint32_t maxSize = document->GetFieldMaxSize(editField_);
  return maxSize == 0 || text.size() < maxSize;
}

bool CTBMView::CommitEditor() {
  if (!editor_->Validate()) return false;
  if (!editor_->IsModified()) return true;
  std::optional<std::u16string> text = editor_->GetValueText();
  CTBMDoc* document = GetDocument();
  if (!text || document == nullptr || !document->IsOpen()) return true;
  if (document->recordSetGeneration() != editGeneration_) {
    // The set changed under the edit: the index may name another record
    // now, and nothing is written into it.
    if (ui::CWinApp* app = ui::CWinApp::Get(); app != nullptr)
      WriteLog(app->logName(), LogLevel::kWarning,
               "a field edit was dropped: the records were renumbered while it was open");
    return true;
  }
  const std::u16string name = document->GetFieldName(editField_);
  if (!FitsEditedField(*text)) {
    const std::uint32_t maxSize = document->GetFieldMaxSize(editField_);
    // Too long for the field: nothing is written and the editor stays, so
    // the text is not lost.
    ui::ResourceMessageBox(kTooLongMessage,
                           {res::MessageArgument::Text(name),
                            res::MessageArgument::Number(static_cast<std::int64_t>(maxSize - 1)),
                            res::MessageArgument::Number(static_cast<std::int64_t>(text->size()))},
                           ui::MessageIcon::kWarning);
    return false;
  }
  if (document->WriteField(editRecord_, editField_, *text)) return true;
  // The engine refused the write: the user chooses between trying again
  // later (the editor stays) and giving the change up.
  return ui::ResourceMessageBox(kNotWrittenMessage, {res::MessageArgument::Text(name)},
                                ui::MessageIcon::kError,
                                ui::MessageButtons::kOkCancel) == ui::MessageAnswer::kCancel;
}

void CTBMView::ForwardTap(QPoint point) {
  if (editor_ == nullptr) return;
  const QRect rect = editor_->GetRect();
  if (rect.contains(point)) editor_->TapAt(point - rect.topLeft());
}

void CTBMView::EnsureVisible(std::int16_t, std::int16_t) {}

void CTBMView::ScrollForEditor(int) {}

ui::CCmdTarget* CTBMView::EditorTarget() { return editor_.get(); }

void CTBMView::RaiseInputPanelForEdit() {
  ui::CInputPanel& panel = ui::CInputPanel::Get();
  if (!panelRaised_) panelWasUp_ = panel.IsShown();
  panelRaised_ = true;
  panel.Show(true);
}

void CTBMView::OnInputPanelChanged() {
  if (editor_ != nullptr) EnsureVisible(editRecord_, editField_);
}

void CTBMView::OnScannedLabel(const std::u16string& label) {
  CTBMDoc* document = GetDocument();
  if (label.empty() || document == nullptr) return;
  if (editor_ != nullptr) {
    if (!editor_->AcceptScannedText(label)) return;
    const std::int16_t record = editRecord_;
    const auto next = static_cast<std::int16_t>(
        document->GetNextField(static_cast<std::uint16_t>(editField_), viewKind_));
    BeginEdit(record, next);
    return;
  }
  FindRequest find = document->GetLastFind();
  find.text = label;
  document->SetLastFind(find);
  PostCommand(ui::ID_RECORD_FIND);
}

void CTBMView::SendCommand(ui::CommandId id) {
  if (ui::CFrameWnd* frame = GetParentFrame(); frame != nullptr)
    frame->RouteCommand(id);
  else
    OnCmdMsg(id);
}

void CTBMView::PostCommand(ui::CommandId id) {
  if (ui::CFrameWnd* frame = GetParentFrame(); frame != nullptr) {
    frame->PostCommand(id);
    return;
  }
  QPointer<CTBMView> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, id] {
        if (self) self->OnCmdMsg(id);
      },
      Qt::QueuedConnection);
}

void CTBMView::RepaintFrameStatusBar() {
  ui::CWinApp* app = ui::CWinApp::Get();
  if (app == nullptr || app->mainWindow() == nullptr) return;
  app->mainWindow()->RepaintStatusBar();
}

CTBMView* ActiveRecordView() {
  ui::CWinApp* app = ui::CWinApp::Get();
  if (app == nullptr || app->mainWindow() == nullptr) return nullptr;
  return dynamic_cast<CTBMView*>(app->mainWindow()->GetActiveView());
}

}  // namespace tbm::app
