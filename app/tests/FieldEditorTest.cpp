// The field editors as a user meets them: every type and style edited in
// both views, the value lists' and check boxes' rules, typing, pasting and
// scanning into a text field, values that cannot be stored, and whole
// editing sessions read back with tbmdb.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "AppTestSupport.h"
#include "CommandIds.h"
#include "DateTimeEntry.h"
#include "FieldEdit.h"
#include "FieldEditor.h"
#include "FieldZoomDlg.h"
#include "FrameWnd.h"
#include "InputPanel.h"
#include "RunProgram.h"
#include "TBMFormView.h"
#include "TBMListView.h"
#include "TapAndHold.h"
#include "Utf16.h"

namespace tbm::app::testing {
namespace {

// Fields of every kind the editors tell apart.
constexpr char kStylesCsv[] =
    "Name:text,Category:text,Kind:text,Paid:text,Notes:text,Code:text,Qty:number,Born:date,"
    "Start:time\n"
    "ada,Customer,Retail,\"A\r\nB\",Long notes,X-1,12,12/10/1815,9:30 AM\n"
    ",Supplier,,,,,,1/1/2000,\n";
const std::vector<std::string> kStylesOptions = {"--style",
                                                 "Category=list",
                                                 "Kind=combo",
                                                 "Paid=checkbox",
                                                 "Notes=zoom",
                                                 "Start=list",
                                                 "--values",
                                                 "Category=Customer|-|Supplier",
                                                 "Kind=Retail|Wholesale",
                                                 "Paid=B",
                                                 "Start=9:30 AM|noon",
                                                 "--locked",
                                                 "Code",
                                                 "--capitalise",
                                                 "Name",
                                                 "Kind"};
enum Field { kName, kCategory, kKind, kPaid, kNotes, kCode, kQty, kBorn, kStart };

class FieldEditorTest : public AppTest {
 protected:
  ~FieldEditorTest() override {
    CloseView();
    ui::CInputPanel::Get().Show(false);
  }

  // The view goes with its frame; the document stays open.
  void CloseView() {
    if (document_ != nullptr) document_->SetAutoDelete(false);
    app_->SetMainWindow(nullptr);
    viewFrame_.reset();
    if (document_ != nullptr) document_->SetAutoDelete(true);
  }

  // Opens path in a record view of kind with editing allowed, in a frame
  // that is the program's main window.
  CTBMView* Show(const std::u16string& path, std::uint16_t kind) {
    if (OpenDocument(path) == nullptr) return nullptr;
    if (document_->GetRecordCount() > 0) document_->SetRecordIndex(0);
    AllowEditing(kind, true);
    viewFrame_ = std::make_unique<ui::CFrameWnd>();
    viewFrame_->resize(240, 252);
    CTBMView* view = kind == kListViewKind
                         ? static_cast<CTBMView*>(new CTBMListView(viewFrame_.get()))
                         : new CTBMFormView(viewFrame_.get());
    view->setGeometry(viewFrame_->rect());
    view->SetDocument(document_);
    viewFrame_->SetActiveView(view);
    app_->SetMainWindow(viewFrame_.get());
    viewFrame_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(viewFrame_.get()));
    view->OnInitialUpdate();
    RunPostedEvents();
    return view;
  }

  std::u16string Value(int record, int field) {
    return document_->ReadField(static_cast<std::int16_t>(record), static_cast<std::int16_t>(field))
        .value_or(u"<unreadable>");
  }

  // Sets the field directly and begins an edit on it.
  void EditAfterSetting(CTBMView* view, int field, const std::u16string& value) {
    ASSERT_TRUE(document_->WriteField(0, static_cast<std::int16_t>(field), value));
    document_->UpdateAllViews(nullptr, kHintNavigation);
    ASSERT_TRUE(view->BeginEdit(0, static_cast<std::int16_t>(field)));
  }

