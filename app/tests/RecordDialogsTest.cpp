// The record commands' dialogs as a user meets them: each fits the screen
// in every language, and find, sort, go-to and delete do what their
// answers say, checked in the records afterwards.
#include <QAbstractButton>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cstdlib>
#include <functional>

#include "AppTestSupport.h"
#include "CommandIds.h"
#include "Dialog.h"
#include "FieldZoomDlg.h"
#include "FindDialog.h"
#include "RecordDialogs.h"
#include "RunProgram.h"
#include "Utf16.h"
#include "ViewOptionsDlg.h"

namespace tbm::app::testing {
namespace {

constexpr char kToolsCsv[] =
    "Name:text,Kind:text,Paid:text,Bought:date,Note:text\n"
    "Hammer,Tool,yes,3/4/2021,Claw\n"
    "Saw,Tool,,5/6/2022,Crosscut\n"
    "Glue,Supply,yes,3/4/2021,Wood glue\n"
    "Nails,Supply,,7/8/2023,Box of 100\n";
const std::vector<std::string> kToolsOptions = {"--style",  "Kind=list",          "Paid=checkbox",
                                                "--values", "Kind=Tool|-|Supply", "Paid=Yes"};

// Whether every text of the dialog shows whole at the size it has: a label
// that wraps is tall enough for its lines, anything else as wide as its
// text wants.
void ExpectNothingCut(QWidget* dialog, const std::string& what) {
  for (QWidget* control : dialog->findChildren<QWidget*>()) {
    if (!control->isVisibleTo(dialog)) continue;
    auto* label = qobject_cast<QLabel*>(control);
    if (label != nullptr && label->wordWrap()) {
      EXPECT_LE(label->heightForWidth(label->width()), label->height())
          << what << ": " << label->text().toStdString();
    } else if (auto* push = qobject_cast<QPushButton*>(control)) {
      // A push button's style asks for more room than its text needs.
      EXPECT_LE(push->fontMetrics().horizontalAdvance(push->text()) + 8, push->width())
          << what << ": " << push->text().toStdString();
    } else if (label != nullptr || qobject_cast<QAbstractButton*>(control) != nullptr) {
      EXPECT_LE(control->sizeHint().width(), control->width())
          << what << ": " << control->objectName().toStdString();
    }
  }
  EXPECT_LE(dialog->width(), 240) << what;
  EXPECT_LE(dialog->height(), 320) << what;
}

class RecordDialogsTest : public AppTest {
 protected:
  RecordDialogsTest() { CTBMDoc::SetRequests(DialogRequests()); }
  ~RecordDialogsTest() override { ui::SetDialogAnswerer(nullptr); }

  void Open() {
    ASSERT_NE(OpenDocument(MakeDatabase("Tools", kToolsCsv, kToolsOptions)), nullptr);
    ShowInFrame(kListViewKind);
    document_->SetRecordIndex(0);
  }

  // The next dialog shown gets answer, which works it and ends it.
  template <typename Dialog>
  void Answer(std::function<void(Dialog*)> answer) {
    ui::SetDialogAnswerer([answer](QDialog* shown) {
      auto* dialog = dynamic_cast<Dialog*>(shown);
      ASSERT_NE(dialog, nullptr);
      answer(dialog);
    });
  }

  static void PressOk(ui::CDialog* dialog) { dialog->buttons()->buttons()[0]->click(); }

