// The date and time entries on real databases: segments in the format's
// order with its separators and leading zeros, typing, arrow keys and the
// spin control with their wrapping and day clamping, the calendar and the
// value list, the suffix kinds of a time, composing and validating with
// messages 5016 to 5019, the commands and menus, and how the controls
// look on the handheld's 240-pixel screen. Real widgets offscreen, driven
// with QTest input, placed on the record view of a frame as a field editor
// places them.
#include <QApplication>
#include <QCalendarWidget>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QTableView>
#include <QTest>
#include <memory>

#include "AppTestSupport.h"
#include "CommandIds.h"
#include "DateTimeEntry.h"
#include "EntryParts.h"
#include "EntryPopups.h"
#include "InputPanel.h"
#include "Resources.h"

// QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

namespace tbm::app::testing {
namespace {

// A list cell near the right edge of the 240-pixel view, narrower than an
// entry: the entry widens to the left.
const QRect kCell(150, 40, 80, 18);

class DateTimeEntryTest : public AppTest {
 protected:
  DateTimeEntryTest() { ui::CInputPanel::Get().Show(false); }
  ~DateTimeEntryTest() override {
    delete control_;
    ui::CInputPanel::Get().Show(false);
  }

  // A database of one record (a header and one line of csv) shown in a
  // form view of the frame, which the entries go on.
  void Open(const std::string& csv, const std::vector<std::string>& options = {}) {
    if (document_ != nullptr) {
      delete control_;
      CloseDocument();
      frame_.reset();
    }
    ASSERT_NE(OpenDocument(MakeDatabase("Entry" + std::to_string(++databases_), csv, options)),
              nullptr);
    document_->SetRecordIndex(0);
    ShowInFrame(kFormViewKind);
    frame_->show();
    frame_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
  }

  // What a field editor gives the entry for field f of record 0.
  EntryCtrlSetup SetupFor(std::int16_t field, QRect cell = kCell) {
    EntryCtrlSetup setup;
    setup.cell = cell;
    setup.parent = frame_->view();
    setup.document = document_;
    setup.font = MakeViewFont(kFontNormal);
    setup.text = document_->ReadField(0, field).value_or(u"");
    const FieldOption option = document_->GetFieldOption(field);
    setup.useValueList = option.style == kStyleDropCombo;
    setup.valueList = document_->GetValueList(option.valueList);
    return setup;
  }

  // Each entry replaces the one before, as a field editor's would.
  CDateEntryCtrl* Date(std::int16_t field, QRect cell = kCell) {
    delete control_;
    auto* made = CDateEntryCtrl::Create(SetupFor(field, cell));
    control_ = made;
    return made;
  }
  CTimeEntryCtrl* Time(std::int16_t field, QRect cell = kCell) {
    delete control_;
    auto* made = CTimeEntryCtrl::Create(SetupFor(field, cell));
    control_ = made;
    return made;
  }

  static std::vector<QString> Texts(const CEntryCtrlBase* control) {
    return {control->segmentAt(0)->text(), control->segmentAt(1)->text(),
            control->segmentAt(2)->text()};
  }
  static void Spin(CEntryCtrlBase* control, bool up) {
    CSpinButton* spin = control->spinControl();
    QTest::mouseClick(spin, Qt::LeftButton, {},
                      QPoint(spin->width() / 2, up ? 2 : spin->height() - 2));
  }
  std::u16string Today() {
    const QDate today = QDate::currentDate();
    return document_->DateRecToText({static_cast<std::int16_t>(today.month()),
                                     static_cast<std::int16_t>(today.day()),
                                     static_cast<std::int16_t>(today.year()), MDbDateValid, 1, 0});
  }