  std::unique_ptr<ui::CFrameWnd> viewFrame_;
};

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

// Runs answer on the field editing dialog once it is open (it runs modal).
void WhenZoomDialogOpens(std::function<void(CFieldZoomDlg*)> answer) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, answer] {
    if (auto* dialog = dynamic_cast<CFieldZoomDlg*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      answer(dialog);
    }
  });
  poll->start();
}

TEST_F(FieldEditorTest, EveryStyleGetsItsEditorInBothViews) {
  const std::u16string path = MakeDatabase("Styles", kStylesCsv, kStylesOptions);
  for (std::uint16_t kind : {kListViewKind, kFormViewKind}) {
    SCOPED_TRACE(kind);
    CTBMView* view = Show(path, kind);
    ASSERT_NE(view, nullptr);
    // A pick list whose value list is gone.
    document_->SetFieldOption(kBorn, FieldOption{kStyleDropList, 255, 0});
    auto control = [&](int field) -> QWidget* {
      return view->BeginEdit(0, static_cast<std::int16_t>(field)) ? view->editorControl() : nullptr;
    };
    auto* text = dynamic_cast<CFieldEdit*>(control(kName));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->limit(), 2048);
    // The list's text boxes scroll; the form's grow.
    EXPECT_EQ(text->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn, kind == kListViewKind);
    auto* pick = qobject_cast<QComboBox*>(control(kCategory));
    ASSERT_NE(pick, nullptr);
    EXPECT_FALSE(pick->isEditable());
    auto* combo = qobject_cast<QComboBox*>(control(kKind));
    ASSERT_NE(combo, nullptr);
    EXPECT_TRUE(combo->isEditable());
    auto* check = qobject_cast<QCheckBox*>(control(kPaid));
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->text(), QStringLiteral("B"));
    EXPECT_TRUE(check->isChecked());
    ASSERT_NE(control(kNotes), nullptr);
    EXPECT_EQ(view->editorControl()->objectName(), QStringLiteral("zoomFieldBox"));
    // Entry locked: no editor, and the edit before it ended.
    EXPECT_EQ(control(kCode), nullptr);
    EXPECT_FALSE(view->cellEditActive());
    // Numbers are edited as text.
    EXPECT_NE(dynamic_cast<CFieldEdit*>(control(kQty)), nullptr);
    // A date pick list without a value list holds only the stand-in, which
    // cannot be chosen: ending commits nothing.
    auto* dates = qobject_cast<QComboBox*>(control(kBorn));
    ASSERT_NE(dates, nullptr);
    ASSERT_EQ(dates->count(), 1);
    EXPECT_EQ(dates->itemText(0), QStringLiteral("(no value list)"));
    EXPECT_FALSE(qobject_cast<QStandardItemModel*>(dates->model())->item(0)->isEnabled());
    QTest::keyClick(dates, Qt::Key_Down);
    auto* times = qobject_cast<QComboBox*>(control(kStart));
    ASSERT_NE(times, nullptr);
    EXPECT_EQ(times->currentText(), QStringLiteral("9:30 AM"));
    EXPECT_TRUE(view->EndEdit());
    EXPECT_EQ(Value(0, kBorn), u"12/10/1815");
    EXPECT_EQ(Value(0, kStart), u"9:30 AM");
    CloseView();
    CloseDocument();
  }
}

