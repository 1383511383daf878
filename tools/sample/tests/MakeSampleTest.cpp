// tbm_make_sample run as a user runs it: its output, its output file, and
// its answers to wrong arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "CsvReading.h"
#include "RunProgram.h"
#include "SampleContacts.h"
#include "TestSupport.h"

namespace tbm::sample::testing {
namespace {

using tbm::testing::ProgramResult;
using tbm::testing::ReadWholeFile;
using tbm::testing::ScratchFolder;
using tbm::testing::WriteWholeFile;

ProgramResult MakeSample(const std::vector<std::string>& args) {
  return tbm::testing::RunProgram((tbm::testing::ProgramFolder() / "tbm_make_sample").string(),
                                  args);
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Whether err is exactly one line that names what it should.
::testing::AssertionResult IsOneLineNaming(const std::string& err, const std::string& words) {
  if (err.empty() || err.back() != '\n' || err.find('\n') != err.size() - 1) {
    return ::testing::AssertionFailure() << "not one line: \"" << err << "\"";
  }
  if (err.find(words) == std::string::npos) {
    return ::testing::AssertionFailure() << "\"" << err << "\" does not say \"" << words << "\"";
  }
  return ::testing::AssertionSuccess();
}

class MakeSampleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.ok()); }
  std::filesystem::path InScratch(const std::string& name) const { return scratch_.path() / name; }

  ScratchFolder scratch_{"tbm-make-sample"};
};

TEST_F(MakeSampleTest, WithoutArgumentsWrites300RecordsToStandardOutput) {
  const ProgramResult result = MakeSample({});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const std::optional<std::vector<CsvRow>> rows = ReadCsv(result.out);
  ASSERT_TRUE(rows.has_value());
  EXPECT_EQ(rows->size(), 301u);
  for (const CsvRow& row : *rows) EXPECT_EQ(row.size(), kContactFieldCount);
  EXPECT_EQ(result.out, SampleContactsCsv(kDefaultSeed, kDefaultRecordCount));
}

TEST_F(MakeSampleTest, SameArgumentsGiveTheSameBytesAndAnotherSeedOthers) {
  const ProgramResult first = MakeSample({"--records", "1200", "--seed", "77"});
  const ProgramResult second = MakeSample({"--seed", "77", "--records", "1200"});
  const ProgramResult other = MakeSample({"--records", "1200", "--seed", "78"});
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(second.status, 0) << second.err;
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_EQ(first.out, second.out);
  EXPECT_NE(first.out, other.out);
  const std::optional<std::vector<CsvRow>> rows = ReadCsv(first.out);
  ASSERT_TRUE(rows.has_value());
  EXPECT_EQ(rows->size(), 1201u);
}

TEST_F(MakeSampleTest, RecordCountsAtTheLimitsAreAccepted) {
  for (const int count : {kFewestRecords, kMostRecords}) {
    const ProgramResult result = MakeSample({"--records", std::to_string(count)});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::optional<std::vector<CsvRow>> rows = ReadCsv(result.out);
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(rows->size(), static_cast<std::size_t>(count) + 1);
  }
}

TEST_F(MakeSampleTest, OutputFileHoldsWhatStandardOutputWouldAndNothingElseIsLeft) {
  const ProgramResult printed = MakeSample({"--records", "50", "--seed", "5"});
  const ProgramResult written =
      MakeSample({"--records", "50", "--seed", "5", "--output", InScratch("people.csv").string()});
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(written.err, "");
  EXPECT_EQ(ReadWholeFile(InScratch("people.csv")), printed.out);
  EXPECT_EQ(FolderEntries(scratch_.path()), std::vector<std::string>{"people.csv"});
}

TEST_F(MakeSampleTest, OutputFileReplacesAnOlderFileWhole) {
  const std::filesystem::path file = InScratch("people.csv");
  ASSERT_TRUE(WriteWholeFile(file, std::string(200000, 'x')));
  const ProgramResult result = MakeSample({"--records", "3", "--output", file.string()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadWholeFile(file), SampleContactsCsv(kDefaultSeed, 3));
}

TEST_F(MakeSampleTest, OutputIntoAMissingFolderFailsWithStatusOne) {
  const std::filesystem::path file = InScratch("missing") / "people.csv";
  const ProgramResult result = MakeSample({"--output", file.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(IsOneLineNaming(result.err, file.string()));
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(FolderEntries(scratch_.path()).empty());
}

TEST_F(MakeSampleTest, OutputOntoAFolderFailsAndLeavesNoTemporaryFile) {
  const std::filesystem::path folder = InScratch("taken");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  ASSERT_TRUE(WriteWholeFile(folder / "keep.txt", "kept"));
  const ProgramResult result = MakeSample({"--output", folder.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(IsOneLineNaming(result.err, folder.string()));
  EXPECT_EQ(FolderEntries(scratch_.path()), std::vector<std::string>{"taken"});
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"keep.txt"});
}

TEST_F(MakeSampleTest, FullStandardOutputFailsWithStatusOne) {
  const std::string program = (tbm::testing::ProgramFolder() / "tbm_make_sample").string();
  const ProgramResult result =
      tbm::testing::RunProgram("/bin/sh", {"-c", "exec \"$0\" >/dev/full", program});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(IsOneLineNaming(result.err, "cannot write to standard output"));
}

TEST_F(MakeSampleTest, BadArgumentsLeaveTheOutputFileAlone) {
  const std::filesystem::path file = InScratch("people.csv");
  ASSERT_TRUE(WriteWholeFile(file, "Name:text\nAnna\n"));
  const ProgramResult result = MakeSample({"--output", file.string(), "--records", "0"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(ReadWholeFile(file), "Name:text\nAnna\n");
}

struct BadArguments {
  std::vector<std::string> args;
  std::string named;  // words the error line must hold
};

class MakeSampleBadArgumentsTest : public ::testing::TestWithParam<BadArguments> {};

TEST_P(MakeSampleBadArgumentsTest, GiveStatusTwoAndOneLineSayingWhatIsWrong) {
  const ProgramResult result = MakeSample(GetParam().args);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(IsOneLineNaming(result.err, GetParam().named));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MakeSampleBadArgumentsTest,
    ::testing::Values(BadArguments{{"--records", "0"}, "\"0\""},
                      BadArguments{{"--records", "5001"}, "from 1 to 5000"},
                      BadArguments{{"--records", "-3"}, "\"-3\""},
                      BadArguments{{"--records", "ten"}, "\"ten\""},
                      BadArguments{{"--records", "12x"}, "\"12x\""},
                      BadArguments{{"--records", ""}, "number of records"},
                      BadArguments{{"--records", "99999999999999999999"}, "number of records"},
                      BadArguments{{"--records", "1\n2"}, "\"1\\n2\""},
                      BadArguments{{"--records"}, "--records needs"},
                      BadArguments{{"--records", "10", "--records", "20"}, "more than once"},
                      BadArguments{{"--seed", "-1"}, "seed"},
                      BadArguments{{"--seed", "18446744073709551616"}, "seed"},
                      BadArguments{{"--seed"}, "--seed needs"},
                      BadArguments{{"--output"}, "--output needs a file name"},
                      BadArguments{{"--output", ""}, "file name is empty"},
                      BadArguments{{"--count", "10"}, "unknown option \"--count\""},
                      BadArguments{{"people.csv"}, "unexpected argument \"people.csv\""}));

TEST_F(MakeSampleTest, HelpDescribesTheOptions) {
  const ProgramResult result = MakeSample({"--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* option : {"--records", "--seed", "--output"}) {
    EXPECT_NE(result.out.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace tbm::sample::testing
