// The frame on the handheld's screen: its bars and main pane, showing and
// hiding bars, the input panel, the owner-drawn status bar, help.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QTest>
#include <QToolButton>

#include "InputPanel.h"
#include "Screen.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace tbm::ui::testing {
namespace {

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(frame_.LoadFrame(128));
    document_ = new TestDocument();
    document_->SetAutoDelete(false);
    document_->OnUpdateCommand(ID_INDICATOR_TITLE, [this](CCmdUI* ui) { ui->SetText(title_); });
    document_->OnUpdateCommand(ID_INDICATOR_RECORD, [](CCmdUI* ui) { ui->SetText(u"3/12"); });
    for (CommandId id : {ID_RECORD_FIRST, ID_RECORD_PREV, ID_RECORD_NEXT, ID_RECORD_LAST})
      document_->OnCommand(id, [] {});
    document_->OnCommand(kEnabledCommand, [] {});
    view_ = frame_.CreateView(std::make_unique<TestView>(), document_);
    frame_.InitialUpdateFrame(document_);
    ProcessEvents();
  }
  void TearDown() override {
    CInputPanel::Get().Show(false);
    delete view_;
    delete document_;
  }

  TestApp app_;
  TestFrame frame_;
  TestDocument* document_ = nullptr;
  CView* view_ = nullptr;
  std::u16string title_ = u"Sales.tbm";
};

TEST_F(FrameTest, BarsAndMainPaneShareTheScreenAndGiveWayWhenHidden) {
  ASSERT_EQ(ScreenSize(), QSize(240, 320));
  EXPECT_EQ(frame_.size(), QSize(240, 320));
  EXPECT_EQ(frame_.windowTitle(), QStringLiteral("Tabulon Mobile"));

  // The command bar along the bottom, the navigation bar above it with its
  // left, right and bottom edges trimmed, the status bar at the top with
  // only its line towards the pane.
  const int commandTop = 320 - CCommandBar::kHeight;
  EXPECT_EQ(frame_.commandBar()->geometry(), QRect(0, commandTop, 240, CCommandBar::kHeight));
  const int navigation = frame_.toolBar()->BarHeight();
  EXPECT_EQ(frame_.toolBar()->geometry(), QRect(-1, commandTop - navigation, 242, navigation + 1));
  const int status = frame_.statusBar()->BarHeight();
  EXPECT_EQ(frame_.statusBar()->geometry(), QRect(0, 0, 240, status));
  EXPECT_EQ(view_->geometry(), QRect(0, status, 240, commandTop - navigation - status));

  // Command bar: the menu bar first, then 18 x 19 buttons with their tips.
  CCommandBar* bar = frame_.commandBar();
  ASSERT_NE(bar->menuBar(), nullptr);
  EXPECT_EQ(bar->menuBar()->actions().size(), 2);
  EXPECT_LT(bar->menuBar()->geometry().right(), bar->GetItemRect(0).left());
  EXPECT_EQ(bar->GetButton(0)->size(), QSize(18, 19));
  EXPECT_EQ(bar->GetToolTip(0), QStringLiteral("New record"));
  EXPECT_EQ(bar->GetButton(1), nullptr) << "a gap";
  EXPECT_EQ(bar->GetToolTip(2), QStringLiteral("Tool bar"));
  EXPECT_EQ(frame_.toolBar()->GetToolTip(3), QStringLiteral("Last"));
  EXPECT_TRUE(frame_.toolBar()->GetButton(0)->isEnabled());
  EXPECT_FALSE(bar->GetButton(3)->isEnabled()) << "nobody handles its command";
  SaveGrab(frame_.grab(), "frame-with-bars");

  frame_.ShowControlBar(frame_.statusBar(), false);
  EXPECT_EQ(view_->geometry(), QRect(0, 0, 240, commandTop - navigation));
  frame_.ShowControlBar(frame_.toolBar(), false);
  EXPECT_EQ(view_->geometry(), QRect(0, 0, 240, commandTop));
  frame_.ShowControlBar(frame_.statusBar(), true);
  frame_.ShowControlBar(frame_.toolBar(), true);
  EXPECT_EQ(view_->geometry(), QRect(0, status, 240, commandTop - navigation - status));

  // The input panel comes up above the command bar; the pane shrinks and
  // the navigation bar moves up over the panel.
  CInputPanel& panel = CInputPanel::Get();
  int changes = 0;
  auto connection = QObject::connect(&panel, &CInputPanel::changed, [&changes] { ++changes; });
  panel.Show(true);
  panel.Show(true);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(panel.Rect(), QRect(0, commandTop - CInputPanel::kHeight, 240, CInputPanel::kHeight));
  const int panelTop = panel.Rect().top();
  EXPECT_EQ(frame_.toolBar()->geometry().top(), panelTop - navigation);
  EXPECT_EQ(view_->geometry(), QRect(0, status, 240, panelTop - navigation - status));
  SaveGrab(frame_.grab(), "frame-with-input-panel");
  panel.Show(false);
  EXPECT_EQ(view_->geometry(), QRect(0, status, 240, commandTop - navigation - status));
  QObject::disconnect(connection);
}