TEST_F(FieldEditorTest, DatesAndTimesAreEditedInTheirEntriesInBothViews) {
  const std::u16string path =
      MakeDatabase("Diary", "Day:date,At:time,Due:date\n1/2/03,9:30 AM,12/24/2026\n",
                   {"--style", "Due=combo", "--values", "Due=12/24/2026|-|someday"});
  for (std::uint16_t kind : {kListViewKind, kFormViewKind}) {
    SCOPED_TRACE(kind);
    CTBMView* view = Show(path, kind);
    ASSERT_NE(view, nullptr);
    // A date opens its entry with the calendar; leaving it unchanged writes
    // the date back in the database's standard text.
    ASSERT_TRUE(view->BeginEdit(0, 0));
    auto* date = dynamic_cast<CDateEntryCtrl*>(view->editorControl());
    ASSERT_NE(date, nullptr);
    EXPECT_TRUE(date->IsPopupOpen());
    ASSERT_TRUE(view->EndEdit());
    EXPECT_EQ(Value(0, 0), u"1/2/2003");
    // The menu's Today, through the frame's command route.
    ASSERT_TRUE(view->BeginEdit(0, 0));
    ASSERT_TRUE(viewFrame_->RouteCommand(ui::ID_DATE_TODAY));
    ASSERT_TRUE(view->EndEdit());
    EXPECT_EQ(Value(0, 0), document_->TodayText());
    // A stored text that is no date is emptied.
    EditAfterSetting(view, 0, u"sometime in May");
    ASSERT_TRUE(view->EndEdit());
    EXPECT_EQ(Value(0, 0), u"");
    // A time entry keeps the suffix; Now gives a time the field takes.
    ASSERT_TRUE(view->BeginEdit(0, 1));
    auto* time = dynamic_cast<CTimeEntryCtrl*>(view->editorControl());
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->suffixKind(), CTimeEntryCtrl::kMorning);
    ASSERT_TRUE(viewFrame_->RouteCommand(ui::ID_TIME_NOW));
    ASSERT_TRUE(view->EndEdit());
    EXPECT_TRUE(document_->CheckTime(Value(0, 1)));
    EXPECT_NE(Value(0, 1), u"9:30 AM");
    // A combo-style date drops its value list instead of the calendar.
    ASSERT_TRUE(view->BeginEdit(0, 2));
    date = dynamic_cast<CDateEntryCtrl*>(view->editorControl());
    ASSERT_NE(date, nullptr);
    EXPECT_FALSE(date->IsPopupOpen());
    date->OpenPopup();
    EXPECT_TRUE(date->IsPopupOpen());
    ASSERT_TRUE(view->EndEdit());
    EXPECT_FALSE(date->isVisible()) << "the entry goes with its pop-up";
    EXPECT_EQ(Value(0, 2), u"12/24/2026");
    ASSERT_TRUE(document_->WriteField(0, 0, u"1/2/03"));
    ASSERT_TRUE(document_->WriteField(0, 1, u"9:30 AM"));
    CloseView();
    CloseDocument();
  }
}

