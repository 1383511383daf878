// The framework over a real language library: texts, messages, pictures,
// and a frame whose bars and menus come from resource numbers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "CommandMenus.h"
#include "DocList.h"
#include "MessageBox.h"
#include "ProgramLog.h"
#include "Resources.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace tbm::ui::testing {
namespace {

namespace fs = std::filesystem;

std::string Library(const char* suffix) { return LanguageLibraryPath(suffix); }
std::string EnglishLibrary() { return Library("409"); }

// A frame made the way the program makes its own, from resource numbers.
class ResourceFrame : public CFrameWnd {
 protected:
  bool OnCreate() override {
    CCommandBar* bar = SetCommandBar(std::make_unique<CCommandBar>(this));
    if (!bar->InsertMenuBar(128) || !bar->LoadToolBar(128)) return false;
    bar->SetButtonSize(QSize(18, 19));
    std::vector<QString> tips;
    for (std::uint32_t number = 65001; number <= 65005; ++number)
      tips.push_back(LoadQString(number));
    bar->SetToolTips(tips);
    CToolBarEx* navigation = SetToolBar(std::make_unique<CToolBarEx>(this));
    if (!navigation->LoadToolBar(143)) return false;
    SetStatusBar(std::make_unique<CStatusBar>());
    const CommandId panes[] = {ID_INDICATOR_TITLE, ID_INDICATOR_RECORD};
    statusBar()->SetIndicators(panes);
    statusBar()->SetPaneInfo(0, ID_INDICATOR_TITLE, 120, false);
    statusBar()->SetPaneInfo(1, ID_INDICATOR_RECORD, 1, true);
    return true;
  }
};

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::unique_ptr<res::ResourceLibrary> library;
    Status status = res::ResourceLibrary::Load(EnglishLibrary(), &library);
    ASSERT_TRUE(status.ok()) << status.message();
    app_.SetResources(std::move(library));
    app_.SetLogName("tbm_ui_tests");
    CloseLogs();
    SetMessageBoxAnswerer([this](const MessageBoxRequest& request) {
      boxes_.push_back(request);
      return MessageAnswer::kYes;
    });
  }
  void TearDown() override { SetMessageBoxAnswerer(nullptr); }

  TestApp app_;
  std::vector<MessageBoxRequest> boxes_;
};

TEST_F(ResourcesTest, TextsAndMessagesComeFromTheLibraryAndABadPlaceholderIsLogged) {
  EXPECT_EQ(LoadQString(AFX_IDS_APP_TITLE), QStringLiteral("Tabulon Mobile"));
  EXPECT_EQ(LoadQString(5020), QStringLiteral("%1d of %2d"));
  EXPECT_EQ(LoadQString(999999), QString());
  EXPECT_EQ(FromQString(ToQString(u"日本語 😀")), u"日本語 😀");

  EXPECT_EQ(FormatResourceMessage(
                5020, {res::MessageArgument::Number(3), res::MessageArgument::Number(12)}),
            QStringLiteral("3 of 12"));
  // A text argument where the text wants a number: shown as it stands,
  // never filled from the wrong argument, and the log says so.
  EXPECT_EQ(FormatResourceMessage(5020, {res::MessageArgument::Text(u"%s%s%n")}),
            QStringLiteral("%1d of %2d"));
  std::string log = tbm::testing::ReadWholeFile(LogFilePath("tbm_ui_tests"));
  EXPECT_NE(log.find("string 5020"), std::string::npos) << log;

  EXPECT_EQ(ResourceMessageBox(5006, {}, MessageIcon::kQuestion, MessageButtons::kYesNo),
            MessageAnswer::kYes);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, u"Delete the current record?");
  EXPECT_EQ(boxes_[0].icon, MessageIcon::kQuestion);
  EXPECT_EQ(boxes_[0].buttons, MessageButtons::kYesNo);
}

// The framework's own words (the message boxes' buttons, the document
// list's column titles) come from the library in use, here German; a real
// box is shown and answered with its "No" button.
TEST_F(ResourcesTest, TheFrameworksOwnWordsComeFromTheLibraryInUse) {
  std::unique_ptr<res::ResourceLibrary> german;
  ASSERT_TRUE(res::ResourceLibrary::Load(Library("407"), &german).ok());
  app_.SetResources(std::move(german));
  SetMessageBoxAnswerer(nullptr);

  QStringList buttons;
  QTimer::singleShot(0, [&buttons] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* button : box->buttons()) buttons << button->text();
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(ResourceMessageBox(5006, {}, MessageIcon::kQuestion, MessageButtons::kYesNo),
            MessageAnswer::kNo);
  buttons.sort();
  EXPECT_EQ(buttons, (QStringList{"Ja", "Nein"}));

  CFrameWnd frame;
  CDocList list(&frame, QStringLiteral("*.tbm"), QStringLiteral("All Folders"));
  QTreeWidgetItem* header = list.listWidget()->headerItem();
  EXPECT_EQ(header->text(0), QStringLiteral("Name"));
  EXPECT_EQ(header->text(1), QStringLiteral("Datum"));
  EXPECT_EQ(header->text(2), QStringLiteral("Größe"));
}

