// The form view on real databases: how values wrap into line units, how
// labels are cut, how the keys move between records, what an empty record
// set and a form without editing do with a tap, check boxes, scrolling,
// texts in many scripts and a database of 50 fields. The view runs
// offscreen in a frame of the handheld's size; what it paints is read back
// with grab().
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTest>
#include <QTextBoundaryFinder>
#include <QTextEdit>
#include <cstdlib>
#include <memory>

#include "AppTestSupport.h"
#include "CommandIds.h"
#include "FrameWnd.h"
#include "Resources.h"
#include "TBMFormView.h"

// The leak checker's exceptions for this test program: fontconfig keeps its
// configuration for the life of the process and Qt's font database never
// hands it back.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

namespace tbm::app::testing {
namespace {

// The form's pane on the 240 x 320 screen: below the status bar, above the
// navigation tool bar and the command bar.
constexpr QSize kPaneSize{240, 252};

// A form view that remembers the region of every paint.
class RecordingFormView : public CTBMFormView {
 public:
  using CTBMFormView::CTBMFormView;
  std::vector<QRegion> painted;

 protected:
  void paintEvent(QPaintEvent* event) override {
    painted.push_back(event->region());
    CTBMFormView::paintEvent(event);
  }
};

QString Q(const std::u16string& text) { return ui::ToQString(text); }

// Whether any pixel of rect differs from the window colour.
bool HasInk(const QImage& image, const QRect& rect) {
  const QRgb window = image.pixel(0, 0);
  for (int y = std::max(0, rect.top()); y <= std::min(image.height() - 1, rect.bottom()); ++y)
    for (int x = std::max(0, rect.left()); x <= std::min(image.width() - 1, rect.right()); ++x)
      if (image.pixel(x, y) != window) return true;
  return false;
}

void HoldKey(QWidget* widget, Qt::Key key, int repeats) {
  for (int i = 0; i < repeats; ++i) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, QString(), /*autorep=*/true);
    QCoreApplication::sendEvent(widget, &event);
  }
}

std::u16string Lines(int count) {
  std::u16string text;
  for (int i = 1; i <= count; ++i) {
    if (i > 1) text += u"\r\n";
    text += u"Line " + std::u16string(1, static_cast<char16_t>(u'A' + i - 1));
  }
  return text;
}

class FormViewTest : public AppTest {
 protected:
  ~FormViewTest() override {
    // The view goes with its frame, before the fixture closes the document:
    // its going must not close the document as a last view's going does.
    if (document_ != nullptr) document_->SetAutoDelete(false);
    formFrame_.reset();
    if (document_ != nullptr) document_->SetAutoDelete(true);
  }

  // Opens the database and shows it in a form view in a frame the size of
  // the form's pane.
  RecordingFormView* ShowForm(const std::u16string& path) {
    EXPECT_NE(OpenDocument(path), nullptr);
    if (document_ == nullptr) return nullptr;
    // The form shows the current record; a freshly opened set has none.
    if (document_->GetRecordCount() > 0) document_->SetRecordIndex(0);
    formFrame_ = std::make_unique<ui::CFrameWnd>();
    formFrame_->resize(kPaneSize);
    auto* view = new RecordingFormView(formFrame_.get());
    view->setGeometry(QRect(QPoint(0, 0), kPaneSize));
    view->SetDocument(document_);
    formFrame_->SetActiveView(view);
    formFrame_->show();
    view->OnInitialUpdate();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(formFrame_.get()));
    QCoreApplication::processEvents();
    return view;
  }

  static QImage Shot(QWidget* view) {
    QCoreApplication::processEvents();
    return view->grab().toImage();
  }

  std::unique_ptr<ui::CFrameWnd> formFrame_;
};

