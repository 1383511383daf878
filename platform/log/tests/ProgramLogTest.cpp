// Program logs: their lines, their cap and rotation, and a log that cannot
// be written.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <regex>

#include "ProgramLog.h"
#include "TestSupport.h"

namespace tbm {
namespace {

namespace stdfs = std::filesystem;
using tbm::testing::ReadWholeFile;

class ProgramLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    ::setenv("TBM_DEVICE_ROOT", (scratch_.path() / "device").c_str(), 1);
    CloseLogs();
  }
  void TearDown() override { CloseLogs(); }

  tbm::testing::ScratchFolder scratch_{"tbm-log-test"};
};

TEST_F(ProgramLogTest, LinesCarryTimeProgramAndLevelAndAreAppended) {
  WriteLog("TBMSYNBKCE", LogLevel::kInfo, "synchronisation started");
  WriteLog("TBMSYNBKCE", LogLevel::kError, "Sales.tbm: the copy is damaged");
  CloseLogs();  // a later run appends
  WriteLog("TBMSYNBKCE", LogLevel::kWarning, "synchronisation ended");
  const std::string path = LogFilePath("TBMSYNBKCE");
  EXPECT_EQ(path, (scratch_.path() / "device" / "log" / "TBMSYNBKCE.log").string());
  const std::string text = ReadWholeFile(path);
  const std::regex line(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[TBMSYNBKCE\] (info|error|warning): .*)");
  std::istringstream lines(text);
  std::vector<std::string> read;
  for (std::string l; std::getline(lines, l);) {
    EXPECT_TRUE(std::regex_match(l, line)) << l;
    read.push_back(l);
  }
  ASSERT_EQ(read.size(), 3u);
  EXPECT_NE(read[1].find("error: Sales.tbm: the copy is damaged"), std::string::npos);
  EXPECT_NE(read[2].find("warning: synchronisation ended"), std::string::npos);
}

TEST_F(ProgramLogTest, AFullLogStartsANewFileAndKeepsTheNewestOldOnes) {
  const std::string filler(1000, 'x');
  const int lines = static_cast<int>(5 * kLogFileBytes / 1000);
  for (int i = 0; i < lines; ++i) {
    WriteLog("tbmdb", LogLevel::kInfo, "line " + std::to_string(i) + " " + filler);
  }
  const stdfs::path folder = scratch_.path() / "device" / "log";
  std::vector<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
    EXPECT_LE(stdfs::file_size(entry.path()), kLogFileBytes) << names.back();
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"tbmdb.1.log", "tbmdb.2.log", "tbmdb.3.log", "tbmdb.log"}));
  const std::string newest = ReadWholeFile(folder / "tbmdb.log");
  EXPECT_NE(newest.find("line " + std::to_string(lines - 1) + " "), std::string::npos);
  EXPECT_EQ(ReadWholeFile(folder / "tbmdb.3.log").find("line 0 "), std::string::npos)
      << "the oldest lines are gone";
}

TEST_F(ProgramLogTest, ALogThatCannotBeWrittenIsLeftOut) {
  // The machine root is a file, so no log folder can be made in it.
  tbm::testing::WriteWholeFile(scratch_.path() / "device", "not a folder");
  WriteLog("tbmdb", LogLevel::kError, "nobody hears this");
  EXPECT_FALSE(stdfs::exists(scratch_.path() / "device" / "log"));
}

}  // namespace
}  // namespace tbm