  QPointer<CEntryCtrlBase> control_;
  int databases_ = 0;
};

// ---- the date: segments, typing, arrows, spin ----

TEST_F(DateTimeEntryTest, SegmentsFollowTheFormatsOrderSeparatorAndLeadingZeros) {
  struct Case {
    std::vector<std::string> options;
    std::string text;
    std::vector<QString> shown;
    QString separator;
    std::u16string standard;
  };
  const Case cases[] = {
      {{}, "3/3/2002", {" 3", " 3", "2002"}, "/", u"3/3/2002"},
      {{"--two-digit-month", "--two-digit-day"},
       "3/3/2002",
       {"03", "03", "2002"},
       "/",
       u"03/03/2002"},
      {{"--date-order", "dmy", "--two-digit-day", "--date-separator", "."},
       "3.3.2002",
       {"03", " 3", "2002"},
       ".",
       u"03.3.2002"},
      {{"--date-order", "ymd", "--two-digit-month"},
       "2002/3/3",
       {"2002", "03", " 3"},
       "/",
       u"2002/03/3"},
      // The separator typed in the stored text wins over the format's.
      {{}, "3-3-02", {" 3", " 3", "2002"}, "-", u"3/3/2002"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Open("Day:date\n" + c.text + "\n", c.options);
    CDateEntryCtrl* date = Date(0);
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(Texts(date), c.shown);
    EXPECT_EQ(date->separatorAt(0)->text(), c.separator);
    EXPECT_EQ(date->separatorAt(1)->text(), c.separator);
    EXPECT_EQ(date->GetValueText(), c.standard);
  }
  // At least 122 wide, widened to the left, never past the view's left edge.
  CDateEntryCtrl* date = Date(0);
  EXPECT_EQ(date->geometry(), QRect(108, 40, 122, 18));
  date = Date(0, QRect(10, 60, 60, 18));
  EXPECT_EQ(date->geometry(), QRect(0, 60, 122, 18));
  EXPECT_EQ(date->controlId(), 3204);
}

TEST_F(DateTimeEntryTest, TypingTakesADigitOnlyWhileTheNumberStaysInRange) {
  Open("Day:date\n1/31/2001\n");
  CDateEntryCtrl* date = Date(0);
  date->ClosePopup();
  ASSERT_TRUE(date->OnCmdMsg(ui::ID_EDIT_CLEAR));
  CSegmentEdit* month = date->segmentAt(0);
  QTest::keyClick(month, Qt::Key_4);
  EXPECT_EQ(month->text(), "4");
  QTest::keyClick(month, Qt::Key_5);  // 45 is no month
  EXPECT_EQ(month->text(), "5");
  QTest::keyClicks(month, "x-");  // letters, signs and backspace are swallowed
  QTest::keyClick(month, Qt::Key_Backspace);
  EXPECT_EQ(month->text(), "5");
  QTest::keyClick(month, Qt::Key_1);  // 51: only the 1
  QTest::keyClick(month, Qt::Key_2);
  EXPECT_EQ(month->text(), "12");

  // Day 31 in February 2000 is out of range: only the 1.
  CSegmentEdit* year = date->segmentAt(2);
  QTest::keyClicks(year, "2000");
  QTest::keyClick(month, Qt::Key_2);  // 122 is too long: the 2 alone
  EXPECT_EQ(month->text(), "2");
  QTest::keyClicks(date->segmentAt(1), "31");
  EXPECT_EQ(date->segmentAt(1)->text(), "1");
  EXPECT_TRUE(date->Validate());
  EXPECT_EQ(date->GetValueText(), u"2/1/2000");
  EXPECT_TRUE(messages.empty());

  QTest::keyClick(year, Qt::Key_5);  // a fifth digit starts again
  EXPECT_EQ(year->text(), "5");
  QTest::keyClicks(year, "000");  // 5000 is beyond the years: 0 alone
  EXPECT_EQ(year->text(), "0");
  EXPECT_EQ(date->SegmentValue(kYearSegment), 0);
}

TEST_F(DateTimeEntryTest, ArrowKeysWrapBetweenZeroAndTheMaximum) {
  Open("Day:date\n12/30/2001\n");
  CDateEntryCtrl* date = Date(0);
  date->ClosePopup();
  CSegmentEdit* month = date->segmentAt(0);
  CSegmentEdit* day = date->segmentAt(1);
  QTest::keyClick(month, Qt::Key_Up);
  EXPECT_EQ(month->text(), "0");
  QTest::keyClick(month, Qt::Key_Down);
  EXPECT_EQ(month->text(), "12");
  for (int i = 0; i < 30; ++i) QTest::keyClick(day, Qt::Key_Down);
  EXPECT_EQ(day->text(), "0");
  QTest::keyClick(day, Qt::Key_Down);  // the last day of December
  EXPECT_EQ(day->text(), "31");
  QTest::keyClick(month, Qt::Key_Down);  // November: the day stays as typed
  EXPECT_EQ(Texts(date), (std::vector<QString>{"11", "31", "2001"}));
  EXPECT_TRUE(date->Validate());  // 11/31 is no date: OK drops the change
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Texts(date), (std::vector<QString>{"12", "30", "2001"}));
}

TEST_F(DateTimeEntryTest, SpinningTheMonthClampsTheDayByTheGregorianRule) {
  for (const char* year : {"2001", "2000", "1900"}) {
    SCOPED_TRACE(year);
    Open(std::string("Day:date\n1/31/") + year + "\n");
    CDateEntryCtrl* date = Date(0);
    date->ClosePopup();
    date->TapAt(date->segmentAt(0)->geometry().center());  // the month
    EXPECT_EQ(date->buddy(), date->segmentAt(0));
    Spin(date, true);
    EXPECT_EQ(date->segmentAt(0)->text(), " 2");
    EXPECT_EQ(date->segmentAt(1)->text(), std::string(year) == "2000" ? "29" : "28");
  }
  // The spin wraps: above the maximum is 0, 0 or below the maximum.
  CDateEntryCtrl* date = Date(0);
  date->ClosePopup();
  date->TapAt(date->segmentAt(1)->geometry().center());  // the day, 31
  Spin(date, true);
  EXPECT_EQ(date->segmentAt(1)->text(), " 0");
  Spin(date, false);
  EXPECT_EQ(date->segmentAt(1)->text(), "31");
}

// ---- the date: what is stored and validation ----

TEST_F(DateTimeEntryTest, AStoredNonDateIsEmptiedAndAValidDateRewrittenInStandardText) {
  Open("Name:text,Day:date\nAda,1/1/2000\n");
  ASSERT_TRUE(document_->WriteField(0, 1, u"next week"));
  CDateEntryCtrl* date = Date(1);
  EXPECT_EQ(Texts(date), (std::vector<QString>{" 0", " 0", "0000"}));
  // Left without a change: written back as nothing.
  EXPECT_TRUE(date->Validate());
  EXPECT_TRUE(date->IsModified());
  EXPECT_EQ(date->GetValueText(), std::nullopt);
  ASSERT_TRUE(document_->WriteField(0, 1, date->GetValueText().value_or(u"")));
  delete date;

  ASSERT_TRUE(document_->WriteField(0, 1, u" 3-4-1980 "));
  date = Date(1);
  EXPECT_TRUE(date->Validate());
  EXPECT_TRUE(date->IsModified());
  ASSERT_TRUE(document_->WriteField(0, 1, date->GetValueText().value_or(u"")));
  EXPECT_EQ(Records(), (std::vector<std::vector<std::u16string>>{{u"Ada", u"3/4/1980"}}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(DateTimeEntryTest, AnInvalidDateAsksWith5016AndOkRestoresWhileCancelKeepsEditing) {
  Open("Day:date\n1/31/2001\n");
  CDateEntryCtrl* date = Date(0);
  date->ClosePopup();
  QTest::keyClick(date->segmentAt(0), Qt::Key_2);  // 2/31/2001
  answer = ui::MessageAnswer::kCancel;
  EXPECT_FALSE(date->Validate());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, ui::MessageIcon::kWarning);
  EXPECT_EQ(messages[0].buttons, ui::MessageButtons::kOkCancel);
  EXPECT_NE(messages[0].text.find(Today()), std::u16string::npos);
  EXPECT_EQ(date->segmentAt(0)->text(), "2");
  EXPECT_EQ(date->GetValueText(), std::nullopt);

  answer = ui::MessageAnswer::kOk;
  EXPECT_TRUE(date->Validate());
  EXPECT_EQ(messages.size(), 2u);
  EXPECT_EQ(date->segmentAt(0)->text(), " 1");
  EXPECT_EQ(date->GetValueText(), u"1/31/2001");  // the stored date, never empty

  // Every segment emptied is a blank date, accepted without a word.
  ASSERT_TRUE(date->OnCmdMsg(ui::ID_EDIT_CLEAR));
  EXPECT_TRUE(date->Validate());
  EXPECT_EQ(date->GetValueText(), u"");
  EXPECT_EQ(messages.size(), 2u);
}

// ---- the date: pop-ups ----

TEST_F(DateTimeEntryTest, TheCalendarOpensAtOnceFollowsTheKeysAndChoosesADay) {
  Open("Day:date\n3/3/2002\n");
  ui::CInputPanel::Get().Show(true);
  CDateEntryCtrl* date = Date(0);
  auto* popup = dynamic_cast<CCalendarPopup*>(date->popup());
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(popup->isVisible());
  EXPECT_FALSE(ui::CInputPanel::Get().IsShown());
  EXPECT_TRUE(date->dropButton()->state());
  EXPECT_EQ(popup->calendar()->selectedDate(), QDate(2002, 3, 3));
  // Placed below the entry, right edges together, on the program's window.
  const QRect anchor(date->mapToGlobal(QPoint(0, 0)), date->size());
  EXPECT_EQ(popup->geometry().right(), anchor.right());
  EXPECT_EQ(popup->geometry().top(), anchor.bottom());

  auto* days = popup->calendar()->findChild<QTableView*>();
  ASSERT_NE(days, nullptr);
  QTest::keyClick(days, Qt::Key_Right);  // a move updates the segments at once
  EXPECT_EQ(Texts(date), (std::vector<QString>{" 3", " 4", "2002"}));
  // A tap on the 20th chooses it and closes the calendar.
  QModelIndex twentieth;
  for (int row = 1; row < days->model()->rowCount() && !twentieth.isValid(); ++row)
    for (int column = 0; column < days->model()->columnCount(); ++column)
      if (days->model()->index(row, column).data().toString() == "20")
        twentieth = days->model()->index(row, column);
  ASSERT_TRUE(twentieth.isValid());
  QTest::mouseClick(days->viewport(), Qt::LeftButton, {}, days->visualRect(twentieth).center());
  EXPECT_FALSE(date->IsPopupOpen());
  EXPECT_FALSE(date->dropButton()->state());
  EXPECT_TRUE(ui::CInputPanel::Get().IsShown());
  EXPECT_EQ(date->GetValueText(), u"3/20/2002");

  // The spin moves the selection of an open calendar; the strip opens it.
  date->TapAt(QPoint(date->spinControl()->geometry().right() + 1, 5));
  ASSERT_TRUE(date->IsPopupOpen());
  Spin(date, true);  // the month, focused first
  EXPECT_EQ(dynamic_cast<CCalendarPopup*>(date->popup())->calendar()->selectedDate(),
            QDate(2002, 4, 20));
  // A tap on the drop button closes it; Escape too.
  date->TapAt(date->dropButton()->geometry().center());
  EXPECT_FALSE(date->IsPopupOpen());
  date->OpenPopup();
  QTest::keyClick(dynamic_cast<CCalendarPopup*>(date->popup())->calendar(), Qt::Key_Escape);
  EXPECT_FALSE(date->IsPopupOpen());

  // Hidden (as an editor lets it go) or deleted with its calendar open:
  // the calendar goes, the panel comes back.
  date->OpenPopup();
  date->hide();
  EXPECT_FALSE(date->IsPopupOpen());
  EXPECT_TRUE(ui::CInputPanel::Get().IsShown());
  date->show();
  date->OpenPopup();
  QPointer<CPopupWnd> open = date->popup();
  EXPECT_FALSE(ui::CInputPanel::Get().IsShown());
  delete date;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(open.isNull());
  EXPECT_TRUE(ui::CInputPanel::Get().IsShown());

  // Near the screen's bottom the calendar stands above the entry.
  date = Date(0, QRect(150, 290, 80, 18));
  const QRect low(date->mapToGlobal(QPoint(0, 0)), date->size());
  EXPECT_EQ(date->popup()->geometry().bottom(), low.top());
  EXPECT_TRUE(messages.empty());
}

TEST_F(DateTimeEntryTest, TheValueListOffersStandardDatesAndAnswersANonDateWith5018) {
  Open("Day:date\n1/2/2003\n", {"--style", "Day=combo", "--values", "Day=01-05-03|someday|-"});
  CDateEntryCtrl* date = Date(0);
  EXPECT_FALSE(date->IsPopupOpen());  // a list does not open by itself
  date->TapAt(date->dropButton()->geometry().center());
  auto* popup = dynamic_cast<CListPopup*>(date->popup());
  ASSERT_NE(popup, nullptr);
  QListWidget* list = popup->list();
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(0)->text(), "1/5/2003");
  EXPECT_EQ(list->item(1)->text(), "someday");
  EXPECT_FALSE(list->item(2)->flags() & Qt::ItemIsSelectable);  // the "-" line
  EXPECT_EQ(popup->width(), date->width());

  // Keys move the selection and say nothing.
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(list->currentRow(), 1);
  EXPECT_TRUE(date->IsPopupOpen());
  EXPECT_TRUE(messages.empty());

  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(1)).center());
  EXPECT_FALSE(date->IsPopupOpen());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].buttons, ui::MessageButtons::kOk);
  EXPECT_EQ(messages[0].icon, ui::MessageIcon::kWarning);
  EXPECT_NE(messages[0].text.find(Today()), std::u16string::npos);
  EXPECT_EQ(date->GetValueText(), u"1/2/2003");

  date->OpenPopup();
  list = dynamic_cast<CListPopup*>(date->popup())->list();
  QTest::keyClick(list, Qt::Key_Home);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_FALSE(date->IsPopupOpen());
  EXPECT_EQ(Texts(date), (std::vector<QString>{" 1", " 5", "2003"}));
  EXPECT_EQ(date->GetValueText(), u"1/5/2003");
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(DateTimeEntryTest, AMissingValueListShowsAPlaceholderThatCannotBeChosen) {
  Open("Day:date\n1/2/2003\n", {"--style", "Day=combo"});
  EntryCtrlSetup setup = SetupFor(0);
  setup.valueList.reset();
  auto* date = CDateEntryCtrl::Create(setup);
  control_ = date;
  date->OpenPopup();
  QListWidget* list = dynamic_cast<CListPopup*>(date->popup())->list();
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), ui::LoadQString(5012));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(0)).center());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(date->GetValueText(), u"1/2/2003");

  // An empty value list has its own placeholder.
  setup.valueList = std::vector<std::u16string>{u""};
  delete control_;
  date = CDateEntryCtrl::Create(setup);
  control_ = date;
  date->OpenPopup();
  list = dynamic_cast<CListPopup*>(date->popup())->list();
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), ui::LoadQString(5013));
  EXPECT_FALSE(list->item(0)->flags() & Qt::ItemIsSelectable);
}

