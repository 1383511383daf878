// The program as a user runs it: its own process on a fresh device root,
// started without a display, picturing a database as a list and a form, and
// refusing a damaged file in words without touching it.
#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <set>
#include <thread>

#include "AppTestSupport.h"
#include "HandheldCalls.h"
#include "HandheldProgram.h"
#include "RunProgram.h"
#include "SyncActiveFlag.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::app::testing {
namespace {

using ProgramTest = AppTest;

std::string ProgramPath() { return (tbm::testing::ProgramFolder() / "Tabulon Mobile").string(); }

// Runs the program with args. Under the leak checker, fontconfig's caches,
// which live as long as the process, are not counted as leaks.
tbm::testing::ProgramResult RunTheProgram(const std::filesystem::path& scratch,
                                          const std::vector<std::string>& args) {
  const std::filesystem::path suppressions = scratch / "leaks.supp";
  tbm::testing::WriteWholeFile(suppressions, "leak:libfontconfig.so\n");
  return tbm::testing::RunProgram(ProgramPath(), args, {},
                                  {{"LSAN_OPTIONS", "suppressions=" + suppressions.string()}});
}

// How many different colours a picture has: a screen with rows, bars and
// text has many, a blank or failed one a handful.
std::size_t Colours(const QImage& image) {
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  return colours.size();
}

TEST_F(ProgramTest, WithoutADisplayItPicturesTheDatabaseAsAListAndAForm) {
  std::u16string database = MakeDatabase("People", kPeopleCsv);
  tbm::testing::ScratchFolder shots("tbm-program-shots");
  tbm::testing::ProgramResult run = RunTheProgram(
      root_.path(), {"--screenshots", shots.path().string(), tbm::Utf16ToUtf8(database)});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"People-list.png", "People-form.png"}) {
    QImage image(QString::fromStdString((shots.path() / name).string()));
    ASSERT_FALSE(image.isNull()) << name;
    EXPECT_EQ(image.size(), QSize(240, 320)) << name;
    EXPECT_GT(Colours(image), 20u) << name;
    EXPECT_NE(run.out.find(name), std::string::npos) << run.out;
  }

  // Without a database: the list of the handheld's databases.
  run = RunTheProgram(root_.path(), {"--screenshots", shots.path().string()});
  ASSERT_EQ(run.status, 0) << run.err;
  QImage list(QString::fromStdString((shots.path() / "documents.png").string()));
  EXPECT_EQ(list.size(), QSize(240, 320));
  EXPECT_NE(run.out.find("documents.png"), std::string::npos) << run.out;
}

TEST_F(ProgramTest, ADamagedFileIsRefusedInWordsAndLeftAsItWas) {
  std::filesystem::path damaged = root_.path() / "Damaged.tbm";
  const std::string bytes(4096, '\x5a');
  ASSERT_TRUE(tbm::testing::WriteWholeFile(damaged, bytes));
  tbm::testing::ScratchFolder shots("tbm-program-shots");
  tbm::testing::ProgramResult run =
      RunTheProgram(root_.path(), {"--screenshots", shots.path().string(), damaged.string()});
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("Damaged"), std::string::npos) << run.err;
  EXPECT_EQ(tbm::testing::ReadWholeFile(damaged), bytes);
  EXPECT_FALSE(std::filesystem::exists(shots.path() / "Damaged-list.png"));
}

TEST_F(ProgramTest, ASecondStartHandsItsDatabaseToTheRunningProgram) {
  const std::u16string people = MakeDatabase("People", kPeopleCsv);
  const std::u16string other = MakeDatabase("Other", "Item:text\nNails\n");
  const std::filesystem::path suppressions = root_.path() / "leaks.supp";
  tbm::testing::WriteWholeFile(suppressions, "leak:libfontconfig.so\n");
  // A platform that needs no screen but runs the program as on a display.
  const std::vector<std::pair<std::string, std::string>> env = {
      {"QT_QPA_PLATFORM", "minimal"}, {"LSAN_OPTIONS", "suppressions=" + suppressions.string()}};
  tbm::testing::RunningProgram first(ProgramPath(), {Utf16ToUtf8(people)}, env);
  ASSERT_GT(first.pid(), 0);
  const std::u16string program = Utf8ToUtf16(ProgramPath());
  HWND window = nullptr;
  for (int tries = 0; tries < 200 && window == nullptr; ++tries) {
    window = sync::FindHandheldProgramWindow(program);
    if (window == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(window, nullptr) << "the program's window was never published";
  auto openName = [&] {
    std::optional<std::u16string> name;
    EXPECT_TRUE(sync::CallOpenDatabaseName(window, 5000, &name).ok());
    return name;
  };
  for (int tries = 0; tries < 100 && openName() != u"People"; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(openName(), u"People");

  // Started again on another database: the running program opens it and
  // the second start ends.
  auto second = tbm::testing::RunProgram(ProgramPath(), {Utf16ToUtf8(other)}, {}, env);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(openName(), u"Other");
  // Again on the same database: nothing changes.
  second = tbm::testing::RunProgram(ProgramPath(), {Utf16ToUtf8(other)}, {}, env);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(openName(), u"Other");
  // On a path that does not exist: the running program lets its database
  // go and shows the list of databases, as a first start would.
  second = tbm::testing::RunProgram(ProgramPath(), {"\\My Documents\\Gone.tbm"}, {}, env);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_FALSE(openName().has_value());

  // While a synchronisation runs, no database opens: the program says so
  // (the second start does not wait for the person to read it) and opens
  // it when asked again after the synchronisation.
  ASSERT_TRUE(sync::WriteSyncActive(true));
  second = tbm::testing::RunProgram(ProgramPath(), {Utf16ToUtf8(people)}, {}, env);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_FALSE(openName().has_value());
  // The person answers the message.
  EXPECT_NE(SendMessageTimeoutW(window, WM_KEYDOWN, VK_RETURN, 0, 0, 5000, nullptr), 0);
  ASSERT_TRUE(sync::WriteSyncActive(false));
  second = tbm::testing::RunProgram(ProgramPath(), {Utf16ToUtf8(people)}, {}, env);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(openName(), u"People");
}

}  // namespace
}  // namespace tbm::app::testing
