// Tabulon Pro's window, driven as a person drives it (offscreen): its table
// of open databases, choosing the current one, and the menu items that
// call the plug-in's dialogs.
#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QTableWidget>
#include <QTest>

#include "DatabaseFolder.h"
#include "HostSession.h"
#include "HostWindow.h"
#include "Machine.h"
#include "PluginHost.h"
#include "SyncSettings.h"
#include "TabulonProTestSupport.h"

namespace tbm::tabulonpro {
namespace {

using tbm::testing::ReadWholeFile;
using tbm::testing::ScopedEnvironment;

class HostWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SelectMachine(Machine::Desktop); }

  void SetUp() override {
    std::filesystem::create_directories(DatabaseFolder());
    NewDatabase alpha;
    alpha.fields = {{"Name", FieldType::kText}};
    alpha.records = {{"Anna"}, {"Bob"}};
    ASSERT_TRUE(DesktopDatabase::Create(DatabaseFolder() + "/Alpha.tbp", alpha).ok());
    NewDatabase beta = alpha;
    beta.records = {{"Cleo"}};
    beta.flags = kFlagOffered | kFlagMaySynchronise | kFlagSettingsLocked;
    ASSERT_TRUE(DesktopDatabase::Create(DatabaseFolder() + "/Beta.tbp", beta).ok());
  }

  tbm::testing::ScratchFolder folder_{"tabulonpro-window"};
  ScopedEnvironment root_{"TBM_DESKTOP_ROOT", (folder_.path() / "desktop").c_str()};
  ScopedEnvironment codePage_{"TBM_ANSI_CODE_PAGE", nullptr};
  std::string report_ = (folder_.path() / "report.txt").string();
  ScopedEnvironment reportPath_{"TB_PROBE_REPORT", report_.c_str()};
};

TEST_F(HostWindowTest, TheWindowListsTheDatabasesAndItsMenuCallsThePlugInForTheChosenOne) {
  std::unique_ptr<HostTextForm> form;
  ASSERT_TRUE(HostTextForm::OpenSystem(&form).ok());
  HostSession session(std::move(form));
  for (const std::string& path : DatabaseFiles()) {
    std::unique_ptr<DesktopDatabase> db;
    ASSERT_TRUE(DesktopDatabase::Open(path, &db).ok()) << path;
    session.Add(std::move(db));
  }
  PluginHost plugin;
  ASSERT_TRUE(plugin.Load(ProbePath()).ok());
  ASSERT_EQ(plugin.Start(session.Services()), kPluginStarted);

  HostWindow window(session, plugin);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTableWidget* table = window.table();
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(table->item(0, 0)->text(), "Alpha");
  EXPECT_EQ(table->item(0, 1)->text(), "2");
  EXPECT_EQ(table->item(0, 2)->text(),
            "offered to the handheld, may be synchronised, settings may be changed");
  EXPECT_EQ(table->item(1, 2)->text(),
            "offered to the handheld, may be synchronised, settings locked");
  EXPECT_EQ(session.current(), session.database(0));

  // Clicking the second row makes it the current database, and the
  // settings are asked for it.
  const QRect second = table->visualItemRect(table->item(1, 0));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(session.current(), session.database(1));
  ASSERT_TRUE(window.settingsAction()->isEnabled());
  window.settingsAction()->trigger();
  window.aboutAction()->trigger();
  const std::string report = ReadWholeFile(report_);
  EXPECT_NE(report.find("settings Beta\nabout\n"), std::string::npos) << report;
  std::string settings;
  EXPECT_TRUE(session.database(1)->ReadPluginData(sync::kSyncSettingsKey, &settings).ok());
  EXPECT_EQ(settings.size(), 812u);

  // A change another program makes shows at the next refresh.
  std::unique_ptr<DesktopDatabase> other;
  ASSERT_TRUE(DesktopDatabase::Open(DatabaseFolder() + "/Alpha.tbp", &other).ok());
  ASSERT_TRUE(other->SetFlags(0).ok());
  RecordInfo added;
  ASSERT_TRUE(other->AddRecord({}, &added).ok());
  window.Refresh();
  EXPECT_EQ(table->item(0, 1)->text(), "3");
  EXPECT_EQ(table->item(0, 2)->text(), "not offered to the handheld");

  // The selected row is painted apart from the other.
  const QImage picture = window.grab().toImage();
  if (const char* keep = std::getenv("TB_WINDOW_PICTURE")) picture.save(keep);
  const QPoint offset = table->viewport()->mapTo(&window, QPoint(0, 0));
  const QRect first = table->visualItemRect(table->item(0, 1));
  const QPoint inFirst = offset + QPoint(first.left() + 2, first.center().y());
  const QPoint inSecond = offset + QPoint(second.left() + 2, second.center().y());
  EXPECT_NE(picture.pixel(inFirst), picture.pixel(inSecond));

  plugin.Stop();
  EXPECT_NE(ReadWholeFile(report_).find("about\nstop\n"), std::string::npos);
  window.Refresh();
  EXPECT_FALSE(window.aboutAction()->isEnabled());
}

}  // namespace
}  // namespace tbm::tabulonpro