// ---- the time ----

TEST_F(DateTimeEntryTest, TheTimeShowsItsSuffixKindAndComposesWithTheChosenOne) {
  Open("At:time,Then:time,Before:time,Late:time,None:time\n9:30 AM,0:05 PM,-1:30,14:00 h,\n",
       {"--suffix-24", " h"});
  CTimeEntryCtrl* time = Time(0);
  ASSERT_NE(time, nullptr);
  EXPECT_EQ(time->controlId(), 3205);
  EXPECT_EQ(Texts(time), (std::vector<QString>{"9", "30", ""}));
  EXPECT_EQ(time->suffixKind(), CTimeEntryCtrl::kMorning);
  std::vector<QString> items;
  for (int i = 0; i < time->suffixCombo()->count(); ++i)
    items.push_back(time->suffixCombo()->itemText(i));
  EXPECT_EQ(items, (std::vector<QString>{"", "-", "h", "AM", "PM"}));
  EXPECT_EQ(time->suffixCombo()->currentText(), "AM");
  EXPECT_FALSE(time->IsModified());
  EXPECT_EQ(time->dropButton(), nullptr);
  EXPECT_TRUE(time->ChooseSuffix(CTimeEntryCtrl::kAfternoon));
  EXPECT_TRUE(time->IsModified());
  EXPECT_EQ(time->GetValueText(), u"9:30 PM");

  const struct {
    std::int16_t field;
    std::vector<QString> shown;
    int suffix;
    std::u16string composed;
  } cases[] = {
      {1, {"12", "05", ""}, CTimeEntryCtrl::kAfternoon, u"12:05 PM"},  // a typed 0 shows as 12
      {2, {"1", "30", ""}, CTimeEntryCtrl::kNegative, u"-1:30"},
      {3, {"14", "00", ""}, CTimeEntryCtrl::kTwentyFour, u"14:00 h"},
      {4, {"0", "0", "0"}, CTimeEntryCtrl::kNoSuffix, u"0:0:0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    time = Time(c.field);
    EXPECT_EQ(Texts(time), c.shown);
    EXPECT_EQ(time->suffixKind(), c.suffix);
    EXPECT_EQ(time->ComposeText(), c.composed);
  }
  // Typing into the seconds of an empty time, then the suffix in the combo.
  QTest::keyClicks(time->segmentAt(0), "\b7x");  // letters are swallowed
  QTest::keyClick(time->suffixCombo(), Qt::Key_End);
  EXPECT_EQ(time->suffixKind(), CTimeEntryCtrl::kAfternoon);
  EXPECT_TRUE(time->Validate());
  EXPECT_EQ(time->GetValueText(), u"7:0:0 PM");
  EXPECT_TRUE(messages.empty());
}

TEST_F(DateTimeEntryTest, HoursSpinAndArrowsWrapAndMinutesWrapAt59) {
  Open("At:time\n32766:00\n");
  CTimeEntryCtrl* time = Time(0);
  EXPECT_EQ(time->buddy(), time->segmentAt(0));  // the hours
  Spin(time, true);
  EXPECT_EQ(time->segmentAt(0)->text(), "0");
  Spin(time, false);
  EXPECT_EQ(time->segmentAt(0)->text(), "32766");
  QTest::keyClick(time->segmentAt(0), Qt::Key_Up);
  EXPECT_EQ(time->segmentAt(0)->text(), "0");
  EXPECT_EQ(time->segmentAt(0)->selectedText(), "0");  // selected whole
  time->TapAt(time->segmentAt(1)->geometry().center());
  Spin(time, false);
  EXPECT_EQ(time->segmentAt(1)->text(), "59");
  Spin(time, true);
  EXPECT_EQ(time->segmentAt(1)->text(), "0");
  EXPECT_EQ(time->GetValueText(), u"0:0");
}

TEST_F(DateTimeEntryTest, AnInvalidTimeAsksWith5017AndOkDropsTheChange) {
  Open("At:time\n9:30\n", {"--style", "At=combo", "--values", "At=8:15 AM|lunch"});
  CTimeEntryCtrl* time = Time(0);
  CSegmentEdit* hours = time->segmentAt(0);
  hours->selectAll();
  QTest::keyClicks(hours, "40000");
  EXPECT_EQ(time->GetValueText(), std::nullopt);
  answer = ui::MessageAnswer::kCancel;
  EXPECT_FALSE(time->Validate());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].buttons, ui::MessageButtons::kOkCancel);
  EXPECT_EQ(hours->text(), "40000");
  answer = ui::MessageAnswer::kOk;
  EXPECT_TRUE(time->Validate());
  EXPECT_EQ(hours->text(), "9");
  EXPECT_FALSE(time->IsModified());  // nothing is written

  // The value list: a time is taken whole, anything else answered by 5019.
  time->TapAt(time->dropButton()->geometry().center());
  QListWidget* list = dynamic_cast<CListPopup*>(time->popup())->list();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(1)).center());
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[2].buttons, ui::MessageButtons::kOk);
  EXPECT_NE(messages[2].text.find(u":"), std::u16string::npos);  // the time now, as an example
  time->OpenPopup();
  list = dynamic_cast<CListPopup*>(time->popup())->list();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(time->suffixKind(), CTimeEntryCtrl::kMorning);
  EXPECT_EQ(time->GetValueText(), u"8:15 AM");
  EXPECT_TRUE(time->IsModified());
}

