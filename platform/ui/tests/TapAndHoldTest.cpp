// A press held still opens the context menu at the point; a press that
// moves, or a short one, is left alone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointingDevice>
#include <QTest>

#include "CommandMenus.h"
#include "TapAndHold.h"
#include "UiTestSupport.h"

namespace tbm::ui::testing {
namespace {

// A view that opens the first pop-up of its menu resource on a context-menu
// event, as the record views do, and counts the releases it sees.
class HoldingView : public TestView {
 public:
  explicit HoldingView(const res::Menu& menu) : menu_(menu), hold_(this) {}

  CTapAndHold& hold() { return hold_; }
  int releases = 0;
  QPoint menuAt;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override {
    menuAt = event->pos();
    event->setAccepted(TrackPopupMenu(menu_, event->globalPos(), GetParentFrame()) != nullptr);
  }
  void mouseReleaseEvent(QMouseEvent*) override { ++releases; }

 private:
  res::Menu menu_;
  CTapAndHold hold_;
};

res::Menu ContextMenu() {
  res::Menu menu;
  menu.items.push_back(Popup(u"Column", {Command(u"Sort &Ascending", ID_COLUMN_SORT_ASCENDING),
                                         Command(u"Sort &Descending", ID_COLUMN_SORT_DESCENDING),
                                         Separator(), Command(u"&Find...", ID_COLUMN_FIND)}));
  menu.items.push_back(Popup(u"Unused", {Command(u"&New", ID_RECORD_NEW)}));
  return menu;
}

class TapAndHoldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_.LoadFrame(128);
    document_ = new TestDocument();
    document_->SetAutoDelete(false);
    document_->OnCommand(ID_COLUMN_SORT_ASCENDING, [this] { ++sorted_; });
    document_->OnUpdateCommand(ID_COLUMN_FIND, [](CCmdUI* ui) { ui->Enable(false); });
    view_ = static_cast<HoldingView*>(
        frame_.CreateView(std::make_unique<HoldingView>(ContextMenu()), document_));
    frame_.show();
    ProcessEvents();
  }
  void TearDown() override {
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    ProcessEvents();
    delete view_;
    delete document_;
  }

  static QMenu* OpenMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

  TestApp app_;
  TestFrame frame_;
  TestDocument* document_ = nullptr;
  HoldingView* view_ = nullptr;
  int sorted_ = 0;
};

TEST_F(TapAndHoldTest, AHeldPressOpensTheContextMenuAndItsReleaseIsNoTap) {
  const QPoint point(60, 80);
  QTest::mousePress(view_, Qt::LeftButton, {}, point);
  QTest::qWait(CTapAndHold::kHoldMilliseconds / 2);
  EXPECT_EQ(OpenMenu(), nullptr) << "not yet";
  QTest::mouseMove(view_, point + QPoint(3, -3));
  QTest::qWait(CTapAndHold::kHoldMilliseconds);
  QMenu* menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(view_->hold().held());
  EXPECT_TRUE(view_->hold().openedMenu());
  EXPECT_EQ(view_->menuAt, point);

  // The first pop-up's items, brought up to date before showing.
  QList<QAction*> items = menu->actions();
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(items[0], frame_.CommandAction(ID_COLUMN_SORT_ASCENDING));
  EXPECT_TRUE(items[0]->isEnabled());
  EXPECT_FALSE(items[1]->isEnabled()) << "nobody sorts descending";
  EXPECT_TRUE(items[2]->isSeparator());
  EXPECT_FALSE(items[3]->isEnabled()) << "its handler disables it";

  QTest::mouseRelease(view_, Qt::LeftButton, {}, point);
  EXPECT_EQ(view_->releases, 0);

  items[0]->trigger();
  menu->hide();
  ProcessEvents();
  EXPECT_EQ(sorted_, 1);
}

TEST_F(TapAndHoldTest, AMovingOrShortPressIsNoHold) {
  QTest::mousePress(view_, Qt::LeftButton, {}, QPoint(60, 80));
  QTest::mouseMove(view_, QPoint(60, 80 + CTapAndHold::kMoveTolerance + 4));
  QTest::qWait(CTapAndHold::kHoldMilliseconds + 200);
  EXPECT_EQ(OpenMenu(), nullptr);
  EXPECT_FALSE(view_->hold().held());
  QTest::mouseRelease(view_, Qt::LeftButton, {}, QPoint(60, 90));
  EXPECT_EQ(view_->releases, 1);

  QTest::mouseClick(view_, Qt::LeftButton, {}, QPoint(30, 30));
  QTest::qWait(CTapAndHold::kHoldMilliseconds + 200);
  EXPECT_EQ(OpenMenu(), nullptr);
  EXPECT_EQ(view_->releases, 2);
}

TEST_F(TapAndHoldTest, ATouchHeldStillOpensTheMenuToo) {
  view_->setAttribute(Qt::WA_AcceptTouchEvents);
  QPointingDevice* screen = QTest::createTouchDevice();
  QTest::touchEvent(view_, screen).press(0, QPoint(100, 50));
  QTest::qWait(CTapAndHold::kHoldMilliseconds + 200);
  ASSERT_NE(OpenMenu(), nullptr);
  EXPECT_EQ(view_->menuAt, QPoint(100, 50));
  OpenMenu()->close();
  QTest::touchEvent(view_, screen).release(0, QPoint(100, 50));
}

TEST(ContextMenus, AResourceWithoutAPopupShowsNothing) {
  TestFrame frame;
  res::Menu commandsOnly;
  commandsOnly.items.push_back(Command(u"&New", ID_RECORD_NEW));
  EXPECT_EQ(TrackPopupMenu(commandsOnly, QPoint(10, 10), &frame), nullptr);
  res::Menu emptyPopup;
  emptyPopup.items.push_back(Popup(u"Empty", {}));
  EXPECT_EQ(TrackPopupMenu(emptyPopup, QPoint(10, 10), &frame), nullptr);
  // Without a language library a numbered menu is not there either.
  EXPECT_EQ(TrackPopupMenu(110u, QPoint(10, 10), &frame), nullptr);
}

}  // namespace
}  // namespace tbm::ui::testing