  std::string Tbmdb(const std::vector<std::string>& args) {
    const auto run = tbm::testing::RunProgram((BuildBinFolder() / "tbmdb").string(), args, {}, {});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }
};

TEST_F(RecordDialogsTest, EveryDialogFitsTheScreenInEveryLanguage) {
  Open();
  const char* grabs = std::getenv("TBM_UI_GRAB_DIR");
  for (std::uint16_t language : {0x409, 0x407, 0x40c, 0x410, 0xc0a, 0x411}) {
    ASSERT_TRUE(UseLanguageLibrary(BuildBinFolder(), language));
    int shown = 0;
    ui::SetDialogAnswerer([&](QDialog* dialog) {
      ++shown;
      QCoreApplication::processEvents();
      const std::string what =
          dialog->objectName().toStdString() + " in " + std::to_string(language);
      ExpectNothingCut(dialog, what);
      if (grabs != nullptr)
        dialog->grab().save(
            QStringLiteral("%1/%2-%3.png").arg(grabs, dialog->objectName()).arg(language, 0, 16));
      dialog->reject();
    });
    CAboutDlg().DoModal();
    CFindDlg(3, u"", document_).DoModal();
    CSortDlg(document_).DoModal();
    CGoToRecordDlg(document_).DoModal();
    for (DeleteMode mode : {DeleteMode::kOneRecord, DeleteMode::kAllRecords, DeleteMode::kFoundSet})
      CDeleteConfirmDlg(mode).DoModal();
    CFieldZoomDlg(u"Claw", u"Note", QFont(), false, false, 20).DoModal();
    EXPECT_EQ(shown, 8) << language;
    // The view options: every page in its turn.
    ui::SetDialogAnswerer([&](QDialog* dialog) {
      auto* sheet = dynamic_cast<CViewOptionsDlg*>(dialog);
      ASSERT_NE(sheet, nullptr);
      for (int page = 0; page < sheet->GetPageCount(); ++page) {
        sheet->SetActivePage(page);
        QCoreApplication::processEvents();
        const std::string what =
            "options page " + std::to_string(page) + " in " + std::to_string(language);
        ExpectNothingCut(sheet, what);
        if (grabs != nullptr)
          sheet->grab().save(
              QStringLiteral("%1/options%2-%3.png").arg(grabs).arg(page).arg(language, 0, 16));
      }
      sheet->reject();
    });
    CViewOptionsDlg(OptionsPage::kList, -1, document_).DoModal();
  }
}

TEST_F(RecordDialogsTest, GoToAndSortAnswerAsTyped) {
  Open();
  // Go to: a number past the records goes to the last, one below 1 to the
  // first; the box shows the current record's number, selected.
  for (const auto& [typed, index] :
       std::vector<std::pair<const char*, int>>{{"9999", 3}, {"-5", 0}, {"2", 1}, {"", 0}}) {
    document_->SetRecordIndex(2);
    Answer<CGoToRecordDlg>([typed = typed](CGoToRecordDlg* dialog) {
      auto* edit = dialog->Item<QLineEdit>(2603);
      EXPECT_EQ(edit->text(), QStringLiteral("3"));
      EXPECT_EQ(edit->selectedText(), QStringLiteral("3"));
      EXPECT_EQ(dialog->Item<QLabel>(2602)->text(),
                QStringLiteral("Go to record number (1 to 4):"));
      edit->clear();
      QTest::keyClicks(edit, typed);
      PressOk(dialog);
    });
    ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_GOTO));
    EXPECT_EQ(document_->GetRecordIndex(), index) << typed;
  }

  // Sort: the dialog opens on the first field, ascending, every time.
  for (int round = 0; round < 2; ++round) {
    Answer<CSortDlg>([](CSortDlg* dialog) {
      EXPECT_EQ(dialog->Item<QComboBox>(2502)->currentIndex(), 0);
      EXPECT_EQ(dialog->Item<QComboBox>(2503)->currentText(), QStringLiteral("Ascending"));
      dialog->Item<QComboBox>(2502)->setCurrentIndex(4);
      dialog->Item<QComboBox>(2503)->setCurrentIndex(1);
      PressOk(dialog);
    });
    ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_SORT));
  }
  std::int16_t field = -1;
  bool ascending = true;
  document_->GetSortDef(&field, &ascending);
  EXPECT_EQ(field, 4);
  EXPECT_FALSE(ascending);
  EXPECT_EQ(Records().front()[0], u"Glue");  // its note "Wood glue" sorts last
}