TEST_F(FormViewTest, AWrappedTextTakesTheLineUnitsItsLinesNeedAndLengthensTheScrollRange) {
  RecordingFormView* view =
      ShowForm(MakeDatabase("Customers",
                            "Name:text,Notes:text,Phone:text,Email:text,City:text,Since:date\n"
                            "Anna Lindqvist,short,+46 8 555 0123,anna@timber.se,Gothenburg,"
                            "4/1/2019\n"
                            "Bo Ek,short,+46 31 12 34,bo@ek.se,Mölndal,11/30/2021\n"));
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->shownFieldCount(), 6);
  EXPECT_EQ(view->lineCount(1), 1);
  const int shortTotal = view->totalLines();
  EXPECT_EQ(shortTotal, 6);
  EXPECT_FALSE(view->verticalBar()->isVisible()) << "six one-line fields fit";

  // Twelve lines of text.
  ASSERT_TRUE(document_->WriteField(0, 1, Lines(12)));
  document_->UpdateAllViews(nullptr, kHintNavigation);

  const int spacing = QFontMetrics(view->viewFont()).lineSpacing();
  const int unit = view->lineUnit();
  ASSERT_EQ(view->wrappedLines(1).size(), 12u);
  EXPECT_EQ(view->wrappedLines(1)[11], u"Line L");
  const int twelve = (12 * spacing + 6 + unit - 1) / unit;
  EXPECT_EQ(view->lineCount(1), twelve);
  EXPECT_EQ(view->totalLines(), shortTotal - 1 + twelve);
  EXPECT_EQ(view->firstLineOf(2), 1 + twelve);

  // The bar's range is what lies beyond the view.
  const int visible = view->visibleLines();
  const bool exact = (view->height() - 2) % unit == 0;
  ASSERT_TRUE(view->verticalBar()->isVisible());
  EXPECT_EQ(view->verticalBar()->maximum(), view->totalLines() - visible + (exact ? 0 : 1));
  EXPECT_EQ(view->verticalBar()->pageStep(), visible);

  // What is drawn: the twelfth line is inked, the space the field leaves
  // below its text is not.
  QImage image = Shot(view);
  QRect value = view->ValueRect(1);
  int twelfthTop = value.top() + 3 + 11 * spacing;
  EXPECT_TRUE(HasInk(image, QRect(value.left(), twelfthTop, value.width(), spacing)));
  EXPECT_FALSE(HasInk(image, QRect(value.left(), twelfthTop + spacing + 1, value.width(),
                                   value.bottom() - twelfthTop - spacing - 1)));
  // A field editor would sit on the value less 2 pixels.
  QRect cell = view->GetCellRect(0, 1);
  EXPECT_EQ(cell.top(), value.top());
  EXPECT_EQ(cell.height(), twelve * unit - 2);
}

TEST_F(FormViewTest, AFieldNameWiderThanTheLabelColumnIsCutAndEndsWithAColon) {
  RecordingFormView* view =
      ShowForm(MakeDatabase("Orders",
                            "Name:text,Delivery instructions for the warehouse:text\n"
                            "Anna Lindqvist,Leave the boards at the gate\n"));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->labelColumnWidth(), CTBMFormView::kMaxLabelWidth);

  // Labels are measured in the normal font whatever the view's font.
  const QFontMetrics labels(MakeViewFont(kFontNormal));
  const QString name = QStringLiteral("Delivery instructions for the warehouse:");
  const QString cut = CutLabelToWidth(name, labels, CTBMFormView::kMaxLabelWidth);
  EXPECT_TRUE(cut.endsWith(u':')) << cut.toStdString();
  EXPECT_GT(cut.size(), 4);
  EXPECT_LE(labels.horizontalAdvance(cut), CTBMFormView::kMaxLabelWidth);
  EXPECT_TRUE(name.startsWith(cut.chopped(1)));
  // One character more before the colon would not fit.
  EXPECT_GT(labels.horizontalAdvance(name.left(cut.size()) + u':'), CTBMFormView::kMaxLabelWidth);
  EXPECT_EQ(CutLabelToWidth(QStringLiteral("Name:"), labels, 65), QStringLiteral("Name:"));

  // Drawn: the cut label fills its column and nothing of it crosses into
  // the margin before the values.
  const QImage image = Shot(view);
  const QRect value = view->ValueRect(1);
  EXPECT_TRUE(HasInk(image, QRect(3, value.top(), 65, view->lineUnit())));
  EXPECT_TRUE(HasInk(image, QRect(3 + 50, value.top(), 15, view->lineUnit())));
  EXPECT_FALSE(HasInk(image, QRect(3 + 65, 0, value.left() - 3 - 65, view->height())));
}