TEST_F(FieldEditorTest, PickListsAndCheckBoxesStoreWhatWasChosen) {
  CTBMView* view = Show(MakeDatabase("Styles", kStylesCsv, kStylesOptions), kFormViewKind);
  ASSERT_NE(view, nullptr);

  // The separator line is shown but skipped; choosing moves past it.
  ASSERT_TRUE(view->BeginEdit(0, kCategory));
  auto* pick = qobject_cast<QComboBox*>(view->editorControl());
  ASSERT_EQ(pick->count(), 3);
  EXPECT_FALSE(qobject_cast<QStandardItemModel*>(pick->model())->item(1)->isEnabled());
  EXPECT_EQ(pick->currentIndex(), 0);
  QTest::keyClick(pick, Qt::Key_Down);
  EXPECT_EQ(pick->currentText(), QStringLiteral("Supplier"));
  ASSERT_TRUE(view->EndEdit());
  EXPECT_EQ(Value(0, kCategory), u"Supplier");

  // Typing into the combo: the first letter of an empty box is capitalised.
  EditAfterSetting(view, kKind, u"");
  auto* combo = qobject_cast<QComboBox*>(view->editorControl());
  QTest::keyClicks(combo->lineEdit(), "wood");
  ASSERT_TRUE(view->EndEdit());
  EXPECT_EQ(Value(0, kKind), u"Wood");

  // Check box lines: the caption's line goes exactly, with its break.
  ASSERT_TRUE(view->BeginEdit(0, kPaid));
  view->ForwardTap(view->editorControl()->geometry().center());
  ASSERT_TRUE(view->EndEdit());
  EXPECT_EQ(Value(0, kPaid), u"A");
  // A line that matches only without regard to case shows checked, and
  // unchecking it takes nothing away.
  EditAfterSetting(view, kPaid, u"A\r\nb");
  EXPECT_TRUE(qobject_cast<QCheckBox*>(view->editorControl())->isChecked());
  qobject_cast<QCheckBox*>(view->editorControl())->toggle();
  ASSERT_TRUE(view->EndEdit());
  EXPECT_EQ(Value(0, kPaid), u"A\r\nb");
  // Checking an empty value stores the caption alone.
  EditAfterSetting(view, kPaid, u"");
  qobject_cast<QCheckBox*>(view->editorControl())->toggle();
  ASSERT_TRUE(view->EndEdit());
  EXPECT_EQ(Value(0, kPaid), u"B");

  // A time picked from the list that is no time: message 5017 with OK and
  // Cancel. Cancel keeps the editor; OK keeps the stored value.
  ASSERT_TRUE(view->BeginEdit(0, kStart));
  auto* times = qobject_cast<QComboBox*>(view->editorControl());
  QTest::keyClick(times, Qt::Key_Down);
  EXPECT_EQ(times->currentText(), QStringLiteral("noon"));
  answer = ui::MessageAnswer::kCancel;
  EXPECT_FALSE(view->EndEdit());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].buttons, ui::MessageButtons::kOkCancel);
  EXPECT_NE(messages[0].text.find(u"not a valid time"), std::u16string::npos);
  EXPECT_TRUE(view->cellEditActive());
  answer = ui::MessageAnswer::kOk;
  EXPECT_TRUE(view->EndEdit());
  EXPECT_EQ(Value(0, kStart), u"9:30 AM");

  // In the list a tap on a check-box cell toggles it at once (the value
  // is "B", checked); the tap on another row stores it.
  const std::u16string path = document_->GetPathName();
  CloseView();
  CloseDocument();
  auto* list = static_cast<CTBMListView*>(Show(path, kListViewKind));
  ASSERT_NE(list, nullptr);
  const QRect paid = list->GetCellRect(0, kPaid).intersected(list->RowArea());
  ASSERT_FALSE(paid.isEmpty());
  QTest::mouseClick(list, Qt::LeftButton, {}, paid.center());
  ASSERT_TRUE(list->cellEditActive());
  EXPECT_FALSE(qobject_cast<QCheckBox*>(list->editorControl())->isChecked());
  QTest::mouseClick(list, Qt::LeftButton, {}, list->RowBand(1).topLeft() + QPoint(10, 4));
  EXPECT_FALSE(list->cellEditActive());
  EXPECT_EQ(Value(0, kPaid), u"");
}

