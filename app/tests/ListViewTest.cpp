// The list view and its header on real databases, driven with the stylus
// (the mouse) and the keys in a 240 x 320 frame, checked by their state,
// by what they store through the document and by what they paint.
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <string>

#include "AppTestSupport.h"
#include "CommandIds.h"
#include "SampleContacts.h"
#include "TBMListView.h"
#include "TBMListViewHdr.h"

namespace tbm::app::testing {
namespace {

constexpr std::uint32_t kResizeAndReorder = kListResizable | kListReorderable;

// The frame the list is the main pane of; it counts the form-view
// requests that reach it.
class ListFrame : public ui::CFrameWnd {
 public:
  ListFrame() {
    resize(240, 320);
    OnCommand(ui::ID_VIEW_FORM, [this] { ++formRequests; });
  }
  int formRequests = 0;
};

class ListViewTest : public AppTest {
 protected:
  ~ListViewTest() override {
    if (document_ != nullptr) CloseDocument();
    frame_.reset();
  }

  // Opens the database and shows it in a list view with the given list
  // view flags, as the program's first view of a database.
  CTBMListView* ShowList(const std::u16string& path, std::uint32_t flags) {
    if (OpenDocument(path) == nullptr) {
      ADD_FAILURE() << "the database did not open";
      return nullptr;
    }
    document_->SetViewFlags(kListViewKind, flags);
    frame_ = std::make_unique<ListFrame>();
    auto* view = new CTBMListView(frame_.get());
    view->setGeometry(frame_->rect());
    view->SetDocument(document_);
    frame_->SetActiveView(view);
    app_->SetMainWindow(frame_.get());
    frame_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
    view->OnInitialUpdate();
    RunPostedEvents();
    return view;
  }

  // A contacts database of count records; field 1 (Company) is the widest.
  std::u16string MakeContacts(int count) {
    const std::string name = "Contacts" + std::to_string(++databases_);
    return MakeDatabase(name, sample::SampleContactsCsv(sample::kDefaultSeed, count));
  }

  void SetWidth(int field, int width) {
    FieldDisplay display = document_->GetFieldDisplay(static_cast<std::int16_t>(field));
    display.width = static_cast<std::uint8_t>(width);
    document_->SetFieldDisplay(static_cast<std::int16_t>(field), display);
  }

  std::vector<int> DisplayOrder() {
    std::vector<int> order;
    for (int p = 0; p < document_->GetFieldCount(); ++p)
      order.push_back(document_->GetFieldAtDisplayPos(static_cast<std::uint16_t>(p)));
    return order;
  }

  // The first fields drawn, left to right (how many fit depends on the
  // scroll bars' width).
  static std::vector<int> DrawnFields(CTBMListView* view, std::size_t most = 3) {
    std::vector<int> fields;
    for (const CTBMListView::Column& column : view->DrawnColumns()) {
      if (fields.size() < most) fields.push_back(column.field);
    }
    return fields;
  }

  // A point of the header in the view's coordinates, made the header's.
  static QPoint HeaderPoint(CTBMListView* view, int viewX) {
    return view->header()->mapFrom(view, QPoint(viewX, CTBMListViewHdr::kHeight / 2));
  }

  // A drag with the stylus from one point of a widget to another.
  static void Drag(QWidget* widget, QPoint from, QPoint to) {
    QTest::mousePress(widget, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step) {
      QPointF at = QPointF(from) + (QPointF(to) - QPointF(from)) * step / 4.0;
      QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                       Qt::NoModifier);
      QApplication::sendEvent(widget, &move);
    }
    QTest::mouseRelease(widget, Qt::LeftButton, {}, to);
  }

  static void Tap(QWidget* widget, QPoint at) { QTest::mouseClick(widget, Qt::LeftButton, {}, at); }

  // Pixels of rect in image that are not the colour background.
  static int InkIn(const QImage& image, const QRect& rect, QColor background) {
    int ink = 0;
    const QRect inside = rect.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
      for (int x = inside.left(); x <= inside.right(); ++x) {
        if (image.pixelColor(x, y) != background) ++ink;
      }
    }
    return ink;
  }