TEST_F(FormViewTest, HoldingDownOnTheLastLineChangesTheRecordOnceUntilTheKeyIsPressedAgain) {
  RecordingFormView* view =
      ShowForm(MakeDatabase("Diary", "Day:text,Entry:text\nMonday,x\nTuesday,x\nWednesday,x\n"));
  ASSERT_NE(view, nullptr);
  for (std::int16_t record = 0; record < 3; ++record)
    ASSERT_TRUE(document_->WriteField(record, 1, Lines(26)));
  document_->UpdateAllViews(nullptr, kHintNavigation);
  const int last = view->lastScrollPosition();
  ASSERT_GT(last, 2);

  // Held from the top: the view scrolls to its end and stays there.
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(view->topLine(), 1);
  HoldKey(view, Qt::Key_Down, last + 10);
  EXPECT_EQ(view->topLine(), last);
  EXPECT_EQ(document_->GetRecordIndex(), 0);

  // A fresh press at the end: the next record, from its top.
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(document_->GetRecordIndex(), 1);
  EXPECT_EQ(view->topLine(), 0);
  // Held on: nothing, though the new record could scroll.
  HoldKey(view, Qt::Key_Down, last + 10);
  EXPECT_EQ(document_->GetRecordIndex(), 1);
  EXPECT_EQ(view->topLine(), 0);
  // Pressed again, it scrolls again.
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(view->topLine(), 1);
  EXPECT_EQ(document_->GetRecordIndex(), 1);

  // Up: back to the top, then a fresh press goes to the previous record.
  HoldKey(view, Qt::Key_Up, 5);
  EXPECT_EQ(view->topLine(), 0);
  EXPECT_EQ(document_->GetRecordIndex(), 1);
  QTest::keyClick(view, Qt::Key_Up);
  EXPECT_EQ(document_->GetRecordIndex(), 0);
}

TEST_F(FormViewTest, AnEmptyRecordSetShowsNoFieldsAndATapMakesARecord) {
  RecordingFormView* view = ShowForm(MakeDatabase("Empty", "Name:text,Phone:text\n"));
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(document_->GetRecordCount(), 0);
  EXPECT_EQ(view->shownFieldCount(), 0);
  EXPECT_EQ(view->totalLines(), 0);
  EXPECT_FALSE(view->verticalBar()->isVisible());
  EXPECT_FALSE(HasInk(Shot(view), view->clientRect()));

  // Without editing in the form a tap does nothing at all.
  AllowEditing(kFormViewKind, false);
  document_->UpdateAllViews(nullptr, kHintOptions);
  QCoreApplication::processEvents();
  view->painted.clear();
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(120, 60));
  RunPostedEvents();
  EXPECT_EQ(document_->GetRecordCount(), 0);
  EXPECT_TRUE(view->painted.empty());

  // With editing the tap posts a new record; it is made once the tap has
  // been handled, and the form then shows its fields.
  AllowEditing(kFormViewKind, true);
  document_->UpdateAllViews(nullptr, kHintOptions);
  QTest::mousePress(view, Qt::LeftButton, {}, QPoint(120, 60));
  EXPECT_EQ(document_->GetRecordCount(), 0);
  RunPostedEvents();
  EXPECT_EQ(document_->GetRecordCount(), 1);
  EXPECT_EQ(document_->GetRecordIndex(), 0);
  EXPECT_EQ(view->shownFieldCount(), 2);
  // The new record opens an editor on its first field.
  EXPECT_TRUE(view->cellEditActive());
  EXPECT_EQ(view->editField(), 0);
  ASSERT_TRUE(view->EndEdit());
  EXPECT_TRUE(HasInk(Shot(view), QRect(3, 3, view->labelColumnWidth(), view->lineUnit())));
}