TEST_F(FieldEditorTest, TypedPastedAndScannedTextIsKeptWithinTheField) {
  CTBMView* view = Show(MakeDatabase("Styles", kStylesCsv, kStylesOptions), kFormViewKind);
  ASSERT_NE(view, nullptr);
  ui::CInputPanel& panel = ui::CInputPanel::Get();
  panel.Show(false);

  // Capitalised: the first letter in an empty box only.
  EditAfterSetting(view, kName, u"");
  EXPECT_TRUE(panel.IsShown()) << "a text box raises the input panel";
  auto* edit = dynamic_cast<CFieldEdit*>(view->editorControl());
  QTest::keyClicks(edit, "zoe");
  ASSERT_TRUE(view->EndEdit());
  EXPECT_FALSE(panel.IsShown()) << "and puts it back down";
  EXPECT_EQ(Value(0, kName), u"Zoe");
  ASSERT_TRUE(view->BeginEdit(0, kName));
  edit = dynamic_cast<CFieldEdit*>(view->editorControl());
  edit->moveCursor(QTextCursor::End);
  QTest::keyClicks(edit, " x");
  ASSERT_TRUE(view->EndEdit());
  EXPECT_EQ(Value(0, kName), u"Zoe x");

  // A paste of 100,000 characters with control characters and line
  // breaks: the controls go, the breaks are stored as CR LF, and the field
  // takes what it holds.
  QString pasted = QStringLiteral("one\r\ntwo\x01\x1b[0m\x7f three\n");
  while (pasted.size() < 100000) pasted += QStringLiteral("0123456789");
  QGuiApplication::clipboard()->setText(pasted);
  ASSERT_TRUE(view->BeginEdit(0, kName));
  ASSERT_TRUE(viewFrame_->RouteCommand(ui::ID_EDIT_SELECT_ALL));
  ASSERT_TRUE(viewFrame_->RouteCommand(ui::ID_EDIT_PASTE));
  ASSERT_TRUE(view->EndEdit());
  const std::u16string stored = Value(0, kName);
  EXPECT_EQ(stored.size(), 2048u);
  EXPECT_EQ(stored.substr(0, 20), u"one\r\ntwo[0m three\r\n0");

  // Edit commands follow the box: nothing selected, no cut; undo after a
  // change.
  EditAfterSetting(view, kName, u"Grace");
  edit = dynamic_cast<CFieldEdit*>(view->editorControl());
  ui::CCmdUI cut(ui::ID_EDIT_CUT);
  ASSERT_TRUE(viewFrame_->RouteUpdate(&cut));
  EXPECT_FALSE(cut.enabled());
  QTest::keyClicks(edit, "!");
  ui::CCmdUI undo(ui::ID_EDIT_UNDO);
  ASSERT_TRUE(viewFrame_->RouteUpdate(&undo));
  EXPECT_TRUE(undo.enabled());

  // A tap-and-hold on the box shows the edit menu, its items enabled as
  // the box allows.
  QTest::mousePress(edit->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  QTest::qWait(ui::CTapAndHold::kHoldMilliseconds + 200);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  QStringList items;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) items << action->text() + (action->isEnabled() ? "+" : "-");
  EXPECT_EQ(items.join(u' '), QStringLiteral("&Undo+ Cu&t- &Copy- &Paste+ Cl&ear- Select &All+"));
  menu->close();
  QTest::mouseRelease(edit->viewport(), Qt::LeftButton, {}, QPoint(5, 5));

  // The form's box grows with its text and pushes the fields below down.
  auto* form = static_cast<CTBMFormView*>(view);
  const int categoryLine = form->firstLineOf(kCategory);
  const int boxHeight = edit->height();
  edit->moveCursor(QTextCursor::End);
  for (const char* line : {"second line", "third line", "fourth line"}) {
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClicks(edit, line);
  }
  QCoreApplication::processEvents();
  form->repaint();
  EXPECT_GT(edit->height(), boxHeight);
  EXPECT_GT(form->firstLineOf(kCategory), categoryLine);

  // A scan replaces the edited text and moves on to the next field; from
  // the last field editing wraps to the first.
  view->OnScannedLabel(u"4006381333931");
  EXPECT_EQ(Value(0, kName), u"4006381333931");
  EXPECT_EQ(view->editField(), kCategory);
  // A pick list does not take a scan, and editing stays.
  view->OnScannedLabel(u"5012345678900");
  EXPECT_EQ(view->editField(), kCategory);
  ASSERT_TRUE(view->EndEdit());
  // Without an editor a scan becomes a find on the last find's field.
  std::optional<FindRequest> asked;
  CTBMDoc::SetRequests({.find = [&](const FindRequest& last) {
    asked = last;
    return std::nullopt;
  }});
  view->OnScannedLabel(u"X-1");
  RunPostedEvents();
  CTBMDoc::SetRequests({});
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->text, u"X-1");
}

