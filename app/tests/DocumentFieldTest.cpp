// What the views and editors read and write through the document: field
// texts of any script and length held to the field's size, options and
// display settings, the display order, view flags and date and time texts.
#include "AppTestSupport.h"
#include "Utf16.h"

namespace tbm::app::testing {
namespace {

class DocumentFieldTest : public AppTest {
 protected:
  CTBMDoc* OpenPeople(const std::vector<std::string>& options = {}) {
    return OpenDocument(MakeDatabase("People", kPeopleCsv, options));
  }
};

TEST_F(DocumentFieldTest, TextsOfAnyScriptAreWrittenUpToTheFieldsSize) {
  CTBMDoc* document = OpenPeople();
  ASSERT_NE(document, nullptr);
  ASSERT_EQ(document->GetFieldMaxSize(4), 2049u);
  ASSERT_EQ(document->GetFieldMaxSize(2), 256u);

  const std::u16string arabic = u"ملاحظة: الاجتماع يوم الأحد";
  EXPECT_TRUE(document->WriteField(2, 4, arabic));
  EXPECT_EQ(document->ReadField(2, 4), arabic);

  // The longest text the field takes, of emoji, CJK and combining marks
  // (an emoji is two units), and one unit more, which is refused whole.
  std::u16string longest;
  while (longest.size() < 2040) longest += u"🍣寿司e\u0301 ";
  longest.resize(2048, u'x');
  EXPECT_TRUE(document->WriteField(0, 4, longest));
  EXPECT_EQ(document->ReadField(0, 4), longest);
  EXPECT_FALSE(document->WriteField(0, 4, longest + u"y"));
  EXPECT_EQ(document->ReadField(0, 4), longest);
  EXPECT_FALSE(document->WriteField(1, 2, std::u16string(256, u'9')));
  EXPECT_TRUE(document->WriteField(1, 2, std::u16string(255, u'9')));

  // Neither a record nor a field outside the set, nor a text that would be
  // cut at a terminator, is written.
  EXPECT_FALSE(document->WriteField(5, 0, u"Nobody"));
  EXPECT_FALSE(document->WriteField(-1, 0, u"Nobody"));
  EXPECT_FALSE(document->WriteField(0, 5, u"Nobody"));
  EXPECT_FALSE(document->WriteField(0, 0, std::u16string(u"Ada\0Byron", 9)));
  EXPECT_EQ(document->ReadField(0, 0), u"Ada Lovelace");
  EXPECT_EQ(document->ReadField(5, 0), std::nullopt);
  EXPECT_EQ(document->ReadField(0, -1), std::nullopt);

  // A record kept open for drawing shows what is written to it; opening
  // another one, or reading another, ends the first.
  ASSERT_TRUE(document->OpenRecord(3));
  const char16_t* text = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(document->GetFieldPtr(0, &text, &length));
  EXPECT_EQ(std::u16string(text, length), u"Rene\u0301e Núñez");
  EXPECT_TRUE(document->WriteField(3, 0, u"Renée Núñez-García"));
  ASSERT_TRUE(document->GetFieldPtr(0, &text, &length));
  EXPECT_EQ(std::u16string(text, length), u"Renée Núñez-García");
  EXPECT_EQ(document->ReadField(3, 0), u"Renée Núñez-García");
  EXPECT_EQ(document->ReadField(1, 0), u"山田 太郎");
  EXPECT_FALSE(document->GetFieldPtr(0, &text, &length)) << "reading record 1 closed record 3";
  EXPECT_FALSE(document->OpenRecord(5));
  document->CloseRecord();

  // The values are in the file: another opening reads them.
  const std::u16string path = document->GetPathName();
  CloseDocument();
  document = OpenDocument(path);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->ReadField(0, 4), longest);
  EXPECT_EQ(document->ReadField(2, 4), arabic);
}

TEST_F(DocumentFieldTest, OptionsDisplaySettingsAndOrderRoundTrip) {
  CTBMDoc* document =
      OpenPeople({"--style", "Notes=combo", "--values",
                  "Notes=Morning\u00a0shift|-|Night shift|夜勤", "--style", "Born=combo",
                  "--values", "Born=12/24/1999|7/4", "--locked", "Visits", "--capitalise", "Name"});
  ASSERT_NE(document, nullptr);
  const FieldOption notes = document->GetFieldOption(4);
  EXPECT_EQ(notes.style, kStyleDropCombo);
  EXPECT_EQ(document->GetFieldOption(2).flags, kFieldEntryLocked);
  EXPECT_EQ(document->GetFieldOption(0).flags, kFieldCapitalise);
  EXPECT_EQ(document->GetFieldOption(3).valueList, 255);
  EXPECT_EQ(document->GetValueList(notes.valueList),
            (std::vector<std::u16string>{u"Morning\u00a0shift", u"-", u"Night shift", u"夜勤"}));
  EXPECT_EQ(document->GetValueList(255), std::nullopt);
  EXPECT_EQ(document->GetValueList(77), std::nullopt);
  // Dates in a pick list are written in the database's format.
  const std::vector<std::u16string> dates =
      document->GetValueListItems(document->GetFieldOption(1).valueList, true);
  ASSERT_EQ(dates.size(), 2u);
  EXPECT_EQ(dates[0], u"12/24/1999");
  EXPECT_EQ(dates[1].substr(0, 4), u"7/4/");

  document->SetFieldOption(3, FieldOption{kStyleZoom, 255, kFieldEntryLocked | kFieldCapitalise});
  EXPECT_EQ(document->GetFieldOption(3).style, kStyleZoom);
  EXPECT_EQ(document->GetFieldOption(3).flags, kFieldEntryLocked | kFieldCapitalise);

  // Display settings change; the field's display order stays.
  document->MoveDisplayField(4, 0);
  document->SetFieldDisplay(4, FieldDisplay{12, 3, 0x00FF8000});
  EXPECT_EQ(document->GetFieldDisplay(4).width, 12);
  EXPECT_EQ(document->GetFieldDisplay(4).alignment, 3);
  EXPECT_EQ(document->GetFieldDisplay(4).colour, 0x00FF8000u);
  EXPECT_EQ(document->GetFieldAtDisplayPos(0), 4);

  // Display order: a field moved to the front pushes the others back; the
  // list's next field follows the columns, the form's the fields.
  for (std::uint16_t p = 0; p < 5; ++p)
    EXPECT_EQ(document->GetFieldAtDisplayPos(p), p == 0 ? 4 : p - 1);
  EXPECT_EQ(document->GetNextField(4, kListViewKind), 0);
  EXPECT_EQ(document->GetNextField(3, kListViewKind), 4);
  EXPECT_EQ(document->GetNextField(4, kFormViewKind), 0);
  EXPECT_EQ(document->GetNextField(1, kFormViewKind), 2);
  document->MoveDisplayField(0, 2);
  for (std::uint16_t p = 0; p < 5; ++p)
    EXPECT_EQ(document->GetFieldAtDisplayPos(p), (std::vector<int>{0, 1, 4, 2, 3}[p]));
  document->MoveDisplayField(1, 60);  // not a position: nothing changes
  EXPECT_EQ(document->GetFieldAtDisplayPos(1), 1);
  EXPECT_EQ(document->GetFieldAtDisplayPos(45), 45);
  document->ResetDisplayOrder();
  EXPECT_EQ(document->GetFieldAtDisplayPos(2), 2);

  // View flags live in the database; other view kinds have none.
  document->SetViewFlags(kListViewKind, 0x3);
  document->SetViewFlags(kFormViewKind, 0x0);
  document->SetViewFlags(1234, 0x7);
  EXPECT_EQ(document->GetViewFlags(kListViewKind), 0x3u);
  EXPECT_EQ(document->GetViewFlags(kFormViewKind), 0x0u);
  EXPECT_EQ(document->GetViewFlags(1234), 0u);
  const std::u16string path = document->GetPathName();
  CloseDocument();
  document = OpenDocument(path);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->GetViewFlags(kListViewKind), 0x3u);
  EXPECT_EQ(document->GetFieldDisplay(4).width, 12);
}