TEST_F(FormViewTest, WithoutEditingControlsAreDrawnAsTheirTextAndTapsDoNothing) {
  RecordingFormView* view = ShowForm(
      MakeDatabase("Styles",
                   "Category:text,Paid:text,Picture:text\n"
                   "Supplier of timber and boards,yes,Pine boards planed on four sides\n",
                   {"--style", "Category=list", "Paid=checkbox", "Picture=zoom", "--values",
                    "Category=Customer|Supplier of timber and boards", "Paid=yes"}));
  ASSERT_NE(view, nullptr);
  AllowEditing(kFormViewKind, true);
  document_->UpdateAllViews(nullptr, kHintOptions);

  // As controls: one line unit each, nothing wrapped; the drop-down's box
  // has a border at its left, the check box is checked.
  for (int field = 0; field < 3; ++field) {
    EXPECT_EQ(view->lineCount(field), 1) << field;
    EXPECT_TRUE(view->wrappedLines(field).empty()) << field;
  }
  EXPECT_TRUE(view->checkBoxChecked(1));
  const int unit = view->lineUnit();
  const QRect boxEdge(view->ValueRect(0).left(), view->ValueRect(0).top() + 4, 1, unit - 8);
  EXPECT_TRUE(HasInk(Shot(view), boxEdge));
  view->painted.clear();
  QTest::mouseClick(view, Qt::LeftButton, {}, view->ValueRect(2).center());
  QCoreApplication::processEvents();
  EXPECT_FALSE(view->painted.empty()) << "a tap on a value is acted on";
  ASSERT_NE(view->editorControl(), nullptr);
  EXPECT_EQ(view->editorControl()->objectName(), QStringLiteral("zoomFieldBox"));
  ASSERT_TRUE(view->EndEdit());

  // Without editing: each value is plain text, wrapped like any other.
  AllowEditing(kFormViewKind, false);
  document_->UpdateAllViews(nullptr, kHintOptions);
  auto joined = [&](int field) {
    QString text;
    for (const QString& line : view->wrappedLines(field)) text += line;
    return text;
  };
  EXPECT_EQ(joined(0), QStringLiteral("Supplier of timber and boards"));
  EXPECT_EQ(joined(1), QStringLiteral("yes"));
  EXPECT_EQ(joined(2), QStringLiteral("Pine boards planed on four sides"));
  EXPECT_GE(view->lineCount(2), 1);
  const QImage plain = Shot(view);
  const QRect edge(view->ValueRect(0).left(), view->ValueRect(0).top() + 4, 1, unit - 8);
  EXPECT_FALSE(HasInk(plain, edge)) << "no drop-down box";
  EXPECT_TRUE(HasInk(plain, view->ValueRect(1)));
  view->painted.clear();
  QTest::mouseClick(view, Qt::LeftButton, {}, view->ValueRect(2).center());
  RunPostedEvents();
  EXPECT_TRUE(view->painted.empty());
  EXPECT_FALSE(view->cellEditActive());
}

