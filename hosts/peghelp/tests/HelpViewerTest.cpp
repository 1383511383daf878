// The help pages the build installs, and the help viewer finding and
// opening them as the handheld's programs start it: by topic, in the
// device's language.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <filesystem>
#include <set>
#include <string>

#include "Registry.h"
#include "RunProgram.h"
#include "TestSupport.h"

namespace {

namespace stdfs = std::filesystem;
using tbm::testing::ProgramResult;
using tbm::testing::ReadWholeFile;
using tbm::testing::RunProgram;

const stdfs::path kBin = stdfs::canonical("/proc/self/exe").parent_path();
const char* const kTopics[] = {"about",    "load_db",  "sync_db",      "open_db",  "del_db",
                               "view_rec", "add_rec",  "del_rec",      "find_rec", "sort_rec",
                               "disp_opt", "hardware", "Main_Contents"};

TEST(HelpPagesTest, EveryLanguageHasEveryTopicAndEveryLinkLeadsToOne) {
  for (const char* suffix : {"409", "407", "40c", "410", "c0a", "411"}) {
    SCOPED_TRACE(suffix);
    const std::string page = ReadWholeFile(kBin / "help" / suffix / "tbmobile.htm");
    ASSERT_FALSE(page.empty());
    std::set<std::string> anchors;
    for (std::size_t at = page.find("name=\""); at != std::string::npos;
         at = page.find("name=\"", at + 1)) {
      anchors.insert(page.substr(at + 6, page.find('"', at + 6) - at - 6));
    }
    for (const char* topic : kTopics) EXPECT_EQ(anchors.count(topic), 1u) << topic;
    for (std::size_t at = page.find("href=\"#"); at != std::string::npos;
         at = page.find("href=\"#", at + 1)) {
      const std::string target = page.substr(at + 7, page.find('"', at + 7) - at - 7);
      EXPECT_EQ(anchors.count(target), 1u) << "a link to #" << target;
    }
    EXPECT_NE(page.find("charset=utf-8"), std::string::npos);
  }
}

class HelpViewerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(device_.ok()); }

  // Runs the viewer on the scratch device with the environment's locale
  // set to locale, drawing into shot.png.
  ProgramResult View(const std::string& topic, const std::string& locale) {
    return RunProgram((kBin / "peghelp").string(),
                      {"--screenshot", (device_.path() / "shot.png").string(), topic}, {},
                      {{"TBM_DEVICE_ROOT", device_.path().string()},
                       {"QT_QPA_PLATFORM", "offscreen"},
                       {"LC_ALL", ""},
                       {"LC_MESSAGES", ""},
                       {"LANG", locale}});
  }

  static int Scrolled(const ProgramResult& result) {
    const std::size_t at = result.out.find("scrolled: ");
    return at == std::string::npos ? -1 : std::stoi(result.out.substr(at + 10));
  }

  static std::string Page(const std::string& suffix) {
    return "page: " + (kBin / "help" / suffix / "tbmobile.htm").string() + "\n";
  }

  void SetDeviceLanguage(DWORD language) {
    tbm::testing::ScopedEnvironment root("TBM_DEVICE_ROOT", device_.path().c_str());
    HKEY nls = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"nls", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &nls, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(nls, u"DefaultLCID", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&language), sizeof language),
              ERROR_SUCCESS);
    RegCloseKey(nls);
  }

  tbm::testing::ScratchFolder device_{"tbm-peghelp"};
};

TEST_F(HelpViewerTest, ThePageOfTheDevicesLanguageOpensAtTheTopic) {
  struct Case {
    const char* locale;
    const char* suffix;
  };
  int findScrolled = -1;
  for (const Case& each :
       {Case{"de_DE.UTF-8", "407"}, Case{"fr_CA.UTF-8", "40c"}, Case{"es_ES.UTF-8", "c0a"},
        Case{"pt_BR.UTF-8", "409"}, Case{"C", "409"}}) {
    const ProgramResult result = View("file:tbmobile.htm#find_rec", each.locale);
    ASSERT_EQ(result.status, 0) << each.locale << ": " << result.err;
    EXPECT_NE(result.out.find(Page(each.suffix)), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("anchor: find_rec\n"), std::string::npos) << result.out;
    findScrolled = Scrolled(result);
  }
  // The picture is the window at the handheld's screen size, not blank.
  QImage shot((device_.path() / "shot.png").c_str());
  ASSERT_EQ(shot.size(), QSize(240, 320));
  std::set<QRgb> colours;
  for (int y = 0; y < shot.height(); y += 4)
    for (int x = 0; x < shot.width(); x += 4) colours.insert(shot.pixel(x, y));
  EXPECT_GT(colours.size(), 4u);

  // The contents are at the top, finding far below.
  const ProgramResult contents = View("file:tbmobile.htm#Main_Contents", "C");
  EXPECT_NE(contents.out.find(Page("409")), std::string::npos) << contents.out;
  EXPECT_GE(Scrolled(contents), 0);
  EXPECT_GT(findScrolled, Scrolled(contents) + 200);
}

TEST_F(HelpViewerTest, TheDevicesRegistryAndItsWindowsFolderComeFirst) {
  SetDeviceLanguage(0x411);
  ProgramResult result = View("file:tbmobile.htm#sort_rec", "de_DE.UTF-8");
  EXPECT_NE(result.out.find(Page("411")), std::string::npos) << result.out << result.err;

  stdfs::create_directories(device_.path() / "Windows");
  ASSERT_TRUE(tbm::testing::WriteWholeFile(device_.path() / "Windows" / "tbmobile.htm",
                                           "<html><body><a name=\"about\"></a>Own help</body>"
                                           "</html>"));
  result = View("tbmobile.htm#about", "de_DE.UTF-8");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("page: " + (device_.path() / "Windows" / "tbmobile.htm").string()),
            std::string::npos)
      << result.out;
}

TEST_F(HelpViewerTest, TopicsItCannotShowAreSaidInWords) {
  // A topic the page lacks: the page opens at its top.
  ProgramResult result = View("file:tbmobile.htm#no_such_topic", "en_US.UTF-8");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.err.find("has no topic \"no_such_topic\""), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("anchor: \n"), std::string::npos) << result.out;

  result = View("file:other.htm#about", "en_US.UTF-8");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("There is no help page other.htm"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("help/409/other.htm"), std::string::npos) << result.err;

  result = View("file:../secret.htm", "en_US.UTF-8");
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("plain file name"), std::string::npos) << result.err;
  EXPECT_EQ(RunProgram((kBin / "peghelp").string(), {}).status, 2);

  result = RunProgram((kBin / "peghelp").string(), {"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("Usage: peghelp"), std::string::npos);
}

}  // namespace