TEST_F(DocumentFieldTest, DatesAndTimesAreCheckedInTheDatabasesFormat) {
  CTBMDoc* document = OpenDocument(MakeDatabase("Shifts",
                                                "Who:text,Day:date,From:time\n"
                                                "Ines,24.12.1999,6:45 PM\n"
                                                "Kenji,1.3.2024,7:00 AM\n",
                                                {"--date-order", "dmy", "--date-separator", "."}));
  ASSERT_NE(document, nullptr);
  std::u16string date = u"24/12/1999";
  EXPECT_TRUE(document->CheckAndNormaliseDate(&date, 0));
  EXPECT_EQ(date, u"24.12.1999");
  date = u"31.2.2001";
  EXPECT_FALSE(document->CheckAndNormaliseDate(&date, 0));
  EXPECT_EQ(date, u"31.2.2001") << "an invalid date stays as typed";
  date = u"1.1.99";
  EXPECT_TRUE(document->CheckAndNormaliseDate(&date, 1));
  EXPECT_EQ(date, u"1.1.1999");
  EXPECT_TRUE(document->CheckTime(u"6:45 PM"));
  EXPECT_FALSE(document->CheckTime(u"quarter past"));
  EXPECT_EQ(document->DateRecToText(MDbDateRec{2, 29, 2004, MDbDateValid, 1, 0}), u"29.2.2004");
  EXPECT_EQ(document->TimeRecToText(MDbTimeRec{18, 45, 0, MDbTimeTwelve, 1}), u"6:45 PM");

  // Without a database nothing is checked.
  CloseDocument();
  CTBMDoc closed;
  date = u"24.12.1999";
  EXPECT_FALSE(closed.CheckAndNormaliseDate(&date, 0));
  EXPECT_EQ(closed.GetFieldCount(), 0);
  EXPECT_EQ(closed.GetRecordIndex(), -1);
  EXPECT_EQ(closed.ReadField(0, 0), std::nullopt);
  EXPECT_EQ(closed.GetFieldOption(0).valueList, 255);
}

}  // namespace
}  // namespace tbm::app::testing
