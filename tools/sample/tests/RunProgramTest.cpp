// The helper that runs programs for the end-to-end tests: input in, both
// outputs out however large, the exit status or signal, the environment, and
// a program that never ends.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "RunProgram.h"
#include "SampleContacts.h"
#include "TestSupport.h"

namespace tbm::testing {
namespace {

const std::string kShell = "/bin/sh";

// The process number a shell printed with "echo $!", or 0.
pid_t ProcessNumberIn(const std::string& out) {
  try {
    return static_cast<pid_t>(std::stol(out));
  } catch (const std::exception&) {
    return 0;
  }
}

// Whether the process is gone (or a zombie nobody has collected yet) within
// ten seconds; a killed process takes a moment to be torn down.
bool EndsSoon(pid_t pid) {
  const std::filesystem::path stat = "/proc/" + std::to_string(pid) + "/stat";
  for (int tries = 0; tries < 1000; ++tries) {
    const std::string text = ReadWholeFile(stat);
    const std::size_t close = text.rfind(')');
    if (text.empty() || (close != std::string::npos && close + 2 < text.size() &&
                         (text[close + 2] == 'Z' || text[close + 2] == 'X'))) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Realistic text of at least size bytes: sample files, one after another.
std::string LargeText(std::size_t size) {
  std::string text;
  for (std::uint64_t seed = 1; text.size() < size; ++seed) {
    text += sample::SampleContactsCsv(seed, sample::kMostRecords);
  }
  return text;
}

TEST(RunProgramTest, InputReachesTheProgramAndItsOutputComesBack) {
  const ProgramResult result = RunProgram("/bin/cat", {}, "Zoë Müller\nLyon\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Zoë Müller\nLyon\n");
  EXPECT_EQ(result.err, "");
}

TEST(RunProgramTest, ArgumentsArePassedAsTheyAre) {
  const ProgramResult result =
      RunProgram(kShell, {"-c", "printf '[%s]' \"$@\"", "sh", "two words", "", "a\"b"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "[two words][][a\"b]");
}

TEST(RunProgramTest, LargeOutputOnBothPipesAtOnceIsCollectedWhole) {
  // tee writes each piece to standard output and then to standard error, so
  // it stops for good if either pipe is left to fill while the input is
  // still going in.
  const std::string input = LargeText(3 * 1024 * 1024);
  const ProgramResult result = RunProgram(kShell, {"-c", "tee /dev/stderr"}, input);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.size(), input.size());
  EXPECT_TRUE(result.out == input);
  EXPECT_TRUE(result.err == input);
}

TEST(RunProgramTest, LargeOutputOfTheSampleProgramIsCollectedWhole) {
  const ProgramResult result = RunProgram((ProgramFolder() / "tbm_make_sample").string(),
                                          {"--records", "5000", "--seed", "3"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.out == sample::SampleContactsCsv(3, sample::kMostRecords));
}

TEST(RunProgramTest, ExitStatusIsReported) {
  EXPECT_EQ(RunProgram(kShell, {"-c", "exit 7"}).status, 7);
  EXPECT_EQ(RunProgram(kShell, {"-c", "exit 0"}).status, 0);
}

TEST(RunProgramTest, SignalIsReportedAsItsNumberNegated) {
  EXPECT_EQ(RunProgram(kShell, {"-c", "kill -TERM $$"}).status, -SIGTERM);
  EXPECT_EQ(RunProgram(kShell, {"-c", "kill -KILL $$"}).status, -SIGKILL);
}

TEST(RunProgramTest, ProgramThatStopsReadingEndsNormally) {
  const ProgramResult result =
      RunProgram(kShell, {"-c", "head -c 10; exit 3"}, LargeText(2 * 1024 * 1024));
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out.size(), 10u);
}

TEST(RunProgramTest, ProgramGetsTheDefaultActionForABrokenPipe) {
  // The test process blocks SIGPIPE while it feeds the program; the
  // program must not inherit that, or a pipeline would go on writing.
  const ProgramResult result = RunProgram(kShell, {"-c", "yes | head -c 4 >/dev/null; echo done"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "done\n");
  EXPECT_EQ(result.err, "");
}

TEST(RunProgramTest, EnvironmentIsInheritedOverriddenAndAddedTo) {
  const ScopedEnvironment kept("TBM_RUN_KEPT", "Lyon");
  const ScopedEnvironment overridden("TBM_RUN_OVERRIDDEN", "old");
  const ScopedEnvironment absent("TBM_RUN_ADDED", nullptr);
  const ProgramResult result = RunProgram(
      kShell,
      {"-c", "printf '%s|%s|%s' \"$TBM_RUN_KEPT\" \"$TBM_RUN_OVERRIDDEN\" \"$TBM_RUN_ADDED\""}, {},
      {{"TBM_RUN_OVERRIDDEN", "new"}, {"TBM_RUN_ADDED", "São Paulo"}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Lyon|new|São Paulo");
}

TEST(RunProgramTest, OverriddenVariableAppearsOnce) {
  const ScopedEnvironment overridden("TBM_RUN_OVERRIDDEN", "old");
  const ProgramResult result = RunProgram("/usr/bin/env", {}, {}, {{"TBM_RUN_OVERRIDDEN", "new"}});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("TBM_RUN_OVERRIDDEN=new\n"), std::string::npos);
  EXPECT_EQ(result.out.find("TBM_RUN_OVERRIDDEN=old"), std::string::npos);
}

TEST(RunProgramTest, ProgramThatDoesNotEndIsKilledWithItsChildren) {
  const ProgramResult result = RunProgram(kShell, {"-c", "sleep 300 & echo $!; wait; echo late"},
                                          {}, {}, std::chrono::seconds(1));
  EXPECT_EQ(result.status, kProgramTimedOut);
  const pid_t sleeper = ProcessNumberIn(result.out);
  ASSERT_GT(sleeper, 0) << result.out;
  EXPECT_TRUE(EndsSoon(sleeper));
}

TEST(RunProgramTest, ProgramThatClosesItsOutputsEarlyIsStillWaitedFor) {
  const ProgramResult result = RunProgram(kShell, {"-c", "exec >&- 2>&-; sleep 0.3; exit 4"});
  EXPECT_EQ(result.status, 4);
}

TEST(RunProgramTest, ProgramLeavingADescendantBehindIsNotWaitedForPastItsEnd) {
  // The descendant keeps standard output open; the program's own end and
  // what it wrote are what count.
  const ProgramResult result = RunProgram(kShell, {"-c", "sleep 300 & echo $!; exit 5"});
  EXPECT_EQ(result.status, 5);
  const pid_t sleeper = ProcessNumberIn(result.out);
  ASSERT_GT(sleeper, 0) << result.out;
  EXPECT_EQ(result.out, std::to_string(sleeper) + "\n");
  ::kill(sleeper, SIGKILL);
}

TEST(RunProgramTest, MissingProgramIsReportedAsNotStarted) {
  const ScratchFolder scratch("tbm-run-program");
  ASSERT_TRUE(scratch.ok());
  const std::string missing = (scratch.path() / "no-such-program").string();
  const ProgramResult result = RunProgram(missing, {"--help"});
  EXPECT_EQ(result.status, kProgramNotStarted);
  EXPECT_NE(result.err.find(missing), std::string::npos) << result.err;
}

TEST(RunProgramTest, ProgramFolderHoldsTheTools) {
  EXPECT_TRUE(std::filesystem::is_regular_file(ProgramFolder() / "tbm_make_sample"));
  EXPECT_TRUE(std::filesystem::equivalent(ProgramFolder() / "tbm_sample_tests",
                                          std::filesystem::read_symlink("/proc/self/exe")));
}

}  // namespace
}  // namespace tbm::testing