TEST_F(FormViewTest, ACheckBoxWithAnEmptyValueListShowsString5013Unchecked) {
  const QString emptyList = ui::LoadQString(5013);
  const QString noList = ui::LoadQString(5012);
  ASSERT_FALSE(emptyList.isEmpty());
  ASSERT_FALSE(noList.isEmpty());
  RecordingFormView* view = ShowForm(
      MakeDatabase("Boxes", "Paid:text,Shipped:text,Gift:text,Wrapped:text\nx,no,x,x\n",
                   {"--style", "Paid=checkbox", "Shipped=checkbox", "Gift=checkbox",
                    "Wrapped=checkbox", "--values", "Paid=Yes|No", "Shipped=Yes", "Gift="}));
  ASSERT_NE(view, nullptr);
  AllowEditing(kFormViewKind, true);
  // A line of the value checks the box whatever its case; the placeholder
  // text as a value checks nothing.
  ASSERT_TRUE(document_->WriteField(0, 0, u"paid in cash\r\nYES"));
  ASSERT_TRUE(document_->WriteField(0, 2, ui::FromQString(emptyList)));
  ASSERT_TRUE(document_->WriteField(0, 3, ui::FromQString(noList)));
  document_->UpdateAllViews(nullptr, kHintNavigation);

  EXPECT_EQ(view->checkBoxCaption(0), QStringLiteral("Yes"));
  EXPECT_TRUE(view->checkBoxChecked(0));
  EXPECT_EQ(view->checkBoxCaption(1), QStringLiteral("Yes"));
  EXPECT_FALSE(view->checkBoxChecked(1));
  EXPECT_EQ(view->checkBoxCaption(2), emptyList);
  EXPECT_FALSE(view->checkBoxChecked(2));
  EXPECT_EQ(view->checkBoxCaption(3), noList);
  EXPECT_FALSE(view->checkBoxChecked(3));

  // Drawn: the empty list's box looks like the unchecked one, not like the
  // checked one; each caption is drawn beside its box.
  const QImage image = Shot(view);
  auto box = [&](int field) {
    const QRect value = view->ValueRect(field);
    return image.copy(value.left(), value.top() + (value.height() - 15) / 2, 15, 15);
  };
  EXPECT_EQ(box(2), box(1));
  EXPECT_EQ(box(3), box(1));
  EXPECT_NE(box(0), box(1));
  for (int field = 0; field < 4; ++field) {
    const QRect value = view->ValueRect(field);
    EXPECT_TRUE(HasInk(image, QRect(value.left() + 18, value.top(), 40, value.height()))) << field;
  }
}

TEST_F(FormViewTest, ScrollingPaintsOnlyTheBandItUncovers) {
  RecordingFormView* view =
      ShowForm(MakeDatabase("Scroll", "Name:text,Notes:text,Phone:text\nAnna,x,+46 8 555 0123\n"));
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(document_->WriteField(0, 1, Lines(26)));
  document_->UpdateAllViews(nullptr, kHintNavigation);
  QCoreApplication::processEvents();
  ASSERT_GT(view->lastScrollPosition(), 4);
  const int unit = view->lineUnit();
  const QRect client = view->clientRect();
  auto paintedInClient = [&] {
    QCoreApplication::processEvents();
    QRegion region;
    for (const QRegion& painted : view->painted) region += painted & client;
    view->painted.clear();
    return region;
  };
  // What the screen shows after a scroll is what a full paint draws.
  auto onScreen = [&] {
    QCoreApplication::processEvents();
    return formFrame_->screen()->grabWindow(formFrame_->winId()).toImage().copy(client);
  };
  auto fullPaint = [&] {
    QImage image = view->grab(client).toImage();
    view->painted.clear();
    return image;
  };

  paintedInClient();
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(view->topLine(), 1);
  EXPECT_EQ(paintedInClient(), QRegion(0, client.height() - unit, client.width(), unit));
  EXPECT_EQ(onScreen(), fullPaint());

  view->verticalBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(view->topLine(), 2);
  EXPECT_EQ(view->verticalBar()->value(), 2);
  EXPECT_EQ(paintedInClient(), QRegion(0, client.height() - unit, client.width(), unit));

  view->verticalBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(view->topLine(), 0);
  EXPECT_EQ(paintedInClient(), QRegion(0, 3, client.width(), 2 * unit));
  EXPECT_EQ(onScreen(), fullPaint());

  // A page down moves by the lines in view less the partly shown one.
  view->verticalBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  const int visible = view->visibleLines();
  const bool exact = (view->height() - 2) % unit == 0;
  EXPECT_EQ(view->topLine(), std::min(exact ? visible : visible - 1, view->lastScrollPosition()));
  EXPECT_EQ(onScreen(), fullPaint());
  // The thumb dragged past the end stops at the last position.
  view->verticalBar()->setSliderDown(true);
  view->verticalBar()->setSliderPosition(view->verticalBar()->maximum());
  view->verticalBar()->setSliderDown(false);
  EXPECT_EQ(view->topLine(), view->lastScrollPosition());
  EXPECT_EQ(onScreen(), fullPaint());
}