// ---- commands, menus and the look ----

TEST_F(DateTimeEntryTest, TodayNowAndClearAreAlwaysEnabledAndOnTheMenus) {
  Open("Day:date,At:time\n1/1/1999,9:30 AM\n");
  CDateEntryCtrl* date = Date(0);
  date->ClosePopup();
  ui::CCmdUI today(ui::ID_DATE_TODAY);
  ASSERT_TRUE(date->OnUpdateCmdMsg(&today));
  EXPECT_TRUE(today.enabled());
  ASSERT_TRUE(date->OnCmdMsg(ui::ID_DATE_TODAY));
  EXPECT_EQ(date->GetValueText(), Today());
  EXPECT_FALSE(date->OnCmdMsg(ui::ID_TIME_NOW));

  // A right click (as a tap-and-hold) on a segment shows menu 113.
  QContextMenuEvent hold(QContextMenuEvent::Mouse, QPoint(3, 3),
                         date->segmentAt(1)->mapToGlobal(QPoint(3, 3)));
  QCoreApplication::sendEvent(date->segmentAt(1), &hold);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 3);
  EXPECT_EQ(menu->actions()[0]->text(), "&Today");
  EXPECT_TRUE(menu->actions()[1]->isSeparator());
  EXPECT_EQ(menu->actions()[2]->text(), "Cl&ear");
  menu->close();

  CTimeEntryCtrl* time = Time(1);
  ASSERT_TRUE(time->OnCmdMsg(ui::ID_TIME_NOW));
  const std::optional<std::u16string> now = time->GetValueText();
  ASSERT_TRUE(now.has_value());
  EXPECT_TRUE(document_->CheckTime(*now));
  EXPECT_TRUE(time->suffixKind() == CTimeEntryCtrl::kMorning ||
              time->suffixKind() == CTimeEntryCtrl::kAfternoon);
  ASSERT_TRUE(time->OnCmdMsg(ui::ID_EDIT_CLEAR));
  EXPECT_EQ(Texts(time), (std::vector<QString>{"", "", ""}));
  EXPECT_TRUE(time->Validate());
  EXPECT_EQ(time->GetValueText(), u"");
  EXPECT_TRUE(time->ShowMenu(time->mapToGlobal(QPoint(2, 2))));
  menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->actions()[0]->text(), "&Current Time");
  menu->close();
  EXPECT_TRUE(messages.empty());
}