TEST_F(ResourcesTest, PicturesAreDrawnSharpAtEachPixelRatioAndKept) {
  QPixmap single = LoadPicture(300, 1.0);
  QPixmap doubled = LoadPicture(300, 2.0);
  ASSERT_FALSE(single.isNull());
  ASSERT_FALSE(doubled.isNull());
  EXPECT_EQ(single.size(), QSize(15, 15));
  EXPECT_EQ(doubled.size(), QSize(30, 30));
  EXPECT_EQ(doubled.devicePixelRatio(), 2.0);
  EXPECT_EQ(doubled.deviceIndependentSize().toSize(), QSize(15, 15));
  // The check box's frame is a filled rectangle on whole units: solid at
  // both ratios; its inside is left transparent.
  QImage small = single.toImage();
  QImage large = doubled.toImage();
  EXPECT_EQ(small.pixelColor(7, 0), QColor(0x40, 0x40, 0x40));
  EXPECT_EQ(large.pixelColor(14, 1), QColor(0x40, 0x40, 0x40));
  EXPECT_EQ(small.pixelColor(2, 2).alpha(), 0);
  EXPECT_EQ(LoadPicture(300, 1.0).cacheKey(), single.cacheKey()) << "kept, not drawn again";

  EXPECT_TRUE(LoadPicture(299, 1.0).isNull());
  std::string log = tbm::testing::ReadWholeFile(LogFilePath("tbm_ui_tests"));
  EXPECT_NE(log.find("picture 299"), std::string::npos) << log;

  // A new library forgets the pictures of the old one.
  std::unique_ptr<res::ResourceLibrary> again;
  ASSERT_TRUE(res::ResourceLibrary::Load(EnglishLibrary(), &again).ok());
  app_.SetResources(std::move(again));
  EXPECT_NE(LoadPicture(300, 1.0).cacheKey(), single.cacheKey());
}

TEST_F(ResourcesTest, AFrameMakesItsBarsAndMenusFromResourceNumbers) {
  ResourceFrame frame;
  ASSERT_TRUE(frame.LoadFrame(128));
  EXPECT_EQ(frame.windowTitle(), QStringLiteral("Tabulon Mobile"));
  frame.show();
  ProcessEvents();

  CCommandBar* bar = frame.commandBar();
  QList<QAction*> titles = bar->menuBar()->actions();
  ASSERT_EQ(titles.size(), 2);
  EXPECT_EQ(titles[0]->text(), QStringLiteral("&Record"));
  QMenu* record = titles[0]->menu();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->actions().front(), frame.CommandAction(ID_RECORD_NEW));
  EXPECT_EQ(bar->GetButtonCount(), 5);
  EXPECT_EQ(bar->GetItemID(4), ID_VIEW_TOOLBAR);
  EXPECT_EQ(bar->GetToolTip(0), LoadQString(65001));
  EXPECT_FALSE(bar->GetButton(0)->icon().isNull());
  EXPECT_EQ(bar->GetButton(0)->size(), QSize(18, 19));
  EXPECT_FALSE(bar->GetButton(0)->isEnabled()) << "no view to switch";
  EXPECT_TRUE(bar->GetButton(4)->isChecked()) << "the navigation bar shows";
  CToolBarEx* navigation = frame.toolBar();
  EXPECT_EQ(navigation->GetButtonCount(), 10);
  EXPECT_EQ(navigation->GetButton(5), nullptr) << "a gap";
  EXPECT_FALSE(navigation->GetButton(0)->isEnabled()) << "no document to move in";
  SaveGrab(frame.grab(), "frame-from-resources");

  // The tap-and-hold menu of a row: its first pop-up, with its own texts.
  QMenu* shown = TrackPopupMenu(110u, frame.mapToGlobal(QPoint(50, 100)), &frame);
  ASSERT_NE(shown, nullptr);
  ASSERT_EQ(shown->actions().size(), 7);
  EXPECT_EQ(shown->actions()[0]->text(), QStringLiteral("&New Record"));
  shown->close();

  // Numbers the library lacks fail cleanly.
  CCommandBar spare(&frame);
  EXPECT_FALSE(spare.InsertMenuBar(4242));
  EXPECT_FALSE(spare.LoadToolBar(4242));
  EXPECT_EQ(spare.menuBar(), nullptr);
}

}  // namespace
}  // namespace tbm::ui::testing