  static QImage Grab(QWidget* widget) {
    QImage image = widget->grab().toImage();
    if (const char* folder = std::getenv("TBM_LIST_SNAPSHOTS"); folder != nullptr) {
      const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
      static int taken = 0;
      image.save(QString::fromUtf8(folder) + u'/' + QString::fromUtf8(test->name()) + u'-' +
                 QString::number(++taken) + QStringLiteral(".png"));
    }
    return image;
  }

  std::unique_ptr<ListFrame> frame_;
  int databases_ = 0;
};

TEST_F(ListViewTest, NarrowColumnIsNeitherDrawnNorCountedWhenScrolling) {
  const std::u16string path = MakeContacts(40);
  ASSERT_NE(OpenDocument(path), nullptr);
  SetWidth(1, 10);  // Company: below 16, hidden
  CloseDocument();
  CTBMListView* view = ShowList(path, 0);
  ASSERT_NE(view, nullptr);

  // Ten fields of 75 pixels but one hidden: nine columns, Company not among
  // them and its header item empty.
  EXPECT_EQ(view->header()->itemCount(), 10);
  EXPECT_EQ(view->header()->itemWidth(1), 0);
  EXPECT_EQ(view->header()->itemText(1), QStringLiteral("Company"));
  EXPECT_EQ(DrawnFields(view), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(view->DrawnColumns()[1].left, 75);
  const int clientWidth = view->RowArea().width();
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 9 * 75 - clientWidth);

  // Each column of row 0 that is drawn shows its text.
  const QImage image = Grab(view);
  const QRect band = view->RowBand(0);
  for (const CTBMListView::Column& column : view->DrawnColumns()) {
    QRect cell(column.left, band.top(), std::min(column.width, clientWidth - column.left) - 2,
               band.height());
    if (cell.width() <= 4) continue;  // too little of it left to draw
    EXPECT_GT(InkIn(image, cell, view->palette().color(QPalette::Highlight)), 10)
        << "field " << column.field;
  }

  // One column right skips the hidden one: City is then first.
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Right);
  EXPECT_EQ(view->firstScrollColumn(), 2);
  EXPECT_EQ(DrawnFields(view).front(), 2);
  EXPECT_EQ(view->horizontalScrollBar()->value(), 75);
  // The header moved with the rows: City's item starts at the left edge.
  EXPECT_EQ(view->header()->mapTo(view, view->header()->PositionRect(2).topLeft()).x(), 0);
  QTest::keyClick(view, Qt::Key_Left);
  EXPECT_EQ(view->firstScrollColumn(), 0);

  // Right as far as it goes: it stops when the remaining columns fit.
  for (int i = 0; i < 12; ++i) QTest::keyClick(view, Qt::Key_Right);
  int remaining = 0;
  for (const CTBMListView::Column& column : view->DrawnColumns()) remaining += column.width;
  EXPECT_LE(remaining, clientWidth);
  EXPECT_EQ(DrawnFields(view, 10).back(), 9);
  EXPECT_GT(remaining + 75, clientWidth);
}

TEST_F(ListViewTest, DraggingADividerKeepsTheWidthBetween16And224) {
  CTBMListView* view = ShowList(MakeContacts(20), kListResizable);
  ASSERT_NE(view, nullptr);
  CTBMListViewHdr* header = view->header();

  // Name's divider at 75 dragged to 300: the width stops at 224 and the
  // database keeps it.
  Drag(header, HeaderPoint(view, 75), HeaderPoint(view, 300));
  EXPECT_EQ(header->itemWidth(0), 224);
  EXPECT_EQ(document_->GetFieldDisplay(0).width, 224);
  EXPECT_EQ(view->DrawnColumns()[1].left, 224);
  EXPECT_EQ(header->trackingState(), CTBMListViewHdr::kIdle);

  // Dragged back to 5: it stops at 16, still shown.
  Drag(header, HeaderPoint(view, 224), HeaderPoint(view, 5));
  EXPECT_EQ(header->itemWidth(0), 16);
  EXPECT_EQ(document_->GetFieldDisplay(0).width, 16);
  EXPECT_EQ(DrawnFields(view).front(), 0);
  // The other settings of the field stay as they were.
  EXPECT_EQ(document_->GetFieldDisplay(0).alignment, 1);

  // With resizing locked a drag on a divider changes nothing.
  document_->SetViewFlags(kListViewKind, 0);
  document_->UpdateAllViews(nullptr, kHintOptions);
  Drag(header, HeaderPoint(view, 16), HeaderPoint(view, 120));
  EXPECT_EQ(header->itemWidth(0), 16);
  EXPECT_EQ(document_->GetFieldDisplay(0).width, 16);
}