TEST_F(RecordDialogsTest, TheFindHelperFitsEachFieldAndTheFindRuns) {
  Open();
  Answer<CFindDlg>([](CFindDlg* dialog) {
    auto* fields = dialog->Item<QComboBox>(2402);
    CFindHelperButton* helper = dialog->helper();
    ASSERT_NE(helper, nullptr);
    using Mode = CFindHelperButton::Mode;
    // Text field: no helper.
    fields->setCurrentIndex(0);
    EXPECT_FALSE(helper->isVisibleTo(dialog));
    // Pick list: its items; the "-" line leaves the text alone.
    fields->setCurrentIndex(1);
    EXPECT_EQ(helper->mode(), Mode::kValueList);
    EXPECT_TRUE(helper->isVisibleTo(dialog));
    dialog->ChooseHelperItem(2);
    EXPECT_EQ(dialog->findEdit()->text(), QStringLiteral("Supply"));
    dialog->ChooseHelperItem(1);
    EXPECT_EQ(dialog->findEdit()->text(), QStringLiteral("Supply"));
    // Check box: a tap gives the value, a second tap takes it away; typing
    // it in any case shows the helper checked.
    fields->setCurrentIndex(2);
    EXPECT_EQ(helper->mode(), Mode::kCheckValue);
    helper->click();
    EXPECT_EQ(dialog->findEdit()->text(), QStringLiteral("Yes"));
    EXPECT_TRUE(helper->checkedValue());
    helper->click();
    EXPECT_EQ(dialog->findEdit()->text(), QString());
    QTest::keyClicks(dialog->findEdit(), "yES");
    EXPECT_TRUE(helper->checkedValue());
    // Date: the calendar, on the text's date; a day chosen becomes the
    // text in the database's date form.
    fields->setCurrentIndex(3);
    EXPECT_EQ(helper->mode(), Mode::kCalendar);
    dialog->findEdit()->setText(QStringLiteral("3/4/2021"));
    helper->click();
    ASSERT_NE(dialog->calendar(), nullptr);
    EXPECT_EQ(dialog->calendar()->selectedDate(), QDate(2021, 3, 4));
    emit dialog->calendar()->clicked(QDate(2021, 3, 4));
    EXPECT_EQ(dialog->calendar(), nullptr);
    EXPECT_EQ(dialog->findEdit()->text(), QStringLiteral("3/4/2021"));
    PressOk(dialog);
  });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_FIND));
  EXPECT_EQ(document_->GetLastFind().field, 3);
  EXPECT_TRUE(document_->IsFiltered());
  ASSERT_EQ(Records().size(), 2u);

  // From a column: the dialog opens on that field with the last text.
  document_->SetLastFind({1, u"Tool"});
  Answer<CFindDlg>([](CFindDlg* dialog) {
    EXPECT_EQ(dialog->Item<QComboBox>(2402)->currentIndex(), 1);
    EXPECT_EQ(dialog->findEdit()->text(), QStringLiteral("Tool"));
    PressOk(dialog);
  });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_FIND));
  ASSERT_EQ(Records().size(), 2u);
  EXPECT_EQ(Records()[0][0], u"Hammer");
}

TEST_F(RecordDialogsTest, DeletingAFoundSetFollowsTheCheckBox) {
  Open();
  document_->SetLastFind({1, u"Supply"});
  Answer<CFindDlg>([](CFindDlg* dialog) { PressOk(dialog); });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_FIND));
  ASSERT_EQ(Records().size(), 2u);
  // Delete all of the found set, tracked for the next synchronisation.
  Answer<CDeleteConfirmDlg>([](CDeleteConfirmDlg* dialog) {
    EXPECT_EQ(dialog->Item<QLabel>(2701)->text(), QStringLiteral("Delete Found Records"));
    EXPECT_EQ(dialog->Item<QLabel>(2702)->text(),
              QStringLiteral("Delete all records of the found set?"));
    auto* track = dialog->Item<QCheckBox>(2703);
    EXPECT_FALSE(track->isChecked());
    track->click();
    PressOk(dialog);
  });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_DELETE_ALL));
  // One record without tracking, and a cancelled delete that keeps it.
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_SHOW_ALL));
  ASSERT_EQ(Records().size(), 2u);
  document_->SetRecordIndex(1);
  Answer<CDeleteConfirmDlg>([](CDeleteConfirmDlg* dialog) { dialog->reject(); });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_DELETE));
  ASSERT_EQ(Records().size(), 2u);
  Answer<CDeleteConfirmDlg>([](CDeleteConfirmDlg* dialog) {
    EXPECT_EQ(dialog->Item<QLabel>(2701)->text(), QStringLiteral("Delete Record"));
    PressOk(dialog);
  });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_RECORD_DELETE));
  ASSERT_EQ(Records().size(), 1u);
  const std::u16string path = document_->GetPathName();
  CloseDocument();
  const std::string deleted = Tbmdb({"deleted", Utf16ToUtf8(path), "--csv"});
  EXPECT_NE(deleted.find("Glue"), std::string::npos) << deleted;
  EXPECT_NE(deleted.find("Nails"), std::string::npos) << deleted;
  EXPECT_EQ(deleted.find("Saw"), std::string::npos) << deleted;
}