TEST_F(FieldEditorTest, AValueTooLongForTheFieldKeepsTheEditorAndLosesNothing) {
  CTBMView* view = Show(MakeDatabase("Styles", kStylesCsv, kStylesOptions), kFormViewKind);
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(view->BeginEdit(0, kNotes));
  auto* editor = dynamic_cast<CZoomFieldEditor*>(view->editor());
  ASSERT_NE(editor, nullptr);
  // The field editing dialog sets no limit: 3000 characters come back.
  const std::u16string longText(3000, u'w');
  WhenZoomDialogOpens([&](CFieldZoomDlg* dialog) {
    EXPECT_EQ(dialog->nameLabel()->text(), QStringLiteral("Notes"));
    EXPECT_EQ(Q(dialog->edit()->Value()), QStringLiteral("Long notes"));
    dialog->edit()->SetValue(longText);
    dialog->accept();
  });
  QTest::mouseClick(view->editorControl(), Qt::LeftButton);
  EXPECT_EQ(editor->value(), longText);
  EXPECT_FALSE(view->EndEdit());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find(u"2048"), std::u16string::npos) << Utf16ToUtf8(messages[0].text);
  EXPECT_EQ(Value(0, kNotes), u"Long notes");
  EXPECT_EQ(view->editor(), editor) << "the editor stays with the text";

  // Shortened in the dialog, it is stored.
  WhenZoomDialogOpens([&](CFieldZoomDlg* dialog) {
    dialog->edit()->SetValue(u"Short again");
    dialog->accept();
  });
  QTest::mouseClick(view->editorControl(), Qt::LeftButton);
  EXPECT_TRUE(view->EndEdit());
  EXPECT_EQ(Value(0, kNotes), u"Short again");
}

TEST_F(FieldEditorTest, EditingSessionsInBothViewsLeaveModifiedAndAddedRecords) {
  const std::u16string path = MakeDatabase("People", kPeopleCsv);
  CTBMView* list = Show(path, kListViewKind);
  ASSERT_NE(list, nullptr);
  auto* listView = static_cast<CTBMListView*>(list);
  // A tap selects row 1, a second tap on its first cell edits it.
  const QPoint cell = listView->RowBand(1).topLeft() + QPoint(10, 4);
  QTest::mouseClick(listView, Qt::LeftButton, {}, cell);
  QTest::mouseClick(listView, Qt::LeftButton, {}, cell);
  ASSERT_TRUE(list->cellEditActive());
  auto* edit = dynamic_cast<CFieldEdit*>(list->editorControl());
  ASSERT_NE(edit, nullptr);
  edit->selectAll();
  QTest::keyClicks(edit, "Yamada Taro");
  // A tap on another row, below the editor, ends the edit and stores the
  // value.
  QTest::mouseClick(listView, Qt::LeftButton, {}, listView->RowBand(4).center());
  EXPECT_FALSE(list->cellEditActive());
  CloseView();
  CloseDocument();

  CTBMView* form = Show(path, kFormViewKind);
  ASSERT_NE(form, nullptr);
  // A new record opens an editor on its first field.
  ASSERT_TRUE(viewFrame_->RouteCommand(ui::ID_RECORD_NEW));
  RunPostedEvents();
  ASSERT_TRUE(form->cellEditActive());
  EXPECT_EQ(form->editField(), 0);
  QTest::keyClicks(form->editorControl(), "Grace Hopper");
  // Moving to another record ends the edit first.
  ASSERT_TRUE(viewFrame_->RouteCommand(ui::ID_RECORD_FIRST));
  EXPECT_FALSE(form->cellEditActive());
  CloseView();
  CloseDocument();

  const auto records = tbm::testing::RunProgram((BuildBinFolder() / "tbmdb").string(),
                                                {"records", Utf16ToUtf8(path), "--csv"}, {}, {});
  ASSERT_EQ(records.status, 0) << records.err;
  EXPECT_NE(records.out.find("2,1,00000000000000000000,Yamada Taro,"), std::string::npos)
      << records.out;
  EXPECT_NE(records.out.find(",5,00000000000000000000,Grace Hopper,"), std::string::npos)
      << records.out;
  EXPECT_NE(records.out.find("1,0,00000000000000000000,Ada Lovelace,"), std::string::npos)
      << records.out;
}

}  // namespace
}  // namespace tbm::app::testing