TEST_F(FormViewTest, TextsInEveryScriptWrapAndCutWithoutSplittingACharacter) {
  RecordingFormView* view = ShowForm(MakeDatabase("People", kPeopleCsv));
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(document_->GetRecordCount(), 5);
  const std::u16string longTexts[] = {
      u"\u6771\u4eac\u652f\u5e97\u306e\u5c71\u7530\u592a\u90ce\u3055\u3093\u306b\u65b0\u3057\u3044"
      u"\u4fa1\u683c\u8868\u3092\u9001\u308b\u3053\u3068\u3092\u5fd8\u308c\u306a\u3044\u3067\u304f"
      u"\u3060\u3055\u3044\u3002\u6765\u9031\u306e\u6728\u66dc\u65e5\u307e\u3067\u306b\u8fd4\u4e8b",
      u"\u0645\u0631\u062d\u0628\u0627 \u0628\u0643\u0645 \u0641\u064a "
      u"\u0645\u062a\u062c\u0631\u0646\u0627 "
      u"\u0627\u0644\u062c\u062f\u064a\u062f \u0641\u064a \u0648\u0633\u0637 "
      u"\u0627\u0644\u0645\u062f\u064a"
      u"\u0646\u0629 \u0645\u0639 \u0639\u0631\u0648\u0636 \u062e\u0627\u0635\u0629 (order 42)",
      u"Rene\u0301e a\u0300\u0301\u0302 o\u0308\u0304 \u1100\u1161\u11a8 q\u0323\u0307 "
      u"Zo\u00eb Rene\u0301e Rene\u0301e Rene\u0301e a\u0300\u0301\u0302a\u0300\u0301\u0302",
      u"\U0001F469\u200D\U0001F4BB\U0001F44D\U0001F3FD\U0001F1F8\U0001F1EA\U0001F363 sushi "
      u"\U0001F469\u200D\U0001F4BB\U0001F44D\U0001F3FD\U0001F1F8\U0001F1EA\U0001F363 sushi "
      u"\U0001F469\u200D\U0001F4BB\U0001F44D\U0001F3FD\U0001F1F8\U0001F1EA\U0001F363 sushi "
      u"\U0001F469\u200D\U0001F4BB\U0001F44D\U0001F3FD\U0001F1F8\U0001F1EA\U0001F363 sushi",
      // Longer than a line of the edit can hold and than 1000 characters.
      std::u16string(2040, u'x')};
  for (std::int16_t record = 0; record < 5; ++record)
    ASSERT_TRUE(document_->WriteField(record, 4, longTexts[record]));

  const QFontMetrics metrics(view->viewFont());
  for (std::int16_t record = 0; record < 5; ++record) {
    const int textWidth = view->ValueRect(4).width() - 3 - 2 * view->measuringEdit()->frameWidth();
    document_->SetRecordIndex(record);
    document_->UpdateAllViews(nullptr, kHintNavigation);
    for (int field : {0, 4}) {
      const std::vector<QString>& lines = view->wrappedLines(field);
      const QString value = Q(*document_->ReadField(record, static_cast<std::int16_t>(field)));
      QString joined;
      QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, value);
      // Each line breaks between characters and fits the edit's text width.
      for (const QString& line : lines) {
        characters.setPosition(joined.size());
        EXPECT_TRUE(characters.isAtBoundary()) << "record " << record << " field " << field;
        EXPECT_LE(metrics.horizontalAdvance(line.trimmed()), textWidth) << record;
        joined += line;
      }
      EXPECT_EQ(joined, value) << "record " << record << " field " << field;
      // Every way of cutting it keeps whole characters and fits.
      for (int width = 20; width < 160; width += 7) {
        QString cut = CutTextToWidth(value, metrics, width, true, true);
        EXPECT_LE(metrics.horizontalAdvance(cut), width);
        QString kept =
            cut.endsWith(QStringLiteral("...")) && !value.startsWith(cut) ? cut.chopped(3) : cut;
        ASSERT_TRUE(value.startsWith(kept));
        characters.setPosition(kept.size());
        EXPECT_TRUE(characters.isAtBoundary()) << "record " << record << " width " << width;
      }
    }
    EXPECT_GT(view->lineCount(4), 1) << record;
    EXPECT_TRUE(HasInk(Shot(view), view->ValueRect(4).intersected(view->clientRect()))) << record;
  }
}

