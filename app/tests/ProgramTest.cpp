// The program as a user runs it: its own process on a fresh device root,
// started without a display, picturing a database as a list and a form, and
// refusing a damaged file in words without touching it.
#include <gtest/gtest.h>

#include <QImage>
#include <set>

#include "AppTestSupport.h"
#include "RunProgram.h"
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

}  // namespace
}  // namespace tbm::app::testing
