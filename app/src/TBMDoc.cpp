// CTBMDoc's life (open, save, close), its record commands and their
// update handlers, and the messages it shows for the engine's failures.
#include "TBMDoc.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>

#include "CommandIds.h"
#include "FrameWnd.h"
#include "MainFrame.h"
#include "Resources.h"
#include "SyncActiveFlag.h"
#include "TBMApp.h"
#include "TBMView.h"

namespace tbm::app {

namespace {

using res::MessageArgument;

// Strings of the language library.
constexpr std::uint32_t kEngineFailedMessage = 5100;
constexpr std::uint32_t kBadFormatMessage = 5101;
constexpr std::uint32_t kCannotOpenMessage = 5102;
constexpr std::uint32_t kTooManyRecordsMessage = 5103;
constexpr std::uint32_t kInconsistentMessage = 5104;
constexpr std::uint32_t kNoFieldsMessage = 5105;
constexpr std::uint32_t kSynchronisingMessage = 5120;
constexpr std::uint32_t kRecordPositionText = 5020;

// Bit 0 of a view kind's flags: editing is allowed in that view.
constexpr std::uint32_t kEditingAllowed = 0x1;

MDbEnv* Env() { return ProgramEngine(); }

DocumentRequests& Requests() {
  static DocumentRequests requests;
  return requests;
}

}  // namespace

CTBMDoc::CTBMDoc() {
  MDbRecsetInitialize(&recordSet_);
  RegisterCommands();
}

CTBMDoc::~CTBMDoc() {
  *alive_ = false;
  if (opened_) {
    ++setGeneration_;
    CloseRecord();
    MDbRecsetDestroy(Env(), &recordSet_);
    MDbAgentCloseDb(Env());
  }
}

void CTBMDoc::SetRequests(DocumentRequests requests) { Requests() = std::move(requests); }

void CTBMDoc::RegisterCommands() {
  using namespace ui;
  OnCommand(ID_RECORD_FIRST, [this] { OnRecordFirst(); });
  OnCommand(ID_RECORD_LAST, [this] { OnRecordLast(); });
  OnCommand(ID_RECORD_NEXT, [this] { OnRecordNext(); });
  OnCommand(ID_RECORD_PREV, [this] { OnRecordPrev(); });
  OnCommand(ID_RECORD_GOTO, [this] { OnRecordGoto(); });
  OnCommand(ID_RECORD_NEW, [this] { OnRecordNew(); });
  OnCommand(ID_RECORD_DUPLICATE, [this] { OnRecordDuplicate(); });
  OnCommand(ID_RECORD_DELETE, [this] { OnRecordDelete(); });
  OnCommand(ID_RECORD_DELETE_ALL, [this] { OnRecordDeleteAll(); });
  OnCommand(ID_RECORD_FIND, [this] { OnRecordFind(); });
  OnCommand(ID_RECORD_SHOW_ALL, [this] { OnRecordShowAll(); });
  OnCommand(ID_RECORD_SORT, [this] { OnRecordSort(); });
  OnCommand(ID_VIEW_OPTIONS, [this] { OnViewOptions(); });

  // Each navigation command is enabled exactly when its move is possible.
  OnUpdateCommand(ID_RECORD_FIRST, [this](CCmdUI* ui) {
    ui->Enable(GetRecordCount() > 0 && GetRecordIndex() != 0);
  });
  OnUpdateCommand(ID_RECORD_LAST, [this](CCmdUI* ui) {
    const int n = GetRecordCount();
    ui->Enable(n > 0 && GetRecordIndex() + 1 != n);
  });
  OnUpdateCommand(ID_RECORD_PREV, [this](CCmdUI* ui) {
    const int i = GetRecordIndex();
    ui->Enable(i != -1 && i != 0);
  });
  OnUpdateCommand(ID_RECORD_NEXT, [this](CCmdUI* ui) {
    const int i = GetRecordIndex();
    const int n = GetRecordCount();
    ui->Enable(i != -1 && n > 0 && i < n - 1);
  });
  OnUpdateCommand(ID_RECORD_GOTO, [this](CCmdUI* ui) { ui->Enable(GetRecordCount() > 0); });
  OnUpdateCommand(ID_RECORD_DUPLICATE, [this](CCmdUI* ui) { ui->Enable(HasCurrentRecord()); });
  OnUpdateCommand(ID_RECORD_DELETE, [this](CCmdUI* ui) { ui->Enable(HasCurrentRecord()); });
  OnUpdateCommand(ID_RECORD_DELETE_ALL, [this](CCmdUI* ui) { ui->Enable(GetRecordCount() > 0); });
  OnUpdateCommand(ID_RECORD_FIND, [this](CCmdUI* ui) {
    ui->Enable(GetFieldCount() > 0 && (IsFiltered() || GetRecordCount() > 0));
  });
  OnUpdateCommand(ID_RECORD_SHOW_ALL, [this](CCmdUI* ui) { ui->Enable(IsFiltered()); });
  OnUpdateCommand(ID_RECORD_SORT,
                  [this](CCmdUI* ui) { ui->Enable(GetFieldCount() > 0 && GetRecordCount() > 0); });
  OnUpdateCommand(ID_INDICATOR_TITLE, [this](CCmdUI* ui) {
    ui->Enable(true);
    ui->SetText(GetTitle());
  });
  OnUpdateCommand(ID_INDICATOR_RECORD, [this](CCmdUI* ui) {
    ui->Enable(true);
    ui->SetText(RecordPositionText());
  });
}

// ---- open, save, close ----

bool CTBMDoc::OnOpenDocument(const std::u16string& path) {
  if (opened_) return false;
  if (sync::ReadSyncActive().value_or(false)) {
    ui::ResourceMessageBox(kSynchronisingMessage,
                           {MessageArgument::Text(path), MessageArgument::Text(path)});
    return false;
  }
  MDbEnv* env = Env();
  // The engine takes the path whole: a path cut to a fixed buffer could
  // name another file.
  std::int32_t code = env != nullptr ? MDbAgentOpenDb(env, path.c_str()) : MDbErrFailed;
  if (code != MDbErrNone) {
    ShowEngineMessage(code, path);
    return false;
  }
  MDbRecsetInitialize(&recordSet_);
  code = MDbAgentQuery(env, &recordSet_, nullptr);
  if (code != MDbErrNone) {
    MDbAgentCloseDb(env);
    // The database was opened, so its file is sound; the user still learns
    // why nothing shows.
    ShowEngineMessage(code, path);
    return false;
  }
  opened_ = true;
  SetModifiedFlag(false);
  return true;
}

bool CTBMDoc::OnSaveDocument(const std::u16string&) {
  SetModifiedFlag(false);
  return true;
}

void CTBMDoc::OnCloseDocument() {
  // The view's answer does not stop the close.
  if (CTBMView* view = ActiveRecordView(); view != nullptr) view->EndEdit();
  if (ui::CWinApp* app = ui::CWinApp::Get(); app != nullptr) {
    if (auto* frame = dynamic_cast<CMainFrame*>(app->mainWindow());
        frame != nullptr && dynamic_cast<CTBMView*>(frame->GetActiveView()) != nullptr)
      frame->SaveBarInfo();
  }
  if (opened_) {
    ++setGeneration_;
    CloseRecord();
    MDbRecsetDestroy(Env(), &recordSet_);
    MDbAgentCloseDb(Env());
    opened_ = false;
  }
  // May delete this document.
  ui::CDocument::OnCloseDocument();
}

// ---- shared steps of the commands ----

CTBMView* CTBMDoc::ActiveRecordView() const {
  CTBMView* view = app::ActiveRecordView();
  return view != nullptr && view->GetDocument() == this ? view : nullptr;
}

bool CTBMDoc::LeaveCurrentRecord() {
  CTBMView* view = ActiveRecordView();
  return view == nullptr || view->EndEdit();
}

bool CTBMDoc::HasCurrentRecord() {
  const int i = GetRecordIndex();
  return i >= 0 && i < GetRecordCount();
}

void CTBMDoc::ShowEngineMessage(std::int32_t code, const std::u16string& path) {
  switch (code) {
    case MDbErrBadFormat:
      ui::ResourceMessageBox(kBadFormatMessage, {});
      break;
    case MDbErrCannotOpen:
      ui::ResourceMessageBox(kCannotOpenMessage,
                             {MessageArgument::Text(path), MessageArgument::Text(path)});
      break;
    case MDbErrTooManyRecords:
      ui::ResourceMessageBox(kTooManyRecordsMessage, {});
      break;
    case MDbErrInconsistent:
      ui::ResourceMessageBox(kInconsistentMessage,
                             {MessageArgument::Text(path), MessageArgument::Text(path)});
      break;
    case MDbErrNoFields:
      ui::ResourceMessageBox(kNoFieldsMessage,
                             {MessageArgument::Text(path), MessageArgument::Text(path)});
      break;
    default:
      ui::ResourceMessageBox(kEngineFailedMessage,
                             {MessageArgument::Number(code), MessageArgument::Text(path)});
      break;
  }
}

std::uint16_t CTBMDoc::PreferredViewKind() {
  CTBMView* view = ActiveRecordView();
  const std::uint16_t kind = view != nullptr ? view->viewKind() : kFormViewKind;
  if (GetViewFlags(kind) & kEditingAllowed) return kind;
  if (kind != kListViewKind)
    return (GetViewFlags(kListViewKind) & kEditingAllowed) ? kListViewKind : kind;
  return (GetViewFlags(kFormViewKind) & kEditingAllowed) ? kFormViewKind : kind;
}

void CTBMDoc::AfterAction(std::int32_t code, int hint, bool switchView) {
  if (hint == kHintRecordSet) ++setGeneration_;
  if (code != MDbErrNone) {
    ShowEngineMessage(code, std::u16string());
    return;
  }
  CTBMView* view = ActiveRecordView();
  if (switchView && view != nullptr) {
    const std::uint16_t preferred = PreferredViewKind();
    ui::CFrameWnd* frame = view->GetParentFrame();
    if (preferred != view->viewKind() && frame != nullptr) {
      // The switch replaces the active view, which may be the one whose
      // input led here: it runs after the current event, and the new view
      // draws itself. When nothing switched, the views learn of the change
      // as usual.
      const ui::CommandId command =
          preferred == kFormViewKind ? ui::ID_VIEW_FORM : ui::ID_VIEW_LIST;
      std::weak_ptr<bool> alive = alive_;
      QPointer<ui::CFrameWnd> target(frame);
      QMetaObject::invokeMethod(
          frame,
          [this, alive, target, command, preferred, hint] {
            if (alive.expired() || !target) return;
            const bool switched = target->RouteCommand(command);
            if (alive.expired()) return;
            CTBMView* now = ActiveRecordView();
            if (!switched || now == nullptr || now->viewKind() != preferred)
              UpdateAllViews(nullptr, hint);
          },
          Qt::QueuedConnection);
      return;
    }
  }
  UpdateAllViews(nullptr, hint);
}

void CTBMDoc::AfterFailedSetChange() {
  ++setGeneration_;
  if (!opened_) return;
  MDbEnv* env = Env();
  if (!recordSet_.valid) {
    CloseRecord();
    MDbRecsetDestroy(env, &recordSet_);
    if (MDbAgentQuery(env, &recordSet_, nullptr) != MDbErrNone) return;
  }
  if (!HasCurrentRecord() && GetRecordCount() > 0) SetRecordIndex(0);
  UpdateAllViews(nullptr, kHintRecordSet);
}

// ---- navigation ----

void CTBMDoc::MoveTo(std::int16_t index) {
  if (index == GetRecordIndex()) return;
  if (!LeaveCurrentRecord()) return;
  SetRecordIndex(index);
  UpdateAllViews(nullptr, kHintNavigation);
}

void CTBMDoc::OnRecordFirst() {
  if (GetRecordCount() > 0) MoveTo(0);
}

void CTBMDoc::OnRecordLast() {
  const int n = GetRecordCount();
  if (n > 0) MoveTo(static_cast<std::int16_t>(n - 1));
}

void CTBMDoc::OnRecordNext() {
  const int i = GetRecordIndex();
  const int n = GetRecordCount();
  if (i != -1 && n > 0 && i < n - 1) MoveTo(static_cast<std::int16_t>(i + 1));
}

void CTBMDoc::OnRecordPrev() {
  const int i = GetRecordIndex();
  if (i != -1 && i != 0) MoveTo(static_cast<std::int16_t>(i > 0 ? i - 1 : 0));
}

void CTBMDoc::OnRecordGoto() {
  const std::uint16_t n = GetRecordCount();
  if (n == 0 || !Requests().goTo) return;
  const std::optional<std::int16_t> index = Requests().goTo(n);
  if (!index || *index < 0 || *index >= n) return;
  MoveTo(*index);
}

// ---- new, duplicate, delete ----

void CTBMDoc::OnRecordNew() {
  if (!LeaveCurrentRecord()) return;
  CloseRecord();
  MDbEnv* env = Env();
  MDbClearFailureCause();
  std::uint16_t position = 0;
  const std::int32_t code = MDbRecsetNewRec(env, &recordSet_, &position);
  if (code == MDbErrNone) MDbRecsetSetInx(env, &recordSet_, static_cast<std::int16_t>(position));
  AfterAction(code, kHintRecordAdded, true);
}

void CTBMDoc::OnRecordDuplicate() {
  if (!LeaveCurrentRecord()) return;
  if (!HasCurrentRecord()) return;
  CloseRecord();
  MDbEnv* env = Env();
  MDbClearFailureCause();
  std::uint16_t position = 0;
  const std::int32_t code = MDBRecsetDupRec(env, &recordSet_, GetRecordIndex(), &position);
  if (code == MDbErrNone) MDbRecsetSetInx(env, &recordSet_, static_cast<std::int16_t>(position));
  AfterAction(code, kHintRecordAdded, true);
}

void CTBMDoc::OnRecordDelete() {
  if (!LeaveCurrentRecord()) return;
  if (!Requests().confirmDelete) return;
  const std::optional<DeleteAnswer> answer = Requests().confirmDelete(DeleteMode::kOneRecord);
  if (!answer || !HasCurrentRecord()) return;
  CloseRecord();
  const std::int16_t index = GetRecordIndex();
  MDbClearFailureCause();
  const std::int32_t code =
      MDbRecsetDelRec(Env(), &recordSet_, index, answer->trackForSync ? 0 : 1);
  if (code == MDbErrNone) {
    const int remaining = GetRecordCount();
    if (remaining > 0)
      SetRecordIndex(static_cast<std::int16_t>(index < remaining - 1 ? index : remaining - 1));
  }
  AfterAction(code, kHintRecordSet, false);
}

void CTBMDoc::OnRecordDeleteAll() {
  if (!LeaveCurrentRecord()) return;
  if (!Requests().confirmDelete) return;
  const std::optional<DeleteAnswer> answer =
      Requests().confirmDelete(IsFiltered() ? DeleteMode::kFoundSet : DeleteMode::kAllRecords);
  if (!answer) return;
  CloseRecord();
  std::int32_t code = MDbErrNone;
  {
    ui::CWaitCursor wait;
    MDbClearFailureCause();
    code = MDbRecsetDelAllRec(Env(), &recordSet_, answer->trackForSync ? 0 : 1);
  }
  AfterAction(code, kHintRecordSet, false);
  // The records before a failure stay deleted: the views show what is left.
  if (code != MDbErrNone) AfterFailedSetChange();
}

// ---- find, show all, sort ----

std::int32_t CTBMDoc::Requery(const FindRequest* find) {
  ui::CWaitCursor wait;
  CloseRecord();
  MDbEnv* env = Env();
  MDbClearFailureCause();
  // The set is invalid after a destroy whatever it answered, so the query
  // runs either way; the destroy's failure is the one reported.
  std::int32_t code = MDbRecsetDestroy(env, &recordSet_);
  std::int32_t queried = MDbErrNone;
  if (find == nullptr) {
    queried = MDbAgentQuery(env, &recordSet_, nullptr);
  } else {
    // The set keeps a pointer to the search text for its later sorts: the
    // text changes only once the set that pointed at it is gone.
    findText_ = find->text;
    const MDbFindRequest request{static_cast<std::int16_t>(find->field), 0, findText_.c_str()};
    queried = MDbAgentQuery(env, &recordSet_, &request);
  }
  if (code == MDbErrNone) code = queried;
  if (queried == MDbErrNone && GetRecordCount() > 0) SetRecordIndex(0);
  return code;
}

void CTBMDoc::OnRecordFind() {
  if (!LeaveCurrentRecord()) return;
  if (!Requests().find) return;
  const std::optional<FindRequest> answer = Requests().find(lastFind_);
  if (!answer) return;
  lastFind_ = *answer;
  if (lastFind_.text.empty() || lastFind_.field >= GetFieldCount()) return;
  const std::int32_t code = Requery(&lastFind_);
  AfterAction(code, kHintRecordSet, false);
  if (code != MDbErrNone) AfterFailedSetChange();
}

void CTBMDoc::OnRecordShowAll() {
  if (!LeaveCurrentRecord()) return;
  const std::int32_t code = Requery(nullptr);
  AfterAction(code, kHintRecordSet, false);
  if (code != MDbErrNone) AfterFailedSetChange();
}

void CTBMDoc::OnRecordSort() {
  if (GetRecordCount() == 0) return;
  if (!LeaveCurrentRecord()) return;
  if (!Requests().sort) return;
  const std::optional<SortRequest> answer = Requests().sort();
  if (!answer) return;
  Sort(answer->field, answer->descending ? 1 : 0);
}

void CTBMDoc::SortBy(std::int16_t field, std::uint32_t order) {
  if (GetRecordCount() == 0) return;
  if (!LeaveCurrentRecord()) return;
  Sort(field, order);
}

void CTBMDoc::Sort(std::int16_t field, std::uint32_t order) {
  std::int32_t code = MDbErrNone;
  {
    ui::CWaitCursor wait;
    CloseRecord();
    MDbClearFailureCause();
    code = MDbRecsetSort(Env(), &recordSet_, field, order);
    if (code == MDbErrNone && GetRecordCount() > 0) SetRecordIndex(0);
  }
  AfterAction(code, kHintRecordSet, false);
  if (code != MDbErrNone) AfterFailedSetChange();
}

// ---- view options ----

void CTBMDoc::OnViewOptions() {
  CTBMView* view = ActiveRecordView();
  if (view == nullptr) return;
  ShowViewOptions(view->viewKind() == kFormViewKind ? OptionsPage::kForm : OptionsPage::kList, -1);
}

void CTBMDoc::ShowViewOptions(OptionsPage page, std::int16_t field) {
  if (ActiveRecordView() == nullptr) return;
  if (!LeaveCurrentRecord()) return;
  if (!Requests().viewOptions) return;
  const std::optional<ViewOptionsChanges> changes = Requests().viewOptions(page, field);
  if (changes) ApplyViewOptions(*changes);
}

void CTBMDoc::ApplyViewOptions(const ViewOptionsChanges& changes) {
  int hint = kHintOptions;
  if (changes.resetDisplayOrder) {
    ResetDisplayOrder();
    hint = kHintOptionsResetOrder;
  }
  if (changes.listFlags) SetViewFlags(kListViewKind, *changes.listFlags);
  if (changes.formFlags) SetViewFlags(kFormViewKind, *changes.formFlags);
  if (changes.fieldDisplays) {
    const std::size_t fields =
        std::min<std::size_t>(GetFieldCount(), changes.fieldDisplays->size());
    for (std::size_t i = 0; i < fields; ++i)
      SetFieldDisplay(static_cast<std::int16_t>(i), (*changes.fieldDisplays)[i]);
  }
  UpdateAllViews(nullptr, hint);
}

// ---- status bar ----

std::u16string CTBMDoc::RecordPositionText() {
  const int n = GetRecordCount();
  const int i = GetRecordIndex();
  if (n > 0 && i >= 0 && i < n) {
    return ui::FromQString(ui::FormatResourceMessage(
        kRecordPositionText, {MessageArgument::Number(i + 1), MessageArgument::Number(n)}));
  }
  if (n == 0) {
    return ui::FromQString(ui::FormatResourceMessage(
        kRecordPositionText, {MessageArgument::Number(0), MessageArgument::Number(0)}));
  }
  return std::u16string();
}

}  // namespace tbm::app