TEST_F(FormViewTest, FiftyFieldsScrollDownToTheLastField) {
  std::string header;
  std::string values;
  for (int i = 1; i <= 50; ++i) {
    header += (i > 1 ? "," : "") + std::string("Field ") + std::to_string(i) +
              (i == 50 ? ":date" : ":text");
    values +=
        (i > 1 ? "," : "") + (i == 50 ? std::string("12/24/2024") : "Value " + std::to_string(i));
  }
  RecordingFormView* view = ShowForm(MakeDatabase("Wide", header + "\n" + values + "\n"));
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->shownFieldCount(), 50);
  EXPECT_EQ(view->totalLines(), 50);
  EXPECT_EQ(view->firstLineOf(49), 49);
  const int visible = view->visibleLines();
  const bool exact = (view->height() - 2) % view->lineUnit() == 0;
  EXPECT_EQ(view->verticalBar()->maximum(), 50 - visible + (exact ? 0 : 1));

  // Paged down through the bar to the end: the last field is in view.
  for (int i = 0; i < 50 && view->topLine() < view->lastScrollPosition(); ++i)
    view->verticalBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(view->topLine(), view->lastScrollPosition());
  const QRect last = view->ValueRect(49);
  EXPECT_LE(last.bottom(), view->height());
  EXPECT_TRUE(HasInk(Shot(view), QRect(3, last.top(), view->labelColumnWidth(), last.height())));

  // A field above the view is brought to the top, one below it to the last
  // whole line; a date field to the top, where its calendar has room.
  view->EnsureVisible(0, 2);
  EXPECT_EQ(view->topLine(), 2);
  const int whole = (view->height() - 2) / view->lineUnit();
  view->EnsureVisible(0, 40);
  EXPECT_EQ(view->topLine(), 40 - (whole - 1));
  view->EnsureVisible(0, 49);
  EXPECT_EQ(view->topLine(), 49);
  EXPECT_EQ(view->GetCellRect(0, 49).top(), 3);

  // The large font (form flags bit 1): taller line units, the labels still
  // in the normal font, the top line back in range.
  const int unit = view->lineUnit();
  const int labels = view->labelColumnWidth();
  document_->SetViewFlags(kFormViewKind, document_->GetViewFlags(kFormViewKind) | kFormLargeFont);
  document_->UpdateAllViews(nullptr, kHintOptions);
  EXPECT_EQ(view->fontKind(), kFontLarge);
  EXPECT_GT(view->lineUnit(), unit);
  EXPECT_EQ(view->labelColumnWidth(), labels);
  EXPECT_EQ(view->topLine(), view->lastScrollPosition());
}

}  // namespace
}  // namespace tbm::app::testing