TEST_F(FrameTest, StatusPanesAreDrawnByTheProgramWithTextsFromTheRoute) {
  auto* status = frame_.testStatusBar();
  EXPECT_EQ(status->GetPaneText(0), QStringLiteral("Sales.tbm"));
  EXPECT_EQ(status->GetPaneText(1), QStringLiteral("3/12"));
  EXPECT_EQ(status->GetPaneText(2), QString()) << "nobody knows the found-set pane";

  // 120 fixed, the record pane stretching, 15 fixed; no borders between,
  // the bar's bottom line below them.
  const int inside = status->height() - 1;
  EXPECT_EQ(status->GetItemRect(0), QRect(0, 0, 120, inside));
  EXPECT_EQ(status->GetItemRect(1), QRect(120, 0, 105, inside));
  EXPECT_EQ(status->GetItemRect(2), QRect(225, 0, 15, inside));

  QImage shot = status->grab().toImage();
  for (int pane = 0; pane < 3; ++pane) {
    QRect rect = status->GetItemRect(pane);
    EXPECT_EQ(shot.pixelColor(rect.left() + 1, rect.top() + 1), TestStatusBar::PaneColour(pane))
        << "pane " << pane;
  }
  SaveGrab(status->grab(), "status-bar");

  // A pane made 0 wide is not drawn; the stretching pane takes its room.
  status->SetPaneWidth(2, 0);
  EXPECT_TRUE(status->GetItemRect(2).isEmpty());
  shot = status->grab().toImage();
  EXPECT_EQ(shot.pixelColor(235, 2), TestStatusBar::PaneColour(1));

  // Repainting the status bar brings its texts up to date at once.
  title_ = u"Orders.tbm";
  frame_.RepaintStatusBar();
  EXPECT_EQ(status->GetPaneText(0), QStringLiteral("Orders.tbm"));

  // With no view, nobody knows the title: the pane is emptied.
  frame_.SetActiveView(nullptr);
  frame_.UpdateCommandUI();
  EXPECT_EQ(status->GetPaneText(0), QString());
  EXPECT_EQ(status->GetPaneText(1), QString());
  frame_.SetActiveView(view_);
}

TEST_F(FrameTest, F1AndTheHelpCommandAskTheFrameForHelp) {
  frame_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame_));
  EXPECT_GE(frame_.activations, 1);
  QTest::keyClick(view_, Qt::Key_F1);
  ProcessEvents();
  EXPECT_EQ(frame_.helpRequests, 1);
  EXPECT_TRUE(frame_.RouteCommand(ID_HELP));
  EXPECT_EQ(frame_.helpRequests, 2);
}

TEST(Screen, TheEnvironmentOrTheProgramChangesTheScreenSize) {
  {
    tbm::testing::ScopedEnvironment size("TBM_SCREEN_SIZE", "480x640");
    EXPECT_EQ(ScreenSize(), QSize(480, 640));
    TestFrame frame;
    EXPECT_EQ(frame.size(), QSize(480, 640));
  }
  for (const char* bad : {"480", "x640", "10x10", "480x640x2", "wide x tall", ""}) {
    tbm::testing::ScopedEnvironment size("TBM_SCREEN_SIZE", bad);
    EXPECT_EQ(ScreenSize(), QSize(240, 320)) << bad;
  }
  SetScreenSize(QSize(320, 240));
  EXPECT_EQ(ScreenSize(), QSize(320, 240));
  SetScreenSize(QSize());
  EXPECT_EQ(ScreenSize(), QSize(240, 320));
}

}  // namespace
}  // namespace tbm::ui::testing