// Draws both entries with their pop-ups on the 240-pixel screen in
// English and Japanese to /tmp, and checks that every part lies inside
// the entry and the screen and that the digits are drawn.
TEST_F(DateTimeEntryTest, BothEntriesFitTheScreenInEnglishAndJapanese) {
  for (const std::uint16_t language : {std::uint16_t{1033}, std::uint16_t{1041}}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(UseLanguageLibrary(BuildBinFolder(), language));
    Open("Day:date,At:time\n12/31/2002,11:59:30 PM\n",
         {"--style", "At=combo", "--values", "At=8:15 AM|-|12:00 PM"});
    const std::string tag = language == 1033 ? "en" : "ja";
    std::vector<CEntryCtrlBase*> made{Date(0)};
    // The screen with the calendar over it, as the user sees them.
    const QRect screen(frame_->mapToGlobal(QPoint(0, 0)), frame_->size());
    const QRect calendar = made[0]->popup()->geometry();
    EXPECT_TRUE(screen.contains(calendar));
    QImage shown = frame_->grab().toImage();
    QPainter painter(&shown);
    painter.drawImage(calendar.topLeft() - screen.topLeft(), made[0]->popup()->grab().toImage());
    painter.end();
    shown.save(QString::fromStdString("/tmp/tbm-datetime-calendar-" + tag + ".png"));
    made[0]->ClosePopup();
    // The menu in the language's words.
    ASSERT_TRUE(made[0]->ShowMenu(made[0]->mapToGlobal(QPoint(2, 2))));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions()[0]->text(), language == 1033 ? "&Today" : "今日(&T)");
    menu->close();
    control_ = nullptr;
    made.push_back(Time(1));
    made[1]->OpenPopup();
    made[1]->popup()->grab().toImage().save(
        QString::fromStdString("/tmp/tbm-datetime-list-" + tag + ".png"));
    made[1]->ClosePopup();
    for (std::size_t i = 0; i < made.size(); ++i) {
      CEntryCtrlBase* entry = made[i];
      QCoreApplication::processEvents();
      const QImage shot = entry->grab().toImage();
      shot.save(QString::fromStdString("/tmp/tbm-datetime-" +
                                       std::string(i == 0 ? "date-" : "time-") + tag + ".png"));
      EXPECT_GE(entry->x(), 0);
      EXPECT_LE(entry->geometry().right(), 239);
      for (QWidget* part : entry->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (part->isWindow()) continue;
        EXPECT_TRUE(entry->rect().contains(part->geometry())) << part->metaObject()->className();
      }
      for (int position = 0; position < 3; ++position) {
        const QRect segment = entry->segmentAt(position)->geometry();
        bool ink = false;
        for (int y = segment.top(); y <= segment.bottom() && !ink; ++y)
          for (int x = segment.left(); x <= segment.right() && !ink; ++x)
            ink = qGray(shot.pixel(x, y)) < 128;
        EXPECT_TRUE(ink) << "segment " << position;
      }
    }
    delete made[0];
    delete made[1];
  }
}

}  // namespace
}  // namespace tbm::app::testing