TEST_F(ListViewTest, ReorderingInFixedFirstColumnModeMovesTheFixedColumn) {
  CTBMListView* view = ShowList(MakeContacts(20), kListFixedFirstColumn | kResizeAndReorder);
  ASSERT_NE(view, nullptr);
  CTBMListViewHdr* header = view->header();
  EXPECT_TRUE(header->fixedMode());
  EXPECT_EQ(header->fixedItem(), 0);

  // One column right: Name stays at the left edge, Company scrolls away.
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Right);
  EXPECT_EQ(DrawnFields(view), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(view->horizontalScrollBar()->value(), 75);

  // Phone (third column, 150..225) dropped on the fixed column: it becomes
  // the fixed column and Name follows it.
  Drag(header, HeaderPoint(view, 190), HeaderPoint(view, 10));
  EXPECT_EQ(header->fixedItem(), 3);
  EXPECT_EQ(DrawnFields(view), (std::vector<int>{3, 0, 2}));
  EXPECT_EQ(DisplayOrder(), (std::vector<int>{3, 1, 0, 2, 4, 5, 6, 7, 8, 9}));

  // The fixed column dragged before Born (225..): the next column, Name,
  // takes the fixed place and Phone goes where it was dropped.
  Drag(header, HeaderPoint(view, 10), HeaderPoint(view, 230));
  EXPECT_EQ(header->fixedItem(), 0);
  EXPECT_EQ(DrawnFields(view), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(DisplayOrder(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

  // Dropping the fixed column on itself changes nothing.
  Drag(header, HeaderPoint(view, 10), HeaderPoint(view, 30));
  EXPECT_EQ(DisplayOrder(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

  // Leaving the mode puts every column back in the stored order.
  document_->SetViewFlags(kListViewKind, kResizeAndReorder);
  document_->UpdateAllViews(nullptr, kHintOptions);
  EXPECT_FALSE(header->fixedMode());
  EXPECT_EQ(header->order(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(DrawnFields(view), (std::vector<int>{0, 1, 2}));
  // A plain move: City (150..225) dropped before Name.
  Drag(header, HeaderPoint(view, 180), HeaderPoint(view, 5));
  EXPECT_EQ(DisplayOrder(), (std::vector<int>{2, 0, 1, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(DrawnFields(view), (std::vector<int>{2, 0, 1}));
}

TEST_F(ListViewTest, TappingTheHeaderTogglesTheSortAndFlipsTheArrow) {
  CTBMListView* view = ShowList(MakeContacts(30), kListSortIndicator);
  ASSERT_NE(view, nullptr);
  CTBMListViewHdr* header = view->header();
  EXPECT_TRUE(header->showsSortIndicator());
  EXPECT_EQ(header->sortIndicatorItem(), -1);
  const QRect nameItem = header->PositionRect(0);
  const QImage unsorted = Grab(header).copy(nameItem);

  auto sortDefinition = [this] {
    std::int16_t field = -1;
    bool ascending = false;
    document_->GetSortDef(&field, &ascending);
    return std::pair{field, ascending};
  };
  auto names = [this] {
    std::vector<std::u16string> values;
    for (const auto& record : Records()) values.push_back(record[0]);
    return values;
  };

  Tap(header, nameItem.center());
  EXPECT_EQ(sortDefinition(), (std::pair<std::int16_t, bool>{0, true}));
  EXPECT_EQ(header->sortIndicatorItem(), 0);
  EXPECT_FALSE(header->sortedDescending());
  std::vector<std::u16string> ascending = names();
  const QImage up = Grab(header).copy(nameItem);
  EXPECT_NE(up, unsorted);

  // The same column again: descending, and the arrow flips.
  Tap(header, nameItem.center());
  EXPECT_EQ(sortDefinition(), (std::pair<std::int16_t, bool>{0, false}));
  EXPECT_TRUE(header->sortedDescending());
  std::vector<std::u16string> descending = names();
  EXPECT_EQ(descending.front(), ascending.back());
  EXPECT_EQ(descending.back(), ascending.front());
  const QImage down = Grab(header).copy(nameItem);
  EXPECT_NE(up, down);
  EXPECT_NE(down, unsorted);

  // Another column sorts ascending and takes the arrow.
  Tap(header, header->PositionRect(2).center());
  EXPECT_EQ(sortDefinition(), (std::pair<std::int16_t, bool>{2, true}));
  EXPECT_EQ(header->sortIndicatorItem(), 2);
  EXPECT_FALSE(header->sortedDescending());
  EXPECT_EQ(view->selectedRow(), 0);

  // Without the flag the header shows no arrow and a tap does not sort.
  document_->SetViewFlags(kListViewKind, 0);
  document_->UpdateAllViews(nullptr, kHintOptions);
  EXPECT_FALSE(header->showsSortIndicator());
  Tap(header, nameItem.center());
  EXPECT_EQ(sortDefinition(), (std::pair<std::int16_t, bool>{2, true}));
  // The touched item is what the column commands act on.
  EXPECT_EQ(header->touchedItem(), 0);
  frame_->RouteCommand(ui::ID_COLUMN_SORT_DESCENDING);
  EXPECT_EQ(sortDefinition(), (std::pair<std::int16_t, bool>{0, false}));

  // Find and options on the touched column: the find dialog is preset with
  // its field, the options open on its field's page.
  std::optional<FindRequest> asked;
  std::optional<std::pair<OptionsPage, std::int16_t>> opened;
  DocumentRequests requests;
  requests.find = [&](const FindRequest& last) {
    asked = last;
    return std::optional<FindRequest>();
  };
  requests.viewOptions = [&](OptionsPage page, std::int16_t field) {
    opened = std::pair{page, field};
    return std::optional<ViewOptionsChanges>();
  };
  CTBMDoc::SetRequests(requests);
  Tap(header, header->PositionRect(1).center());
  frame_->RouteCommand(ui::ID_COLUMN_FIND);
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->field, 1);
  frame_->RouteCommand(ui::ID_COLUMN_OPTIONS);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(opened->first, OptionsPage::kField);
  EXPECT_EQ(opened->second, 1);
}

TEST_F(ListViewTest, OneFieldDatabaseHasNoHorizontalRange) {
  CTBMListView* view =
      ShowList(MakeDatabase("Words", "Word:text\napple\nbanana\ncherry\n"), 0x0FFF);
  ASSERT_NE(view, nullptr);
  // The one column takes the default width of a lone field, wider than
  // the client area, and still nothing scrolls.
  EXPECT_EQ(document_->GetFieldDisplay(0).width, 225);
  EXPECT_TRUE(view->horizontalScrollBar()->isHidden());
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Right);
  EXPECT_EQ(view->firstScrollColumn(), 0);
  EXPECT_EQ(DrawnFields(view), (std::vector<int>{0}));
  // Three records fit: no vertical range either.
  EXPECT_TRUE(view->verticalScrollBar()->isHidden());
  EXPECT_EQ(view->topRow(), 0);
  EXPECT_EQ(view->bottomRow(), 2);
}

TEST_F(ListViewTest, TapOpensTheFormViewUnlessEditingInTheList) {
  CTBMListView* view = ShowList(MakeContacts(30), 0);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->selectedRow(), 0);

  // Editing off: a tap on a row selects it and opens it in the form view.
  Tap(view, view->RowBand(3).center());
  EXPECT_EQ(view->selectedRow(), 3);
  EXPECT_EQ(document_->GetRecordIndex(), 3);
  EXPECT_EQ(frame_->formRequests, 0);  // posted, not sent
  RunPostedEvents();
  EXPECT_EQ(frame_->formRequests, 1);

  // A tap below the last row selects nothing and opens nothing.
  CloseDocument();
  view = ShowList(MakeContacts(3), 0);
  ASSERT_NE(view, nullptr);
  Tap(view, QPoint(40, view->RowArea().bottom() - 4));
  RunPostedEvents();
  EXPECT_EQ(frame_->formRequests, 0);
  EXPECT_EQ(view->selectedRow(), 0);

  // Editing on: a tap selects the row; a second tap on the selected row
  // begins a cell edit over the tapped cell.
  document_->SetViewFlags(kListViewKind, kListEditing);
  document_->UpdateAllViews(nullptr, kHintOptions);
  Tap(view, view->RowBand(2).center());
  EXPECT_EQ(view->selectedRow(), 2);
  EXPECT_EQ(view->tappedRow(), 2);
  EXPECT_TRUE(view->highlight());
  Tap(view, view->RowBand(2).center());
  RunPostedEvents();
  EXPECT_TRUE(view->cellEditActive());
  EXPECT_EQ(view->editRecord(), 2);
  ASSERT_NE(view->editorControl(), nullptr);
  EXPECT_TRUE(view->editorControl()->geometry().intersects(view->RowBand(2)));
  EXPECT_EQ(view->selectedRow(), 2);
  EXPECT_EQ(frame_->formRequests, 0);
}

TEST_F(ListViewTest, TapAndHoldOpensTheRowMenuInsteadOfTheForm) {
  CTBMListView* view = ShowList(MakeContacts(30), 0);
  ASSERT_NE(view, nullptr);
  const QPoint row = view->RowBand(4).center();
  QTest::mousePress(view, Qt::LeftButton, {}, row);
  QTest::qWait(ui::CTapAndHold::kHoldMilliseconds + 200);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(view->contextMenuShown());
  QStringList commands;
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator()) commands << action->text();
  }
  EXPECT_TRUE(commands.contains(QStringLiteral("&New Record")))
      << commands.join(u',').toStdString();
  menu->close();
  QTest::mouseRelease(view, Qt::LeftButton, {}, row);
  RunPostedEvents();
  EXPECT_EQ(view->selectedRow(), 4);
  EXPECT_EQ(frame_->formRequests, 0);

  // The next plain tap opens the form again.
  Tap(view, row);
  RunPostedEvents();
  EXPECT_EQ(frame_->formRequests, 1);

  // Tap-and-hold on the header opens the column menu on the touched item.
  CTBMListViewHdr* header = view->header();
  const QPoint city = header->PositionRect(2).center();
  QTest::mousePress(header, Qt::LeftButton, {}, city);
  QTest::qWait(ui::CTapAndHold::kHoldMilliseconds + 200);
  menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(header->touchedItem(), 2);
  QAction* descending = nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == QStringLiteral("Sort &Descending")) descending = action;
  }
  ASSERT_NE(descending, nullptr);
  EXPECT_TRUE(descending->isEnabled());
  descending->trigger();
  menu->close();
  QTest::mouseRelease(header, Qt::LeftButton, {}, city);
  RunPostedEvents();
  std::int16_t field = -1;
  bool ascending = true;
  document_->GetSortDef(&field, &ascending);
  EXPECT_EQ(field, 2);
  EXPECT_FALSE(ascending);
}

TEST_F(ListViewTest, KeysMoveTheSelectionAndScrollAtTheEdges) {
  CTBMListView* view = ShowList(MakeContacts(300), 0);
  ASSERT_NE(view, nullptr);
  view->setFocus();
  const int fullRows = view->RowArea().height() / view->rowHeight();
  ASSERT_GT(fullRows, 3);

  // Down to the last row shown whole, then one more scrolls one row.
  for (int i = 0; i < fullRows - 1; ++i) QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(view->selectedRow(), fullRows - 1);
  EXPECT_EQ(view->topRow(), 0);
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(view->selectedRow(), fullRows);
  EXPECT_EQ(view->topRow(), 1);
  EXPECT_EQ(document_->GetRecordIndex(), fullRows);

  // Up to the top row, then one more scrolls back.
  for (int i = 0; i < fullRows - 1; ++i) QTest::keyClick(view, Qt::Key_Up);
  EXPECT_EQ(view->selectedRow(), 1);
  EXPECT_EQ(view->topRow(), 1);
  QTest::keyClick(view, Qt::Key_Up);
  EXPECT_EQ(view->selectedRow(), 0);
  EXPECT_EQ(view->topRow(), 0);
  QTest::keyClick(view, Qt::Key_Up);
  EXPECT_EQ(view->selectedRow(), 0);

  // Navigation by the document follows in the list.
  frame_->RouteCommand(ui::ID_RECORD_LAST);
  EXPECT_EQ(view->selectedRow(), 299);
  EXPECT_EQ(view->bottomRow(), 299);
  EXPECT_EQ(view->topRow(), 300 - fullRows);
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(view->selectedRow(), 299);

  // Enter opens the selected record in the form view.
  QTest::keyClick(view, Qt::Key_Return);
  RunPostedEvents();
  EXPECT_EQ(frame_->formRequests, 1);
}

TEST_F(ListViewTest, CheckBoxCellsShowTheirBoxAndLabel) {
  // Done's label is its value list's first line; Paid has no value list
  // and is locked.
  CTBMListView* view = ShowList(
      MakeDatabase("Tasks", "Task:text,Done:text,Paid:text\nPaint the fence,DONE,\nBuy milk,,\n",
                   {"--style", "Done=checkbox", "--values", "Done=Done", "--style", "Paid=checkbox",
                    "--locked", "Paid"}),
      0);
  ASSERT_NE(view, nullptr);
  view->SelectRow(1);
  const QImage image = Grab(view);
  const std::vector<CTBMListView::Column> columns = view->DrawnColumns();
  ASSERT_EQ(columns.size(), 3u);
  auto box = [&](std::int16_t row, int column) {
    const QRect band = view->RowBand(row);
    return QRect(columns[column].left, band.top() + (band.height() - 15) / 2, 15, 15);
  };
  // Checked whatever the case of the value; the box differs from an
  // unchecked one, which is white inside.
  EXPECT_NE(image.copy(box(0, 1)), image.copy(box(1, 1)));
  EXPECT_EQ(image.pixelColor(box(0, 1).topLeft() + QPoint(2, 2)), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(box(1, 1).center()), QColor(Qt::white));
  // A locked field's box is filled with the button face.
  EXPECT_EQ(image.pixelColor(box(0, 2).center()), view->palette().color(QPalette::Button));
  // The label follows the box: black on white, white on the highlight.
  const QRect label0 = QRect(box(0, 1).right() + 6, view->RowBand(0).top(), 40, 16);
  const QRect label1 = QRect(box(1, 1).right() + 6, view->RowBand(1).top(), 40, 16);
  EXPECT_GT(InkIn(image, label0, Qt::white), 20);
  EXPECT_GT(InkIn(image, label1, view->palette().color(QPalette::Highlight)), 20);
}

// A database of 5000 records and 50 fields, every value distinct.
std::string WideCsv() {
  std::string csv;
  for (int f = 0; f < 50; ++f) csv += (f ? "," : "") + ("F" + std::to_string(f)) + ":text";
  csv += '\n';
  for (int r = 0; r < 5000; ++r) {
    for (int f = 0; f < 50; ++f)
      csv += (f ? "," : "") + std::to_string(r) + "/" + std::to_string(f);
    csv += '\n';
  }
  return csv;
}

TEST_F(ListViewTest, FiveThousandRecordsOfFiftyFieldsScrollByMovingTheRows) {
  CTBMListView* view = ShowList(MakeDatabase("Wide", WideCsv()), 0);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->header()->itemCount(), 50);
  const int fullRows = view->RowArea().height() / view->rowHeight();
  const bool exact = view->RowArea().height() % view->rowHeight() == 0;
  QScrollBar* bar = view->verticalScrollBar();
  EXPECT_EQ(bar->maximum(), 5000 - fullRows);
  RunPostedEvents();

  // One row down: the rows still shown move, only the uncovered one (and
  // the one cut by the bottom edge) is painted.
  view->ResetPaintedRowCount();
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  RunPostedEvents();
  EXPECT_EQ(view->topRow(), 1);
  EXPECT_EQ(view->paintedRowCount(), exact ? 1 : 2);

  // Selecting a row paints the old and the new selected row only.
  view->SelectRow(3);
  RunPostedEvents();
  view->ResetPaintedRowCount();
  view->SelectRow(5);
  RunPostedEvents();
  EXPECT_EQ(view->paintedRowCount(), 2);
  EXPECT_EQ(document_->GetRecordIndex(), 5);

  // A page down: every row is new, each painted once.
  view->ResetPaintedRowCount();
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  RunPostedEvents();
  EXPECT_EQ(view->topRow(), 1 + fullRows);
  EXPECT_EQ(view->paintedRowCount(), view->VisibleRows());

  // The thumb to the end: the last record on the last whole row.
  bar->setSliderPosition(bar->maximum());
  bar->triggerAction(QAbstractSlider::SliderMove);
  EXPECT_EQ(view->topRow(), 5000 - fullRows);
  EXPECT_EQ(view->RowBand(4999).bottom(), view->RowArea().top() + fullRows * view->rowHeight() - 1);
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(view->topRow(), 5000 - fullRows);

  // Pages right to the last column; the thumb back to the start.
  QScrollBar* columns = view->horizontalScrollBar();
  for (int i = 0; i < 30; ++i) columns->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(DrawnFields(view, 50).back(), 49);
  // The last columns may start further right than the bar can show.
  EXPECT_EQ(columns->value(),
            std::min(columns->maximum(), view->header()->WidthBefore(view->firstScrollColumn())));
  EXPECT_EQ(columns->value(), columns->maximum());
  columns->setSliderPosition(80);
  columns->triggerAction(QAbstractSlider::SliderMove);
  EXPECT_EQ(view->firstScrollColumn(), 1);
  const QImage image = Grab(view);
  EXPECT_GT(InkIn(image, view->RowBand(4999).adjusted(2, 0, -2, 0), Qt::white), 20);
}

TEST_F(ListViewTest, TextsInAnyScriptAreCutToTheirCellsAndDrawn) {
  // Names in Latin, CJK, Arabic, combining marks and emoji; a long note.
  std::string csv = kPeopleCsv;
  csv += "\"" + std::string(2000, 'x') + "\",1/2/2003,5,1:00 PM,\"two\nlines\"\n";
  CTBMListView* view = ShowList(MakeDatabase("People", csv), 0);
  ASSERT_NE(view, nullptr);
  const QImage image = Grab(view);
  for (std::int16_t row = 0; row < 6; ++row) {
    const QRect band = view->RowBand(row);
    const QColor background = row == view->selectedRow()
                                  ? view->palette().color(QPalette::Highlight)
                                  : view->palette().color(QPalette::Base);
    for (const CTBMListView::Column& column : view->DrawnColumns()) {
      QRect cell(column.left + 2, band.top(), column.width - 4, band.height());
      EXPECT_GT(InkIn(image, cell.intersected(view->RowArea()), background), 5)
          << "row " << row << " field " << column.field;
    }
  }

  // Cutting never splits a character made of several code units.
  const QFontMetrics metrics(view->viewFont());
  const QString emoji = QString::fromUtf8("Zo\u00eb \U0001F469\u200D\U0001F4BB Smith");
  for (int width = 0; width < metrics.horizontalAdvance(emoji); ++width) {
    const QString cut = CutTextToWidth(emoji, metrics, width, false, true);
    ASSERT_TRUE(emoji.startsWith(cut));
    EXPECT_LE(metrics.horizontalAdvance(cut), width);
    if (!cut.isEmpty()) {
      EXPECT_FALSE(cut.back().isHighSurrogate()) << width;
    }
  }
  EXPECT_EQ(CutTextToWidth(QStringLiteral("two\nlines"), metrics, 500, false, true),
            QStringLiteral("two"));
  const QString dotted = CutTextToWidth(QString(200, u'x'), metrics, 60, true, true);
  EXPECT_TRUE(dotted.endsWith(QStringLiteral("..."))) << dotted.toStdString();
  EXPECT_EQ(CutTextToWidth(QStringLiteral("xyz"), metrics, 1, true, true), QString());
}

}  // namespace
}  // namespace tbm::app::testing