TEST_F(RecordDialogsTest, ViewOptionsChangeTheDatabaseAndSurviveReopeningIt) {
  Open();
  const std::u16string path = document_->GetPathName();
  const std::uint32_t listFlags = document_->GetViewFlags(kListViewKind);
  // The list page opens for the list view; its boxes show the flags.
  Answer<CViewOptionsDlg>([&](CViewOptionsDlg* sheet) {
    EXPECT_EQ(sheet->GetActiveIndex(), 0);
    CListOptionsPage& list = sheet->listPage();
    EXPECT_EQ(list.Item<QCheckBox>(2102)->isChecked(), (listFlags & 0x1) != 0);
    list.Item<QCheckBox>(2103)->setChecked(true);
    // The field page: a width past the widest is kept at the widest.
    sheet->SetActivePage(2);
    CFieldOptionsPage& fields = sheet->fieldPage();
    fields.Item<QComboBox>(2303)->setCurrentIndex(4);
    fields.Item<QLineEdit>(2304)->setText(QStringLiteral("300"));
    fields.Item<QComboBox>(2305)->setCurrentIndex(2);
    fields.Item<QComboBox>(2306)->setCurrentIndex(3);
    sheet->buttons()->buttons()[0]->click();
  });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_VIEW_OPTIONS));
  EXPECT_EQ(document_->GetViewFlags(kListViewKind), listFlags | 0x2);
  FieldDisplay note = document_->GetFieldDisplay(4);
  EXPECT_EQ(note.width, kMaxColumnWidth);
  EXPECT_EQ(note.alignment, 3);
  EXPECT_EQ(note.colour, 0xCC3300u);
  ASSERT_FALSE(frame_->view()->hints.empty());
  EXPECT_EQ(frame_->view()->hints.back(), kHintOptions);

  // Cancel changes nothing, whatever was touched.
  Answer<CViewOptionsDlg>([](CViewOptionsDlg* sheet) {
    sheet->listPage().Item<QCheckBox>(2102)->click();
    sheet->reject();
  });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_VIEW_OPTIONS));
  EXPECT_EQ(document_->GetViewFlags(kListViewKind), listFlags | 0x2);

  // Closed and opened again, the database keeps its options.
  CloseDocument();
  ASSERT_NE(OpenDocument(path), nullptr);
  ShowInFrame(kListViewKind);
  EXPECT_EQ(document_->GetViewFlags(kListViewKind), listFlags | 0x2);
  EXPECT_EQ(document_->GetFieldDisplay(4).width, kMaxColumnWidth);

  // Reset, asked with Yes and No: every field's defaults and the order of
  // the columns.
  document_->MoveDisplayField(0, 3);
  answer = ui::MessageAnswer::kYes;
  Answer<CViewOptionsDlg>([](CViewOptionsDlg* sheet) {
    sheet->SetActivePage(2);
    sheet->fieldPage().OnReset();
    sheet->buttons()->buttons()[0]->click();
  });
  ASSERT_TRUE(frame_->RouteCommand(ui::ID_VIEW_OPTIONS));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().buttons, ui::MessageButtons::kYesNo);
  EXPECT_EQ(document_->GetFieldDisplay(4).width, document_->DefaultFieldDisplay().width);
  EXPECT_EQ(document_->GetFieldDisplay(4).colour, 0u);
  EXPECT_EQ(document_->GetFieldAtDisplayPos(0), 0);
  EXPECT_EQ(frame_->view()->hints.back(), kHintOptionsResetOrder);
}

TEST_F(RecordDialogsTest, TheFieldPageOffersEveryFieldOfAFiftyFieldDatabase) {
  std::string csv;
  for (int f = 0; f < 50; ++f) csv += (f > 0 ? "," : "") + ("F" + std::to_string(f)) + ":text";
  csv += "\n";
  for (int f = 0; f < 50; ++f) csv += (f > 0 ? "," : "") + std::to_string(f);
  csv += "\n";
  ASSERT_NE(OpenDocument(MakeDatabase("Wide", csv)), nullptr);
  ShowInFrame(kListViewKind);
  Answer<CViewOptionsDlg>([](CViewOptionsDlg* sheet) {
    EXPECT_EQ(sheet->GetActiveIndex(), 2);
    CFieldOptionsPage& fields = sheet->fieldPage();
    EXPECT_EQ(fields.currentField(), 49);
    EXPECT_EQ(fields.Item<QComboBox>(2303)->count(), 50);
    fields.Item<QLineEdit>(2304)->setText(QStringLiteral("16"));
    // Another field, its width emptied: it keeps the width it had.
    fields.Item<QComboBox>(2303)->setCurrentIndex(48);
    fields.Item<QLineEdit>(2304)->clear();
    sheet->buttons()->buttons()[0]->click();
  });
  const int before = document_->GetFieldDisplay(48).width;
  document_->ShowViewOptions(OptionsPage::kField, 49);
  EXPECT_EQ(document_->GetFieldDisplay(49).width, 16);
  EXPECT_EQ(document_->GetFieldDisplay(48).width, before);
  EXPECT_GT(before, 0);
}

}  // namespace
}  // namespace tbm::app::testing
