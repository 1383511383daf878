// Commands go field editor -> view -> document -> template -> frame ->
// application; their actions follow the update handlers after input and
// before a menu shows.
#include <gtest/gtest.h>

#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolButton>
#include <string>
#include <vector>

#include "UiTestSupport.h"

namespace tbm::ui::testing {
namespace {

// The target of rank r on the route handles commands 0 to r and says so in
// the log: command k is handled by the k-th target when the route is right.
constexpr CommandId kFirstProbe = 0x9001;
constexpr int kTargets = 6;

TEST(CommandRouting, EachCommandGoesToTheFirstTargetOnTheRouteThatHandlesIt) {
  TestApp app;
  std::vector<std::string> log;
  TestTarget editor;
  // The template's registration is protected like every target's.
  struct OpenTemplate : CDocTemplate {
    using CCmdTarget::OnCommand;
    using CDocTemplate::CDocTemplate;
  };
  auto* docTemplate = static_cast<OpenTemplate*>(
      app.AddDocTemplate(std::make_unique<OpenTemplate>(128, CDocTemplate::Classes{})));
  TestFrame frame;
  ASSERT_TRUE(frame.LoadFrame(128));
  auto* document = new TestDocument();
  docTemplate->AddDocument(document);
  auto* view =
      static_cast<TestView*>(frame.CreateView(std::make_unique<TestView>(&editor), document));

  auto handleFrom = [&](auto& target, int rank, const char* name) {
    for (int k = 0; k <= rank; ++k)
      target.OnCommand(kFirstProbe + k, [&log, name] { log.push_back(name); });
  };
  handleFrom(editor, 0, "editor");
  handleFrom(*view, 1, "view");
  handleFrom(*document, 2, "document");
  handleFrom(*docTemplate, 3, "template");
  handleFrom(frame, 4, "frame");
  handleFrom(app, 5, "application");

  for (int k = 0; k < kTargets; ++k) EXPECT_TRUE(frame.RouteCommand(kFirstProbe + k));
  EXPECT_EQ(log, (std::vector<std::string>{"editor", "view", "document", "template", "frame",
                                           "application"}));

  // Nobody handles the next one: it is not handled and its action is off.
  EXPECT_FALSE(frame.RouteCommand(kFirstProbe + kTargets));
  QAction* unknown = frame.CommandAction(kFirstProbe + kTargets);
  QAction* known = frame.CommandAction(kFirstProbe + 3);
  frame.UpdateCommandUI();
  EXPECT_FALSE(unknown->isEnabled());
  EXPECT_TRUE(known->isEnabled());

  // Without an active view the route skips straight to the frame.
  log.clear();
  frame.SetActiveView(nullptr);
  EXPECT_TRUE(frame.RouteCommand(kFirstProbe + 1));
  EXPECT_EQ(log, (std::vector<std::string>{"frame"}));
  document->SetAutoDelete(false);
  delete view;
  delete document;
}

class CommandUpdates : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_.LoadFrame(128);
    document_ = new TestDocument();
    document_->SetAutoDelete(false);
    view_ = frame_.CreateView(std::make_unique<TestView>(), document_);
    document_->OnUpdateCommand(kEnabledCommand, [this](CCmdUI* ui) { ui->Enable(canAdd_); });
    document_->OnCommand(kEnabledCommand, [this] {
      ++added_;
      canAdd_ = false;
    });
    document_->OnUpdateCommand(kCheckedCommand, [this](CCmdUI* ui) { ui->SetCheck(checked_); });
    document_->OnUpdateCommand(ID_VIEW_LIST, [this](CCmdUI* ui) { ui->SetRadio(listShown_); });
    document_->OnUpdateCommand(ID_VIEW_FORM, [this](CCmdUI* ui) { ui->SetRadio(!listShown_); });
    frame_.show();
    ProcessEvents();
  }
  void TearDown() override {
    delete view_;
    delete document_;
  }

  QMenu* MenuTitled(const QString& title) {
    for (QAction* action : frame_.commandBar()->menuBar()->actions()) {
      if (action->text() == title) return action->menu();
    }
    return nullptr;
  }

  TestApp app_;
  TestFrame frame_;
  TestDocument* document_ = nullptr;
  CView* view_ = nullptr;
  bool canAdd_ = true;
  int checked_ = 0;
  bool listShown_ = true;
  int added_ = 0;
};

TEST_F(CommandUpdates, ActionsFollowTheHandlersAfterATapAndBeforeAMenuShows) {
  QAction* add = frame_.CommandAction(kEnabledCommand);
  QAction* options = frame_.CommandAction(kCheckedCommand);
  QAction* list = frame_.CommandAction(ID_VIEW_LIST);
  QAction* form = frame_.CommandAction(ID_VIEW_FORM);
  QAction* goTo = frame_.CommandAction(kUnhandledCommand);
  EXPECT_TRUE(add->isEnabled());
  EXPECT_FALSE(goTo->isEnabled()) << "nobody handles go-to";
  EXPECT_TRUE(list->isChecked());
  EXPECT_FALSE(form->isChecked());
  ASSERT_NE(list->actionGroup(), nullptr) << "a radio mark needs an exclusive group";
  EXPECT_TRUE(list->actionGroup()->isExclusive());

  // State changes behind the frame's back; a tap on the view brings the
  // actions up to date once the event loop turns.
  canAdd_ = false;
  checked_ = 1;
  listShown_ = false;
  QTest::mouseClick(view_, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_TRUE(add->isEnabled()) << "not before the event loop turns";
  ProcessEvents();
  EXPECT_FALSE(add->isEnabled());
  EXPECT_TRUE(options->isChecked());
  EXPECT_FALSE(list->isChecked());
  EXPECT_TRUE(form->isChecked());

  // Without any input, a menu about to show is brought up to date first.
  canAdd_ = true;
  checked_ = 0;
  QMenu* record = MenuTitled(QStringLiteral("&Record"));
  ASSERT_NE(record, nullptr);
  record->popup(QPoint(0, 0));
  EXPECT_TRUE(add->isEnabled());
  EXPECT_FALSE(options->isChecked());
  EXPECT_EQ(record->actions().front(), add) << "menu items are the frame's actions";

  // Choosing it routes the command, after which the handler's state shows.
  record->actions().front()->trigger();
  record->hide();
  EXPECT_EQ(added_, 0) << "commands are posted";
  ProcessEvents();
  EXPECT_EQ(added_, 1);
  EXPECT_FALSE(add->isEnabled());
}

TEST_F(CommandUpdates, TheToolBarToggleHidesTheNavigationBarAndItsButtonFollows) {
  CCommandBar* bar = frame_.commandBar();
  QToolButton* toggle = bar->GetButton(bar->CommandToIndex(ID_VIEW_TOOLBAR));
  ASSERT_NE(toggle, nullptr);
  EXPECT_TRUE(toggle->isChecked());
  EXPECT_TRUE(frame_.IsBarShown(frame_.toolBar()));

  QTest::mouseClick(toggle, Qt::LeftButton);
  ProcessEvents();
  EXPECT_FALSE(frame_.IsBarShown(frame_.toolBar()));
  EXPECT_FALSE(toggle->isChecked());
  EXPECT_TRUE(toggle->isEnabled());

  frame_.RouteCommand(ID_VIEW_TOOLBAR);
  ProcessEvents();
  EXPECT_TRUE(frame_.toolBar()->isVisible());
  EXPECT_TRUE(toggle->isChecked());
}

}  // namespace
}  // namespace tbm::ui::testing
